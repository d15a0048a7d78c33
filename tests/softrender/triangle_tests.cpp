// The triangles and the quadrilateral image draw against the slow model: a seeded sweep over the source forms,
// modes, parameters, brightness, blend images, transparency and corners that must reach every span loop, the worked
// values as one table, and placements: known rows, the quad's reach and mirror. The model places rows and columns
// by floor, so the sweep's corners anywhere in -8192..8191 show that a moved triangle covers the moved pixels.
#include <gtest/gtest.h>

#include <limits.h>

#include "blit_check.h"
#include "softrender/softrender_test_hooks.h"

TEST(TriangleTest, EveryTriangleAndQuadMatchesTheModel)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 0x7FFFFFFF};
    int MemImgTriangleVertex::*const fields[] = {&MemImgTriangleVertex::x, &MemImgTriangleVertex::y,
                                                 &MemImgTriangleVertex::u, &MemImgTriangleVertex::v};
    std::mt19937 rng(20261207);
    InitMemImgTables();
    ResetBlitLeafCounts();
    int blocks = GetAllocationCount(), failures = 0, drawn = 0, trials = 2 * 4 * 16 * 4 * 56;
    for (int index = 0; index < trials; index++) {
        int n = index, depth16 = n % 2, form = (n /= 2) % 4, mode = modes[(n /= 4) % 16], flags = (n /= 16) % 4;
        const int parameters[] = {0, 1, 127, 128, 254, 255, (int)(rng() % 256)};
        const uint32_t brightness[] = {0xFFFFFF, 0x808080, 0x00FFFF00, (uint32_t)rng()};
        int w = Between(rng, 1, 8), h = Between(rng, 1, 8), refused = rng() % 16 ? 0 : Between(rng, 1, 5);
        TestImage t, source, blend; // refused: palettised, alpha, 8-bit, 16-bit channel destination, other source
        MakeDestination(t, rng, refused == 3 || refused == 4 ? refused - 1 : 1 - depth16, Between(rng, 1, 12),
                        Between(rng, 1, 12), refused == 2, refused == 1);
        RandomSettings(rng, mode, parameters[n / 4 % 7], true, t.view);
        g_MemImgDrawSettings.brightness = brightness[n / 28 % 4];
        BlitCall call{form < 3 && rng() % 4 == 0 ? BLIT_QUAD : BLIT_TRIANGLE};
        if (form < 3) { // else flat
            MakeSource(source, rng, refused == 5 ? depth16 : 1 - depth16, form, w, h, false);
            call.source = &source.image;
        }
        if (flags % 2) { // at times a row or a row's byte short, at times two bytes a pixel
            int bytes = 1 + (rng() % 3 == 0), narrow = rng() % 10 == 0, low = rng() % 10 == 0;
            MakeBlendImage(blend, rng, std::max(1, (w + bytes - 1) / bytes - narrow), std::max(1, h - low), bytes);
            call.blendImage = &blend.image;
        }
        call.transparent = flags / 2 ? (int)(rng() | 1) : 0;
        call.color = rng();
        // Corners anywhere in -8192..8191 or near the view, texels mostly inside, at times one value past the range.
        // Texels anywhere give gradients that wrap around 32 bits within a span.
        int anywhere = rng() % 8 == 0, wild = rng() % 8 == 0, slack = rng() % 4 ? 0 : 2,
            past = rng() % 16 ? -1 : (int)(rng() % 16);
        auto at = [&](int size) {
            return anywhere ? Between(rng, -8192, 8191) : Between(rng, -size / 2, size * 3 / 2);
        };
        auto texel = [&](int size) { return wild ? Between(rng, -8192, 8191) : Between(rng, -slack, size + slack); };
        std::string corners;
        for (MemImgTriangleVertex &v : call.vertices) {
            v = {at(t.view.width), at(t.view.height), texel(w), texel(h)};
            if (past >= 0 && &v == &call.vertices[past / 4])
                v.*fields[past % 4] = rng() % 2 ? 8192 : rng() % 2 ? -8193 : INT_MIN;
            for (int value : {v.x, v.y, v.u, v.v})
                corners += " " + std::to_string(value);
        }
        bool changed = false;
        std::string difference = CheckBlit(t, call, &changed);
        drawn += changed;
        EXPECT_TRUE(difference.empty() || ++failures > 10)
            << "trial " << index << ": " << difference << "; x y u v:" << corners;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(drawn, trials / 10) << "the sweep drew too little to count";
    const BlitLeafCount *leaves = nullptr;
    unsigned loops = 0;
    for (int i = 0, count = GetBlitLeafCounts(&leaves); i < count; i++) {
        loops += IsLeafOf(leaves[i].name, {"triangle", "flat"});
        EXPECT_TRUE(!IsLeafOf(leaves[i].name, {"triangle", "flat"}) || leaves[i].calls)
            << leaves[i].name << " never ran";
    }
    EXPECT_EQ(loops, 336u + 14u) << "textured loops per depth, form, mode and choice; flat ones per depth and mode";
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// Worked values: the triangle (0,0), (8,0), (0,8) over a 1x1 source of `texel` (palettised: index 5, whose entry
// is `texel`; FORM_FLAT: no source, `texel` the flat colour) onto pixels `pixel`, in each mode of the bit set
// `modes`, leaves `expected` at (1, 1). ramp >= 0: a blend image whose byte has that weight.
enum { FORM_FLAT = 3, W = 0xFFFFFF, A = 0xC0F /* modes 0-3, 10, 11 */, M4 = 1 << 4, M01AB = 0xC03 };
static const struct {
    const char *what;
    int depth, form, modes, p;
    uint32_t bright, texel, pixel, expected;
    int transparent = 0, ramp = -1;
    uint32_t key = 7;
} kKnownTexels[] = {
    // clang-format off
    {"modes 1 and 2 at p 0, 3 at p 0 direct: nothing", 32, FORM_DIRECT, 0xE, 0, W, 1, 0xABCDEF, 0xABCDEF},
    {"mode 3 at p 0 palettised: S32 of zero", 32, FORM_PALETTE, 1 << 3, 0, W, 0x123456, 0xFFFEFEFE, 0x00FFFFFE},
    {"mode 0, white: the entry's fourth byte too", 32, FORM_PALETTE, 1, 0, W, 0xAB123456, 0, 0xAB123456},
    {"mode 0, not white: the top byte kept", 32, FORM_DIRECT, 1, 0, 0xFFFFFE, 0xAB123456, 0xCD000000, 0xCD123455},
    {"palettised key, flag on: skipped", 32, FORM_PALETTE, 1, 0, W, 0x123456, 0x777777, 0x777777, 1, -1, 5},
    {"direct key but the top byte: drawn", 32, FORM_DIRECT, 1, 0, W, 0x123456, 0x777777, 0x123456, 1, -1, 0x1123456},
    {"alpha 0, flag on", 32, FORM_ALPHA, A, 128, W, 0xFFFFFF, 0x12345678, 0x12345678, 1},
    {"alpha 0, flag on, mode 4: black", 32, FORM_ALPHA, M4, 128, W, 0xFFFFFF, 0x12345678, 0x12000000, 1},
    {"alpha 0, flag off", 32, FORM_ALPHA, M01AB, 128, W, 0xFFFFFF, 0x12345678, 0x12345678},
    {"alpha 0, flag off, mode 2: top byte cleared", 32, FORM_ALPHA, 1 << 2, 128, W, 0xFFFFFF, 0x12345678, 0x345678},
    {"alpha 0, flag off, mode 3: low bits set", 32, FORM_ALPHA, 1 << 3, 128, W, 0xFFFFFF, 0x12345678, 0x355778},
    {"alpha 255, flag on: the whole word", 32, FORM_ALPHA, 1, 0, W, 0xFF123456, 0, 0xFF123456, 1},
    {"alpha 255, flag off: 255 over 0 gives 254", 32, FORM_ALPHA, 1, 0, W, 0xFFFF0000, 0, 0xFE0000},
    {"ramp 0", 32, FORM_DIRECT, M01AB, 128, W, 0x123456, 0x345678, 0x345678, 0, 0},
    {"ramp 0, mode 4: black", 32, FORM_DIRECT, M4, 128, W, 0x123456, 0xAB345678, 0xAB000000, 0, 0},
    {"brightness 0x808080 on white", 32, FORM_DIRECT, 1, 0, 0x808080, 0xFFFFFF, 0, 0x808080},
    {"mode 10, brightness 0x00FFFF: red 0 brings 0", 32, FORM_DIRECT, 1 << 10, 255, 0xFFFF, 0, 0x808080, 0xFEFE},
    {"mode 3 at p 0 palettised: 0xFFFF", 16, FORM_PALETTE, 1 << 3, 0, W, 0x1234, 0xFFFF, 0xFFDF},
    {"mode 3 at p 0 palettised: 0x0000", 16, FORM_PALETTE, 1 << 3, 0, W, 0x1234, 0, 0x0800},
    {"alpha 0, flag on", 16, FORM_ALPHA, A, 128, W, 0xFFFF, 0x1234, 0x1234, 1},
    {"alpha 0, flag off", 16, FORM_ALPHA, M01AB | 1 << 2, 128, W, 0xFFFF, 0x1234, 0x1234},
    {"alpha 0, flag off, mode 3", 16, FORM_ALPHA, 1 << 3, 128, W, 0xFFFF, 0xFFFF, 0xFFDF},
    {"alpha 255, flag off: 31 over 0 gives 30", 16, FORM_ALPHA, 1, 0, W, 0xFFF800, 0, 0xF000},
    {"ramp 0", 16, FORM_DIRECT, M01AB | 1 << 2, 128, W, 0x1234, 0xABCD, 0xABCD, 0, 0},
    {"brightness 0x808080 on white", 16, FORM_DIRECT, 1, 0, 0x808080, 0xFFFF, 0, 0x7BEF},
    {"brightness 0xFFFF00 on white", 16, FORM_DIRECT, 1, 0, 0xFFFF00, 0xFFFF, 0, 0xFFE0},
    {"mode 10, brightness 0x00FFFF: red 0 brings 0", 16, FORM_DIRECT, 1 << 10, 255, 0xFFFF, 0, 0x8410, 0x07FF},
    {"flat: modes 5 to 9", 32, FORM_FLAT, 0x3E0, 128, W, 0x123456, 0x345678, 0x345678},
    {"flat: brightness 0x808080", 32, FORM_FLAT, 1, 0, 0x808080, 0xFFFFFF, 0, 0x808080},
    {"flat: brightness 0xFFFF00", 16, FORM_FLAT, 1, 0, 0xFFFF00, 0xFFFF, 0, 0xFFE0},
    {"flat: mode 0 stores the top byte", 32, FORM_FLAT, 1, 0, W, 0x12345678, 0, 0x12345678},
    {"flat: mode 1 keeps the pixel's top byte", 32, FORM_FLAT, 1 << 1, 128, W, 0xFFFFFF, 0xAB000000, 0xAB7F7F7F},
    {"flat: mode 1 at p 255 stores f", 32, FORM_FLAT, 1 << 1, 255, W, 0x12345678, 0, 0x12345678},
    {"flat: modes 1, 10 and 11 at p 0", 32, FORM_FLAT, 0xC02, 0, W, 0x123456, 0x345678, 0x345678},
    {"flat: an 8-bit destination", 8, FORM_FLAT, 0xC1F, 128, W, 0x12, 0x34, 0x34},
    // clang-format on
};

TEST(TriangleTest, KnownValues)
{
    std::mt19937 rng(11);
    InitMemImgTables();
    const MemImgTriangleVertex corners[3] = {{0, 0, 0, 0}, {8, 0, 0, 0}, {0, 8, 0, 0}};
    for (const auto &row : kKnownTexels) {
        for (int mode = 0; mode < 12; mode++) {
            if (!(row.modes >> mode & 1))
                continue;
            TestImage t, source, blend;
            MakeDestination(t, rng, row.depth == 8 ? 2 : row.depth / 32, 4, 4);
            FillView(t.view, [&row](int, int) { return row.pixel; });
            MakeSource(source, rng, row.depth / 32, row.form % 3, 1, 1, false);
            FillView(source.image, [&row](int, int) { return row.form == FORM_PALETTE ? 5 : row.texel; });
            if (row.form == FORM_PALETTE)
                memcpy((char *)source.image.block->palette + 5 * (row.depth / 8), &row.texel, row.depth / 8);
            source.image.block->transparentValue = row.key;
            MakeBlendImage(blend, rng, 1, 1);
            g_BlendTables.fadeRamp[blend.memory[0]] = (uint8_t)row.ramp;
            g_MemImgDrawSettings = MemImgDrawSettings{mode, row.p, row.bright, {0, 0, 4, 4}, 0, 0, 0, 0, 0};
            MemImgDrawTriangle(&t.view, row.form == FORM_FLAT ? nullptr : &source.image, corners, row.transparent,
                               row.ramp >= 0 ? &blend.image : nullptr, row.texel);
            EXPECT_EQ(CaptureImage(&t.view).At(1, 1), row.expected)
                << row.what << ", " << row.depth << "-bit m" << mode;
        }
    }
}

// On a 32x32 32-bit view of zeros, a triangle (three corners) filled in mode 2 at p 255 with colour 1, or a 6x4
// source of texels 0x010101 x (1 + index) drawn onto a quad (four corners) in mode 0: at(x, y) gives the hits, or
// 1 + the texel's index (null: nothing drawn). reached: past the refusals (the run table marked stale), though nothing
// may be drawn.
static const struct {
    const char *what;
    int count, corners[4][2];
    RECT area;
    int (*at)(int x, int y);
    bool reached = true;
} kPlacements[] = {
    // clang-format off
    {"(0,0), (10,0), (0,10): rows 0 to 9, row y to column 10 - y", 3, {{0, 0}, {10, 0}, {0, 10}}, {0, 0, 32, 32},
     [](int x, int y) { return (int)(y < 10 && x <= 10 - y); }},
    {"an axis-aligned quad at (10, 20)", 4, {{10, 20}, {16, 20}, {10, 24}, {16, 24}}, {0, 0, 32, 32},
     [](int x, int y) { return x >= 10 && x < 16 && y >= 20 && y < 24 ? 1 + (y - 20) * 6 + x - 10 : 0; }},
    {"swapped corners mirror it (u = 6 misses column 10)", 4, {{16, 20}, {10, 20}, {16, 24}, {10, 24}}, {0, 0, 32, 32},
     [](int x, int y) { return x > 10 && x <= 16 && y >= 20 && y < 24 ? 1 + (y - 20) * 6 + 16 - x : 0; }},
    {"four equal corners", 4, {{10, 10}, {10, 10}, {10, 10}, {10, 10}}, {0, 0, 32, 32}, nullptr, false},
    {"largest x at L - 4", 4, {{2, 5}, {8, 5}, {2, 9}, {8, 9}}, {12, 0, 32, 32}, nullptr, false},
    {"largest x at L - 3", 4, {{3, 5}, {9, 5}, {3, 9}, {9, 9}}, {12, 0, 32, 32}, nullptr},
    {"smallest x at R + 2", 4, {{22, 5}, {28, 5}, {22, 9}, {28, 9}}, {0, 0, 20, 32}, nullptr, false},
    {"smallest x at R + 1", 4, {{21, 5}, {27, 5}, {21, 9}, {27, 9}}, {0, 0, 20, 32}, nullptr},
    {"largest y at T - 4", 4, {{5, 2}, {11, 2}, {5, 8}, {11, 8}}, {0, 12, 32, 32}, nullptr, false},
    {"largest y at T - 3", 4, {{5, 3}, {11, 3}, {5, 9}, {11, 9}}, {0, 12, 32, 32}, nullptr},
    {"smallest y at B + 2", 4, {{5, 22}, {11, 22}, {5, 28}, {11, 28}}, {0, 0, 32, 20}, nullptr, false},
    {"smallest y at B + 1", 4, {{5, 21}, {11, 21}, {5, 27}, {11, 27}}, {0, 0, 32, 20}, nullptr},
    // clang-format on
};

TEST(TriangleTest, Placements)
{
    std::mt19937 rng(13);
    TestImage source;
    MakeSource(source, rng, 1, FORM_DIRECT, 6, 4, false);
    FillView(source.image, [](int x, int y) { return 0x010101u * (uint32_t)(1 + y * 6 + x); });
    for (const auto &row : kPlacements) {
        TestImage t;
        MakeDestination(t, rng, 1, 32, 32);
        FillView(t.view, [](int, int) { return 0u; });
        g_MemImgDrawSettings = MemImgDrawSettings{row.count == 3 ? 2 : 0, 255, W, row.area, 0, 0, 0, 0, 0};
        BlitCall call{row.count == 3 ? BLIT_TRIANGLE : BLIT_QUAD};
        call.source = row.count == 3 ? nullptr : &source.image;
        call.color = 1;
        for (int i = 0; i < 4; i++)
            call.vertices[i] = {row.corners[i][0], row.corners[i][1], 0, 0};
        EXPECT_EQ(CheckBlit(t, call), "") << row.what;
        EXPECT_EQ(t.view.block->runTableValid != 0, !row.reached) << row.what;
        std::vector<uint32_t> pixels = CaptureImage(&t.view).pixels;
        for (int i = 0; i < 32 * 32; i++) {
            uint32_t k = row.at ? (uint32_t)row.at(i % 32, i / 32) : 0;
            ASSERT_EQ(pixels[i], row.count == 3 ? k : 0x010101 * k) << row.what << " at " << i % 32 << "," << i / 32;
        }
    }
}
