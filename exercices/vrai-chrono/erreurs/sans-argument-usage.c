// Fails: sans argument, rien ne change
// A student's mistake: without a command it prints a usage message and ends with 1.
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc <= 1) {
        fprintf(stderr, "usage : stopclock CMD ARGS...\n");
        return 1;
    }
    printf("exécution de %s\n", argv[1]);
    fflush(stdout);

    struct timespec debut, fin;
    clock_gettime(CLOCK_MONOTONIC, &debut);
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");
    if (res == 0) {
        execvp(argv[1], &argv[1]);
        int code = errno == ENOENT ? 127 : 126;
        perror("Echec execvp ");
        _exit(code);
    }
    int statut;
    waitpid(res, &statut, 0);
    clock_gettime(CLOCK_MONOTONIC, &fin);
    fprintf(stderr, "temps écoulé : %lf secondes\n",
            (fin.tv_sec - debut.tv_sec) + (fin.tv_nsec - debut.tv_nsec) / 1e9);
    return WIFSIGNALED(statut) ? 128 + WTERMSIG(statut) : WEXITSTATUS(statut);
}
