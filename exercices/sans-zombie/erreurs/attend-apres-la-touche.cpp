// Fails: pendant que le parent attend sa touche
// A student's mistake: the parent reaps its child only after the key.
#include <cstdio>
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

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");

    waitpid(res_f, nullptr, 0);
    return 0;
}
