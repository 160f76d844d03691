// What the parts of the library share, and its callers need not see.
#pragma once

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "confinement.h"
#include "lancement.h"

namespace lancement {

using Horloge = std::chrono::steady_clock;

inline const std::string insecable = "\u00a0"; // before « : », inside « »

inline std::string entre_guillemets(const std::string &texte)
{
    return "«" + insecable + texte + insecable + "»";
}

[[noreturn]] inline void echec(const std::string &quoi, int numero = errno)
{
    throw std::runtime_error(quoi + insecable + ": " + raison(numero));
}

// --- a restreint program (restriction.cpp) --------------------------------

constexpr std::size_t octets_gardes = 1u << 20; // kept of each stream read
// In the started process: its identity (qui, when root) and bounds.
bool restreindre(const Identite *qui, rlim_t processus);
// In the started process: every fork after exec fails with EAGAIN.
bool interdire_fork();
// The RLIMIT_NPROC of a restreint program run as uid.
rlim_t plafond_processus(uid_t uid);

// --- deferring SIGCHLD's changes (sigchld_differe.cpp) ----------------------

// In the started process: seccomp's listener, sent to the caller over canal.
void ecouter_sigchld(int canal);
// In the caller: the listener the child sent, or -1.
int recevoir_ecoute(int canal);
// A change waiting to be let through, and since when.
struct Demande {
    unsigned long long id;
    pid_t pid;
    bool change; // an action is set, not only read
    Horloge::time_point depuis;
};
// The listening descriptors of the live programs, and what waits on each.
std::map<int, std::vector<Demande>> &ecoutes();
// Lets through the changes that may go now.
void servir_ecoutes();

// --- /proc (proc.cpp) ------------------------------------------------------

std::string contenu_fichier(const std::string &chemin);
// The fields of /proc/PID/stat after the name, from the state on (field 3).
std::vector<std::string> champs_stat(pid_t pid, std::string *nom = nullptr);
// Whether a child of parent's is alive (not a zombie).
bool enfant_vivant(pid_t parent);

// --- confinement (confinement.cpp) -----------------------------------------

// In the started process, before exec: the confinement, as far as this
// kernel allows it; terminal, the path of the terminal it was given (or ""),
// stays open to it. Says which promises it could keep.
Promesses confiner(const Confinement &confinement, const char *terminal);
// Before the change of user: what only root may do of the confinement (a
// network namespace without a user namespace, the one way in a chroot).
void preparer_le_confinement();

} // namespace lancement
