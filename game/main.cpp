// Program entry. Until the game exists this is a demonstration of the engine: it opens the window, loads its
// sprite sheet and banner picture from the executable's resources, and each frame draws a moving test card through
// the drawing calls (on the Direct3D device or the software screen) and flips; it pumps messages until the window
// is closed, Escape is pressed or about 20 seconds pass, and ends the engine.
#include "core/core.h"
#include "graphics/graphics.h"

#include <math.h>

#define DEMO_RUN_MILLISECONDS 20000
#define SPRITE_COUNT 280
#define ORBIT_SPRITES 24

struct DemoPictures {
    EngineHandle sprites[SPRITE_COUNT];
    EngineHandle banner;
};

// Colour bars, a grey ramp, outlines, a filled and an outlined circle, triangles, the banner and a sweeping dot,
// inside a black border two pixels wide; sprites circle the disc, every other one turning.
static void DrawTestCard(const DemoPictures *pictures, int frame)
{
    SetDrawBlend(0, 0);
    DrawFilledBox(0, 0, 640, 480, MakeScreenColor(0, 0, 0));
    DrawFilledBox(2, 2, 638, 478, MakeScreenColor(24, 28, 40));
    for (int i = 0; i < 8; i++) {
        DrawFilledBox(20 + i * 75, 20, 95 + i * 75, 140,
                      MakeScreenColor(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0));
    }
    for (int i = 0; i < 32; i++) {
        DrawFilledBox(20 + i * 18, 150, 38 + i * 18, 180, MakeScreenColor(i * 8, i * 8, i * 8));
    }
    DrawBoxOutline(20, 200, 300, 460, MakeScreenColor(255, 255, 255));
    DrawBoxOutline(30, 210, 290, 450, MakeScreenColor(255, 255, 0));
    DrawCircleShape(160, 330, 100, MakeScreenColor(0, 96, 200), 1);
    DrawCircleShape(160, 330, 110, MakeScreenColor(255, 255, 255), 0);
    DrawTriangleShape(340, 450, 480, 290, 620, 450, MakeScreenColor(200, 40, 40), 1);
    DrawTriangleShape(340, 450, 480, 290, 620, 450, MakeScreenColor(255, 255, 255), 0);
    DrawGraphAt(360, 200, pictures->banner, 0);
    SetDrawBlend(1, 128);
    DrawFilledBox(240, 260, 420, 400, MakeScreenColor(255, 255, 255));
    SetDrawBlend(0, 0);
    int x = 20 + frame * 4 % 600;
    for (int i = 0; i < 8; i++) {
        DrawPoint(x + i, 190, MakeScreenColor(255, 255, 255));
    }
    for (int i = 0; i < ORBIT_SPRITES; i++) {
        double angle = (frame * 2 + i * 360 / ORBIT_SPRITES) * 3.14159265358979 / 180.0;
        int spriteX = 160 + (int)(80 * cos(angle)), spriteY = 330 + (int)(80 * sin(angle));
        EngineHandle sprite = pictures->sprites[(i * 11 + frame / 30) % SPRITE_COUNT];
        if (i & 1) {
            DrawGraphRotated(spriteX, spriteY, 1.0, angle, sprite, 1, 0);
        } else {
            DrawGraphAt(spriteX - 16, spriteY - 16, sprite, 1);
        }
    }
}

// The pictures from the resources; a picture that cannot be loaded is logged by the loader and left out.
static void LoadDemoPictures(DemoPictures *pictures)
{
    if (LoadDivGraphFromResource("SPRITES", "PNG", SPRITE_COUNT, 20, 14, 32, 32, pictures->sprites) != 0) {
        for (int i = 0; i < SPRITE_COUNT; i++) {
            pictures->sprites[i] = -1;
        }
    }
    pictures->banner = LoadGraphFromResource("BANNER", "CG");
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetMainWindowTitle("QvGame");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return 1;
    }
    SetDrawTarget(-2);
    DemoPictures pictures;
    LoadDemoPictures(&pictures);
    DWORD start = GetTickCount();
    for (int frame = 0; ProcessWindowMessages() == 0 && GetTickCount() - start < DEMO_RUN_MILLISECONDS; frame++) {
        // Held now (bit 15). The pressed-since bit is not used: it can carry a press made before the program ran.
        if (GetAsyncKeyState(VK_ESCAPE) & 0x8000) {
            break;
        }
        DrawTestCard(&pictures, frame);
        FlipScreen();
        Sleep(16);
    }
    EndEngine();
    return 0;
}
