// linefit's cache-line query, with the system's answers chosen by the test.
//
// This test program supplies its own sysconf, which the query links against
// instead of libc's: while a table is armed it answers the cache names from
// the table and records each call; otherwise, and for every other name, it
// hands over to libc.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include <unistd.h>

#include "cache_ligne.h"

extern "C" long __sysconf(int nom); // libc's own, under its internal name

namespace {
std::map<int, long> *table = nullptr;
std::vector<int> appels;
} // namespace

extern "C" long sysconf(int nom) noexcept
{
    if (table != nullptr && table->contains(nom)) {
        appels.push_back(nom);
        return table->at(nom);
    }
    return __sysconf(nom);
}

namespace {

constexpr int L1_LIGNE = _SC_LEVEL1_DCACHE_LINESIZE, L2 = _SC_LEVEL2_CACHE_SIZE,
              L2_LIGNE = _SC_LEVEL2_CACHE_LINESIZE, L3 = _SC_LEVEL3_CACHE_SIZE,
              L3_LIGNE = _SC_LEVEL3_CACHE_LINESIZE;

class CacheLigne : public testing::Test {
protected:
    // A machine with 1 MiB of L2, 32 MiB of L3, and lines of 64, 128 and 256 bytes,
    // so that each level's answer is told apart.
    std::map<int, long> machine{{L1_LIGNE, 64}, {L2, 1 << 20}, {L2_LIGNE, 128},
                                {L3, 32 << 20}, {L3_LIGNE, 256}};
    void SetUp() override { table = &machine; }
    void TearDown() override { table = nullptr; }

    uint64_t demander(int64_t taille)
    {
        appels.clear();
        return nb_entiers_dans_ligne_cache_inf(taille);
    }
};

} // namespace

TEST_F(CacheLigne, TheBlockSizeChoosesTheLevelWithABlockAsLargeAsACacheFittingInIt)
{
    EXPECT_EQ(demander(1000), 16u);
    EXPECT_EQ(appels, (std::vector<int>{L2, L1_LIGNE}));
    EXPECT_EQ(demander(1 << 20), 16u) << "exactly the L2 size fits in L2";
    EXPECT_EQ(demander((1 << 20) + 1), 32u);
    EXPECT_EQ(appels, (std::vector<int>{L2, L3, L2_LIGNE}));
    EXPECT_EQ(demander(32 << 20), 32u) << "exactly the L3 size fits in L3";
    EXPECT_EQ(demander((32 << 20) + 1), 64u);
    EXPECT_EQ(appels, (std::vector<int>{L2, L3, L3_LIGNE}));
    EXPECT_EQ(demander(INT64_MAX), 64u);
}

TEST_F(CacheLigne, ALevelReportedAsSizeZeroHoldsNoPositiveBlock)
{
    machine[L2] = 0;
    EXPECT_EQ(demander(0), 16u) << "an empty block still fits";
    EXPECT_EQ(demander(1), 32u);
    machine[L3] = 0;
    EXPECT_EQ(demander(1), 64u);
    machine[L2] = -1; // unknown size: nothing fits, not even an empty block
    EXPECT_EQ(demander(0), 32u);
}

TEST_F(CacheLigne, UnknownOrZeroLineSizesGiveZeroIntegers)
{
    machine[L1_LIGNE] = 0;
    EXPECT_EQ(demander(1), 0u);
    machine[L1_LIGNE] = -1; // not 2^62 - 1: there is no such line
    EXPECT_EQ(demander(1), 0u);
    machine[L3_LIGNE] = -1;
    EXPECT_EQ(demander(INT64_MAX), 0u);
    machine[L2_LIGNE] = 4;
    EXPECT_EQ(demander((1 << 20) + 1), 1u);
}

TEST(CacheLigneReelle, AgreesWithThisMachinesOwnFigures)
{
    long l1 = sysconf(L1_LIGNE), l2 = sysconf(L2), l2_ligne = sysconf(L2_LIGNE);
    auto entiers = [](long ligne) { return ligne < 0 ? 0u : static_cast<uint64_t>(ligne) / 4; };
    EXPECT_EQ(nb_entiers_dans_ligne_cache_inf(0), l2 >= 0 ? entiers(l1) : entiers(l2_ligne));
    if (l2 > 0) {
        EXPECT_EQ(nb_entiers_dans_ligne_cache_inf(l2), entiers(l1));
    }
    RecordProperty("l1_line", std::to_string(l1));
}
