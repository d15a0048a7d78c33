// The archive-aware file-function set: every path is first resolved to a "QVA" archive standing for one of its
// directories and read from there (stored, or unpacked whole when compressed); with no such archive it is
// opened from disk with the plain set. Also directory searches that list archive entries as files. Runs on the
// caller's thread without locks; asynchronous reads are completed on the caller's thread by the idle check or
// by the wait at the start of the next operation on the same file.
#include "file/file.h"
#include "file/stream_seek.h"
#include "font/font.h"

#define ARCHIVE_EXTENSION ".QVA"
#define FULL_PATH_SIZE 260

enum ArchivePendingState {
    ARCHIVE_PENDING_NONE = 0,
    ARCHIVE_PENDING_PACKED = 1,
    ARCHIVE_PENDING_STORED = 2,
};

struct ArchiveStream {
    ArchiveRecord *archive;
    const uint8_t *entry;
    unsigned char *unpacked;     // whole file, compressed entries only
    unsigned char *packedBuffer; // while an asynchronous packed read is pending
    unsigned int endOfFile;
    unsigned int position;
    unsigned int asyncFlag;
    unsigned int pending;
    unsigned int pendingOffset;
    unsigned char *pendingDestination;
    unsigned int pendingCount;
    unsigned int damaged;    // a packed entry that proved damaged when its asynchronous read completed
    unsigned int size;       // unpacked size, from the entry
    unsigned int dataOffset; // from the archive start, checked against its size
    unsigned int storedSize;
};

struct ArchiveOpenFile {
    unsigned int inArchive;
    FileHandle plain;
    int archiveIndex;
    ArchiveStream stream;
};

struct ArchiveSearch {
    ArchiveRecord *archive;
    char pattern[FULL_PATH_SIZE];
    uint32_t directory; // offset of the searched directory in the directory table
    uint32_t nextIndex; // 0 ".", 1 "..", then the directory's entries
};

struct ArchiveFindRecord {
    unsigned int inArchive;
    int archiveIndex;
    DWORD_PTR find; // a Win32 find handle, or an ArchiveSearch*
};

static ArchiveOpenFile *s_OpenFiles[ARCHIVE_OPEN_FILE_LIMIT];
static int s_OpenFileCount;

// The last archive found by path: the directory prefix it stands for is its path without the extension.
static struct {
    char archivePath[ARCHIVE_PATH_LIMIT];
    unsigned int prefixLength;
    int index;
} s_ResolveCache;

static int IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

