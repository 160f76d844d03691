// The five exercises, each a list of criteria over one student's program.
// To add an exercise: write its statement in exercices/NOM.md, then one
// function below returning its Exercice, and name it in tous_les_exercices.
#include "exercice.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace exercices {

using namespace essai;
using Horloge = std::chrono::steady_clock;

namespace {

const std::string echec_fork = "Echec fork : Resource temporarily unavailable\n";

std::string nombre(long n) { return std::to_string(n); }

// --- ordre: genreport whose parent waits -----------------------------------

struct LignesGenreport {
    bool lues = false;
    bool fils_d_abord = false;
    pid_t pere = 0, grand_pere = 0, res_pere = 0, fils = 0, pere_du_fils = 0;
};

LignesGenreport lire_genreport(const std::string &sortie)
{
    static const std::regex forme("(gen 1 : je suis (\\d+) fils de (\\d+), res = (-?\\d+)\n"
                                  "|  gen 2 : je suis (\\d+) fils de (\\d+), res = 0\n){2}");
    static const std::regex pere("gen 1 : je suis (\\d+) fils de (\\d+), res = (-?\\d+)\n");
    static const std::regex fils("  gen 2 : je suis (\\d+) fils de (\\d+), res = 0\n");
    LignesGenreport l;
    std::smatch m1, m2;
    if (!std::regex_match(sortie, forme) || !std::regex_search(sortie, m1, pere) ||
        !std::regex_search(sortie, m2, fils))
        return l;
    l.lues = true;
    l.pere = std::stoi(m1[1]), l.grand_pere = std::stoi(m1[2]), l.res_pere = std::stoi(m1[3]);
    l.fils = std::stoi(m2[1]), l.pere_du_fils = std::stoi(m2[2]);
    l.fils_d_abord = m2.position(0) < m1.position(0);
    return l;
}

Exercice ordre()
{
    auto une_fois = [](const Contexte &c) { return executer_borne({.programme = c.programme}); };
    return {"ordre", "genreport", "le parent attend la fin de son fils avant d'écrire sa ligne", {
        {"les deux lignes gardent leurs octets exacts", [=](const Contexte &c) {
             auto r = une_fois(c);
             if (!lire_genreport(r.sortie).lues)
                 return echoue("reçu « " + montrer(r.sortie) + " »");
             return tenu();
         }},
        {"sur 20 exécutions dans un tube, la ligne du fils vient d'abord et nomme son vrai "
         "parent", [](const Contexte &c) {
             for (int k = 1; k <= 20; k++) {
                 auto r = executer_borne({.programme = c.programme});
                 auto l = lire_genreport(r.sortie);
                 if (!l.lues)
                     return echoue("exécution " + nombre(k) + " : « " + montrer(r.sortie) + " »");
                 if (!l.fils_d_abord)
                     return echoue("exécution " + nombre(k) + " : la ligne du parent (pid " +
                                   nombre(l.pere) + ") vient en premier");
                 if (l.pere_du_fils != r.pid)
                     return echoue("exécution " + nombre(k) + " : le fils se dit fils de " +
                                   nombre(l.pere_du_fils) + ", son parent était " +
                                   nombre(r.pid) + " (adopté : le parent avait fini)");
             }
             return tenu();
         }},
        {"le res du parent est le pid du fils", [=](const Contexte &c) {
             auto l = lire_genreport(une_fois(c).sortie);
             if (!l.lues || l.res_pere != l.fils)
                 return echoue("res = " + nombre(l.res_pere) + ", fils " + nombre(l.fils));
             return tenu();
         }},
        {"le parent finit avec le code 0", [=](const Contexte &c) {
             auto r = une_fois(c);
             if (r.code != 0)
                 return echoue(fin(r));
             return tenu();
         }},
        {"un fork impossible donne « Echec fork : ... » et le code 11", [](const Contexte &c) {
             if (!echec_fork_possible())
                 return impossible("cette machine ne permet pas de faire échouer fork");
             auto r = executer_borne({.programme = c.programme, .fork_impossible = true});
             if (r.erreur != echec_fork || r.code != 11 || !r.sortie.empty())
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " », sortie « " + montrer(r.sortie) + " »");
             return tenu();
         }},
    }};
}

// --- sans-zombie: keyhold1 that leaves no zombie ----------------------------

