// Sound start-up and end, built twice. On the harness's sink: the log's steps in order with the device block's
// indent back where it began, a second start refused, the refill thread running and gone by the time the end returns
// (also when the window was closed first, so that the pump answers -1), the DirectMusic mode, and an end that leaves
// nothing allocated. Built with QV_SOUND_SERVER 0 and run with PULSE_SERVER naming no server: DirectSound cannot be
// initialised, so sound start-up answers -1 and logs why, the engine runs on and every sound call answers -1.
#include <gtest/gtest.h>

#include "sound_test_engine.h"
#include "graphics/log_reading.h"

#include <functional>
#include <sstream>

namespace
{

// What each start-up and end leaves in the log: texts in this order, and a text it must not hold.
const struct {
    const char *name;
    std::vector<std::string> inOrder;
    const char *absent;
} kLogs[] = {
    {"started",
     {"DirectSound の初期化を行います", "DirectSound インターフェースの取得を行います....  成功",
      "引き続きインターフェースの初期化処理...  成功", "DirectSound デバイスを列挙します", "モジュール名:",
      "最大サンプリングレート:", "総サウンドメモリ領域:", "利用可能サンプリング精度", " プライマリ １６bit = ",
      " セカンダリ １６bit = ", "利用可能チャンネル", " プライマリ MONO = ", " セカンダリ MONO = ",
      "DirectSound の初期化は正常に終了しました", "DirectSound の終了処理は正常に終了しました",
      "Total size:0(0.000kb)  Alloc num:0"},
     "失敗"},
    {"music mode",
     {"DirectSound8 の初期化を行います", "出力ポート  Device0:", "DirectSound の初期化は正常に終了しました"},
     "失敗"},
    {"no server",
     {"引き続きインターフェースの初期化処理...  初期化に失敗しました", "エラーコード ",
      "Total size:0(0.000kb)  Alloc num:0"},
     "DirectSound の初期化は正常に終了しました"},
};

// Ends the engine and checks that nothing is left allocated and the log follows row `row` of kLogs.
void EndAndExpectLog(int row)
{
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(GetAllocationCount(), 0);
    const std::string log = ReadLogText();
    EXPECT_EQ(FirstMissingInOrder(log, kLogs[row].inOrder), "") << kLogs[row].name;
    EXPECT_EQ(log.find(kLogs[row].absent), std::string::npos) << kLogs[row].name;
}

// The indent (tabs after "ms:") of the first line holding `text`, -1 when none does.
int IndentOf(const std::string &log, const std::string &text)
{
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        size_t colon = line.find(':');
        if (line.find(text) != std::string::npos && colon != std::string::npos) {
            return (int)(line.find_first_not_of('\t', colon + 1) - colon - 1);
        }
    }
    return -1;
}

class SoundStartup : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!QV_SOUND_SERVER) {
            GTEST_SKIP() << "no sound server";
        }
        ASSERT_EQ(StartSoundTestEngine("QvSoundStartup"), 0);
        ASSERT_NE(g_Sound.directSound, nullptr);
    }
};

} // namespace

TEST_F(SoundStartup, LogsEachStepAndLeavesTheIndentWhereItBegan)
{
    IDirectSound *device = g_Sound.directSound;
    EXPECT_EQ(InitSoundSystem(), -1) << "a second start";
    EXPECT_EQ(g_Sound.directSound, device);
    EXPECT_NE(g_Sound.acm.streamConvert, nullptr) << "ACM bound by name";
    EXPECT_NE(g_Sound.silenceBuffer, nullptr);
    DWORD status = 0;
    EXPECT_EQ(g_Sound.silenceBuffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING), (DWORD)(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));
    EXPECT_EQ(g_Sound.refillThread != NULL, g_SystemInformation.processorCount > 1);
    EndAndExpectLog(0);
    EXPECT_EQ(g_Sound.directSound, nullptr);
    EXPECT_EQ(g_Sound.acm.module, (HMODULE)NULL);
    const std::string log = ReadLogText();
    const int base = IndentOf(log, "DirectSound の初期化を行います");
    const std::pair<const char *, int> indents[] = {
        {"DirectSound デバイスを列挙します", 1}, {"モジュール名:", 2}, {"利用可能チャンネル", 1},
        {"DirectSound の初期化は正常に終了しました", 0}};
    for (const auto &indent : indents) {
        EXPECT_EQ(IndentOf(log, indent.first), base + indent.second) << indent.first;
    }
}

