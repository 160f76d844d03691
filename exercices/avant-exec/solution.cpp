// Solution of the exercise "avant-exec": handover says what it does first.
//
// The line is written out before the exec: exec replaces the whole program,
// stdio's buffer with it, and through a pipe or into a file the line would
// still be waiting there (block buffering) and be lost.
#include <cstdio>
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    char nom[] = "cupcounter";
    char *arg[] = {nom, nullptr};

    printf("handover (pid %d) passe la main à cupcounter\n", getpid());
    fflush(stdout);

    int res = execvp("cupcounter", arg);
    if (res == -1)
        signaler_echec("Echec execvp ");
    return res;
}
