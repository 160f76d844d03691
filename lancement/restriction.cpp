// A restreint program: run as nobody when the caller is root, with bounds on
// its processes, CPU time and file sizes; and a program whose forks fail.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interne.h"

namespace lancement {

namespace fs = std::filesystem;

// Drops to nobody (when root, whom the kernel exempts from the process limit)
// and then sets that limit to 0: the next exec still succeeds, every fork
// after it fails with EAGAIN. Called in a forked child only.
//
// In a rootless container uid 0 is a stand-in without the real root's
// exemption, and nobody is not mapped, so the switch fails: the limit alone
// is enough there. Whether forks then really fail is for the caller's probe
// (echec_fork_possible) to find out.
bool interdire_fork()
{
    // Where setgroups or setgid is refused (a rootless container), stay as we
    // are; a switch that dropped the group but not the user would be neither.
    if (geteuid() == 0 && setgroups(0, nullptr) == 0 && setgid(65534) == 0 &&
        setuid(65534) != 0)
        return false;
    struct rlimit zero = {0, 0};
    return setrlimit(RLIMIT_NPROC, &zero) == 0;
}

// Lowers one limit (never above what is allowed already).
bool borner(int ressource, rlim_t doux, rlim_t dur)
{
    struct rlimit r;
    if (getrlimit(ressource, &r) != 0)
        return false;
    rlim_t plafond = std::min(r.rlim_max, dur);
    struct rlimit n = {std::min(doux, plafond), plafond};
    return setrlimit(ressource, &n) == 0;
}

// The bounds of a restreint program, chosen so that no exercise comes near
// them and a runaway program soon meets them.
constexpr rlim_t processus_de_plus = 512;      // beyond what the user runs already
constexpr rlim_t secondes_cpu = 60;            // SIGXCPU at 60 s, SIGKILL at 61 s
constexpr rlim_t octets_fichier = 64ul << 20;  // SIGXFSZ beyond 64 MiB a file

// A restreint program's identity and bounds. Called in a forked child only.
bool restreindre(const Identite *qui, rlim_t processus)
{
    // As in interdire_fork: a rootless container refuses the switch, and its
    // root is no more than the user who started it.
    if (qui && setgroups(0, nullptr) == 0 && setgid(qui->gid) == 0 && setuid(qui->uid) != 0)
        return false;
    return borner(RLIMIT_NPROC, processus, processus) &&
           borner(RLIMIT_CPU, secondes_cpu, secondes_cpu + 1) &&
           borner(RLIMIT_FSIZE, octets_fichier, octets_fichier) && borner(RLIMIT_CORE, 0, 0);
}

// How many processes (threads, as the kernel counts them) belong to uid now,
// and so what RLIMIT_NPROC leaves room for processus_de_plus more. Counted
// once a caller and user: a verification is short.
rlim_t plafond_processus(uid_t uid)
{
    static std::map<uid_t, rlim_t> plafonds;
    if (auto p = plafonds.find(uid); p != plafonds.end())
        return p->second;
    rlim_t taches = 0;
    std::error_code ignore;
    for (const auto &entree : fs::directory_iterator("/proc", ignore)) {
        struct stat s;
        std::string nom = entree.path().filename().string();
        if (nom.find_first_not_of("0123456789") != std::string::npos ||
            stat(entree.path().c_str(), &s) != 0 || s.st_uid != uid)
            continue;
        auto champs = champs_stat(std::stoi(nom));
        taches += champs.size() > 17 ? std::strtoul(champs[17].c_str(), nullptr, 10) : 1;
    }
    return plafonds[uid] = taches + processus_de_plus;
}

std::optional<Identite> utilisateur_restreint()
{
    if (geteuid() != 0)
        return std::nullopt;
    static const Identite nobody = [] {
        Identite i = {65534, 65534};
        if (const passwd *p = getpwnam("nobody"))
            i = {p->pw_uid, p->pw_gid};
        return i;
    }();
    return nobody;
}

bool echec_fork_possible()
{
    static std::optional<bool> reponse;
    if (!reponse) {
        pid_t sonde = fork();
        if (sonde == 0) {
            // The same restriction a program gets, then a fork of our own.
            if (!interdire_fork())
                _exit(2);
            pid_t p = fork();
            if (p == 0)
                _exit(0);
            if (p > 0) {
                waitpid(p, nullptr, 0);
                _exit(1);
            }
            _exit(errno == EAGAIN ? 0 : 1);
        }
        int statut = 0;
        while (sonde > 0 && waitpid(sonde, &statut, 0) < 0 && errno == EINTR) {
        }
        reponse = sonde > 0 && WIFEXITED(statut) && WEXITSTATUS(statut) == 0;
    }
    return *reponse;
}

std::string choisir_un_tmpdir_executable(const std::string &commande)
{
    auto convient = [](const std::string &dossier) {
        struct statvfs v;
        return !dossier.empty() && access(dossier.c_str(), W_OK | X_OK) == 0 &&
               statvfs(dossier.c_str(), &v) == 0 && !(v.f_flag & ST_NOEXEC);
    };
    std::error_code erreur;
    std::string actuel = fs::temp_directory_path(erreur).string();
    if (erreur)
        actuel = "/tmp";
    if (convient(actuel))
        return "";
    std::vector<std::string> ailleurs = {"/var/tmp", "/dev/shm"};
    if (geteuid() != 0) {
        if (const char *d = std::getenv("XDG_RUNTIME_DIR"))
            ailleurs.emplace_back(d);
        if (const char *maison = std::getenv("HOME"); maison && *maison) {
            fs::create_directories(fs::path(maison) / ".cache", erreur);
            ailleurs.push_back(maison + std::string("/.cache"));
        }
    }
    std::string essayes;
    for (const auto &d : ailleurs) {
        if (convient(d)) {
            setenv("TMPDIR", d.c_str(), 1);
            return "";
        }
        essayes += ", " + d;
    }
    const std::string nbsp = "\u00a0";
    return "aucun dossier où lancer un programme" + nbsp + ": «" + nbsp + actuel + nbsp +
           "» ne le permet pas (monté noexec), ni" + essayes.substr(1) +
           ". Donnez-en un par TMPDIR, par exemple" + nbsp + ":\n    mkdir -p ~/tmp && "
           "TMPDIR=~/tmp " + commande + " …\n";
}

} // namespace lancement
