// Passes: another sound technique: posix_spawnp instead of fork and execvp.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>

#include "signaler_echec.h"

extern char **environ;

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

    int code;
    pid_t fils;
    // posix_spawnp hands the exec's own error back to the parent.
    int erreur = posix_spawnp(&fils, argv[1], nullptr, nullptr, argv + 1, environ);
    if (erreur != 0) {
        fprintf(stderr, "Echec execvp : %s\n", strerror(erreur));
        code = (erreur == ENOENT) ? 127 : 126;
    } else {
        int statut;
        if (waitpid(fils, &statut, 0) == -1)
            signaler_echec("Echec waitpid ");
        code = WIFSIGNALED(statut) ? 128 + WTERMSIG(statut) : WEXITSTATUS(statut);
    }
    clock_gettime(CLOCK_MONOTONIC, &fin);

    double temps = static_cast<double>(fin.tv_sec - debut.tv_sec)
                   + static_cast<double>(fin.tv_nsec - debut.tv_nsec) / 1e9;
    fprintf(stderr, "temps écoulé : %lf secondes\n", temps);
    return code;
}
