// attentif: its child is reaped the moment it ends, and SIGTERM, caught, does
// not end it; SIGKILL does.
#include <gtest/gtest.h>

#include <csignal>

#include "essai.h"

using namespace lancement;

TEST(Attentif, ReapsItsChildAtOnceAndOutlivesSigtermButNotSigkill)
{
    Processus p({.programme = CHEMIN_ATTENTIF});
    std::string sortie = p.lire_jusqu_a(Canal::sortie, "recueilli aussitôt, code 0\n");
    pid_t fils = pid_dans(sortie, "fils ");
    ASSERT_GT(fils, 0) << sortie;
    EXPECT_EQ(sortie, "parent " + std::to_string(p.pid()) + ", j'attends mes signaux\nfils " +
                          std::to_string(fils) + ", je finis\nfils " + std::to_string(fils) +
                          " recueilli aussitôt, code 0\n");
    // Reaped, not a zombie: /proc knows the child no more.
    EXPECT_FALSE(lire_stat(fils)) << "the child " << fils << " is left as a zombie";

    kill(p.pid(), SIGTERM);
    sortie = p.lire_jusqu_a(Canal::sortie, "je continue\n");
    EXPECT_NE(sortie.find("SIGTERM reçu, je continue\n"), std::string::npos) << sortie;
    EXPECT_FALSE(p.attendre(300ms)) << "SIGTERM ended it";

    kill(p.pid(), SIGKILL);
    EXPECT_EQ(p.attendre(), -SIGKILL);
}
