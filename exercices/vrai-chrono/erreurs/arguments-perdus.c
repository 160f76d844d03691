// Fails: stopclock sleep 0.25 lance sleep comme son fils
// A student's mistake: execlp(argv[1], argv[1], NULL): the command's arguments are lost.
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "temps écoulé : %lf secondes\n", 0.0);
        return 0;
    }

    printf("exécution de %s\n", argv[1]);
    // Out before the fork, or the child would carry a copy of it.
    fflush(stdout);

    struct timespec debut, fin;
    clock_gettime(CLOCK_MONOTONIC, &debut);
    pid_t fils = fork();
    if (fils == -1)
        signaler_echec("Echec fork ");
    if (fils == 0) {
        execlp(argv[1], argv[1], (char *)NULL);
        int numero = errno;
        perror("Echec execvp ");
        _exit(numero == ENOENT ? 127 : 126);
    }

    int statut;
    if (waitpid(fils, &statut, 0) == -1)
        signaler_echec("Echec waitpid ");
    clock_gettime(CLOCK_MONOTONIC, &fin);

    double temps = (double)(fin.tv_sec - debut.tv_sec)
                   + (double)(fin.tv_nsec - debut.tv_nsec) / 1e9;
    fprintf(stderr, "temps écoulé : %lf secondes\n", temps);

    if (WIFSIGNALED(statut))
        return 128 + WTERMSIG(statut);
    return WEXITSTATUS(statut);
}
