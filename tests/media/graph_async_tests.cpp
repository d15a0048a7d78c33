// The asynchronous reader's parts on the platform's COM, without the engine: the media sample's API, the pool's
// size rules against the rule itself over random requests, a GetBuffer blocked on an empty pool, the memory
// stream's bounds and throttle, the I/O queue's worker, flush and refusals, and "Mem Reader" pulled by a parser's
// test filter the way a parser pulls.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "graph_test_support.h"
#include "media/media_async.h"
#include "media/media_test_hooks.h"

namespace
{

// COM, task memory (counted) and the clock bound for each test as engine start-up would bind them.
class PlatformTest : public testing::Test {
protected:
    graph_test::PlatformEntries platform;
};
using MediaSample = PlatformTest;
using Allocator = PlatformTest;
using MemStream = PlatformTest;
using AsyncIoQueue = PlatformTest;
using MemReader = PlatformTest;
using AsyncReader = PlatformTest;

ULONG References(IUnknown *object)
{
    object->AddRef();
    return object->Release();
}

// One of our allocators with its pool set; committed unless told otherwise.
struct Pool {
    R_CVirtualMemAllocator *object;
    IMemAllocator *allocator = NULL;
    ALLOCATOR_PROPERTIES agreed = {};

    Pool(LONG count, LONG size, LONG alignment = 1, LONG prefix = 0, bool commit = true)
    {
        HRESULT result = S_OK;
        object = new R_CVirtualMemAllocator("test pool", NULL, &result);
        object->InnerQueryInterface(IID_IMemAllocator, (void **)&allocator);
        ALLOCATOR_PROPERTIES request = {count, size, alignment, prefix};
        EXPECT_EQ(allocator->SetProperties(&request, &agreed), S_OK);
        if (commit) {
            EXPECT_EQ(allocator->Commit(), S_OK);
        }
    }
    ~Pool()
    {
        allocator->Decommit();
        allocator->Release();
    }
    IMediaSample *Take()
    {
        IMediaSample *sample = NULL;
        EXPECT_EQ(allocator->GetBuffer(&sample, NULL, NULL, 0), S_OK);
        return sample;
    }
};

AM_SAMPLE2_PROPERTIES PropertiesOf(IMediaSample *sample)
{
    AM_SAMPLE2_PROPERTIES record = {};
    IMediaSample2 *two = NULL;
    sample->QueryInterface(IID_IMediaSample2, (void **)&two);
    two->GetProperties(sizeof(record), (BYTE *)&record);
    two->Release();
    return record;
}

// ---------------------------------------------------------------------------------------------------------------
// The media sample.

TEST_F(MediaSample, TimesFlagsAndLengthsFollowTheRules)
{
    Pool pool(1, 64);
    IMediaSample *sample = pool.Take();
    const struct {
        bool start, stop;
        HRESULT answer;
        REFERENCE_TIME stopRead;
    } times[] = {
        {true, true, S_OK, 70}, {true, false, VFW_S_NO_STOP_TIME, 51}, {false, true, VFW_E_SAMPLE_TIME_NOT_SET, 0}};
    for (const auto &row : times) {
        REFERENCE_TIME start = 50, stop = 70, readStart = 0, readStop = 0;
        sample->SetTime(&start, &stop);
        sample->SetTime(row.start ? &start : NULL, row.stop ? &stop : NULL);
        EXPECT_EQ(sample->GetTime(&readStart, &readStop), row.answer);
        if (SUCCEEDED(row.answer)) {
            EXPECT_EQ(readStart, 50);
            EXPECT_EQ(readStop, row.stopRead);
        }
    }
    // Random settings of the three boolean flags against a mask kept beside them.
    typedef HRESULT (STDMETHODCALLTYPE IMediaSample::*Setter)(BOOL);
    typedef HRESULT (STDMETHODCALLTYPE IMediaSample::*Query)();
    const struct {
        Setter set;
        Query is;
        DWORD bit;
    } flags[] = {{&IMediaSample::SetSyncPoint, &IMediaSample::IsSyncPoint, AM_SAMPLE_SPLICEPOINT},
                 {&IMediaSample::SetPreroll, &IMediaSample::IsPreroll, AM_SAMPLE_PREROLL},
                 {&IMediaSample::SetDiscontinuity, &IMediaSample::IsDiscontinuity, AM_SAMPLE_DATADISCONTINUITY}};
    std::mt19937 random(17);
    DWORD mask = 0;
    sample->SetTime(NULL, NULL);
    for (int step = 0; step < 60; step++) {
        const auto &flag = flags[random() % 3];
        const BOOL value = random() % 2;
        EXPECT_EQ((sample->*flag.set)(value), S_OK);
        mask = value ? (mask | flag.bit) : (mask & ~flag.bit);
        for (const auto &each : flags) {
            EXPECT_EQ((sample->*each.is)(), (mask & each.bit) ? S_OK : S_FALSE);
        }
        EXPECT_EQ(PropertiesOf(sample).dwSampleFlags, mask);
    }
    const struct {
        LONG length;
        HRESULT answer;
        LONG kept;
    } lengths[] = {{64, S_OK, 64}, {65, VFW_E_BUFFER_OVERFLOW, 64}, {0, S_OK, 0}, {-1, E_INVALIDARG, 0}};
    for (const auto &row : lengths) {
        EXPECT_EQ(sample->SetActualDataLength(row.length), row.answer) << row.length;
        EXPECT_EQ(sample->GetActualDataLength(), row.kept);
    }
    LONGLONG mediaStart = 9, mediaStop = 109, readStart = 0, readStop = 0;
    EXPECT_EQ(sample->GetMediaTime(&readStart, &readStop), VFW_E_MEDIA_TIME_NOT_SET);
    sample->SetMediaTime(&mediaStart, &mediaStop);
    EXPECT_EQ(sample->GetMediaTime(&readStart, &readStop), S_OK);
    EXPECT_EQ(readStop, 109);
    sample->Release();
}

TEST_F(MediaSample, MediaTypeIsCopiedAndDroppedOnTheWayHome)
{
    Pool pool(1, 16);
    IMediaSample *sample = pool.Take();
    AM_MEDIA_TYPE *read = NULL;
    EXPECT_EQ(sample->GetMediaType(&read), S_FALSE);
    R_CMediaTypeRecord type;
    type.SetMajorTypeId(MEDIATYPE_Audio);
    EXPECT_EQ(sample->SetMediaType(&type), S_OK);
    ASSERT_EQ(sample->GetMediaType(&read), S_OK);
    EXPECT_TRUE(IsEqualGUID(read->majortype, MEDIATYPE_Audio));
    EXPECT_NE(read, PropertiesOf(sample).pMediaType) << "a copy of its own for the caller";
    FreeMediaTypeRecord(read);
    sample->SetDiscontinuity(TRUE);
    sample->Release();
    sample = pool.Take();
    EXPECT_EQ(sample->GetMediaType(&read), S_FALSE);
    EXPECT_EQ(PropertiesOf(sample).dwSampleFlags, 0u);
    sample->Release();
}

TEST_F(MediaSample, PropertiesAreCutToTheSizeAsked)
{
    Pool pool(1, 32);
    IMediaSample *sample = pool.Take();
    LONGLONG start = 3, stop = 4;
    sample->SetMediaTime(&start, &stop); // its own flag never shows in the properties
    sample->SetTime(&start, &stop);
    IMediaSample2 *two = NULL;
    sample->QueryInterface(IID_IMediaSample2, (void **)&two);
    const AM_SAMPLE2_PROPERTIES whole = PropertiesOf(sample);
    EXPECT_EQ(whole.dwSampleFlags, (DWORD)(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID));
    for (DWORD size = 0; size <= 56; size++) {
        BYTE out[64];
        memset(out, 0xCD, sizeof(out));
        ASSERT_EQ(two->GetProperties(size, out), S_OK);
        const DWORD copied = size == 0 ? 0 : std::min<DWORD>(size, 48);
        AM_SAMPLE2_PROPERTIES expected = whole;
        expected.cbData = copied;
        EXPECT_EQ(memcmp(out, &expected, copied), 0) << size;
        EXPECT_EQ(std::count(out + copied, out + 64, 0xCD), 64 - (int)copied) << size;
    }
    two->Release();
    sample->Release();
}

// A valid record applied with every size from 4 to 48: each field changes exactly when the size covers it.
TEST_F(MediaSample, SetPropertiesAppliesWhatTheRecordCovers)
{
    Pool pool(1, 32);
    R_CMediaTypeRecord type;
    type.SetMajorTypeId(MEDIATYPE_Stream);
    for (DWORD size = 4; size <= 48; size++) {
        IMediaSample *sample = pool.Take();
        REFERENCE_TIME start = 1, stop = 2;
        sample->SetTime(&start, &stop);
        sample->SetActualDataLength(32);
        AM_SAMPLE2_PROPERTIES before = PropertiesOf(sample), record = before;
        record.cbData = 48;
        record.dwTypeSpecificFlags = 7;
        record.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_TYPECHANGED;
        record.lActual = 5;
        record.tStart = 100;
        record.tStop = 200;
        record.dwStreamId = 3;
        record.pMediaType = &type;
        IMediaSample2 *two = NULL;
        sample->QueryInterface(IID_IMediaSample2, (void **)&two);
        ASSERT_EQ(two->SetProperties(size, (const BYTE *)&record), S_OK) << size;
        const AM_SAMPLE2_PROPERTIES after = PropertiesOf(sample);
        const DWORD flags = size >= 40 ? record.dwSampleFlags : record.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED;
        EXPECT_EQ(after.dwTypeSpecificFlags, size >= 8 ? 7u : 0u) << size;
        EXPECT_EQ(after.dwSampleFlags, size >= 12 ? flags : before.dwSampleFlags) << size;
        EXPECT_EQ(after.lActual, size >= 16 ? 5 : 32) << size;
        EXPECT_EQ(after.tStart, size >= 24 ? 100 : 1) << size;
        EXPECT_EQ(after.tStop, size >= 32 ? 200 : 2) << size;
        EXPECT_EQ(after.dwStreamId, size >= 36 ? 3u : 0u) << size;
        EXPECT_EQ(after.pMediaType != NULL, size >= 40) << size;
        two->Release();
        sample->Release();
    }
}

TEST_F(MediaSample, SetPropertiesRefusesBadRecordsAndChangesNothing)
{
    Pool pool(1, 32);
    IMediaSample *sample = pool.Take();
    IMediaSample2 *two = NULL;
    sample->QueryInterface(IID_IMediaSample2, (void **)&two);
    BYTE *buffer = NULL;
    sample->GetPointer(&buffer);
    const AM_SAMPLE2_PROPERTIES base = PropertiesOf(sample);
    const struct {
        DWORD size, cbData, flags;
        LONG actual, bufferSize;
        int bufferShift;
        bool type;
        HRESULT answer;
    } rows[] = {
        {52, 52, 0, 8, 32, 0, false, E_INVALIDARG},
        {48, 49, 0, 8, 32, 0, false, E_INVALIDARG},
        {48, 48, 0x20, 8, 32, 0, false, E_INVALIDARG},
        {48, 48, 0x200, 8, 32, 0, false, E_INVALIDARG},
        {24, 24, AM_SAMPLE_TIMEVALID, 8, 32, 0, false, E_INVALIDARG}, // a start time with no stop time covered
        {48, 48, 0, 8, 32, 1, false, E_INVALIDARG},
        {48, 48, 0, 8, 33, 0, false, E_INVALIDARG},
        {48, 48, 0, 33, 0, 0, false, E_INVALIDARG},
        {16, 16, 0, 33, 0, 0, false, E_INVALIDARG}, // an actual length past the buffer, whatever is covered
        {16, 16, 0, -1, 0, 0, false, E_INVALIDARG},
        {40, 40, AM_SAMPLE_TYPECHANGED, 8, 0, 0, false, E_POINTER},
        {3, 48, 0x200, 8, 32, 0, false, S_OK},
    };
    for (const auto &row : rows) {
        AM_SAMPLE2_PROPERTIES record = base;
        record.cbData = row.cbData;
        record.dwSampleFlags = row.flags;
        record.lActual = row.actual;
        record.cbBuffer = row.bufferSize;
        record.pbBuffer = buffer + row.bufferShift;
        BYTE bytes[64] = {};
        memcpy(bytes, &record, sizeof(record));
        EXPECT_EQ(two->SetProperties(row.size, bytes), row.answer) << row.size << " " << row.flags;
        const AM_SAMPLE2_PROPERTIES after = PropertiesOf(sample);
        EXPECT_EQ(memcmp(&after, &base, sizeof(base)), 0) << row.size << " " << row.flags;
    }
    EXPECT_EQ(two->SetProperties(4, NULL), E_POINTER);
    two->Release();
    sample->Release();
}

// ---------------------------------------------------------------------------------------------------------------
// The pool.

// The pool's sizes straight from the rule: any negative value is refused, the slice is size + prefix rounded up to
// the alignment, and a pool of more than 2^31 bytes is refused.
HRESULT ExpectedSizes(const ALLOCATOR_PROPERTIES &request, LONG *size, LONGLONG *slice)
{
    if (request.cBuffers < 0 || request.cbBuffer < 0 || request.cbPrefix < 0) {
        return E_INVALIDARG;
    }
    const LONGLONG bytes = (LONGLONG)request.cbBuffer + request.cbPrefix;
    const LONGLONG slices = bytes / request.cbAlign + (bytes % request.cbAlign != 0);
    *slice = slices * request.cbAlign;
    if (*slice > 0x80000000LL || (LONGLONG)request.cBuffers * *slice > 0x80000000LL) {
        return E_OUTOFMEMORY;
    }
    *size = (LONG)(*slice - request.cbPrefix);
    return S_OK;
}

TEST_F(Allocator, PoolSizesFollowTheRuleOverRandomRequests)
{
    const LONG alignments[] = {1, 2, 3, 4, 16, 512, 4096, 65536};
    std::mt19937 random(1117);
    for (int round = 0; round < 3000; round++) {
        const bool small = round % 2 == 0;
        ALLOCATOR_PROPERTIES request;
        request.cBuffers = small ? (LONG)(random() % 6) : (LONG)(random() % 70000) - 2;
        request.cbBuffer = small ? (LONG)(random() % 3000) : (LONG)(random() >> (random() % 31)) - 2;
        request.cbAlign = alignments[random() % 8];
        request.cbPrefix = small ? (LONG)(random() % 40) : (LONG)(random() % 70000) - 1;
        Pool pool(0, 0, 1, 0, false);
        ALLOCATOR_PROPERTIES agreed;
        LONG size = 0;
        LONGLONG slice = 0;
        const HRESULT expected = ExpectedSizes(request, &size, &slice);
        ASSERT_EQ(pool.allocator->SetProperties(&request, &agreed), expected)
            << request.cBuffers << " " << request.cbBuffer << " " << request.cbAlign << " " << request.cbPrefix;
        if (expected != S_OK) {
            continue;
        }
        EXPECT_EQ(agreed.cbBuffer, size);
        if (!small || request.cBuffers < 1 || size < 1) {
            continue;
        }
        // Every buffer its own slice of the block, each fully writable without touching another.
        ASSERT_EQ(pool.allocator->Commit(), S_OK);
        std::vector<IMediaSample *> samples;
        std::vector<BYTE *> starts;
        for (LONG i = 0; i < request.cBuffers; i++) {
            samples.push_back(pool.Take());
            BYTE *buffer = NULL;
            samples.back()->GetPointer(&buffer);
            EXPECT_EQ(samples.back()->GetSize(), size);
            memset(buffer, i + 1, size);
            starts.push_back(buffer);
        }
        std::sort(starts.begin(), starts.end());
        for (size_t i = 1; i < starts.size(); i++) {
            EXPECT_EQ(starts[i] - starts[i - 1], slice);
        }
        for (IMediaSample *sample : samples) {
            BYTE *buffer = NULL;
            sample->GetPointer(&buffer);
            EXPECT_EQ(std::count(buffer, buffer + size, buffer[0]), size);
            sample->Release();
        }
    }
}

TEST_F(Allocator, AlignmentAndStateRules)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ASSERT_EQ(system.dwAllocationGranularity, 65536u);
    const struct {
        LONG alignment;
        HRESULT answer;
    } alignments[] = {{0, VFW_E_BADALIGN}, {1, S_OK}, {3, S_OK}, {65536, S_OK}, {65537, VFW_E_BADALIGN}};
    for (const auto &row : alignments) {
        Pool pool(0, 0, 1, 0, false);
        ALLOCATOR_PROPERTIES request = {2, 10, row.alignment, 0}, agreed = {9, 9, 9, 9};
        EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), row.answer) << row.alignment;
        EXPECT_EQ(agreed.cBuffers, row.answer == S_OK ? 2 : 0);
    }
    Pool unset(0, 0, 1, 0, false);
    EXPECT_EQ(unset.allocator->Commit(), VFW_E_SIZENOTSET);
    IMediaSample *sample = NULL;
    EXPECT_EQ(unset.allocator->GetBuffer(&sample, NULL, NULL, 0), VFW_E_NOT_COMMITTED);
    Pool pool(2, 100, 16, 8);
    EXPECT_EQ(pool.agreed.cbBuffer, 104);
    ALLOCATOR_PROPERTIES request = {1, 10, 1, 0}, agreed;
    EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), VFW_E_ALREADY_COMMITTED);
    IMediaSample *first = pool.Take(), *second = pool.Take();
    BYTE *a = NULL, *b = NULL;
    first->GetPointer(&a);
    second->GetPointer(&b);
    EXPECT_EQ(std::max(a, b) - std::min(a, b), 112);
    EXPECT_EQ(pool.allocator->GetBuffer(&sample, NULL, NULL, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    pool.allocator->Decommit();
    EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), VFW_E_BUFFERS_OUTSTANDING);
    first->Release();
    second->Release();
}

