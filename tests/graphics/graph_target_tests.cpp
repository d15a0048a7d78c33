// Drawable graphs as draw targets, locks of graphs and screen copies into graphs, on the 32-bit device and on the
// software screen: what is drawn or copied reads back equal to a model of each target; refused calls change nothing.
#include "softrender/softrender.h"
#include "tests/graphics/screen_readback.h"

#include <random>

namespace
{

template <typename Suite> struct GraphTargets : EmptyDumpAtEnd<Suite> {
};
TYPED_TEST_SUITE(GraphTargets, DeviceAndSoftware);

// Through the lock, or from the texture (staging twin first) of a device graph that is not drawable.
Pixels ReadGraph(EngineHandle graph)
{
    const GraphRecord *record = GetGraphRecord(graph);
    const TexturePiece *piece = record->image->pieces;
    if (!IsDeviceMode() || record->image->format.renderTarget) {
        return ReadLockedRect(graph, 0, 0, record->width, record->height).rgb;
    }
    IDirect3DTexture9 *texture = piece->staging != NULL ? piece->staging : piece->texture;
    D3DLOCKED_RECT locked;
    Pixels pixels;
    if (texture->LockRect(0, &locked, NULL, D3DLOCK_READONLY) == 0) {
        for (int i = 0; i < record->width * record->height; i++) {
            pixels.push_back(
                0xFFFFFF & ((uint32_t *)((char *)locked.pBits + i / record->width * locked.Pitch))[i % record->width]);
        }
        texture->UnlockRect(0);
    }
    return pixels;
}

// Random boxes, some reaching past the target, into the current target and into its model.
void DrawBoxes(Pixels *model, int width, int height, std::mt19937 &random)
{
    for (int box = 0; box < 8; box++) {
        RECT r = {(LONG)(random() % (width + 40)) - 20, (LONG)(random() % (height + 40)) - 20, 0, 0};
        r.right = r.left + 1 + random() % width, r.bottom = r.top + 1 + random() % height;
        uint32_t rgb = random() & 0xFFFFFF, color = MakeScreenColor(rgb >> 16, rgb >> 8 & 0xFF, rgb & 0xFF);
        IsDeviceMode() ? G_D3D_DrawBox(r.left, r.top, r.right, r.bottom, (int)color)
                       : (MemImgFillBox(g_DrawState.softwareTarget, &r, color), 0);
        for (int i = 0; i < width * height; i++) {
            (*model)[i] = PtInRect(&r, POINT{i % width, i / width}) ? rgb : (*model)[i];
        }
    }
    FlushVertexBatch();
}

} // namespace

// Drawing into a drawable graph stays there, the draw area following the target, and the graph then draws on the
// screen; refused targets keep the old one; on the device a graph target has its own depth surface, else the Z buffer
// when that covers it, else none.
TYPED_TEST(GraphTargets, DrawingGoesIntoTheGraphUntilTheScreenIsTargetAgain)
{
    std::mt19937 random(5);
    Pixels screen = ReadScreen().rgb;
    DrawBoxes(&screen, 640, 480, random);
    EngineHandle graph = MakeGraph(200, 120, 1), dead = MakeGraph(8, 8, 1);
    g_GraphCreateSettings.blendImage = 1;
    EngineHandle blend = MakeEmptyGraph(8, 8);
    g_GraphCreateSettings.blendImage = 0;
    Pixels drawn = ReadGraph(graph);
    ReleaseGraphHandle(dead, 0);
    ASSERT_EQ(SetDrawTarget(graph), 0);
    for (int refused : {blend, dead, 7, -1}) {
        EXPECT_EQ(SetDrawTarget(refused), -1);
    }
    EXPECT_TRUE(GetDrawTarget() == graph && g_DrawState.drawArea.right == 200 && g_DrawState.drawArea.bottom == 120);
    DrawBoxes(&drawn, 200, 120, random);
    ASSERT_EQ(SetDrawTarget(-2), 0);
    ASSERT_EQ(DrawGraphAt(300, 200, graph, 0), 0);
    for (int i = 0; i < 200 * 120; i++) {
        screen[(200 + i / 200) * 640 + 300 + i % 200] = drawn[i];
    }
    EXPECT_TRUE(g_DrawState.drawArea.right == 640 && ReadGraph(graph) == drawn && ReadScreen().rgb == screen);
    struct Row {
        int width, height, ownDepth, zBuffer;
    } rows[] = {{64, 32, 0, 1}, {1100, 64, 0, 0}, {64, 64, 1, 0}};
    for (const Row &row : rows) {
        EngineHandle target = MakeGraph(row.width, row.height, 1);
        SharedGraphImage *image = GetGraphRecord(target)->image;
        image->depthBufferWanted = row.ownDepth;
        ReleaseImageTextures(image), CreateGraphTextures(image); // as after device loss
        IDirect3DSurface9 *depth = NULL;
        ASSERT_EQ(SetDrawTarget(target), 0);
        if (IsDeviceMode() && g_D3D.device->GetDepthStencilSurface(&depth) == 0) {
            depth->Release();
        }
        EXPECT_EQ(depth, !IsDeviceMode() ? NULL
                         : row.ownDepth  ? image->pieces[0].depthSurface
                         : row.zBuffer   ? g_D3D.zBuffer
                                         : NULL);
        ReleaseGraphHandle(target, 0);
        EXPECT_EQ(GetDrawTarget(), -2) << "a released target hands drawing back to the screen";
    }
    ReleaseGraphHandle(graph, 0), ReleaseGraphHandle(blend, 0);
}

