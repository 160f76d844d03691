// Fails: la touche Entrée (un saut de ligne) libère le parent
// A student's mistake: scanf(" %c") skips the line feed Enter gives.
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

    waitpid(res_f, nullptr, 0);

    char reponse;
    int resu = scanf(" %c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
