// The real Direct3D device under Wine: start-up in a window (9Ex, or plain 9 when forced, or the software screen),
// the log lines of its creation, the restart of a screen-mode change, and the end leaving nothing allocated.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "font/font.h"
#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"

TEST(DeviceStartup, Probe)
{
    SetMainWindowTitle("QvDeviceStartup");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(IsDeviceMode(), 1);
    EndEngine();
    printf("%s\n", ReadLogText().c_str());
}
