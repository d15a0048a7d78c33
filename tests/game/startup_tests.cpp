// Start-up and shut-down against the recording stand-in: the engine calls in their order with their arguments,
// the option file's screen mode, and a failed engine start that reads and loads nothing.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <stdio.h>

static void WriteFile(const char *name, const void *bytes, size_t size)
{
    FILE *file = fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes, 1, size, file);
    fclose(file);
}

static int RunWinMain(void)
{
    return WinMain(nullptr, nullptr, (LPSTR) "", 0);
}

TEST(GameStartup, CallsTheEngineInOrder)
{
    remove("Option.Dat");
    remove("Save.Dat");
    ResetGameAndEngine();
    ASSERT_EQ(RunWinMain(), 0);
    std::vector<EngineCall> expected = {
        {"SetMainWindowTitle", {}, "VELLOMIR -囚われたソラネラ- Ver1.00"},
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
        {"LoadDivGraphFromResource", {104, 10, 5, 2, 128, 96}, "PNG"},
    };
    const int volumes[] = {255, 102, 102, 255, 255, 102, 102, 102};
    for (int i = 0; i < 8; i++) {
        expected.push_back({"LoadSoundFromResource", {300 + i, 1}, "SE"});
    }
    for (int i = 0; i < 8; i++) {
        expected.push_back({"SetSoundVolume255", {volumes[i], 0x10000000 + 300 + i}, ""});
    }
    expected.push_back({"SetDrawTarget", {-2}, ""});
    expected.push_back({"ProcessWindowMessages", {}, ""});
    expected.push_back({"ReleaseAllGraphHandles", {0}, ""});
    expected.push_back({"DeleteAllSoundHandles", {0}, ""});
    expected.push_back({"EndEngine", {}, ""});
    EXPECT_EQ(g_StandIn.calls, expected);
}

TEST(GameStartup, FailedEngineStartReadsAndLoadsNothing)
{
    const int32_t save[6] = {777, 2, 1, 1, 1, 1}, option[2] = {1, 5};
    WriteFile("Save.Dat", save, sizeof(save));
    WriteFile("Option.Dat", option, sizeof(option));
    ResetGameAndEngine();
    g_StandIn.initResult = -1;
    EXPECT_EQ(RunWinMain(), -1);
    EXPECT_EQ(g_StandIn.calls.size(), 3u);
    EXPECT_EQ(g_Game.HighScore, 0);
    EXPECT_EQ(g_Game.OptionData[0], 0);
    remove("Save.Dat");
    remove("Option.Dat");
}

// The first value of "Option.Dat" chooses full screen only when it is exactly 1; a 4-byte file leaves the second 0.
TEST(GameStartup, OptionFileChoosesTheScreen)
{
    struct Row {
        std::vector<int32_t> values;
        bool fullScreen;
        int32_t second;
    } rows[] = {{{1, 7}, true, 7}, {{1}, true, 0}, {{2, 0}, false, 0}, {{0, 3}, false, 3}, {{}, false, 0}};
    for (const Row &row : rows) {
        WriteFile("Option.Dat", row.values.data(), row.values.size() * 4);
        ResetGameAndEngine();
        RunWinMain();
        EXPECT_EQ(CallsNamed("ChangeWindowMode").size(), row.fullScreen ? 2u : 1u) << row.values.size();
        EXPECT_EQ(g_Game.OptionData[1], row.second);
    }
    remove("Option.Dat");
}
