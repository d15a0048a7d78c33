// The device shape drawers on the real 32-bit screen, read back both ways (direct lock, render-target copy) and
// compared with a slow reference of the geometry (boxes and bars right and bottom exclusive, the midpoint circle,
// the top-left rule for triangles, points; all clipped by the draw area) and of each blend mode's equation: exact in
// mode 0, within 2 elsewhere, each pixel blended as often as the geometry covers it.
#include "tests/graphics/screen_readback.h"

#include <algorithm>
#include <random>

namespace
{

const int W = 640, H = 480, P = 128; // screen size, blend parameter

enum Kind { BOX, OUTLINE, DISC, RING, TRIANGLE, DOT };
struct Shape {
    Kind kind;
    int v[6]; // box, outline: x1 y1 x2 y2; circle: x y r; triangle: three corners; dot: x y
};

struct Coverage {
    std::vector<int> count = std::vector<int>(W * H);
    std::vector<char> *unsure; // pixel centres exactly on a sloped triangle edge: left to the platform's tie rule
    RECT area;
    void Mark(long long x, long long y)
    {
        if (x >= area.left && x < area.right && y >= area.top && y < area.bottom) {
            count[y * W + x]++;
        }
    }
};

// The midpoint walk's points: cx from 0 while cy >= cx, mirrored into the eight octants.
std::vector<POINT> CirclePoints(int x, int y, int r)
{
    std::vector<POINT> points;
    for (long long cx = 0, cy = r, d = 3 - 2LL * r; cy >= cx; d += 4 * cx + 6, cx++) {
        for (int i = 0; i < 8; i++) {
            long long a = i & 4 ? cy : cx, b = i & 4 ? cx : cy;
            POINT p = {(LONG)(x + (i & 1 ? -a : a)), (LONG)(y + (i & 2 ? -b : b))};
            if (std::none_of(points.begin(), points.end(), [&](POINT q) { return q.x == p.x && q.y == p.y; })) {
                points.push_back(p);
            }
        }
        if (d >= 0) {
            d -= 4 * --cy;
        }
    }
    return points;
}

// Pixel centres on whole coordinates; a centre on an edge counts only on a top or a left edge.
bool InTriangle(const int *v, int x, int y, char *unsure)
{
    long long twiceArea = (long long)(v[2] - v[0]) * (v[5] - v[1]) - (long long)(v[3] - v[1]) * (v[4] - v[0]);
    int sign = twiceArea > 0 ? 1 : -1;
    for (int e = 0; e < 3 && twiceArea != 0; e++) {
        const int *a = v + 2 * e, *b = v + 2 * ((e + 1) % 3);
        long long edge = sign * ((long long)(b[0] - a[0]) * (y - a[1]) - (long long)(b[1] - a[1]) * (x - a[0]));
        bool topOrLeft = sign * (a[1] - b[1]) > 0 || (a[1] == b[1] && sign * (b[0] - a[0]) > 0);
        *unsure |= edge == 0 && a[0] != b[0] && a[1] != b[1];
        if (edge < 0 || (edge == 0 && !topOrLeft)) {
            return false;
        }
    }
    return twiceArea != 0;
}

void Reference(Coverage *c, const Shape &s)
{
    int x1 = std::min(s.v[0], s.v[2]), x2 = std::max(s.v[0], s.v[2]);
    int y1 = std::min(s.v[1], s.v[3]), y2 = std::max(s.v[1], s.v[3]);
    for (int y = 0; y < H && (s.kind == BOX || s.kind == OUTLINE || s.kind == TRIANGLE); y++) {
        for (int x = 0; x < W; x++) {
            bool inBox = x >= x1 && x < x2 && y >= y1 && y < y2;
            bool onRing = inBox && (x == x1 || x == x2 - 1 || y == y1 || y == y2 - 1);
            if (s.kind == BOX ? inBox : s.kind == OUTLINE ? onRing : InTriangle(s.v, x, y, &(*c->unsure)[y * W + x])) {
                c->Mark(x, y);
            }
        }
    }
    if (s.kind == DISC || s.kind == RING) {
        std::vector<POINT> points = CirclePoints(s.v[0], s.v[1], s.v[2]);
        for (POINT p : points) {
            if (s.kind == RING) {
                c->Mark(p.x, p.y);
                continue;
            }
            bool widest = std::none_of(points.begin(), points.end(), [&](POINT q) { return q.y == p.y && q.x > p.x; });
            for (long long x = 2LL * s.v[0] - p.x; widest && x <= p.x; x++) {
                c->Mark(x, p.y);
            }
        }
    }
    if (s.kind == DOT) {
        c->Mark(s.v[0], s.v[1]);
    }
}

// One channel through the mode's blend equation; the vertex alpha is the parameter.
double Blend(int mode, double s, double d)
{
    double a = P / 255.0;
    bool subtract = g_D3D.blendOperations != 0;
    return mode == 1    ? s * a + d * (1 - a)
           : mode == 2  ? std::min(255.0, d + s * a)
           : mode == 3  ? (subtract ? std::max(0.0, d - s * a) : s * (255 - d) / 255)
           : mode == 4  ? d * s / 255
           : mode == 10 ? (255 - s) * a + d * (1 - a)
           : mode == 11 ? d * (s * a + 255 * (1 - a)) / 255
                        : s;
}

void Draw(const Shape &s, uint32_t rgb)
{
    int color = (int)MakeScreenColor(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
    const int *v = s.v;
    s.kind == BOX        ? G_D3D_DrawBox(v[0], v[1], v[2], v[3], color)
    : s.kind == OUTLINE  ? G_D3D_DrawBoxOutline(v[0], v[1], v[2], v[3], color)
    : s.kind == DOT      ? G_D3D_DrawPixel(v[0], v[1], color)
    : s.kind == TRIANGLE ? G_D3D_DrawTriangle(v[0], v[1], v[2], v[3], v[4], v[5], color, 1)
                         : G_D3D_DrawCircle(v[0], v[1], v[2], color, s.kind == DISC);
}

// Draws dark stripes, then the shapes in the mode within the area, and compares every pixel with the reference.
void CheckShapes(const std::vector<Shape> &shapes, int mode, RECT area, uint32_t rgb)
{
    std::vector<double> want(W * H * 3);
    std::vector<char> unsure(W * H);
    SetDrawBlend(0, 0);
    SetDrawClipArea(0, 0, W, H);
    auto stripe = [](int x) { return 0x102030u + 0x081808u * (x / 80 % 4); };
    for (int x = 0; x < W; x += 80) {
        Draw({BOX, {x, 0, x + 80, H}}, stripe(x));
    }
    for (int p = 0; p < W * H * 3; p++) {
        want[p] = (stripe(p / 3 % W) >> (16 - 8 * (p % 3))) & 0xFF;
    }
    SetDrawClipArea(area.left, area.top, area.right, area.bottom);
    SetDrawBlend(mode, P);
    for (const Shape &s : shapes) {
        Coverage c;
        c.area = area;
        c.unsure = &unsure;
        Reference(&c, s);
        Draw(s, rgb);
        for (int p = 0; p < W * H * 3; p++) {
            for (int n = 0; n < c.count[p / 3]; n++) {
                want[p] = Blend(mode, (rgb >> (16 - 8 * (p % 3))) & 0xFF, want[p]);
            }
        }
    }
    FlushVertexBatch();
    SetForceScreenLockCopy(1);
    ScreenPixels copied = ReadScreen();
    SetForceScreenLockCopy(0);
    ScreenPixels screen = ReadScreen();
    ASSERT_EQ(screen.rgb.size(), (size_t)W * H);
    EXPECT_TRUE(screen.rgb == copied.rgb) << "the direct lock and the render-target copy differ";
    int bad = 0;
    for (int p = 0; p < W * H * 3; p++) {
        double got = (screen.rgb[p / 3] >> (16 - 8 * (p % 3))) & 0xFF;
        if (!unsure[p / 3] && std::abs(got - want[p]) > (mode == 0 ? 0 : 2) && bad++ == 0) {
            ADD_FAILURE() << "pixel " << p / 3 % W << "," << p / 3 / W << ": " << got << " for " << want[p];
        }
    }
    EXPECT_EQ(bad, 0);
    SetDrawBlend(0, 0);
}

using ShapePixels = EngineScreenSuite<32, 1>;

TEST_F(ShapePixels, ScreenStartsInTheBackgroundColour)
{
    ScreenPixels screen = ReadScreen();
    EXPECT_EQ(std::count(screen.rgb.begin(), screen.rgb.end(), 0u), W * H);
}

// Each edge case in mode 0 (exact) and in mode 1 (every pixel blended once).
TEST_F(ShapePixels, EdgeCasesMatchTheirGeometry)
{
    const RECT full = {0, 0, W, H}, part = {100, 60, 400, 300};
    const struct {
        Shape shape;
        RECT area;
    } cases[] = {
        // clang-format off
        {{BOX, {50, 40, 10, 20}}, full}, {{BOX, {80, 40, 200, 120}}, part}, {{BOX, {0, 0, 90, 50}}, part},
        {{OUTLINE, {10, 20, 50, 40}}, full}, {{OUTLINE, {50, 20, 10, 40}}, full}, {{OUTLINE, {10, 40, 50, 20}}, full},
        {{OUTLINE, {30, 20, 31, 40}}, full}, {{OUTLINE, {30, 20, 60, 21}}, full}, {{OUTLINE, {90, 50, 150, 99}}, part},
        {{DISC, {200, 200, 0}}, full}, {{DISC, {200, 290, 25}}, part}, {{DISC, {395, 65, 30}}, part},
        {{RING, {200, 200, 0}}, full}, {{RING, {90, 150, 40}}, part}, {{RING, {320, 240, 61}}, full},
        {{TRIANGLE, {10, 10, 100, 30, 40, 90}}, full}, {{TRIANGLE, {10, 10, 40, 90, 100, 30}}, part},
        {{DOT, {123, 45}}, full}, {{DOT, {50, 50}}, part},
        // clang-format on
    };
    for (int mode : {0, 1}) {
        for (auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << c.shape.kind << " at " << c.shape.v[0] << " mode " << mode);
            CheckShapes({c.shape}, mode, c.area, 0xF0C060);
        }
    }
}

// Random shapes of every kind in every mode, three to a frame, in random draw areas.
TEST_F(ShapePixels, RandomShapesMatchTheReferenceInEveryMode)
{
    std::mt19937 random(7);
    for (int mode : {0, 1, 2, 3, 4, 10, 11}) {
        for (Kind kind : {BOX, OUTLINE, DISC, RING, TRIANGLE, DOT}) {
            RECT area = {(LONG)(random() % 200), (LONG)(random() % 150), (LONG)(320 + random() % 321),
                         (LONG)(240 + random() % 241)};
            std::vector<Shape> shapes(3, Shape{kind, {}});
            for (Shape &s : shapes) {
                for (int i = 0; i < 6; i++) {
                    s.v[i] = (int)(random() % ((i % 2 ? H : W) + 80)) - 40;
                }
                s.v[2] = kind == DISC || kind == RING ? s.v[2] % 90 + 40 : s.v[2];
            }
            SCOPED_TRACE("mode " + std::to_string(mode) + ", kind " + std::to_string(kind));
            CheckShapes(shapes, mode, area, 0x808080 | (random() & 0x7F7F7F));
        }
    }
}

TEST_F(ShapePixels, BrightnessHalvesWhite)
{
    SetDrawClipArea(0, 0, W, H);
    SetDrawBrightness(128, 128, 128);
    Draw({BOX, {0, 0, 64, 64}}, 0xFFFFFF);
    SetDrawBrightness(255, 255, 255);
    FlushVertexBatch();
    EXPECT_EQ(ReadScreen().At(63, 63), 0x808080u);
}

// A 3D point appended to the batch lands on the same pixel with the whole screen and with a partial draw area.
POINT DrawWorldPoint(const float *p, RECT area)
{
    SetDrawClipArea(0, 0, W, H);
    Draw({BOX, {0, 0, W, H}}, 0);
    SetDrawClipArea(area.left, area.top, area.right, area.bottom);
    ApplyDrawStates(NULL, NULL, 0);
    *(Vertex3D *)ReserveBatchVertices(1, VERTEX_PLAIN, D3DPT_POINTLIST, 1) = {p[0], p[1], p[2], 0xFFFFFFFF};
    CommitBatchVertices(1);
    FlushVertexBatch();
    ScreenPixels screen = ReadScreen();
    auto lit = std::find(screen.rgb.begin(), screen.rgb.end(), 0xFFFFFFu);
    EXPECT_EQ(std::count(screen.rgb.begin(), screen.rgb.end(), 0xFFFFFFu), 1);
    int index = lit == screen.rgb.end() ? -1 : (int)(lit - screen.rgb.begin());
    return POINT{index % W, index / W};
}

TEST_F(ShapePixels, WorldPointLandsOnTheSamePixelInAPartialArea)
{
    const float points[][3] = {{150, 120, 0}, {300, 200, 50}, {400, 260, -30}};
    for (auto &p : points) {
        POINT whole = DrawWorldPoint(p, RECT{0, 0, W, H});
        POINT part = DrawWorldPoint(p, RECT{whole.x - 50, whole.y - 20, whole.x + 150, whole.y + 80});
        EXPECT_TRUE(part.x == whole.x && part.y == whole.y) << part.x << "," << part.y;
    }
    SetDrawClipArea(0, 0, W, H);
}

} // namespace
