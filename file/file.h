// Files and archives: streams, the file-function table, plain files with their access thread, and "QVA" archives.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
#include "file/archive_format.h"

// ---------------------------------------------------------------------------------------------------------------
// Streams: one six-operation interface over files (through the file-function table) and memory images.

typedef DWORD_PTR FileHandle; // opaque; 0 = the open failed

struct StreamFunctions {
    int (*tell)(DWORD_PTR handle);
    int (*seek)(DWORD_PTR handle, int offset, int origin);
    size_t (*read)(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle);
    int (*eof)(DWORD_PTR handle);
    int (*idle)(DWORD_PTR handle);
    int (*close)(DWORD_PTR handle);
};

// A stream as its reader holds it: a copy of the operations and the handle they act on.
struct StreamRef {
    StreamFunctions functions;
    DWORD_PTR handle; // a FileHandle, or a MemStream*
};

struct MemStream {
    const unsigned char *data; // not owned
    unsigned int size;
    unsigned int position;
    unsigned int endOfFile;
};

// Seek origins of every stream and file operation. Named apart from the platform's stream enumeration, so that
// COM and media headers can be included after this one.
enum StreamSeekOrigin {
    STREAM_ORIGIN_START = 0,
    STREAM_ORIGIN_CURRENT = 1,
    STREAM_ORIGIN_END = 2,
};

StreamFunctions *GetFileStreamFunctions(void);
StreamFunctions *GetMemoryStreamFunctions(void);
// Engine start-up writes both tables' entries (they also hold them from program start).
int InitStreamFunctionTables(void);

MemStream *MemStreamOpen(const void *data, unsigned int size);
// A memory stream over data the caller keeps alive, as a reader holds it; -1 (handle 0) when it cannot be made.
// Closed through its own close operation.
int OpenMemoryStreamRef(const void *data, unsigned int size, StreamRef *stream);
int MemStreamClose(DWORD_PTR stream);
int MemStreamTell(DWORD_PTR stream);
int MemStreamSeek(DWORD_PTR stream, int offset, int origin);
size_t MemStreamRead(void *buffer, size_t elementSize, size_t count, DWORD_PTR stream);
int MemStreamEof(DWORD_PTR stream);
int MemStreamIdleCheck(DWORD_PTR stream);

// Forwarders to the current file-function table, so a table installed later reaches every existing StreamRef.
FileHandle FileOpenThunk(const char *path, int cacheFlag, int ignored, int asyncFlag);
int FileCloseThunk(DWORD_PTR handle);
int FileTellThunk(DWORD_PTR handle);
int FileSeekThunk(DWORD_PTR handle, int offset, int origin);
size_t FileReadThunk(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle);
int FileEofThunk(DWORD_PTR handle);
int FileIdleCheckThunk(DWORD_PTR handle);

// ---------------------------------------------------------------------------------------------------------------
// The file-function table: every engine read by name goes through it.

#define FILE_INFO_NAME_SIZE 260
#define FILE_FIND_FAILED ((DWORD_PTR)-1)

struct FileInfo {
    char name[FILE_INFO_NAME_SIZE]; // truncated to fit, always terminated
    unsigned int isDirectory;
    unsigned int sizeLow;
    unsigned int sizeHigh;
    DateRecord creationTime;
    DateRecord lastWriteTime;
};

struct FileFunctionTable {
    FileHandle (*open)(const char *path, int cacheFlag, int ignored, int asyncFlag);
    int (*close)(FileHandle handle);
    int (*tell)(FileHandle handle);
    int (*seek)(FileHandle handle, int offset, int origin);
    size_t (*read)(void *buffer, size_t elementSize, size_t count, FileHandle handle);
    int (*eof)(FileHandle handle);
    int (*idleCheck)(FileHandle handle);
    int (*setCurrentDir)(const char *path);
    int (*getCurrentDir)(char *buffer);
    DWORD_PTR (*findFirst)(const char *pattern, FileInfo *info);
    int (*findNext)(DWORD_PTR find, FileInfo *info);
    int (*findClose)(DWORD_PTR find);
};

// Copies a table in, or with null installs the archive-aware set (the plain set when archives are off).
int SetFileAccessTable(const FileFunctionTable *table);
const FileFunctionTable *GetFileAccessTable(void);
int FillFileInfoFromFindData(FileInfo *info, const WIN32_FIND_DATAA *findData);

