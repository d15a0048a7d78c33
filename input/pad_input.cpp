// The pad bit set and single keys: the key state table refreshed from the DirectInput keyboard or from the
// Windows keyboard state, the default key map, and the queries the game makes between pump calls. Window thread;
// the Windows-keyboard refresh refuses other threads (it pumps), and a re-entry flag stops the pump's own call
// from coming back into a refresh under way.
#include "input/input_internal.h"

struct VirtualKeyRow {
    unsigned short virtualKey;
    unsigned short keyCode;
};

// Windows virtual keys and the DirectInput codes they are read as on the Windows-keyboard path.
static const VirtualKeyRow s_VirtualKeyTable[] = {
    {'A', DIK_A},
    {'B', DIK_B},
    {'C', DIK_C},
    {'D', DIK_D},
    {'E', DIK_E},
    {'F', DIK_F},
    {'G', DIK_G},
    {'H', DIK_H},
    {'I', DIK_I},
    {'J', DIK_J},
    {'K', DIK_K},
    {'L', DIK_L},
    {'M', DIK_M},
    {'N', DIK_N},
    {'O', DIK_O},
    {'P', DIK_P},
    {'Q', DIK_Q},
    {'R', DIK_R},
    {'S', DIK_S},
    {'T', DIK_T},
    {'U', DIK_U},
    {'V', DIK_V},
    {'W', DIK_W},
    {'X', DIK_X},
    {'Y', DIK_Y},
    {'Z', DIK_Z},
    {'0', DIK_0},
    {'1', DIK_1},
    {'2', DIK_2},
    {'3', DIK_3},
    {'4', DIK_4},
    {'5', DIK_5},
    {'6', DIK_6},
    {'7', DIK_7},
    {'8', DIK_8},
    {'9', DIK_9},
    {VK_LEFT, DIK_LEFT},
    {VK_UP, DIK_UP},
    {VK_RIGHT, DIK_RIGHT},
    {VK_DOWN, DIK_DOWN},
    {VK_NUMPAD0, DIK_NUMPAD0},
    {VK_NUMPAD1, DIK_NUMPAD1},
    {VK_NUMPAD2, DIK_NUMPAD2},
    {VK_NUMPAD3, DIK_NUMPAD3},
    {VK_NUMPAD4, DIK_NUMPAD4},
    {VK_NUMPAD5, DIK_NUMPAD5},
    {VK_NUMPAD6, DIK_NUMPAD6},
    {VK_NUMPAD7, DIK_NUMPAD7},
    {VK_NUMPAD8, DIK_NUMPAD8},
    {VK_NUMPAD9, DIK_NUMPAD9},
    {VK_MULTIPLY, DIK_MULTIPLY},
    {VK_ADD, DIK_ADD},
    {VK_SUBTRACT, DIK_SUBTRACT},
    {VK_DECIMAL, DIK_DECIMAL},
    {VK_DIVIDE, DIK_DIVIDE},
    {VK_RETURN, DIK_RETURN},
    {VK_RETURN, DIK_NUMPADENTER},
    {VK_LSHIFT, DIK_LSHIFT},
    {VK_RSHIFT, DIK_RSHIFT},
    {VK_LCONTROL, DIK_LCONTROL},
    {VK_RCONTROL, DIK_RCONTROL},
    {VK_LMENU, DIK_LMENU},
    {VK_RMENU, DIK_RMENU},
    {VK_PRIOR, DIK_PRIOR},
    {VK_NEXT, DIK_NEXT},
    {VK_END, DIK_END},
    {VK_HOME, DIK_HOME},
    {VK_INSERT, DIK_INSERT},
    {VK_DELETE, DIK_DELETE},
    {VK_ESCAPE, DIK_ESCAPE},
    {VK_SPACE, DIK_SPACE},
    {VK_BACK, DIK_BACK},
    {VK_TAB, DIK_TAB},
    {VK_SCROLL, DIK_SCROLL},
    {VK_CAPITAL, DIK_CAPITAL},
    {VK_PAUSE, DIK_PAUSE},
    {VK_F1, DIK_F1},
    {VK_F2, DIK_F2},
    {VK_F3, DIK_F3},
    {VK_F4, DIK_F4},
    {VK_F5, DIK_F5},
    {VK_F6, DIK_F6},
    {VK_F7, DIK_F7},
    {VK_F8, DIK_F8},
    {VK_F9, DIK_F9},
    {VK_F10, DIK_F10},
    {VK_F11, DIK_F11},
    {VK_F12, DIK_F12},
    // The Japanese layout's punctuation keys.
    {0xBB, 0x27},
    {0xBA, 0x92},
    {0xDB, 0x1A},
    {0xDD, 0x1B},
    {0xC0, 0x91},
    {0xE2, 0x2B},
    {0xBC, 0x33},
    {0xDE, 0x90},
    {0xBD, 0x0C},
    {0xDC, 0x7D},
    {0xBE, 0x34},
    {0xBF, 0x35},
};

