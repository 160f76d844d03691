// The tour's other demonstrations, run as a user would, checked against what
// the kernel says of them in /proc.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "lancement.h"

using namespace lancement;

namespace {

// Field n (from 1, as in proc(5)) of /proc/PID/stat; -1 once it has ended.
long champ_stat(pid_t pid, int n)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s;
    if (!std::getline(f, s) || s.rfind(')') == std::string::npos)
        return -1;
    std::istringstream champs(s.substr(s.rfind(')') + 2)); // from field 3, the state
    std::string c;
    for (int i = 3; i <= n && champs >> c; i++) {
    }
    return std::stol(c);
}

// Private and shared KiB of a process, summed over its mappings.
struct Memoire {
    long privee = 0, partagee = 0;
};
Memoire memoire(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memoire m;
    std::string cle;
    long valeur;
    std::getline(f, cle); // the heading: the addresses the sums cover
    while (f >> cle >> valeur) {
        if (cle.rfind("Private_", 0) == 0)
            m.privee += valeur;
        else if (cle.rfind("Shared_", 0) == 0 && cle.find("Hugetlb") == std::string::npos)
            m.partagee += valeur;
        f.ignore(64, '\n');
    }
    return m;
}

} // namespace

TEST(Demonstrations, PartageSharesItsBufferAfterForkThenCopiesOnlyThePagesTheChildWrites)
{
    Processus p({.programme = CHEMIN_PARTAGE, .erreur = Flux::sortie});
    std::string sortie = p.lire_jusqu_a(Canal::sortie, "avec son père\n", 10s);
    const pid_t fils = pid_dans(sortie, "le fils, pid ");
    ASSERT_GT(fils, 0) << sortie;
    const Memoire avant = memoire(fils);
    const long defauts_avant = champ_stat(fils, 10);
    EXPECT_GE(avant.partagee, 64 * 1024) << "the child does not share the 64 MiB";
    EXPECT_LT(avant.privee, 8 * 1024) << "fork copied the buffer";

    ASSERT_TRUE(p.ecrire("\n"));
    sortie = p.lire_jusqu_a(Canal::sortie, "la moitié du tampon\n", 10s);
    const long ecrites = pid_dans(sortie, "le fils a écrit ");
    ASSERT_GT(ecrites, 0) << sortie;
    const long page_ko = sysconf(_SC_PAGESIZE) / 1024;
    const Memoire apres = memoire(fils);
    // One copy and one fault per page written, give or take the few pages
    // of stack and libc the child touches on the way.
    EXPECT_NEAR(apres.privee - avant.privee, ecrites * page_ko, 256 + ecrites * page_ko / 50.0);
    EXPECT_NEAR(champ_stat(fils, 10) - defauts_avant, ecrites, 64 + ecrites / 50.0);
    EXPECT_NEAR(apres.partagee, avant.partagee - ecrites * page_ko, 256 + ecrites * page_ko / 50.0);

    ASSERT_TRUE(p.ecrire("\n"));
    EXPECT_EQ(p.attendre(10s), 0);
    EXPECT_NE(p.lire_tout(Canal::sortie).find("le père a recueilli son fils " + std::to_string(fils) + "\n"),
              std::string::npos);
    EXPECT_TRUE(p.groupe_termine(2s));
}

// Always ready: its CPU time grows as long as it lives, and only a signal ends it.
TEST(Demonstrations, TourneComputesUntilASignalEndsIt)
{
    Processus p({.programme = CHEMIN_TOURNE, .entree = Flux::nul});
    ASSERT_TRUE(attendre_que([&] { return lire_stat(p.pid()) && lire_stat(p.pid())->nom == "tourne"; }));
    const long debut = champ_stat(p.pid(), 14) + champ_stat(p.pid(), 15);
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(champ_stat(p.pid(), 14) + champ_stat(p.pid(), 15), debut);
    EXPECT_FALSE(p.attendre(0ms));
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.attendre(5s), -SIGTERM);
    EXPECT_EQ(p.lire_tout(Canal::sortie), "");
}
