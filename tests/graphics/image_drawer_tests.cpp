// The device image drawers on the real 32-bit screen with point filtering, read back and compared with a slow
// reference: where the graph's corners land on the continuous screen (pixel (i, j) spans [i, i + 1) x [j, j + 1)),
// each pixel centre inside shows the texel under it, blended as the draw settings say, cut by the draw area.
// Centres within a thousandth of a texel edge are left to the platform's rounding.
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <algorithm>
#include <math.h>
#include <random>

namespace
{

const double PI = 3.14159265358979323846, BACK = -1.5707963705062866; // a quarter turn back, as the game turns
const uint32_t BACKGROUND = 0x204060, KEY = 0xFF00FF, QUADRANT_COLORS[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
enum Picture { UNIQUE8, EVEN8X6, ODD7X5, WIDE640, ALPHA8, KEYED8, QUADRANTS16, PICTURE_COUNT };
enum Kind { AT, STRETCH, ROTATE, QUAD, QUADF };

std::vector<BaseImage> s_Images;
std::vector<EngineHandle> s_Graphs;

uint32_t Texel(int picture, int x, int y) // 0xAARRGGBB
{
    return ((const uint32_t *)s_Images[picture].pixels)[y * s_Images[picture].width + x];
}

// Blend-graph alphas stay a few steps clear of the cut at 128 (the platform rounds the stage arithmetic).
BaseImage MakePicture(int picture, std::mt19937 &random)
{
    static const int sizes[PICTURE_COUNT][2] = {{8, 8}, {8, 6}, {7, 5}, {640, 64}, {8, 8}, {8, 8}, {16, 16}};
    int w = sizes[picture][0], h = sizes[picture][1];
    BaseImage image = {};
    picture == ALPHA8 ? NewARGB8BaseImage(w, h, &image) : NewXRGB8BaseImage(w, h, &image);
    for (int i = 0; i < w * h; i++) {
        uint32_t alpha = picture != ALPHA8 ? 0xFF : random() % 2 ? 20 + random() % 80 : 132 + random() % 124;
        uint32_t color = picture == QUADRANTS16 ? QUADRANT_COLORS[(i % w >= w / 2) + 2 * (i / w >= h / 2)]
                         : picture == UNIQUE8   ? (uint32_t)i * 0x030507 + 0x102030
                         : picture == KEYED8 && random() % 3 == 0 ? KEY
                                                                  : (uint32_t)random() & 0xFFFFFF;
        ((uint32_t *)image.pixels)[i] = alpha << 24 | color;
    }
    return image;
}

// Where the graph's top-left, top-right and bottom-left corners land.
struct Corners {
    double ax, ay, bx, by, cx, cy;
};

Corners At(double x, double y, double w, double h)
{
    return {x, y, x + w, y, x, y + h};
}

uint32_t Mix(uint32_t src, uint32_t dst, uint32_t alpha, uint32_t brightness)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t s = (src >> shift & 0xFF) * (brightness >> shift & 0xFF) / 255;
        out |= ((s * alpha + (dst >> shift & 0xFF) * (255 - alpha)) / 255) << shift;
    }
    return out;
}

struct Row {
    const char *name;
    int picture, kind;
    double a[8];
    int result;
    std::vector<Corners> where; // empty: nothing drawn, or a trapezoid checked by its box and quadrants
    RECT area = {0, 0, 640, 480};
    int blend = 0, parameter = 255, transparent = 0, blendGraph = 0;
    uint32_t brightness = 0xFFFFFF;
};

int Draw(const Row &r)
{
    const GraphRecord *g = GetGraphRecord(s_Graphs[r.picture]);
    auto i = [&](int k) { return (int)r.a[k]; };
    auto f = [&](int k) { return (float)r.a[k]; };
    switch (r.kind) {
    case AT:
        return G_D3D_DrawImage(i(0), i(1), f(0), f(1), g, r.transparent, 1);
    case STRETCH:
        return G_D3D_DrawImageStretched(i(0), i(1), i(2), i(3), f(0), f(1), f(2), f(3), g, r.transparent, 1);
    case ROTATE:
        return G_D3D_DrawImageRotated(f(0), f(1), r.a[2], r.a[3], g, r.transparent, i(4));
    case QUAD:
        return G_D3D_DrawImageQuad(i(0), i(1), i(2), i(3), i(4), i(5), i(6), i(7), g, r.transparent);
    }
    return G_D3D_DrawImageQuadF(f(0), f(1), f(2), f(3), f(4), f(5), f(6), f(7), g, r.transparent);
}

