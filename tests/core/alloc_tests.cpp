// Tracked allocator: headers, list order, damage detection, serial wrap, threads, refusals and failure paths.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "test_log.h"
#include "core/core_test_hooks.h"

static AllocHeader *HeaderOf(void *pointer)
{
    return (AllocHeader *)pointer - 1;
}

static bool LogHas(const std::string &text)
{
    return ReadTestLog().find(text) != std::string::npos;
}

class AllocTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        StartTestLog();
        startCount = GetAllocationCount();
        startTotal = GetAllocationTotalSize();
    }
    void TearDown() override
    {
        SetAllocationDebugOptions(0, 0, 0, 0);
        SetAllocationFailureCountdown(-1);
        EXPECT_EQ(GetAllocationCount(), startCount);
        EXPECT_EQ(GetAllocationTotalSize(), startTotal);
        EXPECT_EQ(CheckAllAllocations(), 0);
    }
    int startCount = 0;
    long long startTotal = 0;
};

TEST_F(AllocTest, HeaderRecordsTheCallerAndLinksTheBlockNewestFirst)
{
    const struct {
        const char *sourceName;
        const char *kept;
    } cases[] = {
        {"C:\\build\\engine\\graphics\\sub\\graph_creation.cpp", "ph_creation.cpp"}, // 40+ characters: the last 15
        {"sound.cpp1", "sound.cpp1"},                                                // 10: all of it
        {"exactly15chars!", "exactly15chars!"},
        {"sixteen_chars.ab", "ixteen_chars.ab"},
        {NULL, ""},
    };
    std::vector<void *> blocks;
    for (const auto &c : cases) {
        void *block = AllocMemory(24, c.sourceName, 70000 + 1);
        ASSERT_NE(block, nullptr);
        AllocHeader *header = HeaderOf(block);
        EXPECT_STREQ(header->sourceName, c.kept);
        EXPECT_EQ(header->size, 24u);
        EXPECT_EQ(header->line, (70000 + 1) & 0xFFFF) << "the line is kept in 16 bits";
        EXPECT_EQ(memcmp(header->guard, header, 32), 0);
        EXPECT_EQ(header->previous, nullptr) << "the newest block has no newer neighbour";
        if (!blocks.empty()) {
            EXPECT_EQ(header->next, HeaderOf(blocks.back()));
            EXPECT_EQ(HeaderOf(blocks.back())->previous, header);
            EXPECT_EQ(HeaderOf(blocks.back())->serial, (uint16_t)(header->serial - 1));
        }
        blocks.push_back(block);
    }
    EXPECT_EQ(GetAllocationCount(), startCount + 5);
    EXPECT_EQ(GetAllocationTotalSize(), startTotal + 5 * 24);
    // Freeing from the middle keeps the neighbours linked to each other.
    FreeMemory(blocks[2]);
    EXPECT_EQ(HeaderOf(blocks[3])->next, HeaderOf(blocks[1]));
    EXPECT_EQ(HeaderOf(blocks[1])->previous, HeaderOf(blocks[3]));
    EXPECT_EQ(CheckAllAllocations(), 0);
    for (size_t i = 0; i < blocks.size(); i++) {
        if (i != 2) {
            FreeMemory(blocks[i]);
        }
    }
    FreeMemory(NULL);
}

TEST_F(AllocTest, ReallocOfNullAllocatesAndReallocKeepsContentsAndZeroesGrowth)
{
    unsigned char *block = (unsigned char *)ReallocMemory(NULL, 10, "realloc.cpp", 5);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GetAllocationCount(), startCount + 1);
    EXPECT_EQ(GetAllocationTotalSize(), startTotal + 10);
    EXPECT_EQ(HeaderOf(block)->size, 10u);
    memset(block, 0x5A, 10);
    void *neighbour = ENGINE_ALLOC(8); // a newer block whose link must follow the move
    uint16_t serial = HeaderOf(block)->serial;

    unsigned char *grown = (unsigned char *)ReallocMemory(block, 100000, "grown.cpp", 9);
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(HeaderOf(grown)->sourceName, "grown.cpp");
    EXPECT_EQ(HeaderOf(grown)->line, 9);
    EXPECT_NE(HeaderOf(grown)->serial, serial);
    EXPECT_EQ(HeaderOf(neighbour)->next, HeaderOf(grown));
    EXPECT_EQ(GetAllocationTotalSize(), startTotal + 100000 + 8);
    for (int i = 0; i < 10; i++) {
        ASSERT_EQ(grown[i], 0x5A);
    }
    for (int i = 10; i < 100000; i++) {
        ASSERT_EQ(grown[i], 0) << "grown bytes are zero at " << i;
    }
    EXPECT_EQ(CheckAllAllocations(), 0);
    FreeMemory(neighbour);
    FreeMemory(grown);
}

