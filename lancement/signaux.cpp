// A confined program's signals where Landlock cannot scope them: which of its
// calls may go (ecoute.cpp sends them here). Only the caller itself, its
// descendants and the program's descendants may be signalled, as /proc says
// at the moment of the call:
// - kill(pid), tkill, tgkill, rt_sigqueueinfo, rt_tgsigqueueinfo, and
//   fcntl(F_SETOWN) (SIGIO's owner): the process the pid names;
// - kill(0), kill(-group), F_SETOWN of a group: every member of the group;
// - the program's own group, while the program is not reaped, is the
//   program's, orphans adopted by the caller included;
// - kill(-1) reaches every process the user may signal: refused.
// Against a pid used again meanwhile: a parent starts no later than its
// child, the target's start is read again last, and the call must still be
// waiting (SECCOMP_IOCTL_NOTIF_ID_VALID). What is unsure is refused (EPERM).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "interne.h"

namespace lancement {
namespace {

namespace fs = std::filesystem;

struct Etat {
    pid_t processus, parent, groupe;
    unsigned long long depart;
};

// A file of /proc/PID, read in one go (a call that signals waits meanwhile).
bool lire_proc(pid_t pid, const char *fichier, char (&texte)[2048])
{
    char chemin[64];
    std::snprintf(chemin, sizeof chemin, "/proc/%d/%s", pid, fichier);
    int fd = open(chemin, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, texte, sizeof texte - 1);
    close(fd);
    texte[n > 0 ? n : 0] = '\0';
    return n > 0;
}

// What /proc/PID/stat says of the process pid: its parent, group and start.
std::optional<Etat> lire_etat(pid_t pid)
{
    char texte[2048];
    if (pid <= 0 || !lire_proc(pid, "stat", texte))
        return std::nullopt;
    const char *apres = std::strrchr(texte, ')'); // the name may hold anything
    Etat e{pid, 0, 0, 0};
    char etat;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt
    // utime stime cutime cstime priority nice threads itrealvalue starttime
    if (apres == nullptr ||
        std::sscanf(apres + 1, " %c %d %d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d "
                               "%*d %*d %*d %llu",
                    &etat, &e.parent, &e.groupe, &e.depart) != 4)
        return std::nullopt;
    return e;
}

// The process that thread (or process) tid belongs to, as /proc says now.
std::optional<Etat> etat_de(pid_t tid)
{
    char statut[2048];
    if (tid <= 0 || !lire_proc(tid, "status", statut))
        return std::nullopt;
    const char *tgid = std::strstr(statut, "\nTgid:");
    return tgid ? lire_etat(static_cast<pid_t>(std::atoi(tgid + 6))) : std::nullopt;
}

// Whether the program is not reaped yet: its group is then its own still,
// and only its processes can have joined it (setpgid needs the process
// itself or its parent), even those orphaned and adopted by the caller.
bool racine_la_meme(const Ecoute &ecoute)
{
    auto racine = lire_etat(ecoute.racine);
    return racine && racine->depart == ecoute.depart;
}

// Whether the process is the caller's, or one of its descendants, or one of
// the program's (a descendant, or in its group).
bool des_siens(Etat e, pid_t appelant, const Ecoute &ecoute)
{
    if (e.groupe == ecoute.racine && racine_la_meme(ecoute))
        return true;
    for (int pas = 0; pas < 1 << 16; pas++) {
        if (e.processus == appelant || (e.processus == ecoute.racine && e.depart == ecoute.depart))
            return true;
        if (e.parent <= 1)
            return false;
        auto parent = lire_etat(e.parent);
        if (!parent || parent->depart > e.depart)
            return false; // gone, or its pid is someone else's now
        e = *parent;
    }
    return false;
}

int refus_processus(pid_t cible, pid_t appelant, const Ecoute &ecoute, Etat &vue)
{
    auto e = etat_de(cible);
    if (!e)
        return ESRCH;
    vue = *e;
    return des_siens(*e, appelant, ecoute) ? 0 : EPERM;
}

int refus_groupe(pid_t groupe, pid_t appelant, const Ecoute &ecoute)
{
    if (groupe == ecoute.racine && racine_la_meme(ecoute))
        return 0;
    bool vu = false;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        const std::string nom = entree.path().filename().string();
        if (nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = std::stoi(nom);
        auto e = lire_etat(pid);
        if (!e || e->groupe != groupe)
            continue;
        vu = true;
        if (!des_siens(*e, appelant, ecoute))
            return EPERM;
    }
    return vu ? 0 : ESRCH;
}

// A pid_t argument, as the kernel reads it.
pid_t entier(__u64 argument) { return static_cast<pid_t>(static_cast<__u32>(argument)); }

} // namespace

int refus_de_signal(const seccomp_notif &notification, const Ecoute &ecoute, int fd)
{
    auto appelant = etat_de(static_cast<pid_t>(notification.pid));
    if (!appelant)
        return EPERM;
    const pid_t moi = appelant->processus;
    const auto &a = notification.data.args;
    Etat vue{-1, -1, -1, 0}; // the single process aimed at, if one
    auto un = [&](pid_t cible) { return refus_processus(cible, moi, ecoute, vue); };
    auto groupe_ou_un = [&](pid_t pid) {
        if (pid == INT_MIN)
            return ESRCH;
        return pid > 0 ? un(pid) : refus_groupe(-pid, moi, ecoute);
    };
    int refus = EPERM;
    switch (notification.data.nr) {
    case SYS_kill: {
        pid_t pid = entier(a[0]);
        if (pid == 0)
            refus = refus_groupe(appelant->groupe, moi, ecoute);
        else if (pid != -1)
            refus = groupe_ou_un(pid);
        break;
    }
    case SYS_tkill:
        refus = entier(a[0]) > 0 ? un(entier(a[0])) : EINVAL;
        break;
    case SYS_tgkill:
    case SYS_rt_tgsigqueueinfo:
        refus = entier(a[0]) > 0 && entier(a[1]) > 0 ? un(entier(a[1])) : EINVAL;
        break;
    case SYS_rt_sigqueueinfo:
        refus = entier(a[0]) > 0 ? un(entier(a[0])) : ESRCH;
        break;
    case SYS_fcntl: // F_SETOWN
        refus = entier(a[2]) == 0 ? 0 : groupe_ou_un(entier(a[2]));
        break;
    }
    if (refus != 0)
        return refus;
    if (vue.processus > 0) {
        auto encore = lire_etat(vue.processus);
        if (!encore || encore->depart != vue.depart)
            return EPERM;
    }
    __u64 id = notification.id;
    return ioctl(fd, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0 ? 0 : EPERM;
}

} // namespace lancement
