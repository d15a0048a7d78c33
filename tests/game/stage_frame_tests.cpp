// Stage play's frame against the recording stand-in: the intro, clear and miss timelines, extra lives, the scroll,
// the music of each phase, and the stage's draw list against one built here from the drawing tables.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdio.h>

static const long long SPRITES = 0x08002000, TILES = 0x08001000, WHITE = 0xFFFFFFFF;

// Stage play on stage 0 with no object taking part, the sheets and effects as start-up loads them.
static void SetUpStage(void)
{
    ResetGameAndEngine();
    g_Game.MainState = 0;
    g_Handles.ColorWhite = (unsigned int)WHITE;
    for (int i = 0; i < SPRITE_CELL_COUNT; i++) {
        g_Handles.SpriteCells[i] = (EngineHandle)SPRITES + i;
    }
    for (int i = 0; i < TILE_CELL_COUNT; i++) {
        g_Handles.TileCells[i] = (EngineHandle)TILES + i;
    }
    for (int i = 0; i < SOUND_EFFECT_COUNT; i++) {
        g_Handles.SoundEffects[i] = 0x10000000 + 300 + i;
    }
    for (ObjectRecord &record : ObjectTable) {
        record = ObjectRecord();
        record.state = GONE_STATE;
    }
    g_Game.Lives = 3;
    g_Game.PlayerHP = 42;
}

// A stage's sequence about to run, with no "Save.Dat" yet.
static void SetUpSequence(int stage)
{
    SetUpStage();
    g_Game.StageIndex = (int8_t)stage;
    remove("Save.Dat");
}

// The music resources loaded, in order.
static std::vector<std::string> MusicLoaded(void)
{
    std::vector<std::string> ids;
    for (const std::string &call : CallsNamed("LoadSoundFromResource")) {
        ids.push_back(call.substr(22, 3));
    }
    return ids;
}

// From -160 the caption slides to 224 in 24 frames, holds 20 and leaves at 16 px a frame: 70 frames, the caption
// font set on the first and given back on the last, the caption drawn in it on every frame but the last.
TEST(StageSequences, IntroTimeline)
{
    SetUpStage();
    StartStage(1);
    std::vector<int> xs, expected;
    for (int frame = 1; frame <= 70; frame++) {
        expected.push_back(frame <= 24 ? -160 + 16 * frame : frame <= 44 ? 224 : 224 + 16 * (frame - 44));
    }
    for (int frame = 1; g_Game.IntroState > 0 && frame <= 80; frame++) {
        GameFrame();
        xs.push_back(g_Game.IntroX);
    }
    EXPECT_EQ(xs, expected);
    std::vector<std::string> font;
    for (const std::string &call : g_StandIn.calls) {
        if (call.find("DefaultFont") != std::string::npos || call.find("STAGE 1") != std::string::npos) {
            font.push_back(call);
        }
    }
    std::vector<std::string> want = {"SetDefaultFontType(1)", "SetDefaultFontSize(26)"};
    want.insert(want.end(), 69, "DrawFormatStringDefault(264,160,0xffffffff,STAGE 1)");
    want.insert(want.end(), {"SetDefaultFontType(0)", "SetDefaultFontSize(16)"});
    EXPECT_EQ(font, want);
}

