// genreport: what fork returns, seen from both sides.
//
// One fork, then parent and child each print one line: their generation
// (1 for the parent, 2 for the child, which stands two columns further right),
// their own pid, their parent's pid, and what fork returned to them.
//
// Watch it:   $ genreport
//             gen 1 : je suis 4242 fils de 4100, res = 4243
//               gen 2 : je suis 4243 fils de 4242, res = 0
// The parent's res is the child's pid; the child's res is 0. Compare the
// parent's "fils de" with `echo $$`: it is your shell. Nobody waits for
// anybody, so the lines come in the order the scheduler picks, and a child
// whose parent has already gone reports the pid of the process that adopted it.
#include <cstdio>
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");

    int generation = (res == 0) ? 2 : 1;

    // Asked for after the fork, so each process gets its own answers.
    pid_t mon_pid = getpid();
    pid_t pid_pere = getppid();

    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, res);
    return 0;
}
