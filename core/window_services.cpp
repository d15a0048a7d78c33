// Small services around the main window: queries of the window state, the desktop's size and depth, the stretch
// rates, the title, the second-instance option, the desktop-composition switch, the client rectangle, bringing a
// window to the foreground, following a window move, the clipboard, and the layered-window presenter, which keeps
// one top-down 32-bit DIB section for the window. Window thread, except the plain queries.
#include "core/window_state.h"

#include "graphics/graphics.h"
#include "image/image.h"

int IsWindowClosed(void)
{
    return g_Window.quit;
}

HWND GetAppWindowHandle(void)
{
    return g_Window.mainWindow;
}

int IsWindowedMode(void)
{
    return g_WindowSettings.windowed;
}

int IsWindowActive(void)
{
    return g_Window.active;
}

int GetPaintRedrawFlag(void)
{
    return g_WindowSettings.runInBackground;
}

int GetMmxUsableFlag(void)
{
    return g_SystemInformation.hasMmx;
}

int GetCloseRequestedFlag(void)
{
    return g_Window.closePosted;
}

int GetDesktopScreenState(int *width, int *height, int *colorBits)
{
    int captured = g_Window.mainWindow != NULL;
    if (width != NULL) {
        *width = captured ? g_Window.desktopWidth : GetSystemMetrics(SM_CXSCREEN);
    }
    if (height != NULL) {
        *height = captured ? g_Window.desktopHeight : GetSystemMetrics(SM_CYSCREEN);
    }
    if (colorBits != NULL) {
        *colorBits = captured ? g_Window.desktopColorBits : GetDesktopColorBits();
    }
    return 0;
}

double GetWindowScaleRates(double *xRate, double *yRate)
{
    if (g_WindowSettings.stretchRateX <= 0.0) {
        g_WindowSettings.stretchRateX = 1.0;
    }
    if (g_WindowSettings.stretchRateY <= 0.0) {
        g_WindowSettings.stretchRateY = 1.0;
    }
    double x = g_WindowSettings.windowed ? g_WindowSettings.stretchRateX : 1.0;
    double y = g_WindowSettings.windowed ? g_WindowSettings.stretchRateY : 1.0;
    if (xRate != NULL) {
        *xRate = x;
    }
    if (yRate != NULL) {
        *yRate = y;
    }
    return x;
}

int EnableDesktopComposition(int enable)
{
    enable = enable != 0;
    if (enable == !g_Window.compositionTurnedOff) {
        return 0;
    }
    DwmEnableCompositionFunction composition = BoundDwmEnableComposition();
    if (composition != NULL) {
        composition((UINT)enable);
    }
    g_Window.compositionTurnedOff = !enable;
    return 0;
}

int GetBackgroundColor(int *red, int *green, int *blue)
{
    int set = g_WindowSettings.backgroundSet;
    *red = set ? g_WindowSettings.backgroundRed : 0;
    *green = set ? g_WindowSettings.backgroundGreen : 0;
    *blue = set ? g_WindowSettings.backgroundBlue : 0;
    return 0;
}

int SetMainWindowTitle(const char *text)
{
    lstrcpynA(g_WindowSettings.title, text, WINDOW_TEXT_SIZE);
    if (g_Window.mainWindow != NULL) {
        SetWindowTextA(g_Window.mainWindow, g_WindowSettings.title);
    }
    return 0;
}

int SetAllowMultipleInstances(int flag)
{
    g_WindowSettings.allowMultipleInstances = flag;
    return 0;
}

int SetRunInBackground(int flag)
{
    g_WindowSettings.runInBackground = flag;
    return 0;
}

int GetWindowClientArea(RECT *rect)
{
    RECT client = {0, 0, 0, 0};
    if (g_Window.mainWindow != NULL && GetClientRect(g_Window.mainWindow, &client)) {
        POINT origin = {0, 0};
        ClientToScreen(g_Window.mainWindow, &origin);
        OffsetRect(&client, origin.x, origin.y);
    }
    int toolbarHeight = GetToolbarHeight();
    client.top += toolbarHeight;
    client.bottom += toolbarHeight;
    *rect = client;
    return 0;
}

int OnWindowMoved(LPARAM lParam)
{
    RECT client;
    if (IS_USER_WINDOW_MODE() || !GetClientRect(g_Window.mainWindow, &client)) {
        return 0;
    }
    int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
    SetRect(&g_Window.clientRect, x, y, x + client.right, y + client.bottom);
    FollowWindowMove();
    return 0;
}

int ForceForegroundWindow(HWND window, int topmost)
{
    DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), NULL);
    DWORD windowThread = GetWindowThreadProcessId(window, NULL);
    AttachThreadInput(windowThread, foregroundThread, TRUE);
    DWORD timeout = 0;
    SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, NULL, 0);
    SetForegroundWindow(window);
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (PVOID)(DWORD_PTR)timeout, 0);
    int result = AttachThreadInput(windowThread, foregroundThread, FALSE);
    if (topmost == 1) {
        result = SetWindowPos(g_Window.mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
    }
    return result;
}

int ReadClipboardText(char *buffer)
{
    if (!OpenClipboard(g_Window.mainWindow)) {
        return -1;
    }
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data == NULL) {
        CloseClipboard();
        return -1;
    }
    const char *text = (const char *)GlobalLock(data);
    int result = 0;
    if (text == NULL) {
        result = -1;
    } else if (buffer != NULL) {
        lstrcpyA(buffer, text);
    } else {
        result = (int)GlobalSize(data) + 1;
    }
    if (text != NULL) {
        GlobalUnlock(data);
    }
    CloseClipboard();
    return result;
}

