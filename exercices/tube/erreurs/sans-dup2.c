// Fails: la sortie 1 de cupcounter et l'entrée 0 de head | cupcounter et head tournent ensemble
// The writer closes both ends without dup2: CMD1 writes on tube's own
// output, and CMD2 reads a pipe nobody writes into. head reads its end of
// file at once, and may be gone before it is ever seen running.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    int s = 1, p[2], st, code = 0;
    while (s < argc && strcmp(argv[s], "--") != 0)
        s++;
    if (s == 1 || s >= argc - 1) {
        fprintf(stderr, "usage : tube CMD1 [ARG...] -- CMD2 [ARG...]\n");
        return 2;
    }
    argv[s] = NULL;
    pipe(p);
    pid_t pids[2];
    for (int bout = 1; bout >= 0; bout--) // the writer, then the reader
        if ((pids[bout] = fork()) == 0) {
            char **cmd = bout == 1 ? argv + 1 : argv + s + 1;
            if (bout == 0) // only the reader's stdin is moved onto the pipe
                dup2(p[bout], bout);
            close(p[0]);
            close(p[1]);
            execvp(cmd[0], cmd);
            int e = errno;
            perror("Echec execvp ");
            _exit(e == ENOENT ? 127 : 126);
        }
    close(p[0]);
    close(p[1]);
    for (pid_t f; (f = wait(&st)) > 0;)
        if (f == pids[0])
            code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return code;
}
