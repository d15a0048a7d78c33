// Stage play's frame against the recording stand-in: the intro, clear and miss timelines, extra lives, the scroll,
// the music of each phase, and the stage's draw list against one built here from the drawing steps.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <stdio.h>

using V = std::vector<int>;
static const long long SPRITES = 0x08002000, TILES = 0x08001000, WHITE = 0xFFFFFFFF;

// Stage `stage` in play on `difficulty`: every record gone, the player standing at x 64 with 42 HP and 3 lives, the
// sheets as start-up loads them, each effect's handle its id (300 + index), no "Save.Dat". Shared by the stage tests.
void SetUpStagePlay(int stage = 0, int difficulty = 1)
{
    ResetGameAndEngine();
    ChooseDifficulty(difficulty);
    GameGlobals &g = g_Game;
    g.MainState = 0, g.StageIndex = (int8_t)stage, g.PlayerX = 64, g.PlayerY = GROUND_Y, g.PlayerHP = 42, g.Lives = 3;
    ObjectRecord gone = {};
    gone.state = GONE_STATE;
    std::fill(std::begin(ObjectTable), std::end(ObjectTable), gone);
    std::iota(std::begin(g_Handles.SpriteCells), std::end(g_Handles.SpriteCells), (EngineHandle)SPRITES);
    std::iota(std::begin(g_Handles.TileCells), std::end(g_Handles.TileCells), (EngineHandle)TILES);
    std::iota(std::begin(g_Handles.SoundEffects), std::end(g_Handles.SoundEffects), 300);
    g_Handles.ColorWhite = (unsigned int)WHITE;
    remove("Save.Dat");
}

int EffectsPlayed(int id)
{
    return (int)std::count(g_StandIn.calls.begin(), g_StandIn.calls.end(), CallLine("PlaySoundHandle", {id, 1, 1}));
}

// The clear: the bonus over frames 50-99, the hand-over on frame 201 with the records kept only without a continue and
// the save written; a pause pressed on clear frame 100 is over at the hand-over, so X latches on the next screen. The
// miss: button 1 counts from frame 11, the end comes after 401 frames, then a retry (at the boss: stage 3's clock 135).
TEST(StageSequences, ClearAndMiss)
{
    const int rows[][7] = { // difficulty, stage, continued, furthest: bonus, furthest after, clear flag
        {0, 0, 0, -1, 1000, 0, 0}, {3, 5, 0, 4, 9000, 5, 1}, {3, 5, 1, 4, 9000, 4, 0}, {1, 2, 0, 3, 4000, 3, 0},
        {2, 5, 0, 5, 8000, 5, 1}};
    for (const int *row : rows) {
        SetUpStagePlay(row[1], row[0]);
        g_Game.ContinuedFlag = (uint8_t)row[2], g_Game.FurthestStageCleared = (int8_t)row[3], g_Game.ClearState = 10;
        V seen;
        for (int frame = 1; frame <= 201; frame++) {
            g_Game.ButtonLatch[3] = frame == 100;
            GameFrame();
            if (frame == 49 || frame == 99 || frame == 200 || frame == 201) {
                seen.insert(seen.end(), {g_Game.Score, g_Game.ClearState, g_Game.EventState, g_Game.PauseFlag});
            }
        }
        GameFrame(); // the event, which goes on to the next stage or to the title
        ApplyPadBits(0x20);
        seen.insert(seen.end(), {g_Game.FurthestStageCleared, g_Game.SaveData.ClearFlags[row[0]],
                                 (int)ReadBytes("Save.Dat").size(), g_Game.ButtonLatch[1]});
        int b = row[4]; // the bonus
        EXPECT_EQ(seen, V({0, 10, 0, 0, b, 10, 0, 0, b, 10, 0, 10, b, 0, 10, 0, row[5], row[6], 24, 1})) << row[1];
    }
    const int misses[][6] = {{2, 0, 0, 10, 11, 0}, {1, 0, 0, 0, 401, 0}, {2, 3, 1, 30, 30, 135}};
    for (const int *row : misses) { // lives, stage, boss phase, button from: frames, clock
        SetUpStagePlay(row[1]);
        g_Game.Lives = (int8_t)row[0], g_Game.BossPhase = (int8_t)row[2], g_Game.StageTime = 99, g_Game.MissState = 10;
        int frame = 0;
        while (g_Game.MissState > 0 && frame < 500) {
            g_Game.ButtonLatch[0] = ++frame >= row[3] && row[3] > 0;
            GameFrame();
        }
        EXPECT_EQ(V({frame, g_Game.StageTime, g_Game.IntroState, g_Game.Lives}), V({row[4], row[5], 10, row[0]}));
    }
}

