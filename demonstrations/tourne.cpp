// tourne: a process that only computes, and never waits for anything.
//
// Always ready to run, it takes all the processor time the scheduler gives
// it. Started more times than there are cores, the copies share the cores:
// each gets its part, and a copy made "nice" gets less.
//
// Watch it:   $ nproc
//             2
//             $ tourne & tourne & tourne &
//             $ ps -o pid,ni,pcpu,time,cmd -C tourne
//                 PID  NI %CPU     TIME CMD
//                4242   0 66.5 00:00:04 tourne
//                ...     (three copies, about two thirds of a core each)
//             $ renice -n 19 -p 4242
// Now 4242's TIME hardly grows while the two others get a core each. %CPU
// is an average over the whole life of the process: top, or the CPU time
// read twice from /proc/PID/stat (fields 14 and 15, in clock ticks), shows
// the change at once. kill %1 %2 %3 ends them.
#include <cstdio>
#include <unistd.h>

int main()
{
    // volatile: the compiler must really do every turn, and cannot make the
    // loop, which has no other effect, disappear.
    volatile unsigned long tours = 0;
    for (;;)
        tours = tours + 1;
}
