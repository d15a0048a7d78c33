// Stage objects: the update dispatcher that runs the stage clock and moves every record that takes part, and the
// behaviours behind its two tables (a type handler that chooses where a record goes, relaunches the records it owns
// and starts the stage clear when a boss falls; an action handler that carries out the chosen state). Owners find
// their children by position alone (the records right behind them) and trust every index: the stage validator is
// what keeps them inside the stage's range. Also the game's random generator. Window thread.
#include "game/game_state.h"

#define PLAY_AREA_LEFT (-224)
#define PLAY_AREA_RIGHT 864
#define PLAY_AREA_TOP (-224)
#define PLAY_AREA_BOTTOM 640
#define SCREEN_WIDTH 640
#define SCREEN_HEIGHT 480
#define FRAMES_PER_TICK 60 // the clock's counter runs 0..60, so a second is 61 frames
#define STEP 4             // pixels an action handler moves per update
#define KNOCKED_STEP 16    // pixels a straight knocked-away flight moves per update

// Rows after `baseAnim`.
enum { ROW_UP = 1, ROW_UP_DIAGONAL, ROW_SIDEWAYS, ROW_DOWN_DIAGONAL, ROW_DOWN };

typedef void (*ObjectHandler)(int index);

int IsObjectActive(int index)
{
    const ObjectRecord &r = ObjectTable[index];
    return g_Game.StageWindowStart <= r.appearTime && r.appearTime <= g_Game.StageTime && r.state != GONE_STATE;
}

int GameRand(void)
{
    g_Game.RandomState = g_Game.RandomState * 214013u + 2531011u;
    return (int)((g_Game.RandomState >> 16) & 0x7FFF);
}

static bool IsFree(int index)
{
    return ObjectTable[index].state == GONE_STATE;
}

// ---- Shared steps ----

// A walker owner puts its two walkers back in from the right and the left edge once they are gone.
static void WalkerRelaunch(int i)
{
    if (IsFree(i + 1)) {
        ObjectRecord &child = ObjectTable[i + 1];
        child.x = 640;
        child.y = GROUND_Y;
        child.state = 13;
        child.hp = 1;
        child.period = 1;
    }
    if (IsFree(i + 2)) {
        ObjectRecord &child = ObjectTable[i + 2];
        child.x = -32;
        child.y = GROUND_Y;
        child.state = 3;
        child.hp = 1;
        child.period = 1;
    }
}

// Only the stage's own boss record starts the clear; a mid-stage boss of the same kind just goes.
static void BossRemoval(int i)
{
    ObjectTable[i].state = GONE_STATE;
    if (i == BossRecordIndex[g_Game.StageIndex]) {
        g_Game.ClearState = 10;
        g_Game.SequenceTimer = 0;
        g_Game.BossPhase = 0;
    }
}

// A type 13 body knocked off the screen hurts the launcher right before it; the launcher sees it at its next update.
static void LauncherDamage(int i)
{
    if (ObjectTable[i].type == 13) {
        ObjectTable[i - 1].hp = (int16_t)(ObjectTable[i - 1].hp - (int16_t)g_Game.AttackPower);
    }
}

// ---- Action handlers ----

static void MoveRecord(int i, int dx, int dy, int row)
{
    ObjectRecord &r = ObjectTable[i];
    r.x += dx * STEP;
    r.y += dy * STEP;
    r.anim = (int16_t)(r.baseAnim + row);
}

static void ActionIdle(int i)
{
    ObjectTable[i].anim = ObjectTable[i].baseAnim;
}

static void ActionUp(int i)
{
    MoveRecord(i, 0, -1, ROW_UP);
}

static void ActionUpRight(int i)
{
    MoveRecord(i, 1, -1, ROW_UP_DIAGONAL);
}

static void ActionRight(int i)
{
    MoveRecord(i, 1, 0, ROW_SIDEWAYS);
}

static void ActionDownRight(int i)
{
    MoveRecord(i, 1, 1, ROW_DOWN_DIAGONAL);
}

