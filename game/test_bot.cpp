// The test program's bot: it reads the game's values and answers each frame's pad bits, as a player at the pad
// would. In the menus it picks START (CONTINUE after a game over) and its difficulty, presses through the events
// and the miss screen, and in stage play it plans by rehearsal: it copies the game's values and the object table,
// plays a few candidate moves ahead through the stage's own logic (silently, without drawing), puts every value
// back and takes the move whose rehearsal went best. The game is deterministic, so a rehearsed move played for
// real goes exactly as rehearsed. Window thread (inside the input phase of the main loop).
#include "game/game_state.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

#define PAD_DOWN 0x01
#define PAD_LEFT 0x02
#define PAD_RIGHT 0x04
#define PAD_UP 0x08
#define PAD_ATTACK 0x10

#define HORIZON 64       // frames a rehearsal looks ahead: a whole jump and a little more
#define COMMIT_SAFE 16   // frames of the bot's usual play taken at once when its rehearsal goes unharmed
#define COMMIT_MOVE 6    // frames of another move taken before the bot thinks again
#define HOME_X 160       // where the player waits, with room behind him to give way
#define STRIKE_REACH 60  // the attack zone's far edge from the player's x
#define BAND_SLACK 8     // how far beyond the body's band an object still counts as level with it

// A move: its bits for the first frames, then the bot's usual play.
struct BotMove {
    unsigned int bits;
    int frames;
    unsigned int then; // one more frame's bits after them (0: none)
};

static const BotMove MOVES[] = {
    {0, 0, 0},
    {0, 10, 0},
    {PAD_LEFT, 8, 0},
    {PAD_RIGHT, 8, 0},
    {PAD_LEFT, 24, 0},
    {PAD_RIGHT, 24, 0},
    {PAD_ATTACK, 1, 0},
    {PAD_LEFT, 1, PAD_ATTACK},
    {PAD_RIGHT, 1, PAD_ATTACK},
    {PAD_UP, 1, 0},
    {PAD_UP | PAD_LEFT, 14, 0},
    {PAD_UP | PAD_RIGHT, 14, 0},
    {PAD_UP, 20, PAD_ATTACK},
    {PAD_UP | PAD_LEFT, 20, PAD_ATTACK},
    {PAD_UP | PAD_RIGHT, 20, PAD_ATTACK},
};
#define MOVE_COUNT (int)(sizeof(MOVES) / sizeof(MOVES[0]))

struct BotState {
    bool started = false;
    int difficulty = 1;
    int giveUpStage = -1;
    bool gaveUp = false;
    bool gameOver = false; // the last play ended in a game over: CONTINUE at the title
    bool rehearsing = false;
    unsigned int lastMenuBits = 0;
    std::vector<unsigned int> plan; // bits decided, taken one a frame
    size_t planUsed = 0;
};

static BotState s_Bot;

struct BotSnapshot {
    GameGlobals game;
    ObjectRecord objects[STAGE_RECORD_LIMIT];
};

static BotSnapshot s_Snapshot;

void StartBot(int difficulty, int giveUpStage)
{
    s_Bot = BotState();
    s_Bot.started = true;
    s_Bot.difficulty = difficulty;
    s_Bot.giveUpStage = giveUpStage;
}

int IsBotRehearsing(void)
{
    return s_Bot.rehearsing;
}

static int RecordCount(void)
{
    return StageObjectCount[g_Game.StageIndex];
}

static void TakeSnapshot(void)
{
    s_Snapshot.game = g_Game;
    memcpy(s_Snapshot.objects, ObjectTable, sizeof(ObjectRecord) * (size_t)RecordCount());
}

static void RestoreSnapshot(void)
{
    g_Game = s_Snapshot.game;
    memcpy(ObjectTable, s_Snapshot.objects, sizeof(ObjectRecord) * (size_t)RecordCount());
}

// Stage play proper: no title side, miss screen, event, intro, clear or pause.
static bool IsPlaying(void)
{
    const GameGlobals &g = g_Game;
    return g.MainState == 0 && g.MissState == 0 && g.EventState == 0 && g.IntroState == 0 && g.ClearState == 0 &&
           g.PauseFlag == 0;
}

static bool IsStrikable(const ObjectRecord &r)
{
    return !IsHurtState(r.state) && !IsKnockedState(r.state) && r.type != 16 && r.hp >= 0;
}

// The bot's usual play: strike what comes level with the player in front, turn to what comes close behind, go to
// the boss, and otherwise walk back to the waiting place.
static unsigned int UsualBits(void)
{
    const GameGlobals &g = g_Game;
    if (g.PlayerHP <= 0 || g.PlayerHurt == 1 || g.PlayerAttacking == 1) {
        return 0;
    }
    int px = g.PlayerX, py = g.PlayerY;
    bool right = false, left = false;
    int bossX = -1;
    for (int i = 0; i < RecordCount(); i++) {
        const ObjectRecord &r = ObjectTable[i];
        if (!IsObjectActive(i) || !IsStrikable(r)) {
            continue;
        }
        int l = r.x + 4, rt = r.x + r.w - 4, t = r.y + 4, b = r.y + r.h - 4;
        if (t > py + 28 + BAND_SLACK || b < py + 4 - BAND_SLACK) {
            if (g.BossPhase > 0 && i == BossRecordIndex[g.StageIndex]) {
                bossX = r.x + r.w / 2;
            }
            continue;
        }
        if (i == BossRecordIndex[g.StageIndex]) {
            bossX = r.x + r.w / 2;
        }
        right = right || (rt >= px + 24 && l <= px + STRIKE_REACH + BAND_SLACK);
        left = left || (l <= px + 8 && rt >= px - 28 - BAND_SLACK);
    }
    bool facingRight = g.PlayerFacing == 0;
    if ((facingRight && right) || (!facingRight && left)) {
        return PAD_ATTACK;
    }
    if (right || left) {
        return right ? PAD_RIGHT : PAD_LEFT;
    }
    int goal = HOME_X;
    if (bossX >= 0) {
        goal = bossX < px + 16 ? bossX + 40 : bossX - 88;
    }
    if (px < goal - 4) {
        return PAD_RIGHT;
    }
    if (px > goal + 4) {
        return PAD_LEFT;
    }
    return 0;
}

