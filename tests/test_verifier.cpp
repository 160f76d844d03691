// verifier, the exercises' checker: it passes each teacher's solution, and
// fails the unmodified program the exercise starts from on the criterion the
// exercise is about.
#include <gtest/gtest.h>

#include "lancement.h"

using namespace essai;

namespace {

struct Cas {
    const char *exercice;
    const char *solution;
    const char *depart;  // the program, or source, a student starts from
    const char *critere; // the start of the one criterion it must fail
};

void PrintTo(const Cas &c, std::ostream *os) { *os << c.exercice; }

class Exercise : public testing::TestWithParam<Cas> {};

Resultat verifier(const std::string &exercice, const std::string &programme)
{
    return executer({.programme = CHEMIN_VERIFIER, .arguments = {exercice, programme}}, 60s);
}

} // namespace

TEST_P(Exercise, PassesTheSolutionAndFailsTheStartingPointWhereItMatters)
{
    const Cas &c = GetParam();
    auto solution = verifier(c.exercice, c.solution);
    EXPECT_EQ(solution.code, 0) << solution.sortie << solution.erreur;
    EXPECT_EQ(solution.sortie.find("ÉCHEC"), std::string::npos) << solution.sortie;

    auto depart = verifier(c.exercice, c.depart);
    EXPECT_EQ(depart.code, 1) << depart.sortie;
    EXPECT_NE(depart.sortie.find(std::string("  ÉCHEC  ") + c.critere), std::string::npos)
        << depart.sortie;
}

INSTANTIATE_TEST_SUITE_P(
    , Exercise,
    testing::Values(
        Cas{"ordre", CHEMIN_SOLUTION_ORDRE, CHEMIN_GENREPORT, "sur 20 exécutions"},
        Cas{"sans-zombie", CHEMIN_SOLUTION_SANS_ZOMBIE, CHEMIN_KEYHOLD1,
            "pendant que le parent attend"},
        Cas{"vrai-chrono", CHEMIN_SOLUTION_VRAI_CHRONO, CHEMIN_STOPCLOCK, "sleep 0.3"},
        Cas{"avant-exec", CHEMIN_SOLUTION_AVANT_EXEC, CHEMIN_HANDOVER, "dans un tube"},
        // A source: verifier compiles it first.
        Cas{"course", CHEMIN_SOLUTION_COURSE, SOURCE_COURSE_EN_ORDRE,
            "chaque marcheur est recueilli dès qu'il finit"}),
    [](const auto &info) {
        std::string nom = info.param.exercice;
        std::erase(nom, '-');
        return nom;
    });

TEST(Verifier, SaysWhatItIsAskedWrong)
{
    EXPECT_EQ(executer({.programme = CHEMIN_VERIFIER, .arguments = {"nulle-part", CHEMIN_GENREPORT}})
                  .code, 2);
    EXPECT_EQ(executer({.programme = CHEMIN_VERIFIER, .arguments = {"ordre", "/nulle/part"}}).code,
              2);
    auto liste = executer({.programme = CHEMIN_VERIFIER, .arguments = {"--list"}});
    EXPECT_EQ(liste.code, 0);
    EXPECT_NE(liste.sortie.find("course"), std::string::npos);
}
