// Memory streams against the rules of seeking and element reads, and the file-stream table's forwarding to
// whatever file-function table is installed.
#include "file_test_support.h"
#include "core/core_test_hooks.h"

// COM's stream header after the engine's still compiles, and the engine's seek origins keep its values.
#include <objidl.h>

static_assert((int)STREAM_ORIGIN_START == (int)STREAM_SEEK_SET && (int)STREAM_ORIGIN_CURRENT == (int)STREAM_SEEK_CUR &&
                  (int)STREAM_ORIGIN_END == (int)STREAM_SEEK_END,
              "seek origins");

namespace
{

class MemoryStreamTest : public FileTest
{
};

TEST_F(MemoryStreamTest, SeekClampsToTheDataAndClearsEndOfFile)
{
    static const unsigned char data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const struct {
        int start, offset, origin, expected;
    } cases[] = {
        {0, -5, STREAM_ORIGIN_START, 0},
        {0, 20, STREAM_ORIGIN_START, 10},
        {0, 4, STREAM_ORIGIN_START, 4},
        {6, 3, STREAM_ORIGIN_CURRENT, 9},
        {6, 5, STREAM_ORIGIN_CURRENT, 10},
        {6, -7, STREAM_ORIGIN_CURRENT, 0},
        {2, -3, STREAM_ORIGIN_END, 7},
        {2, 10, STREAM_ORIGIN_END, 10},
        {2, -11, STREAM_ORIGIN_END, 0},
        {3, 0x7FFFFFFF, STREAM_ORIGIN_CURRENT, 10},
        {3, (int)0x80000000, STREAM_ORIGIN_END, 0},
    };
    StreamFunctions *f = GetMemoryStreamFunctions();
    for (const auto &c : cases) {
        MemStream *stream = MemStreamOpen(data, sizeof(data));
        ASSERT_NE(stream, nullptr);
        DWORD_PTR h = (DWORD_PTR)stream;
        f->seek(h, 0, STREAM_ORIGIN_END);
        unsigned char byte;
        EXPECT_EQ(f->read(&byte, 1, 1, h), 0u);
        EXPECT_EQ(f->eof(h), 1);
        f->seek(h, c.start, STREAM_ORIGIN_START);
        EXPECT_EQ(f->seek(h, c.offset, c.origin), 0);
        EXPECT_EQ(f->tell(h), c.expected) << c.start << " " << c.offset << " " << c.origin;
        EXPECT_EQ(f->eof(h), 0);
        EXPECT_EQ(f->close(h), 0);
    }
}

// Each row is one read on the same stream, in order.
TEST_F(MemoryStreamTest, ReadsCountWholeElementsAndALastPartialOne)
{
    static const unsigned char data[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    const struct {
        size_t elementSize, count, result;
        unsigned int bytesCopied, position, endOfFile;
    } steps[] = {
        {3, 4, 3, 9, 9, 0},  // 12 bytes wanted, 3 whole elements fit
        {3, 1, 1, 1, 10, 0}, // one partial element counts as one
        {3, 1, 0, 0, 10, 1}, // a read starting at the end sets the flag
        {0, 7, 0, 0, 10, 1}, // still at the end
    };
    MemStream *stream = MemStreamOpen(data, sizeof(data));
    ASSERT_NE(stream, nullptr);
    unsigned int expectedPosition = 0;
    for (const auto &s : steps) {
        unsigned char buffer[16];
        memset(buffer, 0xEE, sizeof(buffer));
        EXPECT_EQ(MemStreamRead(buffer, s.elementSize, s.count, (DWORD_PTR)stream), s.result);
        EXPECT_EQ(memcmp(buffer, data + expectedPosition, s.bytesCopied), 0);
        EXPECT_EQ(buffer[s.bytesCopied], 0xEE) << "copied past the request";
        expectedPosition = s.position;
        EXPECT_EQ(stream->position, s.position);
        EXPECT_EQ(MemStreamEof((DWORD_PTR)stream), (int)s.endOfFile);
    }
    MemStreamClose((DWORD_PTR)stream);
}

TEST_F(MemoryStreamTest, ElementSizeTimesCountIsNotWrappedTo32Bits)
{
    static const unsigned char data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const struct {
        size_t elementSize, count, result;
        unsigned int position;
    } cases[] = {
        {0, 5, 5, 0},              // element size 0: the count, nothing moves
        {2, 0x80000001u, 5, 10},   // 2 x 0x80000001 wraps to 2 in 32 bits
        {0x10000, 0x10000, 1, 10}, // wraps to 0 in 32 bits
        {0xFFFFFFFFu, 0xFFFFFFFFu, 1, 10},
        {1, 10, 10, 10},
    };
    for (const auto &c : cases) {
        MemStream *stream = MemStreamOpen(data, sizeof(data));
        std::vector<unsigned char> buffer(16);
        EXPECT_EQ(MemStreamRead(buffer.data(), c.elementSize, c.count, (DWORD_PTR)stream), c.result)
            << c.elementSize << " x " << c.count;
        EXPECT_EQ(stream->position, c.position);
        MemStreamClose((DWORD_PTR)stream);
    }
}

TEST_F(MemoryStreamTest, OpenFailsQuietlyWhenMemoryRunsOut)
{
    size_t mark = LogSize();
    SetAllocationFailureCountdown(0);
    EXPECT_EQ(MemStreamOpen("x", 1), nullptr);
    SetAllocationFailureCountdown(-1);
    EXPECT_EQ(LogSince(mark).find("MemStream"), std::string::npos);
}

// A fake file table that records which operation was called.
static std::string g_Called;
static FileHandle FakeOpen(const char *, int, int, int)
{
    g_Called += "open ";
    return 77;
}
static int FakeClose(FileHandle h)
{
    g_Called += "close ";
    return (int)h;
}
static int FakeTell(FileHandle h)
{
    g_Called += "tell ";
    return (int)h + 1;
}
static int FakeSeek(FileHandle h, int offset, int origin)
{
    g_Called += "seek ";
    return offset * 10 + origin;
}
static size_t FakeRead(void *, size_t e, size_t n, FileHandle)
{
    g_Called += "read ";
    return e * n;
}
static int FakeEof(FileHandle)
{
    g_Called += "eof ";
    return -1;
}
static int FakeIdle(FileHandle)
{
    g_Called += "idle ";
    return 5;
}

TEST_F(FileTest, FileStreamsForwardToTheTableInstalledLater)
{
    StreamRef ref;
    ref.functions = *GetFileStreamFunctions();
    ref.handle = 77;
    FileFunctionTable fake = *GetFileAccessTable();
    fake.open = FakeOpen;
    fake.close = FakeClose;
    fake.tell = FakeTell;
    fake.seek = FakeSeek;
    fake.read = FakeRead;
    fake.eof = FakeEof;
    fake.idleCheck = FakeIdle;
    SetFileAccessTable(&fake);
    g_Called.clear();
    EXPECT_EQ(FileOpenThunk("x", 0, 0, 0), 77u);
    EXPECT_EQ(ref.functions.tell(ref.handle), 78);
    EXPECT_EQ(ref.functions.seek(ref.handle, 3, 2), 32);
    EXPECT_EQ(ref.functions.read(NULL, 3, 4, ref.handle), 12u);
    EXPECT_EQ(ref.functions.eof(ref.handle), -1);
    EXPECT_EQ(ref.functions.idle(ref.handle), 5);
    EXPECT_EQ(ref.functions.close(ref.handle), 77);
    EXPECT_EQ(g_Called, "open tell seek read eof idle close ");

    SetFileAccessTable(NULL);
    EXPECT_EQ(GetFileAccessTable()->open, ArchiveAwareOpen);
    EXPECT_EQ(GetFileAccessTable()->findClose, ArchiveAwareFindClose);
}

TEST_F(FileTest, StreamTablesAreSharedAndRestoredAtStartUp)
{
    EXPECT_EQ(GetMemoryStreamFunctions(), GetMemoryStreamFunctions());
    GetMemoryStreamFunctions()->read = NULL;
    GetFileStreamFunctions()->tell = NULL;
    InitStreamFunctionTables();
    EXPECT_EQ(GetMemoryStreamFunctions()->read, MemStreamRead);
    EXPECT_EQ(GetMemoryStreamFunctions()->close, MemStreamClose);
    EXPECT_EQ(GetFileStreamFunctions()->tell, FileTellThunk);
    EXPECT_EQ(GetFileStreamFunctions()->close, FileCloseThunk);
}

} // namespace
