// The asynchronous reader's parts on the platform's COM, without the engine: the media sample's API, the pool's
// size rules against the rule itself over random requests, a GetBuffer blocked on an empty pool, the memory
// stream's bounds and throttle, the I/O queue's worker, flush and refusals, and "Mem Reader" pulled by a parser's
// test filter the way a parser pulls.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "graph_test_support.h"
#include "media/media_async.h"
#include "media/media_test_hooks.h"

namespace
{

// COM, task memory (counted) and the clock bound for each test as engine start-up would bind them.
class Async : public testing::Test
{
  protected:
    graph_test::PlatformEntries platform;
};

ULONG References(IUnknown *object)
{
    object->AddRef();
    return object->Release();
}

std::vector<BYTE> RandomBytes(size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<BYTE> bytes(count);
    std::generate(bytes.begin(), bytes.end(), [&] { return (BYTE)random(); });
    return bytes;
}

const std::vector<BYTE> s_SourceBytes = RandomBytes(1000, 7);

// One of our allocators with its pool set; committed unless told otherwise.
struct Pool {
    IMemAllocator *allocator = NULL;

    Pool(LONG count, LONG size, bool commit = true)
    {
        HRESULT result = S_OK;
        R_CVirtualMemAllocator *object = new R_CVirtualMemAllocator("test pool", NULL, &result);
        object->InnerQueryInterface(IID_IMemAllocator, (void **)&allocator);
        ALLOCATOR_PROPERTIES request = {count, size, 1, 0}, agreed;
        EXPECT_EQ(allocator->SetProperties(&request, &agreed), S_OK);
        EXPECT_EQ(commit ? allocator->Commit() : S_OK, S_OK);
    }
    ~Pool()
    {
        allocator->Decommit();
        allocator->Release();
    }
    R_CAllocatedSample *Take()
    {
        IMediaSample *sample = NULL;
        EXPECT_EQ(allocator->GetBuffer(&sample, NULL, NULL, 0), S_OK);
        return static_cast<R_CAllocatedSample *>(sample);
    }
};

AM_SAMPLE2_PROPERTIES PropertiesOf(IMediaSample2 *sample)
{
    AM_SAMPLE2_PROPERTIES record = {};
    sample->GetProperties(sizeof(record), (BYTE *)&record);
    return record;
}

// ---------------------------------------------------------------------------------------------------------------
// The media sample.

TEST_F(Async, SampleTimesLengthsAndType)
{
    Pool pool(1, 64);
    R_CAllocatedSample *sample = pool.Take();
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
        EXPECT_EQ(readStop, row.stopRead);
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
    // A media type: a copy of its own for the caller, dropped with the flags when the sample goes home.
    sample->SetSyncPoint(TRUE);
    R_CMediaTypeRecord type;
    type.SetMajorTypeId(MEDIATYPE_Audio);
    AM_MEDIA_TYPE *read = NULL;
    EXPECT_EQ(sample->SetMediaType(&type), S_OK);
    ASSERT_EQ(sample->GetMediaType(&read), S_OK);
    EXPECT_TRUE(IsEqualGUID(read->majortype, MEDIATYPE_Audio));
    EXPECT_NE(read, PropertiesOf(sample).pMediaType);
    FreeMediaTypeRecord(read);
    sample->Release();
    sample = pool.Take();
    EXPECT_EQ(sample->GetMediaType(&read), S_FALSE);
    EXPECT_EQ(PropertiesOf(sample).dwSampleFlags, 0u);
    sample->Release();
    EXPECT_EQ(platform.TaskBlocksOut(), 0);
}

// A valid record applied with every size from 4 to 48: each field changes exactly when the size covers it; read
// back with the same size, exactly that many bytes are written. Bad records are refused and change nothing.
TEST_F(Async, SamplePropertiesApplyAsFarAsTheSizeCoversAndBadOnesChangeNothing)
{
    Pool pool(1, 32);
    R_CMediaTypeRecord type;
    type.SetMajorTypeId(MEDIATYPE_Stream);
    for (DWORD size = 4; size <= 48; size++) {
        R_CAllocatedSample *sample = pool.Take();
        REFERENCE_TIME start = 1, stop = 2;
        sample->SetTime(&start, &stop);
        sample->SetActualDataLength(32);
        const AM_SAMPLE2_PROPERTIES before = PropertiesOf(sample);
        const DWORD flags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_TYPECHANGED;
        AM_SAMPLE2_PROPERTIES record = {48, 7, flags, 5, 100, 200, 3, &type, before.pbBuffer, before.cbBuffer};
        ASSERT_EQ(sample->SetProperties(size, (const BYTE *)&record), S_OK) << size;
        const AM_SAMPLE2_PROPERTIES after = PropertiesOf(sample);
        EXPECT_EQ(after.dwTypeSpecificFlags, size >= 8 ? 7u : 0u) << size;
        EXPECT_EQ(after.dwSampleFlags,
                  size >= 12 ? flags & ~(size < 40 ? AM_SAMPLE_TYPECHANGED : 0) : before.dwSampleFlags)
            << size;
        EXPECT_EQ(after.lActual, size >= 16 ? 5 : 32) << size;
        EXPECT_EQ(after.tStart, size >= 24 ? 100 : 1) << size;
        EXPECT_EQ(after.tStop, size >= 32 ? 200 : 2) << size;
        EXPECT_EQ(after.dwStreamId, size >= 36 ? 3u : 0u) << size;
        EXPECT_EQ(after.pMediaType != NULL, size >= 40) << size;
        BYTE out[52];
        memset(out, 0xCD, sizeof(out));
        sample->GetProperties(size, out);
        EXPECT_EQ(*(DWORD *)out, size);
        EXPECT_EQ(memcmp(out + 4, (BYTE *)&after + 4, size - 4), 0) << size;
        EXPECT_EQ(std::count(out + size, out + 52, 0xCD), 52 - (int)size) << size;
        sample->Release();
    }
    R_CAllocatedSample *sample = pool.Take();
    const AM_SAMPLE2_PROPERTIES base = PropertiesOf(sample);
    const struct {
        DWORD size, cbData, flags;
        LONG actual, bufferSize, bufferShift;
        HRESULT answer;
    } rows[] = {
        {52, 52, 0, 8, 32, 0, E_INVALIDARG},
        {48, 48, 0x20, 8, 32, 0, E_INVALIDARG},
        {48, 48, 0, 8, 32, 1, E_INVALIDARG},
        {48, 48, 0, 8, 33, 0, E_INVALIDARG},
        {48, 48, 0, 33, 0, 0, E_INVALIDARG},
        {16, 16, 0, 33, 0, 0, E_INVALIDARG},
        {16, 16, 0, -1, 0, 0, E_INVALIDARG},
        {40, 40, AM_SAMPLE_TYPECHANGED, 8, 0, 0, E_POINTER},
        {24, 24, AM_SAMPLE_TIMEVALID, 8, 32, 0, E_INVALIDARG}, // a start time whose stop time is not covered
        {3, 48, 0x200, 8, 32, 0, S_OK},
    };
    for (const auto &row : rows) {
        AM_SAMPLE2_PROPERTIES record = base;
        record.cbData = row.cbData;
        record.dwSampleFlags = row.flags;
        record.lActual = row.actual;
        record.cbBuffer = row.bufferSize;
        record.pbBuffer = base.pbBuffer + row.bufferShift;
        BYTE bytes[64] = {};
        memcpy(bytes, &record, sizeof(record));
        EXPECT_EQ(sample->SetProperties(row.size, bytes), row.answer) << row.size << " " << row.flags;
        const AM_SAMPLE2_PROPERTIES after = PropertiesOf(sample);
        EXPECT_EQ(memcmp(&after, &base, sizeof(base)), 0) << row.size << " " << row.flags;
    }
    EXPECT_EQ(sample->SetProperties(4, NULL), E_POINTER);
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
    *slice = (bytes + request.cbAlign - 1) / request.cbAlign * request.cbAlign;
    if (*slice > 0x80000000LL || (LONGLONG)request.cBuffers * *slice > 0x80000000LL) {
        return E_OUTOFMEMORY;
    }
    *size = (LONG)(*slice - request.cbPrefix);
    return S_OK;
}

// 64-bit pool sizes: large random requests reach the overflow guards, small ones are committed and every buffer
// checked to be its own slice of the block, one slice apart.
TEST_F(Async, PoolSizesFollowTheRuleOverRandomRequests)
{
    const LONG alignments[] = {1, 2, 3, 4, 16, 512, 4096, 65536};
    std::mt19937 random(1117);
    for (int round = 0; round < 3000; round++) {
        const bool small = round % 2 == 0;
        ALLOCATOR_PROPERTIES request, agreed;
        request.cBuffers = small ? (LONG)(random() % 6) : (LONG)(random() % 70000) - 2;
        request.cbBuffer = small ? (LONG)(random() % 3000) : (LONG)(random() >> (random() % 31)) - 2;
        request.cbAlign = alignments[random() % 8];
        request.cbPrefix = small ? (LONG)(random() % 40) : (LONG)(random() % 70000) - 1;
        Pool pool(0, 0, false);
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
        ASSERT_EQ(pool.allocator->Commit(), S_OK);
        std::vector<R_CAllocatedSample *> samples;
        std::vector<BYTE *> starts(request.cBuffers);
        for (LONG i = 0; i < request.cBuffers; i++) {
            samples.push_back(pool.Take());
            samples.back()->GetPointer(&starts[i]);
            EXPECT_EQ(samples.back()->GetSize(), size);
        }
        std::sort(starts.begin(), starts.end());
        for (size_t i = 1; i < starts.size(); i++) {
            EXPECT_EQ(starts[i] - starts[i - 1], slice);
        }
        for (R_CAllocatedSample *sample : samples) {
            sample->Release();
        }
    }
}

TEST_F(Async, PoolAlignmentAndStateRules)
{
    const struct {
        LONG alignment;
        HRESULT answer;
    } alignments[] = {{0, VFW_E_BADALIGN}, {1, S_OK}, {3, S_OK}, {65536, S_OK}, {65537, VFW_E_BADALIGN}};
    for (const auto &row : alignments) {
        Pool pool(0, 0, false);
        ALLOCATOR_PROPERTIES request = {2, 10, row.alignment, 0}, agreed = {9, 9, 9, 9};
        EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), row.answer) << row.alignment;
        EXPECT_EQ(agreed.cBuffers, row.answer == S_OK ? 2 : 0);
    }
    Pool unset(0, 0, false);
    IMediaSample *sample = NULL;
    EXPECT_EQ(unset.allocator->GetBuffer(&sample, NULL, NULL, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(unset.allocator->Commit(), VFW_E_SIZENOTSET);
    Pool pool(1, 100);
    ALLOCATOR_PROPERTIES request = {1, 10, 1, 0}, agreed;
    EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), VFW_E_ALREADY_COMMITTED);
    R_CAllocatedSample *held = pool.Take();
    EXPECT_EQ(pool.allocator->GetBuffer(&sample, NULL, NULL, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    pool.allocator->Decommit();
    EXPECT_EQ(pool.allocator->SetProperties(&request, &agreed), VFW_E_BUFFERS_OUTSTANDING);
    held->Release();
}

// Runs `work` on a thread of its own, which the test watches through `thread` (generous limits, no bound on speed);
// gone only when the work is done.
struct Background {
    std::function<void()> work;
    HANDLE thread = CreateThread(NULL, 0, Run, this, 0, NULL);

    static DWORD WINAPI Run(void *self)
    {
        static_cast<Background *>(self)->work();
        return 0;
    }
    ~Background()
    {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

TEST_F(Async, BlockedGetBufferWakesOnReleaseAndOnDecommit)
{
    Pool pool(1, 16);
    R_CAllocatedSample *held = pool.Take();
    const ULONG committed = References(pool.allocator);
    for (bool decommit : {false, true}) {
        IMediaSample *sample = NULL;
        HRESULT answer = E_FAIL;
        Background waiter{[&] { answer = pool.allocator->GetBuffer(&sample, NULL, NULL, 0); }};
        EXPECT_EQ(WaitForSingleObject(waiter.thread, 200), (DWORD)WAIT_TIMEOUT) << "GetBuffer returned on empty";
        decommit ? pool.allocator->Decommit() : held->Release();
        ASSERT_EQ(WaitForSingleObject(waiter.thread, 20000), (DWORD)WAIT_OBJECT_0);
        EXPECT_EQ(answer, decommit ? VFW_E_NOT_COMMITTED : S_OK);
        EXPECT_EQ(sample, decommit ? NULL : held);
    }
    // The decommit waits for the sample still out: the commit reference goes with it, not before.
    EXPECT_EQ(References(pool.allocator), committed);
    pool.allocator->Commit(); // cancels the pending decommit
    pool.allocator->Decommit();
    EXPECT_EQ(References(pool.allocator), committed);
    held->Release();
    EXPECT_EQ(References(pool.allocator), committed - 1);
}

// ---------------------------------------------------------------------------------------------------------------
// The memory stream.

// Seeks and reads stay inside the first 100 bytes (a length of 0 or below reads nothing); then 1000 bytes at 10
// bytes a millisecond: the first read of all of them is not answered before 100 ms.
TEST_F(Async, MemStreamReadsStayInsideTheDataAndWaitForTheirBytes)
{
    R_CMemStream *stream = CreateMemStream(s_SourceBytes.data(), 100, 0, 0xFFFFFFFF);
    const struct {
        LONGLONG seek;
        HRESULT answer;
        LONG asked, read;
        LONGLONG from; // where the bytes read come from
    } rows[] = {
        {0, S_OK, 10, 10, 0},     {95, S_OK, 10, 5, 95}, {100, S_OK, 10, 0, 100}, {101, S_FALSE, 10, 0, 100},
        {-1, S_FALSE, 4, 0, 100}, {50, S_OK, 0, 0, 50},  {50, S_OK, -5, 0, 50},   {50, S_OK, (LONG)0x80000000, 0, 50},
        {20, S_OK, 4, 4, 20}};
    for (const auto &row : rows) {
        BYTE buffer[16];
        memset(buffer, 0xEE, sizeof(buffer));
        EXPECT_EQ(stream->SeekTo(row.seek), row.answer) << row.seek;
        LONG read = -1;
        EXPECT_EQ(stream->ReadAt(buffer, row.asked, FALSE, &read), S_OK);
        EXPECT_EQ(read, row.read) << row.seek << " " << row.asked;
        EXPECT_EQ(memcmp(buffer, s_SourceBytes.data() + row.from, read), 0);
        EXPECT_EQ(std::count(buffer + read, buffer + 16, 0xEE), 16 - read);
    }
    LONGLONG available = 0;
    EXPECT_EQ(stream->TotalSize(&available), 100);
    EXPECT_EQ(available, 100) << "a stream that never throttles has every byte from its first millisecond on";
    DeleteMemStream(stream);
    EXPECT_EQ(CreateMemStream(s_SourceBytes.data(), 100, 0, 0), (R_CMemStream *)NULL) << "a rate of 0";
    const DWORD before = timeGetTime();
    stream = CreateMemStream(s_SourceBytes.data(), 1000, 0, 10);
    std::vector<BYTE> buffer(1000);
    LONG read = 0;
    EXPECT_EQ(stream->ReadAt(buffer.data(), 1000, FALSE, &read), S_OK);
    EXPECT_GE(timeGetTime() - before, 99u);
    EXPECT_EQ(read, 1000);
    DeleteMemStream(stream);
}

// ---------------------------------------------------------------------------------------------------------------
// The I/O queue.

// The memory stream with a chosen alignment, reads that may come back short, and a gate that holds a read until
// the test opens it.
class FakeSource : public R_CMemStream
{
  public:
    LONG alignment = 1, shortBy = 0;
    HANDLE gate = CreateEventA(NULL, TRUE, TRUE, NULL), entered = CreateEventA(NULL, FALSE, FALSE, NULL);

    FakeSource() : R_CMemStream(s_SourceBytes.data(), 1000, 0xFFFFFFFF)
    {
    }
    ~FakeSource() override
    {
        CloseHandle(gate);
        CloseHandle(entered);
    }
    HRESULT ReadAt(BYTE *buffer, LONG length, BOOL aligned, LONG *read) override
    {
        SetEvent(entered);
        WaitForSingleObject(gate, INFINITE);
        return R_CMemStream::ReadAt(buffer, length - shortBy, aligned, read);
    }
    LONG SourceAlignment() override
    {
        return alignment;
    }
};

// Worker threads made through the seam: counted and kept by a handle of the test's own to see them end, or refused
// with a chosen error code (-1: made).
LONG s_WorkersMade = 0;
HANDLE s_LastWorker = NULL;
LONG s_RefusalCode = -1;

HANDLE WINAPI TestCreator(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE entry, LPVOID argument,
                          DWORD flags, LPDWORD id)
{
    if (s_RefusalCode >= 0) {
        SetLastError(s_RefusalCode);
        return NULL;
    }
    HANDLE thread = CreateThread(security, stack, entry, argument, flags, id);
    s_WorkersMade += 1;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &s_LastWorker, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return thread;
}

struct CreatorScope {
    explicit CreatorScope(LONG refusalCode = -1)
    {
        s_WorkersMade = 0;
        s_RefusalCode = refusalCode;
        SetAsyncWorkerCreatorForTest(TestCreator);
    }
    ~CreatorScope()
    {
        SetAsyncWorkerCreatorForTest(NULL);
        CloseHandle(s_LastWorker);
        s_LastWorker = NULL;
    }
};

// The next read handed back: its answer, and its user value through `user` when given.
HRESULT Next(R_CAsyncIoQueue &queue, DWORD timeout, DWORD_PTR *user = NULL)
{
    void *context = NULL;
    DWORD_PTR userRead = 0;
    LONG bytes = 0;
    return queue.WaitForNext(timeout, &context, user ? user : &userRead, &bytes);
}

TEST_F(Async, QueueReadsCompleteByTheirEndsAndAlignment)
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
        if (row.queued == S_OK) {
            EXPECT_EQ(queue.WaitForNext(20000, &context, &user, &bytes), row.answer) << row.position;
            EXPECT_EQ(bytes, row.bytes);
            EXPECT_EQ(context, buffer);
            EXPECT_EQ(user, 42u);
        }
        EXPECT_EQ(Next(queue, 0), VFW_E_TIMEOUT) << "nothing else was queued";
        EXPECT_EQ(queue.WaitForNext(0, NULL, &user, &bytes), E_POINTER);
    }
}

// The worker that was never made fails the request (E_FAIL when the platform left no error code) and leaves
// nothing queued.
TEST_F(Async, QueueRefusedWorkerFailsTheRequestAndQueuesNothing)
{
    FakeSource source;
    R_CAsyncIoQueue queue(&source);
    BYTE buffer[8];
    for (LONG code : {0, 8}) {
        CreatorScope scope(code);
        EXPECT_EQ(queue.Request(0, 4, FALSE, buffer, NULL, 1), code == 0 ? E_FAIL : (HRESULT)0x80070008);
    }
    EXPECT_EQ(queue.Request(4, 4, FALSE, buffer, NULL, 2), S_OK);
    DWORD_PTR user = 0;
    EXPECT_EQ(Next(queue, 20000, &user), S_OK);
    EXPECT_EQ(user, 2u) << "a refused request stayed queued";
    EXPECT_EQ(Next(queue, 0), VFW_E_TIMEOUT);
}

// One read held in the source while three more wait: the flush waits for the one, hands the three back unperformed,
// then refuses until it ends.
TEST_F(Async, QueueFlushHandsQueuedReadsBackUnperformed)
{
    FakeSource source;
    ResetEvent(source.gate);
    R_CAsyncIoQueue queue(&source);
    BYTE buffer[4][8];
    memset(buffer, 0xEE, sizeof(buffer));
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(queue.Request(8 * i, 8, FALSE, buffer[i], NULL, i), S_OK);
        if (i == 0) {
            ASSERT_EQ(WaitForSingleObject(source.entered, 20000), (DWORD)WAIT_OBJECT_0);
        }
    }
    {
        Background flusher{[&] { queue.BeginFlush(); }};
        EXPECT_EQ(WaitForSingleObject(flusher.thread, 200), (DWORD)WAIT_TIMEOUT) << "the flush did not wait";
        SetEvent(source.gate);
    }
    HRESULT answers[4] = {};
    for (int i = 0; i < 4; i++) {
        DWORD_PTR user = 0;
        HRESULT answer = Next(queue, 20000, &user);
        ASSERT_LT(user, 4u);
        answers[user] = answer;
    }
    EXPECT_EQ(answers[0], S_OK);
    for (int i = 1; i < 4; i++) {
        EXPECT_EQ(answers[i], VFW_E_TIMEOUT);
        EXPECT_EQ(buffer[i][0], 0xEE) << "a flushed read was performed";
    }
    EXPECT_EQ(Next(queue, 20000), VFW_E_WRONG_STATE);
    EXPECT_EQ(queue.Request(0, 8, FALSE, buffer[0], NULL, 9), VFW_E_WRONG_STATE);
    queue.EndFlush();
    EXPECT_EQ(Next(queue, 0), VFW_E_TIMEOUT);
    EXPECT_EQ(queue.Request(0, 8, FALSE, buffer[0], NULL, 9), S_OK);
    EXPECT_EQ(Next(queue, 20000), S_OK);
}

