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

// « tube a -- b c », as a student would type it.
std::string commande(const std::vector<std::string> &arguments)
{
    std::string texte = "tube";
    for (const auto &a : arguments)
        texte += " " + (a.find(' ') != std::string::npos ? "'" + a + "'" : a);
    return texte;
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

Observation observer_une_fois(const Contexte &c)
{
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
    return o;
}

const Observation &observer(const Contexte &c)
{
    return c.memoire->une_fois<Observation>("tube cupcounter -- head",
                                            [&] { return observer_une_fois(c); });
}

Verdict si_observe(const Observation &o)
{
    return echoue("fils de tube vivants : " + (o.enfants.empty() ? "aucun" : o.enfants) +
                  (o.ecrivain > 0 && o.lecteur < 0 ? " ; head n'a pas été vu vivant" : ""));
}

Verdict ensemble(const Contexte &c)
{
    const auto &o = observer(c);
    return o.ensemble ? tenu() : si_observe(o);
}

Verdict meme_tube(const Contexte &c)
{
    const auto &o = observer(c);
    auto montrer_fd = [&](const std::string &nom, pid_t pid, int fd, const std::string &vu) {
        return "/proc/" + nombre(pid) + "/fd/" + nombre(fd) + " de " + nom + " : " +
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
        return echoue(sortie + " ; " + entree);
    return tenu();
}

Verdict bouts_fermes(const Contexte &c)
{
    const auto &o = observer(c);
    if (!o.ensemble)
        return si_observe(o);
    if (!o.en_trop.empty())
        return echoue(joindre(o.en_trop));
    return tenu();
}

Verdict lecteur_recueilli(const Contexte &c)
{
    const auto &o = observer(c);
    if (!o.ensemble)
        return si_observe(o);
    if (!o.lecteur_fini)
        return echoue("head n'a pas fini en 3 s");
    if (!*o.lecteur_recueilli)
        return echoue("cupcounter arrêté, head (pid " + nombre(o.lecteur) +
                      ") est encore là après 1 s : " + o.etat_lecteur);
    return tenu();
}

Verdict fin_apres_ecrivain(const Contexte &c)
{
    const auto &o = observer(c);
    if (!o.ensemble)
        return si_observe(o);
    if (!o.code)
        return echoue("tube toujours en cours 3 s après la reprise de cupcounter" +
                      (o.tenants.empty() ? std::string() : " ; " + joindre(o.tenants)));
    if (o.ecrivain_reste)
        return echoue("tube a fini avant cupcounter (pid " + nombre(o.ecrivain) +
                      "), sans l'attendre");
    return tenu();
}

Verdict deux_lignes(const Contexte &c)
{
    const auto &o = observer(c);
    if (!o.code)
        return echoue("tube toujours en cours : sortie " + cite(o.sortie));
    if (*o.code != 0)
        return echoue(fin(*o.code) + " (attendu : code 0, celui de head)");
    std::string p = nombre(o.ecrivain);
    return octets(o.sortie, "pid : " + p + ", cup number 0\npid : " + p + ", cup number 1\n");
}

// A run that must end within limite; when it does not, where it hangs.
std::optional<Verdict> bloque(Processus &p, const std::string &quoi, Duree limite)
{
    if (p.attendre(limite))
        return std::nullopt;
    return echoue(quoi + " ne finit pas : après " +
                  en_secondes(std::chrono::duration<double>(limite).count()) + ", " +
                  ou_il_attend("tube", p.pid()));
}

Verdict bonjour(const Contexte &c)
{
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
                      (ecrivains.empty() ? " : " + ou_il_attend("tube", p.pid())
                                         : " : cat attend, " + joindre(ecrivains)));
    }
    auto sortie = p.lire_tout(Canal::sortie, 1s);
    if (*code != 0)
        return echoue(fin(*code) + ", sortie " + cite(sortie));
    return octets(sortie, "bonjour\n");
}

