// What a class check reads and writes: the lab (a SEANCE file, or one
// exercise), the students' copies found in their folders, and the results
// on the screen, in the gradebook (--csv) and in the feedback folders
// (--retours).
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "classe.h"
#include "exercice.h"

namespace exercices {

// One line of the SEANCE file: EXERCICE POIDS FICHIER [graine=N] [niveau=N].
struct ExerciceDeSeance {
    const Exercice *exercice = nullptr;
    double poids = 1;
    std::string fichier; // the copy's name in each student's folder
    std::optional<unsigned long long> graine;
    std::optional<int> niveau;
};

// What one check of one copy gave.
struct Note {
    int tenus = 0;
    std::string remarque; // « absent », « la source ne compile pas », the first criterion failed
    std::string texte;    // verifier's report, as the student reads it
};

struct Eleve {
    std::string dossier; // the folder's name (a flat folder: the copy's)
    std::string identifiant, nom;
    std::vector<std::optional<std::filesystem::path>> copies; // one an exercise
    std::vector<Note> notes;
};

struct Classe {
    bool seance = false;
    std::vector<ExerciceDeSeance> exercices;
    std::vector<Eleve> eleves; // in the order of a French class list
    struct Ignore {
        std::string chemin, raison;
    };
    std::vector<Ignore> ignores;
};

// The lab and its students; nothing, and erreur says why (every line of the
// SEANCE file that does not read, with its number), otherwise.
std::optional<Classe> lire_la_seance(const std::filesystem::path &seance,
                                     const std::filesystem::path &dossier, std::string &erreur);
std::optional<Classe> lire_un_dossier(const std::string &exercice,
                                      const std::filesystem::path &dossier, std::string &erreur);
void montrer_les_ignores(const Classe &classe);

// Whether a precedes b in a French class list: accents and case aside,
// numbers by their value (« élève2 » before « élève10 »).
bool avant(const std::string &a, const std::string &b);

// A check's progress, on one line of the terminal (nothing elsewhere).
class Avancement {
public:
    explicit Avancement(std::size_t total);
    void une_de_plus();
    void montrer(); // after the lines written since
    void effacer();

private:
    std::size_t total_, faites_ = 0;
    std::chrono::steady_clock::time_point debut_;
    bool montre_ = false;
};

// The screen, the gradebook and the feedback folders, a student at a time.
class Sorties {
public:
    // erreur says what cannot be written, before anything runs.
    Sorties(const Classe &classe, const OptionsClasse &options, std::string &erreur);
    ~Sorties();
    Sorties(const Sorties &) = delete;
    Sorties &operator=(const Sorties &) = delete;
    void titre(unsigned paralleles);
    void eleve(std::size_t numero);
    // The summary; returns verifier's exit status.
    int bilan(std::size_t faits, int interruption);

private:
    void ecrire_le_rang(const Eleve &eleve, double note);
    void ecrire_les_retours(const Eleve &eleve);

    const Classe &classe_;
    const OptionsClasse &options_;
    std::FILE *csv_ = nullptr;
    std::size_t reussis_ = 0;
    double somme_ = 0;
};

} // namespace exercices
