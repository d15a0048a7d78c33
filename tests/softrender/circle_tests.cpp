// The software circle against a slow model of the midpoint walk (each point clipped alone, the disc's spans once per
// row) over a seeded sweep up to the int range's radii; the known pixel counts; row flags that cannot be allocated.
#include <gtest/gtest.h>

#include <limits.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "blit_check.h"
#include "core/core_test_hooks.h"
#include "softrender/softrender_test_hooks.h"

// Applies the walk's first `steps` steps to `want`, the bytes of the view's block.
static void ModelCircle(std::vector<unsigned char> &want, const MEMIMG &view, int64_t cx, int64_t cy, int64_t r,
                        uint32_t color, bool fill, int64_t steps)
{
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    const MemImgBlock *b = view.block;
    RECT a = s.drawArea, whole = {0, 0, view.width, view.height};
    ClipRect(&a, &whole);
    std::set<int64_t> rows;
    auto plot = [&](int64_t px, int64_t py) {
        if (px < a.left || px >= a.right || py < a.top || py >= a.bottom || b->paletteFlag || b->kind > 1)
            return;
        unsigned char *p = &want[view.pixels - b->pixels + py * b->pitch + px * b->format->bytesPerPixel];
        uint32_t d = 0, store = b->kind == 0 ? 2 : 4;
        memcpy(&d, p, store);
        d = ModelPixel(b->kind == 0, s.blendMode, s.blendParameter, s.brightness, color, d);
        memcpy(p, &d, store);
    };
    auto span = [&](int64_t py, int64_t x1, int64_t x2) {
        if (py >= a.top && py < a.bottom && x2 >= a.left && x1 < a.right && rows.insert(py).second)
            for (int64_t px = std::max<int64_t>(x1, a.left); px <= std::min<int64_t>(x2, a.right - 1); px++)
                plot(px, py);
    };
    for (int64_t x = 0, y = r, d = 3 - 2 * r; y >= x && x < steps; x++) {
        if (fill) {
            span(cy + x, cx - y, cx + y), span(cy - x, cx - y, cx + y);
            if (d >= 0)
                span(cy + y, cx - x, cx + x), span(cy - y, cx - x, cx + x);
        } else if (x == 0) {
            plot(cx - r, cy), plot(cx + r, cy), plot(cx, cy + r), plot(cx, cy - r);
        } else {
            plot(cx - y, cy + x), plot(cx + y, cy + x), plot(cx - y, cy - x), plot(cx + y, cy - x);
            plot(cx - x, cy + y), plot(cx + x, cy + y), plot(cx - x, cy - y), plot(cx + x, cy - y);
        }
        d += d < 0 ? 4 * x + 6 : 4 * (x - y--) + 10; // y lowered after its use
    }
}

