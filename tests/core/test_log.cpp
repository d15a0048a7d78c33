// Shared by the core test programs: a log in the test's own folder, read back as bytes; and the check that
// every program leaves the tracked allocation count where it began.
#include "test_log.h"

#include <gtest/gtest.h>

#include "core/core.h"
#include "font/font.h"
#include "core/core_test_hooks.h"

void StartTestLog(void)
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    SetLogDirectory(folder);
    SetLogOptions(0, 0, 0);
    StartLogFile();
}

std::string ReadTestLog(void)
{
    std::string path = std::string(GetLogDirectory()) + "\\Log.txt";
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> ReadTestLogLines(void)
{
    std::string text = ReadTestLog();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t digits = 0;
        while (digits < line.size() && isdigit((unsigned char)line[digits])) {
            digits++;
        }
        if (digits > 0 && digits < line.size() && line[digits] == ':') {
            line.erase(0, digits + 1);
        }
        lines.push_back(line);
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

void TestWithLog::SetUp()
{
    SetEngineCharSet(CHARSET_SHIFTJIS);
    StartTestLog();
}

void TestWithLog::TearDown()
{
    SetAllocationFailureCountdown(-1);
    SetLogOptions(0, 0, 0);
    StartTestLog();
}

// Every test program must end with as many live tracked blocks as it began with.
class AllocationBalance : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        startCount = GetAllocationCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GetAllocationCount(), startCount) << "tracked blocks leaked by the test program";
    }

  private:
    int startCount = 0;
};

static ::testing::Environment *const g_AllocationBalance = ::testing::AddGlobalTestEnvironment(new AllocationBalance);
