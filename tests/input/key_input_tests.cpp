// The key-input table: the editing rules applied from the typed characters, the clipboard codes, handle checks,
// the IME switch going off with the last field, the table's words at start and end, and against stand-in IME
// entries the reset steps and the composition limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../core/test_log.h"
#include "core/core_test_hooks.h"
#include "font/font.h"
#include "input/input_test_hooks.h"

static int s_ShiftHeld;

static int ShiftQuery(int keyCode)
{
    return s_ShiftHeld && (keyCode == 0x2A || keyCode == 0x36);
}

// Stand-ins for the IME entries: the calls are written to s_ImeCalls; the composition reads as s_ImeComposition.
static std::string s_ImeCalls, s_ImeComposition;

// clang-format off
static HIMC WINAPI FakeGetContext(HWND) { return (HIMC)1; }
static BOOL WINAPI FakeReleaseContext(HWND, HIMC) { s_ImeCalls += "release "; return TRUE; }
static BOOL WINAPI FakeSetOpenStatus(HIMC, BOOL open) { s_ImeCalls += open ? "open " : "close "; return TRUE; }
static BOOL WINAPI FakeNotifyIme(HIMC, DWORD action, DWORD index, DWORD)
{ s_ImeCalls += action == NI_COMPOSITIONSTR && index == CPS_CANCEL ? "cancel " : "? "; return TRUE; }
static BOOL WINAPI FakeSetCompositionString(HIMC, DWORD index, LPVOID text, DWORD length, LPVOID, DWORD)
{ s_ImeCalls += (index == SCS_SETSTR ? "set:" : "?:") + std::string((const char *)text, length) + " "; return TRUE; }
static LONG WINAPI FakeGetCompositionString(HIMC, DWORD, LPVOID buffer, DWORD size)
{
    if (buffer != NULL) {
        s_ImeCalls += "read ";
        memcpy(buffer, s_ImeComposition.data(), std::min<size_t>(size, s_ImeComposition.size()));
    }
    return (LONG)s_ImeComposition.size();
}
// clang-format on
#define ENTRY(function) (FARPROC)(void (*)(void)) function
// In the order of the IMM_ indexes; the entries the text entry does not call stay as they are.
static const FARPROC s_ImeStandIns[] = {
    ENTRY(FakeGetContext),          ENTRY(FakeReleaseContext), NULL, NULL,
    ENTRY(FakeNotifyIme),           ENTRY(FakeSetOpenStatus),  NULL, ENTRY(FakeGetCompositionString),
    ENTRY(FakeSetCompositionString)};

class KeyInput : public TestWithLog
{
  protected:
    void SetUp() override
    {
        TestWithLog::SetUp();
        DeleteAllKeyInputHandles();
        InitCharCodeBuffer();
        SetKeyDownQueryForTest(ShiftQuery);
        s_ShiftHeld = 0;
        for (int index = 0; index <= IMM_SET_COMPOSITION_STRING; index++) {
            SetBoundEntryForTest(BOUND_IMM32, index, s_ImeStandIns[index]);
        }
    }
    void TearDown() override
    {
        DeleteAllKeyInputHandles();
        SetKeyDownQueryForTest(NULL);
        for (int index = 0; index <= IMM_SET_COMPOSITION_STRING; index++) {
            SetBoundEntryForTest(BOUND_IMM32, index, NULL);
        }
        TestWithLog::TearDown();
    }
};

// Typed bytes reach the field through the ring and one pump step; a step may be typed with Shift held.
struct Typing {
    int shift;
    std::string bytes;
};

static void Type(const std::vector<Typing> &steps)
{
    for (const Typing &step : steps) {
        s_ShiftHeld = step.shift;
        for (char byte : step.bytes) {
            PushInputChar((unsigned char)byte);
        }
        EXPECT_EQ(ProcessKeyInputChars(), 0);
    }
}

#define A2 "\x82\xa0" // a double-byte character

