#include "session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interne.h"
#include "proc.h"

namespace lancement {

namespace {

// The child's side: its own session, stdin the pipe, the rest /dev/null;
// errno goes back through erreur if exec fails.
[[noreturn]] void devenir_la_session(const std::string &programme, char *const argv[],
                                     int entree, int erreur,
                                     const std::optional<Confinement> &confinement, int canal)
{
    sigset_t aucun;
    sigemptyset(&aucun);
    sigprocmask(SIG_SETMASK, &aucun, nullptr);
    for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE})
        signal(s, SIG_DFL);
    setsid(); // its own session and group: one kill ends it all
    dup2(entree, 0);
    int nul = open("/dev/null", O_WRONLY);
    dup2(nul, 1);
    dup2(nul, 2);
    if (confinement && !confiner(*confinement, "").signaux && canal >= 0)
        ecouter(canal, false, true);
    execvp(programme.c_str(), argv);
    int e = errno;
    (void)!write(erreur, &e, sizeof e);
    _exit(127);
}

} // namespace

Session::Session(const std::string &programme, const std::string &nom,
                 const std::optional<Confinement> &confinement)
{
    std::vector<char *> argv = {const_cast<char *>(nom.c_str()), nullptr};
    int tube[2], erreur[2];
    if (pipe2(tube, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe : " + raison(errno));
    if (pipe2(erreur, O_CLOEXEC) != 0) {
        int e = errno;
        close(tube[0]);
        close(tube[1]);
        throw std::runtime_error("pipe : " + raison(e));
    }
    // Carries seccomp's listener, where signals need it (confinement.h).
    int canal[2] = {-1, -1};
    if (confinement && socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, canal) != 0)
        canal[0] = canal[1] = -1;
    pid_t pid = fork();
    if (pid == 0)
        devenir_la_session(programme, argv.data(), tube[0], erreur[1], confinement, canal[1]);
    int e = errno;
    close(tube[0]);
    close(erreur[1]);
    if (canal[0] >= 0) {
        close(canal[1]);
        if (pid > 0 && (ecoute_ = recevoir_ecoute(canal[0])) >= 0)
            suivre_ecoute(ecoute_, pid);
        close(canal[0]);
    }
    if (pid < 0) {
        close(tube[1]);
        close(erreur[0]);
        throw std::runtime_error("fork : " + raison(e));
    }
    // errno travels back through the pipe when exec fails; EOF when it did not.
    ssize_t n;
    while ((n = read(erreur[0], &e, sizeof e)) < 0 && errno == EINTR) {}
    close(erreur[0]);
    if (n == sizeof e) {
        close(tube[1]);
        waitpid(pid, nullptr, 0); // it has already ended
        if (ecoute_ >= 0)
            oublier_ecoute(ecoute_);
        ecoute_ = -1;
        throw Inexecutable(programme + " : " + raison(e));
    }
    pid_ = pid;
    ecriture_ = tube[1];
}

Session::~Session() { terminer(); }

bool Session::terminer(Duree limite)
{
    if (pid_ <= 0)
        return true;
    if (ecriture_ >= 0)
        close(ecriture_);
    ecriture_ = -1;
    pid_t groupe = pid_;
    pid_ = -1;
    kill(-groupe, SIGKILL);
    auto fin = std::chrono::steady_clock::now() + limite;
    for (;;) {
        while (waitpid(-groupe, nullptr, WNOHANG) > 0) {}
        bool fini = !groupe_present(groupe);
        if (fini || std::chrono::steady_clock::now() > fin) {
            if (ecoute_ >= 0)
                oublier_ecoute(ecoute_);
            ecoute_ = -1;
            return fini;
        }
        std::this_thread::sleep_for(1ms);
    }
}

} // namespace lancement
