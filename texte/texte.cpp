#include "texte.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace texte {

const std::string insecable = "\u00a0";

namespace {

bool debut_de_caractere(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

} // namespace

std::size_t colonnes(std::string_view texte)
{
    std::size_t n = 0;
    for (char c : texte)
        n += debut_de_caractere(c);
    return n;
}

std::size_t octets_pour(std::string_view texte, std::size_t n)
{
    std::size_t octets = 0, vus = 0;
    while (octets < texte.size()) {
        if (debut_de_caractere(texte[octets])) {
            if (vus == n)
                break;
            vus++;
        }
        octets++;
    }
    return octets;
}

std::string couper(std::string_view texte, std::size_t n)
{
    if (colonnes(texte) <= n)
        return std::string(texte);
    if (n == 0)
        return "";
    return std::string(texte.substr(0, octets_pour(texte, n - 1))) + "…";
}

std::string colonne(std::string_view texte, std::size_t n)
{
    std::string coupe = couper(texte, n);
    return coupe + std::string(n - colonnes(coupe), ' ');
}

std::string a_droite(std::string_view texte, std::size_t n)
{
    std::size_t c = colonnes(texte);
    return std::string(n > c ? n - c : 0, ' ') + std::string(texte);
}

std::string typographie(std::string_view texte)
{
    std::string s;
    for (std::size_t i = 0; i < texte.size(); i++) {
        std::string_view reste = texte.substr(i);
        char suivant = reste.size() > 1 ? reste[1] : '\0';
        bool avant_signe = reste[0] == ' ' && (suivant == ':' || suivant == ';' ||
                                               suivant == '?' || suivant == '!');
        bool avant_fermant = reste.substr(0, 3) == " »";
        if (avant_signe || avant_fermant)
            s += insecable;
        else if (reste.substr(0, 3) == "« ") {
            s += "«" + insecable;
            i += 2;
        } else
            s += reste[0];
    }
    return s;
}

std::string plier(std::string_view debut, std::string_view texte, std::size_t retrait,
                  std::size_t largeur)
{
    std::string resultat(debut);
    std::size_t colonne = colonnes(debut);
    const std::string marge(retrait, ' ');
    bool premier_mot = true;
    auto a_la_ligne = [&] {
        resultat += "\n" + marge;
        colonne = retrait;
        premier_mot = true;
    };
    std::size_t pos = 0;
    while (pos <= texte.size()) {
        std::size_t fin_du_mot = texte.find_first_of(" \n", pos);
        if (fin_du_mot == std::string_view::npos)
            fin_du_mot = texte.size();
        std::string_view mot = texte.substr(pos, fin_du_mot - pos);
        if (!mot.empty()) {
            std::size_t place = premier_mot ? 0 : 1;
            if (colonne + place + colonnes(mot) > largeur && !premier_mot)
                a_la_ligne(), place = 0;
            if (place)
                resultat += ' ', colonne++;
            // A word wider than a whole line is cut where the line ends.
            while (colonne + colonnes(mot) > largeur) {
                std::size_t n = octets_pour(mot, largeur > colonne ? largeur - colonne : 0);
                if (n == 0 && colonne == retrait)
                    n = octets_pour(mot, 1); // a margin as wide as the line
                resultat += mot.substr(0, n);
                mot.remove_prefix(n);
                a_la_ligne();
            }
            resultat += mot;
            colonne += colonnes(mot);
            premier_mot = false;
        }
        if (fin_du_mot < texte.size() && texte[fin_du_mot] == '\n')
            a_la_ligne();
        pos = fin_du_mot + 1;
    }
    return resultat + "\n";
}

std::string virgule(double v, int decimales)
{
    char tampon[64];
    std::snprintf(tampon, sizeof tampon, "%.*f", decimales, v);
    std::string s = tampon;
    if (std::size_t point = s.find('.'); point != std::string::npos)
        s[point] = ',';
    return s;
}

std::string par_milliers(std::string_view chiffres)
{
    std::string s;
    for (std::size_t k = 0; k < chiffres.size(); k++) {
        if (k > 0 && (chiffres.size() - k) % 3 == 0)
            s += insecable;
        s += chiffres[k];
    }
    return s;
}

std::string nombre(double v)
{
    int decimales = v <= 0 ? 0 : std::max(0, 2 - static_cast<int>(std::floor(std::log10(v))));
    std::string s = virgule(v, decimales);
    std::size_t virgule_ = s.find(',');
    if (virgule_ == std::string::npos)
        return par_milliers(s);
    return par_milliers(s.substr(0, virgule_)) + s.substr(virgule_);
}

std::string formater(const char *format, ...)
{
    va_list valeurs, mesure;
    va_start(valeurs, format);
    va_copy(mesure, valeurs); // the same values, read twice
    int n = std::vsnprintf(nullptr, 0, format, mesure);
    va_end(mesure);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(s.data(), s.size() + 1, format, valeurs);
    va_end(valeurs);
    return s;
}

std::string citer(std::string_view vu)
{
    if (vu.empty())
        return "rien";
    return "«" + insecable + std::string(vu) + insecable + "»";
}

} // namespace texte
