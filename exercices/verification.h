// One student's program checked against one exercise, its report written on
// stdout: all verifier does for each program it is given.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

#include "exercice.h"

namespace exercices {

struct Reglages {
    bool premier_echec = false; // stop at the first failed criterion
    // Where to write the report for programs too (see ecrire_rapport), or
    // nowhere.
    std::optional<std::filesystem::path> rapport;
    // Run the student's program even where the kernel cannot confine it.
    bool sans_confinement = false;
    // The program of arbre's exercise, imposed rather than read from the
    // prediction (a lab's graded tree).
    std::optional<unsigned long long> graine;
    std::optional<int> niveau;
};

struct Bilan {
    bool compile = true; // false: the source did not compile, nothing was checked
    int tenus = 0, echoues = 0, impossibles = 0, restants = 0;
    int code() const { return compile && echoues == 0 ? 0 : 1; }
};

// programme: a built program, or its .c or .cpp source, compiled first.
// dossier: verifier's own working folder (see preparer_dossier), where this
// program gets a folder of its own. dossier_bin: where the suite's programs
// are. Run as root, the program is compiled and run as an unprivileged user.
Bilan verifier_programme(const Exercice &exercice, const std::filesystem::path &programme,
                         const std::filesystem::path &dossier,
                         const std::filesystem::path &dossier_bin, const Reglages &reglages);

// The report for programs, one line each, fields separated by a tab (tabs
// and line ends in a text become blanks):
//     exercice  NOM  NOMBRE_DE_CRITERES
//     compilation  ok | echec           (for a source only)
//     critere  N  ok | echec | inverifiable | laisse  ENONCE  PREUVE
//     fin  TENUS  ECHOUES  INVERIFIABLES  LAISSES
// fin is last: a report without it is one whose check was cut short.
struct Rapport {
    std::string exercice;
    std::size_t criteres = 0;
    std::optional<bool> compile;
    struct Ligne {
        std::string verdict, enonce, preuve;
    };
    std::vector<Ligne> lignes;
    bool complet = false;
};
std::optional<Rapport> lire_rapport(const std::filesystem::path &fichier);

// What a file of a student's is, by its extension as the compiler reads it:
// .c is C; .cpp, .cc, .cxx and the same in capitals (.C, .CPP) are C++.
enum class Langage { aucun, c, cpp };
Langage langage(const std::filesystem::path &fichier);
bool est_une_source(const std::filesystem::path &fichier);
// The sources beside a built program that it may have been built from: the
// same name with a source's extension (keyhold1.cpp beside keyhold1).
std::vector<std::filesystem::path> sources_de(const std::filesystem::path &programme);

// Compiles a student's source into ici the way the suite compiles its
// programs, with the failure report, as the unprivileged user when run as
// root; the compiler's messages go straight to the student. Returns the
// program, or nothing (the compiler has said why).
std::optional<std::filesystem::path> compiler(const std::filesystem::path &source,
                                              const std::filesystem::path &dossier_bin,
                                              const std::filesystem::path &ici);

// A new working folder (verifier-XXXXXX in TMPDIR), which the unprivileged
// user can use, for every temporary file verifier and the programs make
// (the caller points TMPDIR to it). Throws if it cannot be made.
std::filesystem::path preparer_dossier();

// texte after debut, cut at blanks into lines of at most 80 columns, the
// following ones indented by retrait columns; each line ends with "\n".
std::string plier(std::string_view debut, std::string_view texte, std::size_t retrait);

} // namespace exercices
