// Typed characters and the IME switch: characters come out of the typed-character ring one at a time, a
// double-byte character as one unit; the switch turns the IME on or off for the main window and forgets the
// composition when it goes off. Window thread only.
#include "input/input.h"

#include "font/font.h"

// "WINNLSEnableIME", the one entry bound from User32.
typedef BOOL(WINAPI *WinnlsEnableImeFunction)(HWND, BOOL);
#define USER32_WINNLS_ENABLE_IME 0

static int StepRingIndex(int index, int step)
{
    return (index + step + INPUT_CHAR_RING_SLOTS) % INPUT_CHAR_RING_SLOTS;
}

int GetInputChar(char *out, int take)
{
    InputCharRing *ring = GetInputCharRing();
    out[0] = 0;
    out[1] = 0;
    if (ring->readIndex == ring->writeIndex) {
        return 0;
    }
    unsigned char first = ring->bytes[ring->readIndex];
    int size = 1;
    if (!IsKeyInTable(first) && IsMultiByteLeadByte(&first, GetEngineCharSet())) {
        int second = StepRingIndex(ring->readIndex, 1);
        if (second == ring->writeIndex) {
            return 0; // the second byte has not arrived: the lead byte stays
        }
        out[1] = (char)ring->bytes[second];
        size = 2;
    }
    out[0] = (char)first;
    if (take) {
        ring->readIndex = StepRingIndex(ring->readIndex, size);
    }
    return size;
}

int SetIMEEnable(int flag)
{
    if (flag == GetImeEnableFlag()) {
        return 0;
    }
    FARPROC entry = GetBoundEntry(BOUND_USER32, USER32_WINNLS_ENABLE_IME);
    if (entry != NULL) {
        ((WinnlsEnableImeFunction)(void (*)(void))entry)(GetAppWindowHandle(), flag);
    }
    SetImeEnableFlag(flag);
    if (flag == 0) {
        ClearImeComposition();
    }
    return 0;
}
