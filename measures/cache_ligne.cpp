#include "cache_ligne.h"

#include <unistd.h>

uint64_t nb_entiers_dans_ligne_cache_inf(int64_t taille_octets)
{
    int64_t taille_ligne_cache;

    // A block exactly as large as a cache counts as fitting in it.
    if (taille_octets <= sysconf(_SC_LEVEL2_CACHE_SIZE))
        taille_ligne_cache = sysconf(_SC_LEVEL1_DCACHE_LINESIZE);
    else if (taille_octets <= sysconf(_SC_LEVEL3_CACHE_SIZE))
        taille_ligne_cache = sysconf(_SC_LEVEL2_CACHE_LINESIZE);
    else
        taille_ligne_cache = sysconf(_SC_LEVEL3_CACHE_LINESIZE);

    // sysconf answers -1 when it cannot tell; no integer fits in an unknown line.
    if (taille_ligne_cache < 0)
        return 0;
    return static_cast<uint64_t>(taille_ligne_cache) / sizeof(int);
}
