// Fails: une entrée fermée donne
// A student's mistake: every failed read ends with 1, whatever errno says.
#include <stdio.h>
#include <sys/wait.h>
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
    waitpid(res_f, NULL, 0);

    char reponse;
    if (scanf("%c", &reponse) != 1) {
        perror("Echec scanf ");
        return 1;
    }
    return 0;
}
