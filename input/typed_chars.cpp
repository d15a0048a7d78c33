// Typed characters and the IME: characters come out of the typed-character ring one at a time, a double-byte
// character as one unit; the switch turns the IME on or off for the main window and forgets the composition when
// it goes off; the reset steps and the composition cut act on the main window's IME context for text entry.
// Window thread only.
#include "input/input_internal.h"

#include "font/font.h"
#include "input/input_test_hooks.h"

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

// ---------------------------------------------------------------------------------------------------------------
// The IME context of the main window, for text entry.

#define IME_TEXT_SIZE 1024
#define IMM_ENTRY(type, index) ((type)(void (*)(void))GetBoundEntry(BOUND_IMM32, index))
typedef BOOL(WINAPI *ImmNotifyImeFunction)(HIMC, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI *ImmSetOpenStatusFunction)(HIMC, BOOL);
typedef BOOL(WINAPI *ImmSetCompositionStringFunction)(HIMC, DWORD, LPVOID, DWORD, LPVOID, DWORD);

// 0 = idle, else the first of the steps 1 to 4 the next pass runs. Nothing in the engine starts a reset.
static int s_ImeResetStep;
// The composition saved by step 1 and given back by step 4.
static char s_ImeResetText[IME_TEXT_SIZE];

static void ReadComposition(HIMC context, char *text, int size)
{
    ImmGetCompositionStringFunction getString = IMM_ENTRY(ImmGetCompositionStringFunction, IMM_GET_COMPOSITION_STRING);
    if (getString == NULL) {
        text[0] = '\0';
        return;
    }
    ReadImeString(getString, context, GCS_COMPSTR, text, size);
}

static void CancelComposition(HIMC context)
{
    ImmNotifyImeFunction notify = IMM_ENTRY(ImmNotifyImeFunction, IMM_NOTIFY_IME);
    if (notify != NULL) {
        notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
    }
}

static void SetOpenStatus(HIMC context, BOOL open)
{
    ImmSetOpenStatusFunction setOpen = IMM_ENTRY(ImmSetOpenStatusFunction, IMM_SET_OPEN_STATUS);
    if (setOpen != NULL) {
        setOpen(context, open);
    }
}

static void SetComposition(HIMC context, char *text)
{
    ImmSetCompositionStringFunction setString = IMM_ENTRY(ImmSetCompositionStringFunction, IMM_SET_COMPOSITION_STRING);
    if (setString != NULL) {
        setString(context, SCS_SETSTR, text, (DWORD)lstrlenA(text), NULL, 0);
    }
}

// One step of the reset with the context opened for it and released after it (a step without a context does
// nothing but still counts).
static void RunImeResetStep(int step)
{
    HWND window = GetAppWindowHandle();
    if (step == 1) {
        ClearImeCompositionText();
        MemFill(s_ImeResetText, 0, sizeof(s_ImeResetText));
    }
    HIMC context = OpenImeContext(window);
    if (context == NULL) {
        return;
    }
    switch (step) {
    case 1:
        ReadComposition(context, s_ImeResetText, sizeof(s_ImeResetText));
        CancelComposition(context);
        break;
    case 2:
    case 3:
        SetOpenStatus(context, step == 3);
        break;
    case 4:
        SetOpenStatus(context, TRUE);
        SetComposition(context, s_ImeResetText);
        break;
    }
    CloseImeContext(window, context);
}

// The steps from the counter's on to the fourth, all in one pass; then the counter is idle again.
int RunImeResetSteps(void)
{
    for (int step = s_ImeResetStep; step >= 1 && step <= 4; step++) {
        RunImeResetStep(step);
    }
    s_ImeResetStep = 0;
    return 0;
}

void SetImeResetStepForTest(int step)
{
    s_ImeResetStep = step;
}

int CutImeComposition(int room)
{
    HWND window = GetAppWindowHandle();
    HIMC context = OpenImeContext(window);
    if (context == NULL) {
        return -1;
    }
    char text[IME_TEXT_SIZE];
    ReadComposition(context, text, sizeof(text));
    int length = lstrlenA(text), cut = 0;
    while (cut < length) {
        int size =
            cut + 1 < length && IsMultiByteLeadByte((const unsigned char *)text + cut, GetEngineCharSet()) ? 2 : 1;
        if (cut + size > room) {
            break;
        }
        cut += size;
    }
    text[cut] = '\0';
    CancelComposition(context);
    SetComposition(context, text);
    CloseImeContext(window, context);
    return 0;
}
