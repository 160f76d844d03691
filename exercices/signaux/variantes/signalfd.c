// signaux with no handler at all: SIGINT, SIGTERM and SIGCHLD stay blocked
// and are read from a signalfd, polled with what is left of the second.
#define _GNU_SOURCE
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static pid_t fils = 0;

static void recueillir(int options)
{
    int st;
    if (fils > 0 && waitpid(fils, &st, options) == fils) {
        if (WIFEXITED(st))
            printf("fils %d terminé, code %d\n", fils, WEXITSTATUS(st));
        else
            printf("fils %d tué par SIG%s\n", fils, sigabbrev_np(WTERMSIG(st)));
        fflush(stdout);
        fils = 0;
    }
}

static long long ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

int main(int argc, char *argv[])
{
    sigset_t s, avant;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGCHLD);
    sigprocmask(SIG_BLOCK, &s, &avant);
    int sfd = signalfd(-1, &s, SFD_CLOEXEC);
    if (argc > 1 && (fils = fork()) == 0) {
        sigprocmask(SIG_SETMASK, &avant, NULL); // the mask outlives exec
        execvp(argv[1], &argv[1]);
        perror("Echec execvp ");
        _exit(127);
    }
    int n = 0, fin = 0;
    while (!fin) {
        printf("tasse %d\n", ++n);
        fflush(stdout);
        long long reste, echeance = ms() + 1000;
        while (!fin && (reste = echeance - ms()) > 0) {
            struct pollfd p = {.fd = sfd, .events = POLLIN};
            struct signalfd_siginfo si;
            if (poll(&p, 1, (int)reste) > 0 && read(sfd, &si, sizeof si) == sizeof si)
                fin = si.ssi_signo != SIGCHLD;
            recueillir(WNOHANG);
        }
    }
    if (fils > 0)
        kill(fils, SIGTERM);
    recueillir(0);
    printf("total : %d\n", n);
    return 0;
}
