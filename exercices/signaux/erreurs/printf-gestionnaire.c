// Fails: SIGINT juste après l'écriture d'une ligne
// The handler prints the report and the total itself, then calls exit: when
// it lands as stdio has written a line but not yet emptied its buffer, that
// line is written a second time.
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static pid_t fils = 0;
static int n = 0;

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

static void sur_arret(int sig) // does it all itself: the mistake
{
    (void)sig;
    if (fils > 0)
        kill(fils, SIGTERM);
    recueillir(0);
    printf("total : %d\n", n);
    exit(0);
}

int main(int argc, char **argv)
{
    struct sigaction sa = {.sa_handler = sur_arret, .sa_flags = SA_RESTART};
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    if (argc > 1 && (fils = fork()) == 0) {
        execvp(argv[1], argv + 1);
        perror("Echec execvp ");
        _exit(127);
    }
    for (;;) { // the handler ends it
        recueillir(WNOHANG);
        printf("tasse %d\n", ++n);
        fflush(stdout);
        for (int dixiemes = 0; dixiemes < 10; dixiemes++) {
            usleep(100000);
            recueillir(WNOHANG);
        }
    }
}
