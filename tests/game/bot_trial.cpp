// Trial tool for tuning the stages against the bot: plays one stage on one difficulty with the bot (or with no
// input at all, as the threat check does) against the engine stand-in, recording off, from the test program's
// --start (S "run": a whole run from the title to the title again, optionally giving up stage G once), and
// prints how it ended (CLEAR at the event's first frame, GAMEOVER or TIMEOUT), the frames, the hurts,
// the misses, the lives and the boss's hit points; with --verbose also each hurt with the records near the player.
// Much faster than the program under Wine, so all 24 stages run in seconds side by side. Not a test. Single thread.
//   bot_trial D S|run [--give-up G] [--idle] [--verbose]
#include "engine_stand_in.h"

#include "graphics/graphics.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

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
    int difficulty = atoi(argv[1]), stage = atoi(argv[2]), giveUp = -1;
    bool run = strcmp(argv[2], "run") == 0, idle = false, verbose = false;
    for (int i = 3; i < argc; i++) {
        idle |= strcmp(argv[i], "--idle") == 0;
        verbose |= strcmp(argv[i], "--verbose") == 0;
        giveUp = strcmp(argv[i], "--give-up") == 0 && i + 1 < argc ? atoi(argv[i + 1]) : giveUp;
    }
    ResetGameAndEngine();
    g_StandIn.recording = false;
    StartStage(0);
    char options[64];
    if (run) {
        snprintf(options, sizeof(options), giveUp >= 0 ? "--bot %d --bot-give-up %d" : "--bot %d", difficulty, giveUp);
    } else {
        snprintf(options, sizeof(options), "--start %d,%d --bot %d", difficulty, stage, difficulty);
    }
    if (StartTestBuild(options) >= 0) {
        return 2;
    }
    ApplyTestStart();
    bool entered[STAGE_RECORD_LIMIT] = {};
    int hurts = 0, misses = 0, frame = 0, limit = run ? FRAME_LIMIT * 8 : FRAME_LIMIT;
    bool played = false;
    for (; frame < limit && (run || g_Game.EventState == 0) && (run ? !(played && g_Game.MainState == 30 &&
                                                                        g_Game.MissState == 0 && giveUp < 0)
                                                                 : g_Game.MainState != 10);
         frame++) {
        played |= g_Game.MainState == 0;
        if (run && g_Game.MainState == 30 && played && giveUp >= 0 && frame > 0) {
            giveUp = -1; // the CONTINUE after the give-up: play on
            played = false;
        }
        unsigned int bits = 0;
        if (!idle) {
            TakeTestPadBits(&bits);
        }
        bool wasHurt = g_Game.PlayerHurt == 1, wasMissed = g_Game.MissState > 0;
        ApplyPadBits(bits);
        GameFrame();
        ForgetFrameInput();
        if (!wasHurt && g_Game.PlayerHurt == 1) {
            hurts++;
            if (verbose) {
                PrintHurt(frame, g_Game.StageIndex);
            }
        }
        misses += !wasMissed && g_Game.MissState > 0;
        for (int i = 0; i < StageObjectCount[g_Game.StageIndex] && !run && g_Game.MainState == 0; i++) {
            const ObjectRecord &r = ObjectTable[i];
            entered[i] |= IsObjectActive(i) && r.x + r.w >= 0 && r.x <= 639 && r.y + r.h >= 0 && r.y <= 479;
        }
    }
    if (run) {
        const SaveRecord &save = g_Game.SaveData;
        printf("D%d run: frames %d hurts %d misses %d lives %d stage %d score %d high %d save: high %d furthest %d "
               "flags %d%d%d%d\n",
               difficulty, frame, hurts, misses, g_Game.Lives, g_Game.StageIndex, (int)g_Game.Score,
               (int)g_Game.HighScore, (int)save.HighScore, (int)save.FurthestStage, (int)save.ClearFlags[0],
               (int)save.ClearFlags[1], (int)save.ClearFlags[2], (int)save.ClearFlags[3]);
        return 0;
    }
    const char *end = g_Game.EventState > 0 ? "CLEAR" : g_Game.MainState == 10 ? "GAMEOVER" : "TIMEOUT";
    std::string missing;
    for (int i = 0; i < StageObjectCount[stage]; i++) {
        if (!entered[i]) {
            missing += " " + std::to_string(i);
        }
    }
    printf("D%d S%d %s frames %d hurts %d misses %d lives %d clock %d boss hp %d never on screen:%s\n", difficulty,
           stage, end, frame, hurts, misses, g_Game.Lives, (int)g_Game.StageTime, ObjectTable[BossRecordIndex[stage]].hp,
           missing.c_str());
    return 0;
}
