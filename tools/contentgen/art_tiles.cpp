// Painters of sheet 103: the banners, the heads-up display (digits, labels, life icon, gauges), the background tiles
// (opaque, seamless across and down) and the foreground pieces (keyed, a piece n tiles high continuing at n + 20).
// Build machine, single-threaded.
#include "art.h"

#include <cmath>
#include <functional>

namespace
{

const Rgb OUTLINE = {30, 22, 40};
const Rgb SHADOW = HexRgb(0x4A4E78);
constexpr float PI = 3.14159265f;

void Poly(Canvas &c, std::initializer_list<Point> points, Rgb colour)
{
    FillPolygon(c, std::vector<Point>(points), colour);
}

// Text in three bands of colour from `top` to `bottom`, with a drop shadow when there is room; outlined by the caller.
void FancyText(Canvas &c, int x, int y, const std::string &text, int scale, Rgb top, Rgb bottom, bool small = false,
               bool shadow = false)
{
    const int glyphHeight = (small ? 5 : 7) * scale;
    if (shadow) {
        DrawText(c, x + 1, y + 1, text, scale, SHADOW, small);
    }
    Canvas layer(c.width, c.height);
    DrawText(layer, x, y, text, scale, top, small);
    for (int py = 0; py < c.height; py++) {
        for (int px = 0; px < c.width; px++) {
            if (layer.Cover(px, py)) {
                const int band = (py - y) * 3 / glyphHeight;
                c.Plot(px, py, band == 0 ? top : band == 1 ? MixRgb(top, bottom, 0.5f) : bottom);
            }
        }
    }
}

// Seamless texture: noise with a period of the tile's width.
Rgb Textured(int x, int y, Rgb dark, Rgb light, uint32_t seed, int cells = 8)
{
    const float n = FractalNoise(x * cells / 32.0f, y * cells / 32.0f, seed, 3, cells);
    return MixRgb(dark, light, n);
}

void FillTexture(Canvas &c, int x0, int y0, int x1, int y1, Rgb dark, Rgb light, uint32_t seed, int cells = 8)
{
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            c.Plot(x, y, Textured(x, y, dark, light, seed, cells));
        }
    }
}

// --- banners and heads-up display ----------------------------------------------------------------------------------

void Ribbon(Canvas &c, Rgb top, Rgb bottom, Rgb edge, const std::string &text, Rgb ink, Rgb inkShade)
{
    VerticalGradient(c, 0, 0, c.width, c.height, top, bottom);
    FillRect(c, 0, 1, c.width, 3, edge);
    FillRect(c, 0, c.height - 3, c.width, c.height - 1, edge);
    for (int x = 6; x < c.width; x += 12) {
        c.Plot(x, 2, HexRgb(0xFFF6D0));
        c.Plot(x, c.height - 2, HexRgb(0xFFF6D0));
    }
    Canvas letters(c.width, c.height);
    FancyText(letters, (c.width - TextWidth(text, 3)) / 2, 5, text, 3, ink, inkShade, false, true);
    Outline(letters, OUTLINE);
    Stamp(c, letters, 0, 0);
}

void Digit(Canvas &c, char digit)
{
    FancyText(c, 3, 1, std::string(1, digit), 2, HexRgb(0xFFFFFF), HexRgb(0xC8D4F0));
}

// A label right-aligned in its box, `gap` pixels short of its end (where the digits or the next word begin).
void Label(Canvas &c, const std::string &text, int boxWidth, Rgb top, Rgb bottom, int gap = 2)
{
    FancyText(c, boxWidth - gap - TextWidth(text, 2), 1, text, 2, top, bottom);
}

void LifeIcon(Canvas &c)
{
    FillEllipse(c, 8, 9, 5, 5.5f, HexRgb(0xF2C49B));
    Poly(c, {{2, 5}, {7, 1}, {13, 3}, {13, 6}, {6, 6}, {5, 12}, {2, 11}}, HexRgb(0xD9A441));
    FillRect(c, 5, 5, 14, 6, HexRgb(0xD6DEEA));
    FillRect(c, 10, 8, 12, 10, HexRgb(0x2A2F66));
    FillRect(c, 3, 13, 13, 15, HexRgb(0x3568D4));
}

// The gauge frame: a border above and below an open middle (the units sit inside), repeating every 16 pixels.
const Rgb FRAME_LIGHT = HexRgb(0xE8DCC0), FRAME_DARK = HexRgb(0x9C8660);

void GaugeMiddle(Canvas &c, int x0, int x1)
{
    for (int x = x0; x < x1; x++) {
        const Rgb rivet = (x % 16 == 7) ? HexRgb(0xFFF4C8) : FRAME_LIGHT;
        c.Plot(x, 0, OUTLINE);
        c.Plot(x, 1, rivet);
        c.Plot(x, 2, FRAME_DARK);
        c.Plot(x, 13, FRAME_LIGHT);
        c.Plot(x, 14, FRAME_DARK);
        c.Plot(x, 15, OUTLINE);
    }
}

