// landlock_ancien.so, preloaded (LD_PRELOAD): the process and what it starts
// without changing its environment see Landlock as Debian 12's Linux 6.1 has
// it, version 2 (no truncation right, no network, no scoping of signals);
// the kernel then enforces exactly the rules of that version that they ask
// for. Only the question of the version is answered here: seccomp cannot
// answer it with a number, and a listener of seccomp's around verifier would
// forbid verifier its own.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/syscall.h>

#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#endif

long syscall(long numero, ...)
{
    va_list arguments;
    va_start(arguments, numero);
    long a[6];
    for (int k = 0; k < 6; k++)
        a[k] = va_arg(arguments, long);
    va_end(arguments);
    // landlock_create_ruleset(NULL, 0, LANDLOCK_CREATE_RULESET_VERSION)
    if (numero == SYS_landlock_create_ruleset && a[0] == 0 && a[1] == 0 && a[2] == 1)
        return 2;
    static long (*noyau)(long, ...);
    if (noyau == 0)
        *(void **)&noyau = dlsym(RTLD_NEXT, "syscall"); // as dlsym(3) says to
    return noyau(numero, a[0], a[1], a[2], a[3], a[4], a[5]);
}
