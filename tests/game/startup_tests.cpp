// Start-up and shut-down against the recording stand-in: the engine calls in their order with their arguments,
// and a failed engine start that reads and loads nothing.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <stdio.h>

static void WriteValues(const char *name, std::vector<int32_t> values)
{
    FILE *file = fopen(name, "wb");
    fwrite(values.data(), 4, values.size(), file);
    fclose(file);
}

static int RunWinMain(int initResult)
{
    ResetGameAndEngine();
    g_StandIn.initResult = initResult;
    return WinMain(nullptr, nullptr, (LPSTR) "", 0);
}

TEST(GameStartup, CallsTheEngineInOrder)
{
    remove("Option.Dat");
    ASSERT_EQ(RunWinMain(0), 0);
    std::vector<EngineCall> expected = {{"SetMainWindowTitle", {}, "VELLOMIR -囚われたソラネラ- Ver1.00"},
                                        {"ChangeWindowMode", {1}, ""},
                                        {"InitEngine", {}, ""},
                                        {"SetWindowResizable", {1, 1}, ""},
                                        {"SetAllowMultipleInstances", {0}, ""},
                                        {"MakeScreenColor", {0, 0, 0}, ""},
                                        {"MakeScreenColor", {255, 255, 255}, ""},
                                        {"SetDefaultFontType", {0}, ""},
                                        {"SetDefaultFontSize", {16}, ""},
                                        {"DrawStringDefault", {0, 0, 0xFFFFFFFF, 0}, "ＮＯＷ ＬＯＡＤＩＮＧ・・・・"},
                                        {"LoadDivGraphFromResource", {102, 280, 20, 14, 32, 32}, "PNG"},
                                        {"LoadDivGraphFromResource", {103, 180, 20, 9, 32, 32}, "PNG"},
                                        {"LoadDivGraphFromResource", {104, 10, 5, 2, 128, 96}, "PNG"}};
    const int volumes[] = {255, 102, 102, 255, 255, 102, 102, 102};
    for (int i = 0; i < 8; i++) {
        expected.push_back({"LoadSoundFromResource", {300 + i, 1}, "SE"});
    }
    for (int i = 0; i < 8; i++) {
        expected.push_back({"SetSoundVolume255", {volumes[i], 0x10000000 + 300 + i}, ""});
    }
    expected.insert(expected.end(), {{"SetDrawTarget", {-2}, ""},
                                     {"ProcessWindowMessages", {}, ""},
                                     {"ReleaseAllGraphHandles", {0}, ""},
                                     {"DeleteAllSoundHandles", {0}, ""},
                                     {"EndEngine", {}, ""}});
    EXPECT_EQ(g_StandIn.calls, expected);
}

TEST(GameStartup, FailedEngineStartReadsAndLoadsNothing)
{
    WriteValues("Save.Dat", {777, 2, 1, 1, 1, 1});
    WriteValues("Option.Dat", {1, 5});
    EXPECT_EQ(RunWinMain(-1), -1);
    EXPECT_EQ(g_StandIn.calls.size(), 3u);
    EXPECT_EQ(g_Game.HighScore + g_Game.OptionData[0], 0);
    remove("Save.Dat");
    remove("Option.Dat");
}