// The bonus over frames 50-99, the hand-over on frame 201 with the records kept only without a continue and the
// save written; a pause pressed on clear frame 100 is over at the hand-over, so X latches on the next screen.
TEST(StageSequences, Clear)
{
    struct Row {
        int difficulty, stage, continued, furthest, bonus, furthestAfter, flag;
    } rows[] = {{0, 0, 0, -1, 1000, 0, 0},
                {3, 5, 0, 4, 9000, 5, 1},
                {3, 5, 1, 4, 9000, 4, 0},
                {1, 2, 0, 3, 4000, 3, 0},
                {2, 5, 0, 5, 8000, 5, 1}};
    for (const Row &row : rows) {
        SetUpSequence(row.stage);
        g_Game.DifficultyIndex = (int8_t)row.difficulty;
        g_Game.ContinuedFlag = (uint8_t)row.continued;
        g_Game.FurthestStageCleared = (int8_t)row.furthest;
        g_Game.ClearState = 10;
        std::vector<int> seen;
        for (int frame = 1; frame <= 201; frame++) {
            g_Game.ButtonLatch[3] = frame == 100;
            GameFrame();
            if (frame == 49 || frame == 99 || frame == 200 || frame == 201) {
                seen.insert(seen.end(), {g_Game.Score, g_Game.ClearState, g_Game.EventState, g_Game.PauseFlag});
            }
        }
        SCOPED_TRACE(testing::Message() << "difficulty " << row.difficulty << " stage " << row.stage);
        int b = row.bonus;
        EXPECT_EQ(seen, std::vector<int>({0, 10, 0, 0, b, 10, 0, 0, b, 10, 0, 10, b, 0, 10, 0}));
        EXPECT_EQ(g_Game.FurthestStageCleared, row.furthestAfter);
        EXPECT_EQ(g_Game.SaveData.ClearFlags[row.difficulty], row.flag);
        EXPECT_EQ(g_Game.ButtonMode[0] * 100 + (int)ReadBytes("Save.Dat").size(), 224);
        GameFrame(); // the event, which goes on to the next stage or to the title
        ApplyPadBits(0x20);
        EXPECT_EQ(g_Game.ButtonLatch[1], 1);
    }
    remove("Save.Dat");
}

// The miss screen: button 1 counts from frame 11, the screen ends after 401 frames; with lives left the stage is
// retried (at the boss: stage 3's clock from 135), with none the game is over, the save written at once and the
// banner drawn.
TEST(StageSequences, MissScreen)
{
    struct Row {
        int lives, stage, bossPhase, pressFrom, endFrame, clock;
    } rows[] = {{2, 0, 0, 10, 11, 0}, {1, 0, 0, 0, 401, 0}, {2, 3, 1, 30, 30, 135}, {0, 2, 0, 11, 11, -1}};
    for (const Row &row : rows) {
        SetUpSequence(row.stage);
        g_Game.Lives = (int8_t)row.lives;
        g_Game.BossPhase = (int8_t)row.bossPhase;
        g_Game.StageTime = 99;
        g_Game.MissState = 10;
        int frame = 0;
        while (g_Game.MissState > 0 && g_Game.MainState == 0 && frame < 500) {
            frame++;
            g_Game.ButtonLatch[0] = row.pressFrom > 0 && frame >= row.pressFrom;
            GameFrame();
        }
        SCOPED_TRACE(testing::Message() << "lives " << row.lives << " stage " << row.stage);
        EXPECT_EQ(frame, row.endFrame);
        if (row.lives == 0) {
            EXPECT_EQ(g_Game.MainState, 10);
            EXPECT_EQ(ReadBytes("Save.Dat").size(), 24u);
            EXPECT_EQ(CallsNamed("DrawGraphAt").size(), (size_t)frame * 10);
        } else {
            EXPECT_EQ(g_Game.StageTime * 100 + g_Game.IntroState, row.clock * 100 + 10);
            EXPECT_EQ(CallsNamed("DrawGraphAt").size(), 0u);
        }
    }
    remove("Save.Dat");
}

