// Log file "Log.txt": every line is the milliseconds since the log was started, a colon, one tab per open
// nesting level, the text and CR LF; text written without a final line feed continues the same line. The file
// is opened, appended to and closed on every call, so it is complete after a crash. The same text goes to the
// debugger output. No lock of its own: the file is opened without sharing, so calls from the few threads that
// log (window, sound refill, file access) take turns at call granularity.
#include "core/core.h"
#include "font/font.h"

#include <mmsystem.h>
#include <stdio.h>
#include <string.h>

#define LOG_SMALL_TEXT 255      // texts up to this many bytes (after conversion) are converted on the stack
#define LOG_TAB_BUFFER_SIZE 512 // indent levels beyond 511 are written as 511
#define LOG_NETWORK_TEXT_SIZE 1024
// While another thread has the file open, the open is retried with pauses growing from 1 to 16 ms for up to 10 s
// of pauses: a loaded machine can hold a writer off for long, and a lost line is worse than a late one.
#define LOG_OPEN_PATIENCE_MS 10000
#define LOG_OPEN_LONGEST_PAUSE_MS 16

static char s_LogDirectory[MAX_PATH];
static char s_LogFileName[64] = "Log.txt";
static DWORD s_StartTime;
static int s_IndentLevel;
static int s_MidLine; // the last text written did not end with a line feed

static int s_LogOff;
static int s_LogHeldElsewhere; // the last open found the file busy for the whole patience
static int s_DatedFileName;
static int s_NoTimeStamp;

// Line-end conversion state, kept across pieces so that a long text can be converted piece by piece:
// a bare "\n" becomes "\r\n"; from the first "\n" that already has its "\r" on, the text is copied unchanged.
struct LineEndConverter {
    const char *text;
    size_t length;
    size_t position;
    int previousWasCr;
    int copyRest;
};

// Converts from the current position into out, stopping before a character that would not fit in capacity
// bytes; with out null it only counts. Returns the bytes produced. Double-byte characters are copied whole.
static size_t ConvertLineEnds(LineEndConverter *c, char *out, size_t capacity)
{
    CharSetId charSet = GetEngineCharSet();
    size_t produced = 0;
    while (c->position < c->length) {
        const char *p = c->text + c->position;
        size_t take = 1;
        size_t emit = 1;
        if (c->copyRest) {
            // Copied unchanged byte by byte.
        } else if (*p == '\n') {
            if (c->previousWasCr) {
                c->copyRest = 1;
            } else {
                emit = 2;
            }
        } else if (c->position + 1 < c->length && IsMultiByteLeadByte(p, charSet)) {
            take = emit = 2;
        }
        if (produced + emit > capacity) {
            break;
        }
        if (out != NULL) {
            if (emit > take) {
                out[produced] = '\r';
            }
            memcpy(out + produced + emit - take, p, take);
        }
        produced += emit;
        c->previousWasCr = take == 1 && *p == '\r';
        c->position += take;
    }
    return produced;
}

// The log file's path, or an empty string when the log is off or has no directory.
static void BuildLogPath(char *path, size_t pathSize)
{
    path[0] = '\0';
    size_t length = strlen(s_LogDirectory);
    if (s_LogOff || length == 0) {
        return;
    }
    // A trailing 0x5C may be the trail byte of a double-byte character rather than a separator.
    int endsInSeparator = (s_LogDirectory[length - 1] == '\\' || s_LogDirectory[length - 1] == '/') &&
                          IsDoubleByteCharAt(s_LogDirectory, (int)length - 1, GetEngineCharSet()) == 0;
    snprintf(path, pathSize, "%s%s%s", s_LogDirectory, endsInSeparator ? "" : "\\", s_LogFileName);
}

// Opens the log for appending. The file is opened without sharing, which also keeps two threads' calls apart:
// while another thread has it open, the open is tried again instead of losing the text. A file that stayed busy
// for the whole patience is held by someone else (another program): later calls then try once each until an
// open succeeds again, so that logging never stalls the program line after line.
static HANDLE OpenLogFile(const char *path)
{
    if (path[0] == '\0') {
        return INVALID_HANDLE_VALUE;
    }
    DWORD waited = 0, pause = 1;
    for (;;) {
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            s_LogHeldElsewhere = 0;
            return file;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION || s_LogHeldElsewhere || waited >= LOG_OPEN_PATIENCE_MS) {
            s_LogHeldElsewhere = s_LogHeldElsewhere || waited >= LOG_OPEN_PATIENCE_MS;
            return file;
        }
        Sleep(pause);
        waited += pause;
        pause = pause * 2 < LOG_OPEN_LONGEST_PAUSE_MS ? pause * 2 : LOG_OPEN_LONGEST_PAUSE_MS;
    }
}

static void WriteLogPiece(HANDLE file, const char *piece, size_t length)
{
    DWORD written;
    WriteFile(file, piece, (DWORD)length, &written, NULL);
    OutputDebugStringA(piece);
}

