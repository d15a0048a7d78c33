// Input: keyboard, mouse and joypads, the pad bit set and its key map, typed characters and text entry.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Text entry

// One text-entry field of the key-input table.
struct KeyInputRecord {
    uint32_t used;
    uint32_t checkNumber;
    uint32_t ended;         // Enter or Escape seen
    uint32_t cancelled;     // Escape
    int32_t length;         // bytes
    int32_t maxLength;      // bytes
    int32_t selectionStart; // -1 = no selection
    int32_t selectionEnd;
    uint32_t displayStart; // first byte shown; the editing itself does not read it
    int32_t cursor;        // byte index
    char *text;            // owned; freed on delete
    uint32_t cancelAllowed;
    uint32_t singleByteOnly;
    uint32_t numbersOnly;
};

// Typed characters: 0 when nothing (or only a double-byte character's lead byte) has arrived, 1 for a single-byte
// character or navigation code in out[0], 2 for a double-byte character in out[0..1]. Take 0 only peeks.
int GetInputChar(char *out, int take);
// The IME on or off for the main window; off forgets the composition and the candidate list.
int SetIMEEnable(int flag);
int DeleteKeyInputHandle(EngineHandle handle);
// Engine start-up: the ring, the IME copy and the key-input table reset (no active field, blink period 500 ms).
int InitCharCodeBuffer(void);
// Every pump pass: a pending IME reset, then the active field's composition limit and editing; -1 for an active
// handle that is not valid.
int ProcessKeyInputChars(void);
// Engine end: every field deleted and the shared input buffer freed.
int DeleteAllKeyInputHandles(void);

// ---------------------------------------------------------------------------------------------------------------
// Input start-up and end, and the per-pass upkeep the message pump runs.

int InitializeInput(void);
int TerminateInput(void);
int ReacquireInputDevices(void);
int RaiseWindowMessageFlagA(void);
int ClearWindowMessageFlagA(void);
int RaiseWindowMessageFlagB(void);
int ClearWindowMessageFlagB(void);
int UpdateKeyboardState(void);

// Pad and key queries (window thread; before the first one input is started and 0 answered). The pad number
// counts from 1; plus PAD_KEY_FLAG (0x1000) merges the key map's keys. Key codes are DirectInput's.
#define PAD_KEY_FLAG 0x1000
unsigned int GetPadInput(int padNumber);
int IsKeyDown(int keyCode);
int ApplyJoypadVibration(void);
int UpdateJoypadVibrationTime(void);
