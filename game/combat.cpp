// Combat and scoring of stage play: the player's attack against the stage objects, the objects' contact with the
// player, and knocked-away objects flying into the others. Each hit takes its hit points, sets the hurt or
// knocked-away state the behaviours then play out, adds the kill score scaled by the difficulty and plays the hit
// sound; a contact hurts the player by the difficulty's damage and starts the invulnerability. Holds no state of
// its own. Window thread, inside the frame step.
#include "game/game_state.h"

#define PLAYER_BODY_INSET 4
#define PLAYER_BODY_FAR 28 // the far inset edge of the player's 32 x 32 body
#define ATTACK_REACH 60    // the attack zone's far column, facing right
#define BLAST_SIZE 96
#define INVULNERABLE_FRAMES 70
#define BOMB_TYPE 8
#define UNTOUCHABLE_TYPE 16
#define TRIPLE_DAMAGE_TYPE 19

int IsHurtState(int state)
{
    return state == 6 || state == 7 || state == 15 || state == 16;
}

int IsKnockedState(int state)
{
    return state == 8 || state == 9 || state == 10 || state == 17 || state == 18 || state == 19;
}

// A record that can be hit: taking part, not already reeling from a hit, and not of the kind nothing hits.
static int IsObjectHittable(int index)
{
    const ObjectRecord &r = ObjectTable[index];
    return IsObjectActive(index) && !IsHurtState(r.state) && !IsKnockedState(r.state) && r.type != UNTOUCHABLE_TYPE;
}

static int KillScore(const ObjectRecord &r)
{
    switch (g_Game.DifficultyIndex) {
    case 0:
        return r.scoreValue / 2;
    case 2:
        return r.scoreValue * 2;
    case 3:
        return r.scoreValue * 3;
    default:
        return r.scoreValue;
    }
}

// Takes `damage` from the object; a survivor enters `hurtState`, a destroyed one `knockedState` (a bomb's box
// growing to its blast first) and scores. Either way its new row starts and the hit sounds.
static void HitObject(int index, int damage, int hurtState, int knockedState)
{
    ObjectRecord &r = ObjectTable[index];
    r.hp = (int16_t)(r.hp - damage);
    if (r.hp > 0) {
        r.state = (int8_t)hurtState;
        r.anim = (int16_t)(r.baseAnim + 6);
    } else {
        if (r.type == BOMB_TYPE) {
            r.w = BLAST_SIZE;
            r.h = BLAST_SIZE;
            r.x -= 32;
            r.y -= 32;
        }
        r.state = (int8_t)knockedState;
        g_Game.Score += KillScore(r);
        r.anim = (int16_t)(r.baseAnim + 7);
    }
    r.animTick = 0;
    r.frame = 0;
    PlayEffect(r.type == BOMB_TYPE ? EFFECT_BLAST : EFFECT_HIT);
}

static void StrikeObject(int index, int hurtState, int knockedBase)
{
    if (ObjectTable[index].hp < 0) {
        return;
    }
    HitObject(index, g_Game.AttackPower, hurtState, g_Game.StrikeMode + knockedBase);
    g_Game.BossHealthDisplay = ObjectTable[index].hp;
}

void StrikeObjectRight(int index)
{
    StrikeObject(index, 15, 17);
}

void StrikeObjectLeft(int index)
{
    StrikeObject(index, 6, 8);
}

static int IsWithin(int value, int low, int high)
{
    return low <= value && value <= high;
}

// The attack zone against the object's inset edges, by the player's facing.
static int IsInAttackZone(const ObjectRecord &r)
{
    const GameGlobals &g = g_Game;
    int left = r.x + 4, right = r.x + r.w - 4, top = r.y + 4, bottom = r.y + r.h - 4;
    int bandTop = g.PlayerY + PLAYER_BODY_INSET, bandBottom = g.PlayerY + PLAYER_BODY_FAR;
    int topIn = IsWithin(top, bandTop, bandBottom), bottomIn = IsWithin(bottom, bandTop, bandBottom);
    int spansBand = top <= bandTop && bandBottom <= bottom;
    if (g.PlayerFacing == 0) {
        int zoneLeft = g.PlayerX + PLAYER_BODY_FAR, zoneRight = g.PlayerX + ATTACK_REACH;
        int leftIn = IsWithin(left, zoneLeft, zoneRight), rightIn = IsWithin(right, zoneLeft, zoneRight);
        return (leftIn && (topIn || bottomIn || spansBand)) || (rightIn && (topIn || bottomIn));
    }
    int zoneLeft = g.PlayerX - PLAYER_BODY_FAR, zoneRight = g.PlayerX;
    int leftIn = IsWithin(left, zoneLeft, zoneRight);
    int rightIn = IsWithin(right, zoneLeft, zoneRight);
    int rightStrictlyIn = IsWithin(right, zoneLeft, zoneRight - 1);
    int overlaps = zoneLeft <= right && left <= zoneRight;
    return (leftIn && (topIn || bottomIn)) || (rightIn && topIn) || (rightStrictlyIn && bottomIn) ||
           (overlaps && spansBand);
}

