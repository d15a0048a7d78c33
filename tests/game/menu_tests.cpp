// Start-up and the title side against the recording stand-in: the engine calls of start-up and shut-down in their
// order, a failed engine start that reads and loads nothing, the menus' state table, the draw lists of the title,
// difficulty and option screens, and one picture held however often the title is left and reloaded.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdio.h>

static int RunWinMain(int initResult)
{
    ResetGameAndEngine();
    g_StandIn.initResult = initResult;
    return WinMain(nullptr, nullptr, (LPSTR) "", 0);
}

TEST(GameStartup, CallsTheEngineInOrder)
{
    remove("Option.Dat");
    ASSERT_EQ(RunWinMain(0), 0);
    // clang-format off
    std::vector<std::string> expected = {
        "SetMainWindowTitle(VELLOMIR -囚われたソラネラ- Ver1.00)", "ChangeWindowMode(1)", "InitEngine()",
        "SetWindowResizable(1,1)", "SetAllowMultipleInstances(0)", "MakeScreenColor(0,0,0)",
        "MakeScreenColor(255,255,255)", "SetDefaultFontType(0)", "SetDefaultFontSize(16)",
        "DrawStringDefault(0,0,0xffffffff,0,ＮＯＷ ＬＯＡＤＩＮＧ・・・・)", "SetTextureNeverSplit(1)",
        "LoadDivGraphFromResource(102,280,20,14,32,32,PNG)", "LoadDivGraphFromResource(103,180,20,9,32,32,PNG)",
        "LoadDivGraphFromResource(104,10,5,2,128,96,PNG)"};
    // clang-format on
    for (int i = 0; i < 8; i++) {
        expected.push_back(CallLine("LoadSoundFromResource", {300 + i, 1}, "SE"));
    }
    const int volumes[] = {255, 102, 102, 255, 255, 102, 102, 102};
    for (int i = 0; i < 8; i++) {
        expected.push_back(CallLine("SetSoundVolume255", {volumes[i], 0x10000000 + 300 + i}));
    }
    expected.insert(expected.end(), {"SetDrawTarget(-2)", "ProcessWindowMessages()", "ReleaseAllGraphHandles(0)",
                                     "DeleteAllSoundHandles(0)", "EndEngine()"});
    EXPECT_EQ(g_StandIn.calls, expected);
}

TEST(GameStartup, FailedEngineStartReadsAndLoadsNothing)
{
    WriteRecord("Save.Dat", {777, 2, 1, 1, 1, 1});
    WriteRecord("Option.Dat", {1, 5});
    EXPECT_EQ(RunWinMain(-1), -1);
    EXPECT_EQ(g_StandIn.calls.size(), 3u);
    EXPECT_EQ(g_Game.HighScore + g_Game.OptionData[0], 0);
    remove("Save.Dat");
    remove("Option.Dat");
}

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
        {32, 2, 0, 0, 0, 0, 35, 0, 100, 0, 0, 2, 1},   {80, 3, 0, 2, 0, 0, 80, 3, 0, 0, 0, 0, 1},
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
        long sounds = std::count(g_StandIn.calls.begin(), g_StandIn.calls.end(), "PlaySoundHandle(0,1,1)");
        SCOPED_TRACE(testing::Message() << "state " << row.state << " cursor " << row.cursor);
        EXPECT_EQ(std::vector<int>({g_Game.MainState, g_Game.MenuCursor, g_Game.FrameTarget, g_Game.QuitFlag,
                                    (int)sounds, g_Game.ButtonMode[0], g_Game.DifficultyIndex}),
                  std::vector<int>({row.nextState, row.nextCursor, row.frameTarget, row.quit, row.sounds, row.mode1,
                                    row.difficulty}));
        EXPECT_EQ(g_Game.MissState, row.state == 20 ? 0 : row.miss);
    }
}

