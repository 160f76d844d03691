// The walkers' shared pieces, tested directly: the argument conversions (so
// that 4 billion steps need not be walked) and the walk engine.
#include <gtest/gtest.h>

#include <cstdlib>

#include "marche.h"

TEST(Arguments, StepCountIsStrtolsValueCutToItsLow32BitsUnsigned)
{
    struct Cas {
        const char *texte;
        uint64_t attendu;
    };
    for (const Cas &c : {Cas{"1000", 1000}, Cas{"  +12abc", 12}, Cas{"\t7", 7},
                         Cas{"abc", 0}, Cas{"", 0}, Cas{"-1", 4294967295u},
                         Cas{"4294967295", 4294967295u}, Cas{"4294967296", 0},
                         Cas{"4294967297", 1},
                         Cas{"99999999999999999999", 4294967295u},  // clamped to 2^63-1
                         Cas{"-99999999999999999999", 0}}) {        // clamped to -2^63
        EXPECT_EQ(lire_nb_steps(c.texte), c.attendu) << '"' << c.texte << '"';
    }
}

TEST(Arguments, ExplorerNumberIsTheSameValueReadAsASigned32BitInt)
{
    struct Cas {
        const char *texte;
        int attendu;
    };
    for (const Cas &c : {Cas{"3", 3}, Cas{"  -7x", -7}, Cas{"abc", 0}, Cas{"4294967297", 1},
                         Cas{"4294967295", -1}, Cas{"2147483648", -2147483647 - 1},
                         Cas{"99999999999999999999", -1}}) {
        EXPECT_EQ(lire_numero(c.texte), c.attendu) << '"' << c.texte << '"';
    }
}

TEST(ArgumentsDeathTest, AnyOtherCountEndsWithTheUsageAndStatus1)
{
    char nom[] = "./rw", a[] = "1", b[] = "2", c[] = "3";
    char *argv[] = {nom, a, b, c, nullptr};
    for (int argc : {1, 2, 4}) {
        EXPECT_EXIT(exiger_deux_arguments(argc, argv, "rightwalker"), testing::ExitedWithCode(1),
                    "^Usage : \\./rw <numéro d'explorateur> <nb_steps>\n$");
    }
}

TEST(ArgumentsDeathTest, AnEmptyArgumentVectorShowsTheProgramsOwnName)
{
    char *argv[] = {nullptr};
    EXPECT_EXIT(exiger_deux_arguments(0, argv, "leftwalker"), testing::ExitedWithCode(1),
                "^Usage : leftwalker <numéro d'explorateur> <nb_steps>\n$");
    char vide[] = "";
    char *argv_vide[] = {vide, nullptr};
    EXPECT_EXIT(exiger_deux_arguments(1, argv_vide, "leftwalker"), testing::ExitedWithCode(1),
                "^Usage :  <numéro d'explorateur> <nb_steps>\n$")
        << "an explicit empty name is shown as it is";
}

TEST(PositionFinale, FollowsLibcsRandSequenceOneDrawPerStep)
{
    struct Cas {
        uint32_t seed;
        uint64_t steps;
        int64_t position;
        int tirage_suivant; // the rand() value right after the walk
    };
    // Worked out once with glibc's srand/rand.
    for (const Cas &c : {Cas{1, 10, -2, 1025202362}, Cas{42, 1000, 2, 1963050744},
                         Cas{12345, 1000000, -169, 1355722336},
                         Cas{4000000000u, 100000, -358, 1478365384}}) {
        EXPECT_EQ(position_finale(c.steps, c.seed), c.position) << "seed " << c.seed;
        EXPECT_EQ(rand(), c.tirage_suivant) << "exactly one draw per step, seed " << c.seed;
    }
}

TEST(PositionFinale, SameSeedSameWalkAndNeverFartherThanTheStepCount)
{
    for (uint32_t seed : {7u, 1234u, 99999u}) {
        for (uint64_t steps : {0ul, 1ul, 2ul, 50ul, 10000ul}) {
            int64_t y = position_finale(steps, seed);
            EXPECT_EQ(position_finale(steps, seed), y);
            EXPECT_LE(static_cast<uint64_t>(std::llabs(y)), steps);
        }
    }
    EXPECT_EQ(position_finale(0, 1), 0);
}