static void ActionDown(int i)
{
    MoveRecord(i, 0, 1, ROW_DOWN);
}

static void ActionUpLeft(int i)
{
    MoveRecord(i, -1, -1, ROW_UP_DIAGONAL);
}

static void ActionLeft(int i)
{
    MoveRecord(i, -1, 0, ROW_SIDEWAYS);
}

static void ActionDownLeft(int i)
{
    MoveRecord(i, -1, 1, ROW_DOWN_DIAGONAL);
}

// The hurt states move every frame until the hurt animation ends; the push-backs stop short of the far edges.
static void ActionHurtPushLeft(int i)
{
    ObjectRecord &r = ObjectTable[i];
    r.period = 0;
    if (r.x - STEP > -160) {
        r.x -= STEP;
    }
}

static void ActionHurt(int i)
{
    ObjectTable[i].period = 0;
}

static void ActionHurtPushRight(int i)
{
    ObjectRecord &r = ObjectTable[i];
    r.period = 0;
    if (r.x + r.w + STEP < 800) {
        r.x += STEP;
    }
}

// A knocked-away flight by (dx, dy) per update while the record is still on the screen in every direction it
// moves, then its removal. A bomb (type 8) is not flown: it blasts where it is until its animation ends.
static void FlyKnocked(int i, int dx, int dy, bool hurtsLauncher)
{
    ObjectRecord &r = ObjectTable[i];
    if (r.type == 8) {
        return;
    }
    bool onScreen = (dx >= 0 || r.x > -r.w) && (dx <= 0 || r.x < SCREEN_WIDTH) && (dy >= 0 || r.y > -r.h);
    if (onScreen) {
        r.x += dx;
        r.y += dy;
        r.period = 0;
        return;
    }
    BossRemoval(i);
    if (hurtsLauncher) {
        LauncherDamage(i);
    }
}

static void ActionKnockedLeft(int i)
{
    FlyKnocked(i, -KNOCKED_STEP, 0, true);
}

static void ActionKnockedRight(int i)
{
    FlyKnocked(i, KNOCKED_STEP, 0, true);
}

static void ActionKnockedUp(int i)
{
    FlyKnocked(i, 0, -KNOCKED_STEP, true);
}

static void ActionKnockedUpLeft(int i)
{
    FlyKnocked(i, -STEP, -STEP, false);
}

static void ActionKnockedUpRight(int i)
{
    FlyKnocked(i, STEP, -STEP, false);
}

// ---- Type handlers: ordinary enemies, shots and bombs ----

static void ObjectTypeNone(int)
{
}

static void MoveLeftAndLeave(ObjectRecord &r)
{
    r.x -= 8;
    if (r.x <= -32) {
        r.state = GONE_STATE;
    }
}

static void ObjectTypeMoveLeft(int i)
{
    MoveLeftAndLeave(ObjectTable[i]);
}

static void ObjectTypeScrollLeftFast(int i)
{
    if (ObjectTable[i].scoreValue == 2000) {
        MoveLeftAndLeave(ObjectTable[i]);
    }
}

static void ObjectTypeFallFast(int i)
{
    ObjectTable[i].y += 8;
}

static void ObjectTypeFall(int i)
{
    ObjectRecord &r = ObjectTable[i];
    r.y += 4;
    if (r.y >= SCREEN_HEIGHT) {
        r.state = GONE_STATE;
    }
}

// A shot's own step along its state: sideways by `side` and down by `down` pixels, gone past the screen's edge.
// A `down` of 0 leaves a falling shot alone, edge test included.
static void StepShot(ObjectRecord &r, int side, int down)
{
    if (r.state == 3) {
        r.x += side;
        if (r.x >= SCREEN_WIDTH) {
            r.state = GONE_STATE;
        }
    } else if (r.state == 5 && down != 0) {
        r.y += down;
        if (r.y >= SCREEN_HEIGHT) {
            r.state = GONE_STATE;
        }
    } else if (r.state == 13) {
        r.x -= side;
        if (r.x <= -96) {
            r.state = GONE_STATE;
        }
    }
}

