// Stage start: the state of a new game, a continue or a retry after a miss, the stage's objects copied from its
// templates with the difficulty's changes, and the way on from a cleared stage's event to the next stage.
// Window thread.
#include "game/game_state.h"

#define STAGE_START_MODE_NEW 0
#define STAGE_START_MODE_CONTINUE 1
#define STAGE_START_MODE_RETRY 2

// The difficulty's change to one record copied from the templates of `stage`.
static void AdjustForDifficulty(int stage, ObjectRecord *record)
{
    int difficulty = g_Game.DifficultyIndex;
    int type = record->type;
    if (stage == 1 && difficulty >= 2 && type == 2) {
        record->period = 0;
        record->savedPeriod = 0;
    } else if ((stage == 3 || stage == 4) && difficulty == 1 && (type == 3 || type == 6)) {
        record->hp = 3;
    } else if (stage == 5 && difficulty <= 1) {
        bool bossKind = type == 9 || type == 10 || type == 11 || type == 14;
        if (difficulty == 0 && bossKind) {
            record->hp = 9;
        } else if (difficulty == 0 && type == 12) {
            record->hp = 15;
        } else if (difficulty == 1 && (type == 3 || type == 6)) {
            record->hp = 3;
        } else if (difficulty == 1 && bossKind) {
            record->hp = 8;
        } else if (difficulty == 1 && type == 12) {
            record->hp = 10;
        }
    }
}

void StartStage(int8_t mode)
{
    GameGlobals &g = g_Game;
    int firstLife = (g.DifficultyIndex + 1) * 25000;
    if (mode == STAGE_START_MODE_NEW) {
        g.ExtraLifeThreshold = firstLife;
        g.StageIndex = 0;
        g.ContinuedFlag = 0;
    } else if (mode == STAGE_START_MODE_CONTINUE) {
        g.ContinuedFlag = g.StageIndex != 0 ? 1 : 0;
        g.ExtraLifeThreshold = firstLife;
    }
    if (mode == STAGE_START_MODE_RETRY) {
        int start = g.BossPhase >= 1 ? StageObjectTemplates[g.StageIndex][BossRecordIndex[g.StageIndex]].appearTime : 0;
        g.StageTime = start;
        g.StageWindowStart = start;
    } else {
        g.Lives = 3;
        g.Score = 0;
        g.StageTime = 0;
        g.StageWindowStart = 0;
    }

    for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
        ObjectTable[i] = StageObjectTemplates[g.StageIndex][i];
        AdjustForDifficulty(g.StageIndex, &ObjectTable[i]);
    }

    g.PlayerHP = 42;
    g.PlayerX = 64;
    g.PlayerY = GROUND_Y;
    g.PlayerFacing = 0;
    g.JumpRising = 0;
    g.PlayerAttacking = 0;
    g.PlayerHurt = 0;
    g.PlayerAnimRow = 0;
    g.PlayerAnimFrame = 0;
    g.PlayerAnimTick = 0;
    g.StrikeMode = 0;
    g.InvulnerableFlag = 0;
    g.InvulnerableTimer = 0;

    g.StageTickFrames = 0;
    g.BossPhase = 0;
    g.BossHealthDisplay = 0;
    g.ScrollX = 0;
    g.ScrollWait = 0;
    g.EventState = 0;
    g.MissState = 0;
    g.ClearState = 0;
    g.SequenceTimer = 0;
    g.IntroState = 10;
    g.IntroX = -160;
    g.IntroY = 192;
    g.GalleryTextOff = 0;
    g.InputHorizontal = 0;
    g.InputVertical = 0;
    g.ButtonLatch[0] = 0;
    g.ButtonLatch[1] = 0;
}

// After a cleared stage's event: the next stage with the lives, score, extra-life threshold and continue flag of
// the run, its intro open and the hand-over to play done as the title side does it.
void StartNextStage(void)
{
    g_Game.StageIndex += 1;
    g_Game.BossPhase = 0;
    StartStage(STAGE_START_MODE_RETRY);
    g_Game.FrameTarget = 16;
    g_Game.ButtonMode[0] = 0;
    ReleasePicture();
}
