// Trees of processes as a student writes them, P(A(C) B), and as arbre
// draws them; how two of them differ; and the French of what arbre says.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "texte.h"

namespace arbre {

// One process and its children, in the order they were made. The name is the
// student's (P, A, ...) or, in the real tree, the pid.
struct Noeud {
    std::string nom;
    std::vector<Noeud> enfants;
};

std::size_t taille(const Noeud &n); // the process and all its descendants

// The written form: a name, then its children in parentheses, separated by
// blanks or commas: P(A(C) B). Nothing on error, with the reason in erreur.
std::optional<Noeud> lire_arbre(const std::string &texte, std::string &erreur);
// The same form, written back (the real tree with its pids, for instance).
std::string ecrire_arbre(const Noeud &n);

// A prediction as a file holds it:
//     graine 2026        (optional: the program it is for)
//     niveau 3           (optional)
//     processus 7
//     P(A(C) B(D) E)     (the tree, on one line or several)
// '#' or '//' starts a comment that runs to the end of the line.
struct Prediction {
    std::optional<unsigned long long> graine;
    std::optional<int> niveau;
    std::optional<int> nombre;
    std::optional<Noeud> arbre;
};
std::optional<Prediction> lire_prediction(const std::string &texte, std::string &erreur);

// What differs between the predicted tree and the real one, in French, one
// sentence each (and the same, shorter, without the pids), and the nodes of
// each tree that have no counterpart. Empty when the two have the same shape
// (children in any order).
struct Ecarts {
    std::vector<std::string> phrases, resumes;
    std::set<const Noeud *> prevus_en_trop, reels_imprevus;
};
Ecarts comparer(const Noeud &prevu, const Noeud &reel);

// The tree drawn with ├── └── │, one line a process; the marked nodes end
// with marque.
std::vector<std::string> dessiner(const Noeud &n, const std::set<const Noeud *> &marques = {},
                                  const std::string &marque = "");

// Two columns of at most 39 columns each, side by side.
std::string cote_a_cote(const std::vector<std::string> &gauche,
                        const std::vector<std::string> &droite);

// What arbre says is French text, laid out as every tool's.
using texte::colonnes;
using texte::typographie;

} // namespace arbre
