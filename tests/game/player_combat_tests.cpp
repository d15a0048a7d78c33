// The player character (jump arc, air attacks, the lengths of attack, hurt and dying, the objects' end-of-row
// events) and combat (attack zone, strikes and kill scores, contact damage, knocked-away chains).
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

// Stage 0 on the difficulty given with every record gone and the player standing at x 64; effect handles are ids.
static void ResetStage(int difficulty = 1)
{
    ResetGameAndEngine();
    ChooseDifficulty(difficulty);
    ObjectRecord gone = {};
    gone.state = GONE_STATE;
    std::fill(std::begin(ObjectTable), std::end(ObjectTable), gone);
    g_Game.MainState = 0, g_Game.PlayerX = 64, g_Game.PlayerY = GROUND_Y, g_Game.PlayerHP = 42, g_Game.Lives = 3;
    std::iota(std::begin(g_Handles.SoundEffects), std::end(g_Handles.SoundEffects), 300);
}

static ObjectRecord &Place(int index, int type, int x, int y, int hp)
{
    ObjectRecord &r = ObjectTable[index] = ObjectRecord{};
    r.type = (int8_t)type, r.x = x, r.y = y, r.w = r.h = 32, r.hp = (int16_t)hp, r.scoreValue = 100;
    return r;
}

static int Played(int id)
{
    return (int)std::count(g_StandIn.calls.begin(), g_StandIn.calls.end(), CallLine("PlaySoundHandle", {id, 1, 1}));
}

// One frame of the player with these input bytes; answers the step of PlayerY.
static int PlayerFrame(int horizontal = 0, int vertical = 0, int button = 0)
{
    int y = g_Game.PlayerY;
    g_Game.InputHorizontal = (uint8_t)horizontal, g_Game.InputVertical = (uint8_t)vertical;
    g_Game.ButtonLatch[0] = (uint8_t)button;
    UpdatePlayer();
    AnimatePlayer();
    return g_Game.PlayerY - y;
}

// Up on the first frame; button 1 on frame `attackAt` (-1 never): the steps of PlayerY from that frame on.
TEST(Player, JumpArcAndAirAttacks)
{
    struct Row {
        int attackAt;
        std::vector<int> steps; // step, frames, step, frames ...
    } rows[] = {{-1, {-8, 1, -7, 1, -6, 3, -5, 3, -4, 4, -3, 8, -2, 10, 0, 1, 2,
                      9,  3, 8,  4, 4,  5, 3,  6, 3,  7, 1,  8, 1,  2,  1, 0, 3}},
                {40, {1, 1, 0, 23, 1, 3, 2, 1}},
                {10, {0, 24, 1, 4, 2, 1}},
                {0, {0, 30}}};
    for (const Row &row : rows) {
        ResetStage();
        std::vector<int> expected, steps;
        for (size_t i = 0; i < row.steps.size(); i += 2) {
            expected.insert(expected.end(), row.steps[i + 1], row.steps[i]);
        }
        for (int f = 0; f < std::max(row.attackAt, 0) + (int)expected.size(); f++) {
            int step = PlayerFrame(0, f == 0, f == row.attackAt);
            if (f >= row.attackAt) {
                steps.push_back(step);
            }
        }
        EXPECT_EQ(steps, expected) << row.attackAt;
        EXPECT_EQ(Played(301) * 10 + Played(302), row.attackAt >= 0 ? 11 : 10);
    }
}

// Random input for a few thousand frames, with harmless hurts now and then: every step of the arc divides by a
// counter of at least 10, and the player stays between the apex and the ground.
TEST(Player, JumpDivisorStaysAtTenOrMore)
{
    ResetStage();
    Place(0, 0, 0, 0, 1);
    std::mt19937 random(31);
    int airFrames = 0;
    for (int f = 0; f < 6000; f++) {
        if (random() % 100 == 0 && !g_Game.PlayerHurt) {
            HurtPlayer(0);
        }
        ASSERT_TRUE(PlayerFrame(random() % 3, random() % 4 == 0, random() % 20 == 0) == 0 || g_Game.JumpCounter >= 10);
        ASSERT_TRUE(g_Game.PlayerY >= 212 && g_Game.PlayerY <= GROUND_Y) << f;
        airFrames += g_Game.PlayerY < GROUND_Y;
    }
    EXPECT_GT(airFrames, 1000);
}