void GaugeEnd(Canvas &c, int x, bool left)
{
    const int inner = left ? x + 3 : x;
    FillRect(c, x, 1, x + 4, 15, FRAME_DARK);
    FillRect(c, inner, 2, inner + 1, 14, FRAME_LIGHT);
    FillRect(c, x + 1, 0, x + 3, 16, HexRgb(0xC9A45A));
    FillRect(c, x + 1, 6, x + 3, 10, HexRgb(0xF5E28A));
}

void GaugeUnit(Canvas &c, Rgb light, Rgb dark)
{
    FillRect(c, 0, 3, 7, 13, dark);
    FillRect(c, 0, 4, 7, 7, light);
    FillRect(c, 1, 4, 3, 6, HexRgb(0xFFFFFF));
    FillRect(c, 0, 11, 7, 13, ScaleRgb(dark, 0.6f));
}

// --- background tiles (opaque) ---------------------------------------------------------------------------------------

void Sky(Canvas &c, Rgb dark, Rgb light, uint32_t seed)
{
    FillTexture(c, 0, 0, 32, 32, dark, light, seed, 2);
}

void Stars(Canvas &c)
{
    Sky(c, HexRgb(0x141A44), HexRgb(0x1F2860), 3);
    c.Plot(5, 7, HexRgb(0xFFFFFF));
    c.Plot(21, 3, HexRgb(0xC8D8FF));
    c.Plot(26, 19, HexRgb(0xFFF0C0));
    c.Plot(12, 25, HexRgb(0xA8B8F0));
    c.Plot(17, 14, HexRgb(0x8898D8));
}

void Clouds(Canvas &c)
{
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            const float n = FractalNoise(x / 8.0f, y / 8.0f, 21, 3, 4);
            const float band = 1 - std::fabs(y - 16) / 16.0f;
            const float cloud = std::clamp((n * band - 0.25f) * 4, 0.0f, 1.0f);
            c.Plot(x, y, MixRgb(MixRgb(HexRgb(0x6FA8E8), HexRgb(0x88BCF0), y / 32.0f), HexRgb(0xF4F8FF), cloud));
        }
    }
}

void Meadow(Canvas &c, int y0, int y1, uint32_t seed)
{
    FillTexture(c, 0, y0, 32, y1, HexRgb(0x3E8A3A), HexRgb(0x5DB04A), seed);
    Random random(seed);
    for (int i = 0; i < 14; i++) {
        const int x = random.Int(0, 31), y = random.Int(y0 + 2, y1 - 1), h = random.Int(2, 4);
        for (int k = 0; k < h && y - k >= y0; k++) {
            c.Plot(x, y - k, k == h - 1 ? HexRgb(0x9ADB6A) : HexRgb(0x7BC858));
        }
    }
}

void Dirt(Canvas &c, int y0, int y1)
{
    FillTexture(c, 0, y0, 32, y1, HexRgb(0x8A6440), HexRgb(0xB08A5C), 31);
    Random random(32);
    for (int i = 0; i < 6; i++) {
        const int x = random.Int(1, 29), y = random.Int(y0 + 1, y1 - 2);
        FillRect(c, x, y, x + 2, y + 1, HexRgb(0xC8B090));
        c.Plot(x, y + 1, HexRgb(0x6A4A30));
    }
}

void GrassEdge(Canvas &c, int y, int direction) // tufts hanging into the dirt below (1) or above (-1)
{
    for (int x = 0; x < 32; x++) {
        const int length = 2 + static_cast<int>(3 * ValueNoise(x / 3.0f, 0, 41, 11));
        for (int k = 0; k < length; k++) {
            c.Plot(x, y + direction * k, k == length - 1 ? HexRgb(0x3E8A3A) : HexRgb(0x5DB04A));
        }
    }
}

void StoneBlocks(Canvas &c, Rgb stone, Rgb light, Rgb mortar, int rows, int width)
{
    FillTexture(c, 0, 0, 32, 32, stone, light, 51);
    const int height = 32 / rows;
    for (int r = 0; r < rows; r++) {
        FillRect(c, 0, r * height, 32, r * height + 1, mortar);
        const int offset = (r % 2) * width / 2;
        for (int x = offset; x < 32 + width; x += width) {
            FillRect(c, x % 32, r * height, x % 32 + 1, (r + 1) * height, mortar);
        }
        FillRect(c, 0, r * height + 1, 32, r * height + 2, light);
    }
}

void Water(Canvas &c)
{
    FillTexture(c, 0, 0, 32, 32, HexRgb(0x1E5A9C), HexRgb(0x2E78C0), 61, 4);
    for (int i = 0; i < 4; i++) {
        const int y = 4 + i * 8, x = (i * 11) % 32;
        for (int k = 0; k < 8; k++) {
            c.Plot((x + k) % 32, y, HexRgb(0x9CD4FF));
        }
    }
}

