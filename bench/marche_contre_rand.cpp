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
#include <filesystem>
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

    const char *usage = "usage : bench_marche [PAS [ESSAIS]]\n";
    int k = lire_options_banc(argc, argv, "bench_marche", usage);
    if (argc - k > 2)
        return options::erreur_d_usage("bench_marche", "deux arguments au plus : PAS et ESSAIS",
                                       usage);
    unsigned long n = k < argc ? nombre_banc(argv[k], "bench_marche", usage) : 100000000ul;
    int essais = k + 1 < argc ? static_cast<int>(nombre_banc(argv[k + 1], "bench_marche", usage))
                              : 5;
    std::string nb = std::to_string(n);

    double meilleur_marcheur = 1e300, meilleur_rand = 1e300;
    // This very program, by the path of its file (not /proc/self/exe, which
    // names whatever process reads it).
    std::string moi = std::filesystem::read_symlink("/proc/self/exe").string();
    for (int essai = 0; essai < essais; essai++) {
        double m = duree_processus(CHEMIN_RIGHTWALKER, {"1", nb});
        double r = duree_processus(moi, {"--boucle", nb});
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