static void ObjectTypeProjectile(int i)
{
    StepShot(ObjectTable[i], 4, 2);
}

// The zigzag of types 1 and 2: down at the top line, up at the bottom line, toward the side of `homeState`.
static void Patrol(int i, bool exactLines)
{
    ObjectRecord &r = ObjectTable[i];
    int down, up;
    if (r.homeState == 2) {
        down = 4;
        up = 2;
    } else if (r.homeState == 12) {
        down = 14;
        up = 12;
    } else {
        return;
    }
    int top = exactLines ? 96 : 256;
    if (exactLines ? r.y == top : r.y <= top) {
        r.state = (int8_t)down;
    }
    if (exactLines ? r.y == GROUND_Y : r.y >= GROUND_Y) {
        r.state = (int8_t)up;
    }
}

static void ObjectTypePatrolBounded(int i)
{
    Patrol(i, false);
}

static void ObjectTypePatrolFixed(int i)
{
    Patrol(i, true);
}

static void ObjectTypeDiveNear(int i)
{
    ObjectRecord &r = ObjectTable[i];
    int playerX = g_Game.PlayerX;
    int dive;
    if (r.homeState == 3) {
        dive = 4;
        if (r.x + 96 >= playerX) {
            r.state = 4;
        }
    } else if (r.homeState == 13) {
        dive = 14;
        if (r.x - 96 <= playerX) {
            r.state = 14;
        }
    } else {
        return;
    }
    // Landed from a dive: walk on toward the player.
    if (r.state == dive && r.y >= GROUND_Y) {
        r.state = r.x > playerX ? 13 : 3;
    }
}

static void ObjectTypeTurnBack(int i)
{
    ObjectRecord &r = ObjectTable[i];
    int playerX = g_Game.PlayerX;
    if (r.homeState == 3) {
        if (r.x - 160 >= playerX) {
            r.state = 14;
        }
        if (r.state == 14 && r.y >= GROUND_Y) {
            r.state = 13;
        }
    } else if (r.homeState == 13) {
        if (r.x + 160 <= playerX) {
            r.state = 4;
        }
        if (r.state == 4 && r.y >= GROUND_Y) {
            r.state = 3;
        }
    }
}

static void ObjectTypeDropOnPlayer(int i)
{
    ObjectRecord &r = ObjectTable[i];
    int playerX = g_Game.PlayerX;
    if (r.homeState == 3 || r.homeState == 13) {
        if (r.homeState == 3 ? r.x >= playerX : r.x <= playerX) {
            r.state = 5;
        }
        if (r.state != 5) {
            return;
        }
        if (r.y >= GROUND_Y) {
            r.state = r.homeState;
        }
    }
    if (r.state == 5 && g_Game.DifficultyIndex > 0) {
        r.y += 2;
    }
}

static void ObjectTypeTrackHeight(int i)
{
    ObjectRecord &r = ObjectTable[i];
    int playerY = g_Game.PlayerY;
    r.state = r.y > playerY ? 1 : 5;
    if (r.y < playerY - 16 || r.y > playerY + 16) {
        return;
    }
    r.state = r.x <= g_Game.PlayerX ? 3 : 13;
}

// A shot entering from an edge; one placed at y -128 is first aimed at the player's x.
static void ObjectTypeEdgeShot(int i)
{
    ObjectRecord &r = ObjectTable[i];
    if (r.y == -128) {
        r.x = g_Game.PlayerX - 32;
        PlayEffect(EFFECT_SHOT);
    }
    if (r.period != 0) {
        return;
    }
    if (r.y == -96 || r.x == -96 || r.x == SCREEN_WIDTH) {
        PlayEffect(EFFECT_SHOT);
    }
    bool easy = g_Game.DifficultyIndex == 0;
    StepShot(r, easy ? 2 : 4, easy ? 0 : 2);
}

// ---- Type handlers: the boss kinds ----

