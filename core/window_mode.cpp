// Window mode and window size: the window style table, the switch between window and full screen, styling and
// placing the window for each mode, fitting it around the screen size, and the arithmetic of a resize drag that
// keeps the screen's aspect ratio. Window thread only.
#include "core/window_state.h"

#include "graphics/graphics.h"

static const DWORD s_WindowStyles[11][4] = {
    // window style, window extended style, full-screen style, full-screen extended style
    {0x80CA0000, 0x300, 0x80000000, 0x8},
    {0x80080000, 0x300, 0x80000000, 0x8},
    {0x80080000, 0x0, 0x80000000, 0x8},
    {0x80CA0000, 0x80, 0x80000000, 0x8},
    {0x80080000, 0x80, 0x80000000, 0x8},
    {0x80C80000, 0x100, 0x80000000, 0x8},
    {0x80CA0000, 0x300, 0x80000000, 0x8},
    {0x80CB0000, 0x300, 0x80000000, 0x8},
    {0x81CB0000, 0x300, 0x80000000, 0x8},
    {0x80CA0000, 0x100, 0x80000000, 0x8},
    {0, 0, 0, 0},
};

void GetWindowStyles(int windowed, DWORD *style, DWORD *exStyle)
{
    int index = g_WindowSettings.styleIndex;
    if (index < 0 || index > 10) {
        index = 0;
    }
    if (!windowed) {
        *style = s_WindowStyles[index][2];
        *exStyle = s_WindowStyles[index][3];
        return;
    }
    *style = s_WindowStyles[index][0];
    *exStyle = s_WindowStyles[index][1];
    if (g_WindowSettings.altEnterAllowed) {
        *style |= WS_MAXIMIZEBOX;
    }
    if (g_WindowSettings.visibleOption) {
        *style |= WS_VISIBLE;
    }
    if (g_WindowSettings.resizable) {
        *style |= WS_THICKFRAME;
    }
    if (g_WindowSettings.transparentOption) {
        *exStyle |= WS_EX_TRANSPARENT;
    }
    if (g_WindowSettings.layeredOption) {
        *exStyle |= WS_EX_LAYERED;
    }
}

int PostCloseOnce(void)
{
    if (!g_Window.closePosted && g_Window.mainWindow != NULL) {
        g_Window.closePosted = 1;
        PostMessageA(g_Window.mainWindow, WM_CLOSE, 0, 0);
    }
    return 0;
}

static int HasDisplayModeOfSize(int width, int height)
{
    int count = GetDisplayModeCount();
    for (int i = 0; i < count; i++) {
        DisplayModeRecord mode = GetDisplayModeAt(i);
        if (mode.width == width && mode.height == height) {
            return 1;
        }
    }
    return 0;
}

int ChooseFullScreenSize(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    int lowResolution = width == 320 && height == 240;
    if (!HasDisplayModeOfSize(width, height) && !(lowResolution && GetUseDirect3D())) {
        return -1;
    }
    if (lowResolution) {
        SetLowResolutionEmulation(1);
        SetScreenSizeSetting(640, 480);
    }
    return 0;
}

static void ScaledScreenSize(int *width, int *height)
{
    double rateX, rateY;
    GetWindowScaleRates(&rateX, &rateY);
    int screenWidth, screenHeight;
    GetScreenSize(&screenWidth, &screenHeight);
    *width = (int)(screenWidth * rateX);
    *height = (int)(screenHeight * rateY);
}

static void SetStylesForMode(int windowed, DWORD *style, DWORD *exStyle)
{
    GetWindowStyles(windowed, style, exStyle);
    SetWindowLongA(g_Window.mainWindow, GWL_STYLE, (LONG)*style);
    SetWindowLongA(g_Window.mainWindow, GWL_EXSTYLE, (LONG)*exStyle);
}

void GetWantedClientSize(RECT *client)
{
    SetRect(client, 0, 0, 0, 0);
    if (g_WindowSettings.explicitSizeSet) {
        client->right = g_WindowSettings.explicitWidth;
        client->bottom = g_WindowSettings.explicitHeight;
    } else {
        int width, height;
        ScaledScreenSize(&width, &height);
        client->right = width;
        client->bottom = height;
    }
}

