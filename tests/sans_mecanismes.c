// sans_mecanismes COMMANDE...: runs the command on a kernel that seems to lack
// the mechanisms of confinement: Landlock is missing (ENOSYS) and user
// namespaces are refused (EPERM), through a seccomp filter that every
// process of the command inherits. For the tests of what verifier says then.
#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/filter.h>
#include <linux/seccomp.h>

#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#endif

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage : sans_mecanismes COMMANDE...\n");
        return 2;
    }
    struct sock_filter filtre[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_landlock_create_ruleset, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_unshare, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog programme = {sizeof filtre / sizeof filtre[0], filtre};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &programme) != 0) {
        perror("sans_mecanismes : seccomp");
        return 2;
    }
    execvp(argv[1], argv + 1);
    perror("sans_mecanismes : execvp");
    return 127;
}
