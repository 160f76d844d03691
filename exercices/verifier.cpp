// verifier: checks a student's program against one exercise, with the
// kernel's own evidence, and says in French which criteria hold.
//
//     verifier --list
//     verifier EXERCICE PROGRAMME      (a built program, or its .c / .cpp source)
//
// Exit status: 0 when every criterion holds, 1 when one fails (or the source
// does not compile), 2 for a usage error. Every program it starts is ended
// and reaped, whatever it does.
#include <csignal>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "exercice.h"

namespace fs = std::filesystem;
using namespace exercices;

namespace {

int usage()
{
    std::fprintf(stderr, "usage : verifier EXERCICE PROGRAMME\n"
                         "        verifier --list\n");
    return 2;
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

// Runs one command, its output going straight to the student; true if it
// ended with status 0. No shell: a file name is never read as shell syntax.
bool lancer(const std::vector<std::string> &commande)
{
    std::vector<char *> argv;
    for (const auto &a : commande)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        std::perror(argv[0]);
        _exit(127);
    }
    int statut = 0;
    return pid > 0 && waitpid(pid, &statut, 0) == pid && WIFEXITED(statut) &&
           WEXITSTATUS(statut) == 0;
}

// Compiles a student's source the way the suite compiles its programs, with
// the failure report. Returns the program, or nothing (the compiler has said why).
std::optional<fs::path> compiler(const fs::path &source, const fs::path &dossier_bin,
                                 const fs::path &dossier)
{
    bool en_c = source.extension() == ".c";
    fs::path echec = dossier_echec(dossier_bin);
    fs::path objet = dossier / "signaler_echec.o";
    fs::path programme = dossier / source.stem();
    std::vector<std::string> options = {"-O2", "-Wall", "-Wextra", "-Wpedantic",
                                        "-I", echec.string()};
    std::vector<std::string> rapport = {"c++", "-std=c++20", "-c",
                                        (echec / "signaler_echec.cpp").string(), "-o",
                                        objet.string()};
    std::vector<std::string> eleve = {en_c ? "cc" : "c++", en_c ? "-std=gnu17" : "-std=c++20",
                                      source.string(), objet.string(), "-o", programme.string()};
    rapport.insert(rapport.end(), options.begin(), options.end());
    eleve.insert(eleve.end(), options.begin(), options.end());
    std::printf("Compilation de %s\n", source.filename().c_str());
    if (!lancer(rapport) || !lancer(eleve))
        return std::nullopt;
    return programme;
}

// What a student's program left behind outside its process group (setsid,
// setpgid) came back to us, a subreaper, as its parents ended: end it all,
// generation after generation, and reap it.
void finir_les_restes()
{
    auto fin = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < fin) {
        auto restes = essai::enfants_de(getpid());
        while (waitpid(-1, nullptr, WNOHANG) > 0) {}
        if (restes.empty())
            return;
        for (const auto &r : restes)
            kill(r.pid, SIGKILL);
        std::this_thread::sleep_for(1ms);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const auto &exercices = tous_les_exercices();
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const auto &e : exercices)
            std::printf("%-12s %s\n%-12s (à partir de %s)\n", e.nom.c_str(), e.but.c_str(), "",
                        e.depart.c_str());
        return 0;
    }
    if (argc != 3)
        return usage();

    const Exercice *exercice = nullptr;
    for (const auto &e : exercices)
        if (e.nom == argv[1])
            exercice = &e;
    if (exercice == nullptr) {
        std::fprintf(stderr, "verifier : exercice inconnu « %s » (verifier --list les nomme)\n",
                     argv[1]);
        return 2;
    }
    fs::path programme = argv[2];
    std::error_code erreur;
    if (!fs::is_regular_file(programme, erreur)) {
        std::fprintf(stderr, "verifier : pas de programme « %s »\n", argv[2]);
        return 2;
    }
    programme = fs::absolute(programme);

    // The orphans of the student's programs come back here, to be seen and ended.
    essai::adopter_les_orphelins();
    Contexte contexte;
    contexte.dossier_bin = fs::read_symlink("/proc/self/exe").parent_path().string();

    // A source is compiled into a folder of our own, removed at the end.
    std::string modele = (fs::temp_directory_path() / "verifier-XXXXXX").string();
    std::optional<fs::path> dossier;
    if (programme.extension() == ".c" || programme.extension() == ".cpp") {
        if (mkdtemp(modele.data()) == nullptr) {
            std::perror("verifier : mkdtemp");
            return 2;
        }
        dossier = modele;
        auto compile = compiler(programme, contexte.dossier_bin, *dossier);
        if (!compile) {
            std::printf("La compilation a échoué (voir ci-dessus) : rien n'a été vérifié.\n");
            fs::remove_all(*dossier, erreur);
            return 1;
        }
        programme = *compile;
    } else if (access(programme.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "verifier : « %s » n'est ni exécutable ni une source .c ou .cpp\n",
                     argv[2]);
        return 2;
    }
    contexte.programme = programme.string();

    std::printf("Exercice « %s », à partir de %s\nBut : %s.\n", exercice->nom.c_str(),
                exercice->depart.c_str(), exercice->but.c_str());
    int tenus = 0, echoues = 0;
    for (const auto &critere : exercice->criteres) {
        Verdict v;
        try {
            v = critere.verifier(contexte);
        } catch (const std::exception &e) {
            v = echoue(std::string("le programme n'a pas pu être lancé : ") + e.what());
        }
        const char *marque = v.sorte == Verdict::tenu     ? "  ok     "
                             : v.sorte == Verdict::echoue ? "  ÉCHEC  "
                                                          : "  ?      ";
        std::printf("%s%s", marque, critere.enonce.c_str());
        if (!v.preuve.empty())
            std::printf(v.sorte == Verdict::tenu ? " (%s)" : "\n           %s", v.preuve.c_str());
        std::printf("\n");
        std::fflush(stdout);
        finir_les_restes();
        tenus += v.sorte == Verdict::tenu;
        echoues += v.sorte == Verdict::echoue;
    }
    std::size_t total = exercice->criteres.size();
    std::printf("Bilan : %d critère%s tenu%s sur %zu.\n", tenus, tenus > 1 ? "s" : "",
                tenus > 1 ? "s" : "", total);
    if (dossier)
        fs::remove_all(*dossier, erreur);
    return echoues == 0 ? 0 : 1;
}
