// The screen flip on the real device: paint rectangles, paints without the wait, the front-screen timer, the
// display showing the read-back frame, and a test frame reading back the same after the device is made again.
#include "core/window_state.h"
#include "tests/graphics/screen_readback.h"

namespace
{

int Presents(void)
{
    return GetScreenFlipRecord()->presents;
}

void DrawTestFrame(void)
{
    SetDrawBlend(0, 0);
    SetDrawClipArea(0, 0, 640, 480);
    G_D3D_DrawBox(0, 0, 640, 480, MakeScreenColor(16, 32, 64));
    G_D3D_DrawBox(40, 40, 200, 120, MakeScreenColor(255, 0, 0));
    G_D3D_DrawBoxOutline(220, 40, 380, 120, MakeScreenColor(0, 255, 0));
    G_D3D_DrawCircle(100, 300, 60, MakeScreenColor(0, 0, 255), 1);
    G_D3D_DrawTriangle(420, 200, 620, 240, 460, 400, MakeScreenColor(255, 0, 255), 1);
    SetDrawBlend(1, 128);
    G_D3D_DrawBox(150, 80, 450, 260, MakeScreenColor(255, 255, 255));
    SetDrawBlend(0, 0);
    FlushVertexBatch();
}

using Flip = EngineScreenSuite<32, 1>;

// Before the first whole present a paint rectangle has nothing to be mapped through: the whole screen goes.
TEST_F(Flip, PaintRectangles)
{
    ForgetLastPresentedRects();
    const struct {
        RECT paint;
        int result, presented;
    } cases[] = {
        {{10, 10, 200, 100}, 0, 1}, {{10, 10, 200, 100}, 0, 1}, {{10, 10, 10, 100}, -1, 0}, {{10, 50, 300, 50}, -1, 0}};
    for (const auto &c : cases) {
        int before = Presents();
        EXPECT_EQ(PresentScreenToWindow(&c.paint), c.result) << c.paint.left << "," << c.paint.bottom;
        EXPECT_EQ(Presents(), before + c.presented);
    }
}

// With the paint-redraw flag a quick present would wait; a paint switches the wait off and back.
TEST_F(Flip, PaintsPresentWithoutTheWaitAndNothingHangs)
{
    g_WindowSettings.runInBackground = 1;
    for (int wait : {0, 1}) {
        SetWaitVerticalBlank(wait);
        ExpectPaintPresentsWithoutTheWait();
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(FlipScreen(), 0);
        }
    }
    g_WindowSettings.runInBackground = 0;
}

TEST_F(Flip, FrontScreenTimer)
{
    HWND window = GetAppWindowHandle();
    SetDrawTarget(-4);
    int before = Presents();
    for (DWORD start = GetTickCount(); Presents() < before + 3 && GetTickCount() - start < 20000; Sleep(1)) {
        ProcessWindowMessages();
    }
    EXPECT_GE(Presents(), before + 3) << "the timer keeps presenting the front screen";
    g_Window.active = 0;
    before = Presents();
    FrontScreenTimerProc(window, WM_TIMER, FRONT_SCREEN_TIMER_ID, 0);
    EXPECT_EQ(Presents(), before) << "no present while inactive";
    EXPECT_TRUE(KillTimer(window, FRONT_SCREEN_TIMER_ID)) << "but the timer is armed again";
    g_Window.active = 1;
    SetDrawTarget(-2);
    FrontScreenTimerProc(window, WM_TIMER, FRONT_SCREEN_TIMER_ID, 0);
    EXPECT_FALSE(KillTimer(window, FRONT_SCREEN_TIMER_ID)) << "another target lets the timer lapse";
}

TEST_F(Flip, DisplayShowsTheReadBackFrame)
{
    DrawTestFrame();
    ASSERT_EQ(FlipScreen(), 0);
    ScreenPixels frame = ReadScreen(), shot = WaitForDisplay(frame, 0);
    EXPECT_EQ(CountDifferences(frame, shot, 0), 0);
}

TEST_F(Flip, TestFrameReadsBackTheSameAfterTheDeviceIsMadeAgain)
{
    DrawTestFrame();
    ScreenPixels first = ReadScreen();
    ASSERT_EQ(first.rgb.size(), 640u * 480u);
    ASSERT_EQ(ChangeScreenMode(640, 480, 32, 1, -1), 0);
    DrawTestFrame();
    EXPECT_EQ(CountDifferences(ReadScreen(), first, 0), 0) << "after a forced screen mode change";
    if (GetSystemMetrics(SM_CXSCREEN) <= 640 || !HasDisplayMode(640, 480, 32)) {
        GTEST_SKIP() << "the display cannot switch to a smaller 640x480 full screen";
    }
    for (int windowed : {0, 1}) {
        ASSERT_EQ(ChangeWindowMode(windowed), 0);
        ASSERT_TRUE(IsDeviceMode());
        DrawTestFrame();
        EXPECT_EQ(CountDifferences(ReadScreen(), first, 0), 0) << "window mode " << windowed;
        EXPECT_EQ(FlipScreen(), 0);
    }
}

} // namespace
