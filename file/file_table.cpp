// The file-function table: the twelve replaceable operations every engine read by name goes through, and the
// forwarders the file-stream table calls, so that a table installed later reaches every existing stream.
// Installed at start-up on the window thread; read by any thread afterwards.
#include "file/file.h"

static constexpr FileFunctionTable kArchiveAwareFunctions = {
    ArchiveAwareOpen,          ArchiveAwareClose,     ArchiveAwareTell,      ArchiveAwareSeek,
    ArchiveAwareRead,          ArchiveAwareEof,       ArchiveAwareIdleCheck, ArchiveAwareSetCurrentDir,
    ArchiveAwareGetCurrentDir, ArchiveAwareFindFirst, ArchiveAwareFindNext,  ArchiveAwareFindClose};
static constexpr FileFunctionTable kPlainFunctions = {
    WinFileOpen,      WinFileClose,     WinFileTell,      WinFileSeek,  WinFileRead, WinFileEof,
    WinFileIdleCheck, WinSetCurrentDir, WinGetCurrentDir, WinFindFirst, WinFindNext, WinFindClose};

// The engine's no-archive setting: nothing changes it, so the archive-aware set is the default.
static const int g_NoArchive = 0;
// Holds the default set from program start, so reads work before start-up installs it.
static FileFunctionTable g_FileFunctions = kArchiveAwareFunctions;

int SetFileAccessTable(const FileFunctionTable *table)
{
    if (table != NULL) {
        g_FileFunctions = *table;
    } else {
        g_FileFunctions = g_NoArchive ? kPlainFunctions : kArchiveAwareFunctions;
    }
    return 0;
}

const FileFunctionTable *GetFileAccessTable(void)
{
    return &g_FileFunctions;
}

FileHandle FileOpenThunk(const char *path, int cacheFlag, int ignored, int asyncFlag)
{
    return g_FileFunctions.open(path, cacheFlag, ignored, asyncFlag);
}

int FileCloseThunk(DWORD_PTR handle)
{
    return g_FileFunctions.close(handle);
}

int FileTellThunk(DWORD_PTR handle)
{
    return g_FileFunctions.tell(handle);
}

int FileSeekThunk(DWORD_PTR handle, int offset, int origin)
{
    return g_FileFunctions.seek(handle, offset, origin);
}

size_t FileReadThunk(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle)
{
    return g_FileFunctions.read(buffer, elementSize, count, handle);
}

int FileEofThunk(DWORD_PTR handle)
{
    return g_FileFunctions.eof(handle);
}

int FileIdleCheckThunk(DWORD_PTR handle)
{
    return g_FileFunctions.idleCheck(handle);
}
