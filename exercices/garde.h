// However verifier ends (normally, Ctrl-C, SIGTERM, SIGHUP when its window
// closes, SIGKILL), no process of the student's outlives it and its working
// folder goes.
//
// verifier splits in two: this process, the guard, only waits; a child of
// it, the worker, does the checks. Both are subreapers, so everything the
// student's programs leave behind comes back to one of them:
// - a signal to either one: the worker kills every group it started, then
//   becomes a cleaner (exec of verifier --nettoyer) that ends all its
//   children, generation after generation; the guard then ends whatever came
//   back to it and removes the folder, and dies of the same signal;
// - SIGKILL to the guard: the worker hears it (PR_SET_PDEATHSIG) and does
//   all of that itself;
// - SIGKILL to the worker: its programs hear it (the library sets
//   PR_SET_PDEATHSIG for each), their orphans come back to the guard, which
//   ends them.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include <sys/types.h>

namespace exercices {

// Runs travail in the worker (a subreaper, as the guard is) and returns its
// exit status, once the folder (which travail may fill) is removed. When the
// worker dies of a signal, so does the guard.
int sous_garde(const std::filesystem::path &dossier, const std::function<int()> &travail);

// The cleaner's option and its work: verifier --nettoyer SIGNAL DOSSIER.
inline constexpr const char *option_nettoyage = "--nettoyer";
int nettoyer(int signal, const std::filesystem::path &dossier);

// Ends every process descended from this one (those that came back to it, a
// subreaper, included), but the processes of sauf and their own descendants,
// and reaps them; bounded in time.
void finir_les_restes(const std::vector<pid_t> &sauf = {});

} // namespace exercices
