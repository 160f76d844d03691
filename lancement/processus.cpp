#include "lancement.h"

#include "interne.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace lancement {
namespace {

namespace fs = std::filesystem;

int code_de(int statut)
{
    return WIFEXITED(statut) ? WEXITSTATUS(statut) : -WTERMSIG(statut);
}

// --- what the library keeps of the programs it has started -----------------

struct Suivi {
    // The live programs' pids, and their code once a sweep has reaped them.
    std::map<pid_t, std::optional<int>> fins;
    int ramasseurs = 0; // live programs started with ramasser_orphelins
    bool toujours = false; // ramasser_tous_les_enfants()
    bool tous_restreints = false; // toujours_restreindre()
    std::optional<Confinement> confinement; // toujours_confiner()
};
Suivi &suivi()
{
    static Suivi s;
    return s;
}

// The groups arreter_tout kills, readable from a signal handler.
constexpr int nb_places = 256;
std::atomic<pid_t> groupes_vivants[nb_places];
std::atomic<bool> meneurs_vivants[nb_places]; // the group's leader not reaped yet

int prendre_place(pid_t groupe)
{
    for (int k = 0; k < nb_places; k++) {
        pid_t libre = 0;
        if (groupes_vivants[k].compare_exchange_strong(libre, groupe)) {
            meneurs_vivants[k] = true;
            return k;
        }
    }
    return -1; // more than nb_places at once: arreter_tout misses this one
}

// Reaps the caller's ended children while some program asks for it: the
// orphans that came back to it, and the programs themselves (their code is
// kept for their Processus).
void ramasser()
{
    servir_ecoutes();
    if (suivi().ramasseurs == 0 && !suivi().toujours)
        return;
    int statut;
    pid_t r;
    while ((r = waitpid(-1, &statut, WNOHANG)) > 0)
        if (auto f = suivi().fins.find(r); f != suivi().fins.end())
            f->second = code_de(statut);
}

// --- the started program's side ---------------------------------------------

// Descriptors of the caller stay clear of 0, 1 and 2 (ctest may have closed
// some of them) and are closed by exec.
int hors_standard(int fd, const char *quoi)
{
    if (fd < 0)
        echec(quoi);
    int copie = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    int numero = errno;
    close(fd);
    if (copie < 0)
        echec(quoi, numero);
    return copie;
}

void tube(int extremites[2])
{
    int brut[2];
    if (pipe(brut) != 0)
        echec("impossible de créer un tube");
    extremites[0] = hors_standard(brut[0], "impossible de créer un tube");
    extremites[1] = hors_standard(brut[1], "impossible de créer un tube");
}

void non_bloquant(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string dossier_temporaire()
{
    std::string modele = (fs::temp_directory_path() / "lancement-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        echec("impossible de créer un dossier temporaire dans " +
              entre_guillemets(fs::temp_directory_path().string()));
    // 755, so that an unprivileged user (restreint, fork_impossible) can
    // run the copy of a program placed here.
    chmod(modele.c_str(), 0755);
    return modele;
}

// What execvp would run: a name without '/' is looked up in PATH (the one
// the program gets).
std::string chemin_de(const std::string &programme, const std::vector<std::string> &env)
{
    if (programme.find('/') != std::string::npos)
        return programme;
    std::string path = "/usr/local/bin:/usr/bin:/bin";
    for (const auto &v : env)
        if (v.starts_with("PATH="))
            path = v.substr(5);
    std::istringstream dossiers(path);
    for (std::string d; std::getline(dossiers, d, ':');) {
        std::string candidat = (d.empty() ? "." : d) + "/" + programme;
        if (access(candidat.c_str(), X_OK) == 0)
            return candidat;
    }
    return programme; // execve says ENOENT
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

bool lisible(Flux flux) { return flux == Flux::tube || flux == Flux::fichier; }

// What the child reports through its pipe when it cannot become the program.
enum Etape : int { restriction = 1, interdiction_fork, confinement, exec };

} // namespace

std::string raison(int numero)
{
    static const std::map<int, const char *> messages = {
        {EPERM, "opération non permise"},
        {ENOENT, "fichier ou dossier introuvable"},
        {EINTR, "appel interrompu par un signal"},
        {EIO, "erreur d'entrée-sortie"},
        {E2BIG, "liste d'arguments trop longue"},
        {ENOEXEC, "format d'exécutable non reconnu"},
        {EBADF, "descripteur de fichier invalide"},
        {ECHILD, "aucun processus fils"},
        {EAGAIN, "ressource temporairement indisponible"},
        {ENOMEM, "mémoire insuffisante"},
        {EACCES, "permission refusée"},
        {ENOTDIR, "n'est pas un dossier"},
        {EISDIR, "est un dossier"},
        {EINVAL, "argument invalide"},
        {EMFILE, "trop de fichiers ouverts"},
        {ETXTBSY, "fichier exécutable en cours d'écriture"},
        {EFBIG, "fichier trop gros"},
        {ENOSPC, "plus de place sur le périphérique"},
        {EPIPE, "tube rompu"},
        {ENAMETOOLONG, "nom de fichier trop long"},
        {ELOOP, "trop de liens symboliques"},
    };
    if (auto m = messages.find(numero); m != messages.end())
        return m->second;
    return "erreur système " + std::to_string(numero) + " (" + std::strerror(numero) + ")";
}

Processus::Processus(const Lancement &lancement)
    : ramasseur_(lancement.ramasser_orphelins)
{
    Lancement l = lancement;
    if (!l.confinement && suivi().confinement)
        l.confinement = suivi().confinement;
    l.restreint = l.restreint || suivi().tous_restreints || l.confinement;
    garde_max_ = l.restreint ? octets_gardes : std::numeric_limits<std::size_t>::max();
    try {
        demarrer(l);
    } catch (...) {
        liberer();
        throw;
    }
}

// The descriptor the child gets for a stream that is not one of its own.
constexpr int ferme = -1, comme_sortie = -2, herite = -3;

struct Processus::Depart {
    std::string chemin; // what is run
    std::vector<std::string> env, args;
    std::vector<char *> envp, argv;
    Identite nobody{};
    const Identite *qui = nullptr; // the user it runs as, when not the caller's
    rlim_t processus = 0;          // its RLIMIT_NPROC, when restreint
    int esclave = -1;              // the terminal's slave side
    std::string terminal;          // its path, which a confined program may open
    int fds[3] = {ferme, ferme, ferme};
    int rapport[2] = {-1, -1};      // carries the failed step and errno from the child
    int canal_ecoute[2] = {-1, -1}; // carries seccomp's listener from the child
    pid_t parent = -1;
};

namespace {

// The program's environment: the caller's (or, confined, only the stated
// few), with the launch's changes.
std::vector<std::string> environnement_de(const Lancement &l)
{
    std::vector<std::string> env;
    if (l.confinement) {
        const char *chemin = std::getenv("PATH"), *langue = std::getenv("LANG");
        env = {std::string("PATH=") + (chemin ? chemin : "/usr/local/bin:/usr/bin:/bin"),
               std::string("LANG=") + (langue ? langue : "C.UTF-8"),
               "HOME=" + l.confinement->dossier, "TMPDIR=" + l.confinement->dossier};
    } else {
        for (char **e = environ; *e != nullptr; e++)
            env.emplace_back(*e);
    }
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
    return env;
}

std::vector<char *> pointeurs(std::vector<std::string> &textes)
{
    std::vector<char *> p;
    for (auto &t : textes)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

// What is run, with which arguments and environment, as whom.
void Processus::preparer_programme(const Lancement &l, Depart &d)
{
    d.env = environnement_de(l);
    d.envp = pointeurs(d.env);
    d.chemin = chemin_de(l.programme, d.env);
    if (l.confinement && d.chemin.find('/') != std::string::npos)
        d.chemin = fs::absolute(d.chemin).string(); // it starts in its own folder
    if (l.fork_impossible) {
        // CI's clone may sit where nobody cannot enter: run a copy.
        dossier_ = dossier_temporaire();
        std::string copie = dossier_ + "/" + fs::path(d.chemin).filename().string();
        std::error_code erreur;
        fs::copy_file(d.chemin, copie, erreur);
        if (erreur)
            echec("impossible de copier " + entre_guillemets(d.chemin), erreur.value());
        chmod(copie.c_str(), 0755);
        d.chemin = copie;
    }
    d.args.push_back(l.nom.value_or(fs::path(l.programme).filename().string()));
    d.args.insert(d.args.end(), l.arguments.begin(), l.arguments.end());
    d.argv = pointeurs(d.args);
    if (auto i = utilisateur_restreint(); i && l.restreint) {
        d.nobody = *i;
        d.qui = &d.nobody;
    }
    d.processus = l.restreint ? plafond_processus(d.qui ? d.qui->uid : getuid()) : 0;
}

void Processus::ouvrir_terminal(const Lancement &l, Depart &d)
{
    int maitre;
    struct winsize taille = {24, 80, 0, 0};
    const char *quoi = "impossible d'ouvrir un pseudo-terminal";
    if (openpty(&maitre, &d.esclave, nullptr, nullptr, &taille) != 0)
        echec(quoi);
    terminal_.fd = hors_standard(maitre, quoi);
    d.esclave = hors_standard(d.esclave, quoi);
    if (const char *nom = ttyname(d.esclave))
        d.terminal = nom; // as /dev/stdout, say
    non_bloquant(terminal_.fd);
    // What the caller writes is input, not something to read back.
    struct termios t;
    tcgetattr(d.esclave, &t);
    t.c_lflag &= ~(ECHO | ECHONL);
    tcsetattr(d.esclave, TCSANOW, &t);
    if (l.terminal_arrete) {
        // Stopped by the slave's side, which only the slave's side can
        // restart (Ctrl-Q from the program's input cannot).
        tcflow(d.esclave, TCOOFF);
        esclave_arrete_ = hors_standard(dup(d.esclave), quoi);
    }
}

// The descriptor the child gets for one stream; the caller's side goes to
// entree_ or flot.
int Processus::preparer_flux(const Lancement &l, Flux flux, bool entree, Flot *flot,
                             const char *nom, const Depart &d)
{
    switch (flux) {
    case Flux::tube: {
        int t[2];
        tube(t);
        if (entree) {
            entree_ = t[1];
            non_bloquant(entree_);
            return t[0];
        }
        flot->fd = t[0];
        return t[1];
    }
    case Flux::fichier: {
        if (dossier_.empty())
            dossier_ = dossier_temporaire();
        std::string p = dossier_ + "/" + nom;
        const char *quoi = "impossible de créer un fichier temporaire";
        if (entree) {
            std::ofstream(p, std::ios::binary) << l.contenu_entree;
            return hors_standard(open(p.c_str(), O_RDONLY), quoi);
        }
        flot->chemin = p;
        return hors_standard(open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), quoi);
    }
    case Flux::nul:
        return hors_standard(open("/dev/null", entree ? O_RDONLY : O_WRONLY),
                             "impossible d'ouvrir /dev/null");
    case Flux::ferme:
        return ferme;
    case Flux::terminal:
        return d.esclave;
    case Flux::sortie:
        return comme_sortie; // set below, once stdout's descriptor exists
    case Flux::herite:
        return herite;
    }
    return ferme;
}

// The three standard streams, and the pipes that report from the child.
void Processus::preparer_flux(const Lancement &l, Depart &d)
{
    if (utilise_terminal(l))
        ouvrir_terminal(l, d);
    d.fds[0] = preparer_flux(l, l.entree, true, nullptr, "entree", d);
    d.fds[1] = preparer_flux(l, l.sortie, false, &sortie_, "sortie", d);
    d.fds[2] = preparer_flux(l, l.erreur, false, &erreur_, "erreur", d);
    if (d.fds[2] == comme_sortie)
        d.fds[2] = d.fds[1] == herite ? hors_standard(dup(1), "impossible de copier la sortie")
                                      : d.fds[1];
    // The program's own side of its streams is the unprivileged user's, as
    // a user's terminal and pipes are theirs (so it can reopen them).
    if (d.qui)
        for (int fd : {d.fds[0], d.fds[1], d.fds[2], d.esclave})
            if (fd >= 0 && fchown(fd, d.qui->uid, d.qui->gid) != 0)
                echec("impossible de confier un flux à l'utilisateur sans privilège");
    tube(d.rapport);
    if ((l.sigchld_differe || l.confinement) &&
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, d.canal_ecoute) != 0)
        echec("impossible de créer une paire de sockets");
}

void Processus::demarrer(const Lancement &l)
{
    Depart d;
    preparer_programme(l, d);
    preparer_flux(l, d);
    // What the caller's stdio still holds leaves before the program's output.
    if (l.entree == Flux::herite || l.sortie == Flux::herite || l.erreur == Flux::herite)
        std::fflush(nullptr);
    d.parent = getpid();
    pid_ = fork();
    if (pid_ < 0)
        echec("impossible de créer un processus");
    if (pid_ == 0)
        devenir_le_programme(l, d);
    apres_le_fork(l, d);
}

// In the child, from the fork to exec: it becomes the program, or reports
// through rapport the step that failed.
void Processus::devenir_le_programme(const Lancement &l, const Depart &d)
{
    setpgid(0, 0);
    sigset_t aucun;
    sigemptyset(&aucun);
    sigprocmask(SIG_SETMASK, &aucun, nullptr);
    for (int s = 1; s < NSIG; s++)
        signal(s, SIG_DFL);
    if (l.sigchld_ignore)
        signal(SIGCHLD, SIG_IGN);
    for (int n = 0; n < 3; n++) {
        if (d.fds[n] == herite)
            continue;
        if (d.fds[n] < 0)
            close(n);
        else
            dup2(d.fds[n], n); // the copy on 0-2 survives exec
    }
    for (int k = 0; k < l.pids_sautes; k++) {
        pid_t saute = fork();
        if (saute == 0)
            _exit(0);
        if (saute > 0)
            waitpid(saute, nullptr, 0);
    }
    int message[2] = {0, 0};
    if (l.confinement)
        preparer_le_confinement();
    if (l.restreint && !restreindre(d.qui, d.processus))
        message[0] = restriction;
    else if (l.fork_impossible && !interdire_fork())
        message[0] = interdiction_fork;
    else if (l.confinement && chdir(l.confinement->dossier.c_str()) != 0)
        message[0] = confinement;
    else {
        // What this kernel cannot hold, promesses_du_confinement() says.
        Promesses tenues;
        if (l.confinement)
            tenues = confiner(*l.confinement, d.terminal.c_str());
        // Signals that Landlock does not scope here go by the listener.
        const bool borner = l.confinement && !tenues.signaux;
        if (l.sigchld_differe || borner)
            ecouter(d.canal_ecoute[1], l.sigchld_differe, borner);
        // After the change of user, which clears it: the program ends
        // with the thread that started it, whatever ends that thread.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != d.parent)
            _exit(127);
        execve(d.chemin.c_str(), d.argv.data(), d.envp.data());
        message[0] = exec;
    }
    message[1] = errno;
    [[maybe_unused]] ssize_t n = write(d.rapport[1], message, sizeof message);
    _exit(127);
}

// The caller's side once the child exists: it keeps only its own ends, and
// learns whether the child became the program.
void Processus::apres_le_fork(const Lancement &l, Depart &d)
{
    suivi().fins[pid_] = std::nullopt;
    if (ramasseur_)
        suivi().ramasseurs++;
    place_ = prendre_place(pid_);

    setpgid(pid_, pid_); // also from here, so it holds before any kill
    for (int n = 0; n < 3; n++)
        if (d.fds[n] >= 0 && d.fds[n] != d.esclave && (n < 2 || d.fds[n] != d.fds[1]))
            close(d.fds[n]);
    if (d.esclave >= 0)
        close(d.esclave);
    close(d.rapport[1]);
    if (d.canal_ecoute[0] >= 0) {
        close(d.canal_ecoute[1]);
        ecoute_ = recevoir_ecoute(d.canal_ecoute[0]);
        close(d.canal_ecoute[0]);
        if (ecoute_ >= 0)
            suivre_ecoute(ecoute_, pid_);
        sigchld_differe_ = ecoute_ >= 0 && l.sigchld_differe;
    }
    int message[2] = {0, 0};
    ssize_t n = read(d.rapport[0], message, sizeof message);
    close(d.rapport[0]);
    if (n == sizeof message) {
        const std::string qui = entre_guillemets(d.chemin);
        switch (message[0]) {
        case restriction:
            echec("impossible de restreindre " + qui, message[1]);
        case interdiction_fork:
            echec("impossible d'interdire fork à " + qui, message[1]);
        case confinement:
            echec("impossible de confiner " + qui + " dans " +
                      entre_guillemets(l.confinement->dossier),
                  message[1]);
        default:
            throw Inexecutable("impossible de lancer " + qui + insecable + ": " +
                               raison(message[1]));
        }
    }
    if (l.entree == Flux::terminal)
        entree_ = terminal_.fd;
}

Processus::~Processus() { liberer(); }

void Processus::liberer()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        if (!fin_constatee()) {
            kill(pid_, SIGKILL); // it may have left its group
            int statut;
            while (waitpid(pid_, &statut, 0) < 0 && errno == EINTR) {
            } // SIGKILL cannot be held off
        }
        // Its children, orphaned now, may have come back to this process: reap them.
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
        suivi().fins.erase(pid_);
        if (ramasseur_)
            suivi().ramasseurs--;
        if (place_ >= 0) {
            meneurs_vivants[place_] = false;
            groupes_vivants[place_] = 0;
        }
        pid_ = -1;
    }
    if (entree_ >= 0 && entree_ != terminal_.fd)
        close(entree_);
    entree_ = -1;
    if (esclave_arrete_ >= 0)
        close(esclave_arrete_);
    esclave_arrete_ = -1;
    if (ecoute_ >= 0)
        oublier_ecoute(ecoute_);
    ecoute_ = -1;
    for (Flot *f : {&sortie_, &erreur_, &terminal_}) {
        if (f->fd >= 0)
            close(f->fd);
        f->fd = -1;
    }
    if (!dossier_.empty()) {
        std::error_code ignore;
        fs::remove_all(dossier_, ignore);
    }
}

