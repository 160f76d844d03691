// Fails: les deux lignes gardent leurs octets exacts
// A student's mistake: the child's line lost its indentation (no %*s).
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

    printf("gen %d : je suis %d fils de %d, res = %d\n",
           generation, mon_pid, pid_pere, res);
    return 0;
}
