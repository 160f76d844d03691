// How much rightwalker costs beyond its rand() calls.
//
// Runs rightwalker on N steps (default 10^8), and this program itself as a
// bare loop of N rand() calls, each as a process of its own started and timed
// the same way, in turn; prints both times (best of a few runs) and their
// ratio. The walk adds a remainder and an addition per step, so the ratio
// should stay close to 1.
//
//     build/bin/bench_marche [N] [runs]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using Horloge = std::chrono::steady_clock;

// Wall time from start to end of one process.
static double secondes(const char *programme, char *argv[])
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto debut = Horloge::now();
    pid_t pid;
    if (posix_spawn(&pid, programme, &actions, nullptr, argv, environ) != 0) {
        perror("posix_spawn");
        exit(1);
    }
    int statut;
    waitpid(pid, &statut, 0);
    std::chrono::duration<double> duree = Horloge::now() - debut;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(statut) || WEXITSTATUS(statut) != 0) {
        fprintf(stderr, "%s failed\n", programme);
        exit(1);
    }
    return duree.count();
}

// The reference: N draws and nothing else, seeded the same way.
static int boucle_rand(unsigned long n)
{
    srand(getpid());
    unsigned long somme = 0;
    for (unsigned long i = 0; i < n; i++)
        somme += rand();
    printf("%lu\n", somme); // keeps the calls observable
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 3 && std::string(argv[1]) == "--boucle")
        return boucle_rand(strtoul(argv[2], nullptr, 10));

    unsigned long n = argc > 1 ? strtoul(argv[1], nullptr, 10) : 100000000ul;
    int essais = argc > 2 ? atoi(argv[2]) : 5;
    std::string nb = std::to_string(n);
    char numero[] = "1", nom_marcheur[] = "rightwalker", option[] = "--boucle";
    char *argv_marcheur[] = {nom_marcheur, numero, nb.data(), nullptr};
    char *argv_boucle[] = {argv[0], option, nb.data(), nullptr};

    double meilleur_marcheur = 1e300, meilleur_rand = 1e300;
    for (int k = 0; k < essais; k++) {
        double m = secondes(CHEMIN_RIGHTWALKER, argv_marcheur);
        double r = secondes("/proc/self/exe", argv_boucle);
        if (m < meilleur_marcheur)
            meilleur_marcheur = m;
        if (r < meilleur_rand)
            meilleur_rand = r;
    }
    printf("steps                 %lu\n", n);
    printf("rightwalker           %.3f s\n", meilleur_marcheur);
    printf("bare rand() loop      %.3f s\n", meilleur_rand);
    printf("ratio                 %.3f (target: at most 1.05)\n", meilleur_marcheur / meilleur_rand);
    return 0;
}
