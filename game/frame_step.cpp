// The frame step: the one call the main loop makes per frame for the whole game. It runs exactly one of the title
// side, the miss screen, the event player or stage play; stage play runs its whole logic (music, hits, sequences,
// pause, score and extra lives, updates, animation, scroll) before it draws the stage, the player and the heads-up
// display into the back buffer. Window thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"

#define PAUSED 10
#define STRIKE_UP 2
#define LIFE_LIMIT 10
#define EXTRA_LIFE_STEP 50000
#define WEAPON_ROW 5
#define STRIKE_ICON_CELL 2
#define DIGIT_CELL 10
#define GAUGE_X 288
#define GAUGE_LAST_X 616
#define GAUGE_STEP 8

// The strike icon's quarter turn, in radians as the rotated draw takes them.
static const double StrikeIconAngle = -1.5707963705062866;

static void AwardExtraLife(void)
{
    GameGlobals &g = g_Game;
    if (g.Score < g.ExtraLifeThreshold || g.ExtraLifeThreshold == 0) {
        return;
    }
    g.ExtraLifeThreshold += EXTRA_LIFE_STEP * (g.DifficultyIndex + 1);
    if (g.ExtraLifeThreshold >= SCORE_LIMIT) {
        g.ExtraLifeThreshold = SCORE_LIMIT;
    }
    if (g.Lives < LIFE_LIMIT) {
        g.Lives += 1;
        PlayEffect(EFFECT_EXTRA_LIFE);
    }
    if (g.Score >= SCORE_LIMIT && g.ExtraLifeThreshold >= SCORE_LIMIT) {
        g.ExtraLifeThreshold = 0;
    }
}

// The logic of one stage-play frame. The updates it calls stand still by themselves while paused, in the intro or
// in the clear; the music, the sequences, the score and the invulnerability countdown go on.
void StagePlayFrame(void)
{
    GameGlobals &g = g_Game;
    if (g.BossPhase == 1) {
        SwitchMusic(TRACK_BOSS);
    }
    if (g.BossPhase == 2) {
        SwitchMusic(TRACK_LAST_BOSS);
    }
    CheckPlayerAttack();
    CheckPlayerContact();
    CheckKnockedObjects();
    if (g.ClearState > 0) {
        SwitchMusic(TRACK_CLEAR);
        StageClearFrame();
    }
    if (g.IntroState > 0) {
        SwitchMusic(TRACK_STAGE);
        StageIntroFrame();
        if (g.IntroState == 10) {
            // The caption's font, set once per intro, before the first caption is drawn.
            SetDefaultFontType(1);
            SetDefaultFontSize(26);
            g.IntroState = 11;
        }
    }
    // Not on the clear's last frame, whose hand-over has already started the event: a pause set there would outlive
    // the stage and keep button 2 from latching in the event, the menus and the next stage.
    if (g.ButtonLatch[3] == 1 && g.EventState == 0) {
        g.PauseFlag = g.PauseFlag > 0 ? 0 : PAUSED;
    }
    if (g.Score >= SCORE_LIMIT) {
        g.Score = SCORE_LIMIT;
    }
    if (g.HighScore < g.Score) {
        g.HighScore = g.Score;
    }
    AwardExtraLife();
    UpdateObjects();
    UpdatePlayer();
    if (g.ButtonLatch[1] == 1) {
        g.StrikeMode = g.StrikeMode != 0 ? 0 : STRIKE_UP;
    }
    AnimateObjects();
    AnimatePlayer();
    if (g.InvulnerableTimer != 0) {
        g.InvulnerableTimer -= 1;
        if (g.InvulnerableTimer <= 0) {
            g.InvulnerableFlag = 0;
        }
    }
    ScrollBackground();
}

// A cell of an animation table, NO_CELL for a row or frame outside it.
static int AnimationCell(const AnimRow *table, int count, int row, int frame)
{
    return row >= 0 && row < count && frame >= 0 && frame < 5 ? table[row].cells[frame] : NO_CELL;
}

// One scenery layer at ScrollX: 21 columns, so that the partly shown column at the right edge is covered.
static void DrawLayer(const int16_t (*map)[MAP_COLUMNS], int transparent)
{
    int firstColumn = g_Game.ScrollX / 32;
    int shift = g_Game.ScrollX % 32;
    for (int r = 0; r < MAP_ROWS; r++) {
        for (int c = 0; c <= 20; c++) {
            int tile = map[r][firstColumn + c];
            if (!(transparent && tile == 0)) {
                DrawGraphAt(32 * c - shift, 32 * r, g_Handles.TileCells[tile], transparent);
            }
        }
    }
}

// The second pass draws only the records knocked away by a strike, so that they lie above all the others.
static void DrawObjects(int knockedOnly)
{
    for (int i = 0; i < StageObjectCount[g_Game.StageIndex]; i++) {
        const ObjectRecord &r = ObjectTable[i];
        if (!IsObjectActive(i) || (knockedOnly && !IsKnockedState(r.state))) {
            continue;
        }
        int first = AnimationCell(ObjectAnimations, OBJECT_ANIMATION_COUNT, r.anim, r.frame);
        if (r.state <= 10) {
            DrawSpriteBlock(r.h / 32, first, r.y, r.x, r.w / 32);
        } else {
            DrawSpriteBlockMirrored(r.h / 32, first, r.y, r.x, r.w / 32);
        }
    }
}

