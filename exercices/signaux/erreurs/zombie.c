// Fails: le fils fini est recueilli et rapporté
// The child is reaped only once counting ends: until then it stays a zombie,
// and its report comes last.
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static volatile sig_atomic_t arret = 0;
static void sur_arret(int sig) { arret = sig; }

int main(int argc, char **argv)
{
    struct sigaction sa = {.sa_handler = sur_arret, .sa_flags = SA_RESTART};
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    pid_t fils = 0;
    if (argc > 1 && (fils = fork()) == 0) {
        execvp(argv[1], argv + 1);
        perror("Echec execvp ");
        _exit(127);
    }
    int n = 0, st;
    while (!arret) {
        printf("tasse %d\n", ++n);
        fflush(stdout);
        for (int dixiemes = 0; dixiemes < 10 && !arret; dixiemes++)
            usleep(100000);
    }
    if (fils > 0) {
        kill(fils, SIGTERM);
        waitpid(fils, &st, 0);
        if (WIFEXITED(st))
            printf("fils %d terminé, code %d\n", fils, WEXITSTATUS(st));
        else
            printf("fils %d tué par SIG%s\n", fils, sigabbrev_np(WTERMSIG(st)));
    }
    printf("total : %d\n", n);
    return 0;
}
