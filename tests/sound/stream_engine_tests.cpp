// Stream sounds in a running engine: who refills them (the refill thread where there is more than one processor,
// else the message pump), and closing the window while one plays with the thread running, which must end cleanly
// every time (the end stops the thread before the handles and the sound lock go).
#include <gtest/gtest.h>

#include "graphics/log_reading.h"
#include "sound/stream_test_support.h"
#include "sound/sound_test_hooks.h"
#include "core/core_test_hooks.h"

static int WriteCursorOf(EngineHandle handle)
{
    EnterCriticalSection(&g_Sound.lock);
    int cursor = GetSoundRecord(handle)->writeCursor;
    LeaveCriticalSection(&g_Sound.lock);
    return cursor;
}

TEST(StreamRefill, ThreadOrPumpRefills)
{
    std::mt19937 random(1);
    Bytes wave = MakeWave(8000, 8, 1, RandomPcm8(random, 24000));
    for (int processors : {1, 2}) {
        SCOPED_TRACE(processors);
        SetProcessorCountForTest(processors);
        SetMainWindowTitle("QvStreamRefill");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        EXPECT_EQ(g_Sound.refillThread != NULL, processors > 1);
        SetSoundBufferEmulation(1);
        EngineHandle handle = MakeStreamSound({wave}, {0});
        ASSERT_EQ(PlayStreamSound(handle, 1, 0), 0);
        int primed = WriteCursorOf(handle);
        SetStreamPlayCursorForTest(handle, 2000);
        if (processors == 1) {
            Sleep(100);
            EXPECT_EQ(WriteCursorOf(handle), primed) << "nothing refills between pump passes";
            ProcessWindowMessages();
        }
        for (int waited = 0; waited < 10000 && WriteCursorOf(handle) == primed; waited += 10) {
            Sleep(10);
        }
        EXPECT_NE(WriteCursorOf(handle), primed);
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
        EXPECT_EQ(EndEngine(), 0);
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

TEST(StreamEnd, ClosingTheWindowWhileAStreamPlaysEndsCleanly)
{
    std::mt19937 random(2);
    Bytes wave = MakeWave(44100, 16, 2, RandomPcm8(random, 44100 * 4));
    SetProcessorCountForTest(2);
    SetEngineStartOptions(1, 0, 1); // the window, its pump and sound are all this needs
    for (int run = 0; run < 20; run++) {
        SCOPED_TRACE(run);
        SetMainWindowTitle("QvStreamClose");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        EngineHandle handle = MakeStreamSound({wave}, {0});
        ASSERT_EQ(PlayStreamSound(handle, 3, 1), 0);
        for (int pass = 0; pass < 5 + run % 7; pass++, Sleep(7)) {
            ProcessWindowMessages();
        }
        PostMessageA(GetAppWindowHandle(), WM_CLOSE, 0, 0);
        int pump = 0;
        for (int pass = 0; pass < 2000 && pump == 0; pass++) {
            pump = ProcessWindowMessages();
        }
        EXPECT_EQ(pump, -1);
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_NE(ReadLogText().find("DirectSound の終了処理は正常に終了しました"), std::string::npos);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    SetProcessorCountForTest(0);
    SetEngineStartOptions(0, 0, 0);
}
