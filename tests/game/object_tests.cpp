// Stage objects and stage start against hand-worked values: the dispatcher's clock, activation window, pacing, play
// area and boss notice; every action handler and the edges of the type handlers; the boss kinds' children and random
// draws (against a reference generator written here); the start modes, every difficulty change of the template copy
// (against a reference table of the rules) and the way on to the next stage.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string.h>

// Stage `stage` in play with every record in use gone, the player at (playerX, 320).
static void SetUpStage(int stage, int playerX = 300)
{
    ResetGameAndEngine();
    g_Game.StageIndex = (int8_t)stage;
    g_Game.PlayerX = playerX;
    g_Game.PlayerY = GROUND_Y;
    for (int i = 0; i < 8; i++) {
        g_Handles.SoundEffects[i] = 300 + i;
    }
    for (int i = 0; i < StageObjectCount[stage]; i++) {
        ObjectTable[i] = ObjectRecord{0, GONE_STATE, 13, 1, 0, 0, 0, 0, 0, 0, 1000, 1000, 640, 320, 32, 32, 100, 1};
    }
}

// A record that updates at the next call: type, state, homeState, box at (x, y), pace, baseAnim 40 (anim 47).
static ObjectRecord &Put(int i, int type, int state, int home, int x, int y, int period = 0)
{
    ObjectTable[i] = ObjectRecord{(int8_t)type, (int8_t)state, (int8_t)home, 1, 47, 40, 0,  0,   0,
                                  period,       period,        period,       x, y,  32, 32, 100, 1};
    return ObjectTable[i];
}

static int Effects(int id)
{
    return (int)std::count(g_StandIn.calls.begin(), g_StandIn.calls.end(), CallLine("PlaySoundHandle", {id, 1, 1}));
}

// The clock gains a second every 61 calls; a record takes part from the call whose tick reaches its appearTime,
// inside the window only, and moves once every period + 1 calls; the intro, the clear and a pause stop it all.
TEST(ObjectDispatcher, ClockWindowAndPacing)
{
    struct Row {
        int appearTime, windowStart, period, stopper, firstMove, moves, stageTime;
    } rows[] = {{0, 0, 0, 0, 1, 130, 2}, {1, 0, 0, 0, 61, 70, 2}, {2, 0, 0, 0, 122, 9, 2},
                {0, 1, 0, 0, 0, 0, 2},   {0, 0, 3, 0, 4, 32, 2},  {0, 0, 1, 0, 2, 65, 2},
                {0, 0, 0, 1, 0, 0, 0},   {0, 0, 0, 2, 0, 0, 0},   {0, 0, 0, 3, 0, 0, 0}};
    for (const Row &row : rows) {
        SetUpStage(0);
        Put(0, 0, 3, 3, -200, 320, row.period).updateTick = 0;
        ObjectTable[0].appearTime = row.appearTime;
        g_Game.StageWindowStart = row.windowStart;
        (row.stopper == 1   ? g_Game.ClearState
         : row.stopper == 2 ? g_Game.IntroState
                            : g_Game.PauseFlag) = row.stopper ? 10 : 0;
        int firstMove = 0, moves = 0;
        for (int call = 1, x = -200; call <= 130; call++, x = ObjectTable[0].x) {
            UpdateObjects();
            moves += ObjectTable[0].x != x;
            firstMove = firstMove ? firstMove : ObjectTable[0].x != x ? call : 0;
        }
        EXPECT_EQ(std::vector<int>({firstMove, moves, g_Game.StageTime, g_Game.StageTickFrames}),
                  std::vector<int>({row.firstMove, row.moves, row.stageTime, row.stopper ? 0 : 8}))
            << row.appearTime << " " << row.period << " " << row.stopper;
    }
}

