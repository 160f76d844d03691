// sans-zombie: keyhold1 that leaves no zombie
#include "exercice.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace exercices {

using namespace essai;

Exercice exercice_sans_zombie()
{
    return {"sans-zombie", "keyhold1", "aucun zombie pendant que le parent attend sa touche", {
        {"la ligne du fils est inchangée : « pid : N \\n »", [](const Contexte &c) {
             Processus p({.programme = c.programme});
             std::string ligne = p.lire_jusqu_a(Canal::sortie, "\n", 2s);
             if (!std::regex_match(ligne, std::regex("pid : \\d+ \n")))
                 return echoue("reçu « " + montrer(ligne) + " »");
             return tenu();
         }},
        {"pendant que le parent attend, le fils quitte la table des processus en moins de "
         "0,5 s", [](const Contexte &c) {
             Processus p({.programme = c.programme}); // stdin: a pipe kept open
             pid_t fils = pid_dans(p.lire_jusqu_a(Canal::sortie, "\n", 2s));
             if (fils <= 0)
                 return echoue("le fils n'a pas écrit son pid");
             bool parti = attendre_que([&] { return !lire_stat(fils); }, 500ms);
             if (auto code = p.attendre(0ms))
                 return echoue("le parent n'attend pas sa touche : il a fini (code " +
                               nombre(*code) + ") sans rien lire");
             if (!parti) {
                 auto e = lire_stat(fils);
                 return echoue("après 0,5 s, le pid " + nombre(fils) + " est encore là, état " +
                               std::string(1, e ? e->etat : '?') + ", parent " +
                               nombre(e ? e->parent : 0) + " (cat /proc/" + nombre(fils) +
                               "/stat)");
             }
             return tenu();
         }},
        {"un octet libère le parent, qui finit avec le code 0", [](const Contexte &c) {
             Processus p({.programme = c.programme});
             p.lire_jusqu_a(Canal::sortie, "\n", 2s);
             p.ecrire("x");
             auto code = p.attendre(2s);
             if (code != 0)
                 return echoue(code ? "code " + nombre(*code) : "toujours en attente après 2 s");
             return tenu();
         }},
        {"une entrée vide donne « Echec scanf : Success » et le code 1", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .entree = Flux::fichier});
             if (r.erreur != "Echec scanf : Success\n" || r.code != 1)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
        {"une entrée fermée donne le code 9", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .entree = Flux::ferme});
             if (r.code != 9)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
    }};
}

} // namespace exercices
