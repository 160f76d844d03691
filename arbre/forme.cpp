#include "forme.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>

namespace arbre {
namespace {

// Bounds on what a student may type: deep enough for any drawn program, small
// enough that no input can exhaust the stack.
constexpr std::size_t profondeur_max = 64, noeuds_max = 256, nom_max = 12;

bool separateur(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ','; }

class Lecteur {
public:
    explicit Lecteur(const std::string &t) : t_(t) {}

    std::optional<Noeud> tout(std::string &erreur)
    {
        auto racine = noeud(0);
        sauter();
        if (racine && i_ < t_.size())
            erreur_ = "après l'arbre de " + racine->nom + ", « " + t_.substr(i_, 20) +
                      " » est de trop : un seul processus est à la racine";
        if (!erreur_.empty()) {
            erreur = erreur_;
            return std::nullopt;
        }
        return racine;
    }

private:
    void sauter()
    {
        while (i_ < t_.size() && separateur(t_[i_]))
            i_++;
    }

    std::optional<Noeud> noeud(std::size_t profondeur)
    {
        if (++noeuds_ > noeuds_max || profondeur > profondeur_max) {
            erreur_ = "arbre trop grand (au plus " + std::to_string(noeuds_max) +
                      " processus, " + std::to_string(profondeur_max) + " niveaux)";
            return std::nullopt;
        }
        sauter();
        Noeud n;
        while (i_ < t_.size() && !separateur(t_[i_]) && t_[i_] != '(' && t_[i_] != ')')
            n.nom += t_[i_++];
        if (n.nom.empty()) {
            if (i_ == t_.size())
                erreur_ = profondeur == 0 ? "l'arbre est vide" : "il manque un nom à la fin";
            else if (t_[i_] == '(')
                erreur_ = "un nom est attendu avant « ( »";
            else
                erreur_ = "« ) » ferme une parenthèse qui n'est pas ouverte";
            return std::nullopt;
        }
        if (colonnes(n.nom) > nom_max) {
            erreur_ = "le nom « " + n.nom + " » est trop long (au plus " +
                      std::to_string(nom_max) + " caractères)";
            return std::nullopt;
        }
        sauter();
        if (i_ < t_.size() && t_[i_] == '(') {
            i_++;
            for (;;) {
                sauter();
                if (i_ == t_.size()) {
                    erreur_ = "il manque « ) » après les enfants de " + n.nom;
                    return std::nullopt;
                }
                if (t_[i_] == ')') {
                    i_++;
                    break;
                }
                auto enfant = noeud(profondeur + 1);
                if (!enfant)
                    return std::nullopt;
                n.enfants.push_back(std::move(*enfant));
            }
        }
        return n;
    }

    const std::string &t_;
    std::size_t i_ = 0, noeuds_ = 0;
    std::string erreur_;
};

// The shape alone, children in a fixed order: equal for trees that differ
// only by names and by the order of children.
std::string canon(const Noeud &n)
{
    std::vector<std::string> enfants;
    for (const auto &e : n.enfants)
        enfants.push_back(canon(e));
    std::sort(enfants.begin(), enfants.end());
    std::string s = "(";
    for (const auto &e : enfants)
        s += e;
    return s + ")";
}

std::string descendants(const Noeud &n)
{
    std::size_t d = taille(n) - 1;
    if (d == 0)
        return "";
    return d == 1 ? ", avec son descendant" : ", avec ses " + std::to_string(d) + " descendants";
}

// How the children of p and r best line up, in order: pairs of indexes,
// -1 on the side that has no counterpart. The cost of a pair is the distance
// between the two subtrees; a child alone costs its size. Among the best
// alignments, the one that pairs the first children first.
struct Alignement {
    std::size_t cout;
    std::vector<std::pair<int, int>> paires;
};

std::size_t distance(const Noeud &p, const Noeud &r);

Alignement aligner(const Noeud &p, const Noeud &r)
{
    // d[i][j]: the cost of lining up the children from i on with those from j on.
    std::size_t n = p.enfants.size(), m = r.enfants.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1, 0));
    std::vector<std::vector<std::size_t>> paire(n, std::vector<std::size_t>(m, 0));
    for (std::size_t i = n; i-- > 0;)
        d[i][m] = d[i + 1][m] + taille(p.enfants[i]);
    for (std::size_t j = m; j-- > 0;)
        d[n][j] = d[n][j + 1] + taille(r.enfants[j]);
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;) {
            paire[i][j] = d[i + 1][j + 1] + distance(p.enfants[i], r.enfants[j]);
            d[i][j] = std::min({paire[i][j], d[i + 1][j] + taille(p.enfants[i]),
                                d[i][j + 1] + taille(r.enfants[j])});
        }
    Alignement a{d[0][0], {}};
    for (std::size_t i = 0, j = 0; i < n || j < m;) {
        if (i < n && j < m && d[i][j] == paire[i][j])
            a.paires.push_back({static_cast<int>(i++), static_cast<int>(j++)});
        else if (i < n && d[i][j] == d[i + 1][j] + taille(p.enfants[i]))
            a.paires.push_back({static_cast<int>(i++), -1});
        else
            a.paires.push_back({-1, static_cast<int>(j++)});
    }
    return a;
}

// How many processes are on one side only, once the two trees best line up.
std::size_t distance(const Noeud &p, const Noeud &r)
{
    return canon(p) == canon(r) ? 0 : aligner(p, r).cout;
}

