// verifier, the exercises' checker, proven by students' programs: for every
// exercise of exercices/liste, the teacher's solution and every program in
// variantes/ (right, by another technique) pass; the unmodified program the
// exercise starts from fails; every program in erreurs/ (a mistake students
// make) fails on the criterion its first line names. However verifier is
// interrupted, nothing of the student's outlives it, nor its folder.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

struct Cas {
    std::string exercice;
    std::string programme; // built program or source
    std::string critere;   // empty: must pass; else the criterion it fails first
};

// A mistake that breaks two requirements may be caught by either, as the
// scheduler has it: its first line names both, "A | B".
bool echoue_sur(const std::string &sortie, const std::string &criteres)
{
    std::size_t debut = 0;
    for (;;) {
        std::size_t fin = criteres.find(" | ", debut);
        if (sortie.find("  ÉCHEC  " + criteres.substr(debut, fin - debut)) != std::string::npos)
            return true;
        if (fin == std::string::npos)
            return false;
        debut = fin + 3;
    }
}

void PrintTo(const Cas &c, std::ostream *os) { *os << c.exercice << " " << c.programme; }

Resultat verifier(const std::vector<std::string> &arguments)
{
    return executer({.programme = CHEMIN_VERIFIER, .arguments = arguments}, 90s);
}

// The criterion a mistake fails, from its first line: "// Fails: ...".
std::string critere_annonce(const fs::path &source)
{
    std::ifstream f(source);
    std::string ligne;
    std::getline(f, ligne);
    const std::string marque = "// Fails: ";
    return ligne.starts_with(marque) ? ligne.substr(marque.size()) : "?";
}

std::vector<Cas> tous_les_cas()
{
    std::vector<Cas> cas;
    std::istringstream liste(EXERCICES);
    for (std::string nom; liste >> nom;) {
        // A solution is a program, or a text where the student hands in one.
        fs::path texte = fs::path(DOSSIER_EXERCICES) / nom / "solution.txt";
        cas.push_back({nom, fs::exists(texte) ? texte.string()
                                              : std::string(DOSSIER_BIN) + "/solution-" + nom,
                       ""});
        for (const char *sorte : {"variantes", "erreurs"}) {
            fs::path dossier = fs::path(DOSSIER_EXERCICES) / nom / sorte;
            if (!fs::is_directory(dossier))
                continue;
            std::vector<fs::path> sources;
            for (const auto &f : fs::directory_iterator(dossier))
                sources.push_back(f.path());
            std::sort(sources.begin(), sources.end());
            // Built by the tests' CMakeLists, beside the other programs; a
            // text (a prediction) is given as it is.
            for (const auto &s : sources) {
                bool source = s.extension() == ".c" || s.extension() == ".cpp";
                cas.push_back({nom,
                               source ? (fs::path(PROGRAMMES_ELEVES) / nom / sorte / s.stem()).string()
                                      : s.string(),
                               std::string(sorte) == "erreurs" ? critere_annonce(s) : ""});
            }
        }
    }
    return cas;
}

class Exercise : public testing::TestWithParam<Cas> {};

} // namespace

TEST_P(Exercise, JudgesTheStudentsProgramRight)
{
    const Cas &c = GetParam();
    if (c.critere.empty()) {
        auto r = verifier({c.exercice, c.programme});
        EXPECT_EQ(r.code, 0) << r.sortie << r.erreur;
        EXPECT_EQ(r.sortie.find("ÉCHEC"), std::string::npos) << r.sortie;
    } else {
        // A program's first failure is the one named: the criteria before it
        // hold. A prediction (a text) may be wrong on more than one count.
        bool texte = fs::path(c.programme).extension() == ".txt";
        auto r = texte ? verifier({c.exercice, c.programme})
                       : verifier({"--premier-echec", c.exercice, c.programme});
        EXPECT_EQ(r.code, 1) << r.sortie << r.erreur;
        EXPECT_TRUE(echoue_sur(r.sortie, c.critere)) << c.critere << "\n" << r.sortie;
    }
}

