// Solution of the exercise "course": N walkers at once, reaped as they end.
//
// course N PAS starts N walkers (rightwalker for odd numbers, leftwalker for
// even ones), each PAS steps, all before waiting for any. It then waits for
// whichever ends first, again and again: a walker that ends is reaped at
// once, whatever the order in which they were started.
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "Usage : %s <nb_marcheurs> <nb_steps>\n", argv[0]);
        return 1;
    }
    int nb_marcheurs = atoi(argv[1]);
    pid_t pids[64];
    if (nb_marcheurs < 1 || nb_marcheurs > 64) {
        fprintf(stderr, "course : de 1 à 64 marcheurs\n");
        return 1;
    }

    for (int numero = 1; numero <= nb_marcheurs; numero++) {
        pid_t res = fork();
        if (res == -1)
            signaler_echec("Echec fork ");
        if (res == 0) {
            const char *marcheur = (numero % 2 == 1) ? "rightwalker" : "leftwalker";
            char texte_numero[16];
            snprintf(texte_numero, sizeof texte_numero, "%d", numero);
            execlp(marcheur, marcheur, texte_numero, argv[2], (char *)nullptr);
            signaler_echec("Echec execvp ");
        }
        pids[numero - 1] = res;
    }

    int tous_bons = 1;
    for (int fini = 0; fini < nb_marcheurs; fini++) {
        int statut;
        pid_t pid = wait(&statut); // whichever ends first
        int numero = 0;
        for (int k = 0; k < nb_marcheurs; k++)
            if (pids[k] == pid)
                numero = k + 1;
        int code = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
        if (code != 0)
            tous_bons = 0;
        printf("\nmarcheur %d (pid %d) terminé, code %d", numero, pid, code);
        fflush(stdout);
    }
    printf("\n");
    return tous_bons ? 0 : 1;
}
