// A windowed program for check_text_typing.py: it takes typed characters out of GetInputChar between pump calls
// until the End key's code arrives (or a minute has passed) and writes them, in the order taken, to "typed.bin".
#include <stdio.h>

#include "core/core.h"
#include "input/input.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetMainWindowTitle("QvTextProbe");
    ChangeWindowMode(1);
    SetEngineStartOptions(0, 1, 0);
    if (InitEngine() != 0) {
        return 1;
    }
    char typed[256];
    int count = 0;
    DWORD start = GetTickCount();
    while (count < (int)sizeof(typed) - 2 && GetTickCount() - start < 60000 && ProcessWindowMessages() == 0) {
        char character[2];
        int size = GetInputChar(character, 1);
        for (int i = 0; i < size; i++) {
            typed[count++] = character[i];
        }
        if (size == 1 && character[0] == 0x19) {
            break;
        }
        Sleep(1);
    }
    FILE *file = fopen("typed.bin", "wb");
    if (file != NULL) {
        fwrite(typed, 1, (size_t)count, file);
        fclose(file);
    }
    EndEngine();
    return 0;
}