// Hopper and jumper share their last steps: on their line (the hovering height, the ground), drop or leap when the
// player is under the body, else walk toward him at the template's pace.
static void ChaseAtLine(ObjectRecord &r, bool atLine, int8_t attackState)
{
    int playerX = g_Game.PlayerX;
    if (!atLine) {
        return;
    }
    if (r.x <= playerX && playerX <= r.x + 64) {
        r.state = attackState;
        r.period = 0;
        PlayEffect(EFFECT_SHOT);
        return;
    }
    if (r.x + 32 < playerX) {
        r.state = 3;
        r.period = r.savedPeriod;
    }
    if (r.x + 32 > playerX) {
        r.state = 13;
        r.period = r.savedPeriod;
    }
}

static void ObjectTypeHopper(int i)
{
    ObjectRecord &r = ObjectTable[i];
    WalkerRelaunch(i);
    if (r.state == 5 && r.y <= 256) {
        return;
    }
    r.state = 1;
    r.period = 0;
    ChaseAtLine(r, r.y <= 48, 5);
}

static void ObjectTypeJumper(int i)
{
    ObjectRecord &r = ObjectTable[i];
    WalkerRelaunch(i);
    int entryState = r.state;
    if (entryState == 1) {
        r.y -= 4;
    } else if (entryState == 5) {
        r.y += 4;
        if (r.y >= 448) {
            r.y = 448;
        }
    }
    if (entryState == 1 && r.y >= 64) {
        return;
    }
    r.state = 5;
    r.period = 0;
    ChaseAtLine(r, r.y == 448, 1);
}

static void ObjectTypeSpawnerRandom(int i)
{
    ObjectRecord &r = ObjectTable[i];
    r.period = r.savedPeriod;
    if (r.x > 544) {
        r.state = 13;
    } else {
        r.state = 11;
        bool allFree = IsFree(i + 1) && IsFree(i + 2) && IsFree(i + 3);
        if (!allFree && r.frame == 0) {
            r.animTick = 0;
        }
        // Both numbers are drawn on every update that stands here, launch or not.
        int a = GameRand() % 3 + 1;
        int b = GameRand() % 2 + 1;
        if (allFree && r.frame == 2) {
            ObjectRecord &child = ObjectTable[i + a];
            child.state = 13;
            child.x = r.x - 32;
            child.y = r.y + 32 * b;
            child.w = 32;
            child.h = 32;
            child.hp = 1;
            PlayEffect(EFFECT_SHOT);
        }
    }
    if (r.y < 256 && g_Game.PlayerX < 160) {
        r.state = 5;
        r.period = 0;
    }
    if (r.y > 64 && g_Game.PlayerX > 160) {
        r.state = 1;
        r.period = 0;
    }
}

static void ObjectTypeSpawnerChase(int i)
{
    ObjectRecord &r = ObjectTable[i];
    WalkerRelaunch(i);
    if (IsFree(i + 3) && r.frame == 1) {
        ObjectRecord &shot = ObjectTable[i + 3];
        shot.x = r.x + 16;
        shot.y = r.y + 32;
        shot.state = 5;
        shot.hp = 1;
        PlayEffect(EFFECT_SHOT);
    }
    int low = g_Game.PlayerX - 128 > -32 ? g_Game.PlayerX - 128 : -32;
    int high = g_Game.PlayerX + 64 < 576 ? g_Game.PlayerX + 64 : 576;
    if (r.x <= low) {
        r.state = 3;
        r.homeState = 3;
        return;
    }
    if (r.x >= high && r.state == 3) {
        r.state = 13;
        r.homeState = 13;
    }
}

static void ObjectTypeBossRandom(int i)
{
    ObjectRecord &r = ObjectTable[i];
    if (r.hp < 1) {
        BossRemoval(i);
        return;
    }
    if (!IsFree(i + 1)) {
        return;
    }
    ObjectRecord &body = ObjectTable[i + 1];
    switch (GameRand() % 3) {
    case 0: // in from the right
        body.x = 768;
        body.y = 256;
        body.state = 13;
        break;
    case 1: // in from the left
        body.x = -160;
        body.y = 256;
        body.state = 3;
        break;
    default: // down onto the player
        body.x = g_Game.PlayerX - 32;
        body.y = -160;
        body.state = 5;
        break;
    }
    body.hp = 1;
    PlayEffect(EFFECT_SHOT);
}

