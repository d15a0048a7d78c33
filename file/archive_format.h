// "QVA" archive format: the constants, the key, the scrambling, the compression and the directory block as
// plain memory with lengths. Shared by the engine and by the packer that runs on the build machine, so this
// header and its two sources (archive_codec.cpp, archive_directory.cpp) use no platform types or calls.
// Every size and offset read from an archive is checked here before it is used; callers hold no locks and each
// directory view belongs to one thread at a time.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------------------------------------------
// Layout constants.

#define ARCHIVE_MAGIC_0 'Q'
#define ARCHIVE_MAGIC_1 'V'
#define ARCHIVE_VERSION_LIMIT 5           // versions at or above this are refused
#define ARCHIVE_HEADER_SIZE 24            // versions 0 to 3
#define ARCHIVE_HEADER_SIZE_CODE_PAGE 28  // version 4 adds the code page of the names
#define ARCHIVE_HEADER_PROBE_SIZE 8       // magic, version, directory block size: enough to test a key
#define ARCHIVE_FILE_ENTRY_SIZE 40        // versions 0 and 1
#define ARCHIVE_FILE_ENTRY_SIZE_PACKED 44 // from version 2: the packed size follows
#define ARCHIVE_FIRST_PACKED_VERSION 2
#define ARCHIVE_CODE_PAGE_VERSION 4
#define ARCHIVE_DIRECTORY_ENTRY_SIZE 16
#define ARCHIVE_NO_PARENT 0xFFFFFFFFu
#define ARCHIVE_STORED_UNPACKED 0xFFFFFFFFu // packed size of an entry stored as it is
#define ARCHIVE_ATTRIBUTE_DIRECTORY 0x10u
#define ARCHIVE_NAME_KEY_LIMIT 1024 // bytes of a padded upper-cased name, terminator included
#define ARCHIVE_PATH_LIMIT 256      // characters of an archive path or of a path inside an archive
#define ARCHIVE_KEY_SIZE 12

// File table entry fields (byte offsets).
#define ARCHIVE_ENTRY_NAME 0
#define ARCHIVE_ENTRY_ATTRIBUTES 4
#define ARCHIVE_ENTRY_CREATION_TIME 8
#define ARCHIVE_ENTRY_ACCESS_TIME 16
#define ARCHIVE_ENTRY_WRITE_TIME 24
#define ARCHIVE_ENTRY_DATA 32
#define ARCHIVE_ENTRY_SIZE 36
#define ARCHIVE_ENTRY_PACKED_SIZE 40

// Directory table entry fields (byte offsets).
#define ARCHIVE_DIRECTORY_SELF 0
#define ARCHIVE_DIRECTORY_PARENT 4
#define ARCHIVE_DIRECTORY_COUNT 8
#define ARCHIVE_DIRECTORY_FIRST 12

// Compression: u32 unpacked size, u32 packed size (header included), escape byte, then tokens.
#define ARCHIVE_PACK_HEADER_SIZE 9
#define ARCHIVE_PACK_MIN_LENGTH 4
#define ARCHIVE_PACK_MAX_LENGTH 8195
#define ARCHIVE_PACK_SHORT_LENGTH_LIMIT 35 // lengths up to this fit in the code byte alone
#define ARCHIVE_PACK_MAX_DISTANCE 16777216u
#define ARCHIVE_DECODE_FAILED 0xFFFFFFFFu

// Key making: the built-in fill, the per-position XOR constants and the second built-in key.
#define ARCHIVE_KEY_BUILTIN_FILL 0xB5
#define ARCHIVE_KEY_SECOND_BYTE 0x6D

// ---------------------------------------------------------------------------------------------------------------
// Little-endian field access that never assumes alignment.