// A lock fits what it names, not the draw target; copies from the screen and from a graph into a drawable and a
// plain graph take a rectangle only inside the source's own size, at a place inside the destination (random
// rectangles judged by that rule after four named refusals), each read back against the model.
TYPED_TEST(GraphTargets, LocksAndCopiesTakeOnlyRectanglesInsideWhatTheyName)
{
    std::mt19937 random(9);
    Pixels screen = ReadScreen().rgb;
    DrawBoxes(&screen, 640, 480, random);
    EngineHandle graph = MakeGraph(100, 80, 1), wide = MakeGraph(800, 100, 1), dead = MakeGraph(8, 8, 1);
    Pixels source = ReadGraph(graph);
    ReleaseGraphHandle(dead, 0);
    SetDrawTarget(graph), DrawBoxes(&source, 100, 80, random);
    const int locks[][7] = {{-2, wide, 0, 0, 800, 100, 0},    {-2, wide, 0, 0, 640, 480, -1},
                            {wide, -2, 0, 0, 640, 480, 0},    {wide, -1, 0, 0, 640, 480, -1},
                            {-2, wide, 700, 90, 800, 100, 0}, {-2, -1, 0, 0, 800, 100, -1}};
    for (const int *l : locks) {
        SetDrawTarget(l[0]);
        EXPECT_EQ(ReadLockedRect(l[1], l[2], l[3], l[4], l[5]).rgb.empty() ? -1 : 0, l[6]) << l[0] << " " << l[4];
    }
    SetDrawTarget(-2);
    for (int drawable : {1, 0}) {
        EngineHandle dest = MakeGraph(120, 90, drawable);
        Pixels model(120 * 90);
        EXPECT_EQ(CopyDrawScreenToGraph(10, 20, 130, 111, dest, 0), -1);
        ASSERT_EQ(CopyDrawScreenToGraph(10, 20, 130, 110, dest, 0), 0);
        EXPECT_EQ(CopyScreenRectToGraph(graph, 0, 0, 10, 10, 0, 0, dead, 0), -1);
        std::vector<std::vector<int>> sweep = {
            {0, 0, 120, 50, 0, 0}, {0, 0, 50, 50, -1, 0}, {0, 0, 50, 50, 0, -5}, {0, 0, 50, 50, 80, 0}};
        for (int i = 0; i < 32; i++) {
            int x = (int)(random() % 110) - 5, y = (int)(random() % 90) - 5;
            sweep.push_back({x, y, x + (int)(random() % 50) - 3, y + (int)(random() % 40) - 3, (int)(random() % 90) - 5,
                             (int)(random() % 70) - 5});
        }
        for (int i = 0; i < 120 * 90; i++) {
            model[i] = screen[(20 + i / 120) * 640 + 10 + i % 120];
        }
        int copied = 0;
        for (size_t row = 0; row < sweep.size(); row++) {
            const int *r = sweep[row].data(), w = r[2] - r[0], h = r[3] - r[1], fromScreen = row & 1;
            const int sourceWidth = fromScreen ? 640 : 100, sourceHeight = fromScreen ? 480 : 80;
            int inside = r[0] >= 0 && w > 0 && r[2] <= sourceWidth && r[1] >= 0 && h > 0 && r[3] <= sourceHeight &&
                         r[4] >= 0 && r[5] >= 0 && r[4] + w <= 120 && r[5] + h <= 90;
            EXPECT_EQ(CopyScreenRectToGraph(fromScreen ? dead : graph, r[0], r[1], r[2], r[3], r[4], r[5], dest, 0),
                      inside - 1);
            for (int i = 0; inside && i < w * h; i++) {
                model[(r[5] + i / w) * 120 + r[4] + i % w] =
                    (fromScreen ? screen : source)[(r[1] + i / w) * sourceWidth + r[0] + i % w];
            }
            copied += inside;
            EXPECT_TRUE(ReadGraph(dest) == model) << "row " << row << (fromScreen ? " of the screen" : " of the graph");
        }
        EXPECT_GE(copied, 8) << "the sweep copies as well as refuses";
        ReleaseGraphHandle(dest, 0);
    }
    SetDrawTarget(-2), ReleaseGraphHandle(graph, 0), ReleaseGraphHandle(wide, 0);
}
