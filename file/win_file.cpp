// The plain Win32 file set: synchronous files, and files served by their own access thread with a 128 KB
// read-ahead cache (cache flag) or reads that return at once (asynchronous flag). The caller's thread and a
// file's access thread share one command block and meet only through the command and done events: the caller
// writes a command after done is signalled and before it signals command; the thread reads it after the command
// event and signals done when finished. Position and end-of-file belong to the caller's thread, the cache to
// the access thread. Reads report and advance by the bytes actually read.
#include "file/file_test_hooks.h"
#include "file/stream_seek.h"

#define FILE_PATH_SIZE 260
#define FILE_CACHE_WAIT_MS 100

enum FileThreadCommand {
    FILE_COMMAND_OPEN = 0,
    FILE_COMMAND_CLOSE_FILE = 1,
    FILE_COMMAND_READ = 2,
    FILE_COMMAND_SEEK = 3,
    FILE_COMMAND_EXIT = 4,
};

struct FileThreadBlock {
    DWORD threadId;
    HANDLE thread;
    HANDLE file;
    HANDLE commandEvent;
    HANDLE doneEvent; // signalled while the thread is idle
    unsigned int command;
    unsigned int openFailed;
    char path[FILE_PATH_SIZE];
    unsigned char *readDestination;
    unsigned int readPosition;
    unsigned int readCount; // replaced by the bytes actually delivered
    unsigned int seekTarget;
    unsigned char *cache; // null without the cache flag
    unsigned int cachePosition;
    unsigned int cacheFill;
};

struct PlainFileRecord {
    HANDLE file; // synchronous mode
    unsigned int threaded;
    unsigned int cacheFlag;
    unsigned int asyncFlag;
    unsigned int endOfFile;
    unsigned int position;
    unsigned int size;
    unsigned int pendingReadCount; // bytes an asynchronous read asked for, until its result is taken
    FileThreadBlock thread;
};

static HANDLE OpenFileForReading(const char *path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

// The size (low word) of a file just opened by OpenFileForReading. Its share mode lets nobody write, rename or
// delete the file while the handle is open, so the path still names that very file and its attributes read by
// path give the handle's size; a look-up by path costs a fraction of a query on a new handle, which has the
// platform hand the process the file's descriptor first. The handle's own query is the fallback.
static unsigned int GetOpenedFileSize(HANDLE file, const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return data.nFileSizeLow;
    }
    return GetFileSize(file, NULL);
}

