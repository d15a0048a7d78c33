// Streams: the two fixed operation tables (files through the file-function table's forwarders, memory images)
// and the memory stream itself. A memory stream belongs to one reader at a time; the tables are written at start-up and
// read by every thread afterwards.
#include "file/file.h"
#include "file/stream_seek.h"

// Constant-initialised, so that a stream can be used before start-up has run.
static constexpr StreamFunctions kFileStreamFunctions = {FileTellThunk, FileSeekThunk,      FileReadThunk,
                                                         FileEofThunk,  FileIdleCheckThunk, FileCloseThunk};
static constexpr StreamFunctions kMemoryStreamFunctions = {MemStreamTell, MemStreamSeek,      MemStreamRead,
                                                           MemStreamEof,  MemStreamIdleCheck, MemStreamClose};
static StreamFunctions s_FileStreamFunctions = kFileStreamFunctions;
static StreamFunctions s_MemoryStreamFunctions = kMemoryStreamFunctions;

StreamFunctions *GetFileStreamFunctions(void)
{
    return &s_FileStreamFunctions;
}

StreamFunctions *GetMemoryStreamFunctions(void)
{
    return &s_MemoryStreamFunctions;
}

int InitStreamFunctionTables(void)
{
    s_FileStreamFunctions = kFileStreamFunctions;
    s_MemoryStreamFunctions = kMemoryStreamFunctions;
    return 0;
}

MemStream *MemStreamOpen(const void *data, unsigned int size)
{
    MemStream *stream = (MemStream *)ENGINE_ALLOC(sizeof(MemStream));
    if (stream == NULL) {
        return NULL;
    }
    stream->data = (const unsigned char *)data;
    stream->size = size;
    stream->position = 0;
    stream->endOfFile = 0;
    return stream;
}

int OpenMemoryStreamRef(const void *data, unsigned int size, StreamRef *stream)
{
    MemStream *memory = MemStreamOpen(data, size);
    stream->functions = *GetMemoryStreamFunctions();
    stream->handle = (DWORD_PTR)memory;
    return memory == NULL ? -1 : 0;
}

int MemStreamClose(DWORD_PTR stream)
{
    FreeMemory((void *)stream);
    return 0;
}

int MemStreamTell(DWORD_PTR stream)
{
    return (int)((MemStream *)stream)->position;
}

int MemStreamEof(DWORD_PTR stream)
{
    return (int)((MemStream *)stream)->endOfFile;
}

int MemStreamIdleCheck(DWORD_PTR stream)
{
    return 1;
}

// Seeking clamps to the data and never fails. Targets are compared as signed values, as the stream's size
// and position are (an image of 2 GB or more is not a case this engine meets).
int MemStreamSeek(DWORD_PTR handle, int offset, int origin)
{
    MemStream *stream = (MemStream *)handle;
    long long target = GetSeekTarget(offset, origin, stream->position, stream->size);
    stream->endOfFile = 0;
    if (target > (long long)stream->size) {
        target = stream->size;
    } else if (target < 0) {
        target = 0;
    }
    stream->position = (unsigned int)target;
    return 0;
}

// Whole elements are counted; a last partial element is copied and counts as one. The element size times the
// count is taken in 64 bits, so a huge request cannot wrap into a small one.
size_t MemStreamRead(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle)
{
    MemStream *stream = (MemStream *)handle;
    if (stream->position >= stream->size) {
        stream->endOfFile = 1;
        return 0;
    }
    unsigned int rest = stream->size - stream->position;
    unsigned long long wanted = (unsigned long long)elementSize * count;
    size_t elements;
    unsigned int bytes;
    if (wanted <= rest) {
        elements = count;
        bytes = (unsigned int)wanted;
    } else if (rest / elementSize > 0) {
        elements = rest / elementSize;
        bytes = (unsigned int)(elements * elementSize);
    } else {
        elements = 1;
        bytes = rest;
    }
    MemCopy(buffer, stream->data + stream->position, bytes);
    stream->position += bytes;
    stream->endOfFile = 0;
    return elements;
}
