// The pad bit set: key map bits from the Windows keyboard state against the default map read straight off its
// table, single keys in and out of range, the lock rule of the Windows-keyboard read, and the winmm joysticks
// through stand-in entries, scaled against the rule.
#include <cmath>
#include <random>
#include <set>

#include "graphics/log_reading.h"
#include "input_test_engine.h"

// The default map as the design table gives it: bit, virtual key of each key on the Windows-keyboard path.
static const struct {
    int bit;
    BYTE virtualKey;
} s_DefaultMap[] = {{0, VK_DOWN},    {1, VK_LEFT},    {2, VK_RIGHT},   {3, VK_UP},     {4, 'Z'},
                    {5, 'X'},        {6, 'C'},        {7, 'A'},        {8, 'S'},       {9, 'D'},
                    {10, 'Q'},       {11, 'W'},       {12, VK_ESCAPE}, {13, VK_SPACE}, {0, VK_NUMPAD2},
                    {1, VK_NUMPAD4}, {2, VK_NUMPAD6}, {3, VK_NUMPAD8}};

static void SetKeys(const std::set<BYTE> &down)
{
    BYTE state[256] = {};
    for (BYTE key : down) {
        state[key] = 0x80;
    }
    SetKeyboardState(state);
}

// The Windows-keyboard path reads at most once a clock millisecond: each query waits for the next one. The keys
// are set just before it, so that no message handled in between (the start-up's activation) has reset them.
static unsigned int QueryPad(int padNumber, const std::set<BYTE> &down = {})
{
    Sleep(2);
    SetKeys(down);
    return GetPadInput(padNumber);
}

TEST(PadInput, KeyMapBitsFollowTheWindowsKeyboardState)
{
    StartInputEngine(true, true);
    std::mt19937 random(14);
    for (int round = 0; round < 60; round++) {
        std::set<BYTE> down;
        unsigned int expected = 0;
        for (const auto &entry : s_DefaultMap) {
            if (random() % 4 == 0) {
                down.insert(entry.virtualKey);
                expected |= 1u << entry.bit;
            }
        }
        SCOPED_TRACE(round);
        EXPECT_EQ(QueryPad(0x1001, down), expected);
        EXPECT_EQ(QueryPad(0x1000, down), expected) << "pad number 0 reads pad 1's map";
        EXPECT_EQ(QueryPad(0x1002, down), 0u) << "pad 2's map is empty";
        EXPECT_EQ(QueryPad(1, down), 0u) << "no key bits without the flag";
    }
    // Every key down: codes outside the table, and pads beyond the map's 16, give nothing.
    std::set<BYTE> all;
    for (int key = 1; key < 256; key++) {
        all.insert((BYTE)key);
    }
    const int outside[] = {-1, 256, 0x7FFFFFFF, (int)0x80000000};
    for (int code : outside) {
        Sleep(2);
        SetKeys(all);
        EXPECT_EQ(IsKeyDown(code), 0) << code;
    }
    Sleep(2);
    SetKeys(all);
    EXPECT_EQ(IsKeyDown(DIK_ESCAPE), 1);
    for (int pad = 0x1011; pad <= 0x1020; pad++) {
        EXPECT_EQ(QueryPad(pad, all), 0u) << pad;
    }
    SetKeys({});
    EndInputEngine();
}

static unsigned int s_ThreadAnswer;
static int s_ThreadPumpPasses;

static DWORD WINAPI QueryFromOtherThread(void *)
{
    Sleep(2);
    int passes = GetPumpPassCount();
    s_ThreadAnswer = GetPadInput(0x1001);
    s_ThreadPumpPasses = GetPumpPassCount() - passes;
    return 0;
}

// The window thread reads between pump calls (nobody holds the lock); another thread is refused while the window
// thread holds it, and does not pump.
TEST(PadInput, WindowsKeyboardIsReadByTheLockHolderOrAFreeWindowThread)
{
    StartInputEngine(true, true);
    int passes = GetPumpPassCount();
    EXPECT_EQ(QueryPad(0x1001, {'Z'}), 0x10u) << "the window thread between pump calls";
    EXPECT_GT(GetPumpPassCount(), passes) << "a read between pump calls handles the window's messages first";
    EnterEngineLock();
    s_ThreadAnswer = 0xFFFFFFFF;
    HANDLE thread = CreateThread(NULL, 0, QueryFromOtherThread, NULL, 0, NULL);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    EXPECT_EQ(s_ThreadAnswer, 0u) << "another thread while the window thread holds the lock";
    EXPECT_EQ(s_ThreadPumpPasses, 0) << "the refused query does not pump";
    EXPECT_EQ(QueryPad(0x1001, {'Z'}), 0x10u) << "the holder itself";
    LeaveEngineLock();
    SetKeys({});
    EndInputEngine();
}

