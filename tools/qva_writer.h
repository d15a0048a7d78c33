// Writing "QVA" archives and packed buffers: the compressor, the directory block layout and the scrambling,
// for the packer on the build machine and for tests that build archives in memory. Output is decoded back and
// compared before it is handed out, so a compressor fault can never leave a damaged archive behind.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct QvaWriterEntry {
    std::string path; // inside the archive, components separated by '\' or '/'
    bool isDirectory = false;
    std::vector<uint8_t> data;
    uint32_t attributes = 0;                                  // ORed with the directory attribute for directories
    uint64_t creationTime = 0, accessTime = 0, writeTime = 0; // FILETIME values
};

enum QvaCompression {
    QVA_STORE = 0,        // every entry stored as it is
    QVA_PACK_SMALLER = 1, // packed when that is smaller
    QVA_PACK_ALL = 2,     // every file packed
};

enum QvaKeyKind {
    QVA_KEY_BUILTIN = 0,
    QVA_KEY_SECOND = 1,
    QVA_KEY_STRING = 2,
};

struct QvaWriterOptions {
    int version = 4;
    QvaCompression compression = QVA_STORE;
    QvaKeyKind keyKind = QVA_KEY_BUILTIN;
    std::string keyString;
    uint32_t codePage = 932; // written from version 4; names are upper-cased by its lead-byte rule
};

// Packs data into the archive compression's buffer format and decodes the result back: false with a reason (and
// nothing packed) unless it gives the input exactly.
bool PackArchiveData(const uint8_t *data, size_t size, std::vector<uint8_t> *packed, std::string *error);
// Builds a scrambled archive image. Parent directories of the entries are added as needed. Returns false with
// a reason on a name that does not fit the format or a compressor self-check failure.
bool WriteQvaArchive(const std::vector<QvaWriterEntry> &entries, const QvaWriterOptions &options,
                     std::vector<uint8_t> *archive, std::string *error);
