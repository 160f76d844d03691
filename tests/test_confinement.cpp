// A student's program touches nothing of the teacher's who runs verifier as an
// ordinary user: files, processes, network, environment. And where this
// kernel cannot promise it, verifier says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

const fs::path source = DOSSIER_SOURCE;

// The tests play an ordinary user: themselves, or nobody when run by root.
std::vector<std::string> en_utilisateur_ordinaire(std::vector<std::string> commande)
{
    if (geteuid() == 0) {
        commande.insert(commande.begin(),
                        {"--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    }
    return commande;
}
std::string lanceur() { return geteuid() == 0 ? "setpriv" : "env"; }

// Whether the ordinary user the tests play can do this, tried in a child.
template <typename Essai> bool un_utilisateur_ordinaire_peut(Essai essai)
{
    pid_t fils = fork();
    if (fils == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(1);
        _exit(essai() ? 0 : 1);
    }
    int statut = 0;
    return fils > 0 && waitpid(fils, &statut, 0) == fils && statut == 0;
}

// Why these tests cannot be tried here, if they cannot: a build where the
// ordinary user may not enter (a clone in /root, as in the fresh Debian
// roots), or, for the hostile copies, no user namespace for that user (a
// chroot, or a kernel that keeps them for root).
std::string empechement(bool reseau_isole_requis)
{
    if (!un_utilisateur_ordinaire_peut([] { return access(CHEMIN_VERIFIER, X_OK) == 0; }))
        return "an ordinary user may not run verifier where it was built";
    if (reseau_isole_requis &&
        !un_utilisateur_ordinaire_peut([] { return unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0; }))
        return "an ordinary user gets no user namespace here: what verifier says then is the "
               "next test's";
    return "";
}

struct Dossier {
    const fs::path chemin;
    explicit Dossier(const std::string &nom)
        : chemin(fs::temp_directory_path() / (nom + "-" + std::to_string(getpid())))
    {
        fs::create_directories(chemin);
        chmod(chemin.c_str(), 0700);
        if (geteuid() == 0) {
            EXPECT_EQ(chown(chemin.c_str(), 65534, 65534), 0);
        }
    }
    ~Dossier() { fs::remove_all(chemin); }
};

// The exercise's solution with one side effect added at the start of main.
std::string copie_hostile(const std::string &entete, const std::string &effet)
{
    std::ifstream f(source / "exercices/sans-zombie/solution.cpp");
    std::string texte{std::istreambuf_iterator<char>(f), {}};
    texte.insert(texte.find("#include <cstdio>"), "#include <cerrno>\n" + entete + "\n");
    auto debut = texte.find('{', texte.find("int main()")) + 1;
    texte.insert(debut, "\n" + effet + "\n    errno = 0;\n"); // as if nothing had failed
    return texte;
}

// verifier run as the ordinary user, with these changes to the environment.
Resultat verifier_en_utilisateur(std::vector<std::string> arguments, const Lancement &autour)
{
    Lancement l = autour;
    arguments.insert(arguments.begin(), CHEMIN_VERIFIER);
    l.programme = lanceur();
    l.arguments = en_utilisateur_ordinaire(arguments);
    l.entree = Flux::nul;
    return executer(l, 120s);
}

// Seen as Debian 12's Linux 6.1 sees it: Landlock's version 2, which scopes
// no signal and bounds no truncate(2).
const std::vector<std::pair<std::string, std::optional<std::string>>> landlock_2 = {
    {"LD_PRELOAD", CHEMIN_LANDLOCK_ANCIEN},
    {"ASAN_OPTIONS", "verify_asan_link_order=0"}};

// Six hostile copies in a class check: nothing of the teacher's is read,
// written, killed or reached, and each copy keeps all its criteria.
void classe_hostile(const std::vector<std::pair<std::string, std::optional<std::string>>> &noyau)
{
    Dossier rendus("rendus"), maison("maison");
    fs::path secret = maison.chemin / "secret.txt", vole = maison.chemin / "PWNED.txt";
    fs::path garde = maison.chemin / "notes.txt";
    fs::path csv = rendus.chemin / "notes.csv";
    std::ofstream(secret) << "le sujet de l'examen\n";
    std::ofstream(garde) << "intact\n";
    for (const auto &f : {secret, garde}) {
        chmod(f.c_str(), 0600);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(f.c_str(), 65534, 65534), 0);
        }
    }

    // A port of the teacher's on the loopback, which nothing should reach.
    int ecoute = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in adresse = {};
    adresse.sin_family = AF_INET;
    adresse.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t taille = sizeof adresse;
    ASSERT_EQ(bind(ecoute, reinterpret_cast<sockaddr *>(&adresse), sizeof adresse), 0);
    ASSERT_EQ(listen(ecoute, 4), 0);
    getsockname(ecoute, reinterpret_cast<sockaddr *>(&adresse), &taille);
    const std::string port = std::to_string(ntohs(adresse.sin_port));

    std::ofstream(rendus.chemin / "fichiers.cpp") << copie_hostile(
        "#include <fstream>\n#include <iterator>\n#include <string>",
        "    std::ifstream lu(\"" + secret.string() + "\");\n"
        "    std::string s{std::istreambuf_iterator<char>(lu), {}};\n"
        "    std::ofstream(\"" + vole.string() + "\") << s;\n"
        "    std::ofstream(\"" + csv.string() + "\", std::ios::app) << \"triche;6;6;\\n\";");
    std::ofstream(rendus.chemin / "signaux.cpp") << copie_hostile(
        "#include <csignal>",
        "    signal(SIGUSR2, SIG_IGN);\n"
        "    if (fork() == 0) { signal(SIGUSR2, SIG_IGN); kill(-1, SIGUSR2); _exit(0); }\n"
        "    wait(nullptr);");
    std::ofstream(rendus.chemin / "reseau.cpp") << copie_hostile(
        "#include <arpa/inet.h>\n#include <sys/socket.h>",
        "    int s = socket(AF_INET, SOCK_STREAM, 0);\n"
        "    sockaddr_in a = {};\n    a.sin_family = AF_INET;\n"
        "    a.sin_port = htons(" + port + ");\n    a.sin_addr.s_addr = htonl(0x7f000001);\n"
        "    if (connect(s, (sockaddr *)&a, sizeof a) == 0) write(s, \"vu\\n\", 3);\n"
        "    close(s);");
    std::ofstream(rendus.chemin / "environnement.cpp")
        << copie_hostile("#include <cstdlib>", "    if (getenv(\"JETON_PROF\")) return 3;");
    std::ofstream(rendus.chemin / "parent.cpp")
        << copie_hostile("#include <csignal>", "    kill(getppid(), SIGUSR2);");
    std::ofstream(rendus.chemin / "tronque.cpp")
        << copie_hostile("", "    truncate(\"" + garde.string() + "\", 0);");

    // One of the teacher's own processes, started before.
    Processus victime({.programme = lanceur(),
                       .arguments = en_utilisateur_ordinaire({"sleep", "120"}),
                       .entree = Flux::nul, .sortie = Flux::nul, .erreur = Flux::nul});
    ASSERT_TRUE(attendre_que([&] {
        auto e = lire_stat(victime.pid());
        return e && e->nom == "sleep";
    }));

    auto environnement = noyau;
    environnement.emplace_back("JETON_PROF", "jeton-secret");
    auto r = verifier_en_utilisateur({"sans-zombie", rendus.chemin, "--csv", csv},
                                     {.environnement = environnement});
    EXPECT_EQ(r.code, 0) << r.sortie << r.erreur;
    std::ifstream lu(csv);
    std::vector<std::string> rangs;
    for (std::string l; std::getline(lu, l);)
        rangs.push_back(l);
    ASSERT_EQ(rangs.size(), 7u) << r.sortie; // nothing written there but by verifier
    for (std::size_t k = 1; k < rangs.size(); k++)
        EXPECT_TRUE(std::regex_match(rangs[k], std::regex("[a-z]+\\.cpp;(\\d+);\\1;")))
            << rangs[k] << "\n" << r.sortie;

    EXPECT_FALSE(fs::exists(vole)) << "the secret was copied";
    EXPECT_EQ(fs::file_size(garde), 7u) << "the teacher's file was truncated";
    EXPECT_FALSE(victime.attendre(0ms)) << "the teacher's process was killed";
    EXPECT_LT(accept(ecoute, nullptr, nullptr), 0) << "the teacher's port was reached";
    close(ecoute);
}

} // namespace

