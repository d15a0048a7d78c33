// Display modes and the screen mode change: the list of the display's modes (16 bits or more, in the order
// Windows enumerates them), the switch of the Windows display settings to the full-screen size and back, the
// restart of the graphics system with a new size, depth or refresh rate or after a window-mode switch (the default
// font keeps its size across it), the small screen queries and the device pass-throughs. It also keeps the mode the
// desktop had before the engine first changed it, and checks after each give-back that the desktop has it again.
// Window thread only.
#include "graphics/graphics_internal.h"

#include "font/font.h"

static DisplayModeRecord *s_Modes;
static int s_ModeCount;
static int s_ModeListBuilt;
static int s_LowResScaled;
static int s_DisplayChangedBySettings;
static DEVMODEA s_DesktopMode; // the desktop's own mode, read before the engine first changed the display
static int s_DesktopModeRecorded;
static int s_DisplayGivenAway; // the engine has changed the display since it last gave the desktop back

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
    RecordDesktopDisplayMode();
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
        s_DisplayGivenAway = 1; // the mode this gives back is checked too
        ChangeDisplaySettingsA(NULL, 0);
        s_DisplayChangedBySettings = 0;
    }
    return 0;
}

static int ReadCurrentDisplayMode(DEVMODEA *mode)
{
    MemFill(mode, 0, sizeof(*mode));
    mode->dmSize = sizeof(*mode);
    return EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, mode) ? 0 : -1;
}

int RecordDesktopDisplayMode(void)
{
    s_DisplayGivenAway = 1;
    if (!s_DesktopModeRecorded && ReadCurrentDisplayMode(&s_DesktopMode) == 0) {
        s_DesktopModeRecorded = 1;
    }
    return 0;
}

