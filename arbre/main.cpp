// arbre: shows a small C program of forks drawn from a seed, asks how many
// processes it makes and the shape of their tree, then runs it for real, holds
// every process it makes, reads the tree from /proc and draws it beside the
// prediction, with each difference.
//
//     arbre [--niveau 1..5] [--graine N] [--source FICHIER.c]
//           [--montrer | --corrige | --reponse FICHIER]
//
// Exit status: 0 when the prediction is right (or nothing was to predict),
// 1 when it differs, 2 for a usage error or an unreadable prediction, 3 when
// the program could not be compiled or run. Whatever ends it (Ctrl-C, SIGHUP,
// SIGTERM included), no process of the program outlives it.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>

#include <getopt.h>
#include <unistd.h>

#include "execution.h"
#include "options.h"
#include "programme.h"

using namespace arbre;

namespace {

constexpr const char *usage_texte =
    "usage : arbre [--niveau 1..5] [--graine N] [--source FICHIER.c]\n"
    "              [--montrer | --corrige | --reponse FICHIER]\n";

constexpr const char *forme_texte =
    "Leur arbre : un nom par processus, puis ses enfants entre parenthèses, "
    "dans l'ordre où il les crée. Ainsi P(A(C) B) : P a deux enfants, A et B, "
    "et A un enfant, C. Entrée seule : le nombre sans l'arbre.";

// Everything the user reads goes through here: French typography, 80 columns.
void dire(const std::string &texte, std::size_t retrait = 0)
{
    std::string t = typographie(texte);
    std::size_t marge = std::min(t.find_first_not_of(' '), t.size()); // its own indent is kept
    std::fputs(texte::plier(t.substr(0, marge), t.substr(marge), retrait).c_str(), stdout);
    std::fflush(stdout);
}

struct Options {
    int niveau = 1;
    std::optional<unsigned long long> graine;
    std::string source, reponse;
    bool montrer = false, corrige = false;
    bool aide = false, version = false; // --help, --version: nothing else is done
};

struct ErreurUsage {
    std::string message;
};

unsigned long long entier(const char *texte, const char *option)
{
    unsigned long long n = 0;
    std::string t = texte;
    auto [fin, err] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (err != std::errc() || fin != t.data() + t.size())
        throw ErreurUsage{std::string(option) + " attend un nombre, pas « " + t + " »"};
    return n;
}

Options lire_options(int argc, char *argv[])
{
    enum { NIVEAU = 256, GRAINE, SOURCE, REPONSE, MONTRER, CORRIGE, VERSION };
    static const option longues[] = {
        {"niveau", required_argument, nullptr, NIVEAU},
        {"graine", required_argument, nullptr, GRAINE},
        {"source", required_argument, nullptr, SOURCE},
        {"reponse", required_argument, nullptr, REPONSE},
        {"montrer", no_argument, nullptr, MONTRER},
        {"corrige", no_argument, nullptr, CORRIGE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, VERSION},
        {nullptr, 0, nullptr, 0}};
    Options o;
    bool niveau_donne = false;
    for (int r; (r = getopt_long(argc, argv, ":h", longues, nullptr)) != -1;) {
        switch (r) {
        case NIVEAU:
            o.niveau = static_cast<int>(entier(optarg, "--niveau"));
            niveau_donne = true;
            if (o.niveau < niveau_min || o.niveau > niveau_max)
                throw ErreurUsage{"le niveau va de 1 à 5"};
            break;
        case GRAINE: o.graine = entier(optarg, "--graine"); break;
        case SOURCE: o.source = optarg; break;
        case REPONSE: o.reponse = optarg; break;
        case MONTRER: o.montrer = true; break;
        case CORRIGE: o.corrige = true; break;
        case 'h': o.aide = true; return o;
        case VERSION: o.version = true; return o;
        default: throw ErreurUsage{options::faute(r, argv)};
        }
    }
    if (optind < argc)
        throw ErreurUsage{"argument inattendu « " + std::string(argv[optind]) + " »"};
    if (o.montrer + o.corrige + !o.reponse.empty() > 1)
        throw ErreurUsage{"--montrer, --corrige et --reponse s'excluent"};
    if (!o.source.empty() && (o.graine || niveau_donne))
        throw ErreurUsage{"--source montre son propre programme : ni --graine ni --niveau"};
    return o;
}

std::string lire_fichier(const std::string &chemin)
{
    if (chemin == "-") {
        std::ostringstream tout;
        tout << std::cin.rdbuf();
        return tout.str();
    }
    std::ifstream f(chemin, std::ios::binary);
    if (!f)
        throw ErreurUsage{"impossible de lire « " + chemin + " »"};
    std::ostringstream tout;
    tout << f.rdbuf();
    return tout.str();
}

// One line typed at the terminal; false at the end of input. A signal that
// asks arbre to stop interrupts the wait.
bool lire_ligne(std::string &ligne)
{
    ligne.clear();
    for (;;) {
        char c;
        ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR) {
            verifier_interruption();
            continue;
        }
        if (n <= 0)
            return !ligne.empty();
        if (c == '\n')
            return true;
        ligne += c;
    }
}

