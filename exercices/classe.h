// verifier EXERCICE DOSSIER [--csv FICHIER]: a whole class checked at once.
#pragma once

// argv as verifier was given it, less --sans-confinement, which is
// sans_confinement: without it, a kernel that cannot confine the students'
// programs entirely makes the check refuse to start. Returns verifier's
// exit status.
int verifier_classe(int argc, char *argv[], bool sans_confinement);
