// What the parts of the library share, and its callers need not see.
#pragma once

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <linux/seccomp.h>
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

// --- seccomp's listener (ecoute.cpp, signaux.cpp) ---------------------------

// In the started process: one filter whose listener goes to the caller over
// canal (or is only tried, canal < 0), for SIGCHLD's changes (sigchld) and
// for signals to other processes (signaux). False if the kernel refused it.
bool ecouter(int canal, bool sigchld, bool signaux);
// In the caller: the listener the child sent, or -1.
int recevoir_ecoute(int canal);
// A change of SIGCHLD's action waiting to be let through, and since when.
struct Demande {
    unsigned long long id;
    pid_t pid;
    bool change; // an action is set, not only read
    Horloge::time_point depuis;
};
// A live program's listener: the program, and what waits on it.
struct Ecoute {
    pid_t racine = -1;               // the program started
    unsigned long long depart = 0;   // when it started (/proc/PID/stat), against pid reuse
    std::vector<Demande> demandes;   // SIGCHLD's changes
};
// The listeners of the live programs, by descriptor (under the listener's lock).
std::map<int, Ecoute> &ecoutes();
// In the caller, once the program is started: its listener is served from now
// on; oublier_ecoute closes it (every call still waiting then fails).
void suivre_ecoute(int fd, pid_t racine);
void oublier_ecoute(int fd);
// Lets through SIGCHLD's changes that may go now.
void servir_ecoutes();
// 0 if the signal asked for in notification (by fd) may go, else the errno
// the call fails with: only the caller itself, its descendants and the
// program's may be signalled.
int refus_de_signal(const seccomp_notif &notification, const Ecoute &ecoute, int fd);

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