// One record through a number of calls: every action handler (type 0, after waiting out period 2), the play-area
// rule, a hurt record that skips its type handler, and the type handlers' edges. -1: not checked.
TEST(ObjectBehaviours, SingleRecordCases)
{
    struct Row {
        int type, state, home, x, y, period, score, playerX, difficulty, calls;
        int state2, x2, y2, period2, anim2, shots;
    } rows[] = {
        // clang-format off
        {0, 0, 0, 100, 100, 2, 100, 300, 1, 1, 0, 100, 100, 2, 40, 0},  {0, 11, 0, 100, 100, 2, 100, 300, 1, 1, 11, 100, 100, 2, 40, 0},
        {0, 1, 0, 100, 100, 2, 100, 300, 1, 1, 1, 100, 96, 2, 41, 0},   {0, 2, 0, 100, 100, 2, 100, 300, 1, 1, 2, 104, 96, 2, 42, 0},
        {0, 3, 0, 100, 100, 2, 100, 300, 1, 1, 3, 104, 100, 2, 43, 0},  {0, 4, 0, 100, 100, 2, 100, 300, 1, 1, 4, 104, 104, 2, 44, 0},
        {0, 5, 0, 100, 100, 2, 100, 300, 1, 1, 5, 100, 104, 2, 45, 0},  {0, 12, 0, 100, 100, 2, 100, 300, 1, 1, 12, 96, 96, 2, 42, 0},
        {0, 13, 0, 100, 100, 2, 100, 300, 1, 1, 13, 96, 100, 2, 43, 0}, {0, 14, 0, 100, 100, 2, 100, 300, 1, 1, 14, 96, 104, 2, 44, 0},
        {0, 6, 0, -155, 100, 2, 100, 300, 1, 1, 6, -159, 100, 0, 47, 0}, {0, 6, 0, -156, 100, 2, 100, 300, 1, 1, 6, -156, 100, 0, 47, 0},
        {0, 15, 0, 763, 100, 2, 100, 300, 1, 1, 15, 767, 100, 0, 47, 0}, {0, 15, 0, 764, 100, 2, 100, 300, 1, 1, 15, 764, 100, 0, 47, 0},
        {0, 7, 0, 100, 100, 2, 100, 300, 1, 1, 7, 100, 100, 0, 47, 0},   {0, 16, 0, 100, 100, 2, 100, 300, 1, 1, 16, 100, 100, 0, 47, 0},
        {0, 8, 0, 100, 100, 2, 100, 300, 1, 1, 8, 84, 100, 0, 47, 0},    {0, 17, 0, 100, 100, 2, 100, 300, 1, 1, 17, 116, 100, 0, 47, 0},
        {0, 10, 0, 100, 100, 2, 100, 300, 1, 1, 10, 100, 84, 0, 47, 0},  {0, 19, 0, 100, 100, 2, 100, 300, 1, 1, 19, 100, 84, 0, 47, 0},
        {0, 9, 0, 100, 100, 2, 100, 300, 1, 1, 9, 96, 96, 0, 47, 0},     {0, 18, 0, 639, -31, 2, 100, 300, 1, 1, 18, 643, -35, 0, 47, 0},
        {0, 8, 0, -32, 100, 2, 100, 300, 1, 1, 127, -32, 100, 2, 47, 0}, {0, 17, 0, 640, 100, 2, 100, 300, 1, 1, 127, 640, 100, 2, 47, 0},
        {0, 10, 0, 100, -32, 2, 100, 300, 1, 1, 127, 100, -32, 2, 47, 0}, {8, 8, 0, 100, 100, 2, 100, 300, 1, 1, 8, 100, 100, 2, 47, 0},
        {7, 13, 13, 864, 100, 0, 100, 300, 1, 1, 13, 852, 100, -1, -1, 0}, {7, 13, 13, 865, 100, 0, 100, 300, 1, 1, 127, 865, 100, -1, -1, 0},
        {0, 0, 0, -224, -224, 0, 100, 300, 1, 1, 0, -224, -224, -1, -1, 0}, {0, 0, 0, 100, 641, 0, 100, 300, 1, 1, 127, 100, 641, -1, -1, 0},
        {7, 15, 13, 100, 100, 0, 100, 300, 1, 1, 15, 104, 100, -1, -1, 0}, {19, 13, 13, 100, 100, 0, 100, 300, 1, 1, 13, 88, 100, -1, -1, 0},
        {7, 13, 13, -24, 100, 0, 100, 300, 1, 1, 127, -32, 100, -1, -1, 0}, {8, 13, 13, 100, 100, 0, 2000, 300, 1, 1, 13, 88, 100, -1, -1, 0},
        {8, 13, 13, 100, 100, 0, 1000, 300, 1, 1, 13, 96, 100, -1, -1, 0}, {16, 5, 13, 100, 100, 0, 100, 300, 1, 1, 5, 100, 112, -1, -1, 0},
        {17, 5, 13, 100, 476, 0, 100, 300, 1, 1, 127, 100, 480, -1, -1, 0}, {13, 3, 13, 636, 100, 0, 100, 300, 1, 1, 127, 640, 100, -1, -1, 0},
        {13, 5, 13, 100, 100, 0, 100, 300, 1, 1, 5, 100, 106, -1, -1, 0}, {13, 13, 13, -92, 100, 0, 100, 300, 1, 1, 127, -96, 100, -1, -1, 0},
        {1, 2, 2, 100, 320, 0, 100, 300, 1, 17, 4, 168, 260, -1, 44, 0},   {1, 2, 2, 100, 320, 0, 100, 300, 1, 33, 2, 232, 316, -1, 42, 0},
        {2, 2, 2, 100, 100, 0, 100, 300, 1, 2, 4, 108, 100, -1, -1, 0},    {2, 2, 2, 0, 322, 0, 100, 300, 1, 100, 2, 400, -78, -1, -1, 0},
        {3, 3, 3, 100, 316, 0, 100, 64, 1, 2, 13, 100, 320, -1, -1, 0},   {3, 3, 3, 0, 224, 0, 100, 97, 1, 1, 3, 4, 224, -1, -1, 0},
        {3, 3, 3, 0, 224, 0, 100, 96, 1, 1, 4, 4, 228, -1, -1, 0},         {3, 4, 3, 0, 320, 0, 100, 500, 1, 1, 3, 4, 320, -1, -1, 0},
        {4, 3, 3, 300, 320, 0, 100, 140, 1, 1, 13, 296, 320, -1, -1, 0},   {4, 3, 3, 300, 320, 0, 100, 141, 1, 1, 3, 304, 320, -1, -1, 0},
        {5, 3, 3, 200, 320, 0, 100, 100, 1, 1, 3, 204, 320, -1, -1, 0},    {5, 3, 3, 200, 200, 0, 100, 100, 1, 1, 5, 200, 206, -1, -1, 0},
        {5, 13, 13, 100, 200, 0, 100, 100, 0, 1, 5, 100, 204, -1, -1, 0},  {6, 0, 13, 100, 336, 0, 100, 300, 1, 1, 3, 104, 336, -1, -1, 0},
        {6, 0, 13, 400, 337, 0, 100, 300, 1, 1, 1, 400, 333, -1, -1, 0},   {6, 0, 13, 400, 303, 0, 100, 300, 1, 1, 5, 400, 307, -1, -1, 0},
        {18, 5, 13, 0, -128, 0, 100, 300, 1, 1, 5, 268, -122, -1, -1, 1}, {18, 5, 13, 300, -96, 0, 100, 300, 1, 1, 5, 300, -90, -1, -1, 1},
        {18, 5, 13, 300, -96, 0, 100, 300, 0, 1, 5, 300, -92, -1, -1, 1},  {18, 13, 13, 640, 100, 0, 100, 300, 0, 1, 13, 634, 100, -1, -1, 1},
        {18, 3, 3, -96, 100, 0, 100, 300, 1, 1, 3, -88, 100, -1, -1, 1},   {18, 13, 13, 640, 100, 1, 100, 300, 1, 1, 13, 636, 100, -1, -1, 0},
        {18, 3, 3, 636, 100, 0, 100, 300, 1, 1, 127, 640, 100, -1, -1, 0}, {9, 1, 13, 100, 48, 1, 100, 164, 1, 1, 5, 100, 52, 0, -1, 1},
        {9, 1, 13, 100, 48, 1, 100, 165, 1, 1, 3, 104, 48, 1, -1, 0},     {9, 5, 13, 100, 200, 1, 100, 165, 1, 1, 5, 100, 204, 1, -1, 0},
        {10, 11, 13, 500, 100, 1, 100, 160, 1, 1, 11, 500, 100, 1, -1, 0}, {10, 11, 13, 500, 100, 1, 100, 159, 1, 1, 5, 500, 104, 0, -1, 0},
        {10, 11, 13, 500, 100, 1, 100, 161, 1, 1, 1, 500, 96, 0, -1, 0},  {10, 11, 13, 600, 100, 1, 100, 160, 1, 1, 13, 596, 100, 1, -1, 0},
        {11, 3, 3, 364, 64, 0, 100, 300, 1, 1, 13, 360, 64, -1, -1, 0},   {11, 13, 13, -32, 64, 0, 100, 0, 1, 1, 3, -28, 64, -1, -1, 0},
        {11, 3, 3, 576, 64, 0, 100, 600, 1, 1, 13, 572, 64, -1, -1, 0},   {14, 5, 13, 100, 448, 1, 100, 164, 1, 2, 1, 100, 436, 0, -1, 1},
        {14, 5, 13, 100, 448, 1, 100, 165, 1, 1, 3, 104, 448, 1, -1, 0},  {14, 1, 13, 100, 68, 1, 100, 165, 1, 1, 1, 100, 60, 1, -1, 0},
        // clang-format on
    };
    for (const Row &row : rows) {
        SetUpStage(0, row.playerX);
        g_Game.DifficultyIndex = (int8_t)row.difficulty;
        ObjectRecord &r = Put(0, row.type, row.state, row.home, row.x, row.y, row.period);
        r.scoreValue = row.score;
        for (int call = 0; call < row.calls; call++) {
            UpdateObjects();
        }
        EXPECT_EQ(std::vector<int>(
                      {r.state, r.x, r.y, row.period2 < 0 ? -1 : r.period, row.anim2 < 0 ? -1 : r.anim, Effects(304)}),
                  std::vector<int>({row.state2, row.x2, row.y2, row.period2, row.anim2, row.shots}))
            << "row " << &row - rows;
    }
}

