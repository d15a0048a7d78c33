// The software pixel plot and filled box against a slow model written from the colour rules alone: a seeded sweep
// over depth, mode, parameter, brightness and placement on views inside sentinel-filled blocks, and the worked
// values and placements as one table.
#include <gtest/gtest.h>

#include <limits.h>

#include <algorithm>

#include "blit_check.h"
#include "softrender/shape_rules.h"

// The packed add and subtract, bit for bit as the rule gives them.
static uint32_t ModelPacked(bool depth16, bool add, uint32_t d, uint32_t c)
{
    uint32_t guards = depth16 ? 0x08210820 : 0x01010100, s, g;
    int shift = depth16 ? 5 : 8;
    if (add) {
        s = (c & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)) + (d & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)), g = s & guards;
        return ((g - (g >> shift)) | ((d | c) & (depth16 ? 0x0820 : 0x00010100)) | s) & (depth16 ? 0xFFFF : ~0u);
    }
    s = (d | guards) - (c & (depth16 ? 0xF7DEF7DF : 0xFEFEFEFF)), g = s & guards;
    return ((g - (g >> shift)) & s) & (depth16 ? 0xFFFF : ~0u);
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

class ShapeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        InitMemImgTables();
        g_MemImgDrawSettings = MemImgDrawSettings{};
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "the test left engine blocks behind";
    }
    int allocationsAtStart = 0;
};

enum ShapeCall { CALL_POINT, CALL_BOX, CALL_WHOLE }; // a point at the rect's left and top, a box, a null rectangle

// Draws `calls` times on the view; empty when every pixel of the block is as the model says, else the first fault.
static std::string CheckShape(TestImage &t, ShapeCall call, RECT r, uint32_t color, int calls = 1,
                              bool *changed = nullptr)
{
    const MEMIMG &v = t.view;
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    const MemImgBlock *b = v.block;
    int bytes = b->format->bytesPerPixel;
    bool accepted = !b->paletteFlag && !b->alphaFlag && b->kind <= 1;
    const std::vector<unsigned char> before(b->pixels, b->pixels + (size_t)b->pitch * b->height);
    std::vector<unsigned char> want = before;
    int64_t x1 = std::min(r.left, r.right), x2 = std::max(r.left, r.right), y1 = std::min(r.top, r.bottom),
            y2 = std::max(r.top, r.bottom);
    for (int y = 0; y < v.height; y++) {
        for (int x = 0; x < v.width && accepted; x++) {
            bool inside = call == CALL_WHOLE ||
                          (call == CALL_POINT ? x == r.left && y == r.top : x >= x1 && x < x2 && y >= y1 && y < y2);
            if (!inside || x < s.drawArea.left || x >= s.drawArea.right || y < s.drawArea.top || y >= s.drawArea.bottom)
                continue;
            unsigned char *p = &want[v.pixels - b->pixels + (ptrdiff_t)y * b->pitch + x * bytes];
            uint32_t d = 0;
            memcpy(&d, p, bytes);
            for (int i = 0; i < calls; i++)
                d = ModelPixel(b->kind == 0, s.blendMode, s.blendParameter, s.brightness, color, d);
            memcpy(p, &d, bytes);
        }
    }
    for (int i = 0; i < calls; i++) {
        if (call == CALL_POINT)
            MemImgDrawPixel(&t.view, r.left, r.top, color);
        else
            MemImgFillBox(&t.view, call == CALL_BOX ? &r : nullptr, color);
    }
    std::vector<unsigned char> got(b->pixels, b->pixels + want.size());
    if (changed)
        *changed = got != before;
    size_t i = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
    char text[300];
    snprintf(text, sizeof text, "call %d (%d,%d,%d,%d) colour 0x%X mode %d p %d bright 0x%X area (%d,%d,%d,%d)", call,
             (int)r.left, (int)r.top, (int)r.right, (int)r.bottom, color, s.blendMode, s.blendParameter, s.brightness,
             (int)s.drawArea.left, (int)s.drawArea.top, (int)s.drawArea.right, (int)s.drawArea.bottom);
    if (i < got.size())
        return std::string(text) + ": byte " + std::to_string(i) + " of the block is wrong";
    return got != before && b->runTableValid ? std::string(text) + ": drawn, but the run table counts as current" : "";
}

