// Fails: un fork refusé (EAGAIN) donne
// A student's mistake: fork's -1 is not checked, the parent goes on to wait for its key.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    pid_t res_f = fork();
    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0;
    }
    waitpid(res_f, NULL, 0);

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
