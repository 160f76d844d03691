// Fails: une commande impossible ne lance rien d'autre
// A student's mistake: a child whose execvp failed keeps its code and goes on
// with the loop of main, so that it starts a second CMD2 of its own, which
// reads tube's input (« echo SECRET | tube nulle-part -- cat » prints SECRET).
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

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
    char **commandes[2] = {argv + 1, argv + sep + 1};
    int tube[2];
    pipe(tube);
    pid_t pids[2] = {-1, -1};
    int code_exec = 0;
    for (int i = 0; i < 2; i++) {
        pids[i] = fork();
        if (pids[i] == 0) {
            dup2(tube[i == 0 ? 1 : 0], i == 0 ? 1 : 0);
            close(tube[0]);
            close(tube[1]);
            execvp(commandes[i][0], commandes[i]);
            code_exec = errno == ENOENT ? 127 : 126;
            perror("Echec execvp "); // and no exit: the loop goes on
        }
    }
    close(tube[0]);
    close(tube[1]);
    int code = code_exec, st;
    for (int k = 0; k < 2; k++) {
        pid_t p = wait(&st);
        if (p > 0 && p == pids[1])
            code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return code;
}
