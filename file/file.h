// Files and archives: streams, the file-function table, plain files with their access thread, and "QVA" archives.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

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

StreamFunctions *GetFileStreamFunctions(void);
StreamFunctions *GetMemoryStreamFunctions(void);
MemStream *MemStreamOpen(const void *data, unsigned int size);
int MemStreamClose(DWORD_PTR stream);
