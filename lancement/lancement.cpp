#include "lancement.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace essai {
namespace {

using Horloge = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr uid_t uid_nobody = 65534;
constexpr gid_t gid_nogroup = 65534;

[[noreturn]] void echec(const std::string &quoi)
{
    throw std::runtime_error(quoi + ": " + std::strerror(errno));
}

// Once per test process: orphans of the programs come back to us, and a
// write to a program that has gone must not kill the test.
void preparer_processus_de_test()
{
    static bool fait = false;
    if (fait)
        return;
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        echec("prctl(PR_SET_CHILD_SUBREAPER)");
    signal(SIGPIPE, SIG_IGN);
    fait = true;
}

// Descriptors of the test stay clear of 0, 1 and 2 (ctest may have closed
// some of them) and are closed by exec.
int hors_standard(int fd)
{
    if (fd < 0)
        echec("open");
    int copie = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    if (copie < 0)
        echec("fcntl(F_DUPFD_CLOEXEC)");
    close(fd);
    return copie;
}

void tube(int extremites[2])
{
    int brut[2];
    if (pipe(brut) != 0)
        echec("pipe");
    extremites[0] = hors_standard(brut[0]);
    extremites[1] = hors_standard(brut[1]);
}

std::string dossier_temporaire()
{
    std::string modele = (fs::temp_directory_path() / "suite-essai-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        echec("mkdtemp");
    // 755, so that the unprivileged user of fork_impossible can reach it.
    chmod(modele.c_str(), 0755);
    return modele;
}

// Drops to nobody (when root, whom the kernel exempts from the process limit)
// and then sets that limit to 0: the next exec still succeeds, every fork
// after it fails with EAGAIN. Called in a forked child only.
//
// In a rootless container uid 0 is a stand-in without the real root's
// exemption, and nobody is not mapped, so the switch fails: the limit alone
// is enough there. Whether forks then really fail is for the caller's probe
// (echec_fork_possible) to find out.
bool interdire_fork()
{
    // Where setgroups or setgid is refused (a rootless container), stay as we
    // are; a switch that dropped the group but not the user would be neither.
    if (geteuid() == 0 && setgroups(0, nullptr) == 0 && setgid(gid_nogroup) == 0 &&
        setuid(uid_nobody) != 0)
        return false;
    struct rlimit zero = {0, 0};
    return setrlimit(RLIMIT_NPROC, &zero) == 0;
}

std::string normaliser_terminal(std::string texte)
{
    std::string::size_type pos = 0;
    while ((pos = texte.find("\r\n", pos)) != std::string::npos)
        texte.erase(pos, 1);
    return texte;
}

bool utilise_terminal(const Lancement &l)
{
    return l.entree == Flux::terminal || l.sortie == Flux::terminal || l.erreur == Flux::terminal;
}

std::string contenu_fichier(const std::string &chemin)
{
    std::ifstream f(chemin, std::ios::binary);
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

} // namespace

Processus::Processus(const Lancement &l) : ramasser_orphelins_(l.ramasser_orphelins)
{
    preparer_processus_de_test();
    dossier_ = dossier_temporaire();

    std::string chemin = l.programme;
    if (l.fork_impossible) {
        // CI's clone may sit where nobody cannot enter: run a copy.
        std::string copie = dossier_ + "/" + fs::path(chemin).filename().string();
        fs::copy_file(chemin, copie);
        chmod(copie.c_str(), 0755);
        chemin = copie;
    }

    // Everything the child needs is made before the fork.
    std::vector<std::string> args;
    args.push_back(l.nom.value_or(fs::path(l.programme).filename().string()));
    args.insert(args.end(), l.arguments.begin(), l.arguments.end());
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++)
        env.emplace_back(*e);
    for (const auto &reglage : l.environnement) {
        const std::string prefixe = reglage.first + "=";
        std::erase_if(env, [&](const std::string &v) { return v.starts_with(prefixe); });
        if (reglage.second)
            env.push_back(prefixe + *reglage.second);
    }
    if (l.fork_impossible) {
        // LeakSanitizer needs a task of its own at exit, which the limit forbids.
        std::string asan = "ASAN_OPTIONS=detect_leaks=0";
        for (auto &v : env)
            if (v.starts_with("ASAN_OPTIONS="))
                asan = v + ":detect_leaks=0";
        std::erase_if(env, [](const std::string &v) { return v.starts_with("ASAN_OPTIONS="); });
        env.push_back(asan);
    }
    std::vector<char *> envp;
    for (auto &v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    int esclave = -1;
    if (utilise_terminal(l)) {
        int maitre;
        struct winsize taille = {24, 80, 0, 0};
        if (openpty(&maitre, &esclave, nullptr, nullptr, &taille) != 0)
            echec("openpty");
        terminal_.fd = hors_standard(maitre);
        esclave = hors_standard(esclave);
        // What the test writes is input, not something to read back.
        struct termios t;
        tcgetattr(esclave, &t);
        t.c_lflag &= ~(ECHO | ECHONL);
        tcsetattr(esclave, TCSANOW, &t);
    }

    // The descriptor the child gets for one stream (-1: closed), and the
    // test's side of it.
    auto preparer = [&](Flux flux, bool lecture_par_programme, Flot *flot_test,
                        const char *nom_fichier) -> int {
        switch (flux) {
        case Flux::tube: {
            int t[2];
            tube(t);
            if (lecture_par_programme) {
                entree_ = t[1];
                return t[0];
            }
            flot_test->fd = t[0];
            return t[1];
        }
        case Flux::fichier: {
            std::string p = dossier_ + "/" + nom_fichier;
            if (lecture_par_programme) {
                std::ofstream(p, std::ios::binary) << l.contenu_entree;
                return hors_standard(open(p.c_str(), O_RDONLY));
            }
            flot_test->chemin = p;
            return hors_standard(open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        }
        case Flux::nul:
            return hors_standard(open("/dev/null", lecture_par_programme ? O_RDONLY : O_WRONLY));
        case Flux::ferme:
            return -1;
        case Flux::terminal:
            return esclave;
        case Flux::sortie:
            return -2; // set below, once stdout's descriptor exists
        }
        return -1;
    };
    int fds[3] = {
        preparer(l.entree, true, nullptr, "entree"),
        preparer(l.sortie, false, &sortie_, "sortie"),
        preparer(l.erreur, false, &erreur_, "erreur"),
    };
    bool erreur_sur_sortie = fds[2] == -2;
    if (erreur_sur_sortie)
        fds[2] = fds[1];

    int rapport[2]; // carries errno from the child when exec fails
    tube(rapport);

    pid_ = fork();
    if (pid_ < 0)
        echec("fork");
    if (pid_ == 0) {
        setpgid(0, 0);
        sigset_t aucun;
        sigemptyset(&aucun);
        sigprocmask(SIG_SETMASK, &aucun, nullptr);
        for (int s = 1; s < NSIG; s++)
            signal(s, SIG_DFL);
        if (l.sigchld_ignore)
            signal(SIGCHLD, SIG_IGN);
        for (int n = 0; n < 3; n++) {
            if (fds[n] < 0)
                close(n);
            else
                dup2(fds[n], n); // the copy on 0-2 survives exec
        }
        int erreur = 0;
        if (l.fork_impossible && !interdire_fork())
            erreur = errno;
        else
            execve(chemin.c_str(), argv.data(), envp.data());
        erreur = errno;
        [[maybe_unused]] ssize_t n = write(rapport[1], &erreur, sizeof erreur);
        _exit(127);
    }

    // Only the child keeps the program's side of each stream.
    setpgid(pid_, pid_); // also from here, so it holds before any kill
    for (int n = 0; n < (erreur_sur_sortie ? 2 : 3); n++)
        if (fds[n] >= 0 && fds[n] != esclave)
            close(fds[n]);
    if (esclave >= 0)
        close(esclave);
    close(rapport[1]);
    int erreur_exec = 0;
    ssize_t n = read(rapport[0], &erreur_exec, sizeof erreur_exec);
    close(rapport[0]);
    if (n == sizeof erreur_exec) {
        errno = erreur_exec;
        echec("starting " + chemin);
    }
    if (l.entree == Flux::terminal)
        entree_ = terminal_.fd;
}

Processus::~Processus()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        if (!code_) {
            int statut;
            waitpid(pid_, &statut, 0); // SIGKILL cannot be held off
        }
        // Its children, orphaned now, came back to this process: reap them.
        auto fin = Horloge::now() + 5s;
        while (Horloge::now() < fin) {
            kill(-pid_, SIGKILL);
            int statut;
            pid_t r = waitpid(-pid_, &statut, WNOHANG);
            if (r < 0)
                break; // none left in the group
            if (r == 0)
                std::this_thread::sleep_for(1ms);
        }
    }
    if (entree_ >= 0 && entree_ != terminal_.fd)
        close(entree_);
    for (Flot *f : {&sortie_, &erreur_, &terminal_})
        if (f->fd >= 0)
            close(f->fd);
    std::error_code ignore;
    fs::remove_all(dossier_, ignore);
}

void Processus::ecrire(std::string_view texte)
{
    if (entree_ < 0)
        throw std::logic_error("stdin is neither a pipe nor a terminal");
    while (!texte.empty()) {
        ssize_t n = write(entree_, texte.data(), texte.size());
        if (n < 0)
            echec("write to the program's stdin");
        texte.remove_prefix(static_cast<size_t>(n));
    }
}

void Processus::fermer_entree()
{
    if (entree_ >= 0 && entree_ != terminal_.fd) {
        close(entree_);
        entree_ = -1;
    }
}

Processus::Flot &Processus::flot(Canal canal)
{
    switch (canal) {
    case Canal::sortie:
        return sortie_;
    case Canal::erreur:
        return erreur_;
    case Canal::terminal:
        break;
    }
    return terminal_;
}

void Processus::lire_disponible(Duree attente)
{
    std::vector<pollfd> attendus;
    std::vector<Flot *> flots;
    for (Flot *f : {&sortie_, &erreur_, &terminal_}) {
        if (f->fd >= 0 && !f->fini) {
            attendus.push_back({f->fd, POLLIN, 0});
            flots.push_back(f);
        }
    }
    if (attendus.empty()) {
        std::this_thread::sleep_for(std::min(attente, Duree(1)));
        return;
    }
    if (poll(attendus.data(), attendus.size(), static_cast<int>(attente.count())) <= 0)
        return;
    for (size_t k = 0; k < attendus.size(); k++) {
        if (attendus[k].revents == 0)
            continue;
        char tampon[4096];
        ssize_t n = read(attendus[k].fd, tampon, sizeof tampon);
        if (n > 0)
            flots[k]->lu.append(tampon, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            flots[k]->fini = true; // EOF, or EIO once no terminal slave is left
    }
}

std::string Processus::lire_jusqu_a(Canal canal, std::string_view motif, Duree limite)
{
    Flot &f = flot(canal);
    auto fin = Horloge::now() + limite;
    auto contenu = [&] {
        if (!f.chemin.empty())
            return contenu_fichier(f.chemin);
        return canal == Canal::terminal ? normaliser_terminal(f.lu) : f.lu;
    };
    for (;;) {
        std::string vu = contenu();
        if (vu.find(motif) != std::string::npos || Horloge::now() >= fin ||
            (f.chemin.empty() && (f.fd < 0 || f.fini)))
            return vu;
        lire_disponible(5ms);
    }
}

std::string Processus::lire_tout(Canal canal, Duree limite)
{
    Flot &f = flot(canal);
    auto fin = Horloge::now() + limite;
    if (!f.chemin.empty()) {
        // A file has no end of its own: wait until the program and every
        // process it left behind are gone.
        groupe_termine(limite);
        return contenu_fichier(f.chemin);
    }
    while (f.fd >= 0 && !f.fini && Horloge::now() < fin)
        lire_disponible(5ms);
    return canal == Canal::terminal ? normaliser_terminal(f.lu) : f.lu;
}

std::optional<int> Processus::attendre(Duree limite)
{
    auto fin = Horloge::now() + limite;
    while (!code_) {
        if (ramasser_orphelins_)
            ramasser_orphelins();
        int statut;
        pid_t r = waitpid(pid_, &statut, WNOHANG);
        if (r == pid_)
            code_ = WIFEXITED(statut) ? WEXITSTATUS(statut) : -WTERMSIG(statut);
        else if (Horloge::now() >= fin)
            break;
        else
            lire_disponible(1ms); // keep the pipes drained meanwhile
    }
    return code_;
}

void Processus::ramasser_orphelins()
{
    // Look before reaping: the program itself is left to attendre.
    siginfo_t info;
    for (;;) {
        info.si_pid = 0;
        if (waitid(P_PGID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == 0 || info.si_pid == pid_)
            return;
        waitpid(info.si_pid, nullptr, 0);
    }
}

bool Processus::groupe_termine(Duree limite)
{
    auto fin = Horloge::now() + limite;
    if (!attendre(limite))
        return false;
    while (Horloge::now() < fin) {
        pid_t r = waitpid(-pid_, nullptr, WNOHANG);
        // No child of ours left in the group, and nobody else holds it.
        if (r < 0 && kill(-pid_, 0) != 0)
            return true;
        if (r <= 0)
            std::this_thread::sleep_for(1ms);
    }
    return false;
}

Resultat executer(const Lancement &lancement, Duree limite)
{
    Processus p(lancement);
    if (lancement.entree == Flux::tube) {
        p.ecrire(lancement.contenu_entree);
        p.fermer_entree();
    }
    auto code = p.attendre(limite);
    if (!code)
        throw std::runtime_error(lancement.programme + " still running after the time limit");
    Resultat r;
    r.code = *code;
    // Children of the program may still hold the streams; bounded all the same.
    r.sortie = lancement.sortie == Flux::tube || lancement.sortie == Flux::fichier
                   ? p.lire_tout(Canal::sortie, 2s) : "";
    r.erreur = lancement.erreur == Flux::tube || lancement.erreur == Flux::fichier
                   ? p.lire_tout(Canal::erreur, 2s) : "";
    r.terminal = utilise_terminal(lancement) ? p.lire_tout(Canal::terminal, 2s) : "";
    return r;
}

std::optional<EtatProc> lire_stat(pid_t pid)
{
    std::string stat = contenu_fichier("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold blanks and parentheses: fields start after the last ')'.
    auto fin_nom = stat.rfind(')');
    if (fin_nom == std::string::npos)
        return std::nullopt;
    std::istringstream champs(stat.substr(fin_nom + 1));
    EtatProc e{};
    if (!(champs >> e.etat >> e.parent))
        return std::nullopt;
    auto debut_nom = stat.find('(');
    if (debut_nom != std::string::npos && debut_nom < fin_nom)
        e.nom = stat.substr(debut_nom + 1, fin_nom - debut_nom - 1);
    return e;
}

std::vector<Enfant> enfants_de(pid_t parent)
{
    std::vector<Enfant> enfants;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        std::string nom = entree.path().filename().string();
        if (nom.empty() || nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(nom));
        auto e = lire_stat(pid);
        if (e && e->parent == parent)
            enfants.push_back({pid, *e});
    }
    return enfants;
}

std::vector<std::string> arguments_de(pid_t pid)
{
    std::string brut = contenu_fichier("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    std::string::size_type debut = 0, fin;
    while ((fin = brut.find('\0', debut)) != std::string::npos) {
        args.push_back(brut.substr(debut, fin - debut));
        debut = fin + 1;
    }
    return args;
}

bool attendre_que(const std::function<bool()> &condition, Duree limite)
{
    auto fin = Horloge::now() + limite;
    while (!condition()) {
        if (Horloge::now() >= fin)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool echec_fork_possible()
{
    static std::optional<bool> reponse;
    if (!reponse) {
        preparer_processus_de_test();
        pid_t essai = fork();
        if (essai == 0) {
            // The same restriction a program gets, then a fork of our own.
            if (!interdire_fork())
                _exit(2);
            pid_t p = fork();
            if (p == 0)
                _exit(0);
            if (p > 0) {
                waitpid(p, nullptr, 0);
                _exit(1);
            }
            _exit(errno == EAGAIN ? 0 : 1);
        }
        int statut = 0;
        waitpid(essai, &statut, 0);
        reponse = WIFEXITED(statut) && WEXITSTATUS(statut) == 0;
    }
    return *reponse;
}

pid_t pid_dans(std::string_view texte, std::string_view prefixe)
{
    auto pos = texte.find(prefixe);
    if (pos == std::string_view::npos)
        return -1;
    return static_cast<pid_t>(std::atoi(std::string(texte.substr(pos + prefixe.size())).c_str()));
}

} // namespace essai
