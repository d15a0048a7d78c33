// Pieces of the engine core that need no window: the character set chosen from the code page, the movie colour
// tables, the empty movie table, the IME string reads, the menu walk and the display-mode list.
#include <gtest/gtest.h>

#include <string.h>

#include "core/window_state.h"
#include "font/font.h"
#include "graphics/graphics.h"
#include "media/media.h"
#include "core/core_test_hooks.h"

TEST(CharSet, ChosenFromTheOemCodePage)
{
    const struct {
        int oemCodePage, charSet, codePage;
    } cases[] = {{932, CHARSET_SHIFTJIS, 932}, {936, CHARSET_GB2312, 936},  {949, CHARSET_HANGEUL, 949},
                 {950, CHARSET_BIG5, 950},     {1252, CHARSET_SHIFTJIS, 0}, {437, CHARSET_SHIFTJIS, 0}};
    for (const auto &c : cases) {
        int codePage = -1;
        EXPECT_EQ(CharSetFromCodePage(c.oemCodePage, &codePage), c.charSet) << c.oemCodePage;
        EXPECT_EQ(codePage, c.codePage) << c.oemCodePage;
    }
}

TEST(MovieTables, ColourTablesMatchTheFactors)
{
    ASSERT_EQ(InitYuvToRgbTables(), 0);
    const YuvToRgbTables *tables = GetYuvToRgbTables();
    for (int value = -512; value <= 767; value++) {
        int expected = value;
        if (expected < 0) {
            expected = 0;
        }
        if (expected > 255) {
            expected = 255;
        }
        ASSERT_EQ(tables->clamp[value + 512], expected) << value;
    }
    // Worked values of the five factor tables: 26148, -6406, -13320, 33062 around 128 and 19070 from 16.
    const struct {
        const int *table;
        int index, expected;
    } cases[] = {
        {tables->crToRed, 0, -3346944},
        {tables->crToRed, 128, 0},
        {tables->crToRed, 255, 3320796},
        {tables->cbToGreen, 0, 819968},
        {tables->cbToGreen, 255, -813562},
        {tables->crToGreen, 128, 0},
        {tables->crToGreen, 0, 1704960},
        {tables->crToGreen, 255, -1691640},
        {tables->cbToBlue, 0, -4231936},
        {tables->cbToBlue, 255, 4198874},
        {tables->luma, 16, 0},
        {tables->luma, 0, -305120},
        {tables->luma, 235, 4176330},
        {tables->luma, 255, 4557730},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.table[c.index], c.expected) << c.index;
    }
    for (int i = 1; i < 256; i++) {
        ASSERT_EQ(tables->crToRed[i] - tables->crToRed[i - 1], 26148) << i;
        ASSERT_EQ(tables->cbToGreen[i] - tables->cbToGreen[i - 1], -6406) << i;
        ASSERT_EQ(tables->crToGreen[i] - tables->crToGreen[i - 1], -13320) << i;
        ASSERT_EQ(tables->cbToBlue[i] - tables->cbToBlue[i - 1], 33062) << i;
        ASSERT_EQ(tables->luma[i] - tables->luma[i - 1], 19070) << i;
    }
}

TEST(MovieTable, EveryCallOnTheEmptyTableAnswersWithoutEffect)
{
    const EngineHandle wrong[] = {-1,
                                  0,
                                  MakeEngineHandle(HANDLE_TYPE_MOVIE, 0, 0),
                                  MakeEngineHandle(HANDLE_TYPE_MOVIE, 3, 99),
                                  MakeEngineHandle(HANDLE_TYPE_MOVIE, 0, 100),
                                  MakeEngineHandle(HANDLE_TYPE_GRAPH, 0, 0)};
    for (EngineHandle handle : wrong) {
        EXPECT_EQ(CloseMovie(handle), -1) << std::hex << handle;
        EXPECT_EQ(UpdateMovie(handle, 0), -1) << std::hex << handle;
    }
    EXPECT_EQ(PauseAllMovies(), 0);
    EXPECT_EQ(ResumeAllMovies(), 0);
    EXPECT_EQ(DrawAllWindowMovies(), 0);
}

