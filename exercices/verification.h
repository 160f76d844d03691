// One student's program checked against one exercise, its report written on
// stdout: all verifier does for each program it is given.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "exercice.h"

namespace exercices {

struct Reglages {
    bool premier_echec = false; // stop at the first failed criterion
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
