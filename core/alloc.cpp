// Tracked heap allocator: every engine block carries a 64-byte header naming who asked for it (the tail of the
// source file name and the line), a serial number and the size, and sits in a list of live blocks, newest
// first, so that damage can be found and blocks still alive at shut-down can be listed in the log. Each header
// keeps a guard copy of its first 32 bytes. One critical section, made on first use, serialises all threads
// (window, sound refill, file access); it is re-entered by the checks and dumps run from inside an operation.
#include "core/core.h"
#include "core/core_test_hooks.h"

#include <stdio.h>
#include <string.h>

static_assert(sizeof(AllocHeader) == ALLOC_HEADER_SIZE, "the header is 64 bytes in front of every block");

#define GUARDED_BYTES 32
#define SOURCE_NAME_KEEP 15
#define RECORD_DATA_BYTES 16

static AllocHeader s_Sentinel; // ends the list; never freed
static AllocHeader *s_Head;    // newest block; null until the first allocation
static long long s_TotalSize;
static int s_LiveCount;
static uint16_t s_SerialCounter;

static int s_TraceSize;
static int s_LogEachOperation;
static int s_LogTotals;
static int s_CheckEach;
static int s_FailureCountdown = -1;

static CRITICAL_SECTION s_Lock;
static INIT_ONCE s_LockOnce = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK InitAllocatorLock(PINIT_ONCE once, PVOID parameter, PVOID *context)
{
    InitializeCriticalSection(&s_Lock);
    return TRUE;
}

static void EnterAllocator(void)
{
    InitOnceExecuteOnce(&s_LockOnce, InitAllocatorLock, NULL, NULL);
    EnterCriticalSection(&s_Lock);
}

static void LeaveAllocator(void)
{
    LeaveCriticalSection(&s_Lock);
}

static void RewriteGuard(AllocHeader *header)
{
    if (header != NULL) {
        memcpy(header->guard, header, GUARDED_BYTES);
    }
}

static void *UserPointer(AllocHeader *header)
{
    return (unsigned char *)header + ALLOC_HEADER_SIZE;
}

static AllocHeader *HeaderOf(void *pointer)
{
    return (AllocHeader *)((unsigned char *)pointer - ALLOC_HEADER_SIZE);
}

// The block size with its header, or 0 when size + 64 does not fit the 32-bit heap calls.
static SIZE_T BlockSizeFor(size_t size)
{
    unsigned long long total = (unsigned long long)size + ALLOC_HEADER_SIZE;
    return total > 0xFFFFFFFFull ? 0 : (SIZE_T)total;
}

static int TakeInjectedFailure(void)
{
    if (s_FailureCountdown < 0) {
        return 0;
    }
    return s_FailureCountdown-- == 0;
}

static void FillHeader(AllocHeader *header, size_t size, const char *sourceName, int line)
{
    memset(header->sourceName, 0, sizeof header->sourceName);
    if (sourceName != NULL) {
        size_t length = strlen(sourceName);
        const char *tail = length > SOURCE_NAME_KEEP ? sourceName + length - SOURCE_NAME_KEEP : sourceName;
        memcpy(header->sourceName, tail, strlen(tail));
    }
    header->serial = s_SerialCounter++;
    header->line = (uint16_t)line;
    header->size = (uint32_t)size;
}

static void TraceOperation(const char *what, const AllocHeader *header)
{
    if (s_TraceSize < 0 || (uint32_t)s_TraceSize == header->size || s_LogEachOperation) {
        AddLog(what);
        LogAllocationRecord(header);
    }
}

static void FinishOperation(void)
{
    if (s_LogTotals) {
        LogAllocationTotals();
    }
    if (s_CheckEach) {
        CheckAllAllocations();
    }
}

static void *FailAllocation(void)
{
    DumpAllocations();
    CheckAllAllocations();
    LeaveAllocator();
    return NULL;
}

void *AllocMemory(size_t size, const char *sourceName, int line)
{
    EnterAllocator();
    SIZE_T blockSize = BlockSizeFor(size);
    AllocHeader *header = NULL;
    if (blockSize != 0 && !TakeInjectedFailure()) {
        header = (AllocHeader *)HeapAlloc(GetProcessHeap(), 0, blockSize);
    }
    if (header == NULL) {
        return FailAllocation();
    }
    FillHeader(header, size, sourceName, line);

    if (s_Head == NULL) {
        s_Head = &s_Sentinel;
    }
    s_Head->previous = header;
    header->next = s_Head;
    header->previous = NULL;
    RewriteGuard(s_Head);
    s_Head = header;
    RewriteGuard(header);

    s_TotalSize += size;
    s_LiveCount++;
    TraceOperation("mem alloc  ", header);
    FinishOperation();
    LeaveAllocator();
    return UserPointer(header);
}

void *AllocMemoryZeroed(size_t size, const char *sourceName, int line)
{
    void *pointer = AllocMemory(size, sourceName, line);
    if (pointer != NULL && size != 0) {
        memset(pointer, 0, size);
    }
    return pointer;
}