bool Processus::ecrire(std::string_view texte, Duree limite)
{
    if (entree_ < 0)
        throw std::logic_error("l'entrée du programme n'est ni un tube ni un terminal");
    // A program that no longer reads must not end the caller with SIGPIPE:
    // the signal is held while writing, and taken back if it came.
    sigset_t tube_rompu, avant;
    sigemptyset(&tube_rompu);
    sigaddset(&tube_rompu, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &tube_rompu, &avant);
    bool rompu = false;
    auto fin = Horloge::now() + limite;
    while (!texte.empty() && !rompu && Horloge::now() < fin) {
        ssize_t n = write(entree_, texte.data(), texte.size());
        if (n >= 0)
            texte.remove_prefix(static_cast<size_t>(n));
        else if (errno == EAGAIN)
            lire_disponible(1ms); // it may wait for us to read before it reads more
        else if (errno != EINTR)
            rompu = true; // EPIPE, or EIO on a terminal nobody holds
    }
    if (rompu && !sigismember(&avant, SIGPIPE)) {
        struct timespec aucune_attente = {0, 0};
        sigtimedwait(&tube_rompu, nullptr, &aucune_attente);
    }
    pthread_sigmask(SIG_SETMASK, &avant, nullptr);
    return texte.empty();
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
    ramasser();
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
        std::string &lu = flots[k]->lu;
        if (n > 0)
            lu.append(tampon, std::min(static_cast<size_t>(n), garde_max_ - std::min(garde_max_, lu.size())));
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
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

std::optional<int> Processus::fin_constatee()
{
    if (code_ || pid_ <= 0)
        return code_;
    ramasser();
    auto f = suivi().fins.find(pid_);
    int statut;
    if (f != suivi().fins.end() && f->second)
        code_ = f->second;
    else if (waitpid(pid_, &statut, WNOHANG) == pid_)
        code_ = code_de(statut);
    if (code_ && place_ >= 0)
        meneurs_vivants[place_] = false;
    return code_;
}

std::optional<int> Processus::attendre(Duree limite)
{
    auto fin = Horloge::now() + limite;
    while (!fin_constatee() && Horloge::now() < fin)
        lire_disponible(1ms); // keep the pipes drained meanwhile
    return code_;
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
            lire_disponible(1ms);
    }
    return false;
}

