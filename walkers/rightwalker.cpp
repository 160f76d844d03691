// rightwalker: an east explorer's random walk, reported in a right-hand column.
//
// The walker takes nb_steps random steps of -1, 0 or +1 from position 0, its
// random sequence seeded by its own pid, and prints where it ended. Each
// report starts with a line feed and ends without one, so several walkers
// sharing a terminal each take a line, in the order they finish.
//
// Watch it:   $ for i in 1 2 3; do rightwalker $i 100000000 & leftwalker $i 100000000 & done; wait
// East reports stand 51 columns in, west ones at the margin; started
// together, walkers still differ, because their pids differ.
#include <cstdio>
#include <unistd.h>

#include "marche.h"

int main(int argc, char *argv[])
{
    exiger_deux_arguments(argc, argv, "rightwalker");
    uint64_t nb_steps = lire_nb_steps(argv[2]);
    int64_t y = position_finale(nb_steps, getpid());
    int numero = lire_numero(argv[1]);

    // On a terminal stdout is line-buffered: the leading line feed would
    // leave on its own, and another walker's report could slip in before the
    // rest. Fully buffered, the whole report leaves in one write at fflush.
    setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    printf("\n%50s EST Explorateur %d : position finale = %ld", " ", numero, y);
    fflush(stdout);
    return 0;
}
