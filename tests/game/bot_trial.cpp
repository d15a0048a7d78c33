// Trial tool for tuning the stages against the bot: plays one stage on one difficulty with the bot (or with no
// input at all, as the threat check does) against the engine stand-in, recording off, from the test program's
// --start, and prints how it ended (CLEAR at the event's first frame, GAMEOVER or TIMEOUT), the frames, the hurts,
// the misses, the lives and the boss's hit points; with --verbose also each hurt with the records near the player.
// Much faster than the program under Wine, so all 24 stages run in seconds side by side. Not a test. Single thread.
//   bot_trial D S [--idle] [--verbose]
#include "engine_stand_in.h"

#include "graphics/graphics.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FRAME_LIMIT 25000

static void PrintHurt(int frame, int stage)
{
    const GameGlobals &g = g_Game;
    printf("  hurt at frame %d (clock %d): player (%d,%d) facing %d attacking %d hp %d:", frame, (int)g.StageTime,
           (int)g.PlayerX, (int)g.PlayerY, g.PlayerFacing, g.PlayerAttacking, g.PlayerHP);
    for (int i = 0; i < StageObjectCount[stage]; i++) {
        const ObjectRecord &r = ObjectTable[i];
        if (IsObjectActive(i) && abs(r.x - g.PlayerX) < 120 && abs(r.y - g.PlayerY) < 120) {
            printf(" [%d type %d state %d (%d,%d) %dx%d hp %d period %d]", i, r.type, r.state, (int)r.x, (int)r.y,
                   (int)r.w, (int)r.h, r.hp, (int)r.period);
        }
    }
    printf("\n");
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: bot_trial D S [--idle] [--verbose]\n");
        return 2;
    }
    int difficulty = atoi(argv[1]), stage = atoi(argv[2]);
    bool idle = false, verbose = false;
    for (int i = 3; i < argc; i++) {
        idle |= strcmp(argv[i], "--idle") == 0;
        verbose |= strcmp(argv[i], "--verbose") == 0;
    }
    ResetGameAndEngine();
    g_StandIn.recording = false;
    StartStage(0);
    char options[64];
    snprintf(options, sizeof(options), "--start %d,%d --bot %d", difficulty, stage, difficulty);
    if (StartTestBuild(options) >= 0) {
        return 2;
    }
    ApplyTestStart();
    int hurts = 0, misses = 0, frame = 0;
    for (; frame < FRAME_LIMIT && g_Game.EventState == 0 && g_Game.MainState != 10; frame++) {
        unsigned int bits = 0;
        if (!idle) {
            TakeTestPadBits(&bits);
        }
        bool wasHurt = g_Game.PlayerHurt == 1, wasMissed = g_Game.MissState > 0;
        ApplyPadBits(bits);
        GameFrame();
        g_Game.InputHorizontal = 0;
        g_Game.InputVertical = 0;
        memset(g_Game.ButtonLatch, 0, sizeof(g_Game.ButtonLatch));
        if (!wasHurt && g_Game.PlayerHurt == 1) {
            hurts++;
            if (verbose) {
                PrintHurt(frame, stage);
            }
        }
        misses += !wasMissed && g_Game.MissState > 0;
    }
    const char *end = g_Game.EventState > 0 ? "CLEAR" : g_Game.MainState == 10 ? "GAMEOVER" : "TIMEOUT";
    printf("D%d S%d %s frames %d hurts %d misses %d lives %d clock %d boss hp %d\n", difficulty, stage, end, frame,
           hurts, misses, g_Game.Lives, (int)g_Game.StageTime, ObjectTable[BossRecordIndex[stage]].hp);
    return 0;
}
