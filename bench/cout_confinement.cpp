// What confinement costs: one program started plain and confined, many
// times; then a whole check by verifier, as it is and on a kernel made to lack
// the confinement's mechanisms (sans_mecanismes, from the tests), where
// nothing is confined.
//
//     build/bin/bench_confinement [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "lancement.h"

using namespace lancement;
using Horloge = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double mediane(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds a bounded run takes, start to end; a run that fails ends the benchmark.
double duree(const Lancement &l)
{
    auto debut = Horloge::now();
    Resultat r = executer(l, 120s);
    double s = std::chrono::duration<double>(Horloge::now() - debut).count();
    if (r.code != 0) {
        std::fprintf(stderr, "%s failed (%s)\n", l.programme.c_str(), r.sortie.c_str());
        std::exit(1);
    }
    return s;
}

} // namespace

int main(int argc, char *argv[])
{
    const int fois = argc > 1 ? std::atoi(argv[1]) : 100;
    fs::path dossier = fs::temp_directory_path() / ("bench-confinement-" + std::to_string(getpid()));
    fs::create_directories(dossier);
    Promesses p = promesses_du_confinement();
    std::printf("kernel keeps: files %s, signals %s, network %s\n", p.fichiers ? "yes" : "no",
                p.signaux ? "yes" : "no", p.reseau ? "yes" : "no");

    std::vector<double> libre, confine;
    for (int k = 0; k < fois; k++) {
        libre.push_back(duree({.programme = "/bin/true", .entree = Flux::nul}));
        confine.push_back(duree({.programme = "/bin/true", .entree = Flux::nul,
                                 .confinement = Confinement{dossier.string(), {}}}));
    }
    std::printf("/bin/true, median of %d: plain %.2f ms, confined %.2f ms (+%.2f ms a program)\n",
                fois, 1e3 * mediane(libre), 1e3 * mediane(confine),
                1e3 * (mediane(confine) - mediane(libre)));

    // A whole check: every program it starts, the compiler's included.
    std::vector<double> avec, sans;
    const int checks = std::max(3, fois / 20);
    std::vector<std::string> args = {"sans-zombie", SOLUTION};
    for (int k = 0; k < checks; k++) {
        avec.push_back(duree({.programme = CHEMIN_VERIFIER, .arguments = args,
                              .entree = Flux::nul}));
        std::vector<std::string> sous = {CHEMIN_VERIFIER};
        sous.insert(sous.end(), args.begin(), args.end());
        sans.push_back(duree({.programme = CHEMIN_SANS_MECANISMES, .arguments = sous,
                              .entree = Flux::nul}));
    }
    std::printf("verifier sans-zombie solution.cpp, median of %d: confined %.3f s, "
                "unconfined %.3f s (+%.0f ms a check)\n",
                checks, mediane(avec), mediane(sans), 1e3 * (mediane(avec) - mediane(sans)));
    fs::remove_all(dossier);
}
