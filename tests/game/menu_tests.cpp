// The title side against the recording stand-in: the state table, the held cursor, the draw lists of the title,
// difficulty and option screens, one picture held however often the title is left and reloaded, and the music.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <stdio.h>

static const uint32_t WHITE = 0xFFFFFFFF, BLACK = 0xFF000000;

// Effects are played once in the background (play type 1); music loops (3).
static size_t EffectCount(void)
{
    size_t count = 0;
    for (const EngineCall &call : CallsNamed("PlaySoundHandle")) {
        count += call.args[1] == 1;
    }
    return count;
}

static void SetUpMenus(void)
{
    ResetGameAndEngine();
    g_Handles.ColorWhite = WHITE;
    g_Handles.ColorBlack = BLACK;
    for (int i = 0; i < TILE_CELL_COUNT; i++) {
        g_Handles.TileCells[i] = 0x08000000 + 1000 + i;
    }
}

TEST(TitleSide, StateTable)
{
    struct Row {
        int state, cursor, miss, vertical, button1, button2;
        int nextState, nextCursor, frameTarget, quit, effects, mode1;
    } rows[] = {
        {10, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0},   {20, 3, 0, 0, 0, 0, 30, 0, 100, 0, 0, 1},
        {20, 0, 4, 0, 0, 0, 30, 1, 100, 0, 0, 1}, {30, 0, 0, 2, 0, 0, 30, 1, 0, 0, 1, 0},
        {30, 4, 0, 2, 0, 0, 30, 4, 0, 0, 0, 0},   {30, 0, 0, 1, 0, 0, 30, 0, 0, 0, 0, 0},
        {30, 2, 0, 1, 0, 0, 30, 1, 0, 0, 1, 0},   {30, 0, 0, 0, 1, 0, 80, 0, 0, 0, 0, 0},
        {30, 1, 0, 0, 1, 0, 100, 1, 0, 0, 0, 0},  {30, 2, 0, 0, 1, 0, 32, 2, 0, 0, 0, 0},
        {30, 3, 0, 0, 1, 0, 90, 3, 0, 0, 0, 0},   {30, 4, 0, 0, 1, 0, 30, 4, 0, 1, 0, 0},
        {30, 0, 0, 0, 0, 1, 30, 0, 0, 0, 0, 0},   {32, 2, 0, 0, 0, 0, 10, 2, 0, 0, 0, 0},
        {80, 3, 0, 2, 0, 0, 80, 3, 0, 0, 0, 0},   {80, 0, 0, 0, 0, 1, 20, 0, 0, 0, 0, 0},
        {80, 2, 0, 0, 1, 1, 20, 2, 0, 0, 0, 0},   {90, 1, 0, 0, 0, 0, 95, 0, 0, 0, 0, 0},
        {95, 0, 0, 2, 0, 0, 95, 1, 0, 0, 1, 0},   {95, 1, 0, 2, 0, 0, 95, 1, 0, 0, 0, 0},
        {95, 0, 0, 0, 0, 1, 10, 0, 0, 0, 0, 0},   {100, 1, 0, 0, 0, 0, 0, 1, 16, 0, 0, 0},
        {50, 1, 0, 2, 1, 0, 50, 1, 0, 0, 0, 0},
    };
    for (const Row &row : rows) {
        SetUpMenus();
        g_Game.MainState = (int8_t)row.state;
        g_Game.MenuCursor = row.cursor;
        g_Game.MissState = (int8_t)row.miss;
        g_Game.InputVertical = (uint8_t)row.vertical;
        g_Game.ButtonLatch[0] = (uint8_t)row.button1;
        g_Game.ButtonLatch[1] = (uint8_t)row.button2;
        g_Game.ButtonMode[0] = 0;
        TitleFrame();
        SCOPED_TRACE(testing::Message() << "state " << row.state << " cursor " << row.cursor);
        EXPECT_EQ(g_Game.MainState, row.nextState);
        EXPECT_EQ(g_Game.MenuCursor, row.nextCursor);
        EXPECT_EQ(g_Game.FrameTarget, row.frameTarget);
        EXPECT_EQ(g_Game.QuitFlag, row.quit);
        EXPECT_EQ(EffectCount(), (size_t)row.effects);
        EXPECT_EQ(g_Game.ButtonMode[0], row.mode1);
        EXPECT_EQ(g_Game.MissState, row.state == 20 ? 0 : row.miss);
    }
}

