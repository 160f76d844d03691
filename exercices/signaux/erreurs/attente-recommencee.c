// Fails: une ligne par seconde
// A student's mistake: nanosleep cut short by SIGCHLD is started again for a
// whole second, not for the time left: the next line comes up to 2 s late.
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
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
    struct sigaction sa = {.sa_handler = sur_arret, .sa_flags = SA_RESTART};
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    sa.sa_handler = sur_fils;
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
        struct timespec seconde = {1, 0};
        while (!arret && nanosleep(&seconde, NULL) == -1 && errno == EINTR)
            recueillir(WNOHANG); // and the second starts again
    }
    if (fils > 0)
        kill(fils, SIGTERM);
    recueillir(0);
    printf("total : %d\n", n);
    return 0;
}
