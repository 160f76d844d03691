// attentif: a parent that takes two signals itself, where keyhold1 lets the
// default actions happen.
//
// SIGCHLD, whose default action does nothing, is caught here: its handler
// calls waitpid the moment the child ends, so no zombie is left (keyhold1's
// child stays one).
// SIGTERM, which ends a process by default, is caught too: the parent says so
// and goes on. Nothing catches SIGKILL: kill -KILL ends it, status 137, which
// a shell reports as 128 + 9.
//
// Watch it:   $ attentif
//             parent 4242, j'attends mes signaux
//             fils 4243, je finis
//             fils 4243 recueilli aussitôt, code 0
// and, from another terminal:
//             $ ps -o pid,ppid,stat,cmd -p 4243      (nothing: no zombie)
//             $ kill 4242
// which makes the first terminal say "SIGTERM reçu, je continue". Ctrl-C
// (SIGINT, not caught) ends it.
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

// Set by the handlers, read by main: the only things a handler touches.
volatile sig_atomic_t fils_recueilli = 0;
volatile sig_atomic_t code_du_fils = 0;
volatile sig_atomic_t sigterm_recus = 0;

void quand_sigchld(int)
{
    int statut;
    pid_t fils = waitpid(-1, &statut, WNOHANG);
    if (fils > 0) {
        fils_recueilli = fils;
        code_du_fils = WEXITSTATUS(statut);
    }
}

void quand_sigterm(int)
{
    sigterm_recus = sigterm_recus + 1;
}

int main()
{
    signal(SIGCHLD, quand_sigchld);
    signal(SIGTERM, quand_sigterm);

    // Both signals wait, blocked, for sigsuspend below: one that came before
    // it is not missed.
    sigset_t bloques, aucun;
    sigemptyset(&bloques);
    sigaddset(&bloques, SIGCHLD);
    sigaddset(&bloques, SIGTERM);
    sigprocmask(SIG_BLOCK, &bloques, &aucun);

    printf("parent %d, j'attends mes signaux\n", getpid());
    fflush(stdout); // not written twice, by the parent and by the child

    pid_t res = fork();
    if (res == -1)
        signaler_echec("Echec fork ");
    if (res == 0) {
        printf("fils %d, je finis\n", getpid());
        return 0;
    }

    int sigterm_vus = 0;
    for (;;) {
        sigsuspend(&aucun); // the handlers run here, then this returns
        if (fils_recueilli != 0) {
            printf("fils %d recueilli aussitôt, code %d\n", fils_recueilli, code_du_fils);
            fils_recueilli = 0;
        }
        for (; sigterm_vus < sigterm_recus; sigterm_vus++)
            printf("SIGTERM reçu, je continue\n");
        fflush(stdout);
    }
}
