#include "signaler_echec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

void signaler_echec(const char *texte)
{
    // perror may itself change errno (glibc leaves EINVAL behind when stderr
    // is open for writing only), so the number is taken first.
    int numero = errno;
    perror(texte);
    exit(numero != 0 ? numero : 1);
}
