// Engine start-up and shut-down: binds the system libraries by name, brings every subsystem up in one fixed
// order under the engine call lock and takes them down again in the reverse order, restoring the desktop. Also the
// one fatal way out of the process. Start-up and end run on the game's main thread, which becomes the window
// thread; the fatal exit may be called from any thread.
#include "core/window_state.h"
#include "core/core_test_hooks.h"

#include <objbase.h>

#include "file/file.h"
#include "font/font.h"
#include "graphics/graphics.h"
#include "image/image.h"
#include "input/input.h"
#include "media/media.h"
#include "network/network.h"
#include "sound/sound.h"

int g_EngineInitialised;
int g_EngineInitialising;
int g_EngineEnding;

static int s_ComInitialised;
static char s_StartDirectory[MAX_PATH + 1];
static int s_DisableInput, s_DisableSound, s_DisableGraphics;

int SetEngineStartOptions(int disableInput, int disableSound, int disableGraphics)
{
    s_DisableInput = disableInput;
    s_DisableSound = disableSound;
    s_DisableGraphics = disableGraphics;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// System libraries bound by name. A table is bound only while its module handle is zero.

struct LibraryBinding {
    const char *fileName;
    const char *const *names;
    int count;
    HMODULE module;
    FARPROC entries[22];
};

static const char *const s_Ws2Names[] = {
    "WSAGetLastError", "WSAStartup",    "WSACleanup",  "WSAAsyncSelect", "getaddrinfo",
    "gethostbyaddr",   "gethostbyname", "gethostname", "ntohs",          "htons",
    "connect",         "socket",        "send",        "sendto",         "recvfrom",
    "accept",          "closesocket",   "shutdown",    "listen",         "bind",
    "inet_addr",       "recv"};
static const char *const s_ImmNames[] = {
    "ImmGetContext",    "ImmReleaseContext",    "ImmGetOpenStatus",         "ImmGetConversionStatus",  "ImmNotifyIME",
    "ImmSetOpenStatus", "ImmGetCandidateListA", "ImmGetCompositionStringA", "ImmSetCompositionStringA"};
static const char *const s_WinmmNames[] = {"timeSetEvent",  "timeKillEvent",  "timeBeginPeriod",
                                           "timeEndPeriod", "timeGetTime",    "timeGetDevCaps",
                                           "joyGetPosEx",   "joyGetDevCapsA", "mciSendCommandA"};
static const char *const s_OleNames[] = {"CoCreateInstance", "CoTaskMemAlloc",        "CoTaskMemFree",
                                         "CoInitialize",     "CoFreeUnusedLibraries", "CoUninitialize"};
static const char *const s_ComctlNames[] = {"InitCommonControls"};
static const char *const s_DwmNames[] = {"DwmEnableComposition"};
static const char *const s_User32Names[] = {"WINNLSEnableIME"};

#define NAME_COUNT(names) ((int)(sizeof(names) / sizeof(names[0])))

static LibraryBinding s_Libraries[BOUND_LIBRARY_COUNT] = {
    {"ws2_32.dll", s_Ws2Names, NAME_COUNT(s_Ws2Names), NULL, {}},
    {"Imm32.dll", s_ImmNames, NAME_COUNT(s_ImmNames), NULL, {}},
    {"winmm.dll", s_WinmmNames, NAME_COUNT(s_WinmmNames), NULL, {}},
    {"ole32.dll", s_OleNames, NAME_COUNT(s_OleNames), NULL, {}},
    {"comctl32.dll", s_ComctlNames, NAME_COUNT(s_ComctlNames), NULL, {}},
    {"dwmapi.dll", s_DwmNames, NAME_COUNT(s_DwmNames), NULL, {}},
    {"User32.dll", s_User32Names, NAME_COUNT(s_User32Names), NULL, {}},
};

static void BindLibrary(int library)
{
    LibraryBinding *binding = &s_Libraries[library];
    if (binding->module != NULL) {
        return;
    }
    binding->module = LoadLibraryA(binding->fileName);
    for (int i = 0; i < binding->count; i++) {
        binding->entries[i] = binding->module != NULL ? GetProcAddress(binding->module, binding->names[i]) : NULL;
    }
}

static void FreeLibraryBinding(int library)
{
    LibraryBinding *binding = &s_Libraries[library];
    if (binding->module != NULL) {
        FreeLibrary(binding->module);
    }
    binding->module = NULL;
    MemFill(binding->entries, 0, sizeof(binding->entries));
}

// A test's stand-in for one entry answers in place of the bound one until it is taken away again.
static FARPROC s_StandInEntries[BOUND_LIBRARY_COUNT][22];

static int IsBoundIndex(int library, int index)
{
    return library >= 0 && library < BOUND_LIBRARY_COUNT && index >= 0 && index < s_Libraries[library].count;
}

FARPROC GetBoundEntry(int library, int index)
{
    if (!IsBoundIndex(library, index)) {
        return NULL;
    }
    FARPROC standIn = s_StandInEntries[library][index];
    return standIn != NULL ? standIn : s_Libraries[library].entries[index];
}

int SetBoundEntryForTest(int library, int index, FARPROC entry)
{
    if (!IsBoundIndex(library, index)) {
        return -1;
    }
    s_StandInEntries[library][index] = entry;
    return 0;
}

WinnlsEnableImeFunction BoundWinnlsEnableIme(void)
{
    return BOUND_AS(WinnlsEnableImeFunction, GetBoundEntry(BOUND_USER32, 0));
}

DwmEnableCompositionFunction BoundDwmEnableComposition(void)
{
    return BOUND_AS(DwmEnableCompositionFunction, GetBoundEntry(BOUND_DWMAPI, 0));
}

FARPROC BoundImmFunction(int index)
{
    return GetBoundEntry(BOUND_IMM32, index);
}

// ---------------------------------------------------------------------------------------------------------------
// Start-up.

void SetScreenSaverActive(BOOL active)
{
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active, NULL, SPIF_SENDCHANGE);
}

