// Every tool answers a mistake in its options the same way: what was wrong,
// in French, naming the option as the user typed it, then the usage, with
// the exit status 2.
#include <gtest/gtest.h>

#include <sstream>

#include <getopt.h>

#include "lancement.h"
#include "options.h"

namespace {

// What getopt_long finds wrong in these arguments (nothing: "").
std::string faute_dans(std::vector<std::string> mots)
{
    static const option longues[] = {{"niveau", required_argument, nullptr, 'n'},
                                     {"montrer", no_argument, nullptr, 'm'},
                                     {nullptr, 0, nullptr, 0}};
    mots.insert(mots.begin(), "outil");
    std::vector<char *> argv;
    for (auto &m : mots)
        argv.push_back(m.data());
    argv.push_back(nullptr);
    optind = 0; // a fresh scan
    for (int r; (r = getopt_long(static_cast<int>(mots.size()), argv.data(), ":n:m", longues,
                                 nullptr)) != -1;)
        if (r == '?' || r == ':')
            return options::faute(r, argv.data());
    return "";
}

TEST(Options, NameTheWrongOptionAsTyped)
{
    const std::string nbsp = "\u00a0";
    EXPECT_EQ(faute_dans({"--montrer", "--niveau", "2"}), "");
    EXPECT_EQ(faute_dans({"--montrer", "--bruit=3"}),
              "option inconnue «" + nbsp + "--bruit" + nbsp + "»");
    EXPECT_EQ(faute_dans({"--montrer", "-mx"}), "option inconnue «" + nbsp + "-x" + nbsp + "»");
    EXPECT_EQ(faute_dans({"--niveau"}), "il manque la valeur de --niveau");
    EXPECT_EQ(faute_dans({"-m", "-n"}), "il manque la valeur de -n");
}

TEST(Options, AMistakeGoesToStderrWithTheUsageAndStatus2)
{
    testing::internal::CaptureStderr();
    int code = options::erreur_d_usage("outil", "option inconnue", "usage : outil [-m]\n");
    EXPECT_EQ(code, 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "outil\u00a0: option inconnue\nusage\u00a0: outil [-m]\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(options::montrer_version("outil"), 0);
    std::string v = testing::internal::GetCapturedStdout();
    EXPECT_EQ(v, std::string("outil (Processus en direct) ") + options::version + "\n");
    EXPECT_NE(std::string(options::version).find('.'), std::string::npos);
}

// The benchmarks are run by hand: a count they cannot use is refused before
// any run, as a mistake (a count of 0 used to time nothing, then read the
// median of no figures).
TEST(Options, EveryBenchmarkIsCalledTheSameWay)
{
    std::istringstream bancs(BANCS);
    for (std::string banc; std::getline(bancs, banc, ':');) {
        auto lancer = [&](std::vector<std::string> arguments) {
            return lancement::executer({.programme = banc,
                                        .arguments = std::move(arguments),
                                        .entree = lancement::Flux::nul});
        };
        std::string nom = banc.substr(banc.rfind('/') + 1);
        auto aide = lancer({"--help"});
        EXPECT_EQ(aide.code, 0) << nom;
        EXPECT_TRUE(aide.sortie.starts_with("usage\u00a0: " + nom)) << aide.sortie;
        EXPECT_EQ(lancer({"--version"}).sortie,
                  nom + " (Processus en direct) " + options::version + "\n");
        for (const char *faux : {"0", "dix", "--vite"}) {
            auto r = lancer({faux});
            EXPECT_EQ(r.code, 2) << nom << " " << faux;
            EXPECT_TRUE(r.erreur.starts_with(nom + "\u00a0: ")) << r.erreur;
            EXPECT_EQ(r.sortie, "") << nom << " " << faux;
        }
    }
}

} // namespace
