// Fails: au terminal, la ligne paraît une fois
// A student's mistake: fork and exec in a child: cupcounter runs under another pid.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    char nom[] = "cupcounter";
    char *arg[] = {nom, NULL};

    printf("handover (pid %d) passe la main à cupcounter\n", getpid());
    fflush(stdout);

    pid_t fils = fork();
    if (fils == -1)
        signaler_echec("Echec fork ");
    if (fils == 0) {
        execvp("cupcounter", arg);
        signaler_echec("Echec execvp ");
    }

    int statut = 0;
    waitpid(fils, &statut, 0);
    return WIFEXITED(statut) ? WEXITSTATUS(statut) : 1;
}
