// A program the end-to-end engine checks run in ways a test program cannot be: ended by a fatal error from
// another thread or from the window thread.
// Usage: engine_probe MODE   (fatal-thread | fatal-main); a fatal exit ends with -1, anything else with 1.
#include <string.h>

#include "core/core.h"

static DWORD WINAPI FailOnWorkerThread(LPVOID)
{
    FatalErrorExit("別スレッドからの致命的エラー");
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    SetMainWindowTitle("QvEngineProbe");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
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
