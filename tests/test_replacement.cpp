// cupcounter and handover: a line a second, written out at once, and a
// process that becomes cupcounter through the PATH search without changing pid.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;
using Horloge = std::chrono::steady_clock;

namespace {

std::string ligne(pid_t pid, int tasse)
{
    return "pid : " + std::to_string(pid) + ", cup number " + std::to_string(tasse) + "\n";
}

std::string lire_proc(pid_t pid, const char *quoi)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/" + quoi, std::ios::binary);
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

// A folder of its own for a test, removed at the end.
struct Dossier {
    fs::path chemin;
    Dossier()
    {
        std::string modele = (fs::temp_directory_path() / "suite-dossier-XXXXXX").string();
        chemin = mkdtemp(modele.data());
    }
    ~Dossier() { fs::remove_all(chemin); }
};

} // namespace

// The second line comes a second after the first: its bounds leave five times
// that, so that a loaded machine does not fail these tests.
TEST(Cupcounter, CountsFromZeroOnceASecondOnATerminal)
{
    auto debut = Horloge::now();
    Processus p({.programme = CHEMIN_CUPCOUNTER, .entree = Flux::terminal,
                 .sortie = Flux::terminal, .erreur = Flux::terminal});
    EXPECT_EQ(p.lire_jusqu_a(Canal::terminal, "\n", 2s), ligne(p.pid(), 0))
        << "the first line comes before the first pause";
    auto premiere = Horloge::now();
    EXPECT_EQ(p.lire_jusqu_a(Canal::terminal, "cup number 1\n", 5s),
              ligne(p.pid(), 0) + ligne(p.pid(), 1));
    auto ecart = Horloge::now() - premiere;
    EXPECT_LT(premiere - debut, 900ms);
    EXPECT_GT(ecart, 500ms) << "the program sleeps between two lines";
    EXPECT_FALSE(p.attendre(0ms)) << "it only ends when a signal ends it";
}

TEST(Cupcounter, EachLineLeavesThroughAPipeAsSoonAsItIsPrinted)
{
    Processus p({.programme = CHEMIN_CUPCOUNTER});
    // Block-buffered, these lines would wait for 4 KiB: minutes away.
    EXPECT_EQ(p.lire_jusqu_a(Canal::sortie, "\n", 900ms), ligne(p.pid(), 0));
    EXPECT_EQ(p.lire_jusqu_a(Canal::sortie, "cup number 1\n", 5s),
              ligne(p.pid(), 0) + ligne(p.pid(), 1));
}

TEST(Cupcounter, AFileKeepsEveryLineWhenASignalEndsIt)
{
    Processus p({.programme = CHEMIN_CUPCOUNTER, .sortie = Flux::fichier});
    ASSERT_EQ(p.lire_jusqu_a(Canal::sortie, "cup number 1\n", 5s),
              ligne(p.pid(), 0) + ligne(p.pid(), 1));
    kill(p.pid(), SIGINT);
    EXPECT_EQ(p.attendre(), -SIGINT);
    EXPECT_EQ(p.lire_tout(Canal::sortie).substr(0, 2 * ligne(p.pid(), 0).size()),
              ligne(p.pid(), 0) + ligne(p.pid(), 1));
}

TEST(Handover, BecomesCupcounterInTheSameProcess)
{
    Processus p({.programme = CHEMIN_HANDOVER, .arguments = {"un", "deux"},
                 .environnement = {{"PATH", DOSSIER_BIN}, {"MARQUE_SUITE", "visible"}}});
    EXPECT_EQ(p.lire_jusqu_a(Canal::sortie, "\n", 2s), ligne(p.pid(), 0))
        << "cupcounter's lines carry the pid handover was started with";
    auto etat = lire_stat(p.pid());
    ASSERT_TRUE(etat);
    EXPECT_EQ(etat->parent, getpid()) << "the parent is unchanged";
    EXPECT_EQ(lire_proc(p.pid(), "cmdline"), std::string("cupcounter\0", 11))
        << "handover's own arguments are not passed on";
    EXPECT_NE(lire_proc(p.pid(), "environ").find(std::string("\0MARQUE_SUITE=visible\0", 22)),
              std::string::npos)
        << "the environment reaches cupcounter unchanged";
    EXPECT_EQ(p.lire_jusqu_a(Canal::sortie, "cup number 1\n", 5s),
              ligne(p.pid(), 0) + ligne(p.pid(), 1));
}

TEST(Handover, FailedExecIsReportedWithItsErrorWhereverStderrGoes)
{
    Dossier vide;
    Dossier interdit;
    std::ofstream(interdit.chemin / "cupcounter") << "#!/bin/sh\necho ne doit pas tourner\n";
    fs::permissions(interdit.chemin / "cupcounter", fs::perms(0644));

    struct Cas {
        const Dossier &dossier;
        const char *message;
        int code;
    };
    for (const Cas &c : {Cas{vide, "No such file or directory", ENOENT},
                         Cas{interdit, "Permission denied", EACCES}}) {
        for (Flux erreur : {Flux::terminal, Flux::fichier}) {
            auto r = executer({.programme = CHEMIN_HANDOVER, .erreur = erreur,
                               .environnement = {{"PATH", c.dossier.chemin.string()}}});
            std::string texte = erreur == Flux::terminal ? r.terminal : r.erreur;
            EXPECT_EQ(texte, std::string("Echec execvp : ") + c.message + "\n");
            EXPECT_EQ(r.code, c.code);
            EXPECT_EQ(r.sortie, "");
        }
    }
}

TEST(Handover, InstalledCopyFindsTheInstalledCupcounter)
{
    Dossier prefixe;
    auto installation = executer({.programme = CMAKE_COMMAND,
                                  .arguments = {"--install", DOSSIER_BUILD, "--prefix",
                                                prefixe.chemin.string()}},
                                 30s);
    ASSERT_EQ(installation.code, 0) << installation.erreur;
    fs::path bin = prefixe.chemin / "bin";
    ASSERT_TRUE(fs::exists(bin / "cupcounter"));

    Processus p({.programme = (bin / "handover").string(),
                 .environnement = {{"PATH", bin.string()}}});
    EXPECT_EQ(p.lire_jusqu_a(Canal::sortie, "\n", 2s), ligne(p.pid(), 0));
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(p.pid()) + "/exe"), bin / "cupcounter");
}
