// What one iteration of registres' loop costs, in processor cycles.
//
// The clock is learnt from chains of dependent one-cycle additions (each waits
// for the one before, so they run at one addition per cycle whatever the
// processor's width), timed just before and just after the program. registres
// is then timed as a process of its own, and so is the same source built
// without optimisation, for comparison.
//
//     build/bin/bench_registres [runs]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "duree_processus.h"
#include "frequence.h"

using Horloge = std::chrono::steady_clock;

constexpr double iterations = 1500000000.0;

// Best of a few runs, in cycles per iteration, with the clock read around each.
static void mesurer(const char *nom, const char *programme, int essais)
{
    double meilleur = 1e300, ghz = 0;
    for (int k = 0; k < essais; k++) {
        double avant = frequence_mesuree();
        double t = duree_processus(programme);
        double f = (avant + frequence_mesuree()) / 2;
        double cycles = t * f / iterations;
        if (cycles < meilleur) {
            meilleur = cycles;
            ghz = f / 1e9;
        }
    }
    printf("%-28s %6.2f cycles/iteration (clock %.2f GHz)\n", nom, meilleur, ghz);
}

int main(int argc, char *argv[])
{
    const char *usage = "usage : bench_registres [ESSAIS]\n";
    int k = lire_options_banc(argc, argv, "bench_registres", usage);
    if (argc - k > 1)
        return options::erreur_d_usage("bench_registres", "un seul argument, le nombre d'essais",
                                       usage);
    int essais = k < argc ? static_cast<int>(nombre_banc(argv[k], "bench_registres", usage)) : 3;
    mesurer("registres", CHEMIN_REGISTRES, essais);
    mesurer("registres, unoptimised", CHEMIN_REGISTRES_O0, 1);
    printf("bound set by the loop's dependency chain: about 6 to 7 cycles/iteration\n");
    return 0;
}
