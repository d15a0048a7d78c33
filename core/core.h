// Engine core: the public contract of the window, start-up and shut-down, the tracked allocator, the log,
// clocks and system information, string/memory/number/path helpers, containers, math and random numbers.
// Every other subsystem includes this header; nothing else from core/.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------------------------------------------
// Engine handles: bit 31 clear, bits 27-30 the type tag, bits 16-26 a check number, bits 0-15 the slot index.

typedef int EngineHandle;

enum HandleTypeTag {
    HANDLE_TYPE_GRAPH = 0x08000000,
    HANDLE_TYPE_SOUND = 0x10000000,
    HANDLE_TYPE_MOVIE = 0x18000000,
    HANDLE_TYPE_FONT = 0x20000000,
    HANDLE_TYPE_MASK = 0x28000000,
    HANDLE_TYPE_NETWORK = 0x30000000,
    HANDLE_TYPE_KEY_INPUT = 0x38000000,
    HANDLE_TYPE_MIDI_MUSIC = 0x40000000,
    HANDLE_TYPE_LIGHT = 0x48000000,
    HANDLE_TYPE_MODEL = 0x50000000,
    HANDLE_TYPE_SOFT_IMAGE = 0x58000000,
    HANDLE_TYPE_SHADER = 0x60000000,
    HANDLE_TYPE_SOFT_SOUND = 0x68000000,
    HANDLE_TYPE_VERTEX_BUFFER = 0x70000000,
    HANDLE_TYPE_INDEX_BUFFER = 0x78000000,
};

#define HANDLE_TYPE_BITS 0x78000000
#define HANDLE_CHECK_MASK 0x07FF0000
#define HANDLE_CHECK_SHIFT 16
#define HANDLE_INDEX_MASK 0x0000FFFF
#define HANDLE_CHECK_LIMIT 2048 // check numbers run 0..2047 and wrap

// Every handle table keeps its records behind an array of slot pointers; each record begins with this header.
struct HandleRecordHeader {
    int checkNumber;
    EngineHandle handle;
};

EngineHandle MakeEngineHandle(int typeTag, int checkNumber, int slotIndex);
// The one validation every handle table uses: sign, tag, slot below slotCount, slot present, check number.
// Returns the record or null.
void *ValidateEngineHandle(EngineHandle handle, int typeTag, void *const *slots, int slotCount);

// ---------------------------------------------------------------------------------------------------------------
// Tracked allocator.

#define ALLOC_HEADER_SIZE 64

struct AllocHeader {
    char sourceName[16];
    uint16_t serial;
    uint16_t line;
    uint32_t size;
    AllocHeader *next;     // next older block
    AllocHeader *previous; // next newer block
    unsigned char guard[32];
};

void *AllocMemory(size_t size, const char *sourceName, int line);
void *AllocMemoryZeroed(size_t size, const char *sourceName, int line);
void *ReallocMemory(void *pointer, size_t size, const char *sourceName, int line);
void FreeMemory(void *pointer);
int CheckAllAllocations(void);
void DumpAllocations(void);
void LogAllocationTotals(void);
void LogAllocationRecord(const AllocHeader *header);
int GetAllocationCount(void);           // live blocks
long long GetAllocationTotalSize(void); // sum of the asked sizes of the live blocks
// Diagnostics, all off by default: trace blocks of one size (negative = every block), log every operation, log
// the totals after each operation, check every header on each operation.
void SetAllocationDebugOptions(int traceSize, int logEachOperation, int logTotals, int checkEach);

#define ENGINE_ALLOC(size) AllocMemory((size), __FILE__, __LINE__)
#define ENGINE_ALLOC_ZEROED(size) AllocMemoryZeroed((size), __FILE__, __LINE__)
#define ENGINE_REALLOC(pointer, size) ReallocMemory((pointer), (size), __FILE__, __LINE__)

// ---------------------------------------------------------------------------------------------------------------
// Log file "Log.txt".

#define LOG_FORMAT_BUFFER_SIZE 2048