// Pad 1's keys, two per bit: bits 0..3 the directions (numeric pad, arrows), then Z X C A S D Q W Escape Space.
static const int s_DefaultKeys[][2] = {
    {DIK_NUMPAD2, DIK_DOWN},
    {DIK_NUMPAD4, DIK_LEFT},
    {DIK_NUMPAD6, DIK_RIGHT},
    {DIK_NUMPAD8, DIK_UP},
    {DIK_Z, -1},
    {DIK_X, -1},
    {DIK_C, -1},
    {DIK_A, -1},
    {DIK_S, -1},
    {DIK_D, -1},
    {DIK_Q, -1},
    {DIK_W, -1},
    {DIK_ESCAPE, -1},
    {DIK_SPACE, -1},
};

static int s_KeyboardUpdating;
static int s_LastWindowsReadTime;

int BuildDefaultKeyMap(void)
{
    InputSettings *settings = &g_InputState.settings;
    for (int pad = 0; pad < PAD_LIMIT; pad++) {
        for (int bit = 0; bit < PAD_BIT_COUNT; bit++) {
            int *slots = settings->keyMap[pad][bit];
            slots[0] = slots[1] = -1;
            slots[2] = slots[3] = 0; // key code 0 is never down
        }
    }
    for (int bit = 0; bit < (int)(sizeof(s_DefaultKeys) / sizeof(s_DefaultKeys[0])); bit++) {
        settings->keyMap[0][bit][0] = s_DefaultKeys[bit][0];
        settings->keyMap[0][bit][1] = s_DefaultKeys[bit][1];
    }
    settings->keyMapBuilt = 1;
    return 0;
}

// Input is read only by the caller holding the engine call lock, or by the window thread while nobody holds it:
// reading pumps the window's messages, which no other thread may do. Others are answered 0.
static int MayReadInput(void)
{
    DWORD self = GetCurrentThreadId();
    DWORD owner = GetEngineLockOwner();
    if (owner == self) {
        return 1;
    }
    HWND window = GetAppWindowHandle();
    DWORD windowThread = window != NULL ? GetWindowThreadProcessId(window, NULL) : self;
    return owner == 0 && windowThread == self;
}

// A query between pump calls handles the window's messages first; the pump's own refresh does not pump again
// (that would handle more than its five messages).
static int PumpBeforeRead(void)
{
    return IsMessagePumpRunning() ? 0 : ProcessMessageCore();
}

static int UsesWindowsKeyboard(void)
{
    return !HasDirectInput() || g_InputState.settings.keyboardOff || g_InputState.keyboard == NULL ||
           (!g_InputState.settings.newSystemKeyboard && g_SystemInformation.windowsVersionId > 0x107);
}

static int ReadWindowsKeyboard(void)
{
    int now = GetNowMilliCount();
    if (!MayReadInput() || now == s_LastWindowsReadTime) {
        return 0;
    }
    s_LastWindowsReadTime = now;
    if (PumpBeforeRead() != 0) {
        return 0;
    }
    BYTE state[256];
    GetKeyboardState(state);
    MemFill(g_InputState.keys, 0, sizeof(g_InputState.keys));
    for (const VirtualKeyRow &row : s_VirtualKeyTable) {
        g_InputState.keys[row.keyCode] = state[row.virtualKey];
    }
    static const int buttonKeys[3] = {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON};
    for (int i = 0; i < 3; i++) {
        g_InputState.mouseButtons[i] = (state[buttonKeys[i]] & 0x80) ? 1 : 0;
    }
    g_InputState.mouseButtonsFilled = 1;
    return 1;
}

