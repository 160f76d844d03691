// Starts a program the way a user would, with each standard stream chosen by
// the caller (a test, or verifier), and collects what the kernel says about it.
//
// Every process a Processus starts is put in a process group of its own, and
// gets SIGKILL if the thread that started it ends first; the destructor kills
// that group and reaps every member it can, even when an assertion has ended
// a test early. Every wait has a time limit.
//
// The orphans a program leaves behind go to init, unless the caller has
// called adopter_les_orphelins(): they then come back to the caller, which
// can look at them and must reap them (ramasser_orphelins does it).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "confinement.h"

namespace lancement {

using namespace std::chrono_literals;
using Duree = std::chrono::milliseconds;

// What one standard stream of the started program is.
enum class Flux {
    tube,     // a pipe to or from the caller
    fichier,  // a temporary file (stdin: holding Lancement::contenu_entree)
    nul,      // /dev/null
    ferme,    // no descriptor at all
    terminal, // the slave side of a pseudo-terminal shared by all such streams
    sortie,   // stderr only: the same descriptor as stdout, as with 2>&1
    herite,   // the caller's own descriptor of that number, as a shell does
};

// Where to read what the program wrote.
enum class Canal { sortie, erreur, terminal };

// Callers name only the settings that matter to them: every field has its
// default.
struct Lancement {
    std::string programme = {};         // path of the built program, or a name PATH finds
    std::vector<std::string> arguments = {}; // argv[1] onwards
    std::optional<std::string> nom = {}; // argv[0]; the program's file name if unset
    Flux entree = Flux::tube;
    Flux sortie = Flux::tube;
    Flux erreur = Flux::tube;
    std::string contenu_entree = {}; // what a file stdin holds; what executer writes to a pipe
    // Changes to the inherited environment: a value sets, nullopt unsets.
    std::vector<std::pair<std::string, std::optional<std::string>>> environnement = {};
    bool sigchld_ignore = false;  // started with SIGCHLD ignored
    bool fork_impossible = false; // every fork of the program fails with EAGAIN
    // A program one does not trust (a student's): started by root, it runs as
    // an unprivileged user (utilisateur_restreint()); in any case with bounds
    // on its processes, CPU time and file sizes, and only the first mebibyte
    // of each stream is kept. See restreindre() in lancement.cpp.
    bool restreint = false;
    // While this program lives, every wait and poll of this library reaps
    // every child of the caller's that has ended: the orphans that came back
    // to it (after adopter_les_orphelins), as init would, and the programs
    // it started, whose codes are kept for their Processus.
    bool ramasser_orphelins = false;
    // The terminal starts stopped, as after Ctrl-S: every write of the
    // program to it blocks, the program holding there alive, until
    // Processus::relancer_terminal().
    bool terminal_arrete = false;
    // Before exec, the program's process uses up this many pids (it starts
    // and reaps as many children): the pid of its first child is then never
    // its own plus one.
    int pids_sautes = 0;
    // A change of SIGCHLD's action by the program (signal, sigaction) while
    // one of its children is alive waits until they have all ended (2 s at
    // most): a program that makes it after its fork then meets the moment
    // its child ended first. Through seccomp's user notification (Linux
    // 5.5); where the kernel refuses it, nothing waits
    // (Processus::sigchld_differe says which).
    bool sigchld_differe = false;
    // A program that must touch nothing of the caller's (confinement.h):
    // it is then restreint too.
    std::optional<Confinement> confinement = std::nullopt;
};

// What the constructor of Processus throws when the program itself cannot be
// run (exec refused it: not found, not executable, not a program). Other
// failures (no pipe, no fork) are plain std::runtime_error.
struct Inexecutable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Processus {
public:
    explicit Processus(const Lancement &lancement);
    ~Processus();
    Processus(const Processus &) = delete;
    Processus &operator=(const Processus &) = delete;

    pid_t pid() const { return pid_; }

    // To stdin (pipe or terminal). False if the program stopped reading
    // (ended, or closed it) or did not take it all within the limit.
    bool ecrire(std::string_view texte, Duree limite = 5s);
    void fermer_entree(); // the pipe's end: EOF for the program

    // All the canal has carried so far, once it holds motif or the limit has
    // passed. On a terminal, the line discipline's "\r\n" reads as "\n".
    std::string lire_jusqu_a(Canal canal, std::string_view motif, Duree limite = 5s);
    // All the canal carries, up to its end (every writer gone) or the limit.
    // For a file, that means the program and all it left behind have ended
    // (and have been reaped).
    std::string lire_tout(Canal canal, Duree limite = 5s);

    // The exit code (or minus the signal number) once the program has ended;
    // nullopt if it is still running at the limit.
    std::optional<int> attendre(Duree limite = 5s);

    // Whether the program and every process of its group have ended within
    // the limit (the orphans that came back to us are reaped on the way).
    bool groupe_termine(Duree limite = 5s);

    // Kills the program and its group now (SIGKILL) and reaps it.
    void arreter();

    // Lets the program write to its terminal again (terminal_arrete).
    void relancer_terminal();

