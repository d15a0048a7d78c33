// Screen read-back and engine start for the device test programs. Test thread (the window thread) only.
#include "tests/graphics/screen_readback.h"

static uint32_t WidenChannel(uint32_t value, int bits)
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

int StartEngineWindow(int colorBits, int useDirect3D)
{
    SetMainWindowTitle("QvGraphicsScreenTest");
    ChangeWindowMode(1);
    SetScreenModeSettings(colorBits, 0);
    SetUseDirect3D(useDirect3D);
    return InitEngine();
}

ScreenPixels CaptureClientFromDisplay(void)
{
    ScreenPixels shot = {640, 480, std::vector<uint32_t>(640 * 480)};
    POINT origin = {0, 0};
    ClientToScreen(GetAppWindowHandle(), &origin);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), 640, -480, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void *bits = NULL;
    HDC screen = GetDC(NULL), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, 640, 480, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    for (size_t i = 0; i < shot.rgb.size(); i++) {
        shot.rgb[i] = ((const uint32_t *)bits)[i] & 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return shot;
}

int CountDifferences(const ScreenPixels &a, const ScreenPixels &b, int tolerance)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
        return -1;
    }
    int count = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) {
        for (int shift = 0; shift < 24; shift += 8) {
            if (abs((int)((a.rgb[i] >> shift) & 0xFF) - (int)((b.rgb[i] >> shift) & 0xFF)) > tolerance) {
                count++;
                break;
            }
        }
    }
    return count;
}

ScreenPixels WaitForDisplay(const ScreenPixels &frame, int tolerance)
{
    ScreenPixels shot = CaptureClientFromDisplay();
    for (DWORD start = GetTickCount(); CountDifferences(frame, shot, tolerance) != 0 && GetTickCount() - start < 10000;
         shot = CaptureClientFromDisplay()) {
        ProcessWindowMessages();
        Sleep(20);
    }
    return shot;
}
