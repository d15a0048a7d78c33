// Plain files in each access mode (synchronous, cached, asynchronous, both) against a model of the read and
// seek rules run on the same bytes in memory, including reads that straddle the read-ahead cache, seeks from
// each origin, reads past the end, huge element counts and reads that fail.
#include "file_test_support.h"

#include "core/core_test_hooks.h"

namespace
{

const char *const kPlainFile = "plain.bin";
const size_t kPlainSize = 300001;

// The rules of the plain set, applied to bytes in memory.
struct PlainModel {
    const std::vector<uint8_t> *data;
    unsigned int position = 0;
    int endOfFile = 0;

    size_t Read(uint8_t *buffer, size_t e, size_t n)
    {
        unsigned int size = (unsigned int)data->size();
        if (e == 0) {
            return 0;
        }
        if (position >= size) {
            endOfFile = 1;
            return 0;
        }
        if ((unsigned long long)e * n > size - position) {
            n = (size - position) / e;
            if (n == 0) {
                endOfFile = 1;
                return 0;
            }
        }
        memcpy(buffer, data->data() + position, e * n);
        position += (unsigned int)(e * n);
        return n;
    }
    int Seek(int offset, int origin)
    {
        long long target = offset + (origin == 1 ? (long long)position : origin == 2 ? (long long)data->size() : 0);
        if (target < 0) {
            return -1;
        }
        position = (unsigned int)target;
        endOfFile = 0;
        return 0;
    }
};

enum OpKind { READ, SEEK, PAUSE };

struct Op {
    OpKind kind;
    long long a, b; // read: element size, count; seek: offset, origin; pause: milliseconds
};

const Op kScript[] = {
    {READ, 1000, 1},    {PAUSE, 250, 0},
    {READ, 1000, 1},    {READ, 1000, 1},
    {READ, 1, 131072},  {SEEK, -500, 1},
    {READ, 4, 1000},    {PAUSE, 250, 0},
    {SEEK, 131000, 0},  {READ, 1, 200},
    {PAUSE, 250, 0},    {READ, 7, 30000},
    {READ, 1000, 1},    {SEEK, -10, 2},
    {READ, 4, 3},       {READ, 4, 1},
    {SEEK, 100, 2},     {READ, 1, 1},
    {SEEK, -1, 0},      {SEEK, 0, 0},
    {READ, 300001, 1},  {SEEK, 17, 0},
    {READ, 0, 5},       {READ, 2, 0x80000001LL},
    {SEEK, -150001, 1}, {READ, 0x10000, 0x10000},
    {SEEK, 5000, 0},    {PAUSE, 250, 0},
    {READ, 999, 1},     {READ, 999, 1},
    {PAUSE, 150, 0},    {READ, 999, 1},
    {SEEK, -3000, 1},   {READ, 65536, 3},
    {READ, 65536, 3},   {READ, 65536, 3},
};

class PlainFileTest : public FileTest
{
  protected:
    void SetUp() override
    {
        FileTest::SetUp();
        data = MakeTestBytes(7, kPlainSize, 0);
        ASSERT_TRUE(WriteBytesToFile(kPlainFile, data));
    }
    static void WaitIdle(FileHandle file)
    {
        for (int i = 0; i < 10000 && WinFileIdleCheck(file) == 0; i++) {
            Sleep(1);
        }
        ASSERT_EQ(WinFileIdleCheck(file), 1);
    }
    // Waits up to 30 s for the access thread to fill the cache while idle.
    static void WaitForFullCache(FileHandle file)
    {
        unsigned int position = 0, fill = 0;
        for (int i = 0; i < 3000 && (GetFileCacheState(file, &position, &fill) != 0 || fill < FILE_CACHE_SIZE); i++) {
            Sleep(10);
        }
        ASSERT_EQ(fill, (unsigned int)FILE_CACHE_SIZE) << "the read-ahead never filled the cache";
    }
    std::vector<uint8_t> data;
};

TEST_F(PlainFileTest, EveryModeReadsWhatTheModelReads)
{
    const struct {
        int cache, async;
    } modes[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    std::vector<uint8_t> got(kPlainSize + 16), expected(kPlainSize + 16);
    for (const auto &mode : modes) {
        SCOPED_TRACE(::testing::Message() << "cache " << mode.cache << " async " << mode.async);
        FileHandle file = WinFileOpen(kPlainFile, mode.cache, 0, mode.async);
        ASSERT_NE(file, 0u);
        PlainModel model;
        model.data = &data;
        int step = 0;
        for (const Op &op : kScript) {
            SCOPED_TRACE(step++);
            if (op.kind == PAUSE) {
                Sleep((DWORD)op.a);
            } else if (op.kind == SEEK) {
                EXPECT_EQ(WinFileSeek(file, (int)op.a, (int)op.b), model.Seek((int)op.a, (int)op.b));
            } else {
                size_t result = WinFileRead(got.data(), (size_t)op.a, (size_t)op.b, file);
                size_t expectedResult = model.Read(expected.data(), (size_t)op.a, (size_t)op.b);
                EXPECT_EQ(result, expectedResult);
                if (mode.async) {
                    WaitIdle(file);
                }
                EXPECT_EQ(memcmp(got.data(), expected.data(), (size_t)op.a * expectedResult), 0);
            }
            EXPECT_EQ(WinFileTell(file), (int)model.position);
            EXPECT_EQ(WinFileEof(file), model.endOfFile ? -1 : 0);
        }
        EXPECT_EQ(WinFileClose(file), 0);
    }
}

// Sequential pieces come from the read-ahead once it has filled the cache (waited for, not timed; a top-up may follow
// any command): each then moves the cache on without restarting it. A seek, and a read that runs past what the
// cache holds, restart it just after the data.
TEST_F(PlainFileTest, SequentialPiecesAreServedFromTheReadAhead)
{
    for (int async = 0; async < 2; async++) {
        SCOPED_TRACE(async ? "cache and async" : "cache");
        FileHandle file = WinFileOpen(kPlainFile, 1, 0, async);
        ASSERT_NE(file, 0u);
        unsigned int position = 0, fill = 0;
        const struct {
            int seekTo;        // -1: no seek before the read
            unsigned int read; // bytes
            bool fullCacheFirst;
            unsigned int cachePosition;
            unsigned int minimumFill; // the fill a served read leaves; a restart leaves 0
        } steps[] = {
            {-1, 1000, false, 1000, 0},
            {-1, 1000, true, 2000, FILE_CACHE_SIZE - 1000},
            {-1, 1000, false, 3000, FILE_CACHE_SIZE - 2000},
            {-1, 1000, false, 4000, FILE_CACHE_SIZE - 3000},
            {5000, 0, false, 5000, 0}, // the seek empties it
            {-1, 1000, true, 6000, FILE_CACHE_SIZE - 1000},
            {-1, FILE_CACHE_SIZE + 500, true, 6000 + FILE_CACHE_SIZE + 500, 0}, // past the cache: restarts
            {-1, 1000, true, 7000 + FILE_CACHE_SIZE + 500, FILE_CACHE_SIZE - 1000},
        };
        std::vector<uint8_t> got(FILE_CACHE_SIZE + 500);
        unsigned int expectedPosition = 0;
        for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); i++) {
            SCOPED_TRACE(i);
            const auto &s = steps[i];
            if (s.fullCacheFirst) {
                WaitForFullCache(file);
            }
            if (s.seekTo >= 0) {
                ASSERT_EQ(WinFileSeek(file, s.seekTo, STREAM_ORIGIN_START), 0);
                expectedPosition = (unsigned int)s.seekTo;
            }
            if (s.read > 0) {
                ASSERT_EQ(WinFileRead(got.data(), 1, s.read, file), s.read);
            }
            WaitIdle(file);
            ASSERT_EQ(GetFileCacheState(file, &position, &fill), 0);
            EXPECT_EQ(position, s.cachePosition);
            EXPECT_GE(fill, s.minimumFill);
            EXPECT_EQ(memcmp(got.data(), data.data() + expectedPosition, s.read), 0);
            expectedPosition += s.read;
        }
        EXPECT_EQ(WinFileClose(file), 0);
    }
    FileHandle plain = WinFileOpen(kPlainFile, 0, 1, 1);
    unsigned int position, fill;
    EXPECT_EQ(GetFileCacheState(plain, &position, &fill), -1) << "no cache without the cache flag";
    WinFileClose(plain);
}

