#include "confinement.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <linux/types.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interne.h"

// Debian 12's headers know Landlock as Linux 6.1 had it: what came later is
// written here, as the kernel's interface defines it.
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif

namespace lancement {
namespace {

struct AttributsLandlock {
    __u64 fichiers; // handled_access_fs
    __u64 reseau;   // handled_access_net (version 4)
    __u64 portee;   // scoped (version 6)
};
struct RegleChemin {
    __u64 acces;
    __s32 dossier;
} __attribute__((packed));

constexpr __u32 demande_version = 1; // LANDLOCK_CREATE_RULESET_VERSION
constexpr int regle_chemin = 1;      // LANDLOCK_RULE_PATH_BENEATH
constexpr __u64 executer = 1u << 0, ecrire_fichier = 1u << 1, lire_fichier = 1u << 2,
                lire_dossier = 1u << 3, tronquer = 1u << 14;
constexpr __u64 lire_et_lancer = executer | lire_fichier | lire_dossier;
constexpr __u64 droits_d_un_fichier = executer | ecrire_fichier | lire_fichier | tronquer;
constexpr __u64 tcp = 3;        // LANDLOCK_ACCESS_NET_BIND_TCP | CONNECT_TCP (version 4)
constexpr __u64 portee_sockets = 1, portee_signaux = 2; // LANDLOCK_SCOPE_* (version 6)

// Every right on files this version of Landlock knows, up to truncating
// (version 3); the rights on devices' ioctl (version 5) are left unhandled:
// the terminal a program is given must stay usable.
__u64 droits_geres(long version)
{
    if (version >= 3)
        return (__u64{1} << 15) - 1;
    if (version == 2)
        return (__u64{1} << 14) - 1;
    return (__u64{1} << 13) - 1;
}

long version_landlock()
{
    long v = syscall(SYS_landlock_create_ruleset, nullptr, 0, demande_version);
    return v < 0 ? 0 : v;
}

// What any program needs in order to run, and may read.
const char *const systeme[] = {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32",
                               "/etc", "/opt", "/proc", "/sys", "/dev/urandom", "/dev/random"};
const char *const peripheriques[] = {"/dev/null", "/dev/zero", "/dev/full", "/dev/tty"};

// A rule of the ruleset; a path that does not exist here is no matter.
void permettre(int regles, const char *chemin, __u64 acces)
{
    int fd = open(chemin, O_PATH | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat s;
    if (fstat(fd, &s) == 0 && !S_ISDIR(s.st_mode))
        acces &= droits_d_un_fichier;
    RegleChemin regle = {acces, fd};
    syscall(SYS_landlock_add_rule, regles, regle_chemin, &regle, 0);
    close(fd);
}

// Files, tracing, and signals where the kernel's Landlock scopes them.
// Needs no_new_privs. Called in the started process only.
bool enfermer_fichiers(const Confinement &c, const char *terminal, long version)
{
    if (version < 1)
        return false;
    AttributsLandlock attributs = {droits_geres(version), version >= 4 ? tcp : 0,
                                   version >= 6 ? portee_sockets | portee_signaux : 0};
    int regles = static_cast<int>(
        syscall(SYS_landlock_create_ruleset, &attributs, sizeof attributs, 0));
    if (regles < 0)
        return false;
    for (const char *chemin : systeme)
        permettre(regles, chemin, lire_et_lancer);
    for (const char *chemin : peripheriques)
        permettre(regles, chemin, lire_fichier | ecrire_fichier | tronquer);
    if (*terminal)
        permettre(regles, terminal, lire_fichier | ecrire_fichier);
    for (const auto &chemin : c.lisibles)
        permettre(regles, chemin.c_str(), lire_et_lancer);
    permettre(regles, c.dossier.c_str(), droits_geres(version));
    bool fait = syscall(SYS_landlock_restrict_self, regles, 0) == 0;
    close(regles);
    return fait;
}

// Writes texte to a file of /proc/self.
bool ecrire_dans(const char *chemin, const char *texte)
{
    int fd = open(chemin, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool fait = write(fd, texte, std::strlen(texte)) == static_cast<ssize_t>(std::strlen(texte));
    close(fd);
    return fait;
}

// A network namespace with no interface up, and an IPC namespace (the
// user's System V IPC and POSIX message queues out of reach) where the
// kernel gives it along. Root makes them directly (and must, in a chroot,
// where the kernel refuses user namespaces); anyone else in a user namespace
// where the program is still who it was, so that nothing it prints or reads
// of itself changes.
bool isoler_du_reseau()
{
    if (unshare(CLONE_NEWNET | CLONE_NEWIPC) == 0 || unshare(CLONE_NEWNET) == 0)
        return true;
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWIPC) != 0 &&
        unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    char ligne[64];
    std::snprintf(ligne, sizeof ligne, "%u %u 1\n", uid, uid);
    if (!ecrire_dans("/proc/self/uid_map", ligne) || !ecrire_dans("/proc/self/setgroups", "deny"))
        return false;
    std::snprintf(ligne, sizeof ligne, "%u %u 1\n", gid, gid);
    return ecrire_dans("/proc/self/gid_map", ligne);
}

#if defined(__x86_64__)
constexpr __u32 architecture = AUDIT_ARCH_X86_64;
constexpr __u32 hors_abi = 0x40000000; // x32's system calls
#elif defined(__aarch64__)
constexpr __u32 architecture = AUDIT_ARCH_AARCH64;
constexpr __u32 hors_abi = 0xffffffff;
#else
constexpr __u32 architecture = 0;
constexpr __u32 hors_abi = 0;
#endif

// What a network namespace does not stop: local sockets reached by their
// path (socket(AF_UNIX), while socketpair stays allowed), io_uring, which
// would open them beyond seccomp's sight, and system calls of another ABI
// (x32, 32-bit), which this filter does not read. Also what Landlock does
// not bound: characters pushed into the input of the terminal (TIOCSTI: the
// caller's, through /dev/tty, where its shell would read them), the
// terminal's foreground group changed (TIOCSPGRP: the caller's keyboard
// signals would go to the program; the terminal a program is given is not
// its controlling one, where it would mean something) and, before
// Landlock's version 3 (Linux 6.2), truncate(2) on a path (ftruncate stays:
// it needs a descriptor open for writing, which Landlock bounds).
bool filtrer_sockets(bool sans_truncate)
{
    if (architecture == 0)
        return false;
    constexpr __u32 refus = SECCOMP_RET_ERRNO | EACCES;
    struct sock_filter filtre[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, architecture, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, hors_abi, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sans_truncate ? SYS_truncate : 0xffffffff, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, refus),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ioctl, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[1])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCSTI, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCSPGRP, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_UNIX, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, refus),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog programme = {sizeof filtre / sizeof filtre[0], filtre};
    return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &programme) == 0;
}

} // namespace

