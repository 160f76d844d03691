// A lab session: what a student starts from and builds by hand, the printed
// handout, and a whole class checked at once by verifier EXERCICE DOSSIER.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "lancement.h"

using namespace essai;
namespace fs = std::filesystem;

namespace {

Resultat lancer(const std::string &programme, const std::vector<std::string> &arguments)
{
    return executer({.programme = programme, .arguments = arguments}, 90s);
}

std::string lire(const fs::path &chemin)
{
    std::ifstream f(chemin);
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

std::vector<std::string> lignes_de(const std::string &texte)
{
    std::vector<std::string> lignes;
    std::istringstream lu(texte);
    for (std::string l; std::getline(lu, l);)
        lignes.push_back(l);
    return lignes;
}

std::vector<std::string> exercices()
{
    std::vector<std::string> noms;
    std::istringstream liste(EXERCICES);
    for (std::string nom; liste >> nom;)
        noms.push_back(nom);
    return noms;
}

std::size_t colonnes(const std::string &ligne)
{
    return std::count_if(ligne.begin(), ligne.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// A temporary folder, removed at the end.
struct Dossier {
    const fs::path chemin = fs::temp_directory_path() /
                            ("classe-" + std::to_string(getpid()) + "-" + std::to_string(rand()));
    Dossier() { fs::create_directories(chemin); }
    ~Dossier() { fs::remove_all(chemin); }
};

// A statement's prose: its lines outside code blocks, code spans removed.
std::vector<std::string> prose(const std::string &enonce)
{
    std::vector<std::string> texte;
    for (auto ligne : lignes_de(enonce))
        if (!ligne.starts_with("    ")) {
            ligne = std::regex_replace(ligne, std::regex("`[^`]*`"), "`");
            texte.push_back(ligne);
        }
    return texte;
}

// The words of a text as pdftotext gives them back: lowdown's curly
// apostrophe and ellipsis, and groff's ligatures, read as typed.
std::string normaliser(std::string t)
{
    for (auto [de, vers] : {std::pair{"’", "'"}, {"…", "..."}, {"ﬁ", "fi"}, {"ﬂ", "fl"},
                            {"\u00a0", " "}, {"\u202f", " "}})
        for (std::size_t p; (p = t.find(de)) != std::string::npos;)
            t.replace(p, std::string(de).size(), vers);
    return t;
}

std::vector<std::string> mots(const std::string &texte)
{
    std::vector<std::string> vus;
    std::istringstream lu(normaliser(texte));
    for (std::string m; lu >> m;)
        vus.push_back(m);
    return vus;
}

} // namespace

TEST(Classe, ChecksEveryCopyOfAFolderAsOneByOneRunsDoAndWritesTheGradebook)
{
    Dossier rendus;
    fs::copy_file(fs::path(DOSSIER_SOURCE) / "exercices/sans-zombie/solution.cpp",
                  rendus.chemin / "bon.cpp");
    fs::copy_file(fs::path(DOSSIER_SOURCE) / "process_creation/keyhold1.cpp",
                  rendus.chemin / "zombie.cpp");
    std::ofstream(rendus.chemin / "casse.c") << "int main(void) { return 0 }\n";
    fs::path csv = rendus.chemin / "notes.csv";

    auto classe =
        lancer(CHEMIN_VERIFIER, {"sans-zombie", rendus.chemin.string(), "--csv", csv.string()});
    EXPECT_EQ(classe.code, 1) << classe.sortie << classe.erreur;
    auto affiche = lignes_de(classe.sortie);
    ASSERT_EQ(affiche.size(), 5u) << classe.sortie; // title, three copies, summary
    for (const auto &l : affiche)
        EXPECT_LE(colonnes(l), 80u) << l;

    // Each copy alone, as the CSV must report it.
    struct Seul {
        long tenus = 0, total = 0;
        std::string premier_echec;
    };
    auto seul = [&](const std::string &fichier) {
        auto r = lancer(CHEMIN_VERIFIER, {"sans-zombie", (rendus.chemin / fichier).string()});
        Seul s;
        for (const auto &l : lignes_de(r.sortie)) {
            s.tenus += l.starts_with("  ok ");
            s.total += l.starts_with("  ok ") || l.starts_with("  ÉCHEC ");
            if (l.starts_with("  ÉCHEC ") && s.premier_echec.empty())
                s.premier_echec = l.substr(l.find_first_not_of(' ', 8));
        }
        return s;
    };
    Seul bon = seul("bon.cpp"), zombie = seul("zombie.cpp");
    ASSERT_GT(bon.total, 0) << "the solution's report was not read";
    ASSERT_FALSE(zombie.premier_echec.empty()) << "keyhold1 unchanged should fail";

    auto rangs = lignes_de(lire(csv));
    ASSERT_EQ(rangs.size(), 4u) << lire(csv);
    EXPECT_EQ(rangs[0], "fichier;critères tenus;critères;premier critère échoué");
    std::string total = std::to_string(bon.total);
    EXPECT_EQ(rangs[1], "bon.cpp;" + total + ";" + total + ";");
    EXPECT_EQ(rangs[2], "casse.c;0;" + total + ";la source ne compile pas");
    EXPECT_TRUE(rangs[3].starts_with("zombie.cpp;" + std::to_string(zombie.tenus) + ";" + total +
                                     ";" + zombie.premier_echec))
        << rangs[3] << "\nalone: " << zombie.premier_echec;
}

TEST(Enonce, SaysWhereToCopyFromAndHowToBuildWhatTheStudentStartsFrom)
{
    for (const auto &nom : exercices()) {
        fs::path ici = fs::path(DOSSIER_SOURCE) / "exercices" / nom;
        std::string enonce = lire(ici / "enonce.md");
        std::set<std::string> installes = {"enonce.md", "enonce.pdf"};
        for (const auto &depart : lignes_de(lire(ici / "depart"))) {
            if (depart.empty() || depart.starts_with("#"))
                continue;
            std::string fichier = fs::path(depart).filename();
            installes.insert(fichier);
            EXPECT_NE(enonce.find("/usr/share/processus-en-direct/exercices/" + nom + "/" +
                                  fichier),
                      std::string::npos)
                << nom << ": the statement does not say where " << fichier << " is installed";
            EXPECT_NE(enonce.find("verifier --construire " + fichier), std::string::npos)
                << nom << ": the statement does not say how to build " << fichier;

            // The statement's command, in a folder of the student's.
            Dossier chez_soi;
            fs::copy_file(fs::path(DOSSIER_SOURCE) / depart, chez_soi.chemin / fichier);
            auto r = lancer("/bin/sh", {"-c", "cd \"$1\" && exec \"$2\" --construire \"$3\"", "sh",
                                        chez_soi.chemin.string(), CHEMIN_VERIFIER, fichier});
            EXPECT_EQ(r.code, 0) << nom << ": " << r.sortie << r.erreur;
            EXPECT_EQ(access((chez_soi.chemin / fs::path(fichier).stem()).c_str(), X_OK), 0)
                << nom << ": no program built beside " << fichier;
        }
        // Every file the statement says is installed is.
        std::regex chemin("/usr/share/processus-en-direct/exercices/" + nom + "/([^ `]+)");
        for (std::sregex_iterator i(enonce.begin(), enonce.end(), chemin), fin; i != fin; ++i)
            EXPECT_TRUE(installes.contains((*i)[1]))
                << nom << ": " << (*i)[0] << " is not installed";
        // French typography: no plain blank where a non-breaking one belongs.
        std::regex blanc_ordinaire("« | (:|;|\\?|!|»)|«$|^(:|;|\\?|!|»)");
        for (const auto &ligne : prose(enonce))
            EXPECT_FALSE(std::regex_search(ligne, blanc_ordinaire)) << nom << ": " << ligne;
    }
}

TEST(Polycopie, HoldsEveryWordOfTheStatementsWithTheirNonBreakingSpaces)
{
    if (!POLYCOPIE) {
        if (std::getenv("CI"))
            FAIL() << "the handout was not built: install lowdown and groff";
        GTEST_SKIP() << "the handout was not built (lowdown or groff missing)";
    }
    std::vector<std::pair<fs::path, std::vector<std::string>>> pdfs;
    std::vector<std::string> tous;
    for (const auto &nom : exercices()) {
        pdfs.push_back({fs::path(DOSSIER_BUILD) / "exercices" / nom / "enonce.pdf", {nom}});
        tous.push_back(nom);
    }
    pdfs.push_back({fs::path(DOSSIER_BUILD) / "exercices/enonces.pdf", tous});

    for (const auto &[pdf, noms] : pdfs) {
        auto extrait = lancer(PDFTOTEXT, {"-enc", "UTF-8", pdf.string(), "-"});
        ASSERT_EQ(extrait.code, 0) << pdf << ": " << extrait.erreur
                                   << " (pdftotext comes with poppler-utils)";
        // Each page ends with its number: left out.
        std::string texte = std::regex_replace(extrait.sortie, std::regex("\n\\d+\n*\f"), "\n");
        auto lignes = lignes_de(normaliser(texte));

        std::vector<std::string> attendus;
        for (const auto &nom : noms) {
            std::string enonce =
                lire(fs::path(DOSSIER_SOURCE) / "exercices" / nom / "enonce.md");
            enonce = std::regex_replace(enonce, std::regex("`|(^|\n)#+ "), "$1");
            auto m = mots(enonce);
            attendus.insert(attendus.end(), m.begin(), m.end());

            // Words tied by a non-breaking space share a line of the PDF.
            std::istringstream lu(enonce);
            for (std::string groupe; lu >> groupe;) {
                if (groupe.find("\u00a0") == std::string::npos &&
                    groupe.find("\u202f") == std::string::npos)
                    continue;
                groupe = normaliser(groupe);
                EXPECT_TRUE(std::any_of(lignes.begin(), lignes.end(), [&](const std::string &l) {
                    return l.find(groupe) != std::string::npos;
                })) << pdf.filename() << ": « " << groupe << " » is not whole on one line";
            }
        }
        // Nothing cut, lost or added: the same words, in the same order.
        auto lus = mots(texte);
        auto [a, l] = std::mismatch(attendus.begin(), attendus.end(), lus.begin(), lus.end());
        auto voisins = [](auto debut, auto fin, auto ici) {
            std::string t;
            for (auto m = ici - std::min<long>(ici - debut, 4); m != fin && m != ici + 4; ++m)
                t += *m + " ";
            return t;
        };
        EXPECT_TRUE(a == attendus.end() && l == lus.end())
            << pdf << "\nthe statement: " << voisins(attendus.begin(), attendus.end(), a)
            << "\nthe PDF:       " << voisins(lus.begin(), lus.end(), l);
        for (const auto &l : lignes)
            EXPECT_FALSE(std::regex_search(l, std::regex("^\\s*(:|;|\\?|!|»)|«\\s*$")))
                << pdf << ": " << l;
    }
}
