// How much rightwalker costs beyond its rand() calls.
//
// Runs rightwalker on N steps (default 10^8), and this program itself as a
// bare loop of N rand() calls, each as a process of its own started and timed
// the same way, in turn; prints both times (best of a few runs) and their
// ratio. The walk adds a remainder and an addition per step, so the ratio
// should stay close to 1.
//
//     build/bin/bench_marche [N] [runs]
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "duree_processus.h"

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
        double m = duree_processus(CHEMIN_RIGHTWALKER, argv_marcheur);
        double r = duree_processus("/proc/self/exe", argv_boucle);
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