Exercice sans_zombie()
{
    return {"sans-zombie", "keyhold1", "aucun zombie pendant que le parent attend sa touche", {
        {"la ligne du fils est inchangée : « pid : N \\n »", [](const Contexte &c) {
             Processus p({.programme = c.programme});
             std::string ligne = p.lire_jusqu_a(Canal::sortie, "\n", 2s);
             if (!std::regex_match(ligne, std::regex("pid : \\d+ \n")))
                 return echoue("reçu « " + montrer(ligne) + " »");
             return tenu();
         }},
        {"pendant que le parent attend, le fils quitte la table des processus en moins de "
         "0,5 s", [](const Contexte &c) {
             Processus p({.programme = c.programme}); // stdin: a pipe kept open
             pid_t fils = pid_dans(p.lire_jusqu_a(Canal::sortie, "\n", 2s));
             if (fils <= 0)
                 return echoue("le fils n'a pas écrit son pid");
             bool parti = attendre_que([&] { return !lire_stat(fils); }, 500ms);
             if (auto code = p.attendre(0ms))
                 return echoue("le parent n'attend pas sa touche : il a fini (code " +
                               nombre(*code) + ") sans rien lire");
             if (!parti) {
                 auto e = lire_stat(fils);
                 return echoue("après 0,5 s, le pid " + nombre(fils) + " est encore là, état " +
                               std::string(1, e ? e->etat : '?') + ", parent " +
                               nombre(e ? e->parent : 0) + " (cat /proc/" + nombre(fils) +
                               "/stat)");
             }
             return tenu();
         }},
        {"un octet libère le parent, qui finit avec le code 0", [](const Contexte &c) {
             Processus p({.programme = c.programme});
             p.lire_jusqu_a(Canal::sortie, "\n", 2s);
             p.ecrire("x");
             auto code = p.attendre(2s);
             if (code != 0)
                 return echoue(code ? "code " + nombre(*code) : "toujours en attente après 2 s");
             return tenu();
         }},
        {"une entrée vide donne « Echec scanf : Success » et le code 1", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .entree = Flux::fichier});
             if (r.erreur != "Echec scanf : Success\n" || r.code != 1)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
        {"une entrée fermée donne le code 9", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .entree = Flux::ferme});
             if (r.code != 9)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
    }};
}

// --- vrai-chrono: stopclock that runs and times its command -----------------

const std::string annonce = "ex\xC3\xA9" "cution de ";

// The commands run from the usual folders only: a PATH of the caller's with a
// folder it may not search would turn "not found" (127) into EACCES (126).
std::vector<std::pair<std::string, std::optional<std::string>>> chemin_ordinaire(const Contexte &c)
{
    return {{"PATH", chemin_avec(c.dossier_bin)}};
}

// Held when the bytes received are the bytes expected; both shown otherwise.
Verdict octets(const std::string &recu, const std::string &attendu)
{
    if (recu != attendu)
        return echoue("reçu « " + montrer(recu) + " », attendu « " + montrer(attendu) + " »");
    return tenu();
}

// What stopclock CMD writes on stdout, through a pipe.
Verdict sortie_de(const Contexte &c, std::vector<std::string> commande, const std::string &attendu)
{
    auto r = executer_borne({.programme = c.programme, .arguments = std::move(commande),
                             .environnement = chemin_ordinaire(c)});
    return octets(r.sortie, attendu);
}

Verdict code_de(const Contexte &c, std::vector<std::string> commande, int attendu)
{
    auto r = executer_borne({.programme = c.programme, .arguments = std::move(commande),
                              .environnement = chemin_ordinaire(c)});
    if (r.code != attendu)
        return echoue(fin(r));
    return tenu();
}