static inline uint16_t ReadArchiveU16(const uint8_t *p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

static inline uint32_t ReadArchiveU32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline void WriteArchiveU16(uint8_t *p, uint32_t value)
{
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
}

static inline void WriteArchiveU32(uint8_t *p, uint32_t value)
{
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

// ---------------------------------------------------------------------------------------------------------------
// Keys and scrambling.

// With a key string (repeated to 12 bytes; an empty one counts as none) or the built-in fill, then each
// position's own transformation.
void MakeArchiveKey(const char *keyString, uint8_t key[ARCHIVE_KEY_SIZE]);
// The second built-in key: twelve equal bytes, untransformed.
void MakeSecondArchiveKey(uint8_t key[ARCHIVE_KEY_SIZE]);
// XOR with key[(fileOffset + i) mod 12]; the same call scrambles and unscrambles.
void ScrambleArchiveBytes(uint32_t length, void *data, uint32_t fileOffset, const uint8_t key[ARCHIVE_KEY_SIZE]);

// ---------------------------------------------------------------------------------------------------------------
// Compression.

// Unpacks a packed buffer of packedLength bytes. With a null destination, returns the unpacked size from the
// header. Otherwise the destination must hold destinationLength >= the unpacked size bytes; every token is
// checked against both buffers and a back reference must lie inside what was written. Returns the unpacked
// size, or ARCHIVE_DECODE_FAILED for a damaged buffer.
uint32_t DecodeArchiveData(const void *packed, uint32_t packedLength, void *destination, uint32_t destinationLength);

// ---------------------------------------------------------------------------------------------------------------
// Header and directory block.

struct ArchiveHeader {
    uint8_t magic[2];
    uint16_t version;
    uint32_t directoryBlockSize;
    uint32_t dataAreaOffset;
    uint32_t directoryBlockOffset;
    uint32_t fileTableOffset;
    uint32_t directoryTableOffset;
    uint32_t codePage; // version 4 only; 0 below
};

// An archive's directory block as the lookups see it: the block and its size, where the tables lie, the
// archive's total size (for data ranges) and the current directory as an offset in the directory table.
struct ArchiveDirectory {
    const uint8_t *block;
    uint32_t blockSize;
    uint32_t fileTableOffset;
    uint32_t directoryTableOffset;
    uint32_t fileEntrySize;
    uint32_t version;
    int charSet;
    uint32_t dataAreaOffset;
    uint64_t archiveSize;
    uint32_t currentDirectory;
};

// A name as the lookups compare it: upper-cased, zero-padded to whole 4-byte units, with its check sum.
struct ArchiveNameKey {
    uint8_t name[ARCHIVE_NAME_KEY_LIMIT];
    uint16_t checkSum;
    uint16_t units;
    uint32_t length; // bytes of the source name consumed (up to the separator)
};

// Whether unscrambled bytes start with the magic: what tells a right key from a wrong one.
int HasArchiveMagic(const uint8_t *bytes, uint32_t length);
// Checks magic and version of the first ARCHIVE_HEADER_PROBE_SIZE unscrambled bytes: the version, or -1.
int ProbeArchiveHeader(const uint8_t *bytes, uint32_t length);
uint32_t GetArchiveHeaderSize(uint32_t version);
// Reads an unscrambled header of `length` bytes and checks every size and offset against the archive's size.
int ParseArchiveHeader(const uint8_t *bytes, uint32_t length, uint64_t archiveSize, ArchiveHeader *header);
// Sets up a view of an unscrambled directory block that the header describes; the root becomes current.
int AttachArchiveDirectory(ArchiveDirectory *directory, const ArchiveHeader *header, const uint8_t *block,
                           uint64_t archiveSize);

// Upper-cases single-byte 'a'..'z' of `length` bytes, keeping double-byte characters of the character set.
void UpperCaseArchiveName(uint8_t *name, uint32_t length, int charSet);
// Builds the key of the name up to the first '\', '/' or end; -1 when it does not fit the key.
int MakeArchiveNameKey(const char *name, int charSet, ArchiveNameKey *key);

// Checked access to the tables: null (or -1) when the entry or what it points at lies outside the block.
const uint8_t *GetArchiveDirectoryEntry(const ArchiveDirectory *directory, uint32_t offset);
const uint8_t *GetArchiveFileEntries(const ArchiveDirectory *directory, const uint8_t *directoryEntry, uint32_t *count);
// The name entry of a file entry: its upper-cased name and the name as written, each units x 4 bytes.
int GetArchiveEntryName(const ArchiveDirectory *directory, const uint8_t *fileEntry, const uint8_t **upperName,
                        const uint8_t **writtenName, uint32_t *units);
int IsArchiveEntryDirectory(const uint8_t *fileEntry);
// Where the entry's bytes lie from the archive start and how many are stored; -1 when outside the archive.
int GetArchiveEntryDataRange(const ArchiveDirectory *directory, const uint8_t *fileEntry, uint32_t *offset,
                             uint32_t *storedSize, int *packed);

// The byte after the last of the given separators in the path (the path itself when it has none).
const uint8_t *FindLastArchiveComponent(const uint8_t *path, int charSet, const char *separators);
int EnterArchiveSubdir(ArchiveDirectory *directory, const ArchiveNameKey *key);
int ChangeArchiveDir(ArchiveDirectory *directory, const char *path, int restore, ArchiveNameKey *failedKey);
const uint8_t *FindArchiveFileEntry(const char *path, ArchiveDirectory *directory);
// Wildcard match of an upper-cased name: '?' any byte, '*' the rest or up to the next pattern byte (no
// backtracking); double-byte characters match whole.
int MatchArchivePattern(const char *pattern, const char *name, int charSet);
