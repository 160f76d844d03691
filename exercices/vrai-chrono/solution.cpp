// Solution of the exercise "vrai-chrono": a stopclock that times.
//
// stopclock CMD ARGS... announces CMD, runs it as its child (fork, execvp,
// waitpid) and reports the real elapsed time, read on a monotonic clock that
// no change of the date can disturb. It ends with the command's own status.
#include <cstdio>
#include <cerrno>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    double temps_ecoule = 0.0;

    if (argc <= 1) {
        fprintf(stderr, "temps écoulé : %lf secondes\n", temps_ecoule);
        return 0;
    }

    printf("exécution de %s\n", argv[1]);
    // Written out before the fork: otherwise the child would carry a copy of
    // this line in its buffer and write it a second time if its exec failed.
    fflush(stdout);

    struct timespec debut, fin;
    clock_gettime(CLOCK_MONOTONIC, &debut);

    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");
    if (res == 0) {
        execvp(argv[1], &argv[1]);
        // As the shell does: 127 when the command is not found, 126 when it
        // is there but cannot be run.
        int code = (errno == ENOENT) ? 127 : 126;
        perror("Echec execvp ");
        _exit(code);
    }

    int statut;
    waitpid(res, &statut, 0);
    clock_gettime(CLOCK_MONOTONIC, &fin);
    temps_ecoule = (fin.tv_sec - debut.tv_sec) + (fin.tv_nsec - debut.tv_nsec) / 1e9;

    fprintf(stderr, "temps écoulé : %lf secondes\n", temps_ecoule);
    if (WIFSIGNALED(statut))
        return 128 + WTERMSIG(statut);
    return WEXITSTATUS(statut);
}