// Frames counted from the start (or the hit) to the end of the attack, hurt or dying row.
TEST(Player, AttackHurtAndDyingLengths)
{
    struct Row {
        int damage, attack, frames, lives, missState;
    } rows[] = {{0, 1, 24, 3, 0}, {0, 0, 31, 3, 0}, {42, 0, 155, 2, 10}};
    for (const Row &row : rows) {
        ResetStage();
        Place(0, 0, 0, 0, 1).contactDamage = (int8_t)row.damage;
        if (!row.attack) {
            HurtPlayer(0);
        }
        int frames = 1;
        for (PlayerFrame(0, 0, row.attack); g_Game.PlayerAttacking || g_Game.PlayerHurt; frames++) {
            PlayerFrame();
        }
        EXPECT_EQ(std::vector<int>({frames, g_Game.Lives, g_Game.MissState}),
                  std::vector<int>({row.frames, row.lives, row.missState}));
    }
}

// Row 6, one frame of 30, ends on the 31st call: hurt objects go home with their pace, blasted bombs go.
TEST(Player, ObjectRowEndEvents)
{
    struct Row {
        int type, state, after, period;
    } rows[] = {{0, 6, 2, 9}, {0, 15, 2, 9}, {0, 8, 8, 0}, {8, 17, GONE_STATE, 0}, {8, 16, 2, 9}, {8, 3, 3, 0}};
    for (const Row &row : rows) {
        ResetStage();
        ObjectRecord &r = Place(0, row.type, 0, 0, 1);
        r.state = (int8_t)row.state, r.homeState = 2, r.anim = 6, r.savedPeriod = 9;
        for (int call = 1; call <= 31; call++) {
            AnimateObjects();
            ASSERT_EQ(r.state, call < 31 ? row.state : row.after) << row.type << " " << row.state << " " << call;
        }
        EXPECT_EQ(r.frame * 100 + r.period, row.period);
    }
}

// The five conditions of each facing, as they read.
static bool ReferenceStrikes(int facing, int px, int py, const ObjectRecord &r)
{
    int L = r.x + 4, R = r.x + r.w - 4, T = r.y + 4, B = r.y + r.h - 4;
    auto band = [&](int v) { return py + 4 <= v && v <= py + 28; };
    if (facing == 0) {
        auto zone = [&](int v) { return px + 28 <= v && v <= px + 60; };
        return (zone(L) && band(T)) || (zone(L) && band(B)) || (zone(R) && band(T)) || (zone(R) && band(B)) ||
               (zone(L) && T <= py + 4 && py + 28 <= B);
    }
    auto zone = [&](int v) { return px - 28 <= v && v <= px; };
    return (zone(L) && band(T)) || (zone(L) && band(B)) || (zone(R) && band(T)) ||
           (px - 28 <= R && R <= px - 1 && band(B)) || (px - 28 <= R && L <= px && T <= py + 4 && py + 28 <= B);
}

TEST(Combat, AttackZoneAgainstReference)
{
    for (int facing = 0; facing < 2; facing++) {
        for (int size : {0x2020, 0x2060, 0x6020}) {
            for (int x = -70; x <= 160; x++) {
                for (int y = 200; y <= 370; y++) {
                    ResetStage();
                    g_Game.PlayerX = 100, g_Game.PlayerFacing = (uint8_t)facing, g_Game.PlayerAttacking = 1;
                    ObjectRecord &r = Place(3, 0, x, y, 5);
                    r.w = size >> 8, r.h = size & 0xFF;
                    CheckPlayerAttack();
                    ASSERT_EQ(r.state != 0, ReferenceStrikes(facing, 100, GROUND_Y, r))
                        << facing << " " << x << " " << y;
                }
            }
        }
    }
}

