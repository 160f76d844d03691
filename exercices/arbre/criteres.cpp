// arbre: the student predicts the tree of a program of forks, in a text file;
// the program of the statement then runs for real and its tree is read from
// /proc, with arbre's own library.
#include "exercice.h"

#include <fstream>
#include <map>

#include "execution.h"
#include "forme.h"
#include "programme.h"

namespace exercices {

namespace {

// The statement's program; a prediction may name another (graine, niveau).
constexpr unsigned long long graine_enonce = 16;
constexpr int niveau_enonce = 4;
constexpr std::size_t taille_max = 64 * 1024;

// One prediction, and the real tree of the program it is for.
struct Observation {
    std::string illisible; // why the file does not read as a prediction
    arbre::Prediction prediction;
    std::string programme;  // « graine 16, niveau 4 »
    std::string impossible; // why the program could not run
    arbre::Noeud reel;
    std::size_t nombre = 0;
};

const Observation &observer(const Contexte &c)
{
    static std::map<std::string, Observation> vues;
    if (auto v = vues.find(c.programme); v != vues.end())
        return v->second;
    Observation o;
    std::ifstream f(c.programme, std::ios::binary);
    std::string texte(taille_max + 1, '\0');
    f.read(texte.data(), static_cast<std::streamsize>(texte.size()));
    texte.resize(static_cast<std::size_t>(f.gcount()));
    std::optional<arbre::Prediction> p;
    if (texte.size() > taille_max) {
        o.illisible = "plus de 64 Kio : ce n'est pas une prédiction";
    } else {
        p = arbre::lire_prediction(texte, o.illisible);
        if (p && !p->nombre)
            o.illisible = "il manque la ligne « processus N »";
        else if (p && !p->arbre)
            o.illisible = "il manque l'arbre, comme P(A(C) B)";
    }
    if (!o.illisible.empty())
        return vues[c.programme] = o;

    o.prediction = *p;
    // A lab's graded tree is the teacher's, whatever the prediction names.
    unsigned long long graine = c.graine.value_or(p->graine.value_or(graine_enonce));
    int niveau = c.niveau.value_or(p->niveau.value_or(niveau_enonce));
    o.programme = "graine " + std::to_string(graine) + ", niveau " + std::to_string(niveau);
    try {
        arbre::Compilation compile(arbre::source_c(arbre::tirer(graine, niveau)),
                                   "arbre-" + std::to_string(graine));
        arbre::Tenue tenue(compile.programme());
        o.reel = tenue.arbre();
        o.nombre = tenue.nombre();
    } catch (const arbre::Echec &e) {
        o.impossible = e.what();
    }
    return vues[c.programme] = o;
}

// What verifier prints, with French typography (non-breaking spaces).
Verdict tenu_fr(const std::string &preuve = "") { return tenu(arbre::typographie(preuve)); }
Verdict echoue_fr(const std::string &preuve) { return echoue(arbre::typographie(preuve)); }

// The verdict when the prediction or the program is not there to compare.
std::optional<Verdict> sans_comparaison(const Observation &o)
{
    if (!o.illisible.empty())
        return echoue_fr("la prédiction ne se lit pas");
    if (!o.impossible.empty())
        return impossible(arbre::typographie(o.impossible));
    return std::nullopt;
}

} // namespace

Exercice exercice_arbre()
{
    return {"arbre", "arbre", "prédire l'arbre des processus d'un programme de fork", {
        {arbre::typographie("la prédiction se lit : « processus N » puis l'arbre"),
         [](const Contexte &c) {
             const Observation &o = observer(c);
             if (!o.illisible.empty())
                 return echoue_fr(o.illisible);
             return tenu_fr(o.programme);
         }},
        {"le nombre de processus est celui que montre /proc", [](const Contexte &c) {
             const Observation &o = observer(c);
             if (auto v = sans_comparaison(o))
                 return *v;
             if (static_cast<std::size_t>(*o.prediction.nombre) != o.nombre)
                 return echoue_fr("vous en prévoyez " + nombre(*o.prediction.nombre) +
                               ", /proc en montre " + nombre(static_cast<long>(o.nombre)));
             return tenu_fr(nombre(static_cast<long>(o.nombre)) + " processus");
         }},
        {"l'arbre a la forme de celui que montre /proc (frères dans tout ordre)",
         [](const Contexte &c) {
             const Observation &o = observer(c);
             if (auto v = sans_comparaison(o))
                 return *v;
             auto ecarts = arbre::comparer(*o.prediction.arbre, o.reel);
             if (ecarts.resumes.empty())
                 return tenu_fr();
             std::string preuve = ecarts.resumes.front();
             if (auto autres = static_cast<long>(ecarts.resumes.size()) - 1; autres > 0)
                 preuve += " ; " + nombre(autres) + (autres > 1 ? " autres écarts" : " autre écart");
             return echoue_fr(preuve);
         }},
    }, true};
}

} // namespace exercices
