// Stage objects and stage start: the dispatcher, the type handlers' edges, the boss kinds' children and random draws
// (against the C runtime's generator), the start modes, the difficulty's changes to the template copy, the next stage.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

using V = std::vector<int>;
void SetUpStagePlay(int stage = 0, int difficulty = 1); // stage_frame_tests.cpp
int EffectsPlayed(int id);

// A record that updates at the next call: type, state, homeState, box at (x, y), pace, baseAnim 40.
static ObjectRecord &Put(int i, int type, int state, int home, int x, int y, int period = 0)
{
    int8_t t = (int8_t)type, s = (int8_t)state, h = (int8_t)home;
    return ObjectTable[i] = ObjectRecord{t, s, h, 1, 47, 40, 0, 0, 0, period, period, period, x, y, 32, 32, 100, 1};
}

// The clock gains a second every 61 calls; a record takes part from the call whose tick reaches its appearTime,
// inside the window only, and moves once every period + 1 calls; a pause stops it all.
TEST(ObjectDispatcher, ClockWindowAndPacing)
{
    const int rows[][8] = {{0, 0, 0, 0, 1, 130, 2, 8}, {1, 0, 0, 0, 61, 70, 2, 8}, {2, 0, 0, 0, 122, 9, 2, 8},
                           {0, 1, 0, 0, 0, 0, 2, 8}, {0, 0, 3, 0, 4, 32, 2, 8}, {0, 0, 1, 0, 2, 65, 2, 8},
                           {0, 0, 0, 10, 0, 0, 0, 0}};
    for (const int *row : rows) { // appearTime, window, period, pause: first moving call, moves, clock, tick frames
        SetUpStagePlay();
        Put(0, 0, 3, 3, -200, 320, row[2]).updateTick = 0;
        ObjectTable[0].appearTime = row[0], g_Game.StageWindowStart = row[1], g_Game.PauseFlag = (int8_t)row[3];
        int firstMove = 0, moves = 0;
        for (int call = 1, x = -200; call <= 130; call++, x = ObjectTable[0].x) {
            UpdateObjects();
            moves += ObjectTable[0].x != x;
            firstMove = firstMove ? firstMove : ObjectTable[0].x != x ? call : 0;
        }
        EXPECT_EQ(V({firstMove, moves, g_Game.StageTime, g_Game.StageTickFrames}), V(row + 4, row + 8)) << row[0];
    }
}

