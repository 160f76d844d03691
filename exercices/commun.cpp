// What the checks of every exercise share.
#include "exercice.h"

#include <cstdio>

namespace exercices {

using namespace essai;
using Horloge = std::chrono::steady_clock;

const std::string echec_fork = "Echec fork : Resource temporarily unavailable\n";

std::string nombre(long n) { return std::to_string(n); }

Execution executer_borne(const Lancement &lancement, Duree limite)
{
    Execution e;
    auto debut = Horloge::now();
    Processus p(lancement);
    e.pid = p.pid();
    if (lancement.entree == Flux::tube)
        p.fermer_entree();
    e.code = p.attendre(limite);
    e.secondes = std::chrono::duration<double>(Horloge::now() - debut).count();
    if (lancement.sortie == Flux::tube || lancement.sortie == Flux::fichier)
        e.sortie = p.lire_tout(Canal::sortie, 1s);
    if (lancement.erreur == Flux::tube || lancement.erreur == Flux::fichier)
        e.erreur = p.lire_tout(Canal::erreur, 1s);
    return e; // the destructor ends and reaps whatever is left
}

std::string fin(const Execution &e)
{
    if (!e.code)
        return "toujours en cours après " + en_secondes(e.secondes) + " (arrêté)";
    if (*e.code < 0)
        return "tué par le signal " + std::to_string(-*e.code);
    return "code " + std::to_string(*e.code);
}

std::string montrer(std::string_view octets)
{
    std::string vu;
    for (unsigned char o : octets) {
        if (o == '\n')
            vu += "\\n";
        else if (o == '\t')
            vu += "\\t";
        else if (o < 0x20 || o == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", o);
            vu += code;
        } else
            vu += static_cast<char>(o);
    }
    if (vu.size() > 300)
        vu = vu.substr(0, 300) + "…";
    return vu;
}

std::string en_secondes(double secondes)
{
    char texte[32];
    std::snprintf(texte, sizeof texte, "%.2f s", secondes);
    std::string t = texte;
    t[t.find('.')] = ',';
    return t;
}

std::string chemin_avec(const std::string &dossier)
{
    return dossier + ":/usr/local/bin:/usr/bin:/bin";
}

// Held when the bytes received are the bytes expected; both shown otherwise.
Verdict octets(const std::string &recu, const std::string &attendu)
{
    if (recu != attendu)
        return echoue("reçu « " + montrer(recu) + " », attendu « " + montrer(attendu) + " »");
    return tenu();
}

} // namespace exercices
