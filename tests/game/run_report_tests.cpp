// The test program's whole-run options against the stand-in: the frames whose stage picture is drawn, and a run's
// report and end rules over a made-up course of frames (misses, an extra life, a clear, a game over, a continue).
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

// Frames 1-9 with --draw-every 4 and shots at 2 and 6: the stage picture and the flip of each; --stop-at 9 holds that
// frame (the stand-in's pump ends the hold), which is always drawn.
TEST(RunOptions, StagePictureDue)
{
    ResetGameAndEngine();
    ASSERT_EQ(StartTestBuild("--draw-every 4 --shot-at 2,6 --stop-at 9"), -1);
    std::string drawn;
    for (int frame = 1; frame <= 9; frame++) {
        drawn += IsStagePictureDue() ? '1' : '0';
        drawn += IsFlipDue() ? '1' : '0';
        EXPECT_EQ(EndTestFrame(), frame == 9 ? 0 : -1);
    }
    EXPECT_EQ(drawn, "001100110011001111");
    for (const char *line : {"--draw-every 4x", "--shot-at 5,,6", "--shot-at 5,", "--shot-at 0"}) {
        EXPECT_EQ(StartTestBuild(line), 2) << line;
    }
    remove("held");
}

// Each row is the game's values after one frame: MainState, StageIndex, Lives, MissState, ClearState, EventState,
// and whether --end-at-title ends the run there.
TEST(RunOptions, ReportAndEndRules)
{
    const int rows[][7] = {
        {0, 0, 3, 0, 0, 0, 0},  {0, 0, 2, 10, 0, 0, 0}, {0, 0, 2, 0, 0, 0, 0},  {0, 0, 3, 0, 0, 0, 0},
        {0, 0, 2, 10, 0, 0, 0}, {0, 0, 2, 0, 5, 0, 0},  {0, 0, 2, 0, 0, 10, 0}, {0, 1, 2, 0, 0, 0, 0},
        {0, 1, 0, 10, 0, 0, 0}, {10, 1, 0, 0, 0, 0, 0}, {30, 1, 0, 0, 0, 0, 0}, {0, 1, 3, 0, 0, 0, 0},
        {0, 1, 3, 0, 5, 0, 0},  {0, 1, 3, 0, 0, 10, 0}, {10, 1, 3, 0, 0, 0, 0}, {30, 1, 3, 0, 0, 0, 1}};
    ResetGameAndEngine();
    remove("report.txt");
    ASSERT_EQ(StartTestBuild("--end-at-title --report report.txt"), -1);
    for (int frame = 1; frame <= 16; frame++) {
        const int *row = rows[frame - 1];
        GameGlobals &g = g_Game;
        g.MainState = (int8_t)row[0], g.StageIndex = (int8_t)row[1], g.Lives = (int8_t)row[2];
        g.MissState = (int8_t)row[3], g.ClearState = (int8_t)row[4], g.EventState = (int8_t)row[5];
        g.Score = 100 * frame;
        EXPECT_EQ(EndTestFrame(), row[6] ? 0 : -1) << "frame " << frame;
    }
    WriteRunReport();
    StartTestBuild("");
    std::stringstream report;
    report << std::ifstream("report.txt").rdbuf();
    EXPECT_EQ(report.str(), "frames=16\n"
                            "clear stage=0 difficulty=1 lives_lost=2 frames=7 score=700\n"
                            "clear stage=1 difficulty=1 lives_lost=0 frames=3 score=1400\n"
                            "entered stage=0 records=\n"
                            "entered stage=1 records=\n");
}
