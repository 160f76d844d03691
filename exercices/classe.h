// A whole class checked at once: every copy of a folder for one exercise
// (verifier EXERCICE DOSSIER), or a lab of several exercises, one folder a
// student as a course platform delivers them (verifier --seance SEANCE DOSSIER).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

struct OptionsClasse {
    std::string exercice; // a flat folder's exercise, without --seance
    std::optional<std::filesystem::path> seance;
    std::filesystem::path dossier;
    std::optional<std::filesystem::path> csv, retours;
    bool sans_confinement = false; // passed on to each copy's verifier
    unsigned paralleles = 0;       // copies checked at once; 0: one a core
};

// Returns verifier's exit status.
int verifier_classe(const OptionsClasse &options);
