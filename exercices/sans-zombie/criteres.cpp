// sans-zombie: keyhold1 that leaves no zombie while its parent waits for a key.
//
// Whatever the technique (a wait, SIGCHLD ignored, a handler, signalfd, a
// double fork whose orphan the checker adopts and reaps at once), the
// process that wrote « pid : N » must leave the process table within half a
// second, the parent keeping no zombie and still waiting for its key. It is
// watched twice: once free, and once with the child held in its write (the
// terminal stopped) until the parent sits waiting, so that the child's end
// comes while the parent is blocked, where a handler cuts a read short. A
// change of SIGCHLD's action made after the fork is held until the child has
// ended, so that ignoring SIGCHLD too late shows every time, not once in a
// while.
#include "exercice.h"

#include <map>
#include <regex>
#include <thread>

namespace exercices {

using namespace lancement;

namespace {

constexpr double delai_max = 0.5;

// Waits until the parent sits waiting (asleep 50 ms in a row), or has ended.
void attendre_qu_il_soit_assis(Processus &p)
{
    std::optional<Horloge::time_point> endormi;
    attendre_que([&] {
        auto e = lire_stat(p.pid());
        if (!e || e->etat != 'S')
            endormi.reset();
        else if (!endormi)
            endormi = Horloge::now();
        return (endormi && Horloge::now() - *endormi > 50ms) || p.attendre(0ms);
    }, 3s);
}

// What is wrong once the line « pid : N » has been read: N still there
// after half a second, another zombie of the parent's, or the parent gone.
std::string apres_la_ligne(const Contexte &c, Processus &p, pid_t n, const std::string &quand,
                           std::string &doute)
{
    Veille veille;
    auto debut = Horloge::now();
    std::optional<EtatProc> e;
    // Up to the limit, or beyond it as long as the checker's own lateness
    // leaves a doubt.
    attendre_que([&] {
        veille.regarder();
        e = lire_stat(n);
        double ecoule = secondes(Horloge::now() - debut);
        return !e || veille.juger(ecoule, delai_max) == Verdict::echoue;
    }, 3s);
    double duree = secondes(Horloge::now() - debut);
    // A parent whose read the child's end cut short reaps it and heads for
    // its exit, maybe not gone yet on a busy machine: only a parent seen
    // sitting again still waits for its key.
    attendre_qu_il_soit_assis(p);
    if (auto code = p.attendre(0ms))
        return quand + ", le parent n'attend pas sa touche : il a fini (" + fin(*code) +
               ") sans rien lire";
    if (e || duree > delai_max) {
        if (veille.juger(duree, delai_max) == Verdict::impossible) {
            doute = "le pid " + nombre(n) + " était encore là après " + en_secondes(duree) +
                    ", et " + veille.doute();
            return "";
        }
        if (!e)
            return quand + ", le pid " + nombre(n) + " n'a quitté la table des processus "
                   "qu'après " + en_secondes(duree);
        return quand + ", après " + en_secondes(duree) + ", le pid " + nombre(n) +
               " est encore là, état " + std::string(1, e->etat) + ", parent " +
               qui(c, e->parent) + " (cat /proc/" + nombre(n) + "/stat)";
    }
    // No other child of the parent's may stay a zombie either (the middle
    // one of a double fork goes once the parent has run again).
    std::map<pid_t, Horloge::time_point> zombies;
    std::string faute;
    attendre_que([&] {
        veille.regarder();
        bool reste = false;
        for (const auto &f : enfants_de(p.pid())) {
            if (f.etat.etat != 'Z')
                continue;
            reste = true;
            double depuis = secondes(Horloge::now() -
                                     zombies.emplace(f.pid, Horloge::now()).first->second);
            auto jugement = veille.juger(depuis, delai_max);
            if (jugement == Verdict::echoue) {
                faute = quand + ", le parent garde un fils zombie depuis " +
                        en_secondes(depuis) + ", le pid " + nombre(f.pid) + " (cat /proc/" +
                        nombre(f.pid) + "/stat)";
                return true;
            }
            if (jugement == Verdict::impossible)
                doute = "un fils du parent est resté zombie " + en_secondes(depuis) + ", et " +
                        veille.doute();
        }
        return !reste;
    }, 3s);
    return faute;
}

std::string libre(const Contexte &c, std::string &doute)
{
    // stdin: a pipe kept open. A change of SIGCHLD's action made after the
    // fork waits for the child's end: the moment a racing program loses.
    Processus p({.programme = c.programme, .sigchld_differe = true});
    std::string ligne = p.lire_jusqu_a(Canal::sortie, "\n", 3s);
    pid_t n = pid_dans(ligne);
    if (n <= 0)
        return "aucune ligne « pid : N » en 3 s (reçu " + cite(ligne) + ")";
    return apres_la_ligne(c, p, n, "libre", doute);
}

std::string retenu(const Contexte &c, std::string &doute)
{
    Processus p({.programme = c.programme, .sortie = Flux::terminal, .erreur = Flux::terminal,
                 .terminal_arrete = true});
    attendre_qu_il_soit_assis(p);
    if (auto code = p.attendre(0ms))
        return "le fils retenu, le parent a fini (" + fin(*code) + ") sans rien lire";
    p.relancer_terminal();
    std::string ligne = p.lire_jusqu_a(Canal::terminal, "\n", 3s);
    pid_t n = pid_dans(ligne);
    if (n <= 0)
        return "le fils retenu puis relâché, aucune ligne « pid : N » en 3 s (reçu " +
               cite(ligne) + ")";
    return apres_la_ligne(c, p, n, "le fils retenu puis relâché", doute);
}

// The end of input just after the child's end: the child is held in its
// write (the terminal stopped) until the parent sits waiting, then let go;
// once it has left the process table and the parent sits again, stdin is
// closed. A SIGCHLD handler that leaves its own errno behind is then read
// back by the report.
Verdict entree_finie_apres_le_fils(const Contexte &c)
{
    Processus p({.programme = c.programme, .sortie = Flux::terminal, .erreur = Flux::tube,
                 .terminal_arrete = true});
    attendre_qu_il_soit_assis(p);
    p.relancer_terminal();
    pid_t n = pid_dans(p.lire_jusqu_a(Canal::terminal, "\n", 3s));
    if (n > 0)
        attendre_que([&] { return !lire_stat(n) || p.attendre(0ms); }, 2s);
    attendre_qu_il_soit_assis(p);
    p.fermer_entree();
    Resultat r;
    r.code = p.attendre(3s);
    r.secondes = 3;
    r.erreur = p.lire_tout(Canal::erreur, r.code ? 1s : 100ms);
    if (auto v = code_et_erreur(r, 1, "Echec scanf : Success\n"); v.sorte != Verdict::tenu)
        return echoue("entrée fermée (Ctrl-D) juste après la fin du fils : " + v.preuve +
                      (r.erreur.find("No child processes") != std::string::npos
                           ? " ; errno était celui d'un waitpid fait entre-temps (un "
                             "gestionnaire de SIGCHLD qui ne le sauve pas ?)"
                           : ""));
    return tenu();
}

} // namespace

Exercice exercice_sans_zombie()
{
    return {"sans-zombie", "keyhold1", "aucun zombie pendant que le parent attend sa touche", {
        {"la ligne du fils est inchangée : « pid : N \\n »", [](const Contexte &c) {
             Processus p({.programme = c.programme});
             std::string ligne = p.lire_jusqu_a(Canal::sortie, "\n", 3s);
             if (!std::regex_match(ligne, std::regex("pid : \\d{1,9} \n")))
                 return echoue("reçu " + cite(ligne) + ", attendu « pid : N \\n », N le pid "
                               "du fils");
             return tenu();
         }},
        {"pendant que le parent attend sa touche, le pid N de la ligne quitte la table des "
         "processus en moins de 0,5 s, et le parent ne garde aucun fils zombie",
         [](const Contexte &c) {
             std::string doute;
             for (auto regarder : {libre, retenu}) {
                 auto faute = regarder(c, doute);
                 if (!faute.empty())
                     return echoue(faute);
             }
             if (!doute.empty())
                 return impossible(doute);
             return tenu();
         }},
        {"la touche Entrée (un saut de ligne) libère le parent, qui finit avec le code 0",
         [](const Contexte &c) {
             Processus p({.programme = c.programme});
             p.lire_jusqu_a(Canal::sortie, "\n", 3s);
             p.ecrire("\n");
             auto code = p.attendre(2s);
             if (code != 0)
                 return echoue((code ? fin(*code) : "toujours en attente après 2 s") +
                               ", attendu le code 0");
             return tenu();
         }},
        {"une entrée qui finit sans rien apporter (vide dès le départ, ou fermée par Ctrl-D "
         "après la fin du fils) donne « Echec scanf : Success » et le code 1",
         [](const Contexte &c) {
             auto r = executer({.programme = c.programme, .entree = Flux::fichier}, 3s);
             if (auto v = code_et_erreur(r, 1, "Echec scanf : Success\n");
                 v.sorte != Verdict::tenu)
                 return echoue("entrée vide dès le départ : " + v.preuve);
             return entree_finie_apres_le_fils(c);
         }},
        {"une entrée fermée donne « Echec scanf : Bad file descriptor » et le code 9",
         [](const Contexte &c) {
             auto r = executer({.programme = c.programme, .entree = Flux::ferme}, 3s);
             return code_et_erreur(r, 9, "Echec scanf : Bad file descriptor\n");
         }},
        {"un fork refusé (EAGAIN) donne « Echec fork : Resource temporarily unavailable » "
         "et le code 11, sans rien lire", [](const Contexte &c) {
             if (!echec_fork_possible())
                 return impossible("cette machine ne permet pas de faire échouer fork");
             // stdin stays open and empty: were it read, the program would block.
             Processus p({.programme = c.programme, .fork_impossible = true});
             Resultat r;
             r.code = p.attendre(3s);
             r.secondes = 3;
             r.erreur = r.code ? p.lire_tout(Canal::erreur, 1s) : "";
             return code_et_erreur(r, 11, echec_fork);
         }},
    }};
}

} // namespace exercices
