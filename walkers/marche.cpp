#include "marche.h"

#include <cstdio>
#include <cstdlib>

void exiger_deux_arguments(int argc, char *argv[], const char *nom_programme)
{
    if (argc == 3)
        return;
    // With an empty argument vector there is no invocation name to show.
    const char *nom = (argc > 0 && argv[0] != nullptr) ? argv[0] : nom_programme;
    fprintf(stderr, "Usage : %s <numéro d'explorateur> <nb_steps>\n", nom);
    exit(1);
}

uint64_t lire_nb_steps(const char *texte)
{
    return static_cast<uint32_t>(strtol(texte, nullptr, 10));
}

int lire_numero(const char *texte)
{
    return static_cast<int>(static_cast<uint32_t>(strtol(texte, nullptr, 10)));
}

int64_t position_finale(uint64_t nb_steps, uint32_t seed)
{
    srand(seed);
    int64_t y = 0;
    // A 64-bit counter, so that 4294967295 steps run to the end.
    for (uint64_t i = 0; i < nb_steps; i++)
        y += rand() % 3 - 1;
    return y;
}
