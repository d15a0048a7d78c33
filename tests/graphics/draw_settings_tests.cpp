// Draw settings without a device or a window: the setters' clamps and refusals, the software renderer's record
// following every setter, screen colours against a reference packing, the draw-area projection correction and the
// software view of the draw-screen lock.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "softrender/softrender.h"

#include <functional>
#include <random>
#include <string.h>

// A 640x480 back screen as graphics start leaves it, without the start.
static void ResetTo640x480(void)
{
    ResetDrawSettings();
    g_DrawState.drawScreenWidth = 640;
    g_DrawState.drawScreenHeight = 480;
    SetDrawClipArea(0, 0, 640, 480);
    ResetTargetTransforms(640, 480);
}

static void ExpectRecordFollowsState(const char *step)
{
    const MemImgDrawSettings &record = g_MemImgDrawSettings;
    const DrawState &state = g_DrawState;
    SCOPED_TRACE(step);
    EXPECT_EQ(record.blendMode, state.blendMode);
    EXPECT_EQ(record.blendParameter, state.blendParameter);
    EXPECT_EQ(record.brightness, state.brightness);
    EXPECT_TRUE(EqualRect(&record.drawArea, &state.drawArea));
    EXPECT_EQ(record.blendImage, state.blendImage);
    EXPECT_EQ(record.blendBorder, state.blendBorder);
    EXPECT_EQ(record.blendRange, state.blendRange);
    EXPECT_EQ(record.target, state.softwareTarget);
}

TEST(DrawSettings, SettersClampRefuseAndKeepTheSoftwareRecordInStep)
{
    ResetTo640x480();
    EXPECT_EQ(g_DrawState.drawColorWord, 0xFFFFFFFFu);
    // step, call, expected result, blend mode, parameter, colour word (brightness in its low bytes), area
    struct Row {
        const char *step;
        std::function<int()> call;
        int result, mode, parameter;
        unsigned int word;
        RECT area;
    } rows[] = {
        // clang-format off
        {"blend 300", [] { return SetDrawBlend(1, 300); }, 0, 1, 255, 0xFFFFFFFF, {0, 0, 640, 480}},
        {"blend -5", [] { return SetDrawBlend(2, -5); }, 0, 2, 0, 0x00FFFFFF, {0, 0, 640, 480}},
        {"bright clamps", [] { return SetDrawBrightness(300, -1, 128); }, 0, 2, 0, 0x00FF0080, {0, 0, 640, 480}},
        {"bright colour", [] { return SetDrawBrightColor(0xAB123456); }, 0, 2, 0, 0x00123456, {0, 0, 640, 480}},
        {"mode 0 alpha", [] { return SetDrawBlend(0, 77); }, 0, 0, 77, 0xFF123456, {0, 0, 640, 480}},
        {"swapped area", [] { return SetDrawClipArea(100, 50, 20, 10); }, 0, 0, 77, 0xFF123456, {20, 10, 100, 50}},
        {"clamped area", [] { return SetDrawClipArea(-50, 700, 900, -3); }, 0, 0, 77, 0xFF123456, {0, 0, 640, 480}},
        {"empty area", [] { return SetDrawClipArea(10, 10, 10, 200); }, 0, 0, 77, 0xFF123456, {10, 10, 10, 200}},
        {"blend graph none", [] { return SelectBlendGraph(-1, 300, -4); }, 0, 0, 77, 0xFF123456, {10, 10, 10, 200}},
        {"graph refused", [] { return SelectBlendGraph(0x08010002, 1, 2); }, -1, 0, 77, 0xFF123456, {10, 10, 10, 200}},
        {"filter 3 refused", [] { return SetDrawFilterMode(3); }, -1, 0, 77, 0xFF123456, {10, 10, 10, 200}},
        // clang-format on
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.call(), row.result) << row.step;
        EXPECT_EQ(g_DrawState.blendMode, row.mode) << row.step;
        EXPECT_EQ(g_DrawState.blendParameter, row.parameter) << row.step;
        EXPECT_EQ(g_DrawState.brightness, row.word & 0xFFFFFF) << row.step;
        EXPECT_EQ(g_DrawState.drawColorWord, row.word) << row.step;
        EXPECT_TRUE(EqualRect(&g_DrawState.drawArea, &row.area)) << row.step;
        EXPECT_EQ(g_DrawState.emptyArea, row.area.left == row.area.right || row.area.top == row.area.bottom);
        ExpectRecordFollowsState(row.step);
    }
    EXPECT_EQ(g_DrawState.blendBorder, 255);
    EXPECT_EQ(g_DrawState.blendRange, 0);
    EXPECT_EQ(g_DrawState.blendGraph, -1);
    EXPECT_EQ(GetDrawFilterMode(), 0);
    EXPECT_EQ(g_DrawState.drawAreaX2, 10.0f);
    EXPECT_EQ(g_BlendTables.fadeRamp[254], 0) << "the ramp of border 255, range 0 is a step at 255";
    EXPECT_EQ(g_BlendTables.fadeRamp[255], 1);

    g_MemImgDrawSettings.blendParameter = -1; // an unchanged setting does no work, not even the copy
    EXPECT_EQ(SetDrawBlend(0, 77), 0);
    EXPECT_EQ(g_MemImgDrawSettings.blendParameter, -1);
    g_DrawState.drawTarget = -3;
    EXPECT_EQ(SetDrawClipArea(1, 1, 5, 5), -1) << "the further screens have no bounds of their own";
    EXPECT_EQ(g_DrawState.drawArea.right, 10);
}

