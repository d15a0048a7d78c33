// System information and clocks: the block describing the machine that start-up writes to the log (processor
// count, Windows version, processor features and speed) and the values later code reads from it, the
// millisecond and microsecond clocks, local date records, and the 64/128-bit arithmetic the microsecond clock
// needs. The information is written once by the window thread at start-up; the clocks are read from any thread.
#include "core/core.h"
#include "core/core_test_hooks.h"

#include <cpuid.h>
#include <mmsystem.h>
#include <stdio.h>
#include <string.h>
#include <x86intrin.h>

#define QV_LIBRARY_VERSION_TEXT "1.00"
#define DIRECTX_VERSION_7 0x70000
#define SPEED_MEASURE_MS 100

SystemInformation g_SystemInformation;

// ---------------------------------------------------------------------------------------------------------------
// Windows version.

struct WindowsVersionName {
    DWORD platform, major, minor;
    int id;
    const char *name;
    char servicePrefix; // the service string's first character that adds the suffix
    const char *suffix;
};

static int s_ForcedProcessorCount; // 0: the machine's own count

static const WindowsVersionName s_WindowsVersionNames[] = {
    {VER_PLATFORM_WIN32s, 0, 0, 0, "3.1", 0, NULL},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 0, 1, "95", 'C', "OSR2"},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2, "98", 'A', "SE"},
    {VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3, "Me", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 3, 51, 0x104, "NT 3.51", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 4, 0, 0x105, "4.0", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 5, 0, 0x106, "2000", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 5, 1, 0x107, "XP", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 6, 0, 0x108, "Vista", 0, NULL},
    {VER_PLATFORM_WIN32_NT, 6, 1, 0x109, "7", 0, NULL},
};

int DescribeWindowsVersion(const OSVERSIONINFOA *info, char *text, size_t textSize, int previousId)
{
    SprintfWrap(text, textSize, "Windows");
    for (const WindowsVersionName &entry : s_WindowsVersionNames) {
        // Win32s reports no meaningful version numbers: the platform alone names it.
        int versionMatches = entry.platform == VER_PLATFORM_WIN32s ||
                             (info->dwMajorVersion == entry.major && info->dwMinorVersion == entry.minor);
        if (info->dwPlatformId != entry.platform || !versionMatches) {
            continue;
        }
        int withSuffix = entry.suffix != NULL && info->szCSDVersion[0] == entry.servicePrefix;
        SprintfWrap(text, textSize, "Windows%s%s", entry.name, withSuffix ? entry.suffix : "");
        return entry.id;
    }
    return previousId;
}

static void LogWindowsVersion(void)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    char name[64];
    g_SystemInformation.windowsVersionId =
        DescribeWindowsVersion(&info, name, sizeof name, g_SystemInformation.windowsVersionId);
    char line[256];
    SprintfWrap(line, sizeof line, "%s ( Build %d %s )", name, (int)(info.dwBuildNumber & 0xFFFF), info.szCSDVersion);
    LogFormatLine("%s", line);
}

// ---------------------------------------------------------------------------------------------------------------
// Processor.

static void ProbeProcessor(void)
{
    SystemInformation *s = &g_SystemInformation;
    unsigned int eax, ebx, ecx, edx;
    // __get_cpuid_max first checks that the flags register's ID bit can be toggled.
    unsigned int maxLeaf = __get_cpuid_max(0, NULL);
    s->hasCpuid = maxLeaf != 0;
    if (!s->hasCpuid) {
        return;
    }
    __cpuid(0, eax, ebx, ecx, edx);
    memcpy(s->vendor, &ebx, 4);
    memcpy(s->vendor + 4, &edx, 4);
    memcpy(s->vendor + 8, &ecx, 4);
    s->vendor[12] = '\0';
    if (maxLeaf >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        s->hasTimeStampCounter = (edx >> 4) & 1;
        // Each level counts only when the one below it is present.
        s->hasMmx = (edx >> 23) & 1;
        s->hasSse = s->hasMmx && ((edx >> 25) & 1);
        s->hasSse2 = s->hasSse && ((edx >> 26) & 1);
    }
    if (__get_cpuid_max(0x80000000, NULL) >= 0x80000004) {
        unsigned int *brand = (unsigned int *)s->brand;
        for (unsigned int leaf = 0; leaf < 3; leaf++) {
            __cpuid(0x80000002 + leaf, brand[leaf * 4], brand[leaf * 4 + 1], brand[leaf * 4 + 2], brand[leaf * 4 + 3]);
        }
        s->brand[48] = '\0';
    }
}

