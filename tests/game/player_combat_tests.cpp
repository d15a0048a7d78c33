// The player character (jump arc, air attacks, the lengths of attack, hurt and dying) and combat (attack zone against
// a reference, strikes, kill scores and the hit rows' ends, contact damage, knocked-away chains).
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using V = std::vector<int>;
void SetUpStagePlay(int stage = 0, int difficulty = 1); // stage_frame_tests.cpp
int EffectsPlayed(int id);

static ObjectRecord &Place(int index, int type, int x, int y, int hp)
{
    ObjectRecord &r = ObjectTable[index] = ObjectRecord{};
    r.type = (int8_t)type, r.x = x, r.y = y, r.w = r.h = 32, r.hp = (int16_t)hp, r.scoreValue = 100;
    return r;
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

// Up on the first frame, button 1 on frame `attackAt` (-1 never): the steps of PlayerY from then on as run lengths,
// and the sounds 301 and 302. Then random input with harmless hurts now and then: every step of the arc divides by a
// counter of at least 10, and the player stays between the apex and the ground.
TEST(Player, JumpArcAirAttacksAndDivisor)
{
    const std::pair<int, V> rows[] = {
        {-1, {-8, 1, -7, 1, -6, 3, -5, 3, -4, 4, -3, 8, -2, 10, 0, 1, 2, 9, 3, 8, 4, 4, 5, 3, 6, 3, 7, 1, 8, 1, 2, 1,
              0, 3}},
        {40, {1, 1, 0, 23, 1, 3, 2, 1}}, {10, {0, 24, 1, 4, 2, 1}}, {0, {0, 30}}};
    for (const auto &[attackAt, runs] : rows) {
        SetUpStagePlay();
        V expected, steps;
        for (size_t i = 0; i < runs.size(); i += 2) {
            expected.insert(expected.end(), runs[i + 1], runs[i]);
        }
        for (int f = 0; f < std::max(attackAt, 0) + (int)expected.size(); f++) {
            int step = PlayerFrame(0, f == 0, f == attackAt);
            if (f >= attackAt) {
                steps.push_back(step);
            }
        }
        EXPECT_EQ(steps, expected) << attackAt;
        EXPECT_EQ(EffectsPlayed(301) * 10 + EffectsPlayed(302), attackAt >= 0 ? 11 : 10);
    }
    SetUpStagePlay();
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
    const int sizes[3] = {0x2020, 0x2060, 0x6020};
    for (int k = 0; k < 6 * 231 * 171; k++) { // both facings, three box sizes, every place near the zone
        int facing = k / (3 * 231 * 171), size = sizes[k / (231 * 171) % 3];
        SetUpStagePlay();
        g_Game.PlayerX = 100, g_Game.PlayerFacing = (uint8_t)facing, g_Game.PlayerAttacking = 1;
        ObjectRecord &r = Place(3, 0, -70 + k / 171 % 231, 200 + k % 171, 5);
        r.w = size >> 8, r.h = size & 0xFF;
        CheckPlayerAttack();
        ASSERT_EQ(r.state != 0, ReferenceStrikes(facing, 100, GROUND_Y, r)) << facing << " " << r.x << " " << r.y;
    }
}

// One strike: a survivor hurt (the gauge shows what is left), a destroyed object knocked away by facing and strike
// mode and scored by difficulty, a bomb blasted at 96 x 96, one below 0 untouched; on the 31st animation call a hurt
// object goes home at its pace, a blasted bomb goes, others fly on. Then four objects in a row, each touching its
// neighbours only (2 points, the second 6), one flying (of type 19 or not): what one or two passes leave of each.
TEST(Combat, StrikesAndKnockedChains)
{
    const int rows[][12] = { // difficulty, facing, strike mode, type, hp: state, score, sound, x, w, state/period later
        {1, 0, 0, 0, 3, 15, 0, 300, 100, 32, 2, 9}, {1, 1, 2, 0, 3, 6, 0, 300, 100, 32, 2, 9},
        {1, 0, 0, 0, 2, 17, 100, 300, 100, 32, 17, 0}, {1, 0, 2, 0, 2, 19, 100, 300, 100, 32, 19, 0},
        {1, 1, 0, 0, 2, 8, 100, 300, 100, 32, 8, 0}, {1, 1, 2, 0, 2, 10, 100, 300, 100, 32, 10, 0},
        {0, 0, 0, 0, 3, 17, 50, 300, 100, 32, 17, 0}, {2, 0, 0, 0, 1, 17, 200, 300, 100, 32, 17, 0},
        {3, 0, 0, 0, 1, 17, 300, 300, 100, 32, 17, 0}, {1, 1, 0, 8, 2, 8, 100, 303, 68, 96, 127, 0},
        {1, 0, 0, 8, 3, 15, 0, 303, 100, 32, 2, 9}, {1, 0, 0, 0, -1, 0, 0, 0, 100, 32, 0, 0}};
    for (const int *row : rows) {
        SetUpStagePlay(0, row[0]);
        g_Game.StrikeMode = (uint8_t)row[2];
        ObjectRecord &r = Place(0, row[3], 100, 100, row[4]);
        r.homeState = 2, r.savedPeriod = 9;
        (row[1] ? StrikeObjectLeft : StrikeObjectRight)(0);
        V seen = {r.state, g_Game.Score, EffectsPlayed(300) * 300 + EffectsPlayed(303) * 303, r.x, r.y, r.w, r.h,
                  g_Game.BossHealthDisplay};
        for (int call = 0; call < 30; call++) {
            AnimateObjects();
        }
        seen.push_back(r.state);
        AnimateObjects();
        seen.insert(seen.end(), {r.state, r.period});
        V want = {row[5], row[6], row[7], row[8], row[8], row[9], row[9], r.hp == 1, row[5], row[10], row[11]};
        EXPECT_EQ(seen, want)
            << "difficulty " << row[0] << " type " << row[3] << " hp " << row[4];
    }
}

// Contact with record i (of type 8 when i is 2) costs i by the difficulty's rule: the lowest index touching wins
// (record 99, costing 1, touches too), the player turns toward it unless it is a bomb, and for 70 frames nothing
// touches again; then the frames from the hit (or an attack instead) to the end of the hurt, dying or attack row.
TEST(Combat, ContactDamageAndRowLengths)
{
    const int rows[][11] = { // difficulty, index, x, facing, attack: HP lost, facing, invulnerable, frames, lives, miss
        {1, 2, 40, 0, 0, 2, 0, 70, 31, 3, 0}, {1, 4, 90, 1, 0, 4, 0, 70, 31, 3, 0},
        {1, 4, 97, 1, 0, 1, 0, 70, 31, 3, 0}, {1, 0, 40, 0, 0, 0, 1, 70, 31, 3, 0},
        {0, 0, 40, 0, 0, 1, 1, 70, 31, 3, 0}, {0, 3, 40, 0, 0, 2, 1, 70, 31, 3, 0},
        {2, 8, 40, 0, 0, 20, 1, 70, 31, 3, 0}, {2, 5, 40, 0, 0, 15, 1, 70, 31, 3, 0},
        {3, 5, 40, 0, 0, 30, 1, 70, 31, 3, 0}, {3, 3, 40, 0, 0, 27, 1, 70, 31, 3, 0},
        {1, 42, 40, 0, 0, 42, 1, 70, 155, 2, 10}, {1, 0, 0, 0, 1, 0, 0, 0, 24, 3, 0}};
    for (const int *row : rows) {
        SetUpStagePlay(0, row[0]);
        g_Game.PlayerFacing = (uint8_t)row[3];
        if (!row[4]) {
            Place(row[1], row[1] == 2 ? 8 : 0, row[2], GROUND_Y, 1).contactDamage = (int8_t)row[1];
            Place(99, 0, 80, GROUND_Y, 1).contactDamage = 1;
            CheckPlayerContact();
            g_Game.PlayerHurt = 0;
            CheckPlayerContact();
            g_Game.PlayerHurt = 1;
        }
        int frames = 1;
        for (PlayerFrame(0, 0, row[4]); g_Game.PlayerAttacking || g_Game.PlayerHurt; frames++) {
            PlayerFrame();
        }
        EXPECT_EQ(V({42 - g_Game.PlayerHP, g_Game.PlayerFacing, g_Game.InvulnerableTimer, frames, g_Game.Lives,
                     g_Game.MissState}),
                  V(row + 5, row + 11))
            << "difficulty " << row[0] << " index " << row[1];
    }
    const int chains[][8] = { // flyer, its type and state, passes: the four states left
        {0, 0, 17, 1, 17, 16, 0, 0}, {0, 19, 17, 1, 17, 17, 17, 17}, {3, 19, 8, 1, 0, 0, 8, 8},
        {3, 19, 8, 2, 0, 7, 8, 8}};
    for (const int *row : chains) {
        SetUpStagePlay();
        for (int i = 0; i < 4; i++) {
            Place(i, i == row[0] ? row[1] : 0, 20 * i, 0, i == 1 ? 6 : 2).state = (int8_t)(i == row[0] ? row[2] : 0);
        }
        for (int pass = 0; pass < row[3]; pass++) {
            CheckKnockedObjects();
        }
        V states = {ObjectTable[0].state, ObjectTable[1].state, ObjectTable[2].state, ObjectTable[3].state};
        EXPECT_EQ(states, V(row + 4, row + 8)) << row[0] << " " << row[1] << " " << row[3];
    }
}
