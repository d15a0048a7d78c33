// The title side against the recording stand-in: the state table, the draw lists of the title, difficulty and
// option screens, and one picture held however often the title is left and reloaded.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <stdio.h>

static const long long WHITE = 0xFFFFFFFF, BLACK = 0xFF000000, TILES = 0x08001000;

static void SetUpMenus(int state, int cursor)
{
    ResetGameAndEngine();
    g_Handles.ColorWhite = (unsigned int)WHITE;
    g_Handles.ColorBlack = (unsigned int)BLACK;
    for (int i = 0; i < TILE_CELL_COUNT; i++) {
        g_Handles.TileCells[i] = (EngineHandle)TILES + i;
    }
    g_Game.MainState = (int8_t)state;
    g_Game.MenuCursor = cursor;
}

// From a state, cursor, miss flag and the frame's input to the next state, cursor, frame target, quit flag, cursor
// sounds, button 1's mode and the difficulty index.
TEST(TitleSide, StateTable)
{
    struct Row {
        int state, cursor, miss, vertical, button1, button2;
        int nextState, nextCursor, frameTarget, quit, sounds, mode1, difficulty;
    } rows[] = {
        {10, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 1},   {20, 3, 0, 0, 0, 0, 30, 0, 100, 0, 0, 1, 1},
        {20, 0, 4, 0, 0, 0, 30, 1, 100, 0, 0, 1, 1}, {30, 0, 0, 2, 0, 0, 30, 1, 0, 0, 1, 0, 1},
        {30, 4, 0, 2, 0, 0, 30, 4, 0, 0, 0, 0, 1},   {30, 0, 0, 1, 0, 0, 30, 0, 0, 0, 0, 0, 1},
        {30, 2, 0, 1, 0, 0, 30, 1, 0, 0, 1, 0, 1},   {30, 0, 0, 0, 1, 0, 80, 0, 0, 0, 0, 0, 1},
        {30, 1, 0, 0, 1, 0, 100, 1, 0, 0, 0, 0, 1},  {30, 2, 0, 0, 1, 0, 32, 2, 0, 0, 0, 0, 1},
        {30, 3, 0, 0, 1, 0, 90, 3, 0, 0, 0, 0, 1},   {30, 4, 0, 0, 1, 1, 30, 4, 0, 1, 0, 0, 1},
        {32, 2, 0, 0, 0, 0, 10, 2, 0, 0, 0, 0, 1},   {80, 3, 0, 2, 0, 0, 80, 3, 0, 0, 0, 0, 1},
        {80, 0, 0, 0, 1, 0, 100, 0, 0, 0, 0, 0, 0},  {80, 3, 0, 0, 1, 0, 100, 3, 0, 0, 0, 0, 3},
        {80, 0, 0, 0, 0, 1, 20, 0, 0, 0, 0, 0, 1},   {80, 2, 0, 0, 1, 1, 20, 2, 0, 0, 0, 0, 2},
        {90, 1, 0, 0, 0, 0, 95, 0, 0, 0, 0, 0, 1},   {95, 0, 0, 2, 0, 0, 95, 1, 0, 0, 1, 0, 1},
        {95, 1, 0, 2, 0, 0, 95, 1, 0, 0, 0, 0, 1},   {95, 0, 0, 0, 0, 1, 10, 0, 0, 0, 0, 0, 1},
        {100, 1, 0, 0, 0, 0, 0, 1, 16, 0, 0, 0, 1},  {50, 1, 0, 2, 1, 0, 50, 1, 0, 0, 0, 0, 1},
    };
    for (const Row &row : rows) {
        SetUpMenus(row.state, row.cursor);
        g_Game.MissState = (int8_t)row.miss;
        g_Game.InputVertical = (uint8_t)row.vertical;
        g_Game.ButtonLatch[0] = (uint8_t)row.button1;
        g_Game.ButtonLatch[1] = (uint8_t)row.button2;
        g_Game.ButtonMode[0] = 0;
        TitleFrame();
        size_t sounds = 0;
        for (const EngineCall &call : CallsNamed("PlaySoundHandle")) {
            sounds += call.args[0] == 0 && call.args[1] == 1; // the cursor effect's handle (0 here), played once
        }
        SCOPED_TRACE(testing::Message() << "state " << row.state << " cursor " << row.cursor);
        EXPECT_EQ(std::vector<int>({g_Game.MainState, g_Game.MenuCursor, g_Game.FrameTarget, g_Game.QuitFlag,
                                    (int)sounds, g_Game.ButtonMode[0], g_Game.DifficultyIndex}),
                  std::vector<int>({row.nextState, row.nextCursor, row.frameTarget, row.quit, row.sounds, row.mode1,
                                    row.difficulty}));
        EXPECT_EQ(g_Game.MissState, row.state == 20 ? 0 : row.miss);
    }
}