// ---------------------------------------------------------------------------------------------------------------
// The reader filter, pulled by a parser's test filter.

// A parser's input pin at its simplest: it takes a stream and, to finish a connection, asks the peer for
// IAsyncReader (unless told not to).
class PullPin : public R_CPinBase
{
  public:
    explicit PullPin(R_CFilterBase *filter)
        : R_CPinBase("pull pin", filter, filter->FilterLock(), NULL, L"Input", PINDIR_INPUT)
    {
    }
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override
    {
        return IsEqualGUID(type->majortype, MEDIATYPE_Stream) ? S_OK : S_FALSE;
    }
    HRESULT FinishConnection(IPin *peer) override
    {
        return askReader ? peer->QueryInterface(IID_IAsyncReader, (void **)&reader) : S_OK;
    }
    HRESULT ReleaseConnectionResources() override
    {
        if (reader != NULL) {
            reader->Release();
            reader = NULL;
        }
        return S_OK;
    }

    IAsyncReader *reader = NULL;
    bool askReader = true;
};

// "Mem Reader" over random bytes with a stream type, and a parser filter; connected when asked.
struct ReaderWorld {
    std::vector<BYTE> data = RandomBytes(1000, 8);
    R_CMemStream *stream = CreateMemStream(data.data(), 1000, 0, 0xFFFFFFFF);
    R_CMediaTypeRecord type;
    R_CMemReader *reader = NULL;
    graph_test::TestFilter *parser = new graph_test::TestFilter;
    PullPin *pin = new PullPin(parser);