static void SetShapeSettings(int mode, int p, uint32_t bright, RECT area)
{
    g_MemImgDrawSettings.blendMode = mode;
    g_MemImgDrawSettings.blendParameter = p;
    g_MemImgDrawSettings.brightness = bright;
    g_MemImgDrawSettings.drawArea = area;
}

static int Coordinate(std::mt19937 &rng, int high)
{
    uint32_t pick = rng() % 8;
    return pick == 0   ? INT_MIN + (int)(rng() % 2)
           : pick == 1 ? INT_MAX - (int)(rng() % 2)
           : pick == 2 ? (int)rng()
                       : Between(rng, -2, high);
}

TEST_F(ShapeTest, EveryPlotAndBoxMatchesTheModel)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 0x7FFFFFFF};
    std::mt19937 rng(20261207);
    ResetShapeLeafCounts();
    int failures = 0, drawn = 0, trials = 2 * 3 * 16 * 9 * 4 * 3;
    for (int index = 0; index < trials; index++) {
        int n = index, depth16 = n % 2, call = (n /= 2) % 3, mode = modes[(n /= 3) % 16];
        const int parameters[] = {0, 1, 127, 128, 254, 255, (int)(rng() % 256), -7, 300};
        const uint32_t brightness[] = {0xFFFFFF, 0x808080, 0x00FFFF00, (uint32_t)rng()};
        int p = parameters[(n /= 16) % 9];
        uint32_t bright = brightness[(n / 9) % 4];
        int refused = rng() % 12 == 0 ? Between(rng, 1, 4) : 0; // palette, alpha, 8-bit, 16-bit channel
        TestImage t;
        MakeDestination(t, rng, refused >= 3 ? refused - 1 : 1 - depth16, Between(rng, 1, 9), Between(rng, 1, 9),
                        refused == 2, refused == 1);
        RandomSettings(rng, mode, p, true, t.view);
        SetShapeSettings(mode, p, bright, g_MemImgDrawSettings.drawArea);
        int w = t.view.width, h = t.view.height;
        RECT r = {Coordinate(rng, w + 2), Coordinate(rng, h + 2), Coordinate(rng, w + 2), Coordinate(rng, h + 2)};
        bool changed = false;
        std::string failure = CheckShape(t, (ShapeCall)call, r, (uint32_t)rng(), 1, &changed);
        drawn += changed;
        if (!failure.empty() && ++failures <= 10)
            ADD_FAILURE() << failure;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(drawn, trials / 10) << "the sweep drew too little to count";
    const BlitLeafCount *leaves = nullptr;
    for (int i = 0, count = GetShapeLeafCounts(&leaves); i < count; i++)
        EXPECT_GT(leaves[i].calls, 0u) << leaves[i].name << " never ran";
}

