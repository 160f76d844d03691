// tube: two commands joined by a pipe, as the shell's CMD1 | CMD2
#include "exercice.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace exercices {

using namespace lancement;

namespace {

namespace fs = std::filesystem;

// One descriptor of a process that is a pipe's end, from /proc/PID/fd and
// /proc/PID/fdinfo (whose "flags:" give the direction).
struct Bout {
    int fd;
    std::string tube; // "pipe:[N]"
    bool ecriture;
};

std::vector<Bout> bouts_de(pid_t pid)
{
    std::vector<Bout> bouts;
    std::error_code erreur;
    const std::string dossier = "/proc/" + nombre(pid);
    for (const auto &f : fs::directory_iterator(dossier + "/fd", erreur)) {
        std::string cible = fs::read_symlink(f.path(), erreur).string();
        if (erreur || !cible.starts_with("pipe:"))
            continue;
        std::ifstream info(dossier + "/fdinfo/" + f.path().filename().string());
        unsigned long drapeaux = 0;
        for (std::string mot; info >> mot;)
            if (mot == "flags:") {
                info >> std::oct >> drapeaux;
                break;
            }
        bouts.push_back({std::stoi(f.path().filename().string()), cible,
                         (drapeaux & O_ACCMODE) != O_RDONLY});
    }
    return bouts;
}

std::string tube_de(pid_t pid, int fd)
{
    std::error_code erreur;
    auto cible = fs::read_symlink("/proc/" + nombre(pid) + "/fd/" + nombre(fd), erreur);
    return erreur ? "" : cible.string();
}

// « tube (pid 12) tient l'extrémité d'écriture (fd 4) », for every end of
// the pipe held by one of the processes, apart from the ends each should hold.
std::vector<std::string> bouts_en_trop(const std::string &tube,
                                       const std::vector<std::pair<std::string, pid_t>> &qui,
                                       const std::map<pid_t, Bout> &permis)
{
    std::vector<std::string> trop;
    for (const auto &[nom, pid] : qui)
        for (const auto &b : bouts_de(pid)) {
            auto p = permis.find(pid);
            if (b.tube != tube || (p != permis.end() && p->second.fd == b.fd &&
                                   p->second.ecriture == b.ecriture))
                continue;
            trop.push_back(nom + " (pid " + nombre(pid) + ") tient l'extrémité " +
                           (b.ecriture ? "d'écriture" : "de lecture") + " (fd " +
                           nombre(b.fd) + ")");
        }
    return trop;
}

std::string joindre(const std::vector<std::string> &lignes)
{
    std::string tout;
    for (const auto &l : lignes)
        tout += (tout.empty() ? "" : " ; ") + l;
    return tout;
}

std::vector<std::pair<std::string, std::optional<std::string>>> chemin(const Contexte &c)
{
    return {{"PATH", chemin_avec(c.dossier_bin)}};
}

// One run of « tube cupcounter -- head -n 2 », watched from /proc: the two
// commands while they live, head's end (cupcounter is then held stopped for
// a second, so that a tube that waits for it first shows head's zombie), and
// cupcounter's death at its next line.
struct Observation {
    pid_t tube = -1, ecrivain = -1, lecteur = -1;
    bool ensemble = false; // both seen alive, children of tube
    std::string enfants;   // what was seen instead
    std::string sortie_ecrivain, entree_lecteur; // "pipe:[N]", or what it is
    std::set<std::string> propres; // tube's own 0, 1, 2
    std::vector<std::string> en_trop;
    bool lecteur_fini = false;
    std::optional<bool> lecteur_recueilli;
    std::string etat_lecteur;
    std::optional<int> code;
    std::vector<std::string> tenants; // who held the pipe when tube did not end
    bool ecrivain_reste = false;      // cupcounter still there when tube ended
    std::string sortie;
};

const Observation &observer(const Contexte &c)
{
    static std::map<std::string, Observation> deja_vues;
    if (auto vue = deja_vues.find(c.programme); vue != deja_vues.end())
        return vue->second;
    Observation o;
    // stdin stays an open pipe: a head left reading it waits instead of ending.
    Processus p({.programme = c.programme, .arguments = {"cupcounter", "--", "head", "-n", "2"},
                 .environnement = chemin(c)});
    o.tube = p.pid();
    for (int fd = 0; fd < 3; fd++)
        o.propres.insert(tube_de(o.tube, fd));

    // Both commands must be seen running together; cupcounter's output is
    // read as soon as it runs, in case head has already gone.
    o.ensemble = attendre_que([&] {
        o.lecteur = -1;
        o.enfants.clear();
        for (const auto &e : enfants_de(o.tube)) {
            o.enfants += (o.enfants.empty() ? "" : ", ") + e.etat.nom + " (pid " +
                         nombre(e.pid) + ", état " + std::string(1, e.etat.etat) + ")";
            if (e.etat.nom == "cupcounter" && e.etat.etat != 'Z') {
                o.ecrivain = e.pid;
                o.sortie_ecrivain = tube_de(o.ecrivain, 1);
            }
            if (e.etat.nom == "head" && e.etat.etat != 'Z') {
                o.lecteur = e.pid;
                o.entree_lecteur = tube_de(o.lecteur, 0);
            }
        }
        return o.ecrivain > 0 && o.lecteur > 0;
    }, 1s);

    if (o.ensemble) {
        // The children's descriptors are set once they run their commands;
        // tube's own closes may come a moment later.
        std::string tube;
        attendre_que([&] {
            o.sortie_ecrivain = tube_de(o.ecrivain, 1);
            o.entree_lecteur = tube_de(o.lecteur, 0);
            tube = o.sortie_ecrivain;
            if (!tube.starts_with("pipe:") || o.propres.count(tube))
                tube = o.entree_lecteur;
            std::map<pid_t, Bout> permis = {{o.ecrivain, {1, tube, true}},
                                            {o.lecteur, {0, tube, false}}};
            o.en_trop = bouts_en_trop(
                tube, {{"tube", o.tube}, {"cupcounter", o.ecrivain}, {"head", o.lecteur}},
                permis);
            return o.en_trop.empty();
        }, 500ms);

        // head ends after its second line; cupcounter is held stopped before
        // it writes its third, and head must be reaped meanwhile.
        o.lecteur_fini = attendre_que([&] {
            auto e = lire_stat(o.lecteur);
            return !e || e->etat == 'Z';
        }, 3s);
        if (o.lecteur_fini) {
            kill(o.ecrivain, SIGSTOP);
            o.lecteur_recueilli = attendre_que([&] { return !lire_stat(o.lecteur); }, 1s);
            if (auto e = lire_stat(o.lecteur))
                o.etat_lecteur = "état " + std::string(1, e->etat) + ", parent " +
                                 nombre(e->parent);
        }
        kill(o.ecrivain, SIGCONT);
    }
    // cupcounter writes its next line within a second; without both commands
    // seen, the run is already wrong and not worth a long wait.
    o.code = p.attendre(o.ensemble ? 3s : 1s);
    if (!o.code && o.ensemble) {
        std::string tube = o.sortie_ecrivain.starts_with("pipe:") ? o.sortie_ecrivain
                                                                   : o.entree_lecteur;
        o.tenants = bouts_en_trop(tube, {{"tube", o.tube}, {"cupcounter", o.ecrivain}},
                                  {{o.ecrivain, {1, tube, true}}});
    }
    o.ecrivain_reste = o.code && o.ecrivain > 0 && lire_stat(o.ecrivain).has_value();
    o.sortie = p.lire_tout(Canal::sortie, o.code ? 1s : 100ms);
    return deja_vues[c.programme] = o;
}

Verdict si_observe(const Observation &o)
{
    return echoue("fils de tube vivants : " + (o.enfants.empty() ? "aucun" : o.enfants) +
                  (o.ecrivain > 0 && o.lecteur < 0 ? " ; head n'a pas été vu vivant" : ""));
}

} // namespace

