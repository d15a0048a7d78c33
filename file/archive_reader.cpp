// "QVA" archive records: opening an archive file (directory only, or whole into memory in the background),
// opening an archive image held in memory, releasing them, and the table of open archives that path
// resolution shares. The header and directory block are checked against the archive's real size before use.
// Runs on the caller's thread without locks; only the archive file's own access thread runs beside it.
#include "file/file_test_hooks.h"

struct OpenArchiveEntry {
    int useCount;
    ArchiveRecord record;
    char path[ARCHIVE_PATH_LIMIT];
};

static int ReleaseArchive(ArchiveRecord *record);

static OpenArchiveEntry *s_OpenArchives[ARCHIVE_TABLE_SIZE];
static int s_OpenArchiveCount;

// The key string archives opened by path use; only its first twelve characters can matter.
static char s_ArchiveKeyString[ARCHIVE_KEY_SIZE + 1];

int SetArchiveKeyString(const char *keyString)
{
    lstrcpynA(s_ArchiveKeyString, keyString != NULL ? keyString : "", sizeof(s_ArchiveKeyString));
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Reading an archive file.

static void WaitFileIdle(FileHandle file)
{
    while (!WinFileIdleCheck(file)) {
        Sleep(0);
    }
}

int ReadArchiveBytes(ArchiveRecord *record, void *buffer, unsigned int length)
{
    unsigned int position = (unsigned int)WinFileTell(record->file);
    WinFileRead(buffer, 1, length, record->file);
    WaitFileIdle(record->file);
    if ((unsigned int)WinFileTell(record->file) - position != length) {
        return -1;
    }
    ScrambleArchiveBytes(length, buffer, position, record->key);
    return 0;
}

// Moves the archive file to an offset from its start, only when it is not there already. The plain set's seek
// takes a signed 32-bit offset, so an offset from 2 GB up is reached in two steps.
int SeekArchiveFile(ArchiveRecord *record, unsigned int offset)
{
    if ((unsigned int)WinFileTell(record->file) == offset) {
        return 0;
    }
    if (offset <= 0x7FFFFFFFu) {
        return WinFileSeek(record->file, (int)offset, STREAM_ORIGIN_START);
    }
    if (WinFileSeek(record->file, 0x7FFFFFFF, STREAM_ORIGIN_START) != 0) {
        return -1;
    }
    return WinFileSeek(record->file, (int)(offset - 0x7FFFFFFFu), STREAM_ORIGIN_CURRENT);
}

static int SeekAndReadArchiveBytes(ArchiveRecord *record, unsigned int offset, void *buffer, unsigned int length)
{
    if (SeekArchiveFile(record, offset) != 0) {
        return -1;
    }
    return ReadArchiveBytes(record, buffer, length);
}

// Finds the key that gives the magic (the key string's or the built-in one, then the second built-in key) and
// reads the whole header with it. The version is judged only after a key has given the magic: a version that is
// too new is refused, not taken as a sign of the wrong key.
static int ReadArchiveFileHeader(ArchiveRecord *record, const char *keyString, unsigned int fileSize)
{
    unsigned char bytes[ARCHIVE_HEADER_SIZE_CODE_PAGE];
    MakeArchiveKey(keyString, record->key);
    if (SeekAndReadArchiveBytes(record, 0, bytes, ARCHIVE_HEADER_PROBE_SIZE) != 0) {
        return -1;
    }
    if (!HasArchiveMagic(bytes, ARCHIVE_HEADER_PROBE_SIZE)) {
        MakeSecondArchiveKey(record->key);
        if (SeekAndReadArchiveBytes(record, 0, bytes, ARCHIVE_HEADER_PROBE_SIZE) != 0) {
            return -1;
        }
    }
    int version = ProbeArchiveHeader(bytes, ARCHIVE_HEADER_PROBE_SIZE);
    if (version < 0) {
        return -1;
    }
    unsigned int headerSize = GetArchiveHeaderSize((unsigned int)version);
    if (headerSize > fileSize ||
        ReadArchiveBytes(record, bytes + ARCHIVE_HEADER_PROBE_SIZE, headerSize - ARCHIVE_HEADER_PROBE_SIZE) != 0) {
        return -1;
    }
    return ParseArchiveHeader(bytes, headerSize, fileSize, &record->header);
}

// Opens the archive file and reads its header and directory block; the file stays open in record->file.
int OpenArchiveDirectory(ArchiveRecord *record, const char *path, const char *keyString)
{
    if (record->inUse) {
        return -1;
    }
    record->file = WinFileOpen(path, 0, 0, 1);
    if (record->file == 0) {
        return -1;
    }
    unsigned int fileSize = 0;
    if (WinFileSeek(record->file, 0, STREAM_ORIGIN_END) == 0) {
        fileSize = (unsigned int)WinFileTell(record->file);
    }
    if (ReadArchiveFileHeader(record, keyString, fileSize) == 0) {
        record->directoryBlock = (unsigned char *)ENGINE_ALLOC(record->header.directoryBlockSize);
        if (record->directoryBlock != NULL &&
            SeekAndReadArchiveBytes(record, record->header.directoryBlockOffset, record->directoryBlock,
                                    record->header.directoryBlockSize) == 0) {
            AttachArchiveDirectory(&record->directory, &record->header, record->directoryBlock, fileSize);
            record->imageSize = fileSize;
            record->inUse = 1;
            return 0;
        }
        FreeMemory(record->directoryBlock);
    }
    WinFileClose(record->file);
    ClearArchive(record);
    return -1;
}

int OpenArchiveWhole(ArchiveRecord *record, const char *path, const char *keyString, int noWait)
{
    if (OpenArchiveDirectory(record, path, keyString) != 0) {
        return -1;
    }
    record->image = (unsigned char *)ENGINE_ALLOC(record->imageSize > 0 ? record->imageSize : 1);
    if (record->image == NULL || SeekArchiveFile(record, 0) != 0) {
        FreeMemory(record->image);
        record->image = NULL;
        ReleaseArchive(record);
        return -1;
    }
    record->loader = record->file;
    record->file = 0;
    record->memoryResident = 1;
    record->loading = 1;
    WinFileRead(record->image, 1, record->imageSize, record->loader);
    if (!noWait) {
        WaitArchiveLoad(record);
    }
    return 0;
}

// Completes a background whole-file load once its read has finished. A short read leaves the archive only as
// large as what arrived, so entries beyond it are refused.
int PollArchiveLoad(ArchiveRecord *record)
{
    if (!record->loading) {
        return 1;
    }
    if (!WinFileIdleCheck(record->loader)) {
        return 0;
    }
    unsigned int loaded = (unsigned int)WinFileTell(record->loader);
    WinFileClose(record->loader);
    record->loader = 0;
    if (loaded < record->imageSize) {
        record->imageSize = loaded;
        record->directory.archiveSize = loaded;
    }
    ScrambleArchiveBytes(record->imageSize, record->image, 0, record->key);
    record->loading = 0;
    return 1;
}

void WaitArchiveLoad(ArchiveRecord *record)
{
    while (!PollArchiveLoad(record)) {
        Sleep(0);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Archive images in memory.

static int KeyGivesMagic(const unsigned char *image, const unsigned char key[ARCHIVE_KEY_SIZE])
{
    unsigned char probe[ARCHIVE_HEADER_PROBE_SIZE];
    MemCopy(probe, image, sizeof(probe));
    ScrambleArchiveBytes(sizeof(probe), probe, 0, key);
    return HasArchiveMagic(probe, sizeof(probe));
}

// The key string's key (or the built-in one) if it gives the magic, else the second built-in key.
static int FindImageKey(ArchiveRecord *record, const unsigned char *image, const char *keyString)
{
    MakeArchiveKey(keyString, record->key);
    if (KeyGivesMagic(image, record->key)) {
        return 0;
    }
    MakeSecondArchiveKey(record->key);
    return KeyGivesMagic(image, record->key) ? 0 : -1;
}

int OpenArchiveFromMemory(ArchiveRecord *record, void *image, unsigned int size, const char *keyString)
{
    unsigned char *bytes = (unsigned char *)image;
    if (record->inUse || bytes == NULL || size < ARCHIVE_HEADER_PROBE_SIZE ||
        FindImageKey(record, bytes, keyString) != 0) {
        return -1;
    }
    // Unscrambled whole before the version is judged; a refused image is scrambled back as it was given.
    ScrambleArchiveBytes(size, bytes, 0, record->key);
    if (ParseArchiveHeader(bytes, size, size, &record->header) != 0) {
        ScrambleArchiveBytes(size, bytes, 0, record->key);
        return -1;
    }
    AttachArchiveDirectory(&record->directory, &record->header, bytes + record->header.directoryBlockOffset, size);
    record->image = bytes;
    record->imageSize = size;
    record->memoryResident = 1;
    record->callerOwnedImage = 1;
    record->inUse = 1;
    return 0;
}

void *GetArchiveImage(ArchiveRecord *record)
{
    WaitArchiveLoad(record);
    return record->memoryResident ? record->image : NULL;
}

int GetArchiveFileImage(ArchiveRecord *record, const char *name, unsigned int *offset, unsigned int *size)
{
    if (!record->inUse) {
        return -1;
    }
    WaitArchiveLoad(record);
    const uint8_t *entry = FindArchiveFileEntry(name, &record->directory);
    uint32_t start, storedSize;
    int packed;
    if (entry == NULL || GetArchiveEntryDataRange(&record->directory, entry, &start, &storedSize, &packed) != 0) {
        return -1;
    }
    if (offset != NULL) {
        *offset = start;
    }
    if (size != NULL) {
        *size = ReadArchiveU32(entry + ARCHIVE_ENTRY_SIZE);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Release.

static int ReleaseArchive(ArchiveRecord *record)
{
    if (!record->inUse) {
        return 0;
    }
    WaitArchiveLoad(record);
    if (record->callerOwnedImage) {
        ScrambleArchiveBytes(record->imageSize, record->image, 0, record->key);
    } else {
        if (record->file != 0) {
            WinFileClose(record->file);
        }
        FreeMemory(record->image);
        FreeMemory(record->directoryBlock);
    }
    return ClearArchive(record);
}

int CloseArchive(ArchiveRecord *record)
{
    return ReleaseArchive(record);
}

int ClearArchive(ArchiveRecord *record)
{
    MemFill(record, 0, sizeof(*record));
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The open-archive table.

static void ReleaseUnusedArchives(void)
{
    for (int i = 0; i < ARCHIVE_TABLE_SIZE; i++) {
        OpenArchiveEntry *entry = s_OpenArchives[i];
        if (entry != NULL && entry->useCount < 1) {
            ReleaseArchive(&entry->record);
            FreeMemory(entry);
            s_OpenArchives[i] = NULL;
            s_OpenArchiveCount--;
        }
    }
}

int CloseUnusedArchives(void)
{
    ReleaseUnusedArchives();
    ForgetAbsentArchives();
    return 0;
}

static int TakeOpenArchive(int index, const char *path)
{
    if (index < 0 || index >= ARCHIVE_TABLE_SIZE || s_OpenArchives[index] == NULL ||
        lstrcmpA(s_OpenArchives[index]->path, path) != 0) {
        return -1;
    }
    s_OpenArchives[index]->useCount++;
    return index;
}

// Paths that do not fit the table's path field are refused rather than cut.
int OpenArchiveByPath(int indexHint, const char *path, int wholeFlag, int noWaitFlag)
{
    if (lstrlenA(path) >= ARCHIVE_PATH_LIMIT) {
        return -1;
    }
    if (TakeOpenArchive(indexHint, path) >= 0) {
        return indexHint;
    }
    for (int i = 0; i < ARCHIVE_TABLE_SIZE; i++) {
        if (TakeOpenArchive(i, path) >= 0) {
            return i;
        }
    }
    if (s_OpenArchiveCount >= ARCHIVE_TABLE_SIZE) {
        ReleaseUnusedArchives();
        if (s_OpenArchiveCount >= ARCHIVE_TABLE_SIZE) {
            return -1;
        }
    }
    int index = 0;
    while (s_OpenArchives[index] != NULL) {
        index++;
    }
    OpenArchiveEntry *entry = (OpenArchiveEntry *)ENGINE_ALLOC_ZEROED(sizeof(OpenArchiveEntry));
    if (entry == NULL) {
        return -1;
    }
    const char *keyString = s_ArchiveKeyString[0] != 0 ? s_ArchiveKeyString : NULL;
    int opened = wholeFlag ? OpenArchiveWhole(&entry->record, path, keyString, noWaitFlag)
                           : OpenArchiveDirectory(&entry->record, path, keyString);
    if (opened != 0) {
        FreeMemory(entry);
        return -1;
    }
    entry->useCount = 1;
    lstrcpyA(entry->path, path);
    s_OpenArchives[index] = entry;
    s_OpenArchiveCount++;
    return index;
}

ArchiveRecord *GetOpenArchive(int index)
{
    if (index < 0 || index >= ARCHIVE_TABLE_SIZE || s_OpenArchives[index] == NULL) {
        return NULL;
    }
    return &s_OpenArchives[index]->record;
}

int GetOpenArchiveUseCount(int index)
{
    return GetOpenArchive(index) != NULL ? s_OpenArchives[index]->useCount : -1;
}

int ReleaseOpenArchiveUse(int index)
{
    if (GetOpenArchive(index) == NULL) {
        return -1;
    }
    if (s_OpenArchives[index]->useCount > 0) {
        s_OpenArchives[index]->useCount--;
    }
    return 0;
}
