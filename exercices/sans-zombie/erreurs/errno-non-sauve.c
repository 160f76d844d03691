// Fails: une entrée qui finit sans rien apporter
// A student's mistake: a reaping SIGCHLD handler that does not save errno.
// Its last waitpid leaves ECHILD there; when the input then ends (Ctrl-D),
// the report reads « Echec scanf : No child processes ».
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

static void recueillir(int signal)
{
    (void)signal;
    while (waitpid(-1, NULL, WNOHANG) > 0) {
    }
}

int main(void)
{
    struct sigaction action = {0};
    action.sa_handler = recueillir;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
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
