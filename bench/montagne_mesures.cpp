// montagne as a user runs it, several times in a row: how long a whole run
// takes, its fastest figure in bytes per clock cycle, its slowest, and how far
// apart they are. Options after the number of runs go to montagne.
//
//     build/bin/bench_montagne [runs [montagne's options...]]
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "duree_processus.h"

namespace fs = std::filesystem;

const std::string ESP = "\xC2\xA0"; // montagne's non-breaking space

// The figure written after `repere` in montagne's French: digits grouped by
// non-breaking spaces, a decimal comma, the line possibly folded before it.
static double figure_apres(const std::string &texte, const std::string &repere)
{
    size_t k = texte.find(repere);
    if (k == std::string::npos) {
        fprintf(stderr, "no \"%s\" in montagne's output\n", repere.c_str());
        exit(1);
    }
    for (k += repere.size(); k < texte.size() && (texte[k] == ' ' || texte[k] == '\n');)
        k++;
    std::string chiffres;
    while (k < texte.size()) {
        if (isdigit(static_cast<unsigned char>(texte[k])))
            chiffres += texte[k++];
        else if (texte[k] == ',')
            chiffres += '.', k++;
        else if (texte.compare(k, 2, ESP) == 0 && k + 2 < texte.size() && isdigit(static_cast<unsigned char>(texte[k + 2])))
            k += 2;
        else
            break;
    }
    return std::atof(chiffres.c_str());
}

int main(int argc, char *argv[])
{
    const char *usage = "usage : bench_montagne [ESSAIS [OPTIONS DE MONTAGNE...]]\n";
    int k = lire_options_banc(argc, argv, "bench_montagne", usage);
    int essais = k < argc ? static_cast<int>(nombre_banc(argv[k], "bench_montagne", usage)) : 3;
    fs::path svg = fs::temp_directory_path() / ("bench_montagne-" + std::to_string(getpid()));
    std::vector<std::string> arguments{"--svg", svg.string()};
    for (k++; k < argc; k++)
        arguments.push_back(argv[k]);

    double pire_duree = 0, meilleur_ratio = 1e300;
    for (int essai = 1; essai <= essais; essai++) {
        double duree;
        std::string sortie = lancer_programme(CHEMIN_MONTAGNE, arguments, true, duree);
        std::replace(sortie.begin(), sortie.end(), '\n', ' '); // unfold the paragraphs
        double rapide = figure_apres(sortie, "Le plus rapide" + ESP + ": ");
        double par_cycle = figure_apres(sortie, "), soit ");
        double horloge = figure_apres(sortie, "horloge mesurée" + ESP + ": ");
        double lent = figure_apres(sortie, "Le plus lent" + ESP + ": ");
        printf("run %d: %5.1f s   fastest %6.1f GB/s = %5.1f bytes/cycle at %.2f GHz   "
               "slowest %.4f GB/s   ratio %.0f\n",
               essai, duree, rapide, par_cycle, horloge, lent, rapide / lent);
        pire_duree = std::max(pire_duree, duree);
        meilleur_ratio = std::min(meilleur_ratio, rapide / lent);
    }
    fs::remove(svg);
    printf("longest run %.1f s (limit: 60 s); smallest ratio %.0f (at least 10 wanted)\n",
           pire_duree, meilleur_ratio);
    return 0;
}
