// Fails: dans un fichier, de même
// A student's mistake: the line goes through a fresh fopen("/dev/stdout"), whose offset in a file is not stdout's.
#include <stdio.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    char nom[] = "cupcounter";
    char *arg[] = {nom, NULL};

    FILE *sortie = fopen("/dev/stdout", "w");
    if (sortie != NULL) {
        fprintf(sortie, "handover (pid %d) passe la main à cupcounter\n", getpid());
        fclose(sortie);
    }

    int res = execvp("cupcounter", arg);
    if (res == -1)
        signaler_echec("Echec execvp ");
    return res;
}
