// verifier: checks a student's program against one exercise, with the
// kernel's own evidence, and says in French which criteria hold.
//
//     verifier [--premier-echec] EXERCICE PROGRAMME   (a built program, its
//                                                    .c / .cpp source, or a text)
//     verifier EXERCICE DOSSIER [--csv FICHIER] [--sans-confinement]
//                                                    (a whole class: classe.cpp)
//     verifier --construire SOURCE                   (builds ./NAME, as verifier does)
//     verifier --list
//     verifier --help
//
// Exit status: 0 when no criterion fails, 1 when one fails (or the source
// does not compile), 2 for a usage error. Every program it starts is ended
// and reaped, whatever it does and however verifier itself ends (garde.h).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "classe.h"
#include "confinement.h"
#include "exercice.h"
#include "garde.h"
#include "verification.h"

namespace fs = std::filesystem;
using namespace exercices;

namespace {

const std::string insecable = "\u00a0";

void aide(std::FILE *flot)
{
    std::fputs(("utilisation" + insecable + ": verifier [--premier-echec] EXERCICE PROGRAMME\n"
                "              verifier EXERCICE DOSSIER [--csv FICHIER] [--sans-confinement]\n"
                "              verifier --construire SOURCE\n"
                "              verifier --list\n"
                "              verifier --help\n"
                "Vérifie le PROGRAMME d'un élève (un programme construit, ou sa source .c\n"
                "ou .cpp, compilée d'abord) selon les critères de l'EXERCICE, ou chaque\n"
                "copie d'un DOSSIER, une à une.\n"
                "  --premier-echec  s'arrête au premier critère en échec\n"
                "  --csv FICHIER    écrit aussi le bilan des copies pour un tableur\n"
                "  --sans-confinement  vérifie la classe même si ce noyau ne permet pas\n"
                "                   de confiner tout à fait les programmes des élèves\n"
                "  --construire     construit le programme comme verifier le construit\n"
                "  --list           nomme les exercices\n"
                "  --help           montre cette aide\n"
                "Code de retour" + insecable + ": 0 si aucun critère n'échoue, 1 sinon, "
                "2 pour une erreur\nd'utilisation.\n").c_str(),
               flot);
}

int erreur_d_utilisation(const std::string &message)
{
    std::fputs(plier("", "verifier" + insecable + ": " + message, 2).c_str(), stderr);
    aide(stderr);
    return 2;
}

void lister()
{
    std::size_t colonne = 0;
    for (const auto &e : tous_les_exercices())
        colonne = std::max(colonne, e.nom.size() + 2);
    for (const auto &e : tous_les_exercices()) {
        std::string debut = e.nom + std::string(colonne - e.nom.size(), ' ');
        std::fputs(plier(debut, e.but, colonne).c_str(), stdout);
        std::fputs(plier(std::string(colonne, ' '), "(à partir de " + e.depart + ")", colonne)
                       .c_str(),
                   stdout);
    }
}

// A working folder for one run, guarded: whatever happens, it goes, and
// nothing started in it outlives verifier. Every temporary file goes there
// (TMPDIR), and every program verifier starts is a student's, or the
// compiler working on one: restreint and confined to that folder, reading
// the suite's programs in dossier_bin.
int sous_garde_dans_un_dossier(const fs::path &dossier_bin,
                               const std::function<int(const fs::path &)> &travail)
{
    fs::path dossier;
    try {
        dossier = preparer_dossier();
    } catch (const std::exception &e) {
        std::fputs(plier("", "verifier" + insecable + ": " + e.what(), 2).c_str(), stderr);
        return 2;
    }
    setenv("TMPDIR", dossier.c_str(), 1);
    lancement::toujours_restreindre();
    lancement::toujours_confiner({dossier.string(), {dossier_bin.string()}});
    return sous_garde(dossier, [&] {
        // The worker's only children are the programs it starts, and their
        // orphans: it reaps them all as they end.
        lancement::ramasser_tous_les_enfants();
        try {
            return travail(dossier);
        } catch (const std::exception &e) {
            std::fflush(stdout);
            std::fputs(plier("", "verifier" + insecable + ": " + e.what(), 2).c_str(), stderr);
            return 2;
        }
    });
}

// verifier --construire SOURCE: the student's program built exactly as
// verifier builds it, left in the current folder under the source's name
// without its extension, to be run by hand.
int construire(const fs::path &source, const fs::path &dossier_bin)
{
    std::error_code erreur;
    if (!fs::is_regular_file(source, erreur) ||
        (source.extension() != ".c" && source.extension() != ".cpp"))
        return erreur_d_utilisation("pas de source .c ou .cpp «" + insecable + source.string() +
                                    insecable + "».");
    std::string nom_copie = ".";
    nom_copie += source.stem().string();
    nom_copie += ".nouveau";
    fs::path cible = source.stem(), copie = nom_copie;
    fs::path absolue = fs::absolute(source);
    return sous_garde_dans_un_dossier(dossier_bin, [&](const fs::path &dossier) {
        auto programme = compiler(absolue, dossier_bin, dossier);
        if (!programme) {
            std::printf("La compilation a échoué (voir ci-dessus).\n");
            return 1;
        }
        // Copied, then renamed over the target: a run of the previous build
        // that is still going on is not disturbed.
        std::error_code echec;
        fs::copy_file(*programme, copie, fs::copy_options::overwrite_existing, echec);
        if (!echec)
            fs::rename(copie, cible, echec);
        if (echec) {
            std::error_code ignore;
            fs::remove(copie, ignore);
            std::fputs(plier("", "verifier" + insecable + ": impossible d'écrire «" +
                                     insecable + cible.string() + insecable + "»" +
                                     insecable + ": " + echec.message(), 2)
                           .c_str(),
                       stderr);
            return 1;
        }
        std::printf("Programme construit%s: ./%s\n", insecable.c_str(), cible.c_str());
        return 0;
    });
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    fs::path dossier_bin = fs::read_symlink("/proc/self/exe").parent_path();
    if (args.size() == 3 && args[0] == option_nettoyage)
        return nettoyer(std::atoi(args[1].c_str()), args[2]);
    if (args.size() == 1 && args[0] == "--help") {
        aide(stdout);
        return 0;
    }
    if (!args.empty() && args[0] == "--list") {
        if (args.size() != 1)
            return erreur_d_utilisation("--list ne prend pas d'argument.");
        lister();
        return 0;
    }
    if (!args.empty() && args[0] == "--construire") {
        if (args.size() != 2)
            return erreur_d_utilisation("--construire prend une source.");
        return construire(args[1], dossier_bin);
    }
    bool sans_confinement = std::erase(args, "--sans-confinement") > 0;
    std::error_code erreur;
    if (args.size() >= 2 && !args[0].starts_with("-") && fs::is_directory(args[1], erreur)) {
        std::vector<char *> reste = {argv[0]};
        for (auto &a : args)
            reste.push_back(a.data());
        reste.push_back(nullptr);
        return verifier_classe(static_cast<int>(args.size() + 1), reste.data(), sans_confinement);
    }
    Reglages reglages;
    if (!args.empty() && args[0] == "--premier-echec") {
        reglages.premier_echec = true;
        args.erase(args.begin());
    }
    if (!args.empty() && args[0].starts_with("-"))
        return erreur_d_utilisation("option inconnue «" + insecable + args[0] + insecable + "».");
    if (args.size() != 2)
        return erreur_d_utilisation("il faut un exercice et un programme.");

    const Exercice *exercice = nullptr;
    for (const auto &e : tous_les_exercices())
        if (e.nom == args[0])
            exercice = &e;
    if (exercice == nullptr)
        return erreur_d_utilisation("exercice inconnu «" + insecable + args[0] + insecable +
                                    "» (verifier --list les nomme).");
    fs::path programme = args[1];
    if (!fs::is_regular_file(programme, erreur))
        return erreur_d_utilisation("pas de fichier «" + insecable + args[1] + insecable + "».");
    programme = fs::absolute(programme);
    bool source = programme.extension() == ".c" || programme.extension() == ".cpp";
    if (!exercice->texte && !source && access(programme.c_str(), X_OK) != 0)
        return erreur_d_utilisation("«" + insecable + args[1] + insecable +
                                    "» n'est ni exécutable ni une source .c ou .cpp.");

    // Said, and the check goes on: a student checks their own program.
    if (std::string risques = lancement::risques_du_confinement(); !risques.empty())
        std::fputs(plier("", "Confinement incomplet sur ce noyau" + insecable +
                                 ": le programme pourrait " + risques + ".", 0)
                       .c_str(),
                   stdout);
    return sous_garde_dans_un_dossier(dossier_bin, [&](const fs::path &dossier) {
        return verifier_programme(*exercice, programme, dossier, dossier_bin, reglages).code();
    });
}
