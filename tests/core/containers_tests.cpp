// Byte ring, typed-character ring, text-input activity, text-entry compaction and the intrusive list.
#include <gtest/gtest.h>

#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "core/core.h"
#include "font/font.h"
#include "input/input.h"
#include "test_log.h"
#include "core/core_test_hooks.h"

// A ring laid out by hand: capacity bytes holding stored bytes from read, filled from the text.
static RingBuffer MakeRing(int capacity, int read, const std::string &stored)
{
    RingBuffer ring = {};
    ring.data = (unsigned char *)ENGINE_ALLOC_ZEROED(capacity);
    ring.capacity = capacity;
    ring.readPosition = read;
    ring.stored = (int)stored.size();
    for (size_t i = 0; i < stored.size(); i++) {
        ring.data[(read + i) % capacity] = (unsigned char)stored[i];
    }
    ring.writePosition = (read + ring.stored) % capacity;
    return ring;
}

// What a ring's user does to queue bytes: make room, then write at the write position, wrapping.
static void WriteToRing(RingBuffer *ring, const std::string &bytes)
{
    ASSERT_EQ(RingBufferReserve(ring, (int)bytes.size()), 0);
    for (char byte : bytes) {
        ResetRingPositionsAtEnd(ring);
        ring->data[ring->writePosition++] = (unsigned char)byte;
        ring->stored++;
    }
}

static std::string StoredBytes(const RingBuffer *ring)
{
    std::string bytes;
    for (int i = 0; i < ring->stored; i++) {
        bytes += (char)ring->data[(ring->readPosition + i) % ring->capacity];
    }
    return bytes;
}

class ContainersTest : public TestWithLog
{
};

TEST_F(ContainersTest, GrowthKeepsTheStoredBytesInOrderAtTheStart)
{
    const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
    const struct {
        int capacity, read;
        std::string stored;
        int reserve;
        int newCapacity; // 0: no growth
    } cases[] = {
        {100, 90, twenty, 200, 20 * 3 / 2 + 200 + 1000}, // the stored bytes wrap round the end
        {100, 10, twenty, 200, 1230},
        {100, 100, twenty, 81, 1111}, // a read position at the capacity means 0
        {100, 90, twenty, 80, 0},
        {0, 0, "", 0, 0},
        {0, 0, "", 1, 1001},
    };
    for (const auto &c : cases) {
        RingBuffer ring = c.capacity ? MakeRing(c.capacity, c.read % c.capacity, c.stored) : RingBuffer{};
        ring.readPosition = c.read;
        EXPECT_EQ(RingBufferReserve(&ring, c.reserve), 0);
        if (c.newCapacity != 0) {
            EXPECT_EQ(ring.capacity, c.newCapacity);
            EXPECT_EQ(ring.readPosition, 0);
            EXPECT_EQ(ring.writePosition, (int)c.stored.size());
            EXPECT_EQ(std::string((char *)ring.data, c.stored.size()), c.stored);
        } else {
            EXPECT_EQ(ring.capacity, c.capacity);
            EXPECT_EQ(StoredBytes(&ring), c.stored);
        }
        EXPECT_EQ(ReleaseRingBuffer(&ring), 0);
        EXPECT_EQ(ring.data, nullptr);
        EXPECT_EQ(ring.capacity | ring.stored | ring.readPosition | ring.writePosition, 0);
    }
}

TEST_F(ContainersTest, FailedOrImpossibleGrowthIsRefused)
{
    RingBuffer ring = MakeRing(100, 90, std::string(20, 'x'));
    SetAllocationFailureCountdown(0);
    EXPECT_EQ(RingBufferReserve(&ring, 200), -1);
    EXPECT_EQ(ring.data, nullptr) << "a failed growth leaves an empty, zeroed ring";
    EXPECT_EQ(ring.capacity | ring.stored | ring.readPosition | ring.writePosition, 0);
    EXPECT_NE(ReadTestLog().find("リングバッファの再確保に失敗しました(確保しようとしたサイズ 1230 byte)"),
              std::string::npos);

    // Requests that cannot be met are refused before anything is touched.
    const int refused[] = {-1, -100, 0x7FFFFFFF, 0x7FFFFFFF - 1000};
    for (int count : refused) {
        ring = MakeRing(100, 90, std::string(20, 'y'));
        EXPECT_EQ(RingBufferReserve(&ring, count), -1) << count;
        EXPECT_EQ(ring.capacity, 100);
        EXPECT_EQ(StoredBytes(&ring), std::string(20, 'y'));
        ReleaseRingBuffer(&ring);
    }
}

