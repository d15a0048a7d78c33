// Where the stretched and the rotated draws put each source pixel: plain 32-bit copies of a source whose pixels
// name their own column and row, checked over the whole destination; the rotated draw's box, its hand-off of turned
// pictures to the quadrilateral drawer (recorded by a stand-in linked here), and the draws each call refuses.
#include <gtest/gtest.h>

#include "image/image.h"
#include "softrender/softrender.h"
#include "softrender/softrender_test_hooks.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <functional>

static const uint32_t kUntouched = 0xDEADBEEF;
static int s_QuadCalls, s_QuadPoints[4][2];

void MemImgDrawQuadImage(MEMIMG *, MEMIMG *, const int (*points)[2], int, MEMIMG *)
{
    s_QuadCalls++;
    memcpy(s_QuadPoints, points, sizeof s_QuadPoints);
}

static uint32_t SourcePixel(int i, int j)
{
    return 0x01000000u + (uint32_t)j * 4096 + (uint32_t)i + 1;
}

static bool Inside(const RECT &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

struct BlitGeometry : ::testing::Test {
    MEMIMG src = {}, dst = {};
    void SetUp() override
    {
        InitMemImgTables();
        g_MemImgDrawSettings.blendMode = 0;
        g_MemImgDrawSettings.brightness = 0xFFFFFF;
        ASSERT_EQ(CreateMemImg(&dst, 420, 40, 420 * 4, 0, MEMIMG_KIND_RGB32, 0, 0, 0, NULL), 0);
    }
    void TearDown() override
    {
        ReleaseMemImg(&src);
        ReleaseMemImg(&dst);
    }
    // A fresh w x h source and an untouched destination drawn within `area`.
    void Prepare(int w, int h, RECT area = {0, 0, 420, 40})
    {
        ReleaseMemImg(&src);
        ASSERT_EQ(CreateMemImg(&src, w, h, w * 4, 0, MEMIMG_KIND_RGB32, 0, 0, 0, NULL), 0);
        for (int k = 0; k < w * h; k++) {
            ((uint32_t *)src.pixels)[k] = SourcePixel(k % w, k / w);
        }
        std::fill_n((uint32_t *)dst.pixels, dst.width * dst.height, kUntouched);
        g_MemImgDrawSettings.drawArea = area;
    }
    // shows(X, Y, &i, &j): whether destination pixel (X, Y) shows source pixel (i, j).
    void ExpectPicture(const std::function<bool(int, int, int *, int *)> &shows)
    {
        for (int k = 0, i, j; k < dst.width * dst.height; k++) {
            const bool drawn = shows(k % dst.width, k / dst.width, &i, &j);
            ASSERT_EQ(((uint32_t *)dst.pixels)[k], drawn ? SourcePixel(i, j) : kUntouched) << "pixel " << k;
        }
    }
};

// Destination pixel n from the unclipped edge shows source pixel floor(n x source side / side); the sides are
// chosen so that the 16.16 steps are exact. Sides of 32768 and samples past the source's last column are refused.
TEST_F(BlitGeometry, StretchedPixelsFollowTheRatioFromTheUnclippedEdge)
{
    struct Case {
        const char *name;
        int srcW;
        RECT rect, area;
        bool refused;
    } cases[] = {
        {"200 to 100: even columns", 200, {0, 0, 100, 4}, {0, 0, 420, 40}, false},
        {"200 to 400: each column twice", 200, {10, 3, 410, 11}, {0, 0, 420, 40}, false},
        {"200 to 300: floor(2n/3)", 200, {5, 1, 305, 7}, {0, 0, 420, 40}, false},
        {"mirrored left to right", 200, {100, 0, 0, 8}, {0, 0, 420, 40}, false},
        {"same size, half turn", 200, {300, 20, 100, 16}, {0, 0, 420, 40}, false},
        {"clipped start", 200, {-20, -3, 280, 3}, {7, 1, 420, 40}, false},
        {"clipped mirrored start", 200, {280, 30, -20, 22}, {7, 1, 420, 25}, false},
        {"zero width", 200, {5, 0, 5, 4}, {0, 0, 420, 40}, false},
        {"side of 32768", 200, {-32000, 0, 768, 4}, {0, 0, 420, 40}, true},
        {"100000 to 3: step 1 would sample column 131072", 100000, {0, 0, 3, 2}, {0, 0, 420, 40}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.srcW, 4, c.area);
        MemImgDrawStretchedImage(&dst, &src, &c.rect, 0, NULL);
        const RECT r = {std::min(c.rect.left, c.rect.right), std::min(c.rect.top, c.rect.bottom),
                        std::max(c.rect.left, c.rect.right), std::max(c.rect.top, c.rect.bottom)};
        ExpectPicture([&](int x, int y, int *i, int *j) {
            if (c.refused || !Inside(r, x, y) || !Inside(c.area, x, y)) {
                return false;
            }
            const int column = (x - r.left) * 200 / (r.right - r.left), row = (y - r.top) * 4 / (r.bottom - r.top);
            *i = c.rect.left > c.rect.right ? 199 - column : column;
            *j = c.rect.top > c.rect.bottom ? 3 - row : row;
            return true;
        });
    }
}

// Source pixel (i, j) = (floor((a ox + b oy) / divisor) + w / 2, floor((c ox + d oy) / divisor) + h / 2) for the
// destination pixel at offset (ox, oy) from the centre; divisor 0: refused, nothing drawn and nothing handed on.
TEST_F(BlitGeometry, RotatedPicturesLandAboutTheCentre)
{
    struct Case {
        const char *name;
        int w, h, x, y;
        float scale, angle;
        int turn, a, b, c, d, divisor;
    } cases[] = {
        {"angle 0, scale 1", 5, 3, 10, 10, 1.0f, 0.0f, 0, 1, 0, 0, 1, 1},
        {"scale 2", 4, 6, 20, 12, 2.0f, 0.0f, 0, 1, 0, 0, 1, 2},
        {"quarter turn: top edge on the right", 6, 4, 30, 10, 1.0f, 1.5707964f, 0, 0, 1, -1, 0, 1},
        {"clipped at the destination's corner", 7, 5, 1, 39, 1.0f, 0.0f, 0, 1, 0, 0, 1, 1},
        {"NaN scale, turned", 4, 4, 9, 9, NAN, 0.0f, 1, 0, 0, 0, 0, 0},
        {"infinite angle, turned", 4, 4, 9, 9, 1.0f, INFINITY, 1, 0, 0, 0, 0, 0},
        {"centre at 8192", 4, 4, 8192, 9, 8000.0f, 0.0f, 0, 0, 0, 0, 0, 0},
        {"4097 rows", 1, 4097, 9, 9, 1.0f, 0.0f, 0, 0, 0, 0, 0, 0},
    };
    for (const Case &e : cases) {
        SCOPED_TRACE(e.name);
        Prepare(e.w, e.h);
        s_QuadCalls = 0;
        MemImgDrawRotatedImage(&dst, &src, e.x, e.y, e.scale, e.angle, 0, e.turn, NULL);
        EXPECT_EQ(s_QuadCalls, 0);
        ExpectPicture([&](int x, int y, int *i, int *j) {
            if (e.divisor == 0) {
                return false;
            }
            // Offset by 1024 so that the division floors.
            *i = (e.a * (x - e.x) + e.b * (y - e.y) + 1024 * e.divisor) / e.divisor - 1024 + e.w / 2;
            *j = (e.c * (x - e.x) + e.d * (y - e.y) + 1024 * e.divisor) / e.divisor - 1024 + e.h / 2;
            return *i >= 0 && *i < e.w && *j >= 0 && *j < e.h;
        });
    }
}

// A 4 x 4 picture about (10, 10) covers 8..11; its box reaches 2 pixels before and 4 past that, 6..15.
TEST_F(BlitGeometry, RotatedBoxReachesTwoPixelsBeforeAndFourPastTheCorners)
{
    const RECT areas[] = {{0, 0, 6, 40}, {0, 0, 7, 40}, {15, 0, 40, 40}, {16, 0, 40, 40},
                          {0, 0, 40, 6}, {0, 0, 40, 7}, {0, 15, 40, 40}, {0, 16, 40, 40}};
    for (int k = 0; k < 8; k++) {
        Prepare(4, 4, areas[k]);
        ResetBlitLeafCounts();
        MemImgDrawRotatedImage(&dst, &src, 10, 10, 1.0f, 0.0f, 0, 0, NULL);
        const BlitLeafCount *leaves;
        unsigned calls = 0;
        for (int n = GetBlitLeafCounts(&leaves), m = 0; m < n; m++) {
            calls += strncmp(leaves[m].name, "rotate ", 7) == 0 ? leaves[m].calls : 0;
        }
        EXPECT_EQ(calls, (unsigned)(k % 4 == 1 || k % 4 == 2)) << "area " << k;
    }
}

TEST_F(BlitGeometry, TurnedPictureGoesMirroredToTheQuadDrawerWithCornersSnappedTowardZero)
{
    Prepare(3, 3);
    g_MemImgDrawSettings.blendMode = 7; // the quad drawer, not this call, decides what a mode draws
    s_QuadCalls = 0;
    MemImgDrawRotatedImage(&dst, &src, 0, 0, 1.0f, 0.0f, 1, 1, NULL);
    ASSERT_EQ(s_QuadCalls, 1);
    const int expected[4][2] = {{1, -1}, {-1, -1}, {1, 1}, {-1, 1}};
    EXPECT_EQ(memcmp(s_QuadPoints, expected, sizeof expected), 0);
    ExpectPicture([](int, int, int *, int *) { return false; });
}
