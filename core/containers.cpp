// Small containers shared across the engine: the growable byte ring (network connections, soft-sound players),
// the fixed typed-character ring and the record of text-input activity (window thread only: the window
// procedure and the IME handler fill them, text entry drains them), the routines of text entry that work on
// the text itself, and the intrusive list with head and tail sentinels (sound tables). Nothing here locks: each
// ring or list belongs to one owner that uses it from one thread at a time.
#include "core/core.h"
#include "font/font.h"
#include "input/input.h"

#include <string.h>

// ---------------------------------------------------------------------------------------------------------------
// Growable byte ring.

void ResetRingPositionsAtEnd(RingBuffer *ring)
{
    if (ring->readPosition == ring->capacity) {
        ring->readPosition = 0;
    }
    if (ring->writePosition == ring->capacity) {
        ring->writePosition = 0;
    }
}

// Copies count bytes that start at the given position and may wrap at the capacity.
static void CopyOutOfRing(const RingBuffer *ring, int position, unsigned char *destination, int count)
{
    int first = ring->capacity - position;
    if (count <= first) {
        memcpy(destination, ring->data + position, count);
    } else {
        memcpy(destination, ring->data + position, first);
        memcpy(destination + first, ring->data, count - first);
    }
}

static int LogRingGrowthFailure(long long triedSize)
{
    return LogFormatLine("リングバッファの再確保に失敗しました(確保しようとしたサイズ %lld byte)", triedSize);
}

int RingBufferReserve(RingBuffer *ring, int count)
{
    ResetRingPositionsAtEnd(ring);
    if (count < 0) {
        return -1;
    }
    if ((long long)ring->capacity >= (long long)ring->stored + count) {
        return 0;
    }
    long long newCapacity = (long long)ring->stored * 3 / 2 + count + 1000;
    if (newCapacity > 0x7FFFFFFF) {
        // Refused before anything is touched: the stored bytes stay.
        return LogRingGrowthFailure(newCapacity);
    }
    unsigned char *data = (unsigned char *)AllocMemory((size_t)newCapacity, NULL, 0);
    if (data == NULL) {
        ReleaseRingBuffer(ring);
        return LogRingGrowthFailure(newCapacity);
    }
    if (ring->stored > 0) {
        CopyOutOfRing(ring, ring->readPosition, data, ring->stored);
    }
    FreeMemory(ring->data);
    ring->data = data;
    ring->readPosition = 0;
    ring->writePosition = ring->stored;
    ring->capacity = (int)newCapacity;
    return 0;
}

int RingBufferRead(RingBuffer *ring, void *destination, int count, int peek)
{
    if (count < 0 || ring->stored < count) {
        return -1;
    }
    ResetRingPositionsAtEnd(ring);
    if (count == 0) {
        return 0;
    }
    CopyOutOfRing(ring, ring->readPosition, (unsigned char *)destination, count);
    if (!peek) {
        ring->readPosition += count;
        if (ring->readPosition >= ring->capacity) {
            ring->readPosition -= ring->capacity;
        }
        ring->stored -= count;
    }
    return 0;
}

int ReleaseRingBuffer(RingBuffer *ring)
{
    FreeMemory(ring->data);
    memset(ring, 0, sizeof *ring);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Typed-character ring and text-input activity.

static InputCharRing s_InputCharRing;

static struct {
    int active;
    int time; // GetNowMilliCount at the last activity
} s_TextInputActivity;

// The control codes the window procedure makes from the cursor and editing keys.
static const unsigned char s_EditKeyCodes[] = {0x10, 0x1D, 0x1C, 0x1E, 0x1F, 0x1A, 0x19, 0x17, 0x15};

InputCharRing *GetInputCharRing(void)
{
    return &s_InputCharRing;
}

int PushInputChar(unsigned char byte)
{
    InputCharRing *ring = &s_InputCharRing;
    int next = ring->writeIndex + 1 == INPUT_CHAR_RING_SLOTS ? 0 : ring->writeIndex + 1;
    if (next == ring->readIndex) {
        return -1; // full: the byte is dropped
    }
    ring->bytes[ring->writeIndex] = byte;
    ring->writeIndex = next;
    return 0;
}

int IsKeyInTable(unsigned char byte)
{
    return memchr(s_EditKeyCodes, byte, sizeof s_EditKeyCodes) != NULL;
}

int MbByteOffsetToCharCount(const char *text, int bytes)
{
    CharSetId charSet = GetEngineCharSet();
    int characters = 0;
    for (int p = 0; p < bytes && text[p] != '\0'; characters++) {
        p += (IsMultiByteLeadByte(text + p, charSet) && text[p + 1] != '\0') ? 2 : 1;
    }
    return characters;
}

int StartInputTimer(void)
{
    s_TextInputActivity.time = GetNowMilliCount();
    s_TextInputActivity.active = 1;
    return 0;
}

int GetTextInputActivity(int *time)
{
    if (time != NULL) {
        *time = s_TextInputActivity.time;
    }
    return s_TextInputActivity.active;
}

void ClearTextInputActivity(void)
{
    s_TextInputActivity.active = 0;
    s_TextInputActivity.time = 0;
}

int CompactTextBuffer(KeyInputRecord *entry)
{
    if (entry->selectionStart == -1) {
        return 0;
    }
    int low = entry->selectionStart < entry->selectionEnd ? entry->selectionStart : entry->selectionEnd;
    int high = entry->selectionStart < entry->selectionEnd ? entry->selectionEnd : entry->selectionStart;
    // Selection ends outside the text are held to it, so that a stale selection cannot move bytes from outside.
    low = low < 0 ? 0 : (low > entry->length ? entry->length : low);
    high = high < low ? low : (high > entry->length ? entry->length : high);
    memmove(entry->text + low, entry->text + high, entry->length - high);
    entry->length -= high - low;
    entry->text[entry->length] = '\0';
    entry->cursor = low;
    entry->selectionStart = -1;
    entry->selectionEnd = -1;
    if (entry->displayStart > (uint32_t)entry->length) {
        entry->displayStart = (uint32_t)entry->length;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Intrusive list: nodes run from the head sentinel to the tail sentinel.

int ListInit(ListNode *head, ListNode *tail)
{
    head->id = -1;
    head->data = NULL;
    head->previous = NULL;
    head->next = tail;
    tail->id = -1;
    tail->data = NULL;
    tail->previous = head;
    tail->next = NULL;
    return 0;
}

int ListAddTail(ListNode *anchor, ListNode *node, int id, void *data)
{
    node->id = id;
    node->data = data;
    node->previous = anchor;
    node->next = anchor->next;
    anchor->next->previous = node;
    anchor->next = node;
    return 0;
}

int ListRemove(ListNode *node)
{
    node->previous->next = node->next;
    node->next->previous = node->previous;
    return 0;
}
