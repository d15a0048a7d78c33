// Internal to core/: the state of the engine's main window, shared by start-up and end, the window procedure,
// the message pump, the window-mode code, the window-side services, the menu and cursor code and the IME handler.
// Everything here is touched on the window thread only, except the engine call lock (its own critical section).
#pragma once

#include "core/core.h"

#include <imm.h>
#include <mmsystem.h>
#include <shellapi.h>

#define ACTIVATION_RING_SIZE 512
#define WINDOW_TEXT_SIZE 256
#define DEFAULT_CLASS_NAME "Q456210V"
#define DEFAULT_WINDOW_TITLE "QvLib"

typedef BOOL(WINAPI *UpdateLayeredWindowFunction)(HWND, HDC, POINT *, SIZE *, HDC, POINT *, COLORREF,
                                                  BLENDFUNCTION *, DWORD);

// Settings made before start-up: they survive the clearing of the window state at window creation.
struct WindowSettings {
    int windowed; // 1 window mode, 0 full screen
    char title[WINDOW_TEXT_SIZE];
    char className[WINDOW_TEXT_SIZE];
    double stretchRateX, stretchRateY; // 0 until set: read as 1.0
    int explicitSizeSet, explicitWidth, explicitHeight;
    int explicitPositionSet, explicitX, explicitY;
    int resizable, keepSize;
    int sizeFixedByFit; // start-up's fitting applied the explicit size
    int styleIndex;
    int transparentOption, layeredOption, visibleOption;
    int backgroundSet;
    BYTE backgroundRed, backgroundGreen, backgroundBlue;
    HRGN windowRegion;
    int allowMultipleInstances;
    int altEnterAllowed;
    int iconId;
    int codePage;
    int runInBackground;
    int noQuitMessage, holdClose;
    // Window-less mode: no window at all; user window mode: the engine subclasses a window the caller made.
    int windowless;
    HWND userWindow;
    // The caller's hooks, each optional.
    WindowActivationCallback activationCallback;
    void *activationCallbackData;
    WindowModeChangeCallback modeChangeCallback;
    void *modeChangeCallbackData;
    WindowMessageHook messageHook;
    COLORREF layeredColorKey; // the colour a layered window leaves out when presented from a DC
    int suppressSystemKeys;
    int clipCursor;
};

// Run-time state: cleared when the window is created.
struct WindowRuntime {
    HINSTANCE instance;
    HWND mainWindow;
    DWORD windowThreadId;
    int active, minimised, quit, windowDestroyed, closePosted, modeChanging, beingCreated, pumpRunning;
    int modeSwitchRequested;
    RECT clientRect; // screen coordinates
    RECT windowRect;
    int activationRing[ACTIVATION_RING_SIZE];
    int activationRead, activationWrite, activationCount;
    int desktopWidth, desktopHeight, desktopColorBits;
    int timerPeriodRaised;
    int screenSaverTurnedOff; // window creation switched it off; the end switches it on again
    int painting, paintPending;
    int lastPresentTime;
    int fittedOnce;
    int menuShowCount;
    int compositionTurnedOff;
    int cursorClipped;
    HBITMAP layeredDibSection;
    void *layeredDibPixels;
    int layeredDibWidth, layeredDibHeight;
    UpdateLayeredWindowFunction updateLayeredWindow; // taken from user32 at window creation
    WNDPROC userWindowOldProc;                       // the subclassed window's own procedure
};

extern WindowSettings g_WindowSettings;
extern WindowRuntime g_Window;

// The user window mode is on while the engine works on a window the caller made.
#define IS_USER_WINDOW_MODE() (g_WindowSettings.userWindow != NULL)

// Engine life-cycle flags (engine.cpp).
extern int g_EngineInitialised;
extern int g_EngineInitialising;
extern int g_EngineEnding;

// The window procedure and its helpers (window.cpp).
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int CreateMainWindow(void);
int OnWindowActivation(WPARAM wParam);
// The desktop's colour depth: bits per pixel times colour planes of the screen DC. The one rule for it.
int GetDesktopColorBits(void);
// Partial paints are presented at most every PARTIAL_PAINT_INTERVAL_MS: 1 once that much has passed since the
// last present.
#define PARTIAL_PAINT_INTERVAL_MS 64
int IsPartialPaintDue(void);

// Window style table and window placement (window_mode.cpp).
void GetWindowStyles(int windowed, DWORD *style, DWORD *exStyle);
void GetWantedClientSize(RECT *client); // the explicit size, else the screen size times the stretch rates
void PlaceWindowOnDesktop(const RECT *client, DWORD style, DWORD exStyle, int *x, int *y, int *width, int *height);
int PostCloseOnce(void);

// A bound entry as the function type it really has (through the generic function type, which converts to
// any other without a warning).
#define BOUND_AS(type, entry) ((type)(void (*)(void))(entry))

// Bound system library entries that several core files call (engine.cpp); null until bound.
typedef BOOL(WINAPI *WinnlsEnableImeFunction)(HWND, BOOL);
typedef HRESULT(WINAPI *DwmEnableCompositionFunction)(UINT);
WinnlsEnableImeFunction BoundWinnlsEnableIme(void);
DwmEnableCompositionFunction BoundDwmEnableComposition(void);
FARPROC BoundImmFunction(int index); // order of the Imm32 binding table

// The full-screen size rule of start-up and the run-time switch (window_mode.cpp): a wanted size the display-mode
// list lacks cannot go full screen, except 320x240 while the Direct3D device is allowed; 320x240 runs at 640x480
// with the low-resolution emulation raised. -1 when full screen cannot be had.
int ChooseFullScreenSize(void);

// Cursor, menu commands and dropped files (menu.cpp).
void RestoreCursorAtEnd(void);
int IsCursorShownByEngine(void);
int IsMenuInUse(void);
void OnMenuCommand(int id);
void TakeDroppedFiles(HDROP drop);

void ApplyCursorState(int shown);
// The menu given before start-up: attached at window creation and torn down by the end sequence.
HMENU GetWindowMenuHandle(void);
void ReleaseWindowMenu(void);
void NoteMenuAttached(int attached);

// The layered-window presenter's DIB section, deleted by the end sequence (window_services.cpp).
void DeleteLayeredDibSection(void);

// System-key suppression (window.cpp): the keyboard hook's decision for one key event, whether the hook is in,
// and its removal at the end.
int IsSystemKeyStroke(DWORD virtualKey, DWORD hookFlags, int controlDown);
void RemoveSystemKeyHook(void);

// Character set from the OEM code page (window.cpp).
int CharSetFromCodePage(int oemCodePage, int *codePage);

// Screen-saver switch shared by window creation and the end sequence.
void SetScreenSaverActive(BOOL active);

// Engine call lock (engine_lock.cpp): closing its events and critical section.
void DestroyEngineLock(void);
