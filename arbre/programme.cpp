#include "programme.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace arbre {
namespace {

// splitmix64: a small generator whose sequence is fixed by its seed alone, so
// that a seed read out in class gives the same program on every machine.
class Hasard {
public:
    explicit Hasard(std::uint64_t graine) : etat_(graine) {}
    std::uint64_t suivant()
    {
        std::uint64_t z = (etat_ += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    int entre(int a, int b) { return a + static_cast<int>(suivant() % (b - a + 1)); }
    bool sur_cent(int chances) { return entre(1, 100) <= chances; }

private:
    std::uint64_t etat_;
};

Expression fourche(Expression::Test test = Expression::valeur)
{
    Expression e;
    e.test = test;
    return e;
}

Expression joindre(Expression::Sorte sorte, Expression a, Expression b)
{
    Expression e;
    e.sorte = sorte;
    e.termes = {std::move(a), std::move(b)};
    return e;
}

Instruction enoncer(Expression e)
{
    Instruction i;
    i.expr = std::move(e);
    return i;
}

Instruction si(Expression condition, std::vector<Instruction> alors,
               std::vector<Instruction> sinon = {})
{
    Instruction i;
    i.sorte = Instruction::si;
    i.expr = std::move(condition);
    i.alors = std::move(alors);
    i.sinon = std::move(sinon);
    return i;
}

// Two or three forks joined by && and ||.
Expression logique(Hasard &h)
{
    auto op = [&] { return h.sur_cent(50) ? Expression::et : Expression::ou; };
    Expression e = joindre(op(), fourche(), fourche());
    if (h.sur_cent(35)) {
        if (h.sur_cent(50))
            e = joindre(op(), std::move(e), fourche());
        else
            e = joindre(op(), fourche(), std::move(e));
    }
    return e;
}

Expression condition(Hasard &h, int niveau)
{
    if (niveau >= 4 && h.sur_cent(25))
        return logique(h);
    static const Expression::Test tests[] = {Expression::nul, Expression::positif,
                                             Expression::non_nul, Expression::valeur};
    return fourche(tests[h.entre(0, niveau == 1 ? 1 : 3)]);
}

std::vector<Instruction> bloc(Hasard &h, int niveau, int profondeur, bool dans_boucle);

// What an instruction may be made to be: the feature a level is about.
enum Voulu { quelconque, si_riche, boucle, logique_voulue };

Instruction instruction(Hasard &h, int niveau, int profondeur, bool dans_boucle,
                        Voulu voulu = quelconque)
{
    // Weights of: fork();  if  for  && / ||
    int poids[4] = {30, 35, niveau >= 2 ? 30 : 10, niveau >= 4 ? 35 : 0};
    if (dans_boucle || profondeur >= 1)
        poids[2] = 0; // a loop only at the top, never in a loop
    if (profondeur >= 2)
        poids[1] = 0;
    int tirage = h.entre(1, poids[0] + poids[1] + poids[2] + poids[3]);
    int sorte = 0;
    while (tirage > poids[sorte])
        tirage -= poids[sorte++];
    if (voulu == si_riche)
        sorte = 1;
    else if (voulu == boucle)
        sorte = 2;
    else if (voulu == logique_voulue)
        sorte = h.sur_cent(60) ? 3 : 1;

    switch (sorte) {
    case 0:
        return enoncer(fourche());
    case 1: {
        Expression c = voulu == logique_voulue ? logique(h) : condition(h, niveau);
        auto alors = bloc(h, niveau, profondeur + 1, dans_boucle);
        std::vector<Instruction> sinon;
        bool imbrique = voulu == si_riche && h.sur_cent(40);
        if (imbrique)
            alors = {instruction(h, niveau, profondeur + 1, dans_boucle, si_riche)};
        else if ((niveau >= 3 && h.sur_cent(45)) || voulu == si_riche)
            sinon = bloc(h, niveau, profondeur + 1, dans_boucle);
        return si(std::move(c), std::move(alors), std::move(sinon));
    }
    case 2: {
        Instruction b;
        b.sorte = Instruction::boucle;
        b.tours = h.entre(2, niveau >= 5 ? 4 : 3);
        if (h.sur_cent(45)) {
            // The classic pair: a fan (the child leaves the loop) or a chain
            // (the parent leaves it), with maybe a fork before.
            Instruction sortir;
            sortir.sorte = Instruction::casser;
            if (niveau >= 3 && h.sur_cent(30))
                b.alors.push_back(enoncer(niveau >= 4 && h.sur_cent(50) ? logique(h) : fourche()));
            b.alors.push_back(si(condition(h, std::min(niveau, 3)), {sortir}));
        } else
            b.alors = bloc(h, niveau, profondeur + 1, true);
        return b;
    }
    default:
        return enoncer(logique(h));
    }
}

std::vector<Instruction> bloc(Hasard &h, int niveau, int profondeur, bool dans_boucle)
{
    std::vector<Instruction> b;
    int n = h.sur_cent(niveau >= 3 ? 30 : 15) ? 2 : 1;
    for (int k = 0; k < n; k++)
        b.push_back(instruction(h, niveau, profondeur, dans_boucle));
    return b;
}

// What a program of the level must show besides its size.
bool a(const std::vector<Instruction> &corps, Instruction::Sorte sorte)
{
    for (const auto &i : corps)
        if (i.sorte == sorte || a(i.alors, sorte) || a(i.sinon, sorte))
            return true;
    return false;
}

bool a_logique(const Expression &e) { return e.sorte != Expression::fourche; }

bool a_logique(const std::vector<Instruction> &corps)
{
    for (const auto &i : corps)
        if (a_logique(i.expr) || a_logique(i.alors) || a_logique(i.sinon))
            return true;
    return false;
}

bool a_sinon_ou_imbrique(const std::vector<Instruction> &corps, bool dans_si = false)
{
    for (const auto &i : corps)
        if ((i.sorte == Instruction::si && (!i.sinon.empty() || dans_si)) ||
            a_sinon_ou_imbrique(i.alors, i.sorte == Instruction::si) ||
            a_sinon_ou_imbrique(i.sinon, true))
            return true;
    return false;
}

bool convient(const std::vector<Instruction> &corps, int niveau)
{
    int n = compter(corps, bornes(niveau).max);
    if (n < bornes(niveau).min || n > bornes(niveau).max)
        return false;
    switch (niveau) {
    case 1:
        return true;
    case 2:
        return a(corps, Instruction::boucle);
    case 3:
        return a_sinon_ou_imbrique(corps);
    case 4:
        return a_logique(corps);
    default:
        return a_logique(corps) && a(corps, Instruction::boucle);
    }
}

// A program of the level: instructions added one at a time, each drawn again
// while it makes too many processes, and among them those the level is about.
std::vector<Instruction> corps_du_niveau(Hasard &h, int niveau)
{
    Bornes b = bornes(niveau);
    for (;;) {
        int n = h.entre(niveau <= 1 ? 1 : 2, niveau >= 5 ? 4 : 3);
        std::vector<Voulu> voulus(n, quelconque);
        Voulu propre[] = {quelconque, boucle, si_riche, logique_voulue, logique_voulue};
        voulus[h.entre(0, n - 1)] = propre[niveau - 1];
        if (niveau == 5)
            voulus[h.entre(0, n - 1)] = boucle; // and maybe no && or ||: drawn again below
        std::vector<Instruction> corps;
        for (Voulu v : voulus)
            for (int essai = 0; essai < 10; essai++) {
                corps.push_back(instruction(h, niveau, 0, false, v));
                if (compter(corps, b.max) <= b.max)
                    break;
                corps.pop_back();
            }
        if (convient(corps, niveau))
            return corps;
    }
}

// --- the meaning of the source: who forks, and who goes on ---------------------

// Thrown as soon as the count passes the limit it is asked for.
struct TropGrand {};

struct Suite {
    int proc;
    bool vrai; // the expression's value for that process; or: it left the loop
};

// The count, and beyond which counting stops.
struct Compte {
    int processus = 1, plafond;
};

std::vector<Suite> evaluer(Compte &compte, const Expression &e, int proc)
{
    if (e.sorte == Expression::fourche) {
        if (++compte.processus > compte.plafond)
            throw TropGrand{};
        // The parent gets a pid (> 0), the child 0.
        bool parent_vrai = e.test != Expression::nul;
        return {{proc, parent_vrai}, {compte.processus - 1, !parent_vrai}};
    }
    std::vector<Suite> fin;
    for (auto [p, v] : evaluer(compte, e.termes[0], proc)) {
        // && goes on where the left side is true, || where it is false.
        if (v == (e.sorte == Expression::et))
            for (auto suite : evaluer(compte, e.termes[1], p))
                fin.push_back(suite);
        else
            fin.push_back({p, v});
    }
    return fin;
}

std::vector<Suite> executer(Compte &compte, const std::vector<Instruction> &corps, int proc);

std::vector<Suite> executer(Compte &compte, const Instruction &i, int proc)
{
    std::vector<Suite> fin;
    switch (i.sorte) {
    case Instruction::expression:
        for (auto [p, v] : evaluer(compte, i.expr, proc))
            fin.push_back({p, false});
        break;
    case Instruction::casser:
        fin.push_back({proc, true});
        break;
    case Instruction::si:
        for (auto [p, v] : evaluer(compte, i.expr, proc))
            for (auto suite : executer(compte, v ? i.alors : i.sinon, p))
                fin.push_back(suite);
        break;
    case Instruction::boucle:
        fin.push_back({proc, false});
        for (int tour = 0; tour < i.tours; tour++) {
            std::vector<Suite> apres;
            for (auto [p, sorti] : fin)
                if (sorti)
                    apres.push_back({p, true});
                else
                    for (auto suite : executer(compte, i.alors, p))
                        apres.push_back(suite);
            fin = std::move(apres);
        }
        for (auto &suite : fin)
            suite.vrai = false;
        break;
    }
    return fin;
}

std::vector<Suite> executer(Compte &compte, const std::vector<Instruction> &corps, int proc)
{
    std::vector<Suite> en_cours = {{proc, false}};
    for (const auto &i : corps) {
        std::vector<Suite> apres;
        for (auto [p, sorti] : en_cours)
            if (sorti)
                apres.push_back({p, true});
            else
                for (auto suite : executer(compte, i, p))
                    apres.push_back(suite);
        en_cours = std::move(apres);
    }
    return en_cours;
}

// --- the C source --------------------------------------------------------------

std::string texte(const Expression &e, Expression::Sorte dans = Expression::fourche)
{
    if (e.sorte == Expression::fourche) {
        static const char *tests[] = {"", " == 0", " > 0", " != 0"};
        return std::string("fork()") + tests[e.test];
    }
    std::string t = texte(e.termes[0], e.sorte) + (e.sorte == Expression::et ? " && " : " || ") +
                    texte(e.termes[1], e.sorte);
    // a && b && c reads the same whichever way it is grouped, and && binds
    // tighter than ||, as C has it: only || within && needs parentheses.
    if (dans == Expression::et && e.sorte == Expression::ou)
        return "(" + t + ")";
    return t;
}

// Whether a branch goes without braces: one statement, and no if whose else
// a reader could take for the outer one's.
bool sans_accolades(const std::vector<Instruction> &b)
{
    if (b.size() != 1)
        return false;
    const auto &i = b[0];
    return i.sorte == Instruction::expression || i.sorte == Instruction::casser ||
           (i.sorte == Instruction::si && i.sinon.empty() && sans_accolades(i.alors));
}

void ecrire(std::string &s, const std::vector<Instruction> &b, int retrait);

void ecrire(std::string &s, const Instruction &i, int retrait)
{
    std::string marge(retrait, ' ');
    // A branch, after "if (...)", "else" or "for (...)"; true if it had braces.
    auto branche = [&](const std::vector<Instruction> &b, bool avant_else) {
        bool nues = sans_accolades(b) && !(avant_else && b[0].sorte == Instruction::si);
        if (nues) {
            s += "\n";
            ecrire(s, b, retrait + 4);
        } else {
            s += " {\n";
            ecrire(s, b, retrait + 4);
            s += marge + "}";
            if (!avant_else)
                s += "\n";
        }
        return !nues;
    };
    switch (i.sorte) {
    case Instruction::expression:
        s += marge + texte(i.expr) + ";\n";
        break;
    case Instruction::casser:
        s += marge + "break;\n";
        break;
    case Instruction::si:
        s += marge + "if (" + texte(i.expr) + ")";
        if (i.sinon.empty()) {
            branche(i.alors, false);
        } else {
            bool accolades = branche(i.alors, true);
            s += accolades ? " else" : marge + "else";
            branche(i.sinon, false);
        }
        break;
    case Instruction::boucle:
        s += marge + "for (int i = 0; i < " + std::to_string(i.tours) + "; i++)";
        branche(i.alors, false);
        break;
    }
}

void ecrire(std::string &s, const std::vector<Instruction> &b, int retrait)
{
    for (const auto &i : b)
        ecrire(s, i, retrait);
}

} // namespace

Bornes bornes(int niveau)
{
    static const Bornes b[] = {{2, 4}, {4, 8}, {4, 8}, {5, 8}, {9, 16}};
    if (niveau < niveau_min || niveau > niveau_max)
        throw std::out_of_range("niveau");
    return b[niveau - 1];
}

int compter(const std::vector<Instruction> &corps, int plafond)
{
    Compte c{1, plafond};
    try {
        executer(c, corps, 0);
    } catch (TropGrand) {
        return plafond + 1;
    }
    return c.processus;
}

Programme tirer(std::uint64_t graine, int niveau)
{
    // Small programs come out of the drawing far more often than others:
    // each seed picks instead among the distinct programs of the level, found
    // once by drawing many, so that every one of them is as likely.
    static std::vector<std::vector<std::vector<Instruction>>> catalogues(niveau_max + 1);
    bornes(niveau); // checks the level
    auto &catalogue = catalogues[niveau];
    if (catalogue.empty()) {
        std::set<std::string> vus;
        Hasard h(static_cast<std::uint64_t>(niveau));
        for (int tirage = 0; tirage < 400; tirage++) {
            auto corps = corps_du_niveau(h, niveau);
            std::string texte;
            ecrire(texte, corps, 0);
            if (vus.insert(texte).second)
                catalogue.push_back(std::move(corps));
        }
    }
    Hasard choix(graine);
    return {graine, niveau, catalogue[choix.suivant() % catalogue.size()]};
}

std::string source_c(const Programme &p)
{
    std::string s = "/* arbre --niveau " + std::to_string(p.niveau) + " --graine " +
                    std::to_string(p.graine) + " */\n#include <unistd.h>\n\nint main(void)\n{\n";
    ecrire(s, p.corps, 4);
    s += "\n"
         "    char c;\n"
         "    read(0, &c, 1); /* chaque processus attend ici qu'arbre ait lu l'arbre */\n"
         "    return 0;\n"
         "}\n";
    return s;
}

} // namespace arbre
