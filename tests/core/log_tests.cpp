// Log file: line stamps and indents, continued lines, line-end conversion, long texts with and without memory for
// the conversion, bounded formatting, the options, and where the file goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/core_test_hooks.h"
#include "font/font.h"
#include "test_log.h"

#include <mmsystem.h>

// The log with every "<ms>:" stamp that opens a written line replaced by "#", so that expectations are exact.
static std::string StampsMarked(const std::string &log)
{
    std::string marked;
    size_t i = 0;
    while (i < log.size()) {
        bool lineStart = i == 0 || log[i - 1] == '\n';
        size_t digits = i;
        while (lineStart && digits < log.size() && isdigit((unsigned char)log[digits])) {
            digits++;
        }
        if (digits > i && digits < log.size() && log[digits] == ':') {
            marked += '#';
            i = digits + 1;
        } else {
            marked += log[i++];
        }
    }
    return marked;
}

static bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class LogTest : public TestWithLog
{
};

TEST_F(LogTest, LinesCarryStampAndIndentAndTextContinuesWithoutLineEnd)
{
    struct Step {
        int indent; // +1 raise, -1 lower, 0 write the text
        const char *text;
    };
    const struct {
        const char *name;
        std::vector<Step> steps;
        const char *expected;
    } cases[] = {
        {"continued", {{0, "abc"}, {0, "def\n"}}, "#abcdef\r\n"},
        {"indent two", {{1, ""}, {1, ""}, {0, "x\n"}, {0, "y\n"}}, "#\t\tx\r\n#\t\ty\r\n"},
        {"bare line feeds", {{0, "a\nb\n"}}, "#a\r\nb\r\n"},
        {"after a CR LF the rest is copied", {{0, "a\r\nb\nc\n"}}, "#a\r\nb\nc\n"},
        {"lower at zero stays zero", {{-1, ""}, {0, "z\n"}}, "#z\r\n"},
        {"indent as the line begins", {{1, ""}, {0, "m"}, {1, ""}, {0, "n\n"}, {0, "o\n"}}, "#\tmn\r\n#\t\to\r\n"},
        {"one stamp per call", {{1, ""}, {0, "p\nq\n"}}, "#\tp\r\nq\r\n"},
        {"a lead byte takes the next byte whole", {{0, "\x81\n"}, {0, "r\n"}}, "#\x81\n#r\r\n"},
        {"Shift-JIS text", {{0, "表示\\テスト\n"}}, "#表示\\テスト\r\n"},
        {"lone CR", {{0, "s\rt\n"}}, "#s\rt\r\n"},
        {"empty text writes nothing", {{0, ""}, {0, "u\n"}}, "#u\r\n"},
    };
    for (const auto &c : cases) {
        StartTestLog();
        for (const Step &step : c.steps) {
            if (step.indent > 0) {
                EXPECT_EQ(LogIndentIncrease(), 0);
            } else if (step.indent < 0) {
                EXPECT_EQ(LogIndentDecrease(), 0);
            } else {
                EXPECT_EQ(AddLog(step.text), -1);
            }
        }
        EXPECT_EQ(StampsMarked(ReadTestLog()), c.expected) << c.name;
    }
}

TEST_F(LogTest, StampIsTheMillisecondsSinceTheStart)
{
    // The stamp lies between the clock readings taken around the start and around the write.
    DWORD beforeStart = timeGetTime();
    StartTestLog();
    DWORD afterStart = timeGetTime();
    Sleep(30);
    DWORD beforeWrite = timeGetTime();
    AddLog("late\n");
    DWORD afterWrite = timeGetTime();
    std::string log = ReadTestLog();
    int milliseconds = atoi(log.c_str());
    EXPECT_GE(milliseconds, (int)(beforeWrite - afterStart));
    EXPECT_LE(milliseconds, (int)(afterWrite - beforeStart));
    EXPECT_EQ(log.substr(log.find(':')), ":late\r\n");
}

