// Host stand-ins for what the decoders need of the engine core and of the platform: a counting allocator with
// the same failure injection as the engine's, a log that only counts its lines, plain memory copy and fill, file
// forwarders with no file table behind them, and no GDI conversion. Single-threaded, as the host tests and fuzz targets
// are.
#include "image/image.h"
#include "image/loader_internal.h"

#include <stdlib.h>
#include <string.h>

static int s_LiveBlocks;
static long long s_LiveBytes;
static int s_FailureCountdown = -1;
static int s_LogLines;

// Each block carries its size in front so that the totals stay exact.
struct HostBlockHeader {
    size_t size;
    size_t padding; // keeps the caller's block 16-byte aligned
};

static void *TrackHostBlock(HostBlockHeader *header, size_t size)
{
    if (header == NULL) {
        return NULL;
    }
    header->size = size;
    s_LiveBlocks++;
    s_LiveBytes += (long long)size;
    return header + 1;
}

static int TakeInjectedFailure(void)
{
    return s_FailureCountdown >= 0 && s_FailureCountdown-- == 0;
}

void *AllocMemory(size_t size, const char *sourceName, int line)
{
    return TakeInjectedFailure() ? NULL
                                 : TrackHostBlock((HostBlockHeader *)malloc(sizeof(HostBlockHeader) + size), size);
}

// calloc, so that large zeroed blocks cost no more than the pages actually written.
void *AllocMemoryZeroed(size_t size, const char *sourceName, int line)
{
    return TakeInjectedFailure() ? NULL
                                 : TrackHostBlock((HostBlockHeader *)calloc(1, sizeof(HostBlockHeader) + size), size);
}

// A new block with the old contents; the old block stays valid when the new one cannot be had.
void *ReallocMemory(void *pointer, size_t size, const char *sourceName, int line)
{
    void *block = AllocMemory(size, sourceName, line);
    if (block != NULL && pointer != NULL) {
        size_t oldSize = ((HostBlockHeader *)pointer - 1)->size;
        memcpy(block, pointer, oldSize < size ? oldSize : size);
        FreeMemory(pointer);
    }
    return block;
}

void FreeMemory(void *pointer)
{
    if (pointer == NULL) {
        return;
    }
    HostBlockHeader *header = (HostBlockHeader *)pointer - 1;
    s_LiveBlocks--;
    s_LiveBytes -= (long long)header->size;
    free(header);
}

int GetAllocationCount(void)
{
    return s_LiveBlocks;
}

long long GetAllocationTotalSize(void)
{
    return s_LiveBytes;
}

void SetAllocationFailureCountdown(int count)
{
    s_FailureCountdown = count;
}

void MemCopy(void *destination, const void *source, size_t count)
{
    memcpy(destination, source, count);
}

void MemFill(void *destination, int byte, size_t count)
{
    memset(destination, byte, count);
}

int AddLog(const char *text)
{
    s_LogLines++;
    return -1;
}

int SetLogDirectory(const char *directory)
{
    return 0;
}

FileHandle FileOpenThunk(const char *path, int cacheFlag, int ignored, int asyncFlag)
{
    return 0;
}

int FileCloseThunk(DWORD_PTR handle)
{
    return -1;
}

int FileTellThunk(DWORD_PTR handle)
{
    return -1;
}

int FileSeekThunk(DWORD_PTR handle, int offset, int origin)
{
    return -1;
}

size_t FileReadThunk(void *buffer, size_t elementSize, size_t count, DWORD_PTR handle)
{
    return 0;
}

int FileEofThunk(DWORD_PTR handle)
{
    return -1;
}

int FileIdleCheckThunk(DWORD_PTR handle)
{
    return 1;
}

int DecodeBmpThroughDib(const unsigned char *header, const unsigned char *data, int width, int height, BaseImage *image)
{
    return -1;
}
