#include "execution.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <map>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace arbre {

volatile std::sig_atomic_t signal_recu = 0;

void verifier_interruption()
{
    if (signal_recu != 0)
        throw Interruption{signal_recu};
}

namespace {

namespace fs = std::filesystem;
using Horloge = std::chrono::steady_clock;

std::string lire_fichier(const std::string &chemin)
{
    std::ifstream f(chemin, std::ios::binary);
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

// Starts the command in a child (through PATH when it has no slash), with
// nom as its argv[0] if given; in the child, avant runs between fork and exec.
// Throws Echec if the exec itself fails (errno travels back through a pipe).
pid_t demarrer(const std::vector<std::string> &commande, const std::function<void()> &avant,
               const std::string &nom = "")
{
    std::vector<char *> argv;
    for (const auto &a : commande)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    if (!nom.empty())
        argv[0] = const_cast<char *>(nom.c_str());
    int erreur[2];
    if (pipe2(erreur, O_CLOEXEC) != 0)
        throw Echec(std::string("pipe : ") + std::strerror(errno));
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        close(erreur[0]);
        close(erreur[1]);
        throw Echec(std::string("fork : ") + std::strerror(e));
    }
    if (pid == 0) {
        // The child starts with no signal blocked and the usual dispositions.
        sigset_t aucun;
        sigemptyset(&aucun);
        sigprocmask(SIG_SETMASK, &aucun, nullptr);
        for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE})
            signal(s, SIG_DFL);
        avant();
        execvp(commande[0].c_str(), argv.data());
        int e = errno;
        (void)!write(erreur[1], &e, sizeof e);
        _exit(127);
    }
    close(erreur[1]);
    int e = 0;
    ssize_t n;
    while ((n = read(erreur[0], &e, sizeof e)) < 0 && errno == EINTR) {}
    close(erreur[0]);
    if (n == sizeof e) {
        waitpid(pid, nullptr, 0); // it has already ended
        throw Echec(commande[0] + " : " + std::strerror(e));
    }
    return pid;
}

bool groupe_present(pid_t groupe);

