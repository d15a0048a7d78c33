// Clocks, date records, the 128-bit arithmetic behind the microsecond clock, and the system information block.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "core/core_test_hooks.h"

#include <mmsystem.h>
#include "test_log.h"

// The 128-bit product by schoolbook multiplication in 16-bit digits.
static void ReferenceProduct(unsigned long long a, unsigned long long b, unsigned long long out[2])
{
    unsigned int digits[8] = {};
    for (int i = 0; i < 4; i++) {
        unsigned int carry = 0;
        for (int j = 0; j < 4; j++) {
            unsigned int ai = (unsigned int)(a >> (16 * i)) & 0xFFFF;
            unsigned int bj = (unsigned int)(b >> (16 * j)) & 0xFFFF;
            unsigned long long sum = (unsigned long long)ai * bj + digits[i + j] + carry;
            digits[i + j] = (unsigned int)(sum & 0xFFFF);
            carry = (unsigned int)(sum >> 16);
        }
        digits[i + 4] += carry;
    }
    out[0] = out[1] = 0;
    for (int k = 0; k < 8; k++) {
        out[k / 4] |= (unsigned long long)digits[k] << (16 * (k % 4));
    }
}

static unsigned long long Random64(void)
{
    unsigned long long value = 0;
    for (int i = 0; i < 5; i++) {
        value = (value << 15) ^ (unsigned long long)rand();
    }
    // Edge-heavy: sometimes all ones in the high or low half, sometimes small.
    switch (rand() % 6) {
    case 0:
        return value | 0xFFFFFFFF00000000ull;
    case 1:
        return value & 0xFFFFull;
    case 2:
        return ~0ull - (value & 3);
    default:
        return value;
    }
}

TEST(Clock, WideProductAndDivisionAgreeWithTheReference)
{
    srand(17);
    for (int trial = 0; trial < 20000; trial++) {
        unsigned long long a = Random64(), b = Random64();
        unsigned long long product[2], expected[2];
        Mul64x64(a, b, product);
        ReferenceProduct(a, b, expected);
        ASSERT_TRUE(product[0] == expected[0] && product[1] == expected[1]) << a << " x " << b;
        if (b == 0) {
            continue;
        }
        // (a x b + r) / b gives a back for every remainder r below b.
        unsigned long long r = Random64() % b;
        unsigned long long dividend[2] = {product[0] + r, product[1] + (product[0] + r < product[0])};
        unsigned long long quotient[2];
        Div128By64(dividend, b, quotient);
        ASSERT_TRUE(quotient[0] == a && quotient[1] == 0) << a << " x " << b << " + " << r;
    }
    const struct {
        unsigned long long high, low, divisor, quotientHigh, quotientLow;
    } cases[] = {
        {0, 100, 7, 0, 14},      {1, 0, 2, 0, 0x8000000000000000ull}, {5, 0, 1, 5, 0}, {~0ull, ~0ull, ~0ull, 1, 1},
        {0, 5, 0, ~0ull, ~0ull}, // no divisor: the largest value, no trap
    };
    for (const auto &c : cases) {
        unsigned long long dividend[2] = {c.low, c.high}, quotient[2];
        Div128By64(dividend, c.divisor, quotient);
        EXPECT_EQ(quotient[1], c.quotientHigh);
        EXPECT_EQ(quotient[0], c.quotientLow);
    }
}

TEST(Clock, MillisecondsAreNeverNegativeAndAdvance)
{
    DWORD before = timeGetTime();
    int first = GetNowMilliCount();
    DWORD after = timeGetTime();
    EXPECT_GE(first, 0);
    // The same clock as timeGetTime, 31 bits: it lies between the two readings around it.
    EXPECT_LE(MilliCountElapsed((int)(before & 0x7FFFFFFF), first), (int)(after - before));
    int tries = 0;
    while (GetNowMilliCount() == first && tries++ < 10000) {
        Sleep(1);
    }
    EXPECT_LE(tries, 10000) << "the clock did not advance";
}

