// The key-input table: text-entry fields edited on every pass of the message pump from the typed characters, with
// selection, clipboard copy, cut and paste, and the numbers-only and single-byte-only rules; the IME composition is
// kept within the limits. The table is reset at start-up and emptied at the end; the IME goes off when the last
// field goes. Window thread only.
#include "input/input_internal.h"

#include <string.h>

#include "font/font.h"
#include "graphics/graphics.h"
#include "input/input_test_hooks.h"

#define KEY_INPUT_SLOTS 256
#define KEY_LEFT_SHIFT 0x2A
#define KEY_RIGHT_SHIFT 0x36

static KeyInputRecord s_Records[KEY_INPUT_SLOTS];
static KeyInputTableWords s_Table = {-1, -1, 0, 500, 1, {}, NULL, 0, 0};
static int s_NextCheckNumber;
static KeyDownQuery s_KeyDownQuery = IsKeyDown;

int InitCharCodeBuffer(void)
{
    AddLog("文字コードバッファの初期化を行います... ");
    MemFill(GetInputCharRing(), 0, sizeof(InputCharRing));
    ClearImeComposition();
    // The whole table is zeroed. The blocks it owns are freed first, as the IME buffers' candidate list is: the
    // engine's start finds none (the table starts empty, and the engine's end has freed them), but a second reset
    // must not lose them.
    for (KeyInputRecord &record : s_Records) {
        FreeMemory(record.text);
    }
    FreeMemory(s_Table.sharedBuffer);
    MemFill(s_Records, 0, sizeof(s_Records));
    MemFill(&s_Table, 0, sizeof(s_Table));
    static const unsigned char colors[15][3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 0},  {0, 255, 255},
                                                {255, 255, 255}, {255, 0, 0},     {255, 255, 20}, {0, 0, 0},
                                                {0, 0, 0},       {0, 0, 0},       {255, 255, 0},  {0, 0, 0},
                                                {255, 255, 255}, {0, 0, 0},       {128, 128, 128}};
    for (int i = 0; i < 15; i++) {
        s_Table.colors[i] = MakeScreenColor(colors[i][0], colors[i][1], colors[i][2]);
    }
    s_Table.activeHandle = -1;
    s_Table.secondHandle = -1;
    s_Table.blinkStartTime = 0;
    s_Table.blinkPeriod = 500;
    s_Table.cursorVisible = 1;
    AddLog("完了しました\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Handles.

static KeyInputRecord *GetKeyInputRecord(EngineHandle handle)
{
    if (handle < 0 || (handle & HANDLE_TYPE_BITS) != HANDLE_TYPE_KEY_INPUT) {
        return NULL;
    }
    int slot = handle & HANDLE_INDEX_MASK;
    if (slot >= KEY_INPUT_SLOTS || !s_Records[slot].used ||
        s_Records[slot].checkNumber != (uint32_t)((handle & HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT)) {
        return NULL;
    }
    return &s_Records[slot];
}

static int IsAnyKeyInputUsed(void)
{
    for (const KeyInputRecord &record : s_Records) {
        if (record.used) {
            return 1;
        }
    }
    return 0;
}

static EngineHandle HandleOfSlot(int slot)
{
    return MakeEngineHandle(HANDLE_TYPE_KEY_INPUT, (int)s_Records[slot].checkNumber, slot);
}

int DeleteKeyInputHandle(EngineHandle handle)
{
    KeyInputRecord *record = GetKeyInputRecord(handle);
    if (record == NULL) {
        return -1;
    }
    FreeMemory(record->text);
    MemFill(record, 0, sizeof(*record));
    if (s_Table.activeHandle == handle) {
        s_Table.activeHandle = -1;
    }
    if (!IsAnyKeyInputUsed()) {
        SetIMEEnable(0);
    }
    return 0;
}

int DeleteAllKeyInputHandles(void)
{
    for (int slot = 0; slot < KEY_INPUT_SLOTS; slot++) {
        if (s_Records[slot].used) {
            DeleteKeyInputHandle(HandleOfSlot(slot));
        }
    }
    FreeMemory(s_Table.sharedBuffer);
    s_Table.sharedBuffer = NULL;
    s_Table.activeHandle = -1;
    return 0;
}

EngineHandle CreateKeyInputForTest(int maxLength, int cancelAllowed, int singleByteOnly, int numbersOnly)
{
    int slot = 0;
    while (slot < KEY_INPUT_SLOTS && s_Records[slot].used) {
        slot++;
    }
    if (slot == KEY_INPUT_SLOTS || maxLength < 1) {
        return -1;
    }
    char *text = (char *)ENGINE_ALLOC_ZEROED((size_t)maxLength + 1);
    if (text == NULL) {
        return -1;
    }
    KeyInputRecord *record = &s_Records[slot];
    MemFill(record, 0, sizeof(*record));
    record->used = 1;
    record->checkNumber = (uint32_t)s_NextCheckNumber;
    s_NextCheckNumber = (s_NextCheckNumber + 1) % HANDLE_CHECK_LIMIT;
    record->maxLength = maxLength;
    record->selectionStart = -1;
    record->selectionEnd = -1;
    record->text = text;
    record->cancelAllowed = (uint32_t)cancelAllowed;
    record->singleByteOnly = (uint32_t)singleByteOnly;
    record->numbersOnly = (uint32_t)numbersOnly;
    s_Table.activeHandle = HandleOfSlot(slot);
    return s_Table.activeHandle;
}

const KeyInputRecord *GetKeyInputRecordForTest(EngineHandle handle)
{
    return GetKeyInputRecord(handle);
}

KeyInputTableWords *GetKeyInputTableWordsForTest(void)
{
    return &s_Table;
}

void SetKeyDownQueryForTest(KeyDownQuery query)
{
    s_KeyDownQuery = query != NULL ? query : IsKeyDown;
}

// ---------------------------------------------------------------------------------------------------------------
// Editing.

// The size of the character that ends just before position (1 or 2 bytes).
static int CharSizeBefore(const KeyInputRecord *record, int position)
{
    return IsDoubleByteCharAt(record->text, position - 1, GetEngineCharSet()) == 2 ? 2 : 1;
}

// The size of the character that starts at position (1 or 2 bytes).
static int CharSizeAt(const KeyInputRecord *record, int position)
{
    return IsDoubleByteCharAt(record->text, position, GetEngineCharSet()) == 1 ? 2 : 1;
}

static void RemoveBytes(KeyInputRecord *record, int position, int count)
{
    MemMove(record->text + position, record->text + position + count, (size_t)(record->length - position - count));
    record->length -= count;
    record->text[record->length] = '\0';
}

static int HasSelection(const KeyInputRecord *record)
{
    return record->selectionStart != -1;
}

static int IsShiftHeld(void)
{
    return s_KeyDownQuery(KEY_LEFT_SHIFT) || s_KeyDownQuery(KEY_RIGHT_SHIFT);
}

static void CopySelection(const KeyInputRecord *record)
{
    if (!HasSelection(record)) {
        return;
    }
    int low = record->selectionStart < record->selectionEnd ? record->selectionStart : record->selectionEnd;
    int high = record->selectionStart < record->selectionEnd ? record->selectionEnd : record->selectionStart;
    char *copy = (char *)ENGINE_ALLOC((size_t)(high - low) + 1);
    if (copy == NULL) {
        return;
    }
    MemCopy(copy, record->text + low, (size_t)(high - low));
    copy[high - low] = '\0';
    WriteClipboardText(copy);
    FreeMemory(copy);
}

// The clipboard text comes back through the character ring as if typed. A paste code inside it is left out: it
// would paste again for ever.
static void PasteClipboard(void)
{
    int size = ReadClipboardText(NULL);
    if (size <= 0) {
        return;
    }
    char *text = (char *)ENGINE_ALLOC_ZEROED((size_t)size + 1);
    if (text == NULL) {
        return;
    }
    if (ReadClipboardText(text) == 0) {
        for (const char *p = text; *p != '\0'; p++) {
            if (*p != 0x16) {
                PushInputChar((unsigned char)*p);
            }
        }
    }
    FreeMemory(text);
}

static void MoveCursor(KeyInputRecord *record, int position)
{
    if (IsShiftHeld()) {
        if (!HasSelection(record)) {
            record->selectionStart = record->cursor;
        }
        record->selectionEnd = position;
    } else {
        record->selectionStart = -1;
        record->selectionEnd = -1;
    }
    record->cursor = position;
}

static void DeleteAtCursor(KeyInputRecord *record)
{
    if (HasSelection(record)) {
        if (IsShiftHeld()) {
            CopySelection(record);
        }
        CompactTextBuffer(record);
    } else if (record->cursor < record->length) {
        RemoveBytes(record, record->cursor, CharSizeAt(record, record->cursor));
    }
}

static void DeleteBeforeCursor(KeyInputRecord *record)
{
    if (HasSelection(record)) {
        CompactTextBuffer(record);
    } else if (record->cursor > 0) {
        int size = CharSizeBefore(record, record->cursor);
        record->cursor -= size;
        RemoveBytes(record, record->cursor, size);
    }
}

static int IsCharAccepted(const KeyInputRecord *record, const char *character, int size)
{
    if (size > record->maxLength) {
        return 0; // it could never fit, however much text were dropped
    }
    if (record->numbersOnly) {
        char c = character[0];
        return size == 1 && ((c >= '0' && c <= '9') || (c == '-' && record->cursor == 0) ||
                             (c == '.' && strchr(record->text, '.') == NULL));
    }
    return size == 1 || !record->singleByteOnly;
}

static void InsertChar(KeyInputRecord *record, const char *character, int size)
{
    CompactTextBuffer(record);
    if (!IsCharAccepted(record, character, size)) {
        return;
    }
    while (record->length + size > record->maxLength) {
        int last = CharSizeBefore(record, record->length);
        RemoveBytes(record, record->length - last, last);
        if (record->cursor > record->length) {
            record->cursor = record->length;
        }
    }
    MemMove(record->text + record->cursor + size, record->text + record->cursor,
            (size_t)(record->length - record->cursor + 1));
    MemCopy(record->text + record->cursor, character, (size_t)size);
    record->cursor += size;
    record->length += size;
}

// The editing codes; 1 when the byte was one of them, 0 when it is to be inserted like a character.
static int ApplyEditCode(KeyInputRecord *record, char code)
{
    switch (code) {
    case 0x03:
        CopySelection(record);
        return 1;
    case 0x08:
        DeleteBeforeCursor(record);
        return 1;
    case 0x0D:
        record->ended = 1;
        return 1;
    case 0x10:
        DeleteAtCursor(record);
        return 1;
    case 0x16:
        PasteClipboard();
        return 1;
    case 0x18:
        CopySelection(record);
        CompactTextBuffer(record);
        return 1;
    case 0x1B:
        if (record->cancelAllowed) {
            record->cancelled = 1;
            record->ended = 1;
        }
        return 1;
    case 0x1C:
        MoveCursor(record, record->cursor < record->length ? record->cursor + CharSizeAt(record, record->cursor)
                                                           : record->cursor);
        return 1;
    case 0x1D:
        MoveCursor(record, record->cursor > 0 ? record->cursor - CharSizeBefore(record, record->cursor) : 0);
        return 1;
    case 0x1A:
        MoveCursor(record, 0);
        return 1;
    case 0x19:
        MoveCursor(record, record->length);
        return 1;
    case 0x09:
    case 0x1E:
    case 0x1F:
        return 1;
    }
    return 0;
}

// A composition longer than the room the limits leave is cut to it.
static void LimitComposition(const KeyInputRecord *record)
{
    int room = -1;
    if (s_Table.limitToField) {
        room = record->maxLength - record->length;
    }
    if (s_Table.compositionLimit != 0 && (room == -1 || s_Table.compositionLimit < room)) {
        room = s_Table.compositionLimit < 0 ? 0 : s_Table.compositionLimit;
    }
    if (room != -1 && lstrlenA(GetImeCompositionText()) > room) {
        CutImeComposition(room);
    }
}

int ProcessKeyInputChars(void)
{
    RunImeResetSteps();
    if (s_Table.activeHandle == -1) {
        return 0;
    }
    KeyInputRecord *record = GetKeyInputRecord(s_Table.activeHandle);
    if (record == NULL) {
        return -1;
    }
    if (record->ended) {
        return 0;
    }
    LimitComposition(record);
    char character[2];
    int size;
    while (!record->ended && (size = GetInputChar(character, 1)) != 0) {
        StartInputTimer();
        if (size == 2 || !ApplyEditCode(record, character[0])) {
            InsertChar(record, character, size);
        }
    }
    return 0;
}