// A full-screen size the display cannot show falls back to window mode.
static void CheckFullScreenSize(void)
{
    if (!g_WindowSettings.windowed && ChooseFullScreenSize() != 0) {
        ChangeWindowMode(1);
    }
}

static int RefuseTwentyFourBitColor(void)
{
    if ((GetDesktopColorBits() == 24 && g_WindowSettings.windowed) || GetScreenColorBits() == 24) {
        return AddLog("ＱＶライブラリは２４ビットカラーモードに対応していません\n");
    }
    return 0;
}

static void InitCom(void)
{
    if (s_ComInitialised) {
        return;
    }
    AddLog("ＣＯＭの初期化... ");
    if (SUCCEEDED(CoInitialize(NULL))) {
        AddLog("成功しました\n");
        s_ComInitialised = 1;
    } else {
        AddLog("ＣＯＭの初期化に失敗しました\n");
    }
}

// Every way out of a start-up that does not complete runs the end sequence, which undoes what was started and
// ends the log with the allocation dump.
static int FailStartUp(void)
{
    EndEngineCore();
    return -1;
}

int InitEngineCore(void)
{
    if (g_EngineInitialised) {
        return 0;
    }
    g_EngineInitialising = 1;
    for (int library = BOUND_WS2_32; library <= BOUND_COMCTL32; library++) {
        BindLibrary(library);
    }
    CheckFullScreenSize();
    InitYuvToRgbTables();
    CloseUnusedArchives();
    SetFileAccessTable(NULL);

    GetFileAccessTable()->getCurrentDir(s_StartDirectory);
    if (GetLogDirectory() == NULL || GetLogDirectory()[0] == '\0') {
        SetLogDirectory(s_StartDirectory);
    }
    StartLogFile();
    if (RefuseTwentyFourBitColor() != 0) {
        return FailStartUp();
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_SystemInformation.performanceFrequency = frequency.QuadPart;
    g_SystemInformation.highResolution = frequency.QuadPart != 0;
    // The system-information step raises the timer period; the end lowers it for that raise.
    LogSystemInformation();

    // The shared stream tables are written afresh each start, undoing any caller's change to their entries.
    InitStreamFunctionTables();
    BindLibrary(BOUND_DWMAPI);
    BindLibrary(BOUND_USER32);
    InstallGraphRestoreCallback(NULL);
    InitCom();

    if (CreateMainWindow() != 0) {
        return FailStartUp();
    }
    if (!s_DisableInput && InitializeInput() != 0) {
        return FailStartUp();
    }
    if (!s_DisableSound) {
        InitSoundSystem();
    }
    if (!s_DisableGraphics && InitGraphics() < 0) {
        return FailStartUp();
    }
    InitCharCodeBuffer();
    g_EngineInitialised = 1;
    if (!g_WindowSettings.windowed) {
        ForceForegroundWindow(g_Window.mainWindow, 1);
    }
    InitScreenLog();
    SetDrawTarget(-2);
    SetDrawTarget(-4);
    if (!s_DisableGraphics) {
        InitModelSystem();
    }
    g_EngineInitialising = 0;
    if (g_WindowSettings.sizeFixedByFit) {
        g_WindowSettings.explicitSizeSet = 0;
    }
    return 0;
}

int IsEngineInitialised(void)
{
    return g_EngineInitialised;
}

int IsEngineStarting(void)
{
    return g_EngineInitialising;
}

int InitEngine(void)
{
    if (g_EngineInitialised) {
        return 0;
    }
    EnterEngineLock();
    int result = InitEngineCore();
    LeaveEngineLock();
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Shut-down.

// The window-side part of the end: the desktop's screen saver, IME and cursor come back, the window's region,
// menu and class go, and a caller's window gets its own procedure back. Window-less mode only ends the pump.
static int RestoreDesktopAtEnd(void)
{
    // Window creation turns the screen saver off before it can be refused or fail: on again in every case.
    if (g_Window.screenSaverTurnedOff) {
        SetScreenSaverActive(TRUE);
        g_Window.screenSaverTurnedOff = 0;
    }
    if (g_Window.mainWindow == NULL && !g_WindowSettings.windowless) {
        return 0;
    }
    if (g_WindowSettings.windowless) {
        g_Window.quit = 1;
        return 0;
    }
    WinnlsEnableImeFunction enableIme = BoundWinnlsEnableIme();
    if (enableIme != NULL) {
        enableIme(g_Window.mainWindow, TRUE);
    }
    RestoreCursorAtEnd();
    RemoveSystemKeyHook();
    if (g_WindowSettings.windowRegion != NULL) {
        DeleteObject(g_WindowSettings.windowRegion);
        g_WindowSettings.windowRegion = NULL;
    }
    ReleaseWindowMenu();
    if (IS_USER_WINDOW_MODE()) {
        SetWindowLongA(g_Window.mainWindow, GWL_WNDPROC, (LONG)(LONG_PTR)g_Window.userWindowOldProc);
        g_Window.quit = 1;
    } else {
        if (!g_Window.windowDestroyed) {
            PostCloseOnce();
            while (ProcessMessageCore() == 0 && !g_Window.windowDestroyed) {
            }
        }
        UnregisterClassA(g_WindowSettings.className, g_Window.instance);
    }
    DeleteAllKeyInputHandles();
    FreeDroppedFileNames();
    DeleteLayeredDibSection();
    return 0;
}

// A window still alive here (the quit message came before the close) is destroyed by its own handle: a look-up
// by class name could find another copy's window when several copies may run, and leave this one alive with its
// class registered.
static void DestroyOwnWindow(void)
{
    HWND window = g_Window.mainWindow;
    if (window != NULL && IsWindow(window)) {
        DestroyWindow(window);
    }
}

// Steps shared by the end core and a start-up that fails half-way: each skips what was not started.
static void TakeDownEngine(void)
{
    TerminateScreenLog();
    TerminateNetwork();
    StopCurrentMusic();
    TerminateModelSystem();
    TerminateGraphics();
    TerminateInput();
    TerminateSoundSystem();
    RestoreDesktopAtEnd();
    // Window creation raised the timer period before it could be refused (a second copy): lowered here, with or
    // without a window.
    if (g_Window.timerPeriodRaised) {
        LowerTimerPeriod();
        g_Window.timerPeriodRaised = 0;
    }
    if (s_ComInitialised) {
        CoUninitialize();
        AddLog("ＣＯＭを終了... 完了\n");
        s_ComInitialised = 0;
    }
    DeleteAllSoftImages();
    g_EngineInitialised = 0;
    while (g_Window.mainWindow != NULL && ProcessMessageCore() == 0 && !g_Window.quit && !g_Window.windowDestroyed) {
    }
    // The caller's window and its class stay the caller's; window-less mode registered nothing.
    if (!IS_USER_WINDOW_MODE() && !g_WindowSettings.windowless) {
        DestroyOwnWindow();
        UnregisterClassA(g_WindowSettings.className, g_Window.instance);
    }
    g_Window.mainWindow = NULL;
    // The window's destruction posted a quit message to this thread: a later start-up must not meet it.
    MSG quit;
    while (PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (s_StartDirectory[0] != '\0') {
        GetFileAccessTable()->setCurrentDir(s_StartDirectory);
    }
    CloseUnusedArchives();
    LowerTimerPeriod(); // the system-information step's raise, when it took effect
    DumpAllocations();
    static const int freeOrder[] = {BOUND_DWMAPI, BOUND_USER32, BOUND_WS2_32,  BOUND_IMM32,
                                    BOUND_WINMM,  BOUND_OLE32,  BOUND_COMCTL32};
    for (int library : freeOrder) {
        FreeLibraryBinding(library);
    }
}

// Also ends a start-up still under way (a fatal exit inside it, or its own failure paths).
int EndEngineCore(void)
{
    if (!g_EngineInitialised && !g_EngineInitialising) {
        return 0;
    }
    g_EngineEnding = 1;
    TakeDownEngine();
    g_EngineInitialising = 0;
    return 0;
}

int EndEngine(void)
{
    if (!g_EngineInitialised) {
        return 0;
    }
    EnterEngineLock();
    int result = EndEngineCore();
    LeaveEngineLock();
    DestroyEngineLock();
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Fatal exit. The end sequence pumps the window's messages and waits for the window to go, which only the window
// thread can see through: from any other thread (the sound refill thread, a file access thread) the message is
// logged and the process ends at once.

void FatalErrorExit(const char *message)
{
    AddLog(message);
    AddLog("\n");
    if (g_Window.windowThreadId == 0 || GetCurrentThreadId() == g_Window.windowThreadId) {
        EndEngineCore();
        DestroyEngineLock();
        ExitProcess((UINT)-1);
    }
    // Off the window thread the process ends without detaching the DLLs: the Direct3D runtime's detach, run while
    // the window thread still holds its device, can leave the process to be killed instead of exiting.
    TerminateProcess(GetCurrentProcess(), (UINT)-1);
}

void FatalErrorExitFormat(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    VSprintfWrap(text, sizeof(text), format, args);
    va_end(args);
    FatalErrorExit(text);
}
