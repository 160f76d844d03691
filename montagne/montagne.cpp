// montagne: what a read costs, depending on where its data lies.
//
// It reads blocks of growing size, from 4 KiB to well past the last cache,
// with growing strides, and prints how many bytes per second each (block,
// stride) reads: a table, a plot in the terminal, and an SVG picture for a
// browser. The picture is a staircase: one plateau per cache level, the lowest
// one for memory. The cache sizes the system announces are marked on it.
//
// Watch it:   $ montagne        (it says how long it took; then open montagne.svg)
//   - each plateau is a level: while the block fits in a cache the throughput
//     stays flat, and it falls when the block outgrows the cache;
//   - the "hasard" column reads the block's lines in a shuffled order, each
//     read giving the address of the next: the processor can neither guess the
//     next line nor start it early, so every level shows its bare cost;
//   - past a stride of one cache line, every 16-byte read costs a whole line.
//
// Keeping the figures honest:
//   - the strided reads are 16 bytes wide (a vector type that every x86-64 and
//     aarch64 processor loads in one instruction), summed into four independent
//     accumulators so that the additions never hold the loads back, and every
//     sum goes to a volatile variable: the compiler may not drop a read;
//   - the hardware prefetcher follows the strided reads, as it would in a real
//     program; the shuffled chase is what defeats it (the next address is in
//     the data just read, so there is no pattern to follow), and it shows what
//     memory costs when nothing hides it;
//   - the block asks for transparent huge pages, so that a random read in a
//     large block is not dominated by page-table walks;
//   - each figure is the best of several short trials: on a shared machine a
//     trial can only be slowed down by the others, never sped up.
//
// The texts use '~' for a non-breaking space, as French typography wants one
// before ':' and ';' and inside « »; fr() turns it into U+00A0.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <getopt.h>
#include <sys/mman.h>
#include <unistd.h>

#include "frequence.h"
#include "options.h"
#include "texte.h"