// Two paused frames: the extra-life threshold steps by 50,000 x (difficulty + 1), at most one life a frame, none
// past 10 lives, and the threshold becomes 0 once both it and the score reach the cap.
TEST(StageFrame, ExtraLives)
{
    struct Row {
        int difficulty, score, threshold, lives, thresholdAfter, livesAfter;
    } rows[] = {{0, 25000, 25000, 3, 75000, 4},    {3, 100000, 100000, 3, 300000, 4},
                {0, 200000, 25000, 3, 125000, 5},  {1, 30000, 50000, 3, 50000, 3},
                {1, 60000, 50000, 10, 150000, 10}, {1, 9999999, 9990000, 3, 0, 4},
                {2, 12000000, 9999999, 9, 0, 10},  {1, 500, 0, 3, 0, 3}};
    for (const Row &row : rows) {
        SetUpStage();
        g_Game.PauseFlag = 10;
        g_Game.DifficultyIndex = (int8_t)row.difficulty;
        g_Game.Score = row.score;
        g_Game.ExtraLifeThreshold = row.threshold;
        g_Game.Lives = (int8_t)row.lives;
        GameFrame();
        GameFrame();
        SCOPED_TRACE(testing::Message() << "score " << row.score << " threshold " << row.threshold);
        EXPECT_EQ(g_Game.ExtraLifeThreshold, row.thresholdAfter);
        EXPECT_EQ(g_Game.Lives, row.livesAfter);
        EXPECT_EQ(CallsNamed("PlaySoundHandle"),
                  std::vector<std::string>(row.livesAfter - row.lives, "PlaySoundHandle(0x10000133,1,1)"));
        EXPECT_EQ(g_Game.HighScore, std::min(row.score, 9999999));
    }
}

// One step every second call with the wrap from 639 to 0; nothing while a boss is up, paused, in the intro or the
// clear.
TEST(StageFrame, Scroll)
{
    struct Row {
        int clear, intro, pause, boss, x, wait, calls, xAfter;
    } rows[] = {{0, 0, 0, 0, 0, 0, 10, 5},     {0, 0, 0, 0, 639, 1, 1, 0},    {0, 0, 0, 0, 638, 0, 5, 0},
                {0, 0, 0, 1, 100, 1, 9, 100},  {0, 0, 10, 0, 100, 1, 9, 100}, {0, 11, 0, 0, 100, 1, 9, 100},
                {10, 0, 0, 0, 100, 1, 9, 100}, {0, 0, 0, 2, 100, 1, 9, 100}};
    for (const Row &row : rows) {
        SetUpStage();
        g_Game.ClearState = (int8_t)row.clear;
        g_Game.IntroState = (int8_t)row.intro;
        g_Game.PauseFlag = (int8_t)row.pause;
        g_Game.BossPhase = (int8_t)row.boss;
        g_Game.ScrollX = row.x;
        g_Game.ScrollWait = row.wait;
        for (int i = 0; i < row.calls; i++) {
            ScrollBackground();
        }
        EXPECT_EQ(g_Game.ScrollX, row.xAfter) << "row from " << row.x;
    }
}

// The music of a frame by boss phase, clear, intro and miss, in the order the frame checks them.
TEST(StageFrame, Tracks)
{
    struct Row {
        int boss, clear, intro, miss;
        std::vector<std::string> loaded;
    } rows[] = {{1, 0, 0, 0, {"203"}},  {2, 0, 0, 0, {"206"}},         {0, 10, 0, 0, {"207"}},
                {0, 0, 10, 0, {"202"}}, {1, 10, 0, 0, {"203", "207"}}, {1, 0, 0, 10, {"205"}}};
    for (const Row &row : rows) {
        SetUpStage();
        g_Game.BossPhase = (int8_t)row.boss;
        g_Game.ClearState = (int8_t)row.clear;
        g_Game.IntroState = (int8_t)row.intro;
        g_Game.IntroX = -160;
        g_Game.MissState = (int8_t)row.miss;
        GameFrame();
        EXPECT_EQ(MusicLoaded(), row.loaded) << "boss " << row.boss << " clear " << row.clear;
    }
}

