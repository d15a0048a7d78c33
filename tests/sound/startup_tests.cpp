// Sound start-up and end on the harness's sink: the log's steps in order with the device block's indent back where
// it began, a second start refused, the refill thread running and gone by the time the end returns (also when the
// window was closed first, so that the pump answers -1), and an end that leaves nothing allocated.
#include <gtest/gtest.h>

#include "sound_test_engine.h"
#include "graphics/log_reading.h"

#include <sstream>

namespace
{

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
        ASSERT_EQ(StartSoundTestEngine("QvSoundStartup"), 0);
        ASSERT_NE(g_Sound.directSound, nullptr);
    }
    // A duplicate of the refill thread's handle, to see after the end whether the thread has ended.
    HANDLE RefillThreadCopy(void)
    {
        HANDLE copy = NULL;
        DuplicateHandle(GetCurrentProcess(), g_Sound.refillThread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
        return copy;
    }
    void EndAndExpectThreadGone(HANDLE thread)
    {
        EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT) << "the refill thread runs";
        EXPECT_EQ(TerminateSoundSystem(), 0);
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the refill thread outlived the sound end";
        EXPECT_EQ(g_Sound.refillThread, (HANDLE)NULL);
        CloseHandle(thread);
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(GetAllocationCount(), 0);
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
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(g_Sound.directSound, nullptr);
    EXPECT_EQ(g_Sound.acm.module, (HMODULE)NULL);

    std::string log = ReadLogText();
    EXPECT_EQ(FirstMissingInOrder(
                  log, {"DirectSound の初期化を行います", "DirectSound インターフェースの取得を行います....  成功",
                        "引き続きインターフェースの初期化処理...  成功", "DirectSound デバイスを列挙します",
                        "モジュール名:", "最大サンプリングレート:", "総サウンドメモリ領域:", "利用可能サンプリング精度",
                        " プライマリ １６bit = ", " セカンダリ １６bit = ", "利用可能チャンネル",
                        " プライマリ MONO = ", " セカンダリ MONO = ", "DirectSound の初期化は正常に終了しました",
                        "DirectSound の終了処理は正常に終了しました", "Total size:0(0.000kb)  Alloc num:0"}),
              "");
    EXPECT_EQ(log.find("失敗"), std::string::npos);
    int base = IndentOf(log, "DirectSound の初期化を行います");
    EXPECT_EQ(IndentOf(log, "DirectSound デバイスを列挙します"), base + 1);
    EXPECT_EQ(IndentOf(log, "モジュール名:"), base + 2);
    EXPECT_EQ(IndentOf(log, "利用可能チャンネル"), base + 1);
    EXPECT_EQ(IndentOf(log, "DirectSound の初期化は正常に終了しました"), base);
}

TEST_F(SoundStartup, EndWaitsForTheRefillThreadWhilePumping)
{
    if (g_Sound.refillThread == NULL) {
        GTEST_SKIP() << "one processor: the pump refills";
    }
    EndAndExpectThreadGone(RefillThreadCopy());
}

TEST_F(SoundStartup, EndWaitsForTheRefillThreadAfterTheWindowClosed)
{
    if (g_Sound.refillThread == NULL) {
        GTEST_SKIP() << "one processor: the pump refills";
    }
    HANDLE thread = RefillThreadCopy();
    PostMessageA(GetAppWindowHandle(), WM_CLOSE, 0, 0);
    DWORD start = GetTickCount();
    while (ProcessWindowMessages() == 0 && GetTickCount() - start < 20000) {
        Sleep(1);
    }
    ASSERT_EQ(ProcessWindowMessages(), -1) << "the pump answers -1 once the window is closed";
    EndAndExpectThreadGone(thread);
}

// The DirectMusic mode, which nothing in the program selects: DirectMusic makes the device, the ports are logged,
// and the end takes everything down.
TEST(SoundStartupMusicMode, DirectMusicMakesTheDeviceAndEndsClean)
{
    g_Sound.musicMode = 1;
    SetMainWindowTitle("QvSoundMusicMode");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(g_Sound.musicMode, 1);
    EXPECT_TRUE(g_Sound.directSound != nullptr && g_Sound.musicPerformance != nullptr);
    EXPECT_EQ(g_Sound.primaryBuffer, nullptr) << "no primary buffer in this mode";
    EXPECT_EQ(EndEngine(), 0);
    g_Sound.musicMode = 0;
    EXPECT_EQ(g_Sound.musicPerformance, nullptr);
    EXPECT_EQ(GetAllocationCount(), 0);
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"DirectSound8 の初期化を行います",
                                                  "出力ポート  Device0:", "DirectSound の初期化は正常に終了しました"}),
              "");
}