void Planks(Canvas &c)
{
    FillTexture(c, 0, 0, 32, 32, HexRgb(0x7A4E2C), HexRgb(0x9C6A3E), 71, 4);
    for (int r = 0; r < 4; r++) {
        FillRect(c, 0, r * 8, 32, r * 8 + 1, HexRgb(0x4E3018));
        const int seam = (r * 13) % 32;
        FillRect(c, seam, r * 8, seam + 1, r * 8 + 8, HexRgb(0x4E3018));
        c.Plot((seam + 5) % 32, r * 8 + 4, HexRgb(0x5E3A20));
    }
}

void HallWall(Canvas &c)
{
    FillTexture(c, 0, 0, 32, 32, HexRgb(0x3A3050), HexRgb(0x4A4066), 81);
    Bevel(c, 4, 4, 28, 28, 1, HexRgb(0x5C5280), HexRgb(0x2A2240));
}

void EmberRock(Canvas &c)
{
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            const float n = FractalNoise(x / 8.0f, y / 8.0f, 91, 3, 4);
            const float crack = std::fabs(n - 0.5f);
            Rgb rock = MixRgb(HexRgb(0x3A2026), HexRgb(0x5A3034), n);
            if (crack < 0.03f) {
                rock = HexRgb(0xFF8A3A);
            } else if (crack < 0.06f) {
                rock = HexRgb(0xC0402A);
            }
            c.Plot(x, y, rock);
        }
    }
}

void CastleWall(Canvas &c)
{
    StoneBlocks(c, HexRgb(0x7C7F92), HexRgb(0x9A9DB0), HexRgb(0x55586A), 2, 16);
}

void CastleWindow(Canvas &c)
{
    CastleWall(c);
    FillRect(c, 9, 8, 23, 30, HexRgb(0x55586A));
    FillEllipse(c, 16, 10, 6, 6, HexRgb(0xF4C85A));
    FillRect(c, 10, 10, 22, 29, HexRgb(0xF4C85A));
    FillRect(c, 15, 5, 17, 29, HexRgb(0x55586A));
    FillRect(c, 10, 18, 22, 19, HexRgb(0x55586A));
    FillRect(c, 11, 11, 14, 17, HexRgb(0xFFE9A8));
}

void Battlement(Canvas &c)
{
    Sky(c, HexRgb(0x6FA8E8), HexRgb(0x88BCF0), 4);
    Canvas wall(32, 32);
    CastleWall(wall);
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            if (y >= 18 || (y >= 6 && x >= 4 && x < 20)) {
                c.Plot(x, y, wall.Get(x, y));
            }
        }
    }
    FillRect(c, 4, 6, 20, 7, HexRgb(0xB4B7C8));
    FillRect(c, 0, 18, 4, 19, HexRgb(0xB4B7C8));
    FillRect(c, 20, 18, 32, 19, HexRgb(0xB4B7C8));
}

// --- foreground pieces (keyed)
// ----------------------------------------------------------------------------------------

const Rgb LEAF = HexRgb(0x3F8E3A), LEAF_LIGHT = HexRgb(0x6CC04E), LEAF_DARK = HexRgb(0x2A6430);
const Rgb BARK = HexRgb(0x7A5032), BARK_DARK = HexRgb(0x553620), STONE = HexRgb(0x9294A6),
          STONE_DARK = HexRgb(0x6A6C80);
const Rgb WOOD = HexRgb(0xA8743E), WOOD_DARK = HexRgb(0x70482A);

// Leaves inside a blob, thinned by noise so that sky shows through.
void Foliage(Canvas &c, float cx, float cy, float rx, float ry, uint32_t seed, float holes = 0.3f)
{
    for (int y = std::max(0, (int)(cy - ry)); y < std::min(c.height, (int)(cy + ry) + 1); y++) {
        for (int x = std::max(0, (int)(cx - rx)); x < std::min(c.width, (int)(cx + rx) + 1); x++) {
            const float dx = (x + 0.5f - cx) / rx, dy = (y + 0.5f - cy) / ry, d = dx * dx + dy * dy;
            const float n = FractalNoise(x / 9.0f, y / 9.0f, seed, 3);
            if (d > 1 || n < holes + d * 0.25f) {
                continue;
            }
            const float light = 0.5f - dx * 0.3f - dy * 0.5f + (n - 0.5f);
            c.Plot(x, y, light > 0.7f ? LEAF_LIGHT : light > 0.2f ? LEAF : LEAF_DARK);
        }
    }
}

