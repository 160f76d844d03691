// The guard and its worker (garde.h).
#include "garde.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "interne.h"
#include "lancement.h"
#include "proc.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace lancement {
namespace {

constexpr int signaux_de_fin[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// --- the guard ---------------------------------------------------------------

volatile pid_t travailleur = -1;

void transmettre(int signal)
{
    if (travailleur > 0)
        kill(travailleur, signal);
}

// --- the worker --------------------------------------------------------------

// What the handler execs, made before any signal can come.
char exe[] = "/proc/self/exe";
char nom_nettoyeur[64];
char option[32];
char numero_signal[16];
char chemin_dossier[PATH_MAX];
char *argv_nettoyeur[] = {nom_nettoyeur, option, numero_signal, chemin_dossier, nullptr};

void interrompre(int signal)
{
    arreter_tout();
    // The number, written without stdio (async-signal-safe).
    char chiffres[16];
    int n = 0;
    for (int s = signal; s > 0 || n == 0; s /= 10)
        chiffres[n++] = static_cast<char>('0' + s % 10);
    for (int k = 0; k < n; k++)
        numero_signal[k] = chiffres[n - 1 - k];
    numero_signal[n] = '\0';
    execv(exe, argv_nettoyeur);
    _exit(128 + signal); // the guard, if it lives, ends what is left
}

// A signal ignored when verifier started (nohup, a background job's
// SIGINT) stays ignored.
void installer(void (*traitant)(int))
{
    struct sigaction action = {};
    action.sa_handler = traitant;
    sigemptyset(&action.sa_mask);
    for (int s : signaux_de_fin)
        sigaddset(&action.sa_mask, s);
    for (int s : signaux_de_fin) {
        struct sigaction avant;
        if (sigaction(s, nullptr, &avant) == 0 && avant.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
}

[[noreturn]] void mourir_de(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t seul;
    sigemptyset(&seul);
    sigaddset(&seul, signal);
    sigprocmask(SIG_UNBLOCK, &seul, nullptr);
    raise(signal);
    _exit(128 + signal);
}

} // namespace

namespace {

// Every process descended from this one now, but those of sauf and theirs,
// from one reading of /proc.
std::vector<pid_t> descendants(const std::vector<pid_t> &sauf)
{
    std::map<pid_t, std::vector<pid_t>> enfants;
    for (const auto &[pid, etat] : tous_les_processus())
        enfants[etat.parent].push_back(pid);
    std::vector<pid_t> tous = {getpid()};
    for (std::size_t k = 0; k < tous.size(); k++)
        for (pid_t p : enfants[tous[k]])
            if (std::find(sauf.begin(), sauf.end(), p) == sauf.end())
                tous.push_back(p);
    tous.erase(tous.begin());
    return tous;
}

} // namespace

void finir_les_restes(const std::vector<pid_t> &sauf)
{
    auto fin = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < fin) {
        // All the descendants at once, so that a program forking without end
        // has no time to replace the ones killed.
        auto restes = descendants(sauf);
        for (pid_t p : restes)
            kill(p, SIGKILL);
        // Each one by its pid (those that are our children): the processes
        // of sauf are not reaped behind their owner's back.
        for (pid_t p : restes)
            waitpid(p, nullptr, WNOHANG);
        if (restes.empty())
            return;
        std::this_thread::sleep_for(1ms);
    }
}

int sous_garde(const fs::path &dossier, const char *option_nettoyage,
               const std::function<int()> &travail)
{
    adopter_les_orphelins();
    pid_t garde = getpid();
    std::snprintf(nom_nettoyeur, sizeof nom_nettoyeur, "%s", program_invocation_short_name);
    std::snprintf(option, sizeof option, "%s", option_nettoyage);
    std::snprintf(chemin_dossier, sizeof chemin_dossier, "%s", dossier.c_str());

    // Signals that come before the worker exists wait until it does.
    sigset_t fin, avant;
    sigemptyset(&fin);
    for (int s : signaux_de_fin)
        sigaddset(&fin, s);
    sigprocmask(SIG_BLOCK, &fin, &avant);
    std::fflush(nullptr);
    pid_t pid = fork();
    int erreur_fork = errno;
    if (pid == 0) {
        installer(interrompre);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        sigprocmask(SIG_SETMASK, &avant, nullptr);
        if (getppid() != garde)
            raise(SIGTERM); // the guard is gone already
        adopter_les_orphelins();
        int code = travail();
        std::fflush(nullptr);
        std::exit(code);
    }
    travailleur = pid;
    installer(transmettre);
    sigprocmask(SIG_SETMASK, &avant, nullptr);

    int statut = 0;
    while (pid > 0 && waitpid(pid, &statut, 0) < 0 && errno == EINTR) {
    }
    finir_les_restes();
    std::error_code ignore;
    fs::remove_all(dossier, ignore);
    if (pid < 0) {
        std::string message = program_invocation_short_name + insecable + ": fork" +
                              insecable + ": " + raison(erreur_fork) + "\n";
        std::fputs(message.c_str(), stderr);
        return 2;
    }
    if (WIFSIGNALED(statut))
        mourir_de(WTERMSIG(statut));
    return WEXITSTATUS(statut);
}

void nettoyer(int signal, const fs::path &dossier)
{
    // Further signals (Ctrl-C hits the guard, which passes it on) change
    // nothing now; the handler's mask came through exec.
    for (int s : signaux_de_fin)
        std::signal(s, SIG_IGN);
    sigset_t aucun;
    sigemptyset(&aucun);
    sigprocmask(SIG_SETMASK, &aucun, nullptr);
    finir_les_restes();
    std::error_code ignore;
    if (!dossier.empty())
        fs::remove_all(dossier, ignore);
    mourir_de(signal);
}

} // namespace lancement
