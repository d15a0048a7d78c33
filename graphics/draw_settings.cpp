// Draw settings: the draw target and the screen state queries. The blend, brightness and draw-area settings and
// the device release come with the graphics work. Window thread only.
#include "graphics/graphics.h"

static int s_DrawTarget = -4;

int SetDrawTarget(int target)
{
    s_DrawTarget = target;
    return 0;
}

int GetDrawTarget(void)
{
    return s_DrawTarget;
}

int QueryScreenState(int *width, int *height, int *colorBits)
{
    int screenWidth, screenHeight;
    GetScreenSize(&screenWidth, &screenHeight);
    if (GetLowResolutionEmulation()) {
        screenWidth = 320;
        screenHeight = 240;
    }
    if (width != NULL) {
        *width = screenWidth;
    }
    if (height != NULL) {
        *height = screenHeight;
    }
    if (colorBits != NULL) {
        *colorBits = GetScreenColorBits();
    }
    return 0;
}

int ReleaseGraphicsDevice(void)
{
    return 0; // no Direct3D device is made yet
}
