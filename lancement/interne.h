// What the parts of the library share, and its callers need not see.
#pragma once

#include "confinement.h"

namespace lancement {

// In the started process, before exec: the confinement, as far as this
// kernel allows it; terminal, the path of the terminal it was given (or ""),
// stays open to it. Says which promises it could keep.
Promesses confiner(const Confinement &confinement, const char *terminal);

} // namespace lancement
