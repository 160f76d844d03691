// The programs of forks that arbre shows: drawn from a seed at a level, like
// an exam question, and written out as the C source that really runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arbre {

// An expression of forks: fork() alone, or two joined by && or ||. In the
// condition of an if, fork()'s result may be compared (== 0, > 0, != 0).
struct Expression {
    enum Sorte { fourche, et, ou } sorte = fourche;
    enum Test { valeur, nul, positif, non_nul } test = valeur; // fourche only
    std::vector<Expression> termes; // two, for et and ou
};

struct Instruction {
    enum Sorte { expression, si, boucle, casser } sorte = expression;
    Expression expr;                 // the statement, or the condition of si
    std::vector<Instruction> alors;  // si's branch, or boucle's body
    std::vector<Instruction> sinon;  // si only
    int tours = 0;                   // boucle only
};

// The levels: how many processes a program of each makes, at least and at most.
constexpr int niveau_min = 1, niveau_max = 5;
struct Bornes {
    int min, max;
};
Bornes bornes(int niveau);

struct Programme {
    std::uint64_t graine = 0;
    int niveau = 0;
    std::vector<Instruction> corps;
};

// The program of this seed at this level: always the same one, on every
// machine (the drawing does not depend on the standard library).
Programme tirer(std::uint64_t graine, int niveau);

// The C source of the program. Every process, once its forks are done, blocks
// reading its standard input: arbre holds the other end, so that the whole
// tree stays alive until arbre has read it, and ends when arbre closes it.
std::string source_c(const Programme &p);

// How many processes the program makes, the first one included, worked out
// from the source's meaning. It only serves to draw programs of the right
// size: the tree arbre shows is always read from /proc. Past plafond, it
// stops counting and says plafond + 1.
int compter(const std::vector<Instruction> &corps, int plafond = 64);

} // namespace arbre
