// genreport: one fork, one line from each side, the failure report when fork fails.
#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

#include "essai.h"

using namespace lancement;

namespace {

struct Ligne {
    std::string marge;
    int generation;
    pid_t moi, pere, res;
};

// Both lines, in whatever order the scheduler gave them, keyed by generation.
std::map<int, Ligne> lignes(const std::string &sortie)
{
    static const std::regex forme(
        R"(( *)gen (\d) : je suis (\d+) fils de (\d+), res = (-?\d+)\n)");
    std::map<int, Ligne> vues;
    auto debut = std::sregex_iterator(sortie.begin(), sortie.end(), forme);
    for (auto m = debut; m != std::sregex_iterator(); ++m) {
        Ligne l{(*m)[1], std::stoi((*m)[2]), std::stoi((*m)[3]), std::stoi((*m)[4]),
                std::stoi((*m)[5])};
        vues[l.generation] = l;
    }
    return vues;
}

void verifier_les_deux_lignes(const std::string &sortie, pid_t parent)
{
    auto vues = lignes(sortie);
    ASSERT_EQ(vues.size(), 2u) << sortie;
    // Nothing but the two lines.
    EXPECT_EQ(std::count(sortie.begin(), sortie.end(), '\n'), 2) << sortie;

    const Ligne &p = vues[1], &f = vues[2];
    EXPECT_EQ(p.marge, "") << "the parent's gen starts in column 1";
    EXPECT_EQ(f.marge, "  ") << "the child's gen stands two columns further right";
    EXPECT_EQ(p.moi, parent);
    EXPECT_EQ(p.pere, getpid()) << "the parent's parent is whoever started it";
    EXPECT_EQ(p.res, f.moi) << "fork gives the parent the child's pid";
    EXPECT_EQ(f.res, 0);
    EXPECT_TRUE(f.pere == parent || f.pere == getpid())
        << "the child's parent is genreport, or its adopter once genreport has gone: " << f.pere;
}

} // namespace

TEST(Genreport, ParentAndChildEachReportWhatForkGaveThem)
{
    for (Flux sortie : {Flux::tube, Flux::fichier}) {
        Processus p({.programme = CHEMIN_GENREPORT, .sortie = sortie});
        ASSERT_EQ(p.attendre(), 0);
        verifier_les_deux_lignes(p.lire_tout(Canal::sortie), p.pid());
    }
}

TEST(Genreport, SameLinesOnATerminal)
{
    Processus p({.programme = CHEMIN_GENREPORT, .entree = Flux::terminal,
                 .sortie = Flux::terminal, .erreur = Flux::terminal});
    ASSERT_EQ(p.attendre(), 0);
    verifier_les_deux_lignes(p.lire_tout(Canal::terminal), p.pid());
}

TEST(Genreport, ArgumentsChangeNothing)
{
    Processus p({.programme = CHEMIN_GENREPORT, .arguments = {"-x", "42", "--help"}});
    ASSERT_EQ(p.attendre(), 0);
    verifier_les_deux_lignes(p.lire_tout(Canal::sortie), p.pid());
}

TEST(Genreport, FailedForkIsReportedWithItsOwnErrorWhereverStderrGoes)
{
    if (!echec_fork_possible())
        GTEST_SKIP() << sans_echec_fork;
    for (Flux erreur : {Flux::terminal, Flux::fichier, Flux::tube}) {
        auto r = executer({.programme = CHEMIN_GENREPORT, .erreur = erreur,
                           .fork_impossible = true});
        std::string texte = erreur == Flux::terminal ? r.terminal : r.erreur;
        EXPECT_EQ(texte, "Echec fork : Resource temporarily unavailable\n");
        EXPECT_EQ(r.code, EAGAIN) << "the status is fork's errno, not perror's leftover";
        EXPECT_EQ(r.sortie, "");
    }
}
