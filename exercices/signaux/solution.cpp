// Solution of the exercise "signaux": count once a second until SIGINT or
// SIGTERM, reaping the child started from the command line as it ends.
//
// SIGINT, SIGTERM and SIGCHLD stay blocked except inside ppoll, which
// unblocks them only while it waits. A signal is therefore never handled in
// the middle of a printf (the line being written is always finished, and
// stdio never sees EINTR), nor lost between a test of its flag and the wait.
// The handlers only note what happened; everything else is done here, in
// order: reap and report the child, stop if asked, write the next line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t fin_demandee = 0;
volatile sig_atomic_t fils_fini = 0;

void noter_fin(int) { fin_demandee = 1; }
void noter_fils(int) { fils_fini = 1; }

double maintenant()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void rapporter(pid_t pid, int statut)
{
    if (WIFEXITED(statut))
        printf("fils %d terminé, code %d\n", pid, WEXITSTATUS(statut));
    else
        printf("fils %d tué par SIG%s\n", pid, sigabbrev_np(WTERMSIG(statut)));
    fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    sigset_t gardes, ordinaire;
    sigemptyset(&gardes);
    sigaddset(&gardes, SIGINT);
    sigaddset(&gardes, SIGTERM);
    sigaddset(&gardes, SIGCHLD);
    sigprocmask(SIG_BLOCK, &gardes, &ordinaire);

    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = noter_fin;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = noter_fils;
    sigaction(SIGCHLD, &action, nullptr);

    pid_t fils = -1;
    if (argc > 1) {
        fils = fork();
        if (fils == 0) {
            // exec resets the handlers, not the mask: the command gets the
            // signals as it would from a shell.
            sigprocmask(SIG_SETMASK, &ordinaire, nullptr);
            execvp(argv[1], argv + 1);
            perror("Echec execvp ");
            _exit(127);
        }
        if (fils < 0)
            perror("Echec fork ");
    }

    int tasses = 0;
    double prochaine = maintenant();
    for (;;) {
        if (fils_fini && fils > 0) {
            fils_fini = 0;
            int statut;
            if (waitpid(fils, &statut, WNOHANG) == fils) {
                rapporter(fils, statut);
                fils = -1;
            }
        }
        if (fin_demandee)
            break;
        double reste = prochaine - maintenant();
        if (reste <= 0) {
            printf("tasse %d\n", ++tasses);
            fflush(stdout);
            // A second from now: a line that was held up by a slow reader
            // is not followed by a hurried one.
            prochaine = maintenant() + 1;
            continue;
        }
        timespec attente;
        attente.tv_sec = static_cast<time_t>(reste);
        attente.tv_nsec = static_cast<long>((reste - static_cast<double>(attente.tv_sec)) * 1e9);
        ppoll(nullptr, 0, &attente, &ordinaire); // EINTR: a signal to look at
    }

    if (fils > 0) {
        kill(fils, SIGTERM);
        int statut;
        if (waitpid(fils, &statut, 0) == fils)
            rapporter(fils, statut);
    }
    printf("total : %d\n", tasses);
    return 0;
}