void *ReallocMemory(void *pointer, size_t size, const char *sourceName, int line)
{
    if (pointer == NULL) {
        return AllocMemory(size, sourceName, line);
    }
    EnterAllocator();
    AllocHeader *old = HeaderOf(pointer);
    uint32_t oldSize = old->size;
    SIZE_T blockSize = BlockSizeFor(size);
    AllocHeader *header = NULL;
    if (blockSize != 0 && !TakeInjectedFailure()) {
        header = (AllocHeader *)HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, old, blockSize);
    }
    if (header == NULL) {
        // The old block stays valid and listed.
        DumpAllocations();
        LeaveAllocator();
        return NULL;
    }
    FillHeader(header, size, sourceName, line);
    // The block may have moved: its neighbours still point at the old address.
    header->next->previous = header;
    if (header->previous != NULL) {
        header->previous->next = header;
    }
    if (s_Head == old) {
        s_Head = header;
    }
    s_TotalSize += (long long)size - oldSize;
    RewriteGuard(header);
    RewriteGuard(header->next);
    RewriteGuard(header->previous);

    TraceOperation("mem realloc  ", header);
    FinishOperation();
    LeaveAllocator();
    return UserPointer(header);
}

void FreeMemory(void *pointer)
{
    if (pointer == NULL) {
        return;
    }
    EnterAllocator();
    AllocHeader *header = HeaderOf(pointer);
    s_TotalSize -= header->size;
    s_LiveCount--;
    if (s_CheckEach) {
        CheckAllAllocations();
    }
    AllocHeader *next = header->next;
    AllocHeader *previous = header->previous;
    if (next != NULL) {
        next->previous = previous;
    }
    if (previous != NULL) {
        previous->next = next;
    }
    if (s_Head == header) {
        s_Head = next;
    }
    RewriteGuard(previous);
    RewriteGuard(next);
    TraceOperation("mem free  ", header);
    if (s_LogTotals) {
        LogAllocationTotals();
    }
    HeapFree(GetProcessHeap(), 0, header);
    LeaveAllocator();
}

int CheckAllAllocations(void)
{
    EnterAllocator();
    for (AllocHeader *header = s_Head; header != NULL && header != &s_Sentinel; header = header->next) {
        if (memcmp(header->guard, header, GUARDED_BYTES) != 0) {
            AddLog("以下のメモリ確保情報が破損しました");
            LogAllocationRecord(header);
            LeaveAllocator();
            return -1;
        }
    }
    LeaveAllocator();
    return 0;
}

void DumpAllocations(void)
{
    EnterAllocator();
    AddLog("\n");
    AddLog("Alloc memory dump\n");
    for (AllocHeader *header = s_Head; header != NULL && header != &s_Sentinel; header = header->next) {
        LogAllocationRecord(header);
    }
    LogAllocationTotals();
    AddLog("\n");
    LeaveAllocator();
}

void LogAllocationTotals(void)
{
    EnterAllocator();
    LogFormatLine("\tTotal size:%lld(%.3fkb)  Alloc num:%d", s_TotalSize, s_TotalSize / 1024.0, s_LiveCount);
    LeaveAllocator();
}

void LogAllocationRecord(const AllocHeader *header)
{
    char line[256];
    const unsigned char *data = (const unsigned char *)header + ALLOC_HEADER_SIZE;
    unsigned int shown = header->size < RECORD_DATA_BYTES ? header->size : RECORD_DATA_BYTES;
    int length =
        snprintf(line, sizeof line, "\tsize:%10d(%10.3fkb)  file:%-26.15s  line:%-5d  ID:%-5d  addr:%08x  data:<",
                 (int)header->size, header->size / 1024.0, header->sourceName, header->line, header->serial,
                 (unsigned int)(UINT_PTR)data);
    for (unsigned int i = 0; i < shown; i++) {
        line[length++] = (data[i] < 0x20 || data[i] > 0x7F) ? '.' : (char)data[i];
    }
    length += snprintf(line + length, sizeof line - length, "> [");
    for (unsigned int i = 0; i < shown; i++) {
        length += snprintf(line + length, sizeof line - length, "%02x ", data[i]);
    }
    // The closing bracket takes the place of the last blank (of the "[" when no byte is shown).
    snprintf(line + length - 1, sizeof line - length + 1, "]\n");
    AddLog(line);
}

int GetAllocationCount(void)
{
    return s_LiveCount;
}

long long GetAllocationTotalSize(void)
{
    return s_TotalSize;
}

void SetAllocationDebugOptions(int traceSize, int logEachOperation, int logTotals, int checkEach)
{
    EnterAllocator();
    s_TraceSize = traceSize;
    s_LogEachOperation = logEachOperation;
    s_LogTotals = logTotals;
    s_CheckEach = checkEach;
    LeaveAllocator();
}

void SetAllocationFailureCountdown(int count)
{
    EnterAllocator();
    s_FailureCountdown = count;
    LeaveAllocator();
}
