// The guided tour, run as a class would see it, but with nobody at the
// keyboard: every section shows its evidence, and nothing outlives it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include <sys/wait.h>
#include <unistd.h>

#include "lancement.h"

using namespace lancement;

namespace {

Lancement visite(std::vector<std::string> arguments)
{
    return {.programme = CHEMIN_TOUR, .arguments = std::move(arguments), .entree = Flux::nul,
            .erreur = Flux::sortie, .environnement = {{"TOUR_BIN", DOSSIER_BIN}},
            .ramasser_orphelins = true};
}

std::string chercher(const std::string &texte, const std::string &motif, int groupe = 1)
{
    std::smatch m;
    if (!std::regex_search(texte, m, std::regex(motif)))
        return "";
    return m[groupe];
}

int compter(const std::string &texte, const std::string &motif)
{
    std::regex r(motif);
    return static_cast<int>(std::distance(std::sregex_iterator(texte.begin(), texte.end(), r),
                                          std::sregex_iterator()));
}

// The tour writes French: a non-breaking space before ":" and ";".
const std::string nb = "\u00a0";

// All the terminal has shown, once it holds a match for motif (or the limit
// has passed).
std::string attendre_motif(Processus &p, const std::string &motif, Duree limite = 10s)
{
    std::string ecran;
    attendre_que([&] {
        ecran = p.lire_jusqu_a(Canal::terminal, "\x01", 50ms);
        return std::regex_search(ecran, std::regex(motif));
    }, limite);
    return ecran;
}

// The living processes whose environment holds this exact entry.
std::vector<pid_t> processus_avec(const std::string &entree)
{
    std::vector<pid_t> trouves;
    for (const auto &d : std::filesystem::directory_iterator("/proc")) {
        std::string nom = d.path().filename();
        if (nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream f(d.path() / "environ");
        std::string v;
        while (std::getline(f, v, '\0'))
            if (v == entree) {
                trouves.push_back(std::stoi(nom));
                break;
            }
    }
    return trouves;
}

// One stop's text, title to the next title.
std::string section(const std::string &sortie, const std::string &etape)
{
    auto debut = sortie.find("\n=== " + etape + nb + ": ");
    if (debut == std::string::npos)
        return "";
    return sortie.substr(debut, sortie.find("\n=== ", debut + 1) - debut);
}

// The stops, from the one list of them.
std::vector<std::string> etapes_de_la_visite()
{
    std::ifstream liste(std::filesystem::path(CHEMIN_TOUR).parent_path() / "visite/arrets/liste");
    std::vector<std::string> etapes;
    for (std::string l; std::getline(liste, l);)
        if (!l.empty() && l[0] != '#')
            etapes.push_back(l);
    return etapes;
}

} // namespace

TEST(Tour, ShowsEverySectionWithTheSystemsEvidenceAndLeavesNothingBehind)
{
    Processus p(visite({}));
    auto code = p.attendre(60s);
    std::string sortie = p.lire_tout(Canal::sortie, 2s);
    ASSERT_EQ(code, 0) << sortie;
    EXPECT_TRUE(p.groupe_termine(2s)) << "a process of the tour is still running";
    for (const std::string &etape : etapes_de_la_visite())
        EXPECT_NE(sortie.find("\n=== " + etape + nb + ": "), std::string::npos) << etape;

    // genreport (indented by the tour): the parent's res is the pid of the child's line.
    std::string enfant = chercher(sortie, R"(\n {4}gen 1 : je suis \d+ fils de \d+, res = (\d+)\n)");
    ASSERT_FALSE(enfant.empty()) << sortie;
    EXPECT_NE(sortie.find("\n      gen 2 : je suis " + enfant + " fils de "), std::string::npos);

    // keyhold1: the child shown in state Z under its waiting parent, then gone.
    for (std::string prog : {"keyhold1"}) {
        std::smatch m;
        std::regex attente(prog + R"( \(pid (\d+)\) attend sa touche)" + nb + "; son fils (\\d+) a fini");
        ASSERT_TRUE(std::regex_search(sortie, m, attente)) << prog;
        std::string parent = m[1], fils = m[2];
        EXPECT_TRUE(std::regex_search(sortie, std::regex("\n +" + fils + " +" + parent + " +Z")))
            << prog << ": no ps line with the zombie";
        EXPECT_TRUE(sortie.find("Le zombie " + fils + " a disparu") != std::string::npos ||
                    sortie.find("Le fils " + fils + " a été confié") != std::string::npos)
            << prog;
    }

    // The orphan: under its shell first, then under its adopter, which here
    // is this test (a subreaper), never the shell that has ended.
    std::smatch o;
    ASSERT_TRUE(std::regex_search(sortie, o, std::regex(R"(\n +(\d+) +(\d+) +S\S* +cupcounter\n)")))
        << sortie;
    const std::string orphelin = o[1];
    EXPECT_TRUE(std::regex_search(sortie, std::regex("\n +" + orphelin + " +" +
                                                     std::to_string(getpid()) + R"( +S\S* +cupcounter\n)")))
        << "the orphan is not shown under its adopter";

    // cupcounter and handover: the same pid seen as handover, stopped before
    // its exec, then as cupcounter, and in cupcounter's lines.
    EXPECT_EQ(compter(section(sortie, "cupcounter") + section(sortie, "handover"),
                      R"(pid : \d+, cup number [012]\n)"), 5);
    std::string relais = chercher(sortie, "handover démarré" + nb + R"(: pid (\d+))");
    ASSERT_FALSE(relais.empty());
    EXPECT_NE(sortie.find("pid : " + relais + ", cup number 1\n"), std::string::npos);
    std::smatch avant, apres;
    ASSERT_TRUE(std::regex_search(sortie, avant, std::regex("\n +" + relais + R"( +(\d+) +T\S* +handover\n)")))
        << "handover is not shown stopped under its own name";
    ASSERT_TRUE(std::regex_search(sortie, apres, std::regex("\n +" + relais + R"( +(\d+) +\S+ +cupcounter\n)")))
        << "ps shows handover's process as cupcounter";
    EXPECT_EQ(avant[1], apres[1]) << "the parent changed with the exec";
    EXPECT_LT(avant.position(0), apres.position(0));
    EXPECT_NE(sortie.find("Echec execvp : No such file or directory"), std::string::npos);

    // The pipe: one pipe:[N] on the writer's 1 and on the reader's 0; the
    // reader's three lines, from that writer; then the writer's 141.
    std::string tube = section(sortie, "tube");
    std::smatch t;
    ASSERT_TRUE(std::regex_search(tube, t, std::regex(R"(readlink /proc/(\d+)/fd/1 /proc/\d+/fd/0\n)"
                                                      R"( {4}(pipe:\[\d+\])\n {4}(pipe:\[\d+\])\n)")))
        << tube;
    EXPECT_EQ(t[2], t[3]) << "two pipes, not one";
    EXPECT_EQ(compter(tube, "\n {4}pid : " + std::string(t[1]) + R"(, cup number [012](?=\n))"), 3) << tube;
    EXPECT_NE(tube.find("cupcounter 141, head 0"), std::string::npos) << tube;
    EXPECT_NE(tube.find("kill -l 141\n    PIPE\n"), std::string::npos) << tube;

    // Signals: cupcounter stopped (T), continued (its next line, then not T),
    // then 143; attentif survives SIGTERM, leaves no zombie, and dies of
    // SIGKILL: 137.
    std::string signaux = section(sortie, "signaux");
    std::string suspendu = chercher(signaux, R"(kill -TSTP (\d+)\n)");
    ASSERT_FALSE(suspendu.empty()) << signaux;
    EXPECT_TRUE(std::regex_search(signaux, std::regex("\n +" + suspendu + R"( +\d+ +T\S* +cupcounter\n)"
                                                      R"([^]*kill -CONT )" + suspendu +
                                                      R"(\n {4}\[\+[\d,]+ s\] pid : )" + suspendu +
                                                      R"(, cup number 1\n.*\n.*\n +)" + suspendu +
                                                      R"( +\d+ +[RS]\S* +cupcounter\n)")))
        << signaux;
    EXPECT_NE(signaux.find("code 143\n"), std::string::npos) << signaux;
    std::string fils = chercher(signaux, R"(\n {4}fils (\d+), je finis\n)");
    EXPECT_NE(signaux.find("fils " + fils + " recueilli aussitôt, code 0"), std::string::npos) << signaux;
    EXPECT_FALSE(std::regex_search(signaux, std::regex("\n +" + fils + " +\\d+ +Z"))) << signaux;
    EXPECT_NE(signaux.find("SIGTERM reçu, je continue\n"), std::string::npos) << signaux;
    EXPECT_NE(signaux.find("code 137\n"), std::string::npos) << signaux;
    // Every excerpt of code was found in its source.
    EXPECT_EQ(sortie.find("lignes introuvables"), std::string::npos) << sortie;

    // The walkers: three reports west, three east in the column (30 blanks
    // fewer, the tour's sed says so), each on its own line.
    EXPECT_EQ(compter(sortie, "\n {4}OUEST Explorateur [123] : position finale = -?\\d+(?=\n)"), 3);
    EXPECT_EQ(compter(sortie, "\n {25}EST Explorateur [123] : position finale = -?\\d+(?=\n)"), 3);

    // keyhold2: only its difference, the blank at the end of the line.
    EXPECT_TRUE(std::regex_search(sortie, std::regex(R"(\n {4}pid : \d+ \$\n {4}pid : \d+\$\n)")));

    EXPECT_NE(sortie.find("suite : 1500000000 \n"), std::string::npos);
    EXPECT_NE(sortie.find("LEVEL1_DCACHE_LINESIZE"), std::string::npos);
    EXPECT_EQ(compter(sortie, "temps écoulé : 0.000000 secondes"), 2);
    EXPECT_NE(sortie.find("Fin de la visite."), std::string::npos);

    // Fit for a projector: 80 columns at most, and no escape code in a pipe.
    std::istringstream lignes(sortie);
    std::string ligne;
    while (std::getline(lignes, ligne)) {
        // Columns: UTF-8 continuation bytes take none.
        auto colonnes = std::count_if(ligne.begin(), ligne.end(),
                                      [](unsigned char c) { return (c & 0xC0) != 0x80; });
        EXPECT_LE(colonnes, 80) << ligne;
    }
    EXPECT_EQ(sortie.find('\033'), std::string::npos) << "escape code written into a pipe";
}

TEST(Tour, InClassItHoldsTheZombieUntilTheTeacherPressesEnterOnce)
{
    Processus p({.programme = CHEMIN_TOUR, .arguments = {"--classe", "--sans-vue", "keyhold1"},
                 .entree = Flux::terminal, .sortie = Flux::terminal, .erreur = Flux::terminal,
                 .environnement = {{"TOUR_BIN", DOSSIER_BIN}}, .ramasser_orphelins = true});
    // The opening stop gives the line a second terminal pastes to follow.
    std::string ecran = p.lire_jusqu_a(Canal::terminal, "fin de la visite)", 10s);
    EXPECT_NE(ecran.find(std::string("  export PATH=") + DOSSIER_BIN + ":\"$PATH\"\n"),
              std::string::npos) << ecran;

    // A double Enter (the teacher's finger slips) goes on by one stop only:
    // the second one is dropped, and the tour holds at the code, where the
    // students predict; then at the zombie.
    std::this_thread::sleep_for(1s); // a key in the prompt's first 0.3 s counts as typed ahead
    p.ecrire("\n\n");
    ecran = attendre_motif(p, "» prédisez");
    EXPECT_NE(ecran.find("    printf(\"pid : %d \\n\", getpid());\n"), std::string::npos) << ecran;
    const std::string stop_zombie = "» zombie (\\d+) sous keyhold1 (\\d+)" + nb + ": ";
    EXPECT_FALSE(std::regex_search(attendre_motif(p, stop_zombie, 1s), std::regex(stop_zombie)));
    p.ecrire("\n");
    ecran = attendre_motif(p, stop_zombie);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(ecran, m, std::regex(stop_zombie))) << ecran;
    const std::string texte_zombie = m[1]; // m points into ecran, which changes below
    pid_t zombie = std::stoi(texte_zombie), parent = std::stoi(m[2]);

