// Program entry. Until the game exists this is a demonstration of the engine: it opens the window, pumps its
// messages until the window is closed, Escape is pressed or about 20 seconds pass, and ends the engine.
#include "core/core.h"

#define DEMO_RUN_MILLISECONDS 20000

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetMainWindowTitle("QvGame");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
    }
    DWORD start = GetTickCount();
    while (ProcessWindowMessages() == 0 && GetTickCount() - start < DEMO_RUN_MILLISECONDS) {
        // Bit 15: held now; bit 0: pressed since the last look (a short key press between two looks).
        if (GetAsyncKeyState(VK_ESCAPE) & 0x8001) {
            break;
        }
        Sleep(16);
    }
    EndEngine();
    return 0;
}