// The stage picture as the drawing steps and the heads-up display table give it, for the globals as they stand.
static std::vector<std::string> ExpectedStageDraw(void)
{
    const GameGlobals &g = g_Game;
    std::vector<std::string> list;
    auto tile = [&](int cell, int x, int y, int trans) {
        list.push_back(CallLine("DrawGraphAt", {x, y, TILES + cell, trans}));
    };
    auto sprite = [&](int cell, int x, int y, bool mirrored) {
        if (cell >= 0 && cell < 280) {
            list.push_back(CallLine(mirrored ? "DrawGraphMirrored" : "DrawGraphAt", {x, y, SPRITES + cell, 1}));
        }
    };
    for (int layer = 0; layer < 2; layer++) {
        for (int r = 0; r < 15; r++) {
            for (int c = 0; c <= 20; c++) {
                int t = (layer ? ForegroundMap : BackgroundMap)[g.StageIndex][r][g.ScrollX / 32 + c];
                if (layer == 0 || t != 0) {
                    tile(t, 32 * c - g.ScrollX % 32, 32 * r, layer);
                }
            }
        }
    }
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
            const ObjectRecord &o = ObjectTable[i];
            bool knocked = o.state == 8 || o.state == 9 || o.state == 10 || o.state >= 17;
            if (o.appearTime < g.StageWindowStart || o.appearTime > g.StageTime || o.state == 127 ||
                (pass && !knocked)) {
                continue;
            }
            int first = ObjectAnimations[o.anim].cells[o.frame], columns = o.w / 32;
            for (int r = 0; r < o.h / 32 && first >= 0; r++) {
                for (int c = 0; c < columns; c++) {
                    int cell = first + 20 * r + (o.state > 10 ? columns - 1 - c : c);
                    sprite(cell, o.x + 32 * c, o.y + 32 * r, o.state > 10);
                }
            }
        }
    }
    bool m = g.PlayerFacing == 1;
    if (g.InvulnerableFlag) {
        list.push_back("SetDrawBlend(1,128)");
    }
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
    if (g.InvulnerableFlag) {
        list.push_back("SetDrawBlend(0,0)");
    }
    auto run = [&](int first, int count, int x, int y, int trans) {
        for (int i = 0; i < count; i++) {
            tile(first + i, x + 32 * i, y, trans);
        }
    };
    auto repeat = [&](int cell, int count, int x, int step, int y) {
        for (int i = 0; i < count; i++) {
            tile(cell, x + step * i, y, 1);
        }
    };
    auto digits = [&](int value, int y) {
        for (int k = 0, power = 1000000; k < 7; k++, power /= 10) {
            tile(10 + value / power % 10, 128 + 16 * k, y, 1);
        }
    };
    int bossPoints = g.BossPhase >= 1 ? ObjectTable[BossRecordIndex[g.StageIndex]].hp : g.BossHealthDisplay;
    run(36, 4, 16, 16, 1), digits(g.HighScore, 16), run(37, 3, 48, 32, 1), digits(g.Score, 32);
    run(44, 2, 64, 48, 1), digits(g.ExtraLifeThreshold, 48);
    tile(56, 254, 16, 1), tile(51, 272, 16, 1), tile(53, 624, 16, 1), repeat(52, 21, 288, 16, 16);
    repeat(54, std::max(0, std::min<int>(g.PlayerHP, 42)), 288, 8, 16), repeat(43, g.Lives - 1, 608, -16, 48);
    tile(57, 254, 32, 1), tile(51, 272, 32, 1), tile(53, 624, 32, 1), repeat(52, 21, 288, 16, 32);
    repeat(55, std::max(0, std::min(bossPoints, 42)), 288, 8, 32);
    run(20, g.ClearState ? 11 : 0, 160, 192, 0);
    if (g.IntroState) {
        std::string caption = "STAGE " + std::to_string(g.StageIndex + 1);
        list.push_back(CallLine("DrawFormatStringDefault", {264, 160, WHITE}, caption.c_str()));
        run(31, 5, g.IntroX, g.IntroY, 0);
    }
    run(40, g.PauseFlag ? 3 : 0, 272, 192, 1);
    const int labels[4][2] = {{100, 2}, {102, 3}, {105, 2}, {107, 3}}, *label = labels[g.DifficultyIndex];
    run(label[0], label[1], 640 - 32 * label[1], 0, 1);
    return list;
}

