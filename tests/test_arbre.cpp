// arbre, run as a student and a teacher would: the trees it shows are the
// kernel's, a wrong prediction is shown wrong, and nothing outlives it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

Resultat arbre(std::vector<std::string> arguments, std::string entree = "")
{
    return executer({.programme = CHEMIN_ARBRE, .arguments = std::move(arguments),
                     .entree = Flux::fichier, .contenu_entree = std::move(entree)},
                    20s);
}

// The processes of a held program: those named after its seed.
std::vector<pid_t> tenus(const std::string &nom)
{
    std::vector<pid_t> pids;
    for (const auto &e : fs::directory_iterator("/proc"))
        if (auto pid = std::atoi(e.path().filename().c_str()); pid > 0)
            if (auto s = lire_stat(pid); s && s->nom == nom)
                pids.push_back(pid);
    return pids;
}

// The text with its non-breaking spaces, as arbre writes it.
std::string arbre_fr(std::string texte)
{
    for (auto [de, en] : {std::pair{" ;", "\u00a0;"}, {" :", "\u00a0:"}, {" ?", "\u00a0?"},
                          {"« ", "«\u00a0"}, {" »", "\u00a0»"}})
        for (auto k = texte.find(de); k != std::string::npos; k = texte.find(de, k))
            texte.replace(k, std::string(de).size(), en);
    return texte;
}

} // namespace

// Three seeds a teacher may hand out, at three levels: the tree read from
// /proc (each process named by a letter in the order a reader meets it).
TEST(Arbre, ThreeSeedsGiveTheTreesTheKernelMakes)
{
    struct Cas {
        const char *niveau, *graine, *attendu;
    };
    for (auto c : {Cas{"2", "5", "processus 6\nP(A(B(C) D) E)\n"},
                   Cas{"3", "7", "processus 7\nP(A(B) C D(E) F)\n"},
                   Cas{"5", "3", "processus 15\nP(A(B(C(D(E)))) F(G(H(I(J)))) K(L(M(N))))\n"}}) {
        auto r = arbre({"--corrige", "--niveau", c.niveau, "--graine", c.graine});
        EXPECT_EQ(r.code, 0) << r.erreur;
        EXPECT_EQ(r.sortie, std::string("graine ") + c.graine + "\nniveau " + c.niveau + "\n" +
                                c.attendu);
    }
    // A seed read out in class gives every machine the same program.
    EXPECT_NE(arbre({"--montrer", "--niveau", "2", "--graine", "5"})
                  .sortie.find("    for (int i = 0; i < 2; i++)\n"
                               "        if (fork())\n"
                               "            break;\n"
                               "    fork();\n"),
              std::string::npos);
    EXPECT_TRUE(attendre_que(
        [] { return tenus("arbre-5").empty() && tenus("arbre-7").empty() && tenus("arbre-3").empty(); },
        3s));
}

TEST(Arbre, ShowsAWrongPredictionBesideTheRealTreeWithEachDifference)
{
    // One child given to the wrong process, and one process too many.
    auto r = arbre({"--niveau", "2", "--graine", "5", "--reponse", "-"},
                   "processus 7  # one too many\nP(A(B C) D(E))\n");
    EXPECT_EQ(r.code, 1) << r.erreur;
    // Side by side: C has no child where the real 2nd process has one, and E
    // does not exist under D, the real tree's last leaf.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.sortie, m,
        std::regex("│   └── C +│   │   └── (\\d+)  oublié\n"
                   "└── D +│   └── \\d+\n"
                   "    └── E  en trop +└── (\\d+)\n")))
        << r.sortie;
    const std::string oublie = m[1], feuille = m[2];
    for (const std::string &ecart : std::vector<std::string>{"il y a 6 processus, vous en prévoyez 7 ;",
                              "votre arbre compte 6 processus, pas 7 ;",
                              "le pid " + oublie + ", enfant du pid ",
                              "votre E, enfant de votre D (le pid " + feuille + "), n'existe pas."})
        EXPECT_NE(r.sortie.find(arbre_fr(ecart)), std::string::npos) << ecart << "\n" << r.sortie;

    // The same shape with other names and brothers in another order is right.
    auto juste = arbre({"--niveau", "2", "--graine", "5"}, "processus 6\nx(y z(u v(w)))\n");
    EXPECT_EQ(juste.code, 0) << juste.sortie;
    EXPECT_NE(juste.sortie.find(arbre_fr("Juste : 6 processus, et l'arbre a la bonne forme.")),
              std::string::npos);

    // What a user reads: 80 columns, and French typography.
    std::istringstream lignes(r.sortie + juste.sortie);
    for (std::string ligne; std::getline(lignes, ligne);) {
        auto colonnes = std::count_if(ligne.begin(), ligne.end(),
                                      [](unsigned char c) { return (c & 0xC0) != 0x80; });
        EXPECT_LE(colonnes, 80) << ligne;
        EXPECT_FALSE(std::regex_search(ligne, std::regex(" [:;?!]|« | »"))) << ligne;
    }
}