// Every update of the boss record notes the boss (2 on the last stage), also one that removes it; no other does.
TEST(ObjectDispatcher, BossNotice)
{
    for (int stage = 0; stage < STAGE_COUNT; stage++) {
        SetUpStage(stage);
        Put(BossRecordIndex[stage] - 1, 0, 0, 0, 100, 100);
        UpdateObjects();
        int before = g_Game.BossPhase;
        Put(BossRecordIndex[stage], 0, 0, 0, stage % 2 ? 865 : 100, 100);
        UpdateObjects();
        EXPECT_EQ(std::vector<int>({before, g_Game.BossPhase}), std::vector<int>({0, stage == 5 ? 2 : 1})) << stage;
    }
}

// A knocked body takes AttackPower from the type 12 launcher before it; the launcher falls at its own next update,
// and only the stage's boss record starts the clear (stage 5's record 49 is a mid-stage boss).
TEST(ObjectBehaviours, LauncherDamageAndBossRemoval)
{
    for (int stage : {3, 5}) {
        int boss = stage == 3 ? BossRecordIndex[3] : 49;
        SetUpStage(stage);
        g_Game.AttackPower = 3;
        Put(boss, 12, 0, 0, 640, 0).hp = 3;
        Put(boss + 1, 13, 10, 0, 300, -32);
        UpdateObjects();
        EXPECT_EQ(std::vector<int>({ObjectTable[boss].hp, ObjectTable[boss + 1].state, g_Game.ClearState}),
                  std::vector<int>({0, GONE_STATE, 0}));
        g_Game.SequenceTimer = 5;
        UpdateObjects();
        bool clears = stage == 3;
        EXPECT_EQ(
            std::vector<int>({ObjectTable[boss].state, g_Game.ClearState, g_Game.SequenceTimer, g_Game.BossPhase}),
            std::vector<int>({GONE_STATE, clears ? 10 : 0, clears ? 0 : 5, 0}))
            << stage;
    }
}