    ReaderWorld()
    {
        parser->pins.push_back(pin);
        parser->InnerAddRef();
        type.SetMajorTypeId(MEDIATYPE_Stream);
        type.SetSubtypeId(MEDIASUBTYPE_MPEG1Audio);
        HRESULT result = S_OK;
        reader = CreateMemReader(stream, &type, &result);
        EXPECT_EQ(result, S_OK);
        reader->BaseFilter()->AddRef();
    }
    ~ReaderWorld()
    {
        pin->Disconnect();
        reader->OutputPin()->Disconnect();
        DeleteMemReader(reader);
        parser->BaseFilter()->Release();
        DeleteMemStream(stream);
    }
    HRESULT Connect(const AM_MEDIA_TYPE *with)
    {
        return reader->OutputPin()->Connect(pin, with);
    }
};

IMediaSample *SampleOver(IMemAllocator *allocator, LONGLONG start, LONGLONG stop)
{
    IMediaSample *sample = NULL;
    EXPECT_EQ(allocator->GetBuffer(&sample, NULL, NULL, 0), S_OK);
    REFERENCE_TIME from = start * 10000000, to = stop * 10000000;
    sample->SetTime(&from, &to);
    return sample;
}

TEST_F(Async, ParserPullsQueuedReadsInOrder)
{
    CreatorScope scope;
    {
        ReaderWorld world;
        ASSERT_EQ(world.Connect(NULL), S_OK);
        IAsyncReader *reader = world.pin->reader;
        ASSERT_NE(reader, (IAsyncReader *)NULL);
        IMemAllocator *preferred = NULL, *allocator = NULL;
        ASSERT_EQ(
            CoCreateInstance(CLSID_MemoryAllocator, NULL, CLSCTX_INPROC_SERVER, IID_IMemAllocator, (void **)&preferred),
            S_OK);
        ALLOCATOR_PROPERTIES props = {101, 10, 0, 0};
        ASSERT_EQ(reader->RequestAllocator(preferred, &props, &allocator), S_OK);
        EXPECT_EQ(allocator, preferred);
        EXPECT_EQ(props.cbAlign, 1);
        ASSERT_EQ(allocator->Commit(), S_OK);
        EXPECT_EQ(s_WorkersMade, 0) << "a connection needs no worker";
        for (LONGLONG i = 0; i < 100; i++) {
            ASSERT_EQ(reader->Request(SampleOver(allocator, i * 10, i * 10 + 10), (DWORD_PTR)i), S_OK);
        }
        EXPECT_EQ(s_WorkersMade, 1);
        for (DWORD_PTR i = 0; i < 100; i++) {
            IMediaSample *sample = NULL;
            DWORD_PTR user = 0;
            ASSERT_EQ(reader->WaitForNext(20000, &sample, &user), S_OK);
            EXPECT_EQ(user, i);
            BYTE *bytes = NULL;
            sample->GetPointer(&bytes);
            ASSERT_EQ(sample->GetActualDataLength(), 10);
            EXPECT_EQ(memcmp(bytes, world.data.data() + i * 10, 10), 0) << i;
            sample->Release();
        }
        // A read past the end is cut at the end, and so is its sample's stop time.
        IMediaSample *sample = SampleOver(allocator, 995, 1005);
        ASSERT_EQ(reader->SyncReadAligned(sample), S_OK);
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        EXPECT_EQ(stop, 1000 * 10000000LL);
        EXPECT_EQ(sample->GetActualDataLength(), 5);
        sample->Release();
        LONGLONG total = 0, available = 0;
        EXPECT_EQ(reader->Length(&total, &available), S_OK);
        EXPECT_EQ(total + available, 2000);
        allocator->Decommit();
        allocator->Release();
        preferred->Release();
    }
    EXPECT_EQ(WaitForSingleObject(s_LastWorker, 0), (DWORD)WAIT_OBJECT_0) << "the worker outlived its reader";
}

