// The colour tables' layout, a rebuild giving the same bytes, and every channel sum landing inside the clamp table
// (their values: tests/engine).
#include <gtest/gtest.h>

#include <string.h>

#include "media/media.h"

TEST(YuvTables, LieBackToBackRebuildTheSameAndEverySumFitsTheClamp)
{
    ASSERT_EQ(InitYuvToRgbTables(), 0);
    const YuvToRgbTables *t = GetYuvToRgbTables();
    const int *first = t->crToRed;
    EXPECT_EQ(t->cbToGreen - first + t->crToGreen - first + t->cbToBlue - first + t->luma - first, 256 * 10);
    YuvToRgbTables copy;
    memcpy(&copy, t, sizeof(copy));
    ASSERT_EQ(InitYuvToRgbTables(), 0);
    EXPECT_EQ(memcmp(&copy, t, sizeof(copy)), 0);
    int lowest = 0, highest = 0;
    for (int y = 0; y < 256; y++) {
        for (int u = 0; u < 256; u++) {
            for (int v = 0; v < 256; v++) {
                const int sums[] = {t->luma[y] + t->crToRed[v], t->luma[y] + t->cbToGreen[u] + t->crToGreen[v],
                                    t->luma[y] + t->cbToBlue[u]};
                for (int sum : sums) {
                    lowest = std::min(lowest, sum >> 14);
                    highest = std::max(highest, sum >> 14);
                }
            }
        }
    }
    EXPECT_GE(lowest, -512);
    EXPECT_LE(highest, 767);
}
