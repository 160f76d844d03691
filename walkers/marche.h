// What the two walkers share: their command line and the walk itself.
#pragma once

#include <cstdint>

// Ends the program with the usage message on stderr and status 1 unless there
// are exactly two arguments. nom_programme stands in for argv[0] when the
// argument vector is empty.
void exiger_deux_arguments(int argc, char *argv[], const char *nom_programme);

// The step count: the argument as strtol reads it in base 10, reduced to its
// low 32 bits taken as unsigned ("-1" is 4294967295, "4294967296" is 0).
uint64_t lire_nb_steps(const char *texte);

// The explorer number: the same reading, low 32 bits taken as a signed int.
int lire_numero(const char *texte);

// Walks nb_steps random unit steps (-1, 0 or +1, one rand() each) from 0,
// after srand(seed), and returns where the walker ends.
int64_t position_finale(uint64_t nb_steps, uint32_t seed);