TEST(Clock, DifferencesAreTakenModulo2To31)
{
    srand(31);
    for (int i = 0; i < 20000; i++) {
        // Both ends anywhere on the 31-bit clock, every other start just below the wrap.
        int start = (int)(((unsigned)rand() << 16 ^ (unsigned)rand()) & 0x7FFFFFFF) | (i % 2 ? 0 : 0x7FFF0000);
        int now = (int)(((unsigned)rand() << 16 ^ (unsigned)rand()) & 0x7FFFFFFF);
        long long expected = ((now - (long long)start) % 0x80000000LL + 0x80000000LL) % 0x80000000LL;
        ASSERT_EQ(MilliCountElapsed(start, now), expected) << start << " to " << now;
    }
}

static DWORD s_FakeClock; // moves one millisecond per reading
static DWORD FakeClock(void)
{
    return s_FakeClock++;
}

TEST(Clock, TheProcessorSpeedMeasurementEndsAcrossTheWrap)
{
    SystemInformation saved = g_SystemInformation; // the measured rate here is the fake clock's
    for (DWORD start : {0x7FFFFFC0u, 0xFFFFFFC0u, 0x7FFFFFFFu, 0x12345678u}) {
        s_FakeClock = start;
        SetMilliClockSource(FakeClock);
        StartTestLog();
        EXPECT_EQ(LogSystemInformation(), 0) << start;
        SetMilliClockSource(NULL);
        LowerTimerPeriod();
        if (g_SystemInformation.hasTimeStampCounter) {
            EXPECT_EQ((s_FakeClock - start) / 10, 10u) << "the measurement waits 100 clock milliseconds";
        }
    }
    g_SystemInformation = saved;
}

TEST(Clock, MicrosecondsOnEveryPath)
{
    SystemInformation saved = g_SystemInformation;
    LARGE_INTEGER frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    if (g_SystemInformation.timeStampPer10ms == 0) {
        StartTestLog();
        LogSystemInformation(); // measures the time-stamp rate
    }
    const struct {
        const char *path;
        int highResolution, useCpuClock;
        bool wholeMilliseconds;
    } cases[] = {
        {"millisecond clock", 0, 0, true},
        {"performance counter", 1, 0, false},
        {"time-stamp counter", 0, 1, false},
    };
    for (const auto &c : cases) {
        g_SystemInformation.highResolution = c.highResolution;
        g_SystemInformation.performanceFrequency = frequency.QuadPart;
        // The span lies inside the millisecond readings around it and outside those within it, however long waits.
        DWORD outerStart = timeGetTime();
        LONGLONG start = GetNowMicroCount(c.useCpuClock);
        DWORD innerStart = timeGetTime();
        Sleep(60);
        DWORD innerEnd = timeGetTime();
        LONGLONG end = GetNowMicroCount(c.useCpuClock);
        DWORD outerEnd = timeGetTime();
        if (c.wholeMilliseconds) {
            EXPECT_EQ(start % 1000, 0) << c.path;
            EXPECT_EQ(end % 1000, 0) << c.path;
        }
        // The time-stamp rate was itself measured against the millisecond clock: allow it a wide error.
        double slack = c.useCpuClock ? 0.5 : 0.0;
        EXPECT_GE((double)(end - start), (innerEnd - innerStart - 1) * 1000.0 * (1.0 - slack)) << c.path;
        EXPECT_LE((double)(end - start), (outerEnd - outerStart + 1) * 1000.0 * (1.0 + slack * 2)) << c.path;
    }
    g_SystemInformation = saved;
}

TEST(Clock, DateRecordsFollowTheLocalTime)
{
    SYSTEMTIME before, after;
    DateRecord record;
    GetLocalTime(&before);
    EXPECT_EQ(GetLocalDateRecord(&record), 0);
    GetLocalTime(&after);
    EXPECT_TRUE(record.year == before.wYear || record.year == after.wYear);
    EXPECT_TRUE(record.second == before.wSecond || record.second == after.wSecond);
    EXPECT_GE(record.month, 1);
    EXPECT_LE(record.month, 12);

    const SYSTEMTIME local = {2024, 2, 4, 29, 23, 59, 58, 0};
    FILETIME localFile, utcFile;
    SystemTimeToFileTime(&local, &localFile);
    LocalFileTimeToFileTime(&localFile, &utcFile);
    EXPECT_EQ(FileTimeToDateRecord(&utcFile, &record), 0);
    const int expected[6] = {2024, 2, 29, 23, 59, 58};
    const int actual[6] = {record.year, record.month, record.day, record.hour, record.minute, record.second};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(actual[i], expected[i]) << "field " << i;
    }
}