    // Whether its changes of SIGCHLD's action are deferred (sigchld_differe).
    bool sigchld_differe() const { return sigchld_differe_; }

private:
    struct Flot {
        int fd = -1;         // pipe or terminal master
        std::string chemin;  // temporary file
        std::string lu;      // what has been read
        bool fini = false;
    };
    struct Depart; // what the started process needs, made before the fork
    void demarrer(const Lancement &lancement);
    void preparer_programme(const Lancement &l, Depart &d);
    void ouvrir_terminal(const Lancement &l, Depart &d);
    int preparer_flux(const Lancement &l, Flux flux, bool entree, Flot *flot, const char *nom,
                      const Depart &d);
    void preparer_flux(const Lancement &l, Depart &d);
    void apres_le_fork(const Lancement &l, Depart &d);
    [[noreturn]] static void devenir_le_programme(const Lancement &l, const Depart &d);
    void liberer(); // ends and reaps what is left, closes, removes
    Flot &flot(Canal canal);
    void lire_disponible(Duree attente); // one poll round over every open flot
    std::optional<int> fin_constatee();  // the code, if the program has ended

    pid_t pid_ = -1;
    std::optional<int> code_;
    int entree_ = -1;
    Flot sortie_, erreur_, terminal_;
    std::string dossier_; // temporary files and program copy
    std::size_t garde_max_; // bytes kept of each stream
    bool ramasseur_;
    int place_ = -1; // in the table of live groups (arreter_tout)
    int esclave_arrete_ = -1; // a slave descriptor kept to restart the output
    int ecoute_ = -1;         // seccomp's notifications (sigchld_differe, signals)
    bool sigchld_differe_ = false;
};

struct Resultat {
    std::optional<int> code; // exit code, or minus the signal; none: killed at the limit
    std::string sortie, erreur, terminal;
    pid_t pid = -1;
    double secondes = 0; // from the start to the end seen (or to the limit)
};

// The one bounded run: starts the program, writes contenu_entree to a stdin
// pipe (then EOF), waits for its end at most limite, kills it and all it
// started if it is still running then, and collects every stream.
Resultat executer(const Lancement &lancement, Duree limite = 10s);

// Makes the caller a child subreaper: orphans of the programs it starts come
// back to it instead of init. An explicit choice, for the whole process.
void adopter_les_orphelins();

// From now on, every wait and poll of this library reaps every child of the
// caller's that has ended (waitpid(-1)), as if every program were started
// with ramasser_orphelins: for a subreaper whose only children are the
// programs it starts this way and their orphans.
void ramasser_tous_les_enfants();

// Makes TMPDIR, for this process and all it starts, a folder where programs
// may be started: the one it names (or /tmp) unless its file system is
// mounted noexec, as hardened lab machines do; then the first of /var/tmp
// and /dev/shm (and for anyone but root, whose programs run as nobody,
// XDG_RUNTIME_DIR and ~/.cache) where they may. Returns "", or where there is
// none, what to do, in French: a sentence, then the command line to type
// to run commande elsewhere.
std::string choisir_un_tmpdir_executable(const std::string &commande);

// From now on, every program this process starts is restreint, whatever
// its Lancement says (for a caller that only ever runs untrusted programs).
void toujours_restreindre();

// From now on, every program this process starts is confined so, unless its
// Lancement names a confinement of its own (for a caller that only ever runs
// untrusted programs, all writing in one folder).
void toujours_confiner(const Confinement &confinement);

// SIGKILL to every group started and not yet ended. Async-signal-safe: for a
// handler of SIGINT or SIGTERM.
void arreter_tout() noexcept;

// The user a restreint program runs as when the caller is root (nobody),
// nullopt when the caller is not root.
struct Identite {
    uid_t uid;
    gid_t gid;
};
std::optional<Identite> utilisateur_restreint();

// What /proc/PID/stat says: the state letter, the parent's pid, the name,
// the process group, and when it started (clock ticks after boot).
struct EtatProc {
    char etat;
    pid_t parent;
    std::string nom;
    pid_t groupe;
    unsigned long long depart;
};
std::optional<EtatProc> lire_stat(pid_t pid);

// The system call a process is blocked in, from /proc/PID/syscall: its
// number (as SYS_write in <sys/syscall.h>) and first argument; numero is -1
// when it is in none (running, or stopped). nullopt when it cannot be read
// (ended, or not allowed).
struct Appel {
    long numero;
    long premier_argument;
};
std::optional<Appel> appel_en_cours(pid_t pid);

// The processes whose parent is parent right now, read from /proc.
struct Enfant {
    pid_t pid;
    EtatProc etat;
};
std::vector<Enfant> enfants_de(pid_t parent);

// A process's arguments, from /proc/PID/cmdline; empty once it has ended.
std::vector<std::string> arguments_de(pid_t pid);

// Polls condition every millisecond until it holds or the limit passes
// (reaping adopted orphans meanwhile, as every wait here does).
bool attendre_que(const std::function<bool()> &condition, Duree limite = 5s);

// Whether this machine lets the library make a program's forks fail
// (Lancement::fork_impossible): it needs root, to switch to nobody, or an
// enforceable RLIMIT_NPROC.
bool echec_fork_possible();

// The number in "pid : N..." lines; -1 when there is none.
pid_t pid_dans(std::string_view texte, std::string_view prefixe = "pid : ");

// The system's message for an error number, in French.
std::string raison(int numero);

} // namespace lancement