void Processus::arreter()
{
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGKILL);
    if (!fin_constatee()) {
        kill(pid_, SIGKILL);
        attendre(5s); // SIGKILL cannot be held off: only a sweep may be slower
    }
}

void Processus::relancer_terminal()
{
    if (esclave_arrete_ < 0)
        return;
    tcflow(esclave_arrete_, TCOON);
    // Without it, the program's end can be read on the master again.
    close(esclave_arrete_);
    esclave_arrete_ = -1;
}

Resultat executer(const Lancement &lancement, Duree limite)
{
    auto debut = Horloge::now();
    Processus p(lancement);
    Resultat r;
    r.pid = p.pid();
    if (lancement.entree == Flux::tube) {
        p.ecrire(lancement.contenu_entree, limite);
        p.fermer_entree();
    }
    auto ecoule = std::chrono::duration_cast<Duree>(Horloge::now() - debut);
    r.code = p.attendre(std::max(limite - ecoule, Duree(0)));
    r.secondes = std::chrono::duration<double>(Horloge::now() - debut).count();
    if (!r.code)
        p.arreter(); // what it wrote so far is still read below
    // Children of the program may still hold the streams; bounded all the same.
    if (lisible(lancement.sortie))
        r.sortie = p.lire_tout(Canal::sortie, 1s);
    if (lisible(lancement.erreur))
        r.erreur = p.lire_tout(Canal::erreur, 1s);
    if (utilise_terminal(lancement))
        r.terminal = p.lire_tout(Canal::terminal, 1s);
    return r;
}

void adopter_les_orphelins()
{
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        echec("impossible d'adopter les orphelins (prctl)");
}

void ramasser_tous_les_enfants() { suivi().toujours = true; }

void toujours_restreindre() { suivi().tous_restreints = true; }

void toujours_confiner(const Confinement &confinement) { suivi().confinement = confinement; }

void arreter_tout() noexcept
{
    for (int k = 0; k < nb_places; k++) {
        pid_t groupe = groupes_vivants[k];
        if (groupe <= 0)
            continue;
        kill(-groupe, SIGKILL);
        if (meneurs_vivants[k])
            kill(groupe, SIGKILL);
    }
}

bool attendre_que(const std::function<bool()> &condition, Duree limite)
{
    auto fin = Horloge::now() + limite;
    for (;;) {
        ramasser();
        if (condition())
            return true;
        if (Horloge::now() >= fin)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

} // namespace lancement
