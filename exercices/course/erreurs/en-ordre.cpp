// Fails: chaque marcheur est recueilli dès qu'il finit
// A launcher for the exercise "course" that makes the classic mistake: it
// waits for its walkers in the order it started them, so a walker that ends
// early stays a zombie until those started before it have ended.
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 1;
    int n = atoi(argv[1]);
    pid_t pids[64];
    for (int numero = 1; numero <= n && numero <= 64; numero++) {
        pids[numero - 1] = fork();
        if (pids[numero - 1] == 0) {
            const char *marcheur = numero % 2 ? "rightwalker" : "leftwalker";
            char texte[16];
            snprintf(texte, sizeof texte, "%d", numero);
            execlp(marcheur, marcheur, texte, argv[2], (char *)NULL);
            _exit(127);
        }
    }
    for (int numero = 1; numero <= n && numero <= 64; numero++) {
        int statut;
        waitpid(pids[numero - 1], &statut, 0);
        printf("\nmarcheur %d (pid %d) terminé, code %d", numero, pids[numero - 1],
               WEXITSTATUS(statut));
        fflush(stdout);
    }
    printf("\n");
    return 0;
}