    // The tour waits for the teacher: the zombie stays, under its parent.
    EXPECT_FALSE(p.attendre(1s));
    auto e = lire_stat(zombie);
    ASSERT_TRUE(e) << "the zombie " << zombie << " is gone while the tour waits";
    EXPECT_EQ(e->etat, 'Z');
    EXPECT_EQ(e->parent, parent);

    p.ecrire("\n"); // Enter: the tour releases keyhold1, whose zombie goes to an adopter
    // Gone, or adopted by this test (a subreaper) and not reaped yet.
    ecran = attendre_motif(p, "» (plus de zombie|zombie \\d+ confié)", 20s);
    ASSERT_TRUE(std::regex_search(ecran, std::regex("» (plus de zombie|zombie \\d+ confié)"))) << ecran;
    EXPECT_TRUE(ecran.find("Le zombie " + texte_zombie + " a disparu") != std::string::npos ||
                ecran.find("Le fils " + texte_zombie + " a été confié") != std::string::npos)
        << ecran;
    std::this_thread::sleep_for(1s);
    p.ecrire("q"); // q ends the tour at any stop
    ecran = p.lire_jusqu_a(Canal::terminal, "Fin de la visite.", 20s);
    EXPECT_NE(ecran.find("Fin de la visite."), std::string::npos) << ecran;
    EXPECT_EQ(p.attendre(10s), 0);
    EXPECT_FALSE(lire_stat(zombie) && lire_stat(zombie)->parent == parent);
}

