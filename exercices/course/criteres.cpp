// course: N walkers at once, each reaped and announced as it ends.
//
// Two races, watched from /proc as they run. In the first (3 walkers),
// walker 1 is held stopped (SIGSTOP) until the others have ended, so that a
// launcher that waits in launch order shows its zombies, and one that writes
// its lines only at the end shows it too. In the second (4 walkers, other
// steps), walker 2 is killed, and course must say so and end with 1.
#include "exercice.h"

#include <csignal>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace exercices {

using namespace lancement;

namespace {

// How long a walker may stay a zombie, or wait for its line, once it has ended.
constexpr double delai_max = 0.5;

struct Course {
    int n = 0;
    std::string pas;
    bool observee = false;       // the N walkers were seen alive together
    std::string faute_lancement; // the walkers are not what the statement says
    std::string zombie;          // a walker left a zombie too long
    std::string ligne;           // a line that came too late, or too soon
    std::string doute_zombie, doute_ligne; // why a time could not be judged
    std::string doute_code; // why the killed walker's case could not be played
    std::map<int, pid_t> marcheurs; // number -> pid, as seen in /proc
    std::optional<int> code;
    std::string sortie;
};

std::string lancement(int n, const std::string &pas)
{
    return "course " + nombre(n) + " " + pas;
}

// The walkers alive right now, children of course, by number, and what is
// wrong with them (name, arguments).
std::map<int, pid_t> marcheurs_vivants(pid_t course, const std::string &pas, std::string &faute)
{
    std::map<int, pid_t> vus;
    for (const auto &e : enfants_de(course)) {
        if (e.etat.etat == 'Z' || (e.etat.nom != "rightwalker" && e.etat.nom != "leftwalker"))
            continue; // between fork and exec, or gone
        auto args = arguments_de(e.pid);
        if (args.empty())
            continue; // its exec is not over: the arguments come a moment later
        int numero = args.size() > 1 ? std::atoi(args[1].c_str()) : 0;
        std::string attendu = numero % 2 ? "rightwalker" : "leftwalker";
        std::vector<std::string> attendus = {attendu, nombre(numero), pas};
        if (args != attendus) {
            std::string vus_texte;
            for (const auto &a : args)
                vus_texte += (vus_texte.empty() ? "" : " ") + a;
            std::string attendus_texte = attendu + " " + nombre(numero) + " " + pas;
            faute = "le pid " + nombre(e.pid) + " est « " + e.etat.nom + " » lancé avec " +
                    cite(vus_texte) + ", attendu « " + attendus_texte + " »";
        }
        vus[numero] = e.pid;
    }
    return vus;
}

// Whether walker numero has been announced, its line well formed or not.
bool annonce(const std::string &sortie, int numero)
{
    return sortie.find("marcheur " + nombre(numero) + " (") != std::string::npos;
}

Course courir(const Contexte &c, int n, const std::string &pas, int arrete, int tue)
{
    Course o;
    o.n = n;
    o.pas = pas;
    Processus p({.programme = c.programme, .arguments = {nombre(n), pas},
                 .environnement = {{"PATH", chemin_avec(c.dossier_bin)}}});
    std::size_t plus_vus = 0;
    o.observee = attendre_que([&] {
        o.marcheurs = marcheurs_vivants(p.pid(), pas, o.faute_lancement);
        plus_vus = std::max(plus_vus, o.marcheurs.size());
        return static_cast<int>(o.marcheurs.size()) == n || p.attendre(0ms);
    }, 5s) && static_cast<int>(o.marcheurs.size()) == n;
    if (!o.observee) {
        o.faute_lancement = "vus ensemble dans /proc, fils de course : " +
                            nombre(static_cast<long>(plus_vus)) + " marcheur" +
                            (plus_vus > 1 ? "s" : "") + " sur " + nombre(n);
        o.code = p.attendre(0ms);
        return o;
    }

    if (tue > 0) {
        // Held first, so that it cannot end on its own before the signal.
        pid_t victime = o.marcheurs[tue];
        kill(victime, SIGSTOP);
        if (attendre_que([&] {
                auto e = lire_stat(victime);
                return !e || e->etat == 'T' || e->etat == 'Z';
            }, 2s) && lire_stat(victime) && lire_stat(victime)->etat == 'T') {
            kill(victime, SIGTERM);
            kill(victime, SIGCONT);
        } else {
            o.doute_code = "le marcheur " + nombre(tue) + " a fini avant d'avoir pu être tué";
        }
    }
    pid_t retenu = arrete > 0 ? o.marcheurs[arrete] : -1;
    if (retenu > 0) {
        kill(retenu, SIGSTOP);
        // The others end: each must be reaped, and announced, at once.
        Veille veille;
        std::map<int, Horloge::time_point> fin_de;
        std::set<int> recueilli_tard, annonce_vue; // judged already
        auto limite = Horloge::now() + 20s;
        while (Horloge::now() < limite && o.zombie.empty() && o.ligne.empty()) {
            veille.regarder();
            o.sortie = p.lire_jusqu_a(Canal::sortie, "\n\n\n", 1ms); // just what has come
            if (annonce(o.sortie, arrete)) {
                o.ligne = "le marcheur " + nombre(arrete) + " (pid " + nombre(retenu) +
                          ") est annoncé terminé alors qu'il est seulement arrêté (SIGSTOP, "
                          "état T dans /proc/" + nombre(retenu) + "/stat)";
                break;
            }
            bool tous = true;
            for (auto [numero, pid] : o.marcheurs) {
                if (numero == arrete)
                    continue;
                auto e = lire_stat(pid);
                bool recueilli = !e || e->parent != p.pid();
                if (!recueilli && e->etat != 'Z') {
                    tous = false;
                    continue;
                }
                // Each time is judged once its event has come, or once it
                // is surely too late.
                auto depuis = fin_de.emplace(numero, Horloge::now()).first->second;
                double attente = secondes(Horloge::now() - depuis);
                auto jugement = veille.juger(attente, delai_max);
                if (!recueilli) {
                    tous = false;
                    if (jugement == Verdict::echoue)
                        o.zombie = "le marcheur " + nombre(numero) + " (pid " + nombre(pid) +
                                   ") est resté zombie plus de " + en_secondes(attente) +
                                   " pendant que le marcheur " + nombre(arrete) + " était "
                                   "arrêté (état Z dans /proc/" + nombre(pid) + "/stat)";
                } else if (recueilli_tard.insert(numero).second &&
                           jugement == Verdict::impossible) {
                    o.doute_zombie = "un marcheur a été recueilli " + en_secondes(attente) +
                              " après sa fin, et " + veille.doute();
                }
                if (!annonce(o.sortie, numero)) {
                    tous = false;
                    if (jugement == Verdict::echoue)
                        o.ligne = "le marcheur " + nombre(numero) + " a fini, mais sa ligne "
                                  "n'avait pas paru " + en_secondes(attente) + " plus tard "
                                  "(pendant que le marcheur " + nombre(arrete) + " était "
                                  "arrêté)";
                } else if (annonce_vue.insert(numero).second &&
                           jugement == Verdict::impossible) {
                    o.doute_ligne = "la ligne d'un marcheur a paru " + en_secondes(attente) +
                              " après sa fin, et " + veille.doute();
                }
            }
            if (tous)
                break;
        }
        kill(retenu, SIGCONT);
    }
    o.code = p.attendre(20s);
    o.sortie = p.lire_tout(Canal::sortie, 1s);
    return o;
}

// The two races, once a program.
const Course &course_arretee(const Contexte &c)
{
    return c.memoire->une_fois<Course>("course arrêtée", [&] {
        c.avancer(lancement(3, "20000000") + ", le marcheur 1 arrêté");
        return courir(c, 3, "20000000", 1, 0);
    });
}

const Course &course_tuee(const Contexte &c)
{
    return c.memoire->une_fois<Course>("course tuée", [&] {
        c.avancer(lancement(4, "10000000") + ", le marcheur 2 tué");
        return courir(c, 4, "10000000", 0, 2);
    });
}

const std::string pas_observee =
    "pas observable : les marcheurs ne vivaient pas tous ensemble (premier critère)";

// The lines « \nmarcheur K (pid P) terminé, code C » of a race, or what is
// wrong with them.
std::string lignes_fausses(const Course &o, const std::map<int, int> &codes)
{
    static const std::regex ligne("\nmarcheur (\\d{1,4}) \\(pid (\\d{1,9})\\) terminé, "
                                  "code (\\d{1,3})(?=\n)");
    std::map<int, int> fois;
    for (std::sregex_iterator m(o.sortie.begin(), o.sortie.end(), ligne), fin; m != fin; ++m) {
        int numero = std::stoi((*m)[1]);
        fois[numero]++;
        auto vu = o.marcheurs.find(numero);
        int code = codes.count(numero) ? codes.at(numero) : 0;
        if (vu == o.marcheurs.end() || vu->second != std::stoi((*m)[2]) ||
            std::stoi((*m)[3]) != code)
            return lancement(o.n, o.pas) + " : " + cite((*m)[0].str()) + ", attendu le pid " +
                   (vu == o.marcheurs.end() ? "?" : nombre(vu->second)) +
                   " vu dans /proc et le code " + nombre(code);
    }
    for (int k = 1; k <= o.n; k++)
        if (fois[k] != 1)
            return lancement(o.n, o.pas) + " : le marcheur " + nombre(k) + " est annoncé " +
                   nombre(fois[k]) + " fois ; sortie " + cite(o.sortie);
    if (!o.sortie.ends_with("\n") || o.sortie.ends_with("\n\n"))
        return lancement(o.n, o.pas) + " : la sortie ne finit pas par un seul saut de ligne "
               "après la dernière ligne ; sortie " + cite(o.sortie);
    return "";
}

} // namespace

