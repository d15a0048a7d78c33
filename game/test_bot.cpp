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
#define PAD_STRIKE_MODE 0x20

#define HORIZON 96       // frames a rehearsal looks ahead: a whole jump and a little more
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
    {PAD_LEFT, 6, PAD_UP},
    {PAD_RIGHT, 6, PAD_UP},
    {PAD_RIGHT, 1, PAD_LEFT},
    {PAD_LEFT, 1, PAD_RIGHT},
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

static BotSnapshot s_Start; // the frame the bot plans from

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

static void TakeSnapshot(BotSnapshot *snapshot)
{
    snapshot->game = g_Game;
    memcpy(snapshot->objects, ObjectTable, sizeof(ObjectRecord) * (size_t)RecordCount());
}

static void RestoreSnapshot(const BotSnapshot &snapshot)
{
    g_Game = snapshot.game;
    memcpy(ObjectTable, snapshot.objects, sizeof(ObjectRecord) * (size_t)RecordCount());
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

static bool IsBossKind(int type)
{
    return type == 9 || type == 10 || type == 11 || type == 12 || type == 14 || type == 15;
}

// The boss the bot plays against: the first boss kind taking part (stage 5 has several), or -1.
static int FocusBoss(void)
{
    for (int i = 0; i < RecordCount(); i++) {
        if (IsBossKind(ObjectTable[i].type) && IsObjectActive(i)) {
            return i;
        }
    }
    return -1;
}

// Where the player waits for a boss, and which way his strikes knock things: a boss on the ground (9, 14) is
// struck from beside it; one that hovers out of reach (11, 15) is hit by the walkers knocked up under it; the
// shooter (10) sinks within reach while the player keeps left of x 160 and is hit by its own shots knocked back;
// the thrower (12) is beaten by knocking its body away.
static void BossPlan(int boss, int *goal, int *strikeMode)
{
    const ObjectRecord &r = ObjectTable[boss];
    int px = g_Game.PlayerX, centre = r.x + r.w / 2;
    *strikeMode = 0;
    switch (r.type) {
    case 10:
        *goal = 96;
        break;
    case 11:
    case 15:
        *goal = centre - 16;
        *strikeMode = 2;
        break;
    case 12:
        *goal = 304;
        break;
    default:
        *goal = centre < px + 16 ? centre + 40 : centre - 88;
        break;
    }
}

// The bot's usual play: the strike mode its boss needs, strike what comes level with the player in front, turn to
// what comes close behind, and otherwise walk to the waiting place.
static unsigned int UsualBits(void)
{
    const GameGlobals &g = g_Game;
    if (g.PlayerHP <= 0 || g.PlayerHurt == 1 || g.PlayerAttacking == 1) {
        return 0;
    }
    int goal = HOME_X, strikeMode = 0;
    int boss = FocusBoss();
    if (boss >= 0) {
        BossPlan(boss, &goal, &strikeMode);
    }
    if (g.StrikeMode != strikeMode) {
        return PAD_STRIKE_MODE;
    }
    int px = g.PlayerX, py = g.PlayerY;
    bool right = false, left = false;
    for (int i = 0; i < RecordCount(); i++) {
        const ObjectRecord &r = ObjectTable[i];
        if (!IsObjectActive(i) || !IsStrikable(r)) {
            continue;
        }
        int l = r.x + 4, rt = r.x + r.w - 4, t = r.y + 4, b = r.y + r.h - 4;
        if (t > py + 28 + BAND_SLACK || b < py + 4 - BAND_SLACK) {
            continue;
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
    ForgetFrameInput();
}

static int BossHP(void)
{
    const ObjectRecord &boss = ObjectTable[BossRecordIndex[g_Game.StageIndex]];
    return g_Game.BossPhase > 0 && boss.state != GONE_STATE ? boss.hp : 0;
}

static unsigned int MoveBits(const BotMove &move, int frame)
{
    if (frame < move.frames) {
        return move.bits;
    }
    return frame == move.frames && move.then != 0 ? move.then : UsualBits();
}

// Plays `frames` frames of a move, noting the bits; answers false once the rehearsal has ended (the boss fell or
// the player died).
static bool PlayMove(const BotMove &move, int frames, std::vector<unsigned int> *played, int *hurts)
{
    const GameGlobals &g = g_Game;
    for (int f = 0; f < frames; f++) {
        unsigned int bits = MoveBits(move, f);
        bool wasHurt = g.PlayerHurt == 1;
        RehearseFrame(bits);
        played->push_back(bits);
        *hurts += !wasHurt && g.PlayerHurt == 1;
        if (g.ClearState > 0 || g.PlayerHP <= 0 || g.MissState > 0) {
            return false;
        }
    }
    return true;
}

// How well a rehearsal went from its start values: a fallen boss beats everything, a death loses to everything
// (a later one less), then hurts and lost hit points, then damage to the boss and score.
static double RehearsalValue(const BotSnapshot &start, int startBoss, int hurts, int frames)
{
    const GameGlobals &g = g_Game;
    double value = 0;
    if (g.ClearState > 0) {
        value += 1e9;
    } else if (g.PlayerHP <= 0 || g.MissState > 0) {
        value -= 1e9 - 1e4 * frames;
    }
    value -= 1e6 * hurts + 1e4 * (start.game.PlayerHP - g.PlayerHP);
    return value + 3000.0 * (startBoss - BossHP()) + 0.1 * (g.Score - start.game.Score);
}

// Plays `first` for `split` frames from the planning frame and then `second` to the horizon (no second: `first`
// alone), noting the bits; answers the rehearsal's value. The values are put back afterwards.
static double RehearseMoves(const BotMove &first, int split, const BotMove *second, std::vector<unsigned int> *played)
{
    const BotSnapshot &start = s_Start;
    int startBoss = BossHP(), hurts = 0;
    played->clear();
    bool going = true;
    if (second != nullptr) {
        going = PlayMove(first, split, played, &hurts);
    }
    if (going) {
        PlayMove(second != nullptr ? *second : first, HORIZON - (int)played->size(), played, &hurts);
    }
    double value = RehearsalValue(start, startBoss, hurts, (int)played->size());
    RestoreSnapshot(start);
    return value;
}

#define UNHARMED(value) ((value) > -1e6 + 1)

// Keeps the better of a rehearsal and the best so far.
static void KeepBetter(double value, const std::vector<unsigned int> &played, double *bestValue,
                       std::vector<unsigned int> *best)
{
    if (value > *bestValue) {
        *bestValue = value;
        *best = played;
    }
}

// Decides the next frames of stage play: the usual play when its rehearsal goes unharmed; else the best-rehearsed
// move, and when every move comes to harm, the best pair of moves (the first for a few frames, then the second),
// which finds the way out of tighter spots.
static void PlanStagePlay(void)
{
    static const int SPLITS[] = {COMMIT_MOVE, COMMIT_MOVE * 3};
    TakeSnapshot(&s_Start);
    s_Bot.rehearsing = true;
    std::vector<unsigned int> played, best;
    double bestValue = RehearseMoves(MOVES[0], 0, nullptr, &best);
    bool usual = UNHARMED(bestValue);
    for (int m = 1; m < MOVE_COUNT && !usual; m++) {
        KeepBetter(RehearseMoves(MOVES[m], 0, nullptr, &played), played, &bestValue, &best);
    }
    for (int k = 0; k < 2 * MOVE_COUNT * MOVE_COUNT && !UNHARMED(bestValue); k++) {
        const BotMove &first = MOVES[k / MOVE_COUNT % MOVE_COUNT], &second = MOVES[k % MOVE_COUNT];
        KeepBetter(RehearseMoves(first, SPLITS[k / (MOVE_COUNT * MOVE_COUNT)], &second, &played), played, &bestValue,
                   &best);
    }
    s_Bot.rehearsing = false;
    // Unharmed usual play and a boss fight go on for longer stretches; a hurt that no pair of moves escapes is
    // waited out rather than searched again every few frames.
    size_t commit = usual                       ? COMMIT_SAFE
                    : !UNHARMED(bestValue)      ? COMMIT_MOVE * 4
                    : FocusBoss() >= 0          ? COMMIT_MOVE * 2
                                                : COMMIT_MOVE;
    best.resize(commit < best.size() ? commit : best.size());
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