TEST(Tour, InterruptedItStopsWhatItStarted)
{
    Processus p(visite({"cupcounter"}));
    ASSERT_NE(p.lire_jusqu_a(Canal::sortie, "cup number 0", 10s).find("cup number 0"),
              std::string::npos);
    kill(-p.pid(), SIGINT); // what Ctrl-C does to the foreground group
    EXPECT_EQ(p.attendre(10s), 130);
    EXPECT_TRUE(p.groupe_termine(3s)) << "cupcounter outlived the tour";
}

// Closing the window at a stop: its terminal hangs up the tour's group (the
// tour and the tmux client of the session it opened). The session goes, and
// with it the tour inside and all it started; no file is left.
TEST(Tour, ClosingTheTerminalAtAStopLeavesNothing)
{
    if (system("command -v tmux >/dev/null") != 0)
        GTEST_SKIP() << "tmux is not installed (Debian package tmux)";
    const std::filesystem::path dossier = std::filesystem::temp_directory_path() /
                                          ("tour-hup-" + std::to_string(getpid()));
    for (const char *sous : {"tmp", "tmux"})
        std::filesystem::create_directories(dossier / sous);
    // Every process of this tour, tmux's server included, carries this entry.
    const std::string marque = "TMPDIR=" + (dossier / "tmp").string();
    {
        Processus p({.programme = CHEMIN_TOUR, .arguments = {"--classe", "keyhold1"},
                     .entree = Flux::terminal, .sortie = Flux::terminal, .erreur = Flux::terminal,
                     .environnement = {{"TOUR_BIN", DOSSIER_BIN},
                                       {"TMPDIR", (dossier / "tmp").string()},
                                       {"TMUX_TMPDIR", (dossier / "tmux").string()},
                                       {"TMUX", std::nullopt},
                                       {"TERM", "xterm"}}});
        // Through tmux the screen is drawn, not written: watch /proc instead.
        // Enter at the opening stop, until keyhold1 holds its zombie.
        auto zombie = [&] {
            for (pid_t t : processus_avec(marque))
                for (const auto &z : enfants_de(t))
                    if (z.etat.etat == 'Z' && z.etat.nom == "keyhold1")
                        return true;
            return false;
        };
        for (int essai = 0; essai < 5 && !zombie(); essai++) {
            std::this_thread::sleep_for(1s);
            p.ecrire("\r");
            attendre_que(zombie, 2s);
        }
        EXPECT_TRUE(zombie()) << p.lire_jusqu_a(Canal::terminal, "\x01", 100ms);

        kill(-p.pid(), SIGHUP);
        EXPECT_TRUE(p.attendre(10s));
        EXPECT_TRUE(attendre_que([&] { return processus_avec(marque).empty(); }, 10s))
            << processus_avec(marque).size() << " processes of the tour are left";
        for (pid_t reste : processus_avec(marque)) // even when the test fails
            kill(reste, SIGKILL);
        // Orphans came back to this test, a subreaper: reap them all.
        attendre_que([] { return waitpid(-1, nullptr, WNOHANG) < 0; }, 5s);
    }
    // Every process has gone: a file still here stays, as the tour's leftover.
    EXPECT_TRUE(attendre_que([&] { return std::filesystem::is_empty(dossier / "tmp"); }, 5s))
        << "the tour left files: " << [&] {
               std::string restes;
               for (const auto &f : std::filesystem::recursive_directory_iterator(dossier / "tmp"))
                   restes += " " + f.path().lexically_relative(dossier / "tmp").string();
               return restes;
           }();
    std::filesystem::remove_all(dossier);
}

