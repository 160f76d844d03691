// Solution of the exercise "tube": two commands joined by a pipe, as the
// shell's CMD1 | CMD2.
//
// tube CMD1 [ARG...] -- CMD2 [ARG...] makes one pipe and two children: the
// first writes into it on its stdout, the second reads it on its stdin. Every
// process closes the ends it does not use, so that the reader sees the end of
// the data once the writer has gone, and the writer dies of SIGPIPE once the
// reader has gone. Each child is reaped as soon as it ends, whichever ends
// first; tube ends with the second command's status, as the shell does.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In a child: stream becomes the pipe's end, both ends are closed, and the
// command runs. When it cannot, the code is the shell's: 127 when not found.
[[noreturn]] void executer(char *commande[], int bout, int flux, int tube[2])
{
    dup2(tube[bout], flux);
    close(tube[0]);
    close(tube[1]);
    execvp(commande[0], commande);
    int erreur = errno;
    perror("Echec execvp ");
    _exit(erreur == ENOENT ? 127 : 126);
}

} // namespace

int main(int argc, char *argv[])
{
    int separateur = 0;
    for (int k = 1; k < argc && separateur == 0; k++)
        if (strcmp(argv[k], "--") == 0)
            separateur = k;
    if (separateur <= 1 || separateur == argc - 1) {
        fprintf(stderr, "usage : %s CMD1 [ARG...] -- CMD2 [ARG...]\n", argv[0]);
        return 2;
    }
    argv[separateur] = nullptr; // the first command's argument list ends here
    char **ecrivain = argv + 1;
    char **lecteur = argv + separateur + 1;

    int tube[2];
    if (pipe(tube) != 0) {
        perror("Echec pipe ");
        return 2;
    }
    pid_t pid_ecrivain = fork();
    if (pid_ecrivain == 0)
        executer(ecrivain, 1, STDOUT_FILENO, tube);
    pid_t pid_lecteur = pid_ecrivain < 0 ? -1 : fork();
    if (pid_lecteur == 0)
        executer(lecteur, 0, STDIN_FILENO, tube);
    // The children hold the pipe now: tube keeps no end, or the reader would
    // never see the end of the data, nor the writer a pipe without readers.
    close(tube[0]);
    close(tube[1]);
    if (pid_lecteur < 0) {
        perror("Echec fork ");
        if (pid_ecrivain > 0)
            waitpid(pid_ecrivain, nullptr, 0); // with no reader, it ends soon
        return 2;
    }

    // Whichever ends first is reaped first.
    int code = 0;
    for (int restants = 2; restants > 0;) {
        int statut;
        pid_t pid = wait(&statut);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        restants--;
        if (pid == pid_lecteur)
            code = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
    }
    return code;
}
