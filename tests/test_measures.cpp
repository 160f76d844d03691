// registres, linefit and stopclock as a user runs them, and registres' loop
// as the processor sees it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "lancement.h"

using namespace lancement;
namespace fs = std::filesystem;

namespace {

struct Instruction {
    unsigned long adresse;
    std::string mnemonique, operandes;
};

struct Desassemblage {
    bool aarch64 = false;          // otherwise x86-64
    std::vector<Instruction> main; // main's instructions, in order
    std::string texte;             // main as objdump printed it, for the messages
};

// The registres to look at and the objdump that reads it: the build's own,
// unless REGISTRES_A_LIRE and OBJDUMP_A_UTILISER name another (CI points them
// at the aarch64 cross-build and its objdump).
std::string reglage(const char *variable, const char *defaut)
{
    const char *v = std::getenv(variable);
    return v != nullptr && *v != '\0' ? v : defaut;
}

// main, as objdump disassembles the program. GNU objdump and llvm-objdump
// differ in details that matter here: jump targets ("1068 <main+0x18>" or
// "0x1068 <main+0x18>") and mnemonics ("imul" or "imulq").
Desassemblage desassembler_main(const std::string &objdump, const std::string &programme)
{
    Desassemblage d;
    if (objdump.find('/') != std::string::npos && access(objdump.c_str(), X_OK) != 0) {
        ADD_FAILURE() << objdump << " is missing: install the Debian package binutils";
        return d;
    }
    auto r = executer({.programme = objdump, .arguments = {"-d", "--no-show-raw-insn", programme}},
                      30s);
    EXPECT_EQ(r.code, 0) << r.erreur;
    d.aarch64 = r.sortie.find("aarch64") != std::string::npos;
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
        if (dans_main && std::regex_match(ligne, m, forme)) {
            d.main.push_back({std::stoul(m[1], nullptr, 16), m[2], m[3]});
            d.texte += ligne + '\n';
        } else if (dans_main && !d.main.empty()) {
            break; // a blank line ends the function
        }
    }
    return d;
}

// What one instruction is, on either processor.
bool est_un_saut(const Desassemblage &d, const std::string &mn)
{
    static const std::regex x86(R"(^j\w+$)");
    static const std::regex arm(R"(^(b|b\.\w+|cbn?z|tbn?z)$)");
    return std::regex_match(mn, d.aarch64 ? arm : x86);
}

bool touche_la_memoire(const Desassemblage &d, const Instruction &i)
{
    if (d.aarch64) // loads and stores, the only instructions that reach memory
        return i.mnemonique.starts_with("ld") || i.mnemonique.starts_with("st") ||
               i.operandes.find('[') != std::string::npos;
    // lea only computes an address, nop does nothing: neither touches memory.
    if (i.mnemonique.starts_with("lea") || i.mnemonique.starts_with("nop"))
        return false;
    return i.operandes.find('(') != std::string::npos;
}

// A signed division by 3: a multiply-high (one-operand imul, smulh) or a division.
bool est_une_division(const Desassemblage &d, const Instruction &i)
{
    if (d.aarch64)
        return i.mnemonique == "smulh" || i.mnemonique == "sdiv";
    bool un_operande = i.operandes.find(',') == std::string::npos;
    return (i.mnemonique.starts_with("imul") && un_operande) || i.mnemonique.starts_with("idiv");
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
    std::string programme = reglage("REGISTRES_A_LIRE", CHEMIN_REGISTRES);
    auto d = desassembler_main(reglage("OBJDUMP_A_UTILISER", OBJDUMP), programme);
    ASSERT_FALSE(d.main.empty()) << "no main in the disassembly of " << programme;

    // The loop: the instructions from the target of main's backward jump to the jump.
    static const std::regex cible(R"((?:0x)?([0-9a-f]+) <main\+0x[0-9a-f]+>)");
    size_t debut = 0, fin = 0;
    for (size_t k = 0; k < d.main.size(); k++) {
        std::smatch m;
        if (!est_un_saut(d, d.main[k].mnemonique) ||
            !std::regex_search(d.main[k].operandes, m, cible))
            continue;
        unsigned long vers = std::stoul(m[1], nullptr, 16);
        if (vers >= d.main[k].adresse)
            continue;
        for (size_t j = 0; j < k; j++)
            if (d.main[j].adresse == vers) {
                debut = j;
                fin = k;
            }
    }
    ASSERT_LT(debut, fin) << "no backward jump inside main, so no loop: it has been folded "
                             "away. main reads:\n" << d.texte;

    int divisions = 0;
    std::ostringstream corps;
    for (size_t k = debut; k <= fin; k++) {
        const Instruction &i = d.main[k];
        corps << i.mnemonique << ' ' << i.operandes << '\n';
        EXPECT_FALSE(touche_la_memoire(d, i))
            << "memory access in the loop: " << i.mnemonique << ' ' << i.operandes;
        divisions += est_une_division(d, i);
    }
    EXPECT_EQ(divisions, 3) << "the body should stand three times per pass ("
                            << (d.aarch64 ? "aarch64" : "x86-64") << "); the loop reads:\n"
                            << corps.str();
}

TEST(Linefit, SaysNothingAndSucceedsWhateverItsArguments)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"1024"}, {"-x", "y", "z"}}) {
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
