// Starts a program the way a user would, with each standard stream chosen by
// the caller (a test, or verifier), and collects what the kernel says about it.
//
// Every process a Processus starts is put in a process group of its own; the
// destructor kills that group and reaps every member, grandchildren included
// (the test process is a child subreaper, so orphans come back to it), even
// when an assertion has ended the test early. Every wait has a time limit.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace essai {

using namespace std::chrono_literals;
using Duree = std::chrono::milliseconds;

// What one standard stream of the started program is.
enum class Flux {
    tube,     // a pipe to or from the test
    fichier,  // a temporary file (stdin: holding Lancement::contenu_entree)
    nul,      // /dev/null
    ferme,    // no descriptor at all
    terminal, // the slave side of a pseudo-terminal shared by all such streams
    sortie,   // stderr only: the same descriptor as stdout, as with 2>&1
};

// Where to read what the program wrote.
enum class Canal { sortie, erreur, terminal };

struct Lancement {
    std::string programme;              // path of the built program
    std::vector<std::string> arguments; // argv[1] onwards
    std::optional<std::string> nom;     // argv[0]; the program's file name if unset
    Flux entree = Flux::tube;
    Flux sortie = Flux::tube;
    Flux erreur = Flux::tube;
    std::string contenu_entree; // what a file stdin holds
    // Changes to the inherited environment: a value sets, nullopt unsets.
    std::vector<std::pair<std::string, std::optional<std::string>>> environnement;
    bool sigchld_ignore = false;  // started with SIGCHLD ignored
    bool fork_impossible = false; // every fork of the program fails with EAGAIN
    // Reap the program's orphans as they end, as init would, while waiting
    // for the program (for programs that start others, such as the tour).
    bool ramasser_orphelins = false;
};

class Processus {
public:
    explicit Processus(const Lancement &lancement);
    ~Processus();
    Processus(const Processus &) = delete;
    Processus &operator=(const Processus &) = delete;

    pid_t pid() const { return pid_; }

    void ecrire(std::string_view texte); // to stdin (pipe or terminal)
    void fermer_entree();                // the pipe's end: EOF for the program

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

private:
    struct Flot {
        int fd = -1;         // pipe or terminal master
        std::string chemin;  // temporary file
        std::string lu;      // what has been read
        bool fini = false;
    };
    Flot &flot(Canal canal);
    void lire_disponible(Duree attente); // one poll round over every open flot
    void ramasser_orphelins();
    bool ramasser_orphelins_;

    pid_t pid_ = -1;
    std::optional<int> code_;
    int entree_ = -1;
    Flot sortie_, erreur_, terminal_;
    std::string dossier_; // temporary files and program copy
};

struct Resultat {
    int code; // exit code, or minus the signal number
    std::string sortie, erreur, terminal;
};

// Starts the program, gives it contenu_entree on a stdin pipe (then EOF),
// waits for its end and collects every stream.
Resultat executer(const Lancement &lancement, Duree limite = 10s);

// What /proc/PID/stat says: the state letter, the parent's pid, the name.
struct EtatProc {
    char etat;
    pid_t parent;
    std::string nom;
};
std::optional<EtatProc> lire_stat(pid_t pid);

// The processes whose parent is parent right now, read from /proc.
struct Enfant {
    pid_t pid;
    EtatProc etat;
};
std::vector<Enfant> enfants_de(pid_t parent);

// A process's arguments, from /proc/PID/cmdline; empty once it has ended.
std::vector<std::string> arguments_de(pid_t pid);

// Polls condition every millisecond until it holds or the limit passes.
bool attendre_que(const std::function<bool()> &condition, Duree limite = 5s);

// Whether this machine lets the helper make a program's forks fail
// (Lancement::fork_impossible); tests skip, saying why, when it cannot.
bool echec_fork_possible();
inline constexpr const char *sans_echec_fork =
    "this machine does not let the test make fork fail "
    "(needs root to switch to nobody, or an enforceable RLIMIT_NPROC)";

// The number in "pid : N..." lines; -1 when there is none.
pid_t pid_dans(std::string_view texte, std::string_view prefixe = "pid : ");

} // namespace essai
