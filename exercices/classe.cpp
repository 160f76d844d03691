// verifier EXERCICE DOSSIER [--csv FICHIER]: a whole class checked at once.
//
// Every .c or .cpp file of the folder is one student's source (every .txt
// file, for an exercise where the student hands in a text). Each one is
// checked by a verifier of its own (this very program, run on that source),
// one after the other: no check shares the machine with another, so no
// timing criterion fails through the load of the batch, and a program that
// hangs, floods or forks endlessly costs its own time limits and nothing
// more. What it leaves behind is ended before the next one starts.
//
// One line per student: the file, the criteria held out of the total, the
// first criterion failed. --csv writes the same, a row as each is done, for a
// gradebook (';' between fields, as French spreadsheets read them).
#include "classe.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "exercice.h"
#include "texte.h"

namespace fs = std::filesystem;

namespace {

using namespace exercices;
using namespace lancement;

// A check that runs past this has gone wrong in verifier itself: every
// criterion has its own, much shorter, limit.
constexpr auto limite_copie = 300s;
constexpr std::size_t colonnes = 80;

// AddressSanitizer and ThreadSanitizer reserve terabytes of address space:
// no memory limit under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sous_assainisseur = true;
#elif defined(__has_feature)
constexpr bool sous_assainisseur =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool sous_assainisseur = false;
#endif

volatile std::sig_atomic_t interruption = 0;
void interrompre(int signal) { interruption = signal; }

struct Copie {
    std::string fichier;
    int tenus = 0;
    std::string premier_echec; // empty when every criterion holds
};

// The number of characters (not bytes) of a UTF-8 text; cut with an
// ellipsis; cut and padded to a column.
std::size_t largeur(const std::string &t) { return texte::colonnes(t); }
using texte::colonne;
using texte::couper;

std::string champ_csv(const std::string &texte)
{
    if (texte.find_first_of(";\"\n") == std::string::npos)
        return texte;
    std::string champ = "\"";
    for (char c : texte)
        champ += c == '"' ? std::string("\"\"") : std::string(1, c);
    return champ + "\"";
}

// The criterion a line of verifier's report names, whole, from the line's
// beginning (a long criterion goes on over the next lines).
std::string critere_nomme(const Exercice &exercice, const std::string &debut)
{
    for (const auto &c : exercice.criteres)
        if (!debut.empty() && (c.enonce.starts_with(debut) || debut.starts_with(c.enonce)))
            return c.enonce;
    return debut;
}

// Every process descended from us now, from one reading of /proc.
std::vector<pid_t> descendants()
{
    std::map<pid_t, std::vector<pid_t>> enfants;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        std::string nom = entree.path().filename().string();
        if (nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(nom));
        if (auto e = lire_stat(pid))
            enfants[e->parent].push_back(pid);
    }
    std::vector<pid_t> tous = {getpid()};
    for (std::size_t k = 0; k < tous.size(); k++)
        for (pid_t p : enfants[tous[k]])
            tous.push_back(p);
    tous.erase(tous.begin());
    return tous;
}

// Ends whatever a copy left behind that came back to us, a subreaper (its
// own sessions included), and reaps it. All the descendants at once, so that
// a program forking without end has no time to replace the ones killed.
void finir_les_restes()
{
    auto fin = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < fin) {
        auto restes = descendants();
        for (pid_t p : restes)
            kill(p, SIGKILL);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {}
        if (restes.empty())
            return;
        std::this_thread::sleep_for(1ms);
    }
}

// What a copy may take, set on this process and so inherited by each
// verifier it starts, by the compiler and by the student's program: memory
// enough for any of them, but a program that floods its output cannot make
// its verifier hold gigabytes of it, nor fill the disk with its files.
void borner_chaque_copie()
{
    auto abaisser = [](int ressource, rlim_t plafond) {
        struct rlimit r;
        if (getrlimit(ressource, &r) == 0 && r.rlim_cur > plafond) {
            r.rlim_cur = plafond;
            setrlimit(ressource, &r);
        }
    };
    if (!sous_assainisseur)
        abaisser(RLIMIT_AS, rlim_t{1} << 30);
    abaisser(RLIMIT_FSIZE, rlim_t{256} << 20);
}