TEST(TitleSide, DifficultyChoiceSetsTheThreeBytes)
{
    const int8_t bytes[4][3] = {{3, 0, 0}, {2, 1, 1}, {1, 3, 2}, {1, 9, 3}};
    for (int cursor = 0; cursor < 4; cursor++) {
        SetUpMenus();
        g_Game.MainState = 80;
        g_Game.MenuCursor = cursor;
        g_Game.ButtonLatch[0] = 1;
        TitleFrame();
        EXPECT_EQ(g_Game.MainState, 100);
        EXPECT_EQ(g_Game.AttackPower, bytes[cursor][0]);
        EXPECT_EQ(g_Game.DamageMultiplier, bytes[cursor][1]);
        EXPECT_EQ(g_Game.DifficultyIndex, bytes[cursor][2]);
    }
}

TEST(TitleSide, HeldDownWalksToQuitWithFourSounds)
{
    SetUpMenus();
    g_Game.MainState = 30;
    for (int frame = 0; frame < 8; frame++) {
        g_Game.InputVertical = 2;
        TitleFrame();
    }
    EXPECT_EQ(g_Game.MenuCursor, 4);
    EXPECT_EQ(EffectCount(), 4u);
}

// What the title menu draws, written out from the screen's layout: the picture, the label, the seven digits of the
// high score, the half-transparent framed window, the cursor, the Escape line and the five items.
TEST(TitleSide, TitleDrawList)
{
    SetUpMenus();
    g_Game.MainState = 30;
    g_Game.MenuCursor = 2;
    g_Game.HighScore = 1234567;
    g_Handles.PictureHandle = 0x08000777;
    TitleFrame();
    std::vector<EngineCall> expected = {{"DrawGraphAt", {0, 0, 0x08000777, 0}, ""}};
    for (int i = 0; i < 4; i++) {
        expected.push_back({"DrawGraphAt", {32 * i, 0, 0x08000000 + 1000 + 36 + i, 1}, ""});
    }
    char digits[8];
    snprintf(digits, sizeof(digits), "%07d", (int)g_Game.HighScore);
    for (int k = 0; k < 7; k++) {
        expected.push_back({"DrawGraphAt", {112 + 16 * k, 0, 0x08000000 + 1000 + 10 + digits[k] - '0', 1}, ""});
    }
    std::vector<EngineCall> window = {
        {"SetDrawBlend", {1, 128}, ""},
        {"DrawBoxShape", {234, 310, 426, 428, WHITE, 1}, ""},
        {"DrawBoxShape", {237, 313, 423, 425, BLACK, 1}, ""},
        {"DrawPoint", {234, 310, BLACK}, ""},
        {"DrawPoint", {425, 310, BLACK}, ""},
        {"DrawPoint", {234, 427, BLACK}, ""},
        {"DrawPoint", {425, 427, BLACK}, ""},
        {"DrawPoint", {237, 313, WHITE}, ""},
        {"DrawPoint", {422, 313, WHITE}, ""},
        {"DrawPoint", {237, 424, WHITE}, ""},
        {"DrawPoint", {422, 424, WHITE}, ""},
        {"SetDrawBlend", {0, 0}, ""},
        {"DrawTriangleShape", {255, 360, 255, 376, 267, 368, WHITE, 1}, ""},
        {"DrawStringDefault", {0, 460, WHITE, 0}, "ＥＳＣキー　終了"},
    };
    expected.insert(expected.end(), window.begin(), window.end());
    const char *items[] = {"ＳＴＡＲＴ", "ＣＯＮＴＩＮＵＥ", "ＧＡＬＬＥＲＹ", "ＯＰＴＩＯＮ", "ＱＵＩＴ"};
    for (int i = 0; i < 5; i++) {
        expected.push_back({"DrawStringDefault", {270, 320 + 20 * i, WHITE, 0}, items[i]});
    }
    EXPECT_EQ(g_StandIn.calls, expected);
}

