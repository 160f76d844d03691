/* A student's program for verifier's interruption test: it leaves three
   processes waiting forever, one of them in a session of its own. */
#include <unistd.h>

int main(void)
{
    if (fork() == 0) {
        setsid();
        if (fork() == 0)
            for (;;)
                pause();
        for (;;)
            pause();
    }
    for (;;)
        pause();
}
