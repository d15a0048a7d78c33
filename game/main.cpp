// Program entry. Until the game exists this is a demonstration of the engine: it opens the window and, while the
// Direct3D device draws, shows a moving test card drawn with the device shape drawers each frame, then flips; it
// pumps messages until the window is closed, Escape is pressed or about 20 seconds pass, and ends the engine.
#include "core/core.h"
#include "graphics/graphics.h"

#define DEMO_RUN_MILLISECONDS 20000

static int Color(int red, int green, int blue)
{
    return (int)MakeScreenColor(red, green, blue);
}

// Colour bars, a grey ramp, outlines, a filled and an outlined circle, triangles and a sweeping dot, inside a
// black border two pixels wide.
static void DrawTestCard(int frame)
{
    SetDrawBlend(0, 0);
    G_D3D_DrawBox(0, 0, 640, 480, Color(0, 0, 0));
    G_D3D_DrawBox(2, 2, 638, 478, Color(24, 28, 40));
    for (int i = 0; i < 8; i++) {
        G_D3D_DrawBox(20 + i * 75, 20, 95 + i * 75, 140, Color(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0));
    }
    for (int i = 0; i < 32; i++) {
        G_D3D_DrawBox(20 + i * 18, 150, 38 + i * 18, 180, Color(i * 8, i * 8, i * 8));
    }
    G_D3D_DrawBoxOutline(20, 200, 300, 460, Color(255, 255, 255));
    G_D3D_DrawBoxOutline(30, 210, 290, 450, Color(255, 255, 0));
    G_D3D_DrawCircle(160, 330, 100, Color(0, 96, 200), 1);
    G_D3D_DrawCircle(160, 330, 110, Color(255, 255, 255), 0);
    G_D3D_DrawTriangle(340, 450, 480, 210, 620, 450, Color(200, 40, 40), 1);
    G_D3D_DrawTriangle(340, 450, 480, 210, 620, 450, Color(255, 255, 255), 0);
    SetDrawBlend(1, 128);
    G_D3D_DrawBox(240, 260, 420, 400, Color(255, 255, 255));
    SetDrawBlend(0, 0);
    int x = 20 + frame * 4 % 600;
    for (int i = 0; i < 8; i++) {
        G_D3D_DrawPixel(x + i, 190, Color(255, 255, 255));
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetMainWindowTitle("QvGame");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
    }
    SetDrawTarget(-2);
    DWORD start = GetTickCount();
    for (int frame = 0; ProcessWindowMessages() == 0 && GetTickCount() - start < DEMO_RUN_MILLISECONDS; frame++) {
        // Bit 15: held now; bit 0: pressed since the last look (a short key press between two looks).
        if (GetAsyncKeyState(VK_ESCAPE) & 0x8001) {
            break;
        }
        if (IsDeviceMode()) {
            DrawTestCard(frame);
        }
        FlipScreen();
        Sleep(16);
    }
    EndEngine();
    return 0;
}
