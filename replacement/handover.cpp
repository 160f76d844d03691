// handover: a process that replaces its own program by cupcounter.
//
// execvp looks for "cupcounter" in the directories of PATH and, when it finds
// it, loads it into this very process: same pid, same parent, same open files,
// same environment. Nothing of handover runs after a successful exec.
//
// Watch it:   $ PATH="$PWD/build/bin:$PATH" handover &
//             [1] 4242
//             pid : 4242, cup number 0
//             $ ps -o pid,ppid,cmd -p 4242
//               PID  PPID CMD
//              4242  4100 cupcounter
// Without cupcounter on PATH (handover itself found by the shell first, or
// the shell says "command not found" before handover ever runs):
//             $ PATH=/nowhere "$(command -v handover)"
//             Echec execvp : No such file or directory      (exit status 2)
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    // The new program's argv: its own name, nothing of ours.
    char nom[] = "cupcounter";
    char *arg[] = {nom, nullptr};

    // Nothing was printed before: no buffered output to lose or to repeat.
    int res = execvp("cupcounter", arg);

    // Reached only when the exec failed: res is -1 and errno tells why.
    if (res == -1)
        signaler_echec("Echec execvp ");
    return res;
}
