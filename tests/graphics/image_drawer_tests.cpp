// The device image drawers on the real 32-bit screen with point filtering, read back and compared with a slow
// reference: where the graph's corners land on the continuous screen (pixel (i, j) spans [i, i + 1) x [j, j + 1)),
// every pixel centre inside shows the texel under it, blended as the draw settings say, cut by the draw area.
// Centres within a thousandth of a texel edge are left to the platform's rounding.
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <functional>
#include <math.h>
#include <random>

namespace
{

const double PI = 3.14159265358979323846;
const uint32_t BACKGROUND = 0x204060, KEY = 0xFF00FF;
const uint32_t QUADRANT_COLORS[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
enum Picture { UNIQUE8, ODD8X6, ODD7X5, WIDE640, ALPHA8, KEYED8, QUADRANTS16, PICTURE_COUNT };

struct Pictures {
    std::vector<BaseImage> images;
    std::vector<EngineHandle> graphs;
    uint32_t At(int picture, int x, int y) const // 0xAARRGGBB
    {
        const BaseImage &image = images[picture];
        return ((const uint32_t *)image.pixels)[y * image.width + x];
    }
};

Pictures s_Pictures;

BaseImage MakePicture(int picture, std::mt19937 &random)
{
    static const int sizes[PICTURE_COUNT][2] = {{8, 8}, {8, 6}, {7, 5}, {640, 64}, {8, 8}, {8, 8}, {16, 16}};
    int w = sizes[picture][0], h = sizes[picture][1];
    BaseImage image = {};
    picture == ALPHA8 ? NewARGB8BaseImage(w, h, &image) : NewXRGB8BaseImage(w, h, &image);
    for (int i = 0; i < w * h; i++) {
        uint32_t alpha = picture != ALPHA8 ? 0xFF : random() % 2 ? 20 + random() % 80 : 200 + random() % 56;
        uint32_t quadrant = (i % w >= w / 2) + 2 * (i / w >= h / 2);
        uint32_t color = picture == QUADRANTS16 ? QUADRANT_COLORS[quadrant]
                         : picture == UNIQUE8   ? (uint32_t)i * 0x030507 + 0x102030
                         : picture == KEYED8 && random() % 3 == 0 ? KEY
                                                                  : (uint32_t)random() & 0xFFFFFF;
        ((uint32_t *)image.pixels)[i] = alpha << 24 | color;
    }
    return image;
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
            s_Pictures.images.push_back(MakePicture(p, random));
            SetTransparentColorEnabled(p == KEYED8);
            s_Pictures.graphs.push_back(CreateGraphFromImage(&s_Pictures.images[p], NULL));
        }
        SetDrawFilterMode(0);
    }
    static void TearDownTestSuite()
    {
        for (size_t p = 0; p < s_Pictures.images.size(); p++) {
            ReleaseGraphHandle(s_Pictures.graphs[p], 0);
            FreeBaseImageData(&s_Pictures.images[p]);
        }
        EngineScreenSuite<32, 1>::TearDownTestSuite();
        std::string log = ReadLogText();
        EXPECT_NE(log.find("Alloc num:0\r\n", log.rfind("Alloc memory dump")), std::string::npos);
    }
    static const GraphRecord *Graph(int picture)
    {
        return GetGraphRecord(s_Pictures.graphs[picture]);
    }
    static void StartScene(RECT area)
    {
        SetDrawBlend(0, 255);
        SetDrawBrightness(255, 255, 255);
        SetDrawClipArea(0, 0, 640, 480);
        G_D3D_DrawBox(0, 0, 640, 480, (int)MakeScreenColor(0x20, 0x40, 0x60));
        SetDrawClipArea(area.left, area.top, area.right, area.bottom);
    }
};

// Where the graph's top-left, top-right and bottom-left corners land, in continuous screen coordinates.
struct Corners {
    double ax, ay, bx, by, cx, cy;
};

Corners At(double x, double y, double w, double h)
{
    return {x, y, x + w, y, x, y + h};
}

// The graph's centre on (x, y), scaled, mirrored left-right with `turn`, turned by `angle` (y down).
Corners Turned(double x, double y, double w, double h, double scale, double angle, int turn)
{
    double c = cos(angle), s = sin(angle), hx = (turn ? -w : w) * scale / 2, hy = h * scale / 2;
    return {x - c * hx + s * hy, y - s * hx - c * hy, x + c * hx + s * hy, y + s * hx - c * hy,
            x - c * hx - s * hy, y - s * hx + c * hy};
}

uint32_t Mix(uint32_t src, uint32_t dst, uint32_t a)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        out |= (((src >> shift & 0xFF) * a + (dst >> shift & 0xFF) * (255 - a)) / 255) << shift;
    }
    return out;
}

