#include "suivi.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>

namespace exercices {

using namespace lancement;

std::string saisir(pid_t pid)
{
    if (ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_TRACESYSGOOD) != 0)
        return std::string("ptrace refusé : ") + std::strerror(errno);
    ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr);
    return "";
}

std::string suivre(pid_t pid, const std::function<bool(const AppelSuivi &)> &choisir,
                   const std::function<bool(long retour)> &tenir, Duree limite)
{
    bool cible = false;
    auto jusqu_a = Horloge::now() + limite;
    while (Horloge::now() < jusqu_a) {
        // Look first: an end is left for Processus to reap.
        siginfo_t vu = {};
        if (waitid(P_PID, static_cast<id_t>(pid), &vu, WEXITED | WNOHANG | WNOWAIT) != 0)
            return "le programme a disparu";
        if (vu.si_pid == 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        if (vu.si_code != CLD_TRAPPED)
            return "le programme a fini (" +
                   fin(vu.si_code == CLD_EXITED ? vu.si_status : -vu.si_status) + ")";
        int statut;
        waitpid(pid, &statut, WNOHANG | __WALL);
        int relaye = 0; // a signal for the program itself goes on to it
        if (WSTOPSIG(statut) == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info = {};
            ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info);
            if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
                AppelSuivi a{static_cast<long>(info.entry.nr), {}};
                for (int k = 0; k < 6; k++)
                    a.arguments[k] = info.entry.args[k];
                cible = choisir(a);
            } else if (info.op == PTRACE_SYSCALL_INFO_EXIT && cible) {
                cible = false;
                if (tenir(info.exit.rval)) {
                    ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
                    return "";
                }
            }
        } else if (statut >> 16 == 0)
            relaye = WSTOPSIG(statut);
        ptrace(PTRACE_SYSCALL, pid, nullptr, relaye);
    }
    ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    return "le moment attendu n'est pas venu en " +
           en_secondes(std::chrono::duration<double>(limite).count());
}

std::string octets_ecrits(pid_t pid, const AppelSuivi &appel)
{
    std::vector<iovec> morceaux;
    if (appel.numero == SYS_write)
        morceaux.push_back({reinterpret_cast<void *>(appel.arguments[1]),
                            static_cast<size_t>(appel.arguments[2])});
    else {
        iovec table[8];
        iovec local = {table, sizeof table};
        iovec distant = {reinterpret_cast<void *>(appel.arguments[1]),
                         std::min<size_t>(appel.arguments[2], 8) * sizeof(iovec)};
        ssize_t n = process_vm_readv(pid, &local, 1, &distant, 1, 0);
        for (ssize_t k = 0; n > 0 && k < n / static_cast<ssize_t>(sizeof(iovec)); k++)
            morceaux.push_back(table[k]);
    }
    std::string lu;
    for (auto m : morceaux) {
        char tampon[256];
        m.iov_len = std::min(m.iov_len, sizeof tampon - lu.size());
        iovec local = {tampon, m.iov_len};
        ssize_t n = process_vm_readv(pid, &local, 1, &m, 1, 0);
        if (n > 0)
            lu.append(tampon, static_cast<size_t>(n));
    }
    return lu;
}

namespace {

// The mask of one line of /proc/PID/status (« SigPnd: 0000000000000002 »).
unsigned long long masque(pid_t pid, const std::string &champ)
{
    std::ifstream f("/proc/" + nombre(pid) + "/status");
    for (std::string ligne; std::getline(f, ligne);)
        if (ligne.starts_with(champ + ":"))
            return std::strtoull(ligne.c_str() + champ.size() + 1, nullptr, 16);
    return 0;
}

bool dans(unsigned long long m, int sig) { return (m >> (sig - 1)) & 1; }

} // namespace

bool signal_en_attente(pid_t pid, int sig)
{
    return dans(masque(pid, "SigPnd") | masque(pid, "ShdPnd"), sig);
}

bool signal_bloque(pid_t pid, int sig) { return dans(masque(pid, "SigBlk"), sig); }

bool ecriture_bloquee(pid_t pid)
{
    auto appel = appel_en_cours(pid);
    if (appel && appel->numero == SYS_write && appel->premier_argument == 1)
        return true;
    std::ifstream ou("/proc/" + nombre(pid) + "/wchan");
    std::string attente;
    return ou >> attente && attente.find("pipe_write") != std::string::npos;
}

} // namespace exercices
