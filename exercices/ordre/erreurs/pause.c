// Fails: si le fils finit avant que le parent | les deux lignes gardent leurs octets exacts | le fils se nomme et nomme son vrai parent
// A student's mistake: a SIGCHLD handler, then pause(). When the child ends
// before the parent has reached pause, the signal is already spent and the
// parent waits for ever.
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

static void fini(int sig) { (void)sig; }

int main(void)
{
    signal(SIGCHLD, fini);
    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");
    int generation = (res == 0) ? 2 : 1;
    if (res != 0) {
        pause();
        waitpid(res, NULL, 0);
    }
    printf("%*s %d : je suis %d fils de %d, res = %d\n", 2 * generation + 1, "gen", generation,
           getpid(), getppid(), res);
    return 0;
}
