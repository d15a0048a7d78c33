// The public drawing calls on a 32-bit device screen and a 32-bit software screen: one table of calls (guards,
// placements, outlines, clears) read back against a slow reference of every pixel, blend mode 3 through the three
// passes against the device's own subtraction, and one scene drawn on both paths.
#include "core/window_state.h"
#include "tests/graphics/screen_readback.h"

#include <functional>
#include <limits.h>
#include <math.h>
#include <random>

namespace
{

const int W = 640, H = 480, GW = 32, GH = 24; // screen and test graph sizes
const uint32_t BACK = 0x203010, FILL = 0x4080C0;

struct Picture {
    BaseImage image = {};
    EngineHandle graph = -1;
    // Every third pixel in the transparent colour when `keyed`.
    explicit Picture(unsigned seed, int width = GW, int height = GH, bool keyed = false)
    {
        std::mt19937 random(seed);
        NewXRGB8BaseImage(width, height, &image);
        for (int i = 0; i < width * height; i++) {
            uint32_t key = g_GraphCreateSettings.transparentColor;
            ((uint32_t *)image.pixels)[i] = keyed && i % 3 == 0 ? key : random() & 0xFFFFFF;
        }
        graph = CreateGraphFromImage(&image, NULL);
    }
    ~Picture()
    {
        ReleaseGraphHandle(graph, 0);
        FreeBaseImageData(&image);
    }
    uint32_t At(int x, int y) const
    {
        return ((const uint32_t *)image.pixels)[y * image.width + x] & 0xFFFFFF;
    }
};

unsigned Color(uint32_t rgb)
{
    return MakeScreenColor(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The screen cleared to the background colour, then drawn on in mode 0.
ScreenPixels DrawnScreen(const std::function<void()> &draw)
{
    SetDrawBlend(0, 0);
    ClearDrawScreen(-2, NULL);
    draw();
    FlushVertexBatch();
    return ReadScreen();
}

bool InBox(int x, int y, int left, int top, int right, int bottom)
{
    return x >= left && y >= top && x < right && y < bottom;
}

// A rectangle as a float quad. The device maps float corners as they are, so texel centres fall on pixel centres
// once the corners move by -0.5; the software path truncates them.
int DrawFloatQuad(int x, int y, int width, int height, EngineHandle graph, int device, int transparent = 0)
{
    const float left = x - 0.5f * device, top = y - 0.5f * device, right = left + width, bottom = top + height;
    return DrawGraphQuadF(left, top, right, top, right, bottom, left, bottom, graph, transparent);
}

typedef std::function<uint32_t(int, int)> Expected; // the pixel at (x, y); null: anything but the background

// Each call on a cleared screen: its result and every pixel against the reference. Handles are checked before
// rectangles, bad ones of either kind leave the screen as it was; the draw area comes back unchanged.
void CheckCalls(int device)
{
    Picture pic(7), big(1, 64, 64), stale(4), keyed(5, GW, GH, true);
    g_GraphCreateSettings.blendImage = 1; // the software blits take one-byte blend images only
    Picture smallBlend(2, 32, 32), largeBlend(3, 64, 64);
    g_GraphCreateSettings.blendImage = 0;
    ReleaseGraphHandle(stale.graph, 0);
    const EngineHandle g = pic.graph;
    const RECT reversed = {50, 50, 10, 10}, inside = {40, 30, 200, 90}, whole = {-1, 30, 200, 90},
               overhang = {600, 400, 900, 900};
    auto back = [](int, int) { return BACK; };
    // The picture at (left, top); its pixels of the transparent colour (0, none in a random picture) show the
    // background.
    auto at = [&](int left, int top, const Picture &p) {
        return Expected([=, &p](int x, int y) {
            uint32_t c = InBox(x, y, left, top, left + GW, top + GH) ? p.At(x - left, y - top) : 0;
            return c != 0 ? c : BACK;
        });
    };
    auto part = [&](int turn, int scale) { // source (5, 3, 10, 7) at (200, 100)
        return Expected([=, &pic](int x, int y) {
            int u = (x - 200) / scale, v = (y - 100) / scale;
            return InBox(x, y, 200, 100, 200 + 10 * scale, 100 + 7 * scale) ? pic.At(turn ? 14 - u : 5 + u, 3 + v)
                                                                            : BACK;
        });
    };
    auto ring = [](int left, int top, int right, int bottom) {
        return Expected([=](int x, int y) {
            bool edge = x == left || x == right - 1 || y == top || y == bottom - 1;
            return InBox(x, y, left, top, right, bottom) && edge ? FILL : BACK;
        });
    };
    auto cleared = [&](const RECT &r) {
        return Expected(
            [&](int x, int y) { return r.left < 0 || InBox(x, y, r.left, r.top, r.right, r.bottom) ? BACK : FILL; });
    };
    auto clearInside = [&](const RECT *r) {
        DrawFilledBox(0, 0, W, H, Color(FILL));
        return ClearDrawScreen(-2, r);
    };
    auto underBlend = [&](EngineHandle blend) {
        return [&, blend] {
            return SelectBlendGraph(blend, 0, 0) + DrawGraphAt(5, 5, big.graph, 0) + SelectBlendGraph(-1, 0, 0);
        };
    };
    struct Row {
        const char *name;
        std::function<int()> call;
        int result;
        Expected expected;
        int paths = 3; // 1 the device, 2 the software screen
    } rows[] = {
        {"empty area",
         [&] {
             SetDrawClipArea(10, 10, 10, 200);
             int r = DrawGraphAt(0, 0, g, 0) + DrawFilledBox(0, 0, 99, 99, Color(FILL));
             return SetDrawClipArea(0, 0, W, H) + r;
         },
         0, back},
        {"stale handle", [&] { return DrawGraphAt(5, 5, stale.graph, 0); }, -1, back},
        {"stale mirrored", [&] { return DrawGraphMirrored(5, 5, stale.graph, 0); }, -1, back},
        {"stale turned part", [&] { return DrawGraphPart(5, 5, 0, 0, 9, 9, stale.graph, 0, 1); }, -1, back},
        {"not a handle", [&] { return DrawGraphRotated(50, 50, 1, 0, 0x12345678, 0, 0); }, -1, back},
        {"part outside", [&] { return DrawGraphRectStretched(0, 0, 50, 50, 40, 0, 4, 4, g, 0); }, -1, back},
        {"small blend graph", underBlend(smallBlend.graph), -1, back},
        {"large blend graph", underBlend(largeBlend.graph), 0, nullptr},
        {"radius -1", [&] { return DrawCircleShape(50, 50, -1, Color(FILL), 1); }, 0, back},
        {"reversed clear", [&] { return clearInside(&reversed); }, -1, cleared(reversed)},
        {"clear of a dead graph", [&] { return ClearDrawScreen(stale.graph, NULL); }, -1, back},
        {"mirrored", [&] { return DrawGraphMirrored(100, 50, g, 0); }, 0,
         [&](int x, int y) { return InBox(x, y, 100, 50, 132, 50 + GH) ? pic.At(131 - x, y - 50) : BACK; }},
        {"part", [&] { return DrawGraphPart(200, 100, 5, 3, 10, 7, g, 0, 0); }, 0, part(0, 1)},
        {"part past the edge", [&] { return DrawGraphPart(600, 100, 5, 3, INT_MAX, 7, g, 0, 0); }, 0,
         [&](int x, int y) { return InBox(x, y, 600, 100, 627, 107) ? pic.At(x - 595, y - 97) : BACK; }},
        {"turned part", [&] { return DrawGraphPart(200, 100, 5, 3, 10, 7, g, 0, 1); }, 0, part(1, 1)},
        {"part stretched", [&] { return DrawGraphRectStretched(200, 100, 220, 114, 5, 3, 10, 7, g, 0); }, 0,
         part(0, 2)},
        // float corners are truncated by the software path; the device places them as they are
        {"quad at 10.9, 20.5",
         [&] { return DrawGraphQuadF(10.9f, 20.5f, 42.9f, 20.5f, 42.9f, 44.5f, 10.9f, 44.5f, g, 0); }, 0,
         at(10, 20, pic), 2},
        {"keyed quad", [&] { return DrawFloatQuad(20, 200, GW, GH, keyed.graph, device, 1); }, 0, at(20, 200, keyed)},
        {"released blend graph",
         [&] {
             g_GraphCreateSettings.blendImage = 1;
             EngineHandle blend = MakeEmptyGraph(64, 64);
             g_GraphCreateSettings.blendImage = 0;
             SelectBlendGraph(blend, 0, 0), ReleaseGraphHandle(blend, 0);
             return DrawGraphAt(5, 5, g, 0) + SelectBlendGraph(-1, 0, 0);
         },
         -1, back},
        {"empty outline", [&] { return DrawBoxShape(30, 30, 30, 60, Color(FILL), 0); }, 0, back},
        {"outline", [&] { return DrawBoxShape(10, 10, 20, 20, Color(FILL), 0); }, 0, ring(10, 10, 20, 20)},
        {"outline reversed", [&] { return DrawBoxShape(600, 470, 5, 7, Color(FILL), 0); }, 0, ring(5, 7, 600, 470)},
        {"outline one wide", [&] { return DrawBoxShape(31, 90, 30, 40, Color(FILL), 0); }, 0, ring(30, 40, 31, 90)},
        {"clear inside", [&] { return clearInside(&inside); }, 0, cleared(inside)},
        {"clear whole", [&] { return clearInside(&whole); }, 0, cleared(whole)},
        {"clear past the edge", [&] { return clearInside(&overhang); }, 0, cleared(overhang)},
    };
    for (const Row &row : rows) {
        if (!(row.paths & (device ? 1 : 2))) {
            continue;
        }
        SCOPED_TRACE(row.name);
        const RECT area = g_DrawState.drawArea;
        int result = 1;
        ScreenPixels screen = DrawnScreen([&] { result = row.call(); });
        EXPECT_EQ(result, row.result);
        EXPECT_TRUE(EqualRect(&area, &g_DrawState.drawArea));
        int wrong = 0;
        for (int y = 0; y < H; y++) {
            for (int x = 0; x < W; x++) {
                wrong += row.expected ? screen.At(x, y) != row.expected(x, y) : screen.At(x, y) == BACK;
            }
        }
        EXPECT_EQ(wrong, row.expected ? 0 : W * H - 64 * 64);
    }
}

// One scene of graphs and shapes over a striped ground, in blend modes 0, 1, 2, 3 and 4 (parameter 128).
void DrawScene(const Picture &picture, const Picture &square, int device)
{
    const EngineHandle g = picture.graph;
    for (int x = 0; x < W; x += 40) {
        DrawFilledBox(x, 0, x + 40, H, MakeScreenColor(40 + x / 4, 200 - x / 4, (x * 7) & 0xFF));
    }
    for (int mode = 0; mode < 5; mode++) {
        const int top = 10 + 92 * mode;
        const unsigned color = MakeScreenColor(250, 120 + 20 * mode, 60);
        SetDrawBlend(mode, 128);
        DrawGraphAt(10, top, g, 0);
        DrawGraphStretched(50, top, 50 + 2 * GW, top + 2 * GH, g, 0);
        DrawGraphMirrored(120, top, g, 0);
        DrawGraphRotated(180, top + 30, 1.0, 0.0, square.graph, 0, 0);
        DrawGraphRotated(230, top + 30, 1.0, 3.14159265358979 / 2, square.graph, 0, 1);
        DrawFloatQuad(270, top, GW, 2 * GH, g, device);
        DrawGraphPart(320, top, 4, 4, 20, 12, g, 0, mode & 1);
        DrawFilledBox(350, top, 390, top + 40, color);
        DrawBoxShape(395, top, 440, top + 50, color, 0);
        DrawCircleShape(470, top + 30, 20, color, 1);
        DrawCircleShape(520, top + 30, 22, color, 0);
        DrawTriangleShape(550, top, 630, top + 10, 560, top + 80, color, 1);
        DrawPoint(600, top + 60, color);
    }
    SetDrawBlend(0, 0);
    FlushVertexBatch();
}

// Pixels within a pixel of the segment (x1, y1)-(x2, y2).
bool NearSegment(int x, int y, double x1, double y1, double x2, double y2)
{
    double dx = x2 - x1, dy = y2 - y1, t = ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return hypot(x - x1 - t * dx, y - y1 - t * dy) <= 1.0;
}

TEST(DrawCalls, GraphDrawsAreRefusedBeforeStart)
{
    EXPECT_EQ(DrawGraphAt(0, 0, 0, 0), -1);
    EXPECT_EQ(DrawGraphStretched(0, 0, 9, 9, 0, 0), -1);
    EXPECT_EQ(ClearDrawScreen(-2, NULL), -1);
}

// The table on each path; the scene on both, which reads back alike within 2, and on the device once more with
// blend mode 3 through the three passes, which must read back as the device's own subtraction.
// Left out of the comparison, because the paths are specified to differ there: the quarter-turned square (each
// path snaps turned texels by its own rule), the triangle's edges (the software edge walk truncates where the
// device takes the top-left rule) and the quad's diagonal (the software quad's two triangles both take the pixels
// along it, which blend twice). Mode 3 is compared within 3: the software's packed subtraction keeps the lowest bit
// of red and green from the target.
TEST(DrawCalls, BothPathsDrawAsTheCallsSay)
{
    const int blocks = GetAllocationCount();
    ScreenPixels screens[2];
    g_WindowSettings.backgroundSet = 1;
    g_WindowSettings.backgroundRed = BACK >> 16, g_WindowSettings.backgroundGreen = (BACK >> 8) & 0xFF;
    g_WindowSettings.backgroundBlue = BACK & 0xFF;
    for (int device = 1; device >= 0; device--) {
        SCOPED_TRACE(device ? "device" : "software screen");
        ASSERT_EQ(StartEngineWindow(32, device), 0);
        SetDrawTarget(-2);
        CheckCalls(device);
        {
            Picture picture(21), square(22, 32, 32);
            auto scene = [&] { DrawScene(picture, square, device); };
            screens[device] = DrawnScreen(scene);
            if (device && g_D3D.blendOperations) { // again through the three passes, mode 3 left set afterwards
                g_D3D.blendOperations = 0;
                EXPECT_EQ(CountDifferences(screens[1], DrawnScreen(scene), 2), 0);
                SetDrawBlend(3, 77);
                EXPECT_EQ(DrawGraphAt(600, 440, picture.graph, 0) + DrawPoint(5, 5, 0), 0);
                EXPECT_EQ(g_DrawState.blendMode * 1000 + g_DrawState.blendParameter, 3077);
                g_D3D.blendOperations = 1;
            }
        }
        EndEngine();
    }
    g_WindowSettings.backgroundSet = 0;
    int wrong = 0;
    for (int y = 0; y < H; y++) {
        const int band = (y - 10) / 92, top = 10 + 92 * band;
        for (int x = 0; x < W; x++) {
            bool skipped = InBox(x, y, 213, top + 13, 248, top + 48) || NearSegment(x, y, 302, top, 270, top + 48) ||
                           NearSegment(x, y, 550, top, 630, top + 10) ||
                           NearSegment(x, y, 630, top + 10, 560, top + 80) ||
                           NearSegment(x, y, 560, top + 80, 550, top);
            uint32_t a = screens[0].At(x, y), b = screens[1].At(x, y);
            for (int shift = 0; shift < 24 && !skipped; shift += 8) {
                wrong += abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF)) > (band == 3 ? 3 : 2);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(GetAllocationCount(), blocks);
}

} // namespace