void GrassTuft(Canvas &c)
{
    for (int i = 0; i < 9; i++) {
        const float x = 3.0f + i * 3.2f, h = 10.0f + (i * 7) % 9;
        DrawLine(c, x, 32, x + ((i % 3) - 1) * 3.0f, 32 - h, 2.2f, i % 2 ? LEAF : LEAF_LIGHT);
    }
}

void Flowers(Canvas &c)
{
    const Rgb petals[] = {HexRgb(0xF25C7A), HexRgb(0xFFD23F), HexRgb(0xB07CF0), HexRgb(0xF4F4FF)};
    for (int i = 0; i < 5; i++) {
        const float x = 4.0f + i * 6, top = 14.0f + (i * 5) % 8;
        DrawLine(c, x, 32, x, top, 1.5f, LEAF);
        FillEllipse(c, x, top, 3.5f, 3, petals[i % 4]);
        c.Plot((int)x, (int)top, HexRgb(0xFFF4A0));
    }
    FillEllipse(c, 16, 31, 15, 4, LEAF_DARK);
}

void Rock(Canvas &c)
{
    Poly(c, {{2, 32}, {6, 16}, {16, 9}, {26, 13}, {31, 32}}, STONE);
    Poly(c, {{6, 16}, {16, 9}, {18, 14}, {10, 20}}, HexRgb(0xB8BACA));
    Poly(c, {{20, 32}, {26, 13}, {31, 32}}, STONE_DARK);
}

void Crate(Canvas &c)
{
    FillRect(c, 3, 7, 29, 32, WOOD);
    FillRect(c, 3, 7, 29, 9, WOOD_DARK);
    FillRect(c, 3, 30, 29, 32, WOOD_DARK);
    FillRect(c, 3, 7, 5, 32, WOOD_DARK);
    FillRect(c, 27, 7, 29, 32, WOOD_DARK);
    DrawLine(c, 5, 9, 27, 30, 2.5f, WOOD_DARK);
    FillRect(c, 6, 11, 26, 12, HexRgb(0xC89A5E));
}

void Bush(Canvas &c)
{
    Foliage(c, 16, 20, 15, 12, 101, 0.15f);
}

void Mushrooms(Canvas &c)
{
    const float spots[][3] = {{8, 20, 6}, {20, 14, 8}, {27, 24, 4}};
    for (const auto &m : spots) {
        FillRect(c, (int)(m[0] - m[2] / 3), (int)m[1], (int)(m[0] + m[2] / 3 + 1), 32, HexRgb(0xEDE4D0));
        FillEllipse(c, m[0], m[1], m[2], m[2] * 0.7f, HexRgb(0xD8343C));
        FillEllipse(c, m[0] - m[2] / 3, m[1] - m[2] / 4, 1.5f, 1.2f, HexRgb(0xFFFFFF));
        FillEllipse(c, m[0] + m[2] / 3, m[1] - m[2] / 5, 1.2f, 1.0f, HexRgb(0xFFFFFF));
    }
}

void Signpost(Canvas &c)
{
    FillRect(c, 13, 6, 18, 32, WOOD_DARK);
    Poly(c, {{4, 6}, {24, 6}, {30, 12}, {24, 18}, {4, 18}}, WOOD);
    FillRect(c, 6, 11, 22, 13, WOOD_DARK);
}

void Barrel(Canvas &c)
{
    FillEllipse(c, 16, 19, 11, 13, WOOD);
    FillRect(c, 6, 8, 27, 32, WOOD);
    FillRect(c, 5, 11, 28, 13, HexRgb(0x6E7488));
    FillRect(c, 5, 25, 28, 27, HexRgb(0x6E7488));
    FillRect(c, 11, 8, 13, 32, WOOD_DARK);
    FillRect(c, 19, 8, 21, 32, WOOD_DARK);
}

void Gravestone(Canvas &c)
{
    FillEllipse(c, 16, 12, 10, 8, STONE);
    FillRect(c, 6, 12, 27, 30, STONE);
    FillRect(c, 3, 29, 30, 32, LEAF);
    FillRect(c, 15, 8, 17, 22, STONE_DARK);
    FillRect(c, 11, 12, 21, 14, STONE_DARK);
}

void Torch(Canvas &c)
{
    FillRect(c, 14, 14, 18, 32, HexRgb(0x6E7488));
    Poly(c, {{9, 12}, {23, 12}, {20, 17}, {12, 17}}, HexRgb(0x8C92A8));
    Poly(c, {{10, 12}, {12, 4}, {15, 8}, {16, 0}, {19, 7}, {21, 3}, {22, 12}}, HexRgb(0xF2612E));
    Poly(c, {{13, 12}, {15, 6}, {17, 9}, {19, 12}}, HexRgb(0xFFD23F));
}

void StoneBlock(Canvas &c)
{
    FillTexture(c, 0, 8, 32, 32, STONE_DARK, STONE, 111, 4);
    FillRect(c, 0, 8, 32, 10, HexRgb(0xB8BACA));
    FillRect(c, 15, 10, 16, 32, STONE_DARK);
}

