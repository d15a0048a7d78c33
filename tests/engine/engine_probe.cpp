// A program the end-to-end engine checks run in ways a test program cannot be: ended by a fatal error from
// another thread, from the window thread or in the middle of start-up; reading the screen saver switch that an
// earlier run left; holding a window of the engine's class as another copy of the program would; and ending
// while that other copy's window lies above its own.
// Usage: engine_probe MODE   (fatal-thread | fatal-main | fatal-start | screen-saver | hold-window |
// beside-other-copy). A fatal exit ends with -1; screen-saver with 10 (on) or 11 (off); beside-other-copy with 20
// when its own window and class are gone at the end, else 21; anything else with 1.
#include <string.h>

#include "core/core.h"

#define PROBE_TITLE "QvEngineProbe"

static DWORD WINAPI FailOnWorkerThread(LPVOID)
{
    FatalErrorExit("別スレッドからの致命的エラー");
    return 0;
}

static LRESULT FailOnCreate(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CREATE) {
        FatalErrorExit("起動中の致命的エラー");
    }
    return 0;
}

static int ScreenSaverState(void)
{
    BOOL active = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return active ? 10 : 11;
}

// Another copy's window: topmost, so that a look-up by class name finds it first. Held until the file "release"
// appears in the current folder (60 s at most); the file "holding" tells that it is up.
static int HoldWindow(void)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = PROBE_TITLE;
    RegisterClassA(&windowClass);
    CreateWindowExA(WS_EX_TOPMOST, PROBE_TITLE, "other copy", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL,
                    GetModuleHandleA(NULL), NULL);
    CloseHandle(CreateFileA("holding", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    for (int i = 0; i < 6000 && GetFileAttributesA("release") == INVALID_FILE_ATTRIBUTES; i++) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
    return 1;
}

// Ends after a quit message came before the close, so that its window is still alive when the end looks for it.
static int EndBesideOtherCopy(void)
{
    HWND own = GetAppWindowHandle();
    PostQuitMessage(0);
    ProcessWindowMessages();
    EndEngine();
    WNDCLASSEXA info = {};
    info.cbSize = sizeof(info);
    int classGone = !GetClassInfoExA(GetModuleHandleA(NULL), PROBE_TITLE, &info);
    return !IsWindow(own) && classGone ? 20 : 21;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    if (strcmp(commandLine, "screen-saver") == 0) {
        return ScreenSaverState();
    }
    if (strcmp(commandLine, "hold-window") == 0) {
        return HoldWindow();
    }
    SetMainWindowTitle(PROBE_TITLE);
    ChangeWindowMode(1);
    if (strcmp(commandLine, "fatal-start") == 0) {
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, NULL, SPIF_SENDCHANGE);
        SetWindowMessageHook(FailOnCreate);
    }
    SetAllowMultipleInstances(strcmp(commandLine, "beside-other-copy") == 0);
    if (InitEngine() != 0) {
        return 1;
    }
    if (strcmp(commandLine, "beside-other-copy") == 0) {
        return EndBesideOtherCopy();
    }
    if (strcmp(commandLine, "fatal-main") == 0) {
        FatalErrorExit("ウインドウスレッドでの致命的エラー");
    }
    if (strcmp(commandLine, "fatal-thread") == 0) {
        // The window thread waits for the failing thread, as it would wait for the sound lock.
        HANDLE thread = CreateThread(NULL, 0, FailOnWorkerThread, NULL, 0, NULL);
        WaitForSingleObject(thread, INFINITE);
    }
    EndEngine();
    return 1;
}
