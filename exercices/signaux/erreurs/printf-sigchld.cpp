// Fails: le fils qui finit juste après l'écriture d'une ligne
// A student's mistake: the SIGCHLD handler reaps and writes the report with printf, which is not
// async-signal-safe: ending just as a line's write returns, it finds that line still in stdio's buffer.
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <unistd.h>
#include <sys/wait.h>

static volatile sig_atomic_t arreter = 0;
static volatile sig_atomic_t fils_vivant = 0;
static pid_t fils;

static void afficher_fin(pid_t p, int st)
{
    if (WIFEXITED(st))
        printf("fils %d terminé, code %d\n", (int)p, WEXITSTATUS(st));
    else
        printf("fils %d tué par SIG%s\n", (int)p, sigabbrev_np(WTERMSIG(st)));
    fflush(stdout);
}

static void sur_sigchld(int)
{
    int st;
    pid_t p = waitpid(-1, &st, WNOHANG);
    if (p > 0) {
        fils_vivant = 0;
        afficher_fin(p, st);
    }
}

static void sur_stop(int) { arreter = 1; }

int main(int argc, char *argv[])
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sa.sa_handler = sur_stop;
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    sa.sa_handler = sur_sigchld;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, NULL);

    if (argc > 1) {
        fils_vivant = 1;
        fils = fork();
        if (fils == 0) {
            execvp(argv[1], argv + 1);
            perror("Echec execvp ");
            _exit(127);
        }
    }

    int n = 0;
    while (!arreter) {
        printf("tasse %d\n", ++n);
        fflush(stdout);
        struct timespec t = {1, 0};
        while (!arreter && nanosleep(&t, &t) == -1 && errno == EINTR)
            ;
    }
    if (fils_vivant) {
        kill(fils, SIGTERM);
        while (fils_vivant)
            pause();          // the handler reports it
    }
    printf("total : %d\n", n);
    fflush(stdout);
    return 0;
}
