// keyhold1, keyhold2: the child's line, the zombie held by a parent that
// reads one character, and every way that read can end.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "essai.h"

using namespace lancement;

namespace {

struct Variante {
    const char *nom;
    const char *programme;
    const char *fin_de_ligne; // what follows the pid in the child's line
};
const Variante keyhold1{"keyhold1", CHEMIN_KEYHOLD1, " \n"};
const Variante keyhold2{"keyhold2", CHEMIN_KEYHOLD2, "\n"};

void PrintTo(const Variante &v, std::ostream *os) { *os << v.nom; }

class Keyhold : public testing::TestWithParam<Variante> {};

// The child's pid, once its line is there and it has become a zombie of p.
pid_t zombie_retenu(Processus &p, const Variante &v)
{
    std::string ligne = p.lire_jusqu_a(Canal::sortie, "\n");
    pid_t fils = pid_dans(ligne);
    EXPECT_EQ(ligne, "pid : " + std::to_string(fils) + v.fin_de_ligne);
    EXPECT_TRUE(attendre_que([&] {
        auto e = lire_stat(fils);
        return e && e->etat == 'Z';
    })) << "the child " << fils << " should be an ended, unreaped process";
    auto e = lire_stat(fils);
    EXPECT_TRUE(e && e->parent == p.pid()) << "the zombie belongs to the keyhold process";
    return fils;
}

} // namespace

TEST_P(Keyhold, ChildEndsAndStaysAZombieWhileTheParentHolds)
{
    Processus p({.programme = GetParam().programme});
    pid_t fils = zombie_retenu(p, GetParam());
    ASSERT_GT(fils, 0);
    // Still holding: the parent is asleep in its read, the zombie stays.
    EXPECT_FALSE(p.attendre(50ms));
    EXPECT_EQ(lire_stat(fils)->etat, 'Z');
    EXPECT_EQ(lire_stat(p.pid())->etat, 'S');
}

TEST_P(Keyhold, AnyOneByteReleasesTheParentAndTheZombieGoes)
{
    for (std::string octets : {"\n", " ", "abc\n"}) {
        Processus p({.programme = GetParam().programme});
        pid_t fils = zombie_retenu(p, GetParam());
        ASSERT_GT(fils, 0);
        p.ecrire(octets);
        EXPECT_EQ(p.attendre(), 0) << "input " << testing::PrintToString(octets);
        // The parent never collected it: its end is handed to the adopter
        // (this test, a subreaper), which can reap it now, status 0.
        int statut = -1;
        ASSERT_TRUE(attendre_que([&] { return waitpid(fils, &statut, WNOHANG) == fils; }));
        EXPECT_TRUE(WIFEXITED(statut) && WEXITSTATUS(statut) == 0);
        EXPECT_FALSE(lire_stat(fils)) << "no trace of the child is left";
    }
}

TEST_P(Keyhold, InputAlreadyAtItsEndIsAFailureWhereverStderrGoes)
{
    for (Flux erreur : {Flux::terminal, Flux::fichier}) {
        auto r = executer({.programme = GetParam().programme, .entree = Flux::fichier,
                           .erreur = erreur});
        std::string texte = erreur == Flux::terminal ? r.terminal : r.erreur;
        EXPECT_EQ(texte, "Echec scanf : Success\n");
        EXPECT_EQ(r.code, 1) << "end of input is not success, on a terminal or not";
    }
}

TEST_P(Keyhold, EndOfFileKeyOnTheTerminal)
{
    Processus p({.programme = GetParam().programme, .entree = Flux::terminal,
                 .sortie = Flux::terminal, .erreur = Flux::terminal});
    ASSERT_NE(p.lire_jusqu_a(Canal::terminal, "\n").find("pid : "), std::string::npos);
    p.ecrire("\x04"); // Ctrl-D on an empty line
    EXPECT_EQ(p.attendre(), 1);
    EXPECT_NE(p.lire_tout(Canal::terminal).find("Echec scanf : Success\n"), std::string::npos);
}

TEST_P(Keyhold, EnterOnTheTerminalReleasesTheParent)
{
    Processus p({.programme = GetParam().programme, .entree = Flux::terminal,
                 .sortie = Flux::terminal, .erreur = Flux::terminal});
    std::string ligne = p.lire_jusqu_a(Canal::terminal, "\n");
    EXPECT_EQ(ligne, "pid : " + std::to_string(pid_dans(ligne)) + GetParam().fin_de_ligne);
    p.ecrire("\n");
    EXPECT_EQ(p.attendre(), 0);
}

TEST_P(Keyhold, ClosedStdinIsAReadError)
{
    auto r = executer({.programme = GetParam().programme, .entree = Flux::ferme});
    EXPECT_EQ(r.erreur, "Echec scanf : Bad file descriptor\n");
    EXPECT_EQ(r.code, EBADF);
}

TEST_P(Keyhold, FailedForkIsReportedAndNothingIsRead)
{
    if (!echec_fork_possible())
        GTEST_SKIP() << sans_echec_fork;
    for (Flux erreur : {Flux::terminal, Flux::fichier}) {
        // stdin stays open and empty: were it read, the program would block.
        Processus p({.programme = GetParam().programme, .erreur = erreur,
                     .fork_impossible = true});
        EXPECT_EQ(p.attendre(), EAGAIN);
        EXPECT_EQ(p.lire_tout(erreur == Flux::terminal ? Canal::terminal : Canal::erreur),
                  "Echec fork : Resource temporarily unavailable\n");
        EXPECT_EQ(p.lire_tout(Canal::sortie), "");
    }
}

TEST_P(Keyhold, WithSigchldIgnoredNoZombieRemains)
{
    Processus p({.programme = GetParam().programme, .sigchld_ignore = true});
    pid_t fils = pid_dans(p.lire_jusqu_a(Canal::sortie, "\n"));
    ASSERT_GT(fils, 0);
    EXPECT_TRUE(attendre_que([&] { return !lire_stat(fils); }))
        << "the kernel reaps at once the children of a process that ignores SIGCHLD";
    EXPECT_FALSE(p.attendre(0ms)) << "the parent still holds";
    p.ecrire("\n");
    EXPECT_EQ(p.attendre(), 0);
}

// cppcheck-suppress syntaxError ; its GoogleTest library reads no empty prefix
INSTANTIATE_TEST_SUITE_P(, Keyhold, testing::Values(keyhold1, keyhold2),
                         [](const auto &info) { return std::string(info.param.nom); });