Exercice vrai_chrono()
{
    return {"vrai-chrono", "stopclock", "un chronomètre qui lance sa commande et la chronomètre", {
        {"sleep 0.3 tourne comme fils de stopclock, dure de 0,3 à 2 s, et le temps annoncé est "
         "le vrai", [](const Contexte &c) {
             Processus p({.programme = c.programme, .arguments = {"sleep", "0.3"},
                          .environnement = chemin_ordinaire(c)});
             auto debut = Horloge::now();
             bool vu = attendre_que([&] {
                 for (const auto &e : enfants_de(p.pid()))
                     if (e.etat.nom == "sleep")
                         return true;
                 return false;
             }, 1s);
             auto code = p.attendre(3s);
             double duree = std::chrono::duration<double>(Horloge::now() - debut).count();
             std::string erreur = p.lire_tout(Canal::erreur, 1s);
             if (!vu)
                 return echoue("aucun fils nommé sleep sous le pid " + nombre(p.pid()) +
                               " dans /proc");
             if (!code)
                 return echoue("toujours en cours après 3 s");
             double annonce_s = -1;
             std::sscanf(erreur.c_str(), "temps \xC3\xA9" "coul\xC3\xA9 : %lf", &annonce_s);
             if (duree < 0.3 || duree >= 2)
                 return echoue("a duré " + en_secondes(duree));
             if (annonce_s < 0.3 || annonce_s > duree + 0.05)
                 return echoue("mesuré " + en_secondes(duree) + ", annoncé « " + montrer(erreur) +
                               " »");
             return tenu("mesuré " + en_secondes(duree) + ", annoncé " + en_secondes(annonce_s));
         }},
        {"false donne le code 1", [](const Contexte &c) { return code_de(c, {"false"}, 1); }},
        {"sh -c 'exit 7' donne le code 7",
         [](const Contexte &c) { return code_de(c, {"sh", "-c", "exit 7"}, 7); }},
        {"une commande tuée par SIGTERM donne le code 143 (128 + 15)",
         [](const Contexte &c) { return code_de(c, {"sh", "-c", "kill -TERM $$"}, 143); }},
        {"une commande introuvable donne « Echec execvp : No such file or directory » et le "
         "code 127", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme, .arguments = {"nulle-part-xyz"},
                                      .environnement = chemin_ordinaire(c)});
             if (r.erreur.find("Echec execvp : No such file or directory\n") == std::string::npos ||
                 r.code != 127)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
        {"dans un tube, l'annonce paraît une fois, avant la sortie de la commande",
         [](const Contexte &c) {
             return sortie_de(c, {"echo", "bonjour"}, annonce + "echo\nbonjour\n");
         }},
        {"dans un tube, l'annonce paraît une seule fois même quand l'exec échoue",
         [](const Contexte &c) {
             return sortie_de(c, {"nulle-part-xyz"}, annonce + "nulle-part-xyz\n");
         }},
        {"sans argument, seule la ligne du temps, et le code 0", [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme});
             if (r.code != 0 || !r.sortie.empty() ||
                 !r.erreur.starts_with("temps \xC3\xA9" "coul\xC3\xA9 : "))
                 return echoue(fin(r) + ", sortie « " +
                               montrer(r.sortie) + " », erreur « " + montrer(r.erreur) + " »");
             return tenu();
         }},
    }};
}

// --- avant-exec: handover that says so before it becomes cupcounter ---------

Verdict annonce_puis_cupcounter(const Contexte &c, Flux sortie)
{
    Processus p({.programme = c.programme, .sortie = sortie,
                 .environnement = {{"PATH", chemin_avec(c.dossier_bin)}}});
    Canal canal = sortie == Flux::terminal ? Canal::terminal : Canal::sortie;
    std::string lu = p.lire_jusqu_a(canal, "cup number 0\n", 3s);
    std::string pid = nombre(p.pid());
    std::string attendu = "handover (pid " + pid + ") passe la main \xC3\xA0 cupcounter\n" +
                          "pid : " + pid + ", cup number 0\n";
    return octets(lu, attendu);
}

Exercice avant_exec()
{
    return {"avant-exec", "handover", "handover dit qu'il passe la main, puis devient cupcounter", {
        {"au terminal, la ligne paraît une fois, avant cupcounter, avec le même pid",
         [](const Contexte &c) { return annonce_puis_cupcounter(c, Flux::terminal); }},
        {"dans un tube, de même", [](const Contexte &c) {
             return annonce_puis_cupcounter(c, Flux::tube);
         }},
        {"dans un fichier, de même", [](const Contexte &c) {
             return annonce_puis_cupcounter(c, Flux::fichier);
         }},
        {"sans cupcounter dans PATH, « Echec execvp : No such file or directory » et le code 2",
         [](const Contexte &c) {
             auto r = executer_borne({.programme = c.programme,
                                      .environnement = {{"PATH", "/nulle-part"}}});
             if (r.erreur != "Echec execvp : No such file or directory\n" || r.code != 2)
                 return echoue(fin(r) + ", erreur « " +
                               montrer(r.erreur) + " »");
             return tenu();
         }},
    }};
}

