// Fails: pendant que le parent attend sa touche
// A student's mistake: a reaping SIGCHLD handler without SA_RESTART cuts the pending read short.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

static void recueillir(int signal)
{
    (void)signal;
    int sauve = errno;
    while (waitpid(-1, NULL, WNOHANG) > 0) {
    }
    errno = sauve;
}

int main(void)
{
    struct sigaction action = {0};
    action.sa_handler = recueillir;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGCHLD, &action, NULL);

    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");

    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0;
    }

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
