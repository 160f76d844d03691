// Fails: SIGKILL au fils et SIGTERM arrivés ensemble
// One variable keeps the last signal received: SIGTERM and SIGCHLD waiting
// together are handled one after the other, and SIGCHLD overwrites SIGTERM.
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static volatile sig_atomic_t dernier = 0; // the last signal received
static void sur_signal(int sig) { dernier = sig; }
#define arret (dernier == SIGINT || dernier == SIGTERM)
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
    struct sigaction sa = {.sa_handler = sur_signal, .sa_flags = SA_RESTART};
    sigfillset(&sa.sa_mask); // one handler at a time
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
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
        for (int dixiemes = 0; dixiemes < 10 && !arret; dixiemes++) {
            usleep(100000);
            recueillir(WNOHANG);
        }
    }
    if (fils > 0)
        kill(fils, SIGTERM);
    recueillir(0);
    printf("total : %d\n", n);
    return 0;
}