void CheckPlayerAttack(void)
{
    const GameGlobals &g = g_Game;
    if (g.PlayerHP < 1 || g.PlayerAttacking == 0 || IsStageHeld() || g.PlayerHurt == 1) {
        return;
    }
    for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
        if (!IsObjectHittable(i) || !IsInAttackZone(ObjectTable[i])) {
            continue;
        }
        if (g.PlayerFacing == 0) {
            StrikeObjectRight(i);
        } else {
            StrikeObjectLeft(i);
        }
    }
}

int IsPointOutsideObject(int index, int x, int y)
{
    const ObjectRecord &r = ObjectTable[index];
    return x < r.x || x > r.x + r.w || y < r.y || y > r.y + r.h;
}

void CheckPlayerContact(void)
{
    GameGlobals &g = g_Game;
    if (IsStageHeld() || g.PlayerHurt == 1 || g.InvulnerableFlag >= 1) {
        return;
    }
    // The body's inset corners: the two left ones first, then the two right ones.
    const int cornerX[4] = {PLAYER_BODY_INSET, PLAYER_BODY_INSET, PLAYER_BODY_FAR, PLAYER_BODY_FAR};
    const int cornerY[4] = {PLAYER_BODY_INSET, PLAYER_BODY_FAR, PLAYER_BODY_INSET, PLAYER_BODY_FAR};
    for (int i = 0; i < StageObjectCount[g.StageIndex]; i++) {
        if (!IsObjectActive(i)) {
            continue;
        }
        for (int corner = 0; corner < 4; corner++) {
            if (IsPointOutsideObject(i, g.PlayerX + cornerX[corner], g.PlayerY + cornerY[corner])) {
                continue;
            }
            if (ObjectTable[i].type != BOMB_TYPE) {
                g.PlayerFacing = corner < 2 ? 1 : 0;
            }
            HurtPlayer(i);
            return;
        }
    }
}

void HurtPlayer(int index)
{
    GameGlobals &g = g_Game;
    g.PlayerHurt = 1;
    g.PlayerAnimFrame = 0;
    g.PlayerAnimTick = 0;
    g.PlayerAnimRow = 3;
    int damage = ObjectTable[index].contactDamage;
    if (g.DamageMultiplier == 0) {
        damage = damage / 2 + damage % 2;
        if (damage <= 0) {
            damage = 1;
        }
    } else {
        damage *= g.DamageMultiplier;
    }
    if (g.DifficultyIndex == 2 && damage > 20) {
        damage = 20;
    } else if (g.DifficultyIndex == 3 && damage > 30) {
        damage = 30;
    }
    g.PlayerHP = (int8_t)(g.PlayerHP - damage);
    g.InvulnerableFlag = 1;
    g.InvulnerableTimer = INVULNERABLE_FRAMES;
    PlayEffect(EFFECT_HIT);
}

int IsObjectClearOf(int a, int b)
{
    const ObjectRecord &r = ObjectTable[a];
    const int cornerX[4] = {r.x + 4, r.x + 4, r.x + r.w - 4, r.x + r.w - 4};
    const int cornerY[4] = {r.y + 4, r.y + r.h - 4, r.y + 4, r.y + r.h - 4};
    for (int corner = 0; corner < 4; corner++) {
        if (!IsPointOutsideObject(b, cornerX[corner], cornerY[corner])) {
            return 0;
        }
    }
    return 1;
}

void CheckKnockedObjects(void)
{
    if (IsStageHeld()) {
        return;
    }
    int count = StageObjectCount[g_Game.StageIndex];
    for (int flyer = 0; flyer < count; flyer++) {
        // A hit changes only its target, so the flyer's own test holds for the whole row of targets.
        int flyerState = ObjectTable[flyer].state;
        if (!IsObjectActive(flyer) || !IsKnockedState(flyerState)) {
            continue;
        }
        for (int target = 0; target < count; target++) {
            if (target == flyer || !IsObjectHittable(target)) {
                continue;
            }
            if (IsObjectClearOf(target, flyer) && IsObjectClearOf(flyer, target)) {
                continue;
            }
            if (flyerState >= 17) {
                HitByKnockedRight(target, flyer);
            } else {
                HitByKnockedLeft(target, flyer);
            }
        }
    }
}

static void HitByKnocked(int target, int flyer, int hurtState)
{
    if (ObjectTable[target].hp < 0) {
        return;
    }
    int damage = g_Game.AttackPower * (ObjectTable[flyer].type == TRIPLE_DAMAGE_TYPE ? 3 : 1);
    HitObject(target, damage, hurtState, ObjectTable[flyer].state);
}

void HitByKnockedRight(int target, int flyer)
{
    HitByKnocked(target, flyer, 16);
}

void HitByKnockedLeft(int target, int flyer)
{
    HitByKnocked(target, flyer, 7);
}
