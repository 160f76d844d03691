// Passes: another sound technique: elapsed time from times(), a clock of 10 ms ticks.
#include <errno.h>
#include <stdio.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "temps écoulé : %lf secondes\n", 0.0);
        return 0;
    }

    printf("exécution de %s\n", argv[1]);
    fflush(stdout);

    // times() returns the real time elapsed since a fixed point, in ticks.
    struct tms cpu;
    clock_t debut = times(&cpu);
    pid_t fils = fork();
    if (fils == -1)
        signaler_echec("Echec fork ");
    if (fils == 0) {
        execvp(argv[1], argv + 1);
        int numero = errno;
        perror("Echec execvp ");
        _exit(numero == ENOENT ? 127 : 126);
    }

    int statut;
    if (waitpid(fils, &statut, 0) == -1)
        signaler_echec("Echec waitpid ");
    clock_t fin = times(&cpu);

    double temps = (double)(fin - debut) / (double)sysconf(_SC_CLK_TCK);
    fprintf(stderr, "temps écoulé : %lf secondes\n", temps);
    return WIFSIGNALED(statut) ? 128 + WTERMSIG(statut) : WEXITSTATUS(statut);
}