void HayBale(Canvas &c)
{
    FillTexture(c, 2, 10, 30, 32, HexRgb(0xC8A040), HexRgb(0xF0CF6A), 121, 8);
    FillRect(c, 2, 16, 30, 18, HexRgb(0x9C6A2A));
    FillRect(c, 2, 25, 30, 27, HexRgb(0x9C6A2A));
}

void Fence(Canvas &c)
{
    for (int x : {4, 20}) {
        FillRect(c, x, 8, x + 5, 32, WOOD);
        Poly(c, {{(float)x, 8}, {x + 2.5f, 5}, {x + 5.0f, 8}}, WOOD);
        FillRect(c, x + 3, 9, x + 5, 32, WOOD_DARK);
    }
    FillRect(c, 0, 13, 32, 17, WOOD);
    FillRect(c, 0, 23, 32, 27, WOOD);
    FillRect(c, 0, 16, 32, 17, WOOD_DARK);
    FillRect(c, 0, 26, 32, 27, WOOD_DARK);
}

void Shrub(Canvas &c)
{
    Foliage(c, 16, 23, 12, 9, 131, 0.1f);
    FillEllipse(c, 11, 20, 1.5f, 1.5f, HexRgb(0xE23B4A));
    FillEllipse(c, 20, 24, 1.5f, 1.5f, HexRgb(0xE23B4A));
}

void Stump(Canvas &c)
{
    FillRect(c, 7, 14, 25, 30, BARK);
    FillRect(c, 2, 28, 30, 32, BARK_DARK);
    FillEllipse(c, 16, 14, 9, 3.5f, HexRgb(0xD8B078));
    FillEllipse(c, 16, 14, 4, 1.5f, HexRgb(0xB08850));
    FillRect(c, 11, 18, 12, 28, BARK_DARK);
}

void Urn(Canvas &c)
{
    FillEllipse(c, 16, 21, 10, 10, HexRgb(0xC0704A));
    FillRect(c, 11, 6, 21, 12, HexRgb(0xC0704A));
    FillRect(c, 9, 5, 23, 8, HexRgb(0xD88A5E));
    FillRect(c, 7, 19, 25, 21, HexRgb(0xE8D070));
    FillRect(c, 11, 29, 21, 32, HexRgb(0x8A4A30));
}

void Reeds(Canvas &c)
{
    for (int i = 0; i < 7; i++) {
        const float x = 4.0f + i * 4, top = 4.0f + (i * 5) % 10;
        DrawLine(c, x, 32, x + (i % 2 ? 2 : -2), top, 1.5f, HexRgb(0x6E9A3A));
        if (i % 2 == 0) {
            FillEllipse(c, x - 1.5f, top + 4, 2, 4, HexRgb(0x7A4A26));
        }
    }
}

void GreatTree(Canvas &c) // 96 x 192
{
    Poly(c, {{38, 90}, {58, 90}, {60, 176}, {74, 192}, {22, 192}, {36, 176}}, BARK);
    Poly(c, {{38, 90}, {44, 90}, {42, 186}, {30, 192}, {22, 192}, {36, 176}}, BARK_DARK);
    DrawLine(c, 52, 130, 80, 106, 6, BARK);
    DrawLine(c, 42, 120, 14, 100, 6, BARK);
    Foliage(c, 48, 28, 34, 28, 141, 0.3f); // the crown in clumps, sky between them
    Foliage(c, 20, 54, 20, 22, 148, 0.3f);
    Foliage(c, 76, 54, 20, 22, 149, 0.3f);
    Foliage(c, 48, 74, 22, 16, 140, 0.3f);
    Foliage(c, 22, 86, 22, 22, 142, 0.2f);
    Foliage(c, 76, 84, 22, 24, 143, 0.35f);
    Foliage(c, 80, 104, 15, 12, 146, 0.15f); // leaves at the ends of the low branches
    Foliage(c, 14, 98, 14, 12, 147, 0.15f);
    Foliage(c, 15, 166, 15, 27, 144, 0.05f); // bushes at its foot
    Foliage(c, 81, 166, 15, 27, 145, 0.05f);
}