TEST_F(PlainFileTest, AFailedReadIsReportedAndDoesNotMoveThePosition)
{
    // ReadFile fails on a destination it cannot write.
    void *readOnly = VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    ASSERT_NE(readOnly, nullptr);
    const struct {
        int cache, async;
    } modes[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const auto &mode : modes) {
        SCOPED_TRACE(::testing::Message() << "cache " << mode.cache << " async " << mode.async);
        FileHandle file = WinFileOpen(kPlainFile, mode.cache, 0, mode.async);
        ASSERT_NE(file, 0u);
        ASSERT_EQ(WinFileSeek(file, 1000, STREAM_ORIGIN_START), 0);
        size_t result = WinFileRead(readOnly, 4, 100, file);
        if (mode.async) {
            EXPECT_EQ(result, 100u) << "an asynchronous read answers at once";
            WaitIdle(file);
        } else {
            EXPECT_EQ(result, 0u);
        }
        EXPECT_EQ(WinFileTell(file), 1000);
        uint8_t buffer[16];
        EXPECT_EQ(WinFileRead(buffer, 16, 1, file), 1u);
        WaitIdle(file);
        EXPECT_EQ(memcmp(buffer, data.data() + 1000, 16), 0);
        EXPECT_EQ(WinFileClose(file), 0);
    }
    VirtualFree(readOnly, 0, MEM_RELEASE);
}

