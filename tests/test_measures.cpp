// registres, linefit and stopclock as a user runs them, and registres' loop
// as the processor sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "lancement.h"

using namespace essai;
namespace fs = std::filesystem;

namespace {

struct Instruction {
    unsigned long adresse;
    std::string mnemonique, operandes;
};

// main's instructions, as objdump disassembles the built program.
std::vector<Instruction> desassembler_main(const std::string &programme)
{
    auto r = executer({.programme = CMAKE_OBJDUMP,
                       .arguments = {"-d", "--no-show-raw-insn", programme}},
                      30s);
    EXPECT_EQ(r.code, 0) << r.erreur;
    std::vector<Instruction> main;
    std::istringstream lignes(r.sortie);
    std::string ligne;
    bool dans_main = false;
    static const std::regex forme(R"(^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$)");
    while (std::getline(lignes, ligne)) {
        if (ligne.ends_with("<main>:")) {
            dans_main = true;
            continue;
        }
        std::smatch m;
        if (dans_main && std::regex_match(ligne, m, forme))
            main.push_back({std::stoul(m[1], nullptr, 16), m[2], m[3]});
        else if (dans_main && !main.empty())
            break; // a blank line ends the function
    }
    return main;
}

const std::string ligne_du_temps = "temps \xC3\xA9" "coul\xC3\xA9 : 0.000000 secondes\n";

std::string annonce(const std::string &commande)
{
    return "ex\xC3\xA9" "cution de " + commande + "\n";
}

} // namespace

TEST(Registres, PrintsItsOneLine)
{
    auto r = executer({.programme = CHEMIN_REGISTRES, .arguments = {"ignored"}}, 60s);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sortie, "suite : 1500000000 \n");
    EXPECT_EQ(r.erreur, "");
}

TEST(Registres, ItsLoopDividesThreeTimesAPassAndTouchesNoMemory)
{
    auto main = desassembler_main(CHEMIN_REGISTRES);
    ASSERT_FALSE(main.empty()) << "no main in the disassembly";

    // The loop: the instructions from the target of main's backward jump to the jump.
    static const std::regex saut(R"(^j\w+$)");
    static const std::regex cible(R"(^([0-9a-f]+) <main\+0x[0-9a-f]+>$)");
    size_t debut = 0, fin = 0;
    for (size_t k = 0; k < main.size(); k++) {
        std::smatch m;
        if (std::regex_match(main[k].mnemonique, saut) &&
            std::regex_match(main[k].operandes, m, cible) &&
            std::stoul(m[1], nullptr, 16) < main[k].adresse) {
            unsigned long vers = std::stoul(m[1], nullptr, 16);
            for (debut = 0; main[debut].adresse != vers; debut++) {}
            fin = k;
        }
    }
    ASSERT_LT(debut, fin) << "no loop left in main: it has been folded away";

    int divisions = 0;
    std::ostringstream corps;
    for (size_t k = debut; k <= fin; k++) {
        const Instruction &i = main[k];
        corps << i.mnemonique << ' ' << i.operandes << '\n';
        // lea only computes an address, nop does nothing: neither touches memory.
        bool calcul_d_adresse = i.mnemonique.starts_with("lea") || i.mnemonique.starts_with("nop");
        EXPECT_TRUE(calcul_d_adresse || i.operandes.find('(') == std::string::npos)
            << "memory access in the loop: " << i.mnemonique << ' ' << i.operandes;
        // A signed division by 3 is a multiply-high (one-operand imul), or idiv.
        bool un_operande = i.operandes.find(',') == std::string::npos;
        if ((i.mnemonique == "imul" && un_operande) || i.mnemonique == "idiv")
            divisions++;
    }
    EXPECT_EQ(divisions, 3) << "the body should stand three times per pass:\n" << corps.str();
}

TEST(Linefit, SaysNothingAndSucceedsWhateverItsArguments)
{
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"1024"}, {"-x", "y", "z"}}) {
        auto r = executer({.programme = CHEMIN_LINEFIT, .arguments = args});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.sortie, "");
        EXPECT_EQ(r.erreur, "");
    }
}

TEST(Stopclock, AnnouncesTheFirstArgumentOnStdoutAndZeroSecondsOnStderr)
{
    auto r = executer({.programme = CHEMIN_STOPCLOCK, .arguments = {"ls", "-l"}});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sortie, annonce("ls"));
    EXPECT_EQ(r.erreur, ligne_du_temps);

    auto seul = executer({.programme = CHEMIN_STOPCLOCK});
    EXPECT_EQ(seul.code, 0);
    EXPECT_EQ(seul.sortie, "") << "no argument, no announcement";
    EXPECT_EQ(seul.erreur, ligne_du_temps);
}

TEST(Stopclock, RunsNothingItAnnounces)
{
    fs::path trace = fs::temp_directory_path() / ("stopclock-trace-" + std::to_string(getpid()));
    auto r = executer({.programme = CHEMIN_STOPCLOCK, .arguments = {"touch", trace.string()}});
    EXPECT_EQ(r.sortie, annonce("touch"));
    EXPECT_FALSE(fs::exists(trace)) << "touch was started";
    fs::remove(trace);

    auto absente = executer({.programme = CHEMIN_STOPCLOCK, .arguments = {"pas-une-commande"}});
    EXPECT_EQ(absente.code, 0);
    EXPECT_EQ(absente.sortie, annonce("pas-une-commande"));
    EXPECT_EQ(absente.erreur, ligne_du_temps);
}

TEST(Stopclock, OnOnePipeTheTimeLineComesFirstOnATerminalTheAnnouncement)
{
    // stdout block-buffered: the announcement leaves only at the end.
    auto tube = executer({.programme = CHEMIN_STOPCLOCK, .arguments = {"ls"},
                          .erreur = Flux::sortie});
    EXPECT_EQ(tube.sortie, ligne_du_temps + annonce("ls"));

    // stdout line-buffered: the announcement leaves at its line feed.
    auto terminal = executer({.programme = CHEMIN_STOPCLOCK, .arguments = {"ls"},
                              .sortie = Flux::terminal, .erreur = Flux::terminal});
    EXPECT_EQ(terminal.terminal, annonce("ls") + ligne_du_temps);
}
