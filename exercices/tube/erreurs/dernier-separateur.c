// Fails: seul le premier « -- » sépare
// A student's mistake: the command line is split at the last "--", so that
// « tube echo x -- grep -- x » runs « echo x -- grep » and « x ».
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

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
    for (int k = 1; k < argc; k++)
        if (strcmp(argv[k], "--") == 0)
            sep = k;
    if (sep <= 1 || sep == argc - 1) {
        fprintf(stderr, "usage : %s CMD1 [ARG...] -- CMD2 [ARG...]\n", argv[0]);
        return 2;
    }
    argv[sep] = NULL;
    int tube[2];
    pipe(tube);
    pid_t ecrivain = fork();
    if (ecrivain == 0)
        lancer(argv + 1, 1, 1, tube);
    pid_t lecteur = fork();
    if (lecteur == 0)
        lancer(argv + sep + 1, 0, 0, tube);
    close(tube[0]);
    close(tube[1]);
    int code = 0, st;
    for (int k = 0; k < 2; k++) {
        pid_t p = wait(&st);
        if (p == lecteur)
            code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return code;
}