namespace {
bool reseau_isole = false; // by preparer_le_confinement, in this child
}

void preparer_le_confinement()
{
    if (geteuid() == 0)
        reseau_isole = isoler_du_reseau();
}

Promesses confiner(const Confinement &c, const char *terminal)
{
    Promesses tenues;
    tenues.reseau = reseau_isole || isoler_du_reseau();
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return tenues;
    long version = version_landlock();
    tenues.reseau = filtrer_sockets(version < 3) && tenues.reseau;
    tenues.fichiers = enfermer_fichiers(c, terminal, version);
    tenues.signaux = tenues.fichiers && version >= 6;
    return tenues;
}

Promesses promesses_du_confinement()
{
    static std::optional<Promesses> tenues;
    if (tenues)
        return *tenues;
    tenues.emplace();
    int canal[2];
    if (pipe2(canal, O_CLOEXEC) != 0)
        return *tenues;
    const Confinement partout = {"/", {}};
    pid_t essai = fork();
    if (essai == 0) {
        Promesses p = confiner(partout, "");
        p.signaux = p.signaux || ecouter(-1, false, true);
        char bits = static_cast<char>(p.fichiers | p.signaux << 1 | p.reseau << 2);
        _exit(write(canal[1], &bits, 1) == 1 ? 0 : 1);
    }
    close(canal[1]);
    char bits = 0;
    if (essai > 0 && read(canal[0], &bits, 1) == 1)
        *tenues = {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
    close(canal[0]);
    while (essai > 0 && waitpid(essai, nullptr, 0) < 0 && errno == EINTR) {
    }
    return *tenues;
}

std::string risques_du_confinement()
{
    Promesses p = promesses_du_confinement();
    std::string risques;
    auto ajouter = [&](const char *risque) {
        risques += (risques.empty() ? "" : ", ") + std::string(risque);
    };
    if (!p.fichiers)
        ajouter("lire et écrire les fichiers de l'utilisateur et suivre ses processus "
                "(ce noyau n'a pas Landlock)");
    if (!p.signaux)
        ajouter("envoyer des signaux aux autres processus de l'utilisateur (ce noyau n'a ni "
                "le Landlock de Linux 6.12 ni l'écoute de seccomp pour les borner)");
    if (!p.reseau)
        ajouter("se servir du réseau (ce noyau refuse un espace de noms réseau sans privilège)");
    for (std::size_t pos; (pos = risques.find(" : ")) != std::string::npos;)
        risques.replace(pos, 3, "\u00a0: ");
    return risques;
}

} // namespace lancement
