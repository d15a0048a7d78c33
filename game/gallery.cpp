// The gallery: title states 32 (entry) and 35, which offer the events of the cleared stages again, with their
// text or as pictures only, and hand the chosen one to the event player. Window thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"

#define GALLERY_FRAME_TARGET 100

struct GalleryText {
    int x, y;
    const char *text;
};

// The help lines, then the two text choices.
static const GalleryText GALLERY_TEXTS[] = {
    {0, 0, "Ｚキー　決定。　　　　　文章を送る。"},
    {0, 20, "Ｘキー　タイトルに戻る。文章の枠を消す。"},
    {0, 40, "Ｃキー　　　　　　　　　文章を早送りする。"},
    {0, 60, "Ａキー　　　　　　　　　イベントを終了する。"},
    {50, 100, "文章有り"},
    {200, 100, "文章無し"},
};

void GalleryEntryFrame(void)
{
    GameGlobals &g = g_Game;
    g.MenuColumn = 0;
    g.MenuCursor = 0;
    g.GalleryTextOff = 0;
    g.MainState = 35;
    g.InGallery = 1;
    g.GalleryEntryStage = g.StageIndex;
    g.ButtonMode[0] = 2;
    g.FrameTarget = GALLERY_FRAME_TARGET;
    SwitchMusic(TRACK_GALLERY);
}

// Left and right: on row 0 they choose the text mode at once; on the thumbnail rows they stop at the ends.
static void StepGalleryColumn(void)
{
    GameGlobals &g = g_Game;
    if (g.InputHorizontal == 1 && g.MenuColumn > 0) {
        g.MenuColumn -= 1;
        if (g.MenuCursor == 0) {
            g.GalleryTextOff = 0;
        }
        PlayEffect(EFFECT_CURSOR);
    } else if (g.InputHorizontal == 2 && g.MenuCursor == 0 && g.MenuColumn == 0) {
        g.MenuColumn = 1;
        g.GalleryTextOff = 1;
        PlayEffect(EFFECT_CURSOR);
    } else if (g.InputHorizontal == 2 && g.MenuCursor > 0 && g.MenuColumn < 2) {
        g.MenuColumn += 1;
        PlayEffect(EFFECT_CURSOR);
    }
}

// Up onto row 0 lands on the current text choice; down keeps the column.
static void StepGalleryRow(void)
{
    GameGlobals &g = g_Game;
    if (g.InputVertical == 1 && g.MenuCursor > 0) {
        g.MenuCursor -= 1;
        PlayEffect(EFFECT_CURSOR);
        if (g.MenuCursor == 0) {
            g.MenuColumn = g.GalleryTextOff;
        }
    } else if (g.InputVertical == 2 && g.MenuCursor < 2) {
        g.MenuCursor += 1;
        PlayEffect(EFFECT_CURSOR);
    }
}

void GalleryFrame(void)
{
    GameGlobals &g = g_Game;
    g.ButtonMode[0] = 1;
    StepGalleryColumn();
    StepGalleryRow();
    if (g.ButtonLatch[0] == 1 && g.MenuCursor > 0) {
        int stage = (g.MenuCursor - 1) * 3 + g.MenuColumn;
        // A locked thumbnail leaves StageIndex alone.
        if (stage <= g.FurthestStageCleared) {
            g.StageIndex = (int8_t)stage;
            g.EventState = 10;
            g.MainState = 100;
            return;
        }
    }
    if (g.ButtonLatch[1] == 1) {
        g.MainState = 10;
    }
    DrawGallery();
}

void DrawGallery(void)
{
    const GameGlobals &g = g_Game;
    unsigned int white = g_Handles.ColorWhite;
    DrawBoxShape(0, 0, 640, 480, 0, 1);
    for (const GalleryText &line : GALLERY_TEXTS) {
        DrawStringDefault(line.x, line.y, line.text, white, 0);
    }
    int cursorX = g.MenuCursor == 0 ? 15 + 150 * g.MenuColumn : 80 + 158 * g.MenuColumn;
    int cursorY = g.MenuCursor == 0 ? 100 : 140 + 126 * (g.MenuCursor - 1);
    DrawTriangleShape(cursorX, cursorY, cursorX, cursorY + 16, cursorX + 12, cursorY + 8, white, 1);
    DrawCircleShape(40 + 150 * g.GalleryTextOff, 108, 8, white, 1);
    for (int stage = 0; stage < STAGE_COUNT; stage++) {
        int cell = stage <= g.FurthestStageCleared ? stage : 9;
        DrawGraphAt(95 + 158 * (stage % 3), 140 + 126 * (stage / 3), g_Handles.ThumbnailCells[cell], 0);
    }
}
