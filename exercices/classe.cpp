// A whole class checked at once.
//
//     verifier EXERCICE DOSSIER [--csv NOTES] [--retours RETOURS]
//         every source of DOSSIER (every .txt file, for an exercise where the
//         student hands in a text) is one student's copy;
//     verifier --seance SEANCE DOSSIER --csv NOTES [--retours RETOURS]
//         SEANCE names the lab's exercises (seance.cpp), DOSSIER holds one
//         folder a student, as a course platform delivers them.
//
// Each copy is checked by a verifier of its own (this very program, run on
// that source), which writes its report for programs (verification.h): the
// marks are read from it, never from the French text, which goes back to the
// student with --retours. A program that hangs, floods or forks endlessly
// costs its own time limits and nothing more; what it leaves behind is ended
// as soon as its check is over. A few checks run at once (-j, one a core by
// default): a check spends most of its time waiting on the student's program,
// and every timing criterion weighs the checker's own lateness (Veille).
//
// Rows come in the order of a French class list, each written as soon as it
// and those before it are done, so that Ctrl-C keeps what is done.
#include "classe.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "confinement.h"
#include "garde.h"
#include "seance.h"
#include "verification.h"

namespace fs = std::filesystem;

namespace {

using namespace exercices;
using namespace lancement;

// A check that runs past this has gone wrong in verifier itself: every
// criterion has its own, much shorter, limit.
constexpr auto limite_copie = 300s;

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

// One check under way: a verifier of its own on one copy, in its own
// temporary folder (TMPDIR), its report for programs in that folder.
struct EnCours {
    std::size_t eleve, exercice;
    fs::path tmp;
    std::string dossier_copie; // the copy's folder, with its final « / »
    std::unique_ptr<Processus> verification;
    std::chrono::steady_clock::time_point limite;
};

std::unique_ptr<EnCours> lancer_copie(const Classe &classe, std::size_t eleve,
                                      std::size_t exercice, const fs::path &tmp,
                                      const OptionsClasse &options)
{
    const auto &e = classe.exercices[exercice];
    std::vector<std::string> arguments = {"--rapport", (tmp / "rapport").string()};
    if (options.sans_confinement)
        arguments.push_back("--sans-confinement");
    if (e.graine)
        arguments.insert(arguments.end(), {"--graine", std::to_string(*e.graine)});
    if (e.niveau)
        arguments.insert(arguments.end(), {"--niveau", std::to_string(*e.niveau)});
    arguments.insert(arguments.end(),
                     {e.exercice->nom, classe.eleves[eleve].copies[exercice]->string()});
    auto c = std::make_unique<EnCours>();
    c->eleve = eleve;
    c->exercice = exercice;
    c->tmp = tmp;
    c->dossier_copie = classe.eleves[eleve].copies[exercice]->parent_path().string() + "/";
    c->verification = std::make_unique<Processus>(
        // This very program, even if its file was replaced since (a rebuild,
        // an upgrade) while the class is being checked.
        Lancement{.programme = "/proc/self/exe",
                  .arguments = arguments,
                  .entree = Flux::nul,
                  .sortie = Flux::tube,
                  .erreur = Flux::sortie,
                  .environnement = {{"TMPDIR", tmp.string()}}});
    c->limite = std::chrono::steady_clock::now() + limite_copie;
    return c;
}

// The verdict of a check that has ended (or is cut short: SIGTERM first, so
// that its verifier ends what it started and removes its folder).
Note conclure(EnCours &c, bool coupee)
{
    Note note;
    std::optional<int> code;
    if (coupee) {
        kill(c.verification->pid(), SIGTERM);
        c.verification->attendre(2s);
    } else {
        code = c.verification->attendre(0ms);
        // The compiler names the copy by its path in the teacher's folder: by
        // its name alone for the student.
        note.texte = c.verification->lire_tout(Canal::sortie, 1s);
        for (std::size_t pos; (pos = note.texte.find(c.dossier_copie)) != std::string::npos;)
            note.texte.erase(pos, c.dossier_copie.size());
    }
    c.verification.reset(); // ended and reaped here, whatever it was doing
    auto rapport = lire_rapport(c.tmp / "rapport");
    std::error_code ignore;
    for (const auto &reste : fs::directory_iterator(c.tmp, ignore))
        fs::remove_all(reste.path(), ignore);
    if (!code) {
        note.remarque = interruption ? "vérification interrompue"
                                     : "vérification arrêtée après " +
                                           nombre(limite_copie.count()) + "\u00a0s";
        return note;
    }
    if (rapport && rapport->compile == false) {
        note.remarque = "la source ne compile pas";
        return note;
    }
    if (!rapport || !rapport->complet) {
        note.remarque = "vérification impossible (" +
                        (*code < 0 ? "signal " + nombre(-*code) : "code " + nombre(*code)) + ")";
        return note;
    }
    for (const auto &l : rapport->lignes) {
        if (l.verdict == "ok")
            note.tenus++;
        else if (note.remarque.empty())
            note.remarque = (l.verdict == "inverifiable" ? "(non vérifiable) " : "") + l.enonce;
    }
    return note;
}

// Every copy handed in, as (student, exercise), in the class's order; a copy
// not handed in is marked absent now.
std::vector<std::pair<std::size_t, std::size_t>> copies_a_verifier(Classe &classe)
{
    std::vector<std::pair<std::size_t, std::size_t>> a_faire;
    for (std::size_t e = 0; e < classe.eleves.size(); e++) {
        auto &eleve = classe.eleves[e];
        eleve.notes.resize(classe.exercices.size());
        for (std::size_t x = 0; x < classe.exercices.size(); x++) {
            if (eleve.copies[x])
                a_faire.emplace_back(e, x);
            else
                eleve.notes[x].remarque = "absent";
        }
    }
    return a_faire;
}

// One temporary folder for each check at once, reachable by the
// unprivileged user some checks run the program as; nothing if one cannot
// be made.
std::vector<fs::path> dossiers_de_travail(unsigned n)
{
    std::vector<fs::path> tmps;
    for (unsigned k = 0; k < n; k++) {
        std::string tmp = (fs::temp_directory_path() / "verifier-classe-XXXXXX").string();
        if (mkdtemp(tmp.data()) == nullptr || chmod(tmp.c_str(), 0755) != 0) {
            std::perror("verifier\u00a0: mkdtemp");
            std::error_code ignore;
            for (const auto &t : tmps)
                fs::remove_all(t, ignore);
            return {};
        }
        tmps.emplace_back(tmp);
    }
    return tmps;
}

// The checks of the whole class, paralleles at a time; ecrire(eleve) is
// called for each student, in the class's order, once all theirs are done.
// Returns how many students were done.
std::size_t tout_verifier(Classe &classe, const OptionsClasse &options,
                          const std::vector<fs::path> &tmps,
                          const std::function<void(std::size_t)> &ecrire)
{
    auto a_faire = copies_a_verifier(classe);
    std::vector<std::size_t> restantes(classe.eleves.size(), 0);
    for (auto [e, x] : a_faire)
        restantes[e]++;
    std::vector<std::unique_ptr<EnCours>> en_cours(tmps.size());
    std::size_t suivante = 0, ecrits = 0, faites = 0, deja_faites = 0;
    Avancement avancement(a_faire.size());
    auto ecrire_les_prets = [&] {
        while (ecrits < classe.eleves.size() && restantes[ecrits] == 0) {
            avancement.effacer();
            ecrire(ecrits++);
        }
    };
    ecrire_les_prets();
    while (!interruption && (suivante < a_faire.size() || faites < a_faire.size())) {
        bool occupe = false;
        std::vector<pid_t> verifications;
        for (std::size_t k = 0; k < en_cours.size(); k++) {
            auto &c = en_cours[k];
            if (!c && suivante < a_faire.size()) {
                auto [e, x] = a_faire[suivante++];
                c = lancer_copie(classe, e, x, tmps[k], options);
            }
            if (!c)
                continue;
            occupe = true;
            bool fini = c->verification->attendre(0ms).has_value();
            if (!fini && std::chrono::steady_clock::now() < c->limite) {
                verifications.push_back(c->verification->pid());
                continue;
            }
            classe.eleves[c->eleve].notes[c->exercice] = conclure(*c, !fini);
            restantes[c->eleve]--;
            faites++;
            c.reset();
            avancement.une_de_plus();
        }
        // What a finished copy left behind came back here (a subreaper):
        // ended, while the checks under way go on.
        lancement::finir_les_restes(verifications);
        std::size_t avant = ecrits;
        ecrire_les_prets();
        if (ecrits != avant || faites != deja_faites)
            avancement.montrer();
        deja_faites = faites;
        if (occupe)
            std::this_thread::sleep_for(20ms);
    }
    for (auto &c : en_cours)
        if (c)
            conclure(*c, true);
    lancement::finir_les_restes();
    avancement.effacer();
    return ecrits;
}

} // namespace