// The 64-bit range checks: a range that runs backwards or overflows the sample's buffer reaches neither the queue
// nor the buffer.
TEST_F(Async, ReaderRefusesRangesOutsideTheSample)
{
    ReaderWorld world;
    ASSERT_EQ(world.Connect(NULL), S_OK);
    IAsyncReader *reader = world.pin->reader;
    Pool pool(1, 10);
    const struct {
        LONGLONG start, stop;
        HRESULT answer;
    } rows[] = {{100, 50, E_INVALIDARG},
                {0, 11, VFW_E_BUFFER_OVERFLOW},
                {-20, 0, VFW_E_BUFFER_OVERFLOW},
                {990, 1010, VFW_E_BUFFER_OVERFLOW}};
    for (const auto &row : rows) {
        for (int queued = 0; queued < 2; queued++) {
            IMediaSample *sample = SampleOver(pool.allocator, row.start, row.stop);
            BYTE *bytes = NULL;
            sample->GetPointer(&bytes);
            memset(bytes, 0xEE, 10);
            sample->SetActualDataLength(3);
            EXPECT_EQ(queued ? reader->Request(sample, 0) : reader->SyncReadAligned(sample), row.answer) << row.start;
            EXPECT_EQ(std::count(bytes, bytes + 10, 0xEE), 10);
            EXPECT_EQ(sample->GetActualDataLength(), 3);
            IMediaSample *back = NULL;
            DWORD_PTR user = 0;
            EXPECT_EQ(reader->WaitForNext(0, &back, &user), VFW_E_TIMEOUT);
            sample->Release();
        }
    }
}