static int ReadDirectInputKeyboard(void)
{
    int now = GetNowMilliCount();
    HANDLE event = g_InputState.keyboardEvent;
    int signalled = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    if (now == g_InputState.keyboardReadTime && !signalled) {
        return 0;
    }
    if (PumpBeforeRead() != 0 || !HasDirectInput() || g_InputState.keyboard == NULL) {
        return 0;
    }
    IDirectInputDevice7A *keyboard = g_InputState.keyboard;
    if (FAILED(keyboard->GetDeviceState(KEY_TABLE_SIZE, g_InputState.keys))) {
        keyboard->Acquire();
        if (FAILED(keyboard->GetDeviceState(KEY_TABLE_SIZE, g_InputState.keys))) {
            return 0;
        }
    }
    g_InputState.keyboardReadTime = now;
    if (signalled) {
        ResetEvent(event);
    }
    // The DirectInput keyboard misses the right Shift that the Windows state has.
    BYTE state[256];
    GetKeyboardState(state);
    g_InputState.keys[DIK_RSHIFT] = state[VK_RSHIFT];
    return 1;
}

int UpdateKeyboardState(void)
{
    if (s_KeyboardUpdating || g_InputState.directInput == NULL) {
        return 0;
    }
    s_KeyboardUpdating = 1;
    int updated = UsesWindowsKeyboard() ? ReadWindowsKeyboard() : ReadDirectInputKeyboard();
    s_KeyboardUpdating = 0;
    return updated;
}

// Every query's start: wait out an inactive window, and start input on first use. 1 when the query may read.
// Before the engine has started (or after its end) there is no window to start input on: the query answers 0.
int PrepareInputQuery(void)
{
    if ((!IsEngineInitialised() && !IsEngineStarting()) || !MayReadInput()) {
        return 0;
    }
    WaitWhileInactive();
    if (g_InputState.directInput == NULL) {
        if (!GetCloseRequestedFlag()) {
            InitializeInput();
        }
        return 0;
    }
    return 1;
}

int IsKeyDown(int keyCode)
{
    if (!PrepareInputQuery()) {
        return 0;
    }
    UpdateKeyboardState();
    return keyCode >= 0 && keyCode < KEY_TABLE_SIZE && (g_InputState.keys[keyCode] & 0x80) ? 1 : 0;
}

static unsigned int ReadJoypadBits(int pad)
{
    UpdateJoypadState(pad);
    const DIJOYSTATE *state = &g_InputState.pads[pad].state;
    unsigned int bits = (state->lY > 0 ? 0x01 : 0) | (state->lX < 0 ? 0x02 : 0) | (state->lX > 0 ? 0x04 : 0) |
                        (state->lY < 0 ? 0x08 : 0);
    for (int i = 0; i < 24; i++) {
        if (state->rgbButtons[i] & 0x80) {
            bits |= 0x10u << i;
        }
    }
    return bits;
}

// Pads beyond the key map's 16 have no keys.
static unsigned int ReadKeyMapBits(int pad)
{
    UpdateKeyboardState();
    if (pad >= PAD_LIMIT) {
        return 0;
    }
    unsigned int bits = 0;
    const int(*map)[KEY_SLOT_COUNT] = g_InputState.settings.keyMap[pad < 0 ? 0 : pad];
    for (int bit = 0; bit < PAD_BIT_COUNT; bit++) {
        for (int slot = 0; slot < KEY_SLOT_COUNT; slot++) {
            int code = map[bit][slot];
            if (code >= 0 && code < KEY_TABLE_SIZE && (g_InputState.keys[code] & 0x80)) {
                bits |= 1u << bit;
            }
        }
    }
    return bits;
}

unsigned int GetPadInput(int padNumber)
{
    if (!PrepareInputQuery()) {
        return 0;
    }
    int withKeys = (padNumber & PAD_KEY_FLAG) != 0;
    int pad = (padNumber & ~PAD_KEY_FLAG) - 1;
    int padCount = g_InputState.padCount;
    if ((pad < -1 || pad >= padCount) && padCount != 0 && !withKeys) {
        return 0;
    }
    unsigned int bits = pad >= 0 && pad < padCount ? ReadJoypadBits(pad) : 0;
    return withKeys ? bits | ReadKeyMapBits(pad) : bits;
}
