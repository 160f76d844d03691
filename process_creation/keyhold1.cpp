// keyhold1: a zombie, held in place by a parent that never waits.
//
// The child prints its pid and ends at once. The parent, which never calls
// wait, blocks reading one character. Until it gets it, the ended child stays
// in the process table as a zombie: nobody has collected its exit status.
//
// Watch it:   $ keyhold1
//             pid : 4243
// and, from another terminal, while the first one waits for its key:
//             $ ps -o pid,ppid,stat,cmd -p 4243
//               PID  PPID STAT CMD
//              4243  4242 Z+   [keyhold1] <defunct>
// Press Enter in the first terminal: the parent ends, the system reaps the
// child, and the ps line is gone. Ctrl-D instead of Enter ends the input:
// "Echec scanf : Success", exit status 1. On a terminal in its usual line
// mode the parent's read returns only at Enter: a lone x does nothing yet.
//
// Started with SIGCHLD ignored (env --ignore-signal=CHLD keyhold1), the
// kernel reaps the child at once and no zombie is left to see.
//
// keyhold2 is the same program but for the child's line: here a blank
// stands between the pid and the line feed (cat -A shows "pid : 4243 $").
#include <cstdio>
#include <unistd.h>

#include "signaler_echec.h"

int main()
{
    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");

    if (res_f == 0) {
        printf("pid : %d \n", getpid());
        return 0; // the normal end writes the line out
    }

    // "%c" takes any one byte, blank and line feed included.
    char reponse;
    int resu = scanf("%c", &reponse);
    if (resu == -1)
        signaler_echec("Echec scanf ");
    return 0;
}
