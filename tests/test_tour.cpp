// The guided tour, run as a class would see it, but with nobody at the
// keyboard: every section shows its evidence, and nothing outlives it.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>

#include "lancement.h"

using namespace lancement;

namespace {

Lancement visite(std::vector<std::string> arguments)
{
    return {.programme = CHEMIN_TOUR, .arguments = std::move(arguments), .entree = Flux::nul,
            .erreur = Flux::sortie, .environnement = {{"TOUR_BIN", DOSSIER_BIN}},
            .ramasser_orphelins = true};
}

std::string chercher(const std::string &texte, const std::string &motif, int groupe = 1)
{
    std::smatch m;
    if (!std::regex_search(texte, m, std::regex(motif)))
        return "";
    return m[groupe];
}

int compter(const std::string &texte, const std::string &motif)
{
    std::regex r(motif);
    return static_cast<int>(std::distance(std::sregex_iterator(texte.begin(), texte.end(), r),
                                          std::sregex_iterator()));
}

} // namespace

TEST(Tour, ShowsEverySectionWithTheSystemsEvidenceAndLeavesNothingBehind)
{
    Processus p(visite({}));
    auto code = p.attendre(60s);
    std::string sortie = p.lire_tout(Canal::sortie, 2s);
    ASSERT_EQ(code, 0) << sortie;
    EXPECT_TRUE(p.groupe_termine(2s)) << "a process of the tour is still running";

    // genreport (indented by the tour): the parent's res is the pid of the child's line.
    std::string enfant = chercher(sortie, R"(\n {4}gen 1 : je suis \d+ fils de \d+, res = (\d+)\n)");
    ASSERT_FALSE(enfant.empty()) << sortie;
    EXPECT_NE(sortie.find("\n      gen 2 : je suis " + enfant + " fils de "), std::string::npos);

    // keyhold1 and keyhold2: the child shown in state Z under its waiting parent, then gone.
    for (std::string prog : {"keyhold1", "keyhold2"}) {
        std::smatch m;
        std::regex attente(prog + R"( \(pid (\d+)\) attend sa touche ; son fils (\d+) a fini)");
        ASSERT_TRUE(std::regex_search(sortie, m, attente)) << prog;
        std::string parent = m[1], fils = m[2];
        EXPECT_TRUE(std::regex_search(sortie, std::regex("\n +" + fils + " +" + parent + " +Z")))
            << prog << ": no ps line with the zombie";
        EXPECT_TRUE(sortie.find("Le zombie " + fils + " a disparu") != std::string::npos ||
                    sortie.find("Le fils " + fils + " a été confié") != std::string::npos)
            << prog;
    }

    // cupcounter and handover: the same pid before the exec and in cupcounter's lines.
    EXPECT_EQ(compter(sortie, R"(pid : \d+, cup number [012]\n)"), 5);
    std::string relais = chercher(sortie, R"(handover démarré : pid (\d+))");
    ASSERT_FALSE(relais.empty());
    EXPECT_NE(sortie.find("pid : " + relais + ", cup number 1\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(sortie, std::regex("\n +" + relais + R"( +\d+ +\S+ +cupcounter)")))
        << "ps shows handover's process as cupcounter";
    EXPECT_NE(sortie.find("Echec execvp : No such file or directory"), std::string::npos);

    // The walkers: three reports west, three east in the column (30 blanks
    // fewer, the tour's sed says so), each on its own line.
    EXPECT_EQ(compter(sortie, "\n {4}OUEST Explorateur [123] : position finale = -?\\d+(?=\n)"), 3);
    EXPECT_EQ(compter(sortie, "\n {25}EST Explorateur [123] : position finale = -?\\d+(?=\n)"), 3);

    EXPECT_NE(sortie.find("suite : 1500000000 \n"), std::string::npos);
    EXPECT_NE(sortie.find("LEVEL1_DCACHE_LINESIZE"), std::string::npos);
    EXPECT_EQ(compter(sortie, "temps écoulé : 0.000000 secondes"), 2);
    EXPECT_NE(sortie.find("Fin de la visite."), std::string::npos);

    // Fit for a projector: 80 columns at most, and no escape code in a pipe.
    std::istringstream lignes(sortie);
    std::string ligne;
    while (std::getline(lignes, ligne)) {
        // Columns: UTF-8 continuation bytes take none.
        auto colonnes = std::count_if(ligne.begin(), ligne.end(),
                                      [](unsigned char c) { return (c & 0xC0) != 0x80; });
        EXPECT_LE(colonnes, 80) << ligne;
    }
    EXPECT_EQ(sortie.find('\033'), std::string::npos) << "escape code written into a pipe";
}

TEST(Tour, InClassItHoldsTheZombieUntilTheTeacherPressesEnter)
{
    Processus p({.programme = CHEMIN_TOUR, .arguments = {"--classe", "--sans-vue", "keyhold1"},
                 .entree = Flux::terminal, .sortie = Flux::terminal, .erreur = Flux::terminal,
                 .environnement = {{"TOUR_BIN", DOSSIER_BIN}}, .ramasser_orphelins = true});
    std::string ecran = p.lire_jusqu_a(Canal::terminal, "fin de la visite)", 10s);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(ecran, m, std::regex(R"(» zombie (\d+) sous keyhold1 (\d+) : )")))
        << ecran;
    const std::string texte_zombie = m[1]; // m points into ecran, which changes below
    pid_t zombie = std::stoi(texte_zombie), parent = std::stoi(m[2]);

    // The tour waits for the teacher: the zombie stays, under its parent.
    EXPECT_FALSE(p.attendre(300ms));
    auto e = lire_stat(zombie);
    ASSERT_TRUE(e) << "the zombie " << zombie << " is gone while the tour waits";
    EXPECT_EQ(e->etat, 'Z');
    EXPECT_EQ(e->parent, parent);

    p.ecrire("\n"); // Enter: the tour releases keyhold1, whose zombie goes to an adopter
    ecran = p.lire_jusqu_a(Canal::terminal, "Fin de la visite.", 10s);
    EXPECT_TRUE(ecran.find("Le zombie " + texte_zombie + " a disparu") != std::string::npos ||
                ecran.find("Le fils " + texte_zombie + " a été confié") != std::string::npos)
        << ecran;
    EXPECT_EQ(p.attendre(10s), 0);
    EXPECT_FALSE(lire_stat(zombie) && lire_stat(zombie)->parent == parent);
}

TEST(Tour, InterruptedItStopsWhatItStarted)
{
    Processus p(visite({"cupcounter"}));
    ASSERT_NE(p.lire_jusqu_a(Canal::sortie, "cup number 0", 10s).find("cup number 0"),
              std::string::npos);
    kill(-p.pid(), SIGINT); // what Ctrl-C does to the foreground group
    EXPECT_EQ(p.attendre(10s), 130);
    EXPECT_TRUE(p.groupe_termine(3s)) << "cupcounter outlived the tour";
}

TEST(Tour, ListsAndChoosesItsSections)
{
    auto liste = executer(visite({"--list"}));
    EXPECT_EQ(liste.code, 0);
    for (const char *etape : {"genreport", "keyhold1", "keyhold2", "cupcounter", "handover",
                              "walkers", "registres", "linefit", "stopclock"})
        EXPECT_EQ(compter(liste.sortie, std::string("(^|\n)") + etape + " "), 1) << etape;

    auto une = executer(visite({"stopclock"}));
    EXPECT_EQ(une.code, 0);
    EXPECT_NE(une.sortie.find("=== stopclock"), std::string::npos);
    EXPECT_EQ(une.sortie.find("=== genreport"), std::string::npos);

    auto inconnue = executer(visite({"nulle-part"}));
    EXPECT_EQ(inconnue.code, 2);
}