// One frame as the main loop plays it in stage play: the input phase, the logic, the input bytes cleared.
static void RehearseFrame(unsigned int bits)
{
    ApplyPadBits(bits);
    StagePlayFrame();
    g_Game.InputHorizontal = 0;
    g_Game.InputVertical = 0;
    memset(g_Game.ButtonLatch, 0, sizeof(g_Game.ButtonLatch));
}

static int BossHP(void)
{
    const ObjectRecord &boss = ObjectTable[BossRecordIndex[g_Game.StageIndex]];
    return g_Game.BossPhase > 0 && boss.state != GONE_STATE ? boss.hp : 0;
}

// Plays a move and then the usual play from the snapshot for HORIZON frames (or until the boss falls or the player
// dies), noting the bits played; answers how well it went. The values are put back afterwards.
static double RehearseMove(const BotMove &move, std::vector<unsigned int> *played)
{
    const GameGlobals &g = g_Game;
    int startHP = g.PlayerHP, startScore = g.Score, startBoss = BossHP();
    int hurts = 0;
    double value = 0;
    played->clear();
    for (int f = 0; f < HORIZON; f++) {
        unsigned int bits = f < move.frames ? move.bits : f == move.frames && move.then != 0 ? move.then : UsualBits();
        bool wasHurt = g.PlayerHurt == 1;
        RehearseFrame(bits);
        played->push_back(bits);
        hurts += !wasHurt && g.PlayerHurt == 1;
        if (g.ClearState > 0) {
            value += 1e9;
            break;
        }
        if (g.PlayerHP <= 0 || g.MissState > 0) {
            value -= 1e9 - 1e4 * f;
            break;
        }
    }
    value -= 1e6 * hurts + 1e4 * (startHP - g.PlayerHP);
    value += 3000.0 * (startBoss - BossHP()) + 0.1 * (g.Score - startScore);
    value -= 2.0 * abs(g.PlayerX - HOME_X) * (g.BossPhase == 0);
    RestoreSnapshot();
    return value;
}

// Decides the next frames of stage play: the usual play when its rehearsal goes unharmed outside a boss fight,
// else the best-rehearsed move.
static void PlanStagePlay(void)
{
    TakeSnapshot();
    s_Bot.rehearsing = true;
    std::vector<unsigned int> played, best;
    double usual = RehearseMove(MOVES[0], &best);
    bool safe = usual > -1e6 + 1 && g_Game.BossPhase == 0;
    int commit = safe ? COMMIT_SAFE : COMMIT_MOVE;
    double bestValue = usual;
    for (int m = 1; m < MOVE_COUNT && !safe; m++) {
        double value = RehearseMove(MOVES[m], &played);
        if (value > bestValue) {
            bestValue = value;
            best = played;
        }
    }
    s_Bot.rehearsing = false;
    best.resize((size_t)commit < best.size() ? (size_t)commit : best.size());
    s_Bot.plan = best;
    s_Bot.planUsed = 0;
}

// A menu answer: the press on one frame, a release on the next, so that edge-latched buttons count every press.
static unsigned int MenuBits(unsigned int press)
{
    unsigned int bits = s_Bot.lastMenuBits != 0 ? 0 : press;
    s_Bot.lastMenuBits = bits;
    return bits;
}

static unsigned int CursorBits(int target)
{
    int cursor = g_Game.MenuCursor;
    return MenuBits(cursor < target ? PAD_DOWN : cursor > target ? PAD_UP : PAD_ATTACK);
}

unsigned int ChooseBotPadBits(void)
{
    const GameGlobals &g = g_Game;
    if (g.MainState == 30) {
        return CursorBits(s_Bot.gameOver ? 1 : 0);
    }
    if (g.MainState == 80) {
        s_Bot.gameOver = false;
        return CursorBits(s_Bot.difficulty);
    }
    if (g.MainState > 0) {
        return MenuBits(0);
    }
    if (g.MissState > 0) {
        s_Bot.gameOver = g.Lives == 0;
        s_Bot.gaveUp = s_Bot.gaveUp || (s_Bot.gameOver && g.StageIndex == s_Bot.giveUpStage);
        s_Bot.plan.clear();
        return MenuBits(PAD_ATTACK);
    }
    if (g.EventState > 0) {
        return MenuBits(PAD_ATTACK);
    }
    if (!IsPlaying() || (g.StageIndex == s_Bot.giveUpStage && !s_Bot.gaveUp)) {
        s_Bot.plan.clear();
        return 0;
    }
    s_Bot.lastMenuBits = 0;
    s_Bot.gameOver = false;
    if (s_Bot.planUsed >= s_Bot.plan.size()) {
        PlanStagePlay();
    }
    return s_Bot.planUsed < s_Bot.plan.size() ? s_Bot.plan[s_Bot.planUsed++] : 0;
}
