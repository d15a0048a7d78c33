// The engine's small stateless routines: byte strings (multi-byte aware where characters matter, by the engine's
// character set), memory blocks, number conversion, bounded formatting, path resolution against a base folder
// (by default the current directory of the installed file-function table), and finding a resource in the
// executable. Safe on any thread.
#include "core/core.h"
#include "file/file.h"
#include "font/font.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

// ---------------------------------------------------------------------------------------------------------------
// Strings.

char *StrCopy(char *destination, const char *source)
{
    char *out = destination;
    while ((*out++ = *source++) != '\0') {
    }
    return destination;
}

char *StrCopyN(char *destination, const char *source, int count)
{
    int i = 0;
    for (; i < count && source[i] != '\0'; i++) {
        destination[i] = source[i];
    }
    destination[i] = '\0';
    return destination;
}

// Steps over one character: two bytes for a lead byte that is not cut off by the terminator.
static const char *NextChar(const char *p, CharSetId charSet)
{
    return (IsMultiByteLeadByte(p, charSet) && p[1] != '\0') ? p + 2 : p + 1;
}

const char *StrFindCharMb(const char *text, int byte)
{
    CharSetId charSet = GetEngineCharSet();
    for (const char *p = text; *p != '\0'; p = NextChar(p, charSet)) {
        if ((unsigned char)*p == (unsigned char)byte) {
            return p;
        }
    }
    return NULL;
}

int StrCompare(const char *a, const char *b)
{
    return strcmp(a, b) == 0 ? 0 : 1;
}

char *StrToUpperMb(char *text)
{
    CharSetId charSet = GetEngineCharSet();
    char *p = text;
    while (*p != '\0') {
        if (*p >= 'a' && *p <= 'z') {
            *p -= 'a' - 'A';
        }
        p = (char *)NextChar(p, charSet);
    }
    return p;
}

int StrCompareN(const char *a, const char *b, int count)
{
    if (count < 0) {
        return 1;
    }
    return MemCompare(a, b, (size_t)count);
}

char *IntToString(int value, char *buffer, int radix)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char *out = buffer;
    if (radix < 2 || radix > 36) {
        *out = '\0';
        return buffer;
    }
    // Unsigned magnitude, so that the most negative int converts too.
    unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
    if (value < 0) {
        *out++ = '-';
    }
    char reversed[33];
    int count = 0;
    do {
        reversed[count++] = digits[magnitude % (unsigned int)radix];
        magnitude /= (unsigned int)radix;
    } while (magnitude != 0);
    while (count > 0) {
        *out++ = reversed[--count];
    }
    *out = '\0';
    return buffer;
}

int VSprintfWrap(char *buffer, size_t bufferSize, const char *format, va_list args)
{
    if (bufferSize == 0) {
        return 0;
    }
    int length = vsnprintf(buffer, bufferSize, format, args);
    if (length < 0) {
        length = 0;
    } else if ((size_t)length >= bufferSize) {
        length = (int)bufferSize - 1;
        // A cut through a double-byte character would leave a lead byte that swallows whatever follows it
        // (the log's line end among them): the cut goes before the whole character.
        if (length > 0 && IsDoubleByteCharAt(buffer, length - 1, GetEngineCharSet()) == 1) {
            length--;
        }
    }
    buffer[length] = '\0';
    return length;
}

