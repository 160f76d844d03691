// A program's system calls followed as strace does (ptrace), so that a race
// the program can lose is made to happen at the very moment it can be lost:
// when one of its calls returns, before it runs a single instruction of its
// own. And what /proc says of its signals.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "exercice.h"

namespace exercices {

// One call of the followed program, at its entry.
struct AppelSuivi {
    long numero;
    std::array<std::uint64_t, 6> arguments;
};

// Takes hold of the process (PTRACE_SEIZE). Returns why it could not, or "".
std::string saisir(pid_t pid);

// Follows the seized process's calls: at each entry, choisir says whether the
// call's return is the moment; at that return, tenir is called (retour: the
// call's result) while the process is held, and says whether it is done (the
// process is then let go) or the following goes on. Signals for the program
// go on to it. Returns what went wrong, or "" once tenir has said it is done.
std::string suivre(pid_t pid, const std::function<bool(const AppelSuivi &)> &choisir,
                   const std::function<bool(long retour)> &tenir, Duree limite);

// The bytes (the first 256) a write or writev of the followed program is
// about to write, read from its memory.
std::string octets_ecrits(pid_t pid, const AppelSuivi &appel);

// Whether sig waits for the process (/proc/PID/status, SigPnd and ShdPnd),
// or is blocked by it (SigBlk).
bool signal_en_attente(pid_t pid, int sig);
bool signal_bloque(pid_t pid, int sig);

// Whether the process is blocked writing on its stdout (/proc/PID/syscall,
// or /proc/PID/wchan where a pipe's writer sleeps).
bool ecriture_bloquee(pid_t pid);

} // namespace exercices