void PlaceWindowOnDesktop(const RECT *client, DWORD style, DWORD exStyle, int *x, int *y, int *width, int *height)
{
    RECT rect = *client;
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    *x = (g_Window.desktopWidth - *width) / 2;
    *y = (g_Window.desktopHeight - *height) / 2;
    if (g_WindowSettings.explicitPositionSet) {
        *x = g_WindowSettings.explicitX;
        *y = g_WindowSettings.explicitY;
    }
}

// ---------------------------------------------------------------------------------------------------------------

int StoreWindowModeFlag(int windowed)
{
    g_WindowSettings.windowed = windowed;
    AddLog(windowed ? "ウインドウモードフラグが立てられました\n" : "ウインドウモードフラグが倒されました\n");
    // The menu bar belongs to window mode; full screen shows it only on demand.
    if (GetWindowMenuHandle() != NULL && g_Window.mainWindow != NULL) {
        SetMenu(g_Window.mainWindow, windowed ? GetWindowMenuHandle() : NULL);
        NoteMenuAttached(windowed);
    }
    return 0;
}

int ChangeWindowMode(int windowed)
{
    AddLog("ChangeWindowMode実行 \n");
    windowed = windowed != 0;
    if (windowed == g_WindowSettings.windowed) {
        return 0;
    }
    if (!windowed && g_Window.mainWindow != NULL && ChooseFullScreenSize() != 0) {
        return -1;
    }
    g_WindowSettings.visibleOption = 1;
    StoreWindowModeFlag(windowed);
    if (g_Window.mainWindow == NULL || IS_USER_WINDOW_MODE()) {
        return 0;
    }
    g_Window.modeChanging = 1;
    ApplyWindowStyle();
    // The size the program draws at (320x240 under the emulation) tells the mode change to keep the emulation
    // on the way to full screen and to end it on the way back.
    int width, height;
    QueryScreenState(&width, &height, NULL);
    int result = ChangeScreenMode(width, height, -1, 1, -1);
    g_Window.modeChanging = 0;
    if (!windowed) {
        g_Window.menuShowCount = 0;
    }
    return result;
}

static void ApplyFullScreenStyle(void)
{
    AddLog("ウインドウスタイルをフルスクリーンモード用に変更します... ");
    DWORD style, exStyle;
    SetStylesForMode(0, &style, &exStyle);
    int width, height;
    GetScreenSize(&width, &height);
    SetRect(&g_Window.clientRect, 0, 0, width, height);
    ShowWindow(g_Window.mainWindow, SW_SHOW);
    UpdateWindow(g_Window.mainWindow);
    SetWindowPos(g_Window.mainWindow, HWND_TOPMOST, 0, 0, width, height, 0);
    ApplyCursorState(0);
}