// --- course: N walkers at once, reaped as they end --------------------------

constexpr int nb_marcheurs = 3;
// About a third of a second a walker on this suite's machines.
constexpr const char *nb_pas = "40000000";

// One race, watched from /proc: walker 1 is held stopped until the others
// have ended, so that a launcher that waits in launch order shows its zombies.
struct Course {
    bool tous_vivants = false;     // the N walkers alive together, children of course
    std::string zombie;            // evidence of a walker left a zombie too long
    std::map<int, pid_t> marcheurs; // number -> pid, as seen in /proc
    std::optional<int> code;
    std::string sortie;
    std::vector<pid_t> restes; // walkers still in the process table after course
};

Course observer_course(const Contexte &c)
{
    static std::map<std::string, Course> deja_vues;
    if (auto vue = deja_vues.find(c.programme); vue != deja_vues.end())
        return vue->second;

    Course o;
    Processus p({.programme = c.programme,
                 .arguments = {nombre(nb_marcheurs), nb_pas},
                 .environnement = {{"PATH", chemin_avec(c.dossier_bin)}}});
    auto marcheurs_vivants = [&] {
        std::map<int, pid_t> vus;
        for (const auto &e : enfants_de(p.pid())) {
            auto args = arguments_de(e.pid);
            if (e.etat.etat != 'Z' && args.size() == 3 &&
                (e.etat.nom == "rightwalker" || e.etat.nom == "leftwalker"))
                vus[std::atoi(args[1].c_str())] = e.pid;
        }
        return vus;
    };
    o.tous_vivants = attendre_que([&] {
        o.marcheurs = marcheurs_vivants();
        return o.marcheurs.size() == nb_marcheurs;
    }, 3s);

    pid_t premier = o.marcheurs.count(1) ? o.marcheurs[1] : -1;
    if (premier > 0) {
        kill(premier, SIGSTOP);
        // The others end; none may stay a zombie more than half a second.
        std::map<pid_t, Horloge::time_point> zombie_depuis;
        auto fin = Horloge::now() + 10s;
        while (Horloge::now() < fin && o.zombie.empty()) {
            bool autres_partis = true;
            for (auto [numero, pid] : o.marcheurs) {
                if (numero == 1)
                    continue;
                auto e = lire_stat(pid);
                if (!e || e->parent != p.pid())
                    continue; // reaped
                autres_partis = false;
                if (e->etat != 'Z')
                    continue;
                auto depuis = zombie_depuis.emplace(pid, Horloge::now()).first->second;
                if (Horloge::now() - depuis > 500ms)
                    o.zombie = "le marcheur " + nombre(numero) + " (pid " + nombre(pid) +
                               ") est resté zombie plus de 0,5 s pendant que le marcheur 1 "
                               "était arrêté (état Z dans /proc/" + nombre(pid) + "/stat)";
            }
            if (autres_partis)
                break;
            std::this_thread::sleep_for(5ms);
        }
        kill(premier, SIGCONT);
    }
    o.code = p.attendre(10s);
    o.sortie = p.lire_tout(Canal::sortie, 1s);
    // Walkers course left unreaped came back to us, a subreaper: still there.
    for (auto [numero, pid] : o.marcheurs)
        if (lire_stat(pid))
            o.restes.push_back(pid);
    deja_vues[c.programme] = o;
    return o;
}

