// Passes: another sound technique: SIGCHLD through a signalfd, every ended walker reaped at each read.
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "Usage : %s <nb_marcheurs> <nb_pas>\n", argv[0]);
        return 1;
    }
    int n = atoi(argv[1]);
    pid_t pids[n > 0 ? n + 1 : 1];
    sigset_t masque, ancien;
    sigemptyset(&masque);
    sigaddset(&masque, SIGCHLD);
    sigprocmask(SIG_BLOCK, &masque, &ancien);
    int sfd = signalfd(-1, &masque, SFD_CLOEXEC);
    if (sfd == -1)
        signaler_echec("Echec signalfd ");

    for (int i = 1; i <= n; i++) {
        if ((pids[i] = fork()) == -1)
            signaler_echec("Echec fork ");
        if (pids[i] == 0) {
            sigprocmask(SIG_SETMASK, &ancien, NULL);
            char numero[16];
            snprintf(numero, sizeof numero, "%d", i);
            const char *prog = (i % 2 == 1) ? "rightwalker" : "leftwalker";
            execlp(prog, prog, numero, argv[2], (char *)NULL);
            perror("Echec execlp ");
            _exit(127);
        }
    }

    // One SIGCHLD may stand for several ends: reap all that are ready.
    int reste = n > 0 ? n : 0, tous_ok = 1, statut;
    struct signalfd_siginfo info;
    while (reste > 0 && read(sfd, &info, sizeof info) == (ssize_t)sizeof info) {
        pid_t p;
        while ((p = waitpid(-1, &statut, WNOHANG)) > 0) {
            int i = 1;
            while (i <= n && pids[i] != p)
                i++;
            int code = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
            tous_ok = tous_ok && code == 0;
            printf("\nmarcheur %d (pid %d) terminé, code %d", i, p, code);
            fflush(stdout);
            reste--;
        }
    }
    printf("\n");
    return tous_ok ? 0 : 1;
}