// The tour turns the terminal's echo off while it shows a step; hung up
// (its terminal's window closed, or kill -HUP from another shell) it gives
// the terminal back as it found it.
TEST(Tour, HungUpItGivesTheTerminalItsEchoBack)
{
    Processus p({.programme = "sh",
                 .arguments = {"-c", "stty echo; exec 3<&0; \"$1\" cupcounter <&3 >/dev/null 2>&1 & "
                                     "v=$!; sleep 1; stty -a | grep -o -e ' -\\{0,1\\}echo ' | "
                                     "head -n 1; kill -HUP $v; wait $v; stty -a | "
                                     "grep -o -e ' -\\{0,1\\}echo '; echo fin",
                               "sh", CHEMIN_TOUR},
                 .entree = Flux::terminal, .sortie = Flux::terminal, .erreur = Flux::terminal,
                 .environnement = {{"TOUR_BIN", DOSSIER_BIN}},
                 .ramasser_orphelins = true});
    std::string ecran = attendre_motif(p, "fin\r?\n", 20s);
    EXPECT_NE(ecran.find(" -echo \n echo \nfin"), std::string::npos) << ecran;
    EXPECT_TRUE(p.attendre(10s));
}

TEST(Tour, ListsAndChoosesItsSections)
{
    auto liste = executer(visite({"--list"}));
    EXPECT_EQ(liste.code, 0);
    for (const std::string &etape : etapes_de_la_visite())
        EXPECT_EQ(compter(liste.sortie, std::string("(^|\n)") + etape + " "), 1) << etape;

    auto une = executer(visite({"stopclock"}));
    EXPECT_EQ(une.code, 0);
    EXPECT_NE(une.sortie.find("=== stopclock"), std::string::npos);
    EXPECT_EQ(une.sortie.find("=== genreport"), std::string::npos);

    auto inconnue = executer(visite({"nulle-part"}));
    EXPECT_EQ(inconnue.code, 2);
}

