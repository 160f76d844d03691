// What /proc says of a process.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "interne.h"
#include "proc.h"

namespace lancement {

namespace fs = std::filesystem;

std::string contenu_fichier(const std::string &chemin)
{
    std::ifstream f(chemin, std::ios::binary);
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

std::vector<std::string> champs_stat(pid_t pid, std::string *nom)
{
    std::string stat = contenu_fichier("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold blanks and parentheses: fields start after the last ')'.
    auto fin_nom = stat.rfind(')');
    auto debut_nom = stat.find('(');
    if (fin_nom == std::string::npos || debut_nom == std::string::npos || debut_nom > fin_nom)
        return {};
    if (nom)
        *nom = stat.substr(debut_nom + 1, fin_nom - debut_nom - 1);
    std::istringstream flot(stat.substr(fin_nom + 1));
    std::vector<std::string> champs;
    for (std::string c; flot >> c;)
        champs.push_back(c);
    return champs;
}

std::optional<EtatProc> lire_stat(pid_t pid)
{
    EtatProc e{};
    auto champs = champs_stat(pid, &e.nom);
    // state(3) ppid(4) pgrp(5) ... starttime(22)
    if (champs.size() < 20 || champs[0].size() != 1)
        return std::nullopt;
    e.etat = champs[0][0];
    e.parent = static_cast<pid_t>(std::atoi(champs[1].c_str()));
    e.groupe = static_cast<pid_t>(std::atoi(champs[2].c_str()));
    e.depart = std::strtoull(champs[19].c_str(), nullptr, 10);
    return e;
}

std::optional<Appel> appel_en_cours(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/syscall");
    std::string premier;
    if (!(f >> premier))
        return std::nullopt;
    if (premier == "running")
        return Appel{-1, 0};
    Appel a{std::strtol(premier.c_str(), nullptr, 10), 0};
    std::string argument;
    if (a.numero >= 0 && f >> argument)
        a.premier_argument = std::strtol(argument.c_str(), nullptr, 16);
    else
        a.numero = -1;
    return a;
}

std::vector<Enfant> enfants_de(pid_t parent)
{
    std::vector<Enfant> enfants;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        std::string nom = entree.path().filename().string();
        if (nom.empty() || nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(nom));
        auto e = lire_stat(pid);
        if (e && e->parent == parent)
            enfants.push_back({pid, *e});
    }
    return enfants;
}

bool enfant_vivant(pid_t parent)
{
    for (const auto &e : enfants_de(parent))
        if (e.etat.etat != 'Z')
            return true;
    return false;
}

std::vector<std::string> arguments_de(pid_t pid)
{
    std::string brut = contenu_fichier("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    std::string::size_type debut = 0, fin;
    while ((fin = brut.find('\0', debut)) != std::string::npos) {
        args.push_back(brut.substr(debut, fin - debut));
        debut = fin + 1;
    }
    return args;
}

pid_t pid_dans(std::string_view texte, std::string_view prefixe)
{
    auto pos = texte.find(prefixe);
    if (pos == std::string_view::npos)
        return -1;
    return static_cast<pid_t>(std::atoi(std::string(texte.substr(pos + prefixe.size())).c_str()));
}

std::map<pid_t, EtatProc> tous_les_processus()
{
    std::map<pid_t, EtatProc> tous;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        std::string nom = entree.path().filename().string();
        if (nom.empty() || nom.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(nom));
        if (auto e = lire_stat(pid))
            tous.emplace(pid, *e);
    }
    return tous;
}

bool groupe_present(pid_t groupe)
{
    for (const auto &[pid, e] : tous_les_processus())
        if (e.groupe == groupe)
            return true;
    return false;
}

} // namespace lancement
