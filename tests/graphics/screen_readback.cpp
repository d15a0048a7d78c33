// Screen read-back and engine start for the device test programs. Test thread (the window thread) only.
#include "tests/graphics/screen_readback.h"

#include "core/window_state.h"

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

ScreenPixels ReadLockedRect(int target, int x1, int y1, int x2, int y2)
{
    ScreenPixels pixels = {0, 0, {}};
    BaseImage view;
    if (LockDrawScreen(x1, y1, x2, y2, &view, target, 1) != 0) {
        return pixels;
    }
    pixels.width = x2 - x1;
    pixels.height = y2 - y1;
    for (int y = 0; y < pixels.height; y++) {
        const unsigned char *row = view.pixels + (size_t)y * view.pitch;
        for (int x = 0; x < pixels.width; x++) {
            uint32_t value = view.format.bytesPerPixel == 2 ? ((const uint16_t *)row)[x] : ((const uint32_t *)row)[x];
            pixels.rgb.push_back(PixelToRgb(value, &view.format));
        }
    }
    UnlockDrawScreen();
    return pixels;
}

ScreenPixels ReadScreen(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    return ReadLockedRect(-1, 0, 0, width, height);
}

int StartEngineWindow(int colorBits, int useDirect3D)
{
    SetMainWindowTitle("QvGraphicsScreenTest");
    ChangeWindowMode(1);
    SetScreenModeSettings(colorBits, 0);
    SetUseDirect3D(useDirect3D);
    return InitEngine();
}

void ExpectPaintPresentsWithoutTheWait(void)
{
    const ScreenFlipRecord *record = GetScreenFlipRecord();
    int presents = record->presents, waits = record->pacedWaits, wait = GetWaitVerticalBlank();
    Sleep(2 * PARTIAL_PAINT_INTERVAL_MS); // a paint right after a present is its echo
    RedrawWindow(GetAppWindowHandle(), NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(record->presents, presents + 1);
    EXPECT_EQ(record->pacedWaits, waits);
    EXPECT_EQ(GetWaitVerticalBlank(), wait);
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
    auto off = [&](size_t i, int shift) {
        return abs((int)((a.rgb[i] >> shift) & 0xFF) - (int)((b.rgb[i] >> shift) & 0xFF)) > tolerance;
    };
    int count = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) {
        count += off(i, 0) || off(i, 8) || off(i, 16);
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

EngineHandle MakeGraph(int width, int height, int drawable)
{
    g_GraphCreateSettings.drawable = drawable;
    EngineHandle graph = MakeEmptyGraph(width, height);
    g_GraphCreateSettings.drawable = 0;
    return graph;
}
