// Fails: SIGINT et SIGTERM pendant une écriture bloquée
// A student's mistake: handlers installed with SA_RESETHAND: the first signal
// is handled, the next one of the same kind kills the program.
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <errno.h>
#include <unistd.h>

static volatile sig_atomic_t arret = 0;
static void sur_arret(int sig) { arret = sig; }
static void sur_fils(int sig) { (void)sig; }
static pid_t fils = 0;

static void recueillir(int options)
{
    int st;
    if (fils <= 0 || waitpid(fils, &st, options) != fils)
        return;
    if (WIFEXITED(st))
        printf("fils %d terminé, code %d\n", fils, WEXITSTATUS(st));
    else
        printf("fils %d tué par SIG%s\n", fils, sigabbrev_np(WTERMSIG(st)));
    fflush(stdout);
    fils = 0;
}

int main(int argc, char **argv)
{
    struct sigaction sa = {.sa_handler = sur_arret, .sa_flags = SA_RESTART | SA_RESETHAND};
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    sa.sa_handler = sur_fils;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGCHLD, &sa, NULL);
    if (argc > 1 && (fils = fork()) == 0) {
        execvp(argv[1], argv + 1);
        perror("Echec execvp ");
        _exit(127);
    }
    int n = 0;
    while (!arret) {
        recueillir(WNOHANG);
        printf("tasse %d\n", ++n);
        fflush(stdout);
        struct timespec reste = {1, 0};
        while (!arret && nanosleep(&reste, &reste) == -1 && errno == EINTR)
            recueillir(WNOHANG);
    }
    if (fils > 0)
        kill(fils, SIGTERM);
    recueillir(0);
    printf("total : %d\n", n);
    return 0;
}