uint32_t Scale(uint32_t color, uint32_t rgb)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        out |= ((color >> shift & 0xFF) * (rgb >> shift & 0xFF) / 255) << shift;
    }
    return out;
}

struct Row {
    const char *name;
    int picture;
    std::function<int()> draw;
    int result;
    std::vector<Corners> where; // none: nothing drawn
    RECT area = {0, 0, 640, 480};
    int blend = 0, parameter = 255, transparent = 0, blendGraph = 0;
    uint32_t brightness = 0xFFFFFF;
};

// The reference screen of a row, and a mask of the pixels left to the platform's rounding.
void Reference(const Row &row, std::vector<uint32_t> *screen, std::vector<char> *unsure)
{
    const BaseImage &image = s_Pictures.images[row.picture];
    int w = image.width, h = image.height;
    for (const Corners &c : row.where) {
        double det = (c.bx - c.ax) * (c.cy - c.ay) - (c.by - c.ay) * (c.cx - c.ax);
        for (int y = row.area.top; y < row.area.bottom; y++) {
            for (int x = row.area.left; x < row.area.right; x++) {
                double px = x + 0.5 - c.ax, py = y + 0.5 - c.ay;
                double gx = (px * (c.cy - c.ay) - py * (c.cx - c.ax)) / det * w;
                double gy = ((c.bx - c.ax) * py - (c.by - c.ay) * px) / det * h;
                uint32_t &out = (*screen)[y * 640 + x];
                (*unsure)[y * 640 + x] |= fabs(gx - round(gx)) < 1e-3 || fabs(gy - round(gy)) < 1e-3;
                if (gx < 0 || gy < 0 || gx >= w || gy >= h) {
                    continue;
                }
                uint32_t texel = s_Pictures.At(row.picture, (int)gx, (int)gy), color = Scale(texel, row.brightness);
                uint32_t mask = s_Pictures.At(ALPHA8, (int)gx, (int)gy) >> 24;
                if ((row.transparent && row.picture == KEYED8 && texel == (0xFF000000 | KEY)) ||
                    (row.blendGraph && mask < 128)) {
                    continue;
                }
                uint32_t alpha = row.transparent && row.picture == ALPHA8 ? texel >> 24 : 255;
                out = Mix(color, out, row.blend == 1 ? alpha * row.parameter / 255 : alpha);
            }
        }
    }
}