void comparer(const Noeud &prevu, const Noeud &reel, Ecarts &e)
{
    if (canon(prevu) == canon(reel))
        return;
    for (auto [i, j] : aligner(prevu, reel).paires) {
        if (i >= 0 && j >= 0) {
            comparer(prevu.enfants[i], reel.enfants[j], e);
        } else if (i >= 0) {
            const Noeud &p = prevu.enfants[i];
            e.prevus_en_trop.insert(&p);
            e.phrases.push_back("votre " + p.nom + ", enfant de votre " + prevu.nom +
                                " (le pid " + reel.nom + "), n'existe pas" + descendants(p));
            e.resumes.push_back("votre " + p.nom + " (enfant de votre " + prevu.nom +
                                ") n'existe pas");
        } else {
            const Noeud &r = reel.enfants[j];
            e.reels_imprevus.insert(&r);
            e.phrases.push_back("le pid " + r.nom + ", enfant du pid " + reel.nom + " (votre " +
                                prevu.nom + "), manque à votre arbre" + descendants(r));
            e.resumes.push_back("il manque un enfant à votre " + prevu.nom + descendants(r));
        }
    }
}

void dessiner(const Noeud &n, const std::string &prefixe, const std::set<const Noeud *> &marques,
              const std::string &marque, std::vector<std::string> &lignes)
{
    for (std::size_t k = 0; k < n.enfants.size(); k++) {
        bool dernier = k + 1 == n.enfants.size();
        const Noeud &e = n.enfants[k];
        lignes.push_back(prefixe + (dernier ? "└── " : "├── ") + e.nom +
                         (marques.count(&e) ? marque : ""));
        dessiner(e, prefixe + (dernier ? "    " : "│   "), marques, marque, lignes);
    }
}

bool nombre(const std::string &mot, unsigned long long &valeur)
{
    auto [fin, err] = std::from_chars(mot.data(), mot.data() + mot.size(), valeur);
    return err == std::errc() && fin == mot.data() + mot.size();
}

} // namespace

std::size_t taille(const Noeud &n)
{
    std::size_t t = 1;
    for (const auto &e : n.enfants)
        t += taille(e);
    return t;
}

std::optional<Noeud> lire_arbre(const std::string &texte, std::string &erreur)
{
    return Lecteur(texte).tout(erreur);
}

std::string ecrire_arbre(const Noeud &n)
{
    std::string s = n.nom;
    if (n.enfants.empty())
        return s;
    s += "(";
    for (std::size_t k = 0; k < n.enfants.size(); k++) {
        if (k)
            s += ' ';
        s += ecrire_arbre(n.enfants[k]);
    }
    return s + ")";
}

std::optional<Prediction> lire_prediction(const std::string &texte, std::string &erreur)
{
    Prediction p;
    std::string arbre;
    std::istringstream lignes(texte);
    int numero = 0;
    for (std::string ligne; std::getline(lignes, ligne);) {
        numero++;
        if (auto commentaire = std::min(ligne.find('#'), ligne.find("//"));
            commentaire != std::string::npos)
            ligne.erase(commentaire);
        std::istringstream mots(ligne);
        std::string cle, valeur, reste;
        mots >> cle >> valeur >> reste;
        unsigned long long n = 0;
        bool reglage = (cle == "graine" || cle == "niveau" || cle == "processus") &&
                       reste.empty() && nombre(valeur, n);
        if (!reglage) {
            arbre += ligne + "\n";
            continue;
        }
        std::string ou = "ligne " + std::to_string(numero) + " : ";
        if ((cle == "graine" && p.graine) || (cle == "niveau" && p.niveau) ||
            (cle == "processus" && p.nombre)) {
            erreur = ou + "« " + cle + " » est déjà donné";
            return std::nullopt;
        }
        if (cle == "graine")
            p.graine = n;
        else if (cle == "niveau" && n >= 1 && n <= 5)
            p.niveau = static_cast<int>(n);
        else if (cle == "processus" && n >= 1 && n <= noeuds_max)
            p.nombre = static_cast<int>(n);
        else {
            erreur = ou + "« " + cle + " " + valeur + " » : " +
                     (cle == "niveau" ? "le niveau va de 1 à 5"
                                      : "le nombre va de 1 à " + std::to_string(noeuds_max));
            return std::nullopt;
        }
    }
    if (arbre.find_first_not_of(" \t\r\n,") != std::string::npos) {
        std::string pourquoi;
        p.arbre = lire_arbre(arbre, pourquoi);
        if (!p.arbre) {
            erreur = "l'arbre ne se lit pas : " + pourquoi;
            return std::nullopt;
        }
    }
    if (!p.nombre && !p.arbre) {
        erreur = "ni « processus N » ni arbre";
        return std::nullopt;
    }
    return p;
}

Ecarts comparer(const Noeud &prevu, const Noeud &reel)
{
    Ecarts e;
    comparer(prevu, reel, e);
    return e;
}

std::vector<std::string> dessiner(const Noeud &n, const std::set<const Noeud *> &marques,
                                  const std::string &marque)
{
    std::vector<std::string> lignes = {n.nom + (marques.count(&n) ? marque : "")};
    dessiner(n, "", marques, marque, lignes);
    return lignes;
}

std::string cote_a_cote(const std::vector<std::string> &gauche,
                        const std::vector<std::string> &droite)
{
    std::string s;
    for (std::size_t k = 0; k < std::max(gauche.size(), droite.size()); k++) {
        std::string g = k < gauche.size() ? gauche[k] : "";
        std::string d = k < droite.size() ? droite[k] : "";
        s += d.empty() ? texte::couper(g, 39) : texte::colonne(g, 39);
        if (!d.empty()) {
            s += ' ';
            s += texte::couper(d, 40);
        }
        s += '\n';
    }
    return s;
}

} // namespace arbre
