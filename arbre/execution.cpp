#include "execution.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <map>
#include <sstream>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

#include "paquets.h"
#include "proc.h"

namespace arbre {

volatile std::sig_atomic_t signal_recu = 0;

void verifier_interruption()
{
    if (signal_recu != 0)
        throw Interruption{signal_recu};
}

namespace {

namespace fs = std::filesystem;
using Horloge = std::chrono::steady_clock;
using lancement::EtatProc;

// Whether pid is asleep in read on its descriptor 0. nullopt where the kernel
// does not let us read what it is blocked in.
std::optional<bool> lit_son_entree(pid_t pid)
{
    auto appel = lancement::appel_en_cours(pid);
    if (!appel)
        return std::nullopt;
    return appel->numero == SYS_read && appel->premier_argument == 0;
}

// Every occurrence of avant in texte, replaced by apres.
std::string remplacer(std::string texte, const std::string &avant, const std::string &apres)
{
    for (std::size_t k = texte.find(avant); k != std::string::npos;
         k = texte.find(avant, k + apres.size()))
        texte.replace(k, avant.size(), apres);
    return texte;
}

} // namespace

// --- Compilation ---------------------------------------------------------------

Compilation::Compilation(const std::string &source, const std::string &nom, Duree limite)
{
    std::string modele = (fs::temp_directory_path() / "arbre-XXXXXX").string();
    if (mkdtemp(modele.data()) == nullptr)
        throw Echec("dossier temporaire : " + lancement::raison(errno));
    dossier_ = modele;
    programme_ = dossier_ + "/" + nom;
    std::ofstream(programme_ + ".c") << source;
    // Where every program is run restricted (verifier), the compiler may run
    // as the unprivileged user: the folder is lent to it for the compilation.
    auto qui = lancement::utilisateur_restreint();
    if (qui && chown(dossier_.c_str(), qui->uid, qui->gid) != 0)
        qui.reset();
    auto rendre = [&] {
        if (!qui)
            return;
        std::error_code ignore;
        for (const auto &f : fs::directory_iterator(dossier_, ignore))
            (void)!chown(f.path().c_str(), getuid(), getgid());
        (void)!chown(dossier_.c_str(), getuid(), getgid());
    };
    lancement::Lancement l;
    l.programme = "cc";
    l.arguments = {"-std=gnu17", "-O0", "-o", programme_, programme_ + ".c"};
    l.entree = lancement::Flux::nul;
    l.sortie = lancement::Flux::fichier;
    l.erreur = lancement::Flux::sortie;
    std::optional<int> code;
    std::string dit;
    try {
        lancement::Processus cc(l);
        auto fin = Horloge::now() + limite;
        while (!(code = cc.attendre(5ms)) && signal_recu == 0 && Horloge::now() < fin) {}
        if (!code)
            cc.arreter();
        verifier_interruption();
        // Its messages name the file as if it had been compiled where it lies.
        dit = remplacer(cc.lire_tout(lancement::Canal::sortie, 1s), dossier_ + "/", "./");
    } catch (const lancement::Inexecutable &) {
        fs::remove_all(dossier_);
        throw Echec("pas de compilateur C (cc)\n" + lancement::installer_le_compilateur());
    } catch (...) {
        fs::remove_all(dossier_);
        throw;
    }
    rendre();
    if (code != 0) {
        fs::remove_all(dossier_);
        throw Echec(code ? "la compilation a échoué :\n" + dit
                         : "la compilation dure plus de " +
                               std::to_string(limite.count() / 1000) + " s : arrêtée");
    }
}

Compilation::~Compilation()
{
    std::error_code ignore;
    fs::remove_all(dossier_, ignore);
}

// --- Tenue ---------------------------------------------------------------------

namespace {
bool programmes_confines = false;
}

void confiner_les_programmes() { programmes_confines = true; }

VuDeProc lire_proc(pid_t racine)
{
    std::map<pid_t, EtatProc> tous = lancement::tous_les_processus();
    std::map<pid_t, std::vector<pid_t>> enfants;
    for (const auto &[pid, s] : tous)
        enfants[s.parent].push_back(pid);

    VuDeProc v{{std::to_string(racine), {}}, {}, tous.count(racine) > 0};
    if (!v.tous_tenus)
        return v;
    // Depth first, children in the order they were made.
    std::function<void(pid_t, Noeud &)> descendre = [&](pid_t pid, Noeud &n) {
        v.pids.push_back(pid);
        const EtatProc &s = tous.at(pid);
        if (s.etat != 'S' || lit_son_entree(pid) == false)
            v.tous_tenus = false;
        auto &liste = enfants[pid];
        std::sort(liste.begin(), liste.end(), [&](pid_t a, pid_t b) {
            return std::pair(tous.at(a).depart, a) < std::pair(tous.at(b).depart, b);
        });
        for (pid_t enfant : liste) {
            n.enfants.push_back({std::to_string(enfant), {}});
            descendre(enfant, n.enfants.back());
        }
    };
    descendre(racine, v.arbre);
    return v;
}

Tenue::Tenue(const std::string &programme, Duree limite, std::size_t plafond)
{
    try {
        std::optional<lancement::Confinement> confinement;
        if (programmes_confines)
            confinement = lancement::Confinement{fs::path(programme).parent_path().string(), {}};
        session_.emplace(programme, fs::path(programme).filename().string(), confinement);
    } catch (const std::runtime_error &e) {
        throw Echec(e.what());
    }
    racine_ = session_->pid();
    try {
        attendre_tenue(limite, plafond);
    } catch (...) {
        finir();
        throw;
    }
}

Tenue::~Tenue() { finir(); }

void Tenue::attendre_tenue(Duree limite, std::size_t plafond)
{
    auto debut = Horloge::now();
    // A scan of /proc lists the processes before it reads their state: a
    // process seen held may have forked a child the listing missed. Held
    // processes fork no more, so a second scan, started after the first one
    // found them all held, that lists the same ones proves the tree whole.
    // Where /proc/PID/syscall cannot be read, "held" is only "asleep": that
    // must then last a while.
    bool syscall_lisible = lit_son_entree(racine_).has_value();
    std::optional<VuDeProc> tenus;
    auto tenus_depuis = debut;
    for (;;) {
        verifier_interruption();
        VuDeProc v = lire_proc(racine_);
        pids_ = v.pids;
        if (v.pids.size() > plafond)
            throw Echec("plus de " + std::to_string(plafond) +
                        " processus : arbre les arrête tous");
        for (pid_t pid : v.pids)
            if (auto s = lancement::lire_stat(pid); s && s->etat == 'Z')
                throw Echec("le pid " + std::to_string(pid) +
                            " a fini sans attendre : chaque processus doit finir par "
                            "read(0, &c, 1)");
        if (v.pids.empty())
            throw Echec("le programme a fini aussitôt : chaque processus doit finir par "
                        "read(0, &c, 1)");
        auto maintenant = Horloge::now();
        if (tenus && tenus->pids == v.pids && v.tous_tenus &&
            (syscall_lisible || maintenant - tenus_depuis > 100ms)) {
            arbre_ = std::move(v.arbre);
            return;
        }
        if (!v.tous_tenus)
            tenus.reset();
        else if (!tenus || tenus->pids != v.pids) {
            tenus = v;
            tenus_depuis = maintenant;
        }
        if (maintenant - debut > limite)
            throw Echec("après " + std::to_string(limite.count() / 1000) +
                        " s, les processus ne sont pas tous arrêtés sur read(0, &c, 1)");
        std::this_thread::sleep_for(3ms);
    }
}

bool Tenue::finir(Duree limite)
{
    if (!session_)
        return true;
    bool fini = session_->terminer(limite);
    session_.reset();
    racine_ = -1;
    return fini;
}

} // namespace arbre
