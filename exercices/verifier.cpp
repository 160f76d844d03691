// verifier: checks a student's program against one exercise, with the
// kernel's own evidence, and says in French which criteria hold.
//
//     verifier [--premier-echec] [--rapport FICHIER] EXERCICE PROGRAMME
//                               (a built program, its source, or a text)
//     verifier EXERCICE DOSSIER [--csv NOTES] [--retours RETOURS]
//     verifier --seance SEANCE DOSSIER --csv NOTES [--retours RETOURS]
//                               (a whole class: classe.cpp)
//     verifier --construire SOURCE     (builds ./NAME, as verifier does)
//     verifier --list | --help | --version
//
// Exit status: 0 when no criterion fails, 1 when one fails (or the source
// does not compile), 2 for a usage error. Every program it starts is ended
// and reaped, whatever it does and however verifier itself ends (garde.h).
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <filesystem>
#include <string>
#include <vector>

#include <getopt.h>
#include <unistd.h>

#include "classe.h"
#include "confinement.h"
#include "exercice.h"
#include "garde.h"
#include "programme.h"
#include "verification.h"

namespace fs = std::filesystem;
using namespace exercices;

namespace {

const std::string insecable = "\u00a0";
// What the guard's worker execs to clean up after a signal (garde.h).
constexpr const char *option_nettoyage = "--nettoyer";

const char *const synopsis[] = {
    "verifier [--premier-echec] [--rapport FICHIER] EXERCICE PROGRAMME",
    "verifier EXERCICE DOSSIER [--csv NOTES] [--retours RETOURS]",
    "verifier --seance SEANCE DOSSIER --csv NOTES [--retours RETOURS]",
    "verifier --construire SOURCE",
    "verifier --list | --help | --version",
};

void utilisation(std::FILE *flot)
{
    std::fprintf(flot, "usage%s: %s\n", insecable.c_str(), synopsis[0]);
    for (std::size_t k = 1; k < std::size(synopsis); k++)
        std::fprintf(flot, "        %s\n", synopsis[k]);
}

void aide()
{
    utilisation(stdout);
    std::fputs(("Vérifie le PROGRAMME d'un élève (un programme construit, ou sa source .c\n"
                "ou .cpp, compilée d'abord) selon les critères de l'EXERCICE, chaque\n"
                "copie d'un DOSSIER, ou toute une SÉANCE de plusieurs exercices.\n"
                "  --premier-echec      s'arrête au premier critère en échec\n"
                "  --rapport FICHIER    écrit aussi le rapport pour les programmes\n"
                "  --csv NOTES          écrit le bilan de la classe pour un tableur\n"
                "  --retours RETOURS    écrit le rapport de chaque élève, un dossier chacun\n"
                "  --seance SEANCE      les exercices de la séance, leur poids, leur fichier\n"
                "  -j, --paralleles N   vérifie N copies à la fois\n"
                "  --sans-confinement   lance les programmes même sans confinement\n"
                "  --construire SOURCE  construit le programme comme verifier le construit\n"
                "  --list               nomme les exercices\n"
                "  -h, --help           montre cette aide\n"
                "  --version            donne la version\n"
                "Code de retour" + insecable + ": 0 si aucun critère n'échoue, 1 sinon, "
                "2 pour une erreur\nd'utilisation.\n").c_str(),
               stdout);
}

int erreur_d_utilisation(const std::string &message)
{
    std::fputs(plier("", "verifier" + insecable + ": " + message, 2).c_str(), stderr);
    utilisation(stderr);
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
    return lancement::sous_garde(dossier, option_nettoyage, [&] {
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
    if (!fs::is_regular_file(source, erreur) || !est_une_source(source))
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


// What the command line asks.
struct Demande {
    enum { verifier, construire, lister, aide, version } quoi = verifier;
    Reglages reglages;
    OptionsClasse classe;
    std::string source; // of --construire
    std::vector<std::string> operandes;
};

// Reads the command line into demande; returns the usage error, if any.
std::string lire_la_ligne(int argc, char *argv[], Demande &demande)
{
    enum { premier_echec = 256, rapport, csv, retours, seance, sans_confinement, construire,
           liste, version, graine, niveau };
    const struct option options[] = {
        {"premier-echec", no_argument, nullptr, premier_echec},
        {"rapport", required_argument, nullptr, rapport},
        {"csv", required_argument, nullptr, csv},
        {"retours", required_argument, nullptr, retours},
        {"seance", required_argument, nullptr, seance},
        {"paralleles", required_argument, nullptr, 'j'},
        {"sans-confinement", no_argument, nullptr, sans_confinement},
        {"construire", required_argument, nullptr, construire},
        {"list", no_argument, nullptr, liste},
        {"graine", required_argument, nullptr, graine},
        {"niveau", required_argument, nullptr, niveau},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, version},
        {nullptr, 0, nullptr, 0}};
    auto entier = [](const char *texte, long min, long max) -> std::optional<long> {
        char *fin = nullptr;
        errno = 0;
        long n = std::strtol(texte, &fin, 10);
        if (errno || fin == texte || *fin || n < min || n > max)
            return std::nullopt;
        return n;
    };
    auto &r = demande.reglages;
    auto &c = demande.classe;
    opterr = 0; // its messages are English: ours say the same in French
    for (int o; (o = getopt_long(argc, argv, ":hj:", options, nullptr)) != -1;) {
        std::string valeur = optarg ? optarg : "";
        switch (o) {
        case premier_echec: r.premier_echec = true; break;
        case rapport: r.rapport = fs::absolute(valeur); break;
        case csv: c.csv = valeur; break;
        case retours: c.retours = valeur; break;
        case seance: c.seance = valeur; break;
        case sans_confinement: r.sans_confinement = c.sans_confinement = true; break;
        case construire:
            demande.quoi = Demande::construire;
            demande.source = valeur;
            break;
        case liste: demande.quoi = Demande::lister; break;
        case 'h': demande.quoi = Demande::aide; return "";
        case version: demande.quoi = Demande::version; return "";
        case 'j':
            if (auto n = entier(valeur.c_str(), 1, 64))
                c.paralleles = static_cast<unsigned>(*n);
            else
                return "-j veut un nombre de 1 à 64, pas «" + insecable + valeur + insecable + "».";
            break;
        case graine:
            if (auto n = entier(valeur.c_str(), 0, std::numeric_limits<long>::max()))
                r.graine = static_cast<unsigned long long>(*n);
            else
                return "--graine veut un nombre, pas «" + insecable + valeur + insecable + "».";
            break;
        case niveau:
            if (auto n = entier(valeur.c_str(), arbre::niveau_min, arbre::niveau_max))
                r.niveau = static_cast<int>(*n);
            else
                return "--niveau veut un nombre de " + std::to_string(arbre::niveau_min) + " à " +
                       std::to_string(arbre::niveau_max) + ", pas «" + insecable + valeur +
                       insecable + "».";
            break;
        case ':':
            return "l'option «" + insecable + argv[optind - 1] + insecable + "» veut une valeur.";
        default:
            if (optopt != 0)
                return "option inconnue «" + insecable + "-" + std::string(1, char(optopt)) +
                       insecable + "».";
            return "option inconnue «" + insecable + argv[optind - 1] + insecable + "».";
        }
    }
    demande.operandes.assign(argv + optind, argv + argc);
    return "";
}

} // namespace

int main(int argc, char *argv[])
{
    fs::path dossier_bin = fs::read_symlink("/proc/self/exe").parent_path();
    // The cleaner verifier's own signal handler execs (garde.h), not an
    // option. It removes only the folder this verifier made (TMPDIR points
    // to it): the option is not for anyone to type.
    if (argc == 4 && std::string(argv[1]) == option_nettoyage) {
        fs::path dossier = argv[3];
        const char *tmpdir = std::getenv("TMPDIR");
        bool le_sien = tmpdir != nullptr && dossier == tmpdir &&
                       dossier.filename().string().starts_with("verifier-");
        lancement::nettoyer(std::atoi(argv[2]), le_sien ? dossier : fs::path());
    }

    Demande demande;
    if (auto erreur = lire_la_ligne(argc, argv, demande); !erreur.empty())
        return erreur_d_utilisation(erreur);
    const auto &args = demande.operandes;
    switch (demande.quoi) {
    case Demande::aide:
        aide();
        return 0;
    case Demande::version:
        std::printf("verifier (Processus en direct) %s\n", VERSION_SUITE);
        return 0;
    case Demande::lister:
        if (!args.empty())
            return erreur_d_utilisation("--list ne prend pas d'argument.");
        lister();
        return 0;
    case Demande::construire:
        if (!args.empty())
            return erreur_d_utilisation("--construire prend une source.");
        return construire(demande.source, dossier_bin);
    case Demande::verifier:
        break;
    }
    // Where its programs are built and run: TMPDIR, unless it is noexec.
    if (auto ailleurs = lancement::choisir_un_tmpdir_executable("verifier"); !ailleurs.empty()) {
        auto fin = ailleurs.find('\n');
        std::fputs(plier("", "verifier" + insecable + ": " + ailleurs.substr(0, fin), 11).c_str(),
                   stderr);
        std::fputs(ailleurs.substr(fin + 1).c_str(), stderr);
        return 2;
    }

    std::error_code erreur;
    auto &classe = demande.classe;
    if (classe.seance) {
        if (args.size() != 1)
            return erreur_d_utilisation("--seance SEANCE veut un dossier, celui des copies.");
        if (!classe.csv)
            return erreur_d_utilisation("--seance veut --csv NOTES, où écrire les notes.");
        classe.dossier = args[0];
        return verifier_classe(classe);
    }
    if (args.size() == 2 && fs::is_directory(args[1], erreur)) {
        classe.exercice = args[0];
        classe.dossier = args[1];
        return verifier_classe(classe);
    }
    if (classe.csv || classe.retours)
        return erreur_d_utilisation("--csv et --retours sont pour un dossier de copies.");
    if (args.size() != 2)
        return erreur_d_utilisation("il faut un exercice et un programme.");

    const Exercice *exercice = trouver_exercice(args[0]);
    if (exercice == nullptr)
        return erreur_d_utilisation("exercice inconnu «" + insecable + args[0] + insecable +
                                    "» (verifier --list les nomme).");
    fs::path programme = args[1];
    if (!fs::is_regular_file(programme, erreur))
        return erreur_d_utilisation("pas de fichier «" + insecable + args[1] + insecable + "».");
    programme = fs::absolute(programme);
    if (!exercice->texte && !est_une_source(programme) && access(programme.c_str(), X_OK) != 0)
        return erreur_d_utilisation("«" + insecable + args[1] + insecable +
                                    "» n'est ni exécutable ni une source .c ou .cpp.");
    const auto &reglages = demande.reglages;
    // A program built from a source beside it, which changed since: said
    // before the verdict, which is the old program's.
    if (!est_une_source(programme)) {
        for (const fs::path &source : sources_de(programme)) {
            if (fs::last_write_time(source, erreur) > fs::last_write_time(programme, erreur))
                std::fputs(plier("", "Attention" + insecable + ": «" + insecable +
                                         source.filename().string() + insecable +
                                         "» a changé depuis que «" + insecable +
                                         programme.filename().string() + insecable +
                                         "» a été construit" + insecable + ": c'est l'ancien programme qui "
                                         "est vérifié. Reconstruisez-le (verifier "
                                         "--construire " + source.filename().string() +
                                         "), ou vérifiez la source elle-même.", 0)
                               .c_str(),
                           stdout);
        }
    }
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
