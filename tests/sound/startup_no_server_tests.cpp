// Run with PULSE_SERVER naming no server: DirectSound cannot be initialised, so sound start-up answers -1 and logs
// why, the engine starts and runs on, every sound call answers -1, and the end leaves nothing allocated.
#include <gtest/gtest.h>

#include "sound_test_engine.h"
#include "graphics/log_reading.h"

#include <functional>

TEST(SoundWithoutServer, EngineRunsOnAndEverySoundCallAnswersMinusOne)
{
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
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(GetAllocationCount(), 0);
    std::string log = ReadLogText();
    EXPECT_EQ(FirstMissingInOrder(log, {"引き続きインターフェースの初期化処理...  初期化に失敗しました",
                                        "エラーコード ", "Total size:0(0.000kb)  Alloc num:0"}),
              "");
    EXPECT_EQ(log.find("DirectSound の初期化は正常に終了しました"), std::string::npos);
}
