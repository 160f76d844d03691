// Solution of the exercise "ordre": genreport, with a parent that waits.
//
// The parent waits for its child before printing: the child's line always
// comes first, and the child always names its real parent (it cannot be
// adopted, its parent is still there, waiting).
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");

    int generation = (res == 0) ? 2 : 1;

    // The parent collects its child's end before saying anything.
    if (res != 0)
        waitpid(res, nullptr, 0);

    pid_t mon_pid = getpid();
    pid_t pid_pere = getppid();

    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, res);
    return 0;
}