// The walker owners put each gone walker back, in from the right and from the left; a walker still out is left.
TEST(ObjectBehaviours, WalkerRelaunch)
{
    for (int type : {9, 11, 14, 15}) {
        for (int firstOut : {0, 1}) {
            SetUpStage(0);
            Put(0, type, 0, 0, 300, 100, 50);
            Put(1, 0, firstOut ? 0 : GONE_STATE, 0, 200, 100, 50).updateTick = 0;
            UpdateObjects();
            const ObjectRecord &a = ObjectTable[1], &b = ObjectTable[2];
            EXPECT_EQ(std::vector<int>({a.x, a.y, a.state, a.period, b.x, b.y, b.state, b.hp, b.period, b.type}),
                      std::vector<int>({firstOut ? 200 : 640, firstOut ? 100 : 320, firstOut ? 0 : 13,
                                        firstOut ? 50 : 1, -32, 320, 3, 1, 1, 0}))
                << type << " " << firstOut;
        }
    }
}

// The drop boss cuts its standing frames short at 30 and 20 HP, stands over the player at a cycle's start and drops
// its weight (305) on frame 1 while the weight is free.
TEST(ObjectBehaviours, BossDrop)
{
    struct Row {
        int hp, animTick, frame, weightOut, animTick2, x2, weightState, weightY, drops;
    } rows[] = {{31, 30, 2, 0, 30, 300, 127, 500, 0}, {30, 30, 2, 0, 39, 300, 127, 500, 0},
                {30, 29, 2, 0, 29, 300, 127, 500, 0}, {21, 38, 2, 0, 39, 300, 127, 500, 0},
                {20, 20, 2, 0, 39, 300, 127, 500, 0}, {20, 19, 2, 0, 19, 300, 127, 500, 0},
                {42, 5, 0, 0, 5, 68, 127, 500, 0},    {42, 6, 0, 0, 6, 300, 127, 500, 0},
                {42, 5, 0, 1, 5, 300, 0, 500, 0},     {42, 0, 1, 0, 0, 300, 5, 160, 1},
                {42, 0, 1, 1, 0, 300, 0, 500, 0}};
    for (const Row &row : rows) {
        SetUpStage(5, 100);
        ObjectRecord &r = Put(0, 15, 0, 0, 300, 64, 0);
        r.hp = (int16_t)row.hp, r.animTick = row.animTick, r.frame = (int8_t)row.frame;
        Put(3, 16, row.weightOut ? 0 : GONE_STATE, 0, 300, 500, 50).updateTick = 0;
        UpdateObjects();
        EXPECT_EQ(std::vector<int>({r.animTick, r.x, ObjectTable[3].state, ObjectTable[3].y, Effects(305)}),
                  std::vector<int>({row.animTick2, row.x2, row.weightState, row.weightY, row.drops}))
            << row.hp << " " << row.animTick << " " << row.frame;
    }
}

