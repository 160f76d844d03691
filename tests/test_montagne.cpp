// montagne as a user runs it, on blocks small enough for a fraction of a
// second: what it refuses, the shape of its table, its colours, its picture.
// No figure is checked: they are the machine's, not the program's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

const std::string ESP = "\u00a0"; // non-breaking space

struct Dossier {
    fs::path chemin;
    Dossier()
    {
        std::string modele = (fs::temp_directory_path() / "montagne-XXXXXX").string();
        chemin = mkdtemp(modele.data());
    }
    ~Dossier() { fs::remove_all(chemin); }
};

Resultat montagne(std::vector<std::string> arguments, Flux sortie = Flux::tube,
                  std::vector<std::pair<std::string, std::optional<std::string>>> env = {})
{
    return executer({.programme = CHEMIN_MONTAGNE, .arguments = std::move(arguments),
                     .sortie = sortie, .environnement = std::move(env)},
                    30s);
}

std::vector<std::string> lignes(const std::string &texte)
{
    std::vector<std::string> l;
    std::istringstream flot(texte);
    for (std::string ligne; std::getline(flot, ligne);)
        l.push_back(ligne);
    return l;
}

size_t colonnes(const std::string &ligne)
{
    return std::count_if(ligne.begin(), ligne.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

// The table: its heading, then a row per block size up to the next blank line.
std::vector<std::string> tableau(const std::string &sortie)
{
    auto l = lignes(sortie);
    auto entete = std::find_if(l.begin(), l.end(), [](auto &s) { return s.find("bloc") == 6; });
    auto fin = std::find(entete, l.end(), "");
    return {entete, fin};
}

} // namespace

TEST(Montagne, RefusesWhatItCannotMeasureWithStatus2BeforeMeasuringAnything)
{
    std::vector<std::vector<std::string>> mauvais = {
        {"--max"}, {"--max", "0"}, {"--max", "5K"}, {"--max", "12X"}, {"--max", "-4K"},
        {"--max", "65G"}, {"--max", "99999999999999999999K"}, {"--duree", "0"},
        {"--duree", "1001"}, {"--duree", "5ms"}, {"--svg", ""}, {"--hauteur", "7"}, {"--hauteur", "61"},
        {"--rapide"}, {"64K"}};
    long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages * (page / 1024) < 64L * 1024 * 1024 * 2) // less than 128 GiB free
        mauvais.push_back({"--max", "64G"});            // more than half of it
    for (const auto &arguments : mauvais) {
        std::string vus;
        for (const auto &a : arguments)
            vus += " '" + a + "'";
        auto r = montagne(arguments);
        EXPECT_EQ(r.code, 2) << vus;
        EXPECT_EQ(r.sortie, "") << vus;
        EXPECT_TRUE(r.erreur.starts_with("montagne" + ESP + ": ")) << vus << ": " << r.erreur;
        for (const auto &ligne : lignes(r.erreur))
            EXPECT_LE(colonnes(ligne), 80u) << ligne;
    }
    auto aide = montagne({"--aide"});
    EXPECT_EQ(aide.code, 0);
    EXPECT_TRUE(aide.sortie.starts_with("usage" + ESP + ": montagne [--max TAILLE]")) << aide.sortie;
    EXPECT_NE(aide.sortie.find("--duree MS"), std::string::npos);
    EXPECT_EQ(montagne({"--help"}).sortie, aide.sortie);
    auto version = montagne({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(version.sortie.starts_with("montagne (Processus en direct) ")) << version.sortie;
}

TEST(Montagne, PrintsOneRowOfSevenFiguresPerBlockSizeWithinEightyColumns)
{
    Dossier d;
    // 24 KiB is no power of two: the last row is that size itself.
    auto r = montagne({"--max", "24K", "--duree", "1", "--svg", (d.chemin / "m.svg").string()});
    ASSERT_EQ(r.code, 0) << r.erreur;
    EXPECT_EQ(r.erreur, "");
    auto t = tableau(r.sortie);
    ASSERT_EQ(t.size(), 5u) << r.sortie;
    std::string o = ESP + "o";
    EXPECT_EQ(t[0], "      bloc    16" + o + "    32" + o + "    64" + o + "   128" + o + "   256" +
                        o + "   512" + o + "   hasard");
    // Three significant digits with a decimal comma, or a whole number
    // grouped by thousands.
    static const std::regex figure(R"((\d{1,3}(\xC2\xA0\d{3})*|\d+,\d+))");
    const char *tailles[] = {"4", "8", "16", "24"};
    for (int k = 0; k < 4; k++) {
        std::string rangee = t[k + 1];
        EXPECT_TRUE(rangee.starts_with(std::string(6 - strlen(tailles[k]), ' ') + tailles[k] +
                                       ESP + "Kio"))
            << rangee;
        std::istringstream cases(rangee.substr(rangee.find("Kio") + 3));
        std::vector<std::string> figures{std::istream_iterator<std::string>(cases), {}};
        ASSERT_EQ(figures.size(), 7u) << rangee;
        for (const auto &f : figures)
            EXPECT_TRUE(std::regex_match(f, figure) && f != "0") << f << " in: " << rangee;
    }
    for (const auto &ligne : lignes(r.sortie)) {
        if (!ligne.ends_with("m.svg")) { // the temporary folder's name is not montagne's doing
            EXPECT_LE(colonnes(ligne), 80u) << ligne;
        }
    }
    EXPECT_EQ(r.sortie.find('\033'), std::string::npos) << "colour in a pipe";
    for (const char *attendu : {"Go/s\n", "À regarder" "\u00a0:\n", "Le plus rapide" "\u00a0: ",
                                "Le plus lent" "\u00a0: ", "navigateur" "\u00a0: "})
        EXPECT_NE(r.sortie.find(attendu), std::string::npos) << attendu;

    // On a projector's pane: the plot, legend and all, within the lines given.
    for (int hauteur : {8, 16}) {
        auto court = montagne({"--max", "24K", "--duree", "1", "--hauteur", std::to_string(hauteur),
                               "--svg", (d.chemin / "m.svg").string()});
        auto l = lignes(court.sortie);
        auto debut = std::find(l.begin(), l.end(), " Go/s");
        auto fin = std::find_if(debut, l.end(), [](const std::string &x) {
            return x.ends_with("taille d'un cache annoncé");
        });
        ASSERT_TRUE(debut != l.end() && fin != l.end()) << court.sortie;
        EXPECT_LE(fin - debut + 1, hauteur) << court.sortie;
        EXPECT_GE(fin - debut + 1, hauteur - 4) << court.sortie;
    }
}

TEST(Montagne, ColoursItsPlotOnATerminalUnlessNoColorIsSet)
{
    Dossier d;
    std::vector<std::string> arguments{"--max", "8K", "--duree", "1", "--svg",
                                       (d.chemin / "m.svg").string()};
    auto couleur = montagne(arguments, Flux::terminal, {{"NO_COLOR", std::nullopt}});
    EXPECT_EQ(couleur.code, 0);
    EXPECT_NE(couleur.terminal.find("\033["), std::string::npos);
    auto sans = montagne(arguments, Flux::terminal, {{"NO_COLOR", "1"}});
    EXPECT_EQ(sans.code, 0);
    EXPECT_EQ(sans.terminal.find('\033'), std::string::npos);
    EXPECT_EQ(tableau(sans.terminal).size(), 3u) << sans.terminal;
}

TEST(Montagne, WritesAnSvgAnXmlParserReadsWithOneCurvePerColumn)
{
    if (access("/usr/bin/xmllint", X_OK) != 0)
        FAIL() << "xmllint is missing: install the Debian package libxml2-utils";
    Dossier d;
    fs::path svg = d.chemin / "montagne de test.svg";
    auto r = montagne({"--max", "16K", "--duree", "1", "--svg", svg.string()});
    ASSERT_EQ(r.code, 0) << r.erreur;
    EXPECT_NE(r.sortie.find("navigateur" + ESP + ": " + svg.string() + "\n"), std::string::npos);

    auto lire = [&](const std::string &xpath) {
        auto x = executer({.programme = "/usr/bin/xmllint",
                           .arguments = {"--xpath", xpath, svg.string()}});
        EXPECT_EQ(x.code, 0) << x.erreur;
        return x.sortie;
    };
    EXPECT_EQ(lire("name(/*)"), "svg\n");
    EXPECT_EQ(lire("count(//*[local-name()='polyline'])"), "7\n");
    // Each curve has a point per block size: 4, 8 and 16 KiB.
    for (int c = 1; c <= 7; c++) {
        std::string points = lire("string((//*[local-name()='polyline'])[" + std::to_string(c) +
                                  "]/@points)");
        static const std::regex point(R"(^\d+(\.\d+)?,\d+(\.\d+)?$)");
        std::istringstream p(points);
        std::vector<std::string> v{std::istream_iterator<std::string>(p), {}};
        ASSERT_EQ(v.size(), 3u) << points;
        for (const auto &xy : v)
            EXPECT_TRUE(std::regex_match(xy, point)) << xy;
    }

    // An image it cannot write is a failure, said, once the table is out.
    auto r2 = montagne({"--max", "4K", "--duree", "1", "--svg", (d.chemin / "absent/m.svg").string()});
    EXPECT_EQ(r2.code, 1);
    EXPECT_NE(r2.erreur.find("impossible d'écrire l'image"), std::string::npos) << r2.erreur;
    EXPECT_EQ(tableau(r2.sortie).size(), 2u);
}
