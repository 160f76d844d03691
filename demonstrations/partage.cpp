// partage: after fork, parent and child share their memory until one of them
// writes to it; then only the pages written are copied, one by one.
//
// The parent writes a buffer of 64 MiB, then forks. fork copies no page: it
// marks them read-only in both processes, which then share them. The child
// waits for a line on its input, writes one byte into each page of the first
// half of the buffer, and waits for another line. Each first write into a
// shared page faults: the kernel then gives the child a copy of that page of
// its own (copy on write).
//
// Watch it:   $ partage
//             le père, pid 4242, a écrit 64 Mio, soit 16384 pages de 4 Kio
//             le fils, pid 4243, partage ces 64 Mio avec son père
// and, from another terminal, for each of the two pids:
//             $ grep -E '^(Rss|Pss|Shared|Private)' /proc/4243/smaps_rollup
//             $ cut -d' ' -f10 /proc/4243/stat      (minor page faults)
// The child's 64 MiB are shared (Shared_Dirty), and its Pss is half of its
// Rss. Press Enter: the child writes half the buffer, 8192 pages. Its
// Private_Dirty grows by 32 MiB, its minor faults by about 8192; the
// parent's 32 MiB the child copied are now private to the parent too. Enter
// again: the child ends, then the parent.
#include <cstdio>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "signaler_echec.h"

// Waits for a line on standard input (or its end). One byte at a time, with
// read: a buffered read could take the next line too.
static void attendre_ligne()
{
    char c;
    while (read(0, &c, 1) == 1 && c != '\n') {
    }
}

int main()
{
    const long mio = 64;
    const long taille = mio * 1024 * 1024;
    const long page = sysconf(_SC_PAGESIZE);

    // MAP_PRIVATE: a write after fork copies the page. (With MAP_SHARED the
    // two processes would go on sharing it, writes and all.)
    char *tampon = static_cast<char *>(mmap(nullptr, taille, PROT_READ | PROT_WRITE,
                                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (tampon == MAP_FAILED)
        signaler_echec("Echec mmap ");
    // Ordinary pages only: where the system gives huge pages (2 MiB) by
    // default, one fault would bring in 512 pages at once. A kernel without
    // huge pages refuses the advice, which changes nothing.
    madvise(tampon, taille, MADV_NOHUGEPAGE);

    for (long i = 0; i < taille; i += page)
        tampon[i] = 1;
    printf("le père, pid %d, a écrit %ld Mio, soit %ld pages de %ld Kio\n",
           getpid(), mio, taille / page, page / 1024);
    // Through a pipe stdout is block-buffered: each line goes out at once,
    // and none is left in the buffer for the child to inherit at fork.
    fflush(stdout);

    pid_t res_f = fork();
    if (res_f == -1)
        signaler_echec("Echec fork ");

    if (res_f == 0) {
        printf("le fils, pid %d, partage ces %ld Mio avec son père\n",
               getpid(), mio);
        fflush(stdout);
        attendre_ligne();
        for (long i = 0; i < taille / 2; i += page)
            tampon[i] = 2;
        printf("le fils a écrit %ld pages, la moitié du tampon\n",
               taille / 2 / page);
        fflush(stdout);
        attendre_ligne();
        return 0;
    }

    if (waitpid(res_f, nullptr, 0) == -1)
        signaler_echec("Echec waitpid ");
    printf("le père a recueilli son fils %d\n", res_f);
    return 0;
}
