// The message pump: at most five window messages per call, the per-pass upkeep other subsystems need on the
// window thread (activation changes, sound refill on one-processor machines, MIDI, keyboard, pad vibration,
// network, text entry), and the hold while the window is inactive. Window thread; the public entry runs under the
// engine call lock.
#include "core/window_state.h"

#include "graphics/graphics.h"
#include "input/input.h"
#include "media/media.h"
#include "network/network.h"
#include "sound/sound.h"

#define PUMP_MESSAGE_LIMIT 5
#define PUMP_EXTRA_WINDOW_LIMIT 64

static int s_TextInputRunning;
static HWND s_DialogWindow;
static HACCEL s_AcceleratorTable;
static HWND s_ExtraWindows[PUMP_EXTRA_WINDOW_LIMIT]; // also dispatched, one message each after every message
static int s_ExtraWindowCount;
static LONG s_PumpPassCount; // every pass begun, whichever thread runs it

int SetPumpDialogWindow(HWND dialog)
{
    s_DialogWindow = dialog;
    return 0;
}

int SetPumpAcceleratorTable(HACCEL table)
{
    s_AcceleratorTable = table;
    return 0;
}

int AddPumpExtraWindow(HWND window)
{
    if (window == NULL || s_ExtraWindowCount >= PUMP_EXTRA_WINDOW_LIMIT) {
        return -1;
    }
    s_ExtraWindows[s_ExtraWindowCount++] = window;
    return 0;
}

int RemovePumpExtraWindow(HWND window)
{
    for (int i = 0; i < s_ExtraWindowCount; i++) {
        if (s_ExtraWindows[i] == window) {
            s_ExtraWindows[i] = s_ExtraWindows[--s_ExtraWindowCount];
            return 0;
        }
    }
    return -1;
}

// Once the cursor lies inside the client area of the active window it stays there until the deactivation.
static void ClipCursorToClientArea(void)
{
    if (!g_WindowSettings.clipCursor || g_Window.cursorClipped || !g_WindowSettings.windowed || !g_Window.active ||
        g_Window.minimised || g_Window.mainWindow == NULL) {
        return;
    }
    POINT point;
    GetCursorPos(&point);
    const RECT *client = &g_Window.clientRect;
    if (client->left < point.x && point.x <= client->right && client->top < point.y && point.y <= client->bottom) {
        ClipCursor(client);
        g_Window.cursorClipped = 1;
    }
}

static void DispatchOne(MSG *message)
{
    if (s_AcceleratorTable == NULL || !TranslateAcceleratorA(g_Window.mainWindow, s_AcceleratorTable, message)) {
        TranslateMessage(message);
        DispatchMessageA(message);
    }
}

// One pending message of the modeless dialog, given to the dialog's own handling (or dispatched when it declines).
static void PassOneDialogMessage(void)
{
    MSG message;
    if (s_DialogWindow != NULL && PeekMessageA(&message, s_DialogWindow, 0, 0, PM_REMOVE) &&
        !IsDialogMessageA(s_DialogWindow, &message)) {
        DispatchOne(&message);
    }
}

// One pending message of each extra window; these do not count towards the call's five.
static void PassOneExtraWindowMessageEach(void)
{
    for (int i = 0; i < s_ExtraWindowCount; i++) {
        MSG message;
        if (PeekMessageA(&message, s_ExtraWindows[i], 0, 0, PM_REMOVE)) {
            DispatchOne(&message);
        }
    }
}

static int IsHeldInactive(void)
{
    return (!g_Window.active || g_Window.minimised) && !g_WindowSettings.runInBackground;
}

static int CanLeaveLoop(int passDone)
{
    int mayLeave = (g_Window.active && !g_Window.minimised) || g_WindowSettings.runInBackground ||
                   g_Window.activationCount > 0 || g_Window.closePosted;
    return mayLeave && (passDone || g_Window.quit);
}

static void RefillSoundOnThisThread(void)
{
    if (g_SystemInformation.processorCount < 2) {
        ProcessAllStreamSounds();
        RefillAllSoftSoundPlayers();
    }
}

static int TakeOneMessage(MSG *message)
{
    if (PeekMessageA(message, NULL, 0, 0, PM_NOREMOVE)) {
        return PeekMessageA(message, NULL, 0, 0, PM_REMOVE);
    }
    if (PeekMessageA(message, (HWND)-1, 0, 0, PM_REMOVE)) {
        return 1;
    }
    return PeekMessageA(message, g_Window.mainWindow, 0, 0, PM_REMOVE);
}

