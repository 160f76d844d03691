// Fails: un fork refusé (EAGAIN) donne
// A student's mistake: perror then exit(errno): 22 once stderr is not a terminal.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    pid_t res = fork();
    if (res == -1) {
        perror("Echec fork ");
        exit(errno);
    }

    int generation = (res == 0) ? 2 : 1;
    pid_t mon_pid = getpid();
    pid_t pid_pere = getppid();

    if (res > 0)
        waitpid(res, nullptr, 0);

    printf("%*s %d : je suis %d fils de %d, res = %d\n",
           2 * generation + 1, "gen", generation, mon_pid, pid_pere, res);
    return 0;
}