// winmm stand-ins: two sticks, a position per id set by the test, and the ids polled.
static JOYINFOEX s_Positions[PAD_LIMIT];
static std::set<UINT> s_PolledIds;

static MMRESULT WINAPI StandInJoyGetDevCaps(UINT_PTR id, JOYCAPSA *caps, UINT size)
{
    if (id >= 2) {
        return JOYERR_UNPLUGGED;
    }
    memset(caps, 0, size);
    caps->wCaps = id == 0 ? (JOYCAPS_HASZ | JOYCAPS_HASR) : JOYCAPS_HASZ;
    return JOYERR_NOERROR;
}

static MMRESULT WINAPI StandInJoyGetPosEx(UINT id, JOYINFOEX *info)
{
    s_PolledIds.insert(id);
    if (id >= PAD_LIMIT) {
        return JOYERR_PARMS;
    }
    *info = s_Positions[id];
    return JOYERR_NOERROR;
}

// The scaling as the rule states it: the dead zone is 16,384..49,152, outside it the distance from its edge in
// 16,384ths of 1000 (cut toward zero), full deflection 1000.
static int ReferenceAxis(unsigned int value)
{
    if (value == 65535) {
        return 1000;
    }
    double distance = value < 16384 ? (double)value - 16384 : value > 49152 ? (double)value - 49152 : 0;
    return (int)std::trunc(distance * 1000 / 16384);
}

TEST(PadInput, WinmmSticksAreCountedPolledAndScaled)
{
    SetBoundEntryForTest(BOUND_WINMM, WINMM_JOY_GET_DEV_CAPS, (FARPROC)(void (*)(void))StandInJoyGetDevCaps);
    SetBoundEntryForTest(BOUND_WINMM, WINMM_JOY_GET_POS_EX, (FARPROC)(void (*)(void))StandInJoyGetPosEx);
    StartInputEngine(true, true);
    EXPECT_EQ(g_InputState.pads[0].hasZAndR, 1);
    EXPECT_EQ(g_InputState.pads[1].hasZAndR, 0);

    const struct {
        unsigned int raw;
        int scaled;
    } anchors[] = {{16383, 0}, {8192, -500}, {1, -999}, {0, -1000}, {65534, 999}, {65535, 1000}, {32767, 0}};
    for (const auto &anchor : anchors) {
        EXPECT_EQ(ScaleJoystickAxis(anchor.raw), anchor.scaled) << anchor.raw;
    }
    std::mt19937 random(1402);
    for (int round = 0; round < 40; round++) {
        s_PolledIds.clear();
        for (int id = 0; id < PAD_LIMIT; id++) {
            JOYINFOEX *info = &s_Positions[id];
            info->dwXpos = random() % 65536;
            info->dwYpos = random() % 65536;
            info->dwZpos = random() % 65536;
            info->dwRpos = random() % 65536;
            info->dwButtons = random() & 0x0FFFFFFF;
        }
        for (int id = 0; id < PAD_LIMIT; id++) {
            const JOYINFOEX &info = s_Positions[id];
            int x = ReferenceAxis(info.dwXpos), y = ReferenceAxis(info.dwYpos);
            unsigned int expected = (y > 0 ? 1 : 0) | (x < 0 ? 2 : 0) | (x > 0 ? 4 : 0) | (y < 0 ? 8 : 0) |
                                    ((info.dwButtons & 0xFFFFFF) << 4);
            EXPECT_EQ(QueryPad(id + 1), expected) << id;
            const DIJOYSTATE &state = g_InputState.pads[id].state;
            EXPECT_EQ(state.lZ, id == 0 ? ReferenceAxis(info.dwZpos) : 0);
            EXPECT_EQ(state.lRz, id == 0 ? ReferenceAxis(info.dwRpos) : 0);
        }
        EXPECT_EQ(s_PolledIds.size(), (size_t)PAD_LIMIT);
        EXPECT_EQ(*s_PolledIds.rbegin(), (UINT)(PAD_LIMIT - 1));
    }
    EXPECT_EQ(QueryPad(17), 0u) << "beyond the 16 pads";
    EndInputEngine();
    EXPECT_NE(ReadLogText().find("パッドの数は 2 個です"), std::string::npos);
}
