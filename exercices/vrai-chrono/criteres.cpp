// vrai-chrono: stopclock that runs its command and times it.
//
// The announced time is judged against the command's own life as the kernel
// shows it: its start (/proc/PID/stat, in clock ticks) and its end, seen by
// watching its state, up to the moment stopclock has collected it.
#include "exercice.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace exercices {

using namespace lancement;

namespace {

const std::string annonce = "exécution de ";
const std::regex ligne_du_temps("temps écoulé : (\\d+\\.\\d{6}) secondes\n");

// The commands run from the usual folders only (chemin): a PATH of the
// caller's with a folder it may not search would turn "not found" (127) into
// EACCES (126).

Resultat chronometrer(const Contexte &c, std::vector<std::string> commande)
{
    return executer({.programme = c.programme, .arguments = std::move(commande),
                     .environnement = chemin(c)},
                    5s);
}

double maintenant_depuis_le_demarrage()
{
    timespec t;
    clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// What stopclock's own overhead may add to its command's life: reading the
// clock just before the fork and just after the wait, and a clock that
// counts in ticks (times()).
constexpr double marge = 0.04;

// One run of stopclock sleep DUREE, watched from /proc.
struct Mesure {
    std::string faute;
    Veille veille; // the checker's own lateness while it watched
    std::vector<std::string> arguments; // the child's, once it runs the command
    std::string nom;                    // the child's name then
    double vie_min = 0, vie_max = 0;    // the command's life, as the kernel shows it
    Resultat fin;
};

Mesure mesurer(const Contexte &c, const std::string &duree)
{
    Mesure m;
    Processus p({.programme = c.programme, .arguments = {"sleep", duree},
                 .environnement = chemin(c)});
    pid_t fils = -1;
    attendre_que([&] {
        auto enfants = enfants_de(p.pid());
        if (!enfants.empty())
            fils = enfants.front().pid;
        return fils > 0 || p.attendre(0ms);
    }, 3s);
    auto depart = fils > 0 ? lire_stat(fils) : std::nullopt;
    if (!depart) {
        m.fin.code = p.attendre(3s);
        m.fin.erreur = p.lire_tout(Canal::erreur, 1s);
        m.faute = "aucun fils de stopclock n'a été vu dans /proc (" + fin(m.fin) +
                  ", sortie d'erreur " + cite(m.fin.erreur) + ")";
        return m;
    }
    double tic = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    double debut = static_cast<double>(depart->depart) * tic; // to the tick below

    // Its end (a zombie, or already collected), then its collection.
    Veille veille;
    double avant_fin = 0, apres_fin = 0, apres_recueil = 0;
    attendre_que([&] {
        veille.regarder();
        double t = maintenant_depuis_le_demarrage();
        auto e = lire_stat(fils);
        if (e && e->etat != 'Z') {
            avant_fin = t;
            if (e->nom != m.nom || m.arguments.empty()) {
                m.nom = e->nom;
                m.arguments = arguments_de(fils);
            }
            return false;
        }
        if (apres_fin == 0)
            apres_fin = t;
        if (!e)
            apres_recueil = t;
        return !e;
    }, 5s);
    m.fin.code = p.attendre(3s);
    m.fin.erreur = p.lire_tout(Canal::erreur, 1s);
    m.fin.sortie = p.lire_tout(Canal::sortie, 1s);
    if (apres_recueil == 0) {
        m.faute = "le fils " + nombre(fils) + " n'a pas été recueilli en 5 s";
        return m;
    }
    m.vie_min = avant_fin - debut - tic;
    m.vie_max = apres_recueil - debut;
    m.veille = veille;
    return m;
}

// Each duration once a program.
const Mesure &mesure(const Contexte &c, const std::string &duree)
{
    return c.memoire->une_fois<Mesure>("sleep " + duree, [&] {
        c.avancer("sleep " + duree);
        return mesurer(c, duree);
    });
}

const char *const durees[] = {"0.25", "0.6"};

Verdict code_de(const Contexte &c, std::vector<std::string> commande, int attendu)
{
    std::string montre;
    for (const auto &mot : commande)
        montre += (montre.empty() ? "" : " ") + mot;
    auto r = chronometrer(c, std::move(commande));
    if (r.code != attendu)
        return echoue("stopclock " + montre + " : " + fin(r) + ", attendu le code " +
                      nombre(attendu));
    return tenu();
}

// An executable's name pointing to a file that cannot be run, in the
// checker's folder (which the program's user can search).
std::string pas_executable()
{
    auto chemin = std::filesystem::temp_directory_path() / "pas-executable";
    std::ofstream(chemin) << "#!/bin/sh\nexit 0\n";
    chmod(chemin.c_str(), 0644);
    return chemin.string();
}

} // namespace

Exercice exercice_vrai_chrono()
{
    return {"vrai-chrono", "stopclock", "un chronomètre qui lance sa commande et la chronomètre", {
        {"stopclock sleep 0.25 lance sleep comme son fils, avec son argument",
         [](const Contexte &c) {
             const auto &m = mesure(c, durees[0]);
             if (!m.faute.empty() && m.arguments.empty())
                 return echoue(m.faute);
             std::vector<std::string> attendus = {"sleep", durees[0]};
             if (m.nom.empty())
                 return echoue("le fils de stopclock a fini avant que verifier ait pu voir "
                               "ce qu'il lançait (sleep " + std::string(durees[0]) +
                               " aurait vécu " + en_secondes(std::stod(durees[0])) +
                               ") ; sortie d'erreur " + cite(m.fin.erreur));
             if (m.nom != "sleep" || m.arguments != attendus) {
                 std::string vus;
                 for (const auto &a : m.arguments)
                     vus += (vus.empty() ? "" : " ") + a;
                 return echoue("le fils de stopclock est « " + m.nom + " », lancé avec " +
                               cite(vus) + ", attendu « sleep » lancé avec « sleep " +
                               durees[0] + " »");
             }
             return tenu();
         }},
        {"le temps annoncé est la durée de vie de la commande, à " + en_secondes(marge) +
         " près (sleep 0.25, puis sleep 0.6)", [](const Contexte &c) {
             std::string doute;
             for (const char *duree : durees) {
                 const auto &m = mesure(c, duree);
                 if (!m.faute.empty())
                     return echoue(m.faute);
                 double annonce_s = -1;
                 std::sscanf(m.fin.erreur.c_str(), "temps écoulé : %lf", &annonce_s);
                 std::string vie = "sleep " + std::string(duree) + " a vécu de " +
                                   en_secondes(m.vie_min) + " à " + en_secondes(m.vie_max);
                 if (annonce_s < 0)
                     return echoue(vie + ", annoncé " + cite(m.fin.erreur));
                 // A program late to collect its command, or to read its
                 // clock, announces more, as one that sleeps would; the
                 // checker's own lateness says which.
                 auto jugement = m.veille.juger(annonce_s, m.vie_max + marge);
                 if (annonce_s < m.vie_min - marge || jugement == Verdict::echoue)
                     return echoue(vie + " (vu dans /proc), annoncé " + en_secondes(annonce_s));
                 if (jugement == Verdict::impossible)
                     doute = vie + ", annoncé " + en_secondes(annonce_s) + " ; " +
                             m.veille.doute();
             }
             if (!doute.empty())
                 return impossible(doute);
             return tenu();
         }},
        {"la ligne du temps est exactement « temps écoulé : %lf secondes\\n »",
         [](const Contexte &c) {
             const auto &m = mesure(c, durees[0]);
             if (!std::regex_match(m.fin.erreur, ligne_du_temps))
                 return echoue("stopclock sleep " + std::string(durees[0]) +
                               ", sortie d'erreur " + cite(m.fin.erreur) +
                               ", attendu par exemple « temps écoulé : 0.251234 secondes\\n »");
             return tenu();
         }},
        {"il finit avec le code de la commande : false donne 1, sh -c 'exit 7' donne 7",
         [](const Contexte &c) {
             auto v = code_de(c, {"false"}, 1);
             return v.sorte == Verdict::tenu ? code_de(c, {"sh", "-c", "exit 7"}, 7) : v;
         }},
        {"une commande tuée par SIGTERM donne le code 143 (128 + 15)",
         [](const Contexte &c) { return code_de(c, {"sh", "-c", "kill -TERM $$"}, 143); }},
        {"une commande introuvable donne « Echec execvp : No such file or directory » et le "
         "code 127", [](const Contexte &c) {
             return code_et_erreur(chronometrer(c, {"nulle-part-xyz"}), 127,
                                   "Echec execvp : No such file or directory\n", true);
         }},
        {"une commande trouvée mais pas exécutable donne « Echec execvp : Permission "
         "denied » et le code 126", [](const Contexte &c) {
             return code_et_erreur(chronometrer(c, {pas_executable()}), 126,
                                   "Echec execvp : Permission denied\n", true);
         }},
        {"dans un tube, l'annonce paraît une fois, avant la sortie de la commande",
         [](const Contexte &c) {
             return octets(chronometrer(c, {"echo", "bonjour"}).sortie,
                           annonce + "echo\nbonjour\n");
         }},
        {"dans un tube, l'annonce paraît une seule fois même quand l'exec échoue",
         [](const Contexte &c) {
             return octets(chronometrer(c, {"nulle-part-xyz"}).sortie,
                           annonce + "nulle-part-xyz\n");
         }},
        {"sans argument, rien ne change : seule la ligne « temps écoulé : 0.000000 "
         "secondes », et le code 0", [](const Contexte &c) {
             auto r = chronometrer(c, {});
             std::string attendue = "temps écoulé : 0.000000 secondes\n";
             if (r.code != 0 || !r.sortie.empty() || r.erreur != attendue)
                 return echoue(fin(r) + ", sortie " + cite(r.sortie) + ", sortie d'erreur " +
                               cite(r.erreur) + " ; attendu le code 0, rien sur la sortie, " +
                               cite(attendue) + " sur la sortie d'erreur");
             return tenu();
         }},
    }};
}

} // namespace exercices