TEST_F(ImageDrawers, ReadBackEqualsTheCornerPlacement)
{
    ASSERT_EQ(Graph(WIDE640)->pieceDrawCount, 2);
    ASSERT_TRUE(Graph(ALPHA8)->image->format.alpha);
    const GraphRecord *unique = Graph(UNIQUE8), *wide = Graph(WIDE640), *odd = Graph(ODD8X6);
    const double quarter = -1.5707963705062866;
    Row rows[] = {
        {"8x8 at (10, 20)", UNIQUE8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, unique, 0, 1); }, 0,
         {At(10, 20, 8, 8)}},
        {"640 wide, two pieces", WIDE640, [&] { return G_D3D_DrawImage(0, 100, 0, 100, wide, 0, 1); }, 0,
         {At(0, 100, 640, 64)}},
        {"cut by the left edge", UNIQUE8, [&] { return G_D3D_DrawImage(6, 20, 6, 20, unique, 0, 1); }, 0,
         {At(6, 20, 8, 8)}, {10, 10, 100, 100}},
        {"cut by the top edge", UNIQUE8, [&] { return G_D3D_DrawImage(30, 7, 30, 7, unique, 0, 1); }, 0,
         {At(30, 7, 8, 8)}, {10, 10, 100, 100}},
        {"cut by the right and bottom edges", UNIQUE8, [&] { return G_D3D_DrawImage(95, 97, 95, 97, unique, 0, 1); },
         0, {At(95, 97, 8, 8)}, {10, 10, 100, 100}},
        {"first piece wholly outside", WIDE640, [&] { return G_D3D_DrawImage(-600, 30, -600, 30, wide, 0, 1); }, 0,
         {At(-600, 30, 640, 64)}},
        {"stretched x2", UNIQUE8,
         [&] { return G_D3D_DrawImageStretched(40, 50, 56, 66, 40, 50, 56, 66, unique, 0, 1); }, 0,
         {At(40, 50, 16, 16)}},
        {"stretched with x1 = x2", UNIQUE8,
         [&] { return G_D3D_DrawImageStretched(40, 50, 40, 66, 40, 50, 40, 66, unique, 0, 1); }, -1, {}},
        {"mirrored, cut on both sides", UNIQUE8,
         [&] { return G_D3D_DrawImageStretched(64, 50, 40, 62, 64, 50, 40, 62, unique, 0, 1); }, 0,
         {{64, 50, 40, 50, 64, 62}}, {44, 52, 60, 300}},
        {"640 wide stretched by 1.5 down", WIDE640,
         [&] { return G_D3D_DrawImageStretched(0, 200, 640, 296, 0, 200, 640, 296, wide, 0, 1); }, 0,
         {At(0, 200, 640, 96)}},
        {"rotated by 0 at an integer centre", ODD8X6,
         [&] { return G_D3D_DrawImageRotated(24, 33, 1.0, 0.0, odd, 0, 0); }, 0, {At(20, 30, 8, 6)}},
        {"rotated a quarter back", ODD8X6, [&] { return G_D3D_DrawImageRotated(100, 100, 1.0, quarter, odd, 0, 0); },
         0, {Turned(100, 100, 8, 6, 1.0, -PI / 2, 0)}},
        {"turned", ODD8X6, [&] { return G_D3D_DrawImageRotated(100, 100, 1.0, 0.0, odd, 0, 1); }, 0,
         {Turned(100, 100, 8, 6, 1.0, 0.0, 1)}},
        {"turned, twice the size, half turn", ODD8X6,
         [&] { return G_D3D_DrawImageRotated(200, 100, 2.0, PI, odd, 0, 1); }, 0,
         {Turned(200, 100, 8, 6, 2.0, PI, 1)}},
        {"odd size, a quarter turn", ODD7X5,
         [&] { return G_D3D_DrawImageRotated(50, 60, 1.0, -quarter, Graph(ODD7X5), 0, 0); }, 0,
         {Turned(50.5, 60.5, 7, 5, 1.0, PI / 2, 0)}},
        {"odd size at a half position", ODD7X5,
         [&] { return G_D3D_DrawImageRotated(20.5f, 30.5f, 1.0, 0.0, Graph(ODD7X5), 0, 0); }, 0,
         {At(17, 28, 7, 5)}},
        {"640 wide, half turn", WIDE640,
         [&] { return G_D3D_DrawImageRotated(320, 240, 1.0, PI, wide, 0, 0); }, 0,
         {Turned(320, 240, 640, 64, 1.0, PI, 0)}},
        {"rotated with scale 0", ODD8X6, [&] { return G_D3D_DrawImageRotated(100, 100, 0.0, 1.0, odd, 0, 0); }, -1,
         {}},
        {"rectangular quad", UNIQUE8,
         [&] { return G_D3D_DrawImageQuad(40, 50, 56, 50, 40, 66, 56, 66, unique, 0); }, 0, {At(40, 50, 16, 16)}},
        {"sheared quad", UNIQUE8, [&] { return G_D3D_DrawImageQuad(10, 20, 18, 20, 14, 28, 22, 28, unique, 0); }, 0,
         {{10, 20, 18, 20, 14, 28}}},
        {"float quad", ODD8X6,
         [&] { return G_D3D_DrawImageQuadF(9.5f, 19.5f, 17.5f, 19.5f, 9.5f, 25.5f, 17.5f, 25.5f, odd, 0); }, 0,
         {At(10, 20, 8, 6)}},
        {"float quad, mirrored", ODD8X6,
         [&] { return G_D3D_DrawImageQuadF(17.5f, 19.5f, 9.5f, 19.5f, 17.5f, 25.5f, 9.5f, 25.5f, odd, 0); }, 0,
         {{18, 20, 10, 20, 18, 26}}},
        {"640 wide float quad", WIDE640,
         [&] { return G_D3D_DrawImageQuadF(-0.5f, 99.5f, 639.5f, 99.5f, -0.5f, 163.5f, 639.5f, 163.5f, wide, 0); },
         0, {At(0, 100, 640, 64)}},
        {"transparent colour", KEYED8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, Graph(KEYED8), 1, 1); }, 0,
         {At(10, 20, 8, 8)}, {0, 0, 640, 480}, 0, 255, 1},
        {"transparent colour stretched", KEYED8,
         [&] { return G_D3D_DrawImageStretched(10, 20, 34, 44, 10, 20, 34, 44, Graph(KEYED8), 1, 1); }, 0,
         {At(10, 20, 24, 24)}, {0, 0, 640, 480}, 0, 255, 1},
        {"alpha channel", ALPHA8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, Graph(ALPHA8), 1, 1); }, 0,
         {At(10, 20, 8, 8)}, {0, 0, 640, 480}, 0, 255, 1},
        {"alpha blend 128 over alpha", ALPHA8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, Graph(ALPHA8), 1, 1); },
         0, {At(10, 20, 8, 8)}, {0, 0, 640, 480}, 1, 128, 1},
        {"alpha blend 128, brightness", UNIQUE8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, unique, 0, 1); }, 0,
         {At(10, 20, 8, 8)}, {0, 0, 640, 480}, 1, 128, 0, 0, 0x80FF40},
        {"blend graph at a point", UNIQUE8, [&] { return G_D3D_DrawImage(10, 20, 10, 20, unique, 0, 1); }, 0,
         {At(10, 20, 8, 8)}, {0, 0, 640, 480}, 0, 255, 0, 1},
        {"blend graph, rectangular quad", UNIQUE8,
         [&] { return G_D3D_DrawImageQuad(40, 50, 56, 50, 40, 66, 56, 66, unique, 0); }, 0, {At(40, 50, 16, 16)},
         {0, 0, 640, 480}, 0, 255, 0, 1},
        {"blend graph, sheared strips", UNIQUE8,
         [&] { return G_D3D_DrawImageQuadF(10.7f, 20.2f, 18, 20, 14, 28, 22, 28, unique, 0); }, 0,
         {{10, 20, 18, 20, 14, 28}}, {0, 0, 640, 480}, 0, 255, 0, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartScene(row.area);
        SetDrawBlend(row.blend, row.parameter);
        SetDrawBrightness(row.brightness >> 16, row.brightness >> 8 & 0xFF, row.brightness & 0xFF);
        SelectBlendGraph(row.blendGraph ? s_Pictures.graphs[ALPHA8] : -1, 128, 0);
        EXPECT_EQ(row.draw(), row.result);
        FlushVertexBatch();
        SelectBlendGraph(-1, 0, 0);
        std::vector<uint32_t> expected(640 * 480, BACKGROUND);
        std::vector<char> unsure(640 * 480);
        Reference(row, &expected, &unsure);
        ScreenPixels screen = ReadScreen();
        ASSERT_EQ(screen.rgb.size(), expected.size());
        int wrong = 0, tolerance = row.blend || row.picture == ALPHA8 || row.brightness != 0xFFFFFF ? 2 : 0;
        for (int i = 0; i < 640 * 480; i++) {
            int off = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                off |= abs((int)(screen.rgb[i] >> shift & 0xFF) - (int)(expected[i] >> shift & 0xFF)) > tolerance;
            }
            if (off && !unsure[i] && wrong++ < 3) {
                ADD_FAILURE() << "at (" << i % 640 << ", " << i / 640 << ") " << std::hex << screen.rgb[i]
                              << " instead of " << expected[i];
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// Trapezoids go through the 8x8 grid: they stay inside their bounding box and keep the picture's quadrants where
// the corners put them (red top-left, green top-right, blue bottom-left, white bottom-right).
TEST_F(ImageDrawers, TrapezoidsKeepTheirOrientationInsideTheirBox)
{
    struct Shape {
        const char *name;
        float q[8]; // top-left, top-right, bottom-left, bottom-right as given to the drawer
        int floats;
        uint32_t quadrants[4]; // what shows near the top-left, top-right, bottom-left, bottom-right of the box
    } shapes[] = {
        {"integer", {100, 100, 140, 100, 80, 160, 160, 160}, 0, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        {"float", {100, 100, 140, 100, 80, 160, 160, 160}, 1, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        {"float, mirrored", {140, 100, 100, 100, 160, 160, 80, 160}, 1, {0x00FF00, 0xFF0000, 0xFFFFFF, 0x0000FF}},
        {"float, upside down", {80, 160, 160, 160, 100, 100, 140, 100}, 1, {0x0000FF, 0xFFFFFF, 0xFF0000, 0x00FF00}},
    };
    const GraphRecord *graph = Graph(QUADRANTS16);
    for (const Shape &s : shapes) {
        SCOPED_TRACE(s.name);
        StartScene({0, 0, 640, 480});
        const float *q = s.q;
        EXPECT_EQ(s.floats ? G_D3D_DrawImageQuadF(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], graph, 0)
                           : G_D3D_DrawImageQuad((int)q[0], (int)q[1], (int)q[2], (int)q[3], (int)q[4], (int)q[5],
                                                 (int)q[6], (int)q[7], graph, 0),
                  0);
        FlushVertexBatch();
        ScreenPixels screen = ReadScreen();
        ASSERT_EQ(screen.width, 640);
        int drawn = 0, outside = 0;
        for (int y = 0; y < 480; y++) {
            for (int x = 0; x < 640; x++) {
                int changed = screen.At(x, y) != BACKGROUND;
                drawn += changed;
                outside += changed && (x < 80 || x >= 160 || y < 100 || y >= 160);
            }
        }
        EXPECT_EQ(outside, 0);
        EXPECT_GT(drawn, 3600 * 9 / 10); // the trapezoid's area is 3600
        const int probes[4][2] = {{105, 105}, {134, 105}, {90, 154}, {150, 154}};
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(screen.At(probes[i][0], probes[i][1]), s.quadrants[i]) << "probe " << i;
        }
    }
}

} // namespace