// cppcheck-suppress syntaxError ; its GoogleTest library reads no empty prefix
INSTANTIATE_TEST_SUITE_P(, Exercise, testing::ValuesIn(tous_les_cas()), [](const auto &info) {
    std::string nom = info.param.exercice + "_" + fs::path(info.param.programme).stem().string();
    std::erase_if(nom, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
    return nom;
});

TEST(Verifier, FailsEveryStartingProgramItCanFind)
{
    // --list names, under each exercise, the program it starts from.
    auto liste = verifier({"--list"});
    ASSERT_EQ(liste.code, 0);
    std::istringstream noms(EXERCICES);
    for (std::string nom; noms >> nom;) {
        auto ligne = liste.sortie.find(nom);
        ASSERT_NE(ligne, std::string::npos) << liste.sortie;
        auto debut = liste.sortie.find("(à partir de ", ligne);
        ASSERT_NE(debut, std::string::npos) << liste.sortie;
        debut += std::string("(à partir de ").size();
        std::string depart =
            liste.sortie.substr(debut, liste.sortie.find(')', debut) - debut);
        fs::path programme = fs::path(DOSSIER_BIN) / depart;
        if (!fs::exists(programme))
            continue; // more than one program (the walkers): an erreurs/ source stands in
        auto r = verifier({nom, programme.string()});
        EXPECT_EQ(r.code, 1) << nom << "\n" << r.sortie;
        EXPECT_NE(r.sortie.find("  ÉCHEC  "), std::string::npos) << r.sortie;
    }
}

TEST(Verifier, SaysWhatItIsAskedWrongOrLacks)
{
    // Without a compiler, verifier blames the machine, not the student.
    auto sans = executer({.programme = CHEMIN_VERIFIER,
                          .arguments = {"ordre", DOSSIER_EXERCICES "/ordre/solution.cpp"},
                          .environnement = {{"PATH", "/nulle/part"}}},
                         30s);
    EXPECT_EQ(sans.code, 2);
    EXPECT_NE(sans.erreur.find("apt-get install g++"), std::string::npos) << sans.erreur;
    EXPECT_EQ(sans.sortie.find("ÉCHEC"), std::string::npos) << sans.sortie;
    EXPECT_EQ(verifier({"nulle-part", CHEMIN_GENREPORT}).code, 2);
    EXPECT_EQ(verifier({"ordre", "/nulle/part"}).code, 2);
    EXPECT_EQ(verifier({"--list", "ordre"}).code, 2);
    for (const char *a : {"--help", "-h"}) {
        auto aide = verifier({a});
        EXPECT_EQ(aide.code, 0);
        EXPECT_TRUE(aide.sortie.starts_with("usage\u00a0: verifier ")) << aide.sortie;
        EXPECT_NE(aide.sortie.find("verifier --list"), std::string::npos) << aide.sortie;
    }
    auto version = verifier({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.sortie, "verifier (Processus en direct) " VERSION_SUITE "\n");
    // A usage error: what was wrong on one line, then the usage.
    for (std::vector<std::string> faux : {std::vector<std::string>{"--inconnue"}, {"-x"},
                                          {"--csv"}, {"ordre", DOSSIER_EXERCICES, "-j", "0"}}) {
        auto r = verifier(faux);
        EXPECT_EQ(r.code, 2) << faux[0];
        EXPECT_TRUE(r.erreur.starts_with("verifier\u00a0: ")) << r.erreur;
        EXPECT_NE(r.erreur.find("\nusage\u00a0: verifier "), std::string::npos) << r.erreur;
        EXPECT_EQ(r.sortie, "");
    }
}

// What the student reads names their own files: the compiler's messages, and
// a built program older than its source beside it.
TEST(Verifier, NamesTheStudentsOwnFilesAndAProgramOlderThanItsSource)
{
    const fs::path dossier = fs::temp_directory_path() / ("sources-" + std::to_string(getpid()));
    fs::create_directories(dossier);
    std::ofstream(dossier / "casse.cpp") << "int main(void) { return 0 }\n";
    auto casse = verifier({"sans-zombie", (dossier / "casse.cpp").string()});
    EXPECT_EQ(casse.code, 1);
    EXPECT_NE(casse.erreur.find((dossier / "casse.cpp").string() + ":1:"), std::string::npos)
        << casse.erreur;
    EXPECT_EQ(casse.erreur.find("programme-"), std::string::npos) << casse.erreur;

    fs::copy_file(CHEMIN_KEYHOLD1, dossier / "keyhold1");
    std::ofstream(dossier / "keyhold1.cpp") << "// fixed since\n";
    const std::string attention = "Attention\u00a0: «\u00a0keyhold1.cpp\u00a0» a changé";
    fs::last_write_time(dossier / "keyhold1.cpp",
                        fs::last_write_time(dossier / "keyhold1") + std::chrono::seconds(5));
    auto ancien = verifier({"sans-zombie", (dossier / "keyhold1").string()});
    EXPECT_TRUE(ancien.sortie.starts_with(attention)) << ancien.sortie;
    fs::last_write_time(dossier / "keyhold1.cpp",
                        fs::last_write_time(dossier / "keyhold1") - std::chrono::seconds(5));
    auto a_jour = verifier({"sans-zombie", (dossier / "keyhold1").string()});
    EXPECT_EQ(a_jour.sortie.find("Attention"), std::string::npos) << a_jour.sortie;
    fs::remove_all(dossier);
}

// A lab machine whose TMPDIR is mounted noexec: verifier runs its programs
// elsewhere, and says what to do where nowhere will do. Tried as root, in a
// mount namespace of the test's own, on a TMPDIR of its own (the build may
// lie in /tmp itself, as CI's clone does).
TEST(Verifier, OnANoexecTmpItRunsThemElsewhereOrSaysWhatToDo)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a noexec folder needs root";
    // A chroot's root is no mount point: no private propagation there, and
    // without it the test's mounts could reach the machine's.
    auto prive = executer(
        {.programme = "unshare", .arguments = {"--mount", "--propagation", "private", "true"}});
    if (prive.code != 0)
        GTEST_SKIP() << "no mount namespace of private propagation here (a chroot)";
    const fs::path noexec = fs::temp_directory_path() / ("noexec-" + std::to_string(getpid()));
    fs::create_directories(noexec);
    auto sur = [&](const std::string &aussi) {
        return executer({.programme = "unshare",
                         .arguments = {"--mount", "--propagation", "private", "sh", "-c",
                                       "for d in \"$TMPDIR\" " + aussi + "; do mount -t tmpfs -o "
                                       "noexec none \"$d\" || exit 99; done; exec \"$0\" \"$@\"",
                                       CHEMIN_VERIFIER, "sans-zombie",
                                       std::string(DOSSIER_EXERCICES) + "/sans-zombie/solution.cpp"},
                         .environnement = {{"TMPDIR", noexec.string()}}},
                        60s);
    };
    auto ailleurs = sur("");
    EXPECT_EQ(ailleurs.code, 0) << ailleurs.sortie << ailleurs.erreur;
    EXPECT_NE(ailleurs.sortie.find("Bilan\u00a0: 6 critères tenus sur 6."), std::string::npos)
        << ailleurs.sortie;
    auto nulle_part = sur("/var/tmp /dev/shm");
    EXPECT_EQ(nulle_part.code, 2) << nulle_part.sortie << nulle_part.erreur;
    EXPECT_NE(nulle_part.erreur.find("\n    mkdir -p ~/tmp && TMPDIR=~/tmp verifier …\n"),
              std::string::npos)
        << nulle_part.erreur;
    fs::remove(noexec);
}

// A student's program that leaves processes behind it, one of them in a
// session of its own, all waiting forever.
TEST(Verifier, InterruptedOrKilledItLeavesNoProcessAndNoFolder)
{
    auto tenaces = [] {
        std::vector<pid_t> vus;
        for (const auto &e : fs::directory_iterator("/proc")) {
            std::string nom = e.path().filename().string();
            if (nom.find_first_not_of("0123456789") != std::string::npos)
                continue;
            auto etat = lire_stat(std::stoi(nom));
            if (etat && etat->nom == "tenace")
                vus.push_back(std::stoi(nom));
        }
        return vus;
    };
    std::string modele = (fs::temp_directory_path() / "essai-verifier-XXXXXX").string();
    ASSERT_NE(mkdtemp(modele.data()), nullptr);
    const fs::path dossier = modele;
    // Removed however the test ends.
    std::unique_ptr<const fs::path, void (*)(const fs::path *)> enlever(
        &dossier, [](const fs::path *d) { fs::remove_all(*d); });
    fs::permissions(dossier, fs::perms::all | fs::perms::sticky_bit); // as /tmp is
    for (int signal : {SIGINT, SIGKILL}) {
        {
            Processus p({.programme = CHEMIN_VERIFIER,
                         .arguments = {"sans-zombie", SOURCE_TENACE},
                         .environnement = {{"TMPDIR", dossier.string()}}});
            ASSERT_TRUE(attendre_que([&] { return tenaces().size() >= 3; }, 30s))
                << p.lire_tout(Canal::sortie, 0ms);
            ASSERT_FALSE(fs::is_empty(dossier)) << "verifier works in TMPDIR";
            // Ctrl-C reaches the terminal's foreground group; SIGKILL, verifier alone.
            kill(signal == SIGINT ? -p.pid() : p.pid(), signal);
            EXPECT_EQ(p.attendre(10s), -signal);
            // After SIGKILL, verifier's other half is still cleaning up.
            EXPECT_TRUE(p.groupe_termine(10s));
        }
        EXPECT_TRUE(attendre_que([&] { return tenaces().empty(); }, 10s))
            << "after signal " << signal << ", still running: " << tenaces().size();
        EXPECT_TRUE(attendre_que([&] { return fs::is_empty(dossier); }, 10s))
            << "after signal " << signal << ", verifier's folder is left in " << dossier;
    }
}
