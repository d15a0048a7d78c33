// Stage drawing and scrolling: the scenery's scroll with its wrap, sprite cells and the 32 x 32 blocks objects are
// drawn as (plain or mirrored), and the enemy health bar. A cell outside the sprite sheet is never looked up: it
// draws nothing, whatever the animation tables or the object records hold. Window thread.
#include "game/game_state.h"

#include "graphics/graphics.h"

#define SCROLL_WIDTH 640 // the maps repeat after this many pixels
#define SHEET_COLUMNS 20 // sprite cells per sheet row: the cell below n is n + 20
#define CELL_SIZE 32
#define GAUGE_CELL 55
#define GAUGE_X 288
#define GAUGE_LAST_X 616
#define GAUGE_STEP 8

void ScrollBackground(void)
{
    GameGlobals &g = g_Game;
    if (IsStageHeld() || g.BossPhase >= 1) {
        return;
    }
    if (g.ScrollWait < 1) {
        g.ScrollWait += 1;
        return;
    }
    g.ScrollX += 1;
    g.ScrollWait = 0;
    if (g.ScrollX >= SCROLL_WIDTH) {
        g.ScrollX = 0;
    }
}

void DrawSpriteCell(int x, int y, int cell, int mirrored)
{
    if (cell < 0 || cell >= SPRITE_CELL_COUNT) {
        return;
    }
    if (mirrored) {
        DrawGraphMirrored(x, y, g_Handles.SpriteCells[cell], 1);
    } else {
        DrawGraphAt(x, y, g_Handles.SpriteCells[cell], 1);
    }
}

// Block column c at x + 32c shows sheet column c, or columns - 1 - c when mirrored. A block whose first cell is
// outside the sheet (an animation frame of NO_CELL) draws nothing, rather than the cells that happen to follow it.
static void DrawBlock(int rows, int first, int y, int x, int columns, int mirrored)
{
    if (first < 0 || first >= SPRITE_CELL_COUNT) {
        return;
    }
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < columns; c++) {
            int column = mirrored ? columns - 1 - c : c;
            DrawSpriteCell(x + CELL_SIZE * c, y + CELL_SIZE * r, first + SHEET_COLUMNS * r + column, mirrored);
        }
    }
}

void DrawSpriteBlock(int rows, int first, int y, int x, int columns)
{
    DrawBlock(rows, first, y, x, columns, 0);
}

void DrawSpriteBlockMirrored(int rows, int first, int y, int x, int columns)
{
    DrawBlock(rows, first, y, x, columns, 1);
}

void FollowBossHealth(void)
{
    GameGlobals &g = g_Game;
    if (g.BossPhase >= 1) {
        g.BossHealthDisplay = ObjectTable[BossRecordIndex[g.StageIndex]].hp;
    }
}

void DrawBossHealthBar(void)
{
    const GameGlobals &g = g_Game;
    FollowBossHealth();
    for (int k = 0; k < g.BossHealthDisplay && GAUGE_X + GAUGE_STEP * k <= GAUGE_LAST_X; k++) {
        DrawGraphAt(GAUGE_X + GAUGE_STEP * k, 32, g_Handles.TileCells[GAUGE_CELL], 1);
    }
}