// The packing rule read off the masks alone: the channel's top bits, placed at the mask's lowest bit.
static unsigned int ReferencePack(const PixelFormat &format, int red, int green, int blue)
{
    unsigned int value = format.alphaMask;
    const unsigned int masks[3] = {format.redMask, format.greenMask, format.blueMask};
    const int channels[3] = {red, green, blue};
    for (int i = 0; i < 3; i++) {
        int bits = __builtin_popcount(masks[i]), low = __builtin_ctz(masks[i]);
        value |= (unsigned int)(channels[i] * (1 << bits) / 256) << low;
    }
    return value;
}

TEST(DrawSettings, ScreenColoursPackAndSplitByTheFormat)
{
    PixelFormat formats[5];
    CreatePixelFormatFromMasks(&formats[0], 16, 0xF800, 0x07E0, 0x001F, 0);
    CreatePixelFormatFromMasks(&formats[1], 32, 0xFF0000, 0xFF00, 0xFF, 0);
    CreatePixelFormatFromMasks(&formats[2], 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    CreatePixelFormatFromMasks(&formats[3], 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
    CreatePixelFormatFromMasks(&formats[4], 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000);
    std::mt19937 random(7);
    for (const PixelFormat &format : formats) {
        for (int i = 0; i < 2000; i++) {
            int rgb[3] = {(int)(random() % 256), (int)(random() % 256), (int)(random() % 256)};
            unsigned int color = MakeColorForFormat(&format, rgb[0], rgb[1], rgb[2]);
            ASSERT_EQ(color, ReferencePack(format, rgb[0], rgb[1], rgb[2]));
            int back[3];
            SplitPixelComponents(&format, color, &back[0], &back[1], &back[2], NULL);
            const unsigned int masks[3] = {format.redMask, format.greenMask, format.blueMask};
            for (int c = 0; c < 3; c++) {
                int levels = (1 << __builtin_popcount(masks[c])) - 1;
                ASSERT_EQ(back[c], (int)((color & masks[c]) >> __builtin_ctz(masks[c])) * 255 / levels);
                ASSERT_LE(abs(back[c] - rgb[c]), 255 / levels + 1) << "the split inverts the packing";
            }
        }
    }
    // Without a screen the public calls use the software screen's format of the configured depth.
    SetScreenModeSettings(16, 0);
    EXPECT_EQ(MakeScreenColor(255, 0, 0), 0xF800u);
    int red = 0, green = 0;
    SplitScreenColor(0xF800, &red, &green, NULL);
    EXPECT_EQ(red, 255);
    SetScreenModeSettings(32, 0);
    EXPECT_EQ(MakeScreenColor(255, 0, 0), 0x00FF0000u);
}

// Where the device puts a 3D point: the world, view and corrected projection, the division by w and the device's
// viewport mapping onto the draw area.
static void ProjectThroughDevice(const Vector3 &point, float *x, float *y)
{
    Matrix4 projection, all;
    ComposeDeviceProjection(&projection);
    MultiplyMatrix(&all, &g_DrawState.world, &g_DrawState.view);
    MultiplyMatrix(&all, &all, &projection);
    const float *m = all.m;
    float clip[4];
    for (int c = 0; c < 4; c++) {
        clip[c] = point.x * m[c] + point.y * m[4 + c] + point.z * m[8 + c] + m[12 + c];
    }
    const RECT &area = g_DrawState.drawArea;
    *x = area.left + (1.0f + clip[0] / clip[3]) * (area.right - area.left) * 0.5f;
    *y = area.top + (1.0f - clip[1] / clip[3]) * (area.bottom - area.top) * 0.5f;
}

TEST(Transforms, DefaultCameraSpansTheTargetAndThePixelIgnoresTheDrawArea)
{
    ResetTo640x480();
    EXPECT_NEAR(g_DrawState.cameraEye.z, -415.69f, 0.01f);
    std::mt19937 random(11);
    for (int i = 0; i < 500; i++) {
        Vector3 point = {(float)(random() % 640), (float)(random() % 480), (float)(random() % 2000) - 300.0f};
        SetDrawClipArea(0, 0, 640, 480);
        float fullX, fullY, areaX, areaY;
        ProjectThroughDevice(point, &fullX, &fullY);
        if (point.z == 0.0f) {
            EXPECT_NEAR(fullX, point.x, 0.05f) << "the z = 0 plane lies on the pixels";
            EXPECT_NEAR(fullY, 480.0f - point.y, 0.05f);
        }
        SetDrawClipArea(100, 100, 300, 200);
        ProjectThroughDevice(point, &areaX, &areaY);
        ASSERT_NEAR(areaX, fullX, 0.05f + fabsf(fullX) * 1e-4f);
        ASSERT_NEAR(areaY, fullY, 0.05f + fabsf(fullY) * 1e-4f);
        // A target reset keeps the partial area, and its projection must still match it.
        ResetTargetTransforms(640, 480);
        ProjectThroughDevice(point, &areaX, &areaY);
        ASSERT_NEAR(areaX, fullX, 0.05f + fabsf(fullX) * 1e-4f);
    }
}

TEST(DrawScreenLock, SoftwareViewChecksTheRectangleAndPointsIntoTheImage)
{
    ResetTo640x480();
    MEMIMG screen = {};
    ASSERT_EQ(CreateMemImgDefault(&screen, 64, 32, MEMIMG_KIND_RGB16), 0);
    g_DrawState.softwareTarget = &screen;
    g_DrawState.drawScreenWidth = 80; // wider than the image: the image's own size must hold the rectangle too
    g_DrawState.drawScreenHeight = 32;
    struct Case {
        int x1, y1, x2, y2, result;
    } cases[] = {{0, 0, 0, 10, -1}, {0, 0, 64, 32, 0}, {-1, 0, 8, 8, -1}, {0, 0, 65, 1, -1},
                 {0, 0, 81, 1, -1}, {5, 5, 4, 9, -1},  {10, 5, 20, 9, 0}, {63, 31, 64, 32, 0}};
    for (const Case &c : cases) {
        BaseImage view;
        ASSERT_EQ(LockDrawScreen(c.x1, c.y1, c.x2, c.y2, &view, -1, 1), c.result) << c.x1 << "," << c.y1;
        if (c.result == 0) {
            EXPECT_EQ(view.pixels, screen.pixels + c.y1 * screen.block->pitch + c.x1 * 2);
            EXPECT_EQ(view.pitch, screen.block->pitch);
            EXPECT_EQ(view.width * view.height, (c.x2 - c.x1) * (c.y2 - c.y1));
            EXPECT_EQ(view.format.redMask, 0xF800u);
            BaseImage second;
            EXPECT_EQ(LockDrawScreen(0, 0, 1, 1, &second, -1, 1), -1) << "one lock at a time";
        }
        EXPECT_EQ(UnlockDrawScreen(), 0);
    }
    EXPECT_EQ(UnlockDrawScreen(), 0) << "without a lock";
    ReleaseMemImg(&screen);
}
