// String, memory, number and path helpers, and resources of the executable.
#include <gtest/gtest.h>

#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/core.h"
#include "file/file.h"
#include "font/font.h"

class HelpersTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetEngineCharSet(CHARSET_SHIFTJIS);
    }
};

TEST_F(HelpersTest, CopiesStopAtTheTerminatorOrTheCount)
{
    const struct {
        const char *source;
        int count;
        const char *expected;
    } cases[] = {
        {"hello", 3, "hel"}, {"hello", 5, "hello"}, {"hi", 10, "hi"}, {"hello", 0, ""}, {"hello", -4, ""},
    };
    for (const auto &c : cases) {
        char buffer[16];
        memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(StrCopyN(buffer, c.source, c.count), buffer);
        EXPECT_STREQ(buffer, c.expected) << c.source << " " << c.count;
        EXPECT_EQ(buffer[strlen(c.expected) + 1], 'Z') << "nothing written past the terminator";
    }
    char buffer[16];
    EXPECT_STREQ(StrCopy(buffer, "copy me"), "copy me");
}

TEST_F(HelpersTest, FindAndUpperCaseSkipDoubleByteCharacters)
{
    const struct {
        const char *text;
        int byte;
        int foundAt; // -1: not found
    } finds[] = {
        {"a\\b", '\\', 1},
        {"表\\x", '\\', 2}, // 0x95 0x5C: the trail byte is not the backslash
        {"表示", 0x5C, -1},
        {"", 'a', -1},
        {"abc", 'c', 2},
        {"\x81"
         "a"
         "a",
         'a', 2}, // the first "a" is a trail byte
        {"abc", 'z', -1},
    };
    for (const auto &c : finds) {
        const char *found = StrFindCharMb(c.text, c.byte);
        EXPECT_EQ(found == NULL ? -1 : (int)(found - c.text), c.foundAt) << c.text;
    }

    const struct {
        const char *text;
        const char *upper;
    } uppers[] = {
        {"abc xyz{}`", "ABC XYZ{}`"},
        {"\x82"
         "a"
         "b",
         "\x82"
         "a"
         "B"},        // "a" after a lead byte is a trail byte: unchanged
        {"ｱa", "ｱA"}, // half-width katakana are single bytes
        {"表s", "表S"},
        {"", ""},
    };
    for (const auto &c : uppers) {
        char buffer[32];
        StrCopy(buffer, c.text);
        char *end = StrToUpperMb(buffer);
        EXPECT_STREQ(buffer, c.upper);
        EXPECT_EQ(end, buffer + strlen(buffer)) << "the result points at the terminator";
    }
}

