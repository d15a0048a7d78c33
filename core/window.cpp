// The engine's main window: preparing the process environment and creating the window (memory report, timer
// choice, random seed, screen saver, character set, double-start check, class registration), the window
// procedure, and the reaction to activation changes. Window thread only.
#include "core/window_state.h"

#include "core/core_test_hooks.h"

#include <stdio.h>

#include "font/font.h"
#include "graphics/graphics.h"
#include "input/input.h"
#include "media/media.h"
#include "network/network.h"
#include "sound/sound.h"

WindowSettings g_WindowSettings;
WindowRuntime g_Window;

// The two private messages that raise (wParam 1) or clear the input flags (input.h).
enum {
    PRIVATE_MESSAGE_INPUT_FLAG_A = WM_USER + 0x6F,
    PRIVATE_MESSAGE_INPUT_FLAG_B = WM_USER + 0x70,
};

int IsPartialPaintDue(void)
{
    return MilliCountElapsed(g_Window.lastPresentTime, GetNowMilliCount()) > PARTIAL_PAINT_INTERVAL_MS;
}

int GetDesktopColorBits(void)
{
    HDC screen = GetDC(NULL);
    int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(NULL, screen);
    return bits;
}

// A code page without a double-byte character set is recorded as 0 and its text walked by the Shift-JIS rule.
int CharSetFromCodePage(int oemCodePage, int *codePage)
{
    CharSetId charSet = GetCodePageCharSet((unsigned int)oemCodePage);
    *codePage = charSet != CHARSET_DEFAULT ? oemCodePage : 0;
    return charSet != CHARSET_DEFAULT ? charSet : CHARSET_SHIFTJIS;
}

// ---------------------------------------------------------------------------------------------------------------
// The caller's choices, made before start-up; they survive the clearing of the window state.

int SetWindowlessMode(int flag)
{
    g_WindowSettings.windowless = flag != 0;
    return 0;
}

int SetUserWindow(HWND window)
{
    g_WindowSettings.userWindow = window;
    return 0;
}

int SetWindowActivationCallback(WindowActivationCallback callback, void *data)
{
    g_WindowSettings.activationCallback = callback;
    g_WindowSettings.activationCallbackData = data;
    return 0;
}

int SetWindowModeChangeCallback(WindowModeChangeCallback callback, void *data)
{
    g_WindowSettings.modeChangeCallback = callback;
    g_WindowSettings.modeChangeCallbackData = data;
    return 0;
}

int SetWindowMessageHook(WindowMessageHook hook)
{
    g_WindowSettings.messageHook = hook;
    return 0;
}

int SetClipCursorToClient(int flag)
{
    g_WindowSettings.clipCursor = flag != 0;
    return 0;
}

int SetSystemKeySuppression(int flag)
{
    g_WindowSettings.suppressSystemKeys = flag != 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// System-key suppression: while the window is active a low-level keyboard hook of this process swallows the keys
// that would switch away from the program. A low-level hook runs in the installing thread's process, so no hook
// library has to be written out. Before Windows 2000 the screen-saver-running switch does the same.

static HHOOK s_SystemKeyHook;

int IsSystemKeyStroke(DWORD virtualKey, DWORD hookFlags, int controlDown)
{
    int altDown = (hookFlags & LLKHF_ALTDOWN) != 0;
    return virtualKey == VK_LWIN || virtualKey == VK_RWIN || virtualKey == VK_APPS ||
           (altDown && (virtualKey == VK_TAB || virtualKey == VK_ESCAPE)) || (controlDown && virtualKey == VK_ESCAPE);
}

static LRESULT CALLBACK SystemKeyHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const KBDLLHOOKSTRUCT *key = (const KBDLLHOOKSTRUCT *)lParam;
        if (IsSystemKeyStroke(key->vkCode, key->flags, (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0)) {
            return 1;
        }
    }
    return CallNextHookEx(s_SystemKeyHook, code, wParam, lParam);
}

int IsSystemKeyHookInstalled(void)
{
    return s_SystemKeyHook != NULL;
}