// Positions are unsigned 32-bit words: a file between 2 and 4 GB reads at every position in every mode, across
// the 2 GB mark too. The file is sparse, so it costs only its marked pieces.
TEST_F(FileTest, FilesLargerThan2GBReadPastTheMarkInEveryMode)
{
    const uint32_t size = 0x90001000u;
    const std::vector<FilePiece> pieces = {
        {0x7FFFFFF0u, MakeTestBytes(11, 64, 0)}, // straddles 2 GB
        {0x90000000u, MakeTestBytes(12, 100, 0)},
        {size - 50, MakeTestBytes(13, 50, 0)},
    };
    ASSERT_TRUE(WriteSparseFile("big.bin", size, pieces));
    const struct {
        int cache, async;
    } modes[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (const auto &mode : modes) {
        SCOPED_TRACE(::testing::Message() << "cache " << mode.cache << " async " << mode.async);
        FileHandle file = WinFileOpen("big.bin", mode.cache, 0, mode.async);
        ASSERT_NE(file, 0u);
        const struct {
            int offset, origin;
            uint32_t position;
            const FilePiece *piece;
        } steps[] = {
            {0x7FFFFFF0, STREAM_ORIGIN_START, 0x7FFFFFF0u, &pieces[0]},
            {0x10000000 - 0x30, STREAM_ORIGIN_CURRENT, 0x90000000u, &pieces[1]},
            {-50, STREAM_ORIGIN_END, size - 50, &pieces[2]},
        };
        for (const auto &step : steps) {
            ASSERT_EQ(WinFileSeek(file, step.offset, step.origin), 0);
            EXPECT_EQ((uint32_t)WinFileTell(file), step.position);
            // Two halves; with the cache, a pause lets the read-ahead serve the second.
            std::vector<uint8_t> got(step.piece->bytes.size());
            size_t half = got.size() / 2;
            EXPECT_EQ(WinFileRead(got.data(), 1, half, file), half);
            while (WinFileIdleCheck(file) == 0) {
                Sleep(0);
            }
            if (mode.cache) {
                Sleep(150);
            }
            EXPECT_EQ(WinFileRead(got.data() + half, 1, got.size() - half, file), got.size() - half);
            while (WinFileIdleCheck(file) == 0) {
                Sleep(0);
            }
            EXPECT_EQ(got, step.piece->bytes) << std::hex << step.position;
            EXPECT_EQ((uint32_t)WinFileTell(file), step.position + (uint32_t)got.size());
        }
        EXPECT_EQ(WinFileClose(file), 0);
    }
    DeleteFileA("big.bin");
}

const char *const kOpenMessages[] = {"ファイル読み込みキャッシュ用メモリの確保に失敗しました",
                                     "ファイルアクセス専用スレッドの作成に失敗しました",
                                     "ファイルのオープンに失敗しました"};

TEST_F(FileTest, OpenFailuresLeaveNothingAndLogOnlyTheirOwnMessages)
{
    ASSERT_TRUE(WriteBytesToFile("small.bin", MakeTestBytes(1, 10, 0)));
    const struct {
        const char *path;
        int cache, async, failAllocation; // allocations to let through before one fails, or -1
        const char *message;
    } cases[] = {
        {"missing.bin", 0, 0, -1, NULL},
        {"missing.bin", 1, 0, -1, NULL}, // the size probe fails first: no message
        {"missing.bin", 0, 1, -1, NULL},
        {"small.bin", 0, 0, 0, NULL},
        {"small.bin", 1, 0, 1, "ファイル読み込みキャッシュ用メモリの確保に失敗しました"},
    };
    for (const auto &c : cases) {
        size_t mark = LogSize();
        SetAllocationFailureCountdown(c.failAllocation);
        EXPECT_EQ(WinFileOpen(c.path, c.cache, 0, c.async), 0u) << c.path;
        SetAllocationFailureCountdown(-1);
        std::string added = LogSince(mark);
        for (const char *message : kOpenMessages) {
            bool expected = c.message != NULL && strcmp(message, c.message) == 0;
            EXPECT_EQ(added.find(message) != std::string::npos, expected) << c.path << ": " << message;
        }
    }
    std::string longPath(300, 'a');
    EXPECT_EQ(WinFileOpen(longPath.c_str(), 1, 0, 0), 0u);
}

// The 0 a failed open returns, passed back by mistake, is refused by every operation.
TEST_F(FileTest, TheFailedOpensHandleIsRefused)
{
    uint8_t buffer[8];
    const FileFunctionTable plain = {WinFileOpen,      WinFileClose, WinFileTell,      WinFileSeek,
                                     WinFileRead,      WinFileEof,   WinFileIdleCheck, WinSetCurrentDir,
                                     WinGetCurrentDir, WinFindFirst, WinFindNext,      WinFindClose};
    SetFileAccessTable(&plain);
    StreamRef stream;
    stream.functions = *GetFileStreamFunctions();
    stream.handle = FileOpenThunk("missing.bin", 1, 0, 1);
    ASSERT_EQ(stream.handle, 0u);
    EXPECT_EQ(stream.functions.tell(stream.handle), -1);
    EXPECT_EQ(stream.functions.seek(stream.handle, 0, STREAM_ORIGIN_START), -1);
    EXPECT_EQ(stream.functions.read(buffer, 1, sizeof(buffer), stream.handle), 0u);
    EXPECT_EQ(stream.functions.eof(stream.handle), -1);
    EXPECT_EQ(stream.functions.idle(stream.handle), -1);
    EXPECT_EQ(stream.functions.close(stream.handle), -1);
}

TEST_F(FileTest, FindListsFilesWithSizesAndDirectoryFlags)
{
    CreateDirectoryA("findme", NULL);
    CreateDirectoryA("findme\\inner", NULL);
    ASSERT_TRUE(WriteBytesToFile("findme\\one.txt", MakeTestBytes(3, 123, 1)));
    FileInfo info;
    DWORD_PTR find = WinFindFirst("findme\\*.txt", &info);
    ASSERT_NE(find, FILE_FIND_FAILED);
    EXPECT_STREQ(info.name, "one.txt");
    EXPECT_EQ(info.sizeLow, 123u);
    EXPECT_EQ(info.isDirectory, 0u);
    EXPECT_GE(info.lastWriteTime.year, 2000);
    EXPECT_EQ(WinFindNext(find, &info), -1);
    EXPECT_EQ(WinFindClose(find), 0);
    find = WinFindFirst("findme\\inner", &info);
    ASSERT_NE(find, FILE_FIND_FAILED);
    EXPECT_EQ(info.isDirectory, 1u);
    WinFindClose(find);
    EXPECT_EQ(WinFindFirst("findme\\*.none", NULL), FILE_FIND_FAILED);
}

} // namespace