// The program of this round, and what it is called.
struct Manche {
    std::string source, nom, titre;
    std::optional<Programme> programme;
};

Manche preparer(const Options &o, unsigned long long graine)
{
    Manche m;
    if (!o.source.empty()) {
        m.source = lire_fichier(o.source);
        m.nom = std::filesystem::path(o.source).stem().string();
        m.titre = "Programme " + o.source;
        return m;
    }
    m.programme = tirer(graine, o.niveau);
    m.source = source_c(*m.programme);
    m.nom = "arbre-" + std::to_string(graine);
    m.titre = "Niveau " + std::to_string(o.niveau) + ", graine " + std::to_string(graine) +
              " : la commande en première ligne redonne ce programme.";
    return m;
}

// The real tree with letters for names: P, then A, B, C... in the order a
// reader meets them (each process before its children, children in the
// order they were made), so that the same program always gets the same.
Noeud nommer(const Noeud &reel)
{
    Noeud copie = reel;
    int suivant = 0;
    std::function<void(Noeud &)> parcourir = [&](Noeud &n) {
        n.nom = suivant == 0 ? "P"
                : suivant <= 26 ? std::string(1, static_cast<char>('A' + suivant - 1))
                                : std::string("P").append(std::to_string(suivant));
        suivant++;
        for (auto &e : n.enfants)
            parcourir(e);
    };
    parcourir(copie);
    return copie;
}

// The prediction beside the real tree, then what differs. True if right.
bool comparer_et_montrer(const Prediction &p, const Tenue &t)
{
    const Noeud &reel = t.arbre();
    int nombre = p.nombre.value_or(static_cast<int>(p.arbre ? taille(*p.arbre) : 0));
    Ecarts e;
    if (p.arbre)
        e = comparer(*p.arbre, reel);
    std::vector<std::string> gauche = {typographie("Votre prédiction : " + std::to_string(nombre) +
                                                   " processus")};
    std::vector<std::string> droite = {typographie("Lu dans /proc : " + std::to_string(t.nombre()) +
                                                   " processus")};
    if (p.arbre)
        for (auto &l : dessiner(*p.arbre, e.prevus_en_trop, "  en trop"))
            gauche.push_back(l);
    else
        gauche.push_back("(pas d'arbre)");
    for (auto &l : dessiner(reel, e.reels_imprevus, "  oublié"))
        droite.push_back(l);
    std::fputs(("\n" + cote_a_cote(gauche, droite) + "\n").c_str(), stdout);

    std::vector<std::string> ecarts;
    if (static_cast<std::size_t>(nombre) != t.nombre())
        ecarts.push_back("il y a " + std::to_string(t.nombre()) + " processus, vous en prévoyez " +
                         std::to_string(nombre));
    if (p.arbre && p.nombre && taille(*p.arbre) != static_cast<std::size_t>(*p.nombre))
        ecarts.push_back("votre arbre compte " + std::to_string(taille(*p.arbre)) +
                         " processus, pas " + std::to_string(*p.nombre));
    ecarts.insert(ecarts.end(), e.phrases.begin(), e.phrases.end());
    if (ecarts.empty()) {
        dire("Juste : " + std::to_string(t.nombre()) + " processus" +
             (p.arbre ? ", et l'arbre a la bonne forme." : " (sans l'arbre)."));
        return true;
    }
    dire("Différences :");
    constexpr std::size_t montrees = 8;
    for (std::size_t k = 0; k < ecarts.size() && k < montrees; k++)
        dire("  - " + ecarts[k] + (k + 1 == ecarts.size() ? "." : " ;"), 4);
    if (ecarts.size() > montrees)
        dire("  - et " + std::to_string(ecarts.size() - montrees) + " autres.", 4);
    return false;
}

// Asks the number, then the tree, until both can be read.
std::optional<Prediction> demander(bool premiere)
{
    Prediction p;
    std::string ligne;
    for (;;) {
        std::fputs(typographie("Combien de processus en tout, le premier compris ? ").c_str(),
                   stdout);
        std::fflush(stdout);
        if (!lire_ligne(ligne))
            return std::nullopt;
        std::string erreur;
        auto lu = lire_prediction("processus " + ligne, erreur);
        if (lu && lu->nombre) {
            p.nombre = lu->nombre;
            break;
        }
        dire("Un nombre entier, de 1 à 256, s'il vous plaît.");
    }
    if (premiere)
        dire(forme_texte);
    for (;;) {
        std::fputs(typographie("Arbre ? ").c_str(), stdout);
        std::fflush(stdout);
        std::string texte;
        if (!lire_ligne(texte))
            return std::nullopt;
        if (texte.find_first_not_of(" \t,") == std::string::npos)
            return p;
        std::string erreur;
        p.arbre = lire_arbre(texte, erreur);
        if (p.arbre)
            return p;
        dire("Illisible : " + erreur + ". Recommencez.");
    }
}