TEST_F(LogTest, StartLogFileLeavesAnEmptyFile)
{
    AddLog("old content\n");
    EXPECT_FALSE(ReadTestLog().empty());
    EXPECT_EQ(StartLogFile(), 0);
    EXPECT_TRUE(FileExists(std::string(GetLogDirectory()) + "\\Log.txt"));
    EXPECT_EQ(ReadTestLog(), "");
}

// A long text with double-byte characters (one with the trail byte 0x5C) and bare line feeds.
static std::string LongText(size_t length)
{
    static const char unit[] = "line 表 of text\n";
    std::string text;
    while (text.size() < length) {
        text += unit;
    }
    text.resize(length - 1);
    return text + "\n";
}

static std::string WithCrLf(const std::string &text)
{
    std::string converted;
    for (char c : text) {
        converted += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return converted;
}

TEST_F(LogTest, LongTextsAreWrittenWholeAlsoWithoutMemoryForTheConversion)
{
    const struct {
        size_t length;
        bool failAllocation;
    } cases[] = {{255, false}, {256, false}, {300, false}, {5000, false}, {300, true}, {5000, true}, {70000, true}};
    for (const auto &c : cases) {
        std::string text = LongText(c.length);
        StartTestLog();
        if (c.failAllocation) {
            SetAllocationFailureCountdown(0);
        }
        AddLog(text.c_str());
        SetAllocationFailureCountdown(-1);
        std::string log = StampsMarked(ReadTestLog());
        std::string expected = "#" + WithCrLf(text);
        ASSERT_GE(log.size(), expected.size()) << c.length;
        EXPECT_EQ(log.substr(log.size() - expected.size()), expected) << c.length;
        // Without memory the allocator's dump comes first; with it the text is all there is.
        EXPECT_EQ(log.find("Alloc memory dump") != std::string::npos, c.failAllocation) << c.length;
    }
}

static std::string Repeated(const std::string &piece, int count)
{
    std::string text;
    for (int i = 0; i < count; i++) {
        text += piece;
    }
    return text;
}

TEST_F(LogTest, FormattedLinesAreBoundedAndEndWithALineEnd)
{
    std::string wide(5000, 'w');
    const struct {
        std::string written;
        std::string expected;
    } cases[] = {
        {"short", "#short\r\n"},
        {wide, "#" + std::string(LOG_FORMAT_BUFFER_SIZE - 2, 'w') + "\r\n"},
        // The cut falls inside a double-byte character: it goes before it, and the line still ends in CR LF.
        {"x" + Repeated("表", 1100), "#x" + Repeated("表", (LOG_FORMAT_BUFFER_SIZE - 3) / 2) + "\r\n"},
    };
    for (const auto &c : cases) {
        StartTestLog();
        EXPECT_EQ(LogFormatLine("%s", c.written.c_str()), -1);
        EXPECT_EQ(StampsMarked(ReadTestLog()), c.expected);
    }
    StartTestLog();
    EXPECT_EQ(LogFormatLine("%d-%s-%.2f", 7, "x", 1.5), -1);
    EXPECT_EQ(LogNetworkError("oops %d", 7), -1);
    EXPECT_EQ(StampsMarked(ReadTestLog()), "#7-x-1.50\r\n#ネットワークログ。oops 7[0]\r\n");
}

TEST_F(LogTest, OptionsTurnTheLogOffDateTheNameOrDropTheStamp)
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    std::string plain = std::string(folder) + "\\Log.txt";

    SetLogOptions(1, 0, 0);
    DeleteFileA(plain.c_str());
    StartLogFile();
    AddLog("nothing\n");
    EXPECT_FALSE(FileExists(plain)) << "log off makes no file";

    SetLogOptions(0, 0, 1);
    StartLogFile();
    AddLog("no stamp\n");
    EXPECT_EQ(ReadTestLog(), "no stamp\r\n");

    SetLogOptions(0, 1, 0);
    DateRecord before;
    GetLocalDateRecord(&before);
    StartLogFile();
    AddLog("dated\n");
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((std::string(folder) + "\\Log*_*_*_*_*_*.txt").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    char prefix[32];
    snprintf(prefix, sizeof prefix, "Log%d_%d_%d_", before.year, before.month, before.day);
    EXPECT_EQ(std::string(found.cFileName).find(prefix), 0u) << found.cFileName;
    EXPECT_TRUE(DeleteFileA((std::string(folder) + "\\" + found.cFileName).c_str()));
}

TEST_F(LogTest, FileGoesIntoTheLogDirectoryWhateverItsLastByte)
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    const struct {
        std::string directory;
        std::string file;
    } cases[] = {
        // "表" ends in 0x5C as its trail byte: not a separator, so one must be added.
        {std::string(folder) + "\\表", std::string(folder) + "\\表\\Log.txt"},
        {std::string(folder) + "\\sub\\", std::string(folder) + "\\sub\\Log.txt"},
        {std::string(folder) + "\\sub", std::string(folder) + "\\sub\\Log.txt"},
    };
    for (const auto &c : cases) {
        CreateDirectoryA(c.directory.c_str(), NULL);
        DeleteFileA(c.file.c_str());
        ASSERT_EQ(SetLogDirectory(c.directory.c_str()), 0);
        StartLogFile();
        AddLog("here\n");
        EXPECT_TRUE(FileExists(c.file)) << c.file;
        DeleteFileA(c.file.c_str());
    }
    EXPECT_EQ(SetLogDirectory(std::string(MAX_PATH, 'd').c_str()), -1) << "a folder name too long is refused";
    EXPECT_EQ(SetLogDirectory(""), 0);
    StartLogFile();
    EXPECT_EQ(AddLog("nowhere\n"), -1) << "no directory: nothing is written, still -1";
}