// The title menu's draw list written out from the screen's layout: the picture, the label, the high score's seven
// digits, the half-transparent framed window, the cursor, the Escape line and the five items.
TEST(TitleSide, TitleDrawList)
{
    SetUpMenus(30, 2);
    g_Game.HighScore = 1234567;
    g_Handles.PictureHandle = 0x08000777;
    TitleFrame();
    std::vector<EngineCall> expected = {{"DrawGraphAt", {0, 0, 0x08000777, 0}, ""}};
    char digits[8];
    snprintf(digits, sizeof(digits), "%07d", (int)g_Game.HighScore);
    for (int i = 0; i < 11; i++) {
        expected.push_back(
            {"DrawGraphAt",
             {i < 4 ? 32 * i : 112 + 16 * (i - 4), 0, TILES + (i < 4 ? 36 + i : 10 + digits[i - 4] - '0'), 1},
             ""});
    }
    const int right = 234 + 192, bottom = 310 + 118;
    const long long points[8][3] = {
        {234, 310, BLACK}, {right - 1, 310, BLACK}, {234, bottom - 1, BLACK}, {right - 1, bottom - 1, BLACK},
        {237, 313, WHITE}, {right - 4, 313, WHITE}, {237, bottom - 4, WHITE}, {right - 4, bottom - 4, WHITE}};
    expected.insert(expected.end(), {{"SetDrawBlend", {1, 128}, ""},
                                     {"DrawBoxShape", {234, 310, right, bottom, WHITE, 1}, ""},
                                     {"DrawBoxShape", {237, 313, right - 3, bottom - 3, BLACK, 1}, ""}});
    for (const auto &point : points) {
        expected.push_back({"DrawPoint", {point[0], point[1], point[2]}, ""});
    }
    expected.insert(expected.end(), {{"SetDrawBlend", {0, 0}, ""},
                                     {"DrawTriangleShape", {255, 360, 255, 376, 267, 368, WHITE, 1}, ""},
                                     {"DrawStringDefault", {0, 460, WHITE, 0}, "ＥＳＣキー　終了"}});
    const char *items[] = {"ＳＴＡＲＴ", "ＣＯＮＴＩＮＵＥ", "ＧＡＬＬＥＲＹ", "ＯＰＴＩＯＮ", "ＱＵＩＴ"};
    for (int i = 0; i < 5; i++) {
        expected.push_back({"DrawStringDefault", {270, 320 + 20 * i, WHITE, 0}, items[i]});
    }
    EXPECT_EQ(g_StandIn.calls, expected);
}

// "済" stands beside a difficulty only where its clear flag is exactly 1.
TEST(TitleSide, DifficultyMarksClearedOnly)
{
    SetUpMenus(80, 0);
    const int32_t flags[4] = {1, 0, 2, 1};
    memcpy(g_Game.SaveData.ClearFlags, flags, sizeof(flags));
    TitleFrame();
    std::vector<EngineCall> marks;
    for (const EngineCall &call : CallsNamed("DrawStringDefault")) {
        if (call.text == "済") {
            marks.push_back(call);
        }
    }
    EXPECT_EQ(marks, (std::vector<EngineCall>{{"DrawStringDefault", {400, 320, WHITE, 0}, "済"},
                                              {"DrawStringDefault", {400, 380, WHITE, 0}, "済"}}));
}

// The option screen's draw list; choosing writes the 8-byte "Option.Dat" with the second value kept.
TEST(TitleSide, OptionScreenDrawsAndWrites)
{
    SetUpMenus(95, 1);
    g_Game.OptionData[1] = 42;
    g_Game.ButtonLatch[0] = 1;
    TitleFrame();
    std::vector<EngineCall> expected = {{"DrawBoxShape", {0, 0, 640, 480, 0, 1}, ""},
                                        {"DrawStringDefault", {0, 0, WHITE, 0}, "Ｘキー　タイトルに戻る。"},
                                        {"DrawStringDefault",
                                         {0, 20, WHITE, 0},
                                         "ウインドウの変更は一旦プログラムを終了させます。再度立ち上げて下さい。"},
                                        {"DrawStringDefault", {20, 40, WHITE, 0}, "ウインドウ(サイズ変更出来ます)"},
                                        {"DrawStringDefault", {20, 60, WHITE, 0}, "フルスクリーン"},
                                        {"DrawTriangleShape", {5, 60, 5, 76, 17, 68, WHITE, 1}, ""}};
    EXPECT_EQ(g_StandIn.calls, expected);
    int32_t written[3] = {0, 0, 0};
    FILE *file = fopen("Option.Dat", "rb");
    EXPECT_EQ(fread(written, 4, 3, file), 2u);
    fclose(file);
    EXPECT_EQ(written[0] * 100 + written[1], 142);
    remove("Option.Dat");
}

// Twenty trips from the title to the option screen and back hold one picture at a time and load the title music
// once; the hand-over leaves none held.
TEST(TitleSide, OnePictureHeld)
{
    SetUpMenus(10, 0);
    for (int visit = 0; visit < 20; visit++) {
        for (int state : {10, 20, 30, 90, 95}) {
            ASSERT_EQ(g_Game.MainState, state);
            g_Game.MenuCursor = state == 30 ? 3 : g_Game.MenuCursor;
            g_Game.ButtonLatch[0] = state == 30;
            g_Game.ButtonLatch[1] = state == 95;
            TitleFrame();
            EXPECT_EQ(g_StandIn.liveGraphs, 1);
        }
    }
    g_Game.MainState = 100;
    TitleFrame();
    EXPECT_EQ(g_StandIn.liveGraphs + g_Handles.PictureHandle, -1);
    EXPECT_EQ(CallsNamed("LoadSoundFromResource").size(), 1u);
}