Exercice exercice_course()
{
    return {"course", "rightwalker et leftwalker",
            "course N PAS lance N marcheurs et recueille chacun dès qu'il finit", {
        {"course N PAS lance les N marcheurs à la fois, fils de course : rightwalker pour les "
         "numéros impairs, leftwalker pour les pairs, chacun avec son numéro et PAS",
         [](const Contexte &c) {
             for (const Course *o : {&course_arretee(c), &course_tuee(c)})
                 if (!o->faute_lancement.empty())
                     return echoue(lancement(o->n, o->pas) + " : " + o->faute_lancement);
             return tenu();
         }},
        {"chaque marcheur est recueilli dès qu'il finit, pas dans l'ordre de lancement",
         [](const Contexte &c) {
             const auto &o = course_arretee(c);
             if (!o.observee)
                 return echoue(pas_observee);
             if (!o.zombie.empty())
                 return echoue(o.zombie);
             if (!o.doute_zombie.empty())
                 return impossible(o.doute_zombie);
             return tenu();
         }},
        {"la ligne de chaque marcheur paraît dès qu'il a fini, pas avant, pas à la fin",
         [](const Contexte &c) {
             const auto &o = course_arretee(c);
             if (!o.observee)
                 return echoue(pas_observee);
             if (!o.ligne.empty())
                 return echoue(o.ligne);
             if (!o.doute_ligne.empty())
                 return impossible(o.doute_ligne);
             return tenu();
         }},
        {"chaque marcheur est annoncé une fois, « \\nmarcheur K (pid P) terminé, code C », "
         "puis un saut de ligne final", [](const Contexte &c) {
             const auto &o = course_arretee(c);
             if (!o.observee)
                 return echoue(pas_observee);
             if (auto faux = lignes_fausses(o, {}); !faux.empty())
                 return echoue(faux);
             return tenu();
         }},
        {"course finit avec 0 si tous les marcheurs finissent avec 0, avec 1 sinon ; un "
         "marcheur tué par SIGTERM est annoncé avec le code 143 (128 + 15)",
         [](const Contexte &c) {
             const auto &bonne = course_arretee(c);
             if (!bonne.observee)
                 return echoue(pas_observee);
             if (bonne.code != 0)
                 return echoue(lancement(bonne.n, bonne.pas) + ", tous les marcheurs finissant "
                               "avec 0 : " + (bonne.code ? fin(*bonne.code) : "toujours en "
                               "cours après 20 s") + ", attendu le code 0");
             const auto &o = course_tuee(c);
             if (!o.observee)
                 return echoue(pas_observee);
             if (!o.doute_code.empty())
                 return impossible(o.doute_code);
             if (o.code != 1)
                 return echoue(lancement(o.n, o.pas) + ", le marcheur 2 tué par SIGTERM : " +
                               (o.code ? fin(*o.code) : "toujours en cours après 20 s") +
                               ", attendu le code 1");
             if (auto faux = lignes_fausses(o, {{2, 143}}); !faux.empty())
                 return echoue(faux);
             return tenu();
         }},
    }};
}

} // namespace exercices
