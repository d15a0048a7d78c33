// The player character of stage play: walking, the jump arc, the attack and the knock-back from the frame's input
// bytes, and the frame-by-frame animation that the player and the stage objects share, with the events raised
// when a row ends (attack and hurt over, a hurt object home again, a blasted bomb gone, a dead player handed to
// the miss sequence). Window thread, inside the frame step.
#include "game/game_state.h"

#define PLAYER_RIGHT_EDGE 608
#define PLAYER_STEP 4
#define JUMP_RISE 90     // the arc's step is this divided by the jump counter
#define JUMP_TAKE_OFF 10 // counter at take-off
#define JUMP_APEX 40     // the rise ends when the counter reaches it
#define JUMP_AFTER_ATTACK 50

enum PlayerRow {
    ROW_STANDING = 0,
    ROW_WALKING = 1,
    ROW_ATTACKING = 2,
    ROW_HURT = 3,
    ROW_DYING = 4,
    ROW_RISING = 6,
    ROW_FALLING = 7
};

int IsStageHeld(void)
{
    return g_Game.ClearState > 0 || g_Game.IntroState > 0 || g_Game.PauseFlag > 0;
}

// One call of the animation tick rule on `row`: 1 when the row has ended (the caller then restarts it). A frame
// index past the row's six durations reads as duration 0, as the row's end does.
static int AdvanceAnimation(const AnimRow &row, int8_t *frame, int32_t *tick)
{
    int duration = *frame >= 0 && *frame < 6 ? row.durations[*frame] : 0;
    if (duration > *tick) {
        *tick += 1;
        return 0;
    }
    *frame += 1;
    *tick = 0;
    return *frame >= 6 || row.durations[*frame] == 0;
}

static void WalkPlayer(void)
{
    GameGlobals &g = g_Game;
    if (g.InputHorizontal == 2 && g.PlayerX < PLAYER_RIGHT_EDGE) {
        g.PlayerX += PLAYER_STEP;
        g.PlayerFacing = 0;
        g.PlayerAnimRow = ROW_WALKING;
    } else if (g.InputHorizontal == 1 && g.PlayerX > 0) {
        g.PlayerX -= PLAYER_STEP;
        g.PlayerFacing = 1;
        g.PlayerAnimRow = ROW_WALKING;
    }
}

// The arc's step for this frame. The counter only rises while rising and is set to 10 or 50 before any fall,
// and a fall from either lands before it drops below 10, so the divisor is never 0.
static void MoveOnJumpArc(void)
{
    GameGlobals &g = g_Game;
    if (!g.JumpRising) {
        if (g.PlayerY < GROUND_Y) {
            g.JumpCounter -= 1;
            g.PlayerY += JUMP_RISE / g.JumpCounter;
            if (g.PlayerY >= GROUND_Y) {
                g.PlayerY = GROUND_Y;
            }
            if (g.PlayerAttacking != 1) {
                g.PlayerAnimRow = ROW_FALLING;
            }
        }
    } else if (g.JumpCounter < JUMP_APEX) {
        g.JumpCounter += 1;
        g.PlayerY += -JUMP_RISE / g.JumpCounter;
        if (g.PlayerAttacking != 1) {
            g.PlayerAnimRow = ROW_RISING;
        }
    } else {
        g.JumpRising = 0;
    }
}

void UpdatePlayer(void)
{
    GameGlobals &g = g_Game;
    if (IsStageHeld()) {
        return;
    }
    if (g.PlayerHP <= 0) {
        g.PlayerAnimRow = ROW_DYING;
        return;
    }
    if (g.PlayerHurt == 1) {
        if (g.PlayerFacing == 0 && g.PlayerX > 0) {
            g.PlayerX -= PLAYER_STEP;
        } else if (g.PlayerFacing != 0 && g.PlayerX < PLAYER_RIGHT_EDGE) {
            g.PlayerX += PLAYER_STEP;
        }
        return;
    }
    if (g.PlayerAttacking == 1) {
        g.JumpRising = 0;
        return;
    }
    g.PlayerAnimRow = ROW_STANDING;
    WalkPlayer();
    if (g.InputVertical == 1 && g.JumpRising == 0 && g.PlayerY == GROUND_Y) {
        g.JumpRising = 1;
        g.JumpCounter = JUMP_TAKE_OFF;
        g.PlayerAnimRow = ROW_RISING;
        PlayEffect(EFFECT_JUMP);
    }
    if (g.ButtonLatch[0] == 1) {
        g.PlayerAttacking = 1;
        g.PlayerAnimFrame = 0;
        g.PlayerAnimTick = 0;
        g.PlayerAnimRow = ROW_ATTACKING;
        PlayEffect(EFFECT_ATTACK);
        g.JumpCounter = JUMP_AFTER_ATTACK;
    }
    MoveOnJumpArc();
}

void AnimateObjects(void)
{
    if (IsStageHeld()) {
        return;
    }
    for (int i = 0; i < StageObjectCount[g_Game.StageIndex]; i++) {
        ObjectRecord &r = ObjectTable[i];
        if (!IsObjectActive(i) || !AdvanceAnimation(ObjectAnimations[r.anim], &r.frame, &r.animTick)) {
            continue;
        }
        if (IsHurtState(r.state)) {
            r.state = r.homeState;
            r.period = r.savedPeriod;
        }
        if (r.type == 8 && IsKnockedState(r.state)) {
            r.state = GONE_STATE;
        }
        r.frame = 0;
    }
}

void AnimatePlayer(void)
{
    GameGlobals &g = g_Game;
    if (IsStageHeld() || !AdvanceAnimation(PlayerAnimations[g.PlayerAnimRow], &g.PlayerAnimFrame, &g.PlayerAnimTick)) {
        return;
    }
    g.PlayerAnimFrame = 0;
    g.PlayerAttacking = 0;
    g.PlayerHurt = 0;
    if (g.PlayerHP <= 0) {
        g.Lives -= 1;
        g.MissState = 10;
        g.SequenceTimer = 0;
    }
}