// A stand-in for the IME's string call: it hands over a string of a given length, as the real one does (size
// query with a zero length, else at most the given length).
static LONG s_FakeLength;

static LONG WINAPI FakeImeString(HIMC, DWORD, LPVOID buffer, DWORD length)
{
    if (s_FakeLength < 0 || length == 0) {
        return s_FakeLength;
    }
    LONG count = s_FakeLength < (LONG)length ? s_FakeLength : (LONG)length;
    for (LONG i = 0; i < count; i++) {
        ((char *)buffer)[i] = (char)('a' + i % 26);
    }
    return count;
}

TEST(ImeStrings, AreCutToTheirBufferAndTerminated)
{
    const struct {
        LONG length;
        int expected;
    } cases[] = {{0, 0}, {-1, 0}, {6, 6}, {1023, 1023}, {1024, 1023}, {5000, 1023}};
    for (const auto &c : cases) {
        s_FakeLength = c.length;
        struct {
            char text[1024];
            char guard[16];
        } buffer;
        memset(&buffer, 0x7E, sizeof(buffer));
        int read = ReadImeString(FakeImeString, NULL, GCS_COMPSTR, buffer.text, sizeof(buffer.text));
        EXPECT_EQ(read, c.expected) << c.length;
        EXPECT_EQ(buffer.text[c.expected], '\0') << c.length;
        EXPECT_EQ((int)strlen(buffer.text), c.expected) << c.length;
        for (char byte : buffer.guard) {
            ASSERT_EQ(byte, 0x7E) << "written past the buffer for length " << c.length;
        }
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

TEST(MenuItems, TheWalkStopsWhenItsTableIsFull)
{
    const struct {
        int items, separators, subItems, expected;
    } cases[] = {{5, 0, 0, 5}, {5, 3, 0, 5}, {4, 0, 3, 8}, {128, 0, 0, 128}, {200, 0, 0, 128}, {120, 0, 20, 128}};
    // A sub-menu is an item of its own besides the items it holds.
    for (const auto &c : cases) {
        HMENU menu = CreateMenu();
        char name[32];
        for (int i = 0; i < c.items; i++) {
            wsprintfA(name, "item %d", i);
            AppendMenuA(menu, MF_STRING, 100 + i, name);
            if (i < c.separators) {
                AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
            }
        }
        if (c.subItems > 0) {
            HMENU sub = CreatePopupMenu();
            for (int i = 0; i < c.subItems; i++) {
                wsprintfA(name, "sub %d", i);
                AppendMenuA(sub, MF_STRING, 1000 + i, name);
            }
            AppendMenuA(menu, MF_POPUP, (UINT_PTR)sub, "sub-menu");
        }
        EXPECT_EQ(EnumerateMenuItems(menu), 0);
        EXPECT_EQ(GetMenuItemRecordCount(), c.expected) << c.items << " items, " << c.subItems << " in a sub-menu";
        DestroyMenu(menu);
    }
    EXPECT_EQ(EnumerateMenuItems(NULL), -1) << "no menu to count";
}

TEST(DisplayModes, IndexesOutsideTheListGiveMinusOnes)
{
    int count = GetDisplayModeCount();
    const int indexes[] = {-1, count, count + 5};
    for (int index : indexes) {
        DisplayModeRecord mode = GetDisplayModeAt(index);
        EXPECT_EQ(mode.width, -1) << index;
        EXPECT_EQ(mode.height, -1) << index;
        EXPECT_EQ(mode.bits, -1) << index;
        EXPECT_EQ(mode.refresh, -1) << index;
    }
    for (int i = 0; i < count; i++) {
        DisplayModeRecord mode = GetDisplayModeAt(i);
        EXPECT_GE(mode.bits, 16) << "only modes of 16 bits or more are listed";
        EXPECT_EQ(HasDisplayMode(mode.width, mode.height, mode.bits), 1);
    }
    EXPECT_EQ(HasDisplayMode(123, 45, 32), 0);
    ReleaseDisplayModeList();
}
