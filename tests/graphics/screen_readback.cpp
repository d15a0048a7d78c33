// Screen read-back and engine start for the device test programs. Test thread (the window thread) only.
#include "tests/graphics/screen_readback.h"

uint32_t WidenChannel(uint32_t value, int bits)
{
    return bits == 0 ? 0 : value * 255 / ((1u << bits) - 1);
}

static uint32_t PixelToRgb(uint32_t value, const PixelFormat *format)
{
    uint32_t red = WidenChannel((value & format->redMask) >> format->redShift, format->redWidth);
    uint32_t green = WidenChannel((value & format->greenMask) >> format->greenShift, format->greenWidth);
    uint32_t blue = WidenChannel((value & format->blueMask) >> format->blueShift, format->blueWidth);
    return (red << 16) | (green << 8) | blue;
}

ScreenPixels ReadScreen(void)
{
    ScreenPixels screen = {0, 0, {}};
    int width, height;
    GetScreenSize(&width, &height);
    BaseImage view;
    if (LockDrawScreen(0, 0, width, height, &view, -1, 1) != 0) {
        return screen;
    }
    screen.width = width;
    screen.height = height;
    screen.rgb.resize((size_t)width * height);
    for (int y = 0; y < height; y++) {
        const unsigned char *row = view.pixels + (size_t)y * view.pitch;
        for (int x = 0; x < width; x++) {
            uint32_t value = view.format.bytesPerPixel == 2 ? ((const uint16_t *)row)[x] : ((const uint32_t *)row)[x];
            screen.rgb[(size_t)y * width + x] = PixelToRgb(value, &view.format);
        }
    }
    UnlockDrawScreen();
    return screen;
}

int StartEngineWindow(const char *title, int colorBits, int useDirect3D)
{
    SetMainWindowTitle(title);
    ChangeWindowMode(1);
    SetScreenModeSettings(colorBits, 0);
    SetUseDirect3D(useDirect3D);
    return InitEngine();
}