// One student's source, checked by a verifier of its own; its report is read
// line by line. Its temporary files go to tmp, emptied afterwards however the
// check ended.
Copie verifier_copie(const Exercice &exercice, const fs::path &source, const std::string &moi,
                     const fs::path &tmp)
{
    Copie copie;
    copie.fichier = source.filename().string();
    std::optional<int> code;
    std::string rapport;
    {
        Processus verification({.programme = moi,
                                .arguments = {exercice.nom, source.string()},
                                .entree = Flux::nul,
                                .sortie = Flux::tube,
                                .erreur = Flux::sortie,
                                .environnement = {{"TMPDIR", tmp.string()}}});
        auto fin = std::chrono::steady_clock::now() + limite_copie;
        while (!code && !interruption && std::chrono::steady_clock::now() < fin)
            code = verification.attendre(100ms);
        if (code)
            rapport = verification.lire_tout(Canal::sortie, 1s);
        else {
            // Cut short: verifier is asked to end first, so that it can end
            // what it started and remove its folder.
            kill(verification.pid(), SIGTERM);
            verification.attendre(2s);
        }
    } // ended and reaped here, whatever it was doing
    finir_les_restes();
    std::error_code ignore;
    for (const auto &reste : fs::directory_iterator(tmp, ignore))
        fs::remove_all(reste.path(), ignore);
    if (!code) {
        copie.premier_echec = interruption ? "vérification interrompue"
                                           : "vérification arrêtée après " +
                                                 nombre(limite_copie.count()) + "\u00a0s";
        return copie;
    }

    // The report's lines: « ok », « ÉCHEC » or « ? », then the criterion.
    int lignes = 0;
    std::istringstream lu(rapport);
    for (std::string ligne; std::getline(lu, ligne);) {
        std::string sorte;
        for (const char *marque : {"ok", "ÉCHEC", "?"})
            if (ligne.starts_with("  " + std::string(marque) + " "))
                sorte = marque;
        if (sorte.empty())
            continue;
        lignes++;
        auto debut = ligne.find_first_not_of(' ', 2 + sorte.size());
        std::string texte = debut == std::string::npos ? "" : ligne.substr(debut);
        if (sorte == "ok")
            copie.tenus++;
        else if (copie.premier_echec.empty())
            copie.premier_echec =
                (sorte == "?" ? "(non vérifiable) " : "") + critere_nomme(exercice, texte);
    }
    if (lignes == 0)
        copie.premier_echec = *code == 1 && !exercice.texte ? "la source ne compile pas"
                                         : "vérification impossible (" +
                                               (*code < 0 ? "signal " + nombre(-*code)
                                                          : "code " + nombre(*code)) +
                                               ")";
    return copie;
}

int usage()
{
    std::fprintf(stderr, "usage\u00a0: verifier EXERCICE DOSSIER [--csv FICHIER]\n");
    return 2;
}

} // namespace