// The C runtime's generator, straight from its rule.
struct ReferenceRand {
    uint32_t state = 1;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return (int)(state >> 16) & 0x7FFF;
    }
};

// Two random spawners standing at frame 2: each draws two numbers on every update, launching or not; the first
// launches only every second call (its shots are left out between). Then the type 12 boss's three directions.
TEST(ObjectBehaviours, RandomDraws)
{
    SetUpStage(1, 160);
    ReferenceRand reference;
    for (int call = 0; call < 12; call++) {
        for (int owner : {0, 4}) {
            if (call == 0 || owner == 4 || call % 2 == 0) {
                for (int child = owner + 1; child <= owner + 3; child++) {
                    Put(child, 7, GONE_STATE, 13, 0, 0, 1000).updateTick = 0;
                }
            }
            Put(owner, 10, 11, 13, 500, 100, 0).frame = 2;
        }
        UpdateObjects();
        for (int owner : {0, 4}) {
            int a = reference.Next() % 3 + 1, b = reference.Next() % 2 + 1;
            if (owner == 0 && call % 2 == 1) {
                continue;
            }
            for (int child = owner + 1; child <= owner + 3; child++) {
                const ObjectRecord &c = ObjectTable[child];
                EXPECT_EQ(std::vector<int>({c.state, c.x, c.y}), child == owner + a
                                                                     ? std::vector<int>({13, 468, 100 + 32 * b})
                                                                     : std::vector<int>({GONE_STATE, 0, 0}))
                    << call << " " << child;
            }
        }
    }
    EXPECT_EQ(g_Game.RandomState, reference.state);
    const int body[3][3] = {{768, 256, 13}, {-160, 256, 3}, {128, -160, 5}};
    for (int k = 0; k < 3; k++) {
        SetUpStage(3, 160);
        for (ReferenceRand probe; probe.Next() % 3 != k; g_Game.RandomState = probe.state) {
        }
        Put(0, 12, 0, 0, 640, 0).hp = 5;
        Put(1, 13, GONE_STATE, 0, 0, 0, 1000).updateTick = 0;
        UpdateObjects();
        EXPECT_EQ(std::vector<int>({ObjectTable[1].x, ObjectTable[1].y, ObjectTable[1].state, Effects(304)}),
                  std::vector<int>({body[k][0], body[k][1], body[k][2], 1}));
    }
}

