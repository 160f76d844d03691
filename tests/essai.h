// What the tests share beyond the launch library.
#pragma once

#include "lancement.h"

namespace lancement {

// Why a test of a forced fork failure skips (echec_fork_possible is false).
inline constexpr const char *sans_echec_fork =
    "this machine does not let the test make fork fail "
    "(needs root to switch to nobody, or an enforceable RLIMIT_NPROC)";

} // namespace lancement
