// What the checks of every exercise share.
#include "exercice.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include <sys/syscall.h>

#include "texte.h"

namespace exercices {

using namespace lancement;

const std::string echec_fork = "Echec fork : Resource temporarily unavailable\n";

std::string nombre(long n) { return std::to_string(n); }

const Exercice *trouver_exercice(const std::string &nom)
{
    for (const auto &e : tous_les_exercices())
        if (e.nom == nom)
            return &e;
    return nullptr;
}

std::string fin(int code)
{
    if (code < 0) {
        const char *nom = sigabbrev_np(-code);
        return "tué par le signal " + nombre(-code) + (nom ? " (SIG" + std::string(nom) + ")" : "");
    }
    return "code " + nombre(code);
}

std::string fin(const Resultat &r)
{
    if (!r.code)
        return "toujours en cours après " + en_secondes(r.secondes) +
               ", arrêté alors par verifier";
    return fin(*r.code);
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
    if (vu.size() > 300) {
        std::size_t coupe = 300;
        while (coupe > 0 && (static_cast<unsigned char>(vu[coupe]) & 0xC0) == 0x80)
            coupe--; // not inside a character
        vu.resize(coupe);
        vu += "…";
    }
    return vu;
}

std::string cite(std::string_view octets)
{
    return texte::citer(montrer(octets));
}

Verdict octets(const std::string &recu, const std::string &attendu)
{
    if (recu != attendu)
        return echoue("reçu " + cite(recu) + ", attendu " + cite(attendu));
    return tenu();
}

Verdict code_et_erreur(const Resultat &r, int code, const std::string &erreur, bool dedans)
{
    bool vue = dedans ? r.erreur.find(erreur) != std::string::npos : r.erreur == erreur;
    if (r.code == code && vue)
        return tenu();
    // What is right is said as right: only the wrong half is to be mended.
    if (vue)
        return echoue(fin(r) + " au lieu du code " + nombre(code) + " ; la sortie d'erreur, " +
                      cite(r.erreur) + ", est juste");
    std::string attendu = dedans ? cite(erreur) + " parmi ses lignes (les autres peuvent y rester)"
                                 : cite(erreur);
    if (r.code == code)
        return echoue("le code " + nombre(code) + " est juste, mais la sortie d'erreur est " +
                      cite(r.erreur) + " ; attendu " + attendu);
    return echoue(fin(r) + ", sortie d'erreur " + cite(r.erreur) + " ; attendu le code " +
                  nombre(code) + " et, sur la sortie d'erreur, " + attendu);
}

std::string en_secondes(double secondes)
{
    return texte::virgule(secondes, 2) + texte::insecable + "s";
}

double secondes(Horloge::duration d) { return std::chrono::duration<double>(d).count(); }

std::string chemin_avec(const std::string &dossier)
{
    return dossier + ":/usr/local/bin:/usr/bin:/bin";
}

std::vector<std::pair<std::string, std::optional<std::string>>> chemin(const Contexte &c)
{
    return {{"PATH", chemin_avec(c.dossier_bin)}};
}

std::string nom_d_appel(long numero)
{
    static const std::pair<long, const char *> noms[] = {
        {SYS_read, "read"}, {SYS_write, "write"}, {SYS_writev, "writev"},
        {SYS_wait4, "wait4 (wait, waitpid)"}, {SYS_waitid, "waitid"},
#ifdef SYS_pause
        {SYS_pause, "pause"},
#endif
        {SYS_rt_sigsuspend, "sigsuspend"}, {SYS_rt_sigtimedwait, "sigwait"},
        {SYS_nanosleep, "nanosleep (sleep)"}, {SYS_clock_nanosleep, "clock_nanosleep (sleep)"},
#ifdef SYS_poll
        {SYS_poll, "poll"},
#endif
        {SYS_ppoll, "ppoll"}, {SYS_pselect6, "select"}, {SYS_futex, "futex"},
#ifdef SYS_epoll_wait
        {SYS_epoll_wait, "epoll_wait"},
#endif
        {SYS_epoll_pwait, "epoll_wait"},
    };
    for (const auto &[n, nom] : noms)
        if (n == numero)
            return nom;
    return "l'appel système " + nombre(numero);
}

std::string ou_il_attend(const std::string &nom, pid_t pid)
{
    auto e = lire_stat(pid);
    std::string qui = nom + " (pid " + nombre(pid) + ")";
    if (!e || e->etat == 'Z')
        return qui + " a fini";
    std::string texte = qui;
    auto appel = appel_en_cours(pid);
    if (e->etat == 'T' || e->etat == 't')
        texte += " est arrêté";
    else if (appel && appel->numero >= 0)
        texte += " est bloqué dans " + nom_d_appel(appel->numero) + " (/proc/" + nombre(pid) +
                 "/syscall)";
    else if (e->etat == 'R')
        texte += " calcule sans fin (état R)";
    else
        texte += ", état " + std::string(1, e->etat);
    std::string fils;
    for (const auto &f : enfants_de(pid))
        fils += (fils.empty() ? "" : ", ") + f.etat.nom + " (pid " + nombre(f.pid) + ")" +
                (f.etat.etat == 'Z' ? " zombie, non recueilli" : " vivant");
    return texte + (fils.empty() ? ", sans fils" : " ; ses fils : " + fils);
}

std::string qui(const Contexte &c, pid_t pid)
{
    if (pid == c.verifier)
        return nombre(pid) + " (verifier lui-même)";
    return nombre(pid);
}

void Veille::regarder()
{
    auto maintenant = Horloge::now();
    if (derniere_)
        ecart_ = std::max(ecart_, secondes(maintenant - *derniere_));
    derniere_ = maintenant;
}

Verdict::Sorte Veille::juger(double mesure, double limite) const
{
    if (mesure <= limite)
        return Verdict::tenu;
    return mesure > limite + 2 * ecart_ ? Verdict::echoue : Verdict::impossible;
}

Verdict::Sorte Veille::juger_au_moins(double mesure, double minimum) const
{
    if (mesure >= minimum)
        return Verdict::tenu;
    return mesure < minimum - 2 * ecart_ ? Verdict::echoue : Verdict::impossible;
}

std::string Veille::doute() const
{
    return "la machine est trop chargée pour trancher : verifier lui-même a passé " +
           en_secondes(ecart_) + " sans pouvoir regarder";
}

} // namespace exercices
