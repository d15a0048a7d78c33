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
static const int s_NoArchive = 0;
// Holds the default set from program start, so reads work before start-up installs it.
static FileFunctionTable s_FileFunctions = kArchiveAwareFunctions;

int SetFileAccessTable(const FileFunctionTable *table)
{
    if (table != NULL) {
        s_FileFunctions = *table;
    } else {
        s_FileFunctions = s_NoArchive ? kPlainFunctions : kArchiveAwareFunctions;
    }
    return 0;
}

const FileFunctionTable *GetFileAccessTable(void)
{
    return &s_FileFunctions;
}

FileHandle FileOpenThunk(const char *path, int cacheFlag, int ignored, int asyncFlag)
{
    return s_FileFunctions.open(path, cacheFlag, ignored, asyncFlag);
}

int FileCloseThunk(DWORD_PTR handle)
{
    return s_FileFunctions.close(handle);
}

int FileTellThunk(DWORD_PTR handle)
{
    return s_FileFunctions.tell(handle);
}

int FileSeekThunk(DWORD_PTR handle, int offset, int origin)
{
    return s_FileFunctions.seek(handle, offset, origin);
}

size_t FileReadThunk(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle)
{
    return s_FileFunctions.read(buffer, elementSize, count, handle);
}

int FileEofThunk(DWORD_PTR handle)
{
    return s_FileFunctions.eof(handle);
}

int FileIdleCheckThunk(DWORD_PTR handle)
{
    return s_FileFunctions.idleCheck(handle);
}
