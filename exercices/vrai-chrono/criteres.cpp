// vrai-chrono: stopclock that runs and times its command
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

const std::string annonce = "ex\xC3\xA9" "cution de ";

// The commands run from the usual folders only: a PATH of the caller's with a
// folder it may not search would turn "not found" (127) into EACCES (126).
std::vector<std::pair<std::string, std::optional<std::string>>> chemin_ordinaire(const Contexte &c)
{
    return {{"PATH", chemin_avec(c.dossier_bin)}};
}

// What stopclock CMD writes on stdout, through a pipe.
Verdict sortie_de(const Contexte &c, std::vector<std::string> commande, const std::string &attendu)
{
    auto r = executer_borne({.programme = c.programme, .arguments = std::move(commande),
                             .environnement = chemin_ordinaire(c)});
    return octets(r.sortie, attendu);
}

Verdict code_de(const Contexte &c, std::vector<std::string> commande, int attendu)
{
    auto r = executer_borne({.programme = c.programme, .arguments = std::move(commande),
                              .environnement = chemin_ordinaire(c)});
    if (r.code != attendu)
        return echoue(fin(r));
    return tenu();
}

} // namespace

Exercice exercice_vrai_chrono()
{
    return {"vrai-chrono", "stopclock", "un chronomètre qui lance sa commande et la chronomètre", {
        {"sleep 0.3 tourne comme fils de stopclock, dure de 0,3 à 2 s, et le temps annoncé est "
         "le vrai", [](const Contexte &c) {
             Processus p({.programme = c.programme, .arguments = {"sleep", "0.3"},
                          .environnement = chemin_ordinaire(c)});
             auto debut = Horloge::now();
             bool vu = attendre_que([&] {
                 for (const auto &e : enfants_de(p.pid()))
                     if (e.etat.nom == "sleep")
                         return true;
                 return false;
             }, 1s);
             auto code = p.attendre(3s);
             double duree = std::chrono::duration<double>(Horloge::now() - debut).count();
             std::string erreur = p.lire_tout(Canal::erreur, 1s);
             if (!vu)
                 return echoue("aucun fils nommé sleep sous le pid " + nombre(p.pid()) +
                               " dans /proc");
             if (!code)
                 return echoue("toujours en cours après 3 s");
             double annonce_s = -1;
             std::sscanf(erreur.c_str(), "temps \xC3\xA9" "coul\xC3\xA9 : %lf", &annonce_s);
             if (duree < 0.3 || duree >= 2)
                 return echoue("a duré " + en_secondes(duree));
             if (annonce_s < 0.3 || annonce_s > duree + 0.05)
                 return echoue("mesuré " + en_secondes(duree) + ", annoncé « " + montrer(erreur) +
                               " »");
             return tenu("mesuré " + en_secondes(duree) + ", annoncé " + en_secondes(annonce_s));
         }},
        {"false donne le code 1", [](const Contexte &c) { return code_de(c, {"false"}, 1); }},
        {"sh -c 'exit 7' donne le code 7",
         [](const Contexte &c) { return code_de(c, {"sh", "-c", "exit 7"}, 7); }},
        {"une commande tuée par SIGTERM donne le code 143 (128 + 15)",
         [](const Contexte &c) { return code_de(c, {"sh", "-c", "kill -TERM $$"}, 143); }},
        {"une commande introuvable donne « Echec execvp : No such file or directory » et le "
         "code 127", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .arguments = {"nulle-part-xyz"},
                                      .environnement = chemin_ordinaire(c)});
             if (r.erreur.find("Echec execvp : No such file or directory\n") == std::string::npos ||
                 r.code != 127)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
        {"dans un tube, l'annonce paraît une fois, avant la sortie de la commande",
         [](const Contexte &c) {
             return sortie_de(c, {"echo", "bonjour"}, annonce + "echo\nbonjour\n");
         }},
        {"dans un tube, l'annonce paraît une seule fois même quand l'exec échoue",
         [](const Contexte &c) {
             return sortie_de(c, {"nulle-part-xyz"}, annonce + "nulle-part-xyz\n");
         }},
        {"sans argument, seule la ligne du temps, et le code 0", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme});
             if (r.code != 0 || !r.sortie.empty() ||
                 !r.erreur.starts_with("temps \xC3\xA9" "coul\xC3\xA9 : "))
                 return echoue(fin(r) + ", sortie « " +
                               montrer(r.sortie) + " », erreur « " + montrer(r.erreur) + " »");
             return tenu();
         }},
    }};
}

} // namespace exercices
