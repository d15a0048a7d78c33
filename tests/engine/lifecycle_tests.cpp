// One whole engine life as the game lives it: title, window mode, start, a couple of seconds of pumping (with a
// socket event for an unknown socket on the way), end. The log it leaves is read by check_lifecycle_log.py.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "network/network.h"
#include "core/core_test_hooks.h"

TEST(EngineLife, StartsPumpsAndEndsInOrder)
{
    EXPECT_EQ(EndEngine(), 0) << "ending an engine that never started does nothing";
    SetMainWindowTitle("QvEngineLifecycle");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    ASSERT_NE(window, (HWND)NULL);
    EXPECT_EQ(InitEngine(), 0) << "a second start changes nothing";
    EXPECT_EQ(GetAppWindowHandle(), window);
    // The system-information step and window creation each raised the timer period once.
    EXPECT_EQ(GetTimerPeriodRaiseCount(), 2);

    char title[64] = "";
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ(title, "QvEngineLifecycle");
    EXPECT_EQ(FindWindowA("QvEngineLifecycle", NULL), window) << "the class is named after the title";

    DWORD start = GetTickCount();
    bool socketEventPosted = false;
    while (GetTickCount() - start < 2000) {
        ASSERT_EQ(ProcessWindowMessages(), 0);
        if (!socketEventPosted && GetTickCount() - start > 1000) {
            PostMessageA(window, NETWORK_SOCKET_MESSAGE, 1234, 1); // a read event for socket 1234
            socketEventPosted = true;
        }
        Sleep(16);
    }
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(IsWindowClosed(), 0);

    EXPECT_EQ(EndEngine(), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(FindWindowA("QvEngineLifecycle", NULL), (HWND)NULL);
    EXPECT_EQ(GetTimerPeriodRaiseCount(), 0) << "the end lowers the period as often as start-up raised it";
    EXPECT_EQ(GetAllocationCount(), 0);
    EXPECT_EQ(GetBoundEntry(BOUND_WINMM, WINMM_TIME_GET_TIME), (FARPROC)NULL) << "libraries are freed";
    EXPECT_EQ(EndEngine(), 0);
}
