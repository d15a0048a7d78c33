// The software pixel plot and filled box against a slow model written from the colour rules alone: a seeded sweep
// over depth, mode, parameter, brightness and placement on views inside sentinel-filled blocks, and the known
// values and placements as one table.
#include <gtest/gtest.h>

#include <limits.h>

#include <algorithm>

#include "blit_check.h"
#include "softrender/shape_rules.h"

// The packed add and subtract, bit for bit as the rule gives them.
static uint32_t ModelPacked(bool depth16, bool add, uint32_t d, uint32_t c)
{
    uint32_t guards = depth16 ? 0x08210820 : 0x01010100, keep = depth16 ? 0xFFFF : ~0u, s, g;
    int shift = depth16 ? 5 : 8;
    if (add) {
        s = (c & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)) + (d & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)), g = s & guards;
        return ((g - (g >> shift)) | ((d | c) & (depth16 ? 0x0820 : 0x00010100)) | s) & keep;
    }
    s = (d | guards) - (c & (depth16 ? 0xF7DEF7DF : 0xFEFEFEFF)), g = s & guards;
    return (g - (g >> shift)) & s & keep;
}

// The pixel d after one plot of `color` in the mode: channels 0 red, 1 green, 2 blue.
static uint32_t ModelPixel(bool depth16, int mode, int p, uint32_t bright, uint32_t color, uint32_t d)
{
    const int shift[3] = {depth16 ? 11 : 16, depth16 ? 5 : 8, 0},
              top[3] = {depth16 ? 31 : 255, depth16 ? 63 : 255, depth16 ? 31 : 255};
    auto at = [&](uint32_t v, int i) { return (int)(v >> shift[i]) & top[i]; };
    uint32_t c = depth16 ? color & 0xFFFF : color, out = depth16 ? 0 : d & 0xFF000000, scaled = 0;
    p = std::clamp(p, 0, 255);
    if ((bright & 0xFFFFFF) != 0xFFFFFF) {
        uint32_t b = depth16 ? 0 : c & 0xFF000000;
        for (int i = 0; i < 3; i++)
            b |= (uint32_t)(at(c, i) * (int)(bright >> (16 - 8 * i) & 0xFF) >> 8) << shift[i];
        c = b;
    }
    if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9) || (mode >= 1 && mode <= 3 && p == 0))
        return d;
    if (mode == 0 || (mode == 1 && p == 255))
        return c;
    for (int i = 0; i < 3; i++) {
        int dc = at(d, i), cc = at(c, i), product = dc * cc >> (top[i] == 63 ? 6 : top[i] == 31 ? 5 : 8);
        int target = mode == 10 ? top[i] - cc : mode == 11 ? product : cc;
        int mixed = depth16 ? dc + p * (target - dc) / 255 : (target * p + dc * (256 - p)) >> 8;
        out |= (uint32_t)(mode == 4 ? product : mixed) << shift[i];
        scaled |= (uint32_t)(p * cc / 255) << shift[i];
    }
    return mode == 2 || mode == 3 ? ModelPacked(depth16, mode == 2, d, scaled) : out;
}

enum ShapeCall { CALL_POINT, CALL_BOX, CALL_WHOLE }; // a point at the rect's left and top, a box, a null rectangle

