// The least of the Windows declarations that the engine's public headers name, so that the image decoders, the
// pixel code, the stream and archive decoding and the sound converter build for the Linux host (tests under the
// sanitizers, fuzzing).
// Types only, with the sizes they have on Windows where a header's layout depends on them; no functions.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef void *HANDLE;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef struct HDC__ *HDC;
typedef struct HMENU__ *HMENU;
typedef struct HACCEL__ *HACCEL;
typedef struct HIMC__ *HIMC;
typedef DWORD COLORREF;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef intptr_t (*FARPROC)(void);
typedef void *LPVOID;
typedef DWORD *LPDWORD;
typedef BYTE *LPBYTE;
typedef struct HINSTANCE__ *HMODULE;
typedef struct IUnknown IUnknown;
typedef struct _CRITICAL_SECTION {
    void *opaque[6];
} CRITICAL_SECTION;
#define WINAPI

#define MAX_PATH 260
#define TRUE 1
#define FALSE 0

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATAA;

// Named only through pointers in the headers.
typedef struct _OSVERSIONINFOA OSVERSIONINFOA;
typedef struct tagMENUITEMINFOA MENUITEMINFOA;
