// Fails: dans un tube, l'annonce paraît une fois, avant | dans un tube, l'annonce paraît une seule fois même quand
// A student's mistake: fflush comes after the fork, so the child still holds a copy of the announcement,
// and the parent's flush races with the command's output: which criterion sees it first is the scheduler's.
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc <= 1) {
        fprintf(stderr, "temps écoulé : %lf secondes\n", 0.0);
        return 0;
    }
    printf("exécution de %s\n", argv[1]);

    struct timespec debut, fin;
    clock_gettime(CLOCK_MONOTONIC, &debut);
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");
    if (res == 0) {
        execvp(argv[1], &argv[1]);
        int code = errno == ENOENT ? 127 : 126;
        perror("Echec execvp ");
        exit(code);
    }
    fflush(stdout);
    int statut;
    waitpid(res, &statut, 0);
    clock_gettime(CLOCK_MONOTONIC, &fin);
    fprintf(stderr, "temps écoulé : %lf secondes\n",
            (fin.tv_sec - debut.tv_sec) + (fin.tv_nsec - debut.tv_nsec) / 1e9);
    return WIFSIGNALED(statut) ? 128 + WTERMSIG(statut) : WEXITSTATUS(statut);
}