// The reference screen of a row, and the pixels left to the platform's rounding.
void Reference(const Row &row, std::vector<uint32_t> *screen, std::vector<char> *unsure)
{
    int w = s_Images[row.picture].width, h = s_Images[row.picture].height;
    for (const Corners &c : row.where) {
        double det = (c.bx - c.ax) * (c.cy - c.ay) - (c.by - c.ay) * (c.cx - c.ax);
        for (int y = row.area.top; y < row.area.bottom; y++) {
            for (int x = row.area.left; x < row.area.right; x++) {
                double px = x + 0.5 - c.ax, py = y + 0.5 - c.ay;
                double gx = (px * (c.cy - c.ay) - py * (c.cx - c.ax)) / det * w;
                double gy = ((c.bx - c.ax) * py - (c.by - c.ay) * px) / det * h;
                (*unsure)[y * 640 + x] |= fabs(gx - round(gx)) < 1e-3 || fabs(gy - round(gy)) < 1e-3;
                if (gx < 0 || gy < 0 || gx >= w || gy >= h) {
                    continue;
                }
                uint32_t texel = Texel(row.picture, (int)gx, (int)gy);
                int keyed = row.transparent && row.picture == KEYED8 && (texel & 0xFFFFFF) == KEY;
                uint32_t cut =
                    Texel(ALPHA8, std::min((int)gx, 7), std::min((int)gy, 7)) >> 24 < 128; // clamped beyond 8x8
                if (!keyed && !(row.blendGraph && cut)) {
                    uint32_t alpha = row.transparent && row.picture == ALPHA8 ? texel >> 24 : 255;
                    uint32_t &out = (*screen)[y * 640 + x];
                    out = Mix(texel, out, row.blend == 1 ? alpha * row.parameter / 255 : alpha, row.brightness);
                }
            }
        }
    }
}

// A trapezoid (through the 8x8 grid, or the strips under a blend graph) drawn into the box (80, 100)-(160, 160)
// stays inside it and shows, near each corner of the box, the quadrant of the 16x16 picture its corner was given.
void ExpectTrapezoid(const Row &row, const ScreenPixels &screen)
{
    int drawn = 0, outside = 0, corner[4] = {0, 1, 2, 3}; // the quadrants the four corners were given
    for (int k = 0; k < 4; k++) {
        corner[(row.a[2 * k] > 120) + 2 * (row.a[2 * k + 1] > 130)] = k;
    }
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            drawn += screen.At(x, y) != BACKGROUND;
            outside += screen.At(x, y) != BACKGROUND && (x < 80 || x >= 160 || y < 100 || y >= 160);
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(drawn, 3600 * 9 / 10); // of its area of 3600
    const int probes[4][2] = {{105, 105}, {134, 105}, {90, 154}, {150, 154}};
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(screen.At(probes[k][0], probes[k][1]), QUADRANT_COLORS[corner[k]]) << "near corner " << k;
    }
}

class ImageDrawers : public EngineScreenSuite<32, 1>
{
  protected:
    static void SetUpTestSuite()
    {
        EngineScreenSuite<32, 1>::SetUpTestSuite();
        std::mt19937 random(12);
        SetForcedMaxTextureSize(512); // the 640-wide graph in two pieces
        SetGraphTransparentColor(0xFF, 0x00, 0xFF);
        for (int p = 0; p < PICTURE_COUNT; p++) {
            s_Images.push_back(MakePicture(p, random));
            SetTransparentColorEnabled(p == KEYED8);
            s_Graphs.push_back(CreateGraphFromImage(&s_Images[p], NULL));
        }
        SetDrawFilterMode(0);
    }
    static void TearDownTestSuite()
    {
        for (size_t p = 0; p < s_Images.size(); p++) {
            ReleaseGraphHandle(s_Graphs[p], 0);
            FreeBaseImageData(&s_Images[p]);
        }
        EngineScreenSuite<32, 1>::TearDownTestSuite();
        std::string log = ReadLogText();
        EXPECT_NE(log.find("Alloc num:0\r\n", log.rfind("Alloc memory dump")), std::string::npos);
    }
};

