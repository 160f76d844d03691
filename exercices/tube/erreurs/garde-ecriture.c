// Fails: tube ne tient plus le tube
// tube closes the pipe's read end but keeps its write end: cat never sees the
// end of its input, and tube waits for cat for ever.
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
            dup2(p[bout], bout); // p[1] on stdout, p[0] on stdin
            close(p[0]);
            close(p[1]);
            execvp(cmd[0], cmd);
            int e = errno;
            perror("Echec execvp ");
            _exit(e == ENOENT ? 127 : 126);
        }
    close(p[0]); // p[1] stays open
    for (pid_t f; (f = wait(&st)) > 0;)
        if (f == pids[0])
            code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return code;
}
