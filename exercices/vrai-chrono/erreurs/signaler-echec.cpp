// Fails: une commande introuvable donne
// A student's mistake: the child fails through signaler_echec, so its code is errno (2), not 127.
#include <cstdio>
#include <ctime>
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

    timespec debut{}, fin{};
    clock_gettime(CLOCK_MONOTONIC, &debut);
    pid_t fils = fork();
    if (fils == -1)
        signaler_echec("Echec fork ");
    if (fils == 0) {
        execvp(argv[1], argv + 1);
        signaler_echec("Echec execvp ");
    }

    int statut;
    if (waitpid(fils, &statut, 0) == -1)
        signaler_echec("Echec waitpid ");
    clock_gettime(CLOCK_MONOTONIC, &fin);

    double temps = static_cast<double>(fin.tv_sec - debut.tv_sec)
                   + static_cast<double>(fin.tv_nsec - debut.tv_nsec) / 1e9;
    fprintf(stderr, "temps écoulé : %lf secondes\n", temps);

    if (WIFSIGNALED(statut))
        return 128 + WTERMSIG(statut);
    return WEXITSTATUS(statut);
}