// Worked values and placements on a 12x12 view of `pixel` with the draw area (2, 2, 10, 10); the pixels of `drawn`
// must hold `expected`, every other pixel `pixel`.
static const struct {
    const char *what;
    bool depth16;
    int mode, p;
    uint32_t bright, color, pixel, expected;
    ShapeCall call = CALL_POINT;
    RECT rect = {5, 5, 0, 0}, drawn = {5, 5, 6, 6};
    int calls = 1;
} kKnownShapes[] = {
    {"16 add: full blue plus 1 sets green's lowest bit", true, 2, 255, 0xFFFFFF, 0x0001, 0x001F, 0x003F},
    {"16 add: white onto white", true, 2, 255, 0xFFFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {"16 subtract: white from 0x1234", true, 3, 255, 0xFFFFFF, 0xFFFF, 0x1234, 0},
    {"16 subtract: white from white keeps red's lowest bit", true, 3, 255, 0xFFFFFF, 0xFFFF, 0xFFFF, 0x0800},
    {"16 subtract: black from white clears green's lowest bit", true, 3, 255, 0xFFFFFF, 0, 0xFFFF, 0xFFDF},
    {"32 add: white onto white carries into byte 3", false, 2, 255, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x01FFFFFF},
    {"32 brightness 0x808080 on white", false, 0, 0, 0x808080, 0xFFFFFF, 0, 0x7F7F7F},
    {"16 brightness 0x808080 on white: 15, 31, 15", true, 0, 0, 0x808080, 0xFFFF, 0, 0x7BEF},
    {"brightness white with a top byte leaves the colour", false, 0, 0, 0xABFFFFFF, 0x12345678, 0, 0x12345678},
    {"32 mode 4 by white at p 0: 200 gives 199", false, 4, 0, 0xFFFFFF, 0xFFFFFF, 0x55C8C8C8, 0x55C7C7C7},
    {"16 mode 10 at p 255 is the inverted colour", true, 10, 255, 0xFFFFFF, 0x1234, 0xABCD, 0xEDCB},
    {"32 mode 10 at p 255: (255 (255 - c) + d) >> 8", false, 10, 255, 0xFFFFFF, 0x10, 0x80, 0xFEFEEE},
    {"16 mode 10 at p 0 changes nothing", true, 10, 0, 0xFFFFFF, 0x1234, 0xABCD, 0xABCD},
    {"32 mode 1 at p 255 stores the colour word", false, 1, 255, 0xFFFFFF, 0xAB123456, 0x777777, 0xAB123456},
    {"32 mode 1 at p 0 changes nothing", false, 1, 0, 0xFFFFFF, 0xAB123456, 0x777777, 0x777777},
    {"point on the area's left and top edges", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_POINT, {2, 2, 0, 0}, {2, 2, 3, 3}},
    {"point on the area's right edge", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_POINT, {10, 5, 0, 0}, {}},
    {"point on the area's bottom edge", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_POINT, {5, 10, 0, 0}, {}},
    {"box (5, 5, 6, 6)", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_BOX, {5, 5, 6, 6}, {5, 5, 6, 6}},
    {"box (5, 5, 5, 9)", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_BOX, {5, 5, 5, 9}, {}},
    {"box (5, 5, 9, 5)", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_BOX, {5, 5, 9, 5}, {}},
    {"box (9, 9, 5, 5)", false, 1, 255, 0xFFFFFF, 1, 0, 1, CALL_BOX, {9, 9, 5, 5}, {5, 5, 9, 9}},
    {"null box: the draw area", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_WHOLE, {}, {2, 2, 10, 10}},
    {"box outside the draw area", false, 0, 0, 0xFFFFFF, 1, 0, 1, CALL_BOX, {0, 0, 2, 12}, {}},
    {"16 odd width from an odd column",
     true,
     0,
     0,
     0xFFFFFF,
     0xFFFF0F0F,
     0,
     0x0F0F,
     CALL_BOX,
     {3, 4, 6, 5},
     {3, 4, 6, 5}},
    {"16 box twice in mode 2 adds twice", true, 2, 255, 0xFFFFFF, 1, 0, 2, CALL_BOX, {3, 3, 7, 7}, {3, 3, 7, 7}, 2},
};

TEST_F(ShapeTest, WorkedValuesAndPlacements)
{
    std::mt19937 rng(3);
    for (const auto &row : kKnownShapes) {
        TestImage t;
        MakeDestination(t, rng, row.depth16 ? 0 : 1, 12, 12);
        FillView(t.view, [&row](int, int) { return row.pixel; });
        SetShapeSettings(row.mode, row.p, row.bright, RECT{2, 2, 10, 10});
        EXPECT_EQ(CheckShape(t, row.call, row.rect, row.color, row.calls), "") << row.what;
        const RECT &d = row.drawn;
        ModelImage image = CaptureImage(&t.view);
        for (int i = 0; i < 144; i++) {
            int x = i % 12, y = i / 12;
            bool inside = x >= d.left && x < d.right && y >= d.top && y < d.bottom;
            ASSERT_EQ(image.pixels[i], inside ? row.expected : row.pixel) << row.what << " at " << x << "," << y;
        }
    }
    MemImgDrawPixel(nullptr, 0, 0, 0);
    MemImgFillBox(nullptr, nullptr, 0);
}
