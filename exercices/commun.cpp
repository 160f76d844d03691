// What the checks of every exercise share.
#include "exercice.h"

#include <cstdio>
#include <cstring>

#include "texte.h"

namespace exercices {

using namespace lancement;

const std::string echec_fork = "Echec fork : Resource temporarily unavailable\n";

std::string nombre(long n) { return std::to_string(n); }

std::string fin(int code)
{
    if (code < 0) {
        const char *nom = sigabbrev_np(-code);
        return "tué par le signal " + nombre(-code) + (nom ? " (SIG" + std::string(nom) + ")" : "");
    }
    return "code " + nombre(code);
}

std::string fin(const Resultat &r)
{
    if (!r.code)
        return "toujours en cours après " + en_secondes(r.secondes) + " (arrêté)";
    return fin(*r.code);
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
    if (vu.size() > 300) {
        std::size_t coupe = 300;
        while (coupe > 0 && (static_cast<unsigned char>(vu[coupe]) & 0xC0) == 0x80)
            coupe--; // not inside a character
        vu = vu.substr(0, coupe) + "…";
    }
    return vu;
}

std::string cite(std::string_view octets)
{
    return texte::citer(montrer(octets));
}

Verdict octets(const std::string &recu, const std::string &attendu)
{
    if (recu != attendu)
        return echoue("reçu " + cite(recu) + ", attendu " + cite(attendu));
    return tenu();
}

Verdict code_et_erreur(const Resultat &r, int code, const std::string &erreur, bool dedans)
{
    bool vue = dedans ? r.erreur.find(erreur) != std::string::npos : r.erreur == erreur;
    if (r.code == code && vue)
        return tenu();
    return echoue(fin(r) + ", sortie d'erreur " + cite(r.erreur) + " ; attendu le code " +
                  nombre(code) + " et " + cite(erreur) +
                  (dedans ? " sur la sortie d'erreur" : ""));
}

std::string en_secondes(double secondes)
{
    return texte::virgule(secondes, 2) + texte::insecable + "s";
}

double secondes(Horloge::duration d) { return std::chrono::duration<double>(d).count(); }

std::string chemin_avec(const std::string &dossier)
{
    return dossier + ":/usr/local/bin:/usr/bin:/bin";
}

std::string qui(const Contexte &c, pid_t pid)
{
    if (pid == c.verifier)
        return nombre(pid) + " (verifier lui-même)";
    return nombre(pid);
}

void Veille::regarder()
{
    auto maintenant = Horloge::now();
    if (derniere_)
        ecart_ = std::max(ecart_, secondes(maintenant - *derniere_));
    derniere_ = maintenant;
}

Verdict::Sorte Veille::juger(double mesure, double limite) const
{
    if (mesure <= limite)
        return Verdict::tenu;
    return mesure > limite + 2 * ecart_ ? Verdict::echoue : Verdict::impossible;
}

std::string Veille::doute() const
{
    return "la machine est trop chargée pour trancher : verifier lui-même a passé " +
           en_secondes(ecart_) + " sans pouvoir regarder";
}

} // namespace exercices
