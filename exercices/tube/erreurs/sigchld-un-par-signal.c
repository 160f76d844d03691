// Fails: deux fils finis ensemble
// A student's mistake: a SIGCHLD handler that reaps one child per signal.
// Two ends that come together make one signal: one child stays a zombie and
// tube waits for it for ever.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static volatile sig_atomic_t restants = 2, code = 0;
static pid_t lecteur = -1;

static void sur_fils(int sig)
{
    (void)sig;
    int st;
    pid_t p = waitpid(-1, &st, WNOHANG);
    if (p > 0) {
        restants--;
        if (p == lecteur)
            code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
}

static void lancer(char **commande, int bout, int flux, int tube[2])
{
    dup2(tube[bout], flux);
    close(tube[0]);
    close(tube[1]);
    execvp(commande[0], commande);
    int erreur = errno;
    perror("Echec execvp ");
    _exit(erreur == ENOENT ? 127 : 126);
}

int main(int argc, char **argv)
{
    int sep = 0;
    for (int k = 1; k < argc && sep == 0; k++)
        if (strcmp(argv[k], "--") == 0)
            sep = k;
    if (sep <= 1 || sep == argc - 1) {
        fprintf(stderr, "usage : %s CMD1 [ARG...] -- CMD2 [ARG...]\n", argv[0]);
        return 2;
    }
    argv[sep] = NULL;
    sigset_t bloque, ancien;
    sigemptyset(&bloque);
    sigaddset(&bloque, SIGCHLD);
    sigprocmask(SIG_BLOCK, &bloque, &ancien);
    struct sigaction sa = {.sa_handler = sur_fils, .sa_flags = SA_RESTART};
    sigaction(SIGCHLD, &sa, NULL);
    int tube[2];
    pipe(tube);
    if (fork() == 0)
        lancer(argv + 1, 1, 1, tube);
    lecteur = fork();
    if (lecteur == 0)
        lancer(argv + sep + 1, 0, 0, tube);
    close(tube[0]);
    close(tube[1]);
    while (restants > 0)
        sigsuspend(&ancien);
    return code;
}