static int IsLeadAt(const char *text, int charSet)
{
    return IsMultiByteLeadByte(text, charSet) && text[1] != 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Full paths and resolution.

static void UpperCaseText(char *text, int charSet)
{
    UpperCaseArchiveName((uint8_t *)text, (uint32_t)lstrlenA(text), charSet);
}

// Removes the last component of out, never the root that ends at rootLength.
static void RemoveLastComponent(char *out, size_t rootLength, int charSet)
{
    size_t last = rootLength;
    for (size_t i = rootLength; out[i] != 0; i++) {
        if (IsLeadAt(out + i, charSet)) {
            i++;
        } else if (IsSeparator(out[i])) {
            last = i;
        }
    }
    out[last] = 0;
}

// The absolute path with its components as written (the drive letter upper-cased), so that platform look-ups
// of its folders find them without a case-blind search.
static int BuildWrittenFullPath(const char *path, char *out, size_t outSize)
{
    int charSet = GetEngineCharSet();
    char base[FULL_PATH_SIZE];
    DWORD baseLength = GetCurrentDirectoryA(sizeof(base), base);
    if (path == NULL || baseLength == 0 || baseLength >= sizeof(base) || outSize < 4) {
        return -1;
    }
    const char *p = path;
    if (IsSeparator(p[0]) && p[1] == p[0]) {
        lstrcpyA(out, "\\");
        p += 2;
    } else if (IsSeparator(p[0])) {
        lstrcpynA(out, base, 3);
        p += 1;
    } else if (p[0] != 0 && p[1] == ':' && !IsLeadAt(p, charSet)) {
        out[0] = (p[0] >= 'a' && p[0] <= 'z') ? (char)(p[0] - 'a' + 'A') : p[0];
        out[1] = ':';
        out[2] = 0;
        p += 2;
    } else {
        if (baseLength > 0 && IsSeparator(base[baseLength - 1]) &&
            IsDoubleByteCharAt(base, (int)baseLength - 1, charSet) == 0) {
            base[baseLength - 1] = 0;
        }
        if ((size_t)lstrlenA(base) >= outSize) {
            return -1;
        }
        lstrcpyA(out, base);
    }
    // ".." may climb through the current directory's components but never past the drive or the first
    // separator of a network path.
    size_t rootLength = out[0] != 0 && out[1] == ':' ? 2 : 1;
    size_t length = (size_t)lstrlenA(out);
    while (*p != 0) {
        const char *component = p;
        size_t size = MeasurePathComponent(p, charSet);
        p += size;
        if (*p != 0) {
            p++;
        }
        if (size == 0 || (size == 1 && component[0] == '.')) {
            continue;
        }
        if (size == 2 && component[0] == '.' && component[1] == '.') {
            RemoveLastComponent(out, rootLength, charSet);
            length = (size_t)lstrlenA(out);
            continue;
        }
        if (length + 1 + size >= outSize) {
            return -1;
        }
        out[length] = '\\';
        MemCopy(out + length + 1, component, size);
        length += 1 + size;
        out[length] = 0;
    }
    return 0;
}

int BuildArchiveFullPath(const char *path, char *out, size_t outSize)
{
    if (BuildWrittenFullPath(path, out, outSize) != 0) {
        return -1;
    }
    UpperCaseText(out, GetEngineCharSet());
    return 0;
}

static int CopyInnerPath(const char *inner, char *innerPath)
{
    if (innerPath != NULL) {
        if (lstrlenA(inner) >= ARCHIVE_PATH_LIMIT) {
            return -1;
        }
        lstrcpyA(innerPath, inner);
    }
    return 0;
}

static int TakeResolvedArchive(int index, const char *archivePath, const char *inner, int *archiveIndex,
                               char *outArchivePath, char *innerPath)
{
    if (CopyInnerPath(inner, innerPath) != 0) {
        ReleaseOpenArchiveUse(index);
        return -1;
    }
    *archiveIndex = index;
    if (outArchivePath != NULL) {
        lstrcpyA(outArchivePath, archivePath);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Archives known to be absent. A failed probe for an archive costs the platform a case-blind search of its
// folder, once for every directory of every path opened. A folder's last-write time changes whenever a name is
// added to, removed from or renamed in it, so a probe that found no file is remembered with a handle to its folder
// and the time the folder had before the probe, and is skipped while the folder still has that time.
// - File systems stamp folders with a coarse clock: a folder changed again within the same tick could keep its
//   time, so only a folder untouched for ABSENT_TRUST_AGE before the probe is remembered.
// - A handle follows its folder, not its path: a folder renamed away would still answer for the path. Such a
//   rename changes the time of the folder above, whose candidate comes first (prefixes are taken shortest first).
//   So a handle is read only while every shorter prefix of the same path was found unchanged and remembered no
//   later than the entry (entries carry the serial number of the resolve that made them). Otherwise, below a
//   folder that changes too often to be remembered (a temporary folder) or one probed again since, the folder's
//   time is read by its path, which always names the folder there now; a path that reads unchanged vouches for
//   its folder (one put in its place would have to carry the very same time), so the chain starts again from it.
// - "C:" stands for the drive's current folder. Its root is read through a handle like any folder; any other
//   current folder is not on the path's own chain, so it is read by path.
// The handles are closed with the archives, by CloseUnusedArchives.

#define ABSENT_ARCHIVE_SLOTS 512
#define ABSENT_ARCHIVE_WAYS 8
#define ABSENT_TRUST_AGE 20000000ull // 2 s in 100 ns units

struct AbsentArchive {
    unsigned int hash;
    unsigned int serial; // of the resolve that probed it
    unsigned long long folderTime;
    HANDLE folder;                 // null for a folder read by path
    char path[ARCHIVE_PATH_LIMIT]; // the upper-cased archive path, empty for a free slot
};

// The folder that holds the archive for one directory prefix.
struct ArchiveFolder {
    char path[FULL_PATH_SIZE];
    int byPath; // a drive's current folder other than its root: always read by path
};

// One resolve's walk down the prefixes: whether the chain of folders so far vouches for handles, and the latest
// serial among the entries it rests on.
struct AbsentWalk {
    int chained;
    unsigned int serial;
};

// Sets of ABSENT_ARCHIVE_WAYS slots chosen by the path's hash; a full set gives up its slots in turn.
static AbsentArchive s_AbsentArchives[ABSENT_ARCHIVE_SLOTS];
static unsigned char s_NextAbsentWay[ABSENT_ARCHIVE_SLOTS / ABSENT_ARCHIVE_WAYS];
static unsigned int s_ResolveSerial;

static unsigned int HashArchivePath(const char *path)
{
    unsigned int hash = 2166136261u;
    for (const unsigned char *p = (const unsigned char *)path; *p != 0; p++) {
        hash = (hash ^ *p) * 16777619u;
    }
    return hash;
}

static unsigned long long FileTimeValue(const FILETIME *time)
{
    return ((unsigned long long)time->dwHighDateTime << 32) | time->dwLowDateTime;
}

// The folder of the archive for the prefix written[0, prefixLength): the prefix up to its last separator (a
// drive root keeps it), or for "C:" the drive's current folder; -1 for a path that is not on a drive.
static int GetArchiveFolder(const char *written, size_t prefixLength, ArchiveFolder *folder)
{
    if (written[1] != ':') {
        return -1;
    }
    size_t cut = prefixLength;
    while (cut > 2 && !IsSeparator(written[cut - 1])) {
        cut--;
    }
    size_t length = cut == 3 ? 3 : cut > 3 ? cut - 1 : 2;
    lstrcpynA(folder->path, written, (int)length + 1);
    folder->byPath = 0;
    if (length == 2) {
        char drive[3] = {written[0], ':', 0};
        DWORD got = GetFullPathNameA(drive, sizeof(folder->path), folder->path, NULL);
        if (got < 3 || got >= sizeof(folder->path)) {
            return -1;
        }
        folder->byPath = got > 3;
    }
    return 0;
}

static unsigned long long ReadFolderTimeByPath(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return 0;
    }
    return FileTimeValue(&data.ftLastWriteTime);
}

static unsigned long long ReadFolderTime(HANDLE folder)
{
    FILETIME creation, access, write;
    return folder != NULL && GetFileTime(folder, &creation, &access, &write) ? FileTimeValue(&write) : 0;
}

static HANDLE OpenFolderHandle(const char *path)
{
    HANDLE folder = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    return folder != INVALID_HANDLE_VALUE ? folder : NULL;
}

static AbsentArchive *GetAbsentArchiveSet(unsigned int hash)
{
    return &s_AbsentArchives[hash % (ABSENT_ARCHIVE_SLOTS / ABSENT_ARCHIVE_WAYS) * ABSENT_ARCHIVE_WAYS];
}

static AbsentArchive *FindAbsentArchive(const char *candidate, unsigned int hash)
{
    AbsentArchive *set = GetAbsentArchiveSet(hash);
    for (int way = 0; way < ABSENT_ARCHIVE_WAYS; way++) {
        if (set[way].hash == hash && set[way].path[0] != 0 && StrCompare(set[way].path, candidate) == 0) {
            return &set[way];
        }
    }
    return NULL;
}

static void ForgetAbsentArchive(AbsentArchive *entry)
{
    if (entry == NULL) {
        return;
    }
    if (entry->folder != NULL) {
        CloseHandle(entry->folder);
    }
    MemFill(entry, 0, sizeof(*entry));
}

void ForgetAbsentArchives(void)
{
    for (AbsentArchive &entry : s_AbsentArchives) {
        ForgetAbsentArchive(&entry);
    }
}

// Whether a remembered entry still holds: its folder unchanged, read through the handle while the chain above
// vouches for it, else by path (which then starts the chain again from this entry).
static int IsAbsenceCurrent(const AbsentArchive *entry, const ArchiveFolder *folder, AbsentWalk *walk)
{
    if (entry == NULL) {
        return 0;
    }
    int throughHandle = walk->chained && !folder->byPath && entry->serial >= walk->serial;
    unsigned long long time = throughHandle ? ReadFolderTime(entry->folder) : ReadFolderTimeByPath(folder->path);
    if (time == 0 || time != entry->folderTime) {
        return 0;
    }
    walk->chained = 1;
    walk->serial = entry->serial;
    return 1;
}

// A candidate that did not open is remembered if no such file exists and its folder is old enough to be
// trusted; 0 when it was remembered (the entry then owns the handle).
static int RememberAbsentArchive(const char *candidate, unsigned int hash, HANDLE folder, unsigned long long time)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (time == 0 || time + ABSENT_TRUST_AGE > FileTimeValue(&now) ||
        GetFileAttributesA(candidate) != INVALID_FILE_ATTRIBUTES) {
        return -1;
    }
    unsigned char *nextWay = &s_NextAbsentWay[hash % (ABSENT_ARCHIVE_SLOTS / ABSENT_ARCHIVE_WAYS)];
    AbsentArchive *entry = GetAbsentArchiveSet(hash) + *nextWay;
    *nextWay = (unsigned char)((*nextWay + 1) % ABSENT_ARCHIVE_WAYS);
    ForgetAbsentArchive(entry);
    entry->hash = hash;
    entry->serial = s_ResolveSerial;
    entry->folderTime = time;
    entry->folder = folder;
    lstrcpyA(entry->path, candidate);
    return 0;
}

// Probes the candidate and remembers it when it is absent: the folder's time is read before the probe, through
// a handle opened now by path (so the chain holds from here), or by path alone.
static int ProbeAndRemember(const char *candidate, unsigned int hash, const ArchiveFolder *folder, AbsentWalk *walk)
{
    HANDLE handle = folder->byPath ? NULL : OpenFolderHandle(folder->path);
    unsigned long long time = folder->byPath ? ReadFolderTimeByPath(folder->path) : ReadFolderTime(handle);
    int index = OpenArchiveByPath(-1, candidate, 0, 0);
    if (index < 0 && RememberAbsentArchive(candidate, hash, handle, time) == 0) {
        walk->chained = 1;
        walk->serial = s_ResolveSerial;
        return index;
    }
    if (handle != NULL) {
        CloseHandle(handle);
    }
    walk->chained = 0;
    return index;
}

// Opens the archive for one directory prefix unless it is known to be absent; its table index or -1.
static int ProbeArchive(const char *candidate, const char *written, size_t prefixLength, AbsentWalk *walk)
{
    unsigned int hash = HashArchivePath(candidate);
    AbsentArchive *entry = FindAbsentArchive(candidate, hash);
    ArchiveFolder folder;
    if (GetArchiveFolder(written, prefixLength, &folder) == 0) {
        if (IsAbsenceCurrent(entry, &folder, walk)) {
            return -1;
        }
        ForgetAbsentArchive(entry);
        return ProbeAndRemember(candidate, hash, &folder, walk);
    }
    walk->chained = 0;
    ForgetAbsentArchive(entry);
    return OpenArchiveByPath(-1, candidate, 0, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Resolution.

int ResolveArchivePath(const char *path, int *archiveIndex, char *archivePath, char *innerPath)
{
    char written[FULL_PATH_SIZE];
    char full[FULL_PATH_SIZE];
    if (BuildWrittenFullPath(path, written, sizeof(written)) != 0) {
        return -1;
    }
    lstrcpyA(full, written);
    UpperCaseText(full, GetEngineCharSet());
    unsigned int cached = s_ResolveCache.prefixLength;
    if (cached > 0 && StrCompareN(full, s_ResolveCache.archivePath, (int)cached) == 0 && IsSeparator(full[cached])) {
        int index = OpenArchiveByPath(s_ResolveCache.index, s_ResolveCache.archivePath, 0, 0);
        if (index >= 0) {
            s_ResolveCache.index = index;
            return TakeResolvedArchive(index, s_ResolveCache.archivePath, full + cached + 1, archiveIndex, archivePath,
                                       innerPath);
        }
    }
    // Directory prefixes, shortest first; the last component (the file itself) is never tried.
    int charSet = GetEngineCharSet();
    AbsentWalk walk = {1, 0};
    s_ResolveSerial++;
    for (size_t i = 0; full[i] != 0; i++) {
        if (IsLeadAt(full + i, charSet)) {
            i++;
            continue;
        }
        if (!IsSeparator(full[i]) || i == 0 || (i == 1 && IsSeparator(full[0]))) {
            continue;
        }
        char candidate[ARCHIVE_PATH_LIMIT];
        if (i + sizeof(ARCHIVE_EXTENSION) > sizeof(candidate)) {
            break;
        }
        MemCopy(candidate, full, i);
        lstrcpyA(candidate + i, ARCHIVE_EXTENSION);
        int index = ProbeArchive(candidate, written, i, &walk);
        if (index >= 0) {
            lstrcpyA(s_ResolveCache.archivePath, candidate);
            s_ResolveCache.prefixLength = (unsigned int)i;
            s_ResolveCache.index = index;
            return TakeResolvedArchive(index, candidate, full + i + 1, archiveIndex, archivePath, innerPath);
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------------------------
// Entry streams.

// Unpacks a compressed entry, whose own header must agree with the entry's sizes.
static int UnpackEntry(ArchiveStream *stream, const unsigned char *packed)
{
    if (stream->storedSize < ARCHIVE_PACK_HEADER_SIZE || ReadArchiveU32(packed) != stream->size ||
        ReadArchiveU32(packed + 4) != stream->storedSize) {
        return -1;
    }
    uint32_t got = DecodeArchiveData(packed, stream->storedSize, stream->unpacked, stream->size);
    return got == stream->size ? 0 : -1;
}

enum ArchiveStreamOpenResult {
    ARCHIVE_STREAM_OPENED = 0,
    ARCHIVE_STREAM_NO_ENTRY = -1,
    ARCHIVE_STREAM_DAMAGED = -2,
    ARCHIVE_STREAM_NO_MEMORY = -3,
};

static void LogDamagedEntry(void)
{
    AddLog("ＱＶＡファイルの中の指定のファイルが壊れています\n");
}

// Reads and unpacks a packed entry of an archive file, or with the asynchronous flag starts the read, which the
// idle check completes.
static int LoadPackedEntry(ArchiveStream *stream, ArchiveRecord *archive, int asyncFlag)
{
    stream->packedBuffer = (unsigned char *)ENGINE_ALLOC(stream->storedSize > 0 ? stream->storedSize : 1);
    if (stream->packedBuffer == NULL) {
        return ARCHIVE_STREAM_NO_MEMORY;
    }
    if (SeekArchiveFile(archive, stream->dataOffset) != 0) {
        return ARCHIVE_STREAM_DAMAGED;
    }
    if (asyncFlag) {
        WinFileRead(stream->packedBuffer, 1, stream->storedSize, archive->file);
        stream->pending = ARCHIVE_PENDING_PACKED;
        stream->pendingOffset = stream->dataOffset;
        return ARCHIVE_STREAM_OPENED;
    }
    if (ReadArchiveBytes(archive, stream->packedBuffer, stream->storedSize) != 0 ||
        UnpackEntry(stream, stream->packedBuffer) != 0) {
        return ARCHIVE_STREAM_DAMAGED;
    }
    FreeMemory(stream->packedBuffer);
    stream->packedBuffer = NULL;
    return ARCHIVE_STREAM_OPENED;
}

static int OpenArchiveStream(ArchiveStream *stream, ArchiveRecord *archive, const char *innerPath, int asyncFlag)
{
    WaitArchiveLoad(archive);
    const uint8_t *entry = FindArchiveFileEntry(innerPath, &archive->directory);
    if (entry == NULL) {
        return ARCHIVE_STREAM_NO_ENTRY;
    }
    int packed;
    if (GetArchiveEntryDataRange(&archive->directory, entry, &stream->dataOffset, &stream->storedSize, &packed) != 0) {
        return ARCHIVE_STREAM_DAMAGED;
    }
    stream->archive = archive;
    stream->entry = entry;
    stream->size = ReadArchiveU32(entry + ARCHIVE_ENTRY_SIZE);
    stream->asyncFlag = asyncFlag != 0;
    if (!packed) {
        return ARCHIVE_STREAM_OPENED;
    }
    int result = ARCHIVE_STREAM_NO_MEMORY;
    stream->unpacked = (unsigned char *)ENGINE_ALLOC(stream->size > 0 ? stream->size : 1);
    if (stream->unpacked != NULL) {
        result = archive->memoryResident
                     ? (UnpackEntry(stream, archive->image + stream->dataOffset) == 0 ? ARCHIVE_STREAM_OPENED
                                                                                      : ARCHIVE_STREAM_DAMAGED)
                     : LoadPackedEntry(stream, archive, asyncFlag);
    }
    if (result != ARCHIVE_STREAM_OPENED) {
        FreeMemory(stream->packedBuffer);
        FreeMemory(stream->unpacked);
        MemFill(stream, 0, sizeof(*stream));
    }
    return result;
}

// Completes a finished asynchronous read. A packed entry whose data proves damaged fails every later operation
// and is logged as the synchronous open logs it.
static int ArchiveStreamIdleCheck(ArchiveStream *stream)
{
    if (stream->pending == ARCHIVE_PENDING_NONE) {
        return 1;
    }
    ArchiveRecord *archive = stream->archive;
    if (!WinFileIdleCheck(archive->file)) {
        return 0;
    }
    if (stream->pending == ARCHIVE_PENDING_PACKED) {
        ScrambleArchiveBytes(stream->storedSize, stream->packedBuffer, stream->pendingOffset, archive->key);
        if (UnpackEntry(stream, stream->packedBuffer) != 0) {
            stream->damaged = 1;
            LogDamagedEntry();
        }
        FreeMemory(stream->packedBuffer);
        stream->packedBuffer = NULL;
    } else {
        ScrambleArchiveBytes(stream->pendingCount, stream->pendingDestination, stream->pendingOffset, archive->key);
    }
    stream->pending = ARCHIVE_PENDING_NONE;
    return 1;
}

static void WaitArchiveStream(ArchiveStream *stream)
{
    while (!ArchiveStreamIdleCheck(stream)) {
        Sleep(1);
    }
}

static unsigned int ArchiveStreamRead(ArchiveStream *stream, void *buffer, unsigned int count)
{
    WaitArchiveStream(stream);
    if (stream->damaged || stream->endOfFile) {
        return 0;
    }
    if (stream->position >= stream->size) {
        stream->endOfFile = 1;
        return 0;
    }
    unsigned int n = stream->size - stream->position;
    if (count < n) {
        n = count;
    }
    ArchiveRecord *archive = stream->archive;
    if (stream->unpacked != NULL) {
        MemCopy(buffer, stream->unpacked + stream->position, n);
    } else if (archive->memoryResident) {
        MemCopy(buffer, archive->image + stream->dataOffset + stream->position, n);
    } else {
        unsigned int offset = stream->dataOffset + stream->position;
        if (SeekArchiveFile(archive, offset) != 0) {
            return 0;
        }
        if (stream->asyncFlag) {
            WinFileRead(buffer, 1, n, archive->file);
            stream->pending = ARCHIVE_PENDING_STORED;
            stream->pendingOffset = offset;
            stream->pendingDestination = (unsigned char *)buffer;
            stream->pendingCount = n;
        } else if (ReadArchiveBytes(archive, buffer, n) != 0) {
            return 0;
        }
    }
    stream->position += n;
    stream->endOfFile = 0;
    return n;
}

static int ArchiveStreamSeek(ArchiveStream *stream, int offset, int origin)
{
    WaitArchiveStream(stream);
    if (stream->damaged) {
        return -1;
    }
    long long target = GetSeekTarget(offset, origin, stream->position, stream->size);
    if (target < 0) {
        target = 0;
    } else if (target > (long long)stream->size) {
        target = stream->size;
    }
    stream->position = (unsigned int)target;
    stream->endOfFile = 0;
    return 0;
}

static int ArchiveStreamTell(ArchiveStream *stream)
{
    WaitArchiveStream(stream);
    return stream->damaged ? -1 : (int)stream->position;
}

static int ArchiveStreamEof(ArchiveStream *stream)
{
    WaitArchiveStream(stream);
    return stream->damaged || stream->endOfFile ? -1 : 0;
}

static void ArchiveStreamClose(ArchiveStream *stream)
{
    WaitArchiveStream(stream);
    FreeMemory(stream->packedBuffer);
    FreeMemory(stream->unpacked);
    MemFill(stream, 0, sizeof(*stream));
}

// ---------------------------------------------------------------------------------------------------------------
// The table's file operations.

static ArchiveOpenFile *GetArchiveOpenFile(FileHandle handle)
{
    if ((handle & ARCHIVE_FILE_HANDLE_TAG) != ARCHIVE_FILE_HANDLE_TAG) {
        return NULL;
    }
    DWORD_PTR index = handle & ~(DWORD_PTR)ARCHIVE_FILE_HANDLE_TAG;
    return index < ARCHIVE_OPEN_FILE_LIMIT ? s_OpenFiles[index] : NULL;
}

FileHandle ArchiveAwareOpen(const char *path, int cacheFlag, int ignored, int asyncFlag)
{
    if (s_OpenFileCount >= ARCHIVE_OPEN_FILE_LIMIT) {
        AddLog("同時に開けるファイルの数が限界を超えました\n");
        return 0;
    }
    int slot = 0;
    while (s_OpenFiles[slot] != NULL) {
        slot++;
    }
    ArchiveOpenFile *file = (ArchiveOpenFile *)ENGINE_ALLOC_ZEROED(sizeof(ArchiveOpenFile));
    if (file == NULL) {
        AddLog("ファイルの情報を格納するメモリの確保に失敗しました\n");
        return 0;
    }
    char inner[ARCHIVE_PATH_LIMIT];
    int opened = -1;
    if (ResolveArchivePath(path, &file->archiveIndex, NULL, inner) != 0) {
        file->plain = WinFileOpen(path, cacheFlag, ignored, asyncFlag);
        opened = file->plain != 0 ? 0 : -1;
    } else {
        file->inArchive = 1;
        opened = OpenArchiveStream(&file->stream, GetOpenArchive(file->archiveIndex), inner, asyncFlag);
        if (opened == ARCHIVE_STREAM_NO_ENTRY) {
            AddLog("ＱＶＡファイルの中に指定のファイルは見つかりませんでした\n");
        } else if (opened == ARCHIVE_STREAM_DAMAGED) {
            LogDamagedEntry();
        }
        if (opened != 0) {
            ReleaseOpenArchiveUse(file->archiveIndex);
        }
    }
    if (opened != 0) {
        FreeMemory(file);
        return 0;
    }
    s_OpenFiles[slot] = file;
    s_OpenFileCount++;
    return (FileHandle)slot | ARCHIVE_FILE_HANDLE_TAG;
}

int ArchiveAwareClose(FileHandle handle)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL) {
        return -1;
    }
    if (file->inArchive) {
        ReleaseOpenArchiveUse(file->archiveIndex);
        ArchiveStreamClose(&file->stream);
    } else {
        WinFileClose(file->plain);
    }
    FreeMemory(file);
    s_OpenFiles[handle & ~(DWORD_PTR)ARCHIVE_FILE_HANDLE_TAG] = NULL;
    s_OpenFileCount--;
    return 0;
}

int ArchiveAwareTell(FileHandle handle)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL) {
        return -1;
    }
    return file->inArchive ? ArchiveStreamTell(&file->stream) : WinFileTell(file->plain);
}

int ArchiveAwareSeek(FileHandle handle, int offset, int origin)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL) {
        return -1;
    }
    return file->inArchive ? ArchiveStreamSeek(&file->stream, offset, origin)
                           : WinFileSeek(file->plain, offset, origin);
}

