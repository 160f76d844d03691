// A lab session: what a student starts from and builds by hand, the printed
// handout, and a whole class checked at once by verifier EXERCICE DOSSIER.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

const fs::path source = DOSSIER_SOURCE;

Resultat lancer(const std::string &programme, const std::vector<std::string> &arguments)
{
    return executer({.programme = programme, .arguments = arguments}, 90s);
}

std::string lire(const fs::path &chemin)
{
    std::ifstream f(chemin);
    return {std::istreambuf_iterator<char>(f), {}};
}

// The lines (or, with a blank separator, the words) of a text.
std::vector<std::string> decouper(const std::string &texte, bool mots = false)
{
    std::vector<std::string> parties;
    std::istringstream lu(texte);
    for (std::string p; mots ? bool(lu >> p) : bool(std::getline(lu, p));)
        parties.push_back(p);
    return parties;
}

std::vector<std::string> exercices() { return decouper(EXERCICES, true); }

long colonnes(const std::string &l)
{
    return std::count_if(l.begin(), l.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

struct Dossier {
    const fs::path chemin = fs::temp_directory_path() / ("classe-" + std::to_string(getpid()) +
                                                         "-" + std::to_string(rand()));
    Dossier() { fs::create_directories(chemin); }
    ~Dossier() { fs::remove_all(chemin); }
};

// A text as pdftotext gives it back: plain blanks for non-breaking ones, and
// lowdown's curly apostrophe and ellipsis, groff's ligatures, as typed.
std::string normaliser(std::string t)
{
    for (auto [de, vers] : {std::pair{"’", "'"}, {"…", "..."}, {"ﬁ", "fi"}, {"ﬂ", "fl"},
                            {"\u00a0", " "}, {"\u202f", " "}})
        for (std::size_t p; (p = t.find(de)) != std::string::npos;)
            t.replace(p, std::string(de).size(), vers);
    return t;
}

} // namespace

TEST(Classe, ChecksEveryCopyOfAFolderAsARunAloneDoesAndWritesTheGradebook)
{
    Dossier rendus;
    fs::copy_file(source / "exercices/sans-zombie/solution.cpp", rendus.chemin / "bon.cpp");
    fs::copy_file(source / "process_creation/keyhold1.cpp", rendus.chemin / "zombie.cpp");
    // Its name would open as a formula in a spreadsheet.
    std::ofstream(rendus.chemin / "=casse.c") << "int main(void) { return 0 }\n";
    fs::path csv = rendus.chemin / "notes.csv";

    auto r = lancer(CHEMIN_VERIFIER, {"sans-zombie", rendus.chemin, "--csv", csv});
    EXPECT_EQ(r.code, 1) << r.sortie << r.erreur;
    ASSERT_EQ(decouper(r.sortie).size(), 5u) << r.sortie; // title, three copies, summary
    for (const auto &l : decouper(r.sortie))
        EXPECT_LE(colonnes(l), 80) << l;

    // The unchanged program alone: what it holds, and the first criterion it fails.
    auto seul = lancer(CHEMIN_VERIFIER, {"sans-zombie", rendus.chemin / "zombie.cpp"});
    std::smatch premier;
    ASSERT_TRUE(std::regex_search(seul.sortie, premier, std::regex("\n  ÉCHEC  ([^\n]*)")))
        << seul.sortie;
    std::regex ok("\n  ok ");
    auto tenus = std::distance(std::sregex_iterator(seul.sortie.begin(), seul.sortie.end(), ok),
                               std::sregex_iterator());

    auto rangs = decouper(lire(csv));
    ASSERT_EQ(rangs.size(), 4u) << lire(csv);
    EXPECT_EQ(rangs[0], "\xEF\xBB\xBF" "fichier;critères tenus;critères;premier critère échoué");
    std::smatch bon;
    ASSERT_TRUE(std::regex_match(rangs[2], bon, std::regex("bon\\.cpp;(\\d+);\\1;"))) << rangs[2];
    std::string total = bon[1];
    EXPECT_EQ(rangs[1], "'=casse.c;0;" + total + ";la source ne compile pas");
    EXPECT_TRUE(rangs[3].starts_with("zombie.cpp;" + std::to_string(tenus) + ";" + total + ";" +
                                     premier[1].str()))
        << rangs[3] << "\nalone:\n" << seul.sortie;
}

TEST(Enonce, SaysWhereItsStartIsInstalledAndTheCommandThatBuildsIt)
{
    for (const auto &nom : exercices()) {
        std::string enonce = lire(source / "exercices" / nom / "enonce.md");
        std::set<std::string> installes = {"enonce.md", "enonce.pdf"};
        for (const auto &depart : decouper(lire(source / "exercices" / nom / "depart"))) {
            if (depart.empty() || depart.starts_with("#"))
                continue;
            std::string fichier = fs::path(depart).filename();
            installes.insert(fichier);
            EXPECT_NE(enonce.find("verifier --construire " + fichier), std::string::npos) << nom;
            // The statement's command, in a folder of the student's own.
            Dossier chez_soi;
            fs::copy_file(source / depart, chez_soi.chemin / fichier);
            auto r = lancer("/bin/sh", {"-c", "cd \"$1\" && exec \"$2\" --construire \"$3\"", "sh",
                                        chez_soi.chemin, CHEMIN_VERIFIER, fichier});
            EXPECT_EQ(r.code, 0) << nom << ": " << r.sortie << r.erreur;
            EXPECT_EQ(access((chez_soi.chemin / fs::path(fichier).stem()).c_str(), X_OK), 0);
            // The compiler alone, as the statement writes it, builds it too.
            std::smatch seul;
            ASSERT_TRUE(std::regex_search(enonce, seul, std::regex("\n    (g(cc|\\+\\+) -I [^\n]*"
                                                                  "\\\\\n[^\n]*)\n")))
                << nom << " gives no compiler command";
            std::string commande = std::regex_replace(
                seul[1].str(), std::regex("/usr/share/processus-en-direct/common"),
                (source / "common").string());
            fs::remove(chez_soi.chemin / fs::path(fichier).stem());
            auto g = lancer("/bin/sh", {"-c", "cd \"$1\" && " + commande, "sh", chez_soi.chemin});
            EXPECT_EQ(g.code, 0) << nom << ": " << commande << "\n" << g.sortie << g.erreur;
            EXPECT_EQ(access((chez_soi.chemin / fs::path(fichier).stem()).c_str(), X_OK), 0);
        }
        std::regex chemin("/usr/share/processus-en-direct/exercices/" + nom + "/([^ `]+)");
        for (std::sregex_iterator i(enonce.begin(), enonce.end(), chemin), fin; i != fin; ++i)
            EXPECT_TRUE(installes.contains((*i)[1])) << (*i)[0] << " is not installed";
        for (const auto &l : decouper(enonce))
            EXPECT_LE(colonnes(l), 80) << nom << ": " << l;
        // French typography outside code: no plain blank where a non-breaking one belongs.
        std::regex blanc("« | (:|;|\\?|!|»)|«$|^(:|;|\\?|!|»)");
        for (const auto &l : decouper(std::regex_replace(enonce, std::regex("`[^`\n]*`"), "`")))
            EXPECT_TRUE(l.starts_with("    ") || !std::regex_search(l, blanc)) << nom << ": " << l;
    }
}

TEST(Polycopie, HoldsEveryWordOfTheStatementsWithTheirNonBreakingSpaces)
{
    if (!POLYCOPIE) {
        if (std::getenv("CI"))
            FAIL() << "the handout was not built: install lowdown and groff";
        GTEST_SKIP() << "the handout was not built (lowdown or groff missing)";
    }
    // Each exercise's PDF, then the one for all ("").
    auto noms = exercices();
    noms.push_back("");
    // The full handout opens with the course's header.
    std::string tous = std::regex_replace(lire(source / "exercices/entete.md"),
                                          std::regex("`|(^|\n)#+ "), "$1");
    for (const auto &nom : noms) {
        std::string enonce = nom.empty() ? tous : lire(source / "exercices" / nom / "enonce.md");
        enonce = std::regex_replace(enonce, std::regex("`|(^|\n)#+ "), "$1");
        tous += enonce;
        fs::path pdf = fs::path(DOSSIER_BUILD) / "exercices" /
                       (nom.empty() ? "enonces.pdf" : nom + "/enonce.pdf");
        auto extrait = lancer(PDFTOTEXT, {"-enc", "UTF-8", pdf, "-"});
        ASSERT_EQ(extrait.code, 0) << pdf << ": " << extrait.erreur << " (poppler-utils)";
        // Each page ends with its number: left out.
        std::string texte =
            normaliser(std::regex_replace(extrait.sortie, std::regex("\n\\d+\n*\f"), "\n"));

        // Nothing cut, lost or added: the same words, in the same order.
        auto attendus = decouper(normaliser(enonce), true), lus = decouper(texte, true);
        auto [a, l] = std::mismatch(attendus.begin(), attendus.end(), lus.begin(), lus.end());
        EXPECT_TRUE(a == attendus.end() && l == lus.end())
            << pdf << ": word " << a - attendus.begin() << " of the statement, « "
            << (a == attendus.end() ? "" : *a) << " », reads « " << (l == lus.end() ? "" : *l)
            << " »";
        // Words tied by a non-breaking space share a line of the PDF.
        auto lignes = decouper(texte);
        for (const auto &groupe : decouper(enonce, true)) {
            if (groupe == normaliser(groupe))
                continue;
            EXPECT_TRUE(std::any_of(lignes.begin(), lignes.end(), [&](const std::string &l) {
                return l.find(normaliser(groupe)) != std::string::npos;
            })) << pdf << ": « " << groupe << " » is not whole on one line";
        }
    }
}

// A lab of two exercises, weighted 2 and 1, handed in as a course platform
// delivers it: one folder a student, named « Prénom Nom_NUMÉRO_assignsubmission_file_ ».
TEST(Seance, MarksEachStudentOutOf20InClassOrderAndWritesTheirFeedback)
{
    Dossier d;
    const fs::path rendus = d.chemin / "rendus", retours = d.chemin / "retours";
    auto eleve = [&](const std::string &nom) {
        fs::path p = rendus / (nom + "_assignsubmission_file_");
        fs::create_directories(p);
        return p;
    };
    const fs::path solution = source / "exercices/sans-zombie/solution.cpp";
    const fs::path ordre = source / "exercices/ordre/solution.cpp";
    fs::copy_file(solution, eleve("Alice Martin_101") / "keyhold1.cpp");
    fs::copy_file(ordre, eleve("Alice Martin_101") / "genreport.cpp");
    fs::copy_file(source / "process_creation/keyhold1.cpp", eleve("Éloïse Durand_102") / "keyhold1.CPP");
    std::ofstream(eleve("élève10_103") / "keyhold1.cpp") << "int main(void) { return 0 }\n";
    fs::copy_file(ordre, eleve("élève10_103") / "genreport.cc");
    fs::copy_file(solution, eleve("élève2_104") / "keyhold1.cpp");
    std::ofstream(eleve("élève2_104") / "notes.txt") << "brouillon\n";
    std::ofstream(rendus / "lisez-moi.txt") << "\n";
    const fs::path seance = d.chemin / "seance", csv = d.chemin / "notes.csv";

    // A line that does not read: refused with its number, nothing checked.
    std::ofstream(seance) << "# TP\nsans-zombie 2 keyhold1.cpp\nsans-zomby 1 genreport.cpp\n";
    auto refus = lancer(CHEMIN_VERIFIER, {"--seance", seance, rendus, "--csv", csv});
    EXPECT_EQ(refus.code, 2);
    EXPECT_NE(refus.erreur.find("ligne 3\u00a0: exercice inconnu"), std::string::npos) << refus.erreur;
    EXPECT_FALSE(fs::exists(csv));

    std::ofstream(seance) << "# TP\nsans-zombie 2 keyhold1.cpp\nordre 1 genreport.cpp # fin\n";
    auto r = lancer(CHEMIN_VERIFIER,
                    {"--seance", seance, rendus, "--csv", csv, "--retours", retours});
    EXPECT_EQ(r.code, 1) << r.sortie << r.erreur;
    for (const auto &l : decouper(r.sortie))
        EXPECT_LE(colonnes(l), 80) << l;
    EXPECT_NE(r.sortie.find("lisez-moi.txt\u00a0: "), std::string::npos) << r.sortie;
    EXPECT_NE(r.sortie.find("notes.txt\u00a0: "), std::string::npos) << r.sortie;

    auto seul = lancer(CHEMIN_VERIFIER, {"sans-zombie", source / "process_creation/keyhold1.cpp"});
    std::regex ok("\n  ok ");
    long tenus = std::distance(std::sregex_iterator(seul.sortie.begin(), seul.sortie.end(), ok),
                               std::sregex_iterator());
    ASSERT_LT(tenus, 6) << seul.sortie;
    char partielle[16];
    std::snprintf(partielle, sizeof partielle, "%.2f", 20.0 * 2 * tenus / 6 / 3);
    std::string note = std::regex_replace(std::regex_replace(partielle, std::regex("\\.?0+$"), ""),
                                          std::regex("\\."), ",");

    auto rangs = decouper(lire(csv));
    ASSERT_EQ(rangs.size(), 5u) << lire(csv);
    EXPECT_EQ(rangs[0], "\xEF\xBB\xBF" "identifiant;nom;sans-zombie (sur 6);remarque sans-zombie;"
                        "ordre (sur 6);remarque ordre;note sur 20");
    EXPECT_EQ(rangs[1], "101;Alice Martin;6;;6;;20");
    EXPECT_EQ(rangs[2], "104;élève2;6;;0;absent;13,33");
    EXPECT_EQ(rangs[3], "103;élève10;0;la source ne compile pas;6;;6,67");
    EXPECT_TRUE(rangs[4].starts_with("102;Éloïse Durand;" + std::to_string(tenus) + ";"))
        << rangs[4];
    EXPECT_TRUE(rangs[4].ends_with(";0;absent;" + note)) << rangs[4];

    // Each student's reports, in a folder named as theirs, ready to upload.
    std::string retour = lire(retours / "Éloïse Durand_102_assignsubmission_file_/sans-zombie.txt");
    EXPECT_NE(retour.find("  ÉCHEC  "), std::string::npos) << retour;
    EXPECT_NE(retour.find("Bilan\u00a0: " + std::to_string(tenus)), std::string::npos) << retour;
    EXPECT_NE(lire(retours / "Éloïse Durand_102_assignsubmission_file_/ordre.txt").find("absent"),
              std::string::npos);
    std::string casse = lire(retours / "élève10_103_assignsubmission_file_/sans-zombie.txt");
    EXPECT_NE(casse.find("keyhold1.cpp:1:"), std::string::npos) << casse;
    EXPECT_EQ(casse.find("programme-"), std::string::npos) << casse;
}