// A pressed on the clear's frame 201, the hand-over, as the main loop latches it: X still hides the event's text; A
// ends the event, and the next stage plays unpaused once its intro is over, or, after the last stage, the difficulty
// menu's X goes back.
TEST(StageSequences, PauseOnTheClearsLastFrame)
{
    auto frames = [](std::vector<unsigned int> pads) {
        for (unsigned int pad : pads) {
            ApplyPadBits(pad);
            GameFrame();
            ForgetFrameInput();
        }
    };
    for (int stage : {0, 5}) {
        SCOPED_TRACE(testing::Message() << "stage " << stage);
        SetUpStagePlay(stage);
        g_Game.ClearState = 10;
        frames(std::vector<unsigned int>(200, 0));
        frames({0x80, 0, 0, 0x20}); // A on frame 201; the event's start, its script, X on its first page
        EXPECT_EQ(g_Game.TextWindowHidden, 1);
        frames({0x80, 0}); // A ends the event
        if (stage == 0) {
            frames(std::vector<unsigned int>(70, 0)); // stage 1's intro
            EXPECT_EQ(V({g_Game.StageIndex, g_Game.IntroState, g_Game.PauseFlag}), V({1, 0, 0}));
        } else {
            frames({0, 0, 0x10, 0, 0x20}); // the title's load and set-up, START, then X on the difficulty menu
            EXPECT_EQ(g_Game.MainState, 20);
        }
    }
}

// Seventy frames from ScrollX 638: paused, the extra-life threshold steps by 50,000 x (difficulty + 1), one life (307)
// a frame at most, none past 10 lives, and becomes 0 once both it and the score reach the cap; in each phase the
// scroll steps every second frame, wrapping from 639 to 0, in free play only; the intro ends on its 70th frame; music.
TEST(StageFrame, PhasesScrollMusicAndExtraLives)
{
    struct Row {
        int difficulty, score, threshold, lives, thresholdAfter, livesAfter, pause = 10, boss = 0, clear = 0, intro = 0;
        int miss = 0, scroll = 638, introEnd = 0;
        std::string music = "";
    } rows[] = {
        {0, 25000, 25000, 3, 75000, 4}, {3, 100000, 100000, 3, 300000, 4}, {0, 200000, 25000, 3, 225000, 7},
        {1, 30000, 50000, 3, 50000, 3}, {1, 60000, 50000, 10, 150000, 10}, {1, 9999999, 9990000, 3, 0, 4},
        {2, 12000000, 9999999, 9, 0, 10}, {1, 500, 0, 3, 0, 3}, {1, 0, 0, 3, 0, 3, 0, 0, 0, 0, 0, 33},
        {1, 0, 0, 3, 0, 3, 0, 1, 0, 0, 0, 638, 0, "203"}, {1, 0, 0, 3, 0, 3, 0, 2, 0, 0, 0, 638, 0, "206"},
        {1, 0, 0, 3, 0, 3, 0, 0, 10, 0, 0, 638, 0, "207"}, {1, 0, 0, 3, 0, 3, 0, 0, 0, 10, 0, 638, 70, "202"},
        {1, 0, 0, 3, 0, 3, 0, 0, 0, 0, 10, 638, 0, "205"}, {1, 0, 0, 3, 0, 3, 0, 1, 0, 0, 10, 638, 0, "205"}};
    for (const Row &row : rows) {
        SetUpStagePlay(0, row.difficulty);
        GameGlobals &g = g_Game;
        g.BossPhase = (int8_t)row.boss, g.ClearState = (int8_t)row.clear, g.IntroState = (int8_t)row.intro;
        g.PauseFlag = (int8_t)row.pause, g.MissState = (int8_t)row.miss, g.IntroX = -160, g.ScrollX = 638;
        g.Score = row.score, g.ExtraLifeThreshold = row.threshold, g.Lives = (int8_t)row.lives;
        int introEnd = 0;
        for (int frame = 1; frame <= 70; frame++) {
            bool inIntro = g.IntroState > 0;
            GameFrame();
            introEnd = inIntro && g.IntroState == 0 ? frame : introEnd;
        }
        std::string music;
        for (const std::string &call : CallsNamed("LoadSoundFromResource")) {
            music += call.substr(22, 3);
        }
        EXPECT_EQ(V({g.ScrollX, introEnd, g.ExtraLifeThreshold, g.Lives, EffectsPlayed(307)}),
                  V({row.scroll, row.introEnd, row.thresholdAfter, row.livesAfter, row.livesAfter - row.lives}))
            << "row " << &row - rows;
        EXPECT_EQ(music, row.music) << "row " << &row - rows;
    }
}