namespace {

using Horloge = std::chrono::steady_clock;
constexpr uint64_t Kio = 1024, Mio = Kio * Kio, Gio = Kio * Mio;
constexpr uint64_t PLUS_PETIT_BLOC = 4 * Kio;
constexpr uint64_t PLUS_GRAND_MAX = 64 * Gio; // keeps line numbers within 32 bits
// A last-level cache larger than this, for one core, is not believed: the
// biggest server chips have a few hundred MiB shared by all their cores, and a
// virtual machine often announces its host's whole cache.
constexpr uint64_t CACHE_CROYABLE = 256 * Mio;

double secondes_depuis(Horloge::time_point debut)
{
    return std::chrono::duration<double>(Horloge::now() - debut).count();
}

// ---------------------------------------------------------------- texts ----

std::string fr(std::string texte)
{
    for (size_t k = texte.find('~'); k != std::string::npos; k = texte.find('~', k))
        texte.replace(k, 1, "\u00a0");
    return texte;
}

using texte::a_droite;
using texte::nombre;
using texte::par_milliers;

// 4~Kio, 480~Mio, 1~Gio, 1,5~Gio: a whole number as it is, any other with
// three significant digits.
std::string taille(uint64_t octets)
{
    const char *unites[] = {"o", "Kio", "Mio", "Gio"};
    int u = 0;
    double v = static_cast<double>(octets);
    for (; u < 3 && v >= 1024; u++)
        v /= 1024;
    if (v != std::floor(v))
        return nombre(v) + "~" + unites[u];
    return par_milliers(std::to_string(std::llround(v))) + "~" + unites[u];
}

// A paragraph folded to 79 columns, where '~' holds two words together.
std::string plier(const std::string &texte, const std::string &premier = "",
                  const std::string &retrait = "")
{
    return texte::plier(fr(premier), fr(texte), retrait.size(), 79);
}

void paragraphe(const std::string &texte, const std::string &premier = "",
                const std::string &retrait = "")
{
    std::printf("%s", plier(texte, premier, retrait).c_str());
}

// ------------------------------------------- what the system announces ----

struct Cache {
    int niveau;
    uint64_t taille, ligne; // in bytes; a line of 0 is unknown
};

// A number as /sys writes it ("48K" is 49152); 0 when there is none.
uint64_t lire_sys(const std::string &chemin)
{
    std::ifstream f(chemin);
    uint64_t n = 0;
    char unite = 0;
    if (!(f >> n))
        return 0;
    f >> unite;
    return unite == 'K' ? n * Kio : unite == 'M' ? n * Mio : unite == 'G' ? n * Gio : n;
}

// The data caches of the first processor, from /sys, or from sysconf when
// /sys tells nothing (some containers); source says which.
std::vector<Cache> caches_annonces(std::string &source)
{
    std::vector<Cache> caches;
    source = "/sys/devices/system/cpu/cpu0/cache";
    for (int i = 0; i < 16; i++) {
        std::string dossier = source + "/index" + std::to_string(i) + "/", type;
        std::ifstream(dossier + "type") >> type;
        int niveau = static_cast<int>(lire_sys(dossier + "level"));
        uint64_t octets = lire_sys(dossier + "size");
        if ((type == "Data" || type == "Unified") && niveau > 0 && octets > 0)
            caches.push_back({niveau, octets, lire_sys(dossier + "coherency_line_size")});
    }
    if (caches.empty()) {
        source = "sysconf";
        const int noms[][2] = {{_SC_LEVEL1_DCACHE_SIZE, _SC_LEVEL1_DCACHE_LINESIZE},
                               {_SC_LEVEL2_CACHE_SIZE, _SC_LEVEL2_CACHE_LINESIZE},
                               {_SC_LEVEL3_CACHE_SIZE, _SC_LEVEL3_CACHE_LINESIZE},
                               {_SC_LEVEL4_CACHE_SIZE, _SC_LEVEL4_CACHE_LINESIZE}};
        for (int n = 0; n < 4; n++) {
            long octets = sysconf(noms[n][0]), ligne = sysconf(noms[n][1]);
            if (octets > 0)
                caches.push_back({n + 1, static_cast<uint64_t>(octets),
                                  static_cast<uint64_t>(std::max(ligne, 0L))});
        }
    }
    std::sort(caches.begin(), caches.end(),
              [](const Cache &a, const Cache &b) { return a.niveau < b.niveau; });
    return caches;
}

uint64_t memoire_libre()
{
    long pages = sysconf(_SC_AVPHYS_PAGES), octets = sysconf(_SC_PAGESIZE);
    return pages > 0 && octets > 0 ? static_cast<uint64_t>(pages) * octets : 0;
}

// ------------------------------------------------------------ the reads ----

typedef uint64_t Bloc16 __attribute__((vector_size(16), may_alias));
volatile uint64_t puits; // where every sum goes, so that no read can be dropped

// `tours` passes over the n 16-byte pieces of a block, reading one piece in
// PAS. n is a multiple of 4 x PAS (blocks are multiples of 4 KiB).
template <size_t PAS>
__attribute__((noinline)) Bloc16 lire_au_pas(const Bloc16 *bloc, size_t n, long tours)
{
    Bloc16 s0{}, s1{}, s2{}, s3{};
    for (long t = 0; t < tours; t++) {
        for (const Bloc16 *p = bloc; p < bloc + n; p += 4 * PAS) {
            s0 += p[0];
            s1 += p[PAS];
            s2 += p[2 * PAS];
            s3 += p[3 * PAS];
        }
        // "The block may have changed": the next pass must read it again
        // rather than reuse this one's sum. No instruction is emitted.
        asm volatile("" ::: "memory");
    }
    return (s0 + s1) + (s2 + s3);
}

struct Pas {
    uint64_t octets;
    Bloc16 (*lire)(const Bloc16 *, size_t, long);
};
const Pas pas_lus[] = {{16, lire_au_pas<1>},  {32, lire_au_pas<2>},   {64, lire_au_pas<4>},
                       {128, lire_au_pas<8>}, {256, lire_au_pas<16>}, {512, lire_au_pas<32>}};
constexpr int NB_PAS = sizeof pas_lus / sizeof pas_lus[0];
constexpr int HASARD = NB_PAS; // the last column: the shuffled chase
constexpr int NB_COLONNES = NB_PAS + 1;

// n reads from position i, each read's value being the next one's position.
__attribute__((noinline)) uint64_t chasser(const uint64_t *base, uint64_t i, long n)
{
    for (long k = 0; k < n; k++)
        i = base[i];
    return i;
}

// Links the first nb_lignes lines of the zone into one cycle through all of
// them in a shuffled order (Sattolo's shuffle makes a single cycle): each
// line's first 8 bytes hold the position of the next line's.
void enchainer(uint64_t *base, uint32_t nb_lignes, uint64_t mots_par_ligne, std::mt19937_64 &alea)
{
    std::vector<uint32_t> ordre(nb_lignes);
    for (uint32_t k = 0; k < nb_lignes; k++)
        ordre[k] = k;
    for (uint32_t k = nb_lignes - 1; k > 0; k--)
        std::swap(ordre[k], ordre[std::uniform_int_distribution<uint32_t>(0, k - 1)(alea)]);
    for (uint32_t k = 0; k < nb_lignes; k++)
        base[ordre[k] * mots_par_ligne] = ordre[(k + 1) % nb_lignes] * mots_par_ligne;
}

// The best throughput, in bytes per second, of passes(n) over a block. One
// pass learns how long a pass takes (the block is then in whatever cache can
// hold it); trials of about a millisecond each (at least one pass) then fill
// `duree`, two trials at least. Short trials, because on a busy machine a
// trial that the scheduler interrupts is lost, and a short one seldom is.
template <class F>
double meilleur_debit(F passes, double octets_par_passe, double duree)
{
    auto debut = Horloge::now();
    passes(1);
    double t = std::max(secondes_depuis(debut), 1e-9);
    double meilleur = octets_par_passe / t;
    long n = std::max(1L, std::lround(0.001 / t));
    long essais = std::clamp(std::lround(duree / (n * t)), 2L, 100L);
    for (long essai = 0; essai < essais; essai++) {
        debut = Horloge::now();
        passes(n);
        meilleur = std::max(meilleur, n * octets_par_passe / secondes_depuis(debut));
    }
    return meilleur;
}

struct Mesures {
    std::vector<uint64_t> tailles;           // the blocks, one per row
    std::vector<std::vector<double>> debits; // bytes per second, [row][column]
    uint64_t ligne;                          // the line the chase reads one word of
    double hertz;                            // the clock, measured
};

std::string nom_colonne(int c)
{
    return c < NB_PAS ? std::to_string(pas_lus[c].octets) + "~o" : "hasard";
}

std::string nom_trace(int c)
{
    return c == HASARD ? "au hasard" : "au pas de " + nom_colonne(c);
}

std::string rangee(const std::string &premiere, const std::vector<std::string> &cases)
{
    std::string s = a_droite(fr(premiere), 10);
    for (int c = 0; c < NB_COLONNES; c++)
        s += a_droite(fr(cases[c]), c == HASARD ? 9 : 8);
    return s;
}

// Every block size from 4 KiB to plus_grand, doubling (plus_grand itself
// last), each row printed as soon as it is measured.
Mesures mesurer(uint64_t plus_grand, uint64_t ligne, double duree)
{
    // One zone as large as the largest block. Linking each block's chase
    // writes every line of it: its pages become real memory (an anonymous
    // page never written is the one shared page of zeros, always in cache).
    void *zone =
        mmap(nullptr, plus_grand, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (zone == MAP_FAILED) {
        std::perror(fr("montagne~: mmap").c_str());
        std::exit(1);
    }
    madvise(zone, plus_grand, MADV_HUGEPAGE); // a wish: the kernel may refuse it
    auto *mots = static_cast<uint64_t *>(zone);
    auto *blocs = static_cast<const Bloc16 *>(zone);

    std::vector<std::string> entete;
    for (int c = 0; c < NB_COLONNES; c++)
        entete.push_back(nom_colonne(c));
    std::printf("%s\n", rangee("bloc", entete).c_str());
    std::fflush(stdout);

    std::vector<uint64_t> tailles;
    for (uint64_t t = PLUS_PETIT_BLOC; t < plus_grand; t *= 2)
        tailles.push_back(t);
    tailles.push_back(plus_grand);

    Mesures m{{}, {}, ligne, 0};
    std::mt19937_64 alea(2024);
    for (uint64_t t : tailles) {
        auto nb_lignes = static_cast<uint32_t>(t / ligne);
        enchainer(mots, nb_lignes, ligne / 8, alea);
        std::vector<double> debits;
        for (const Pas &p : pas_lus) {
            uint64_t octets_par_passe = t / p.octets * 16; // 16 bytes a read, whole reads
            debits.push_back(meilleur_debit(
                [&](long tours) {
                    Bloc16 s = p.lire(blocs, t / 16, tours);
                    puits = s[0] + s[1];
                },
                static_cast<double>(octets_par_passe), duree));
        }
        // A pass of the chase is at most 2048 reads, and each pass goes on
        // where the one before stopped, so that no part of a large block is
        // read twice in a row (it would come from a cache).
        long lectures = std::min<long>(nb_lignes, 2048);
        uint64_t position = 0;
        debits.push_back(meilleur_debit(
            [&](long tours) { puits = position = chasser(mots, position, tours * lectures); },
            lectures * 8.0, duree));
        std::vector<std::string> cases;
        for (double d : debits)
            cases.push_back(nombre(d / 1e9));
        std::printf("%s\n", rangee(taille(t), cases).c_str());
        std::fflush(stdout);
        m.tailles.push_back(t);
        m.debits.push_back(debits);
    }
    munmap(zone, plus_grand);
    m.hertz = frequence_mesuree();
    return m;
}

// ---------------------------------------------------------------- plots ----

// Where a value falls on a logarithmic scale from bas to haut, in [0, 1].
double echelle(double v, double bas, double haut)
{
    return haut > bas ? (std::log(v) - std::log(bas)) / (std::log(haut) - std::log(bas)) : 0;
}

// The decades of Go/s that hold every figure: 10^bas to 10^haut.
void decades(const Mesures &m, int &bas, int &haut)
{
    double petit = 1e300, grand = 0;
    for (const auto &debits : m.debits)
        for (double d : debits) {
            petit = std::min(petit, d / 1e9);
            grand = std::max(grand, d / 1e9);
        }
    bas = static_cast<int>(std::floor(std::log10(petit)));
    haut = std::max(bas + 1, static_cast<int>(std::ceil(std::log10(grand))));
}

std::string puissance_de_dix(int k)
{
    return k >= 0 ? "1" + std::string(k, '0') : "0," + std::string(-k - 1, '0') + "1";
}

// Column c's figure, in Go/s, at position x in [0, 1] along the size axis,
// between the two measured sizes around it (a straight line, log-log).
double interpoler(const Mesures &m, int c, double x)
{
    size_t n = m.tailles.size();
    for (size_t r = 0; r + 1 < n; r++) {
        double a = echelle(m.tailles[r], m.tailles[0], m.tailles[n - 1]);
        double b = echelle(m.tailles[r + 1], m.tailles[0], m.tailles[n - 1]);
        if (x <= b) {
            double f = (x - a) / (b - a);
            double log_gos = (1 - f) * std::log(m.debits[r][c]) + f * std::log(m.debits[r + 1][c]);
            return std::exp(log_gos) / 1e9;
        }
    }
    return m.debits[n - 1][c] / 1e9; // a single size: a flat line
}

// Writes a label into a line of blanks, centred on a column, unless it would
// touch another label. The line holds one byte per column: a non-breaking
// space there is a blank.
void poser(std::string &ligne, std::string texte, int centre)
{
    texte = fr(texte);
    for (size_t k = texte.find(texte::insecable); k != std::string::npos;
         k = texte.find(texte::insecable))
        texte.replace(k, texte::insecable.size(), " ");
    int l = static_cast<int>(texte.size()), n = static_cast<int>(ligne.size());
    int debut = std::clamp(centre - l / 2, 0, n - l);
    for (int k = std::max(0, debut - 1); k < std::min(n, debut + l + 1); k++)
        if (ligne[k] != ' ')
            return;
    ligne.replace(debut, l, texte);
}

// The terminal plot draws three columns (all seven would be a tangle there).
struct Trace {
    int colonne;
    char symbole;
    const char *couleur;
};
const Trace traces[] = {{HASARD, '*', "\033[31m"}, {2, '+', "\033[33m"}, {0, '=', "\033[32m"}};
const char *const BLEU = "\033[36m", *const SANS_COULEUR = "\033[0m";

// The lines a plot takes beside its grid: Go/s above, the axis, the sizes,
// the caches' marks and the legend below.
constexpr int LIGNES_AUTOUR = 5;

// 79 columns: Go/s against the block size, both on logarithmic scales, with
// the cache sizes the system announces dotted. hauteur: the lines it may
// take in all (a projector's pane), or 0 for about 25.
void tracer_terminal(const Mesures &m, const std::vector<Cache> &caches, bool couleur,
                     int hauteur)
{
    constexpr int MARGE = 7, L = 72;
    int bas, haut;
    decades(m, bas, haut);
    int par_decade = hauteur ? std::max(1, (hauteur - LIGNES_AUTOUR - 1) / (haut - bas))
                             : std::clamp(20 / (haut - bas), 3, 6);
    int H = (haut - bas) * par_decade + 1;
    std::vector<std::string> grille(H, std::string(L, ' '));
    std::vector<std::vector<const char *>> teinte(H, std::vector<const char *>(L, nullptr));
    auto colonne = [&](uint64_t t) {
        double x = echelle(t, m.tailles.front(), m.tailles.back());
        return static_cast<int>(std::lround(x * (L - 1)));
    };
    std::string abscisses(L, ' '), reperes(L, ' '), axe(L, '-');
    for (const Cache &c : caches) {
        if (c.taille < m.tailles.front() || c.taille > m.tailles.back())
            continue;
        for (int y = 0; y < H; y++) {
            grille[y][colonne(c.taille)] = ':';
            teinte[y][colonne(c.taille)] = BLEU;
        }
        poser(reperes, "L" + std::to_string(c.niveau), colonne(c.taille));
    }
    for (const Trace &t : traces)
        for (int x = 0; x < L; x++) {
            double v = interpoler(m, t.colonne, x / (L - 1.0));
            int y = static_cast<int>(std::lround((haut - std::log10(v)) * par_decade));
            y = std::clamp(y, 0, H - 1);
            grille[y][x] = t.symbole;
            teinte[y][x] = t.couleur;
        }
    // The first and last sizes are named first, so that they always are.
    std::vector<size_t> ordre{0, m.tailles.size() - 1};
    for (size_t r = 1; r + 1 < m.tailles.size(); r++)
        ordre.push_back(r);
    for (size_t r : ordre) {
        axe[colonne(m.tailles[r])] = '+';
        poser(abscisses, taille(m.tailles[r]), colonne(m.tailles[r]));
    }
    auto teindre = [&](const char *t, const std::string &s) {
        return couleur && t != nullptr ? t + s + SANS_COULEUR : s;
    };
    auto sans_blancs_finals = [](std::string s) { return s.erase(s.find_last_not_of(' ') + 1); };

    std::printf("%*s\n", MARGE - 2, "Go/s");
    for (int y = 0; y < H; y++) {
        std::string graduation = y % par_decade ? "" : puissance_de_dix(haut - y / par_decade);
        std::string ligne = a_droite(graduation, MARGE - 2) + " |";
        for (int x = 0; x < L; x++)
            ligne += teindre(teinte[y][x], std::string(1, grille[y][x]));
        std::printf("%s\n", sans_blancs_finals(ligne).c_str());
    }
    std::string marge(MARGE - 1, ' ');
    std::printf("%s+%s\n%s%s\n", marge.c_str(), axe.c_str(), marge.c_str(),
                sans_blancs_finals(" " + abscisses).c_str());
    if (reperes.find_first_not_of(' ') != std::string::npos) {
        std::string l = teindre(BLEU, sans_blancs_finals(" " + reperes));
        std::printf("%s%s\n", marge.c_str(), l.c_str());
    }
    std::string legende;
    for (const Trace &t : traces)
        legende += teindre(t.couleur, std::string(1, t.symbole)) + " " + nom_trace(t.colonne) +
                   "   ";
    legende += teindre(BLEU, ":") + " taille d'un cache annoncé";
    std::printf("%s\n", fr(legende).c_str());
}

// Every column, as an SVG picture for a browser.
std::string image_svg(const Mesures &m, const std::vector<Cache> &caches)
{
    // The picture's size, its margins (left, right, top, bottom), the plot's size.
    constexpr double LARGEUR = 900, HAUTEUR = 570, G = 75, D = 165, H = 60, B = 75;
    constexpr double PL = LARGEUR - G - D, PH = HAUTEUR - H - B;
    const char *couleurs[NB_COLONNES] = {"#1a9850", "#66bd63", "#d9a400", "#f46d43",
                                         "#a6611a", "#7b3294", "#d7191c"};
    int bas, haut;
    decades(m, bas, haut);
    auto X = [&](double t) { return G + echelle(t, m.tailles.front(), m.tailles.back()) * PL; };
    auto Y = [&](double gos) {
        return H + PH - echelle(gos, std::pow(10, bas), std::pow(10, haut)) * PH;
    };
    std::string s;
    auto ajouter = [&s](const char *format, auto... valeurs) {
        s += fr(texte::formater(format, valeurs...));
    };
    ajouter("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "font-family=\"sans-serif\" font-size=\"13\">\n", LARGEUR, HAUTEUR);
    ajouter("<title>montagne~: le débit des lectures selon la taille du bloc et le pas</title>\n"
            "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
            "<text x=\"%.0f\" y=\"24\" font-size=\"16\">Débit de lecture (Go/s) selon la taille "
            "du bloc lu et le pas entre deux lectures</text>\n"
            "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">Go/s</text>\n",
            G, G - 8, H - 14);
    for (int k = bas; k <= haut; k++)
        ajouter("<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n"
                "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n",
                G, Y(std::pow(10, k)), G + PL, Y(std::pow(10, k)), G - 8, Y(std::pow(10, k)) + 4,
                puissance_de_dix(k).c_str());
    for (size_t r = 0; r < m.tailles.size(); r++) {
        double x = X(m.tailles[r]);
        ajouter("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#888\"/>\n", x,
                H + PH, x, H + PH + 5);
        if (r % 2 == 0 || m.tailles.size() <= 10)
            ajouter("<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%s</text>\n", x,
                    H + PH + 20, taille(m.tailles[r]).c_str());
    }
    for (const Cache &c : caches)
        if (c.taille >= m.tailles.front() && c.taille <= m.tailles.back())
            ajouter("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#2b83ba\" "
                    "stroke-dasharray=\"5 4\"/>\n<text x=\"%.1f\" y=\"%.0f\" fill=\"#2b83ba\" "
                    "text-anchor=\"middle\">L%d (%s)</text>\n",
                    X(c.taille), H, X(c.taille), H + PH, X(c.taille), H - 6, c.niveau,
                    taille(c.taille).c_str());
    ajouter("<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
            "stroke=\"#444\"/>\n<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">taille du bloc "
            "lu (échelle logarithmique)</text>\n", G, H, PL, PH, G + PL / 2, HAUTEUR - 20);
    for (int c = 0; c < NB_COLONNES; c++) {
        ajouter("<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"", couleurs[c]);
        for (size_t r = 0; r < m.tailles.size(); r++)
            ajouter("%s%.1f,%.1f", r == 0 ? "" : " ", X(m.tailles[r]), Y(m.debits[r][c] / 1e9));
        double y = H + 20 + 24 * c;
        std::string nom = nom_trace(c);
        ajouter("\"/>\n<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" "
                "stroke-width=\"3\"/>\n<text x=\"%.0f\" y=\"%.0f\">%s</text>\n",
                G + PL + 15, y, G + PL + 40, y, couleurs[c], G + PL + 48, y + 4, nom.c_str());
    }
    ajouter("<text x=\"%.0f\" y=\"%.0f\" font-size=\"11\" fill=\"#2b83ba\">- - - taille d'un "
            "cache</text>\n<text x=\"%.0f\" y=\"%.0f\" font-size=\"11\" fill=\"#2b83ba\">annoncée "
            "par le système</text>\n</svg>\n",
            G + PL + 15, H + 20 + 24 * NB_COLONNES, G + PL + 15, H + 34 + 24 * NB_COLONNES);
    return s;
}

// What to look at, with this run's own figures.
void commenter(const Mesures &m, const std::vector<Cache> &caches)
{
    size_t r_max = 0, c_max = 0, r_min = 0, c_min = 0, fin = m.tailles.size() - 1;
    for (size_t r = 0; r <= fin; r++)
        for (size_t c = 0; c < NB_COLONNES; c++) {
            if (m.debits[r][c] > m.debits[r_max][c_max])
                r_max = r, c_max = c;
            if (m.debits[r][c] < m.debits[r_min][c_min])
                r_min = r, c_min = c;
        }
    auto gos = [&](size_t r, size_t c) { return nombre(m.debits[r][c] / 1e9) + "~Go/s"; };
    auto attente = [&](size_t r) {
        double s = 8 / m.debits[r][HASARD];
        return nombre(s * 1e9) + "~ns (" + nombre(s * m.hertz) + "~cycles)";
    };
    auto ou = [&](size_t r, size_t c) {
        return "bloc de " + taille(m.tailles[r]) + ", " + nom_trace(static_cast<int>(c));
    };
    std::string annoncees;
    for (const Cache &c : caches)
        annoncees += (annoncees.empty() ? " (" : ", ") + std::string("L") +
                     std::to_string(c.niveau) + "~" + taille(c.taille);
    annoncees += annoncees.empty() ? "" : ")";
    std::string premier = taille(m.tailles[0]), dernier = taille(m.tailles[fin]);

    std::printf("\n%s\n", fr("À regarder~:").c_str());
    paragraphe("Les paliers. Tant que le bloc tient dans un cache, le débit reste à peu près le "
               "même~; il tombe quand le bloc dépasse le cache. Les traits «~:~» marquent les "
               "tailles annoncées" + annoncees + ". Si une chute n'y tombe pas, croyez la "
               "courbe~: c'est ce que ce cœur obtient.",
               "- ", "  ");
    paragraphe("Le hasard. Chaque lecture attend la précédente, et rien ne permet de deviner la "
               "suivante~: " + attente(0) + " par lecture dans un bloc de " + premier + ", " +
               attente(fin) + " dans un bloc de " + dernier + ". Dans l'ordre, au contraire, le "
               "processeur devine les lignes suivantes et les fait venir d'avance.",
               "- ", "  ");
    paragraphe("Le pas. Caches et mémoire ne livrent que des lignes entières de " +
               std::to_string(m.ligne) + "~octets~: au pas de 16~o, toute la ligne sert~; au pas "
               "de 64~o, un quart. Dans un bloc de " + dernier + "~: " + gos(fin, 0) +
               " au pas de 16~o, " + gos(fin, 2) + " au pas de 64~o, " + gos(fin, NB_PAS - 1) +
               " au pas de 512~o.",
               "- ", "  ");
    std::printf("\n");
    double octets_par_cycle = m.debits[r_max][c_max] / m.hertz;
    paragraphe("Le plus rapide~: " + gos(r_max, c_max) + " (" + ou(r_max, c_max) + "), soit " +
               nombre(octets_par_cycle) + "~octets par cycle (horloge mesurée~: " +
               nombre(m.hertz / 1e9) + "~GHz), à comparer à ce qu'un cœur peut lire par cycle "
               "(voir montagne(1)).");
    paragraphe("Le plus lent~: " + gos(r_min, c_min) + " (" + ou(r_min, c_min) + "), " +
               nombre(m.debits[r_max][c_max] / m.debits[r_min][c_min]) + "~fois moins.");
}

// --------------------------------------------------------------- options ----

struct Options {
    uint64_t max = 0; // 0: chosen from the caches
    double duree = 0.010;
    std::string svg = "montagne.svg";
    int hauteur = 0; // the plot's lines; 0: its own choice
};

const char *const USAGE =
    "usage~: montagne [--max TAILLE] [--duree MS] [--svg FICHIER] [--hauteur LIGNES]\n";

[[noreturn]] void erreur_usage(const std::string &message)
{
    std::exit(options::erreur_d_usage("montagne", fr(message), fr(USAGE)));
}

// "64K", "256M", "1G", or a number of bytes; 0 when it is none of these, or
// more than PLUS_GRAND_MAX.
uint64_t lire_taille(const std::string &texte)
{
    size_t fin = texte.find_first_not_of("0123456789");
    std::string unite = fin == std::string::npos ? "" : texte.substr(fin);
    uint64_t facteur = unite.empty() ? 1
                       : unite == "K" ? Kio
                       : unite == "M" ? Mio
                       : unite == "G" ? Gio
                                      : 0;
    if (fin == 0 || facteur == 0 || texte.size() - unite.size() > 12)
        return 0;
    uint64_t n = std::stoull(texte.substr(0, texte.size() - unite.size()));
    return n <= PLUS_GRAND_MAX / facteur ? n * facteur : 0;
}

Options lire_options(int argc, char *argv[])
{
    enum { MAX = 256, DUREE, SVG, HAUTEUR, VERSION };
    static const option longues[] = {{"max", required_argument, nullptr, MAX},
                                     {"duree", required_argument, nullptr, DUREE},
                                     {"svg", required_argument, nullptr, SVG},
                                     {"hauteur", required_argument, nullptr, HAUTEUR},
                                     {"aide", no_argument, nullptr, 'h'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, VERSION},
                                     {nullptr, 0, nullptr, 0}};
    Options o;
    for (int r; (r = getopt_long(argc, argv, ":h", longues, nullptr)) != -1;) {
        if (r == 'h') {
            std::printf("%s", fr(std::string(USAGE) +
                                 "  --max TAILLE   le plus grand bloc lu~: 64K, 256M, 1G... (un\n"
                                 "                 multiple de 4~Kio, 64G au plus)~; par défaut,\n"
                                 "                 d'après les caches annoncés\n"
                                 "  --duree MS     le temps donné à chaque mesure, de 1 à\n"
                                 "                 1000~ms (10 par défaut)\n"
                                 "  --svg FICHIER  où écrire l'image (montagne.svg par défaut)\n"
                                 "  --hauteur LIGNES\n"
                                 "                 les lignes que prend la courbe dans le\n"
                                 "                 terminal, légende comprise, de 8 à 60\n"
                                 "  --version      la version de montagne\n")
                                  .c_str());
            std::exit(0);
        }
        if (r == VERSION)
            std::exit(options::montrer_version("montagne"));
        if (r == '?' || r == ':')
            erreur_usage(options::faute(r, argv));
        std::string valeur = optarg, cite = "«~" + valeur + "~»";
        if (r == MAX) {
            o.max = lire_taille(valeur);
            if (o.max < PLUS_PETIT_BLOC || o.max % PLUS_PETIT_BLOC != 0)
                erreur_usage("--max " + cite + "~: il faut un multiple de 4~Kio, de 4K à 64G (par "
                             "exemple 64K, 256M, 1G)");
        } else if (r == DUREE) {
            char *fin = nullptr;
            long ms = std::strtol(valeur.c_str(), &fin, 10);
            if (valeur.empty() || *fin != '\0' || ms < 1 || ms > 1000)
                erreur_usage("--duree " + cite + "~: il faut un nombre de millisecondes, de 1 "
                             "à 1000");
            o.duree = ms / 1000.0;
        } else if (r == HAUTEUR) {
            char *fin = nullptr;
            long lignes = std::strtol(valeur.c_str(), &fin, 10);
            if (valeur.empty() || *fin != '\0' || lignes < 8 || lignes > 60)
                erreur_usage("--hauteur " + cite + "~: il faut un nombre de lignes, de 8 à 60");
            o.hauteur = static_cast<int>(lignes);
        } else {
            if (valeur.empty())
                erreur_usage("--svg~: il faut un nom de fichier");
            o.svg = valeur;
        }
    }
    if (optind < argc)
        erreur_usage("argument inconnu «~" + std::string(argv[optind]) + "~»");
    return o;
}

// Says what the system announces and how far it is believed; returns the
// largest block to read: --max's, or the first power of two at least 4 times
// the largest cache believed, within a quarter of the free memory.
uint64_t plus_grand_bloc(const std::vector<Cache> &caches, const std::string &source,
                         uint64_t libre, uint64_t max)
{
    if (caches.empty())
        paragraphe("Le système n'annonce aucun cache (ni dans /sys, ni par sysconf).");
    else
        paragraphe("Caches de données annoncés (" + source + ")~:");
    uint64_t plus_grand_cache = 0;
    for (const Cache &c : caches) {
        std::string l = c.ligne ? "lignes de " + std::to_string(c.ligne) + "~octets"
                                : "lignes de taille inconnue";
        std::printf("  L%d %s, %s\n", c.niveau, a_droite(fr(taille(c.taille)), 8).c_str(),
                    fr(l).c_str());
        plus_grand_cache = std::max(plus_grand_cache, c.taille);
    }
    if (plus_grand_cache > CACHE_CROYABLE)
        paragraphe("Plus de " + taille(CACHE_CROYABLE) + " de cache pour un seul cœur, c'est "
                   "douteux~: une machine virtuelle annonce souvent le cache de toute la puce de "
                   "son hôte, partagé avec d'autres. La courbe dira ce qu'un cœur en obtient.");
    if (max != 0) {
        paragraphe("Plus grand bloc~: " + taille(max) + " (--max).");
        return max;
    }
    uint64_t croyable = std::min(plus_grand_cache, CACHE_CROYABLE);
    if (croyable == 0)
        croyable = 64 * Mio; // no cache announced: a large one is supposed
    max = PLUS_PETIT_BLOC;
    while (max < 4 * croyable && max * 2 <= libre / 4)
        max *= 2;
    if (max >= 4 * croyable)
        paragraphe("Plus grand bloc~: " + taille(max) + ", au moins 4~fois le plus grand cache "
                   "cru (" + taille(croyable) + (plus_grand_cache == 0 ? ", supposé" : "") +
                   ")~; --max le change.");
    else
        paragraphe("Plus grand bloc~: " + taille(max) + ", le quart de la mémoire libre (" +
                   taille(libre) + ")~; --max le change.");
    return max;
}

} // namespace

int main(int argc, char *argv[])
{
    auto debut = Horloge::now();
    Options options = lire_options(argc, argv);
    uint64_t libre = memoire_libre();
    if (options.max > libre / 2)
        erreur_usage("--max " + taille(options.max) + " dépasse la moitié de la mémoire libre (" +
                     taille(libre) + ")");

    paragraphe("montagne~: le débit des lectures selon la taille du bloc lu et le pas");
    std::printf("\n");
    std::string source;
    std::vector<Cache> caches = caches_annonces(source);
    uint64_t plus_grand = plus_grand_bloc(caches, source, libre, options.max);
    // The chase reads one word per line: the largest line announced, unless
    // it cannot serve.
    uint64_t ligne = 0;
    for (const Cache &c : caches)
        ligne = std::max(ligne, c.ligne);
    if (ligne == 0 || ligne % 16 != 0 || ligne > 4 * Kio)
        ligne = 64;

    std::printf("\n");
    paragraphe("Débit de lecture, en Go/s (milliards d'octets lus par seconde). Au pas de "
               "16~octets, tout le bloc est lu, 16~octets à la fois~; au pas de 512, 16~octets "
               "tous les 512. «~hasard~»~: 8~octets par ligne de " + std::to_string(ligne) +
               ", les lignes dans un ordre mélangé, chaque lecture donnant l'adresse de la "
               "suivante.");
    std::printf("\n");
    Mesures m = mesurer(plus_grand, ligne, options.duree);

    // Colour on a terminal only, and not when NO_COLOR is set (to anything
    // but the empty string).
    const char *sans_couleur = std::getenv("NO_COLOR");
    bool couleur = isatty(STDOUT_FILENO) && (sans_couleur == nullptr || *sans_couleur == '\0');
    std::printf("\n");
    tracer_terminal(m, caches, couleur, options.hauteur);
    commenter(m, caches);

    std::ofstream fichier(options.svg);
    fichier << image_svg(m, caches);
    fichier.close();
    if (!fichier) {
        std::fprintf(stderr, "%s%s%s\n", fr("montagne~: impossible d'écrire l'image «~").c_str(),
                     options.svg.c_str(), fr("~»").c_str());
        return 1;
    }
    std::printf("%s%s\n", fr("Image, à ouvrir dans un navigateur~: ").c_str(), options.svg.c_str());
    paragraphe("Durée de la mesure~: " + nombre(secondes_depuis(debut)) + "~s.");
    return 0;
}