int SprintfWrap(char *buffer, size_t bufferSize, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    VSprintfWrap(buffer, bufferSize, format, args);
    va_end(args);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Memory.

void MemFill(void *destination, int byte, size_t count)
{
    if (count != 0) {
        memset(destination, byte, count);
    }
}

int MemCompare(const void *a, const void *b, size_t count)
{
    return (count == 0 || memcmp(a, b, count) == 0) ? 0 : 1;
}

void MemCopy(void *destination, const void *source, size_t count)
{
    unsigned char *out = (unsigned char *)destination;
    const unsigned char *in = (const unsigned char *)source;
    for (size_t i = 0; i < count; i++) {
        out[i] = in[i];
    }
}

void MemMove(void *destination, const void *source, size_t count)
{
    unsigned char *out = (unsigned char *)destination;
    const unsigned char *in = (const unsigned char *)source;
    if (in == out) {
        return;
    }
    if (in < out) {
        // The source lies below: copy from the end so that no byte is overwritten before it is read.
        for (size_t i = count; i > 0; i--) {
            out[i - 1] = in[i - 1];
        }
    } else {
        MemCopy(destination, source, count);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Numbers.

int AbsInt(int value)
{
    return value < 0 ? -value : value;
}

float FloatSignTest(float value)
{
    return fabsf(value);
}

void DoubleRectToIntRect(const double source[4], int destination[4])
{
    for (int i = 0; i < 4; i++) {
        destination[i] = DoubleToInt(source[i]);
    }
}

float SqrtFloat(float value)
{
    return sqrtf(value);
}

// ---------------------------------------------------------------------------------------------------------------
// Paths.

static int IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A path under construction in a caller's buffer; every append is bounded.
struct PathBuilder {
    char *text;
    size_t size;
    size_t length;
    int overflow;
};

static void PathAppend(PathBuilder *path, const char *piece, size_t length)
{
    if (path->length + length >= path->size) {
        path->overflow = 1;
        return;
    }
    memcpy(path->text + path->length, piece, length);
    path->length += length;
    path->text[path->length] = '\0';
}

// The byte index where the last component of the path begins its separator (or just after a drive colon, which
// is kept), scanning whole characters so that a trail byte 0x5C is not taken for a separator.
static size_t LastComponentCut(const char *text, CharSetId charSet)
{
    size_t cut = 0;
    for (const char *p = text; *p != '\0'; p = NextChar(p, charSet)) {
        if (IsSeparator(*p)) {
            cut = (size_t)(p - text);
        } else if (*p == ':') {
            cut = (size_t)(p - text) + 1;
        }
    }
    return cut;
}

static void PathRemoveLastComponent(PathBuilder *path, CharSetId charSet)
{
    path->length = LastComponentCut(path->text, charSet);
    path->text[path->length] = '\0';
}

// Whether the text ends in a separator that is a character of its own.
static int EndsInSeparator(const char *text, size_t length, CharSetId charSet)
{
    return length > 0 && IsSeparator(text[length - 1]) && IsDoubleByteCharAt(text, (int)length - 1, charSet) == 0;
}

size_t MeasurePathComponent(const char *path, int charSet)
{
    const char *end = path;
    while (*end != '\0' && !IsSeparator(*end)) {
        end = NextChar(end, charSet);
    }
    return (size_t)(end - path);
}

int BuildFullPath(const char *relative, char *out, size_t outSize, const char *base)
{
    if (outSize == 0) {
        return -1;
    }
    char currentDirectory[MAX_PATH + 1];
    if (base == NULL) {
        // Asked of the installed file-function table, so a caller's own table decides what "current" means.
        // The table's operation takes no size: the buffer holds the longest path a Win32 call hands back, and
        // is terminated whatever the operation left in it.
        currentDirectory[0] = '\0';
        const FileFunctionTable *files = GetFileAccessTable();
        if (files->getCurrentDir != NULL) {
            files->getCurrentDir(currentDirectory);
        }
        currentDirectory[MAX_PATH] = '\0';
        base = currentDirectory;
    }
    CharSetId charSet = GetEngineCharSet();
    PathBuilder path = {out, outSize, 0, 0};
    out[0] = '\0';

    const char *read = relative;
    if (relative == NULL) {
        PathAppend(&path, base, strlen(base));
        read = "";
    } else if (IsSeparator(relative[0]) && relative[1] == relative[0]) {
        PathAppend(&path, "\\", 1);
        read = relative + 2;
    } else if (IsSeparator(relative[0])) {
        PathAppend(&path, base, strnlen(base, 2));
        read = relative + 1;
    } else if (relative[0] != '\0' && relative[1] == ':') {
        PathAppend(&path, relative, 2);
        read = relative + 2 + IsSeparator(relative[2]);
    } else {
        size_t length = strlen(base);
        if (EndsInSeparator(base, length, charSet)) {
            length--;
        }
        PathAppend(&path, base, length);
    }

    while (*read != '\0' && !path.overflow) {
        size_t length = MeasurePathComponent(read, charSet);
        const char *end = read + length;
        // A final component without a separator after it is appended as written, even "." or "..".
        int last = *end == '\0';
        if (length == 0 || (!last && length == 1 && read[0] == '.')) {
            // Empty or "." components change nothing.
        } else if (!last && length == 2 && read[0] == '.' && read[1] == '.') {
            PathRemoveLastComponent(&path, charSet);
        } else {
            PathAppend(&path, "\\", 1);
            PathAppend(&path, read, length);
        }
        read = last ? end : end + 1;
    }
    if (path.overflow) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Resources of the executable.

int FindResourceData(const char *name, const char *type, void **address, int *size)
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC resource = FindResourceA(module, name, type);
    if (resource == NULL) {
        return -1;
    }
    DWORD byteCount = SizeofResource(module, resource);
    HGLOBAL loaded = byteCount != 0 ? LoadResource(module, resource) : NULL;
    void *data = loaded != NULL ? LockResource(loaded) : NULL;
    if (data == NULL) {
        return -1;
    }
    if (address != NULL) {
        *address = data;
    }
    if (size != NULL) {
        *size = (int)byteCount;
    }
    return 0;
}
