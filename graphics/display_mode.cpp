// Display modes and the screen mode change: the list of the display's modes (16 bits or more, in the order
// Windows enumerates them), the switch of the Windows display settings to the full-screen size and back, the
// restart of the graphics system with a new size, depth or refresh rate or after a window-mode switch, and the
// small screen queries. Window thread only.
#include "graphics/graphics.h"

static DisplayModeRecord *s_Modes;
static int s_ModeCount;
static int s_ModeListBuilt;
static int s_LowResScaled;
static int s_DisplayChangedBySettings;

static int IsListedMode(const DEVMODEA *mode)
{
    return mode->dmBitsPerPel >= 16;
}

static void EnumerateDisplayModes(void)
{
    ReleaseDisplayModeList();
    DEVMODEA mode;
    MemFill(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    int count = 0;
    for (DWORD i = 0; EnumDisplaySettingsA(NULL, i, &mode); i++) {
        count += IsListedMode(&mode);
    }
    s_ModeListBuilt = 1;
    if (count == 0) {
        return;
    }
    s_Modes = (DisplayModeRecord *)HeapAlloc(GetProcessHeap(), 0, sizeof(DisplayModeRecord) * (size_t)count);
    if (s_Modes == NULL) {
        return;
    }
    for (DWORD i = 0; s_ModeCount < count && EnumDisplaySettingsA(NULL, i, &mode); i++) {
        if (IsListedMode(&mode)) {
            DisplayModeRecord *record = &s_Modes[s_ModeCount++];
            record->width = (int)mode.dmPelsWidth;
            record->height = (int)mode.dmPelsHeight;
            record->bits = (int)mode.dmBitsPerPel;
            record->refresh = (int)mode.dmDisplayFrequency;
        }
    }
}

int ReleaseDisplayModeList(void)
{
    if (s_Modes != NULL) {
        HeapFree(GetProcessHeap(), 0, s_Modes);
        s_Modes = NULL;
    }
    s_ModeCount = 0;
    s_ModeListBuilt = 0;
    return 0;
}

int GetDisplayModeCount(void)
{
    if (!s_ModeListBuilt) {
        EnumerateDisplayModes();
    }
    return s_ModeCount;
}

DisplayModeRecord GetDisplayModeAt(int index)
{
    DisplayModeRecord none = {-1, -1, -1, -1};
    if (index < 0 || index >= GetDisplayModeCount()) {
        return none;
    }
    return s_Modes[index];
}

int HasDisplayMode(int width, int height, int bits)
{
    int count = GetDisplayModeCount();
    for (int i = 0; i < count; i++) {
        if (s_Modes[i].width == width && s_Modes[i].height == height && s_Modes[i].bits == bits) {
            return 1;
        }
    }
    return 0;
}

int SetLowResScaledFlag(int flag)
{
    s_LowResScaled = flag;
    return 0;
}

int GetLowResScaledFlag(void)
{
    return s_LowResScaled;
}

int IsFullScreen(void)
{
    return !IsWindowedMode();
}

// ---------------------------------------------------------------------------------------------------------------
// Display settings.

static int FinishDisplayChange(int result)
{
    LogIndentDecrease();
    return result;
}

int ChangeDisplayModeForFullScreen(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    int bits = GetScreenColorBits();
    char text[128];
    SprintfWrap(text, sizeof(text), "画面モードの変更処理を開始します %u x %u  %u bit ", (unsigned int)width,
                (unsigned int)height, (unsigned int)bits);
    AddLog(text);
    LogIndentIncrease();
    if (bits != 16 && bits != 32) {
        return FinishDisplayChange(-1);
    }
    AddLog("画面解像度を変更します... ");
    DEVMODEA mode;
    MemFill(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = (DWORD)bits;
    mode.dmPelsWidth = (DWORD)width;
    mode.dmPelsHeight = (DWORD)height;
    if (GetScreenRefreshRate() != 0) {
        mode.dmFields |= DM_DISPLAYFREQUENCY;
        mode.dmDisplayFrequency = (DWORD)GetScreenRefreshRate();
    }
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) {
        s_DisplayChangedBySettings = 1;
        AddLog("成功しました\n");
        return FinishDisplayChange(0);
    }
    // The display may refuse the refresh rate: try again without one.
    mode.dmFields &= ~(DWORD)DM_DISPLAYFREQUENCY;
    mode.dmDisplayFrequency = 0;
    SetScreenModeSettings(bits, 0);
    if (ChangeDisplaySettingsA(&mode, 0) == DISP_CHANGE_SUCCESSFUL) {
        s_DisplayChangedBySettings = 1;
        AddLog("成功しました\n");
        return FinishDisplayChange(0);
    }
    if (width == 320 && height == 240) {
        mode.dmPelsWidth = 640;
        mode.dmPelsHeight = 480;
        SetLowResScaledFlag(1);
        if (ChangeDisplaySettingsA(&mode, 0) == DISP_CHANGE_SUCCESSFUL) {
            s_DisplayChangedBySettings = 1;
            ApplyWindowStyle();
            AddLog("成功しました\n");
            return FinishDisplayChange(0);
        }
    }
    AddLog("画面モードの変更に失敗しました\n");
    return FinishDisplayChange(-1);
}

int RestoreDesktopDisplayMode(void)
{
    if (s_DisplayChangedBySettings) {
        ChangeDisplaySettingsA(NULL, 0);
        s_DisplayChangedBySettings = 0;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Screen mode change.

struct ScreenModeValues {
    int width, height, bits, refresh;
};

static void StoreScreenModeValues(const ScreenModeValues *values)
{
    SetScreenSizeSetting(values->width, values->height);
    SetScreenModeSettings(values->bits, values->refresh);
}

static int FinishScreenModeChange(int result)
{
    LogIndentDecrease();
    return result;
}

// Restarts graphics with the new values, then the old ones, then 640x480 at 16 bits; nothing else is left.
static void RestartGraphics(const ScreenModeValues *wanted, const ScreenModeValues *previous)
{
    TerminateGraphics();
    StoreScreenModeValues(wanted);
    if (InitGraphics() == 0) {
        return;
    }
    if (wanted->width == 320 && wanted->height == 240) {
        SetScreenSizeSetting(640, 480);
        SetLowResScaledFlag(1);
        if (InitGraphics() == 0) {
            return;
        }
    }
    StoreScreenModeValues(previous);
    if (InitGraphics() == 0) {
        return;
    }
    ScreenModeValues fallback = {640, 480, 16, 0};
    StoreScreenModeValues(&fallback);
    if (InitGraphics() == 0) {
        return;
    }
    FatalErrorExit("予期せぬ画面モード変更不能現象が起きました2\n");
}

int ChangeScreenMode(int width, int height, int bits, int force, int refresh)
{
    ScreenModeValues previous;
    GetScreenSize(&previous.width, &previous.height);
    previous.bits = GetScreenColorBits();
    previous.refresh = GetScreenRefreshRate();

    ScreenModeValues wanted = {width, height, bits, refresh};
    int emulated = 0;
    if (!IsWindowedMode() && width == 320 && height == 240) {
        wanted.width = 640;
        wanted.height = 480;
        emulated = 1;
    } else if (IsWindowedMode() && force == 1 && GetLowResolutionEmulation() && previous.width == 640 &&
               previous.height == 480) {
        wanted.width = 320;
        wanted.height = 240;
    }
    SetLowResolutionEmulation(emulated);
    if (wanted.width == -1) {
        wanted.width = previous.width;
    }
    if (wanted.height == -1) {
        wanted.height = previous.height;
    }
    if (wanted.bits == -1) {
        wanted.bits = previous.bits;
    }
    if (wanted.refresh == -1) {
        wanted.refresh = previous.refresh;
    }
    if (wanted.width == previous.width && wanted.height == previous.height && wanted.bits == previous.bits &&
        wanted.refresh == previous.refresh && force == 0) {
        return 0;
    }
    AddLog("画面モード変更処理を開始します\n");
    LogIndentIncrease();
    if (!IsEngineStarting() && !IsEngineInitialised()) {
        return FinishScreenModeChange(0);
    }
    if (!IsWindowedMode() && !HasDisplayMode(wanted.width, wanted.height, wanted.bits)) {
        return FinishScreenModeChange(0);
    }
    RestartGraphics(&wanted, &previous);
    if (IsWindowedMode()) {
        ApplyWindowStyle();
    }
    LogIndentDecrease();
    AddLog("画面モード変更処理は正常に終了しました\n");
    ProcessMessageCore();
    SetDrawTarget(GetDrawTarget());
    return 0;
}

int ApplyDialogBoxMode(int flag)
{
    return 0; // the dialog-box mode is a Direct3D device setting: nothing to do on the software screen
}

int EndSceneAndDialogMode(int flag)
{
    return 0; // without a Direct3D device there is no scene to end
}