Verdict codes(const Contexte &c)
{
    const std::vector<std::pair<std::vector<std::string>, int>> cas = {
        {{"true", "--", "false"}, 1},
        {{"false", "--", "true"}, 0},
        {{"true", "--", "sh", "-c", "exit 7"}, 7},
        {{"true", "--", "sh", "-c", "kill -TERM $$"}, 143},
    };
    for (const auto &[arguments, attendu] : cas) {
        Processus p({.programme = c.programme, .arguments = arguments, .entree = Flux::nul,
                     .environnement = chemin(c)});
        if (auto v = bloque(p, commande(arguments), 3s))
            return *v;
        auto code = p.attendre(0ms);
        if (code != attendu)
            return echoue(commande(arguments) + " : " + fin(*code) + ", attendu : code " +
                          nombre(attendu));
    }
    return tenu();
}

Verdict impossibles(const Contexte &c)
{
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
        if (r.code != k.code || r.erreur.find(attendu) == std::string::npos)
            return echoue(commande(k.arguments) + " : " + fin(r) + ", sortie d'erreur " +
                          cite(r.erreur) + " ; attendu : code " + nombre(k.code) + " et " +
                          cite(attendu) + " sur la sortie d'erreur");
    }
    return tenu();
}

Verdict usage(const Contexte &c)
{
    const std::vector<std::vector<std::string>> cas = {
        {"cupcounter"}, {"--", "cat"}, {"cat", "--"}};
    for (const auto &arguments : cas) {
        auto r = executer({.programme = c.programme, .arguments = arguments,
                           .entree = Flux::nul, .environnement = chemin(c)}, 2s);
        if (r.code != 2 || r.erreur.empty() || !r.sortie.empty())
            return echoue(commande(arguments) + " : " + fin(r) + ", sortie " + cite(r.sortie) +
                          ", sortie d'erreur " + cite(r.erreur) +
                          " ; attendu : code 2, une ligne d'usage sur la sortie d'erreur et "
                          "rien sur la sortie");
    }
    return tenu();
}

// Only the first "--" splits: what follows belongs to CMD2, "--" included.
Verdict premier_separateur(const Contexte &c)
{
    const std::vector<std::string> arguments = {"echo", "x", "--", "grep", "--", "x"};
    Processus p({.programme = c.programme, .arguments = arguments, .entree = Flux::nul,
                 .environnement = chemin(c)});
    if (auto v = bloque(p, commande(arguments), 3s))
        return *v;
    auto code = p.attendre(0ms);
    auto sortie = p.lire_tout(Canal::sortie, 1s);
    auto erreur = p.lire_tout(Canal::erreur, 1s);
    if (code != 0 || sortie != "x\n")
        return echoue(commande(arguments) + " : " + fin(*code) + ", sortie " + cite(sortie) +
                      (erreur.empty() ? "" : ", sortie d'erreur " + cite(erreur)) +
                      " ; attendu : « x\\n » et le code 0, celui de « grep -- x » lancé sur "
                      "la sortie de « echo x »");
    return tenu();
}

// A child whose exec failed must end there: were it to go on with tube's own
// code, it would start commands of its own, which read tube's input.
Verdict rien_d_autre(const Contexte &c)
{
    const std::vector<std::string> arguments = {"nulle-part-xyz", "--", "cat"};
    auto r = executer({.programme = c.programme, .arguments = arguments,
                       .entree = Flux::fichier, .contenu_entree = "SECRET\n",
                       .environnement = chemin(c)}, 3s);
    const std::string message = "Echec execvp : No such file or directory\n";
    std::size_t messages = 0;
    for (auto pos = r.erreur.find(message); pos != std::string::npos;
         pos = r.erreur.find(message, pos + 1))
        messages++;
    std::string vu = "echo SECRET | " + commande(arguments) + " : ";
    if (!r.code)
        return echoue(vu + fin(r));
    if (!r.sortie.empty())
        return echoue(vu + "la sortie est " + cite(r.sortie) +
                      ", attendu rien : le fils dont execvp a échoué a continué dans le code "
                      "de tube et lancé une commande de plus, qui a lu l'entrée de tube");
    if (messages != 1 || r.erreur.size() != message.size())
        return echoue(vu + "sortie d'erreur " + cite(r.erreur) + ", attendu " + cite(message) +
                      " une fois, et rien d'autre");
    if (r.code != 0)
        return echoue(vu + fin(r) + ", attendu : code 0, celui de cat");
    return tenu();
}

