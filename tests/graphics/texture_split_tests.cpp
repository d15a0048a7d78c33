// Texture splitting: known cuts, and the promises every cut keeps over all sizes, maxima and settings.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"

#include <vector>

static std::vector<int> Split(const TexturePieceLimits &limits, int size, int keepWhole, int powerOfTwo)
{
    // The count without an array sizes the array: a guard after it shows any write past that count.
    int count = SplitTextureSizesWith(&limits, size, NULL, keepWhole, powerOfTwo);
    std::vector<int> pieces(count + 1, -7);
    EXPECT_EQ(SplitTextureSizesWith(&limits, size, pieces.data(), keepWhole, powerOfTwo), count);
    EXPECT_EQ(pieces[count], -7) << "written past the count";
    pieces.resize(count);
    return pieces;
}

TEST(TextureSplit, KnownCuts)
{
    // max, forced, pow2 only, conditional, never split, screen width | size, keep whole, pow2 flag | pieces
    struct Case {
        TexturePieceLimits limits;
        int size, keepWhole, powerOfTwo;
        std::vector<int> pieces;
    } cases[] = {
        {{2048, 0, 1, 0, 0, 640}, 5, 0, 0, {8}},
        {{2048, 0, 0, 0, 0, 640}, 300, 0, 0, {300}},
        {{2048, 0, 1, 0, 0, 640}, 300, 1, 0, {512}},
        {{256, 256, 1, 0, 0, 640}, 600, 0, 0, {256, 256, 64, 16, 8}},
        {{2048, 0, 1, 0, 0, 640}, 640, 0, 0, {512, 128}},      // not below the screen width: split
        {{2048, 0, 1, 0, 0, 1024}, 640, 0, 0, {1024}},         // below it: one power of two
        {{1024, 1024, 1, 0, 0, 640}, 900, 0, 0, {1024}},       // rest above three quarters: the piece doubles
        {{512, 0, 1, 0, 0, 640}, 600, 1, 0, {512, 64, 16, 8}}, // 2p above the maximum: split even when kept whole
        {{256, 256, 1, 0, 0, 640}, 269, 0, 0, {256, 16}},      // two last pieces of 8 merged
        {{2048, 0, 0, 1, 0, 640}, 0, 0, 0, {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Split(c.limits, c.size, c.keepWhole, c.powerOfTwo), c.pieces) << "size " << c.size;
    }
}

static bool IsPowerOfTwo(int value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

TEST(TextureSplit, EveryCutCoversTheSizeWithinTheMaximumLargestFirst)
{
    for (int maxSize : {256, 2048, 16384}) {
        for (int flags = 0; flags < 64; flags++) {
            TexturePieceLimits limits = {maxSize,          (flags & 1) ? maxSize : 0, (flags >> 1) & 1,
                                         (flags >> 2) & 1, (flags >> 3) & 1,          640};
            int keepWhole = (flags >> 4) & 1, powerOfTwo = (flags >> 5) & 1;
            bool powersOnly = powerOfTwo || (limits.powerOfTwoOnly && !limits.nonPowerOfTwoConditional);
            for (int size = 1; size <= 4096; size++) {
                std::vector<int> pieces = Split(limits, size, keepWhole, powerOfTwo);
                SCOPED_TRACE(testing::Message() << "max " << maxSize << " flags " << flags << " size " << size);
                ASSERT_FALSE(pieces.empty());
                int total = 0;
                for (size_t i = 0; i < pieces.size(); i++) {
                    ASSERT_LE(pieces[i], maxSize);
                    ASSERT_TRUE(i == 0 || pieces[i] <= pieces[i - 1]);
                    ASSERT_TRUE(!powersOnly || (IsPowerOfTwo(pieces[i]) && pieces[i] >= 8));
                    total += pieces[i];
                }
                ASSERT_GE(total, size);
                ASSERT_LT(total - pieces.back(), size) << "every piece but the last is needed";
            }
        }
    }
}

TEST(TextureSplit, TheEngineSettingsAndDeviceLimitsReachTheCut)
{
    g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = 16384;
    g_D3D.powerOfTwoOnly = 1;
    SetForcedMaxTextureSize(300); // taken down to 256
    int pieces[8];
    ASSERT_EQ(SplitTextureSizes(600, pieces, 0, 0), 5);
    EXPECT_EQ(pieces[2], 64);
    SetTextureNeverSplit(1);
    EXPECT_EQ(SplitTextureSizes(200, pieces, 0, 0), 1);
    EXPECT_EQ(pieces[0], 256);
    SetForcedMaxTextureSize(0);
    SetTextureNeverSplit(0);
    EXPECT_EQ(SplitTextureSizes(600, pieces, 0, 0), 1) << "below the screen width without a forced maximum";
    EXPECT_EQ(pieces[0], 1024);
}
