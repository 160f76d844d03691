// What /proc says of every process at once, for a caller that reads a whole
// tree (one pass over /proc rather than one a process).
#pragma once

#include <map>

#include "lancement.h"

namespace lancement {

// Every process in /proc now, by pid, as lire_stat reads it.
std::map<pid_t, EtatProc> tous_les_processus();

// Whether some process of this group is still in /proc.
bool groupe_present(pid_t groupe);

} // namespace lancement