static DWORD WINAPI LogManyLines(LPVOID parameter)
{
    char line[32];
    for (int i = 0; i < 300; i++) {
        SprintfWrap(line, sizeof line, "thread %c line %d\n", (char)(INT_PTR)parameter, i);
        AddLog(line);
    }
    return 0;
}

TEST_F(LogTest, TwoThreadsLoggingAtOnceLoseNoLine)
{
    HANDLE threads[2] = {CreateThread(NULL, 0, LogManyLines, (LPVOID)'a', 0, NULL),
                         CreateThread(NULL, 0, LogManyLines, (LPVOID)'b', 0, NULL)};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    std::vector<std::string> lines = ReadTestLogLines();
    for (char thread : {'a', 'b'}) {
        for (int i = 0; i < 300; i++) {
            std::string wanted = std::string("thread ") + thread + " line " + std::to_string(i);
            ASSERT_NE(std::find(lines.begin(), lines.end(), wanted), lines.end()) << wanted;
        }
    }
}

static DWORD WINAPI ReleaseAfterAMoment(LPVOID file)
{
    Sleep(300);
    return CloseHandle((HANDLE)file);
}

// A log held open elsewhere past the patience costs one wait, not one per line; once it opens again, a briefly
// busy file is waited for as before.
TEST_F(LogTest, FileHeldElsewhereStallsOnlyOneCall)
{
    HANDLE holder = CreateFileA("Log.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    AddLog("lost while held, after the patience\n");
    DWORD start = timeGetTime();
    AddLog("lost while held, at once\n");
    EXPECT_LT(timeGetTime() - start, 5000u) << "the second line waited out the patience again";
    CloseHandle(holder);
    AddLog("written again\n");
    holder = CreateFileA("Log.txt", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    HANDLE releaser = CreateThread(NULL, 0, ReleaseAfterAMoment, holder, 0, NULL);
    AddLog("written after a short wait\n");
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    std::vector<std::string> lines = ReadTestLogLines();
    for (const char *line : {"written again", "written after a short wait"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}