// Each start mode (3: the way on from a cleared stage's event) over the same earlier run (stage, lives 5, score
// 1234, threshold 99, continued, boss up, the event's pacing and button 1 off): what it sets and keeps, and the
// stage state every mode resets.
TEST(StageStart, Modes)
{
    struct Row {
        int mode, difficulty, stage, bossPhase;
        int stage2, continued, lives, score, threshold, stageTime;
    } rows[] = {{0, 2, 3, 1, 0, 0, 3, 0, 75000, 0},   {0, 0, 3, 1, 0, 0, 3, 0, 25000, 0},
                {1, 1, 0, 1, 0, 0, 3, 0, 50000, 0},   {1, 3, 3, 1, 3, 1, 3, 0, 100000, 0},
                {2, 1, 2, 0, 2, 1, 5, 1234, 99, 0},   {2, 1, 3, 1, 3, 1, 5, 1234, 99, 135},
                {2, 0, 5, 2, 5, 1, 5, 1234, 99, 125}, {2, 1, 0, 1, 0, 1, 5, 1234, 99, 120},
                {3, 1, 2, 1, 3, 1, 5, 1234, 99, 0}};
    for (const Row &row : rows) {
        ResetGameAndEngine();
        GameGlobals &g = g_Game;
        g.DifficultyIndex = (int8_t)row.difficulty, g.StageIndex = (int8_t)row.stage;
        g.BossPhase = (int8_t)row.bossPhase, g.Lives = 5, g.Score = 1234, g.ExtraLifeThreshold = 99;
        g.ContinuedFlag = 1, g.HighScore = 777, g.FrameTarget = 80, g.ButtonMode[0] = 2;
        g.StageTime = g.StageWindowStart = g.StageTickFrames = g.ScrollX = g.ScrollWait = g.SequenceTimer = 9;
        g.PlayerX = g.PlayerY = g.InvulnerableTimer = 9, g.PlayerHP = 1, g.PlayerFacing = g.PlayerHurt = 1;
        g.ClearState = g.MissState = g.EventState = g.PauseFlag = g.JumpCounter = 9;
        memset(g.ButtonLatch, 1, sizeof(g.ButtonLatch));
        g_Handles.PictureHandle = 0x123;
        row.mode == 3 ? StartNextStage() : StartStage((int8_t)row.mode);
        EXPECT_EQ(std::vector<int>({g.StageIndex, g.ContinuedFlag, g.Lives, g.Score, g.ExtraLifeThreshold, g.StageTime,
                                    g.StageWindowStart, g.FrameTarget, g.ButtonMode[0], g_Handles.PictureHandle}),
                  std::vector<int>({row.stage2, row.continued, row.lives, row.score, row.threshold, row.stageTime,
                                    row.stageTime, row.mode == 3 ? 16 : 80, row.mode == 3 ? 0 : 2,
                                    row.mode == 3 ? -1 : 0x123}))
            << row.mode << " " << row.stage;
        EXPECT_EQ(std::vector<int>({g.PlayerHP,         g.PlayerX,           g.PlayerY,        g.PlayerFacing,
                                    g.PlayerHurt,       g.InvulnerableTimer, g.BossPhase,      g.StageTickFrames,
                                    g.ScrollX,          g.ScrollWait,        g.SequenceTimer,  g.ClearState,
                                    g.MissState,        g.EventState,        g.IntroState,     g.IntroX,
                                    g.IntroY,           g.ButtonLatch[0],    g.ButtonLatch[1], g.ButtonLatch[2],
                                    g.ButtonLatch[3],   g.PauseFlag,         g.JumpCounter,    g.HighScore,
                                    ObjectTable[0].type}),
                  std::vector<int>({42,   64,  320, 0,   0,
                                    0,    0,   0,   0,   0,
                                    0,    0,   0,   0,   10,
                                    -160, 192, 0,   0,   1,
                                    1,    9,   9,   777, StageObjectTemplates[row.stage2][0].type}));
    }
}