int verifier_classe(int argc, char *argv[])
{
    std::optional<std::string> chemin_csv;
    if (argc == 5 && std::string(argv[3]) == "--csv")
        chemin_csv = argv[4];
    else if (argc != 3)
        return usage();

    const Exercice *exercice = nullptr;
    for (const auto &e : tous_les_exercices())
        if (e.nom == argv[1])
            exercice = &e;
    if (exercice == nullptr) {
        std::fprintf(stderr,
                     "verifier\u00a0: exercice inconnu «\u00a0%s\u00a0» "
                     "(verifier --list les nomme)\n",
                     argv[1]);
        return 2;
    }

    // A student's copy: a .c or .cpp source, or a .txt file where the student
    // hands in a text.
    fs::path dossier = argv[2];
    std::vector<fs::path> sources;
    std::error_code erreur;
    for (const auto &f : fs::directory_iterator(dossier, erreur)) {
        auto extension = f.path().extension();
        if ((exercice->texte ? extension == ".txt" : extension == ".c" || extension == ".cpp") &&
            f.is_regular_file(erreur))
            sources.push_back(fs::absolute(f.path()));
    }
    std::sort(sources.begin(), sources.end());
    if (sources.empty()) {
        std::fprintf(stderr, "verifier\u00a0: aucun fichier %s dans «\u00a0%s\u00a0»\n",
                     exercice->texte ? ".txt" : ".c ou .cpp", argv[2]);
        return 2;
    }

    std::ofstream csv;
    if (chemin_csv) {
        csv.open(*chemin_csv);
        if (!csv) {
            std::fprintf(stderr, "verifier\u00a0: impossible d'écrire «\u00a0%s\u00a0»\n",
                         chemin_csv->c_str());
            return 2;
        }
        csv << "fichier;critères tenus;critères;premier critère échoué\n" << std::flush;
    }

    // Ctrl-C, or the window closed: the check under way is ended, and what
    // is done stays written.
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        std::signal(s, interrompre);

    borner_chaque_copie();
    // What a copy leaves behind comes back here, to be ended (finir_les_restes).
    adopter_les_orphelins();
    std::string moi = fs::read_symlink("/proc/self/exe").string();
    // Reachable by the unprivileged user some checks run the program as.
    std::string tmp = (fs::temp_directory_path() / "verifier-classe-XXXXXX").string();
    if (mkdtemp(tmp.data()) == nullptr || chmod(tmp.c_str(), 0755) != 0) {
        std::perror("verifier\u00a0: mkdtemp");
        return 2;
    }
    std::size_t total = exercice->criteres.size();
    std::size_t large = 4;
    for (const auto &s : sources)
        large = std::max(large, largeur(s.filename().string()));
    large = std::min<std::size_t>(large, 24);
    std::printf("Exercice «\u00a0%s\u00a0»\u00a0: %zu copie%s, vérifiée%s une à une.\n",
                exercice->nom.c_str(), sources.size(), sources.size() > 1 ? "s" : "",
                sources.size() > 1 ? "s" : "");
    std::fflush(stdout);

    std::size_t reussies = 0, faites = 0;
    for (const auto &source : sources) {
        Copie c = verifier_copie(*exercice, source, moi, tmp);
        if (interruption)
            break;
        faites++;
        reussies += c.premier_echec.empty();
        std::string tenus = nombre(c.tenus) + "/" + nombre(static_cast<long>(total));
        std::string ligne = colonne(c.fichier, large) + "  " + colonne(tenus, 5) + "  ";
        ligne += couper(c.premier_echec, colonnes - largeur(ligne));
        ligne.erase(ligne.find_last_not_of(' ') + 1);
        std::printf("%s\n", ligne.c_str());
        std::fflush(stdout);
        if (csv.is_open())
            csv << champ_csv(c.fichier) << ';' << c.tenus << ';' << total << ';'
                << champ_csv(c.premier_echec) << '\n'
                << std::flush;
    }
    fs::remove_all(tmp, erreur);
    if (interruption) {
        std::printf("Interrompu\u00a0: %zu copie%s vérifiée%s sur %zu.\n", faites,
                    faites > 1 ? "s" : "", faites > 1 ? "s" : "", sources.size());
        return 128 + interruption;
    }
    std::printf("Bilan\u00a0: %zu copie%s sur %zu tien%s tous les critères.\n", reussies,
                reussies > 1 ? "s" : "", sources.size(), reussies > 1 ? "nent" : "t");
    if (csv.is_open() && !csv)
        std::fprintf(stderr, "verifier\u00a0: l'écriture de «\u00a0%s\u00a0» a échoué\n",
                     chemin_csv->c_str());
    return reussies == sources.size() ? 0 : 1;
}
