// Graphics start-up and end: the screen's size, colour depth, refresh rate and low-resolution emulation, the
// use-Direct3D setting, the graphics-initialised flag, and the three software screens that draw when no Direct3D
// device is made. Start-up makes the device or the software screen and leaves the drawing layer at its defaults;
// the end takes down every table, the device path and the screens. Window thread only.
#include "graphics/graphics_internal.h"

#include "font/font.h"

static int s_GraphicsInitialised;
static int s_ColorBits;
static int s_RefreshRate;
static int s_LowResolutionEmulation;
static int s_Direct3DRefused;    // stored inverted: 0 means try the device
static MEMIMG s_Screen;          // what is shown on the software path
static MEMIMG s_SpareScreens[2]; // the second has an alpha channel

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

int TakeLowResolutionSize(int *width, int *height)
{
    if (IsWindowedMode() || *width != 320 || *height != 240) {
        return 0;
    }
    *width = 640;
    *height = 480;
    return 1;
}

int SetUseDirect3D(int flag)
{
    if (IsEngineInitialised()) {
        return -1;
    }
    s_Direct3DRefused = !flag;
    return 0;
}

int ForceUseDirect3D(int flag)
{
    s_Direct3DRefused = !flag;
    return 0;
}

int GetUseDirect3D(void)
{
    return !s_Direct3DRefused;
}

int IsDeviceMode(void)
{
    return g_D3D.deviceMode;
}

MEMIMG *GetSoftwareScreen(void)
{
    return &s_Screen;
}

MEMIMG *GetSoftwareWorkImage(int alpha)
{
    return IsDeviceMode() ? NULL : &s_SpareScreens[alpha ? 1 : 0];
}

int IsGraphicsInitialised(void)
{
    return s_GraphicsInitialised;
}

// ---------------------------------------------------------------------------------------------------------------
// Software screens.

static void ReleaseSoftwareScreens(void)
{
    ReleaseMemImg(&s_Screen);
    ReleaseMemImg(&s_SpareScreens[0]);
    ReleaseMemImg(&s_SpareScreens[1]);
    if (g_DrawState.softwareTarget == &s_Screen) {
        g_DrawState.softwareTarget = NULL;
    }
}

// Made at start, and again by a device rebuild that ends on the software screen (which may follow an earlier one).
int CreateSoftwareScreens(void)
{
    ReleaseSoftwareScreens();
    int width, height;
    GetScreenSize(&width, &height);
    int kind = GetScreenColorBits() != 16 ? MEMIMG_KIND_RGB32 : MEMIMG_KIND_RGB16;
    if (CreateMemImgDefault(&s_Screen, width, height, kind) != 0) {
        FatalErrorExit("プライマリサーフェス用の MEMIMG の作成に失敗しました\n");
    }
    for (int i = 0; i < 2; i++) {
        MemFill(&s_SpareScreens[i], 0, sizeof(s_SpareScreens[i]));
        CreateMemImg(&s_SpareScreens[i], width, height, -1, 0, kind, 0, i, 0, NULL);
    }
    int red, green, blue;
    GetBackgroundColor(&red, &green, &blue);
    RECT whole = {0, 0, width, height};
    FillMemImgRect(&s_Screen, &whole, ColorToPixelValue(s_Screen.block->format, red, green, blue, 255));
    g_DrawState.softwareTarget = &s_Screen;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Start and end.

static void FixScreenSettings(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    s_ColorBits = GetScreenColorBits();
    if (TakeLowResolutionSize(&width, &height)) {
        s_LowResolutionEmulation = 1;
    }
    SetScreenSizeSetting(width, height);
}

int InitGraphics(void)
{
    if (s_GraphicsInitialised) {
        return 0;
    }
    ResetGraphTableCounts();
    FixScreenSettings();
    if (CreateGraphicsDevice() != 0) {
        TerminateGraphics();
        return -1;
    }
    s_GraphicsInitialised = 1;
    if (IsDeviceMode()) {
        SetupDeviceDefaults();
    } else {
        CreateSoftwareScreens();
    }
    ResetDrawSettings();
    InitMemImgTables();
    InitFontSystem();
    return 0;
}

int TerminateGraphics(void)
{
    TerminateFontSystem();
    if (!s_GraphicsInitialised) {
        return 0;
    }
    ReleaseAllGraphHandles(0);
    DeleteAllVertexBuffers();
    DeleteAllIndexBuffers();
    DeleteAllShaders();
    DeleteMaskScreen();
    DeleteAllMasks();
    DeleteAllLights();
    ReleaseDirect3DSystem();
    ReleaseSoftwareScreens();
    ReleaseShaderPacks();
    s_GraphicsInitialised = 0;
    return 0;
}