// One record through a number of calls: the play area, a hurt record that skips its type handler, the edges of each
// type handler (-1: not checked; effects: the sum of the ids played), the drop boss's weight (record 3), and the walker
// owners putting a gone walker back, from the right or the left, leaving one still out.
TEST(ObjectBehaviours, TypeHandlerEdges)
{
    struct Row {
        int type, state, home, x, y, state2, x2, y2, playerX = 300, period = 0, period2 = -1, calls = 1, effects = 0;
        int hp = 1, animTick = 0, frame = 0, weightOut = 0, animTick2 = -1, weightState = GONE_STATE, weightY = 0;
        int difficulty = 1, score = 100;
    } rows[] = {
        {0, 0, 0, -224, -224, 0, -224, -224}, {0, 0, 0, 100, 641, 127, 100, 641}, {7, 13, 13, 864, 100, 13, 852, 100},
        {7, 13, 13, 865, 100, 127, 865, 100}, {7, 15, 13, 100, 100, 15, 104, 100}, {7, 13, 13, -24, 100, 127, -32, 100},
        {8, 13, 13, 100, 100, 13, 88, 100, 300, 0, -1, 1, 0, 1, 0, 0, 0, -1, 127, 0, 1, 2000},
        {8, 13, 13, 100, 100, 13, 96, 100, 300, 0, -1, 1, 0, 1, 0, 0, 0, -1, 127, 0, 1, 1000},
        {17, 5, 13, 100, 476, 127, 100, 480}, {13, 3, 13, 636, 100, 127, 640, 100}, {13, 5, 13, 100, 100, 5, 100, 106},
        {13, 13, 13, -92, 100, 127, -96, 100}, {1, 2, 2, 100, 320, 4, 168, 260, 300, 0, -1, 17},
        {1, 2, 2, 100, 320, 2, 232, 316, 300, 0, -1, 33}, {2, 2, 2, 100, 100, 4, 108, 100, 300, 0, -1, 2},
        {2, 2, 2, 0, 322, 2, 400, -78, 300, 0, -1, 100}, {3, 3, 3, 100, 316, 13, 100, 320, 64, 0, -1, 2},
        {3, 3, 3, 0, 224, 3, 4, 224, 97}, {3, 3, 3, 0, 224, 4, 4, 228, 96}, {3, 4, 3, 0, 320, 3, 4, 320, 500},
        {4, 3, 3, 300, 320, 13, 296, 320, 140}, {4, 3, 3, 300, 320, 3, 304, 320, 141},
        {5, 3, 3, 200, 320, 3, 204, 320, 100}, {5, 3, 3, 200, 200, 5, 200, 206, 100},
        {5, 13, 13, 100, 200, 5, 100, 204, 100, 0, -1, 1, 0, 1, 0, 0, 0, -1, 127, 0, 0},
        {6, 0, 13, 100, 336, 3, 104, 336}, {6, 0, 13, 400, 337, 1, 400, 333}, {6, 0, 13, 400, 303, 5, 400, 307},
        {18, 5, 13, 0, -128, 5, 268, -122, 300, 0, -1, 1, 304}, {18, 5, 13, 300, -96, 5, 300, -90, 300, 0, -1, 1, 304},
        {18, 5, 13, 300, -96, 5, 300, -92, 300, 0, -1, 1, 304, 1, 0, 0, 0, -1, 127, 0, 0},
        {18, 13, 13, 640, 100, 13, 634, 100, 300, 0, -1, 1, 304, 1, 0, 0, 0, -1, 127, 0, 0},
        {18, 3, 3, -96, 100, 3, -88, 100, 300, 0, -1, 1, 304}, {18, 13, 13, 640, 100, 13, 636, 100, 300, 1},
        {18, 3, 3, 636, 100, 127, 640, 100}, {9, 1, 13, 100, 48, 5, 100, 52, 164, 1, 0, 1, 304},
        {9, 1, 13, 100, 48, 3, 104, 48, 165, 1, 1}, {9, 5, 13, 100, 200, 5, 100, 204, 165, 1, 1},
        {10, 11, 13, 500, 100, 11, 500, 100, 160, 1, 1}, {10, 11, 13, 500, 100, 5, 500, 104, 159, 1, 0},
        {10, 11, 13, 500, 100, 1, 500, 96, 161, 1, 0}, {10, 11, 13, 600, 100, 13, 596, 100, 160, 1, 1},
        {11, 3, 3, 364, 64, 13, 360, 64}, {11, 13, 13, -32, 64, 3, -28, 64, 0}, {11, 3, 3, 576, 64, 13, 572, 64, 600},
        {14, 5, 13, 100, 448, 1, 100, 436, 164, 1, 0, 2, 304}, {14, 5, 13, 100, 448, 3, 104, 448, 165, 1, 1},
        {14, 1, 13, 100, 68, 1, 100, 60, 165, 1, 1},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 31, 30, 2, 0, 30},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 30, 30, 2, 0, 39},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 20, 20, 2, 0, 39},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 20, 19, 2, 0, 19},
        {15, 0, 0, 300, 64, 0, 68, 64, 100, 0, -1, 1, 0, 42, 5, 0, 0, 5},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 42, 6, 0, 0, 6},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 42, 5, 0, 1, 5, 0},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 305, 42, 0, 1, 0, 0, 5, 160},
        {15, 0, 0, 300, 64, 0, 300, 64, 100, 0, -1, 1, 0, 42, 0, 1, 1, 0, 0},
    };
    for (const Row &row : rows) {
        SetUpStagePlay(0, row.difficulty);
        g_Game.PlayerX = row.playerX;
        ObjectRecord &r = Put(0, row.type, row.state, row.home, row.x, row.y, row.period);
        r.scoreValue = row.score, r.hp = (int16_t)row.hp, r.animTick = row.animTick, r.frame = (int8_t)row.frame;
        int out = 1 + (&row - rows) % 2, back = 3 - out;
        Put(out, 0, 0, 0, 200, 100, 50).updateTick = 0;
        Put(3, 16, row.weightOut ? 0 : GONE_STATE, 0, 300, 0, 50).updateTick = 0;
        const ObjectRecord &weight = ObjectTable[3], &w = ObjectTable[back];
        UpdateObjects();
        bool owner = row.type == 9 || row.type == 11 || row.type == 14 || row.type == 15;
        EXPECT_EQ(V({ObjectTable[out].x, w.x, w.y, w.state, w.hp, w.period}),
                  owner ? V({200, back == 1 ? 640 : -32, 320, back == 1 ? 13 : 3, 1, 1}) : V({200, 0, 0, 127, 0, 0}))
            << "row " << &row - rows;
        for (int call = 1; call < row.calls; call++) {
            UpdateObjects();
        }
        int effects = EffectsPlayed(304) * 304 + EffectsPlayed(305) * 305;
        EXPECT_EQ(V({r.state, r.x, r.y, row.period2 < 0 ? -1 : r.period, effects, row.animTick2 < 0 ? -1 : r.animTick,
                     weight.state, weight.y}),
                  V({row.state2, row.x2, row.y2, row.period2, row.effects, row.animTick2, row.weightState,
                     row.weightY}))
            << "row " << &row - rows;
    }
}