struct Waiter {
    IMemAllocator *allocator;
    IMediaSample *sample;
    HRESULT answer;
    HANDLE thread;

    static DWORD WINAPI Run(void *self)
    {
        Waiter *waiter = static_cast<Waiter *>(self);
        waiter->answer = waiter->allocator->GetBuffer(&waiter->sample, NULL, NULL, 0);
        return 0;
    }
    explicit Waiter(IMemAllocator *allocator) : allocator(allocator), sample(NULL), answer(E_FAIL)
    {
        thread = CreateThread(NULL, 0, Run, this, 0, NULL);
    }
    // Still blocked after a while, then done soon after the wake-up (generous limits, no upper bound on speed).
    DWORD Wait(DWORD milliseconds)
    {
        return WaitForSingleObject(thread, milliseconds);
    }
    ~Waiter()
    {
        CloseHandle(thread);
    }
};

class CountingNotify : public IMemAllocatorNotifyCallbackTemp
{
  public:
    LONG released = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        return *out = NULL, E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }
    HRESULT STDMETHODCALLTYPE NotifyRelease() override
    {
        return ++released, S_OK;
    }
};

TEST_F(Allocator, BlockedGetBufferWakesOnReleaseAndOnDecommit)
{
    Pool pool(1, 16);
    CountingNotify notify;
    IMemAllocatorCallbackTemp *callback = NULL;
    ASSERT_EQ(pool.allocator->QueryInterface(IID_IMemAllocatorCallbackTemp, (void **)&callback), S_OK);
    callback->SetNotify(&notify);
    IMediaSample *held = pool.Take();
    LONG free = -1;
    callback->GetFreeCount(&free);
    EXPECT_EQ(free, 0);
    {
        Waiter waiter(pool.allocator);
        EXPECT_EQ(waiter.Wait(200), (DWORD)WAIT_TIMEOUT) << "GetBuffer returned on an empty pool";
        held->Release();
        ASSERT_EQ(waiter.Wait(20000), (DWORD)WAIT_OBJECT_0);
        EXPECT_EQ(waiter.answer, S_OK);
        EXPECT_EQ(waiter.sample, held);
        EXPECT_EQ(notify.released, 1);
    }
    {
        Waiter waiter(pool.allocator);
        EXPECT_EQ(waiter.Wait(200), (DWORD)WAIT_TIMEOUT);
        const ULONG committed = References(pool.allocator);
        pool.allocator->Decommit();
        ASSERT_EQ(waiter.Wait(20000), (DWORD)WAIT_OBJECT_0);
        EXPECT_EQ(waiter.answer, VFW_E_NOT_COMMITTED);
        // The decommit waits for the sample still out: the commit reference goes with it, not before.
        EXPECT_EQ(References(pool.allocator), committed);
        pool.allocator->Commit(); // cancels the pending decommit
        pool.allocator->Decommit();
        EXPECT_EQ(References(pool.allocator), committed);
        held->Release();
        EXPECT_EQ(References(pool.allocator), committed - 1);
    }
    callback->SetNotify(NULL);
    callback->Release();
}

