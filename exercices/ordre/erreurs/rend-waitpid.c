// Fails: le parent finit avec le code 0
// A student's mistake: the parent ends with what waitpid gave back (the child's pid).
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");

    int generation = (res == 0) ? 2 : 1;
    pid_t fini = 0;
    if (res != 0)
        fini = waitpid(res, NULL, 0);

    printf("%*s %d : je suis %d fils de %d, res = %d\n", 2 * generation + 1, "gen", generation,
           getpid(), getppid(), res);
    return fini;
}
