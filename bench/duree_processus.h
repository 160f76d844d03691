// What the benchmarks share: timing one program run as a process of its own,
// started by lancement as every program of the suite is, and the way they
// are called (getopt_long: -h, --help, --version; a mistake, status 2).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <getopt.h>

#include "lancement.h"
#include "options.h"
#include "texte.h"

// A run longer than this is stopped: the benchmark ends then.
constexpr lancement::Duree limite_banc = std::chrono::minutes(10);

// Runs the program with these arguments, its stdout collected (or sent to
// /dev/null), its stderr the benchmark's own; secondes is the wall time from
// its start to its end. A run that does not end with status 0 ends the
// benchmark: its time would mean nothing.
inline std::string lancer_programme(const std::string &programme,
                                    const std::vector<std::string> &arguments, bool garder,
                                    double &secondes)
{
    lancement::Lancement l;
    l.programme = programme;
    l.arguments = arguments;
    l.entree = lancement::Flux::nul;
    l.sortie = garder ? lancement::Flux::tube : lancement::Flux::nul;
    l.erreur = lancement::Flux::herite;
    lancement::Resultat r;
    try {
        r = lancement::executer(l, limite_banc);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::exit(1);
    }
    if (r.code != 0) {
        std::fprintf(stderr, "%s failed\n", programme.c_str());
        std::exit(1);
    }
    secondes = r.secondes;
    return r.sortie;
}

// Wall time, in seconds, of one run, its stdout sent to /dev/null.
inline double duree_processus(const std::string &programme,
                              const std::vector<std::string> &arguments = {})
{
    double secondes = 0;
    lancer_programme(programme, arguments, false, secondes);
    return secondes;
}

// The benchmark's options: -h and --help print usage (status 0), --version
// the suite's version; any other option is a mistake (status 2). Scanning
// stops at the first operand, so that what follows is the benchmark's own
// (or the program's). Returns the index of the first operand, or exits.
inline int lire_options_banc(int argc, char *argv[], const char *nom, const char *usage)
{
    static const option longues[] = {{"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, 'V'},
                                     {nullptr, 0, nullptr, 0}};
    for (int r; (r = getopt_long(argc, argv, "+:h", longues, nullptr)) != -1;) {
        if (r == 'h') {
            std::fputs(texte::typographie(usage).c_str(), stdout);
            std::exit(0);
        }
        if (r == 'V')
            std::exit(options::montrer_version(nom));
        std::exit(options::erreur_d_usage(nom, options::faute(r, argv), usage));
    }
    return optind;
}

// An operand that must be a whole number of at least 1 (a count of runs, of
// steps), or a usage mistake.
inline unsigned long nombre_banc(const char *texte, const char *nom, const char *usage)
{
    char *fin = nullptr;
    unsigned long n = std::strtoul(texte, &fin, 10);
    if (*texte < '0' || *texte > '9' || *fin != '\0' || n == 0)
        std::exit(options::erreur_d_usage(
            nom, "il faut un nombre entier positif, pas " + texte::citer(texte), usage));
    return n;
}