TEST_F(ImageDrawers, ReadBackEqualsWhereTheCornersLand)
{
    ASSERT_EQ(GetGraphRecord(s_Graphs[WIDE640])->pieceDrawCount, 2);
    const RECT all = {0, 0, 640, 480}, box = {10, 10, 100, 100};
    // clang-format off
    Row rows[] = {
        {"8x8 at (10, 20)", UNIQUE8, AT, {10, 20}, 0, {At(10, 20, 8, 8)}},
        {"640 wide: two pieces", WIDE640, AT, {0, 100}, 0, {At(0, 100, 640, 64)}},
        {"cut by the left edge", UNIQUE8, AT, {6, 20}, 0, {At(6, 20, 8, 8)}, box},
        {"cut by the top edge", UNIQUE8, AT, {30, 7}, 0, {At(30, 7, 8, 8)}, box},
        {"cut by the right and bottom edges", UNIQUE8, AT, {95, 97}, 0, {At(95, 97, 8, 8)}, box},
        {"first piece wholly outside", WIDE640, AT, {-600, 30}, 0, {At(-600, 30, 640, 64)}},
        {"stretched x2", UNIQUE8, STRETCH, {40, 50, 56, 66}, 0, {At(40, 50, 16, 16)}},
        {"stretched with x1 = x2", UNIQUE8, STRETCH, {40, 50, 40, 66}, -1, {}},
        {"mirrored x3, cut at three edges", UNIQUE8, STRETCH, {64, 50, 40, 62}, 0, {{64, 50, 40, 50, 64, 62}},
         {44, 52, 60, 300}},
        {"640 wide stretched by 1.5 down", WIDE640, STRETCH, {0, 200, 640, 296}, 0, {At(0, 200, 640, 96)}},
        {"rotated by 0", EVEN8X6, ROTATE, {24, 33, 1, 0}, 0, {At(20, 30, 8, 6)}},
        {"rotated a quarter back", EVEN8X6, ROTATE, {100, 100, 1, BACK}, 0, {{97, 104, 97, 96, 103, 104}}},
        {"turned", EVEN8X6, ROTATE, {100, 100, 1, 0, 1}, 0, {{104, 97, 96, 97, 104, 103}}},
        {"turned, scale 2, half turn", EVEN8X6, ROTATE, {200, 100, 2, PI, 1}, 0, {{192, 106, 208, 106, 192, 94}}},
        {"odd size, a quarter turn", ODD7X5, ROTATE, {50, 60, 1, -BACK}, 0, {{53, 57, 53, 64, 48, 57}}},
        {"odd size at a half position", ODD7X5, ROTATE, {20.5, 30.5, 1, 0}, 0, {At(17, 28, 7, 5)}},
        {"... turned", ODD7X5, ROTATE, {20.5, 30.5, 1, 0, 1}, 0, {{24, 28, 17, 28, 24, 33}}},
        {"640 wide, half turn", WIDE640, ROTATE, {320, 240, 1, PI}, 0, {{640, 272, 0, 272, 640, 208}}},
        {"rotated with scale 0", EVEN8X6, ROTATE, {100, 100, 0, 1}, -1, {}},
        {"rectangular quad", UNIQUE8, QUAD, {40, 50, 56, 50, 40, 66, 56, 66}, 0, {At(40, 50, 16, 16)}},
        {"sheared quad", UNIQUE8, QUAD, {10, 20, 18, 20, 14, 28, 22, 28}, 0, {{10, 20, 18, 20, 14, 28}}},
        {"float quad", EVEN8X6, QUADF, {9.5, 19.5, 17.5, 19.5, 9.5, 25.5, 17.5, 25.5}, 0, {At(10, 20, 8, 6)}},
        {"float quad, mirrored", EVEN8X6, QUADF, {17.5, 19.5, 9.5, 19.5, 17.5, 25.5, 9.5, 25.5}, 0,
         {{18, 20, 10, 20, 18, 26}}},
        {"640 wide float quad", WIDE640, QUADF, {-.5, 99.5, 639.5, 99.5, -.5, 163.5, 639.5, 163.5}, 0,
         {At(0, 100, 640, 64)}},
        {"transparent colour", KEYED8, AT, {10, 20}, 0, {At(10, 20, 8, 8)}, all, 0, 255, 1},
        {"transparent colour stretched", KEYED8, STRETCH, {10, 20, 34, 44}, 0, {At(10, 20, 24, 24)}, all, 0, 255, 1},
        {"alpha channel", ALPHA8, AT, {10, 20}, 0, {At(10, 20, 8, 8)}, all, 0, 255, 1},
        {"alpha blend 128 over alpha", ALPHA8, AT, {10, 20}, 0, {At(10, 20, 8, 8)}, all, 1, 128, 1},
        {"alpha blend 128, brightness", UNIQUE8, AT, {10, 20}, 0, {At(10, 20, 8, 8)}, all, 1, 128, 0, 0, 0x80FF40},
        {"blend graph, cut by the left edge", UNIQUE8, AT, {6, 20}, 0, {At(6, 20, 8, 8)}, box, 0, 255, 0, 1},
        {"blend graph over two pieces", WIDE640, AT, {0, 100}, 0, {At(0, 100, 640, 64)}, all, 0, 255, 0, 1},
        {"blend graph, rectangular quad", UNIQUE8, QUAD, {40, 50, 56, 50, 40, 66, 56, 66}, 0, {At(40, 50, 16, 16)},
         all, 0, 255, 0, 1},
        {"blend graph, sheared float quad: strips", UNIQUE8, QUADF, {10.7, 20.2, 18, 20, 14, 28, 22, 28}, 0,
         {{10, 20, 18, 20, 14, 28}}, all, 0, 255, 0, 1},
        {"border 255: the strips draw nothing", UNIQUE8, QUADF, {10, 20, 18, 20, 14, 28, 22, 28}, 0, {}, all, 0, 255, 0,
         3},
        {"trapezoid", QUADRANTS16, QUAD, {100, 100, 140, 100, 80, 160, 160, 160}, 0, {}},
        {"float trapezoid, mirrored", QUADRANTS16, QUADF, {140, 100, 100, 100, 160, 160, 80, 160}, 0, {}},
        {"float trapezoid, upside down", QUADRANTS16, QUADF, {80, 160, 160, 160, 100, 100, 140, 100}, 0, {}},
        {"trapezoid under a blend graph: strips", QUADRANTS16, QUAD, {100, 100, 140, 100, 80, 160, 160, 160}, 0, {},
         all, 0, 255, 0, 2},
    };
    // clang-format on
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetDrawBlend(0, 255);
        SetDrawBrightness(255, 255, 255);
        SetDrawClipArea(0, 0, 640, 480);
        G_D3D_DrawBox(0, 0, 640, 480, (int)MakeScreenColor(0x20, 0x40, 0x60));
        SetDrawClipArea(row.area.left, row.area.top, row.area.right, row.area.bottom);
        SetDrawBlend(row.blend, row.parameter);
        SetDrawBrightness(row.brightness >> 16, row.brightness >> 8 & 0xFF, row.brightness & 0xFF);
        // Blend graph 1: the alpha picture cut at 128; 2: the opaque one; 3: the alpha picture with the border at 255.
        SelectBlendGraph(row.blendGraph ? s_Graphs[row.blendGraph == 2 ? UNIQUE8 : ALPHA8] : -1,
                         row.blendGraph == 3 ? 255 : 128, 0);
        EXPECT_EQ(Draw(row), row.result);
        FlushVertexBatch();
        SelectBlendGraph(-1, 0, 0);
        ScreenPixels screen = ReadScreen();
        ASSERT_EQ(screen.rgb.size(), 640u * 480);
        if (row.picture == QUADRANTS16) {
            ExpectTrapezoid(row, screen);
            continue;
        }
        std::vector<uint32_t> expected(640 * 480, BACKGROUND);
        std::vector<char> unsure(640 * 480);
        Reference(row, &expected, &unsure);
        int tolerance = row.blend || row.picture == ALPHA8 || row.brightness != 0xFFFFFF ? 2 : 0;
        for (int i = 0, wrong = 0; i < 640 * 480; i++) {
            int off = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                off |= abs((int)(screen.rgb[i] >> shift & 0xFF) - (int)(expected[i] >> shift & 0xFF)) > tolerance;
            }
            EXPECT_TRUE(!off || unsure[i] || ++wrong > 3) << "(" << i % 640 << ", " << i / 640 << ") " << std::hex
                                                          << screen.rgb[i] << " instead of " << expected[i];
        }
    }
}

// Whole-coordinate vertices of an odd-sized graph at a half position move half a pixel (this platform's rasteriser
// hides the difference, so the vertices are read from the batch).
TEST_F(ImageDrawers, OddSizesAtHalfPositionsSnapOffWholeCoordinates)
{
    for (int turn : {0, 1}) {
        FlushVertexBatch();
        ASSERT_EQ(G_D3D_DrawImageRotated(20.5f, 30.5f, 1.0, 0.0, GetGraphRecord(s_Graphs[ODD7X5]), 0, turn), 0);
        const TexturedVertex2D *first = (const TexturedVertex2D *)g_VertexBatch.write - 6;
        EXPECT_EQ(first->x, turn ? 23.5f : 16.5f);
        EXPECT_EQ(first->y, 27.5f);
    }
    FlushVertexBatch();
}

} // namespace
