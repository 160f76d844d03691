// Passes: another sound technique: waitid(P_PID, ...) instead of waitpid.
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
    pid_t mon_pid = getpid();
    pid_t pid_pere = getppid();

    if (res > 0) {
        siginfo_t info;
        waitid(P_PID, (id_t)res, &info, WEXITED);
    }

    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, res);
    return 0;
}
