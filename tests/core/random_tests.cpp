// MT19937 blocks: the plain and MMX paths against each other and against the standard algorithm.
#include <gtest/gtest.h>

#include "core/core.h"
#include "core/core_test_hooks.h"

// The generator as first published: the 69,069 seeding and one output at a time by the usual recurrence.
struct ReferenceTwister {
    unsigned long mt[624];
    int mti;

    explicit ReferenceTwister(unsigned long seed)
    {
        for (int i = 0; i < 624; i++) {
            mt[i] = seed & 0xffff0000UL;
            seed = (69069 * seed + 1) & 0xffffffffUL;
            mt[i] |= (seed & 0xffff0000UL) >> 16;
            seed = (69069 * seed + 1) & 0xffffffffUL;
        }
        mti = 624;
    }

    unsigned long Next()
    {
        static const unsigned long mag01[2] = {0x0, 0x9908b0dfUL};
        unsigned long y;
        if (mti >= 624) {
            int kk;
            for (kk = 0; kk < 624 - 397; kk++) {
                y = (mt[kk] & 0x80000000UL) | (mt[kk + 1] & 0x7fffffffUL);
                mt[kk] = mt[kk + 397] ^ (y >> 1) ^ mag01[y & 0x1];
            }
            for (; kk < 623; kk++) {
                y = (mt[kk] & 0x80000000UL) | (mt[kk + 1] & 0x7fffffffUL);
                mt[kk] = mt[kk + (397 - 624)] ^ (y >> 1) ^ mag01[y & 0x1];
            }
            y = (mt[623] & 0x80000000UL) | (mt[0] & 0x7fffffffUL);
            mt[623] = mt[396] ^ (y >> 1) ^ mag01[y & 0x1];
            mti = 0;
        }
        y = mt[mti++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9d2c5680UL;
        y ^= (y << 15) & 0xefc60000UL;
        y ^= y >> 18;
        return y & 0xffffffffUL;
    }
};

TEST(Random, BlocksMatchTheStandardAlgorithmOnBothPaths)
{
    const unsigned int seeds[] = {0, 1, 4357, 0x7FFFFFFF, 0xFFFFFFFF, 123456789};
    for (unsigned int seed : seeds) {
        for (int useMmx = 0; useMmx <= 1; useMmx++) {
            ReferenceTwister reference(seed);
            SeedRandom(seed);
            SetRandomMmxPath(useMmx);
            EXPECT_EQ(GetRandomReadIndex(), 0);
            for (int block = 0; block < 4; block++) {
                if (block > 0) {
                    GenerateRandomBlock();
                }
                const unsigned int *outputs = GetRandomBlock();
                for (int i = 0; i < 624; i++) {
                    ASSERT_EQ(outputs[i], (unsigned int)reference.Next())
                        << "seed " << seed << " mmx " << useMmx << " block " << block << " output " << i;
                }
                EXPECT_EQ(GetRandomReadIndex(), 0);
            }
        }
    }
}

TEST(Random, PlainAndMmxPathsGiveTheSameBlocks)
{
    if (!HasMmx()) {
        GTEST_SKIP() << "without MMX only the plain path exists";
    }
    const unsigned int seeds[] = {2, 99, 0xDEADBEEF};
    for (unsigned int seed : seeds) {
        unsigned int plain[3][624], mmx[3][624];
        unsigned int(*results[2])[624] = {plain, mmx};
        for (int useMmx = 0; useMmx <= 1; useMmx++) {
            SeedRandom(seed);
            SetRandomMmxPath(useMmx);
            for (int block = 0; block < 3; block++) {
                GenerateRandomBlock();
                memcpy(results[useMmx][block], GetRandomBlock(), sizeof plain[0]);
            }
        }
        EXPECT_EQ(memcmp(plain, mmx, sizeof plain), 0) << "seed " << seed;
    }
}