static void DrawPlayer(void)
{
    const GameGlobals &g = g_Game;
    int mirrored = g.PlayerFacing == 1;
    DrawSpriteCell(g.PlayerX, g.PlayerY,
                   AnimationCell(PlayerAnimations, PLAYER_ANIMATION_COUNT, g.PlayerAnimRow, g.PlayerAnimFrame),
                   mirrored);
    if (g.PlayerAttacking == 1 && g.PlayerHP > 0 && g.PlayerHurt != 1) {
        DrawSpriteCell(g.PlayerX + (mirrored ? -32 : 32), g.PlayerY,
                       AnimationCell(PlayerAnimations, PLAYER_ANIMATION_COUNT, WEAPON_ROW, g.PlayerAnimFrame),
                       mirrored);
    }
    if (g.StrikeMode == 0) {
        DrawSpriteCell(g.PlayerX, g.PlayerY - 48, STRIKE_ICON_CELL, mirrored);
    } else {
        DrawGraphRotated(g.PlayerX + 16, g.PlayerY - 32, 1.0, StrikeIconAngle, g_Handles.SpriteCells[STRIKE_ICON_CELL],
                         1, 0);
    }
}

static void DrawTile(int cell, int x, int y, int transparent)
{
    DrawGraphAt(x, y, g_Handles.TileCells[cell], transparent);
}

// Cells first .. first + count - 1, 32 pixels apart from x.
static void DrawTileRun(int first, int count, int x, int y, int transparent)
{
    for (int i = 0; i < count; i++) {
        DrawTile(first + i, x + 32 * i, y, transparent);
    }
}

void DrawSevenDigits(int x, int y, int value)
{
    int power = 1000000;
    for (int k = 0; k < 7; k++, power /= 10) {
        DrawTile(DIGIT_CELL + value % (power * 10) / power, x + 16 * k, y, 1);
    }
}

// A gauge's frame: its label cell, a cap at each end and 21 middle cells.
static void DrawGaugeFrame(int labelCell, int y)
{
    DrawTile(labelCell, 254, y, 1);
    DrawTile(51, 272, y, 1);
    DrawTile(53, 624, y, 1);
    for (int x = 288; x <= 608; x += 16) {
        DrawTile(52, x, y, 1);
    }
}

static void DrawHeadsUpDisplay(void)
{
    const GameGlobals &g = g_Game;
    DrawTileRun(36, 4, 16, 16, 1);
    DrawSevenDigits(128, 16, g.HighScore);
    DrawTileRun(37, 3, 48, 32, 1);
    DrawSevenDigits(128, 32, g.Score);
    DrawTileRun(44, 2, 64, 48, 1);
    DrawSevenDigits(128, 48, g.ExtraLifeThreshold);
    DrawGaugeFrame(56, 16);
    for (int i = 0; i < g.PlayerHP && GAUGE_X + GAUGE_STEP * i <= GAUGE_LAST_X; i++) {
        DrawTile(54, GAUGE_X + GAUGE_STEP * i, 16, 1);
    }
    for (int i = 0; i <= g.Lives - 2; i++) {
        DrawTile(43, 608 - 16 * i, 48, 1);
    }
    DrawGaugeFrame(57, 32);
    DrawBossHealthBar();
    if (g.ClearState > 0) {
        DrawTileRun(20, 11, 160, 192, 0);
    }
    if (g.IntroState > 0) {
        DrawFormatStringDefault(264, 160, g_Handles.ColorWhite, "STAGE %d", g.StageIndex + 1);
        DrawTileRun(31, 5, g.IntroX, g.IntroY, 0);
    }
    if (g.PauseFlag > 0) {
        DrawTileRun(40, 3, 272, 192, 1);
    }
    // EASY, NORMAL, HARD, LUNATIC: first cell, cell count and left edge of each label.
    static const int labels[4][3] = {{100, 2, 576}, {102, 3, 544}, {105, 2, 576}, {107, 3, 544}};
    if (g.DifficultyIndex >= 0 && g.DifficultyIndex < 4) {
        const int *label = labels[g.DifficultyIndex];
        DrawTileRun(label[0], label[1], label[2], 0, 1);
    }
}

void DrawStagePlay(void)
{
    const GameGlobals &g = g_Game;
    DrawLayer(BackgroundMap[g.StageIndex], 0);
    DrawLayer(ForegroundMap[g.StageIndex], 1);
    DrawObjects(0);
    DrawObjects(1);
    if (g.InvulnerableFlag == 1) {
        SetDrawBlend(1, 128);
    }
    DrawPlayer();
    if (g.InvulnerableFlag == 1) {
        SetDrawBlend(0, 0);
    }
    DrawHeadsUpDisplay();
}

void GameFrame(void)
{
    if (g_Game.MainState > 0) {
        TitleFrame();
    } else if (g_Game.MissState > 0) {
        SwitchMusic(TRACK_MISS);
        MissFrame();
    } else if (g_Game.EventState > 0) {
        EventFrame();
    } else {
        StagePlayFrame();
        if (IsStagePictureDue()) {
            NoteFrameCost(FRAME_COST_DRAW);
            DrawStagePlay();
        } else {
            FollowBossHealth();
        }
    }
}