Exercice course()
{
    const std::string n = nombre(nb_marcheurs);
    return {"course", "rightwalker et leftwalker",
            "course N PAS lance N marcheurs et recueille chacun dès qu'il finit", {
        {"les " + n + " marcheurs vivent en même temps, fils de course", [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.tous_vivants)
                 return echoue("vus ensemble dans /proc : " + nombre(o.marcheurs.size()) +
                               " marcheur(s)");
             return tenu();
         }},
        {"chaque marcheur est recueilli dès qu'il finit, pas dans l'ordre de lancement",
         [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.tous_vivants)
                 return echoue("la course n'a pas pu être observée");
             if (!o.zombie.empty())
                 return echoue(o.zombie);
             return tenu();
         }},
        {"aucun zombie ne reste quand course finit, et son code est 0", [](const Contexte &c) {
             auto o = observer_course(c);
             if (!o.code)
                 return echoue("course toujours en cours après 10 s");
             if (!o.restes.empty())
                 return echoue("le pid " + nombre(o.restes.front()) +
                               " est resté dans la table des processus");
             if (*o.code != 0)
                 return echoue("code " + nombre(*o.code));
             return tenu();
         }},
        {"chaque marcheur est annoncé une fois, avec son numéro et son pid, code 0",
         [](const Contexte &c) {
             auto o = observer_course(c);
             static const std::regex ligne(
                 "\nmarcheur (\\d+) \\(pid (\\d+)\\) termin\xC3\xA9, code (\\d+)");
             std::map<int, int> fois;
             for (std::sregex_iterator m(o.sortie.begin(), o.sortie.end(), ligne), fin; m != fin;
                  ++m) {
                 int numero = std::stoi((*m)[1]);
                 fois[numero]++;
                 if (!o.marcheurs.count(numero) || o.marcheurs[numero] != std::stoi((*m)[2]) ||
                     (*m)[3] != "0")
                     return echoue("« " + montrer((*m)[0].str()) + " » ne répond pas au pid vu "
                                   "dans /proc (" + nombre(o.marcheurs[numero]) + ")");
             }
             for (int k = 1; k <= nb_marcheurs; k++)
                 if (fois[k] != 1)
                     return echoue("le marcheur " + nombre(k) + " est annoncé " +
                                   nombre(fois[k]) + " fois ; sortie « " + montrer(o.sortie) +
                                   " »");
             if (!o.sortie.ends_with("\n"))
                 return echoue("pas de saut de ligne final");
             return tenu();
         }},
        {"les rapports des marcheurs sont là aussi", [](const Contexte &c) {
             auto o = observer_course(c);
             static const std::regex rapport(
                 "\n( {51}EST|OUEST) Explorateur \\d+ : position finale = -?\\d+");
             auto vus = std::distance(
                 std::sregex_iterator(o.sortie.begin(), o.sortie.end(), rapport), {});
             if (vus != nb_marcheurs)
                 return echoue(nombre(vus) + " rapport(s) ; sortie « " + montrer(o.sortie) + " »");
             return tenu();
         }},
    }};
}

} // namespace

const std::vector<Exercice> &tous_les_exercices()
{
    static const std::vector<Exercice> tous = {ordre(), sans_zombie(), vrai_chrono(),
                                               avant_exec(), course()};
    return tous;
}

// --- what the checks share ------------------------------------------------

Execution executer_borne(const Lancement &lancement, Duree limite)
{
    Execution e;
    auto debut = Horloge::now();
    Processus p(lancement);
    e.pid = p.pid();
    if (lancement.entree == Flux::tube)
        p.fermer_entree();
    e.code = p.attendre(limite);
    e.secondes = std::chrono::duration<double>(Horloge::now() - debut).count();
    if (lancement.sortie == Flux::tube || lancement.sortie == Flux::fichier)
        e.sortie = p.lire_tout(Canal::sortie, 1s);
    if (lancement.erreur == Flux::tube || lancement.erreur == Flux::fichier)
        e.erreur = p.lire_tout(Canal::erreur, 1s);
    return e; // the destructor ends and reaps whatever is left
}

std::string fin(const Execution &e)
{
    if (!e.code)
        return "toujours en cours après " + en_secondes(e.secondes) + " (arrêté)";
    if (*e.code < 0)
        return "tué par le signal " + std::to_string(-*e.code);
    return "code " + std::to_string(*e.code);
}

std::string montrer(std::string_view octets)
{
    std::string vu;
    for (unsigned char o : octets) {
        if (o == '\n')
            vu += "\\n";
        else if (o == '\t')
            vu += "\\t";
        else if (o < 0x20 || o == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", o);
            vu += code;
        } else
            vu += static_cast<char>(o);
    }
    if (vu.size() > 300)
        vu = vu.substr(0, 300) + "…";
    return vu;
}

std::string en_secondes(double secondes)
{
    char texte[32];
    std::snprintf(texte, sizeof texte, "%.2f s", secondes);
    std::string t = texte;
    t[t.find('.')] = ',';
    return t;
}

std::string chemin_avec(const std::string &dossier)
{
    return dossier + ":/usr/local/bin:/usr/bin:/bin";
}

} // namespace exercices
