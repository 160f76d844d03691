#include "session.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interne.h"
#include "proc.h"

namespace lancement {

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
    pid_t pid = fork();
    if (pid == 0) {
        sigset_t aucun;
        sigemptyset(&aucun);
        sigprocmask(SIG_SETMASK, &aucun, nullptr);
        for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE})
            signal(s, SIG_DFL);
        setsid(); // its own session and group: one kill ends it all
        dup2(tube[0], 0);
        int nul = open("/dev/null", O_WRONLY);
        dup2(nul, 1);
        dup2(nul, 2);
        if (confinement)
            confiner(*confinement, "");
        execvp(programme.c_str(), argv.data());
        int e = errno;
        (void)!write(erreur[1], &e, sizeof e);
        _exit(127);
    }
    int e = errno;
    close(tube[0]);
    close(erreur[1]);
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
        if (!groupe_present(groupe))
            return true;
        if (std::chrono::steady_clock::now() > fin)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

} // namespace lancement