// Each standing frame lasts 40; below 30 and again below 20 hit points the frames are cut short, so it attacks
// faster. It stands over the player at the start of a cycle and drops its weight in the next frame.
static void ObjectTypeBossDrop(int i)
{
    ObjectRecord &r = ObjectTable[i];
    WalkerRelaunch(i);
    if (r.hp > 20 && r.hp <= 30 && r.animTick >= 30 && r.animTick < 39) {
        r.animTick = 39;
    }
    if (r.hp <= 20 && r.animTick >= 20 && r.animTick < 39) {
        r.animTick = 39;
    }
    if (r.frame == 0 && r.animTick <= 5 && IsFree(i + 3)) {
        r.x = g_Game.PlayerX - 32;
    }
    if (IsFree(i + 3) && r.frame == 1) {
        ObjectRecord &weight = ObjectTable[i + 3];
        weight.state = 5;
        weight.x = r.x;
        weight.y = r.y + 96;
        weight.hp = 1;
        PlayEffect(EFFECT_DROP);
    }
}

// ---- The dispatcher ----

static const ObjectHandler TypeHandlers[20] = {
    ObjectTypeNone,           ObjectTypePatrolBounded, ObjectTypePatrolFixed,   ObjectTypeDiveNear,
    ObjectTypeTurnBack,       ObjectTypeDropOnPlayer,  ObjectTypeTrackHeight,   ObjectTypeMoveLeft,
    ObjectTypeScrollLeftFast, ObjectTypeHopper,        ObjectTypeSpawnerRandom, ObjectTypeSpawnerChase,
    ObjectTypeBossRandom,     ObjectTypeProjectile,    ObjectTypeJumper,        ObjectTypeBossDrop,
    ObjectTypeFallFast,       ObjectTypeFall,          ObjectTypeEdgeShot,      ObjectTypeMoveLeft};

static const ObjectHandler ActionHandlers[20] = {
    ActionIdle,          ActionUp,           ActionUpRight,      ActionRight,          ActionDownRight,
    ActionDown,          ActionHurtPushLeft, ActionHurt,         ActionKnockedLeft,    ActionKnockedUpLeft,
    ActionKnockedUp,     ActionIdle,         ActionUpLeft,       ActionLeft,           ActionDownLeft,
    ActionHurtPushRight, ActionHurt,         ActionKnockedRight, ActionKnockedUpRight, ActionKnockedUp};

void UpdateObjects(void)
{
    GameGlobals &g = g_Game;
    if (IsStageHeld()) {
        return;
    }
    if (g.StageTickFrames >= FRAMES_PER_TICK) {
        g.StageTime += 1;
        g.StageTickFrames = 0;
    } else {
        g.StageTickFrames += 1;
    }
    for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
        ObjectRecord &r = ObjectTable[i];
        if (!IsObjectActive(i)) {
            continue;
        }
        if (r.updateTick < r.period) {
            r.updateTick += 1;
            continue;
        }
        if (r.x < PLAY_AREA_LEFT || r.x > PLAY_AREA_RIGHT || r.y < PLAY_AREA_TOP || r.y > PLAY_AREA_BOTTOM) {
            r.state = GONE_STATE;
        }
        // Every update of the boss record keeps the phase up, the one that has just set it gone included.
        if (i == BossRecordIndex[g.StageIndex]) {
            g.BossPhase = g.StageIndex == 5 ? 2 : 1;
        }
        // Hurt and knocked-away records follow their action handler alone.
        if (r.state != GONE_STATE && !IsHurtState(r.state) && !IsKnockedState(r.state)) {
            TypeHandlers[r.type](i);
        }
        if (r.state != GONE_STATE) {
            ActionHandlers[r.state](i);
        }
        r.updateTick = 0;
    }
}