// "済" stands beside a difficulty only where its clear flag is exactly 1.
TEST(TitleSide, DifficultyMarksClearedOnly)
{
    SetUpMenus();
    g_Game.MainState = 80;
    const int32_t flags[4] = {1, 0, 2, 1};
    memcpy(g_Game.SaveData.ClearFlags, flags, sizeof(flags));
    TitleFrame();
    std::vector<long long> marked;
    for (const EngineCall &call : CallsNamed("DrawStringDefault")) {
        if (call.text == "済") {
            EXPECT_EQ(call.args[0], 400);
            marked.push_back(call.args[1]);
        }
    }
    EXPECT_EQ(marked, (std::vector<long long>{320, 380}));
}

TEST(TitleSide, OptionScreenDrawsAndWrites)
{
    SetUpMenus();
    remove("Option.Dat");
    g_Game.MainState = 95;
    g_Game.MenuCursor = 1;
    g_Game.OptionData[1] = 42;
    g_Game.ButtonLatch[0] = 1;
    TitleFrame();
    std::vector<EngineCall> expected = {
        {"DrawBoxShape", {0, 0, 640, 480, 0, 1}, ""},
        {"DrawStringDefault", {0, 0, WHITE, 0}, "Ｘキー　タイトルに戻る。"},
        {"DrawStringDefault",
         {0, 20, WHITE, 0},
         "ウインドウの変更は一旦プログラムを終了させます。再度立ち上げて下さい。"},
        {"DrawStringDefault", {20, 40, WHITE, 0}, "ウインドウ(サイズ変更出来ます)"},
        {"DrawStringDefault", {20, 60, WHITE, 0}, "フルスクリーン"},
        {"DrawTriangleShape", {5, 60, 5, 76, 17, 68, WHITE, 1}, ""},
    };
    EXPECT_EQ(g_StandIn.calls, expected);
    EXPECT_EQ(g_Game.QuitFlag, 1);
    int32_t written[3] = {0, 0, 0};
    FILE *file = fopen("Option.Dat", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fread(written, 4, 3, file), 2u);
    fclose(file);
    EXPECT_EQ(written[0], 1);
    EXPECT_EQ(written[1], 42);
    remove("Option.Dat");
}

// Twenty trips from the title to the option screen and back, and one through the hand-over: one picture held at
// most, none after the hand-over, and the title music loaded once.
TEST(TitleSide, OnePictureHeldAndMusicLoadedOnce)
{
    SetUpMenus();
    for (int visit = 0; visit < 20; visit++) {
        g_Game.MainState = 10;
        for (int state : {10, 20, 30, 90, 95}) {
            ASSERT_EQ(g_Game.MainState, state);
            g_Game.ButtonLatch[0] = state == 30;
            g_Game.MenuCursor = state == 30 ? 3 : g_Game.MenuCursor;
            g_Game.ButtonLatch[1] = state == 95;
            TitleFrame();
            EXPECT_EQ(g_StandIn.liveGraphs, 1);
        }
    }
    g_Game.MainState = 100;
    TitleFrame();
    EXPECT_EQ(g_StandIn.liveGraphs, 0);
    EXPECT_EQ(g_Handles.PictureHandle, -1);
    EXPECT_EQ(CallsNamed("LoadSoundFromResource"),
              (std::vector<EngineCall>{{"LoadSoundFromResource", {201, 1}, "MUSIC"}}));
}
