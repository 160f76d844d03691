// Fails: le fils se nomme et nomme son vrai parent
// A student's mistake: res is guessed as getpid() + 1, right only when pids follow each other.
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

    if (res > 0)
        waitpid(res, nullptr, 0);

    // The child is the next pid after mine.
    pid_t affiche = (res == 0) ? 0 : mon_pid + 1;
    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, affiche);
    return 0;
}
