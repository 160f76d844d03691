// What verifier knows of an exercise: its name, the program it starts from,
// and its criteria, each one a sentence and the check that proves it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lancement.h"

namespace exercices {

using essai::Duree;
using namespace std::chrono_literals;

// What one check found: held, failed (with the evidence), or not checkable
// on this machine (with the reason).
struct Verdict {
    enum Sorte { tenu, echoue, impossible } sorte;
    std::string preuve;
};
inline Verdict tenu(std::string preuve = "") { return {Verdict::tenu, std::move(preuve)}; }
inline Verdict echoue(std::string preuve) { return {Verdict::echoue, std::move(preuve)}; }
inline Verdict impossible(std::string raison) { return {Verdict::impossible, std::move(raison)}; }

// What a check is given: the student's program, and the folder holding the
// suite's own programs (cupcounter, the walkers).
struct Contexte {
    std::string programme;
    std::string dossier_bin;
    pid_t verifier = -1; // the process that starts the program, and adopts its orphans
    // Shows how far a long check has gone (« exécution 7 sur 20 »), on one
    // line that the verdict then replaces; does nothing out of a terminal.
    std::function<void(const std::string &)> avancer = [](const std::string &) {};
};

struct Critere {
    std::string enonce;
    std::function<Verdict(const Contexte &)> verifier;
};

struct Exercice {
    std::string nom;
    std::string depart; // the suite's program the student starts from
    std::string but;
    std::vector<Critere> criteres;
};

// Every exercise, in the order of the course.
const std::vector<Exercice> &tous_les_exercices();

// --- what the checks share ------------------------------------------------

// One run of a program, bounded in time: code is empty if it was still
// running at the limit (it is then killed, with all it started).
struct Execution {
    std::optional<int> code;
    std::string sortie, erreur, terminal;
    pid_t pid = -1;
    double secondes = 0;
};
Execution executer_borne(const essai::Lancement &lancement, Duree limite = 3s);
// How it ended: « code 7 », or « toujours en cours après 3 s ».
std::string fin(const Execution &e);

// Bytes as a student can read them back: « pid : 12 \n ».
std::string montrer(std::string_view octets);
// A duration in seconds, with a decimal comma: « 0,31 s ».
std::string en_secondes(double secondes);
// The usual PATH with the suite's folder first.
std::string chemin_avec(const std::string &dossier);

} // namespace exercices