// What a tmux server of this test's own says to a command.
std::string tmux_dit(const std::string &socket, const std::string &commande)
{
    std::string sortie;
    FILE *f = popen(("tmux -L " + socket + " " + commande + " 2>/dev/null").c_str(), "r");
    if (f == nullptr)
        return sortie;
    char morceau[4096];
    for (size_t n; (n = fread(morceau, 1, sizeof morceau, f)) > 0;)
        sortie.append(morceau, n);
    pclose(f);
    return sortie;
}

// A screen's lines, without the blanks at their ends.
std::string sans_blancs_finals(const std::string &ecran)
{
    std::string l = std::regex_replace(ecran, std::regex(" +\n"), "\n");
    return l.substr(0, l.find_last_not_of('\n') + 1);
}

// The pane as it shows, and the same with wrapped lines joined, read at one
// moment: a stop's live line (a cup a second) may change between two reads.
std::pair<std::string, std::string> ecran_et_lignes_jointes(const std::string &socket)
{
    std::string ecran, jointes;
    for (int essai = 0; essai < 5; essai++) {
        ecran = tmux_dit(socket, "capture-pane -p -t v:0.0");
        jointes = tmux_dit(socket, "capture-pane -p -J -t v:0.0");
        if (tmux_dit(socket, "capture-pane -p -t v:0.0") == ecran)
            break;
    }
    return {ecran, jointes};
}