// The stage picture as the drawing steps and the heads-up display give it, for the globals as they stand. A sprite
// cell outside the sheet draws nothing.
static std::vector<std::string> ExpectedStageDraw(void)
{
    const GameGlobals &g = g_Game;
    std::vector<std::string> list;
    auto run = [&](int first, int count, int x, int y, int step, int trans, int cellStep) {
        for (int i = 0; i < count; i++) {
            list.push_back(CallLine("DrawGraphAt", {x + step * i, y, TILES + first + cellStep * i, trans}));
        }
    };
    auto sprite = [&](int cell, int x, int y, bool mirrored) {
        if (cell >= 0 && cell < 280) {
            list.push_back(CallLine(mirrored ? "DrawGraphMirrored" : "DrawGraphAt", {x, y, SPRITES + cell, 1}));
        }
    };
    for (int n = 0; n < 2 * 15 * 21; n++) { // both layers, row by row, 21 columns each
        int layer = n / 315, r = n / 21 % 15, c = n % 21;
        int t = (layer ? ForegroundMap : BackgroundMap)[g.StageIndex][r][g.ScrollX / 32 + c];
        run(t, layer == 0 || t != 0, 32 * c - g.ScrollX % 32, 32 * r, 0, layer, 0);
    }
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
            const ObjectRecord &o = ObjectTable[i];
            bool knocked = o.state == 8 || o.state == 9 || o.state == 10 || o.state >= 17, mirrored = o.state > 10;
            int first = o.frame < 5 ? ObjectAnimations[o.anim].cells[o.frame] : -1, columns = o.w / 32;
            bool shown = o.appearTime >= g.StageWindowStart && o.appearTime <= g.StageTime && o.state != 127;
            for (int k = 0; shown && (knocked || !pass) && first >= 0 && k < o.h / 32 * columns; k++) {
                int r = k / columns, c = k % columns;
                sprite(first + 20 * r + (mirrored ? columns - 1 - c : c), o.x + 32 * c, o.y + 32 * r, mirrored);
            }
        }
    }
    bool m = g.PlayerFacing == 1;
    size_t playerStart = list.size();
    sprite(PlayerAnimations[g.PlayerAnimRow].cells[g.PlayerAnimFrame], g.PlayerX, g.PlayerY, m);
    if (g.PlayerAttacking && g.PlayerHP > 0 && !g.PlayerHurt) {
        sprite(PlayerAnimations[5].cells[g.PlayerAnimFrame], g.PlayerX + (m ? -32 : 32), g.PlayerY, m);
    }
    if (g.StrikeMode == 0) {
        sprite(2, g.PlayerX, g.PlayerY - 48, m);
    } else {
        list.push_back(
            CallLine("DrawGraphRotated", {g.PlayerX + 16, g.PlayerY - 32, 1000, -1570796, SPRITES + 2, 1, 0}));
    }
    if (g.InvulnerableFlag) { // the player, weapon and icon half transparent
        list.insert(list.begin() + (long)playerStart, "SetDrawBlend(1,128)");
        list.push_back("SetDrawBlend(0,0)");
    }
    const int values[3] = {g.HighScore, g.Score, g.ExtraLifeThreshold},
              names[3][3] = {{36, 4, 16}, {37, 3, 48}, {44, 2, 64}};
    for (int row = 0; row < 3; row++) {
        run(names[row][0], names[row][1], names[row][2], 16 * row + 16, 32, 1, 1);
        for (int k = 0, power = 1000000; k < 7; k++, power /= 10) {
            run(10 + values[row] / power % 10, 1, 128 + 16 * k, 16 * row + 16, 0, 1, 0);
        }
    }
    int bossPoints = g.BossPhase >= 1 ? ObjectTable[BossRecordIndex[g.StageIndex]].hp : g.BossHealthDisplay;
    for (int gauge = 0; gauge < 2; gauge++) {
        int y = 16 + 16 * gauge;
        run(56 + gauge, 1, 254, y, 0, 1, 0), run(51, 1, 272, y, 0, 1, 0), run(53, 1, 624, y, 0, 1, 0);
        run(52, 21, 288, y, 16, 1, 0);
        run(54 + gauge, std::max(0, std::min<int>(gauge ? bossPoints : g.PlayerHP, 42)), 288, y, 8, 1, 0);
        run(43, gauge ? 0 : g.Lives - 1, 608, 48, -16, 1, 0);
    }
    run(20, g.ClearState ? 11 : 0, 160, 192, 32, 0, 1);
    if (g.IntroState) {
        std::string caption = "STAGE " + std::to_string(g.StageIndex + 1);
        list.push_back(CallLine("DrawFormatStringDefault", {264, 160, WHITE}, caption.c_str()));
        run(31, 5, g.IntroX, g.IntroY, 32, 0, 1);
    }
    run(40, g.PauseFlag ? 3 : 0, 272, 192, 32, 1, 1);
    const int labels[4][2] = {{100, 2}, {102, 3}, {105, 2}, {107, 3}}, *label = labels[g.DifficultyIndex];
    run(label[0], label[1], 640 - 32 * label[1], 0, 32, 1, 1);
    return list;
}

