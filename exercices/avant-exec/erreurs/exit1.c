// Fails: sans cupcounter dans PATH
// A student's mistake: perror then return 1 instead of the failure report.
#include <stdio.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(void)
{
    char nom[] = "cupcounter";
    char *arg[] = {nom, NULL};

    printf("handover (pid %d) passe la main à cupcounter\n", getpid());
    // exec throws away whatever stdio still holds: push the line out first.
    fflush(stdout);

    int res = execvp("cupcounter", arg);
    if (res == -1) {
        perror("Echec execvp ");
        return 1;
    }
    return 0;
}