// In class at 80x24, the tour above and its live tree below: at every stop,
// the whole of what the stop shows is on the tour's pane, title to prompt,
// nothing scrolled away (the tour clears the pane's history with its screen)
// and no line wrapped. The tour drops a key that comes in the prompt's first
// 0,3 s; on a loaded machine the prompt can show well before that moment
// starts, so an Enter that changed nothing in 2 s is sent again (a key taken
// clears the screen at once).
void chaque_arret_tient(const std::vector<std::string> &etapes)
{
    const std::string socket = "essai-tour-" + std::to_string(getpid());
    std::string liste;
    for (const std::string &e : etapes)
        liste += " " + e;
    tmux_dit(socket, std::string("new-session -d -s v -x 80 -y 24 -e TOUR_BIN=") + DOSSIER_BIN +
                         " -e TERM=xterm " + CHEMIN_TOUR + " --classe" + liste);
    int arrets = 0;
    std::string avant, titres;
    bool fini = false;
    auto fin = std::chrono::steady_clock::now() + 55s;
    auto envoi = std::chrono::steady_clock::now();
    while (!fini && std::chrono::steady_clock::now() < fin) {
        std::this_thread::sleep_for(200ms);
        std::string ecran = tmux_dit(socket, "capture-pane -p -t v:0.0");
        std::string dernier = ecran.substr(0, ecran.find_last_not_of('\n') + 1);
        dernier = dernier.substr(dernier.rfind('\n') + 1);
        // The tour's end closes its window, and with it this test's server.
        if (ecran.empty() && system(("tmux -L " + socket + " has-session 2>/dev/null").c_str()) != 0)
            fini = true;
        if (fini || dernier.find("Entrée" + nb + ": on continue") == std::string::npos)
            continue;
        if (ecran == avant) {
            if (std::chrono::steady_clock::now() - envoi > 2s) { // the key was dropped
                tmux_dit(socket, "send-keys -t v:0.0 Enter");
                envoi = std::chrono::steady_clock::now();
            }
            continue;
        }
        std::this_thread::sleep_for(400ms); // the prompt's first moment drops keys
        std::string jointes;
        std::tie(ecran, jointes) = ecran_et_lignes_jointes(socket);
        avant = ecran;
        arrets++;
        if (ecran.find("=== ") != std::string::npos)
            titres += ecran.substr(ecran.find("=== "), ecran.find('\n', ecran.find("=== ")) -
                                                        ecran.find("=== ")) + "\n";
        EXPECT_EQ(tmux_dit(socket, "display -p -t v:0.0 '#{history_size}'"), "0\n")
            << "scrolled away at this stop:\n" << ecran;
        EXPECT_EQ(sans_blancs_finals(jointes), sans_blancs_finals(ecran))
            << "a line wrapped at this stop:\n" << ecran;
        tmux_dit(socket, "send-keys -t v:0.0 Enter");
        envoi = std::chrono::steady_clock::now();
    }
    tmux_dit(socket, "kill-server");
    EXPECT_TRUE(fini) << arrets << " stops seen";
    for (const std::string &etape : etapes)
        EXPECT_NE(titres.find("=== " + etape + nb + ": "), std::string::npos) << etape << " " << titres;
}

// Two halves, each within a test's time: the whole class tour takes longer.
TEST(Tour, InClassEveryStopFitsItsPaneAt80x24)
{
    if (system("command -v tmux >/dev/null") != 0)
        GTEST_SKIP() << "tmux is not installed (Debian package tmux)";
    auto etapes = etapes_de_la_visite();
    chaque_arret_tient({etapes.begin(), etapes.begin() + static_cast<long>(etapes.size() / 2)});
}

TEST(Tour, InClassEveryStopFitsItsPaneAt80x24SecondHalf)
{
    if (system("command -v tmux >/dev/null") != 0)
        GTEST_SKIP() << "tmux is not installed (Debian package tmux)";
    auto etapes = etapes_de_la_visite();
    chaque_arret_tient({etapes.begin() + static_cast<long>(etapes.size() / 2), etapes.end()});
}