// ---------------------------------------------------------------------------------------------------------------
// The memory stream.

std::vector<BYTE> RandomBytes(size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<BYTE> bytes(count);
    for (BYTE &byte : bytes) {
        byte = (BYTE)random();
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------------------------------
// The I/O queue.

// A source over bytes in memory with a chosen alignment, reads that may come back short, and a gate that holds a
// read until the test opens it.
class FakeSource : public R_CAsyncSourceStream
{
  public:
    std::vector<BYTE> data = RandomBytes(1000, 7);
    LONG alignment = 1;
    LONG shortBy = 0;
    HANDLE gate = NULL, entered = CreateEventA(NULL, FALSE, FALSE, NULL);
    LONGLONG position = 0;
    R_CMediaLock lock;

    ~FakeSource() override
    {
        CloseHandle(entered);
        if (gate != NULL) {
            CloseHandle(gate);
        }
    }
    HRESULT SeekTo(LONGLONG at) override
    {
        if (at < 0 || at > (LONGLONG)data.size()) {
            return S_FALSE;
        }
        position = at;
        return S_OK;
    }
    HRESULT ReadAt(BYTE *buffer, LONG length, BOOL, LONG *read) override
    {
        SetEvent(entered);
        if (gate != NULL) {
            WaitForSingleObject(gate, INFINITE);
        }
        *read = std::max<LONG>(0, std::min<LONG>(length - shortBy, (LONG)(data.size() - position)));
        memcpy(buffer, data.data() + position, *read);
        return S_OK;
    }
    LONGLONG TotalSize(LONGLONG *available) override
    {
        if (available != NULL) {
            *available = data.size();
        }
        return data.size();
    }
    LONG SourceAlignment() override
    {
        return alignment;
    }
    void LockSource() override
    {
        lock.Lock();
    }
    void UnlockSource() override
    {
        lock.Unlock();
    }
};

// Worker threads made through the seam: counted, each kept by a handle of the test's own to see it end.
LONG s_WorkersMade = 0;
HANDLE s_LastWorker = NULL;
DWORD s_RefusalCode = 0;

HANDLE WINAPI CountingCreator(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE entry,
                              LPVOID argument, DWORD flags, LPDWORD id)
{
    HANDLE thread = CreateThread(security, stack, entry, argument, flags, id);
    s_WorkersMade += 1;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &s_LastWorker, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return thread;
}

HANDLE WINAPI RefusingCreator(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(s_RefusalCode);
    return NULL;
}

struct CreatorScope {
    explicit CreatorScope(AsyncWorkerCreator creator)
    {
        s_WorkersMade = 0;
        SetAsyncWorkerCreatorForTest(creator);
    }
    ~CreatorScope()
    {
        SetAsyncWorkerCreatorForTest(NULL);
        if (s_LastWorker != NULL) {
            CloseHandle(s_LastWorker);
            s_LastWorker = NULL;
        }
    }
};

TEST_F(AsyncIoQueue, ReadsCompleteByTheirEndsAndAlignment)
{
    const struct {
        LONG alignment, shortBy;
        LONGLONG position;
        LONG length;
        HRESULT queued, answer;
        LONG bytes;
    } rows[] = {
        {1, 0, 0, 10, S_OK, S_OK, 10},  {1, 0, 995, 10, S_OK, S_OK, 5},        {1, 0, 1001, 10, S_OK, E_FAIL, 10},
        {1, 1, 0, 10, S_OK, E_FAIL, 9}, {2, 0, 0, 3, VFW_E_BADALIGN, S_OK, 0}, {2, 0, 1, 2, VFW_E_BADALIGN, S_OK, 0},
        {2, 0, 996, 4, S_OK, S_OK, 4},  {1, 0, 1000, 0, S_OK, S_OK, 0},
    };
    for (const auto &row : rows) {
        FakeSource source;
        source.alignment = row.alignment;
        source.shortBy = row.shortBy;
        R_CAsyncIoQueue queue(&source);
        alignas(16) BYTE buffer[16];
        EXPECT_EQ(queue.Request(row.position, row.length, TRUE, buffer, buffer, 42), row.queued) << row.position;
        void *context = NULL;
        DWORD_PTR user = 0;
        LONG bytes = -1;
        if (row.queued != S_OK) {
            EXPECT_EQ(queue.WaitForNext(0, &context, &user, &bytes), VFW_E_TIMEOUT) << "nothing was queued";
            continue;
        }
        EXPECT_EQ(queue.WaitForNext(20000, &context, &user, &bytes), row.answer) << row.position;
        EXPECT_EQ(bytes, row.bytes);
        EXPECT_EQ(context, buffer);
        EXPECT_EQ(user, 42u);
        EXPECT_EQ(queue.WaitForNext(0, &context, &user, &bytes), VFW_E_TIMEOUT);
        EXPECT_EQ(queue.WaitForNext(0, NULL, &user, &bytes), E_POINTER);
    }
}

TEST_F(AsyncIoQueue, WorkerStartsWithTheFirstRequestAndEndsWithTheQueue)
{
    CreatorScope scope(CountingCreator);
    FakeSource source;
    R_CAsyncIoQueue *queue = new R_CAsyncIoQueue(&source);
    BYTE buffer[8];
    EXPECT_EQ(queue->SyncRead(0, 8, buffer), S_OK);
    EXPECT_EQ(s_WorkersMade, 0) << "synchronous reads need no worker";
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(queue->Request(i, 1, FALSE, buffer + i, NULL, i), S_OK);
    }
    EXPECT_EQ(s_WorkersMade, 1);
    delete queue;
    EXPECT_EQ(WaitForSingleObject(s_LastWorker, 0), (DWORD)WAIT_OBJECT_0) << "the worker outlived its queue";
}

TEST_F(AsyncIoQueue, RefusedWorkerFailsTheRequestAndQueuesNothing)
{
    FakeSource source;
    R_CAsyncIoQueue queue(&source);
    BYTE buffer[8];
    for (DWORD code : {0ul, 8ul}) {
        CreatorScope scope(RefusingCreator);
        s_RefusalCode = code;
        EXPECT_EQ(queue.Request(0, 4, FALSE, buffer, NULL, 1), code == 0 ? E_FAIL : (HRESULT)0x80070008);
    }
    EXPECT_EQ(queue.Request(4, 4, FALSE, buffer, NULL, 2), S_OK);
    void *context = NULL;
    DWORD_PTR user = 0;
    LONG bytes = 0;
    EXPECT_EQ(queue.WaitForNext(20000, &context, &user, &bytes), S_OK);
    EXPECT_EQ(user, 2u) << "a refused request stayed queued";
    EXPECT_EQ(queue.WaitForNext(0, &context, &user, &bytes), VFW_E_TIMEOUT);
}

// One read held in the source while three more wait: the flush waits for the one, hands the three back unperformed,
// then refuses until it ends.
TEST_F(AsyncIoQueue, FlushHandsQueuedReadsBackUnperformed)
{
    FakeSource source;
    source.gate = CreateEventA(NULL, TRUE, FALSE, NULL);
    R_CAsyncIoQueue queue(&source);
    BYTE buffer[4][8];
    memset(buffer, 0xEE, sizeof(buffer));
    ASSERT_EQ(queue.Request(0, 8, FALSE, buffer[0], NULL, 0), S_OK);
    ASSERT_EQ(WaitForSingleObject(source.entered, 20000), (DWORD)WAIT_OBJECT_0);
    for (int i = 1; i < 4; i++) {
        ASSERT_EQ(queue.Request(8 * i, 8, FALSE, buffer[i], NULL, i), S_OK);
    }
    struct Flusher {
        static DWORD WINAPI Run(void *queue)
        {
            return static_cast<R_CAsyncIoQueue *>(queue)->BeginFlush();
        }
    };
    HANDLE flusher = CreateThread(NULL, 0, Flusher::Run, &queue, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(flusher, 200), (DWORD)WAIT_TIMEOUT) << "the flush did not wait for the read";
    SetEvent(source.gate);
    ASSERT_EQ(WaitForSingleObject(flusher, 20000), (DWORD)WAIT_OBJECT_0);
    CloseHandle(flusher);
    HRESULT answers[4] = {};
    for (int i = 0; i < 4; i++) {
        void *context = NULL;
        DWORD_PTR user = 0;
        LONG bytes = 0;
        HRESULT answer = queue.WaitForNext(20000, &context, &user, &bytes);
        ASSERT_LT(user, 4u);
        answers[user] = answer;
    }
    EXPECT_EQ(answers[0], S_OK);
    for (int i = 1; i < 4; i++) {
        EXPECT_EQ(answers[i], VFW_E_TIMEOUT);
        EXPECT_EQ(buffer[i][0], 0xEE) << "a flushed read was performed";
    }
    void *context = NULL;
    DWORD_PTR user = 0;
    LONG bytes = 0;
    EXPECT_EQ(queue.WaitForNext(20000, &context, &user, &bytes), VFW_E_WRONG_STATE);
    EXPECT_EQ(queue.Request(0, 8, FALSE, buffer[0], NULL, 9), VFW_E_WRONG_STATE);
    queue.EndFlush();
    EXPECT_EQ(queue.WaitForNext(0, &context, &user, &bytes), VFW_E_TIMEOUT);
    EXPECT_EQ(queue.Request(0, 8, FALSE, buffer[0], NULL, 9), S_OK);
    EXPECT_EQ(queue.WaitForNext(20000, &context, &user, &bytes), S_OK);
}

} // namespace