// One pass over the queue, until it is empty or this call has handled its five messages. Returns -1 when a
// message arrives after the quit flag was set, 1 when the five are handled: either way the loop ends there, even
// while the window is inactive (a pass that could take no message could never see the reactivation).
static int HandleMessages(int *handled)
{
    MSG message;
    while (TakeOneMessage(&message)) {
        if (s_DialogWindow != NULL && IsDialogMessageA(s_DialogWindow, &message)) {
            // taken by the dialog
        } else {
            if (message.message == WM_ACTIVATEAPP && g_WindowSettings.windowed) {
                g_Window.active = message.wParam != 0;
            }
            if (g_Window.quit) {
                UpdateMenuAutoShow();
                return -1;
            }
            if (message.message == WM_QUIT) {
                g_Window.quit = 1;
            } else {
                DispatchOne(&message);
            }
        }
        PassOneDialogMessage();
        PassOneExtraWindowMessageEach();
        if (++*handled >= PUMP_MESSAGE_LIMIT) {
            return 1;
        }
    }
    return 0;
}

// Returns -1 when it left because a message came after the quit flag was set (the menu's automatic show is then
// already updated), else 0.
static int RunMessageLoop(void)
{
    int handled = 0;
    int passDone = 0;
    while (!CanLeaveLoop(passDone)) {
        if (IsHeldInactive()) {
            Sleep(1);
            if (g_Window.paintPending && IsPartialPaintDue()) {
                CopyScreenAndFlip();
                g_Window.paintPending = 0;
            }
        }
        int handling = HandleMessages(&handled);
        if (handling < 0) {
            return -1;
        }
        if (handling > 0) {
            return 0;
        }
        passDone = 1;
        if (IsHeldInactive()) {
            ProcessNetworkMessages(1);
            RefillSoundOnThisThread();
            DrawAllWindowMovies();
            Sleep(24);
        }
        if (g_Window.quit || GetCurrentThreadId() != g_Window.windowThreadId) {
            return 0;
        }
    }
    return 0;
}

static void HandleQueuedActivations(void)
{
    while (g_Window.activationCount > 0) {
        WPARAM wParam = (WPARAM)g_Window.activationRing[g_Window.activationRead];
        g_Window.activationRead = (g_Window.activationRead + 1) % ACTIVATION_RING_SIZE;
        g_Window.activationCount--;
        OnWindowActivation(wParam);
    }
}

static void PerformRequestedModeSwitch(void)
{
    if (g_Window.modeSwitchRequested && g_WindowSettings.altEnterAllowed &&
        GetCurrentThreadId() == g_Window.windowThreadId) {
        g_Window.modeSwitchRequested = 0;
        ChangeWindowMode(!g_WindowSettings.windowed);
        if (g_WindowSettings.modeChangeCallback != NULL) {
            g_WindowSettings.modeChangeCallback(g_WindowSettings.modeChangeCallbackData);
        }
    }
}

int ProcessMessageCore(void)
{
    InterlockedIncrement(&s_PumpPassCount);
    if (s_TextInputRunning) {
        return 0;
    }
    g_Window.pumpRunning = 1;
    ClipCursorToClientArea();
    // Window-less mode has only the upkeep; a caller's window has its own message loop.
    if (!g_WindowSettings.windowless) {
        if (g_Window.mainWindow == NULL) {
            g_Window.pumpRunning = 0;
            return g_Window.quit ? -1 : 0;
        }
        if (!IS_USER_WINDOW_MODE()) {
            PerformRequestedModeSwitch();
            if (RunMessageLoop() == 0 && GetCurrentThreadId() == g_Window.windowThreadId) {
                UpdateMenuAutoShow();
            }
        }
        HandleQueuedActivations();
    }

    RefillSoundOnThisThread();
    RefreshMidiPlayState();
    UpdateKeyboardState();
    UpdateJoypadVibrationTime();
    ProcessNetworkMessages(1);
    s_TextInputRunning = 1;
    ProcessKeyInputChars();
    s_TextInputRunning = 0;

    g_Window.pumpRunning = 0;
    return g_Window.quit ? -1 : 0;
}

int IsMessagePumpRunning(void)
{
    return g_Window.pumpRunning;
}

int ProcessWindowMessages(void)
{
    EnterEngineLock();
    int result = ProcessMessageCore();
    LeaveEngineLock();
    return result;
}

void WaitWhileInactive(void)
{
    // Without a main window (before start-up or after the end) there is no activation to wait for.
    if (g_Window.mainWindow == NULL || g_Window.painting || (g_Window.active && !g_Window.minimised) ||
        IS_USER_WINDOW_MODE() || g_WindowSettings.windowless ||
        (g_WindowSettings.windowed && g_WindowSettings.runInBackground)) {
        return;
    }
    while (ProcessMessageCore() == 0 && !(g_Window.active && !g_Window.minimised)) {
    }
}

int GetPumpPassCount(void)
{
    return (int)s_PumpPassCount;
}
