// Screenshot probe: starts the engine in a 640x480 window on the device (32-bit) or on the 16-bit software screen,
// draws a test card, flips it, and leaves the read-back frame ("frame.rgb", 640x480 RGB bytes) and the client
// area's screen position ("client.txt") for check_screen_shot.py, which compares its screenshot of the display with
// them. Then it keeps the window up until "done" appears (or a minute passes).
// Usage: graphics_screen_probe device|soft
#include "tests/graphics/screen_readback.h"

#include <stdio.h>
#include <string.h>

static void DrawDeviceCard(void)
{
    SetDrawClipArea(0, 0, 640, 480);
    G_D3D_DrawBox(0, 0, 640, 480, MakeScreenColor(16, 32, 64));
    for (int i = 0; i < 8; i++) {
        G_D3D_DrawBox(i * 80, 0, i * 80 + 80, 120, MakeScreenColor(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0));
    }
    G_D3D_DrawBoxOutline(20, 140, 300, 300, MakeScreenColor(255, 255, 255));
    G_D3D_DrawCircle(460, 260, 90, MakeScreenColor(255, 128, 0), 1);
    G_D3D_DrawTriangle(40, 460, 300, 320, 320, 470, MakeScreenColor(0, 200, 100), 1);
    FlushVertexBatch();
}

// The software screen has no shape drawers yet: the card is written straight into its pixels.
static int WriteSoftwareCard(void)
{
    BaseImage view;
    if (LockDrawScreen(0, 0, 640, 480, &view, -1, 0) != 0 || view.format.bytesPerPixel != 2) {
        return -1;
    }
    const uint16_t bars[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (int y = 0; y < 480; y++) {
        uint16_t *row = (uint16_t *)(view.pixels + (size_t)y * view.pitch);
        for (int x = 0; x < 640; x++) {
            row[x] = y < 240 ? bars[x / 160] : (uint16_t)(((x / 20) << 11) | ((y / 8) & 0x3F) << 5 | (x & 31));
        }
    }
    UnlockDrawScreen();
    return 0;
}

static int SaveFrame(void)
{
    ScreenPixels screen = ReadScreen();
    FILE *file = fopen("frame.rgb", "wb");
    if (screen.rgb.empty() || file == NULL) {
        return -1;
    }
    for (uint32_t rgb : screen.rgb) {
        unsigned char bytes[3] = {(unsigned char)(rgb >> 16), (unsigned char)(rgb >> 8), (unsigned char)rgb};
        fwrite(bytes, 1, 3, file);
    }
    fclose(file);
    POINT origin = {0, 0};
    ClientToScreen(GetAppWindowHandle(), &origin);
    file = fopen("client.txt", "w");
    fprintf(file, "%ld %ld\n", origin.x, origin.y);
    fclose(file);
    return 0;
}

int main(int argc, char **argv)
{
    int device = argc > 1 && strcmp(argv[1], "device") == 0;
    DeleteFileA("done");
    DeleteFileA("ready");
    if (StartEngineWindow("QvScreenProbe", device ? 32 : 16, device) != 0 || IsDeviceMode() != device) {
        return 1;
    }
    SetDrawTarget(-2);
    if (device) {
        DrawDeviceCard();
    } else if (WriteSoftwareCard() != 0) {
        return 2;
    }
    if (FlipScreen() != 0 || SaveFrame() != 0) {
        return 3;
    }
    fclose(fopen("ready", "w"));
    DWORD start = GetTickCount();
    while (GetFileAttributesA("done") == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 60000) {
        ProcessWindowMessages();
        Sleep(10);
    }
    EndEngine();
    return 0;
}