void Windmill(Canvas &c) // 96 x 128: a post mill, its body up on a trestle of beams
{
    for (const float leg : {-1.0f, 1.0f}) {
        DrawLine(c, 48, 70, 48 + leg * 34, 126, 4, WOOD_DARK);
        DrawLine(c, 48 + leg * 16, 98, 48 + leg * 30, 126, 3, WOOD);
    }
    FillRect(c, 45, 60, 51, 128, WOOD_DARK);
    FillRect(c, 10, 120, 86, 126, WOOD);
    FillRect(c, 24, 96, 72, 100, WOOD);
    FillRect(c, 36, 30, 60, 78, HexRgb(0xE8DCC4));
    FillRect(c, 36, 30, 41, 78, HexRgb(0xC4B49C));
    FillRect(c, 60, 60, 84, 63, WOOD); // the loading platform, with a sack on it
    FillRect(c, 80, 50, 82, 63, WOOD_DARK);
    FillEllipse(c, 72, 54, 6, 6, HexRgb(0xD8C08A));
    FillRect(c, 44, 56, 52, 66, HexRgb(0x4A6AA8));
    Poly(c, {{30, 32}, {48, 16}, {66, 32}}, HexRgb(0xA84A3A));
    for (int i = 0; i < 4; i++) { // sails, a lattice with gaps
        const float a = PI / 4 + i * PI / 2;
        const float ex = 48 + 46 * std::cos(a), ey = 40 + 46 * std::sin(a);
        DrawLine(c, 48, 40, ex, ey, 3, WOOD_DARK);
        const float px = -std::sin(a) * 10, py = std::cos(a) * 10;
        for (int k = 2; k <= 5; k++) {
            const float t = k / 5.0f;
            DrawLine(c, 48 + (ex - 48) * t, 40 + (ey - 40) * t, 48 + (ex - 48) * t + px, 40 + (ey - 40) * t + py, 1.5f,
                     HexRgb(0xF4EEE0));
        }
        DrawLine(c, 48 + (ex - 48) * 0.3f + px, 40 + (ey - 40) * 0.3f + py, ex + px, ey + py, 1.5f, HexRgb(0xF4EEE0));
    }
    FillEllipse(c, 48, 40, 4, 4, HexRgb(0x6E7488));
    Foliage(c, 12, 104, 14, 24, 151, 0.05f);
    Foliage(c, 86, 118, 12, 12, 152, 0.05f);
}

void FirTree(Canvas &c) // 64 x 128
{
    FillRect(c, 28, 100, 36, 128, BARK);
    for (int tier = 0; tier < 4; tier++) {
        const float top = tier * 24.0f, bottom = top + 40, half = 12.0f + tier * 6;
        Poly(c, {{32, top}, {32 + half, bottom}, {32 - half, bottom}}, tier % 2 ? LEAF : LEAF_DARK);
        Poly(c, {{32, top + 2}, {32 + half * 0.5f, bottom - 8}, {32, bottom - 4}}, LEAF_LIGHT);
    }
    Foliage(c, 14, 120, 13, 9, 161, 0.05f);
    Foliage(c, 50, 120, 13, 9, 162, 0.05f);
}

void Watchtower(Canvas &c) // 64 x 128
{
    FillTexture(c, 8, 20, 56, 128, STONE_DARK, STONE, 171, 8);
    for (int y = 26; y < 128; y += 12) {
        FillRect(c, 8, y, 56, y + 1, STONE_DARK);
    }
    for (int x = 4; x < 60; x += 14) {
        FillRect(c, x, 6, x + 8, 22, STONE);
        FillRect(c, x, 6, x + 8, 8, HexRgb(0xB8BACA));
    }
    FillRect(c, 4, 18, 60, 24, STONE);
    FillRect(c, 29, 44, 35, 62, HexRgb(0x2E2A40));
    FillRect(c, 20, 80, 24, 94, HexRgb(0x2E2A40));
    FillRect(c, 40, 80, 44, 94, HexRgb(0x2E2A40));
    FillEllipse(c, 32, 108, 9, 9, WOOD_DARK);
    FillRect(c, 23, 108, 42, 128, WOOD_DARK);
    FillRect(c, 31, 0, 33, 8, WOOD_DARK);
    Poly(c, {{33, 0}, {46, 3}, {33, 6}}, HexRgb(0xC8283C));
}

void RockArch(Canvas &c) // 96 x 96
{
    Poly(c,
         {{4, 96},
          {8, 40},
          {22, 14},
          {48, 4},
          {74, 14},
          {88, 40},
          {92, 96},
          {58, 96},
          {60, 40},
          {54, 20},
          {42, 20},
          {36, 40},
          {38, 96}},
         STONE);
    Poly(c, {{40, 96}, {44, 86}, {52, 84}, {56, 96}}, STONE_DARK);
    Poly(c, {{8, 40}, {22, 14}, {48, 4}, {46, 12}, {26, 22}, {16, 44}, {14, 96}, {4, 96}}, HexRgb(0xB8BACA));
    Poly(c, {{74, 14}, {88, 40}, {92, 96}, {80, 96}, {80, 44}}, STONE_DARK);
    Foliage(c, 48, 6, 20, 6, 181, 0.1f);
}

