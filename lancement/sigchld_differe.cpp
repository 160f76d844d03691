// Deferring SIGCHLD's changes (Lancement::sigchld_differe): every
// rt_sigaction on SIGCHLD of the program goes to seccomp's listener, which
// the caller serves at each of its waits.
#include <cstring>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>

#include "interne.h"

namespace lancement {

#if defined(__x86_64__)
constexpr __u32 architecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr __u32 architecture = AUDIT_ARCH_AARCH64;
#else
constexpr __u32 architecture = 0; // not known here: nothing is deferred
#endif

std::map<int, std::vector<Demande>> &ecoutes()
{
    static std::map<int, std::vector<Demande>> e;
    return e;
}

// In the child: every rt_sigaction on SIGCHLD goes to the listener, which
// is sent to the parent over canal (nothing is sent if the kernel refuses).
void ecouter_sigchld(int canal)
{
    if (architecture == 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return;
    struct sock_filter filtre[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, architecture, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_rt_sigaction, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SIGCHLD, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog programme = {sizeof filtre / sizeof filtre[0], filtre};
    long ecoute = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                          &programme);
    if (ecoute < 0)
        return;
    char octet = 0;
    struct iovec morceau = {&octet, 1};
    alignas(struct cmsghdr) char place[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message = {};
    message.msg_iov = &morceau;
    message.msg_iovlen = 1;
    message.msg_control = place;
    message.msg_controllen = sizeof place;
    struct cmsghdr *entete = CMSG_FIRSTHDR(&message);
    entete->cmsg_level = SOL_SOCKET;
    entete->cmsg_type = SCM_RIGHTS;
    entete->cmsg_len = CMSG_LEN(sizeof(int));
    int fd = static_cast<int>(ecoute);
    std::memcpy(CMSG_DATA(entete), &fd, sizeof fd);
    sendmsg(canal, &message, 0);
    close(fd);
}

// In the parent: the listener the child sent, or -1.
int recevoir_ecoute(int canal)
{
    char octet;
    struct iovec morceau = {&octet, 1};
    alignas(struct cmsghdr) char place[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message = {};
    message.msg_iov = &morceau;
    message.msg_iovlen = 1;
    message.msg_control = place;
    message.msg_controllen = sizeof place;
    if (recvmsg(canal, &message, MSG_CMSG_CLOEXEC) <= 0)
        return -1;
    struct cmsghdr *entete = CMSG_FIRSTHDR(&message);
    if (entete == nullptr || entete->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd;
    std::memcpy(&fd, CMSG_DATA(entete), sizeof fd);
    return fd;
}

// Lets through the changes that may go: reads that change nothing, and
// changes by a process none of whose children is alive, or that waited 2 s.
void servir_ecoutes()
{
    for (auto &ecoute : ecoutes()) {
        const int fd = ecoute.first; // named, for the lambda below (clang 14)
        auto &demandes = ecoute.second;
        pollfd attente = {fd, POLLIN, 0};
        while (poll(&attente, 1, 0) > 0 && (attente.revents & POLLIN)) {
            struct seccomp_notif recue = {};
            if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &recue) != 0)
                break;
            demandes.push_back({recue.id, static_cast<pid_t>(recue.pid),
                                recue.data.args[1] != 0, Horloge::now()});
        }
        std::erase_if(demandes, [&](const Demande &d) {
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
