// The screen flip on the real device: paint rectangles (before the first present and mapping to nothing), the
// vertical-blank wait switched off for paints, the front-screen timer (presents while active, re-arms without
// presenting while inactive, lapses with another target), and a test frame that reads back the same after the
// device is made again by a forced screen mode change and by a trip to full screen and back.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "tests/graphics/screen_readback.h"

namespace
{

int Presents(void)
{
    return GetScreenFlipRecord()->presents;
}

// Pumps messages until `done` holds or `seconds` pass; the outcome is checked by the caller.
template <typename Done> void PumpUntil(Done done, int seconds)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < (DWORD)seconds * 1000) {
        ProcessWindowMessages();
        Sleep(1);
    }
}

// A frame of every shape kind; the same calls give the same pixels on any device made at this size and depth.
void DrawTestFrame(void)
{
    SetDrawTarget(-2);
    SetDrawBlend(0, 0);
    SetDrawClipArea(0, 0, 640, 480);
    G_D3D_DrawBox(0, 0, 640, 480, MakeScreenColor(16, 32, 64));
    G_D3D_DrawBox(40, 40, 200, 120, MakeScreenColor(255, 0, 0));
    G_D3D_DrawBoxOutline(220, 40, 380, 120, MakeScreenColor(0, 255, 0));
    G_D3D_DrawCircle(100, 300, 60, MakeScreenColor(0, 0, 255), 1);
    G_D3D_DrawCircle(300, 300, 60, MakeScreenColor(255, 255, 0), 0);
    G_D3D_DrawTriangle(420, 200, 620, 240, 460, 400, MakeScreenColor(255, 0, 255), 1);
    SetDrawBlend(1, 128);
    G_D3D_DrawBox(150, 80, 450, 260, MakeScreenColor(255, 255, 255));
    SetDrawBlend(0, 0);
    G_D3D_DrawPixel(630, 470, MakeScreenColor(255, 255, 255));
    FlushVertexBatch();
}

class Flip : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(StartEngineWindow("QvFlip", 32, 1), 0);
        ASSERT_TRUE(IsDeviceMode());
        SetDrawTarget(-2);
    }
    static void TearDownTestSuite()
    {
        EndEngine();
    }
};

// Before any whole present there is nothing to map a paint rectangle through: the whole screen is presented.
TEST_F(Flip, PaintRectangleBeforeTheFirstPresentPresentsTheWholeScreen)
{
    ForgetLastPresentedRects();
    int before = Presents();
    RECT paint = {10, 10, 200, 100};
    EXPECT_EQ(PresentScreenToWindow(&paint), 0);
    EXPECT_EQ(Presents(), before + 1);
}

TEST_F(Flip, PaintRectangles)
{
    ASSERT_EQ(FlipScreen(), 0);
    struct Case {
        RECT paint;
        int result, presented;
    } cases[] = {
        {{10, 10, 200, 100}, 0, 1},
        {{0, 0, 640, 480}, 0, 1},
        {{10, 10, 10, 100}, -1, 0},
        {{10, 50, 300, 50}, -1, 0},
    };
    for (const Case &c : cases) {
        int before = Presents();
        EXPECT_EQ(PresentScreenToWindow(&c.paint), c.result) << c.paint.left << "," << c.paint.top;
        EXPECT_EQ(Presents(), before + c.presented);
    }
}

// A paint presents with the wait switched off and leaves the setting as it was.
TEST_F(Flip, PaintsPresentWithoutTheWait)
{
    for (int wait : {0, 1}) {
        SetWaitVerticalBlank(wait);
        g_WindowSettings.runInBackground = 1; // the paint-redraw flag: a quick present would wait
        int presents = Presents(), waits = GetScreenFlipRecord()->pacedWaits;
        Sleep(2 * PARTIAL_PAINT_INTERVAL_MS); // a paint right after a present is its echo
        RedrawWindow(GetAppWindowHandle(), NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
        g_WindowSettings.runInBackground = 0;
        EXPECT_EQ(Presents(), presents + 1);
        EXPECT_EQ(GetScreenFlipRecord()->pacedWaits, waits);
        EXPECT_EQ(GetWaitVerticalBlank(), wait);
    }
}

TEST_F(Flip, WaitOnNeverHangs)
{
    SetWaitVerticalBlank(1);
    g_WindowSettings.runInBackground = 1;
    DWORD start = GetTickCount();
    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(FlipScreen(), 0);
    }
    g_WindowSettings.runInBackground = 0;
    EXPECT_LT(GetTickCount() - start, 20000u);
}

TEST_F(Flip, FrontScreenTimer)
{
    HWND window = GetAppWindowHandle();
    SetDrawTarget(-4);
    int before = Presents();
    PumpUntil([&] { return Presents() >= before + 3; }, 20);
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

#define SKIP_UNLESS_640X480_SWITCHES()                                                                                 \
    if (GetSystemMetrics(SM_CXSCREEN) <= 640 || !HasDisplayMode(640, 480, 32))                                         \
    GTEST_SKIP() << "the display cannot switch to a smaller 640x480 full screen"

TEST_F(Flip, TestFrameReadsBackTheSameAfterTheDeviceIsMadeAgain)
{
    DrawTestFrame();
    ScreenPixels first = ReadScreen();
    ASSERT_EQ(first.rgb.size(), 640u * 480u);

    ASSERT_EQ(ChangeScreenMode(640, 480, 32, 1, -1), 0);
    ASSERT_TRUE(IsDeviceMode());
    DrawTestFrame();
    EXPECT_TRUE(ReadScreen().rgb == first.rgb) << "after a forced screen mode change";

    SKIP_UNLESS_640X480_SWITCHES();
    ASSERT_EQ(ChangeWindowMode(0), 0);
    ASSERT_TRUE(IsDeviceMode());
    DrawTestFrame();
    EXPECT_TRUE(ReadScreen().rgb == first.rgb) << "in full screen";
    EXPECT_EQ(FlipScreen(), 0);
    ASSERT_EQ(ChangeWindowMode(1), 0);
    DrawTestFrame();
    EXPECT_TRUE(ReadScreen().rgb == first.rgb) << "back in a window";
}

} // namespace
