// signaux: count once a second until SIGINT or SIGTERM, reaping the child
#include "exercice.h"
#include "suivi.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace exercices {

using namespace lancement;

namespace {

double depuis(Horloge::time_point t)
{
    return std::chrono::duration<double>(Horloge::now() - t).count();
}

// How a run ended: « code 7 », « tué par le signal 15 », or still running.
std::string fin_de(std::optional<int> code, const std::string &sinon = "toujours en cours")
{
    if (!code)
        return sinon;
    if (*code < 0)
        return "tué par le signal " + nombre(-*code);
    return "code " + nombre(*code);
}

// The program's child, once it runs (a non-zombie child of the program).
pid_t fils_de(pid_t parent, Duree limite = 1s)
{
    pid_t fils = -1;
    attendre_que([&] {
        for (const auto &e : enfants_de(parent))
            if (e.etat.etat != 'Z')
                fils = e.pid;
        return fils > 0;
    }, limite);
    return fils;
}

// What the program has written once it holds one of the motifs; sooner when
// it has ended, or has written a line that is none of the exercise's (a
// program that does something else is not waited for, line after line).
std::string lire_jusqu_a_ligne(Processus &p, const std::vector<std::string> &motifs,
                               Duree limite)
{
    static const std::regex connue("tasse \\d+|fils .*|total : .*");
    auto fin = Horloge::now() + limite;
    for (;;) {
        std::string vu = p.lire_jusqu_a(Canal::sortie, motifs.front(), 5ms);
        for (const auto &m : motifs)
            if (vu.find(m) != std::string::npos)
                return vu;
        if (Horloge::now() >= fin || p.attendre(0ms))
            return vu;
        std::istringstream lignes(vu);
        for (std::string ligne; std::getline(lignes, ligne);)
            if (!lignes.eof() && !std::regex_match(ligne, connue))
                return vu;
    }
}

std::string lire_jusqu_a_ligne(Processus &p, const std::string &motif, Duree limite)
{
    return lire_jusqu_a_ligne(p, std::vector<std::string>{motif}, limite);
}

// How many times motif is found in texte.
int compter(const std::string &texte, const std::string &motif)
{
    int n = 0;
    for (auto pos = texte.find(motif); pos != std::string::npos; pos = texte.find(motif, pos + 1))
        n++;
    return n;
}

// Follows the program's system calls with ptrace, as strace does, until it
// writes motif on its stdout; avant() is called as that write begins. The
// moment the write returns, before the program runs a single instruction of
// its own, sig is sent: a handler then finds stdio with the line written but
// not yet taken off its buffer, where a printf in a handler writes it twice.
// Returns what went wrong, or "" once the signal is sent.
std::string signal_au_retour_d_ecriture(pid_t pid, const std::string &motif, int sig,
                                        const std::function<void()> &avant, Duree limite)
{
    if (auto refus = saisir(pid); !refus.empty())
        return refus;
    auto ecrit = [&](const AppelSuivi &a) {
        bool cible = (a.numero == SYS_write || a.numero == SYS_writev) && a.arguments[0] == 1 &&
                     octets_ecrits(pid, a).find(motif) != std::string::npos;
        if (cible)
            avant();
        return cible;
    };
    auto envoyer = [&](long retour) {
        if (retour <= 0)
            return false;
        kill(pid, sig); // delivered as it leaves the kernel
        return true;
    };
    auto raison = suivre(pid, ecrit, envoyer, limite);
    if (raison.starts_with("le programme a fini"))
        return raison + " sans écrire " + cite(motif);
    if (raison.starts_with("le moment"))
        return cite(motif) + " pas écrit en " +
               en_secondes(std::chrono::duration<double>(limite).count());
    return raison;
}

// What a program that wrote no « tasse 1 » did instead.
std::string sans_tasse_1(const std::string &vu, bool tourne)
{
    if (vu.empty() && tourne)
        return "en 2 s, rien n'est sorti du programme par le tube de sa sortie, alors qu'il "
               "tournait : « tasse 1 » est restée dans le tampon de stdio (pas de fflush ?)";
    return "pas de « tasse 1 » en 2 s : reçu " + cite(vu) +
           (tourne ? "" : ", et le programme a fini");
}

// « signaux sh -c 'read x; exit 3' », left alone: the child ends 0,3 s after
// « tasse 1 », in the middle of the program's wait, and « tasse 2 » must come
// between 0,9 s and 1,1 s after « tasse 1 », the checker's own lateness in
// reading either line counted (Veille).
struct Rythme {
    std::string avant;     // what came instead of « tasse 1 »
    bool tourne = false;   // the program still running then
    bool lignes = false;   // « tasse 1 » and « tasse 2 » came
    std::string sortie;
    double ecart = 0;      // from « tasse 1 » to « tasse 2 »
    Veille veille;
};

Rythme rythme_une_fois(const Contexte &c)
{
    Rythme o;
    Processus p({.programme = c.programme, .arguments = {"sh", "-c", "read x; exit 3"},
                 .environnement = chemin(c)});
    // Looks every 5 ms, each one timed.
    auto lire = [&](const std::string &motif, Duree limite) {
        auto jusqu_a = Horloge::now() + limite;
        std::string vu;
        do {
            o.veille.regarder();
            vu = p.lire_jusqu_a(Canal::sortie, motif, 5ms);
        } while (vu.find(motif) == std::string::npos && Horloge::now() < jusqu_a &&
                 !p.attendre(0ms));
        o.veille.regarder();
        return vu;
    };
    o.sortie = lire("tasse 1\n", 2s);
    auto t1 = Horloge::now();
    if (o.sortie.find("tasse 1\n") == std::string::npos) {
        o.avant = o.sortie;
        o.tourne = !p.attendre(0ms);
        return o;
    }
    while (Horloge::now() < t1 + 300ms) {
        o.veille.regarder();
        std::this_thread::sleep_for(5ms);
    }
    try {
        p.ecrire("\n");
    } catch (const std::exception &) {
        // the program has closed its stdin, or ended: seen below
    }
    o.sortie = lire("tasse 2\n", 3s);
    o.ecart = depuis(t1);
    o.lignes = o.sortie.find("tasse 2\n") != std::string::npos;
    return o;
}

const Rythme &rythme(const Contexte &c)
{
    return c.memoire->une_fois<Rythme>("signaux sh -c read, libre",
                                       [&] { return rythme_une_fois(c); });
}

// « signaux sh -c 'read x; exit 3' » again: SIGINT comes the moment the write
// of « tasse 2 » returns (or, without ptrace, 0,3 s after it has been read).
struct Compte {
    std::string avant;   // what came instead of « tasse 1 »
    bool tourne = false; // the program still running then
    bool lignes = false; // « tasse 1 » and « tasse 2 » came
    std::string sans_ptrace; // why the signal could not be timed on the write
    std::string sortie;      // everything written up to the end
    pid_t fils = -1;
    bool fils_present = false; // still in /proc as « tasse 2 » was written
    std::string etat_fils;
    std::optional<int> code;
};

Compte compter_avec_fils_une_fois(const Contexte &c)
{
    Compte o;
    Processus p({.programme = c.programme, .arguments = {"sh", "-c", "read x; exit 3"},
                 .environnement = chemin(c)});
    std::string vu = lire_jusqu_a_ligne(p, "tasse 1\n", 2s);
    auto t1 = Horloge::now();
    if (vu.find("tasse 1\n") == std::string::npos) {
        o.avant = vu;
        o.tourne = !p.attendre(0ms);
    } else {
        o.fils = fils_de(p.pid());
        std::this_thread::sleep_until(t1 + 300ms);
        try {
            p.ecrire("\n");
        } catch (const std::exception &) {
            // the program has closed its stdin, or ended: seen below
        }
        auto regarder_fils = [&] {
            if (auto e = o.fils > 0 ? lire_stat(o.fils) : std::nullopt) {
                o.fils_present = true;
                o.etat_fils = "état " + std::string(1, e->etat);
            }
        };
        o.sans_ptrace =
            signal_au_retour_d_ecriture(p.pid(), "tasse 2\n", SIGINT, regarder_fils, 3s);
        o.lignes = o.sans_ptrace.empty();
        if (o.sans_ptrace.starts_with("ptrace")) {
            vu = lire_jusqu_a_ligne(p, "tasse 2\n", 3s);
            if (vu.find("tasse 2\n") != std::string::npos) {
                o.lignes = true;
                regarder_fils();
                std::this_thread::sleep_for(300ms);
                kill(p.pid(), SIGINT);
            }
        }
    }
    o.code = p.attendre(o.lignes ? 2s : 0s);
    o.sortie = p.lire_tout(Canal::sortie, o.code ? 1s : 100ms);
    return o;
}

const Compte &compter_avec_fils(const Contexte &c)
{
    return c.memoire->une_fois<Compte>("signaux sh -c read", [&] { return compter_avec_fils_une_fois(c); });
}

std::string rapport(pid_t fils, const std::string &fin)
{
    return "fils " + nombre(fils) + " " + fin + "\n";
}

// « signaux sh -c 'read x; exit 3' » once more: the program held at the
// return of its write of « tasse 2 » (ptrace), its child made to end then
// (a line on its input), and let go with SIGCHLD waiting: a handler that
// writes with stdio finds « tasse 2 » still in the buffer, and writes it again.
struct Juste {
    std::string pourquoi; // when it could not be set up
    bool douteux = false; // ... for a reason of the machine's
    pid_t fils = -1;
    std::string sortie;
    std::optional<int> code;
};

Juste fils_au_retour_une_fois(const Contexte &c)
{
    Juste o;
    Processus p({.programme = c.programme, .arguments = {"sh", "-c", "read x; exit 3"},
                 .environnement = chemin(c)});
    std::string vu = lire_jusqu_a_ligne(p, "tasse 1\n", 2s);
    if (vu.find("tasse 1\n") == std::string::npos) {
        o.pourquoi = sans_tasse_1(vu, !p.attendre(0ms));
        return o;
    }
    o.fils = fils_de(p.pid());
    if (auto refus = saisir(p.pid()); !refus.empty()) {
        o.pourquoi = refus + " : la fin du fils n'a pas pu suivre l'écriture";
        o.douteux = true;
        return o;
    }
    bool fini = false;
    auto ecrit = [&](const AppelSuivi &a) {
        return (a.numero == SYS_write || a.numero == SYS_writev) && a.arguments[0] == 1 &&
               octets_ecrits(p.pid(), a).find("tasse 2\n") != std::string::npos;
    };
    auto finir_le_fils = [&](long retour) {
        if (retour <= 0)
            return false;
        try {
            p.ecrire("\n", 1s);
        } catch (const std::exception &) {
            // stdin closed: the child does not end, seen below
        }
        fini = attendre_que([&] {
            auto e = o.fils > 0 ? lire_stat(o.fils) : std::nullopt;
            return !e || e->etat == 'Z';
        }, 2s);
        return true;
    };
    auto raison = suivre(p.pid(), ecrit, finir_le_fils, 3s);
    if (!raison.empty() || !fini) {
        o.pourquoi = !raison.empty() ? raison : "le fils n'a pas fini en 2 s";
        o.douteux = raison.empty();
        return o;
    }
    p.lire_jusqu_a(Canal::sortie, "tasse 3\n", 2s);
    kill(p.pid(), SIGINT);
    o.code = p.attendre(2s);
    o.sortie = p.lire_tout(Canal::sortie, o.code ? 1s : 100ms);
    return o;
}

const Juste &fils_au_retour(const Contexte &c)
{
    return c.memoire->une_fois<Juste>("signaux sh -c read, fils fini au retour d'écriture",
                                      [&] { return fils_au_retour_une_fois(c); });
}

// « signaux sleep 30 »: the program held stopped while its child is killed
// and SIGTERM is sent, so that both signals are waiting when it goes on.
struct Ensemble {
    bool mis_en_place = false;
    std::string pourquoi; // when it could not be set up
    pid_t fils = -1;
    std::string sortie;
    std::optional<int> code;
    double duree = 0; // from SIGCONT to the end
    bool fils_reste = false;
};

Ensemble signaux_ensemble_une_fois(const Contexte &c)
{
    Ensemble o;
    Processus p({.programme = c.programme, .arguments = {"sleep", "30"},
                 .entree = Flux::nul, .environnement = chemin(c)});
    std::string vu = lire_jusqu_a_ligne(p, "tasse 1\n", 2s);
    if (vu.find("tasse 1\n") != std::string::npos)
        o.fils = fils_de(p.pid());
    auto arrete = [&](char etat) {
        return attendre_que([&] {
            auto e = lire_stat(p.pid());
            return e && e->etat == etat;
        }, 1s);
    };
    if (vu.find("tasse 1\n") == std::string::npos)
        o.pourquoi = "pas de « tasse 1 » : « " + montrer(vu) + " »";
    else if (o.fils <= 0)
        o.pourquoi = "aucun fils vivant dans /proc";
    else {
        // Inside its wait, not between two lines: a program that tests its
        // flag only after the wait would otherwise be stopped just before it
        // and caught a second late, or not, as the scheduler pleases.
        std::this_thread::sleep_for(200ms);
        arrete('S');
        kill(p.pid(), SIGSTOP);
        if (!arrete('T'))
            o.pourquoi = "le programme ne s'est pas arrêté";
        else {
            kill(o.fils, SIGKILL);
            attendre_que([&] {
                auto e = lire_stat(o.fils);
                return !e || e->etat == 'Z';
            }, 1s);
            kill(p.pid(), SIGTERM);
            o.mis_en_place = true;
        }
        kill(p.pid(), SIGCONT);
    }
    auto reprise = Horloge::now();
    o.code = p.attendre(o.mis_en_place ? 600ms : 0ms); // half a second is the promise
    o.duree = depuis(reprise);
    o.sortie = p.lire_tout(Canal::sortie, o.code ? 1s : 100ms);
    o.fils_reste = o.fils > 0 && lire_stat(o.fils).has_value();
    return o;
}

const Ensemble &signaux_ensemble(const Contexte &c)
{
    return c.memoire->une_fois<Ensemble>("signaux sleep 30, arrêté", [&] { return signaux_ensemble_une_fois(c); });
}

// « signaux sleep 30 » whose output is full: after « tasse 1 » the pipe is
// filled (through /proc/PID/fd/1) so that « tasse 2 » blocks; SIGINT and
// SIGTERM come while it does; only then is the pipe read.
struct Bloque {
    bool mis_en_place = false;
    std::string pourquoi;
    bool douteux = false; // not set up for a reason of the machine's
    pid_t fils = -1;
    std::string apres; // what the program wrote after the filling
    std::optional<int> code;
    double total_apres = -1; // seconds from the draining to « total : »
    bool fils_reste = false;
};

Bloque sortie_bloquee_une_fois(const Contexte &c)
{
    Bloque o;
    Processus p({.programme = c.programme, .arguments = {"sleep", "30"},
                 .entree = Flux::nul, .environnement = chemin(c)});
    std::string vu = lire_jusqu_a_ligne(p, "tasse 1\n", 2s);
    if (vu == "tasse 1\n")
        o.fils = fils_de(p.pid());
    std::size_t rempli = 0;
    if (vu != "tasse 1\n")
        o.pourquoi = "la sortie était « " + montrer(vu) + " » au lieu de « tasse 1\\n »";
    else {
        int fd = open(("/proc/" + nombre(p.pid()) + "/fd/1").c_str(),
                      O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
        {
            o.pourquoi = std::string("/proc/PID/fd/1 : ") + std::strerror(errno);
            o.douteux = true;
        }
        else {
            const std::string bourre(4096, '.');
            for (std::size_t morceau = bourre.size(); morceau > 0; morceau /= 2) {
                ssize_t n;
                while ((n = write(fd, bourre.data(), morceau)) > 0)
                    rempli += static_cast<std::size_t>(n);
            }
            close(fd);
            if (!attendre_que([&] { return ecriture_bloquee(p.pid()) || p.attendre(0ms); },
                              3s)) {
                o.pourquoi = "l'écriture de « tasse 2 » n'a pas été vue bloquée";
                o.douteux = true;
            }
            else if (!p.attendre(0ms)) {
                // Each signal once the one before has been taken (its
                // handler has run), however slow the machine: a handler that
                // puts back the default action after its first signal then
                // meets a second one, every time.
                for (int sig : {SIGINT, SIGTERM, SIGINT, SIGTERM}) {
                    kill(p.pid(), sig);
                    attendre_que([&] {
                        return p.attendre(0ms) || !signal_en_attente(p.pid(), sig) ||
                               signal_bloque(p.pid(), sig);
                    }, 1s);
                    if (p.attendre(0ms))
                        break;
                }
                std::this_thread::sleep_for(200ms);
                o.mis_en_place = true;
            } else
                o.mis_en_place = true; // it ended on its own: seen below
        }
    }
    if (!o.mis_en_place)
        return o;
    auto vidange = Horloge::now();
    std::string tout = p.lire_jusqu_a(Canal::sortie, "total : ", 3s);
    o.total_apres = depuis(vidange);
    o.code = p.attendre(2s);
    tout = p.lire_tout(Canal::sortie, o.code ? 1s : 100ms);
    o.apres = tout.size() >= 8 + rempli ? tout.substr(8 + rempli) : "";
    o.fils_reste = o.fils > 0 && lire_stat(o.fils).has_value();
    return o;
}

const Bloque &sortie_bloquee(const Contexte &c)
{
    return c.memoire->une_fois<Bloque>("signaux sleep 30, sortie pleine", [&] { return sortie_bloquee_une_fois(c); });
}


} // namespace

Exercice exercice_signaux()
{
    return {"signaux", "cupcounter",
            "signaux [CMD...] compte chaque seconde jusqu'à SIGINT ou SIGTERM", {
        {"une ligne par seconde (entre 0,9 s et 1,1 s après la précédente), même si le fils "
         "finit pendant l'attente",
         [](const Contexte &c) {
             const auto &o = rythme(c);
             if (!o.lignes)
                 return echoue(o.sortie.find("tasse 1\n") == std::string::npos
                                   ? sans_tasse_1(o.avant, o.tourne)
                                   : "pas de « tasse 2 » en 3 s : reçu " + cite(o.sortie));
             const std::string quand = "« tasse 2 » " + en_secondes(o.ecart) +
                                       " après « tasse 1 » ; le fils avait fini 0,3 s après "
                                       "« tasse 1 »";
             switch (o.veille.juger_au_moins(o.ecart, 0.9)) {
             case Verdict::echoue:
                 return echoue(quand + " : l'attente interrompue n'a pas repris");
             case Verdict::impossible:
                 return impossible(quand + ", et " + o.veille.doute());
             case Verdict::tenu:
                 break;
             }
             switch (o.veille.juger(o.ecart, 1.1)) {
             case Verdict::echoue:
                 return echoue(quand + " : l'attente interrompue a recommencé une seconde "
                               "entière au lieu de reprendre pour le temps qui restait");
             case Verdict::impossible:
                 return impossible(quand + ", et " + o.veille.doute());
             case Verdict::tenu:
                 break;
             }
             return tenu();
         }},
        {"le fils fini est recueilli et rapporté avant la ligne suivante",
         [](const Contexte &c) {
             const auto &o = compter_avec_fils(c);
             if (o.sortie.find("tasse 1\n") == std::string::npos)
                 return echoue(sans_tasse_1(o.avant, o.tourne));
             if (o.fils <= 0)
                 return echoue("après « tasse 1 », aucun fils vivant du programme dans /proc : "
                               "la commande n'a pas été lancée");
             if (!o.lignes)
                 return echoue("pas de « tasse 2 » : reçu " + cite(o.sortie));
             if (o.fils_present)
                 return echoue("à « tasse 2 », le fils (pid " + nombre(o.fils) +
                               ") est encore dans /proc, " + o.etat_fils);
             auto debut = o.sortie.find("tasse 1\n") + 8;
             auto entre = o.sortie.substr(debut, o.sortie.find("tasse 2\n") - debut);
             return octets(entre, rapport(o.fils, "terminé, code 3"));
         }},
        {"SIGINT juste après l'écriture d'une ligne : rien en double, un total",
         [](const Contexte &c) {
             const auto &o = compter_avec_fils(c);
             if (!o.lignes)
                 return echoue("le comptage n'a pas atteint « tasse 2 »");
             if (!o.sans_ptrace.empty())
                 return impossible(o.sans_ptrace + " : SIGINT n'a pas pu suivre l'écriture");
             if (o.code != 0)
                 return echoue(fin_de(o.code, "toujours en cours 2 s après SIGINT") +
                               ", sortie « " + montrer(o.sortie) + " »");
             // The report is the criterion above's.
             return octets(std::regex_replace(o.sortie, std::regex("fils [^\n]*\n"), ""),
                           "tasse 1\ntasse 2\ntotal : 2\n");
         }},
        {"le fils qui finit juste après l'écriture d'une ligne : rien en double, un rapport",
         [](const Contexte &c) {
             const auto &o = fils_au_retour(c);
             if (!o.pourquoi.empty())
                 return o.douteux ? impossible(o.pourquoi) : echoue(o.pourquoi);
             std::string attendu = "tasse 1\ntasse 2\n" + rapport(o.fils, "terminé, code 3") +
                                   "tasse 3\ntotal : 3\n";
             if (compter(o.sortie, "tasse 2\n") > 1)
                 return echoue("le fils fini à l'instant où l'écriture de « tasse 2 » se "
                               "terminait, « tasse 2 » paraît deux fois : reçu " +
                               cite(o.sortie) + " (un printf dans un gestionnaire ?)");
             if (o.code != 0)
                 return echoue(fin_de(o.code, "toujours en cours 2 s après SIGINT") +
                               ", sortie " + cite(o.sortie));
             return octets(o.sortie, attendu);
         }},
        {"SIGKILL au fils et SIGTERM arrivés ensemble : rapport, puis total",
         [](const Contexte &c) {
             const auto &o = signaux_ensemble(c);
             if (!o.mis_en_place)
                 return echoue(o.pourquoi);
             if (o.code != 0)
                 return echoue(fin_de(o.code, "toujours en cours après 0,6 s") + ", sortie « " +
                               montrer(o.sortie) + " »");
             if (o.fils_reste)
                 return echoue("le fils (pid " + nombre(o.fils) + ") n'a pas été recueilli");
             if (auto v = octets(o.sortie,
                                 "tasse 1\n" + rapport(o.fils, "tué par SIGKILL") + "total : 1\n");
                 v.sorte != Verdict::tenu)
                 return v;
             if (o.duree > 0.5)
                 return echoue("fini " + en_secondes(o.duree) + " après SIGCONT");
             return tenu();
         }},
        {"SIGINT et SIGTERM pendant une écriture bloquée : ligne finie, un total",
         [](const Contexte &c) {
             const auto &o = sortie_bloquee(c);
             if (!o.mis_en_place)
                 return o.douteux ? impossible(o.pourquoi) : echoue(o.pourquoi);
             if (o.code != 0)
                 return echoue(fin_de(o.code) + ", écrit ensuite " + cite(o.apres));
             std::string sans_fils =
                 std::regex_replace(o.apres, std::regex("fils [^\n]*\n"), "");
             return octets(sans_fils, "tasse 2\ntotal : 2\n");
         }},
        {"après une écriture bloquée, le total suit en moins de 0,5 s",
         [](const Contexte &c) {
             const auto &o = sortie_bloquee(c);
             if (!o.mis_en_place)
                 return o.douteux ? impossible(o.pourquoi) : echoue(o.pourquoi);
             if (o.apres.find("total : ") == std::string::npos)
                 return echoue("pas de « total » : « " + montrer(o.apres) + " »");
             if (o.total_apres > 0.5)
                 return echoue("« total » " + en_secondes(o.total_apres) +
                               " après la fin du blocage : le signal venu pendant "
                               "l'écriture n'a été vu qu'à la fin de l'attente suivante");
             return tenu();
         }},
        {"le fils encore vivant reçoit SIGTERM, est recueilli et rapporté",
         [](const Contexte &c) {
             const auto &o = sortie_bloquee(c);
             if (!o.mis_en_place)
                 return o.douteux ? impossible(o.pourquoi) : echoue(o.pourquoi);
             if (o.fils <= 0)
                 return echoue("aucun fils vivant sous le programme dans /proc");
             if (o.fils_reste)
                 return echoue("le fils (pid " + nombre(o.fils) +
                               ") est encore là après la fin du programme");
             auto ligne = rapport(o.fils, "tué par SIGTERM");
             auto total = o.apres.find("total : ");
             if (compter(o.apres, "fils ") != 1 || o.apres.find(ligne) > total)
                 return echoue("écrit « " + montrer(o.apres) + " », attendu « " +
                               montrer(ligne) + " » une fois, avant le total");
             return tenu();
         }},
        {"commande introuvable : « Echec execvp : ... », puis « ... code 127 »",
         [](const Contexte &c) {
             Processus p({.programme = c.programme, .arguments = {"nulle-part-xyz"},
                          .entree = Flux::nul, .environnement = chemin(c)});
             // The report comes before « tasse 2 » at the latest.
             std::string sortie =
                 lire_jusqu_a_ligne(p, std::vector<std::string>{", code 127\n", "tasse 2\n"}, 3s);
             kill(p.pid(), SIGTERM);
             p.attendre(1s);
             std::string erreur = p.lire_tout(Canal::erreur, 1s);
             sortie = p.lire_tout(Canal::sortie, 1s);
             static const std::regex ligne("fils \\d+ termin\xC3\xA9, code 127\n");
             auto rapports = std::distance(
                 std::sregex_iterator(sortie.begin(), sortie.end(), ligne), {});
             if (erreur.find("Echec execvp : No such file or directory\n") == std::string::npos ||
                 rapports != 1)
                 return echoue("sortie « " + montrer(sortie) + " », erreur « " +
                               montrer(erreur) + " »");
             return tenu();
         }},
    }};
}

} // namespace exercices