TEST(Confinement, SixHostileCopiesInAClassCheckReachNothingOfTheTeachersAndKeepTheirMarks)
{
    if (auto raison = empechement(true); !raison.empty())
        GTEST_SKIP() << raison;
    classe_hostile({});
}

// Where Landlock scopes no signal (Linux 6.1), seccomp's listener bounds them:
// the hostile copies fail as above, and the exercises whose processes signal
// one another keep every criterion.
TEST(Confinement, WithLinux61sLandlockHostileCopiesStillFailAndSignallingSolutionsKeepTheirMarks)
{
    if (auto raison = empechement(true); !raison.empty())
        GTEST_SKIP() << raison;
    classe_hostile(landlock_2);
    for (const char *exercice : {"signaux", "ordre"}) {
        Dossier copie(std::string("copie-") + exercice);
        fs::path solution = copie.chemin / "solution.cpp";
        fs::copy_file(source / "exercices" / exercice / "solution.cpp", solution);
        auto r = verifier_en_utilisateur({exercice, solution}, {.environnement = landlock_2});
        EXPECT_EQ(r.code, 0) << r.sortie << r.erreur;
        EXPECT_EQ(r.sortie.find("Confinement incomplet"), std::string::npos) << r.sortie;
        std::smatch bilan;
        ASSERT_TRUE(std::regex_search(r.sortie, bilan, std::regex("(\\d+) critères tenus sur (\\d+)")))
            << r.sortie;
        EXPECT_EQ(bilan[1], bilan[2]) << exercice << "\n" << r.sortie;
    }
}