// Every update of the boss record notes the boss (2 on the last stage), one taking it off the play area too; a type 12
// launcher loses AttackPower when its knocked-away body leaves and falls next, starting the clear only as the boss.
// Then two spawners and a type 12 boss against the C runtime's generator: a spawner at frame 2 draws two numbers on
// every update, launching or not (the first only every second call); the boss draws its body's way in when it is gone.
TEST(ObjectBehaviours, BossKinds)
{
    for (int stage = 0; stage < STAGE_COUNT; stage++) {
        for (int at : {BossRecordIndex[stage], 1}) {
            bool boss = at > 1, offArea = stage % 2;
            SetUpStagePlay(stage);
            g_Game.AttackPower = 3, g_Game.SequenceTimer = 5;
            Put(at, 12, 0, 0, offArea ? 865 : 640, 0).hp = 3;
            Put(at + 1, 13, 10, 0, 300, -32);
            UpdateObjects();
            V seen = {g_Game.BossPhase, ObjectTable[at].hp, ObjectTable[at + 1].state};
            UpdateObjects();
            seen.insert(seen.end(), {ObjectTable[at].state, g_Game.ClearState, g_Game.SequenceTimer, g_Game.BossPhase});
            int phase = boss ? (stage == 5 ? 2 : 1) : 0, clears = boss && !offArea;
            EXPECT_EQ(seen, V({phase, 0, GONE_STATE, GONE_STATE, clears ? 10 : 0, clears ? 0 : 5, offArea ? phase : 0}))
                << stage << " " << at;
        }
    }
    SetUpStagePlay(1);
    g_Game.PlayerX = 160;
    uint32_t state = 1;
    auto next = [&state] { return (int)((state = state * 214013u + 2531011u) >> 16) & 0x7FFF; };
    const V bodies[3] = {{768, 256, 13}, {-160, 256, 3}, {128, -160, 5}};
    for (int call = 0; call < 12; call++) {
        for (int owner : {0, 4}) {
            for (int child = owner + 1; child <= owner + 3 && (call == 0 || owner == 4 || call % 2 == 0); child++) {
                Put(child, 7, GONE_STATE, 13, 0, 0, 1000).updateTick = 0;
            }
            Put(owner, 10, 11, 13, 500, 100).frame = 2;
        }
        Put(8, 12, 0, 0, 640, 0).hp = 5;
        Put(9, 13, GONE_STATE, 0, 0, 0, 1000).updateTick = 0;
        UpdateObjects();
        for (int owner : {0, 4}) {
            int a = next() % 3 + 1, b = next() % 2 + 1;
            for (int child = owner + 1; child <= owner + 3 && (owner == 4 || call % 2 == 0); child++) {
                const ObjectRecord &c = ObjectTable[child];
                EXPECT_EQ(V({c.state, c.x, c.y}),
                          child == owner + a ? V({13, 468, 100 + 32 * b}) : V({GONE_STATE, 0, 0}))
                    << call << " " << child;
            }
        }
        EXPECT_EQ(V({ObjectTable[9].x, ObjectTable[9].y, ObjectTable[9].state}), bodies[next() % 3]) << call;
    }
    EXPECT_EQ(V({(int)g_Game.RandomState, EffectsPlayed(304)}), V({(int)state, 12 + 6 + 12}));
}

