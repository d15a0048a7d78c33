// The directory block of a "QVA" archive: header checks, checked access to the name, file and directory
// tables, name keys, directory changes, entry lookup and wildcard matching. Pure functions over memory and
// lengths (no platform calls), so the packer and a host fuzzing build can use them; every offset and count read
// from the block is checked in 64 bits before use. A directory view belongs to one thread at a time.
#include "file/archive_format.h"
#include "font/font.h"

#include <string.h>

static int IsPathSeparator(uint8_t byte)
{
    return byte == '\\' || byte == '/';
}

static int IsLeadByte(const uint8_t *byte, int charSet)
{
    return IsMultiByteLeadByte(byte, charSet) && byte[1] != 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Header.

int HasArchiveMagic(const uint8_t *bytes, uint32_t length)
{
    return length >= ARCHIVE_HEADER_PROBE_SIZE && bytes[0] == ARCHIVE_MAGIC_0 && bytes[1] == ARCHIVE_MAGIC_1;
}

int ProbeArchiveHeader(const uint8_t *bytes, uint32_t length)
{
    if (!HasArchiveMagic(bytes, length)) {
        return -1;
    }
    uint16_t version = ReadArchiveU16(bytes + 2);
    return version < ARCHIVE_VERSION_LIMIT ? version : -1;
}

uint32_t GetArchiveHeaderSize(uint32_t version)
{
    return version >= ARCHIVE_CODE_PAGE_VERSION ? ARCHIVE_HEADER_SIZE_CODE_PAGE : ARCHIVE_HEADER_SIZE;
}

int ParseArchiveHeader(const uint8_t *bytes, uint32_t length, uint64_t archiveSize, ArchiveHeader *header)
{
    int version = ProbeArchiveHeader(bytes, length);
    if (version < 0) {
        return -1;
    }
    uint32_t headerSize = GetArchiveHeaderSize((uint32_t)version);
    if (length < headerSize || archiveSize < headerSize) {
        return -1;
    }
    header->magic[0] = bytes[0];
    header->magic[1] = bytes[1];
    header->version = (uint16_t)version;
    header->directoryBlockSize = ReadArchiveU32(bytes + 4);
    header->dataAreaOffset = ReadArchiveU32(bytes + 8);
    header->directoryBlockOffset = ReadArchiveU32(bytes + 12);
    header->fileTableOffset = ReadArchiveU32(bytes + 16);
    header->directoryTableOffset = ReadArchiveU32(bytes + 20);
    header->codePage = version >= ARCHIVE_CODE_PAGE_VERSION ? ReadArchiveU32(bytes + 24) : 0;
    if ((uint64_t)header->directoryBlockOffset + header->directoryBlockSize > archiveSize ||
        header->dataAreaOffset > archiveSize || header->fileTableOffset > header->directoryBlockSize ||
        (uint64_t)header->directoryTableOffset + ARCHIVE_DIRECTORY_ENTRY_SIZE > header->directoryBlockSize) {
        return -1;
    }
    return 0;
}

int AttachArchiveDirectory(ArchiveDirectory *directory, const ArchiveHeader *header, const uint8_t *block,
                           uint64_t archiveSize)
{
    directory->block = block;
    directory->blockSize = header->directoryBlockSize;
    directory->fileTableOffset = header->fileTableOffset;
    directory->directoryTableOffset = header->directoryTableOffset;
    directory->version = header->version;
    directory->fileEntrySize =
        header->version >= ARCHIVE_FIRST_PACKED_VERSION ? ARCHIVE_FILE_ENTRY_SIZE_PACKED : ARCHIVE_FILE_ENTRY_SIZE;
    directory->charSet = GetCodePageCharSet(header->codePage);
    directory->dataAreaOffset = header->dataAreaOffset;
    directory->archiveSize = archiveSize;
    directory->currentDirectory = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Checked table access.

const uint8_t *GetArchiveDirectoryEntry(const ArchiveDirectory *directory, uint32_t offset)
{
    uint64_t start = (uint64_t)directory->directoryTableOffset + offset;
    if (start + ARCHIVE_DIRECTORY_ENTRY_SIZE > directory->blockSize) {
        return NULL;
    }
    return directory->block + start;
}

const uint8_t *GetArchiveFileEntries(const ArchiveDirectory *directory, const uint8_t *directoryEntry, uint32_t *count)
{
    uint32_t entries = ReadArchiveU32(directoryEntry + ARCHIVE_DIRECTORY_COUNT);
    uint64_t start = (uint64_t)directory->fileTableOffset + ReadArchiveU32(directoryEntry + ARCHIVE_DIRECTORY_FIRST);
    if (start + (uint64_t)entries * directory->fileEntrySize > directory->blockSize) {
        *count = 0;
        return NULL;
    }
    *count = entries;
    return directory->block + start;
}

int GetArchiveEntryName(const ArchiveDirectory *directory, const uint8_t *fileEntry, const uint8_t **upperName,
                        const uint8_t **writtenName, uint32_t *units)
{
    uint32_t offset = ReadArchiveU32(fileEntry + ARCHIVE_ENTRY_NAME);
    if ((uint64_t)offset + 4 > directory->blockSize) {
        return -1;
    }
    const uint8_t *entry = directory->block + offset;
    uint32_t nameUnits = ReadArchiveU16(entry);
    if (nameUnits == 0 || nameUnits * 4 > ARCHIVE_NAME_KEY_LIMIT ||
        (uint64_t)offset + 4 + (uint64_t)nameUnits * 8 > directory->blockSize) {
        return -1;
    }
    *upperName = entry + 4;
    *writtenName = entry + 4 + nameUnits * 4;
    *units = nameUnits;
    return 0;
}

int IsArchiveEntryDirectory(const uint8_t *fileEntry)
{
    return (ReadArchiveU32(fileEntry + ARCHIVE_ENTRY_ATTRIBUTES) & ARCHIVE_ATTRIBUTE_DIRECTORY) != 0;
}

int GetArchiveEntryDataRange(const ArchiveDirectory *directory, const uint8_t *fileEntry, uint32_t *offset,
                             uint32_t *storedSize, int *packed)
{
    uint32_t packedSize = directory->version >= ARCHIVE_FIRST_PACKED_VERSION
                              ? ReadArchiveU32(fileEntry + ARCHIVE_ENTRY_PACKED_SIZE)
                              : ARCHIVE_STORED_UNPACKED;
    int isPacked = packedSize != ARCHIVE_STORED_UNPACKED;
    uint32_t stored = isPacked ? packedSize : ReadArchiveU32(fileEntry + ARCHIVE_ENTRY_SIZE);
    uint64_t start = (uint64_t)directory->dataAreaOffset + ReadArchiveU32(fileEntry + ARCHIVE_ENTRY_DATA);
    if (start + stored > directory->archiveSize) {
        return -1;
    }
    *offset = (uint32_t)start;
    *storedSize = stored;
    *packed = isPacked;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Names.

void UpperCaseArchiveName(uint8_t *name, uint32_t length, int charSet)
{
    for (uint32_t i = 0; i < length; i++) {
        if (IsMultiByteLeadByte(name + i, charSet) && i + 1 < length) {
            i++;
        } else if (name[i] >= 'a' && name[i] <= 'z') {
            name[i] = (uint8_t)(name[i] - 'a' + 'A');
        }
    }
}

// Bytes of the component that starts at `name`, up to a separator or the end; a trail byte that equals a
// separator belongs to its character.
static uint32_t MeasureArchiveComponent(const uint8_t *name, uint32_t limit, int charSet)
{
    uint32_t i = 0;
    while (i < limit && name[i] != 0 && !IsPathSeparator(name[i])) {
        i += (IsLeadByte(name + i, charSet) && i + 1 < limit) ? 2 : 1;
    }
    return i;
}

static int MakeNameKeyFromBytes(const uint8_t *name, uint32_t length, int charSet, ArchiveNameKey *key)
{
    if (length >= ARCHIVE_NAME_KEY_LIMIT) {
        return -1;
    }
    uint32_t units = length / 4 + 1;
    memcpy(key->name, name, length);
    memset(key->name + length, 0, units * 4 - length);
    UpperCaseArchiveName(key->name, length, charSet);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; i++) {
        sum += key->name[i];
    }
    key->checkSum = (uint16_t)sum;
    key->units = (uint16_t)units;
    key->length = length;
    return 0;
}

int MakeArchiveNameKey(const char *name, int charSet, ArchiveNameKey *key)
{
    const uint8_t *bytes = (const uint8_t *)name;
    return MakeNameKeyFromBytes(bytes, MeasureArchiveComponent(bytes, 0xFFFFFFFFu, charSet), charSet, key);
}

static int EntryMatchesKey(const ArchiveDirectory *directory, const uint8_t *fileEntry, const ArchiveNameKey *key)
{
    const uint8_t *upper;
    const uint8_t *written;
    uint32_t units;
    if (GetArchiveEntryName(directory, fileEntry, &upper, &written, &units) != 0 || units != key->units) {
        return 0;
    }
    uint16_t checkSum = ReadArchiveU16(upper - 2);
    return checkSum == key->checkSum && memcmp(upper, key->name, units * 4) == 0;
}

// The entry of the current directory matching the key with the directory attribute as asked, or null.
static const uint8_t *FindEntryInCurrentDir(const ArchiveDirectory *directory, const ArchiveNameKey *key,
                                            int wantDirectory)
{
    const uint8_t *current = GetArchiveDirectoryEntry(directory, directory->currentDirectory);
    uint32_t count;
    const uint8_t *entries = current != NULL ? GetArchiveFileEntries(directory, current, &count) : NULL;
    if (entries == NULL) {
        return NULL;
    }
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *entry = entries + (size_t)i * directory->fileEntrySize;
        if (IsArchiveEntryDirectory(entry) == wantDirectory && EntryMatchesKey(directory, entry, key)) {
            return entry;
        }
    }
    return NULL;
}

int EnterArchiveSubdir(ArchiveDirectory *directory, const ArchiveNameKey *key)
{
    const uint8_t *entry = FindEntryInCurrentDir(directory, key, 1);
    if (entry == NULL) {
        return -1;
    }
    uint32_t target = ReadArchiveU32(entry + ARCHIVE_ENTRY_DATA);
    if (GetArchiveDirectoryEntry(directory, target) == NULL) {
        return -1;
    }
    directory->currentDirectory = target;
    return 0;
}

// The root (offset 0) has no parent, whatever its parent field says; other parents are checked like any offset.
static int EnterArchiveParent(ArchiveDirectory *directory)
{
    const uint8_t *current =
        directory->currentDirectory != 0 ? GetArchiveDirectoryEntry(directory, directory->currentDirectory) : NULL;
    uint32_t parent = current != NULL ? ReadArchiveU32(current + ARCHIVE_DIRECTORY_PARENT) : ARCHIVE_NO_PARENT;
    if (GetArchiveDirectoryEntry(directory, parent) == NULL) {
        return -1;
    }
    directory->currentDirectory = parent;
    return 0;
}

// Walks the components of path[0..length): a leading separator starts at the root, "." stays, ".." climbs.
static int WalkArchivePath(ArchiveDirectory *directory, const uint8_t *path, uint32_t length, ArchiveNameKey *failedKey)
{
    ArchiveNameKey key;
    ArchiveNameKey *componentKey = failedKey != NULL ? failedKey : &key;
    uint32_t i = 0;
    if (length > 0 && IsPathSeparator(path[0])) {
        directory->currentDirectory = 0;
        i = 1;
    }
    while (i < length) {
        uint32_t size = MeasureArchiveComponent(path + i, length - i, directory->charSet);
        const uint8_t *component = path + i;
        i += size + 1;
        if (size == 0 || (size == 1 && component[0] == '.')) {
            continue;
        }
        if (size == 2 && component[0] == '.' && component[1] == '.') {
            if (EnterArchiveParent(directory) != 0) {
                return -1;
            }
            continue;
        }
        if (MakeNameKeyFromBytes(component, size, directory->charSet, componentKey) != 0 ||
            EnterArchiveSubdir(directory, componentKey) != 0) {
            return -1;
        }
    }
    return 0;
}

int ChangeArchiveDir(ArchiveDirectory *directory, const char *path, int restore, ArchiveNameKey *failedKey)
{
    uint32_t saved = directory->currentDirectory;
    if (WalkArchivePath(directory, (const uint8_t *)path, (uint32_t)strlen(path), failedKey) != 0) {
        if (restore) {
            directory->currentDirectory = saved;
        }
        return -1;
    }
    return 0;
}

// The byte after the last separator of the path (the path itself when it has none).
const uint8_t *FindLastArchiveComponent(const uint8_t *path, int charSet, const char *separators)
{
    const uint8_t *last = path;
    for (const uint8_t *p = path; *p != 0; p++) {
        if (IsLeadByte(p, charSet)) {
            p++;
        } else if (strchr(separators, *p) != NULL) {
            last = p + 1;
        }
    }
    return last;
}

// A middle directory that is missing fails the lookup instead of searching the deepest directory reached.
const uint8_t *FindArchiveFileEntry(const char *path, ArchiveDirectory *directory)
{
    const uint8_t *bytes = (const uint8_t *)path;
    const uint8_t *name = FindLastArchiveComponent(bytes, directory->charSet, "\\/");
    uint32_t saved = directory->currentDirectory;
    const uint8_t *entry = NULL;
    ArchiveNameKey key;
    if (WalkArchivePath(directory, bytes, (uint32_t)(name - bytes), NULL) == 0 &&
        MakeArchiveNameKey((const char *)name, directory->charSet, &key) == 0 && key.length > 0) {
        entry = FindEntryInCurrentDir(directory, &key, 0);
    }
    directory->currentDirectory = saved;
    return entry;
}

// ---------------------------------------------------------------------------------------------------------------
// Wildcards.

int MatchArchivePattern(const char *pattern, const char *name, int charSet)
{
    const uint8_t *p = (const uint8_t *)pattern;
    const uint8_t *s = (const uint8_t *)name;
    while (*p != 0) {
        if (IsLeadByte(p, charSet)) {
            if (s[0] != p[0] || s[1] != p[1]) {
                return 0;
            }
            p += 2;
            s += 2;
        } else if (*p == '?') {
            if (*s == 0) {
                return 0;
            }
            p++;
            s++;
        } else if (*p == '*') {
            while (*p == '*') {
                p++;
            }
            if (*p == 0) {
                return 1;
            }
            // No backtracking: the star takes the subject up to the first occurrence of the next pattern
            // character, stepping over whole characters (a '?' next takes nothing).
            while (*p != '?' && *s != 0 && !(s[0] == p[0] && (!IsLeadByte(p, charSet) || s[1] == p[1]))) {
                s += IsLeadByte(s, charSet) ? 2 : 1;
            }
            if (*s == 0) {
                return 0;
            }
        } else {
            if (*s != *p) {
                return 0;
            }
            p++;
            s++;
        }
    }
    return *s == 0;
}
