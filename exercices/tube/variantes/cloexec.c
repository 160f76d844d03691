// tube with a close-on-exec pipe (pipe2, O_CLOEXEC): the children close
// nothing themselves, exec drops both ends and keeps only the dup2 copy.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
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
    pipe2(p, O_CLOEXEC);
    pid_t pids[2];
    for (int bout = 1; bout >= 0; bout--) // the writer, then the reader
        if ((pids[bout] = fork()) == 0) {
            char **cmd = bout == 1 ? argv + 1 : argv + s + 1;
            dup2(p[bout], bout); // a copy made by dup2 is not close-on-exec
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
