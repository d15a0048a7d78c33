// The test program's bot against the recording stand-in: its rehearsals leave no trace in the game's values, the
// engine or the sound, and it finds its way through the menus: START on its difficulty, and CONTINUE after the game
// over it waits for on its give-up stage.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <string.h>

// The rest of one pass of the main loop without the window, once the frame's pad bits are taken.
static void PlayBits(unsigned int bits)
{
    ApplyPadBits(bits);
    GameFrame();
    ForgetFrameInput();
}

// Through a busy stage with its boss, every answer the bot gives leaves the game's values and the object table as
// they were and makes no engine call (no sound, no drawing): only the frame it answers for changes them.
TEST(Bot, RehearsalsLeaveNoTrace)
{
    ResetGameAndEngine();
    StartStage(0);
    ASSERT_EQ(StartTestBuild("--start 3,5 --bot 3"), -1);
    ApplyTestStart();
    static ObjectRecord objects[STAGE_RECORD_LIMIT];
    int changed = 0, calls = 0, frames = 0, bossSeen = 0;
    for (; frames < 9000 && g_Game.EventState == 0 && g_Game.MainState != 10; frames++) {
        GameGlobals before = g_Game;
        memcpy(objects, ObjectTable, sizeof(objects));
        g_StandIn.calls.clear();
        unsigned int bits;
        TakeTestPadBits(&bits);
        changed += memcmp(&before, &g_Game, sizeof(g_Game)) != 0 || memcmp(objects, ObjectTable, sizeof(objects)) != 0;
        calls += (int)g_StandIn.calls.size();
        PlayBits(bits);
        bossSeen |= g_Game.BossPhase > 0;
    }
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(bossSeen) << "the run reached the boss after " << frames << " frames";
}

// From the title the bot chooses START and its difficulty; given up on stage 4, it idles to the game over there and
// then continues that stage from the title.
TEST(Bot, MenusStartAndContinue)
{
    struct Row {
        const char *options;
        int difficulty, stage, continued;
    };
    const Row rows[] = {{"--bot 2", 2, 0, 0}, {"--start 0,4 --bot 0 --bot-give-up 4", 0, 4, 1}};
    for (const Row &row : rows) {
        ResetGameAndEngine();
        g_StandIn.recording = false;
        StartStage(0);
        ASSERT_EQ(StartTestBuild(row.options), -1);
        ApplyTestStart();
        bool titleSeen = false, playing = false;
        for (int frame = 0; frame < 12000 && !playing; frame++) {
            unsigned int bits;
            TakeTestPadBits(&bits);
            PlayBits(bits);
            titleSeen |= g_Game.MainState == 30;
            playing = titleSeen && g_Game.MainState == 0 && g_Game.IntroState == 0;
        }
        ASSERT_TRUE(playing) << row.options;
        EXPECT_EQ(g_Game.DifficultyIndex, row.difficulty) << row.options;
        EXPECT_EQ(g_Game.StageIndex, row.stage) << row.options;
        EXPECT_EQ(g_Game.ContinuedFlag, row.continued) << row.options;
        EXPECT_EQ(g_Game.Lives, 3) << row.options;
    }
}