// The refill thread runs, and has ended by the time the sound end returns: with the pump running, and after the
// window was closed first.
TEST_F(SoundStartup, EndWaitsForTheRefillThread)
{
    if (g_Sound.refillThread == NULL) {
        GTEST_SKIP() << "one processor: the pump refills";
    }
    for (bool closedFirst : {false, true}) {
        SCOPED_TRACE(closedFirst ? "after the window closed" : "while pumping");
        if (closedFirst) {
            ASSERT_EQ(StartSoundTestEngine("QvSoundStartup"), 0);
            PostMessageA(GetAppWindowHandle(), WM_CLOSE, 0, 0);
            for (DWORD start = GetTickCount(); ProcessWindowMessages() == 0 && GetTickCount() - start < 20000;) {
                Sleep(1);
            }
            ASSERT_EQ(ProcessWindowMessages(), -1) << "the pump answers -1 once the window is closed";
        }
        HANDLE thread = NULL;
        DuplicateHandle(GetCurrentProcess(), g_Sound.refillThread, GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0);
        EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT) << "the refill thread runs";
        EXPECT_EQ(TerminateSoundSystem(), 0);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the refill thread outlived the sound end";
        EXPECT_EQ(g_Sound.refillThread, (HANDLE)NULL);
        CloseHandle(thread);
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
}

// The DirectMusic mode, which nothing in the program selects: DirectMusic makes the device, the ports are logged,
// and the end takes everything down.
TEST(SoundStartupMusicMode, DirectMusicMakesTheDeviceAndEndsClean)
{
    if (!QV_SOUND_SERVER) {
        GTEST_SKIP() << "no sound server";
    }
    g_Sound.musicMode = 1;
    ASSERT_EQ(StartSoundTestEngine("QvSoundMusicMode"), 0);
    EXPECT_EQ(g_Sound.musicMode, 1);
    EXPECT_TRUE(g_Sound.directSound != nullptr && g_Sound.musicPerformance != nullptr);
    EXPECT_EQ(g_Sound.primaryBuffer, nullptr) << "no primary buffer in this mode";
    EndAndExpectLog(1);
    g_Sound.musicMode = 0;
    EXPECT_EQ(g_Sound.musicPerformance, nullptr);
}

TEST(SoundWithoutServer, EngineRunsOnAndEverySoundCallAnswersMinusOne)
{
    if (QV_SOUND_SERVER) {
        GTEST_SKIP() << "a sound server";
    }
    ASSERT_EQ(StartSoundTestEngine("QvSoundNoServer"), 0);
    EXPECT_EQ(g_Sound.directSound, nullptr);
    EXPECT_EQ(g_Sound.lockMade, 0) << "a failed start leaves no lock behind";
    EXPECT_EQ(InitSoundSystem(), -1);
    EXPECT_EQ(ProcessWindowMessages(), 0);

    static const unsigned char wave[] = "RIFF";
    const EngineHandle someSound = 0x10000000;
    const std::pair<const char *, std::function<int()>> calls[] = {
        {"AddSoundData", [] { return AddSoundData(-1); }},
        {"LoadSoundFromMemory", [] { return LoadSoundFromMemory(wave, sizeof(wave), 1, -1); }},
        {"LoadSoundFromResource", [] { return LoadSoundFromResource("#1", "SE", 1); }},
        {"PlaySoundHandle", [&] { return PlaySoundHandle(someSound, 1, 1); }},
        {"StopSoundHandle", [&] { return StopSoundHandle(someSound); }},
        {"CheckSoundPlaying", [&] { return CheckSoundPlaying(someSound); }},
        {"SetSoundVolume255", [&] { return SetSoundVolume255(102, someSound); }},
        {"GetSoundTotalSample", [&] { return GetSoundTotalSample(someSound); }},
        {"GetSoundTotalTime", [&] { return GetSoundTotalTime(someSound); }},
        {"GetSoundPlayPosition", [&] { return GetSoundPlayPosition(someSound); }},
        {"DeleteSoundHandle", [&] { return DeleteSoundHandle(someSound, 0); }},
        {"DeleteAllSoundHandles", [] { return DeleteAllSoundHandles(0); }},
        {"DeleteSoftSoundHandle", [] { return DeleteSoftSoundHandle(0x68000000, 0); }},
        {"DeleteAllSoftSounds", [] { return DeleteAllSoftSounds(); }},
        {"DeleteAllSoftSoundPlayers", [] { return DeleteAllSoftSoundPlayers(); }},
        {"RefillAllSoftSoundPlayers", [] { return RefillAllSoftSoundPlayers(); }},
        {"ProcessAllStreamSounds", [] { return ProcessAllStreamSounds(); }},
        {"CheckMusicPlaying", [] { return CheckMusicPlaying(0x40000000); }},
        {"StopMusicMem", [] { return StopMusicMem(0x40000000); }},
        {"DeleteMusicMem", [] { return DeleteMusicMem(0x40000000); }},
        {"DeleteAllMusicMem", [] { return DeleteAllMusicMem(); }},
        {"RefreshMidiPlayState", [] { return RefreshMidiPlayState(); }},
        {"PlayMidiByMci", [] { return PlayMidiByMci(); }},
        {"StopCurrentMusic", [] { return StopCurrentMusic(); }},
        {"CloseCaptureFile", [] { return CloseCaptureFile(); }},
        {"TerminateSoundSystem", [] { return TerminateSoundSystem(); }},
    };
    for (const auto &call : calls) {
        EXPECT_EQ(call.second(), -1) << call.first;
    }
    EXPECT_EQ(ProcessWindowMessages(), 0) << "the engine runs on";
    EndAndExpectLog(2);
}
