// Passes: another sound technique: SIGCHLD through a signalfd, polled with stdin.
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    sigset_t masque;
    sigemptyset(&masque);
    sigaddset(&masque, SIGCHLD);
    sigprocmask(SIG_BLOCK, &masque, NULL);
    int sfd = signalfd(-1, &masque, SFD_CLOEXEC);
    // With stdin closed, the new descriptor would be 0: keep it off stdin.
    if (sfd >= 0 && sfd < 3) {
        int autre = fcntl(sfd, F_DUPFD_CLOEXEC, 3);
        close(sfd);
        sfd = autre;
    }

    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");
    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0;
    }

    // Wait for either the key or the child's end; reap the child at once.
    struct pollfd attente[2] = {{.fd = 0, .events = POLLIN},
                                {.fd = sfd, .events = POLLIN}};
    while (sfd >= 0 && poll(attente, 2, -1) > 0 && attente[0].revents == 0) {
        struct signalfd_siginfo info;
        if (read(sfd, &info, sizeof info) == (ssize_t)sizeof info
            && waitpid(res_f, NULL, WNOHANG) == res_f)
            attente[1].fd = -1;
    }

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