TEST_F(ContainersTest, ReadsCopyWrappedBytesAndPeeksLeaveTheRingAlone)
{
    RingBuffer ring = MakeRing(10, 8, "abcd");
    char out[16] = {};
    EXPECT_EQ(RingBufferRead(&ring, out, 5, 0), -1) << "more than is stored";
    EXPECT_EQ(RingBufferRead(&ring, out, -1, 0), -1);
    EXPECT_EQ(ring.stored, 4);
    EXPECT_EQ(RingBufferRead(&ring, out, 4, 1), 0);
    EXPECT_EQ(std::string(out, 4), "abcd");
    EXPECT_EQ(ring.readPosition, 8);
    EXPECT_EQ(ring.stored, 4);
    EXPECT_EQ(RingBufferRead(&ring, out, 3, 0), 0);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_EQ(ring.readPosition, 1);
    EXPECT_EQ(ring.stored, 1);
    ReleaseRingBuffer(&ring);
}

TEST_F(ContainersTest, RingAgreesWithAQueueOverRandomUse)
{
    RingBuffer ring = {};
    std::deque<char> model;
    srand(11);
    for (int step = 0; step < 3000; step++) {
        int count = rand() % 700;
        if (rand() % 2) {
            std::string bytes;
            for (int i = 0; i < count; i++) {
                bytes += (char)rand();
            }
            WriteToRing(&ring, bytes);
            model.insert(model.end(), bytes.begin(), bytes.end());
        } else {
            std::vector<char> out(count + 1);
            int peek = rand() % 3 == 0;
            int result = RingBufferRead(&ring, out.data(), count, peek);
            ASSERT_EQ(result, count <= (int)model.size() ? 0 : -1);
            if (result == 0) {
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + count, model.begin()));
                if (!peek) {
                    model.erase(model.begin(), model.begin() + count);
                }
            }
        }
        ASSERT_EQ(ring.stored, (int)model.size());
        ASSERT_LE(ring.stored, ring.capacity);
    }
    ReleaseRingBuffer(&ring);
}

TEST_F(ContainersTest, TypedCharacterRingHoldsAtMost1024Bytes)
{
    const int startIndices[] = {0, 1, 500, 1023, 1024};
    for (int start : startIndices) {
        InputCharRing *ring = GetInputCharRing();
        ring->readIndex = ring->writeIndex = start;
        for (int i = 0; i < 1024; i++) {
            ASSERT_EQ(PushInputChar((unsigned char)i), 0) << "start " << start << " byte " << i;
        }
        EXPECT_EQ(PushInputChar(0xAA), -1) << "the 1,025th byte is refused, start " << start;
        for (int i = 0; i < 1024; i++) {
            ASSERT_EQ(ring->bytes[(start + i) % INPUT_CHAR_RING_SLOTS], (unsigned char)i);
        }
        // One byte taken makes room for one more.
        ring->readIndex = (ring->readIndex + 1) % INPUT_CHAR_RING_SLOTS;
        EXPECT_EQ(PushInputChar(0xBB), 0);
        EXPECT_EQ(PushInputChar(0xCC), -1);
        ring->readIndex = ring->writeIndex = 0;
    }
}

TEST_F(ContainersTest, EditKeyCodesAreExactlyTheNineCursorAndEditingCodes)
{
    const unsigned char codes[] = {0x10, 0x1D, 0x1C, 0x1E, 0x1F, 0x1A, 0x19, 0x17, 0x15};
    for (int byte = 0; byte < 256; byte++) {
        bool listed = memchr(codes, byte, sizeof codes) != NULL;
        EXPECT_EQ(IsKeyInTable((unsigned char)byte), listed ? 1 : 0) << byte;
    }
}

