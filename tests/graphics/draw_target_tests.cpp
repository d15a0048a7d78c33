// Draw targets with the engine started on the software screen in a 640x480 window: the screens it knows, the
// targets it refuses, the camera of a new target and the lock of the whole screen.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "softrender/softrender.h"

TEST(DrawTarget, ScreensAreSelectedAndEverythingElseIsRefused)
{
    EXPECT_EQ(SetDrawTarget(-2), -1) << "before graphics start";
    ChangeWindowMode(1);
    SetUseDirect3D(0);
    ASSERT_EQ(InitEngine(), 0);
    ResetDrawSettings();
    EXPECT_EQ(GetDrawTarget(), -4);

    ASSERT_EQ(SetDrawTarget(-2), 0);
    EXPECT_NEAR(g_DrawState.cameraEye.z, -415.69f, 0.01f);
    EXPECT_NEAR(g_DrawState.view.m[14], 415.69f, 0.01f);
    ASSERT_NE(GetSoftwareScreen(), nullptr);
    EXPECT_EQ(g_DrawState.softwareTarget, GetSoftwareScreen());
    SetDrawClipArea(10, 20, 30, 40);
    // target, result, draw target after; the same screen size keeps the area
    struct Row {
        int target, result, after;
    } rows[] = {{7, -1, -2}, {-1, -1, -2}, {0x08000001, -1, -2}, {-3, 0, -3}, {-4, 0, -4}, {-5, 0, -5}, {-2, 0, -2}};
    for (const Row &row : rows) {
        EXPECT_EQ(SetDrawTarget(row.target), row.result) << row.target;
        EXPECT_EQ(GetDrawTarget(), row.after) << row.target;
        EXPECT_TRUE(g_DrawState.drawArea.right == 30 && g_MemImgDrawSettings.drawArea.right == 30) << row.target;
        EXPECT_EQ(g_DrawState.drawScreenWidth, 640);
    }

    SetDrawClipArea(0, 0, 640, 480);
    BaseImage view;
    ASSERT_EQ(LockDrawScreen(0, 0, 640, 480, &view, -1, 1), 0);
    EXPECT_EQ(view.width, 640);
    EXPECT_EQ(view.pixels, GetSoftwareScreen()->pixels);
    EXPECT_EQ(UnlockDrawScreen(), 0);
    EXPECT_EQ(EndEngine(), 0);
}