// Positions are one unsigned 32-bit word: the high word is passed as 0 so that positions from 2 GB up are
// taken as they are rather than as negative distances.
static BOOL SetFilePosition(HANDLE file, unsigned int position)
{
    LONG high = 0;
    SetLastError(NO_ERROR); // a position of 0xFFFFFFFF comes back as INVALID_SET_FILE_POINTER on success
    return SetFilePointer(file, (LONG)position, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
           GetLastError() == NO_ERROR;
}

static unsigned int ReadFileBytes(HANDLE file, void *destination, unsigned int count)
{
    DWORD got = 0;
    if (!ReadFile(file, destination, count, &got, NULL)) {
        return 0;
    }
    return got;
}

// ---------------------------------------------------------------------------------------------------------------
// The access thread.

static void FillReadAheadCache(FileThreadBlock *block)
{
    if (block->file == NULL || block->cacheFill >= FILE_CACHE_SIZE) {
        return;
    }
    if (!SetFilePosition(block->file, block->cachePosition + block->cacheFill)) {
        return;
    }
    block->cacheFill += ReadFileBytes(block->file, block->cache + block->cacheFill, FILE_CACHE_SIZE - block->cacheFill);
}

// Serves a read from the front of the cache when it starts there, the rest straight from the file; any read
// that was not wholly served from the cache restarts the cache just after it.
static void ServeFileRead(FileThreadBlock *block)
{
    unsigned char *destination = block->readDestination;
    unsigned int position = block->readPosition;
    unsigned int wanted = block->readCount;
    unsigned int delivered = 0;
    if (block->cache != NULL && position == block->cachePosition && block->cacheFill > 0) {
        unsigned int k = wanted < block->cacheFill ? wanted : block->cacheFill;
        MemCopy(destination, block->cache, k);
        destination += k;
        position += k;
        wanted -= k;
        delivered = k;
        block->cachePosition += k;
        block->cacheFill -= k;
        MemMove(block->cache, block->cache + k, block->cacheFill);
    }
    if (wanted > 0) {
        unsigned int got = 0;
        if (block->file != NULL && SetFilePosition(block->file, position)) {
            got = ReadFileBytes(block->file, destination, wanted);
        }
        delivered += got;
        if (block->cache != NULL) {
            block->cachePosition = position + got;
            block->cacheFill = 0;
        }
    }
    block->readCount = delivered;
}

static void CloseThreadFile(FileThreadBlock *block)
{
    if (block->file != NULL) {
        CloseHandle(block->file);
        block->file = NULL;
    }
}

static DWORD WINAPI AsyncFileReadThread(LPVOID parameter)
{
    FileThreadBlock *block = (FileThreadBlock *)parameter;
    for (;;) {
        DWORD wait = block->cache != NULL ? FILE_CACHE_WAIT_MS : INFINITE;
        if (WaitForSingleObject(block->commandEvent, wait) == WAIT_TIMEOUT) {
            FillReadAheadCache(block);
            continue;
        }
        ResetEvent(block->commandEvent);
        ResetEvent(block->doneEvent);
        switch (block->command) {
        case FILE_COMMAND_OPEN: {
            HANDLE file = OpenFileForReading(block->path);
            if (file == INVALID_HANDLE_VALUE) {
                block->openFailed = 1;
                SetEvent(block->doneEvent);
                return 0;
            }
            block->file = file;
            break;
        }
        case FILE_COMMAND_CLOSE_FILE:
            CloseThreadFile(block);
            break;
        case FILE_COMMAND_READ:
            ServeFileRead(block);
            break;
        case FILE_COMMAND_SEEK:
            if (block->file != NULL) {
                SetFilePosition(block->file, block->seekTarget);
            }
            if (block->cache != NULL) {
                block->cacheFill = 0;
                block->cachePosition = block->seekTarget;
            }
            break;
        case FILE_COMMAND_EXIT:
            CloseThreadFile(block);
            SetEvent(block->doneEvent);
            return 1;
        }
        SetEvent(block->doneEvent);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The caller's side of the command block.

// An asynchronous read was counted as whole when it was posted; once the thread has finished, a short read
// takes back the bytes it did not deliver.
static void SettleFileRead(PlainFileRecord *record)
{
    if (record->pendingReadCount == 0) {
        return;
    }
    unsigned int shortfall = record->pendingReadCount - record->thread.readCount;
    record->position -= shortfall;
    record->pendingReadCount = 0;
}

static void WaitFileThreadIdle(PlainFileRecord *record)
{
    WaitForSingleObject(record->thread.doneEvent, INFINITE);
    SettleFileRead(record);
}

static void PostFileCommand(PlainFileRecord *record, unsigned int command)
{
    record->thread.command = command;
    ResetEvent(record->thread.doneEvent);
    SetEvent(record->thread.commandEvent);
}

// Waits for the thread to end, then frees what the thread block holds.
static void EndFileThread(FileThreadBlock *block)
{
    WaitForSingleObject(block->thread, INFINITE);
    FreeMemory(block->cache);
    CloseHandle(block->thread);
    CloseHandle(block->doneEvent);
    CloseHandle(block->commandEvent);
}

static FileHandle OpenThreadedFile(PlainFileRecord *record, const char *path)
{
    HANDLE probe = OpenFileForReading(path);
    if (probe == INVALID_HANDLE_VALUE) {
        FreeMemory(record);
        return 0;
    }
    record->size = GetOpenedFileSize(probe, path);
    CloseHandle(probe);

    FileThreadBlock *block = &record->thread;
    if (record->cacheFlag) {
        block->cache = (unsigned char *)ENGINE_ALLOC(FILE_CACHE_SIZE);
        if (block->cache == NULL) {
            FreeMemory(record);
            AddLog("ファイル読み込みキャッシュ用メモリの確保に失敗しました\n");
            return 0;
        }
    }
    block->commandEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    block->doneEvent = CreateEventA(NULL, TRUE, TRUE, NULL);
    block->thread = block->commandEvent && block->doneEvent
                        ? CreateThread(NULL, 0, AsyncFileReadThread, block, 0, &block->threadId)
                        : NULL;
    if (block->thread == NULL) {
        FreeMemory(block->cache);
        if (block->commandEvent) {
            CloseHandle(block->commandEvent);
        }
        if (block->doneEvent) {
            CloseHandle(block->doneEvent);
        }
        FreeMemory(record);
        AddLog("ファイルアクセス専用スレッドの作成に失敗しました\n");
        return 0;
    }
    lstrcpyA(block->path, path);
    PostFileCommand(record, FILE_COMMAND_OPEN);
    WaitForSingleObject(block->doneEvent, INFINITE);
    if (block->openFailed) {
        EndFileThread(block);
        FreeMemory(record);
        AddLog("ファイルのオープンに失敗しました\n");
        return 0;
    }
    return (FileHandle)record;
}

FileHandle WinFileOpen(const char *path, int cacheFlag, int ignored, int asyncFlag)
{
    if (path == NULL || lstrlenA(path) >= FILE_PATH_SIZE) {
        return 0;
    }
    PlainFileRecord *record = (PlainFileRecord *)ENGINE_ALLOC_ZEROED(sizeof(PlainFileRecord));
    if (record == NULL) {
        return 0;
    }
    record->cacheFlag = cacheFlag != 0;
    record->asyncFlag = asyncFlag != 0;
    record->threaded = record->cacheFlag || record->asyncFlag;
    if (record->threaded) {
        return OpenThreadedFile(record, path);
    }
    record->file = OpenFileForReading(path);
    if (record->file == INVALID_HANDLE_VALUE) {
        FreeMemory(record);
        return 0;
    }
    record->size = GetOpenedFileSize(record->file, path);
    return (FileHandle)record;
}

// A plain handle is the record's address: only the failed open's 0 can be told from a live one, and is refused
// like the archive-aware set refuses a handle it does not hold.
int WinFileClose(FileHandle handle)
{
    PlainFileRecord *record = (PlainFileRecord *)handle;
    if (record == NULL) {
        return -1;
    }
    int result = 0;
    if (record->threaded) {
        WaitFileThreadIdle(record);
        PostFileCommand(record, FILE_COMMAND_EXIT);
        EndFileThread(&record->thread);
    } else if (!CloseHandle(record->file)) {
        result = -1;
    }
    FreeMemory(record);
    return result;
}

int WinFileTell(FileHandle handle)
{
    PlainFileRecord *record = (PlainFileRecord *)handle;
    if (record == NULL) {
        return -1;
    }
    WinFileIdleCheck(handle);
    return (int)record->position;
}

int WinFileEof(FileHandle handle)
{
    const PlainFileRecord *record = (const PlainFileRecord *)handle;
    return record == NULL || record->endOfFile ? -1 : 0;
}

int WinFileIdleCheck(FileHandle handle)
{
    PlainFileRecord *record = (PlainFileRecord *)handle;
    if (record == NULL) {
        return -1;
    }
    if (!record->threaded) {
        return 1;
    }
    if (WaitForSingleObject(record->thread.doneEvent, 0) != WAIT_OBJECT_0) {
        return 0;
    }
    SettleFileRead(record);
    return 1;
}

// Targets outside 0..4 GB are refused: the position is one 32-bit word.
int WinFileSeek(FileHandle handle, int offset, int origin)
{
    PlainFileRecord *record = (PlainFileRecord *)handle;
    if (record == NULL) {
        return -1;
    }
    if (record->threaded) {
        WaitFileThreadIdle(record);
    }
    long long target = GetSeekTarget(offset, origin, record->position, record->size);
    if (target < 0 || target > 0xFFFFFFFFLL) {
        return -1;
    }
    if (record->threaded) {
        record->thread.seekTarget = (unsigned int)target;
        PostFileCommand(record, FILE_COMMAND_SEEK);
    } else if (!SetFilePosition(record->file, (unsigned int)target)) {
        return -1;
    }
    record->position = (unsigned int)target;
    record->endOfFile = 0;
    return 0;
}

// Whole elements are read; a request is cut to the whole elements left before the end. Sizes are taken in 64
// bits, so a huge element size times count cannot wrap.
size_t WinFileRead(void *buffer, size_t elementSize, size_t count, FileHandle handle)
{
    PlainFileRecord *record = (PlainFileRecord *)handle;
    if (record == NULL || elementSize == 0) {
        return 0;
    }
    if (record->threaded) {
        WaitFileThreadIdle(record);
    }
    if (record->position >= record->size) {
        record->endOfFile = 1;
        return 0;
    }
    unsigned int rest = record->size - record->position;
    if ((unsigned long long)elementSize * count > rest) {
        count = rest / elementSize;
        if (count == 0) {
            record->endOfFile = 1;
            return 0;
        }
    }
    unsigned int bytes = (unsigned int)(elementSize * count);
    if (!record->threaded) {
        unsigned int got = ReadFileBytes(record->file, buffer, bytes);
        record->position += got;
        return got / elementSize;
    }
    FileThreadBlock *block = &record->thread;
    block->readDestination = (unsigned char *)buffer;
    block->readPosition = record->position;
    block->readCount = bytes;
    PostFileCommand(record, FILE_COMMAND_READ);
    if (record->asyncFlag) {
        // Counted as whole now; SettleFileRead takes back what the thread could not deliver.
        record->pendingReadCount = bytes;
        record->position += bytes;
        return count;
    }
    WaitForSingleObject(block->doneEvent, INFINITE);
    record->position += block->readCount;
    return block->readCount / elementSize;
}

int GetFileCacheState(FileHandle handle, unsigned int *position, unsigned int *fill)
{
    const FileThreadBlock *block = &((PlainFileRecord *)handle)->thread;
    if (block->cache == NULL) {
        return -1;
    }
    *position = block->cachePosition;
    *fill = block->cacheFill;
    return 0;
}

int WinSetCurrentDir(const char *path)
{
    return SetCurrentDirectoryA(path);
}

int WinGetCurrentDir(char *buffer)
{
    return (int)GetCurrentDirectoryA(FILE_PATH_SIZE, buffer);
}

int FillFileInfoFromFindData(FileInfo *info, const WIN32_FIND_DATAA *findData)
{
    lstrcpynA(info->name, findData->cFileName, FILE_INFO_NAME_SIZE);
    info->isDirectory = (findData->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    info->sizeLow = findData->nFileSizeLow;
    info->sizeHigh = findData->nFileSizeHigh;
    FileTimeToDateRecord(&findData->ftCreationTime, &info->creationTime);
    FileTimeToDateRecord(&findData->ftLastWriteTime, &info->lastWriteTime);
    return 0;
}

DWORD_PTR WinFindFirst(const char *pattern, FileInfo *info)
{
    WIN32_FIND_DATAA findData;
    HANDLE find = pattern != NULL ? FindFirstFileA(pattern, &findData) : INVALID_HANDLE_VALUE;
    if (find == INVALID_HANDLE_VALUE) {
        return FILE_FIND_FAILED;
    }
    if (info != NULL) {
        FillFileInfoFromFindData(info, &findData);
    }
    return (DWORD_PTR)find;
}

int WinFindNext(DWORD_PTR find, FileInfo *info)
{
    WIN32_FIND_DATAA findData;
    if (!FindNextFileA((HANDLE)find, &findData)) {
        return -1;
    }
    if (info != NULL) {
        FillFileInfoFromFindData(info, &findData);
    }
    return 0;
}

int WinFindClose(DWORD_PTR find)
{
    return FindClose((HANDLE)find) ? 0 : -1;
}
