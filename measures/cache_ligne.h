// linefit's cache-line query.
#pragma once

#include <cstdint>

// How many 4-byte ints fit in one line of the cache that suits a block of
// taille_octets bytes: the level-1 data cache when the block fits in level 2,
// level 2 when it fits in level 3, level 3 otherwise. The figures are asked of
// sysconf at each call. A line size the system cannot tell (-1) gives 0.
uint64_t nb_entiers_dans_ligne_cache_inf(int64_t taille_octets);
