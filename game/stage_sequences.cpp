// The three timed sequences that frame a stage, each counted in frames by SequenceTimer: the intro's sliding
// caption, the clear's bonus with the records and the hand-over to the stage's event, and the miss screen's retry or
// game over. The frame step calls them, plays their music and draws the intro's and the clear's banners. Window
// thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"

#define CAPTION_HOLD_X 224
#define CAPTION_END_X 640
#define CAPTION_STEP 16
#define CAPTION_HOLD_FRAMES 20
#define BONUS_FIRST_FRAME 50
#define BONUS_LAST_FRAME 99
#define CLEAR_LAST_FRAME 200
#define MISS_BUTTON_FRAME 10
#define MISS_LAST_FRAME 400
#define LAST_STAGE 5

void StageIntroFrame(void)
{
    GameGlobals &g = g_Game;
    g.SequenceTimer += 1;
    if (g.IntroX < CAPTION_HOLD_X) {
        g.SequenceTimer = 0;
        g.IntroX += CAPTION_STEP;
    } else if (g.SequenceTimer > CAPTION_HOLD_FRAMES) {
        g.IntroX += CAPTION_STEP;
    }
    if (g.IntroX == CAPTION_END_X) {
        g.IntroState = 0;
        SetDefaultFontType(0);
        SetDefaultFontSize(16);
    }
}

void StageClearFrame(void)
{
    GameGlobals &g = g_Game;
    g.SequenceTimer += 1;
    g.ButtonMode[0] = 2;
    if (g.SequenceTimer >= BONUS_FIRST_FRAME && g.SequenceTimer <= BONUS_LAST_FRAME) {
        g.Score += 20 * (g.DifficultyIndex + g.StageIndex + 1);
    }
    if (g.SequenceTimer > CLEAR_LAST_FRAME) {
        g.ClearState = 0;
        g.EventState = 10;
        // A pause pressed during the clear would otherwise outlive the stage and keep button 2 from latching in
        // the event, the menus and the next stage.
        g.PauseFlag = 0;
        if (g.ContinuedFlag == 0 && g.StageIndex > g.FurthestStageCleared) {
            g.FurthestStageCleared = g.StageIndex;
        }
        if (g.StageIndex == LAST_STAGE && g.ContinuedFlag == 0) {
            g.SaveData.ClearFlags[g.DifficultyIndex] = 1;
        }
        WriteSaveFile();
    }
}

void MissFrame(void)
{
    GameGlobals &g = g_Game;
    g.SequenceTimer += 1;
    if ((g.ButtonLatch[0] == 1 && g.SequenceTimer > MISS_BUTTON_FRAME) || g.SequenceTimer > MISS_LAST_FRAME) {
        if (g.Lives == 0) {
            g.MainState = 10;
            WriteSaveFile();
        } else {
            StartStage(2);
        }
    }
    if (g.Lives == 0) {
        for (int i = 0; i < 10; i++) {
            DrawGraphAt(160 + 32 * i, 224, g_Handles.TileCells[i], 0);
        }
    }
}
