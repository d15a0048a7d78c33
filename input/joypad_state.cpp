// Joypad reads and vibration: the DirectInput joystick state or the winmm position scaled to -1000..1000, the
// vibration clock the pump advances and the effects started and stopped to match it. Window thread only.
#include "input/input_internal.h"

#define WINMM_AXIS_FULL 65535
#define WINMM_DEAD_LOW 16384
#define WINMM_DEAD_HIGH 49152
#define WINMM_AXIS_SPAN 16384
#define SINE_POWER_THRESHOLD 5000
#define FULL_POWER 10000

typedef MMRESULT(WINAPI *JoyGetPosExFunction)(UINT, JOYINFOEX *);

int ScaleJoystickAxis(unsigned int value)
{
    if (value >= WINMM_AXIS_FULL) {
        return 1000; // full deflection: the formula below would stop one short
    }
    if (value < WINMM_DEAD_LOW) {
        return ((int)value - WINMM_DEAD_LOW) * 1000 / WINMM_AXIS_SPAN;
    }
    if (value > WINMM_DEAD_HIGH) {
        return ((int)value - WINMM_DEAD_HIGH) * 1000 / WINMM_AXIS_SPAN;
    }
    return 0;
}

static int ReadWinmmJoypad(int pad)
{
    JoypadRecord *record = &g_InputState.pads[pad];
    int now = GetNowMilliCount();
    if (now == record->lastReadTime) {
        return 0;
    }
    record->lastReadTime = now;
    JoyGetPosExFunction getPosition =
        (JoyGetPosExFunction)(void (*)(void))GetBoundEntry(BOUND_WINMM, WINMM_JOY_GET_POS_EX);
    JOYINFOEX info;
    MemFill(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    info.dwFlags = JOY_RETURNALL;
    DIJOYSTATE *state = &record->state;
    MemFill(state, 0, sizeof(*state));
    if (getPosition == NULL || getPosition(pad, &info) != JOYERR_NOERROR) {
        return 0;
    }
    state->lX = ScaleJoystickAxis(info.dwXpos);
    state->lY = ScaleJoystickAxis(info.dwYpos);
    if (record->hasZAndR) {
        state->lZ = ScaleJoystickAxis(info.dwZpos);
        state->lRz = ScaleJoystickAxis(info.dwRpos);
    }
    for (int i = 0; i < 24; i++) {
        state->rgbButtons[i] = (info.dwButtons & (1u << i)) ? 0x80 : 0;
    }
    return 0;
}

// A lost device is acquired again once, with the window's messages handled around it.
static int ReadDirectInputJoypad(JoypadRecord *record)
{
    int now = GetNowMilliCount();
    int signalled = WaitForSingleObject(record->event, 0) == WAIT_OBJECT_0;
    if (now == record->lastReadTime && !signalled) {
        return 0;
    }
    record->lastReadTime = now;
    DIJOYSTATE state;
    record->device->Poll();
    if (FAILED(record->device->GetDeviceState(sizeof(state), &state))) {
        if (ProcessMessageCore() != 0 || !HasDirectInput() || record->device == NULL) {
            return -1;
        }
        if (FAILED(record->device->Acquire()) || ProcessMessageCore() != 0 || record->device == NULL ||
            FAILED(record->device->GetDeviceState(sizeof(state), &state))) {
            return -1;
        }
    }
    record->state = state;
    if (signalled) {
        ResetEvent(record->event);
    }
    return 0;
}

int UpdateJoypadState(int pad)
{
    if (pad < 0 || pad >= PAD_LIMIT) {
        return -1;
    }
    if (!HasDirectInput()) {
        return ReadWinmmJoypad(pad);
    }
    JoypadRecord *record = &g_InputState.pads[pad];
    return record->device != NULL ? ReadDirectInputJoypad(record) : -1;
}

int StopJoypadVibration(int padNumber)
{
    if (!PrepareInputQuery()) {
        return 0;
    }
    int pad = (padNumber & ~PAD_KEY_FLAG) - 1;
    if (pad < 0 || pad >= g_InputState.padCount) {
        return 0;
    }
    JoypadRecord *record = &g_InputState.pads[pad];
    if (record->device != NULL && record->constantEffect != NULL && record->vibrationOn) {
        record->vibrationOn = 0;
        record->vibrationPower = FULL_POWER;
        ApplyJoypadVibration();
    }
    return 0;
}

int UpdateJoypadVibrationTime(void)
{
    if (!HasDirectInput()) {
        return 0;
    }
    for (int i = 0; i < g_InputState.padCount; i++) {
        JoypadRecord *record = &g_InputState.pads[i];
        if (record->device == NULL || !record->vibrationOn || record->vibrationDuration < 0) {
            continue;
        }
        int now = GetNowMilliCount();
        if (now > record->vibrationLastTime) {
            record->vibrationElapsed += now - record->vibrationLastTime;
        }
        record->vibrationLastTime = now;
        if (record->vibrationElapsed >= record->vibrationDuration) {
            StopJoypadVibration(i + 1);
        }
    }
    return ApplyJoypadVibration();
}

// Starts or stops one effect when its running flag differs from what is wanted.
static void MatchEffect(IDirectInputEffect *effect, int wanted, int *running)
{
    if (effect == NULL || wanted == *running) {
        return;
    }
    if (wanted) {
        effect->Start(1, 0);
    } else {
        effect->Stop();
    }
    *running = wanted;
}

int ApplyJoypadVibration(void)
{
    if (!HasDirectInput()) {
        return 0;
    }
    int active = IsWindowActive();
    for (int i = 0; i < g_InputState.padCount; i++) {
        JoypadRecord *record = &g_InputState.pads[i];
        if (record->device == NULL) {
            continue;
        }
        int on = active && record->vibrationOn;
        MatchEffect(record->constantEffect, on, &record->constantRunning);
        MatchEffect(record->sineEffect, on && record->vibrationPower > SINE_POWER_THRESHOLD, &record->sineRunning);
    }
    return 0;
}
