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

static int s_TextInputRunning;

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
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
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
            if (!g_Window.wasInactive) {
                g_Window.inactiveStartTime = GetNowMilliCount();
                g_Window.wasInactive = 1;
            }
            Sleep(1);
            if (g_Window.paintPending && GetNowMilliCount() - g_Window.lastPresentTime > 64) {
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
    if (s_TextInputRunning) {
        return 0;
    }
    g_Window.pumpRunning = 1;
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

int ProcessWindowMessages(void)
{
    EnterEngineLock();
    int result = ProcessMessageCore();
    LeaveEngineLock();
    return result;
}

void WaitWhileInactive(void)
{
    if (g_Window.painting || (g_Window.active && !g_Window.minimised) || IS_USER_WINDOW_MODE() ||
        g_WindowSettings.windowless || (g_WindowSettings.windowed && g_WindowSettings.runInBackground)) {
        return;
    }
    g_Window.inactiveStartTime = GetNowMilliCount();
    g_Window.wasInactive = 1;
    while (ProcessMessageCore() == 0 && !(g_Window.active && !g_Window.minimised)) {
    }
}