// The plain Win32 set. A file opened with the cache or asynchronous flag is served by its own access thread.
#define FILE_CACHE_SIZE 131072
FileHandle WinFileOpen(const char *path, int cacheFlag, int ignored, int asyncFlag);
int WinFileClose(FileHandle handle);
int WinFileTell(FileHandle handle);
int WinFileSeek(FileHandle handle, int offset, int origin);
size_t WinFileRead(void *buffer, size_t elementSize, size_t count, FileHandle handle);
int WinFileEof(FileHandle handle);
int WinFileIdleCheck(FileHandle handle);
int WinSetCurrentDir(const char *path);
int WinGetCurrentDir(char *buffer);
DWORD_PTR WinFindFirst(const char *pattern, FileInfo *info);
int WinFindNext(DWORD_PTR find, FileInfo *info);
int WinFindClose(DWORD_PTR find);

// ---------------------------------------------------------------------------------------------------------------
// "QVA" archives.

#define ARCHIVE_TABLE_SIZE 512

struct ArchiveRecord {
    ArchiveHeader header;
    ArchiveDirectory directory; // the tables and the current directory
    unsigned int inUse;
    FileHandle file;               // directory-only mode: the archive file, kept open for entry reads
    unsigned char *image;          // memory-resident mode
    unsigned char *directoryBlock; // owned unless it lies inside a caller's image
    unsigned char key[ARCHIVE_KEY_SIZE];
    unsigned int memoryResident;
    unsigned int callerOwnedImage;
    unsigned int imageSize;
    unsigned int loading; // a whole-file load is still running
    FileHandle loader;
};

int OpenArchiveFromMemory(ArchiveRecord *record, void *image, unsigned int size, const char *keyString);
void *GetArchiveImage(ArchiveRecord *record);
// Where a file's stored bytes lie from the archive start, and the entry's (unpacked) size. A packed entry's
// bytes are a packed buffer that ends within the image: decode it with imageSize - offset as its length.
int GetArchiveFileImage(ArchiveRecord *record, const char *name, unsigned int *offset, unsigned int *size);
int CloseArchive(ArchiveRecord *record);
int ClearArchive(ArchiveRecord *record);
int CloseUnusedArchives(void);
int OpenArchiveDirectory(ArchiveRecord *record, const char *path, const char *keyString);
int OpenArchiveWhole(ArchiveRecord *record, const char *path, const char *keyString, int noWait);
int PollArchiveLoad(ArchiveRecord *record); // 1 when no load is pending any more, 0 while it runs
void WaitArchiveLoad(ArchiveRecord *record);
int OpenArchiveByPath(int indexHint, const char *path, int wholeFlag, int noWaitFlag);
ArchiveRecord *GetOpenArchive(int index);
int ReleaseOpenArchiveUse(int index);
// Moves the archive file (directory-only mode) to an offset from its start.
int SeekArchiveFile(ArchiveRecord *record, unsigned int offset);
// Reads n bytes at the archive file's current position through the plain set and unscrambles them.
int ReadArchiveBytes(ArchiveRecord *record, void *buffer, unsigned int length);

// ---------------------------------------------------------------------------------------------------------------
// The archive-aware file-function set: names resolve into "QVA" archives first, then to disk.

#define ARCHIVE_OPEN_FILE_LIMIT 512
#define ARCHIVE_FILE_HANDLE_TAG 0xF0000000u

FileHandle ArchiveAwareOpen(const char *path, int cacheFlag, int ignored, int asyncFlag);
int ArchiveAwareClose(FileHandle handle);
int ArchiveAwareTell(FileHandle handle);
int ArchiveAwareSeek(FileHandle handle, int offset, int origin);
size_t ArchiveAwareRead(void *buffer, size_t elementSize, size_t count, FileHandle handle);
int ArchiveAwareEof(FileHandle handle);
int ArchiveAwareIdleCheck(FileHandle handle);
int ArchiveAwareSetCurrentDir(const char *path);
int ArchiveAwareGetCurrentDir(char *buffer);
DWORD_PTR ArchiveAwareFindFirst(const char *pattern, FileInfo *info);
int ArchiveAwareFindNext(DWORD_PTR find, FileInfo *info);
int ArchiveAwareFindClose(DWORD_PTR find);

// Absolute, upper-cased form of a path against the current directory; -1 when it does not fit outSize.
int BuildArchiveFullPath(const char *path, char *out, size_t outSize);
// The archive standing for one of the path's directories: its table index (with one use taken), its path and
// the rest of the path inside it.
int ResolveArchivePath(const char *path, int *archiveIndex, char *archivePath, char *innerPath);
// Drops what path resolution remembers about archives that were not there (and the folder handles it holds).
void ForgetAbsentArchives(void);