// Objects of stage 0: a mirrored three-column block, a knocked one and a knocked mirrored one (drawn twice), one
// not due yet, one too narrow to show, one gone; the boss's record holds 60 points.
TEST(StageDrawing, DrawList)
{
    struct Row {
        int stage, scroll, facing, animRow, frame, attacking, hurt, strike, invulnerable, hp, lives, difficulty,
            bossPhase, bossDisplay, clear, intro, pause;
    } rows[] = {{0, 37, 1, 2, 1, 1, 0, 2, 1, 50, 4, 3, 1, 0, 10, 11, 10},
                {0, 0, 0, 2, 3, 1, 0, 0, 0, 1, 1, 1, 0, 5, 0, 0, 0},
                {3, 639, 1, 0, 0, 1, 1, 0, 1, 17, 10, 0, 0, 0, 0, 0, 0},
                {1, 320, 0, 2, 1, 1, 0, 2, 0, 0, 2, 2, 0, 99, 0, 0, 0}};
    const int objects[][9] = {{12, 0, 0, 100, 200, 96, 32}, {10, 8, 1, 300, 250, 32, 64}, {18, 16, 0, 20, 40, 64, 32},
                              {0, 0, 0, 0, 0, 32, 32, 5},   {0, 0, 0, 0, 0, 16, 64},      {127, 0, 0, 0, 0, 32, 32}};
    for (const Row &row : rows) {
        SetUpStage();
        for (int i = 0; i < 6; i++) {
            ObjectRecord &o = ObjectTable[i];
            o.state = (int8_t)objects[i][0], o.anim = (int16_t)objects[i][1], o.frame = (int8_t)objects[i][2];
            o.x = objects[i][3], o.y = objects[i][4], o.w = objects[i][5], o.h = objects[i][6];
            o.appearTime = objects[i][7];
        }
        ObjectTable[BossRecordIndex[row.stage]].hp = 60;
        GameGlobals &g = g_Game;
        g.StageIndex = (int8_t)row.stage, g.ScrollX = row.scroll, g.StageTime = 3, g.PlayerX = 200, g.PlayerY = 300;
        g.PlayerFacing = (uint8_t)row.facing, g.PlayerAnimRow = (int8_t)row.animRow,
        g.PlayerAnimFrame = (int8_t)row.frame;
        g.PlayerAttacking = (uint8_t)row.attacking, g.PlayerHurt = (uint8_t)row.hurt,
        g.StrikeMode = (uint8_t)row.strike;
        g.InvulnerableFlag = (uint8_t)row.invulnerable, g.PlayerHP = (int8_t)row.hp, g.Lives = (int8_t)row.lives;
        g.DifficultyIndex = (int8_t)row.difficulty, g.BossPhase = (int8_t)row.bossPhase;
        g.BossHealthDisplay = (int16_t)row.bossDisplay, g.ClearState = (int8_t)row.clear,
        g.IntroState = (int8_t)row.intro;
        g.IntroX = 100, g.IntroY = 192, g.PauseFlag = (int8_t)row.pause;
        g.HighScore = 1234567, g.Score = 89, g.ExtraLifeThreshold = 100000;
        DrawStagePlay();
        EXPECT_EQ(g_StandIn.calls, ExpectedStageDraw()) << "stage " << row.stage << " scroll " << row.scroll;
    }
}

// Cells outside the sheet draw nothing: NO_CELL, 280 and beyond, a block's cells below the sheet's last row, and a
// block whose first cell is NO_CELL.
TEST(StageDrawing, CellsOutsideTheSheet)
{
    SetUpStage();
    DrawSpriteCell(1, 2, NO_CELL, 0);
    DrawSpriteCell(1, 2, 280, 1);
    DrawSpriteCell(1, 2, 279, 1);
    DrawSpriteBlock(2, 270, 10, 20, 2);
    DrawSpriteBlockMirrored(1, NO_CELL, 0, 0, 3);
    EXPECT_EQ(g_StandIn.calls,
              (std::vector<std::string>{"DrawGraphMirrored(1,2,0x8002117,1)", "DrawGraphAt(20,10,0x800210e,1)",
                                        "DrawGraphAt(52,10,0x800210f,1)"}));
}
