// The input phase (button modes, directions, the joystick's dead centre) and the frame pacing across the clock's
// wrap, each as one table or sweep.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

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
        {1, "1111", "0100", "1011", "1000"},                                      // nor its release seen
        {1, "0000", "0000", "1011", "1011"}, {2, "0000", "0000", "1101", "1101"},
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
                JOYINFOEX info = {};
                info.dwXpos = info.dwYpos = 32767;
                info.dwButtons = press;
                joystick ? ApplyJoystickState(&info) : ApplyPadBits(press << 4);
                latched += (char)('0' + g_Game.ButtonLatch[row.button]);
                memset(g_Game.ButtonLatch, 0, sizeof(g_Game.ButtonLatch));
            }
            EXPECT_EQ(latched, row.latched) << "button " << row.button + 1 << " joystick " << joystick;
        }
    }
}

// Pad bits (right and down win) and joystick positions (16383..49151 are no direction).
TEST(GameInput, Directions)
{
    struct Row {
        unsigned int bits;
        DWORD position;
        int horizontal, vertical;
    } rows[] = {{0x02, 0, 1, 0},  {0x04, 0, 2, 0},  {0x06, 0, 2, 0},  {0x08, 0, 0, 1},
                {0x01, 0, 0, 2},  {0x09, 0, 0, 2},  {0, 16382, 1, 1}, {0, 16383, 0, 0},
                {0, 49151, 0, 0}, {0, 49152, 2, 2}, {0, 65535, 2, 2}};
    for (const Row &row : rows) {
        ResetGameAndEngine();
        JOYINFOEX info = {};
        info.dwXpos = info.dwYpos = row.position;
        row.bits != 0 ? ApplyPadBits(row.bits) : ApplyJoystickState(&info);
        EXPECT_EQ(g_Game.InputHorizontal * 10 + g_Game.InputVertical, row.horizontal * 10 + row.vertical)
            << row.bits << " " << row.position;
    }
}

// Frames of every length from 0 to 40 ms started anywhere around the 31-bit clock's wrap, and clocks read
// backwards: the sleep is the target less the frame's true length while that is shorter, else nothing.
TEST(GamePacing, SleepStaysWithinTheTargetAcrossTheWrap)
{
    const int64_t wrap = 0x80000000ll;
    for (int target : {16, 80, 100}) {
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