// Each start mode (3: the way on from a cleared stage's event) over the same earlier run: what it sets, resets and
// keeps (the pause among them). Then every stage on every difficulty: the copy is the template with exactly the
// changes of this rule table (stage 5's type 12 records thus get 15, 10, 5, 5 HP, its own boss 42 throughout).
TEST(StageStart, ModesAndTemplateCopy)
{
    const int rows[][10] = { // mode, difficulty, stage, boss phase: stage, continued, lives, score, threshold, clock
        {0, 2, 3, 1, 0, 0, 3, 0, 75000, 0}, {0, 0, 3, 1, 0, 0, 3, 0, 25000, 0}, {1, 1, 0, 1, 0, 0, 3, 0, 50000, 0},
        {1, 3, 3, 1, 3, 1, 3, 0, 100000, 0}, {2, 1, 2, 0, 2, 1, 5, 1234, 99, 0}, {2, 1, 3, 1, 3, 1, 5, 1234, 99, 135},
        {2, 0, 5, 2, 5, 1, 5, 1234, 99, 125}, {2, 1, 0, 1, 0, 1, 5, 1234, 99, 120}, {3, 1, 2, 1, 3, 1, 5, 1234, 99, 0}};
    for (const int *row : rows) {
        ResetGameAndEngine();
        GameGlobals &g = g_Game;
        g.DifficultyIndex = (int8_t)row[1], g.StageIndex = (int8_t)row[2], g.BossPhase = (int8_t)row[3];
        g.Lives = 5, g.Score = 1234, g.ExtraLifeThreshold = 99, g.ContinuedFlag = 1, g.HighScore = 777;
        g.FrameTarget = 80, g.ButtonMode[0] = 2, g.ButtonLatch[1] = g.ButtonLatch[3] = 1;
        g.StageTime = g.StageWindowStart = g.ScrollX = g.SequenceTimer = g.PlayerX = 9, g_Handles.PictureHandle = 0x123;
        g.PlayerHP = 1, g.PlayerHurt = 1, g.ClearState = g.MissState = g.EventState = g.PauseFlag = 9;
        row[0] == 3 ? StartNextStage() : StartStage((int8_t)row[0]);
        bool next = row[0] == 3;
        EXPECT_EQ(V({g.StageIndex, g.ContinuedFlag, g.Lives, g.Score, g.ExtraLifeThreshold, g.StageTime,
                     g.StageWindowStart, g.FrameTarget, g.ButtonMode[0], g_Handles.PictureHandle, g.PlayerHP, g.PlayerX,
                     g.PlayerHurt, g.BossPhase, g.ScrollX, g.SequenceTimer, g.ClearState, g.MissState, g.EventState,
                     g.IntroState, g.ButtonLatch[1], g.ButtonLatch[3], g.PauseFlag, g.HighScore, ObjectTable[0].type}),
                  V({row[4], row[5], row[6], row[7], row[8], row[9], row[9], next ? 16 : 80, next ? 0 : 2,
                     next ? -1 : 0x123, 42, 64, 0, 0, 0, 0, 0, 0, 0, 10, 0, 1, 9, 777,
                     StageObjectTemplates[row[4]][0].type}))
            << row[0] << " " << row[2];
    }
    const int changes[][5] = {
        {1, 0xC, 1 << 2, -1, 0}, {3, 0x2, 0x48, 3, -1},     {4, 0x2, 0x48, 3, -1},
        {5, 0x1, 0x4E00, 9, -1}, {5, 0x1, 1 << 12, 15, -1}, {5, 0x2, 0x48, 3, -1},
        {5, 0x2, 0x4E00, 8, -1}, {5, 0x2, 1 << 12, 10, -1}}; // stage, difficulties, types: hp, period
    auto fields = [](const ObjectRecord &r) {
        return V({r.type, r.state, r.homeState, r.hp, r.anim, r.baseAnim, r.frame, r.animTick, r.appearTime,
                  r.updateTick, r.period, r.savedPeriod, r.x, r.y, r.w, r.h, r.scoreValue, r.contactDamage});
    };
    for (int stage = 0; stage < STAGE_COUNT; stage++) {
        for (int difficulty = 0; difficulty < 4; difficulty++) {
            ResetGameAndEngine();
            g_Game.StageIndex = (int8_t)stage, g_Game.DifficultyIndex = (int8_t)difficulty;
            StartStage(1);
            for (int i = 0; i < StageObjectCount[stage]; i++) {
                ObjectRecord expected = StageObjectTemplates[stage][i];
                for (const int *c : changes) {
                    if (c[0] == stage && (c[1] >> difficulty & 1) && (c[2] >> expected.type & 1)) {
                        expected.hp = c[3] < 0 ? expected.hp : (int16_t)c[3];
                        expected.period = expected.savedPeriod = c[4] < 0 ? expected.period : c[4];
                    }
                }
                ASSERT_EQ(fields(ObjectTable[i]), fields(expected)) << stage << " " << difficulty << " " << i;
            }
        }
    }
}
