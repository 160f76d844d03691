#include "verification.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "garde.h"
#include "lancement.h"
#include "paquets.h"
#include "texte.h"

namespace fs = std::filesystem;

namespace exercices {
namespace {

const std::string insecable = "\u00a0";
constexpr std::size_t largeur = 80;

// The suite's programs an exercise may run through PATH.
const char *const programmes_de_la_suite[] = {
    "genreport", "keyhold1", "keyhold2", "cupcounter", "handover",
    "rightwalker", "leftwalker", "registres", "linefit", "stopclock"};

using texte::colonnes;

// Gives a file or folder to the unprivileged user, when there is one.
void confier(const fs::path &chemin)
{
    if (auto restreint = lancement::utilisateur_restreint())
        if (chown(chemin.c_str(), restreint->uid, restreint->gid) != 0)
            throw std::runtime_error("impossible de confier " + chemin.string() +
                                     " à l'utilisateur sans privilège");
}

// Where the failure report's source is: beside an installed verifier, or in
// the source tree it was built from.
fs::path dossier_echec(const fs::path &dossier_bin)
{
    fs::path installe = dossier_bin / "../share/processus-en-direct/common";
    if (fs::exists(installe / "signaler_echec.cpp"))
        return installe;
    return DOSSIER_ECHEC;
}

// One compiler command, its messages passed on to the student with the
// copy's path (verifier's temporary folder) given back as the student wrote it.
bool compiler_une(std::vector<std::string> commande, const fs::path &copie = {},
                  const fs::path &source = {})
{
    std::string programme = commande.front();
    commande.erase(commande.begin());
    if (isatty(STDERR_FILENO))
        commande.push_back("-fdiagnostics-color=always"); // as on the student's own terminal
    lancement::Resultat r;
    try {
        r = lancement::executer({.programme = programme, .arguments = commande,
                                 .entree = lancement::Flux::nul, .restreint = true},
                                120s);
    } catch (const lancement::Inexecutable &e) {
        // Not the student's fault: said as a missing tool, with its package.
        throw std::runtime_error(std::string(e.what()) + "\n" +
                                 lancement::installer_le_compilateur());
    }
    for (std::string *flot : {&r.sortie, &r.erreur}) {
        if (copie.empty())
            break;
        for (std::size_t pos = 0; (pos = flot->find(copie.string(), pos)) != std::string::npos;
             pos += source.string().size())
            flot->replace(pos, copie.string().size(), source.string());
    }
    std::fflush(stdout);
    std::fputs(r.sortie.c_str(), stdout);
    std::fflush(stdout);
    std::fputs(r.erreur.c_str(), stderr);
    if (!r.code)
        std::printf("La compilation a duré plus de 120 s\u00a0: elle a été arrêtée.\n");
    return r.code == 0;
}

// The suite's programs, copied where the unprivileged user can run them
// (an installed verifier's folder is reachable, a build tree may not be).
fs::path programmes_accessibles(const fs::path &dossier_bin, const fs::path &dossier)
{
    if (!lancement::utilisateur_restreint())
        return dossier_bin;
    fs::path bin = dossier / "bin";
    if (fs::create_directory(bin)) {
        for (const char *p : programmes_de_la_suite)
            if (fs::exists(dossier_bin / p))
                fs::copy_file(dossier_bin / p, bin / p);
    }
    return bin;
}

void ecrire(const std::string &texte)
{
    std::fputs(texte.c_str(), stdout);
    std::fflush(stdout);
}

const char *marque(Verdict::Sorte sorte)
{
    switch (sorte) {
    case Verdict::tenu:
        return "  ok     ";
    case Verdict::echoue:
        return "  ÉCHEC  ";
    case Verdict::impossible:
        break;
    }
    return "  ?      ";
}

// A text as one field of the report for programs.
std::string champ(std::string texte)
{
    for (char &c : texte)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return texte;
}

// The report for programs, written as the check goes (see verification.h).
class Ecrit {
public:
    explicit Ecrit(const std::optional<fs::path> &chemin)
    {
        if (chemin && !(f_ = std::fopen(chemin->c_str(), "w")))
            throw std::runtime_error("impossible d'écrire «" + insecable + chemin->string() +
                                     insecable + "»" + insecable + ": " +
                                     lancement::raison(errno));
    }
    ~Ecrit()
    {
        if (f_)
            std::fclose(f_);
    }
    Ecrit(const Ecrit &) = delete;
    Ecrit &operator=(const Ecrit &) = delete;
    void ligne(const std::vector<std::string> &champs)
    {
        if (!f_)
            return;
        for (std::size_t k = 0; k < champs.size(); k++)
            std::fprintf(f_, "%s%s", k ? "\t" : "", champ(champs[k]).c_str());
        std::fputc('\n', f_);
        std::fflush(f_);
    }

private:
    std::FILE *f_ = nullptr;
};

const char *mot_du_rapport(Verdict::Sorte sorte)
{
    switch (sorte) {
    case Verdict::tenu:
        return "ok";
    case Verdict::echoue:
        return "echec";
    case Verdict::impossible:
        break;
    }
    return "inverifiable";
}

std::string pluriel(int n, const std::string &mot)
{
    return std::to_string(n) + " " + mot + (n > 1 ? "s" : "");
}

} // namespace

std::string plier(std::string_view debut, std::string_view texte, std::size_t retrait)
{
    return texte::plier(debut, texte, retrait, largeur);
}

// Whether the unprivileged user can reach into dossier (every folder on the
// way searchable by others, or its own).
bool atteignable(const fs::path &dossier)
{
    auto restreint = lancement::utilisateur_restreint();
    if (!restreint)
        return true;
    for (fs::path d = fs::absolute(dossier); !d.empty(); d = d.parent_path()) {
        struct stat s;
        if (stat(d.c_str(), &s) != 0 || (!(s.st_mode & S_IXOTH) && s.st_uid != restreint->uid))
            return false;
        if (d == d.root_path())
            break;
    }
    return true;
}

std::optional<fs::path> compiler(const fs::path &source, const fs::path &dossier_bin,
                                 const fs::path &ici)
{
    // Copies the unprivileged compiler can read, whatever the originals' folders.
    fs::path commun = ici / "commun";
    fs::create_directory(commun);
    for (const char *f : {"signaler_echec.h", "signaler_echec.cpp"})
        fs::copy_file(dossier_echec(dossier_bin) / f, commun / f);
    fs::path copie = ici / source.filename();
    fs::copy_file(source, copie);

    bool en_c = langage(source) == Langage::c;
    fs::path objet = ici / "signaler_echec.o";
    fs::path programme = ici / source.stem();
    std::vector<std::string> options = {"-O2", "-Wall", "-Wextra", "-Wpedantic",
                                        "-I", commun.string()};
    std::vector<std::string> rapport = {"c++", "-std=c++20", "-c",
                                        (commun / "signaler_echec.cpp").string(), "-o",
                                        objet.string()};
    std::vector<std::string> eleve = {en_c ? "cc" : "c++", en_c ? "-std=gnu17" : "-std=c++20",
                                      copie.string(), objet.string(), "-o", programme.string()};
    rapport.insert(rapport.end(), options.begin(), options.end());
    eleve.insert(eleve.end(), options.begin(), options.end());
    std::printf("Compilation de %s\n", source.filename().c_str());
    // The student's file as they would name it from here: relative below the
    // current folder, whole elsewhere.
    fs::path nom = source.lexically_proximate(fs::current_path());
    if (nom.empty() || *nom.begin() == "..")
        nom = source;
    if (!compiler_une(rapport) || !compiler_une(eleve, copie, nom))
        return std::nullopt;
    return programme;
}

bool est_une_source(const fs::path &fichier)
{
    return langage(fichier) != Langage::aucun;
}

std::vector<fs::path> sources_de(const fs::path &programme)
{
    std::vector<fs::path> sources;
    std::error_code erreur;
    for (const auto &f : fs::directory_iterator(programme.parent_path(), erreur)) {
        if (f.path().stem() == programme.filename() && est_une_source(f.path()))
            sources.push_back(f.path());
    }
    return sources;
}

Langage langage(const fs::path &fichier)
{
    std::string e = fichier.extension().string();
    if (e == ".c")
        return Langage::c;
    for (char &c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // As the compiler takes them: .C (capital) is C++, as .cc, .cxx, .CPP.
    for (const char *cpp : {".c", ".cpp", ".cc", ".cxx", ".c++"})
        if (e == cpp)
            return Langage::cpp;
    return Langage::aucun;
}

std::optional<Rapport> lire_rapport(const fs::path &fichier)
{
    std::FILE *f = std::fopen(fichier.c_str(), "r");
    if (!f)
        return std::nullopt;
    Rapport r;
    std::string ligne;
    auto traiter = [&] {
        std::vector<std::string> champs;
        std::size_t debut = 0;
        for (std::size_t tab; (tab = ligne.find('\t', debut)) != std::string::npos; debut = tab + 1)
            champs.push_back(ligne.substr(debut, tab - debut));
        champs.push_back(ligne.substr(debut));
        champs.resize(std::max<std::size_t>(champs.size(), 5));
        if (champs[0] == "exercice") {
            r.exercice = champs[1];
            r.criteres = std::strtoul(champs[2].c_str(), nullptr, 10);
        } else if (champs[0] == "compilation")
            r.compile = champs[1] == "ok";
        else if (champs[0] == "critere")
            r.lignes.push_back({champs[2], champs[3], champs[4]});
        else if (champs[0] == "fin")
            r.complet = true;
    };
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c != '\n') {
            ligne += static_cast<char>(c);
            continue;
        }
        traiter();
        ligne.clear();
    }
    std::fclose(f);
    r.complet = r.complet && r.lignes.size() == r.criteres;
    return r;
}