TEST_F(HelpersTest, ComparisonsAnswerZeroOrOne)
{
    const struct {
        const char *a, *b;
        int count;
        int equal, equalN;
    } cases[] = {
        {"abc", "abc", 3, 0, 0}, {"abc", "abd", 2, 1, 0}, {"abc", "abd", 3, 1, 1}, {"abc", "abcd", 4, 1, 1},
        {"b", "a", 0, 1, 0},     {"a", "a", -1, 0, 1},    {"", "", 1, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(StrCompare(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(StrCompareN(c.a, c.b, c.count), c.equalN) << c.a << " " << c.b << " " << c.count;
    }
    // The count is exact: bytes after equal terminators are compared too.
    EXPECT_EQ(StrCompareN("a\0x", "a\0y", 3), 1);
    EXPECT_EQ(MemCompare("ab", "ac", 0), 0);
    EXPECT_EQ(MemCompare("ab", "ac", 2), 1);
    EXPECT_EQ(MemCompare("ab", "ab", 2), 0);
}

// Digits by repeated division on a 64-bit magnitude, the way a person writes them.
static std::string ReferenceDigits(long long value, int radix)
{
    const char *digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long magnitude = value < 0 ? -value : value;
    std::string text;
    do {
        text.insert(text.begin(), digits[magnitude % radix]);
        magnitude /= radix;
    } while (magnitude != 0);
    return value < 0 ? "-" + text : text;
}

TEST_F(HelpersTest, IntToStringWritesEveryRadixAndRefusesBadOnes)
{
    const struct {
        int value, radix;
        const char *expected;
    } cases[] = {
        {-255, 16, "-ff"},
        {0, 10, "0"},
        {10, 16, "a"},
        {35, 36, "z"},
        {5, 2, "101"},
        {-2147483647 - 1, 10, "-2147483648"},
        {2147483647, 16, "7fffffff"},
        {12, 1, ""},
        {12, 0, ""},
        {12, -10, ""},
        {12, 37, ""},
    };
    for (const auto &c : cases) {
        char buffer[40];
        memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(IntToString(c.value, buffer, c.radix), buffer);
        EXPECT_STREQ(buffer, c.expected) << c.value << " radix " << c.radix;
    }
    srand(7);
    for (int i = 0; i < 20000; i++) {
        int value = (int)(((unsigned)rand() << 20) ^ ((unsigned)rand() << 8) ^ (unsigned)rand());
        int radix = 2 + i % 35;
        char buffer[40];
        ASSERT_EQ(std::string(IntToString(value, buffer, radix)), ReferenceDigits(value, radix))
            << value << " radix " << radix;
    }
}

TEST_F(HelpersTest, FormattingIsBoundedAndTerminated)
{
    const struct {
        size_t size;
        const char *expected;
        int length;
    } cases[] = {{32, "value 12345 end", 15}, {8, "value 1", 7}, {1, "", 0}};
    for (const auto &c : cases) {
        char buffer[40];
        memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(SprintfWrap(buffer, c.size, "value %d %s", 12345, "end"), 0);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(buffer[c.size], 'Z') << "nothing written past the buffer";
    }
}

TEST_F(HelpersTest, FormattingCutsBeforeAWholeDoubleByteCharacter)
{
    // "表" is 0x95 0x5C and "示" 0x8E 0xA6 in Shift-JIS; "ｱ" is the single byte 0xB1.
    const struct {
        size_t size;
        const char *expected;
    } cases[] = {
        {2, "a"}, {3, "a"}, {4, "a表"}, {5, "a表"}, {6, "a表示"}, {7, "a表示ｱ"}, {8, "a表示ｱb"}, {9, "a表示ｱb"},
    };
    for (const auto &c : cases) {
        char buffer[16];
        EXPECT_EQ(SprintfWrap(buffer, c.size, "a%sb", "表示ｱ"), 0);
        EXPECT_STREQ(buffer, c.expected) << c.size;
    }
    // With a character set whose lead bytes are every high byte, the half-width byte leads as well.
    SetEngineCharSet(CHARSET_HANGEUL);
    char buffer[16];
    SprintfWrap(buffer, 7, "a%sb", "表示ｱ");
    EXPECT_STREQ(buffer, "a表示");
}

TEST_F(HelpersTest, MemoryMovesAgreeWithTheLibraryForEveryOverlap)
{
    unsigned char pattern[64];
    for (int i = 0; i < 64; i++) {
        pattern[i] = (unsigned char)(i * 37 + 1);
    }
    for (int from = 0; from < 24; from++) {
        for (int to = 0; to < 24; to++) {
            for (int count = 0; count <= 40; count += 7) {
                unsigned char ours[64], theirs[64];
                memcpy(ours, pattern, 64);
                memcpy(theirs, pattern, 64);
                MemMove(ours + to, ours + from, count);
                memmove(theirs + to, theirs + from, count);
                ASSERT_EQ(memcmp(ours, theirs, 64), 0) << from << " -> " << to << " x " << count;
            }
        }
    }
    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    MemFill(block + 2, 0xAB, 3);
    MemFill(block, 0, 0);
    const unsigned char filled[8] = {1, 2, 0xAB, 0xAB, 0xAB, 6, 7, 8};
    EXPECT_EQ(memcmp(block, filled, 8), 0);
    unsigned char copy[8];
    MemCopy(copy, filled, 8);
    EXPECT_EQ(memcmp(copy, filled, 8), 0);
}

TEST_F(HelpersTest, NumberConversionsTruncateTowardZero)
{
    const struct {
        double value;
        int expected;
    } cases[] = {{-1.9, -1},
                 {1.9, 1},
                 {-0.5, 0},
                 {0.0, 0},
                 {2.5, 2},
                 {-2.5, -2},
                 {12345.75, 12345},
                 {-12345.75, -12345},
                 {-2147483648.0, INT_MIN},
                 // Outside the int range, NaN and the infinities: the fixed answer INT_MIN.
                 {2147483648.0, INT_MIN},
                 {-4e9, INT_MIN},
                 {1e30, INT_MIN},
                 {NAN, INT_MIN},
                 {INFINITY, INT_MIN},
                 {-INFINITY, INT_MIN}};
    for (const auto &c : cases) {
        EXPECT_EQ(DoubleToInt(c.value), c.expected) << c.value;
        EXPECT_EQ(FloatToInt((float)c.value), c.expected) << c.value;
    }
    const double rect[4] = {-1.9, 2.7, 3.0, -0.1};
    int out[4];
    DoubleRectToIntRect(rect, out);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(AbsInt(-7), 7);
    EXPECT_EQ(AbsInt(7), 7);
    EXPECT_EQ(FloatSignTest(-2.5f), 2.5f);
    EXPECT_EQ(SqrtFloat(2.25f), 1.5f);
    for (float angle = -7.0f; angle < 7.0f; angle += 0.37f) {
        float sine, cosine;
        SinCos(angle, &sine, &cosine);
        EXPECT_NEAR(sine, sin(angle), 1e-6) << angle;
        EXPECT_NEAR(cosine, cos(angle), 1e-6) << angle;
    }
}

TEST_F(HelpersTest, PathsResolveAgainstTheirBase)
{
    const struct {
        const char *relative;
        const char *base;
        const char *expected;
    } cases[] = {
        {"..\\x", "C:\\a\\b", "C:\\a\\x"},
        {"\\y", "D:\\z", "D:\\y"},
        {"..\\", "C:", "C:"},
        {"a\\..", "C:\\b", "C:\\b\\a\\.."}, // a final ".." without a separator stays
        {"x\\.\\y", "C:\\a\\", "C:\\a\\x\\y"},
        {"x/y/../z", "C:/a", "C:/a\\x\\z"},
        {"\\\\server\\share", "C:\\a", "\\\\server\\share"},
        {"//server/share", "C:\\a", "\\\\server\\share"},
        {"E:file.txt", "C:\\a", "E:\\file.txt"},
        {"E:\\dir\\..\\file.txt", "C:\\a", "E:\\file.txt"},
        {"x\\\\y", "C:\\a", "C:\\a\\x\\y"},
        {NULL, "C:\\base", "C:\\base"},
        {"", "C:\\base\\", "C:\\base"},
        {"表\\x", "C:\\a", "C:\\a\\表\\x"}, // "表" ends in the byte 0x5C, which is not a separator
        {"x", "C:\\表", "C:\\表\\x"},
        {"..\\y", "C:\\a\\表", "C:\\a\\y"},
        {"..\\..\\..\\x", "C:\\a", "C:\\x"},
    };
    for (const auto &c : cases) {
        char out[MAX_PATH];
        EXPECT_EQ(BuildFullPath(c.relative, out, sizeof out, c.base), 0);
        EXPECT_STREQ(out, c.expected) << (c.relative ? c.relative : "(null)") << " on " << c.base;
    }
}

TEST_F(HelpersTest, PathsThatDoNotFitAreRefused)
{
    const struct {
        const char *relative;
        const char *base;
        size_t size;
        int result;
    } cases[] = {
        {"abc", "C:\\d", 9, 0}, // "C:\d\abc" is 8 bytes and its terminator
        {"abc", "C:\\d", 8, -1}, {NULL, "C:\\long", 8, 0}, {NULL, "C:\\longer", 8, -1}, {"x", "C:", 0, -1},
    };
    for (const auto &c : cases) {
        char out[16];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(BuildFullPath(c.relative, out, c.size, c.base), c.result) << c.base << " size " << c.size;
        EXPECT_EQ(out[c.size], 'Z') << "nothing written past the output";
        if (c.result == -1 && c.size > 0) {
            EXPECT_STREQ(out, "");
        }
    }
}

TEST_F(HelpersTest, NullBaseMeansTheCurrentDirectory)
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    char out[MAX_PATH];
    EXPECT_EQ(BuildFullPath("child", out, sizeof out, NULL), 0);
    EXPECT_EQ(std::string(out), std::string(current) + "\\child");
}

// The current directory a test's own file-function table reports.
static const char *g_TableDirectory;

static int TableGetCurrentDir(char *buffer)
{
    strcpy(buffer, g_TableDirectory);
    return 0;
}

TEST_F(HelpersTest, NullBaseIsTheCurrentDirectoryOfTheInstalledFileTable)
{
    const FileFunctionTable saved = *GetFileAccessTable();
    const struct {
        const char *directory;
        const char *relative;
        const char *expected;
    } cases[] = {
        {"Q:\\table\\dir", "child", "Q:\\table\\dir\\child"},
        {"Q:\\", "child\\..\\x", "Q:\\x"},
        {"Q:\\table", "\\root", "Q:\\root"},
        {"Q:\\表", NULL, "Q:\\表"},
    };
    for (const auto &c : cases) {
        FileFunctionTable table = saved;
        table.getCurrentDir = TableGetCurrentDir;
        g_TableDirectory = c.directory;
        SetFileAccessTable(&table);
        char out[MAX_PATH];
        EXPECT_EQ(BuildFullPath(c.relative, out, sizeof out, NULL), 0);
        EXPECT_STREQ(out, c.expected) << c.directory;
    }
    SetFileAccessTable(&saved);
}

TEST_F(HelpersTest, ResourcesAreFoundByNameAndTypeOrLeaveTheOutputsAlone)
{
    void *address = NULL;
    int size = 0;
    EXPECT_EQ(FindResourceData(MAKEINTRESOURCEA(101), "QVTEST", &address, &size), 0);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(std::string((const char *)address, size), "resource bytes\n");
    EXPECT_EQ(FindResourceData(MAKEINTRESOURCEA(101), "QVTEST", NULL, NULL), 0);

    const struct {
        int id;
        const char *type;
    } missing[] = {{999, "QVTEST"}, {101, "PNG"}, {102, "QVTEST"}}; // 102 is empty
    for (const auto &c : missing) {
        void *untouchedAddress = (void *)0x1234;
        int untouchedSize = 77;
        EXPECT_EQ(FindResourceData(MAKEINTRESOURCEA(c.id), c.type, &untouchedAddress, &untouchedSize), -1) << c.id;
        EXPECT_EQ(untouchedAddress, (void *)0x1234);
        EXPECT_EQ(untouchedSize, 77);
    }
}
