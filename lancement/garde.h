// However a program that runs untrusted ones ends (normally, Ctrl-C,
// SIGTERM, SIGHUP when its window closes, SIGKILL), none of what it started
// outlives it and its working folder goes.
//
// The program splits in two: this process, the guard, only waits; a child of
// it, the worker, does the work. Both are subreapers, so everything the
// programs started leave behind comes back to one of them:
// - a signal to either one: the worker kills every group it started, then
//   becomes a cleaner (exec of itself with the caller's cleaning option)
//   that ends all its children, generation after generation; the guard then
//   ends whatever came back to it and removes the folder, and dies of the
//   same signal;
// - SIGKILL to the guard: the worker hears it (PR_SET_PDEATHSIG) and does
//   all of that itself;
// - SIGKILL to the worker: its programs hear it (this library sets
//   PR_SET_PDEATHSIG for each), their orphans come back to the guard, which
//   ends them.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include <sys/types.h>

namespace lancement {

// Runs travail in the worker (a subreaper, as the guard is) and returns its
// exit status, once the folder (which travail may fill) is removed. When the
// worker dies of a signal, so does the guard. On a signal, the worker execs
// this program as PROGRAM option_nettoyage SIGNAL DOSSIER: the caller's main
// answers that command line with nettoyer.
int sous_garde(const std::filesystem::path &dossier, const char *option_nettoyage,
               const std::function<int()> &travail);

// The cleaner's work: ends every process descended from this one, removes
// dossier (unless empty: the caller passes only a folder it knows it made),
// and dies of signal.
[[noreturn]] void nettoyer(int signal, const std::filesystem::path &dossier);

// Ends every process descended from this one (those that came back to it, a
// subreaper, included), but the processes of sauf and their own descendants,
// and reaps them; bounded in time.
void finir_les_restes(const std::vector<pid_t> &sauf = {});

} // namespace lancement