// A type whose copy fails leaves no object behind; a peer that never asks for the reader leaves both pins
// unconnected.
TEST_F(Async, ReaderRefusesATypeItCannotCopyAndAPeerThatNeverAsksForIt)
{
    BYTE format[4] = {};
    R_CMediaTypeRecord type;
    type.cbFormat = sizeof(format);
    type.pbFormat = format;
    const LONG objects = MediaObjectCount;
    HRESULT result = S_OK;
    R_CMemStream *stream = CreateMemStream(format, 4, 0, 1);
    graph_test::FailTaskAllocationAfter(0);
    EXPECT_EQ(CreateMemReader(stream, &type, &result), (R_CMemReader *)NULL);
    EXPECT_EQ(result, E_OUTOFMEMORY);
    DeleteMemStream(stream);
    EXPECT_EQ(MediaObjectCount, objects);
    type.cbFormat = 0;
    type.pbFormat = NULL;
    ReaderWorld world;
    world.pin->askReader = false;
    world.type.formattype = FORMAT_None; // a whole type, so that the connection is tried with it alone
    EXPECT_EQ(world.Connect(&world.type), E_FAIL);
    EXPECT_FALSE(world.reader->OutputPin()->IsConnected());
    EXPECT_FALSE(world.pin->IsConnected());
}

} // namespace
