// Fails: chaque marcheur est annoncé une fois
// A student's mistake: the line feed after each line instead of before.
#include <stdio.h>
#include <stdlib.h>
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
    if (n < 0)
        n = 0;
    pid_t *pids = calloc((size_t)n + 1, sizeof *pids);

    for (int i = 1; i <= n; i++) {
        pid_t p = fork();
        if (p == -1)
            signaler_echec("Echec fork ");
        if (p == 0) {
            char numero[16];
            snprintf(numero, sizeof numero, "%d", i);
            const char *prog = (i % 2 == 1) ? "rightwalker" : "leftwalker";
            execlp(prog, prog, numero, argv[2], (char *)NULL);
            perror("Echec execlp ");
            _exit(127);
        }
        pids[i] = p;
    }

    // wait() returns whichever walker ends first.
    int tous_ok = 1;
    for (int reste = n; reste > 0; reste--) {
        int statut;
        pid_t p = wait(&statut);
        if (p == -1)
            signaler_echec("Echec wait ");
        int i = 1;
        while (i <= n && pids[i] != p)
            i++;
        int code = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
        if (code != 0)
            tous_ok = 0;
        printf("marcheur %d (pid %d) terminé, code %d\n", i, p, code);
        fflush(stdout);
    }
    printf("\n");
    free(pids);
    return tous_ok ? 0 : 1;
}
