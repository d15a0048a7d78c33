// Internal to input/: the one input state block shared by start-up, the joypads and the pad queries. Window
// thread only (the queries refuse other threads before they touch it).
#pragma once

#include "input/input.h"

// Both interface versions are used (8 is the fall-back when 7 cannot be made); the project builds for version 7.
#undef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>
#include <mmsystem.h>

#define PAD_LIMIT 16
#define PAD_BIT_COUNT 32
#define KEY_SLOT_COUNT 4
#define KEY_TABLE_SIZE 256
#define NO_DIRECTINPUT_OBJECT ((IUnknown *)(intptr_t)-1) // input started without DirectInput
#define DEVICE_NAME_SIZE 260

struct JoypadRecord {
    IDirectInputDevice7A *device;
    IDirectInputEffect *constantEffect;
    IDirectInputEffect *sineEffect;
    HANDLE event;
    DIJOYSTATE state;
    int hasZAndR; // winmm path
    int lastReadTime;
    int vibrationOn, vibrationPower, vibrationDuration, vibrationElapsed, vibrationLastTime;
    int constantRunning, sineRunning;
    char instanceName[DEVICE_NAME_SIZE];
    char productName[DEVICE_NAME_SIZE];
};

// Settings and the key map survive a restart of input; everything else is cleared by it.
struct InputSettings {
    int noDirectInput;
    int forceFeedbackOff;
    int newSystemKeyboard;
    int keyboardOff;
    int keyMapBuilt;
    int keyMap[PAD_LIMIT][PAD_BIT_COUNT][KEY_SLOT_COUNT];
};

struct InputState {
    InputSettings settings;
    IUnknown *directInput; // null = not started; NO_DIRECTINPUT_OBJECT = started without DirectInput
    int directInput8;
    IDirectInputDevice7A *mouse;
    IDirectInputDevice7A *keyboard;
    HANDLE keyboardEvent;
    int keyboardReadTime;
    unsigned char keys[KEY_TABLE_SIZE];
    unsigned char mouseButtons[3];
    int mouseButtonsFilled;
    int padCount;
    JoypadRecord pads[PAD_LIMIT];
    int initialising;
};

extern InputState g_InputState;

// The DirectInput object as the interface of its version: both share the method order this engine uses.
static inline IDirectInput7A *DirectInputObject(void)
{
    return (IDirectInput7A *)g_InputState.directInput;
}
static inline int HasDirectInput(void)
{
    return g_InputState.directInput != NULL && g_InputState.directInput != NO_DIRECTINPUT_OBJECT;
}

// Makes a device of the object's version: DirectInput 8 through CreateDevice, 7 through CreateDeviceEx.
HRESULT CreateInputDevice(REFGUID guid, IDirectInputDevice7A **device);
void ReleaseInputDevice(IDirectInputDevice7A **device);

int SetupJoypads(void);
int ReleaseJoypads(void);
int BuildDefaultKeyMap(void);
int StopJoypadVibration(int padNumber);
int UpdateJoypadState(int pad);
// Every query's start (pad_input.cpp): 1 when it may read the devices.
int PrepareInputQuery(void);
// A winmm axis position 0..65,535 as -1000..1000 with the dead zone in the middle.
int ScaleJoystickAxis(unsigned int value);

// The text-entry side of the IME (typed_chars.cpp), run by the key-input pass: the reset steps from the counter's
// on (the counter then idle), and the composition cut to room bytes at a character boundary and set again.
int RunImeResetSteps(void);
int CutImeComposition(int room);