TEST_F(KeyInput, EditingRules)
{
    const struct {
        const char *name;
        int maxLength, cancelAllowed, singleByteOnly, numbersOnly;
        const char *clipboardBefore; // null: left as it is
        std::vector<Typing> steps;
        const char *text;
        int cursor, selectionStart, selectionEnd, ended, cancelled;
        const char *clipboardAfter; // null: not looked at
    } rows[] = {
        // clang-format off
        {"typing", 10, 0, 0, 0, NULL, {{0, "ab" A2 "c"}}, "ab" A2 "c", 5, -1, -1, 0, 0, NULL},
        {"backspace over a double-byte character", 10, 0, 0, 0, NULL, {{0, "a" A2 "\x08"}}, "a", 1, -1, -1, 0, 0, NULL},
        {"delete at the cursor", 10, 0, 0, 0, NULL, {{0, A2 "b\x1a\x10"}}, "b", 0, -1, -1, 0, 0, NULL},
        {"numbers only", 10, 0, 0, 1, NULL, {{0, "-1.2.x3-" A2}}, "-1.23", 5, -1, -1, 0, 0, NULL},
        {"single byte only", 10, 0, 1, 0, NULL, {{0, "a" A2 "b"}}, "ab", 2, -1, -1, 0, 0, NULL},
        {"a full field drops whole characters", 4, 0, 0, 0, NULL, {{0, "ab" A2 "c"}}, "abc", 3, -1, -1, 0, 0, NULL},
        {"dropping keeps a cursor inside the text", 3, 0, 0, 0, NULL, {{0, "abc\x1a" A2}}, A2 "a", 2, -1, -1, 0, 0,
         NULL},
        {"a character longer than the field", 1, 0, 0, 0, NULL, {{0, A2 "x" A2}}, "x", 1, -1, -1, 0, 0, NULL},
        {"arrows step over double-byte characters", 10, 0, 0, 0, NULL, {{0, A2 "b\x1d\x1d\x1c"}}, A2 "b", 2, -1, -1,
         0, 0, NULL},
        {"shift left selects, typing replaces", 10, 0, 0, 0, NULL, {{1, "abcd\x1d\x1d"}, {0, "X"}}, "abX", 3, -1, -1,
         0, 0, NULL},
        {"shift home selects and copy takes it", 10, 0, 0, 0, NULL, {{0, "abcd\x1d"}, {1, "\x1a\x03"}}, "abcd", 0, 3,
         0, 0, 0, "abc"},
        {"a move without shift drops the selection", 10, 0, 0, 0, NULL, {{1, "ab\x1a"}, {0, "\x19"}}, "ab", 2, -1, -1,
         0, 0, NULL},
        {"cut then paste", 10, 0, 0, 0, NULL, {{1, "hello\x1a\x18"}, {0, "\x16\x16"}}, "hellohello", 10, -1, -1, 0, 0,
         "hello"},
        {"shift delete cuts", 10, 0, 0, 0, NULL, {{1, "ab\x1d\x10"}}, "a", 1, -1, -1, 0, 0, "b"},
        {"delete without shift keeps the clipboard", 10, 0, 0, 0, "keep", {{1, "ab\x1d"}, {0, "\x10"}}, "a", 1, -1,
         -1, 0, 0, "keep"},
        {"a paste code in the clipboard is not pasted again", 10, 0, 0, 0, "x\x16y", {{0, "\x16"}}, "xy", 2, -1, -1,
         0, 0, NULL},
        {"enter ends the field", 10, 0, 0, 0, NULL, {{0, "ab\rcd"}}, "ab", 2, -1, -1, 1, 0, NULL},
        {"escape refused", 10, 0, 0, 0, NULL, {{0, "a\x1b"}}, "a", 1, -1, -1, 0, 0, NULL},
        {"escape cancels", 10, 1, 0, 0, NULL, {{0, "a\x1b"}}, "a", 1, -1, -1, 1, 1, NULL},
        {"tab and up and down do nothing", 10, 0, 0, 0, NULL, {{0, "a\x09\x1e\x1f"}}, "a", 1, -1, -1, 0, 0, NULL},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.clipboardBefore != NULL) {
            ASSERT_EQ(WriteClipboardText(row.clipboardBefore), 0);
        }
        EngineHandle handle =
            CreateKeyInputForTest(row.maxLength, row.cancelAllowed, row.singleByteOnly, row.numbersOnly);
        ASSERT_NE(handle, -1);
        Type(row.steps);
        const KeyInputRecord *record = GetKeyInputRecordForTest(handle);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(std::string(record->text), row.text);
        EXPECT_EQ(record->length, (int)strlen(row.text));
        EXPECT_EQ(record->cursor, row.cursor);
        EXPECT_EQ(record->selectionStart, row.selectionStart);
        EXPECT_EQ(record->selectionEnd, row.selectionEnd);
        EXPECT_EQ((int)record->ended, row.ended);
        EXPECT_EQ((int)record->cancelled, row.cancelled);
        if (row.clipboardAfter != NULL) {
            char clipboard[64] = {};
            ASSERT_LT(ReadClipboardText(NULL), (int)sizeof clipboard);
            EXPECT_EQ(ReadClipboardText(clipboard), 0);
            EXPECT_STREQ(clipboard, row.clipboardAfter);
        }
        EXPECT_EQ(DeleteKeyInputHandle(handle), 0);
        InitCharCodeBuffer();
    }
}

