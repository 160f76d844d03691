// Passes: another sound technique: posix_spawnp with file actions; the parent writes the exec failure.
#include <stdio.h>
#include <string.h>
#include <errno.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

extern char **environ;

int main(int argc, char *argv[])
{
    int sep = 0;
    for (int i = 1; i < argc && !sep; i++)
        if (!strcmp(argv[i], "--"))
            sep = i;
    if (sep <= 1 || sep + 1 >= argc) {
        fprintf(stderr, "usage : tube CMD1 [ARG...] -- CMD2 [ARG...]\n");
        return 2;
    }
    argv[sep] = NULL;

    int tube[2];
    if (pipe(tube)) {
        perror("pipe");
        return 1;
    }

    posix_spawn_file_actions_t a1, a2;
    posix_spawn_file_actions_init(&a1);
    posix_spawn_file_actions_adddup2(&a1, tube[1], 1);
    posix_spawn_file_actions_addclose(&a1, tube[0]);
    posix_spawn_file_actions_addclose(&a1, tube[1]);
    posix_spawn_file_actions_init(&a2);
    posix_spawn_file_actions_adddup2(&a2, tube[0], 0);
    posix_spawn_file_actions_addclose(&a2, tube[0]);
    posix_spawn_file_actions_addclose(&a2, tube[1]);

    pid_t p1 = 0, p2 = 0;
    int code2 = 0;
    int e = posix_spawnp(&p1, argv[1], &a1, NULL, argv + 1, environ);
    if (e) {
        errno = e;
        perror("Echec execvp ");
        p1 = 0;
    }
    e = posix_spawnp(&p2, argv[sep + 1], &a2, NULL, argv + sep + 1, environ);
    if (e) {
        errno = e;
        perror("Echec execvp ");
        code2 = (e == ENOENT) ? 127 : 126;
        p2 = 0;
    }
    close(tube[0]);
    close(tube[1]);
    posix_spawn_file_actions_destroy(&a1);
    posix_spawn_file_actions_destroy(&a2);

    int n = (p1 > 0) + (p2 > 0);
    while (n > 0) {
        int st;
        pid_t p = wait(&st);
        if (p < 0)
            break;
        n--;
        if (p == p2)
            code2 = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
    }
    return code2;
}