void LampPost(Canvas &c) // 32 x 96
{
    FillRect(c, 13, 20, 19, 96, HexRgb(0x4E5670));
    FillRect(c, 14, 20, 15, 96, HexRgb(0x7A84A0));
    FillRect(c, 8, 86, 24, 96, HexRgb(0x4E5670));
    FillRect(c, 10, 50, 22, 54, HexRgb(0x4E5670));
    Poly(c, {{8, 6}, {24, 6}, {22, 20}, {10, 20}}, HexRgb(0x4E5670));
    FillRect(c, 11, 8, 21, 18, HexRgb(0xFFE08A));
    Poly(c, {{6, 6}, {16, 0}, {26, 6}}, HexRgb(0x4E5670));
}

void RuinedArch(Canvas &c) // 64 x 96
{
    FillTexture(c, 4, 24, 18, 96, STONE_DARK, STONE, 191, 8);
    FillTexture(c, 46, 40, 60, 96, STONE_DARK, STONE, 192, 8);
    Poly(c, {{4, 24}, {20, 10}, {40, 6}, {54, 12}, {60, 26}, {46, 24}, {40, 16}, {22, 20}, {18, 30}}, STONE);
    FillTexture(c, 46, 24, 60, 40, STONE_DARK, STONE, 195, 8);
    FillRect(c, 0, 88, 64, 96, STONE_DARK);
    Foliage(c, 10, 30, 8, 10, 193, 0.15f);
    Foliage(c, 54, 44, 8, 8, 194, 0.15f);
}

void DeadTree(Canvas &c) // 64 x 96
{
    const Rgb grey = HexRgb(0x6E6470);
    Poly(c, {{26, 96}, {28, 30}, {36, 30}, {40, 96}}, grey);
    const float branches[][4] = {{30, 40, 8, 14}, {34, 50, 58, 30}, {30, 60, 6, 52},  {34, 34, 44, 4},
                                 {20, 27, 12, 4}, {50, 37, 62, 26}, {32, 72, 54, 62}, {29, 80, 10, 76}};
    for (const auto &b : branches) {
        DrawLine(c, b[0], b[1], b[2], b[3], 3, grey);
    }
    Poly(c, {{18, 96}, {26, 84}, {40, 84}, {48, 96}}, grey);
    FillEllipse(c, 44, 20, 4, 3, HexRgb(0x4A3A5A)); // a crow's nest
}

void Statue(Canvas &c) // 64 x 96
{
    const Rgb marble = HexRgb(0xC8CCD8), shade = HexRgb(0x9498AA);
    FillRect(c, 4, 66, 60, 96, shade);
    FillRect(c, 2, 64, 62, 70, marble);
    FillRect(c, 8, 72, 56, 74, marble);
    FillEllipse(c, 32, 12, 7, 8, marble);
    Poly(c, {{22, 22}, {42, 22}, {46, 64}, {18, 64}}, marble);
    Poly(c, {{22, 22}, {28, 22}, {24, 64}, {18, 64}}, shade);
    DrawLine(c, 42, 26, 50, 44, 5, marble);
    DrawLine(c, 52, 8, 50, 60, 3, shade); // sword, point down
    DrawLine(c, 45, 16, 57, 16, 3, shade);
    Poly(c, {{24, 6}, {32, 0}, {40, 6}}, shade);
}

} // namespace