Exercice exercice_tube()
{
    return {"tube", "cupcounter | head -n 3",
            "tube CMD1 ... -- CMD2 ... relie deux commandes par un tube", {
        {"cupcounter et head tournent ensemble, tous deux fils de tube",
         [](const Contexte &c) {
             const auto &o = observer(c);
             return o.ensemble ? tenu() : si_observe(o);
         }},
        {"la sortie 1 de cupcounter et l'entrée 0 de head sont un même tube",
         [](const Contexte &c) {
             const auto &o = observer(c);
             auto montrer_fd = [&](const std::string &nom, pid_t pid, int fd,
                                   const std::string &vu) {
                 return "/proc/" + nombre(pid) + "/fd/" + nombre(fd) + " de " + nom + " : " +
                        (vu.empty() ? "fermé" : vu) +
                        (o.propres.count(vu) ? " (celui de tube lui-même)" : "");
             };
             auto sortie = montrer_fd("cupcounter", o.ecrivain, 1, o.sortie_ecrivain);
             auto entree = montrer_fd("head", o.lecteur, 0, o.entree_lecteur);
             auto a_part = [&](const std::string &vu) {
                 return !vu.starts_with("pipe:") || o.propres.count(vu) > 0;
             };
             if (o.ecrivain > 0 && a_part(o.sortie_ecrivain))
                 return echoue(sortie);
             if (o.lecteur > 0 && a_part(o.entree_lecteur))
                 return echoue(entree);
             if (!o.ensemble)
                 return si_observe(o);
             if (o.sortie_ecrivain != o.entree_lecteur)
                 return echoue(sortie + " ; " + entree);
             return tenu();
         }},
        {"tube ne tient plus le tube ; chaque commande n'en tient que son bout",
         [](const Contexte &c) {
             const auto &o = observer(c);
             if (!o.ensemble)
                 return si_observe(o);
             if (!o.en_trop.empty())
                 return echoue(joindre(o.en_trop));
             return tenu();
         }},
        {"head est recueilli dès sa fin, même si cupcounter vit encore",
         [](const Contexte &c) {
             const auto &o = observer(c);
             if (!o.ensemble)
                 return si_observe(o);
             if (!o.lecteur_fini)
                 return echoue("head n'a pas fini en 3 s");
             if (!*o.lecteur_recueilli)
                 return echoue("cupcounter arrêté, head (pid " + nombre(o.lecteur) +
                               ") est encore là après 1 s : " + o.etat_lecteur);
             return tenu();
         }},
        {"head fini, cupcounter meurt à sa ligne suivante, puis tube finit",
         [](const Contexte &c) {
             const auto &o = observer(c);
             if (!o.ensemble)
                 return si_observe(o);
             if (!o.code)
                 return echoue("tube toujours en cours 3 s après la reprise de cupcounter" +
                               (o.tenants.empty() ? std::string()
                                                  : " ; " + joindre(o.tenants)));
             if (o.ecrivain_reste)
                 return echoue("tube a fini avant cupcounter (pid " + nombre(o.ecrivain) +
                               "), sans l'attendre");
             return tenu();
         }},
        {"tube cupcounter -- head -n 2 écrit 2 lignes de cupcounter, code 0",
         [](const Contexte &c) {
             const auto &o = observer(c);
             if (!o.code)
                 return echoue("tube toujours en cours : sortie « " + montrer(o.sortie) + " »");
             if (*o.code != 0)
                 return echoue("code " + nombre(*o.code) + " (attendu : 0, celui de head)");
             std::string p = nombre(o.ecrivain);
             return octets(o.sortie, "pid : " + p + ", cup number 0\npid : " + p +
                                         ", cup number 1\n");
         }},
        {"echo bonjour | cat : « bonjour », fini en moins d'une seconde, code 0",
         [](const Contexte &c) {
             Processus p({.programme = c.programme, .arguments = {"echo", "bonjour", "--", "cat"},
                          .environnement = chemin(c)});
             auto code = p.attendre(1s);
             if (!code) {
                 // Who keeps cat waiting: every write end of the pipe it reads.
                 std::vector<std::pair<std::string, pid_t>> qui = {{"tube", p.pid()}};
                 pid_t chat = -1;
                 for (const auto &e : enfants_de(p.pid())) {
                     qui.push_back({e.etat.nom, e.pid});
                     if (e.etat.nom == "cat")
                         chat = e.pid;
                 }
                 std::vector<std::string> ecrivains;
                 if (chat > 0)
                     for (const auto &t : bouts_en_trop(tube_de(chat, 0), qui, {}))
                         if (t.find("d'écriture") != std::string::npos)
                             ecrivains.push_back(t);
                 return echoue("toujours en cours après 1 s" +
                               (ecrivains.empty() ? std::string()
                                                  : " : cat attend, " + joindre(ecrivains)));
             }
             auto sortie = p.lire_tout(Canal::sortie, 1s);
             if (*code != 0)
                 return echoue("code " + nombre(*code) + ", sortie « " + montrer(sortie) + " »");
             return octets(sortie, "bonjour\n");
         }},
        {"le code est celui de la seconde commande : 1, 0, 7, puis 143",
         [](const Contexte &c) {
             const std::vector<std::pair<std::vector<std::string>, int>> cas = {
                 {{"true", "--", "false"}, 1},
                 {{"false", "--", "true"}, 0},
                 {{"true", "--", "sh", "-c", "exit 7"}, 7},
                 {{"true", "--", "sh", "-c", "kill -TERM $$"}, 143},
             };
             for (const auto &[arguments, attendu] : cas) {
                 auto r = executer({.programme = c.programme, .arguments = arguments,
                                          .entree = Flux::nul, .environnement = chemin(c)}, 3s);
                 if (r.code != attendu) {
                     std::string commande;
                     for (const auto &a : arguments)
                         commande += " " + (a.find(' ') != std::string::npos ? "'" + a + "'" : a);
                     return echoue("tube" + commande + " : " + fin(r) + ", attendu : code " +
                                   nombre(attendu));
                 }
             }
             return tenu();
         }},
        {"commande impossible : « Echec execvp : ... », puis le code 127 ou 126",
         [](const Contexte &c) {
             struct Cas {
                 std::vector<std::string> arguments;
                 std::string message;
                 int code;
             };
             const std::vector<Cas> cas = {
                 {{"echo", "x", "--", "nulle-part-xyz"}, "No such file or directory", 127},
                 {{"true", "--", "/etc/passwd"}, "Permission denied", 126},
                 {{"nulle-part-xyz", "--", "true"}, "No such file or directory", 0},
             };
             for (const auto &k : cas) {
                 auto r = executer({.programme = c.programme, .arguments = k.arguments,
                                          .entree = Flux::nul, .environnement = chemin(c)}, 3s);
                 std::string attendu = "Echec execvp : " + k.message + "\n";
                 std::string commande;
                 for (const auto &a : k.arguments)
                     commande += " " + a;
                 if (r.code != k.code || r.erreur.find(attendu) == std::string::npos)
                     return echoue("tube" + commande + " : " + fin(r) + ", erreur « " +
                                   montrer(r.erreur) + " » ; attendu : code " +
                                   nombre(k.code) + ", « " + montrer(attendu) + " »");
             }
             return tenu();
         }},
        {"sans « -- » ou avec une commande vide : usage, rien de lancé, code 2",
         [](const Contexte &c) {
             const std::vector<std::vector<std::string>> cas = {
                 {"cupcounter"}, {"--", "cat"}, {"cat", "--"}};
             for (const auto &arguments : cas) {
                 auto r = executer({.programme = c.programme, .arguments = arguments,
                                          .entree = Flux::nul, .environnement = chemin(c)},
                                         2s);
                 std::string commande;
                 for (const auto &a : arguments)
                     commande += " " + a;
                 if (r.code != 2 || r.erreur.empty() || !r.sortie.empty())
                     return echoue("tube" + commande + " : " + fin(r) + ", sortie « " +
                                   montrer(r.sortie) + " », erreur « " + montrer(r.erreur) +
                                   " »");
             }
             return tenu();
         }},
    }};
}

} // namespace exercices
