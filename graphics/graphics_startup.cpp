// Graphics start-up and end: the screen's colour depth, refresh rate and low-resolution emulation, the
// use-Direct3D setting and the graphics-initialised flag. For now the graphics system runs without a Direct3D
// device: start-up only fixes the screen settings and, in full screen, switches the display to the screen size;
// the end switches it back. The device, the software screens and the draw settings come with the graphics work.
// Window thread only.
#include "graphics/graphics.h"

static int s_GraphicsInitialised;
static int s_ColorBits;
static int s_RefreshRate;
static int s_LowResolutionEmulation;
static int s_Direct3DRefused; // stored inverted: 0 means try the device

int GetScreenColorBits(void)
{
    return s_ColorBits != 0 ? s_ColorBits : 16;
}

int GetScreenRefreshRate(void)
{
    return s_RefreshRate;
}

int SetScreenModeSettings(int colorBits, int refreshRate)
{
    s_ColorBits = colorBits;
    s_RefreshRate = refreshRate;
    return 0;
}

int GetLowResolutionEmulation(void)
{
    return s_LowResolutionEmulation;
}

int SetLowResolutionEmulation(int flag)
{
    s_LowResolutionEmulation = flag;
    return 0;
}

int SetUseDirect3D(int flag)
{
    if (IsEngineInitialised()) {
        return -1;
    }
    s_Direct3DRefused = !flag;
    return 0;
}

int GetUseDirect3D(void)
{
    return !s_Direct3DRefused;
}

int IsDeviceMode(void)
{
    return 0;
}

int InitGraphics(void)
{
    if (s_GraphicsInitialised) {
        return 0;
    }
    int width, height;
    GetScreenSize(&width, &height);
    SetScreenSizeSetting(width, height);
    s_ColorBits = GetScreenColorBits();
    if (width == 320 && height == 240 && !IsWindowedMode()) {
        s_LowResolutionEmulation = 1;
        SetScreenSizeSetting(640, 480);
    }
    if (!IsWindowedMode() && ChangeDisplayModeForFullScreen() != 0) {
        TerminateGraphics();
        return -1;
    }
    s_GraphicsInitialised = 1;
    return 0;
}

int IsGraphicsInitialised(void)
{
    return s_GraphicsInitialised;
}

int TerminateGraphics(void)
{
    RestoreDesktopDisplayMode();
    ReleaseDisplayModeList();
    s_GraphicsInitialised = 0;
    return 0;
}