// A trailing partial element is read and moves the position but is not counted. The request is sized in 64
// bits; no entry holds more than 4 GB, so a larger request is simply cut to what is left.
size_t ArchiveAwareRead(void *buffer, size_t elementSize, size_t count, FileHandle handle)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL || elementSize == 0) {
        return 0;
    }
    if (!file->inArchive) {
        return WinFileRead(buffer, elementSize, count, file->plain);
    }
    unsigned long long wanted = (unsigned long long)elementSize * count;
    unsigned int bytes = wanted > 0xFFFFFFFFull ? 0xFFFFFFFFu : (unsigned int)wanted;
    return ArchiveStreamRead(&file->stream, buffer, bytes) / elementSize;
}

int ArchiveAwareEof(FileHandle handle)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL) {
        return -1;
    }
    return file->inArchive ? ArchiveStreamEof(&file->stream) : WinFileEof(file->plain);
}

int ArchiveAwareIdleCheck(FileHandle handle)
{
    ArchiveOpenFile *file = GetArchiveOpenFile(handle);
    if (file == NULL) {
        return -1;
    }
    return file->inArchive ? ArchiveStreamIdleCheck(&file->stream) : WinFileIdleCheck(file->plain);
}

int ArchiveAwareSetCurrentDir(const char *path)
{
    SetCurrentDirectoryA(path);
    return 0;
}