void RemoveSystemKeyHook(void)
{
    if (s_SystemKeyHook != NULL) {
        UnhookWindowsHookEx(s_SystemKeyHook);
        s_SystemKeyHook = NULL;
    }
}

static void SwitchSystemKeySuppression(int active)
{
    if (!g_WindowSettings.suppressSystemKeys) {
        return;
    }
    if (g_SystemInformation.windowsVersionId < 0x106) {
        BOOL previous;
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, (UINT)active, &previous, 0);
    } else if (active && s_SystemKeyHook == NULL) {
        s_SystemKeyHook = SetWindowsHookExA(WH_KEYBOARD_LL, SystemKeyHookProc, g_Window.instance, 0);
    } else if (!active) {
        RemoveSystemKeyHook();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Window creation.

static void LogMemoryReport(void)
{
    typedef BOOL(WINAPI * GlobalMemoryStatusExFunction)(LPMEMORYSTATUSEX);
    GlobalMemoryStatusExFunction statusEx = NULL;
    if (g_SystemInformation.windowsVersionId >= 0x106) {
        statusEx = BOUND_AS(GlobalMemoryStatusExFunction,
                            GetProcAddress(GetModuleHandleA("Kernel32.dll"), "GlobalMemoryStatusEx"));
    }
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    unsigned long long totalBytes, availableBytes;
    if (statusEx != NULL && statusEx(&status)) {
        totalBytes = status.ullTotalPhys;
        availableBytes = status.ullAvailPhys;
    } else {
        MEMORYSTATUS oldStatus;
        oldStatus.dwLength = sizeof(oldStatus);
        GlobalMemoryStatus(&oldStatus);
        totalBytes = oldStatus.dwTotalPhys;
        availableBytes = oldStatus.dwAvailPhys;
    }
    double total = (double)totalBytes / 1048576.0;
    double available = (double)availableBytes / 1048576.0;
    LogFormatLine("メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ", total, available);
    char text[64];
    SprintfWrap(text, sizeof(text), "%.2fMB\n", available);
    OutputDebugStringA(text);
}

// Counts how often each clock changes value within one loop and keeps the finer one.
static void ChooseTimer(void)
{
    TIMECAPS caps;
    timeGetDevCaps(&caps, sizeof(caps));
    g_Window.timerPeriodRaised = RaiseTimerPeriod() == 0;
    if (!g_SystemInformation.highResolution) {
        return;
    }
    AddLog("タイマーの精度を検査します\n");
    int multimediaCount = 0, counterCount = 0;
    DWORD start = timeGetTime(), lastTime = start;
    LARGE_INTEGER lastCounter, counter;
    QueryPerformanceCounter(&lastCounter);
    while (multimediaCount < 60 && counterCount < 60 && timeGetTime() - start < 1000) {
        DWORD now = timeGetTime();
        if (now != lastTime) {
            multimediaCount++;
            lastTime = now;
        }
        QueryPerformanceCounter(&counter);
        if (counter.QuadPart != lastCounter.QuadPart) {
            counterCount++;
            lastCounter = counter;
        }
    }
    LogFormatLine("精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d", multimediaCount,
                  counterCount);
    if (multimediaCount > counterCount) {
        LogFormatLine("Multi Media Timer を使用します Timer 精度 : %d.00 ms ", (int)caps.wPeriodMin);
        g_SystemInformation.highResolution = 0;
    } else {
        LogFormatLine("パフォーマンスカウンターを使用します タイマー精度 : %lf KHz ",
                      (double)g_SystemInformation.performanceFrequency / 1000.0);
    }
}

static void ChooseCharSet(void)
{
    if (GetEngineCharSet() != CHARSET_DEFAULT) {
        return;
    }
    SetEngineCharSet(CharSetFromCodePage((int)GetOEMCP(), &g_WindowSettings.codePage));
}

static int CheckDoubleStart(void)
{
    AddLog("ソフトの二重起動検査... ");
    if (FindWindowA(g_WindowSettings.className, NULL) == NULL) {
        AddLog("二重起動はされていませんでした\n");
        return 0;
    }
    if (!g_WindowSettings.allowMultipleInstances) {
        AddLog("二重起動されています、ソフトを終了します\n");
        g_Window.quit = 1;
        return -1;
    }
    AddLog("二重起動されていますが続行します\n");
    return 0;
}

static void RegisterWindowClass(void)
{
    WNDCLASSEXA windowClass;
    MemFill(&windowClass, 0, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = g_Window.instance;
    windowClass.hIcon =
        LoadIconA(g_Window.instance, MAKEINTRESOURCEA(g_WindowSettings.iconId != 0 ? g_WindowSettings.iconId : 0x7F00));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
    windowClass.lpszClassName = g_WindowSettings.className;
    AddLog("ウインドウクラスを登録します... ");
    if (RegisterClassExA(&windowClass) == 0) {
        g_Window.quit = 1;
    } else {
        AddLog("登録に成功しました\n");
    }
    if (g_WindowSettings.title[0] == '\0') {
        StrCopy(g_WindowSettings.title, DEFAULT_WINDOW_TITLE);
    }
}

// The menu goes with the window only in window mode: full screen shows it on demand (menu.cpp).
static HMENU MenuForNewWindow(void)
{
    HMENU menu = g_WindowSettings.windowed ? GetWindowMenuHandle() : NULL;
    NoteMenuAttached(menu != NULL);
    return menu;
}

static HWND CreateTheWindow(void)
{
    int screenWidth, screenHeight;
    GetScreenSize(&screenWidth, &screenHeight);
    DWORD style, exStyle;
    GetWindowStyles(g_WindowSettings.windowed, &style, &exStyle);
    if (!g_WindowSettings.windowed) {
        AddLog("フルスクリーンモード用のウインドウを作成します\n");
        return CreateWindowExA(exStyle, g_WindowSettings.className, g_WindowSettings.title, style, 0, 0, screenWidth,
                               screenHeight, NULL, MenuForNewWindow(), g_Window.instance, NULL);
    }
    AddLog("ウインドウモード起動用のウインドウを作成します\n");
    RECT client;
    GetWantedClientSize(&client);
    int x, y, width, height;
    PlaceWindowOnDesktop(&client, style, exStyle, &x, &y, &width, &height);
    return CreateWindowExA(exStyle, g_WindowSettings.className, g_WindowSettings.title, style, x, y, width, height,
                           NULL, MenuForNewWindow(), g_Window.instance, NULL);
}

// Registers the class and makes the engine's own window; -1 when it cannot be made.
static int MakeOwnWindow(void)
{
    RegisterWindowClass();
    HWND window = CreateTheWindow();
    if (window == NULL) {
        g_Window.quit = 1;
        return AddLog("ウインドウの作成に失敗しました\n");
    }
    g_Window.mainWindow = window;
    AddLog("ウインドウの作成に成功しました\n");
    if (g_WindowSettings.transparentOption) {
        ShowWindow(window, SW_HIDE);
        AddLog("ウインドウを表示します\n");
    } else {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    g_Window.closePosted = 0;
    g_Window.windowDestroyed = 0;
    g_Window.active = 1;
    return 0;
}

// User window mode: the caller's window becomes the main window; its own procedure still sees every message
// first (WindowProc calls it) and is put back at the end.
static void SubclassUserWindow(void)
{
    g_Window.mainWindow = g_WindowSettings.userWindow;
    g_Window.active = 1;
    g_Window.userWindowOldProc = (WNDPROC)(LONG_PTR)GetWindowLongA(g_Window.mainWindow, GWL_WNDPROC);
    SetWindowLongA(g_Window.mainWindow, GWL_WNDPROC, (LONG)(LONG_PTR)WindowProc);
}

int CreateMainWindow(void)
{
    MemFill(&g_Window, 0, sizeof(g_Window));
    g_Window.beingCreated = 1;
    g_Window.updateLayeredWindow =
        BOUND_AS(UpdateLayeredWindowFunction, GetProcAddress(GetModuleHandleA("user32"), "UpdateLayeredWindow"));
    if (g_WindowSettings.className[0] == '\0') {
        StrCopy(g_WindowSettings.className,
                g_WindowSettings.title[0] != '\0' ? g_WindowSettings.title : DEFAULT_CLASS_NAME);
    }
    g_Window.instance = GetModuleHandleA(NULL);
    g_Window.windowThreadId = GetCurrentThreadId();
    LogMemoryReport();
    g_Window.desktopWidth = GetSystemMetrics(SM_CXSCREEN);
    g_Window.desktopHeight = GetSystemMetrics(SM_CYSCREEN);
    g_Window.desktopColorBits = GetDesktopColorBits();
    ChooseTimer();
    SeedRandom(timeGetTime() & 0x7FFFFFFF);
    SetScreenSaverActive(FALSE);
    g_Window.screenSaverTurnedOff = 1;
    ChooseCharSet();
    if (g_WindowSettings.windowless) {
        g_Window.beingCreated = 0;
        return 0;
    }

    if (CheckDoubleStart() != 0) {
        return -1;
    }
    if (GetWindowMenuHandle() != NULL) {
        EnumerateMenuItems(GetWindowMenuHandle());
    }
    if (IS_USER_WINDOW_MODE()) {
        SubclassUserWindow();
    } else if (MakeOwnWindow() != 0) {
        return -1;
    }
    HWND window = g_Window.mainWindow;

    if (!g_WindowSettings.windowed) {
        AddLog("カーソルを不可視にしました\n");
        SetCursor(NULL);
    }
    AddLog("ＩＭＥを無効にしました\n");
    WinnlsEnableImeFunction enableIme = BoundWinnlsEnableIme();
    if (!GetImeEnableFlag() && enableIme != NULL) {
        enableIme(window, FALSE);
    }
    if (g_WindowSettings.windowed) {
        GetWindowClientArea(&g_Window.clientRect);
        SetCursorVisible(-1);
    } else {
        ApplyCursorState(0);
    }
    g_EngineEnding = 0;
    if (!IS_USER_WINDOW_MODE() && !g_WindowSettings.transparentOption) {
        BringWindowToTop(window);
        FitWindowToScreen();
    }
    // Activation changes during creation only stored the flag: the suppression starts here.
    SwitchSystemKeySuppression(g_Window.active);
    g_Window.beingCreated = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Activation.

static void OnBecomingActive(WPARAM wParam)
{
    if (g_WindowSettings.windowed) {
        EndSceneIfNeeded();
        if (TestGraphicsDeviceLost()) {
            ReinitGraphicsKeepMode();
        }
    } else if (g_EngineInitialised) {
        if (HIWORD(wParam) == 0) {
            ReinitGraphicsKeepMode();
        }
    }
    if (!(g_WindowSettings.windowed && g_WindowSettings.runInBackground)) {
        ResumeAllMovies();
    }
    ReacquireInputDevices();
}

static int OnBecomingInactiveFullScreen(void)
{
    TestGraphicsDeviceLost(); // device drawing stops until the rebuild at re-activation
    ReleaseGraphicsDevice();
    if (!IsDeviceMode() || g_SystemInformation.windowsVersionId >= 0x108) {
        ChangeDisplaySettingsA(NULL, 0);
        ShowWindow(g_Window.mainWindow, SW_MINIMIZE);
    }
    EnsureDesktopDisplayMode();
    if (g_Window.compositionTurnedOff) {
        EnableDesktopComposition(1);
    }
    if (!HasGraphRestoreCallback() && !IS_USER_WINDOW_MODE()) {
        AddLog("復元関数が登録されていないため終了します\n");
        PostCloseOnce();
        return -1;
    }
    PauseAllMovies();
    return 0;
}

static void OnBecomingInactiveWindowed(void)
{
    if (!g_WindowSettings.runInBackground) {
        PauseAllMovies();
    }
    ReacquireInputDevices();
    ClipCursor(NULL);
    g_Window.cursorClipped = 0;
    HDC dc = GetDC(g_Window.mainWindow);
    RedrawWindowScreen(dc);
    ReleaseDC(g_Window.mainWindow, dc);
}

int OnWindowActivation(WPARAM wParam)
{
    int active = LOWORD(wParam) != 0;
    if (g_Window.beingCreated) {
        g_Window.active = active;
        return 0;
    }
    if (active) {
        // Active (and, as the message says, not minimised) before the handling: the device rebuild and the restore
        // callback draw and make graphs (fonts make their glyph textures), and would otherwise wait for the very
        // activation they are part of.
        g_Window.active = 1;
        g_Window.minimised = HIWORD(wParam) != 0;
        OnBecomingActive(wParam);
    } else if (!g_WindowSettings.windowed) {
        if (OnBecomingInactiveFullScreen() != 0) {
            return -1;
        }
    } else {
        OnBecomingInactiveWindowed();
    }
    ApplyJoypadVibration();
    if (g_WindowSettings.activationCallback != NULL) {
        g_WindowSettings.activationCallback(active, g_WindowSettings.activationCallbackData);
    }
    SwitchSystemKeySuppression(active);
    g_Window.active = active;
    return 0;
}

// While the pump runs, activation changes wait in the ring until the end of its pass (the pump drains it).
static void QueueActivation(WPARAM wParam)
{
    if (!g_Window.pumpRunning || g_Window.beingCreated || g_Window.activationCount >= ACTIVATION_RING_SIZE) {
        OnWindowActivation(wParam);
        return;
    }
    g_Window.activationRing[g_Window.activationWrite] = (int)wParam;
    g_Window.activationWrite = (g_Window.activationWrite + 1) % ACTIVATION_RING_SIZE;
    g_Window.activationCount++;
}

// ---------------------------------------------------------------------------------------------------------------
// Window procedure.

static void RecordWindowRect(HWND window)
{
    GetWindowRect(window, &g_Window.windowRect);
}

// Under Wine every present into the window is answered by an expose, that is by a paint: a paint that comes
// within the partial-paint interval of a present is that echo, and presenting for it would loop.
static int IsPresentEcho(void)
{
    int last = GetLastPresentMilliCount();
    return last != -1 && MilliCountElapsed(last, GetNowMilliCount()) <= PARTIAL_PAINT_INTERVAL_MS;
}

// A paint presents the back screen as it is: the vertical-blank wait would only hold the window thread.
static void PresentForPaint(void)
{
    int wait = GetWaitVerticalBlank();
    SetWaitVerticalBlank(0);
    CopyScreenAndFlip();
    SetWaitVerticalBlank(wait);
}

static void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (g_WindowSettings.windowed) {
        g_Window.painting = 1;
        // No window-side memory screen exists in this engine, so an inactive window has nothing of its own to
        // redraw here.
        if (!g_EngineInitialised && g_WindowSettings.windowRegion == NULL) {
            HBRUSH brush = g_WindowSettings.backgroundSet
                               ? CreateSolidBrush(RGB(g_WindowSettings.backgroundRed, g_WindowSettings.backgroundGreen,
                                                      g_WindowSettings.backgroundBlue))
                               : (HBRUSH)GetStockObject(BLACK_BRUSH);
            FillRect(dc, &paint.rcPaint, brush);
            if (g_WindowSettings.backgroundSet) {
                DeleteObject(brush);
            }
        } else if (GetDrawTarget() == -2 && !IsPresentEcho()) {
            RECT client;
            GetClientRect(window, &client);
            int whole = EqualRect(&client, &paint.rcPaint);
            if (!whole && !g_Window.paintPending) {
                g_Window.paintPending = 1;
                g_Window.lastPresentTime = GetNowMilliCount();
            } else if (whole || IsPartialPaintDue()) {
                PresentForPaint();
                g_Window.lastPresentTime = GetNowMilliCount();
            }
        }
        g_Window.painting = 0;
    }
    EndPaint(window, &paint);
}

static LRESULT OnClose(HWND window)
{
    AddLog("ウインドウを閉じようとしています\n");
    if (!(g_WindowSettings.holdClose && !g_EngineEnding)) {
        DestroyWindow(window);
    }
    return 0;
}

static void OnDestroy(void)
{
    AddLog("ウインドウが破棄されようとしています\n");
    g_Window.windowDestroyed = 1;
    if (!g_WindowSettings.noQuitMessage) {
        PostQuitMessage(0);
    }
    g_Window.quit = 1;
    AddLog("ソフトを終了する準備が整いました\n");
}

static void OnSize(HWND window, WPARAM wParam)
{
    RecordWindowRect(window);
    g_Window.minimised = wParam == SIZE_MINIMIZED;
    if (wParam == SIZE_MAXIMIZED) {
        if (g_WindowSettings.altEnterAllowed && g_WindowSettings.windowed && !g_Window.beingCreated &&
            !g_Window.modeChanging) {
            g_Window.modeSwitchRequested = 1;
        }
    } else if (wParam != SIZE_MINIMIZED) {
        // A minimised window has no client area to fit around.
        FitWindowToScreen();
    }
}

static void OnDisplayChange(WPARAM wParam, LPARAM lParam)
{
    if (!g_WindowSettings.windowed || g_Window.modeChanging) {
        return;
    }
    int width, height, bits;
    QueryScreenState(&width, &height, &bits);
    int newBits = (int)wParam, newWidth = LOWORD(lParam), newHeight = HIWORD(lParam);
    if (newWidth == width && newHeight == height && newBits == bits) {
        return;
    }
    if (HasGraphRestoreCallback() && newBits != 24 && newBits != 8 && newWidth >= width && newHeight >= height) {
        ResumeAllMovies();
        return;
    }
    AddLog("復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\n");
    AddLog("またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n");
    PostCloseOnce();
}

static void OnKeyDown(WPARAM key)
{
    static const struct {
        WPARAM key;
        unsigned char code;
    } navigation[] = {{VK_DELETE, 0x10}, {VK_LEFT, 0x1D}, {VK_RIGHT, 0x1C}, {VK_UP, 0x1E},  {VK_DOWN, 0x1F},
                      {VK_HOME, 0x1A},   {VK_END, 0x19},  {VK_PRIOR, 0x17}, {VK_NEXT, 0x15}};
    for (const auto &entry : navigation) {
        if (entry.key == key) {
            PushInputChar(entry.code);
            return;
        }
    }
}

static void OnChar(WPARAM character)
{
    if (character == '\n') {
        PushInputChar(0x0D);
        return;
    }
    static const unsigned char controls[] = {0x01, 0x03, 0x08, 0x09, 0x0D, 0x10, 0x16, 0x18, 0x1B};
    int take = character >= 0x20;
    for (unsigned char control : controls) {
        take |= character == control;
    }
    if (take) {
        PushInputChar((unsigned char)character);
    }
}

static void HideCursorWhileWanted(void)
{
    if (!IsCursorShownByEngine()) {
        SetCursor(NULL);
        while (ShowCursor(FALSE) >= 0) {
        }
    }
}

static void OnSetCursorFullScreenMenu(LPARAM lParam)
{
    int hitTest = LOWORD(lParam);
    if ((hitTest == HTMENU || hitTest == HTCAPTION) && g_Window.menuShowCount < 5) {
        EndSceneAndDialogMode(1);
        DrawMenuBar(g_Window.mainWindow);
        g_Window.menuShowCount++;
        SetCursorVisible(-1);
    } else if (hitTest != 0 && g_Window.menuShowCount > 0) {
        EndSceneAndDialogMode(0);
        g_Window.menuShowCount = 0;
    }
}

static void OnMouseButton(UINT message)
{
    if (message == WM_LBUTTONDOWN) {
        LogMousePoint(1);
    } else if (message == WM_RBUTTONDOWN) {
        LogMousePoint(2);
    } else if (message == WM_MBUTTONDOWN) {
        LogMousePoint(4);
    }
    HideCursorWhileWanted();
}

// What an unhandled message answers: the caller's own procedure's result in user window mode.
static LRESULT DefaultResult(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT userResult)
{
    return IS_USER_WINDOW_MODE() ? userResult : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT userResult = 0;
    if (IS_USER_WINDOW_MODE() && g_Window.userWindowOldProc != NULL) {
        userResult = CallWindowProcA(g_Window.userWindowOldProc, window, message, wParam, lParam);
    }
    if (g_WindowSettings.messageHook != NULL) {
        g_WindowSettings.messageHook(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_CREATE:
        if (g_WindowSettings.windowRegion != NULL) {
            SetWindowRgn(window, g_WindowSettings.windowRegion, TRUE);
        }
        break;
    case WM_DESTROY:
        if (IS_USER_WINDOW_MODE()) {
            break;
        }
        OnDestroy();
        return 0;
    case WM_MOVE:
        RecordWindowRect(window);
        if (g_WindowSettings.windowed && !g_Window.modeChanging) {
            OnWindowMoved(lParam);
        }
        break;
    case WM_SIZE:
        OnSize(window, wParam);
        break;
    case WM_ACTIVATEAPP:
        if (wParam != 0) {
            break;
        }
        QueueActivation(wParam);
        break;
    case WM_ACTIVATE:
        QueueActivation(wParam);
        break;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_CLOSE:
        if (IS_USER_WINDOW_MODE()) {
            break;
        }
        return OnClose(window);
    case WM_SETCURSOR:
        if (!g_WindowSettings.windowed && IsDeviceMode() && IsMenuInUse()) {
            OnSetCursorFullScreenMenu(lParam);
        }
        HideCursorWhileWanted();
        break;
    case WM_DISPLAYCHANGE:
        OnDisplayChange(wParam, lParam);
        break;
    case WM_NCHITTEST:
        if (!g_WindowSettings.windowed && IsDeviceMode() && (short)HIWORD(lParam) < 8) {
            return HTMENU;
        }
        break;
    case WM_KEYDOWN:
        OnKeyDown(wParam);
        break;
    case WM_CHAR:
        OnChar(wParam);
        break;
    case WM_SYSCHAR:
        if (wParam == 0x0D && g_WindowSettings.altEnterAllowed) {
            g_Window.modeSwitchRequested = 1;
            return 0;
        }
        break;
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_SETCONTEXT:
    case WM_IME_NOTIFY:
        return HandleImeMessage(message, window, wParam, lParam);
    case WM_COMMAND:
        OnMenuCommand(LOWORD(wParam));
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER) {
            return 1;
        }
        if ((wParam & 0xFFF0) == SC_KEYMENU && g_WindowSettings.suppressSystemKeys) {
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        OnMouseButton(message);
        break;
    case WM_SIZING:
        RecordWindowRect(window);
        if (g_WindowSettings.windowed && !IS_USER_WINDOW_MODE()) {
            AdjustSizingRect((int)wParam, (RECT *)lParam);
        }
        return TRUE;
    case WM_MOVING:
        RecordWindowRect(window);
        if (!g_WindowSettings.windowed) {
            *(RECT *)lParam = g_Window.windowRect;
        }
        return TRUE;
    case WM_DROPFILES:
        TakeDroppedFiles((HDROP)wParam);
        return 0;
    case MM_MCINOTIFY:
        PlayMidiByMci();
        return 0;
    case PRIVATE_MESSAGE_INPUT_FLAG_A:
        wParam == 1 ? RaiseWindowMessageFlagA() : ClearWindowMessageFlagA();
        return 0;
    case PRIVATE_MESSAGE_INPUT_FLAG_B:
        wParam == 1 ? RaiseWindowMessageFlagB() : ClearWindowMessageFlagB();
        return 0;
    case 0x505:
        return OnNetworkSocketMessage(lParam, wParam);
    }
    return DefaultResult(window, message, wParam, lParam, userResult);
}
