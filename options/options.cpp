#include "options.h"

#include <cstdio>

#include <getopt.h>

#include "texte.h"

namespace options {

const char *const version = SUITE_VERSION;

int montrer_version(const char *nom)
{
    std::printf("%s (Processus en direct) %s\n", nom, version);
    return 0;
}

std::string faute(int resultat, char *const argv[])
{
    // An unknown long option is the word getopt_long has just passed
    // (without any "=value"), as is a long option without its value; a short
    // one is optopt, wherever it sat in its cluster.
    std::string mot = optind > 0 ? argv[optind - 1] : "";
    bool longue = mot.starts_with("--") && (optopt == 0 || resultat == ':');
    std::string option = longue ? mot.substr(0, mot.find('='))
                                : std::string("-") + static_cast<char>(optopt);
    if (resultat == ':')
        return "il manque la valeur de " + option;
    return "option inconnue " + texte::citer(option);
}

int erreur_d_usage(const char *nom, const std::string &message, const std::string &usage)
{
    std::string t = texte::plier("", texte::typographie(std::string(nom) + " : " + message), 2);
    std::fputs((t + texte::typographie(usage)).c_str(), stderr);
    return 2;
}

} // namespace options