static void MeasureProcessorSpeed(void)
{
    SystemInformation *s = &g_SystemInformation;
    int start = GetNowMilliCount();
    unsigned long long first = __rdtsc();
    while (MilliCountElapsed(start, GetNowMilliCount()) < SPEED_MEASURE_MS) {
    }
    unsigned long long difference = __rdtsc() - first;
    s->processorMhz = (int)(difference / 100000);
    s->timeStampPer10ms = difference / 10;
    LogFormatLine("ＣＰＵ動作速度：大体%.2fGHz", s->processorMhz / 1000.0);
}

static void LogProcessorFeatures(void)
{
    const SystemInformation *s = &g_SystemInformation;
    if (!s->hasCpuid) {
        AddLog("ＣＰＵＩＤ命令は使えません\n");
    } else if (!s->hasMmx) {
        AddLog("ＭＭＸは使えません\n");
    } else {
        AddLog("ＭＭＸ命令を使用します\n");
        if (s->hasSse) {
            AddLog("ＳＳＥ命令が使用可能です\n");
        }
        if (s->hasSse2) {
            AddLog("ＳＳＥ２命令が使用可能です\n");
        }
    }
    if (s->hasCpuid) {
        AddLog("ＣＰＵベンダ：");
        for (int piece = 0; piece < 3; piece++) {
            char text[5];
            StrCopyN(text, s->vendor + piece * 4, 4);
            AddLog(text);
        }
        AddLog("\n");
        if (s->brand[0] != '\0') {
            LogFormatLine("ＣＰＵ名：%s", s->brand);
        }
    }
}

void SetProcessorCountForTest(int count)
{
    s_ForcedProcessorCount = count;
}

int LogSystemInformation(void)
{
    SystemInformation *s = &g_SystemInformation;
    AddLog("システムの情報を出力します\n");
    LogIndentIncrease();
    LogFormatLine("ＱＶライブラリ Ver%s", QV_LIBRARY_VERSION_TEXT);

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    s->processorCount = s_ForcedProcessorCount > 0 ? s_ForcedProcessorCount : (int)system.dwNumberOfProcessors;
    LogFormatLine("論理プロセッサの数 : %d", s->processorCount);

    AddLog("ＯＳ  ");
    LogWindowsVersion();

    s->directXVersion = DIRECTX_VERSION_7;
    RaiseTimerPeriod();

    ProbeProcessor();
    if (s->hasTimeStampCounter) {
        MeasureProcessorSpeed();
    }
    LogProcessorFeatures();
    LogIndentDecrease();

    if (s->directXVersion < DIRECTX_VERSION_7) {
        MessageBoxA(NULL,
                    s->directXVersion == 0 ? "DirectX がインストールされていないのでここで終了します"
                                           : "DirectX バージョン 7 以前なのでソフトを起動することが出来ません",
                    "エラー", MB_OK);
        ExitProcess((UINT)-1);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Clocks and dates.

static DWORD SystemMilliClock(void)
{
    return timeGetTime();
}

static MilliClockSource s_MilliClockSource = SystemMilliClock;

void SetMilliClockSource(MilliClockSource source)
{
    s_MilliClockSource = source != NULL ? source : SystemMilliClock;
}

int GetNowMilliCount(void)
{
    return (int)(s_MilliClockSource() & 0x7FFFFFFF);
}

int MilliCountElapsed(int start, int now)
{
    return (int)(((unsigned int)now - (unsigned int)start) & 0x7FFFFFFF);
}

// count x multiplier / divisor without losing the high bits of the product.
static LONGLONG ScaleCount(unsigned long long count, unsigned long long multiplier, unsigned long long divisor)
{
    unsigned long long product[2];
    unsigned long long quotient[2];
    Mul64x64(count, multiplier, product);
    Div128By64(product, divisor, quotient);
    return (LONGLONG)quotient[0];
}

LONGLONG GetNowMicroCount(int useCpuClock)
{
    const SystemInformation *s = &g_SystemInformation;
    if (useCpuClock && s->hasTimeStampCounter && s->timeStampPer10ms != 0) {
        // Counts per 10 ms: ten thousand microseconds.
        return ScaleCount(__rdtsc(), 10000, s->timeStampPer10ms);
    }
    if (s->highResolution && s->performanceFrequency > 0) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        return ScaleCount((unsigned long long)counter.QuadPart, 1000000, (unsigned long long)s->performanceFrequency);
    }
    return (LONGLONG)timeGetTime() * 1000;
}

static void SystemTimeToDateRecord(const SYSTEMTIME *time, DateRecord *record)
{
    record->year = time->wYear;
    record->month = time->wMonth;
    record->day = time->wDay;
    record->hour = time->wHour;
    record->minute = time->wMinute;
    record->second = time->wSecond;
}

int GetLocalDateRecord(DateRecord *record)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    SystemTimeToDateRecord(&now, record);
    return 0;
}