fs::path preparer_dossier()
{
    // A TMPDIR of root's own may be closed to the unprivileged user: /tmp then.
    fs::path ou = fs::temp_directory_path();
    if (!atteignable(ou))
        ou = "/tmp";
    std::string modele = (ou / "verifier-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        throw std::runtime_error("impossible de créer un dossier dans " + ou.string() +
                                 insecable + ": " +
                                 lancement::raison(errno));
    confier(modele);
    return modele;
}

Bilan verifier_programme(const Exercice &exercice, const fs::path &programme,
                         const fs::path &dossier, const fs::path &dossier_bin,
                         const Reglages &reglages)
{
    Bilan bilan;
    Ecrit ecrit(reglages.rapport);
    ecrit.ligne({"exercice", exercice.nom, std::to_string(exercice.criteres.size())});
    // A folder of this program's own, which the unprivileged user may fill.
    std::string modele = (dossier / "programme-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        throw std::runtime_error("impossible de créer un dossier dans " + dossier.string());
    fs::path ici = modele;
    confier(ici);

    int numero = 0;
    Contexte contexte;
    contexte.verifier = getpid();
    contexte.dossier_bin = programmes_accessibles(dossier_bin, dossier).string();
    contexte.graine = reglages.graine;
    contexte.niveau = reglages.niveau;
    if (exercice.texte) {
        // A text (a prediction, say): the criteria read it as it is.
        contexte.programme = programme.string();
    } else if (est_une_source(programme)) {
        auto compile = compiler(programme, dossier_bin, ici);
        ecrit.ligne({"compilation", compile ? "ok" : "echec"});
        if (!compile) {
            ecrire(plier("", "La compilation a échoué (voir ci-dessus)" + insecable +
                                 ": rien n'a été vérifié.", 0));
            bilan.compile = false;
            for (const auto &critere : exercice.criteres)
                ecrit.ligne({"critere", std::to_string(++numero), "laisse", critere.enonce, ""});
            ecrit.ligne({"fin", "0", "0", "0", std::to_string(exercice.criteres.size())});
            return bilan;
        }
        contexte.programme = compile->string();
    } else {
        // Where the unprivileged user, and the confined program, can run it.
        fs::path copie = ici / programme.filename();
        fs::copy_file(programme, copie);
        chmod(copie.c_str(), 0755);
        contexte.programme = copie.string();
    }

    const bool au_terminal = isatty(STDOUT_FILENO);
    ecrire(plier("", "Exercice «" + insecable + exercice.nom + insecable + "», à partir de " +
                         exercice.depart, 0));
    ecrire(plier("", "But" + insecable + ": " + exercice.but + ".", 0));
    for (const auto &critere : exercice.criteres) {
        numero++;
        if (reglages.premier_echec && bilan.echoues > 0) {
            bilan.restants++;
            ecrit.ligne({"critere", std::to_string(numero), "laisse", critere.enonce, ""});
            continue;
        }
        bool progression_affichee = false;
        contexte.avancer = [&](const std::string &ou) {
            if (!au_terminal)
                return;
            std::string ligne = "  …      " + critere.enonce;
            std::string suite = insecable + ": " + ou;
            std::size_t place = largeur - 1 - colonnes(suite);
            ligne = texte::couper(ligne, place);
            ecrire("\r" + ligne + suite + "\033[K");
            progression_affichee = true;
        };
        Verdict v;
        try {
            v = critere.verifier(contexte);
        } catch (const lancement::Inexecutable &e) {
            v = echoue(std::string("le programme n'a pas pu être lancé") + insecable + ": " +
                       e.what());
        } catch (const std::exception &e) {
            v = impossible(std::string("verifier n'a pas pu faire cette vérification") +
                           insecable + ": " + e.what());
        }
        if (progression_affichee)
            ecrire("\r\033[K");
        std::string texte = critere.enonce;
        if (v.sorte == Verdict::tenu && !v.preuve.empty())
            texte += " (" + v.preuve + ")";
        std::string rapport = plier(marque(v.sorte), texte, 9);
        if (v.sorte != Verdict::tenu && !v.preuve.empty())
            rapport += plier("           ", v.preuve, 11);
        ecrire(rapport);
        ecrit.ligne({"critere", std::to_string(numero), mot_du_rapport(v.sorte), critere.enonce,
                     v.preuve});
        lancement::finir_les_restes();
        bilan.tenus += v.sorte == Verdict::tenu;
        bilan.echoues += v.sorte == Verdict::echoue;
        bilan.impossibles += v.sorte == Verdict::impossible;
    }
    std::string resume = "Bilan" + insecable + ": " +
                      pluriel(bilan.tenus, "critère") + (bilan.tenus > 1 ? " tenus" : " tenu") +
                      " sur " + std::to_string(exercice.criteres.size());
    if (bilan.impossibles > 0)
        resume += ", " + std::to_string(bilan.impossibles) + " que cette machine ne permet pas " +
               "de vérifier («" + insecable + "?" + insecable + "»)";
    if (bilan.restants > 0)
        resume += ", " + std::to_string(bilan.restants) + " laissé" +
               (bilan.restants > 1 ? "s" : "") + " de côté après le premier échec";
    ecrire(plier("", resume + ".", 0));
    ecrit.ligne({"fin", std::to_string(bilan.tenus), std::to_string(bilan.echoues),
                 std::to_string(bilan.impossibles), std::to_string(bilan.restants)});
    return bilan;
}

} // namespace exercices
