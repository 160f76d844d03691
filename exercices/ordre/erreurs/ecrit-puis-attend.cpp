// Fails: tant que son fils vit, le parent attend sans rien écrire
// A student's mistake: the parent prints, then waits: through a pipe its line still leaves last.
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
    pid_t mon_pid = getpid();
    pid_t pid_pere = getppid();

    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, res);

    if (res > 0)
        waitpid(res, nullptr, 0);
    return 0;
}
