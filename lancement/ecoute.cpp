// seccomp's listener for a started program: one filter, one listening
// descriptor (the kernel allows no second one under it), for two jobs:
// - deferring SIGCHLD's changes (Lancement::sigchld_differe): every
//   rt_sigaction on SIGCHLD waits for the caller, which lets it through at
//   one of its waits (servir_ecoutes);
// - bounding signals where Landlock cannot scope them (a confined program on
//   a kernel older than 6.12): every kill, tkill, tgkill, rt_sigqueueinfo,
//   rt_tgsigqueueinfo and fcntl(F_SETOWN) waits for a thread of the caller
//   that lets it through only towards the program's own processes
//   (signaux.cpp); what cannot be checked soundly is refused outright.
// A thread of the caller's receives every notification, so that a signal
// never waits for the caller's next wait.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "interne.h"

#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace lancement {

#if defined(__x86_64__)
constexpr __u32 architecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr __u32 architecture = AUDIT_ARCH_AARCH64;
#else
constexpr __u32 architecture = 0; // not known here: no listener
#endif

namespace {

constexpr __u32 aucun_appel = 0xffffffff; // a number no system call has

// The filter, with the comparisons of a job not asked for made on a number
// no system call has (the jumps stay the same). Made in the started process,
// between fork and exec: nothing allocated.
std::array<sock_filter, 23> filtre_d_ecoute(bool sigchld, bool signaux)
{
    auto si = [&](bool voulu, __u32 valeur) { return voulu ? valeur : aucun_appel; };
    // Where each test jumps, by its index below.
    constexpr int laisser = 20, ecouter = 21, refuser = 22;
    auto vers = [](int depuis, int cible) { return static_cast<__u8>(cible - depuis - 1); };
    return {{
        /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, architecture, 0, vers(1, laisser)),
        /* 2 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(sigchld, SYS_rt_sigaction), 0, vers(3, 6)),
        /* 4 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIGCHLD, vers(5, ecouter), vers(5, laisser)),
        /* 6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_kill), vers(6, ecouter), 0),
        /* 7 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_tkill), vers(7, ecouter), 0),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_tgkill), vers(8, ecouter), 0),
        /* 9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_rt_sigqueueinfo),
                         vers(9, ecouter), 0),
        /* 10 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_rt_tgsigqueueinfo),
                          vers(10, ecouter), 0),
        // Its target is a descriptor, which another thread may change
        // between the check and the call: refused.
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_pidfd_send_signal),
                          vers(11, refuser), 0),
        /* 12 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_fcntl), 0, vers(12, 16)),
        /* 13 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[1])),
        /* 14 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_SETOWN, vers(14, ecouter), 0),
        // SIGIO's owners given in memory, which may change under the check.
        /* 15 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, F_SETOWN_EX, vers(15, refuser),
                          vers(15, laisser)),
        /* 16 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, si(signaux, SYS_ioctl), 0, vers(16, laisser)),
        /* 17 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[1])),
        /* 18 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x8901 /* FIOSETOWN */, vers(18, refuser), 0),
        /* 19 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x8902 /* SIOCSPGRP */, vers(19, refuser),
                          vers(19, laisser)),
        /* 20 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        /* 21 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        /* 22 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
    }};
}

// One byte, and room for one descriptor beside it: how a listener travels
// from the started program to its launcher. Points into itself: not copied.
struct MessageDescripteur {
    char octet = 0;
    struct iovec morceau = {&octet, 1};
    alignas(struct cmsghdr) char place[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message = {};
    MessageDescripteur()
    {
        message.msg_iov = &morceau;
        message.msg_iovlen = 1;
        message.msg_control = place;
        message.msg_controllen = sizeof place;
    }
    MessageDescripteur(const MessageDescripteur &) = delete;
    MessageDescripteur &operator=(const MessageDescripteur &) = delete;
};

void envoyer_descripteur(int canal, int fd)
{
    MessageDescripteur m;
    struct msghdr &message = m.message;
    struct cmsghdr *entete = CMSG_FIRSTHDR(&message);
    entete->cmsg_level = SOL_SOCKET;
    entete->cmsg_type = SCM_RIGHTS;
    entete->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(entete), &fd, sizeof fd);
    sendmsg(canal, &message, 0);
}

// --- the thread that receives every notification ---------------------------

std::mutex verrou;     // over ecoutes() and the thread's start
int reveil[2] = {-1, -1}; // a byte here: the set of listeners changed

void recevoir(int fd)
{
    struct seccomp_notif recue = {};
    if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &recue) != 0)
        return; // gone meanwhile
    Ecoute copie;
    {
        std::lock_guard garde(verrou);
        auto e = ecoutes().find(fd);
        if (e == ecoutes().end())
            return; // forgotten: closing it answers the call (ENOSYS)
        if (recue.data.nr == SYS_rt_sigaction) {
            e->second.demandes.push_back({recue.id, static_cast<pid_t>(recue.pid),
                                          recue.data.args[1] != 0, Horloge::now()});
            return;
        }
        copie.racine = e->second.racine;
        copie.depart = e->second.depart;
    }
    struct seccomp_notif_resp reponse = {};
    reponse.id = recue.id;
    int refus = refus_de_signal(recue, copie, fd);
    if (refus == 0)
        reponse.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    else
        reponse.error = -refus;
    ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &reponse); // fails if it has gone: no matter
}

[[noreturn]] void recevoir_toujours()
{
    for (;;) {
        std::vector<pollfd> attendus = {{reveil[0], POLLIN, 0}};
        {
            std::lock_guard garde(verrou);
            for (const auto &e : ecoutes())
                attendus.push_back({e.first, POLLIN, 0});
        }
        if (poll(attendus.data(), attendus.size(), -1) <= 0)
            continue;
        if (attendus[0].revents & POLLIN) {
            char vide[64];
            [[maybe_unused]] ssize_t n = read(reveil[0], vide, sizeof vide);
        }
        for (std::size_t k = 1; k < attendus.size(); k++)
            if (attendus[k].revents & POLLIN)
                recevoir(attendus[k].fd);
    }
}

void reveiller()
{
    [[maybe_unused]] ssize_t n = write(reveil[1], "", 1);
}

} // namespace

std::map<int, Ecoute> &ecoutes()
{
    static std::map<int, Ecoute> e;
    return e;
}

bool ecouter(int canal, bool sigchld, bool signaux)
{
    if (architecture == 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    auto filtre = filtre_d_ecoute(sigchld, signaux);
    struct sock_fprog programme = {static_cast<unsigned short>(filtre.size()), filtre.data()};
    long ecoute = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                          &programme);
    if (ecoute < 0)
        return false;
    if (canal >= 0)
        envoyer_descripteur(canal, static_cast<int>(ecoute));
    close(static_cast<int>(ecoute));
    return true;
}

int recevoir_ecoute(int canal)
{
    MessageDescripteur m;
    struct msghdr &message = m.message;
    if (recvmsg(canal, &message, MSG_CMSG_CLOEXEC) <= 0)
        return -1;
    struct cmsghdr *entete = CMSG_FIRSTHDR(&message);
    if (entete == nullptr || entete->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd;
    std::memcpy(&fd, CMSG_DATA(entete), sizeof fd);
    return fd;
}

void suivre_ecoute(int fd, pid_t racine)
{
    auto etat = lire_stat(racine);
    std::lock_guard garde(verrou);
    if (reveil[0] < 0) {
        if (pipe2(reveil, O_CLOEXEC | O_NONBLOCK) != 0)
            echec("impossible de créer un tube");
        // The thread takes no signal of the process's.
        sigset_t tous, avant;
        sigfillset(&tous);
        pthread_sigmask(SIG_SETMASK, &tous, &avant);
        std::thread(recevoir_toujours).detach();
        pthread_sigmask(SIG_SETMASK, &avant, nullptr);
    }
    ecoutes()[fd] = {racine, etat ? etat->depart : 0, {}};
    reveiller();
}

void oublier_ecoute(int fd)
{
    {
        std::lock_guard garde(verrou);
        ecoutes().erase(fd);
        close(fd);
    }
    reveiller();
}

// Lets through the changes that may go: reads that change nothing, and
// changes by a process none of whose children is alive, or that waited 2 s.
void servir_ecoutes()
{
    std::lock_guard garde(verrou);
    for (auto &ecoute : ecoutes()) {
        const int fd = ecoute.first; // named, for the lambda below (clang 14)
        std::erase_if(ecoute.second.demandes, [&](const Demande &d) {
            if (d.change && Horloge::now() - d.depuis < 2s && enfant_vivant(d.pid))
                return false;
            struct seccomp_notif_resp reponse = {};
            reponse.id = d.id;
            reponse.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
            ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &reponse); // fails if it has gone: no matter
            return true;
        });
    }
}

} // namespace lancement
