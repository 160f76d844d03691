// stopclock: a timing report that times nothing.
//
// It announces the command named by its first argument, never starts it, and
// reports an elapsed time that is fixed at zero.
//
// Watch it:   $ stopclock ls -l
//             exécution de ls
//             temps écoulé : 0.000000 secondes
// The announcement goes to stdout, the time line to the unbuffered stderr: with
// `stopclock ls 2>&1 | cat` the time line comes first, because the announcement
// waits in stdout's buffer until the program ends.
#include <cstdio>

int main(int argc, char *argv[])
{
    double temps_ecoule = 0.0;

    if (argc > 1)
        printf("exécution de %s\n", argv[1]);
    fprintf(stderr, "temps écoulé : %lf secondes\n", temps_ecoule);
    return 0;
}
