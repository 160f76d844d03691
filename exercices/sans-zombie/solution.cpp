// Solution of the exercise "sans-zombie": keyhold1 without its zombie.
//
// The parent collects its child's end as soon as it comes, then holds on its
// read as before: while it holds, the child's pid is gone from the process
// table. (Ignoring SIGCHLD before the fork would do as well: the kernel then
// reaps the child by itself.)
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
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
