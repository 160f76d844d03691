// Fails: une entrée qui finit sans rien apporter
// A student's mistake: perror then exit(errno): 22 once stderr is not a terminal.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");

    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0;
    }

    waitpid(res_f, nullptr, 0);

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1) {
        perror("Echec scanf ");
        exit(errno);
    }
    return 0;
}
