// Blend tables: worked values, every entry against the formulas, and the blend-graph ramp.
#include "image_test_support.h"

#include <math.h>

namespace {

int Difference(int p, int d)
{
    return g_BlendTables.difference[p][d + 255];
}

TEST(BlendTables, WorkedValues)
{
    InitMemImgTables();
    const struct {
        const char *table;
        int a, b, c;
        int expected;
    } table[] = {
        {"difference", 255, 255, 0, 255},  {"difference", 255, -255, 0, -255}, {"difference", 128, -1, 0, 0},
        {"difference", 128, 255, 0, 128},  {"difference", 128, -255, 0, -128}, {"product", 128, 255, 0, 128},
        {"product", 255, 77, 0, 77},       {"product", 0, 200, 0, 0},          {"mix", 63, 40, 7, 40},
        {"mix", 0, 40, 7, 7},              {"mix", 32, 63, 0, 32},
    };
    for (const auto &e : table) {
        int value = e.table[0] == 'd'   ? Difference(e.a, e.b)
                    : e.table[0] == 'p' ? (int)g_BlendTables.product[e.a][e.b]
                                        : g_BlendTables.mix[e.a][e.b][e.c];
        EXPECT_EQ(value, e.expected) << e.table << " " << e.a << " " << e.b << " " << e.c;
    }
    // The difference table's centre of row 0 lies 1020 bytes in, and rows are 2048 bytes apart.
    EXPECT_EQ((const char *)&g_BlendTables.difference[0][255] - (const char *)&g_BlendTables, 1020);
    EXPECT_EQ((const char *)&g_BlendTables.difference[1][0] - (const char *)&g_BlendTables.difference[0][0], 2048);
    EXPECT_EQ((const char *)&g_BlendTables.product[1][0] - (const char *)&g_BlendTables.product[0][0], 1024);
    EXPECT_EQ((const char *)&g_BlendTables.mix[1][0][0] - (const char *)&g_BlendTables.mix[0][0][0], 4096);
}

TEST(BlendTables, EveryEntryMatchesItsFormula)
{
    InitMemImgTables();
    for (int p = 0; p < 256; p++) {
        for (int d = -255; d <= 255; d++) {
            ASSERT_EQ(Difference(p, d), (int)trunc(p * (double)d / 255.0))
                << p << " " << d;
        }
        for (int c = 0; c < 256; c++) {
            ASSERT_EQ(g_BlendTables.product[p][c], (uint32_t)floor(p * c / 255.0)) << p << " " << c;
        }
    }
    for (int a = 0; a < 64; a++) {
        for (int s = 0; s < 64; s++) {
            for (int d = 0; d < 64; d++) {
                ASSERT_EQ(g_BlendTables.mix[a][s][d], (int)floor((a * s + (63 - a) * d) / 63.0))
                    << a << " " << s << " " << d;
            }
        }
    }
}

TEST(BlendTables, FadeRampExamples)
{
    const struct {
        int border, range;
        int k, expected;
    } table[] = {
        {0, 255, 0, 255},   {0, 255, 255, 255}, {255, 255, 0, 0},   {255, 255, 254, 0},
        {255, 255, 255, 1}, {128, 255, 0, 0},   {128, 255, 77, 77}, {128, 255, 255, 255},
    };
    for (const auto &e : table) {
        BuildFadeTable(e.border, e.range);
        EXPECT_EQ(g_BlendTables.fadeRamp[e.k], e.expected) << e.border << " " << e.range << " entry " << e.k;
    }
    BuildFadeTable(128, 255);
    for (int k = 0; k < 256; k++) ASSERT_EQ(g_BlendTables.fadeRamp[k], k) << "identity";
    // Range 0 is a hard step at the border.
    for (int border = 0; border < 256; border++) {
        BuildFadeTable(border, 0);
        for (int k = 0; k < 256; k++) {
            int expected = k < border ? 0 : k == border ? std::min(255, 256 - border) : 255;
            ASSERT_EQ(g_BlendTables.fadeRamp[k], expected) << "border " << border << " entry " << k;
        }
    }
    // Every ramp rises from left to right, whatever the border and range.
    for (int border = 0; border < 256; border += 5) {
        for (int range = 0; range < 256; range += 3) {
            BuildFadeTable(border, range);
            for (int k = 1; k < 256; k++) ASSERT_GE(g_BlendTables.fadeRamp[k], g_BlendTables.fadeRamp[k - 1]);
        }
    }
    BuildFadeTable(-5, -1); // out-of-range arguments are clamped, never a division by zero
    EXPECT_EQ(g_BlendTables.fadeRamp[0], 255);
}

} // namespace