TEST(SystemInformation, VersionNamesAndIds)
{
    const struct {
        DWORD platform, major, minor;
        const char *service;
        int id;
        const char *name;
    } cases[] = {
        {VER_PLATFORM_WIN32s, 3, 10, "", 0, "Windows3.1"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "", 1, "Windows95"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "C", 1, "Windows95OSR2"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "A", 2, "Windows98SE"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "", 2, "Windows98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "", 3, "WindowsMe"},
        {VER_PLATFORM_WIN32_NT, 3, 51, "", 0x104, "WindowsNT 3.51"},
        {VER_PLATFORM_WIN32_NT, 4, 0, "Service Pack 6", 0x105, "Windows4.0"},
        {VER_PLATFORM_WIN32_NT, 5, 0, "", 0x106, "Windows2000"},
        {VER_PLATFORM_WIN32_NT, 5, 1, "Service Pack 3", 0x107, "WindowsXP"},
        {VER_PLATFORM_WIN32_NT, 6, 0, "", 0x108, "WindowsVista"},
        {VER_PLATFORM_WIN32_NT, 6, 1, "Service Pack 1", 0x109, "Windows7"},
        {VER_PLATFORM_WIN32_NT, 5, 2, "", 0x5A5A, "Windows"}, // Windows 2003: no name, the id stays
        {VER_PLATFORM_WIN32_NT, 6, 2, "", 0x5A5A, "Windows"}, // Windows 8
    };
    for (const auto &c : cases) {
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = sizeof info;
        info.dwPlatformId = c.platform;
        info.dwMajorVersion = c.major;
        info.dwMinorVersion = c.minor;
        StrCopy(info.szCSDVersion, c.service);
        char name[64];
        EXPECT_EQ(DescribeWindowsVersion(&info, name, sizeof name, 0x5A5A), c.id) << c.name;
        EXPECT_STREQ(name, c.name);
    }
}

TEST(SystemInformation, BlockIsLoggedIndentedAndRecordsTheMachine)
{
    StartTestLog();
    EXPECT_EQ(LogSystemInformation(), 0);
    std::vector<std::string> lines = ReadTestLogLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "システムの情報を出力します");
    EXPECT_EQ(lines[1].find("\tＱＶライブラリ Ver"), 0u);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_EQ(lines[2], "\t論理プロセッサの数 : " + std::to_string(system.dwNumberOfProcessors));
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    char name[64];
    DescribeWindowsVersion(&version, name, sizeof name, 0);
    EXPECT_EQ(lines[3], std::string("\tＯＳ  ") + name + " ( Build " + std::to_string(version.dwBuildNumber & 0xFFFF) +
                            " " + version.szCSDVersion + " )");
    const SystemInformation &s = g_SystemInformation;
    EXPECT_EQ(s.processorCount, (int)system.dwNumberOfProcessors);
    EXPECT_EQ(s.directXVersion, 0x70000u);
    EXPECT_EQ(s.hasMmx, HasMmx());
    EXPECT_EQ(strlen(s.vendor), 12u);
    if (s.hasTimeStampCounter) {
        EXPECT_GT(s.processorMhz, 0);
        EXPECT_NEAR((double)s.timeStampPer10ms, s.processorMhz * 10000.0, s.processorMhz * 10.0 + 10);
    }
    bool vendorLogged = false, mmxLogged = false;
    for (const std::string &line : lines) {
        vendorLogged |= line == std::string("\tＣＰＵベンダ：") + s.vendor;
        mmxLogged |= line == "\tＭＭＸ命令を使用します";
        EXPECT_EQ(line.empty() || line[0] == '\t' || line == lines[0], true) << "indented: " << line;
    }
    EXPECT_TRUE(vendorLogged);
    EXPECT_TRUE(mmxLogged);
}