// The scheduling stop measures for real: each share is the CPU time its row
// shows over the time measured; every loop gets some, none more than a core,
// the one at nice 19 far less than the others, and together they never get
// more than the cores.
// The copy-on-write stop: the child's pages shared after fork, then as many
// pages copied, and page faults, as it wrote. Loose bounds: a loaded machine
// gives less to the tour's loops, not a different lesson.
TEST(Tour, SchedulingAndCopyOnWriteStopsShowTheKernelsFigures)
{
    auto r = executer(visite({"ordonnancement", "copie-sur-ecriture"}), 30s);
    ASSERT_EQ(r.code, 0) << r.sortie;
    const std::string &sortie = r.sortie;
    auto decimal = [](const std::string &t) { return std::stod(std::regex_replace(t, std::regex(","), ".")); };
    std::regex table("pendant ([\\d,]+) s" + nb + ":\n.*\n((?: +\\d+ +\\d+ +[\\d,]+ s → +[\\d,]+ s +\\d+" + nb +
                     "%\n)+) +ensemble +(\\d+)" + nb + "% sur (\\d+)");
    std::regex ligne(" +(\\d+) +(\\d+) +([\\d,]+) s → +([\\d,]+) s +(\\d+)" + nb + "%\n");
    std::vector<std::vector<std::pair<int, int>>> tables; // (nice, share) by row
    std::vector<unsigned> coeurs;                         // the cores they may run on
    for (auto t = std::sregex_iterator(sortie.begin(), sortie.end(), table); t != std::sregex_iterator(); ++t) {
        const double duree = decimal((*t)[1]);
        const std::string lignes = (*t)[2];
        int somme = 0;
        tables.emplace_back();
        for (auto l = std::sregex_iterator(lignes.begin(), lignes.end(), ligne); l != std::sregex_iterator(); ++l) {
            const int part = std::stoi((*l)[5]);
            EXPECT_NEAR(part, (decimal((*l)[4]) - decimal((*l)[3])) * 100 / duree, 2 + part * 0.1) << (*l)[0];
            tables.back().emplace_back(std::stoi((*l)[2]), part);
            somme += part;
        }
        EXPECT_EQ(somme, std::stoi((*t)[3]));
        EXPECT_LE(somme, std::stoi((*t)[4]) + 5) << "more than the cores";
        coeurs.push_back(std::stoi((*t)[4]) / 100);
    }
    ASSERT_EQ(tables.size(), 2u) << sortie;
    EXPECT_EQ(tables[0].size(), coeurs[0] + 1u) << "not one loop more than the cores";
    // Each ready loop gets its turn, and none more than the one core it can
    // run on at a time (over a couple of seconds, shares need not be equal:
    // one may keep a core while two share the other).
    // They all have the tour's nice: 0, or what it was started under.
    const int base = tables[0][0].first;
    for (auto [nice, part] : tables[0]) {
        EXPECT_EQ(nice, base);
        EXPECT_GT(part, 0);
        EXPECT_LE(part, 105);
    }
    // Then all on one core, where the weights alone share it out: 15 at
    // nice 19, 1024 at nice 0 (110 at nice 10).
    EXPECT_EQ(coeurs[1], 1u);
    EXPECT_EQ(tables[1][0].first, 19);
    for (std::size_t i = 1; i < tables[1].size(); i++) {
        EXPECT_EQ(tables[1][i].first, base);
        EXPECT_LE(2 * tables[1][0].second, tables[1][i].second + 2) << "nice 19 did not pull apart";
    }

    // The child's row after fork: all shared, nothing private; then the
    // pages it wrote, copied one by one.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(sortie, m, std::regex(" fils +\\d+ +[\\d,]+ +([\\d,]+) +([\\d,]+) ")));
    EXPECT_GE(decimal(m[1]), 60);
    EXPECT_LT(decimal(m[2]), 4);
    const int ecrites = std::stoi(chercher(sortie, "le fils a écrit (\\d+) pages"));
    ASSERT_TRUE(std::regex_search(sortie, m, std::regex("Chez le fils, (\\d+) pages privées de plus \\([\\d,]+ Mio\\) et (\\d+) défauts")));
    EXPECT_NEAR(std::stoi(m[1]), ecrites, 64 + ecrites / 50.0);
    EXPECT_NEAR(std::stoi(m[2]), ecrites, 64 + ecrites / 50.0);
}