// One strike by the difficulty's attack power: a survivor is hurt (the gauge shows what is left), a destroyed
// object knocked away by facing and strike mode and scored by difficulty, a bomb blasted, one below 0 untouched.
TEST(Combat, StrikesAndKillScores)
{
    struct Row {
        int difficulty, facing, strikeMode, type, hp, state, score, effect, x, w;
    } rows[] = {{1, 0, 0, 0, 3, 15, 0, 300, 100, 32},   {1, 1, 2, 0, 3, 6, 0, 300, 100, 32},
                {1, 0, 0, 0, 2, 17, 100, 300, 100, 32}, {1, 0, 2, 0, 2, 19, 100, 300, 100, 32},
                {1, 1, 0, 0, 2, 8, 100, 300, 100, 32},  {1, 1, 2, 0, 2, 10, 100, 300, 100, 32},
                {0, 0, 0, 0, 3, 17, 50, 300, 100, 32},  {2, 0, 0, 0, 1, 17, 200, 300, 100, 32},
                {3, 0, 0, 0, 1, 17, 300, 300, 100, 32}, {1, 1, 0, 8, 2, 8, 100, 303, 68, 96},
                {1, 0, 0, 0, -1, 0, 0, 0, 100, 32}};
    for (const Row &row : rows) {
        ResetStage(row.difficulty);
        g_Game.StrikeMode = (uint8_t)row.strikeMode;
        ObjectRecord &r = Place(0, row.type, 100, 100, row.hp);
        (row.facing ? StrikeObjectLeft : StrikeObjectRight)(0);
        int effect = Played(300) * 300 + Played(303) * 303;
        EXPECT_EQ(std::vector<int>({r.state, g_Game.Score, effect, r.x, r.y, r.w, r.h, g_Game.BossHealthDisplay}),
                  std::vector<int>({row.state, row.score, row.effect, row.x, row.x, row.w, row.w, r.hp == 1}))
            << row.difficulty << " " << row.facing << " " << row.type << " " << row.hp;
    }
}

// Contact with record i (of type 8 when i is 2) costs i by the difficulty's rule: the lowest index touching wins,
// the player turns toward it unless it is a bomb, and for 70 frames nothing touches again.
TEST(Combat, ContactDamageAndTurn)
{
    struct Row {
        int difficulty;
        std::vector<std::pair<int, int>> objects; // index, x
        int startFacing, loss, facing, timer;
    } rows[] = {{1, {{5, 80}, {3, 40}}, 0, 3, 1, 70}, {1, {{2, 40}}, 0, 2, 0, 70},  {1, {{4, 90}}, 1, 4, 0, 70},
                {1, {{4, 97}}, 1, 0, 1, 0},           {1, {{0, 40}}, 0, 0, 1, 70},  {0, {{0, 40}}, 0, 1, 1, 70},
                {0, {{1, 40}}, 0, 1, 1, 70},          {0, {{3, 40}}, 0, 2, 1, 70},  {0, {{10, 40}}, 0, 5, 1, 70},
                {2, {{10, 40}}, 0, 20, 1, 70},        {2, {{5, 40}}, 0, 15, 1, 70}, {3, {{5, 40}}, 0, 30, 1, 70},
                {3, {{3, 40}}, 0, 27, 1, 70}};
    for (const Row &row : rows) {
        ResetStage(row.difficulty);
        g_Game.PlayerFacing = (uint8_t)row.startFacing;
        for (auto object : row.objects) {
            Place(object.first, object.first == 2 ? 8 : 0, object.second, GROUND_Y, 1).contactDamage =
                (int8_t)object.first;
        }
        CheckPlayerContact();
        g_Game.PlayerHurt = 0;
        CheckPlayerContact();
        EXPECT_EQ(std::vector<int>({42 - g_Game.PlayerHP, g_Game.PlayerFacing, g_Game.InvulnerableTimer}),
                  std::vector<int>({row.loss, row.facing, row.timer}))
            << row.difficulty << " " << row.objects[0].first;
    }
}

// Four objects in a row, each touching its neighbours only, of 2 points but the second of 6; one of them flies
// (of type 19 or not): what the passes leave of each.
TEST(Combat, KnockedChains)
{
    struct Row {
        int flyer, flyerType, flyerState, passes;
        std::vector<int> states;
    } rows[] = {{0, 0, 17, 1, {17, 16, 0, 0}},
                {0, 19, 17, 1, {17, 17, 17, 17}},
                {3, 19, 8, 1, {0, 0, 8, 8}},
                {3, 19, 8, 2, {0, 7, 8, 8}}};
    for (const Row &row : rows) {
        ResetStage();
        for (int i = 0; i < 4; i++) {
            Place(i, i == row.flyer ? row.flyerType : 0, 20 * i, 0, i == 1 ? 6 : 2);
        }
        ObjectTable[row.flyer].state = (int8_t)row.flyerState;
        for (int pass = 0; pass < row.passes; pass++) {
            CheckKnockedObjects();
        }
        EXPECT_EQ(
            std::vector<int>({ObjectTable[0].state, ObjectTable[1].state, ObjectTable[2].state, ObjectTable[3].state}),
            row.states)
            << row.flyer << " " << row.flyerType << " " << row.passes;
    }
}