static void ApplyWindowedStyle(void)
{
    AddLog("ウインドウスタイルをウインドウモード用に変更します... ");
    DWORD style, exStyle;
    SetStylesForMode(1, &style, &exStyle);
    RECT rect = {0, 0, 0, 0};
    if (g_WindowSettings.explicitSizeSet || !g_WindowSettings.keepSize) {
        GetWantedClientSize(&rect);
        rect.bottom += g_WindowSettings.explicitSizeSet ? 0 : GetToolbarHeight();
    } else {
        GetClientRect(g_Window.mainWindow, &rect);
    }
    int x, y, width, height;
    PlaceWindowOnDesktop(&rect, style, exStyle, &x, &y, &width, &height);
    SetWindowPos(g_Window.mainWindow, HWND_NOTOPMOST, x, y, width, height, SWP_FRAMECHANGED);
    SetWindowPos(g_Window.mainWindow, NULL, x, y, width, height, SWP_NOZORDER);
    GetWindowClientArea(&g_Window.clientRect);
    // A client area left of or above the desktop's origin is moved back on screen.
    int moveX = g_Window.clientRect.left < 0 ? -g_Window.clientRect.left : 0;
    int moveY = g_Window.clientRect.top < 0 ? -g_Window.clientRect.top : 0;
    if (moveX != 0 || moveY != 0) {
        SetWindowPos(g_Window.mainWindow, NULL, x + moveX, y + moveY, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
        GetWindowClientArea(&g_Window.clientRect);
    }
    // Window mode leaves the cursor to the caller's wish (SetCursorVisible, shown by default), also when the
    // wish was made before start-up: the first fitting of the window re-applies it rather than showing the
    // cursor over it. Full screen hides it whatever the wish.
    SetCursorVisible(-1);
}

int ApplyWindowStyle(void)
{
    if (g_Window.mainWindow == NULL) {
        return 0;
    }
    if (g_WindowSettings.windowed) {
        ApplyWindowedStyle();
    } else {
        ApplyFullScreenStyle();
    }
    AddLog("完了\n");
    SetActiveWindow(g_Window.mainWindow);
    PostMessageA(g_Window.mainWindow, WM_SETCURSOR, (WPARAM)g_Window.mainWindow, 0);
    return 0;
}

int SetWindowResizable(int resizable, int keepSize)
{
    int newKeepSize = keepSize != 1;
    if (g_WindowSettings.resizable == resizable && g_WindowSettings.keepSize == newKeepSize) {
        return 0;
    }
    g_WindowSettings.resizable = resizable;
    g_WindowSettings.keepSize = newKeepSize;
    if (g_WindowSettings.windowed) {
        ApplyWindowStyle();
    }
    return 0;
}

int SetWindowStretchRates(double xRate, double yRate)
{
    if (yRate <= 0.0) {
        yRate = xRate;
    }
    if (xRate == g_WindowSettings.stretchRateX && yRate == g_WindowSettings.stretchRateY) {
        return 0;
    }
    g_WindowSettings.stretchRateX = xRate > 0.0 ? xRate : 1.0;
    g_WindowSettings.stretchRateY = yRate > 0.0 ? yRate : 1.0;
    g_WindowSettings.explicitSizeSet = 0;
    if (g_WindowSettings.windowed) {
        ApplyWindowStyle();
    }
    return 0;
}

int FitWindowToScreen(void)
{
    HWND window = g_Window.mainWindow;
    if (window == NULL || IS_USER_WINDOW_MODE()) {
        return 0;
    }
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    if (g_WindowSettings.explicitSizeSet) {
        width = g_WindowSettings.explicitWidth;
        height = g_WindowSettings.explicitHeight;
        if (g_EngineInitialising) {
            g_WindowSettings.sizeFixedByFit = 1;
        } else if (g_WindowSettings.resizable || g_WindowSettings.keepSize) {
            g_WindowSettings.explicitSizeSet = 0;
        }
    }
    if (g_WindowSettings.keepSize || g_WindowSettings.explicitSizeSet) {
        int maxWidth, maxHeight;
        ScaledScreenSize(&maxWidth, &maxHeight);
        width = width < maxWidth ? width : maxWidth;
        height = height < maxHeight ? height : maxHeight;
    }
    RECT rect = {0, 0, width, height + GetToolbarHeight()};
    AdjustWindowRectEx(&rect, (DWORD)GetWindowLongA(window, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongA(window, GWL_EXSTYLE));
    RECT current;
    GetWindowRect(window, &current);
    int x = current.left, y = current.top;
    if (g_WindowSettings.explicitPositionSet) {
        x = g_WindowSettings.explicitX;
        y = g_WindowSettings.explicitY;
        if (!g_EngineInitialising) {
            g_WindowSettings.explicitPositionSet = 0;
        }
    }
    int windowWidth = rect.right - rect.left, windowHeight = rect.bottom - rect.top;
    // A layered window is presented whole by the layered-window presenter: it takes the screen size itself.
    if (g_WindowSettings.layeredOption) {
        GetScreenSize(&windowWidth, &windowHeight);
    }
    MoveWindow(window, x, y, windowWidth, windowHeight, TRUE);
    if (g_WindowSettings.windowed && !g_Window.fittedOnce) {
        g_Window.fittedOnce = 1;
        g_WindowSettings.visibleOption = 1;
        ApplyWindowStyle();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Resize drag.

static int DragsLeft(int edge)
{
    return edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
}

static int DragsRight(int edge)
{
    return edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT;
}

static int DragsTop(int edge)
{
    return edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
}

static int DragsBottom(int edge)
{
    return edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT;
}

static void KeepAspectRatio(SizingInput *s, int clientWidth, int clientHeight)
{
    int W = s->screenWidth, H = s->screenHeight;
    int widthLeads;
    if (s->edge == WMSZ_LEFT || s->edge == WMSZ_RIGHT) {
        widthLeads = 1;
    } else if (s->edge == WMSZ_TOP || s->edge == WMSZ_BOTTOM) {
        widthLeads = 0;
    } else {
        widthLeads = (double)clientWidth / W > (double)clientHeight / H;
    }
    if (widthLeads) {
        s->stretchRateX = s->stretchRateY = (double)clientWidth / W;
        clientHeight = clientWidth * H / W;
    } else {
        s->stretchRateX = s->stretchRateY = (double)clientHeight / H;
        clientWidth = clientHeight * W / H;
    }
    if (DragsLeft(s->edge)) {
        s->rect.left = s->rect.right - clientWidth - s->frameWidth;
    } else {
        s->rect.right = s->rect.left + clientWidth + s->frameWidth;
    }
    if (DragsTop(s->edge)) {
        s->rect.top = s->rect.bottom - clientHeight - s->frameHeight;
    } else {
        s->rect.bottom = s->rect.top + clientHeight + s->frameHeight;
    }
}

static void LimitToFixedSize(SizingInput *s, int clientWidth, int clientHeight)
{
    int maxWidth = (int)(s->screenWidth * s->stretchRateX);
    int maxHeight = (int)(s->screenHeight * s->stretchRateY);
    if (clientWidth > maxWidth) {
        if (DragsRight(s->edge)) {
            s->rect.right = s->rect.left + maxWidth + s->frameWidth;
        } else {
            s->rect.left = s->rect.right - maxWidth - s->frameWidth;
        }
    }
    if (clientHeight > maxHeight) {
        if (DragsBottom(s->edge)) {
            s->rect.bottom = s->rect.top + maxHeight + s->frameHeight;
        } else {
            s->rect.top = s->rect.bottom - maxHeight - s->frameHeight;
        }
    }
}

void ComputeSizingRect(SizingInput *s)
{
    int clientWidth = s->rect.right - s->rect.left - s->frameWidth;
    int clientHeight = s->rect.bottom - s->rect.top - s->frameHeight;
    if (clientWidth + s->frameWidth > s->desktopWidth) {
        clientWidth = s->desktopWidth - s->frameWidth;
    }
    if (clientHeight + s->frameHeight > s->desktopHeight) {
        clientHeight = s->desktopHeight - s->frameHeight;
    }
    if (s->fixedSize) {
        LimitToFixedSize(s, clientWidth, clientHeight);
    } else {
        KeepAspectRatio(s, clientWidth, clientHeight);
    }
}

void AdjustSizingRect(int edge, RECT *rect)
{
    SizingInput sizing;
    sizing.edge = edge;
    sizing.rect = *rect;
    GetScreenSize(&sizing.screenWidth, &sizing.screenHeight);
    RECT windowRect, client;
    GetWindowRect(g_Window.mainWindow, &windowRect);
    GetClientRect(g_Window.mainWindow, &client);
    sizing.frameWidth = (windowRect.right - windowRect.left) - client.right;
    sizing.frameHeight = (windowRect.bottom - windowRect.top) - client.bottom;
    sizing.desktopWidth = g_Window.desktopWidth;
    sizing.desktopHeight = g_Window.desktopHeight;
    sizing.fixedSize = g_WindowSettings.explicitSizeSet || g_WindowSettings.keepSize;
    GetWindowScaleRates(&sizing.stretchRateX, &sizing.stretchRateY);
    ComputeSizingRect(&sizing);
    *rect = sizing.rect;
    if (!sizing.fixedSize) {
        g_WindowSettings.stretchRateX = sizing.stretchRateX;
        g_WindowSettings.stretchRateY = sizing.stretchRateY;
    }
}
