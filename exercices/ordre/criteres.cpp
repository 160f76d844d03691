// ordre: genreport whose parent waits
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

struct LignesGenreport {
    bool lues = false;
    bool fils_d_abord = false;
    pid_t pere = 0, grand_pere = 0, res_pere = 0, fils = 0, pere_du_fils = 0;
};

LignesGenreport lire_genreport(const std::string &sortie)
{
    static const std::regex forme("(gen 1 : je suis (\\d+) fils de (\\d+), res = (-?\\d+)\n"
                                  "|  gen 2 : je suis (\\d+) fils de (\\d+), res = 0\n){2}");
    static const std::regex pere("gen 1 : je suis (\\d+) fils de (\\d+), res = (-?\\d+)\n");
    static const std::regex fils("  gen 2 : je suis (\\d+) fils de (\\d+), res = 0\n");
    LignesGenreport l;
    std::smatch m1, m2;
    if (!std::regex_match(sortie, forme) || !std::regex_search(sortie, m1, pere) ||
        !std::regex_search(sortie, m2, fils))
        return l;
    l.lues = true;
    l.pere = std::stoi(m1[1]), l.grand_pere = std::stoi(m1[2]), l.res_pere = std::stoi(m1[3]);
    l.fils = std::stoi(m2[1]), l.pere_du_fils = std::stoi(m2[2]);
    l.fils_d_abord = m2.position(0) < m1.position(0);
    return l;
}

} // namespace

Exercice exercice_ordre()
{
    auto une_fois = [](const Contexte &c) { return executer_borne({.programme = c.programme}); };
    return {"ordre", "genreport", "le parent attend la fin de son fils avant d'écrire sa ligne", {
        {"les deux lignes gardent leurs octets exacts", [=](const Contexte &c) {
             auto r = une_fois(c);
             if (!lire_genreport(r.sortie).lues)
                 return echoue("reçu « " + montrer(r.sortie) + " »");
             return tenu();
         }},
        {"sur 20 exécutions dans un tube, la ligne du fils vient d'abord et nomme son vrai "
         "parent", [](const Contexte &c) {
             for (int k = 1; k <= 20; k++) {
                 auto r = executer_borne({.programme = c.programme});
                 auto l = lire_genreport(r.sortie);
                 if (!l.lues)
                     return echoue("exécution " + nombre(k) + " : « " + montrer(r.sortie) + " »");
                 if (!l.fils_d_abord)
                     return echoue("exécution " + nombre(k) + " : la ligne du parent (pid " +
                                   nombre(l.pere) + ") vient en premier");
                 if (l.pere_du_fils != r.pid)
                     return echoue("exécution " + nombre(k) + " : le fils se dit fils de " +
                                   nombre(l.pere_du_fils) + ", son parent était " +
                                   nombre(r.pid) + " (adopté : le parent avait fini)");
             }
             return tenu();
         }},
        {"le res du parent est le pid du fils", [=](const Contexte &c) {
             auto l = lire_genreport(une_fois(c).sortie);
             if (!l.lues || l.res_pere != l.fils)
                 return echoue("res = " + nombre(l.res_pere) + ", fils " + nombre(l.fils));
             return tenu();
         }},
        {"le parent finit avec le code 0", [=](const Contexte &c) {
             auto r = une_fois(c);
             if (r.code != 0)
                 return echoue(fin(r));
             return tenu();
         }},
        {"un fork impossible donne « Echec fork : ... » et le code 11", [](const Contexte &c) {
             if (!echec_fork_possible())
                 return impossible("cette machine ne permet pas de faire échouer fork");
             auto r = executer_borne({.programme = c.programme, .fork_impossible = true});
             if (r.erreur != echec_fork || r.code != 11 || !r.sortie.empty())
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " », sortie « " + montrer(r.sortie) + " »");
             return tenu();
         }},
    }};
}

} // namespace exercices