int WriteClipboardText(const char *text)
{
    int length = lstrlenA(text);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)length + 1);
    if (block == NULL) {
        return 0;
    }
    char *copy = (char *)GlobalLock(block);
    MemCopy(copy, text, (size_t)length + 1);
    GlobalUnlock(block);
    if (!OpenClipboard(g_Window.mainWindow)) {
        GlobalFree(block);
        return 0;
    }
    EmptyClipboard();
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
    return 0;
}

// No window-side memory screen is ever made in this engine, so there is nothing to redraw.
int RedrawWindowScreen(HDC dc)
{
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Layered windows.

int SetWindowLayeredOption(int flag, COLORREF colorKey)
{
    g_WindowSettings.layeredOption = flag != 0;
    g_WindowSettings.layeredColorKey = colorKey;
    return 0;
}

void DeleteLayeredDibSection(void)
{
    if (g_Window.layeredDibSection != NULL) {
        DeleteObject(g_Window.layeredDibSection);
    }
    g_Window.layeredDibSection = NULL;
    g_Window.layeredDibPixels = NULL;
    g_Window.layeredDibWidth = 0;
    g_Window.layeredDibHeight = 0;
}

// Keeps the DIB section at the given size, making a new one only when the size changes.
static int PrepareLayeredDibSection(int width, int height)
{
    if (g_Window.layeredDibSection != NULL && g_Window.layeredDibWidth == width &&
        g_Window.layeredDibHeight == height) {
        return 0;
    }
    DeleteLayeredDibSection();
    BITMAPINFO info;
    MemFill(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows run top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *pixels = NULL;
    HBITMAP section = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &pixels, NULL, 0);
    if (section == NULL) {
        return AddLog("レイヤードウインドウ用のDIBセクションの作成に失敗しました\n");
    }
    g_Window.layeredDibSection = section;
    g_Window.layeredDibPixels = pixels;
    g_Window.layeredDibWidth = width;
    g_Window.layeredDibHeight = height;
    return 0;
}

// The platform blends a layered window's pixels as premultiplied colour.
static void PremultiplyRows(unsigned char *pixels, int pitch, int width, int height)
{
    for (int y = 0; y < height; y++) {
        unsigned char *pixel = pixels + (size_t)y * pitch;
        for (int x = 0; x < width; x++, pixel += 4) {
            for (int channel = 0; channel < 3; channel++) {
                pixel[channel] = (unsigned char)((pixel[channel] * pixel[3] + 127) / 255);
            }
        }
    }
}

// The image goes below the caption and right of the frame: the DIB covers the whole window.
static int DrawImageIntoLayeredDib(BaseImage *image, int offsetX, int offsetY)
{
    if (image->pixels == NULL || image->width <= 0 || image->height <= 0 ||
        image->format.formatCode != PIXEL_FORMAT_PACKED) {
        return AddLog("レイヤードウインドウに表示できない画像です\n");
    }
    long long width = (long long)image->width + offsetX, height = (long long)image->height + offsetY;
    if (offsetX < 0 || offsetY < 0 || width * height * 4 > 0x7FFFFFFF) {
        return AddLog("レイヤードウインドウに表示できない画像です\n");
    }
    if (PrepareLayeredDibSection((int)width, (int)height) != 0) {
        return -1;
    }
    int pitch = (int)width * 4;
    unsigned char *pixels = (unsigned char *)g_Window.layeredDibPixels;
    MemFill(pixels, 0, (size_t)pitch * (size_t)height);
    PixelFormat argb;
    SetARGB8PixelFormat(&argb);
    PixelBuffer destination = {pixels + (size_t)offsetY * pitch + (size_t)offsetX * 4, pitch, &argb, image->width,
                               image->height};
    PixelBuffer source = {image->pixels, image->pitch, &image->format, image->width, image->height};
    RECT sourceRect = {0, 0, image->width, image->height};
    PixelKernelOptions options;
    MemFill(&options, 0, sizeof(options));
    PixelKernel(&destination, &source, NULL, 0, 0, &sourceRect, &options);
    PremultiplyRows(pixels, pitch, (int)width, (int)height);
    return 0;
}

int SetupWindowDibSection(BaseImage *image, HDC dc)
{
    HWND window = g_Window.mainWindow;
    if (!g_WindowSettings.layeredOption || window == NULL) {
        return 0;
    }
    if (g_Window.updateLayeredWindow == NULL) {
        return -1;
    }
    RECT windowRect;
    GetWindowRect(window, &windowRect);
    POINT position = {windowRect.left, windowRect.top};
    POINT sourcePoint = {0, 0};
    if (dc != NULL) {
        int width, height;
        GetScreenSize(&width, &height);
        SIZE size = {width, height};
        return g_Window.updateLayeredWindow(window, NULL, &position, &size, dc, &sourcePoint,
                                            g_WindowSettings.layeredColorKey, NULL, ULW_COLORKEY)
                   ? 0
                   : -1;
    }
    if (image == NULL) {
        return -1;
    }
    POINT clientOrigin = {0, 0};
    ClientToScreen(window, &clientOrigin);
    if (DrawImageIntoLayeredDib(image, clientOrigin.x - windowRect.left, clientOrigin.y - windowRect.top) != 0) {
        return -1;
    }
    HDC memoryDc = CreateCompatibleDC(NULL);
    HGDIOBJ previous = SelectObject(memoryDc, g_Window.layeredDibSection);
    SIZE size = {g_Window.layeredDibWidth, g_Window.layeredDibHeight};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    BOOL presented =
        g_Window.updateLayeredWindow(window, NULL, &position, &size, memoryDc, &sourcePoint, 0, &blend, ULW_ALPHA);
    SelectObject(memoryDc, previous);
    DeleteDC(memoryDc);
    return presented ? 0 : -1;
}