int AddLog(const char *text);
int AddLogTail(const char *text);
int LogFormatLine(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
int LogIndentIncrease(void);
int LogIndentDecrease(void);
int StartLogFile(void);
// Ends with the Winsock error code read through the bound ws2_32 entry (BOUND_WS2_32, index below).
int LogNetworkError(const char *format, ...) __attribute__((format(gnu_printf, 1, 2)));
enum { WS2_WSA_GET_LAST_ERROR = 0 };
int SetLogDirectory(const char *directory); // the folder "Log.txt" is written to; empty = no file
const char *GetLogDirectory(void);
// Options, all 0 by default: no log at all, a file name carrying the start date and time, no time stamps.
void SetLogOptions(int logOff, int datedFileName, int noTimeStamp);

// On-screen log: prepared at start-up (-1 while there is no window or no graphics), drawn over the frame by the
// screen copy while its draw flag is set, its font deleted at the end.
int InitScreenLog(void);
int CreateScreenLogFont(void);
int DrawScreenLog(void);
int GetScreenLogDrawFlag(void);
int TerminateScreenLog(void);

// ---------------------------------------------------------------------------------------------------------------
// System information and clocks.

struct DateRecord {
    int year, month, day, hour, minute, second;
};

struct SystemInformation {
    int processorCount;
    int windowsVersionId; // 0x107 XP, 0x108 Vista, 0x109 7, ...
    int hasCpuid, hasMmx, hasSse, hasSse2, hasTimeStampCounter;
    int processorMhz;
    unsigned long long timeStampPer10ms;
    char brand[49];
    char vendor[13];
    unsigned int directXVersion; // 0x70000 = 7.0
    int highResolution;          // performance counter usable
    LONGLONG performanceFrequency;
};

extern SystemInformation g_SystemInformation;

int LogSystemInformation(void);
// The finest timer period, raised by start-up steps and lowered by the end once for every raise that took effect.
int RaiseTimerPeriod(void);
int LowerTimerPeriod(void);
// Names the Windows version for the system information block ("Windows" + name) and returns its version id;
// a version without a name keeps previousId.
int DescribeWindowsVersion(const OSVERSIONINFOA *info, char *text, size_t textSize, int previousId);
int GetNowMilliCount(void);
// The time from start to now on the millisecond clock, which wraps from 0x7FFFFFFF to 0: (now - start) modulo
// 2^31, so a span across the wrap is as long as any other. Every difference of that clock is taken here.
int MilliCountElapsed(int start, int now);
LONGLONG GetNowMicroCount(int useCpuClock);
int GetLocalDateRecord(DateRecord *record);
int FileTimeToDateRecord(const FILETIME *fileTime, DateRecord *record);
void Mul64x64(unsigned long long a, unsigned long long b, unsigned long long out128[2]);
void Div128By64(const unsigned long long dividend128[2], unsigned long long divisor, unsigned long long out128[2]);

// ---------------------------------------------------------------------------------------------------------------
// String, memory, number and path helpers.

char *StrCopy(char *destination, const char *source);
char *StrCopyN(char *destination, const char *source, int count);
const char *StrFindCharMb(const char *text, int byte);
int StrCompare(const char *a, const char *b);
char *StrToUpperMb(char *text);
int StrCompareN(const char *a, const char *b, int count);
char *IntToString(int value, char *buffer, int radix);
// Bounded formatting: the text is cut to bufferSize - 1 bytes and always terminated. VSprintfWrap returns the
// length stored, SprintfWrap 0.
int VSprintfWrap(char *buffer, size_t bufferSize, const char *format, va_list args);
int SprintfWrap(char *buffer, size_t bufferSize, const char *format, ...) __attribute__((format(gnu_printf, 3, 4)));

void MemFill(void *destination, int byte, size_t count);
int MemCompare(const void *a, const void *b, size_t count);
void MemCopy(void *destination, const void *source, size_t count);
void MemMove(void *destination, const void *source, size_t count);

void SinCos(float angle, float *sinOut, float *cosOut);
int AbsInt(int value);
float FloatSignTest(float value);
int FloatToInt(float value);
int DoubleToInt(double value);
void DoubleRectToIntRect(const double source[4], int destination[4]);
float SqrtFloat(float value);

// Resolves relative against base (null: the current directory the installed file-function table reports) into
// out; -1 when the result does not fit.
int BuildFullPath(const char *relative, char *out, size_t outSize, const char *base);
// Bytes of the path component that starts at `path`: up to the first '\' or '/' or the end, stepping over
// whole double-byte characters of the character set, so that a trail byte equal to '\' never ends it.
size_t MeasurePathComponent(const char *path, int charSet);
int FindResourceData(const char *name, const char *type, void **address, int *size);

// ---------------------------------------------------------------------------------------------------------------
// Containers: growable byte ring, typed-character ring, intrusive list.

struct RingBuffer {
    unsigned char *data;
    int readPosition;
    int writePosition;
    int stored;
    int capacity;
};

int RingBufferReserve(RingBuffer *ring, int count);
int RingBufferRead(RingBuffer *ring, void *destination, int count, int peek);
void ResetRingPositionsAtEnd(RingBuffer *ring);
int ReleaseRingBuffer(RingBuffer *ring);

// Typed-character ring: filled by the window procedure, drained by text input; window thread only.
#define INPUT_CHAR_RING_SLOTS 1025

struct InputCharRing {
    unsigned char bytes[INPUT_CHAR_RING_SLOTS];
    int readIndex;
    int writeIndex; // empty when equal to readIndex
};

InputCharRing *GetInputCharRing(void);
int PushInputChar(unsigned char byte);
int IsKeyInTable(unsigned char byte);
int MbByteOffsetToCharCount(const char *text, int bytes);

// The one record of text-input activity, shared by the IME handler and text entry: StartInputTimer raises the
// flag and stamps the time (GetNowMilliCount).
int StartInputTimer(void);
int GetTextInputActivity(int *time); // the flag; the time through the pointer when given
void ClearTextInputActivity(void);

struct KeyInputRecord;
int CompactTextBuffer(KeyInputRecord *entry);

struct ListNode {
    int id;
    void *data;
    ListNode *previous;
    ListNode *next;
};

int ListInit(ListNode *head, ListNode *tail);
int ListAddTail(ListNode *anchor, ListNode *node, int id, void *data);
int ListRemove(ListNode *node);

// ---------------------------------------------------------------------------------------------------------------
// Matrices, vectors, rectangle clipping.

struct Matrix4 {
    float m[16]; // row-major, row vectors; translation in 12, 13, 14
};

struct Vector3 {
    float x, y, z;
};

int MakeIdentityMatrix(Matrix4 *out);
int MultiplyMatrix(Matrix4 *out, const Matrix4 *a, const Matrix4 *b);
int TransposeMatrix(Matrix4 *out, const Matrix4 *m);
int InverseMatrix(Matrix4 *out, const Matrix4 *m);
int MakePerspectiveMatrix(Matrix4 *out, float fieldOfView, float nearZ, float farZ, float aspect);
int MakeOrthoMatrix(Matrix4 *out, float height, float nearZ, float farZ, float aspect);
int MakeViewportMatrix(Matrix4 *out, float x, float y, float width, float height);
int MakeLookAtMatrix(Matrix4 *out, const Vector3 *eye, const Vector3 *target, const Vector3 *up);
float VectorDot(const Vector3 *a, const Vector3 *b);
int VectorNormalize(Vector3 *out, const Vector3 *v);
Vector3 *VectorNormalizeXYZ(Vector3 *out, float x, float y, float z);
int VectorTransform(Vector3 *out, const Vector3 *v, const Matrix4 *m);
int ClipRect(RECT *rect, const RECT *clip);

// ---------------------------------------------------------------------------------------------------------------
// Random numbers (MT19937).

int SeedRandom(unsigned int seed);
int GenerateRandomBlock(void);
int HasMmx(void);

// ---------------------------------------------------------------------------------------------------------------
// Engine start-up, shut-down, window and message pump (declared as they are built).

// System libraries bound by name at start-up; an entry is null until bound (and when its name was not found).
enum BoundLibrary {
    BOUND_WS2_32,  // "WSAGetLastError", "WSAStartup", "WSACleanup", "WSAAsyncSelect", "getaddrinfo", ...
    BOUND_IMM32,   // "ImmGetContext", "ImmReleaseContext", "ImmGetOpenStatus", ... "ImmSetCompositionStringA"
    BOUND_WINMM,   // "timeSetEvent", "timeKillEvent", "timeBeginPeriod", "timeEndPeriod", "timeGetTime", ...
    BOUND_OLE32,   // "CoCreateInstance", "CoTaskMemAlloc", "CoTaskMemFree", "CoInitialize", ...
    BOUND_COMCTL32,
    BOUND_DWMAPI,
    BOUND_USER32,
    BOUND_LIBRARY_COUNT
};
enum {
    IMM_GET_CONTEXT, IMM_RELEASE_CONTEXT, IMM_GET_OPEN_STATUS, IMM_GET_CONVERSION_STATUS, IMM_NOTIFY_IME,
    IMM_SET_OPEN_STATUS, IMM_GET_CANDIDATE_LIST, IMM_GET_COMPOSITION_STRING, IMM_SET_COMPOSITION_STRING
};
enum {
    WINMM_TIME_SET_EVENT, WINMM_TIME_KILL_EVENT, WINMM_TIME_BEGIN_PERIOD, WINMM_TIME_END_PERIOD, WINMM_TIME_GET_TIME,
    WINMM_TIME_GET_DEV_CAPS, WINMM_JOY_GET_POS_EX, WINMM_JOY_GET_DEV_CAPS, WINMM_MCI_SEND_COMMAND
};
enum {
    OLE_CO_CREATE_INSTANCE, OLE_CO_TASK_MEM_ALLOC, OLE_CO_TASK_MEM_FREE, OLE_CO_INITIALIZE, OLE_CO_FREE_UNUSED_LIBRARIES,
    OLE_CO_UNINITIALIZE
};
FARPROC GetBoundEntry(int library, int index);

// Start-up options, set before InitEngine (all 0 by default): leave input, sound or graphics unstarted.
int SetEngineStartOptions(int disableInput, int disableSound, int disableGraphics);
// Window-less mode: the engine makes no window. User window mode: the engine works on a window the caller made,
// subclassing it until the end, when its own procedure is put back. Both set before InitEngine; null/0 = off.
int SetWindowlessMode(int flag);
int SetUserWindow(HWND window);
// The caller's hooks, each optional (null removes it): activation changes, window-mode switches done by the pump
// (Alt+Enter, the maximise button), and every message of the main window before the engine handles it (the
// hook's result is not used).
typedef void (*WindowActivationCallback)(int active, void *data);
typedef void (*WindowModeChangeCallback)(void *data);
typedef LRESULT (*WindowMessageHook)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int SetWindowActivationCallback(WindowActivationCallback callback, void *data);
int SetWindowModeChangeCallback(WindowModeChangeCallback callback, void *data);
int SetWindowMessageHook(WindowMessageHook hook);
// Keeps the keys that would take the user out of the program (Windows keys, Alt+Tab, Alt+Esc, Ctrl+Esc, the
// Alt menu key) away from the system while the window is active; set before InitEngine, 0 by default.
int SetSystemKeySuppression(int flag);

int InitEngine(void);
int EndEngine(void);
int IsEngineInitialised(void);
int IsEngineStarting(void); // 1 while InitEngine runs
int InitEngineCore(void);
int EndEngineCore(void);
void FatalErrorExit(const char *message);
void FatalErrorExitFormat(const char *format, ...);

// The engine call lock: recursive, waiting threads served first come, first served.
int EnterEngineLock(void);
int LeaveEngineLock(void);
DWORD GetEngineLockOwner(void); // the thread holding the lock, 0 when free

// Message pump: 0 while the program runs, -1 once the window is closed or a quit message came.
int ProcessWindowMessages(void);
int ProcessMessageCore(void);
int IsMessagePumpRunning(void); // 1 inside ProcessMessageCore: its upkeep must not pump again
void WaitWhileInactive(void);
// What the pump does besides dispatching, each off by default: a modeless dialog whose messages go through
// IsDialogMessageA, an accelerator table for the main window, and clipping the cursor to the client area once it
// lies inside (window mode, until the window loses the activation).
int SetPumpDialogWindow(HWND dialog);
int SetPumpAcceleratorTable(HACCEL table);
int AddPumpExtraWindow(HWND window);    // at most 64; -1 when full
int RemovePumpExtraWindow(HWND window); // -1 when not listed
int SetClipCursorToClient(int flag);

// Window state queries and window-side services.
int IsWindowClosed(void);
HWND GetAppWindowHandle(void);
int IsWindowedMode(void);
int IsWindowActive(void);
int GetPaintRedrawFlag(void);
int GetMmxUsableFlag(void);
int GetCloseRequestedFlag(void);
int GetDesktopScreenState(int *width, int *height, int *colorBits);
double GetWindowScaleRates(double *xRate, double *yRate);
int EnableDesktopComposition(int enable);
int SetMainWindowTitle(const char *text);
int SetAllowMultipleInstances(int flag);
int SetRunInBackground(int flag); // 1: the pump and the drawing calls go on while the window is inactive
int GetWindowClientArea(RECT *rect);
int GetBackgroundColor(int *red, int *green, int *blue); // the colour new screens are cleared to; black unless set
int OnWindowMoved(LPARAM lParam);
int ForceForegroundWindow(HWND window, int topmost);
int ReadClipboardText(char *buffer);
int WriteClipboardText(const char *text);
int RedrawWindowScreen(HDC dc);
// Layered windows: the option is set before start-up (or before a style change); the presenter draws an image
// with per-pixel alpha, or a DC with the colour key, into the layered window.
struct BaseImage;
int SetWindowLayeredOption(int flag, COLORREF colorKey);
int SetupWindowDibSection(BaseImage *image, HDC dc);

// Menus, toolbar, cursor and mouse.
int IsMenuShown(void);
int SetMenuVisible(int visible);
int UpdateMenuAutoShow(void);
int EnumerateMenuItems(HMENU menu);
int GetMenuItemRecord(HMENU menu, int position, MENUITEMINFOA *info, char *name);
int FindMenuItemById(int id, char *name);
int FindToolbarButton(int id);
int GetToolbarHeight(void);
int ReleaseToolbarButtons(void);
int SetCursorVisible(int flag);
int GetMousePoint(int *x, int *y);
void LogMousePoint(int button);
int FreeDroppedFileNames(void);
// The window's menu: given before start-up (the engine owns it from then on and destroys it at the end). The
// callbacks, each optional, receive every chosen command id and the chosen item's name; the chosen ids also
// queue (64 at most, each once) until taken, oldest first (-1 when none is queued).
typedef void (*MenuCommandCallback)(int id);
typedef void (*MenuItemNameCallback)(const char *name);
int SetWindowMenu(HMENU menu, MenuCommandCallback commandCallback, MenuItemNameCallback nameCallback);
int TakeChosenMenuId(void);

// Window mode and window size.
int ChangeWindowMode(int windowed);
int StoreWindowModeFlag(int windowed);
int ApplyWindowStyle(void);
int SetWindowResizable(int resizable, int keepSize);
int SetWindowStretchRates(double xRate, double yRate);
int FitWindowToScreen(void);
void AdjustSizingRect(int edge, RECT *rect);

// The arithmetic of a resize drag, apart from the window: what AdjustSizingRect computes.
struct SizingInput {
    int edge;                        // WMSZ_LEFT .. WMSZ_BOTTOMRIGHT
    RECT rect;                       // the dragged window rectangle, adjusted in place
    int screenWidth, screenHeight;   // W x H
    int frameWidth, frameHeight;     // window size minus client size
    int desktopWidth, desktopHeight;
    int fixedSize;                   // an explicit size or keep-size is in force
    double stretchRateX, stretchRateY; // in: the stored rates; out: the rates a free drag gives
};
void ComputeSizingRect(SizingInput *sizing);

// IME messages of the main window.
LRESULT HandleImeMessage(UINT message, HWND window, WPARAM wParam, LPARAM lParam);
int GetImeEnableFlag(void);
int SetImeEnableFlag(int flag);
int ClearImeComposition(void);
const char *GetImeCompositionText(void); // the composition string being typed, empty when none
int ClearImeCompositionText(void);       // the engine's copy of the composition string only
// The window's IME context through the bound entries (null when they are missing or there is none), and its
// release; and one of the IME's strings read into a buffer of outSize bytes, cut and terminated.
HIMC OpenImeContext(HWND window);
void CloseImeContext(HWND window, HIMC context);
typedef LONG(WINAPI *ImmGetCompositionStringFunction)(HIMC, DWORD, LPVOID, DWORD);
int ReadImeString(ImmGetCompositionStringFunction getString, HIMC context, DWORD index, void *out, int outSize);
// The rest of the engine's copy of the IME state, for text entry; valid until the next IME message.
struct ImeState {
    int composing;        // between the start and the end of a composition
    int cursor;           // in the composition string, in characters
    const DWORD *clauses; // clause offsets
    int clauseCount;
    const unsigned char *attributes; // one per composition byte
    int attributeLength;
    const void *candidates; // the CANDIDATELIST while candidates are open, else null
    int candidateListSize;
    int open; // the IME's open status as last notified
};
void GetImeState(ImeState *state);
