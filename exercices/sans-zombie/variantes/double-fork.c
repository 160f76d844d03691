// Passes: another sound technique: double fork: the grandchild prints, its adopter reaps it.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    // The child forks the one that prints and leaves at once: the grandchild
    // is adopted, and its adopter collects it.
    pid_t inter = fork();
    if (inter == -1)
        signaler_echec("Echec fork ");

    if (inter == 0) {
        pid_t res_f = fork();
        if (res_f == -1)
            signaler_echec("Echec fork ");
        if (res_f == 0) {
            printf("pid : %d \n", getpid());
            return 0;
        }
        _exit(0);
    }

    int statut;
    if (waitpid(inter, &statut, 0) == inter && WIFEXITED(statut)
        && WEXITSTATUS(statut) != 0)
        return WEXITSTATUS(statut);

    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