// Objects of stage 0: a mirrored three-column block, a knocked one and a knocked mirrored one (drawn twice), one
// not due yet, one too narrow to show, one gone, a block running off the sheet's last row and one whose frame has no
// cell; the boss's record holds 60 points. The second row's weapon frame holds -1.
TEST(StageDrawing, DrawList)
{
    const int rows[][17] = { // stage, scroll, facing, row, frame, attacking, hurt, strike, invulnerable, HP, lives,
                             // difficulty, boss phase, boss display, clear, intro, pause
        {0, 37, 1, 2, 1, 1, 0, 2, 1, 50, 4, 3, 1, 0, 10, 11, 10}, {0, 0, 0, 2, 3, 1, 0, 0, 0, 1, 1, 1, 0, 5, 0, 0, 0},
        {3, 639, 1, 0, 0, 1, 1, 0, 1, 17, 10, 0, 0, 0, 0, 0, 0},
        {1, 320, 0, 2, 1, 1, 0, 2, 0, 0, 2, 2, 0, 99, 0, 0, 0}};
    const int objects[][8] = { // state, anim, frame, x, y, w, h, appearTime
        {12, 0, 0, 100, 200, 96, 32, 0}, {10, 8, 1, 300, 250, 32, 64, 0}, {18, 16, 0, 20, 40, 64, 32, 0},
        {0, 0, 0, 0, 0, 32, 32, 5}, {0, 0, 0, 0, 0, 16, 64, 0}, {127, 0, 0, 0, 0, 32, 32, 0},
        {0, 71, 2, 400, 0, 32, 128, 0}, {0, 0, 5, 500, 0, 64, 64, 0}};
    for (const int *row : rows) {
        SetUpStagePlay(row[0], row[11]);
        for (int i = 0; i < 8; i++) {
            const int *o = objects[i];
            ObjectTable[i] = {0, (int8_t)o[0], 0, 0, (int16_t)o[1], 0, (int8_t)o[2], 0, o[7], 0, 0, 0, o[3], o[4],
                              o[5], o[6], 0, 0};
        }
        ObjectTable[BossRecordIndex[row[0]]].hp = 60;
        GameGlobals &g = g_Game;
        g.ScrollX = row[1], g.StageTime = 3, g.PlayerX = 200, g.PlayerY = 300, g.PlayerFacing = (uint8_t)row[2];
        g.PlayerAnimRow = (int8_t)row[3], g.PlayerAnimFrame = (int8_t)row[4], g.PlayerAttacking = (uint8_t)row[5];
        g.PlayerHurt = (uint8_t)row[6], g.StrikeMode = (uint8_t)row[7], g.InvulnerableFlag = (uint8_t)row[8];
        g.PlayerHP = (int8_t)row[9], g.Lives = (int8_t)row[10], g.BossPhase = (int8_t)row[12];
        g.BossHealthDisplay = (int16_t)row[13], g.ClearState = (int8_t)row[14], g.IntroState = (int8_t)row[15];
        g.PauseFlag = (int8_t)row[16], g.IntroX = 100, g.IntroY = 192;
        g.HighScore = 1234567, g.Score = 89, g.ExtraLifeThreshold = 100000;
        DrawStagePlay();
        EXPECT_EQ(g_StandIn.calls, ExpectedStageDraw()) << "stage " << row[0] << " scroll " << row[1];
    }
}
