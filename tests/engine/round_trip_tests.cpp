// Forty round trips window -> full screen (every other time its device rebuilt there) -> window, twenty on the
// software screen and twenty on the Direct3D one: after each the desktop must have its own mode again. A system can
// keep the full-screen mode as the mode it gives the desktop back (Wine's desktop process now and then saves the
// current mode as the desktop's while the display is switched); every fourth round saves it so in full screen, as
// that process does, and the engine must then set the desktop's own mode itself. The desktop's saved mode is put
// right again after each such round.
#include <gtest/gtest.h>

#include "graphics/graphics.h"
#include "tests/graphics/log_reading.h"

#include <stdio.h>

class ScreenModeRoundTrips : public testing::TestWithParam<int>
{
};

namespace
{

// The display's current mode, or with ENUM_REGISTRY_SETTINGS the one the system keeps as the desktop's.
DEVMODEA CurrentMode(DWORD which = ENUM_CURRENT_SETTINGS)
{
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(NULL, which, &mode);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    return mode;
}

void SaveAsTheDesktopsMode(DEVMODEA mode)
{
    ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY | CDS_GLOBAL | CDS_NORESET);
}

// Puts the desktop's saved mode right however the test ends.
struct SavedModeRepair {
    DEVMODEA desktop;
    ~SavedModeRepair()
    {
        SaveAsTheDesktopsMode(desktop);
    }
};

int CountInLog(const std::string &text)
{
    const std::string log = ReadLogText();
    int times = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        times++;
    }
    return times;
}

} // namespace

TEST_P(ScreenModeRoundTrips, LeaveTheDesktopInItsOwnModeEveryTime)
{
    const DEVMODEA desktop = CurrentMode();
    if (desktop.dmPelsWidth <= 640 || !(HasDisplayMode(640, 480, 16) || HasDisplayMode(640, 480, 32))) {
        GTEST_SKIP() << "the display cannot switch to a smaller 640x480 full screen";
    }
    const SavedModeRepair repair = {desktop};
    SetUseDirect3D(GetParam());
    SetMainWindowTitle("QvEngineScreenMode");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    ASSERT_EQ(IsDeviceMode(), GetParam());
    const int rounds = 20;
    int spoiled = 0;
    for (int round = 0; round < rounds && !HasFailure(); round++) {
        SCOPED_TRACE(round);
        ASSERT_EQ(ChangeWindowMode(0), 0);
        EXPECT_EQ(CurrentMode().dmPelsWidth, 640u);
        const bool spoil = round % 4 == 3;
        if (spoil) {
            SaveAsTheDesktopsMode(CurrentMode());
            spoiled++;
        }
        if (round % 2 == 1) {
            ReinitGraphicsKeepMode();
            ProcessWindowMessages();
        }
        ASSERT_EQ(ChangeWindowMode(1), 0);
        ProcessWindowMessages();
        const DEVMODEA now = CurrentMode();
        EXPECT_EQ(now.dmPelsWidth, desktop.dmPelsWidth);
        EXPECT_EQ(now.dmPelsHeight, desktop.dmPelsHeight);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), (int)desktop.dmPelsWidth);
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), (int)desktop.dmPelsHeight);
        if (spoil) {
            SaveAsTheDesktopsMode(desktop);
        }
    }
    // The engine ends in full screen with the saved mode spoiled: the system gives its saved mode back once more
    // after the shut-down's own give-back, so the saved mode itself must be the desktop's again.
    ASSERT_EQ(ChangeWindowMode(0), 0);
    SaveAsTheDesktopsMode(CurrentMode());
    spoiled++;
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(CurrentMode().dmPelsWidth, desktop.dmPelsWidth);
    EXPECT_EQ(CurrentMode().dmPelsHeight, desktop.dmPelsHeight);
    const DEVMODEA saved = CurrentMode(ENUM_REGISTRY_SETTINGS);
    EXPECT_EQ(saved.dmPelsWidth, desktop.dmPelsWidth);
    EXPECT_EQ(saved.dmPelsHeight, desktop.dmPelsHeight);
    SetUseDirect3D(1);
    const int setAgain = CountInLog("デスクトップの画面モードが");
    EXPECT_GE(setAgain, spoiled) << "each round after the saved mode was spoiled sets the desktop's own mode";
    printf("%s screen: %d round trips, the saved mode spoiled in %d, the desktop's own mode set again %d times\n",
           GetParam() ? "Direct3D" : "software", rounds, spoiled, setAgain);
}

INSTANTIATE_TEST_SUITE_P(BothScreens, ScreenModeRoundTrips, testing::Values(0, 1));
