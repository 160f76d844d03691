// Fails: dans un tube, de même
// A student's mistake: no fflush before the exec: in a pipe the line dies in the buffer.
#include <stdio.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    char nom[] = "cupcounter";
    char *arg[] = {nom, NULL};

    printf("handover (pid %d) passe la main à cupcounter\n", getpid());

    int res = execvp("cupcounter", arg);
    if (res == -1)
        signaler_echec("Echec execvp ");
    return res;
}
