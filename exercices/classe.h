// verifier EXERCICE DOSSIER [--csv FICHIER]: a whole class checked at once.
#pragma once

// argv as verifier was given it; returns verifier's exit status.
int verifier_classe(int argc, char *argv[]);