// Draws on the view: true when the whole block is as the model says and a changed view no longer claims a current
// run table. *changed: the view changed.
static bool DrawsAsModel(TestImage &t, ShapeCall call, RECT r, uint32_t color, bool *changed)
{
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    const MemImgBlock *b = t.view.block;
    int bytes = b->format->bytesPerPixel, width = t.view.width;
    const std::vector<unsigned char> before(b->pixels, b->pixels + (size_t)b->pitch * b->height);
    std::vector<unsigned char> want = before;
    int64_t x1 = std::min(r.left, r.right), x2 = std::max(r.left, r.right), y1 = std::min(r.top, r.bottom),
            y2 = std::max(r.top, r.bottom);
    for (int i = 0; i < width * t.view.height && !b->paletteFlag && !b->alphaFlag && b->kind <= 1; i++) {
        int x = i % width, y = i / width;
        bool inBox = call == CALL_WHOLE ||
                     (call == CALL_POINT ? x == r.left && y == r.top : x >= x1 && x < x2 && y >= y1 && y < y2);
        if (inBox && x >= s.drawArea.left && x < s.drawArea.right && y >= s.drawArea.top && y < s.drawArea.bottom) {
            unsigned char *p = &want[t.view.pixels - b->pixels + (ptrdiff_t)y * b->pitch + x * bytes];
            uint32_t d = 0;
            memcpy(&d, p, bytes);
            d = ModelPixel(b->kind == 0, s.blendMode, s.blendParameter, s.brightness, color, d);
            memcpy(p, &d, bytes);
        }
    }
    if (call == CALL_POINT)
        MemImgDrawPixel(&t.view, r.left, r.top, color);
    else
        MemImgFillBox(&t.view, call == CALL_BOX ? &r : nullptr, color);
    *changed = memcmp(b->pixels, before.data(), before.size()) != 0;
    return memcmp(b->pixels, want.data(), want.size()) == 0 && !(*changed && b->runTableValid);
}

// Inside or next to a view of `high` - 2, or at the ends of the int range, or anywhere in it.
static int Coordinate(std::mt19937 &rng, int high)
{
    uint32_t pick = rng() % 8;
    return pick == 0   ? INT_MIN + (int)(rng() % 2)
           : pick == 1 ? INT_MAX - (int)(rng() % 2)
           : pick == 2 ? (int)rng()
                       : Between(rng, -2, high);
}

