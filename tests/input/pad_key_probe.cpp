// A window for the real-keys driver (check_real_keys.py): between pump calls it polls the pad bit set, Escape, the
// mouse point and buttons, and writes every change as one line of "keys.txt"; it ends when "stop" appears in its
// folder. Run with "escape-only" it never pumps and waits for Escape through IsKeyDown alone (exit 0 once seen).
// Run with "typing" it makes the file "ready" once started, takes typed characters out of GetInputChar until the End
// key's code arrives and writes them, in the order taken, to "typed.bin". Run with "graphics" it starts graphics
// too and keeps start-up's draw target, the front screen, which the pump presents on its timer.
#include <stdio.h>
#include <string.h>

#include "core/core_test_hooks.h"
#include "graphics/graphics.h"
#include "input/input_internal.h"

static int WaitForEscapeOnly(void)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        if (IsKeyDown(DIK_ESCAPE)) {
            return 0;
        }
        Sleep(5);
    }
    return 2;
}

// Windows versions above XP read the Windows keyboard state even with a DirectInput keyboard made.
static const char *KeyboardSource(void)
{
    return g_InputState.keyboard != NULL && g_SystemInformation.windowsVersionId <= 0x107 ? "di" : "windows";
}

static void DescribeInput(char *line, size_t size)
{
    int x = 0, y = 0;
    GetMousePoint(&x, &y);
    POINT origin = {0, 0};
    ClientToScreen(GetAppWindowHandle(), &origin);
    snprintf(line, size,
             "pad=0x%x esc=%d down=%d keyboard=%s origin=%ld,%ld mouse=%d,%d buttons=%d%d presses=%d target=%d\n",
             GetPadInput(PAD_KEY_FLAG | 1), IsKeyDown(DIK_ESCAPE), IsKeyDown(DIK_DOWN), KeyboardSource(), origin.x,
             origin.y, x, y, g_InputState.mouseButtons[0], g_InputState.mouseButtons[1], GetMouseLogCount(),
             GetDrawTarget());
}

static int ReportChanges(void)
{
    FILE *out = fopen("keys.txt", "w");
    char last[256] = "", line[256];
    while (ProcessWindowMessages() == 0 && GetFileAttributesA("stop") == INVALID_FILE_ATTRIBUTES) {
        DescribeInput(line, sizeof(line));
        if (strcmp(line, last) != 0) {
            fputs(line, out);
            fflush(out);
            strcpy(last, line);
        }
        Sleep(5);
    }
    fclose(out);
    return 0;
}

static int RecordTypedChars(void)
{
    // Start-up shows the window before it makes the input devices: the driver types only after this file appears.
    CloseHandle(CreateFileA("ready", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    char typed[256];
    int count = 0;
    DWORD start = GetTickCount();
    while (count < (int)sizeof(typed) - 2 && GetTickCount() - start < 60000 && ProcessWindowMessages() == 0) {
        char character[2];
        int size = GetInputChar(character, 1);
        memcpy(typed + count, character, (size_t)size);
        count += size;
        if (size == 1 && character[0] == 0x19) {
            break;
        }
        Sleep(1);
    }
    FILE *file = fopen("typed.bin", "wb");
    fwrite(typed, 1, (size_t)count, file);
    fclose(file);
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    SetMainWindowTitle("QvKeyProbe");
    ChangeWindowMode(1);
    SetEngineStartOptions(0, 1, strstr(commandLine, "graphics") == NULL);
    if (InitEngine() != 0) {
        return 1;
    }
    int result = strstr(commandLine, "escape-only") != NULL ? WaitForEscapeOnly()
                 : strstr(commandLine, "typing") != NULL    ? RecordTypedChars()
                                                             : ReportChanges();
    EndEngine();
    return result;
}