TEST_F(AllocTest, ZeroedAllocationClearsReusedMemory)
{
    unsigned char *block = (unsigned char *)ENGINE_ALLOC(256);
    memset(block, 0xEE, 256);
    FreeMemory(block);
    unsigned char *zeroed = (unsigned char *)ENGINE_ALLOC_ZEROED(256);
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(zeroed[i], 0);
    }
    FreeMemory(zeroed);
}

TEST_F(AllocTest, DamagedHeaderIsFoundAndReportedAndAllocationGoesOn)
{
    void *older = AllocMemory(4, "older.cpp", 1);
    void *damaged = AllocMemory(4, "damaged.cpp", 2);
    void *newer = AllocMemory(4, "newer.cpp", 3);
    EXPECT_EQ(CheckAllAllocations(), 0);
    const int damagedOffsets[] = {0, 15, 16, 19, 20, 24, 28, 31};
    for (int offset : damagedOffsets) {
        StartTestLog();
        unsigned char *byte = (unsigned char *)HeaderOf(damaged) + offset;
        unsigned char saved = *byte;
        *byte ^= 0x40;
        EXPECT_EQ(CheckAllAllocations(), -1) << "offset " << offset;
        std::vector<std::string> lines = ReadTestLogLines();
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0].find("以下のメモリ確保情報が破損しました\tsize:"), 0u) << lines[0];
        if (offset >= 16) {
            EXPECT_NE(lines[0].find("file:damaged.cpp "), std::string::npos) << lines[0];
        }
        void *next = ENGINE_ALLOC(16);
        EXPECT_NE(next, nullptr);
        FreeMemory(next);
        *byte = saved;
        EXPECT_EQ(CheckAllAllocations(), 0);
    }
    FreeMemory(newer);
    FreeMemory(damaged);
    FreeMemory(older);
}

TEST_F(AllocTest, SerialNumberWrapsFrom65535ToZero)
{
    void *block = ENGINE_ALLOC(1);
    uint16_t serial = HeaderOf(block)->serial;
    FreeMemory(block);
    for (int steps = 0; serial != 65535 && steps < 70000; steps++) {
        block = ENGINE_ALLOC(1);
        serial = HeaderOf(block)->serial;
        FreeMemory(block);
    }
    ASSERT_EQ(serial, 65535);
    block = ENGINE_ALLOC(1);
    EXPECT_EQ(HeaderOf(block)->serial, 0);
    FreeMemory(block);
}

static DWORD WINAPI AllocateAndFreeMany(LPVOID parameter)
{
    int seed = (int)(INT_PTR)parameter;
    void *held[16] = {};
    for (int i = 0; i < 20000; i++) {
        int slot = (i * 7 + seed) % 16;
        if (held[slot] != NULL) {
            FreeMemory(held[slot]);
            held[slot] = NULL;
        } else {
            held[slot] = ENGINE_ALLOC((size_t)(i % 97 + seed));
        }
        if (i % 5 == 0) {
            held[slot] = ENGINE_REALLOC(held[slot], (size_t)(i % 300));
        }
    }
    for (void *block : held) {
        FreeMemory(block);
    }
    return 0;
}