static int s_EnableCalls;
static BOOL s_LastEnable;

static BOOL WINAPI RecordEnableIme(HWND, BOOL enable)
{
    s_EnableCalls++;
    s_LastEnable = enable;
    return TRUE;
}

TEST_F(KeyInput, HandlesAndTheImeGoingOffWithTheLastField)
{
    SetBoundEntryForTest(BOUND_USER32, 0, (FARPROC)(void (*)(void))RecordEnableIme);
    SetIMEEnable(0);
    s_EnableCalls = 0;
    SetIMEEnable(1);
    SetIMEEnable(1);
    EXPECT_EQ(s_EnableCalls, 1) << "the switch calls the system only on a change";
    EngineHandle first = CreateKeyInputForTest(8, 0, 0, 0);
    EngineHandle second = CreateKeyInputForTest(8, 0, 0, 0);
    ASSERT_NE(first, -1);
    ASSERT_NE(second, -1);
    s_EnableCalls = 0;
    const struct {
        const char *name;
        EngineHandle handle;
        int result, enableCalls;
    } rows[] = {
        {"negative", -1, -1, 0},
        {"another table's tag", (first & ~HANDLE_TYPE_BITS) | HANDLE_TYPE_FONT, -1, 0},
        {"slot past the table", (first & ~HANDLE_INDEX_MASK) | 256, -1, 0},
        {"stale check number", first ^ (1 << HANDLE_CHECK_SHIFT), -1, 0},
        {"one of two fields", first, 0, 0},
        {"deleted already", first, -1, 0},
        {"the last field", second, 0, 1},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(DeleteKeyInputHandle(row.handle), row.result) << row.name;
        EXPECT_EQ(s_EnableCalls, row.enableCalls) << row.name;
    }
    EXPECT_EQ(s_LastEnable, FALSE);
    EXPECT_EQ(ProcessKeyInputChars(), 0) << "no active field";
    SetBoundEntryForTest(BOUND_USER32, 0, NULL);
}

