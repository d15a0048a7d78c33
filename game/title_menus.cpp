// The title side: a state machine on MainState that loads the title picture, runs the title menu, the difficulty
// menu and the option screen, and hands over to play; with the title screen's picture, high score and framed
// menu window, which the event text window reuses. Each interactive state reads the frame's input, acts, then
// draws the whole screen afresh. Window thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"

static const char *const TITLE_ITEMS[] = {"ＳＴＡＲＴ", "ＣＯＮＴＩＮＵＥ", "ＧＡＬＬＥＲＹ", "ＯＰＴＩＯＮ",
                                          "ＱＵＩＴ"};
static const char *const DIFFICULTY_ITEMS[] = {"ＥＡＳＹ", "ＮＯＲＭＡＬ", "ＨＡＲＤ", "ＬＵＮＡＴＩＣ"};

// AttackPower, DamageMultiplier, DifficultyIndex by the difficulty menu's cursor.
static const int8_t DIFFICULTY_BYTES[4][3] = {{3, 0, 0}, {2, 1, 1}, {1, 3, 2}, {1, 9, 3}};

static void DrawText(int x, int y, const char *text)
{
    DrawStringDefault(x, y, text, g_Handles.ColorWhite, 0);
}

// A filled white triangle pointing right, 12 wide and 16 high, its top-left corner at (x, y).
static void DrawCursor(int x, int y)
{
    DrawTriangleShape(x, y, x, y + 16, x + 12, y + 8, g_Handles.ColorWhite, 1);
}

void ReleasePicture(void)
{
    if (g_Handles.PictureHandle != -1) {
        ReleaseGraphHandle(g_Handles.PictureHandle, 0);
        g_Handles.PictureHandle = -1;
    }
}

// Up and down over items 0..last, one item per frame, with the cursor sound; no wrap and no sound at the ends.
static void StepCursor(int last)
{
    if (g_Game.InputVertical == 1 && g_Game.MenuCursor > 0) {
        g_Game.MenuCursor--;
        PlayEffect(EFFECT_CURSOR);
    } else if (g_Game.InputVertical == 2 && g_Game.MenuCursor < last) {
        g_Game.MenuCursor++;
        PlayEffect(EFFECT_CURSOR);
    }
}

void DrawFramedWindow(int x, int y, int width, int height)
{
    int right = x + width, bottom = y + height;
    unsigned int black = g_Handles.ColorBlack, white = g_Handles.ColorWhite;
    SetDrawBlend(1, 128);
    DrawBoxShape(x, y, right, bottom, white, 1);
    DrawBoxShape(x + 3, y + 3, right - 3, bottom - 3, black, 1);
    DrawPoint(x, y, black);
    DrawPoint(right - 1, y, black);
    DrawPoint(x, bottom - 1, black);
    DrawPoint(right - 1, bottom - 1, black);
    DrawPoint(x + 3, y + 3, white);
    DrawPoint(right - 4, y + 3, white);
    DrawPoint(x + 3, bottom - 4, white);
    DrawPoint(right - 4, bottom - 4, white);
    SetDrawBlend(0, 0);
}

void DrawTitleScreen(void)
{
    DrawGraphAt(0, 0, g_Handles.PictureHandle, 0);
    for (int i = 0; i < 4; i++) {
        DrawGraphAt(32 * i, 0, g_Handles.TileCells[36 + i], 1);
    }
    DrawSevenDigits(112, 0, g_Game.HighScore);
    DrawFramedWindow(234, 310, 192, 118);
    DrawCursor(255, 320 + 20 * g_Game.MenuCursor);
    DrawText(0, 460, "ＥＳＣキー　終了");
}

static void TitleMenuFrame(void)
{
    StepCursor(4);
    if (g_Game.ButtonLatch[0] == 1) {
        switch (g_Game.MenuCursor) {
        case 0:
            StartStage(0);
            g_Game.MainState = 80;
            break;
        case 1:
            StartStage(1);
            g_Game.MainState = 100;
            break;
        case 2:
            g_Game.MainState = 32;
            break;
        case 3:
            g_Game.MainState = 90;
            break;
        case 4:
            g_Game.QuitFlag = 1;
            break;
        }
    }
    DrawTitleScreen();
    for (int i = 0; i < 5; i++) {
        DrawText(270, 320 + 20 * i, TITLE_ITEMS[i]);
    }
}

void ChooseDifficulty(int index)
{
    const int8_t *bytes = DIFFICULTY_BYTES[index];
    g_Game.AttackPower = bytes[0];
    g_Game.DamageMultiplier = bytes[1];
    g_Game.DifficultyIndex = bytes[2];
}

// Button 2 is read before the stage start, which swallows the frame's presses, so that going back still wins
// when both buttons latch in one frame.
static void DifficultyMenuFrame(void)
{
    StepCursor(3);
    bool back = g_Game.ButtonLatch[1] == 1;
    if (g_Game.ButtonLatch[0] == 1) {
        ChooseDifficulty(g_Game.MenuCursor);
        StartStage(0);
        g_Game.MainState = 100;
    }
    if (back) {
        g_Game.MainState = 20;
    }
    DrawTitleScreen();
    for (int i = 0; i < 4; i++) {
        DrawText(270, 320 + 20 * i, DIFFICULTY_ITEMS[i]);
    }
    for (int d = 0; d < 4; d++) {
        if (g_Game.SaveData.ClearFlags[d] == 1) {
            DrawText(400, 320 + 20 * d, "済");
        }
    }
}

static void OptionScreenFrame(void)
{
    DrawBoxShape(0, 0, 640, 480, 0, 1);
    DrawText(0, 0, "Ｘキー　タイトルに戻る。");
    DrawText(0, 20, "ウインドウの変更は一旦プログラムを終了させます。再度立ち上げて下さい。");
    StepCursor(1);
    if (g_Game.ButtonLatch[0] == 1) {
        g_Game.OptionData[0] = g_Game.MenuCursor;
        WriteOptionFile();
        g_Game.QuitFlag = 1;
    }
    if (g_Game.ButtonLatch[1] == 1) {
        g_Game.MainState = 10;
    }
    DrawText(20, 40, "ウインドウ(サイズ変更出来ます)");
    DrawText(20, 60, "フルスクリーン");
    DrawCursor(5, 40 + 20 * g_Game.MenuCursor);
}

void TitleFrame(void)
{
    switch (g_Game.MainState) {
    case 10:
        ReleasePicture();
        g_Handles.PictureHandle = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
        g_Game.MainState = 20;
        SwitchMusic(0);
        break;
    case 20:
        g_Game.FrameTarget = 100;
        g_Game.MainState = 30;
        g_Game.MenuCursor = g_Game.MissState > 0 ? 1 : 0;
        g_Game.MissState = 0;
        g_Game.InGallery = 0;
        g_Game.ButtonMode[0] = 1;
        break;
    case 30:
        TitleMenuFrame();
        break;
    case 32:
        GalleryEntryFrame();
        break;
    case 35:
        GalleryFrame();
        break;
    case 80:
        DifficultyMenuFrame();
        break;
    case 90:
        g_Game.MenuCursor = 0;
        g_Game.MainState = 95;
        break;
    case 95:
        OptionScreenFrame();
        break;
    case 100:
        g_Game.FrameTarget = 16;
        g_Game.MainState = 0;
        g_Game.ButtonMode[0] = 0;
        ReleasePicture();
        break;
    }
}