// One round; the program's processes stay alive until the Tenue is gone.
// Returns the exit status, or -1 when the user asks to stop.
int manche(const Options &o, unsigned long long graine, bool interactif, bool premiere)
{
    Manche m = preparer(o, graine);
    if (o.montrer) {
        std::fputs(m.source.c_str(), stdout);
        return 0;
    }

    std::optional<Prediction> p;
    if (!o.corrige) {
        if (!interactif) {
            std::string erreur;
            p = lire_prediction(lire_fichier(o.reponse.empty() ? "-" : o.reponse), erreur);
            if (!p)
                throw ErreurUsage{"dans la prédiction, " + erreur};
            bool autre_graine = p->graine && (!m.programme || *p->graine != graine);
            bool autre_niveau = p->niveau && (!m.programme || *p->niveau != o.niveau);
            if (autre_graine || autre_niveau)
                throw ErreurUsage{"cette prédiction est pour un autre programme (graine " +
                                  (p->graine ? std::to_string(*p->graine) : "?") + ", niveau " +
                                  (p->niveau ? std::to_string(*p->niveau) : "?") + ")"};
        }
        dire(m.titre);
        std::fputs(("\n" + m.source + "\n").c_str(), stdout);
        if (interactif && !(p = demander(premiere)))
            return -1; // the end of input: the session is over
    }

    Compilation c(m.source, m.nom);
    Tenue t(c.programme());
    if (o.corrige) {
        if (m.programme)
            std::printf("graine %llu\nniveau %d\n", graine, o.niveau);
        std::printf("processus %zu\n%s\n", t.nombre(), ecrire_arbre(nommer(t.arbre())).c_str());
        return 0;
    }
    bool juste = comparer_et_montrer(*p, t);
    if (interactif) {
        std::string pid = std::to_string(t.racine());
        dire("\nLes " + std::to_string(t.nombre()) +
             " processus vivent encore, chacun bloqué dans read. Dans un autre terminal :");
        std::printf("  ps -s %s --forest -o pid,ppid,stat,args\n", pid.c_str());
        std::fputs(typographie("Entrée : tout arrêter et passer à un autre programme ; "
                               "q : finir. ").c_str(),
                   stdout);
        std::fflush(stdout);
        std::string reponse;
        if (!lire_ligne(reponse) || reponse == "q")
            return -1;
        std::printf("\n");
    }
    return juste ? 0 : 1;
}

void noter_signal(int s) { signal_recu = s; }

} // namespace

int main(int argc, char *argv[])
{
    // Stopping arbre is recorded, so that every wait ends what it started
    // before arbre goes; no system call is restarted behind its back.
    struct sigaction action = {};
    action.sa_handler = noter_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT})
        sigaction(s, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        // The processes of a killed tree come back to arbre, which reaps them
        // before it goes on: none is left to init, even where init does not reap.
        Options o = lire_options(argc, argv);
        if (o.aide) {
            std::fputs(typographie(usage_texte).c_str(), stdout);
            return 0;
        }
        if (o.version)
            return options::montrer_version("arbre");
        lancement::adopter_les_orphelins();
        // A --source is a student's program: it touches nothing of the user's.
        confiner_les_programmes();
        // Where the programs are built and run: TMPDIR, unless it is noexec.
        if (auto ailleurs = lancement::choisir_un_tmpdir_executable("arbre");
            !ailleurs.empty() && !o.montrer)
            throw Echec(ailleurs);
        bool interactif = !o.montrer && !o.corrige && o.reponse.empty() && isatty(0);
        std::random_device hasard;
        unsigned long long graine = o.graine.value_or(hasard() % 100000);
        for (bool premiere = true;; premiere = false) {
            int code = manche(o, graine, interactif, premiere);
            if (code < 0)
                return 0;
            if (!interactif)
                return code;
            graine = hasard() % 100000;
        }
    } catch (const ErreurUsage &e) {
        return options::erreur_d_usage("arbre", e.message, usage_texte);
    } catch (const Echec &e) {
        // The first line is ours; what follows (the compiler's) goes as it is.
        std::string message = e.what();
        auto fin = std::min(message.find('\n'), message.size());
        std::fputs(texte::plier("", typographie("arbre : " + message.substr(0, fin)), 8).c_str(), stderr);
        if (fin < message.size())
            std::fputs(message.substr(fin + 1).c_str(), stderr);
        return 3;
    } catch (const Interruption &i) {
        // Everything the round started is ended by now: go as the signal says.
        std::printf("\n");
        std::fflush(stdout);
        signal(i.signal, SIG_DFL);
        raise(i.signal);
        return 128 + i.signal;
    }
}