// The "<ms>:" stamp and the indent tabs that open a new line.
static void WriteLinePrefix(HANDLE file)
{
    char prefix[16 + LOG_TAB_BUFFER_SIZE];
    int length = 0;
    if (!s_NoTimeStamp) {
        length = snprintf(prefix, sizeof prefix, "%d:", (int)(timeGetTime() - s_StartTime));
    }
    int tabs = s_IndentLevel < LOG_TAB_BUFFER_SIZE - 1 ? s_IndentLevel : LOG_TAB_BUFFER_SIZE - 1;
    memset(prefix + length, '\t', tabs);
    length += tabs;
    prefix[length] = '\0';
    if (length > 0) {
        WriteLogPiece(file, prefix, length);
    }
}

int AddLog(const char *text)
{
    if (text == NULL || text[0] == '\0') {
        return -1;
    }
    LineEndConverter converter = {text, strlen(text), 0, 0, 0};
    LineEndConverter counter = converter;
    size_t convertedLength = ConvertLineEnds(&counter, NULL, (size_t)-1);

    // A long text is converted into one tracked block (with room for the terminator) and written at once;
    // when that block cannot be had, it is converted and written through the stack buffer piece by piece.
    char smallBuffer[LOG_SMALL_TEXT + 1];
    char *buffer = smallBuffer;
    size_t capacity = LOG_SMALL_TEXT;
    char *block = NULL;
    if (convertedLength > LOG_SMALL_TEXT) {
        block = (char *)AllocMemory(convertedLength + 1, NULL, -1);
        if (block != NULL) {
            buffer = block;
            capacity = convertedLength;
        }
    }

    char path[MAX_PATH + 80];
    BuildLogPath(path, sizeof path);
    HANDLE file = OpenLogFile(path);
    if (file != INVALID_HANDLE_VALUE) {
        SetFilePointer(file, 0, NULL, FILE_END);
        if (!s_MidLine) {
            WriteLinePrefix(file);
        }
        while (converter.position < converter.length) {
            size_t produced = ConvertLineEnds(&converter, buffer, capacity);
            buffer[produced] = '\0';
            WriteLogPiece(file, buffer, produced);
        }
        CloseHandle(file);
    }
    // Conversion only inserts "\r" before "\n", so the text's last byte is the converted text's last byte.
    s_MidLine = text[converter.length - 1] != '\n';
    FreeMemory(block);
    return -1;
}

int AddLogTail(const char *text)
{
    return AddLog(text);
}

int LogFormatLine(const char *format, ...)
{
    char buffer[LOG_FORMAT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    // One byte is kept back for the line feed.
    int length = VSprintfWrap(buffer, sizeof buffer - 1, format, args);
    va_end(args);
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    return AddLog(buffer);
}

int LogIndentIncrease(void)
{
    s_IndentLevel++;
    return 0;
}

int LogIndentDecrease(void)
{
    if (s_IndentLevel > 0) {
        s_IndentLevel--;
    }
    return 0;
}

int StartLogFile(void)
{
    if (s_LogOff) {
        return 0;
    }
    if (s_DatedFileName) {
        DateRecord now;
        GetLocalDateRecord(&now);
        snprintf(s_LogFileName, sizeof s_LogFileName, "Log%d_%d_%d_%d_%d_%d.txt", now.year, now.month, now.day,
                 now.hour, now.minute, now.second);
    } else {
        StrCopy(s_LogFileName, "Log.txt");
    }
    char path[MAX_PATH + 80];
    BuildLogPath(path, sizeof path);
    const char *name = path[0] != '\0' ? path : s_LogFileName;
    DeleteFileA(name);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    s_IndentLevel = 0;
    s_MidLine = 0;
    s_StartTime = timeGetTime();
    return 0;
}

typedef int(WINAPI *WsaGetLastErrorFunction)(void);

// The Winsock error code through the entry engine start-up bound; 0 while none is bound (no socket can have
// failed then).
static int LastWinsockError(void)
{
    WsaGetLastErrorFunction getLastError =
        (WsaGetLastErrorFunction)(void (*)(void))GetBoundEntry(BOUND_WS2_32, WS2_WSA_GET_LAST_ERROR);
    return getLastError != NULL ? getLastError() : 0;
}

int LogNetworkError(const char *format, ...)
{
    int error = LastWinsockError();
    char text[LOG_NETWORK_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    VSprintfWrap(text, sizeof text, format, args);
    va_end(args);
    return LogFormatLine("ネットワークログ。%s[%d]", text, error);
}

int SetLogDirectory(const char *directory)
{
    if (directory == NULL) {
        directory = "";
    }
    if (strlen(directory) >= sizeof s_LogDirectory) {
        return -1;
    }
    StrCopy(s_LogDirectory, directory);
    return 0;
}

const char *GetLogDirectory(void)
{
    return s_LogDirectory;
}

void SetLogOptions(int logOff, int datedFileName, int noTimeStamp)
{
    s_LogOff = logOff;
    s_DatedFileName = datedFileName;
    s_NoTimeStamp = noTimeStamp;
}