TEST_F(ContainersTest, ByteOffsetsCountWholeCharacters)
{
    const struct {
        const char *text;
        int bytes, characters;
    } cases[] = {
        {"abc", 2, 2},   {"abc", 10, 3},  {"abc", 0, 0}, {"abc", -3, 0},  {"表示x", 1, 1}, {"表示x", 2, 1},
        {"表示x", 3, 2}, {"表示x", 5, 3}, {"ｱｲ", 2, 2},  {"a\x81", 5, 2}, {"", 4, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(MbByteOffsetToCharCount(c.text, c.bytes), c.characters) << c.text << " " << c.bytes;
    }
}

TEST_F(ContainersTest, TextInputActivityIsStampedAndCleared)
{
    ClearTextInputActivity();
    int time = -1;
    EXPECT_EQ(GetTextInputActivity(&time), 0);
    EXPECT_EQ(time, 0);
    int before = GetNowMilliCount();
    EXPECT_EQ(StartInputTimer(), 0);
    EXPECT_EQ(GetTextInputActivity(&time), 1);
    EXPECT_EQ(GetTextInputActivity(NULL), 1);
    EXPECT_GE(time, before);
    EXPECT_LE(time, GetNowMilliCount());
    ClearTextInputActivity();
    EXPECT_EQ(GetTextInputActivity(NULL), 0);
}

TEST_F(ContainersTest, CompactingRemovesTheSelection)
{
    const struct {
        const char *text;
        int selectionStart, selectionEnd, cursor;
        uint32_t displayStart;
        const char *expected;
        int expectedCursor;
        uint32_t expectedDisplayStart;
    } cases[] = {
        {"hello world", 2, 5, 5, 0, "he world", 2, 0},
        {"hello world", 5, 2, 2, 9, "he world", 2, 8}, // ends either way round; display start clamped
        {"hello world", 0, 11, 11, 4, "", 0, 0},
        {"hello", -1, -1, 3, 4, "hello", 3, 4}, // no selection: nothing changes
        {"hello", 3, 3, 3, 0, "hello", 3, 0},   // an empty selection only ends
        {"hello", 2, 40, 2, 0, "he", 2, 0},     // a selection end past the text is held to it
        {"表示abc", 0, 4, 4, 0, "abc", 0, 0},
    };
    for (const auto &c : cases) {
        char text[64];
        StrCopy(text, c.text);
        KeyInputRecord entry = {};
        entry.text = text;
        entry.length = (int32_t)strlen(text);
        entry.maxLength = 63;
        entry.selectionStart = c.selectionStart;
        entry.selectionEnd = c.selectionEnd;
        entry.cursor = c.cursor;
        entry.displayStart = c.displayStart;
        EXPECT_EQ(CompactTextBuffer(&entry), 0);
        EXPECT_STREQ(text, c.expected) << c.text;
        EXPECT_EQ(entry.length, (int32_t)strlen(c.expected));
        EXPECT_EQ(entry.cursor, c.expectedCursor) << c.text;
        EXPECT_EQ(entry.displayStart, c.expectedDisplayStart) << c.text;
        EXPECT_EQ(entry.selectionStart, -1);
        if (c.selectionStart != -1) {
            EXPECT_EQ(entry.selectionEnd, -1);
        }
    }
}

static std::string WalkFromHead(const ListNode *head, const ListNode *tail)
{
    std::string order;
    const ListNode *node = head->next;
    for (; node != tail && node != NULL; node = node->next) {
        order += *(const char *)node->data;
        EXPECT_EQ(node->next->previous, node) << "links agree both ways";
    }
    EXPECT_EQ(node, tail);
    return order;
}

TEST_F(ContainersTest, ListRunsNewestFirstFromTheHead)
{
    ListNode head, tail, a, b, c;
    EXPECT_EQ(ListInit(&head, &tail), 0);
    EXPECT_EQ(head.previous, nullptr);
    EXPECT_EQ(tail.next, nullptr);
    EXPECT_EQ(head.id, -1);
    EXPECT_EQ(tail.id, -1);
    EXPECT_EQ(WalkFromHead(&head, &tail), "");
    static const char names[] = "ABC";
    ListAddTail(&head, &a, 1, (void *)&names[0]);
    ListAddTail(&head, &b, 2, (void *)&names[1]);
    ListAddTail(&head, &c, 3, (void *)&names[2]);
    EXPECT_EQ(WalkFromHead(&head, &tail), "CBA");
    EXPECT_EQ(b.id, 2);
    ListRemove(&b);
    EXPECT_EQ(WalkFromHead(&head, &tail), "CA");
    EXPECT_EQ(b.previous, &c) << "a removed node keeps its own links";
    ListAddTail(&a, &b, 2, (void *)&names[1]);
    EXPECT_EQ(WalkFromHead(&head, &tail), "CAB") << "added directly after the anchor it is given";
    ListRemove(&c);
    ListRemove(&a);
    ListRemove(&b);
    EXPECT_EQ(WalkFromHead(&head, &tail), "");
}
