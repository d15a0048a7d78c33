// The input phase (button modes, directions, the joystick's dead centre) and the frame pacing across the clock's
// wrap, each as one table or sweep.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

static void EndFrame(void)
{
    g_Game.InputHorizontal = g_Game.InputVertical = 0;
    for (uint8_t &latch : g_Game.ButtonLatch) {
        latch = 0;
    }
}

static void PressFromJoystick(unsigned int buttons)
{
    JOYINFOEX info = {};
    info.dwXpos = info.dwYpos = 32767;
    info.dwButtons = buttons;
    ApplyJoystickState(&info);
}

// Per frame: the button's mode, the pause flag, whether it is down, and the latch expected; from the keyboard side
// and the joystick side alike.
TEST(GameInput, ButtonModesLatchByTheRules)
{
    struct Row {
        int button;
        const char *modes, *paused, *down, *latched;
    } rows[] = {
        {0, "0000", "0000", "1101", "1101"},                                      // level
        {0, "1111", "0000", "1101", "1001"},                                      // edge: once per press
        {0, "2211", "0000", "1111", "0000"},                                      // off, then held until released
        {0, "2211", "0000", "1101", "0001"}, {0, "1111", "1111", "1111", "1000"}, // the pause leaves button 1 alone
        {1, "1111", "1100", "1111", "0010"},                                      // button 2 not latched while paused
        {1, "1111", "0100", "1011", "1000"},                                      // nor its held memory touched
        {1, "0000", "0000", "1011", "1011"}, {2, "0000", "0000", "1101", "1101"}, {3, "1111", "0000", "1101", "1001"},
        {3, "2222", "0000", "1101", "1001"}, // buttons 2-4 take any value but 0 as edge
    };
    for (int joystick = 0; joystick < 2; joystick++) {
        for (const Row &row : rows) {
            ResetGameAndEngine();
            std::string latched;
            for (int frame = 0; frame < 4; frame++) {
                g_Game.ButtonMode[row.button] = (int8_t)(row.modes[frame] - '0');
                g_Game.PauseFlag = row.paused[frame] == '1' ? 10 : 0;
                unsigned int press = row.down[frame] == '1' ? 1u << row.button : 0;
                if (joystick) {
                    PressFromJoystick(press);
                } else {
                    ApplyPadBits(press << 4);
                }
                latched += (char)('0' + g_Game.ButtonLatch[row.button]);
                EndFrame();
            }
            EXPECT_EQ(latched, row.latched)
                << "button " << row.button + 1 << " modes " << row.modes << " joystick " << joystick;
        }
    }
}

TEST(GameInput, DirectionsFromPadAndJoystick)
{
    struct PadRow {
        unsigned int bits;
        int horizontal, vertical;
    } pads[] = {{0x02, 1, 0}, {0x04, 2, 0}, {0x06, 2, 0}, {0x08, 0, 1}, {0x01, 0, 2}, {0x09, 0, 2}, {0x0F, 2, 2}};
    for (const PadRow &row : pads) {
        ResetGameAndEngine();
        ApplyPadBits(row.bits);
        EXPECT_EQ(g_Game.InputHorizontal, row.horizontal) << row.bits;
        EXPECT_EQ(g_Game.InputVertical, row.vertical) << row.bits;
    }
    struct AxisRow {
        DWORD position;
        int direction;
    } axes[] = {{0, 1}, {16382, 1}, {16383, 0}, {32767, 0}, {49151, 0}, {49152, 2}, {65535, 2}};
    for (const AxisRow &row : axes) {
        ResetGameAndEngine();
        JOYINFOEX info = {};
        info.dwXpos = info.dwYpos = row.position;
        ApplyJoystickState(&info);
        EXPECT_EQ(g_Game.InputHorizontal, row.direction) << row.position;
        EXPECT_EQ(g_Game.InputVertical, row.direction) << row.position;
    }
}

// Frames of every length from 0 to 40 ms started anywhere around the 31-bit clock's wrap, and clocks read
// backwards: the sleep is the target less the frame's true length while that is shorter, else nothing, never more
// than the target.
TEST(GamePacing, SleepStaysWithinTheTargetAcrossTheWrap)
{
    const int64_t wrap = 0x80000000ll;
    const int targets[] = {16, 80, 100};
    for (int target : targets) {
        for (int64_t start = wrap - 60; start < wrap + 60; start++) {
            for (int length = -3; length <= 40; length++) {
                int t0 = (int)(start % wrap), now = (int)((start + length) % wrap);
                int expected = length >= 0 && length < target ? target - length : 0;
                ASSERT_EQ(PacingSleepTime(t0, now, target), expected) << t0 << " " << now << " " << target;
            }
        }
    }
    EXPECT_EQ(PacingSleepTime(0x7FFFFFFF - 16, 3, 16), 0);
}