TEST_F(KeyInput, TableWordsAtStartAndTheSharedBufferAtTheEnd)
{
    KeyInputTableWords *words = GetKeyInputTableWordsForTest();
    // What the table held before the start-up reset: the whole table goes back to its start words, and a block it
    // owned is freed, not lost.
    const struct {
        const char *name;
        KeyInputTableWords before;
        int sharedBuffer, field;
    } rows[] = {
        {"the words of an earlier run", {3, 7, 99, 1, 0, {}, NULL, 0, 0}, 0, 0},
        {"the composition limits set", {-1, -1, 0, 500, 1, {}, NULL, 1, 4}, 0, 0},
        {"a shared buffer allocated", {-1, -1, 0, 500, 1, {}, NULL, 0, 0}, 1, 0},
        {"a field in use", {-1, -1, 0, 500, 1, {}, NULL, 0, 0}, 0, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const int blocks = GetAllocationCount();
        *words = row.before;
        if (row.sharedBuffer) {
            words->sharedBuffer = ENGINE_ALLOC(64);
        }
        EngineHandle field = row.field ? CreateKeyInputForTest(8, 0, 0, 0) : -1;
        InitCharCodeBuffer();
        EXPECT_TRUE(words->activeHandle == -1 && words->secondHandle == -1 && words->blinkStartTime == 0 &&
                    words->blinkPeriod == 500 && words->cursorVisible == 1);
        EXPECT_TRUE(words->sharedBuffer == nullptr && words->limitToField == 0 && words->compositionLimit == 0);
        EXPECT_EQ(GetAllocationCount(), blocks) << "a block the table owned was lost";
        if (row.field) {
            EXPECT_EQ(GetKeyInputRecordForTest(field), nullptr);
        }
    }
    const int blocks = GetAllocationCount();
    words->sharedBuffer = ENGINE_ALLOC(64);
    EXPECT_EQ(DeleteAllKeyInputHandles(), 0);
    EXPECT_TRUE(words->sharedBuffer == nullptr && GetAllocationCount() == blocks) << "the shared buffer was freed";
}

// A pass runs the IME reset from the counter's step to the fourth (step 1 saves and cancels the composition, step 4
// gives the saved one back), then cuts the composition to the room the limits leave in an open field.
TEST_F(KeyInput, ImeResetStepsAndCompositionLimits)
{
    const struct {
        int step, limitToField, compositionLimit, maxLength;
        const char *typed, *composition, *calls;
    } rows[] = {
        {0, 0, 0, 8, "", "abc", ""},
        {1, 0, 0, 8, "", "abc", "read cancel release close release open release open set:abc release "},
        {3, 0, 0, 8, "", "xyz", "open release open set:abc release "}, // what step 1 saved
        {0, 1, 0, 6, "ab", A2 A2 A2, "read cancel set:" A2 A2 " release "},
        {0, 1, 0, 5, "ab", A2 A2, "read cancel set:" A2 " release "}, // at a character boundary
        {0, 0, 3, 10, "", "abcd", "read cancel set:abc release "},
        {0, 1, 2, 10, "ab", "abcd", "read cancel set:ab release "}, // the smaller limit
        {0, 0, 5, 2, "ab", "abcd", ""},                             // the field's room not asked for
        {0, 1, 0, 4, "abcd", "x", "read cancel set: release "},
        {0, 1, 0, 4, "ab", "cd", ""},                              // exactly the field's room: not cut
        {0, 0, 3, 10, "", "abc", ""},                              // exactly the global limit: not cut
        {0, 1, 2, 4, "ab", "cdef", "read cancel set:cd release "}, // both limits equal
        {0, 1, 1, 4, "ab", "cd", "read cancel set:c release "},    // the global limit one below the room
        {0, 1, 0, 4, "ab\r", "abcdef", ""},                        // an ended field
    };
    KeyInputTableWords *words = GetKeyInputTableWordsForTest();
    for (const auto &row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows) + ": " + row.calls);
        EngineHandle handle = CreateKeyInputForTest(row.maxLength, 0, 0, 0);
        Type({{0, row.typed}});
        words->limitToField = row.limitToField;
        words->compositionLimit = row.compositionLimit;
        s_ImeComposition = row.composition;
        HandleImeMessage(WM_IME_COMPOSITION, NULL, 0, GCS_COMPSTR); // the engine's copy, as the window takes it
        s_ImeCalls.clear();
        SetImeResetStepForTest(row.step);
        EXPECT_EQ(ProcessKeyInputChars(), 0);
        EXPECT_EQ(s_ImeCalls, row.calls);
        EXPECT_STREQ(GetImeCompositionText(), row.step == 1 ? "" : row.composition);
        if (row.step != 0) {
            ProcessKeyInputChars();
            EXPECT_EQ(s_ImeCalls, row.calls) << "the counter is idle after its pass";
        }
        DeleteKeyInputHandle(handle);
    }
    words->limitToField = words->compositionLimit = 0;
}