// Small circles near the view; larger ones (up to 2^19, walked whole by the model) with the arc through a random
// point of the view; huge ones with their top, bottom, left or right end there, which only the walk's first 2^19
// steps reach (the rows of later steps lie over 100 away from that end).
TEST(CircleTest, EveryCircleMatchesTheModel)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 0x7FFFFFFF};
    std::mt19937 rng(20261207);
    InitMemImgTables();
    ResetBlitLeafCounts();
    int blocks = GetAllocationCount(), drawn = 0, trials = 2 * 2 * 16 * 7 * 4 * 2;
    for (int index = 0; index < trials; index++) {
        int n = index, depth16 = n % 2, fill = (n /= 2) % 2, mode = modes[(n /= 2) % 16];
        const int parameters[] = {0, 1, 127, 128, 254, 255, (int)(rng() % 256)};
        const uint32_t brightness[] = {0xFFFFFF, 0x808080, 0x00FFFF00, (uint32_t)rng()};
        int p = parameters[(n /= 16) % 7], refused = rng() % 10 == 0 ? Between(rng, 1, 4) : 0;
        TestImage t; // refused: palettised, alpha (drawn on all the same), 8-bit, 16-bit channel
        MakeDestination(t, rng, refused >= 3 ? refused - 1 : 1 - depth16, Between(rng, 1, 24), Between(rng, 1, 24),
                        refused == 2, refused == 1);
        RandomSettings(rng, mode, p, true, t.view);
        g_MemImgDrawSettings.brightness = brightness[(n / 7) % 4];
        const int radii[] = {Between(rng, 0, 60), Between(rng, 64, 64 << rng() % 14), rng() % 2 ? INT_MAX : 1000000000,
                             rng() % 2 ? INT_MIN : -7};
        int pick = rng() % 32, r = radii[pick < 22 ? 0 : pick < 30 ? 1 : pick < 31 ? 2 : 3];
        double angle = r <= (1 << 19) ? rng() * 1e-3 : std::acos(0.0) * (rng() % (r == INT_MAX ? 2 : 4));
        int px = Between(rng, 0, t.view.width + 1), py = Between(rng, 0, t.view.height + 1);
        int cx = r > 60 ? (int)(px - std::llround(r * std::cos(angle))) : Between(rng, -30, 50);
        int cy = r > 60 ? (int)(py - std::llround(r * std::sin(angle))) : Between(rng, -30, 50);
        const MemImgBlock *b = t.view.block;
        std::vector<unsigned char> before(b->pixels, b->pixels + (size_t)b->pitch * b->height), want = before;
        uint32_t color = rng();
        ModelCircle(want, t.view, cx, cy, r, color, fill, 1 << 19);
        MemImgDrawCircle(&t.view, cx, cy, r, color, fill);
        bool changed = memcmp(b->pixels, before.data(), before.size()) != 0;
        drawn += changed;
        ASSERT_TRUE(memcmp(b->pixels, want.data(), want.size()) == 0 && !(changed && b->runTableValid))
            << "trial " << index << " centre " << cx << "," << cy << " radius " << r << " refused " << refused;
    }
    EXPECT_GT(drawn, trials / 8) << "the sweep drew too little to count";
    const BlitLeafCount *leaves = nullptr;
    int circleLoops = 0;
    for (int i = 0, count = GetBlitLeafCounts(&leaves); i < count; i++) {
        bool circle = IsLeafOf(leaves[i].name, {"circle"});
        circleLoops += circle;
        EXPECT_TRUE(!circle || leaves[i].calls > 0) << leaves[i].name << " never ran";
    }
    EXPECT_EQ(circleLoops, 28) << "a loop per form, depth and mode";
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// For radius 0 to 5: outline pixels, outline hits (a pixel plotted twice counts twice), disc pixels.
static const int kKnownCircles[][3] = {{1, 4, 1}, {4, 4, 5}, {12, 12, 21}, {16, 20, 37}, {24, 28, 61}, {28, 28, 97}};

// Circles at (70, 70) on a 140x140 32-bit view of zeros, mode 2 at p 255 adding 1 per hit: the known counts; up to
// radius 60 the disc is each row of the outline from its first to its last pixel, each pixel once; a disc whose row
// flags cannot be allocated draws nothing.
TEST(CircleTest, KnownCountsAndRowFlagsThatCannotBeAllocated)
{
    std::mt19937 rng(11);
    InitMemImgTables();
    int blocks = GetAllocationCount();
    auto hits = [&rng](int radius, int fill, int failAllocation) {
        TestImage t;
        MakeDestination(t, rng, 1, 140, 140);
        FillView(t.view, [](int, int) { return 0u; });
        g_MemImgDrawSettings = MemImgDrawSettings{2, 255, 0xFFFFFF, {0, 0, 140, 140}, 0, 0, 0, 0, 0};
        SetAllocationFailureCountdown(failAllocation);
        MemImgDrawCircle(&t.view, 70, 70, radius, 1, fill);
        SetAllocationFailureCountdown(-1);
        return CaptureImage(&t.view).pixels;
    };
    for (int radius = 0; radius <= 60; radius++) {
        std::vector<uint32_t> outline = hits(radius, 0, -1), disc = hits(radius, 1, -1);
        std::vector<int> counts = {0, 0, 0};
        for (int y = 0, first = 0, last = 139; y < 140; y++, first = 0, last = 139) {
            const uint32_t *row = &outline[y * 140];
            while (first < 140 && !row[first])
                first++;
            while (last >= 0 && !row[last])
                last--;
            for (int x = 0, i = y * 140; x < 140; x++, i++) {
                counts[0] += outline[i] != 0, counts[1] += outline[i], counts[2] += disc[i];
                ASSERT_EQ(disc[i], x >= first && x <= last ? 1u : 0u) << "radius " << radius << " at " << x << "," << y;
            }
        }
        if (radius <= 5) {
            EXPECT_EQ(counts, std::vector<int>(kKnownCircles[radius], kKnownCircles[radius] + 3)) << radius;
        }
    }
    std::vector<uint32_t> unallocated = hits(5, 1, 0);
    EXPECT_EQ(std::count(unallocated.begin(), unallocated.end(), 0u), 140 * 140);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