static std::vector<int> Fields(const ObjectRecord &r)
{
    return {r.type,       r.state,  r.homeState,   r.hp, r.anim, r.baseAnim, r.frame, r.animTick,   r.appearTime,
            r.updateTick, r.period, r.savedPeriod, r.x,  r.y,    r.w,        r.h,     r.scoreValue, r.contactDamage};
}

// Every stage on every difficulty: the copy is the template with exactly the changes of this rule table (stage 5's
// type 12 records thus get 15, 10, 5, 5 HP, its own boss 42 throughout), and the records behind the stage's count
// keep what they held.
TEST(StageStart, TemplateCopyByDifficulty)
{
    struct Change {
        int stage, difficulties, types, hp, period; // bit sets; -1: field kept
    } changes[] = {{1, 0xC, 1 << 2, -1, 0},
                   {3, 0x2, (1 << 3) | (1 << 6), 3, -1},
                   {4, 0x2, (1 << 3) | (1 << 6), 3, -1},
                   {5, 0x1, 0x4E00, 9, -1},
                   {5, 0x1, 1 << 12, 15, -1},
                   {5, 0x2, (1 << 3) | (1 << 6), 3, -1},
                   {5, 0x2, 0x4E00, 8, -1},
                   {5, 0x2, 1 << 12, 10, -1}};
    const ObjectRecord marker = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
    for (int stage = 0; stage < STAGE_COUNT; stage++) {
        for (int difficulty = 0; difficulty < 4; difficulty++) {
            ResetGameAndEngine();
            g_Game.StageIndex = (int8_t)stage;
            g_Game.DifficultyIndex = (int8_t)difficulty;
            ObjectTable[StageObjectCount[stage]] = marker;
            StartStage(1);
            for (int i = 0; i <= StageObjectCount[stage]; i++) {
                ObjectRecord expected = i < StageObjectCount[stage] ? StageObjectTemplates[stage][i] : marker;
                for (const Change &change : changes) {
                    if (i < StageObjectCount[stage] && change.stage == stage &&
                        (change.difficulties >> difficulty & 1) && (change.types >> expected.type & 1)) {
                        expected.hp = change.hp < 0 ? expected.hp : (int16_t)change.hp;
                        expected.period = expected.savedPeriod = change.period < 0 ? expected.period : change.period;
                    }
                }
                ASSERT_EQ(Fields(ObjectTable[i]), Fields(expected)) << stage << " " << difficulty << " " << i;
            }
        }
    }
}