int verifier_classe(const OptionsClasse &options)
{
    std::string erreur;
    auto classe = options.seance ? lire_la_seance(*options.seance, options.dossier, erreur)
                                 : lire_un_dossier(options.exercice, options.dossier, erreur);
    if (!classe) {
        std::fputs(erreur.c_str(), stderr);
        return 2;
    }
    // A teacher's account is no place for a program that can reach the rest
    // of it: marking a class that way is the teacher's choice, made aloud.
    if (std::string risques = lancement::risques_du_confinement();
        !risques.empty() && !options.sans_confinement) {
        std::fprintf(stderr,
                     "verifier\u00a0: confinement incomplet sur ce noyau\u00a0: les programmes "
                     "des élèves pourraient %s.\nPour vérifier la classe malgré ce risque, "
                     "relancer avec --sans-confinement.\n",
                     risques.c_str());
        return 2;
    }
    montrer_les_ignores(*classe);
    if (classe->eleves.empty()) {
        std::fprintf(stderr, "verifier\u00a0: aucune copie dans «\u00a0%s\u00a0»\n",
                     options.dossier.c_str());
        return 2;
    }
    Sorties sorties(*classe, options, erreur);
    if (!erreur.empty()) {
        std::fputs(erreur.c_str(), stderr);
        return 2;
    }

    // Ctrl-C, or the window closed: the checks under way are ended, and what
    // is done stays written.
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        std::signal(s, interrompre);
    borner_chaque_copie();
    // What a copy leaves behind comes back here, to be ended (finir_les_restes).
    adopter_les_orphelins();

    unsigned paralleles = options.paralleles;
    if (paralleles == 0)
        paralleles = std::max(1u, std::thread::hardware_concurrency());
    std::size_t copies = 0;
    for (const auto &e : classe->eleves)
        copies += std::count_if(e.copies.begin(), e.copies.end(), [](const auto &c) { return c; });
    paralleles = static_cast<unsigned>(std::clamp<std::size_t>(copies, 1, paralleles));
    auto tmps = dossiers_de_travail(paralleles);
    if (tmps.empty())
        return 2;
    sorties.titre(paralleles);
    std::size_t faits = tout_verifier(*classe, options, tmps,
                                      [&](std::size_t eleve) { sorties.eleve(eleve); });
    std::error_code ignore;
    for (const auto &t : tmps)
        fs::remove_all(t, ignore);
    return sorties.bilan(faits, interruption);
}