// Kills the process group and reaps those of its members that are (or become)
// our children, until none is left in /proc or the limit has passed.
bool finir_groupe(pid_t groupe, Duree limite)
{
    kill(-groupe, SIGKILL);
    auto fin = Horloge::now() + limite;
    for (;;) {
        while (waitpid(-groupe, nullptr, WNOHANG) > 0) {}
        if (!groupe_present(groupe))
            return true;
        if (Horloge::now() > fin)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

// Reaps pid, leader of its process group. At the limit, or when a signal
// came, ends the whole group first: nullopt then (or Interruption).
std::optional<bool> attendre_fin(pid_t pid, Duree limite)
{
    auto fin = Horloge::now() + limite;
    for (;;) {
        int statut = 0;
        pid_t r = waitpid(pid, &statut, WNOHANG);
        if (r == pid)
            return WIFEXITED(statut) && WEXITSTATUS(statut) == 0;
        if (r < 0)
            return false;
        if (signal_recu != 0 || Horloge::now() > fin) {
            finir_groupe(pid, 3s);
            verifier_interruption();
            return std::nullopt;
        }
        std::this_thread::sleep_for(2ms);
    }
}

struct Stat {
    char etat = '?';
    pid_t parent = 0, groupe = 0;
    unsigned long long depart = 0; // clock ticks since boot
};

bool lire_stat(pid_t pid, Stat &s)
{
    std::string t = lire_fichier("/proc/" + std::to_string(pid) + "/stat");
    auto p = t.rfind(')');
    if (p == std::string::npos)
        return false;
    std::istringstream champs(t.substr(p + 1));
    std::string ignore;
    champs >> s.etat >> s.parent >> s.groupe;
    for (int k = 6; k < 22; k++)
        champs >> ignore;
    champs >> s.depart;
    return static_cast<bool>(champs);
}

// Every process in /proc, by pid.
std::map<pid_t, Stat> tous_les_processus()
{
    std::map<pid_t, Stat> tous;
    std::error_code e;
    for (const auto &entree : fs::directory_iterator("/proc", e)) {
        std::string nom = entree.path().filename().string();
        if (nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        Stat s;
        pid_t pid = std::stoi(nom);
        if (lire_stat(pid, s))
            tous[pid] = s;
    }
    return tous;
}

bool groupe_present(pid_t groupe)
{
    for (const auto &[pid, s] : tous_les_processus())
        if (s.groupe == groupe)
            return true;
    return false;
}

// Whether pid is asleep in read on its descriptor 0: "0 0x0 ..." in
// /proc/PID/syscall (the system call's number, then its arguments). nullopt
// where the kernel does not let us read it.
std::optional<bool> lit_son_entree(pid_t pid)
{
    std::string t = lire_fichier("/proc/" + std::to_string(pid) + "/syscall");
    if (t.empty())
        return std::nullopt;
    std::istringstream mots(t);
    long numero = -1;
    std::string fd;
    mots >> numero >> fd;
    return mots && numero == SYS_read && fd == "0x0";
}

} // namespace

// --- Compilation ---------------------------------------------------------------

Compilation::Compilation(const std::string &source, const std::string &nom, Duree limite)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string modele = (fs::temp_directory_path() / "arbre-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        throw Echec(std::string("dossier temporaire : ") + std::strerror(errno));
    dossier_ = modele;
    programme_ = dossier_ + "/" + nom;
    std::string c = programme_ + ".c", messages = dossier_ + "/messages";
    std::ofstream(c) << source;
    pid_t pid;
    try {
        // Run from the folder, so that its messages name the file and no more.
        pid = demarrer({"cc", "-std=gnu17", "-O0", "-o", "./" + nom, "./" + nom + ".c"}, [&] {
            setpgid(0, 0); // so that its own children end with it
            if (chdir(dossier_.c_str()) != 0)
                _exit(127);
            int fd = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
        });
    } catch (const Echec &) {
        fs::remove_all(dossier_);
        throw Echec("pas de compilateur C (cc) : sous Debian, apt-get install gcc");
    }
    std::optional<bool> reussi;
    try {
        reussi = attendre_fin(pid, limite);
    } catch (...) {
        fs::remove_all(dossier_);
        throw;
    }
    if (reussi != true) {
        std::string dit = lire_fichier(messages);
        fs::remove_all(dossier_);
        throw Echec(reussi ? "la compilation a échoué :\n" + dit
                           : "la compilation dure plus de " +
                                 std::to_string(limite.count() / 1000) + " s : arrêtée");
    }
}

Compilation::~Compilation()
{
    std::error_code ignore;
    fs::remove_all(dossier_, ignore);
}

// --- Tenue ---------------------------------------------------------------------

VuDeProc lire_proc(pid_t racine)
{
    std::map<pid_t, Stat> tous = tous_les_processus();
    std::map<pid_t, std::vector<pid_t>> enfants;
    for (const auto &[pid, s] : tous)
        enfants[s.parent].push_back(pid);

    VuDeProc v{{std::to_string(racine), {}}, {}, tous.count(racine) > 0};
    if (!v.tous_tenus)
        return v;
    // Depth first, children in the order they were made.
    std::function<void(pid_t, Noeud &)> descendre = [&](pid_t pid, Noeud &n) {
        v.pids.push_back(pid);
        const Stat &s = tous[pid];
        if (s.etat != 'S' || lit_son_entree(pid) == false)
            v.tous_tenus = false;
        auto &liste = enfants[pid];
        std::sort(liste.begin(), liste.end(), [&](pid_t a, pid_t b) {
            return std::pair(tous[a].depart, a) < std::pair(tous[b].depart, b);
        });
        for (pid_t enfant : liste) {
            n.enfants.push_back({std::to_string(enfant), {}});
            descendre(enfant, n.enfants.back());
        }
    };
    descendre(racine, v.arbre);
    return v;
}

Tenue::Tenue(const std::string &programme, Duree limite, std::size_t plafond)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int tube[2];
    if (pipe2(tube, O_CLOEXEC) != 0)
        throw Echec(std::string("pipe : ") + std::strerror(errno));
    try {
        racine_ = demarrer({programme}, [&] {
            setsid(); // its own session and group: one kill ends it all
            dup2(tube[0], 0);
            int nul = open("/dev/null", O_WRONLY);
            dup2(nul, 1);
            dup2(nul, 2);
        }, fs::path(programme).filename().string());
    } catch (...) {
        close(tube[0]);
        close(tube[1]);
        throw;
    }
    close(tube[0]);
    ecriture_ = tube[1];
    try {
        attendre_tenue(limite, plafond);
    } catch (...) {
        finir();
        throw;
    }
}

Tenue::~Tenue() { finir(); }

void Tenue::attendre_tenue(Duree limite, std::size_t plafond)
{
    auto debut = Horloge::now();
    // A scan of /proc lists the processes before it reads their state: a
    // process seen held may have forked a child the listing missed. Held
    // processes fork no more, so a second scan, started after the first one
    // found them all held, that lists the same ones proves the tree whole.
    // Where /proc/PID/syscall cannot be read, "held" is only "asleep": that
    // must then last a while.
    bool syscall_lisible = lit_son_entree(racine_).has_value();
    std::optional<VuDeProc> tenus;
    auto tenus_depuis = debut;
    for (;;) {
        verifier_interruption();
        VuDeProc v = lire_proc(racine_);
        pids_ = v.pids;
        if (v.pids.size() > plafond)
            throw Echec("plus de " + std::to_string(plafond) +
                        " processus : arbre les arrête tous");
        Stat s;
        for (pid_t pid : v.pids)
            if (lire_stat(pid, s) && s.etat == 'Z')
                throw Echec("le pid " + std::to_string(pid) +
                            " a fini sans attendre : chaque processus doit finir par "
                            "read(0, &c, 1)");
        if (v.pids.empty())
            throw Echec("le programme a fini aussitôt : chaque processus doit finir par "
                        "read(0, &c, 1)");
        auto maintenant = Horloge::now();
        if (tenus && tenus->pids == v.pids && v.tous_tenus &&
            (syscall_lisible || maintenant - tenus_depuis > 100ms)) {
            arbre_ = std::move(v.arbre);
            return;
        }
        if (!v.tous_tenus)
            tenus.reset();
        else if (!tenus || tenus->pids != v.pids) {
            tenus = v;
            tenus_depuis = maintenant;
        }
        if (maintenant - debut > limite)
            throw Echec("après " + std::to_string(limite.count() / 1000) +
                        " s, les processus ne sont pas tous arrêtés sur read(0, &c, 1)");
        std::this_thread::sleep_for(3ms);
    }
}

bool Tenue::finir(Duree limite)
{
    if (racine_ <= 0)
        return true;
    if (ecriture_ >= 0)
        close(ecriture_);
    ecriture_ = -1;
    bool fini = finir_groupe(racine_, limite);
    racine_ = -1;
    return fini;
}

} // namespace arbre
