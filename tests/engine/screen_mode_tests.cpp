// Switching between window mode and a 640x480 full screen on a display that offers that mode (the harness's
// display has 640x480, 800x600 and 1024x768), and starting in full screen.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "graphics/graphics.h"

namespace
{

struct Desktop {
    int width, height;
};

Desktop CurrentDesktop(void)
{
    Desktop desktop = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return desktop;
}

void ExpectCentredWindowWithClient(HWND window, const Desktop &desktop, int width, int height)
{
    RECT client, frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
    EXPECT_EQ(frame.left, (desktop.width - frameWidth) / 2);
    EXPECT_EQ(frame.top, (desktop.height - frameHeight) / 2);
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION);
}

void ExpectFullScreenWindow(HWND window)
{
    Desktop now = CurrentDesktop();
    EXPECT_EQ(now.width, 640);
    EXPECT_EQ(now.height, 480);
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.right, 640);
    EXPECT_EQ(frame.bottom, 480);
    EXPECT_FALSE(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

} // namespace

// The full-screen checks need a display that offers 640x480 and starts larger than that.
#define SKIP_UNLESS_640X480_SWITCHES()                                                                                 \
    if (CurrentDesktop().width <= 640 || !(HasDisplayMode(640, 480, 16) || HasDisplayMode(640, 480, 32)))              \
    GTEST_SKIP() << "the display cannot switch to a smaller 640x480 full screen"

TEST(ScreenMode, SwitchesToFullScreenAndBack)
{
    SKIP_UNLESS_640X480_SWITCHES();
    Desktop desktop = CurrentDesktop();
    SetMainWindowTitle("QvEngineScreenMode");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    ExpectCentredWindowWithClient(window, desktop, 640, 480);
    EXPECT_EQ(ChangeWindowMode(1), 0) << "the current mode: nothing to do";

    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(ChangeWindowMode(0), 0);
        EXPECT_EQ(IsWindowedMode(), 0);
        ExpectFullScreenWindow(window);
        int recordedWidth = 0, recordedHeight = 0;
        GetDesktopScreenState(&recordedWidth, &recordedHeight, NULL);
        EXPECT_EQ(recordedWidth, desktop.width) << "the desktop as it was at window creation";
        EXPECT_EQ(recordedHeight, desktop.height);
        ProcessWindowMessages();

        ASSERT_EQ(ChangeWindowMode(1), 0);
        EXPECT_EQ(IsWindowedMode(), 1);
        Desktop now = CurrentDesktop();
        EXPECT_EQ(now.width, desktop.width);
        EXPECT_EQ(now.height, desktop.height);
        ExpectCentredWindowWithClient(window, desktop, 640, 480);
        ProcessWindowMessages();
    }
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(CurrentDesktop().width, desktop.width);
    EXPECT_EQ(GetAllocationCount(), 0);
}

TEST(ScreenMode, StartsInFullScreenAndRestoresTheDesktopAtTheEnd)
{
    SKIP_UNLESS_640X480_SWITCHES();
    Desktop desktop = CurrentDesktop();
    SetMainWindowTitle("QvEngineScreenMode");
    ChangeWindowMode(0);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(IsWindowedMode(), 0);
    ExpectFullScreenWindow(GetAppWindowHandle());
    for (int i = 0; i < 10; i++) {
        ProcessWindowMessages();
        Sleep(10);
    }
    // Losing the activation gives the desktop its own mode back; regaining it switches to full screen again.
    HWND window = GetAppWindowHandle();
    SendMessageA(window, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(IsWindowActive(), 0);
    EXPECT_EQ(CurrentDesktop().width, desktop.width);
    EXPECT_TRUE(IsIconic(window));
    ShowWindow(window, SW_RESTORE);
    SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(IsWindowActive(), 1);
    EXPECT_EQ(CurrentDesktop().width, 640);
    EXPECT_EQ(CurrentDesktop().height, 480);
    EXPECT_EQ(EndEngine(), 0);
    Desktop now = CurrentDesktop();
    EXPECT_EQ(now.width, desktop.width);
    EXPECT_EQ(now.height, desktop.height);
    ChangeWindowMode(1);
}

// The display offers 640x480, 800x600 and 1024x768, but not 720x400.
TEST(ScreenMode, ASizeTheDisplayLacksFallsBackToWindowMode)
{
    Desktop desktop = CurrentDesktop();
    if (HasDisplayMode(720, 400, 16) || HasDisplayMode(720, 400, 32)) {
        GTEST_SKIP() << "the display offers 720x400";
    }
    SetScreenSizeSetting(720, 400);
    SetMainWindowTitle("QvEngineScreenMode");
    ChangeWindowMode(0);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(IsWindowedMode(), 1) << "start-up keeps full screen for a size the display lacks";
    ExpectCentredWindowWithClient(GetAppWindowHandle(), desktop, 720, 400);
    EXPECT_EQ(ChangeWindowMode(0), -1);
    EXPECT_EQ(IsWindowedMode(), 1);
    EXPECT_EQ(CurrentDesktop().width, desktop.width);
    EXPECT_EQ(EndEngine(), 0);
    SetScreenSizeSetting(0, 0);
}

// At start-up and on each switch: full screen runs at 640x480 emulated, a window at 320x240 without emulation.
TEST(ScreenMode, AQuarterSizeFullScreenRunsAt640x480Emulated)
{
    SKIP_UNLESS_640X480_SWITCHES();
    Desktop desktop = CurrentDesktop();
    SetScreenSizeSetting(320, 240);
    SetMainWindowTitle("QvEngineScreenMode");
    ChangeWindowMode(0);
    ASSERT_EQ(InitEngine(), 0);
    for (int windowed : {0, 1, 0, 1, 0}) {
        SCOPED_TRACE(windowed);
        ASSERT_EQ(ChangeWindowMode(windowed), 0);
        EXPECT_EQ(GetLowResolutionEmulation(), !windowed);
        int width = 0, height = 0;
        QueryScreenState(&width, &height, NULL);
        EXPECT_EQ(width, 320) << "the program still sees its 320x240 screen";
        EXPECT_EQ(height, 240);
        if (windowed) {
            ExpectCentredWindowWithClient(GetAppWindowHandle(), desktop, 320, 240);
        } else {
            ExpectFullScreenWindow(GetAppWindowHandle());
        }
        ProcessWindowMessages();
    }
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(CurrentDesktop().width, desktop.width);
    SetScreenSizeSetting(0, 0);
    SetLowResolutionEmulation(0);
    ChangeWindowMode(1);
}