// Giving the desktop back restores the mode the system keeps as the desktop's. Some systems (Wine's display-device
// records, rewritten while the display was switched) can keep the full-screen mode there, and every later give-back
// would leave the desktop at it: the desktop's own mode, read before the first change, is set again explicitly, and
// kept as the saved mode too: the system can give its saved mode back once more after that (seen at shut-down).
int EnsureDesktopDisplayMode(void)
{
    if (!s_DisplayGivenAway) {
        return 0;
    }
    s_DisplayGivenAway = 0;
    DEVMODEA now;
    if (!s_DesktopModeRecorded || ReadCurrentDisplayMode(&now) != 0) {
        return 0;
    }
    const DEVMODEA *desktop = &s_DesktopMode;
    if (now.dmPelsWidth == desktop->dmPelsWidth && now.dmPelsHeight == desktop->dmPelsHeight &&
        now.dmBitsPerPel == desktop->dmBitsPerPel) {
        return 0;
    }
    char text[192];
    SprintfWrap(text, sizeof(text), "デスクトップの画面モードが %u x %u  %u bit なので %u x %u  %u bit に戻します... ",
                (unsigned int)now.dmPelsWidth, (unsigned int)now.dmPelsHeight, (unsigned int)now.dmBitsPerPel,
                (unsigned int)desktop->dmPelsWidth, (unsigned int)desktop->dmPelsHeight,
                (unsigned int)desktop->dmBitsPerPel);
    AddLog(text);
    DEVMODEA mode = *desktop;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | (mode.dmDisplayFrequency ? DM_DISPLAYFREQUENCY : 0);
    if (ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY) != DISP_CHANGE_SUCCESSFUL) {
        return AddLog("失敗しました\n");
    }
    AddLog("成功しました\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Screen mode change.

struct ScreenModeValues {
    int width, height, bits, refresh;
    int lowResolutionEmulation;
};

// The default font's face, size and thickness, kept across a restart that makes every font again.
struct RememberedFont {
    int live;
    char face[256];
    int size, thickness;
};

static void ReadScreenModeValues(ScreenModeValues *values)
{
    GetScreenSize(&values->width, &values->height);
    values->bits = GetScreenColorBits();
    values->refresh = GetScreenRefreshRate();
    values->lowResolutionEmulation = GetLowResolutionEmulation();
}

static void StoreScreenModeValues(const ScreenModeValues *values)
{
    SetScreenSizeSetting(values->width, values->height);
    SetScreenModeSettings(values->bits, values->refresh);
    SetLowResolutionEmulation(values->lowResolutionEmulation);
}

static int StartWith(const ScreenModeValues *values)
{
    StoreScreenModeValues(values);
    return InitGraphics();
}

// Restarts graphics with the new values, then the old ones, then 640x480 at 16 bits; nothing else is left.
static void RestartGraphics(const ScreenModeValues *wanted, const ScreenModeValues *previous)
{
    if (IsGraphicsInitialised()) {
        TerminateGraphics();
    }
    if (StartWith(wanted) == 0) {
        return;
    }
    if (wanted->width == 320 && wanted->height == 240) {
        ScreenModeValues scaled = *wanted;
        scaled.width = 640;
        scaled.height = 480;
        SetLowResScaledFlag(1);
        if (StartWith(&scaled) == 0) {
            return;
        }
    }
    if (StartWith(previous) == 0) {
        return;
    }
    ScreenModeValues fallback = {640, 480, 16, 0, 0};
    if (StartWith(&fallback) == 0) {
        return;
    }
    FatalErrorExit("予期せぬ画面モード変更不能現象が起きました2\n");
}

// The wanted values: -1 keeps the current one. A full-screen 320x240 runs emulated at 640x480; a switch to window
// mode of an emulated screen gives the 320x240 window back.
static void ResolveWantedValues(ScreenModeValues *wanted, const ScreenModeValues *current, int force)
{
    int sizeKept = wanted->width == -1 && wanted->height == -1;
    wanted->lowResolutionEmulation = TakeLowResolutionSize(&wanted->width, &wanted->height);
    if (!wanted->lowResolutionEmulation && IsWindowedMode() && force == 1 && current->lowResolutionEmulation &&
        current->width == 640 && current->height == 480) {
        wanted->width = 320;
        wanted->height = 240;
    }
    wanted->width = wanted->width == -1 ? current->width : wanted->width;
    wanted->height = wanted->height == -1 ? current->height : wanted->height;
    wanted->bits = wanted->bits == -1 ? current->bits : wanted->bits;
    wanted->refresh = wanted->refresh == -1 ? current->refresh : wanted->refresh;
    // A kept size of an emulated full screen stays emulated; the flag changes only with the restart.
    if (sizeKept && !IsWindowedMode() && current->lowResolutionEmulation) {
        wanted->lowResolutionEmulation = 1;
    }
}

static void RememberDefaultFont(RememberedFont *font)
{
    font->live = IsGraphicsInitialised() &&
                 QueryDefaultFontState(font->face, sizeof(font->face), &font->size, &font->thickness) == 0;
}

static int FinishScreenModeChange(int result)
{
    LogIndentDecrease();
    return result;
}

int ChangeScreenMode(int width, int height, int bits, int force, int refresh)
{
    FlushVertexBatch();
    ScreenModeValues current;
    ReadScreenModeValues(&current);
    ScreenModeValues wanted = {width, height, bits, refresh, 0};
    ResolveWantedValues(&wanted, &current, force);
    if (wanted.width == current.width && wanted.height == current.height && wanted.bits == current.bits &&
        wanted.refresh == current.refresh && force == 0) {
        return 0;
    }
    AddLog("画面モード変更処理を開始します\n");
    LogIndentIncrease();
    RememberedFont font;
    RememberDefaultFont(&font);
    if (!IsEngineStarting() && !IsEngineInitialised()) {
        return FinishScreenModeChange(0);
    }
    if (!IsWindowedMode() && !HasDisplayMode(wanted.width, wanted.height, wanted.bits)) {
        return FinishScreenModeChange(0);
    }
    RestartGraphics(&wanted, &current);
    if (IsWindowedMode()) {
        ApplyWindowStyle();
    }
    if (font.live) {
        SetDefaultFontSizeThickness(font.face, font.size, font.thickness);
    }
    LogIndentDecrease();
    AddLog("画面モード変更処理は正常に終了しました\n");
    ProcessMessageCore();
    SetDrawTarget(GetDrawTarget());
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Device pass-throughs.

IDirectDraw7 *GetDirectDraw(void)
{
    return g_D3D.directDraw;
}

int ApplyDialogBoxMode(int flag)
{
    if (IsDeviceMode() && g_D3D.device != NULL) {
        g_D3D.device->SetDialogBoxMode(FALSE);
        if (flag) {
            g_D3D.device->SetDialogBoxMode(TRUE);
        }
    }
    return 0;
}

int EndSceneAndDialogMode(int flag)
{
    if (g_D3D.device == NULL) {
        return 0;
    }
    EndSceneIfNeeded();
    g_D3D.device->SetDialogBoxMode(flag ? TRUE : FALSE);
    return 0;
}

IDirect3DVertexBuffer9 *CreateDeviceVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
{
    IDirect3DVertexBuffer9 *buffer = NULL;
    if (g_StateCache.device == NULL ||
        FAILED(g_StateCache.device->CreateVertexBuffer(length, usage, fvf, pool, &buffer, NULL))) {
        return NULL;
    }
    return buffer;
}

IDirect3DIndexBuffer9 *CreateDeviceIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
{
    IDirect3DIndexBuffer9 *buffer = NULL;
    if (g_StateCache.device == NULL ||
        FAILED(g_StateCache.device->CreateIndexBuffer(length, usage, format, pool, &buffer, NULL))) {
        return NULL;
    }
    return buffer;
}

int ReturnZero(void)
{
    return 0;
}

void *ClearParamBlock380(void *block)
{
    MemFill(block, 0, 380);
    return block;
}