// The tree stays alive while the student looks at it; a signal then ends
// arbre, every process of the tree, and the folder of the compiled program.
TEST(Arbre, WhileTheTreeIsHeldASignalEndsItAll)
{
    for (int signal : {SIGHUP, SIGINT}) {
        Processus p({.programme = CHEMIN_ARBRE, .arguments = {"--niveau", "3", "--graine", "7"},
                     .entree = Flux::terminal, .sortie = Flux::terminal,
                     .erreur = Flux::terminal});
        p.lire_jusqu_a(Canal::terminal, "premier compris", 10s);
        p.ecrire("7\n");
        p.lire_jusqu_a(Canal::terminal, "Arbre", 5s);
        p.ecrire("P(A(B) C D(E) F)\n");
        std::string ecran = p.lire_jusqu_a(Canal::terminal, arbre_fr("q : finir"), 10s);
        ASSERT_NE(ecran.find(arbre_fr("Juste : 7 processus")), std::string::npos) << ecran;

        auto pids = tenus("arbre-7");
        ASSERT_EQ(pids.size(), 7u) << ecran;
        fs::path dossier = fs::read_symlink("/proc/" + std::to_string(pids[0]) + "/exe")
                               .parent_path();
        for (pid_t pid : pids) {
            EXPECT_EQ(lire_stat(pid)->etat, 'S');
            EXPECT_NE(ecran.find(std::to_string(pid)), std::string::npos) << "pid " << pid;
        }
        EXPECT_FALSE(p.attendre(200ms)) << "arbre did not hold the tree";

        kill(p.pid(), signal);
        EXPECT_EQ(p.attendre(5s), -signal);
        EXPECT_TRUE(attendre_que([&] { return tenus("arbre-7").empty(); }, 3s))
            << "signal " << signal << ": processes of the tree are left";
        EXPECT_FALSE(fs::exists(dossier)) << dossier;
    }
}

TEST(Arbre, SaysWhatItIsAskedWrong)
{
    for (std::vector<std::string> faux : {
             std::vector<std::string>{"--niveau", "6"}, {"--niveau"}, {"--graine", "douze"},
             {"--montrer", "--corrige"}, {"--source", "x.c", "--graine", "1"}, {"--vite"}}) {
        auto r = arbre(faux);
        EXPECT_EQ(r.code, 2) << faux[0];
        EXPECT_NE(r.erreur.find(arbre_fr("usage : arbre")), std::string::npos) << r.erreur;
    }
    auto aide = arbre({"--help"});
    EXPECT_EQ(aide.code, 0);
    EXPECT_NE(aide.sortie.find("--reponse FICHIER"), std::string::npos);
    EXPECT_EQ(arbre({"-h"}).sortie, aide.sortie);
    auto version = arbre({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(version.sortie.starts_with("arbre (Processus en direct) ")) << version.sortie;

    // A prediction it cannot read, or one for another program: said, not compared.
    auto illisible = arbre({"--graine", "5", "--niveau", "2"}, "processus 6\nP(A(B(C) D) E\n");
    EXPECT_EQ(illisible.code, 2);
    EXPECT_NE(illisible.erreur.find(arbre_fr("il manque « ) »")), std::string::npos)
        << illisible.erreur;
    auto autre = arbre({"--graine", "5", "--niveau", "2"}, "graine 6\nprocessus 6\n");
    EXPECT_EQ(autre.code, 2);
    EXPECT_NE(autre.erreur.find("pour un autre programme (graine 6"), std::string::npos);

    // A student's own program that does not hold its processes is told why.
    std::string source = fs::temp_directory_path() / ("arbre-essai-" + std::to_string(getpid()) + ".c");
    FILE *f = std::fopen(source.c_str(), "w");
    std::fputs("#include <unistd.h>\nint main(void) { fork(); return 0; }\n", f);
    std::fclose(f);
    auto sans_attente = arbre({"--source", source}, "processus 2\n");
    fs::remove(source);
    EXPECT_EQ(sans_attente.code, 3);
    EXPECT_NE(sans_attente.erreur.find("read(0, &c, 1)"), std::string::npos) << sans_attente.erreur;
}