std::string PaintTile(const CellRole &role, Canvas &block)
{
    const std::string &s = role.subject;
    if (role.role == "digit" && s.size() == 1) {
        Digit(block, s[0]);
        Outline(block, OUTLINE);
        return "";
    }
    static const std::map<std::string, std::function<void(Canvas &)>> PAINTERS = {
        {"game-over",
         [](Canvas &c) {
             Ribbon(c, HexRgb(0x8A1A2A), HexRgb(0x4A0E20), HexRgb(0xD8A040), "GAME OVER", HexRgb(0xFFFFFF),
                    HexRgb(0xFFC8C8));
         }},
        {"stage-clear",
         [](Canvas &c) {
             Ribbon(c, HexRgb(0x2A5AB8), HexRgb(0x17306E), HexRgb(0xF2C641), "STAGE CLEAR", HexRgb(0xFFF4B0),
                    HexRgb(0xF2C641));
         }},
        {"ready",
         [](Canvas &c) {
             Ribbon(c, HexRgb(0x2E8A4A), HexRgb(0x174A2A), HexRgb(0xF4F4E0), "READY", HexRgb(0xFFFFFF),
                    HexRgb(0xC8F0C0));
         }},
        {"pause",
         [](Canvas &c) {
             FillRect(c, 2, 3, 94, 29, HexRgb(0x23306E));
             FillRect(c, 0, 5, 96, 27, HexRgb(0x23306E));
             FillRect(c, 2, 5, 94, 6, HexRgb(0x6A7CC8));
             FancyText(c, 5, 5, "PAUSE", 3, HexRgb(0xFFFFFF), HexRgb(0xC8D4F0), false, true);
         }},
        {"hi", [](Canvas &c) { Label(c, "HI", 32, HexRgb(0xFFE08A), HexRgb(0xF2A83A)); }},
        {"score", [](Canvas &c) { Label(c, "SCORE", 80, HexRgb(0xFFE08A), HexRgb(0xF2A83A), 6); }},
        {"next", [](Canvas &c) { Label(c, "NEXT", 64, HexRgb(0xB8F0FF), HexRgb(0x5AB8E8), 6); }},
        {"easy", [](Canvas &c) { Label(c, "EASY", 64, HexRgb(0xB8FFB0), HexRgb(0x4EC84A)); }},
        {"normal", [](Canvas &c) { Label(c, "NORMAL", 96, HexRgb(0xB8E0FF), HexRgb(0x4A8AE8)); }},
        {"hard", [](Canvas &c) { Label(c, "HARD", 64, HexRgb(0xFFD8A0), HexRgb(0xF27A2A)); }},
        {"lunatic", [](Canvas &c) { Label(c, "LUNATIC", 96, HexRgb(0xF0B8FF), HexRgb(0xC83AE8)); }},
        {"hp", [](Canvas &c) { FancyText(c, 1, 3, "HP", 2, HexRgb(0xB8FFB0), HexRgb(0x4EC84A), true); }},
        {"enemy", [](Canvas &c) { FancyText(c, 1, 3, "EN", 2, HexRgb(0xFFB8B0), HexRgb(0xE84A4A), true); }},
        {"life", LifeIcon},
        {"left-end", [](Canvas &c) { GaugeEnd(c, 12, true), GaugeMiddle(c, 16, 32); }},
        {"middle", [](Canvas &c) { GaugeMiddle(c, 0, 32); }},
        {"right-end", [](Canvas &c) { GaugeEnd(c, 0, false); }},
        {"player-unit", [](Canvas &c) { GaugeUnit(c, HexRgb(0x8AF07A), HexRgb(0x2EA83A)); }},
        {"enemy-unit", [](Canvas &c) { GaugeUnit(c, HexRgb(0xFF9A7A), HexRgb(0xD8343C)); }},
        {"sky-night", Stars},
        {"sky-day", [](Canvas &c) { Sky(c, HexRgb(0x6FA8E8), HexRgb(0x88BCF0), 4); }},
        {"sky-clouds", Clouds},
        {"sky-dusk", [](Canvas &c) { Sky(c, HexRgb(0xC8607A), HexRgb(0xF29A6A), 5); }},
        {"meadow", [](Canvas &c) { Meadow(c, 0, 32, 7); }},
        {"road-top", [](Canvas &c) { Dirt(c, 0, 32), Meadow(c, 0, 6, 8), GrassEdge(c, 6, 1); }},
        {"road-bottom", [](Canvas &c) { Dirt(c, 0, 32), Meadow(c, 26, 32, 9), GrassEdge(c, 25, -1); }},
        {"castle-wall", CastleWall},
        {"castle-window", CastleWindow},
        {"battlement", Battlement},
        {"brick-wall", [](Canvas &c) { StoneBlocks(c, HexRgb(0x9C4A38), HexRgb(0xB85E48), HexRgb(0x6A3428), 4, 16); }},
        {"cave-rock", [](Canvas &c) { FillTexture(c, 0, 0, 32, 32, HexRgb(0x3E3030), HexRgb(0x6A5448), 11, 4); }},
        {"water", Water},
        {"stone-floor", [](Canvas &c) { StoneBlocks(c, HexRgb(0x8A8470), HexRgb(0xA8A088), HexRgb(0x5E5848), 2, 32); }},
        {"wood-planks", Planks},
        {"hall-wall", HallWall},
        {"ember-rock", EmberRock},
        {"grass-tuft", GrassTuft},
        {"flowers", Flowers},
        {"rock", Rock},
        {"crate", Crate},
        {"bush", Bush},
        {"mushrooms", Mushrooms},
        {"signpost", Signpost},
        {"barrel", Barrel},
        {"gravestone", Gravestone},
        {"torch", Torch},
        {"stone-block", StoneBlock},
        {"hay-bale", HayBale},
        {"fence", Fence},
        {"shrub", Shrub},
        {"stump", Stump},
        {"urn", Urn},
        {"reeds", Reeds},
        {"great-tree", GreatTree},
        {"windmill", Windmill},
        {"fir-tree", FirTree},
        {"watchtower", Watchtower},
        {"rock-arch", RockArch},
        {"lamp-post", LampPost},
        {"ruined-arch", RuinedArch},
        {"dead-tree", DeadTree},
        {"statue", Statue},
    };
    const auto painter = PAINTERS.find(s);
    if (painter == PAINTERS.end()) {
        return "no painter for " + role.role + " " + s;
    }
    painter->second(block);
    if (role.role == "foreground") {
        ShadeSprite(block);
    }
    if (role.keyed && role.subject != "pause" && role.role != "gauge") {
        Outline(block, OUTLINE);
    }
    return "";
}
