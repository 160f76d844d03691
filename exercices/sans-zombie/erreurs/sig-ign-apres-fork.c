// Fails: pendant que le parent attend sa touche
// A student's mistake: SIGCHLD is ignored only after the fork, too late if the child has ended already.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");

    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0;
    }

    signal(SIGCHLD, SIG_IGN);

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
