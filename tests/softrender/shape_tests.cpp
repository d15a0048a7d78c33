// The software pixel plot and filled box against a slow model written from the colour rules alone: a seeded sweep
// over depth, mode, parameter, brightness and placement on views inside sentinel-filled blocks, and the known
// values and placements as one table.
#include <gtest/gtest.h>

#include <limits.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "blit_check.h"
#include "softrender/softrender_test_hooks.h"

// A point at the rect's left and top, a box, a null rectangle, a line from (left, top) to (right, bottom).
enum ShapeCall { CALL_POINT, CALL_BOX, CALL_WHOLE, CALL_LINE };

// The pixels a line covers: its end points clipped to `a` along the unclipped line, then k = 0 .. major - 1 steps
// along the major axis with the minor axis moved floor(k minor / major) times.
static std::set<std::pair<int, int>> ModelLine(RECT a, double x1, double y1, double x2, double y2)
{
    std::set<std::pair<int, int>> out;
    if (a.right <= a.left || a.bottom <= a.top || std::max(x1, x2) < a.left || std::min(x1, x2) >= a.right ||
        std::max(y1, y2) < a.top || std::min(y1, y2) >= a.bottom)
        return out;
    double kx = y1 == y2 ? 0 : (x2 - x1) / (y2 - y1), ky = x1 == x2 ? 0 : (y2 - y1) / (x2 - x1);
    double cx = x1 - kx * y1, cy = y1 - ky * x1, L = a.left, T = a.top, R = a.right, B = a.bottom;
    auto clip = [](double &v, double &w, double low, double high, double c, double k, int end) {
        if (v < low || v >= high)
            v = v < low ? low - end : high - 1 + end, w = std::clamp(std::trunc(c + k * v), -1e12, 1e12);
    };
    clip(x1, y1, L, R, cy, ky, 0), clip(x2, y2, L, R, cy, ky, 1), clip(y1, x1, T, B, cx, kx, 0);
    clip(y2, x2, T, B, cx, kx, 1);
    int64_t sx = std::clamp(x1, L, R - 1), sy = std::clamp(y1, T, B - 1), nx = std::clamp(x2, L - 1, R) - sx,
            ny = std::clamp(y2, T - 1, B) - sy, major = std::max(std::abs(nx), std::abs(ny));
    for (int64_t k = 0; k < major; k++) {
        int64_t minor = k * std::min(std::abs(nx), std::abs(ny)) / major;
        bool xMajor = std::abs(nx) >= std::abs(ny);
        out.insert({(int)(sx + (nx < 0 ? -1 : 1) * (xMajor ? k : minor)),
                    (int)(sy + (ny < 0 ? -1 : 1) * (xMajor ? minor : k))});
    }
    return out;
}