// The title menu's draw list from the screen's layout: the picture, the label, the high score's seven digits, the
// half-transparent framed window with its corner points, the cursor, the Escape line and the five items.
TEST(TitleSide, TitleDrawList)
{
    SetUpMenus(30, 2);
    g_Game.HighScore = 1234567;
    g_Handles.PictureHandle = 0x08000777;
    TitleFrame();
    std::vector<std::string> expected = {"DrawGraphAt(0,0,0x8000777,0)"};
    const int cells[11] = {36, 37, 38, 39, 11, 12, 13, 14, 15, 16, 17};
    for (int i = 0; i < 11; i++) {
        expected.push_back(CallLine("DrawGraphAt", {i < 4 ? 32 * i : 112 + 16 * (i - 4), 0, TILES + cells[i], 1}));
    }
    expected.insert(
        expected.end(),
        {"SetDrawBlend(1,128)", "DrawBoxShape(234,310,426,428,0xffffffff,1)",
         "DrawBoxShape(237,313,423,425,0xff000000,1)", "DrawPoint(234,310,0xff000000)", "DrawPoint(425,310,0xff000000)",
         "DrawPoint(234,427,0xff000000)", "DrawPoint(425,427,0xff000000)", "DrawPoint(237,313,0xffffffff)",
         "DrawPoint(422,313,0xffffffff)", "DrawPoint(237,424,0xffffffff)", "DrawPoint(422,424,0xffffffff)",
         "SetDrawBlend(0,0)", "DrawTriangleShape(255,360,255,376,267,368,0xffffffff,1)",
         "DrawStringDefault(0,460,0xffffffff,0,ＥＳＣキー　終了)", "DrawStringDefault(270,320,0xffffffff,0,ＳＴＡＲＴ)",
         "DrawStringDefault(270,340,0xffffffff,0,ＣＯＮＴＩＮＵＥ)",
         "DrawStringDefault(270,360,0xffffffff,0,ＧＡＬＬＥＲＹ)",
         "DrawStringDefault(270,380,0xffffffff,0,ＯＰＴＩＯＮ)", "DrawStringDefault(270,400,0xffffffff,0,ＱＵＩＴ)"});
    EXPECT_EQ(g_StandIn.calls, expected);
}

// "済" stands beside a difficulty only where its clear flag is exactly 1.
TEST(TitleSide, DifficultyMarksClearedOnly)
{
    SetUpMenus(80, 0);
    const int32_t flags[4] = {1, 0, 2, 1};
    memcpy(g_Game.SaveData.ClearFlags, flags, sizeof(flags));
    TitleFrame();
    std::string marks;
    for (int y = 320; y <= 380; y += 20) {
        marks += (char)('0' + std::count(g_StandIn.calls.begin(), g_StandIn.calls.end(),
                                         CallLine("DrawStringDefault", {400, y, WHITE, 0}, "済")));
    }
    EXPECT_EQ(marks, "1001");
}

// The option screen's draw list; choosing writes the 8-byte "Option.Dat" with the second value kept.
TEST(TitleSide, OptionScreenDrawsAndWrites)
{
    SetUpMenus(95, 1);
    g_Game.OptionData[1] = 42;
    g_Game.ButtonLatch[0] = 1;
    TitleFrame();
    EXPECT_EQ(g_StandIn.calls,
              (std::vector<std::string>{"DrawBoxShape(0,0,640,480,0,1)",
                                        "DrawStringDefault(0,0,0xffffffff,0,Ｘキー　タイトルに戻る。)",
                                        "DrawStringDefault(0,20,0xffffffff,0,"
                                        "ウインドウの変更は一旦プログラムを終了させます。再度立ち上げて下さい。)",
                                        "DrawStringDefault(20,40,0xffffffff,0,ウインドウ(サイズ変更出来ます))",
                                        "DrawStringDefault(20,60,0xffffffff,0,フルスクリーン)",
                                        "DrawTriangleShape(5,60,5,76,17,68,0xffffffff,1)"}));
    EXPECT_EQ(ReadBytes("Option.Dat"), (std::vector<uint8_t>{1, 0, 0, 0, 42, 0, 0, 0}));
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
