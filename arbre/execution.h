// A program of forks compiled with the system's C compiler, run for real,
// and its tree read from /proc while every one of its processes is held.
#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/types.h>

#include "forme.h"
#include "session.h"

namespace arbre {

using namespace std::chrono_literals;
using Duree = std::chrono::milliseconds;

// What could not be done, said in French for the user.
struct Echec : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A signal that asks arbre to stop (SIGINT, SIGHUP, SIGTERM): its handler
// only records it in signal_recu; every wait below then throws Interruption,
// once what it started is ended.
extern volatile std::sig_atomic_t signal_recu;
struct Interruption {
    int signal;
};
void verifier_interruption(); // throws Interruption if a signal came

// A C source compiled with cc in a temporary folder of its own, removed with
// the object.
class Compilation {
public:
    // nom: the program's file name, as ps will show it.
    Compilation(const std::string &source, const std::string &nom, Duree limite = 20s);
    ~Compilation();
    Compilation(const Compilation &) = delete;
    Compilation &operator=(const Compilation &) = delete;
    const std::string &programme() const { return programme_; }

private:
    std::string dossier_, programme_;
};

// The program running in a session of its own, its standard input a pipe
// that only this object writes to. Once every process it makes is blocked
// reading that pipe, the tree is read from /proc. The destructor (or finir)
// kills them all and reaps every one, within bounded waits. The orphans of
// a killed tree come back to this process if its main has made it adopt
// them (lancement::adopter_les_orphelins), to init otherwise.
// From now on, every Tenue's program is confined (lancement's Confinement,
// its own folder the only one it may write): arbre's main asks it, since a
// --source is a student's. verifier confines its own way, as nobody.
void confiner_les_programmes();

class Tenue {
public:
    explicit Tenue(const std::string &programme, Duree limite = 5s,
                   std::size_t plafond = 64);
    ~Tenue();
    Tenue(const Tenue &) = delete;
    Tenue &operator=(const Tenue &) = delete;

    pid_t racine() const { return racine_; }
    const Noeud &arbre() const { return arbre_; } // each node named by its pid
    std::size_t nombre() const { return pids_.size(); }
    // Ends and reaps every process of the tree; true if all were reaped.
    bool finir(Duree limite = 3s);

private:
    void attendre_tenue(Duree limite, std::size_t plafond);
    std::optional<lancement::Session> session_;
    pid_t racine_ = -1;
    Noeud arbre_;
    std::vector<pid_t> pids_;
};

// The processes of the tree under racine, read from /proc (each one's parent
// in /proc/PID/stat), children in the order of their pids.
struct VuDeProc {
    Noeud arbre;
    std::vector<pid_t> pids;
    bool tous_tenus; // each one asleep in read(0, ...), or so it seems
};
VuDeProc lire_proc(pid_t racine);

} // namespace arbre
