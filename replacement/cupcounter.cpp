// cupcounter: a program that counts cups, once a second, until a signal ends it.
//
// Each line carries the process's pid, asked for again every time, and the
// cup number, from 0. On its own it shows its own pid; started by handover it
// shows handover's, because exec replaces the program and keeps the process.
//
// Watch it:   $ cupcounter
//             pid : 4242, cup number 0
//             pid : 4242, cup number 1
//             ...        (Ctrl-C ends it)
// Each line is written out as soon as it is printed, so `cupcounter | tee log`
// shows a line a second too, and the log keeps every line after Ctrl-C.
#include <cstdio>
#include <unistd.h>

int main()
{
    int i = 0;
    for (;;) {
        printf("pid : %d, cup number %d\n", getpid(), i);
        // Through a pipe or into a file stdout is block-buffered: without
        // this, lines would arrive 4 KiB at a time and the signal that ends
        // the program would throw away the last ones.
        fflush(stdout);
        i++;
        sleep(1);
    }
}
