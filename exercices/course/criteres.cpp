// course: N walkers at once, reaped as they end
#include "exercice.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace exercices {

using namespace essai;

namespace {

constexpr int nb_marcheurs = 3;
// About a third of a second a walker on this suite's machines.
constexpr const char *nb_pas = "40000000";

// One race, watched from /proc: walker 1 is held stopped until the others
// have ended, so that a launcher that waits in launch order shows its zombies.
struct Course {
    bool tous_vivants = false;     // the N walkers alive together, children of course
    std::string zombie;            // evidence of a walker left a zombie too long
    std::map<int, pid_t> marcheurs; // number -> pid, as seen in /proc
    std::optional<int> code;
    std::string sortie;
    std::vector<pid_t> restes; // walkers still in the process table after course
};

Course observer_course(const Contexte &c)
{
    static std::map<std::string, Course> deja_vues;
    if (auto vue = deja_vues.find(c.programme); vue != deja_vues.end())
        return vue->second;

    Course o;
    Processus p({.programme = c.programme,
                 .arguments = {nombre(nb_marcheurs), nb_pas},
                 .environnement = {{"PATH", chemin_avec(c.dossier_bin)}}});
    auto marcheurs_vivants = [&] {
        std::map<int, pid_t> vus;
        for (const auto &e : enfants_de(p.pid())) {
            auto args = arguments_de(e.pid);
            if (e.etat.etat != 'Z' && args.size() == 3 &&
                (e.etat.nom == "rightwalker" || e.etat.nom == "leftwalker"))
                vus[std::atoi(args[1].c_str())] = e.pid;
        }
        return vus;
    };
    o.tous_vivants = attendre_que([&] {
        o.marcheurs = marcheurs_vivants();
        return o.marcheurs.size() == nb_marcheurs;
    }, 3s);

    pid_t premier = o.marcheurs.count(1) ? o.marcheurs[1] : -1;
    if (premier > 0) {
        kill(premier, SIGSTOP);
        // The others end; none may stay a zombie more than half a second.
        std::map<pid_t, Horloge::time_point> zombie_depuis;
        auto fin = Horloge::now() + 10s;
        while (Horloge::now() < fin && o.zombie.empty()) {
            bool autres_partis = true;
            for (auto [numero, pid] : o.marcheurs) {
                if (numero == 1)
                    continue;
                auto e = lire_stat(pid);
                if (!e || e->parent != p.pid())
                    continue; // reaped
                autres_partis = false;
                if (e->etat != 'Z')
                    continue;
                auto depuis = zombie_depuis.emplace(pid, Horloge::now()).first->second;
                if (Horloge::now() - depuis > 500ms)
                    o.zombie = "le marcheur " + nombre(numero) + " (pid " + nombre(pid) +
                               ") est resté zombie plus de 0,5 s pendant que le marcheur 1 "
                               "était arrêté (état Z dans /proc/" + nombre(pid) + "/stat)";
            }
            if (autres_partis)
                break;
            std::this_thread::sleep_for(5ms);
        }
        kill(premier, SIGCONT);
    }
    o.code = p.attendre(10s);
    o.sortie = p.lire_tout(Canal::sortie, 1s);
    // Walkers course left unreaped came back to us, a subreaper: still there.
    for (auto [numero, pid] : o.marcheurs)
        if (lire_stat(pid))
            o.restes.push_back(pid);
    deja_vues[c.programme] = o;
    return o;
}

} // namespace

Exercice exercice_course()
{
    const std::string n = nombre(nb_marcheurs);
    return {"course", "rightwalker et leftwalker",
            "course N PAS lance N marcheurs et recueille chacun dès qu'il finit", {
        {"les " + n + " marcheurs vivent en même temps, fils de course", [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.tous_vivants)
                 return echoue("vus ensemble dans /proc : " + nombre(o.marcheurs.size()) +
                               " marcheur(s)");
             return tenu();
         }},
        {"chaque marcheur est recueilli dès qu'il finit, pas dans l'ordre de lancement",
         [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.tous_vivants)
                 return echoue("la course n'a pas pu être observée");
             if (!o.zombie.empty())
                 return echoue(o.zombie);
             return tenu();
         }},
        {"aucun zombie ne reste quand course finit, et son code est 0", [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.code)
                 return echoue("course toujours en cours après 10 s");
             if (!o.restes.empty())
                 return echoue("le pid " + nombre(o.restes.front()) +
                               " est resté dans la table des processus");
             if (*o.code != 0)
                 return echoue("code " + nombre(*o.code));
             return tenu();
         }},
        {"chaque marcheur est annoncé une fois, avec son numéro et son pid, code 0",
         [](const Contexte &c) {
             auto o = observer_course(c);
             static const std::regex ligne(
                 "\nmarcheur (\\d+) \\(pid (\\d+)\\) termin\xC3\xA9, code (\\d+)");
             std::map<int, int> fois;
             for (std::sregex_iterator m(o.sortie.begin(), o.sortie.end(), ligne), fin; m != fin;
                  ++m) {
                 int numero = std::stoi((*m)[1]);
                 fois[numero]++;
                 if (!o.marcheurs.count(numero) || o.marcheurs[numero] != std::stoi((*m)[2]) ||
                     (*m)[3] != "0")
                     return echoue("« " + montrer((*m)[0].str()) + " » ne répond pas au pid vu "
                                   "dans /proc (" + nombre(o.marcheurs[numero]) + ")");
             }
             for (int k = 1; k <= nb_marcheurs; k++)
                 if (fois[k] != 1)
                     return echoue("le marcheur " + nombre(k) + " est annoncé " +
                                   nombre(fois[k]) + " fois ; sortie « " + montrer(o.sortie) +
                                   " »");
             if (!o.sortie.ends_with("\n"))
                 return echoue("pas de saut de ligne final");
             return tenu();
         }},
        {"les rapports des marcheurs sont là aussi", [](const Contexte &c) {
             auto o = observer_course(c);
             static const std::regex rapport(
                 "\n( {51}EST|OUEST) Explorateur \\d+ : position finale = -?\\d+");
             auto vus = std::distance(
                 std::sregex_iterator(o.sortie.begin(), o.sortie.end(), rapport), {});
             if (vus != nb_marcheurs)
                 return echoue(nombre(vus) + " rapport(s) ; sortie « " + montrer(o.sortie) + " »");
             return tenu();
         }},
    }};
}

} // namespace exercices