// Draws on the view: true when the whole block is as the model says and a changed view no longer claims a current
// run table. *changed: the view changed.
static bool DrawsAsModel(TestImage &t, ShapeCall call, RECT r, uint32_t color, bool *changed)
{
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    const MemImgBlock *b = t.view.block;
    int bytes = b->format->bytesPerPixel, width = t.view.width, store = b->kind == 0 ? 2 : bytes;
    RECT area = s.drawArea, view = {0, 0, t.view.width, t.view.height};
    ClipRect(&area, &view);
    const std::set<std::pair<int, int>> line = ModelLine(area, r.left, r.top, r.right, r.bottom);
    const std::vector<unsigned char> before(b->pixels, b->pixels + (size_t)b->pitch * b->height);
    std::vector<unsigned char> want = before;
    int64_t x1 = std::min(r.left, r.right), x2 = std::max(r.left, r.right), y1 = std::min(r.top, r.bottom),
            y2 = std::max(r.top, r.bottom);
    bool refused = b->paletteFlag || b->kind > 1 || (b->alphaFlag && call != CALL_LINE); // lines draw on alpha
    for (int i = 0; i < width * t.view.height && !refused; i++) {
        int x = i % width, y = i / width;
        bool inBox = call == CALL_WHOLE || (call == CALL_LINE && line.count({x, y})) ||
                     (call == CALL_POINT && x == r.left && y == r.top) ||
                     (call == CALL_BOX && x >= x1 && x < x2 && y >= y1 && y < y2);
        if (inBox && x >= s.drawArea.left && x < s.drawArea.right && y >= s.drawArea.top && y < s.drawArea.bottom) {
            unsigned char *p = &want[t.view.pixels - b->pixels + (ptrdiff_t)y * b->pitch + x * bytes];
            uint32_t d = 0;
            memcpy(&d, p, store);
            d = ModelPixel(b->kind == 0, s.blendMode, s.blendParameter, s.brightness, color, d);
            memcpy(p, &d, store);
        }
    }
    if (call == CALL_LINE)
        MemImgDrawLine(&t.view, r.left, r.top, r.right, r.bottom, color);
    else if (call == CALL_POINT)
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

TEST(ShapeTest, EveryPlotBoxAndLineMatchesTheModel)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 0x7FFFFFFF};
    std::mt19937 rng(20261207);
    InitMemImgTables();
    ResetBlitLeafCounts();
    int blocks = GetAllocationCount(), failures = 0, drawn = 0, trials = 2 * 4 * 16 * 9 * 4 * 3;
    for (int index = 0; index < trials; index++) {
        int n = index, depth16 = n % 2, call = (n /= 2) % 4, mode = modes[(n /= 4) % 16];
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
    int shapeLoops = 0;
    for (int i = 0, count = GetBlitLeafCounts(&leaves); i < count; i++) {
        if (IsLeafOf(leaves[i].name, {"shape", "line"})) {
            shapeLoops++;
            EXPECT_GT(leaves[i].calls, 0u) << leaves[i].name << " never ran";
        }
    }
    EXPECT_EQ(shapeLoops, 14 + 28) << "plot and box loops per depth and mode, line loops per axis too";
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

// Known lines on a 100x100 32-bit view of zeros, mode 2 at p 255 adding 1: exactly the pixels of `runs` (each
// {x, y, dx, dy, n}: n pixels from (x, y) by (dx, dy)) end at 1, every other pixel at 0.
static const struct {
    const char *what;
    int count, lines[4][4], runs[5][5], alphaFlag = 0, paletteFlag = 0;
    RECT area = {0, 0, 100, 100};
} kKnownLines[] = {
    // clang-format off
    {"(0, 0) to (10, 1)", 1, {{0, 0, 10, 1}}, {{0, 0, 1, 0, 10}}},
    {"(0, 0) to (10, 5)", 1, {{0, 0, 10, 5}},
     {{0, 0, 1, 0, 2}, {2, 1, 1, 0, 2}, {4, 2, 1, 0, 2}, {6, 3, 1, 0, 2}, {8, 4, 1, 0, 2}}},
    {"(0, 0) to (3, 7)", 1, {{0, 0, 3, 7}}, {{0, 0, 0, 1, 3}, {1, 3, 0, 1, 2}, {2, 5, 0, 1, 2}}},
    {"(5, 5) to (2, 2)", 1, {{5, 5, 2, 2}}, {{5, 5, -1, -1, 3}}},
    {"(3, 3) to (3, 4), (10, 10) to itself", 2, {{3, 3, 3, 4}, {10, 10, 10, 10}}, {{3, 3, 0, 0, 1}}},
    {"(90, 10) to (120, 10)", 1, {{90, 10, 120, 10}}, {{90, 10, 1, 0, 10}}},
    {"(120, 10) to (90, 10)", 1, {{120, 10, 90, 10}}, {{99, 10, -1, 0, 9}}},
    {"(-5, 10) to (20, 10)", 1, {{-5, 10, 20, 10}}, {{0, 10, 1, 0, 20}}},
    {"the int range along row 10", 1, {{INT_MIN, 10, INT_MAX, 10}}, {{0, 10, 1, 0, 100}}},
    {"the int range's diagonal", 1, {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}}, {{0, 0, 1, 1, 100}}},
    {"an empty draw area", 1, {{0, 10, 99, 10}}, {}, 0, 0, {50, 0, 50, 100}},
    {"an alpha destination is drawn on", 1, {{0, 0, 10, 1}}, {{0, 0, 1, 0, 10}}, 1},
    {"a palettised destination is not", 1, {{0, 0, 10, 1}}, {}, 0, 1},
    {"count 0", 0, {{0, 0, 10, 1}}, {}},
    {"count -1", -1, {{0, 0, 10, 1}}, {}},
    {"box (10, 10) to (20, 15) outline", 4, {{10, 10, 19, 10}, {19, 10, 19, 14}, {19, 14, 10, 14}, {10, 14, 10, 10}},
     {{10, 10, 1, 0, 10}, {10, 14, 1, 0, 10}, {10, 11, 0, 1, 3}, {19, 11, 0, 1, 3}}},
    {"triangle (0, 0), (10, 0), (0, 10) outline", 3, {{0, 0, 10, 0}, {10, 0, 0, 10}, {0, 10, 0, 0}},
     {{0, 0, 1, 0, 10}, {10, 0, -1, 1, 10}, {0, 10, 0, -1, 10}}},
    // clang-format on
};

TEST(ShapeTest, KnownLines)
{
    std::mt19937 rng(5);
    InitMemImgTables();
    for (const auto &row : kKnownLines) {
        TestImage t;
        MakeDestination(t, rng, 1, 100, 100, row.alphaFlag, row.paletteFlag);
        FillView(t.view, [](int, int) { return 0u; });
        g_MemImgDrawSettings = MemImgDrawSettings{2, 255, 0xFFFFFF, row.area, 0, 0, 0, 0, 0};
        std::vector<MemImgLine> lines;
        for (const auto &l : row.lines)
            lines.push_back({l[0], l[1], l[2], l[3], 1, 0});
        MemImgDrawLines(&t.view, lines.data(), row.count);
        std::vector<uint32_t> want(100 * 100, 0), pixels = CaptureImage(&t.view).pixels;
        for (const auto &run : row.runs)
            for (int k = 0; k < run[4]; k++)
                want[(run[1] + k * run[3]) * 100 + run[0] + k * run[2]]++;
        for (int i = 0; i < 100 * 100; i++)
            ASSERT_EQ(pixels[i] & 0xFFFFFF, want[i]) << row.what << " at (" << i % 100 << ", " << i / 100 << ")";
    }
    MemImgDrawLines(nullptr, nullptr, 1);
}