TEST_F(AllocTest, TwoThreadsAllocatingAndFreeingAtOnceLeaveTheCountWhereItBegan)
{
    HANDLE threads[2];
    for (int i = 0; i < 2; i++) {
        threads[i] = CreateThread(NULL, 0, AllocateAndFreeMany, (LPVOID)(INT_PTR)(i + 1), 0, NULL);
        ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(CheckAllAllocations(), 0);
}

TEST_F(AllocTest, RequestsThatWrapThe32BitSizeAreRefusedAfterTheDump)
{
    const size_t sizes[] = {0xFFFFFFFFu, 0xFFFFFFC0u, 0xFFFFFFFFu - ALLOC_HEADER_SIZE + 1};
    for (size_t size : sizes) {
        StartTestLog();
        EXPECT_EQ(AllocMemory(size, "wrap.cpp", 1), nullptr) << size;
        EXPECT_TRUE(LogHas("Alloc memory dump")) << "a failed allocation dumps the live blocks";
        EXPECT_EQ(GetAllocationCount(), startCount);

        unsigned char *block = (unsigned char *)ENGINE_ALLOC(4);
        memcpy(block, "keep", 4);
        EXPECT_EQ(ReallocMemory(block, size, "wrap.cpp", 2), nullptr);
        EXPECT_EQ(memcmp(block, "keep", 4), 0) << "the old block stays valid";
        EXPECT_EQ(CheckAllAllocations(), 0);
        FreeMemory(block);
    }
}

TEST_F(AllocTest, InjectedFailureReturnsNullOnceAndDumps)
{
    void *kept = AllocMemory(3, "kept.cpp", 7);
    SetAllocationFailureCountdown(1);
    void *first = ENGINE_ALLOC(8);
    EXPECT_NE(first, nullptr);
    StartTestLog();
    EXPECT_EQ(ENGINE_ALLOC(8), nullptr);
    EXPECT_TRUE(LogHas("file:kept.cpp ")) << "the dump lists the live blocks";
    void *after = ENGINE_ALLOC(8);
    EXPECT_NE(after, nullptr);
    FreeMemory(after);
    FreeMemory(first);
    FreeMemory(kept);
}

TEST_F(AllocTest, RecordLineShowsSizeNameLineSerialAddressAndFirstBytes)
{
    const struct {
        const char *data;
        size_t size;
        const char *shown; // the part from "data:" on
    } cases[] = {
        {"", 0, "data:<> ]"},
        {"abc", 3, "data:<abc> [61 62 63]"},
        {"\x01 ~\x7F\x80\xff", 6, "data:<. ~\x7f..> [01 20 7e 7f 80 ff]"},
        {"0123456789abcdefXYZ", 19, "data:<0123456789abcdef> [30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66]"},
    };
    for (const auto &c : cases) {
        StartTestLog();
        void *block = AllocMemory(c.size, "record.cpp", 321);
        memcpy(block, c.data, c.size);
        LogAllocationRecord(HeaderOf(block));
        char expected[256];
        snprintf(expected, sizeof expected,
                 "\tsize:%10d(%10.3fkb)  file:record.cpp                  line:321    ID:%-5d  addr:%08x  %s",
                 (int)c.size, c.size / 1024.0, HeaderOf(block)->serial, (unsigned)(UINT_PTR)block, c.shown);
        // A zero-byte block is traced when it is made (the default trace size is 0): the record is the last line.
        std::vector<std::string> lines = ReadTestLogLines();
        EXPECT_EQ(lines.size(), c.size == 0 ? 2u : 1u);
        EXPECT_EQ(lines.back(), expected);
        FreeMemory(block);
    }
}

TEST_F(AllocTest, DumpListsBlocksNewestFirstAndEndsWithTheTotals)
{
    void *a = AllocMemory(1, "first.cpp", 1);
    void *b = AllocMemory(2000, "second.cpp", 2);
    void *c = AllocMemory(3, "third.cpp", 3);
    StartTestLog();
    DumpAllocations();
    std::vector<std::string> lines = ReadTestLogLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Alloc memory dump");
    const char *order[] = {"file:third.cpp ", "file:second.cpp ", "file:first.cpp "};
    for (int i = 0; i < 3; i++) {
        EXPECT_NE(lines[2 + i].find(order[i]), std::string::npos) << lines[2 + i];
    }
    char totals[128];
    snprintf(totals, sizeof totals, "\tTotal size:%lld(%.3fkb)  Alloc num:%d", GetAllocationTotalSize(),
             GetAllocationTotalSize() / 1024.0, GetAllocationCount());
    size_t last = lines.size() - 1;
    EXPECT_EQ(lines[last], "") << "the dump ends with an empty line";
    EXPECT_EQ(lines[last - 1], totals);
    EXPECT_EQ((int)(last - 1 - 2), GetAllocationCount()) << "one record per live block";
    FreeMemory(c);
    FreeMemory(b);
    FreeMemory(a);
}

TEST_F(AllocTest, TraceOptionsChooseWhichOperationsAreLogged)
{
    const struct {
        int traceSize, logEach;
        size_t size;
        bool traced;
    } cases[] = {
        {0, 0, 0, true}, // the default traces zero-byte blocks
        {0, 0, 5, false}, {5, 0, 5, true}, {5, 0, 6, false}, {-1, 0, 6, true}, {0, 1, 6, true},
    };
    for (const auto &c : cases) {
        SetAllocationDebugOptions(c.traceSize, c.logEach, 0, 0);
        StartTestLog();
        void *block = AllocMemory(c.size, "trace.cpp", 1);
        block = ReallocMemory(block, c.size, "trace.cpp", 2);
        FreeMemory(block);
        std::string log = ReadTestLog();
        EXPECT_EQ(log.find("mem alloc  \tsize:") != std::string::npos, c.traced) << c.traceSize << " " << c.size;
        EXPECT_EQ(log.find("mem realloc  \tsize:") != std::string::npos, c.traced);
        EXPECT_EQ(log.find("mem free  \tsize:") != std::string::npos, c.traced);
    }
    SetAllocationDebugOptions(0, 0, 1, 1);
    StartTestLog();
    FreeMemory(ENGINE_ALLOC(7));
    EXPECT_TRUE(LogHas("\tTotal size:")) << "totals after each operation";
}
