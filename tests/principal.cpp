// Every test program's main: the orphans of the programs a test starts come
// back to the test, which can then look at them and reap them.
#include <gtest/gtest.h>

#include "lancement.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    lancement::adopter_les_orphelins();
    return RUN_ALL_TESTS();
}
