// Painters of sheet 102: the hero Vellomir with his sword, the enemy kinds, the bosses, their shots and the blast.
// Everything faces right (the game mirrors) and is painted crisp, then outlined; a block is painted whole and cut
// into its cells afterwards, so its parts meet. Build machine, single-threaded.
#include "art.h"

#include <cmath>
#include <functional>

namespace
{

const Rgb OUTLINE = {34, 24, 44};
const Rgb SKIN = HexRgb(0xF2C49B), SKIN_SHADE = HexRgb(0xC98E6A);
const Rgb HAIR = HexRgb(0xD9A441), CAPE = HexRgb(0xB8283C), CAPE_SHADE = HexRgb(0x7E1B33);
const Rgb TUNIC = HexRgb(0x3568D4), TUNIC_SHADE = HexRgb(0x24449A), STEEL = HexRgb(0xD6DEEA);
const Rgb STEEL_SHADE = HexRgb(0x8A97AE), LEATHER = HexRgb(0x7A4A26), GOLD = HexRgb(0xF2C641);
const Rgb TROUSERS = HexRgb(0x3B3E5C), SWOOSH = HexRgb(0xBFEFFF), SWOOSH_CORE = HexRgb(0xF4FDFF);

constexpr float PI = 3.14159265f;

void Ellipse(Canvas &c, float cx, float cy, float rx, float ry, Rgb colour)
{
    FillEllipse(c, cx, cy, rx, ry, colour);
}

void Poly(Canvas &c, std::initializer_list<Point> points, Rgb colour)
{
    FillPolygon(c, std::vector<Point>(points), colour);
}

void Line(Canvas &c, float x0, float y0, float x1, float y1, float width, Rgb colour)
{
    DrawLine(c, x0, y0, x1, y1, width, colour);
}

// A crescent of motion between two radii around (cx, cy), from angle a0 to a1 (degrees, 0 = right, 90 = down),
// thickest in the middle and tapering to points; its outer edge is the brightest.
void Swoosh(Canvas &c, float cx, float cy, float inner, float outer, float a0, float a1)
{
    const int steps = 24;
    auto at = [&](int i, float radius) {
        const float a = (a0 + (a1 - a0) * i / steps) * PI / 180;
        return Point{cx + radius * std::cos(a), cy + radius * std::sin(a)};
    };
    auto edge = [&](int i) { // the inner edge, meeting the outer one at both ends
        const float t = 2.0f * i / steps - 1;
        return outer - (outer - inner) * (1 - t * t);
    };
    std::vector<Point> band, rim;
    for (int i = 0; i <= steps; i++) {
        band.push_back(at(i, outer));
        rim.push_back(at(i, outer));
    }
    for (int i = steps; i >= 0; i--) {
        band.push_back(at(i, edge(i)));
        rim.push_back(at(i, outer - (outer - edge(i)) * 0.4f));
    }
    FillPolygon(c, band, SWOOSH);
    FillPolygon(c, rim, SWOOSH_CORE);
}

// The hero. Feet on row oy + 31 of a 32-pixel cell at (ox, oy); arm and sword at `armAngle` degrees (0 forward,
// 90 down, -90 up).
struct HeroPose {
    int dx = 0, dy = 0;
    enum Legs { Together, Stride, Tucked, Dangling, Kneel } legs = Together;
    float armAngle = 70;
    float swordAngle = 35;
    float swordLength = 11;
    bool mouthOpen = false;
    enum Cape { Hang, Up, Back } cape = Hang;
};

void DrawHero(Canvas &c, int ox, int oy, const HeroPose &p)
{
    const float x = static_cast<float>(ox + p.dx), y = static_cast<float>(oy + p.dy);
    // cape behind the body
    if (p.cape == HeroPose::Hang) {
        Poly(c, {{x + 12, y + 13}, {x + 15, y + 13}, {x + 14, y + 26}, {x + 7, y + 27}}, CAPE);
        Poly(c, {{x + 11, y + 16}, {x + 12, y + 16}, {x + 9, y + 27}, {x + 7, y + 27}}, CAPE_SHADE);
    } else if (p.cape == HeroPose::Up) {
        Poly(c, {{x + 12, y + 13}, {x + 15, y + 13}, {x + 11, y + 1}, {x + 6, y + 3}}, CAPE);
        Poly(c, {{x + 11, y + 12}, {x + 12, y + 13}, {x + 7, y + 4}, {x + 6, y + 3}}, CAPE_SHADE);
    } else {
        Poly(c, {{x + 12, y + 13}, {x + 15, y + 13}, {x + 4, y + 20}, {x + 2, y + 16}}, CAPE);
        Poly(c, {{x + 12, y + 15}, {x + 13, y + 15}, {x + 4, y + 20}, {x + 3, y + 19}}, CAPE_SHADE);
    }
    // legs and boots
    auto leg = [&](float hipX, float footX, float footY, Rgb colour) {
        Line(c, hipX, y + 22, footX, footY - 2, 3, colour);
        FillRect(c, (int)footX - 2, (int)footY - 2, (int)footX + 3, (int)footY + 1, LEATHER);
    };
    switch (p.legs) {
    case HeroPose::Together:
        leg(x + 13.5f, x + 13.5f, y + 31, ScaleRgb(TROUSERS, 0.8f));
        leg(x + 17.5f, x + 17.5f, y + 31, TROUSERS);
        break;
    case HeroPose::Stride:
        leg(x + 13.5f, x + 10, y + 31, ScaleRgb(TROUSERS, 0.8f));
        leg(x + 17.5f, x + 21, y + 31, TROUSERS);
        break;
    case HeroPose::Tucked:
        Line(c, x + 13.5f, y + 22, x + 19, y + 25, 3, ScaleRgb(TROUSERS, 0.8f));
        Line(c, x + 19, y + 25, x + 15, y + 28, 3, ScaleRgb(TROUSERS, 0.8f));
        Line(c, x + 17.5f, y + 22, x + 23, y + 24, 3, TROUSERS);
        Line(c, x + 23, y + 24, x + 20, y + 28, 3, TROUSERS);
        FillRect(c, (int)x + 13, (int)y + 27, (int)x + 17, (int)y + 30, LEATHER);
        FillRect(c, (int)x + 19, (int)y + 27, (int)x + 23, (int)y + 30, LEATHER);
        break;
    case HeroPose::Dangling:
        leg(x + 13.5f, x + 11, y + 31, ScaleRgb(TROUSERS, 0.8f));
        leg(x + 17.5f, x + 18, y + 30, TROUSERS);
        break;
    case HeroPose::Kneel:
        Line(c, x + 13.5f, y + 22, x + 11, y + 28, 3, ScaleRgb(TROUSERS, 0.8f));
        FillRect(c, (int)x + 6, (int)y + 28, (int)x + 13, (int)y + 31, LEATHER);
        Line(c, x + 17.5f, y + 22, x + 22, y + 24, 3, TROUSERS);
        Line(c, x + 22, y + 24, x + 22, y + 29, 3, TROUSERS);
        FillRect(c, (int)x + 20, (int)y + 28, (int)x + 26, (int)y + 31, LEATHER);
        break;
    }
    // tunic, belt, shoulder
    Poly(c, {{x + 11, y + 13}, {x + 20, y + 13}, {x + 21, y + 24}, {x + 10, y + 24}}, TUNIC);
    FillRect(c, (int)x + 10, (int)y + 21, (int)x + 12, (int)y + 24, TUNIC_SHADE);
    FillRect(c, (int)x + 11, (int)y + 19, (int)x + 21, (int)y + 21, LEATHER);
    FillRect(c, (int)x + 17, (int)y + 19, (int)x + 19, (int)y + 21, GOLD);
    FillRect(c, (int)x + 11, (int)y + 13, (int)x + 20, (int)y + 15, STEEL);
    // head
    Ellipse(c, x + 16.5f, y + 8.5f, 4.6f, 4.8f, SKIN);
    FillRect(c, (int)x + 13, (int)y + 10, (int)x + 15, (int)y + 13, SKIN_SHADE);
    Poly(c,
         {{x + 11, y + 5},
          {x + 16, y + 2},
          {x + 21, y + 4},
          {x + 20, y + 7},
          {x + 14, y + 7},
          {x + 13, y + 12},
          {x + 11, y + 11}},
         HAIR);
    FillRect(c, (int)x + 13, (int)y + 6, (int)x + 21, (int)y + 7, STEEL);
    c.Plot((int)x + 19, (int)y + 9, HexRgb(0x2A2F66));
    if (p.mouthOpen) {
        FillRect(c, (int)x + 19, (int)y + 11, (int)x + 21, (int)y + 13, HexRgb(0x7A2430));
    }
    // arm and sword
    const float sx = x + 17, sy = y + 15;
    const float a = p.armAngle * PI / 180, b = p.swordAngle * PI / 180;
    const float hx = sx + 7 * std::cos(a), hy = sy + 7 * std::sin(a);
    if (p.swordLength > 0) {
        const float tx = hx + p.swordLength * std::cos(b), ty = hy + p.swordLength * std::sin(b);
        Line(c, hx, hy, tx, ty, 2.6f, STEEL);
        Line(c, hx + std::cos(b), hy + std::sin(b), tx - std::cos(b), ty - std::sin(b), 1, STEEL_SHADE);
        Line(c, hx - 2.5f * std::sin(b), hy + 2.5f * std::cos(b), hx + 2.5f * std::sin(b), hy - 2.5f * std::cos(b),
             1.8f, GOLD);
    }
    Line(c, sx, sy, hx, hy, 3, TUNIC_SHADE);
    Ellipse(c, hx, hy, 1.8f, 1.8f, SKIN);
}

// --- enemies -------------------------------------------------------------------------------------------------------

void Goblin(Canvas &c, int frame)
{
    const Rgb skin = HexRgb(0x6DBE45), hood = HexRgb(0x8A5A2B), club = HexRgb(0x9C6B3C);
    const int step = frame ? 3 : 0;
    Line(c, 13, 23, 12 - step, 30, 3, HexRgb(0x4E3A2A));
    Line(c, 18, 23, 19 + step, 30, 3, HexRgb(0x5E4630));
    FillRect(c, 9 - step, 29, 14 - step, 32, LEATHER);
    FillRect(c, 17 + step, 29, 23 + step, 32, LEATHER);
    Poly(c, {{10, 14}, {22, 14}, {24, 25}, {8, 25}}, hood);
    Ellipse(c, 17, 11, 7, 6, skin);
    Poly(c, {{9, 12}, {11, 3}, {20, 4}, {23, 9}, {17, 8}, {12, 14}}, ScaleRgb(hood, 0.85f));
    Poly(c, {{22, 9}, {28, 6}, {24, 12}}, skin); // pointed ear
    FillRect(c, 19, 10, 21, 12, HexRgb(0xFFE14A));
    FillRect(c, 18, 14, 23, 15, HexRgb(0xF5F0DC)); // teeth
    Line(c, 21, 19, 27, 12 + frame, 3, club);
    Ellipse(c, 27.5f, 11.0f + frame, 3.5f, 4, ScaleRgb(club, 0.8f));
}

void Bat(Canvas &c, int frame)
{
    const Rgb body = HexRgb(0x7B4FB8), wing = HexRgb(0x5A3590);
    if (frame == 0) {
        Poly(c, {{14, 15}, {2, 2}, {5, 10}, {1, 13}, {8, 16}, {6, 20}}, wing);
        Poly(c, {{19, 15}, {30, 2}, {27, 10}, {31, 13}, {24, 16}, {26, 20}}, wing);
    } else {
        Poly(c, {{14, 15}, {1, 22}, {6, 22}, {4, 27}, {10, 23}, {13, 26}}, wing);
        Poly(c, {{19, 15}, {31, 22}, {26, 22}, {28, 27}, {22, 23}, {20, 26}}, wing);
    }
    Ellipse(c, 17, 16, 6, 7, body);
    Poly(c, {{13, 11}, {14, 5}, {16, 10}}, body);
    Poly(c, {{18, 10}, {20, 5}, {21, 11}}, body);
    FillRect(c, 18, 13, 20, 15, HexRgb(0xFF4A4A));
    FillRect(c, 14, 13, 16, 15, HexRgb(0xFF4A4A));
    FillRect(c, 16, 19, 18, 21, HexRgb(0xF5F0DC));
}

void Crow(Canvas &c, int frame)
{
    const Rgb body = HexRgb(0x3A3F6E), wing = HexRgb(0x2C3058), beak = HexRgb(0xF2B33D);
    Ellipse(c, 15, 17, 9, 6, body);
    Poly(c, {{7, 16}, {1, 13}, {2, 21}, {7, 19}}, wing); // tail
    Ellipse(c, 24, 13, 4.5f, 4.5f, body);
    Poly(c, {{27, 12}, {31, 14}, {27, 16}}, beak);
    FillRect(c, 25, 11, 27, 13, HexRgb(0xFFF3A0));
    if (frame == 0) {
        Poly(c, {{11, 15}, {21, 15}, {16, 2}, {8, 4}}, wing);
    } else {
        Poly(c, {{11, 18}, {21, 18}, {18, 30}, {9, 28}}, wing);
    }
    Line(c, 14, 22, 13, 26, 1.5f, beak);
    Line(c, 18, 22, 18, 26, 1.5f, beak);
}

void Hornet(Canvas &c, int frame)
{
    const Rgb yellow = HexRgb(0xF5C531), band = HexRgb(0x4A3520), wing = HexRgb(0xCFE8FF);
    if (frame == 0) {
        Ellipse(c, 14, 7, 7, 4, wing);
    } else {
        Ellipse(c, 12, 10, 8, 3, wing);
    }
    Ellipse(c, 11, 19, 8, 6, yellow);
    FillRect(c, 7, 14, 9, 25, band);
    FillRect(c, 12, 13, 14, 25, band);
    Poly(c, {{3, 19}, {0, 24}, {5, 22}}, band); // sting
    Ellipse(c, 21, 17, 4, 4, band);
    Ellipse(c, 26, 16, 4.5f, 4.5f, yellow);
    FillRect(c, 27, 14, 30, 17, HexRgb(0xC0283C));
    Line(c, 27, 12, 30, 7, 1.5f, band);
    Line(c, 20, 21, 18 + 2 * frame, 28, 1.5f, band);
    Line(c, 23, 21, 24 - 2 * frame, 28, 1.5f, band);
}

void Eye(Canvas &c, int frame)
{
    const Rgb white = HexRgb(0xF4EEE6), iris = HexRgb(0xD2343C), tentacle = HexRgb(0x9A4FB0);
    for (int i = 0; i < 3; i++) {
        const float base = 10.0f + 6 * i, sway = (frame ? 3.0f : -3.0f) * (i % 2 ? -1 : 1);
        Line(c, base, 22, base + sway, 29, 3, tentacle);
        Line(c, base + sway, 29, base, 31, 2, tentacle);
    }
    Ellipse(c, 16, 14, 11, 11, white);
    Ellipse(c, 14, 16, 9, 8, HexRgb(0xDCCFC4));
    Ellipse(c, 19 + frame, 13, 5, 5.5f, iris);
    Ellipse(c, 20 + frame, 13, 2.2f, 3, HexRgb(0x301628));
    c.Plot(18 + frame, 11, white);
    Line(c, 7, 10, 11, 13, 1, HexRgb(0xD9534F));
    Line(c, 9, 20, 13, 18, 1, HexRgb(0xD9534F));
}

void Spider(Canvas &c, int variant)
{
    const Rgb body = HexRgb(0x5B2C6F), leg = HexRgb(0x3F1F52), mark = HexRgb(0xE23B4A);
    const bool hanging = variant == 2;
    const float cy = hanging ? 20.0f : 22.0f;
    if (hanging) {
        Line(c, 16, 0, 16, cy - 6, 1, HexRgb(0xE8E8F0));
    }
    for (int i = 0; i < 4; i++) {
        const float lift = ((i + variant) % 2) ? 2.0f : -1.0f;
        const float spread = 5.0f + 3.5f * i;
        if (hanging) {
            Line(c, 14, cy, 14 - spread * 0.6f, cy + 3 + 2.0f * i, 1.6f, leg);
            Line(c, 18, cy, 18 + spread * 0.6f, cy + 3 + 2.0f * i, 1.6f, leg);
        } else {
            Line(c, 14, cy, 14 - spread * 0.7f, cy - 5 + lift, 1.6f, leg);
            Line(c, 14 - spread * 0.7f, cy - 5 + lift, 14 - spread * 0.9f, 31, 1.6f, leg);
            Line(c, 18, cy, 18 + spread * 0.7f, cy - 5 - lift, 1.6f, leg);
            Line(c, 18 + spread * 0.7f, cy - 5 - lift, 18 + spread * 0.9f, 31, 1.6f, leg);
        }
    }
    Ellipse(c, 13, cy, 7, 6, body);
    Ellipse(c, 21, cy + 1, 4.5f, 4, body);
    Poly(c, {{11, cy - 3}, {15, cy - 3}, {13, cy + 2}}, mark);
    FillRect(c, 22, (int)cy - 1, 24, (int)cy + 1, HexRgb(0xFF5A5A));
    FillRect(c, 19, (int)cy - 1, 21, (int)cy + 1, HexRgb(0xFF5A5A));
}

void Wraith(Canvas &c, int frame)
{
    const Rgb cloth = HexRgb(0xA9E6E8), shade = HexRgb(0x6FB4C4);
    std::vector<Point> shape = {{8, 12}, {12, 4}, {20, 3}, {25, 9}, {26, 20}};
    for (int i = 0; i <= 6; i++) { // tattered hem, waving with the frame
        const float x = 26 - i * 3.2f;
        const float wave = std::sin((i + frame * 1.5f) * 1.3f) * 2.5f;
        shape.push_back({x, (i % 2 ? 25.0f : 30.0f) + wave});
    }
    shape.push_back({6, 22});
    FillPolygon(c, shape, cloth);
    Poly(c, {{8, 12}, {12, 4}, {14, 5}, {11, 26}, {7, 24}}, shade);
    Ellipse(c, 17, 11, 2, 3, HexRgb(0x29305A));
    Ellipse(c, 22, 11, 2, 3, HexRgb(0x29305A));
    Ellipse(c, 20, 18, 2.5f, 1.5f + (frame % 2), HexRgb(0x29305A));
    Line(c, 24, 16, 30, 12 + frame, 2, shade); // reaching arm
}

void Bomb(Canvas &c)
{
    const Rgb iron = HexRgb(0x45506E);
    Ellipse(c, 15, 19, 11, 11, iron);
    Ellipse(c, 12, 15, 4, 3, HexRgb(0x7F8CB0));
    FillRect(c, 19, 6, 25, 10, HexRgb(0x8A92A8));
    Line(c, 22, 6, 25, 2, 1.5f, HexRgb(0xC9A46A));
    Poly(c, {{27, 0}, {28, 3}, {31, 3}, {28, 5}, {29, 8}, {26, 5}, {23, 6}, {25, 3}}, HexRgb(0xFFD23F));
    c.Plot(26, 3, HexRgb(0xFFFFFF));
}

void Bolt(Canvas &c)
{
    Poly(c, {{2, 16}, {14, 8}, {26, 10}, {31, 16}, {26, 22}, {14, 24}}, HexRgb(0xB05CE8));
    Poly(c, {{8, 16}, {16, 11}, {25, 12}, {29, 16}, {25, 20}, {16, 21}}, HexRgb(0xE7A8FF));
    Ellipse(c, 23, 16, 4, 3, HexRgb(0xFFF4FF));
    c.Plot(4, 9, HexRgb(0xE7A8FF));
    c.Plot(6, 24, HexRgb(0xE7A8FF));
    FillRect(c, 9, 5, 11, 7, HexRgb(0xB05CE8));
}

void SpikedBall(Canvas &c)
{
    const Rgb iron = HexRgb(0x8C95A6), spike = HexRgb(0xD0D6E0);
    for (int i = 0; i < 8; i++) {
        const float a = i * PI / 4 + 0.2f;
        Poly(c,
             {{16 + 8 * std::cos(a - 0.35f), 16 + 8 * std::sin(a - 0.35f)},
              {16 + 15 * std::cos(a), 16 + 15 * std::sin(a)},
              {16 + 8 * std::cos(a + 0.35f), 16 + 8 * std::sin(a + 0.35f)}},
             spike);
    }
    Ellipse(c, 16, 16, 9.5f, 9.5f, iron);
    Ellipse(c, 13, 13, 3, 3, HexRgb(0xE4E9F2));
    Ellipse(c, 19, 19, 3, 2, HexRgb(0x5F687A));
}

// 64x64: a burning rock falling; the flames trail upward.
void Meteor(Canvas &c)
{
    Poly(c, {{10, 30}, {22, 0}, {30, 14}, {36, 2}, {42, 18}, {52, 4}, {56, 30}}, HexRgb(0xE8542E));
    Poly(c, {{16, 34}, {25, 10}, {32, 22}, {39, 9}, {44, 26}, {50, 16}, {50, 36}}, HexRgb(0xFFA43B));
    Poly(c, {{22, 36}, {29, 20}, {34, 30}, {40, 20}, {44, 38}}, HexRgb(0xFFE58A));
    Ellipse(c, 32, 46, 18, 15, HexRgb(0x6B4A3A));
    Ellipse(c, 27, 41, 8, 6, HexRgb(0x9A7558));
    Ellipse(c, 38, 51, 5, 3, HexRgb(0x4A3328));
    Ellipse(c, 24, 53, 3, 2, HexRgb(0x4A3328));
}

// 96x96: an iron cage on a chain ring, dropped onto the hero.
void Cage(Canvas &c)
{
    const Rgb iron = HexRgb(0x6E7790), light = HexRgb(0xA9B3C9);
    FillEllipse(c, 48, 8, 9, 8, iron);
    FillEllipse(c, 48, 8, 5, 4, Rgb{}); // the ring's hole stays empty: erased below
    Poly(c, {{8, 34}, {20, 18}, {48, 12}, {76, 18}, {88, 34}}, iron);
    Poly(c, {{14, 32}, {24, 21}, {48, 16}, {72, 21}, {82, 32}}, light);
    FillRect(c, 4, 32, 92, 40, iron);
    FillRect(c, 2, 84, 94, 94, iron);
    FillRect(c, 2, 84, 94, 86, light);
    for (int i = 0; i < 8; i++) {
        const int x = 7 + i * 11;
        FillRect(c, x, 38, x + 5, 86, iron);
        FillRect(c, x + 1, 38, x + 2, 86, light);
    }
    FillRect(c, 4, 58, 92, 63, iron);
    for (int i = 0; i < 8; i++) {
        FillEllipse(c, 9.5f + i * 11, 36, 1.5f, 1.5f, HexRgb(0xE2E6F0));
    }
}

// --- bosses (96 x 96, the warlord 96 x 128) --------------------------------------------------------------------------

void Gargoyle(Canvas &c, int pose) // 0 gliding, 1 diving
{
    const Rgb stone = HexRgb(0x8F86A8), dark = HexRgb(0x5E5676), wing = HexRgb(0x6D4C8E), membrane = HexRgb(0x9B6FC2);
    if (pose == 0) {
        Poly(c, {{40, 36}, {2, 2}, {14, 30}, {0, 34}, {16, 50}, {4, 60}, {28, 50}, {38, 42}}, wing);
        Poly(c, {{36, 38}, {10, 14}, {18, 34}, {8, 40}, {20, 48}, {32, 42}}, membrane);
        Poly(c, {{56, 36}, {94, 2}, {82, 30}, {96, 34}, {80, 50}, {92, 60}, {68, 50}, {58, 42}}, wing);
        Poly(c, {{60, 38}, {86, 14}, {78, 34}, {88, 40}, {76, 48}, {64, 42}}, membrane);
    } else {
        Poly(c, {{40, 34}, {22, 0}, {26, 22}, {12, 10}, {20, 40}, {8, 44}, {36, 44}}, wing);
        Poly(c, {{56, 34}, {74, 0}, {70, 22}, {84, 10}, {76, 40}, {88, 44}, {60, 44}}, wing);
        Poly(c, {{38, 36}, {24, 8}, {26, 30}, {18, 30}, {34, 52}}, membrane);
        Poly(c, {{58, 36}, {72, 8}, {70, 30}, {78, 30}, {62, 52}}, membrane);
    }
    // body, legs and tail
    Poly(c, {{40, 34}, {56, 34}, {58, 62}, {38, 62}}, stone);
    Poly(c, {{40, 34}, {45, 34}, {42, 62}, {38, 62}}, dark);
    Line(c, 40, 60, 30, 78, 6, stone);
    Line(c, 30, 78, 22, 90, 5, stone);
    Line(c, 56, 60, 66, 78, 6, stone);
    Line(c, 66, 78, 72, 90, 5, stone);
    Poly(c, {{16, 88}, {28, 86}, {24, 95}, {12, 95}}, dark);
    Poly(c, {{66, 86}, {80, 88}, {84, 95}, {70, 95}}, dark);
    Line(c, 48, 62, 48, 80, 3, dark);
    Line(c, 48, 80, 40, 92, 3, dark);
    Poly(c, {{36, 90}, {44, 88}, {40, 96}}, HexRgb(0xC2405A));
    // arms and claws
    Line(c, 56, 40, 72, 48 + 8 * pose, 4, stone);
    Line(c, 40, 40, 26, 48 + 8 * pose, 4, stone);
    Poly(c, {{68, 46 + 8.0f * pose}, {78, 52 + 8.0f * pose}, {70, 56 + 8.0f * pose}}, HexRgb(0xE8E0C8));
    Poly(c, {{30, 46 + 8.0f * pose}, {20, 52 + 8.0f * pose}, {28, 56 + 8.0f * pose}}, HexRgb(0xE8E0C8));
    // head with horns
    Ellipse(c, 50, 26, 12, 10, stone);
    Poly(c, {{42, 20}, {34, 4}, {46, 16}}, HexRgb(0xE8E0C8));
    Poly(c, {{56, 18}, {66, 2}, {60, 18}}, HexRgb(0xE8E0C8));
    Poly(c, {{54, 30}, {64, 30}, {58, 36}}, dark);
    FillRect(c, 52, 22, 57, 26, HexRgb(0xFFE14A));
    FillRect(c, 44, 22, 48, 26, HexRgb(0xFFE14A));
    for (int i = 0; i < 3; i++) {
        Poly(c, {{50.0f + 4 * i, 31}, {52.0f + 4 * i, 31}, {51.0f + 4 * i, 35}}, HexRgb(0xF5F0DC));
    }
}

void Sorcerer(Canvas &c, int frame)
{
    const Rgb robe = HexRgb(0x3D2A7A), trim = HexRgb(0xE0B43A), skin = HexRgb(0xB8C6A8), orb = HexRgb(0x66F0FF);
    // a ring of runes floating behind him, turning with the frame
    for (int i = 0; i < 6; i++) {
        const float a = i * PI / 3 + frame * 0.5f;
        Ellipse(c, 16 + 11 * std::cos(a), 16 + 11 * std::sin(a), 3, 3, HexRgb(0x9A7CF0));
    }
    Ellipse(c, 16, 16, 5, 5, HexRgb(0xC8B8FF));
    // floating robe with a ragged hem, which leaves gaps between its tails
    Poly(c,
         {{22, 30}, {50, 30}, {62, 78}, {54, 94}, {48, 82}, {42, 96}, {36, 80}, {30, 96}, {24, 82}, {16, 94}, {10, 78}},
         robe);
    Poly(c, {{32, 30}, {40, 30}, {42, 82}, {30, 82}}, HexRgb(0x5C44A8));
    Line(c, 32, 32, 30, 82, 2, trim);
    Line(c, 40, 32, 42, 82, 2, trim);
    // hood and face
    Poly(c, {{18, 34}, {24, 6}, {36, 0}, {50, 8}, {54, 34}}, robe);
    Ellipse(c, 38, 24, 9, 10, skin);
    Poly(c, {{28, 18}, {36, 10}, {50, 14}, {46, 20}}, robe);
    FillRect(c, 40, 22, 44, 25, HexRgb(0xFF3B5C));
    FillRect(c, 32, 22, 36, 25, HexRgb(0xFF3B5C));
    Poly(c, {{34, 30}, {44, 30}, {39, 44}}, HexRgb(0xD8D8E8)); // beard
    // staff arm (front) raised by the frame: 0 low, 1 half, 2 high
    const float handY = 60.0f - frame * 16;
    Line(c, 48, 38, 74, handY, 6, robe);
    Line(c, 84, handY - 30, 80, handY + 36 > 95 ? 95 : handY + 36, 3, HexRgb(0x8A5A2B));
    Ellipse(c, 76, handY, 4, 4, skin);
    // the spell book floating at his side
    Poly(c, {{72, 78}, {86, 74}, {94, 80}, {80, 86}}, HexRgb(0x7A2A3A));
    Poly(c, {{74, 78}, {86, 75}, {92, 79}, {80, 83}}, HexRgb(0xF4ECD8));
    Ellipse(c, 84, 90, 3, 3, orb);
    Ellipse(c, 84, handY - 34, 7 + frame, 7 + frame, orb);
    Ellipse(c, 82, handY - 36, 2.5f, 2.5f, HexRgb(0xF0FFFF));
    // back arm with a spark of its own
    Line(c, 24, 38, 12, 56 - frame * 6, 6, robe);
    Ellipse(c, 10, 58 - frame * 6.0f, 4, 4, skin);
}

void Airship(Canvas &c, int frame)
{
    const Rgb hull = HexRgb(0x9C5B34), plank = HexRgb(0x6E3E22), balloon = HexRgb(0xC7463C);
    const Rgb stripe = HexRgb(0xF1D36B);
    Ellipse(c, 48, 24, 44, 20, balloon);
    Ellipse(c, 40, 16, 24, 8, HexRgb(0xE2705F));
    for (int i = -2; i <= 2; i++) {
        Line(c, 48 + i * 16.0f, 6, 48 + i * 17.0f, 42, 3, stripe);
    }
    for (int i = 0; i < 4; i++) { // ropes, open space between them
        Line(c, 20 + i * 18.0f, 40, 24 + i * 16.0f, 64, 1.5f, HexRgb(0xD9C7A0));
    }
    Poly(c, {{8, 64}, {90, 64}, {80, 86}, {20, 86}}, hull);
    FillRect(c, 14, 70, 86, 73, plank);
    FillRect(c, 18, 78, 82, 80, plank);
    for (int i = 0; i < 4; i++) {
        Ellipse(c, 30 + i * 13.0f, 75, 3, 3, HexRgb(0xFFE7A0));
    }
    Poly(c, {{40, 86}, {56, 86}, {52, 95}, {44, 95}}, HexRgb(0x4E5670)); // bomb hatch
    // propeller at the stern (left): blade turned by the frame
    FillRect(c, 0, 70, 10, 76, HexRgb(0x8A92A8));
    if (frame == 0) {
        Ellipse(c, 3, 73, 3, 14, HexRgb(0xD0D6E0));
    } else {
        Ellipse(c, 3, 73, 2, 5, HexRgb(0xD0D6E0));
        Line(c, 0, 60, 6, 86, 2, HexRgb(0xA0A8B8));
    }
    Poly(c, {{86, 66}, {96, 60}, {96, 72}}, HexRgb(0xF1D36B)); // figurehead
}

// A swarm of fire spirits; each cell holds one, so a single cell reads as one spirit too.
void Swarm(Canvas &c)
{
    const Rgb outer = HexRgb(0xF2612E), mid = HexRgb(0xFFA83B), core = HexRgb(0xFFF0A8);
    for (int i = 0; i < 9; i++) {
        const float cx = (i % 3) * 32 + 16 + ((i * 5) % 3 - 1) * 2.0f,
                    cy = (i / 3) * 32 + 18 + ((i * 7) % 3 - 1) * 2.0f;
        const float s = 0.85f + 0.1f * (i % 3);
        Poly(c,
             {{cx - 10 * s, cy + 2},
              {cx - 12 * s, cy - 10 * s},
              {cx - 4 * s, cy - 6 * s},
              {cx - 2 * s, cy - 15 * s},
              {cx + 4 * s, cy - 7 * s},
              {cx + 10 * s, cy - 12 * s},
              {cx + 11 * s, cy + 2}},
             outer);
        Ellipse(c, cx, cy + 2, 11 * s, 10 * s, outer);
        Ellipse(c, cx + 1, cy + 3, 7 * s, 7 * s, mid);
        Ellipse(c, cx + 2, cy + 4, 3.5f * s, 3.5f * s, core);
        FillRect(c, (int)(cx + 1), (int)(cy - 1), (int)(cx + 3), (int)(cy + 2), HexRgb(0x5A1A10));
        FillRect(c, (int)(cx + 5), (int)(cy - 1), (int)(cx + 7), (int)(cy + 2), HexRgb(0x5A1A10));
    }
}

void Toad(Canvas &c)
{
    const Rgb skin = HexRgb(0x4E9A48), belly = HexRgb(0xD8D08A), spots = HexRgb(0x2F6B3A), armour = HexRgb(0x8E99B0);
    Poly(c, {{10, 44}, {2, 70}, {0, 94}, {24, 94}, {20, 74}, {28, 54}}, skin); // hind leg
    Ellipse(c, 42, 36, 36, 22, skin);
    Ellipse(c, 50, 46, 20, 10, belly);
    Ellipse(c, 24, 28, 6, 5, spots);
    Ellipse(c, 36, 20, 5, 4, spots);
    Ellipse(c, 12, 40, 4, 4, spots);
    Poly(c, {{18, 14}, {36, 4}, {56, 8}, {50, 18}, {30, 20}}, armour); // saddle plate
    Ellipse(c, 70, 24, 20, 15, skin);
    Ellipse(c, 72, 10, 8, 8, skin);
    Ellipse(c, 74, 9, 5, 5, HexRgb(0xFFE14A));
    FillRect(c, 74, 7, 77, 12, HexRgb(0x2A2040));
    Line(c, 58, 31, 94, 29, 2, HexRgb(0x8A2A38)); // mouth
    Poly(c, {{84, 29}, {88, 29}, {86, 34}}, HexRgb(0xF5F0DC));
    Poly(c, {{66, 52}, {76, 46}, {82, 78}, {95, 94}, {64, 94}, {70, 80}}, skin); // front leg
    Poly(c, {{34, 54}, {44, 54}, {48, 94}, {28, 94}}, ScaleRgb(skin, 0.85f));    // near hind foot
    Poly(c, {{26, 88}, {50, 88}, {52, 95}, {22, 95}}, ScaleRgb(skin, 0.7f));
}

void Warlord(Canvas &c, int frame) // 96 x 128
{
    const Rgb armour = HexRgb(0x5A5F78), dark = HexRgb(0x3A3D52), cape = HexRgb(0x8E1F3A), gold = HexRgb(0xE6B84A);
    const Rgb glow = HexRgb(0xFF5A3C), smoke = HexRgb(0x6A5A7A);
    // two orbs of fire he keeps aloft
    for (float x : {12.0f, 84.0f}) {
        Ellipse(c, x, 12, 10, 10, HexRgb(0xC8322B));
        Ellipse(c, x, 12, 6, 6, glow);
        Ellipse(c, x - 1, 11, 2.5f, 2.5f, HexRgb(0xFFE08A));
    }
    // the cape as two wings from the shoulders, ragged below
    Poly(c, {{34, 30}, {8, 30}, {4, 70}, {6, 122}, {14, 104}, {22, 124}, {28, 96}, {32, 56}}, cape);
    Poly(c, {{62, 30}, {88, 30}, {92, 70}, {90, 122}, {82, 104}, {74, 124}, {68, 96}, {64, 56}}, cape);
    for (float d : {-1.0f, 1.0f}) { // the dark hem
        Line(c, 48 + d * 42, 122, 48 + d * 34, 104, 2, HexRgb(0x5A1028));
        Line(c, 48 + d * 34, 104, 48 + d * 26, 124, 2, HexRgb(0x5A1028));
        Line(c, 48 + d * 26, 124, 48 + d * 20, 96, 2, HexRgb(0x5A1028));
    }
    // armoured body tapering into smoke
    Poly(c, {{38, 34}, {58, 34}, {60, 68}, {54, 100}, {48, 112}, {42, 100}, {36, 68}}, armour);
    Poly(c, {{41, 40}, {55, 40}, {53, 62}, {43, 62}}, dark);
    Ellipse(c, 48, 51, 5, 5, glow);
    FillRect(c, 37, 68, 60, 72, gold);
    Ellipse(c, 48, 114, 9, 7, smoke);
    Ellipse(c, 40, 121, 6, 5, smoke);
    Ellipse(c, 57, 122, 6, 5, smoke);
    // shoulders and arms: down (frame 0) or raised to the orbs (frame 1)
    Ellipse(c, 32, 36, 9, 7, armour);
    Ellipse(c, 64, 36, 9, 7, armour);
    if (frame == 0) {
        Line(c, 30, 40, 22, 70, 7, dark);
        Line(c, 66, 40, 74, 70, 7, dark);
        Ellipse(c, 21, 73, 5, 5, armour);
        Ellipse(c, 75, 73, 5, 5, armour);
    } else {
        Line(c, 30, 38, 16, 24, 7, dark);
        Line(c, 66, 38, 80, 24, 7, dark);
        Ellipse(c, 15, 23, 5, 5, armour);
        Ellipse(c, 81, 23, 5, 5, armour);
    }
    // crowned helm
    Ellipse(c, 48, 22, 11, 12, armour);
    Poly(c, {{36, 12}, {40, 2}, {44, 10}, {48, 0}, {52, 10}, {56, 2}, {60, 12}}, gold);
    FillRect(c, 40, 20, 58, 24, dark);
    FillRect(c, 50, 20, 56, 23, glow);
    FillRect(c, 42, 20, 46, 23, glow);
}

// The bomb's blast, 96 x 96: a burst, a ring of fire, then smoke.
void Blast(Canvas &c, int frame)
{
    const Rgb white = HexRgb(0xFFF8D8), yellow = HexRgb(0xFFD23F), orange = HexRgb(0xF57A2B), red = HexRgb(0xC8322B);
    Random random(77 + frame);
    if (frame == 0) {
        for (int i = 0; i < 8; i++) {
            const float a = i * PI / 4, r = (i % 2) ? 66.0f : 46.0f;
            Line(c, 48, 48, 48 + r * std::cos(a), 48 + r * std::sin(a), 4.0f, orange);
            Line(c, 48, 48, 48 + r * 0.8f * std::cos(a), 48 + r * 0.8f * std::sin(a), 1.5f, yellow);
        }
        for (int i = 0; i < 4; i++) { // debris flung to the corners
            const float a = PI / 4 + i * PI / 2;
            Ellipse(c, 48 + 58 * std::cos(a), 48 + 58 * std::sin(a), 6, 6, red);
            Ellipse(c, 48 + 44 * std::cos(a + 0.3f), 48 + 44 * std::sin(a + 0.3f), 4, 4, orange);
        }
        Ellipse(c, 48, 48, 9, 9, yellow);
        Ellipse(c, 48, 48, 5, 5, white);
    } else if (frame == 1) {
        for (int i = 0; i < 14; i++) {
            const float a = i * 2 * PI / 14, r = random.Range(30, 38);
            Ellipse(c, 48 + r * std::cos(a), 48 + r * std::sin(a), random.Range(11, 15), random.Range(11, 15),
                    i % 3 ? orange : red);
        }
        for (int i = 0; i < 14; i++) {
            const float a = i * 2 * PI / 14 + 0.2f, r = random.Range(28, 34);
            Ellipse(c, 48 + r * std::cos(a), 48 + r * std::sin(a), 6, 6, yellow);
        }
        Ellipse(c, 48, 48, 12, 12, white);
    } else {
        const Rgb smoke[] = {HexRgb(0x8A8790), HexRgb(0x6E6A78), HexRgb(0xA8A4AC)};
        for (int i = 0; i < 16; i++) {
            const float a = i * 2 * PI / 16 + random.Range(-0.2f, 0.2f), r = random.Range(20, 38);
            Ellipse(c, 48 + r * std::cos(a), 48 + r * std::sin(a), random.Range(8, 12), random.Range(7, 11),
                    smoke[i % 3]);
        }
        for (int i = 0; i < 10; i++) {
            Ellipse(c, random.Range(8, 88), random.Range(8, 88), 2, 2, i % 2 ? orange : yellow);
        }
    }
}

// The strike-mode arrow, pointing the way struck enemies fly.
void StrikeArrow(Canvas &c)
{
    Poly(c, {{4, 12}, {18, 12}, {18, 5}, {29, 16}, {18, 27}, {18, 20}, {4, 20}}, HexRgb(0xFFD23F));
    Poly(c, {{4, 12}, {18, 12}, {18, 5}, {21, 8}, {20, 15}, {4, 15}}, HexRgb(0xFFF0A0));
}

void Tint(Canvas &c, Rgb towards, float amount)
{
    for (size_t i = 0; i < c.pixels.size(); i++) {
        if (c.cover[i]) {
            c.pixels[i] = MixRgb(c.pixels[i], towards, amount);
        }
    }
}

// The hero's poses and the weapon cells: the attack frames are painted on a 64 x 32 canvas (hero, then the cell to
// his right that the game draws as the weapon overlay) and cut apart.
bool PaintHero(const std::string &subject, Canvas &block)
{
    HeroPose pose;
    if (subject == "stand") {
    } else if (subject == "stride") {
        pose.legs = HeroPose::Stride;
        pose.dy = -1;
        pose.armAngle = 60;
        pose.cape = HeroPose::Back;
    } else if (subject == "attack-recover") {
        pose.armAngle = 50;
        pose.swordAngle = 80;
        pose.legs = HeroPose::Stride;
    } else if (subject == "hurt") {
        pose.dx = -2;
        pose.armAngle = -120;
        pose.swordAngle = -150;
        pose.mouthOpen = true;
        pose.cape = HeroPose::Back;
    } else if (subject == "dying-kneel") {
        pose.legs = HeroPose::Kneel;
        pose.dy = 3;
        pose.armAngle = 80;
        pose.swordAngle = 90;
        pose.swordLength = 8;
    } else if (subject == "dying-fallen") {
        Canvas upright(32, 32);
        HeroPose lying;
        lying.swordLength = 0;
        lying.legs = HeroPose::Dangling;
        DrawHero(upright, 0, 0, lying);
        for (int y = 0; y < 32; y++) { // turned a quarter, head to the right, lying on the ground
            for (int x = 0; x < 32; x++) {
                if (upright.Cover(x, y) && x + 8 < 32) {
                    block.Plot(31 - y, x + 8, upright.Get(x, y));
                }
            }
        }
        Line(block, 2, 29, 14, 30, 2, STEEL);
        return true;
    } else if (subject == "rise") {
        pose.legs = HeroPose::Tucked;
        pose.dy = -2;
        pose.armAngle = -40;
        pose.swordAngle = -70;
        pose.cape = HeroPose::Hang;
    } else if (subject == "fall") {
        pose.legs = HeroPose::Dangling;
        pose.armAngle = 20;
        pose.swordAngle = 10;
        pose.cape = HeroPose::Up;
    } else {
        return false;
    }
    DrawHero(block, 0, 0, pose);
    return true;
}

const struct {
    const char *hero, *weapon;
    float arm, sword, a0, a1;
} ATTACK_FRAMES[] = {
    {"attack-windup", "slash-high", -60, -35, -75, 5},
    {"attack-swing", "slash-wide", -10, 0, -40, 45},
    {"attack-thrust", "slash-low", 30, 20, -15, 80},
};

bool PaintAttack(const std::string &subject, Canvas &block)
{
    for (const auto &frame : ATTACK_FRAMES) {
        const bool hero = subject == frame.hero, weapon = subject == frame.weapon;
        if (!hero && !weapon) {
            continue;
        }
        Canvas both(64, 32);
        Swoosh(both, 20, 16, 18, 31, frame.a0, frame.a1);
        HeroPose pose;
        pose.legs = HeroPose::Stride;
        pose.armAngle = frame.arm;
        pose.swordAngle = frame.sword;
        pose.swordLength = 22;
        pose.cape = HeroPose::Back;
        DrawHero(both, 0, 0, pose);
        ShadeSprite(both);
        Outline(both, OUTLINE);
        for (int y = 0; y < 32; y++) {
            for (int x = 0; x < 32; x++) {
                const int from = hero ? x : x + 32;
                if (both.Cover(from, y)) {
                    block.Plot(x, y, both.Get(from, y));
                }
            }
        }
        return true;
    }
    return false;
}

} // namespace

