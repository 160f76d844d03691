// What the benchmarks share: timing one program run as a process of its own.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

// Wall time, in seconds, from the start of the program to its end, its
// stdout sent to /dev/null. A run that does not end with status 0 ends the
// benchmark: its time would mean nothing.
inline double duree_processus(const char *programme, char *argv[])
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto debut = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, programme, &actions, nullptr, argv, environ) != 0) {
        perror("posix_spawn");
        exit(1);
    }
    int statut;
    waitpid(pid, &statut, 0);
    std::chrono::duration<double> duree = std::chrono::steady_clock::now() - debut;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(statut) || WEXITSTATUS(statut) != 0) {
        fprintf(stderr, "%s failed\n", programme);
        exit(1);
    }
    return duree.count();
}
