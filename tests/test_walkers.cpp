// rightwalker and leftwalker as a user runs them: the report's exact bytes,
// the walk seeded by the walker's own pid, the usage message.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "lancement.h"
#include "marche.h"

using namespace lancement;

namespace {

const std::string usage_fin = " <numéro d'explorateur> <nb_steps>\n";

std::string rapport_est(int numero, int64_t y)
{
    return "\n" + std::string(51, ' ') + "EST Explorateur " + std::to_string(numero) +
           " : position finale = " + std::to_string(y);
}

std::string rapport_ouest(int numero, int64_t y)
{
    return "\nOUEST Explorateur " + std::to_string(numero) +
           " : position finale = " + std::to_string(y);
}

} // namespace

TEST(Walkers, ReportsStandEastInAColumnAndWestAtTheMarginWithNoFinalLineFeed)
{
    for (Flux sortie : {Flux::tube, Flux::terminal}) {
        Processus est({.programme = CHEMIN_RIGHTWALKER, .arguments = {"3", "1000"},
                       .sortie = sortie});
        ASSERT_EQ(est.attendre(), 0);
        Canal canal = sortie == Flux::tube ? Canal::sortie : Canal::terminal;
        // The walk is seeded with the walker's pid: the test can redo it.
        EXPECT_EQ(est.lire_tout(canal), rapport_est(3, position_finale(1000, est.pid())));

        Processus ouest({.programme = CHEMIN_LEFTWALKER, .arguments = {"4", "1000"},
                         .sortie = sortie});
        ASSERT_EQ(ouest.attendre(), 0);
        EXPECT_EQ(ouest.lire_tout(canal), rapport_ouest(4, position_finale(1000, ouest.pid())));
    }
}

TEST(Walkers, ArgumentsConvertAsStrtolDoesThenTo32Bits)
{
    // 2^32 + 5 steps walk 5; explorer 2^32 + 1 shows as 1; text without digits is 0.
    Processus p({.programme = CHEMIN_LEFTWALKER, .arguments = {"4294967297", "4294967301"}});
    ASSERT_EQ(p.attendre(), 0);
    EXPECT_EQ(p.lire_tout(Canal::sortie), rapport_ouest(1, position_finale(5, p.pid())));

    Processus q({.programme = CHEMIN_RIGHTWALKER, .arguments = {"abc", "  +0012xyz"}});
    ASSERT_EQ(q.attendre(), 0);
    EXPECT_EQ(q.lire_tout(Canal::sortie), rapport_est(0, position_finale(12, q.pid())));

    auto zero = executer({.programme = CHEMIN_RIGHTWALKER, .arguments = {"-8", "4294967296"}});
    EXPECT_EQ(zero.sortie, rapport_est(-8, 0)) << "2^32 steps are 0 steps";
}

TEST(Walkers, WrongArgumentCountGivesTheUsageAndStatus1)
{
    for (const char *programme : {CHEMIN_RIGHTWALKER, CHEMIN_LEFTWALKER}) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{}, {"1"}, {"1", "2", "3"}}) {
            auto r = executer({.programme = programme, .arguments = args, .nom = "marcheur"});
            EXPECT_EQ(r.erreur, "Usage : marcheur" + usage_fin) << args.size() << " arguments";
            EXPECT_EQ(r.code, 1);
            EXPECT_EQ(r.sortie, "");
        }
    }
}

TEST(Walkers, WalkersRacingOnOneTerminalEachTakeALineOfTheirOwn)
{
    // Six walkers a round that end at about the same moment, on one terminal:
    // a report that left in two writes (line feed, then the rest) lets
    // another walker's report slip in between, two reports on one line.
    const int tours = 20;
    Processus p({.programme = "/bin/sh",
                 .arguments = {"-c", "for k in $(seq " + std::to_string(tours) + "); do "
                               "for i in 1 2 3; do rightwalker $i 3000 & leftwalker $i 3000 & "
                               "done; wait; done"},
                 .sortie = Flux::terminal,
                 .environnement = {{"PATH", std::string(DOSSIER_BIN) + ":/usr/bin:/bin"}}});
    ASSERT_EQ(p.attendre(20s), 0);
    std::string ecran = p.lire_tout(Canal::terminal);

    static const std::regex rapport(
        R"((( {51}EST)|(OUEST)) Explorateur [123] : position finale = -?\d+)");
    std::istringstream lignes(ecran);
    std::string ligne;
    int rapports = 0, fautives = 0;
    std::string exemple;
    while (std::getline(lignes, ligne)) {
        if (ligne.empty())
            continue;
        if (std::regex_match(ligne, rapport)) {
            rapports++;
        } else if (fautives++ == 0) {
            exemple = ligne;
        }
    }
    EXPECT_EQ(fautives, 0) << "lines holding something else than one report, e.g. « "
                           << exemple << " »";
    EXPECT_EQ(rapports, 6 * tours);
}
