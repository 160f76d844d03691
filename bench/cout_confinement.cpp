// What confinement costs: one program started plain and confined, many
// times; then whole checks by verifier, as it is, on a kernel made to lack
// the confinement's mechanisms (sans_mecanismes, from the tests: neither
// files nor network confined), and with Linux 6.1's Landlock (landlock_ancien,
// from the tests), where seccomp's listener bounds signals, each call that
// signals going through a thread of verifier's.
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

#include "duree_processus.h"

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
    const char *usage = "usage : bench_confinement [ESSAIS]\n";
    int k = lire_options_banc(argc, argv, "bench_confinement", usage);
    if (argc - k > 1)
        return options::erreur_d_usage("bench_confinement", "un argument au plus : ESSAIS", usage);
    const int fois =
        k < argc ? static_cast<int>(nombre_banc(argv[k], "bench_confinement", usage)) : 100;
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

    // Whole checks: every program they start, the compiler's included.
    const int checks = std::max(3, fois / 20);
    for (const char *exercice : {"sans-zombie", "signaux"}) {
        std::vector<double> avec, sans, ancien;
        std::vector<std::string> args = {exercice,
                                         std::string(EXERCICES) + "/" + exercice + "/solution.cpp"};
        std::vector<std::string> sous = {CHEMIN_VERIFIER};
        sous.insert(sous.end(), args.begin(), args.end());
        for (int k = 0; k < checks; k++) {
            avec.push_back(duree({.programme = CHEMIN_VERIFIER, .arguments = args,
                                  .entree = Flux::nul}));
            sans.push_back(duree({.programme = CHEMIN_SANS_MECANISMES, .arguments = sous,
                                  .entree = Flux::nul}));
            ancien.push_back(duree({.programme = CHEMIN_VERIFIER, .arguments = args,
                                    .entree = Flux::nul,
                                    .environnement = {{"LD_PRELOAD", CHEMIN_LANDLOCK_ANCIEN}}}));
        }
        std::printf("verifier %s solution.cpp, median of %d: confined %.3f s (+%.0f ms a check "
                    "against files and network unconfined, %.3f s); with Linux 6.1's Landlock "
                    "%.3f s\n",
                    exercice, checks, mediane(avec), 1e3 * (mediane(avec) - mediane(sans)),
                    mediane(sans), mediane(ancien));
    }
    fs::remove_all(dossier);
}
