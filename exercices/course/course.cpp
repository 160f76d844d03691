// course N PAS : lance N marcheurs à la fois, puis recueille chacun dès qu'il
// finit. Le point de départ de l'exercice « course » : à compléter.
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "Usage : %s <nb_marcheurs> <nb_steps>\n", argv[0]);
        return 1;
    }
    int nb_marcheurs = atoi(argv[1]);

    for (int numero = 1; numero <= nb_marcheurs; numero++) {
        // Un fils par marcheur : rightwalker pour un numéro impair,
        // leftwalker pour un pair, avec le numéro et argv[2] (execlp).
    }

    // Puis, à mesure que chacun finit (le premier qui finit, quel qu'il
    // soit) : « \nmarcheur %d (pid %d) terminé, code %d ».

    printf("\n");
    return 0;
}
