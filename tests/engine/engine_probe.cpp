// A program check_fatal_exits.py runs in ways a test program cannot be. Usage: engine_probe MODE: fatal-thread,
// fatal-main, fatal-start (exit -1); screen-saver (10 when on, 11 off); hold-window (another copy's window until
// the file "release" appears); beside-other-copy (20 when its own window and class are gone). Else exit 1.
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

// Topmost, so that a look-up by class name finds it first; the file "holding" tells that it is up.
static int HoldWindow(void)
{
    WNDCLASSA windowClass = {0, DefWindowProcA, 0, 0, GetModuleHandleA(NULL), NULL, NULL, NULL, NULL, PROBE_TITLE};
    RegisterClassA(&windowClass);
    CreateWindowExA(WS_EX_TOPMOST, PROBE_TITLE, "other copy", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL,
                    GetModuleHandleA(NULL), NULL);
    CloseHandle(CreateFileA("holding", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    MSG message;
    for (int i = 0; i < 6000 && GetFileAttributesA("release") == INVALID_FILE_ATTRIBUTES; i++, Sleep(10)) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    return 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    if (strcmp(commandLine, "screen-saver") == 0) {
        BOOL active = FALSE;
        SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
        return active ? 10 : 11;
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
    bool besideOtherCopy = strcmp(commandLine, "beside-other-copy") == 0;
    SetAllowMultipleInstances(besideOtherCopy);
    if (InitEngine() != 0) {
        return 1;
    }
    if (besideOtherCopy) {
        // A quit message before the close, so that its window is still alive when the end looks for it.
        HWND own = GetAppWindowHandle();
        PostQuitMessage(0);
        ProcessWindowMessages();
        EndEngine();
        WNDCLASSEXA info;
        info.cbSize = sizeof(info);
        return !IsWindow(own) && !GetClassInfoExA(GetModuleHandleA(NULL), PROBE_TITLE, &info) ? 20 : 21;
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