std::string PaintSprite(const CellRole &role, Canvas &block)
{
    const std::string &s = role.subject;
    if (PaintAttack(s, block)) {
        return ""; // outlined across both cells already
    }
    static const std::map<std::string, std::function<void(Canvas &)>> PAINTERS = {
        {"strike-arrow", StrikeArrow},
        {"goblin-a", [](Canvas &c) { Goblin(c, 0); }},
        {"goblin-b", [](Canvas &c) { Goblin(c, 1); }},
        {"goblin-hurt", [](Canvas &c) { Goblin(c, 0); }},
        {"bat-a", [](Canvas &c) { Bat(c, 0); }},
        {"bat-b", [](Canvas &c) { Bat(c, 1); }},
        {"bat-hurt", [](Canvas &c) { Bat(c, 1); }},
        {"crow-a", [](Canvas &c) { Crow(c, 0); }},
        {"crow-b", [](Canvas &c) { Crow(c, 1); }},
        {"crow-hurt", [](Canvas &c) { Crow(c, 0); }},
        {"hornet-a", [](Canvas &c) { Hornet(c, 0); }},
        {"hornet-b", [](Canvas &c) { Hornet(c, 1); }},
        {"hornet-hurt", [](Canvas &c) { Hornet(c, 1); }},
        {"eye-a", [](Canvas &c) { Eye(c, 0); }},
        {"eye-b", [](Canvas &c) { Eye(c, 1); }},
        {"eye-hurt", [](Canvas &c) { Eye(c, 0); }},
        {"spider-a", [](Canvas &c) { Spider(c, 0); }},
        {"spider-b", [](Canvas &c) { Spider(c, 1); }},
        {"spider-drop", [](Canvas &c) { Spider(c, 2); }},
        {"spider-hurt", [](Canvas &c) { Spider(c, 1); }},
        {"wraith-a", [](Canvas &c) { Wraith(c, 0); }},
        {"wraith-b", [](Canvas &c) { Wraith(c, 1); }},
        {"wraith-c", [](Canvas &c) { Wraith(c, 2); }},
        {"wraith-d", [](Canvas &c) { Wraith(c, 3); }},
        {"wraith-hurt", [](Canvas &c) { Wraith(c, 1); }},
        {"bomb", Bomb},
        {"bolt", Bolt},
        {"spiked-ball", SpikedBall},
        {"meteor", Meteor},
        {"weight", Cage},
        {"gargoyle-glide", [](Canvas &c) { Gargoyle(c, 0); }},
        {"gargoyle-dive", [](Canvas &c) { Gargoyle(c, 1); }},
        {"gargoyle-hurt", [](Canvas &c) { Gargoyle(c, 0); }},
        {"sorcerer-a", [](Canvas &c) { Sorcerer(c, 0); }},
        {"sorcerer-b", [](Canvas &c) { Sorcerer(c, 1); }},
        {"sorcerer-c", [](Canvas &c) { Sorcerer(c, 2); }},
        {"sorcerer-hurt", [](Canvas &c) { Sorcerer(c, 1); }},
        {"airship-a", [](Canvas &c) { Airship(c, 0); }},
        {"airship-b", [](Canvas &c) { Airship(c, 1); }},
        {"airship-hurt", [](Canvas &c) { Airship(c, 0); }},
        {"swarm", Swarm},
        {"swarm-hurt", Swarm},
        {"toad", Toad},
        {"toad-hurt", Toad},
        {"warlord-a", [](Canvas &c) { Warlord(c, 0); }},
        {"warlord-b", [](Canvas &c) { Warlord(c, 1); }},
        {"warlord-hurt", [](Canvas &c) { Warlord(c, 0); }},
        {"blast-a", [](Canvas &c) { Blast(c, 0); }},
        {"blast-b", [](Canvas &c) { Blast(c, 1); }},
        {"blast-c", [](Canvas &c) { Blast(c, 2); }},
    };
    const auto painter = PAINTERS.find(s);
    if (painter != PAINTERS.end()) {
        painter->second(block);
    } else if (!PaintHero(s, block)) {
        return "no painter for " + role.role + " " + s;
    }
    const std::map<std::string, int> FRAME_SHIFT = {
        {"gargoyle-dive", 3}, {"airship-b", 2}, {"sorcerer-b", 1}, {"sorcerer-c", 2}, {"warlord-b", -1}};
    if (FRAME_SHIFT.count(s)) { // the bob of a frame, so that no two frames share a cell
        ShiftCanvas(block, FRAME_SHIFT.at(s));
    }
    if (s == "weight") { // the ring's hole
        for (int y = 0; y < block.height; y++) {
            for (int x = 0; x < block.width; x++) {
                const float dx = (x + 0.5f - 48) / 5, dy = (y + 0.5f - 8) / 4;
                if (dx * dx + dy * dy <= 1) {
                    block.cover[(size_t)y * block.width + x] = 0;
                }
            }
        }
    }
    ShadeSprite(block);
    if (s.size() >= 4 && s.compare(s.size() - 4, 4, "hurt") == 0) {
        Tint(block, HexRgb(0xFF8A8A), 0.45f); // the hit flash
    }
    Outline(block, OUTLINE);
    return "";
}
