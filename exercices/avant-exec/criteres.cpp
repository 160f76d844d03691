// avant-exec: handover that says so before it becomes cupcounter
#include "exercice.h"

namespace exercices {

using namespace lancement;

namespace {

Verdict annonce_puis_cupcounter(const Contexte &c, Flux sortie)
{
    Processus p({.programme = c.programme, .sortie = sortie,
                 .environnement = {{"PATH", chemin_avec(c.dossier_bin)}}});
    Canal canal = sortie == Flux::terminal ? Canal::terminal : Canal::sortie;
    std::string lu = p.lire_jusqu_a(canal, "cup number 0\n", 3s);
    std::string pid = nombre(p.pid());
    std::string attendu = "handover (pid " + pid + ") passe la main à cupcounter\n" +
                          "pid : " + pid + ", cup number 0\n";
    return octets(lu, attendu);
}

} // namespace

Exercice exercice_avant_exec()
{
    return {"avant-exec", "handover", "handover dit qu'il passe la main, puis devient cupcounter", {
        {"au terminal, la ligne paraît une fois, avant cupcounter, avec le même pid",
         [](const Contexte &c) { return annonce_puis_cupcounter(c, Flux::terminal); }},
        {"dans un tube, de même", [](const Contexte &c) {
             return annonce_puis_cupcounter(c, Flux::tube);
         }},
        {"dans un fichier, de même", [](const Contexte &c) {
             return annonce_puis_cupcounter(c, Flux::fichier);
         }},
        {"sans cupcounter dans PATH, « Echec execvp : No such file or directory » et le "
         "code 2", [](const Contexte &c) {
             auto r = executer({.programme = c.programme,
                                .environnement = {{"PATH", "/nulle-part"}}}, 3s);
             return code_et_erreur(r, 2, "Echec execvp : No such file or directory\n");
         }},
    }};
}

} // namespace exercices