int FileTimeToDateRecord(const FILETIME *fileTime, DateRecord *record)
{
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(fileTime, &local);
    FileTimeToSystemTime(&local, &time);
    SystemTimeToDateRecord(&time, record);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// 64 x 64 -> 128-bit product and 128 / 64-bit division; out128[0] holds the low half.

void Mul64x64(unsigned long long a, unsigned long long b, unsigned long long out128[2])
{
    unsigned long long aLow = (uint32_t)a, aHigh = a >> 32;
    unsigned long long bLow = (uint32_t)b, bHigh = b >> 32;
    unsigned long long lowLow = aLow * bLow;
    unsigned long long lowHigh = aLow * bHigh;
    unsigned long long highLow = aHigh * bLow;
    unsigned long long highHigh = aHigh * bHigh;
    // The middle column collects three 32-bit pieces; its carry goes to the high half.
    unsigned long long middle = (lowLow >> 32) + (uint32_t)lowHigh + (uint32_t)highLow;
    out128[0] = (middle << 32) | (uint32_t)lowLow;
    out128[1] = highHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32);
}

void Div128By64(const unsigned long long dividend128[2], unsigned long long divisor, unsigned long long out128[2])
{
    if (divisor == 0) {
        // No quotient exists; the largest value keeps callers from looping or trapping.
        out128[0] = out128[1] = ~0ull;
        return;
    }
    // Shift-and-subtract, one quotient bit at a time from the top; the remainder stays below the divisor, so a
    // bit shifted out of it means it exceeds the divisor.
    unsigned long long remainder = 0;
    unsigned long long quotient[2] = {0, 0};
    for (int bit = 127; bit >= 0; bit--) {
        unsigned long long carry = remainder >> 63;
        remainder = (remainder << 1) | ((dividend128[bit / 64] >> (bit % 64)) & 1);
        if (carry || remainder >= divisor) {
            remainder -= divisor;
            quotient[bit / 64] |= 1ull << (bit % 64);
        }
    }
    out128[0] = quotient[0];
    out128[1] = quotient[1];
}

// ---------------------------------------------------------------------------------------------------------------
// Timer period. The system-information step and window creation each raise the period once per start-up; only
// raises that took effect are counted, so that the end lowers exactly as often as start-up raised.

static int s_TimerPeriodRaises;

int RaiseTimerPeriod(void)
{
    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof(caps)) != MMSYSERR_NOERROR || timeBeginPeriod(caps.wPeriodMin) != 0) {
        return -1;
    }
    s_TimerPeriodRaises++;
    return 0;
}

int LowerTimerPeriod(void)
{
    TIMECAPS caps;
    if (s_TimerPeriodRaises <= 0 || timeGetDevCaps(&caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        return -1;
    }
    timeEndPeriod(caps.wPeriodMin);
    s_TimerPeriodRaises--;
    return 0;
}

int GetTimerPeriodRaiseCount(void)
{
    return s_TimerPeriodRaises;
}
