// arbre: the student predicts the tree of a program of forks, in a text file;
// the program of the statement then runs for real and its tree is read from
// /proc, with arbre's own library.
#include "exercice.h"

#include <functional>
#include <set>

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

Observation observer_une_fois(const Contexte &c)
{
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
        return o;

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
    return o;
}

const Observation &observer(const Contexte &c)
{
    return c.memoire->une_fois<Observation>("prédiction", [&] { return observer_une_fois(c); });
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

// The one process of the prediction (with its descendants) that, moved under
// another of its processes, gives the real tree: « votre C (enfant de votre
// P) est mal placé : dans /proc, il est l'enfant de votre A ». Empty when no
// single move does.
std::string mal_place(const arbre::Noeud &prevu, const arbre::Noeud &reel)
{
    // Every node by its path of child indexes from the root.
    std::vector<std::vector<std::size_t>> chemins;
    std::function<void(const arbre::Noeud &, std::vector<std::size_t> &)> parcourir =
        [&](const arbre::Noeud &n, std::vector<std::size_t> &ici) {
            chemins.push_back(ici);
            for (std::size_t k = 0; k < n.enfants.size(); k++) {
                ici.push_back(k);
                parcourir(n.enfants[k], ici);
                ici.pop_back();
            }
        };
    std::vector<std::size_t> racine;
    parcourir(prevu, racine);
    auto noeud = [](arbre::Noeud &n, const std::vector<std::size_t> &chemin) -> arbre::Noeud & {
        arbre::Noeud *x = &n;
        for (auto k : chemin)
            x = &x->enfants[k];
        return *x;
    };
    // The smallest move first: a shape where moving C under A works may also
    // work by moving A's whole subtree, which is not what the student did.
    std::stable_sort(chemins.begin(), chemins.end(), [&](const auto &a, const auto &b) {
        arbre::Noeud copie = prevu;
        return arbre::taille(noeud(copie, a)) < arbre::taille(noeud(copie, b));
    });
    for (const auto &depuis : chemins) {
        if (depuis.empty())
            continue;
        std::vector<std::size_t> parent(depuis.begin(), depuis.end() - 1);
        for (const auto &vers : chemins) {
            bool dedans = vers.size() >= depuis.size() &&
                          std::equal(depuis.begin(), depuis.end(), vers.begin());
            if (dedans || vers == parent)
                continue;
            arbre::Noeud essai = prevu;
            const std::string nom_parent = noeud(essai, parent).nom;
            const std::string nom_vers = noeud(essai, vers).nom;
            arbre::Noeud deplace = noeud(essai, depuis);
            auto &freres = noeud(essai, parent).enfants;
            freres.erase(freres.begin() + static_cast<std::ptrdiff_t>(depuis.back()));
            // Removing a node moves the paths after it: find the target again.
            std::function<arbre::Noeud *(arbre::Noeud &)> chercher =
                [&](arbre::Noeud &n) -> arbre::Noeud * {
                if (n.nom == nom_vers)
                    return &n;
                for (auto &e : n.enfants)
                    if (auto t = chercher(e))
                        return t;
                return nullptr;
            };
            auto cible = chercher(essai);
            if (!cible)
                continue;
            cible->enfants.push_back(deplace);
            if (arbre::comparer(essai, reel).resumes.empty())
                return "votre " + deplace.nom + " (enfant de votre " + nom_parent +
                       ") est mal placé : dans /proc, son processus est l'enfant de celui de "
                       "votre " + nom_vers;
        }
    }
    return "";
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
             // Names are the student's: one misplaced process is named as such
             // (when the names are not unique, the move is not looked for).
             std::set<std::string> noms;
             std::function<bool(const arbre::Noeud &)> uniques = [&](const arbre::Noeud &n) {
                 if (!noms.insert(n.nom).second)
                     return false;
                 for (const auto &e : n.enfants)
                     if (!uniques(e))
                         return false;
                 return true;
             };
             if (uniques(*o.prediction.arbre))
                 if (auto faute = mal_place(*o.prediction.arbre, o.reel); !faute.empty())
                     return echoue_fr(faute);
             std::string preuve = ecarts.resumes.front();
             if (auto autres = static_cast<long>(ecarts.resumes.size()) - 1; autres > 0)
                 preuve += " ; " + nombre(autres) + (autres > 1 ? " autres écarts" : " autre écart");
             return echoue_fr(preuve);
         }},
    }, true};
}

} // namespace exercices