TEST(ShapeTest, EveryPlotAndBoxMatchesTheModel)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 0x7FFFFFFF};
    std::mt19937 rng(20261207);
    InitMemImgTables();
    ResetShapeLeafCounts();
    int blocks = GetAllocationCount(), failures = 0, drawn = 0, trials = 2 * 3 * 16 * 9 * 4 * 3;
    for (int index = 0; index < trials; index++) {
        int n = index, depth16 = n % 2, call = (n /= 2) % 3, mode = modes[(n /= 3) % 16];
        const int parameters[] = {0, 1, 127, 128, 254, 255, (int)(rng() % 256), -7, 300};
        const uint32_t brightness[] = {0xFFFFFF, 0x808080, 0x00FFFF00, (uint32_t)rng()};
        int p = parameters[(n /= 16) % 9], refused = rng() % 12 == 0 ? Between(rng, 1, 4) : 0;
        TestImage t; // refused: palettised, alpha, 8-bit, 16-bit channel
        MakeDestination(t, rng, refused >= 3 ? refused - 1 : 1 - depth16, Between(rng, 1, 9), Between(rng, 1, 9),
                        refused == 2, refused == 1);
        RandomSettings(rng, mode, p, true, t.view);
        g_MemImgDrawSettings.brightness = brightness[(n / 9) % 4];
        RECT r = {Coordinate(rng, t.view.width + 2), Coordinate(rng, t.view.height + 2),
                  Coordinate(rng, t.view.width + 2), Coordinate(rng, t.view.height + 2)};
        bool changed = false, right = DrawsAsModel(t, (ShapeCall)call, r, (uint32_t)rng(), &changed);
        drawn += changed;
        EXPECT_TRUE(right || ++failures > 10) << "trial " << index << " rect " << r.left << "," << r.top << ","
                                              << r.right << "," << r.bottom << " refused " << refused;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(drawn, trials / 10) << "the sweep drew too little to count";
    const BlitLeafCount *leaves = nullptr;
    for (int i = 0, count = GetShapeLeafCounts(&leaves); i < count; i++)
        EXPECT_GT(leaves[i].calls, 0u) << leaves[i].name << " never ran";
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// Known values and placements on a 12x12 view of `pixel` with the draw area (2, 2, 10, 10): the point (5, 5), or
// the call given, must leave `expected` in `drawn` and `pixel` elsewhere.
static const struct {
    const char *what;
    int depth, mode, p;
    uint32_t bright, color, pixel, expected;
    ShapeCall call = CALL_POINT;
    RECT rect = {5, 5, 0, 0}, drawn = {5, 5, 6, 6};
} kKnownShapes[] = {
    {"add: full blue plus 1 sets green's lowest bit", 16, 2, 255, 0xFFFFFF, 0x0001, 0x001F, 0x003F},
    {"add: white onto white", 16, 2, 255, 0xFFFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {"subtract: white from 0x1234", 16, 3, 255, 0xFFFFFF, 0xFFFF, 0x1234, 0},
    {"subtract: white from white keeps red's lowest bit", 16, 3, 255, 0xFFFFFF, 0xFFFF, 0xFFFF, 0x0800},
    {"subtract: black from white clears green's lowest bit", 16, 3, 255, 0xFFFFFF, 0, 0xFFFF, 0xFFDF},
    {"add: white onto white carries into byte 3", 32, 2, 255, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x01FFFFFF},
    {"brightness 0x808080 on white", 32, 0, 0, 0x808080, 0xFFFFFF, 0, 0x7F7F7F},
    {"brightness 0x808080 on white: 15, 31, 15", 16, 0, 0, 0x808080, 0xFFFF, 0, 0x7BEF},
    {"white brightness with a top byte", 32, 0, 0, 0xABFFFFFF, 0x12345678, 0, 0x12345678},
    {"mode 4 by white at p 0: 200 gives 199", 32, 4, 0, 0xFFFFFF, 0xFFFFFF, 0x55C8C8C8, 0x55C7C7C7},
    {"mode 10 at p 255 is the inverted colour", 16, 10, 255, 0xFFFFFF, 0x1234, 0xABCD, 0xEDCB},
    {"mode 10 at p 255: (255 (255 - c) + d) >> 8", 32, 10, 255, 0xFFFFFF, 0x10, 0x80, 0xFEFEEE},
    {"mode 10 at p 0 changes nothing", 16, 10, 0, 0xFFFFFF, 0x1234, 0xABCD, 0xABCD},
    {"mode 1 at p 255 stores the colour word", 32, 1, 255, 0xFFFFFF, 0xAB123456, 0x777777, 0xAB123456},
    {"mode 1 at p 0 changes nothing", 32, 1, 0, 0xFFFFFF, 0xAB123456, 0x777777, 0x777777},
    {"point on the area's top left corner", 32, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_POINT, {2, 2, 0, 0}, {2, 2, 3, 3}},
    {"point on the area's right edge", 32, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_POINT, {10, 5, 0, 0}, {}},
    {"box (5, 5, 5, 9)", 32, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_BOX, {5, 5, 5, 9}, {}},
    {"box (9, 9, 5, 5)", 32, 1, 255, 0xFFFFFF, 1, 0, 1, CALL_BOX, {9, 9, 5, 5}, {5, 5, 9, 9}},
    {"null box: the draw area", 32, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_WHOLE, {}, {2, 2, 10, 10}},
    {"odd width from an odd column", 16, 0, 0, 0xFFFFFF, 0xFFFF0F0F, 0, 0x0F0F, CALL_BOX, {3, 4, 6, 5}, {3, 4, 6, 5}},
};

TEST(ShapeTest, KnownValuesAndPlacements)
{
    std::mt19937 rng(3);
    InitMemImgTables();
    int blocks = GetAllocationCount();
    for (const auto &row : kKnownShapes) {
        TestImage t;
        MakeDestination(t, rng, row.depth / 32, 12, 12);
        FillView(t.view, [&row](int, int) { return row.pixel; });
        g_MemImgDrawSettings = MemImgDrawSettings{row.mode, row.p, row.bright, {2, 2, 10, 10}, 0, 0, 0, 0, 0};
        bool changed = false;
        EXPECT_TRUE(DrawsAsModel(t, row.call, row.rect, row.color, &changed)) << row.what;
        std::vector<uint32_t> pixels = CaptureImage(&t.view).pixels;
        for (int i = 0; i < 144; i++) {
            const RECT &d = row.drawn;
            bool inside = i % 12 >= d.left && i % 12 < d.right && i / 12 >= d.top && i / 12 < d.bottom;
            ASSERT_EQ(pixels[i], inside ? row.expected : row.pixel) << row.what << " at pixel " << i;
        }
    }
    MemImgDrawPixel(nullptr, 0, 0, 0);
    MemImgFillBox(nullptr, nullptr, 0);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
