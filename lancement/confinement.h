// Confining a program one did not write (a student's): it touches nothing of
// the user's who runs it. Asked for by Lancement::confinement, applied in the
// started process just before exec, and so to everything it starts.
//
// What it holds, and by which of the kernel's unprivileged mechanisms:
// - files: it may read and run the system's folders (/usr, /etc, /proc...)
//   and the ones named in lisibles, write only its own folder (dossier);
//   Landlock (Linux 5.13); before its version 3 (6.2), which bounds truncate(2),
//   seccomp refuses truncate(2); seccomp refuses TIOCSTI and TIOCSPGRP on
//   any terminal;
// - signals and tracing: only its own descendants and itself. Tracing:
//   Landlock (5.13). Signals: Landlock's scoping (6.12); where the kernel's
//   Landlock lacks it (Debian 12's 6.1), seccomp's listener sends every call
//   that signals another process to a thread of the caller's, which checks
//   the target in /proc (signaux.cpp, 5.5); pidfd_send_signal, F_SETOWN_EX
//   and FIOSETOWN are refused there;
// - no network, loopback included: a network namespace of its own, in a user
//   namespace of its own (mapped to the same user, so the program sees
//   nothing change), and seccomp refuses it local (AF_UNIX) sockets other
//   than socketpair's, and io_uring, which would go round seccomp; with them,
//   an IPC namespace: the user's System V IPC and message queues are not
//   reachable;
// - a clean environment: the caller's PATH and LANG, HOME and TMPDIR pointing
//   to dossier, which is also its working folder; nothing else of the
//   caller's (the launch's own changes apply on top);
// - no new privileges (no set-user-ID program makes it someone else).
// It comes on top of the bounds of a restreint program (which a confined one
// always is), and, run by root, of running as nobody.
#pragma once

#include <string>
#include <vector>

namespace lancement {

struct Confinement {
    std::string dossier;               // the only folder it may write
    std::vector<std::string> lisibles; // folders or files it may also read and run
};

// The promises this kernel lets the library keep, found once by trying the
// mechanisms in a child (whatever forbids them: an old kernel, a sysctl, a
// seccomp filter around the caller).
struct Promesses {
    bool fichiers = false;
    bool signaux = false;
    bool reseau = false;
    bool toutes() const { return fichiers && signaux && reseau; }
};
Promesses promesses_du_confinement();

// What a confined program could still do on this kernel, in French, as the
// end of a sentence whose subject is the program (« lire et écrire les
// fichiers de l'utilisateur (...), se servir du réseau (...) »); empty when
// every promise holds.
std::string risques_du_confinement();

} // namespace lancement
