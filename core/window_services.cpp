// Small services around the main window: queries of the window state, the desktop's size and depth, the stretch
// rates, the title, the second-instance option, the desktop-composition switch, the client rectangle, bringing a
// window to the foreground, following a window move, and the clipboard. Window thread, except the plain queries.
#include "core/window_state.h"

#include "graphics/graphics.h"

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
    if (!GetClientRect(g_Window.mainWindow, &client)) {
        return 0;
    }
    int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
    SetRect(&g_Window.clientRect, x, y, x + client.right, y + client.bottom);
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
