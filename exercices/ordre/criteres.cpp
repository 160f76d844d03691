// ordre: genreport whose parent waits for its child before writing its line.
//
// The kernel shows it: the child is held alive in its write (the terminal's
// output is stopped, as after Ctrl-S) while the checker looks at the parent,
// which must neither write nor end meanwhile; once the child is let go and
// has ended, the parent's line must follow at once. A parent that writes
// first (even one whose line would leave last through a pipe), or sleeps
// instead of waiting, shows it there.
#include "exercice.h"
#include "suivi.h"

#include <csignal>
#include <map>
#include <regex>
#include <thread>

#include <sys/syscall.h>

namespace exercices {

using namespace lancement;

namespace {

// One line of genreport, as read.
struct Ligne {
    int generation = 0;
    pid_t moi = 0, pere = 0;
    long res = 0;
};

// The output, if it is exactly the two lines in any order; the parent's and
// the child's, and which came first.
struct Lignes {
    Ligne pere, fils;
    bool fils_d_abord = false;
};

std::optional<Lignes> lire_lignes(const std::string &sortie)
{
    static const std::regex ligne("(gen 1|  gen 2) : je suis (\\d{1,9}) fils de (\\d{1,9}), "
                                  "res = (-?\\d{1,9})\n");
    std::vector<Ligne> vues;
    std::size_t pos = 0;
    std::smatch m;
    while (pos < sortie.size()) {
        auto debut = sortie.cbegin() + static_cast<std::ptrdiff_t>(pos);
        if (!std::regex_search(debut, sortie.cend(), m, ligne,
                               std::regex_constants::match_continuous))
            return std::nullopt;
        vues.push_back({m[1].str().starts_with("gen 1") ? 1 : 2, std::stoi(m[2]),
                        std::stoi(m[3]), std::stol(m[4])});
        pos += static_cast<std::size_t>(m.length(0));
    }
    if (vues.size() != 2 || vues[0].generation == vues[1].generation ||
        (vues[0].generation == 2 ? vues[0].res : vues[1].res) != 0)
        return std::nullopt;
    Lignes l;
    l.fils_d_abord = vues[0].generation == 2;
    l.fils = l.fils_d_abord ? vues[0] : vues[1];
    l.pere = l.fils_d_abord ? vues[1] : vues[0];
    return l;
}

// One run held on a stopped terminal (see the top of this file).
struct Retenue {
    std::string faute;  // what the parent did wrong while its child lived
    std::string doute;  // why a time could not be judged
    bool trop_charge = false; // the doubt is the machine's load: worth another try
    pid_t pere = -1, fils = -1;
    std::string ecran;  // what reached the terminal
    std::optional<int> code;
};

// How long the parent's line may take after its child's end: a waiting
// parent writes within milliseconds, a sleeping one when its sleep ends. A
// sleep shorter than a hold writes while the child lives; a longer one (more
// than 0,8 s) writes at least 0,7 s late after the 0,1 s hold. So the bound
// can leave a busy machine's scheduler room without letting any sleep pass.
constexpr double delai_max = 0.45;

bool vivant(pid_t pid)
{
    auto e = lire_stat(pid);
    return e && e->etat != 'Z';
}

Retenue retenir(const Contexte &c, Duree tenue)
{
    Retenue r;
    Processus p({.programme = c.programme, .entree = Flux::nul, .sortie = Flux::terminal,
                 .erreur = Flux::terminal, .terminal_arrete = true, .pids_sautes = 1});
    r.pere = p.pid();
    attendre_que([&] {
        auto enfants = enfants_de(r.pere);
        if (!enfants.empty())
            r.fils = enfants.front().pid;
        return r.fils > 0 || p.attendre(0ms);
    }, 3s);
    if (r.fils < 0) {
        r.code = p.attendre(0ms);
        r.faute = r.code ? "le parent a fini (" + fin(*r.code) + ") sans qu'aucun fils soit vu"
                         : "aucun fils n'a paru en 3 s";
        return r;
    }
    auto faute_du_pere = [&]() -> std::string {
        if (auto code = p.attendre(0ms))
            return "le parent (pid " + nombre(r.pere) + ") a fini (" + fin(*code) +
                   ") pendant que son fils (pid " + nombre(r.fils) + ") vivait encore : il "
                   "n'attendait pas sa fin";
        auto appel = appel_en_cours(r.pere);
        if (!appel && !p.attendre(0ms))
            r.doute = "/proc/" + nombre(r.pere) + "/syscall ne peut pas être lu ici : "
                      "verifier ne voit pas si le parent écrit";
        if (appel && (appel->numero == SYS_write || appel->numero == SYS_writev))
            return "le parent (pid " + nombre(r.pere) + ") écrit pendant que son fils (pid " +
                   nombre(r.fils) + ") vit encore : il écrit avant d'attendre";
        return "";
    };

    // The child is held; the parent must keep waiting.
    auto fin_tenue = Horloge::now() + tenue;
    while (Horloge::now() < fin_tenue && vivant(r.fils)) {
        if (r.faute = faute_du_pere(); !r.faute.empty())
            return r;
        std::this_thread::sleep_for(2ms);
    }

    // Let go: the child writes and ends, the parent's line must follow.
    p.relancer_terminal();
    Veille veille;
    std::optional<Horloge::time_point> fin_du_fils, ligne_du_pere;
    auto limite = Horloge::now() + 4s;
    while (Horloge::now() < limite && !(ligne_du_pere && p.attendre(0ms))) {
        veille.regarder();
        if (!fin_du_fils && !vivant(r.fils))
            fin_du_fils = Horloge::now();
        r.ecran = p.lire_jusqu_a(Canal::terminal, "gen 1 ", 1ms);
        if (!ligne_du_pere && r.ecran.find("gen 1 ") != std::string::npos) {
            ligne_du_pere = Horloge::now();
            if (!fin_du_fils && vivant(r.fils)) {
                r.faute = "la ligne du parent a paru pendant que son fils (pid " +
                          nombre(r.fils) + ") vivait encore";
                return r;
            }
            if (!fin_du_fils)
                fin_du_fils = ligne_du_pere; // it ended between two looks
        }
    }
    r.code = p.attendre(1s);
    r.ecran = p.lire_tout(Canal::terminal, 1s);
    if (!fin_du_fils) {
        r.faute = "une fois relâché, le fils (pid " + nombre(r.fils) + ") n'a pas fini en 4 s";
        return r;
    }
    if (!ligne_du_pere) {
        r.faute = "le parent n'a pas écrit sa ligne dans les 4 s qui ont suivi la fin de son "
                  "fils";
        return r;
    }
    double delai = secondes(*ligne_du_pere - *fin_du_fils);
    switch (veille.juger(delai, delai_max)) {
    case Verdict::tenu:
        break;
    case Verdict::impossible:
        r.doute = "la ligne du parent a paru " + en_secondes(delai) + " après la fin de son "
                  "fils, et " + veille.doute();
        r.trop_charge = true;
        break;
    case Verdict::echoue:
        r.faute = "la ligne du parent n'a paru que " + en_secondes(delai) +
                  " après la fin de son fils : il ne l'attendait pas (un sleep ?)";
    }
    return r;
}

// The held runs, once a program: held 0,1 s, then 0,8 s (a sleep of the
// parent ends during one hold, or long after the child in the other). A run
// whose time the machine was too busy to judge is made again, up to three
// times: a busy moment passes, and the verdict rule stays the same.
const std::vector<Retenue> &retenues(const Contexte &c)
{
    return c.memoire->une_fois<std::vector<Retenue>>("exécutions retenues", [&] {
        std::vector<Retenue> v;
        for (Duree tenue : {100ms, 800ms}) {
            std::string quelle = "exécution retenue " + nombre(static_cast<long>(v.size()) + 1) +
                                 " sur 2";
            Retenue r;
            for (int essai = 1; essai <= 3; essai++) {
                c.avancer(quelle + (essai > 1 ? ", essai " + nombre(essai) + " sur 3" : ""));
                r = retenir(c, tenue);
                if (!r.trop_charge)
                    break;
            }
            v.push_back(r);
            if (!r.faute.empty())
                break;
        }
        return v;
    });
}

constexpr int nb_tubes = 3;

// Runs in a pipe, once a program.
const std::vector<Resultat> &dans_un_tube(const Contexte &c)
{
    return c.memoire->une_fois<std::vector<Resultat>>("exécutions dans un tube", [&] {
        std::vector<Resultat> v;
        for (int k = 0; k < nb_tubes; k++) {
            c.avancer("exécution dans un tube " + nombre(k + 1) + " sur " + nombre(nb_tubes));
            v.push_back(executer({.programme = c.programme, .pids_sautes = 1}, 3s));
        }
        return v;
    });
}

// What is wrong with the names in the lines, given the pids the kernel
// showed (the child's, when it was seen).
std::string noms_faux(const Contexte &c, const Lignes &l, pid_t pere, pid_t fils)
{
    if (l.pere.moi != pere)
        return "le parent se dit " + nombre(l.pere.moi) + ", son pid était " + nombre(pere);
    if (fils > 0 && l.fils.moi != fils)
        return "le fils se dit " + nombre(l.fils.moi) + ", son pid était " + nombre(fils);
    if (l.fils.moi == pere)
        return "le fils se dit " + nombre(l.fils.moi) + ", le pid de son parent";
    if (l.fils.pere != pere)
        return "le fils se dit fils de " + qui(c, l.fils.pere) + ", son parent était " +
               nombre(pere) + (l.fils.pere == c.verifier ? " : il a été adopté, son parent avait "
                                                           "fini" : "");
    if (l.pere.res != l.fils.moi)
        return "le parent écrit res = " + nombre(l.pere.res) + ", le pid de son fils était " +
               nombre(l.fils.moi);
    return "";
}

// The child ended before its parent has reached its wait: the parent is
// started under a shell that waits for a line, then execs it, so that its
// calls are followed from its very first (ptrace); at the return of its fork,
// the parent is held until the child has ended, then let go, its SIGCHLD
// already there. A parent that waits for a signal still to come (pause) then
// waits for ever.
Verdict fils_fini_d_abord(const Contexte &c)
{
    Processus p({.programme = "/bin/sh", .arguments = {"-c", "read x; exec \"$0\"", c.programme},
                 .nom = "sh", .erreur = Flux::tube});
    bool assis = attendre_que([&] {
        auto a = appel_en_cours(p.pid());
        return (a && a->numero == SYS_read) || p.attendre(0ms);
    }, 2s);
    if (!assis || p.attendre(0ms))
        return impossible("le shell qui lance le programme n'a pas pu être retenu");
    if (auto refus = saisir(p.pid()); !refus.empty())
        return impossible(refus + " : verifier ne peut pas retenir le parent au retour de fork");
    p.ecrire("\n");
    pid_t fils = -1;
    bool fini = false;
    auto est_fork = [](const AppelSuivi &a) {
        return a.numero == SYS_clone || a.numero == SYS_clone3 ||
#ifdef SYS_fork
               a.numero == SYS_fork || a.numero == SYS_vfork ||
#endif
               false;
    };
    auto retenir_le_parent = [&](long retour) {
        if (retour <= 0)
            return true; // a failed fork: nothing to hold
        fils = static_cast<pid_t>(retour);
        fini = attendre_que([&] {
            auto e = lire_stat(fils);
            return !e || e->etat == 'Z';
        }, 2s);
        return true;
    };
    auto raison = suivre(p.pid(), est_fork, retenir_le_parent, 3s);
    if (!raison.empty())
        return echoue("pas de fork vu : " + raison);
    if (!fini)
        return impossible("le fils (pid " + nombre(fils) + ") n'a pas fini en 2 s pendant que "
                          "son parent était retenu");
    std::string sortie = p.lire_jusqu_a(Canal::sortie, "gen 1 ", 1s);
    if (sortie.find("gen 1 ") == std::string::npos)
        return echoue("son fils (pid " + nombre(fils) + ") fini avant qu'il l'attende, le "
                      "parent n'a pas écrit sa ligne en 1 s : " + ou_il_attend("le parent", p.pid()) +
                      " (il attend un signal déjà venu ?)");
    return tenu();
}

} // namespace

Exercice exercice_ordre()
{
    return {"ordre", "genreport", "le parent attend la fin de son fils avant d'écrire sa ligne", {
        {"les deux lignes gardent leurs octets exacts", [](const Contexte &c) {
             const auto &r = dans_un_tube(c).front();
             if (!lire_lignes(r.sortie))
                 return echoue("reçu " + cite(r.sortie) + ", attendu deux lignes comme "
                               "« gen 1 : je suis 12 fils de 11, res = 13\\n » et "
                               "«   gen 2 : je suis 13 fils de 12, res = 0\\n »");
             return tenu();
         }},
        {"tant que son fils vit, le parent attend sans rien écrire, puis écrit sa ligne dès "
         "que son fils a fini (au terminal, le fils retenu)", [](const Contexte &c) {
             std::string doute;
             for (const auto &r : retenues(c)) {
                 if (!r.faute.empty())
                     return echoue(r.faute);
                 if (!r.doute.empty())
                     doute = r.doute;
             }
             for (const auto &r : retenues(c)) {
                 auto l = lire_lignes(r.ecran);
                 if (l && !l->fils_d_abord)
                     return echoue("au terminal, la ligne du parent a paru la première");
             }
             int k = 0;
             for (const auto &r : dans_un_tube(c)) {
                 k++;
                 auto l = lire_lignes(r.sortie);
                 if (l && !l->fils_d_abord)
                     return echoue("dans un tube, exécution " + nombre(k) + " : la ligne du "
                                   "parent est venue la première");
             }
             if (!doute.empty())
                 return impossible(doute);
             return tenu();
         }},
        {"si le fils finit avant que le parent l'attende (le parent retenu au retour de "
         "fork), le parent écrit sa ligne aussitôt", fils_fini_d_abord},
        {"le fils se nomme et nomme son vrai parent, et le res du parent est le pid du fils",
         [](const Contexte &c) {
             for (const auto &r : retenues(c)) {
                 if (!r.faute.empty())
                     continue; // cut short: the lines were never let out
                 auto l = lire_lignes(r.ecran);
                 if (!l)
                     return echoue("au terminal, reçu " + cite(r.ecran));
                 if (auto faux = noms_faux(c, *l, r.pere, r.fils); !faux.empty())
                     return echoue("au terminal, " + faux);
             }
             int k = 0;
             for (const auto &r : dans_un_tube(c)) {
                 k++;
                 auto l = lire_lignes(r.sortie);
                 if (!l)
                     return echoue("dans un tube, exécution " + nombre(k) + ", reçu " +
                                   cite(r.sortie));
                 if (auto faux = noms_faux(c, *l, r.pid, -1); !faux.empty())
                     return echoue("dans un tube, exécution " + nombre(k) + " : " + faux);
             }
             return tenu();
         }},
        {"le parent finit avec le code 0", [](const Contexte &c) {
             for (const auto &r : dans_un_tube(c))
                 if (r.code != 0)
                     return echoue(fin(r) + ", attendu le code 0");
             return tenu();
         }},
        {"un fork refusé (EAGAIN) donne « Echec fork : Resource temporarily unavailable » "
         "et le code 11, même quand la sortie d'erreur est un tube", [](const Contexte &c) {
             if (!echec_fork_possible())
                 return impossible("cette machine ne permet pas de faire échouer fork");
             auto r = executer({.programme = c.programme, .fork_impossible = true}, 3s);
             if (r.erreur != echec_fork || r.code != 11 || !r.sortie.empty())
                 return echoue(fin(r) + ", sortie d'erreur " + cite(r.erreur) + ", sortie " +
                               cite(r.sortie) + " ; attendu le code 11, " + cite(echec_fork) +
                               " et rien sur la sortie");
             return tenu();
         }},
    }};
}

} // namespace exercices
