// verifier, the exercises' checker, proven by students' programs: for every
// exercise of exercices/liste, the teacher's solution and every program in
// variantes/ (right, by another technique) pass; the unmodified program the
// exercise starts from fails; every program in erreurs/ (a mistake students
// make) fails on the criterion its first line names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lancement.h"

using namespace essai;
namespace fs = std::filesystem;

namespace {

struct Cas {
    std::string exercice;
    std::string programme; // built program or source
    std::string critere;   // empty: must pass; "*": must fail; else the criterion it fails
};

void PrintTo(const Cas &c, std::ostream *os) { *os << c.exercice << " " << c.programme; }

Resultat verifier(const std::vector<std::string> &arguments)
{
    return executer({.programme = CHEMIN_VERIFIER, .arguments = arguments}, 90s);
}

// The criterion a mistake fails, from its first line: "// Fails: ...".
std::string critere_annonce(const fs::path &source)
{
    std::ifstream f(source);
    std::string ligne;
    std::getline(f, ligne);
    const std::string marque = "// Fails: ";
    return ligne.starts_with(marque) ? ligne.substr(marque.size()) : "?";
}

std::vector<Cas> tous_les_cas()
{
    std::vector<Cas> cas;
    std::istringstream liste(EXERCICES);
    for (std::string nom; liste >> nom;) {
        cas.push_back({nom, std::string(DOSSIER_BIN) + "/solution-" + nom, ""});
        for (const char *sorte : {"variantes", "erreurs"}) {
            fs::path dossier = fs::path(DOSSIER_EXERCICES) / nom / sorte;
            if (!fs::is_directory(dossier))
                continue;
            std::vector<fs::path> sources;
            for (const auto &f : fs::directory_iterator(dossier))
                sources.push_back(f.path());
            std::sort(sources.begin(), sources.end());
            for (const auto &s : sources)
                cas.push_back({nom, s.string(),
                               std::string(sorte) == "erreurs" ? critere_annonce(s) : ""});
        }
    }
    return cas;
}

class Exercise : public testing::TestWithParam<Cas> {};

} // namespace

TEST_P(Exercise, JudgesTheStudentsProgramRight)
{
    const Cas &c = GetParam();
    auto r = verifier({c.exercice, c.programme});
    if (c.critere.empty()) {
        EXPECT_EQ(r.code, 0) << r.sortie << r.erreur;
        EXPECT_EQ(r.sortie.find("ÉCHEC"), std::string::npos) << r.sortie;
    } else {
        EXPECT_EQ(r.code, 1) << r.sortie << r.erreur;
        EXPECT_NE(r.sortie.find("  ÉCHEC  " + c.critere), std::string::npos) << r.sortie;
    }
}

INSTANTIATE_TEST_SUITE_P(, Exercise, testing::ValuesIn(tous_les_cas()), [](const auto &info) {
    std::string nom = info.param.exercice + "_" + fs::path(info.param.programme).stem().string();
    std::erase_if(nom, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
    return nom;
});

TEST(Verifier, FailsEveryStartingProgramItCanFind)
{
    // --list names, under each exercise, the program it starts from.
    auto liste = verifier({"--list"});
    ASSERT_EQ(liste.code, 0);
    std::istringstream noms(EXERCICES);
    for (std::string nom; noms >> nom;) {
        auto ligne = liste.sortie.find(nom);
        ASSERT_NE(ligne, std::string::npos) << liste.sortie;
        auto debut = liste.sortie.find("(à partir de ", ligne);
        ASSERT_NE(debut, std::string::npos) << liste.sortie;
        debut += std::string("(à partir de ").size();
        std::string depart =
            liste.sortie.substr(debut, liste.sortie.find(')', debut) - debut);
        fs::path programme = fs::path(DOSSIER_BIN) / depart;
        if (!fs::exists(programme))
            continue; // more than one program (the walkers): an erreurs/ source stands in
        auto r = verifier({nom, programme.string()});
        EXPECT_EQ(r.code, 1) << nom << "\n" << r.sortie;
        EXPECT_NE(r.sortie.find("  ÉCHEC  "), std::string::npos) << r.sortie;
    }
}

TEST(Verifier, SaysWhatItIsAskedWrong)
{
    EXPECT_EQ(verifier({"nulle-part", CHEMIN_GENREPORT}).code, 2);
    EXPECT_EQ(verifier({"ordre", "/nulle/part"}).code, 2);
}