// Where the kernel has neither Landlock nor unprivileged user namespaces (a
// seccomp filter around verifier makes it so), a student's own check says
// so in one line and goes on; a class check refuses to start unless told.
TEST(Confinement, WhereTheKernelCannotKeepItsPromisesAStudentIsToldAndAClassCheckRefuses)
{
    if (auto raison = empechement(false); !raison.empty())
        GTEST_SKIP() << raison;
    Dossier rendus("rendus-sans");
    fs::copy_file(source / "exercices/sans-zombie/solution.cpp", rendus.chemin / "bon.cpp");
    auto verifier = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), CHEMIN_VERIFIER);
        arguments.insert(arguments.begin(), CHEMIN_SANS_MECANISMES);
        return executer({.programme = lanceur(),
                         .arguments = en_utilisateur_ordinaire(arguments),
                         .entree = Flux::nul},
                        120s);
    };
    const std::string ligne = "Confinement incomplet sur ce noyau\u00a0: le programme pourrait "
                              "lire et écrire les fichiers de l'utilisateur";

    auto seul = verifier({"sans-zombie", (rendus.chemin / "bon.cpp").string()});
    std::replace(seul.sortie.begin(), seul.sortie.end(), '\n', ' ');
    EXPECT_EQ(seul.code, 0) << seul.sortie << seul.erreur;
    EXPECT_TRUE(seul.sortie.starts_with(ligne)) << seul.sortie;
    EXPECT_NE(seul.sortie.find("se servir du réseau"), std::string::npos) << seul.sortie;
    EXPECT_NE(seul.sortie.find("Bilan\u00a0: 6 critères tenus sur 6."), std::string::npos)
        << seul.sortie;

    auto classe = verifier({"sans-zombie", rendus.chemin.string()});
    EXPECT_EQ(classe.code, 2) << classe.sortie << classe.erreur;
    EXPECT_EQ(classe.sortie, "");
    EXPECT_NE(classe.erreur.find("confinement incomplet sur ce noyau"), std::string::npos)
        << classe.erreur;
    EXPECT_NE(classe.erreur.find("--sans-confinement"), std::string::npos) << classe.erreur;

    auto accepte = verifier({"sans-zombie", rendus.chemin.string(), "--sans-confinement"});
    EXPECT_EQ(accepte.code, 0) << accepte.sortie << accepte.erreur;
}
