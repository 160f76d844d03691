// The French text every tool prints: wrapped within its columns, with no
// word lost, the typography French asks for and figures with a comma.
#include <gtest/gtest.h>

#include <sstream>

#include "texte.h"

namespace {

using texte::insecable;

std::vector<std::string> lignes(const std::string &s)
{
    std::vector<std::string> v;
    std::istringstream flux(s);
    for (std::string l; std::getline(flux, l);)
        v.push_back(l);
    return v;
}

TEST(Texte, PlierTientDansLesColonnesSansPerdreUnMot)
{
    std::string phrase;
    for (int k = 0; k < 40; k++)
        phrase += "élève" + insecable + ":" + std::to_string(k) + " ";
    std::string mot_trop_long(100, 'x');
    std::string plie = texte::plier("- ", phrase + mot_trop_long + "\nfin", 4, 40);
    auto v = lignes(plie);
    ASSERT_GE(v.size(), 3u);
    EXPECT_EQ(v[0].substr(0, 2), "- ");
    std::string recolle;
    for (std::size_t k = 0; k < v.size(); k++) {
        EXPECT_LE(texte::colonnes(v[k]), 40u) << v[k];
        if (k > 0) {
            EXPECT_EQ(v[k].substr(0, 4), "    ") << v[k];
        }
        // A non-breaking space is never a place to break.
        EXPECT_NE(v[k].back(), '\xc2') << v[k];
        recolle += v[k].substr(k == 0 ? 2 : 4);
    }
    std::string sans_blancs;
    for (char c : phrase + mot_trop_long + "fin")
        if (c != ' ')
            sans_blancs += c;
    std::string recolle_sans_blancs;
    for (char c : recolle)
        if (c != ' ')
            recolle_sans_blancs += c;
    EXPECT_EQ(recolle_sans_blancs, sans_blancs);
    EXPECT_EQ(v.back(), "    fin");
    EXPECT_EQ(plie.back(), '\n');
}

TEST(Texte, TypographieFrancaise)
{
    EXPECT_EQ(texte::typographie("Arbre ? « P(A) » : oui ; non !"),
              "Arbre" + insecable + "? «" + insecable + "P(A)" + insecable + "»" + insecable +
                  ": oui" + insecable + "; non" + insecable + "!");
    EXPECT_EQ(texte::typographie("déjà:fait"), "déjà:fait");
}

TEST(Texte, ColonnesCoupeesEtAlignees)
{
    EXPECT_EQ(texte::colonnes("élève…"), 6u);
    EXPECT_EQ(texte::couper("élève", 5), "élève");
    EXPECT_EQ(texte::couper("élèves", 5), "élèv…");
    EXPECT_EQ(texte::colonne("été", 5), "été  ");
    EXPECT_EQ(texte::a_droite("3,5", 5), "  3,5");
}

TEST(Texte, ChiffresALaFrancaise)
{
    EXPECT_EQ(texte::nombre(131.4), "131");
    EXPECT_EQ(texte::nombre(15.24), "15,2");
    EXPECT_EQ(texte::nombre(0.03812), "0,0381");
    EXPECT_EQ(texte::nombre(3450), "3" + insecable + "450");
    EXPECT_EQ(texte::virgule(0.25, 2), "0,25");
    // However long the piece: a picture's points, say.
    std::string long_(2000, 'x');
    EXPECT_EQ(texte::formater("<%s %d>", long_.c_str(), 7), "<" + long_ + " 7>");
    EXPECT_EQ(texte::citer(""), "rien");
    EXPECT_EQ(texte::citer("a b"), "«" + insecable + "a b" + insecable + "»");
}

} // namespace
