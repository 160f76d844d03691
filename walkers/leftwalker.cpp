// leftwalker: a west explorer's random walk, reported at the left margin.
//
// Same walk as rightwalker (nb_steps random steps of -1, 0 or +1 from 0,
// seeded by the pid), reported at the margin instead of in a column.
//
// Watch it:   $ leftwalker 4 1000
//             OUEST Explorateur 4 : position finale = -17$
// The prompt lands right after the number: the report ends without a line feed.
#include <cstdio>
#include <unistd.h>

#include "marche.h"

int main(int argc, char *argv[])
{
    exiger_deux_arguments(argc, argv, "leftwalker");
    uint64_t nb_steps = lire_nb_steps(argv[2]);
    int64_t y = position_finale(nb_steps, getpid());
    int numero = lire_numero(argv[1]);

    // On a terminal stdout is line-buffered: the leading line feed would
    // leave on its own, and another walker's report could slip in before the
    // rest. Fully buffered, the whole report leaves in one write at fflush.
    setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    printf("\nOUEST Explorateur %d : position finale = %ld", numero, y);
    fflush(stdout);
    return 0;
}