int ArchiveAwareGetCurrentDir(char *buffer)
{
    GetCurrentDirectoryA(ARCHIVE_PATH_LIMIT, buffer);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Searches.

// Copies a name of at most `limit` bytes into the info's name, cut to fit without splitting a character.
static void CopyEntryName(char *out, const uint8_t *name, uint32_t limit, int charSet)
{
    uint32_t i = 0;
    while (i < limit && name[i] != 0) {
        uint32_t size = (IsMultiByteLeadByte(name + i, charSet) && i + 1 < limit && name[i + 1] != 0) ? 2 : 1;
        if (i + size >= FILE_INFO_NAME_SIZE) {
            break;
        }
        MemCopy(out + i, name + i, size);
        i += size;
    }
    out[i] = 0;
}

static void FillEntryDate(DateRecord *record, const uint8_t *fileTime)
{
    FILETIME time;
    time.dwLowDateTime = ReadArchiveU32(fileTime);
    time.dwHighDateTime = ReadArchiveU32(fileTime + 4);
    FileTimeToDateRecord(&time, record);
}

static void FillDotInfo(FileInfo *info, const char *name)
{
    MemFill(info, 0, sizeof(*info));
    lstrcpyA(info->name, name);
    info->isDirectory = 1;
}

// Takes the next entry from the stored index whose upper-cased name matches the pattern.
static int ArchiveFindNextEntry(ArchiveSearch *search, FileInfo *info)
{
    ArchiveDirectory *directory = &search->archive->directory;
    const uint8_t *current = GetArchiveDirectoryEntry(directory, search->directory);
    uint32_t count = 0;
    const uint8_t *entries = current != NULL ? GetArchiveFileEntries(directory, current, &count) : NULL;
    int charSet = directory->charSet;
    for (;;) {
        uint32_t index = search->nextIndex++;
        if (index == 0 || index == 1) {
            const char *dots = index == 0 ? "." : "..";
            if ((index == 1 && search->directory == 0) || !MatchArchivePattern(search->pattern, dots, charSet)) {
                continue;
            }
            if (info != NULL) {
                FillDotInfo(info, dots);
            }
            return 0;
        }
        if (entries == NULL || index - 2 >= count) {
            search->nextIndex = index;
            return -1;
        }
        const uint8_t *entry = entries + (size_t)(index - 2) * directory->fileEntrySize;
        const uint8_t *upper;
        const uint8_t *written;
        uint32_t units;
        if (GetArchiveEntryName(directory, entry, &upper, &written, &units) != 0) {
            continue;
        }
        char name[ARCHIVE_NAME_KEY_LIMIT + 1];
        MemCopy(name, upper, units * 4);
        name[units * 4] = 0;
        if (!MatchArchivePattern(search->pattern, name, charSet)) {
            continue;
        }
        if (info != NULL) {
            CopyEntryName(info->name, written, units * 4, charSet);
            info->isDirectory = IsArchiveEntryDirectory(entry);
            info->sizeLow = ReadArchiveU32(entry + ARCHIVE_ENTRY_SIZE);
            info->sizeHigh = 0;
            FillEntryDate(&info->creationTime, entry + ARCHIVE_ENTRY_CREATION_TIME);
            FillEntryDate(&info->lastWriteTime, entry + ARCHIVE_ENTRY_WRITE_TIME);
        }
        return 0;
    }
}

// Splits an inner path at its last '\', '/' or ':' into the directory part (its separator kept) and the name
// pattern, both upper-cased. The inner path is shorter than ARCHIVE_PATH_LIMIT, so both parts fit.
static void SplitArchivePath(const char *innerPath, int charSet, char directoryPart[ARCHIVE_PATH_LIMIT],
                             char pattern[FULL_PATH_SIZE])
{
    const char *name = (const char *)FindLastArchiveComponent((const uint8_t *)innerPath, charSet, "\\/:");
    lstrcpynA(pattern, name, FULL_PATH_SIZE);
    lstrcpynA(directoryPart, innerPath, (int)(name - innerPath) + 1);
    UpperCaseText(pattern, charSet);
    UpperCaseText(directoryPart, charSet);
}

// Searches the directory part of the inner path (the current directory is kept) for the name pattern.
static int ArchiveFindFirstEntry(ArchiveSearch *search, const char *innerPath, FileInfo *info)
{
    ArchiveDirectory *directory = &search->archive->directory;
    char directoryPart[ARCHIVE_PATH_LIMIT];
    SplitArchivePath(innerPath, directory->charSet, directoryPart, search->pattern);
    uint32_t saved = directory->currentDirectory;
    if (directoryPart[0] != 0 && ChangeArchiveDir(directory, directoryPart, 1, NULL) != 0) {
        return -1;
    }
    search->directory = directory->currentDirectory;
    directory->currentDirectory = saved;
    search->nextIndex = 0;
    return ArchiveFindNextEntry(search, info);
}

DWORD_PTR ArchiveAwareFindFirst(const char *pattern, FileInfo *info)
{
    ArchiveFindRecord *record = (ArchiveFindRecord *)ENGINE_ALLOC_ZEROED(sizeof(ArchiveFindRecord));
    if (record == NULL) {
        return FILE_FIND_FAILED;
    }
    char inner[ARCHIVE_PATH_LIMIT];
    if (ResolveArchivePath(pattern, &record->archiveIndex, NULL, inner) != 0) {
        record->find = WinFindFirst(pattern, info);
        if (record->find != FILE_FIND_FAILED) {
            return (DWORD_PTR)record;
        }
        FreeMemory(record);
        return FILE_FIND_FAILED;
    }
    record->inArchive = 1;
    ArchiveSearch *search = (ArchiveSearch *)ENGINE_ALLOC_ZEROED(sizeof(ArchiveSearch));
    if (search != NULL) {
        search->archive = GetOpenArchive(record->archiveIndex);
        WaitArchiveLoad(search->archive);
        if (ArchiveFindFirstEntry(search, inner, info) == 0) {
            record->find = (DWORD_PTR)search;
            return (DWORD_PTR)record;
        }
        FreeMemory(search);
    }
    ReleaseOpenArchiveUse(record->archiveIndex);
    FreeMemory(record);
    return FILE_FIND_FAILED;
}

int ArchiveAwareFindNext(DWORD_PTR find, FileInfo *info)
{
    if (find == FILE_FIND_FAILED || find == 0) {
        return -1;
    }
    ArchiveFindRecord *record = (ArchiveFindRecord *)find;
    if (!record->inArchive) {
        return WinFindNext(record->find, info);
    }
    return ArchiveFindNextEntry((ArchiveSearch *)record->find, info);
}

int ArchiveAwareFindClose(DWORD_PTR find)
{
    if (find == FILE_FIND_FAILED || find == 0) {
        return -1;
    }
    ArchiveFindRecord *record = (ArchiveFindRecord *)find;
    int result = 0;
    if (record->inArchive) {
        FreeMemory((void *)record->find);
        ReleaseOpenArchiveUse(record->archiveIndex);
    } else {
        result = WinFindClose(record->find);
    }
    FreeMemory(record);
    return result;
}
