#include "proc.h"

#include <filesystem>

namespace lancement {

std::map<pid_t, EtatProc> tous_les_processus()
{
    std::map<pid_t, EtatProc> tous;
    std::error_code ignore;
    for (const auto &entree : std::filesystem::directory_iterator("/proc", ignore)) {
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