// « tube sh -c 'read x' -- cat »: both children are seen running, tube is
// stopped (SIGSTOP), a line on its input ends sh, and with it cat; only once
// both are zombies is tube let go (SIGCONT). Their two SIGCHLD are then one.
Verdict ensemble_finis(const Contexte &c)
{
    const std::vector<std::string> arguments = {"sh", "-c", "read x", "--", "cat"};
    Processus p({.programme = c.programme, .arguments = arguments,
                 .environnement = chemin(c)});
    std::vector<Enfant> fils;
    bool vus = attendre_que([&] {
        fils = enfants_de(p.pid());
        int vivants = 0;
        for (const auto &f : fils)
            vivants += f.etat.etat != 'Z' && (f.etat.nom == "sh" || f.etat.nom == "cat");
        return vivants == 2;
    }, 2s);
    if (!vus)
        return echoue(commande(arguments) + " : sh et cat pas vus vivants ensemble, fils de "
                      "tube, en 2 s");
    // tube sitting in its wait, not still setting things up.
    attendre_que([&] {
        auto e = lire_stat(p.pid());
        return e && e->etat == 'S';
    }, 1s);
    kill(p.pid(), SIGSTOP);
    attendre_que([&] {
        auto e = lire_stat(p.pid());
        return !e || e->etat == 'T';
    }, 1s);
    p.ecrire("\n");
    bool finis = attendre_que([&] {
        for (const auto &f : fils)
            if (auto e = lire_stat(f.pid); e && e->etat != 'Z')
                return false;
        return true;
    }, 2s);
    kill(p.pid(), SIGCONT);
    if (!finis)
        return impossible("sh et cat n'ont pas fini pendant que tube était arrêté");
    if (auto v = bloque(p, commande(arguments) + ", ses deux fils finis ensemble pendant "
                                                 "qu'il était arrêté,",
                        1s))
        return *v;
    auto code = p.attendre(0ms);
    if (code != 0)
        return echoue(commande(arguments) + " : " + fin(*code) + ", attendu : code 0");
    return tenu();
}

} // namespace

Exercice exercice_tube()
{
    return {"tube", "cupcounter | head -n 3",
            "tube CMD1 ... -- CMD2 ... relie deux commandes par un tube", {
        {"cupcounter et head tournent ensemble, tous deux fils de tube", ensemble},
        {"la sortie 1 de cupcounter et l'entrée 0 de head sont un même tube", meme_tube},
        {"tube ne tient plus le tube ; chaque commande n'en tient que son bout", bouts_fermes},
        {"head est recueilli dès sa fin, même si cupcounter vit encore", lecteur_recueilli},
        {"head fini, cupcounter meurt à sa ligne suivante, puis tube finit", fin_apres_ecrivain},
        {"tube cupcounter -- head -n 2 écrit 2 lignes de cupcounter, code 0", deux_lignes},
        {"deux fils finis ensemble (tube arrêté pendant ce temps) sont recueillis tous deux, "
         "et tube finit", ensemble_finis},
        {"echo bonjour | cat : « bonjour », fini en moins d'une seconde, code 0", bonjour},
        {"le code est celui de la seconde commande : 1, 0, 7, puis 143", codes},
        {"commande impossible : « Echec execvp : ... », puis le code 127 ou 126", impossibles},
        {"sans « -- » ou avec une commande vide : usage, rien de lancé, code 2", usage},
        {"seul le premier « -- » sépare : tube echo x -- grep -- x écrit « x »",
         premier_separateur},
        {"une commande impossible ne lance rien d'autre : echo SECRET | tube nulle-part-xyz "
         "-- cat n'écrit rien", rien_d_autre},
    }};
}

} // namespace exercices
