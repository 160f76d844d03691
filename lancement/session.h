// A program started as the leader of a session of its own, so that
// `ps -s PID` shows it and everything it makes: its stdin a pipe that only
// this object writes to (the program blocks reading it), its stdout and
// stderr /dev/null. It starts with no signal blocked and the usual
// dispositions. The destructor (or terminer) kills its whole group and reaps
// those of its members that are this process's children, within a bound.
//
// For a program that must stay alive while its tree is looked at (arbre); a
// program one talks to, or whose output one reads, is a Processus.
#pragma once

#include <optional>
#include <string>

#include "confinement.h"
#include "lancement.h"

namespace lancement {

class Session {
public:
    // Throws Inexecutable if exec refused the program, std::runtime_error if
    // no pipe or no fork could be had. With a confinement, the program (a
    // student's, say) is confined as a Processus would be (confinement.h).
    Session(const std::string &programme, const std::string &nom,
            const std::optional<Confinement> &confinement = std::nullopt);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    pid_t pid() const { return pid_; }
    // SIGKILL to the group, then reaps it until none of it is left in /proc;
    // true if that happened within the limit.
    bool terminer(Duree limite = 3s);

private:
    pid_t pid_ = -1;
    int ecriture_ = -1;
    int ecoute_ = -1; // seccomp's listener, where signals need it
};

} // namespace lancement
