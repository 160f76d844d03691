#include "seance.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string_view>

#include <unistd.h>

#include "programme.h"
#include "texte.h"
#include "verification.h"

namespace fs = std::filesystem;

namespace exercices {
namespace {

const std::string insecable = "\u00a0";
constexpr std::size_t colonnes = 80;

// --- French text, local helpers ----------------------------------------------

std::string guillemets(const std::string &texte)
{
    return "«" + insecable + texte + insecable + "»";
}

// Columns of a UTF-8 text, cut with an ellipsis, padded: the suite's own.
std::size_t largeur(const std::string &t) { return texte::colonnes(t); }
using texte::colonne;
using texte::couper;

// A number with a decimal comma, to two places at most: « 13,5 », « 20 ».
std::string decimal(double x)
{
    char texte[32];
    std::snprintf(texte, sizeof texte, "%.2f", std::round(x * 100) / 100);
    std::string s = texte;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s.pop_back();
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::string pluriel(std::size_t n, const std::string &mot)
{
    return std::to_string(n) + " " + mot + (n > 1 ? "s" : "");
}

// A cell a spreadsheet reads back as it was written. One that would open as a
// formula (a folder named « =HYPERLINK(…) » is a student's to choose) starts
// with an apostrophe, which spreadsheets read as « text ».
std::string champ_csv(const std::string &brut)
{
    std::string texte = brut;
    if (!texte.empty() && std::string_view("=+-@\t\r").find(texte[0]) != std::string_view::npos)
        texte.insert(0, 1, '\'');
    if (texte.find_first_of(";\"\n") == std::string::npos)
        return texte;
    std::string champ = "\"";
    for (char c : texte)
        champ += c == '"' ? std::string("\"\"") : std::string(1, c);
    return champ + "\"";
}

// --- the class list's order --------------------------------------------------

// Lower case without accents, for the letters of French names.
std::string replier(const std::string &texte)
{
    static const std::pair<const char *, const char *> lettres[] = {
        {"à", "a"}, {"á", "a"}, {"â", "a"}, {"ä", "a"}, {"ã", "a"}, {"å", "a"}, {"æ", "ae"},
        {"ç", "c"}, {"è", "e"}, {"é", "e"}, {"ê", "e"}, {"ë", "e"}, {"ì", "i"}, {"í", "i"},
        {"î", "i"}, {"ï", "i"}, {"ñ", "n"}, {"ò", "o"}, {"ó", "o"}, {"ô", "o"}, {"ö", "o"},
        {"õ", "o"}, {"œ", "oe"}, {"ù", "u"}, {"ú", "u"}, {"û", "u"}, {"ü", "u"}, {"ý", "y"},
        {"ÿ", "y"}, {"À", "a"}, {"Á", "a"}, {"Â", "a"}, {"Ä", "a"}, {"Æ", "ae"}, {"Ç", "c"},
        {"È", "e"}, {"É", "e"}, {"Ê", "e"}, {"Ë", "e"}, {"Î", "i"}, {"Ï", "i"}, {"Ñ", "n"},
        {"Ô", "o"}, {"Ö", "o"}, {"Œ", "oe"}, {"Ù", "u"}, {"Û", "u"}, {"Ü", "u"}, {"Ÿ", "y"}};
    std::string replie;
    for (std::size_t k = 0; k < texte.size();) {
        bool vu = false;
        for (auto [lettre, base] : lettres) {
            std::string_view l = lettre;
            if (texte.compare(k, l.size(), l) == 0) {
                replie += base;
                k += l.size();
                vu = true;
                break;
            }
        }
        if (!vu)
            replie += static_cast<char>(std::tolower(static_cast<unsigned char>(texte[k++])));
    }
    return replie;
}

// a and b compared with their runs of digits as numbers: <0, 0 or >0.
int comparer_naturel(const std::string &a, const std::string &b)
{
    std::size_t i = 0, j = 0;
    auto chiffre = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (chiffre(a[i]) && chiffre(b[j])) {
            std::size_t fi = a.find_first_not_of("0123456789", i);
            std::size_t fj = b.find_first_not_of("0123456789", j);
            fi = fi == std::string::npos ? a.size() : fi;
            fj = fj == std::string::npos ? b.size() : fj;
            std::string x = a.substr(i, fi - i), y = b.substr(j, fj - j);
            x.erase(0, std::min(x.find_first_not_of('0'), x.size() - 1));
            y.erase(0, std::min(y.find_first_not_of('0'), y.size() - 1));
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (int c = x.compare(y))
                return c;
            i = fi, j = fj;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1
                                                                                             : 1;
            i++, j++;
        }
    }
    return (i < a.size()) - (j < b.size());
}

// --- the SEANCE file ---------------------------------------------------------

std::optional<double> poids_lu(std::string texte)
{
    std::replace(texte.begin(), texte.end(), ',', '.');
    char *fin = nullptr;
    errno = 0;
    double p = std::strtod(texte.c_str(), &fin);
    if (errno || fin == texte.c_str() || *fin || !(p > 0) || p > 1000)
        return std::nullopt;
    return p;
}

std::optional<long long> entier_lu(const std::string &texte)
{
    if (texte.empty() || texte.size() > 18 || texte.find_first_not_of("0123456789") != texte.npos)
        return std::nullopt;
    return std::stoll(texte);
}

// One line's exercise, or why the line does not read.
std::string lire_ligne(const std::vector<std::string> &mots, ExerciceDeSeance &e)
{
    e.exercice = trouver_exercice(mots[0]);
    if (!e.exercice)
        return "exercice inconnu " + guillemets(mots[0]) + " (verifier --list les nomme)";
    if (mots.size() < 3)
        return mots.size() == 1 ? "il manque le poids et le fichier (comme " + mots[0] +
                                      " 2 " + e.exercice->depart + ")"
                                : "il manque le nom du fichier après le poids";
    auto poids = poids_lu(mots[1]);
    if (!poids)
        return "le poids " + guillemets(mots[1]) + " n'est pas un nombre positif (2, 1,5…)";
    e.poids = *poids;
    e.fichier = mots[2];
    if (e.fichier.find('/') != std::string::npos)
        return "le fichier " + guillemets(e.fichier) + " est un nom, sans dossier";
    for (std::size_t k = 3; k < mots.size(); k++) {
        auto egal = mots[k].find('=');
        std::string cle = mots[k].substr(0, egal);
        auto valeur = egal == std::string::npos ? std::nullopt : entier_lu(mots[k].substr(egal + 1));
        if ((cle != "graine" && cle != "niveau") || !e.exercice->texte)
            return "de trop" + insecable + ": " + guillemets(mots[k]) +
                   " (seul arbre prend graine=N et niveau=N)";
        if (!valeur)
            return guillemets(mots[k]) + " veut un nombre";
        if (cle == "niveau" && (*valeur < arbre::niveau_min || *valeur > arbre::niveau_max))
            return guillemets(mots[k]) + insecable + ": le niveau va de " +
                   std::to_string(arbre::niveau_min) + " à " + std::to_string(arbre::niveau_max);
        if (cle == "graine")
            e.graine = static_cast<unsigned long long>(*valeur);
        else
            e.niveau = static_cast<int>(*valeur);
    }
    return "";
}

// --- the students' folders ---------------------------------------------------

bool meme_sorte(const Exercice &exercice, const fs::path &fichier)
{
    if (exercice.texte)
        return replier(fichier.extension().string()) == ".txt";
    return est_une_source(fichier);
}

// A platform's folder, « Prénom Nom_123456_assignsubmission_file_ »: name
// and number apart; any other name is the student's name.
void identifier(Eleve &eleve)
{
    static const std::regex plateforme("^(.+)_([0-9]+)_assign[a-z]*_[a-z]*_?$");
    std::smatch m;
    eleve.nom = eleve.dossier;
    if (std::regex_match(eleve.dossier, m, plateforme)) {
        eleve.nom = m[1];
        eleve.identifiant = m[2];
    }
}

// The student's copy of each exercise, from the files of their folder (its
// sub-folders too): the file of the lab's name, or the one of the same name
// in another case or with another source extension (keyhold1.CPP, .cc).
void trouver_les_copies(Classe &classe, Eleve &eleve, const fs::path &dossier)
{
    std::vector<fs::path> fichiers;
    std::error_code erreur;
    for (fs::recursive_directory_iterator i(dossier, erreur), fin; i != fin; i.increment(erreur))
        if (i->is_regular_file(erreur))
            fichiers.push_back(i->path());
    std::sort(fichiers.begin(), fichiers.end());
    eleve.copies.assign(classe.exercices.size(), std::nullopt);
    std::vector<bool> pris(fichiers.size(), false);
    for (int exact : {1, 0})
        for (std::size_t x = 0; x < classe.exercices.size(); x++) {
            const auto &e = classe.exercices[x];
            for (std::size_t f = 0; f < fichiers.size() && !eleve.copies[x]; f++) {
                const fs::path &p = fichiers[f];
                bool ok = exact ? p.filename() == e.fichier
                                : replier(p.stem().string()) ==
                                          replier(fs::path(e.fichier).stem().string()) &&
                                      meme_sorte(*e.exercice, p);
                if (ok && !pris[f])
                    eleve.copies[x] = fs::absolute(p), pris[f] = true;
            }
        }
    for (std::size_t f = 0; f < fichiers.size(); f++) {
        if (pris[f])
            continue;
        std::string raison = "aucun exercice de la séance n'a ce nom";
        for (std::size_t x = 0; x < classe.exercices.size(); x++)
            if (eleve.copies[x] && replier(fichiers[f].stem().string()) ==
                                       replier(eleve.copies[x]->stem().string()))
                raison = "la copie de " + classe.exercices[x].exercice->nom + " est " +
                         guillemets(eleve.copies[x]->filename().string());
        classe.ignores.push_back(
            {(fs::path(eleve.dossier) / fs::relative(fichiers[f], dossier)).string(), raison});
    }
}

void ranger(Classe &classe)
{
    std::stable_sort(classe.eleves.begin(), classe.eleves.end(),
                     [](const Eleve &a, const Eleve &b) {
                         if (int c = comparer_naturel(replier(a.nom), replier(b.nom)))
                             return c < 0;
                         return comparer_naturel(a.dossier, b.dossier) < 0;
                     });
}

std::vector<fs::directory_entry> entrees(const fs::path &dossier, std::string &erreur)
{
    std::vector<fs::directory_entry> tout;
    std::error_code e;
    for (const auto &f : fs::directory_iterator(dossier, e))
        tout.push_back(f);
    if (e)
        erreur = "verifier" + insecable + ": impossible de lire " + guillemets(dossier.string()) +
                 insecable + ": " + e.message() + "\n";
    std::sort(tout.begin(), tout.end(), [](const auto &a, const auto &b) {
        return comparer_naturel(a.path().filename().string(), b.path().filename().string()) < 0;
    });
    return tout;
}

} // namespace

bool avant(const std::string &a, const std::string &b)
{
    return comparer_naturel(replier(a), replier(b)) < 0;
}

std::optional<Classe> lire_la_seance(const fs::path &seance, const fs::path &dossier,
                                     std::string &erreur)
{
    std::ifstream f(seance);
    if (!f) {
        erreur = "verifier" + insecable + ": impossible de lire " + guillemets(seance.string()) +
                 "\n";
        return std::nullopt;
    }
    Classe classe;
    classe.seance = true;
    int numero = 0;
    for (std::string ligne; std::getline(f, ligne);) {
        numero++;
        std::istringstream lu(ligne.substr(0, ligne.find('#')));
        std::vector<std::string> mots;
        for (std::string m; lu >> m;)
            mots.push_back(m);
        if (mots.empty())
            continue;
        ExerciceDeSeance e;
        std::string pourquoi = lire_ligne(mots, e);
        for (const auto &autre : classe.exercices)
            if (pourquoi.empty() && autre.fichier == e.fichier)
                pourquoi = "le fichier " + guillemets(e.fichier) + " est déjà celui de " +
                           autre.exercice->nom;
        if (!pourquoi.empty())
            erreur += "verifier" + insecable + ": " + seance.string() + ", ligne " +
                      std::to_string(numero) + insecable + ": " + pourquoi + ".\n";
        classe.exercices.push_back(e);
    }
    if (classe.exercices.empty() && erreur.empty())
        erreur = "verifier" + insecable + ": " + seance.string() +
                 " ne nomme aucun exercice (une ligne EXERCICE POIDS FICHIER chacun).\n";
    if (!fs::is_directory(dossier))
        erreur += "verifier" + insecable + ": " + guillemets(dossier.string()) +
                  " n'est pas un dossier.\n";
    if (!erreur.empty())
        return std::nullopt;

    for (const auto &entree : entrees(dossier, erreur)) {
        std::string nom = entree.path().filename().string();
        std::error_code e;
        if (!entree.is_directory(e)) {
            classe.ignores.push_back({nom, "pas un dossier d'élève"});
            continue;
        }
        Eleve eleve;
        eleve.dossier = nom;
        identifier(eleve);
        trouver_les_copies(classe, eleve, entree.path());
        classe.eleves.push_back(std::move(eleve));
    }
    if (!erreur.empty())
        return std::nullopt;
    ranger(classe);
    return classe;
}

std::optional<Classe> lire_un_dossier(const std::string &nom, const fs::path &dossier,
                                      std::string &erreur)
{
    ExerciceDeSeance e;
    e.exercice = trouver_exercice(nom);
    if (!e.exercice) {
        erreur = "verifier" + insecable + ": exercice inconnu " + guillemets(nom) +
                 " (verifier --list les nomme)\n";
        return std::nullopt;
    }
    Classe classe;
    classe.exercices.push_back(e);
    for (const auto &entree : entrees(dossier, erreur)) {
        std::string fichier = entree.path().filename().string();
        std::error_code ignore;
        if (entree.is_directory(ignore))
            classe.ignores.push_back({fichier, "un dossier (un dossier par élève" + insecable +
                                                   ": verifier --seance)"});
        else if (!entree.is_regular_file(ignore) || !meme_sorte(*e.exercice, entree.path()))
            classe.ignores.push_back(
                {fichier, e.exercice->texte ? "pas un fichier .txt"
                                            : "pas une source (.c, .cpp, .cc, .cxx)"});
        else
            classe.eleves.push_back(
                {.dossier = fichier, .identifiant = "", .nom = fichier,
                 .copies = {fs::absolute(entree.path())}, .notes = {}});
    }
    if (!erreur.empty())
        return std::nullopt;
    ranger(classe);
    return classe;
}

void montrer_les_ignores(const Classe &classe)
{
    if (classe.ignores.empty())
        return;
    std::printf("Laissé%s de côté%s:\n", classe.ignores.size() > 1 ? "s" : "", insecable.c_str());
    for (const auto &i : classe.ignores)
        std::fputs(plier("  ", i.chemin + insecable + ": " + i.raison, 4).c_str(), stdout);
    std::fflush(stdout);
}

// --- progress ----------------------------------------------------------------

Avancement::Avancement(std::size_t total)
    : total_(total), debut_(std::chrono::steady_clock::now())
{
}

void Avancement::une_de_plus() { faites_++; }

void Avancement::montrer()
{
    if (!isatty(STDOUT_FILENO) || faites_ == 0 || faites_ == total_)
        return;
    double passe = std::chrono::duration<double>(std::chrono::steady_clock::now() - debut_).count();
    long reste = std::lround(passe / static_cast<double>(faites_) *
                             static_cast<double>(total_ - faites_));
    std::string temps = reste < 60 ? std::to_string(reste) + insecable + "s"
                                   : std::to_string((reste + 30) / 60) + insecable + "min";
    std::printf("\r  … %zu copies vérifiées sur %zu, encore environ %s\033[K", faites_, total_,
                temps.c_str());
    std::fflush(stdout);
    montre_ = true;
}

void Avancement::effacer()
{
    if (montre_)
        std::fputs("\r\033[K", stdout);
    montre_ = false;
}

// --- the screen, the gradebook, the feedback ---------------------------------

Sorties::Sorties(const Classe &classe, const OptionsClasse &options, std::string &erreur)
    : classe_(classe), options_(options)
{
    if (options.retours) {
        std::error_code e;
        fs::create_directories(*options.retours, e);
        if (e) {
            erreur = "verifier" + insecable + ": impossible de créer " +
                     guillemets(options.retours->string()) + insecable + ": " + e.message() +
                     "\n";
            return;
        }
    }
    if (!options.csv)
        return;
    csv_ = std::fopen(options.csv->c_str(), "w");
    if (!csv_) {
        erreur = "verifier" + insecable + ": impossible d'écrire " +
                 guillemets(options.csv->string()) + "\n";
        return;
    }
    // UTF-8 with its mark, which spreadsheets take as UTF-8 without asking.
    std::fputs("\xEF\xBB\xBF", csv_);
    if (!classe.seance) {
        std::fputs("fichier;critères tenus;critères;premier critère échoué\n", csv_);
    } else {
        std::string entete = "identifiant;nom";
        for (const auto &e : classe.exercices)
            entete += ";" + e.exercice->nom + " (sur " +
                      std::to_string(e.exercice->criteres.size()) + ");remarque " +
                      e.exercice->nom;
        std::fprintf(csv_, "%s;note sur 20\n", entete.c_str());
    }
    std::fflush(csv_);
}

Sorties::~Sorties()
{
    if (csv_)
        std::fclose(csv_);
}

void Sorties::titre(unsigned paralleles)
{
    std::string comment = paralleles > 1 ? std::to_string(paralleles) + " à la fois" : "une à une";
    std::size_t n = classe_.eleves.size();
    if (classe_.seance) {
        std::string noms;
        for (const auto &e : classe_.exercices)
            noms += (noms.empty() ? "" : ", ") + e.exercice->nom;
        std::fputs(plier("", "Séance" + insecable + ": " + noms + "" + insecable + "; " +
                                 pluriel(n, "élève") + ", copies vérifiées " + comment + ".",
                         0).c_str(),
                   stdout);
    } else {
        std::printf("Exercice «\u00a0%s\u00a0»\u00a0: %s, vérifiée%s %s.\n",
                    classe_.exercices[0].exercice->nom.c_str(), pluriel(n, "copie").c_str(),
                    n > 1 ? "s" : "", comment.c_str());
    }
    std::fflush(stdout);
}

void Sorties::eleve(std::size_t numero)
{
    const Eleve &eleve = classe_.eleves[numero];
    double points = 0, poids = 0;
    bool tout = true;
    std::string detail, remarque;
    for (std::size_t x = 0; x < classe_.exercices.size(); x++) {
        const auto &e = classe_.exercices[x];
        const Note &n = eleve.notes[x];
        int total = static_cast<int>(e.exercice->criteres.size());
        points += e.poids * n.tenus / total;
        poids += e.poids;
        tout = tout && n.tenus == total;
        detail += colonne(std::to_string(n.tenus) + "/" + std::to_string(total), 6);
        if (remarque.empty() && !n.remarque.empty())
            remarque = (classe_.seance ? e.exercice->nom + insecable + ": " : "") + n.remarque;
    }
    double note = 20 * points / poids;
    reussis_ += tout;
    somme_ += note;

    std::string ligne = colonne(eleve.nom, classe_.seance ? 22 : 24) + "  " + detail;
    if (classe_.seance)
        ligne += colonne(decimal(note), 6);
    ligne += couper(remarque, colonnes - std::min(colonnes - 1, largeur(ligne)));
    ligne.erase(ligne.find_last_not_of(' ') + 1);
    std::printf("%s\n", ligne.c_str());
    std::fflush(stdout);

    ecrire_le_rang(eleve, note);
    if (options_.retours)
        ecrire_les_retours(eleve);
}

void Sorties::ecrire_le_rang(const Eleve &eleve, double note)
{
    if (csv_ && !classe_.seance) {
        std::fprintf(csv_, "%s;%d;%zu;%s\n", champ_csv(eleve.dossier).c_str(), eleve.notes[0].tenus,
                     classe_.exercices[0].exercice->criteres.size(),
                     champ_csv(eleve.notes[0].remarque).c_str());
    } else if (csv_) {
        std::string rang = champ_csv(eleve.identifiant) + ";" + champ_csv(eleve.nom);
        for (const auto &n : eleve.notes) {
            rang += ';';
            rang += std::to_string(n.tenus);
            rang += ';';
            rang += champ_csv(n.remarque);
        }
        std::fprintf(csv_, "%s;%s\n", rang.c_str(), decimal(note).c_str());
    }
    if (csv_)
        std::fflush(csv_);
}

void Sorties::ecrire_les_retours(const Eleve &eleve)
{
    fs::path ici = *options_.retours / eleve.dossier;
    std::error_code ignore;
    if (classe_.seance)
        fs::create_directories(ici, ignore);
    for (std::size_t x = 0; x < classe_.exercices.size(); x++) {
        const auto &e = classe_.exercices[x];
        fs::path retour = classe_.seance ? ici / (e.exercice->nom + ".txt")
                                         : fs::path(ici.string() + ".txt");
        std::ofstream f(retour);
        const Note &n = eleve.notes[x];
        if (!eleve.copies[x])
            f << plier("", "Exercice " + guillemets(e.exercice->nom) + insecable +
                               ": absent, aucun fichier " + guillemets(e.fichier) + " dans la copie rendue.",
                       0);
        else if (n.texte.empty())
            f << plier("", "Exercice " + guillemets(e.exercice->nom) + insecable + ": " +
                               n.remarque + ".", 0);
        else
            f << n.texte;
    }
}

int Sorties::bilan(std::size_t faits, int interruption)
{
    std::size_t n = classe_.eleves.size();
    std::string quoi = classe_.seance ? "élève" : "copie";
    if (csv_) {
        bool ecrit = std::ferror(csv_) == 0;
        ecrit = std::fclose(csv_) == 0 && ecrit;
        csv_ = nullptr;
        if (!ecrit)
            std::fprintf(stderr, "verifier\u00a0: l'écriture de «\u00a0%s\u00a0» a échoué\n",
                         options_.csv->c_str());
    }
    if (interruption) {
        std::printf("Interrompu\u00a0: %s vérifié%s sur %zu.\n", pluriel(faits, quoi).c_str(),
                    faits > 1 ? (classe_.seance ? "s" : "es") : (classe_.seance ? "" : "e"), n);
        return 128 + interruption;
    }
    std::string fin = "Bilan" + insecable + ": " + pluriel(reussis_, quoi) + " sur " +
                      std::to_string(n) + (reussis_ > 1 ? " tiennent" : " tient") +
                      " tous les critères";
    if (classe_.seance && n > 0)
        fin += "" + insecable + "; note moyenne " + decimal(somme_ / static_cast<double>(n)) +
               " sur 20";
    std::fputs(plier("", fin + ".", 0).c_str(), stdout);
    return reussis_ == n ? 0 : 1;
}

} // namespace exercices
