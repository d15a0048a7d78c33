// The test program's bot against the recording stand-in: its rehearsals leave no trace in the game's values, the
// engine or the sound. (Its way through the menus, START and CONTINUE, is checked by the whole runs under Wine.)
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
