// Painter of the full-screen pictures (the title and the story's event pictures) and the gallery thumbnails. A
// picture is composed from the settings of its line in content/art/pictures.txt: a sky, lights, far mountains, a
// castle or tower, hills and forest, water, ground and figures, or an interior with its window, pillars and torches.
// The text window's area (80,352)-(560,468) is kept calm. Build machine, single-threaded.
#include "art.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace
{

constexpr float PI = 3.14159265f;
constexpr int W = 640, H = 480;
constexpr int WINDOW_X0 = 80, WINDOW_Y0 = 352, WINDOW_X1 = 560, WINDOW_Y1 = 468;

struct Settings {
    const std::map<std::string, std::string> &values;
    std::string Text(const std::string &key, const std::string &fallback = "") const
    {
        const auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    bool Has(const std::string &key) const
    {
        return values.count(key) > 0;
    }
    // A comma-separated list of numbers.
    std::vector<float> Numbers(const std::string &key) const
    {
        std::vector<float> numbers;
        std::stringstream in(Text(key));
        for (std::string item; std::getline(in, item, ',');) {
            numbers.push_back(std::strtof(item.c_str(), nullptr));
        }
        return numbers;
    }
    float Number(const std::string &key, float fallback) const
    {
        const std::vector<float> n = Numbers(key);
        return n.empty() ? fallback : n[0];
    }
};

struct SkyPalette {
    const char *name;
    uint32_t top, horizon, ground, light;
};
const SkyPalette SKIES[] = {
    {"day", 0x3F7FD8, 0xAED4F4, 0x4E9A48, 0xFFFBE0},   {"dawn", 0x3A4496, 0xF8B48C, 0x4A7A50, 0xFFE8B0},
    {"dusk", 0x28285E, 0xE87858, 0x3A4A3A, 0xFFB070},  {"sunset", 0x5A3278, 0xFFA040, 0x5A4A30, 0xFFE080},
    {"night", 0x070A26, 0x28346A, 0x1E2A30, 0xE8F0FF}, {"storm", 0x2A2E3E, 0x70768A, 0x3A463A, 0xD8E0F0},
    {"mist", 0x94AAC0, 0xDCE2E8, 0x7A8E78, 0xFFFFFF},  {"ember", 0x320A16, 0xDC5028, 0x3A2020, 0xFFB050},
    {"gold", 0x7896DC, 0xFFDC96, 0x6A9A50, 0xFFF4C0},
};

const SkyPalette &FindSky(const std::string &name)
{
    for (const SkyPalette &sky : SKIES) {
        if (name == sky.name) {
            return sky;
        }
    }
    return SKIES[0];
}

// Adds light around a point, fading with distance.
void Glow(Canvas &c, float cx, float cy, float radius, Rgb colour, float strength)
{
    for (int y = std::max(0, (int)(cy - radius)); y < std::min(c.height, (int)(cy + radius)); y++) {
        for (int x = std::max(0, (int)(cx - radius)); x < std::min(c.width, (int)(cx + radius)); x++) {
            const float d = std::hypot(x - cx, y - cy) / radius;
            if (d < 1) {
                c.Blend(x, y, colour, static_cast<int>(255 * strength * (1 - d) * (1 - d)));
            }
        }
    }
}

// Fills everything below the ridge y = ridge(x), smooth at the ridge, shading from `top` to `bottom` over `depth`.
template <typename Ridge> void FillBelow(Canvas &c, Ridge ridge, Rgb top, Rgb bottom, float depth, int yEnd = H)
{
    for (int x = 0; x < c.width; x++) {
        const float r = ridge(static_cast<float>(x));
        for (int y = std::max(0, (int)std::floor(r)); y < yEnd; y++) {
            const float alpha = y == (int)std::floor(r) ? 1 - (r - std::floor(r)) : 1.0f;
            c.Blend(x, y, MixRgb(top, bottom, (y - r) / depth), static_cast<int>(255 * alpha));
        }
    }
}

void DrawSky(Canvas &c, const SkyPalette &sky, float horizon, const Settings &s, uint32_t seed)
{
    VerticalGradient(c, 0, 0, W, (int)horizon, HexRgb(sky.top), HexRgb(sky.horizon));
    FillRect(c, 0, (int)horizon, W, H, HexRgb(sky.horizon));
    Random random(seed);
    for (int i = 0; i < s.Number("stars", 0); i++) {
        const int x = random.Int(0, W - 1), y = random.Int(0, (int)horizon - 20);
        const int bright = random.Int(120, 255);
        c.Blend(x, y, Rgb{255, 255, 255}, bright * (1 - y / horizon));
        if (bright > 240) {
            c.Blend(x + 1, y, Rgb{200, 210, 255}, 120);
            c.Blend(x, y + 1, Rgb{200, 210, 255}, 120);
        }
    }
    const std::vector<float> sun = s.Numbers("sun"), moon = s.Numbers("moon");
    if (sun.size() >= 2) {
        const float size = sun.size() > 2 ? sun[2] : 34;
        Glow(c, sun[0] * W, sun[1] * H, size * 5, HexRgb(sky.light), 0.55f);
        FillEllipse(c, sun[0] * W, sun[1] * H, size, size, HexRgb(sky.light), true);
    }
    if (moon.size() >= 2) {
        const float size = moon.size() > 2 ? moon[2] : 30, mx = moon[0] * W, my = moon[1] * H;
        Glow(c, mx, my, size * 4, HexRgb(0xC8D8FF), 0.35f);
        FillEllipse(c, mx, my, size, size, HexRgb(0xF4F0DC), true);
        FillEllipse(c, mx - size * 0.3f, my + size * 0.2f, size * 0.25f, size * 0.2f, HexRgb(0xD8D2BC), true);
        FillEllipse(c, mx + size * 0.35f, my - size * 0.3f, size * 0.15f, size * 0.15f, HexRgb(0xDCD6C0), true);
    }
    const float clouds = s.Number("clouds", 0);
    if (clouds > 0) {
        const Rgb lit = MixRgb(HexRgb(sky.light), HexRgb(sky.horizon), 0.3f), dark = ScaleRgb(HexRgb(sky.top), 1.4f);
        for (int y = 0; y < (int)horizon; y++) {
            for (int x = 0; x < W; x++) {
                const float n = FractalNoise(x / 90.0f, y / 30.0f, seed + 5, 4);
                const float amount = std::clamp((n - 0.62f + clouds * 0.02f) * 4, 0.0f, 0.85f);
                if (amount > 0) {
                    c.Blend(x, y, MixRgb(lit, dark, std::clamp((n - 0.6f) * 3, 0.0f, 1.0f)), (int)(255 * amount));
                }
            }
        }
    }
}

void DrawMountains(Canvas &c, const SkyPalette &sky, float horizon, int layers, uint32_t seed)
{
    for (int i = 0; i < layers; i++) {
        const float t = (i + 1.0f) / (layers + 1);
        const Rgb colour =
            MixRgb(HexRgb(sky.horizon), MixRgb(HexRgb(sky.top), HexRgb(sky.ground), 0.5f), 0.35f + t * 0.5f);
        const float base = horizon - 10 + i * 12, height = 150 - i * 35.0f;
        const uint32_t layerSeed = seed + 31 * i;
        auto ridge = [&](float x) {
            const float n = FractalNoise(x / (170.0f - i * 30), 0.5f, layerSeed, 5);
            return base - height * (n * n * 1.6f);
        };
        FillBelow(c, ridge, colour, ScaleRgb(colour, 0.85f), 200);
        if (i == 0 && std::string(sky.name) != "ember") { // snow on the farthest range, above a ragged snowline
            const Rgb snow = MixRgb(HexRgb(sky.light), colour, 0.3f);
            for (int x = 0; x < W; x++) {
                const float snowline = base - height * 0.62f + 14 * FractalNoise(x / 12.0f, 3.5f, layerSeed + 1, 2);
                for (int y = (int)ridge((float)x); y < snowline; y++) {
                    c.Blend(x, y, snow, 220);
                }
            }
        }
    }
}

// A castle silhouette standing on y = base, centred at x, `scale` 1 about 260 pixels wide.
void DrawCastle(Canvas &c, float x, float base, float scale, Rgb wall, Rgb window, uint32_t seed)
{
    Random random(seed);
    auto rect = [&](float x0, float y0, float x1, float y1) {
        FillPolygon(c, {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, wall, true);
    };
    const float s = scale;
    rect(x - 110 * s, base - 90 * s, x + 110 * s, base);
    for (float cx = x - 110 * s; cx < x + 110 * s; cx += 16 * s) {
        rect(cx, base - 100 * s, cx + 9 * s, base - 89 * s);
    }
    const float towers[][3] = {{-120, 150, 18}, {-50, 210, 22}, {30, 260, 26}, {110, 170, 18}};
    for (const auto &t : towers) {
        const float tx = x + t[0] * s, top = base - t[1] * s, half = t[2] * s;
        rect(tx - half, top, tx + half, base);
        FillPolygon(c, {{tx - half - 4 * s, top + 1}, {tx, top - half * 2.4f}, {tx + half + 4 * s, top + 1}}, wall,
                    true);
        for (int k = 0; k < 3; k++) {
            if (random.Unit() < 0.7f) {
                const float wy = top + (20 + 34 * k) * s;
                FillPolygon(c, {{tx - 3 * s, wy}, {tx + 3 * s, wy}, {tx + 3 * s, wy + 9 * s}, {tx - 3 * s, wy + 9 * s}},
                            window, true);
            }
        }
        DrawLine(c, tx, top - half * 2.4f, tx, top - half * 2.4f - 16 * s, 1.5f * s, wall, true);
        FillPolygon(c,
                    {{tx, top - half * 2.4f - 16 * s},
                     {tx + 12 * s, top - half * 2.4f - 12 * s},
                     {tx, top - half * 2.4f - 8 * s}},
                    HexRgb(0xB8283C), true);
    }
    FillEllipse(c, x, base - 30 * s, 16 * s, 18 * s, ScaleRgb(wall, 0.6f), true);
    FillPolygon(c, {{x - 16 * s, base - 30 * s}, {x + 16 * s, base - 30 * s}, {x + 16 * s, base}, {x - 16 * s, base}},
                ScaleRgb(wall, 0.6f), true);
}

// A lone tower with the captive's lit window, on y = base.
void DrawTower(Canvas &c, float x, float base, float height, Rgb wall, Rgb window)
{
    const float half = height * 0.11f;
    FillPolygon(
        c, {{x - half * 1.2f, base}, {x - half, base - height}, {x + half, base - height}, {x + half * 1.2f, base}},
        wall, true);
    FillPolygon(c, {{x - half * 1.4f, base - height}, {x, base - height - half * 3}, {x + half * 1.4f, base - height}},
                ScaleRgb(wall, 0.8f), true);
    const float wy = base - height * 0.82f;
    Glow(c, x, wy, half * 3, window, 0.4f);
    FillEllipse(c, x, wy - half * 0.3f, half * 0.45f, half * 0.45f, window, true);
    FillPolygon(c,
                {{x - half * 0.45f, wy - half * 0.3f},
                 {x + half * 0.45f, wy - half * 0.3f},
                 {x + half * 0.45f, wy + half * 0.6f},
                 {x - half * 0.45f, wy + half * 0.6f}},
                window, true);
}

void DrawForest(Canvas &c, float base, Rgb colour, float density, uint32_t seed)
{
    Random random(seed);
    const int count = static_cast<int>(density * 60);
    for (int i = 0; i < count; i++) {
        const float x = random.Range(-20, W + 20), h = random.Range(40, 90), y = base + random.Range(-6, 14);
        const Rgb shade = ScaleRgb(colour, random.Range(0.8f, 1.15f));
        FillPolygon(c, {{x, y - h}, {x + h * 0.28f, y}, {x - h * 0.28f, y}}, shade, true);
        FillPolygon(c, {{x, y - h}, {x + h * 0.12f, y - h * 0.4f}, {x, y - h * 0.35f}}, ScaleRgb(shade, 1.25f), true);
    }
}

void DrawHills(Canvas &c, const SkyPalette &sky, float horizon, int count, uint32_t seed)
{
    for (int i = 0; i < count; i++) {
        const Rgb colour = MixRgb(HexRgb(sky.ground), HexRgb(sky.horizon), 0.45f - i * 0.2f);
        const float base = horizon + 8 + i * 16, phase = seed * 0.37f + i * 2.1f;
        FillBelow(
            c,
            [&](float x) { return base - 26 * std::sin(x / (150.0f + 40 * i) + phase) - 10 * std::sin(x / 53.0f + i); },
            colour, ScaleRgb(colour, 0.85f), 120);
    }
}

void DrawWater(Canvas &c, float top, float bottom, uint32_t seed)
{
    for (int y = (int)top; y < (int)bottom; y++) {
        const int mirror = std::max(0, (int)(2 * top - y));
        for (int x = 0; x < W; x++) {
            const int wobble = static_cast<int>(6 * (ValueNoise(x / 40.0f, y / 3.0f, seed) - 0.5f));
            const Rgb reflected = c.Get(std::clamp(x + wobble, 0, W - 1), mirror);
            c.Plot(x, y,
                   MixRgb(ScaleRgb(reflected, 0.8f), HexRgb(0x1E4A80), 0.25f + 0.3f * (y - top) / (bottom - top)));
        }
    }
    Random random(seed);
    for (int i = 0; i < 40; i++) {
        const float y = random.Range(top + 4, bottom - 2), x = random.Range(0, W), len = random.Range(10, 50);
        DrawLine(c, x, y, x + len, y, 1.2f, HexRgb(0xE8F4FF), true, 90);
    }
}

void DrawGround(Canvas &c, const std::string &kind, const SkyPalette &sky, float top, uint32_t seed)
{
    Rgb near = HexRgb(sky.ground), far = MixRgb(HexRgb(sky.ground), HexRgb(sky.horizon), 0.3f);
    if (kind == "snow") {
        near = HexRgb(0xE4ECF4), far = HexRgb(0xC8D4E4);
    } else if (kind == "sand") {
        near = HexRgb(0xD8B478), far = HexRgb(0xE8CC94);
    } else if (kind == "rock") {
        near = HexRgb(0x5A5060), far = HexRgb(0x7A7080);
    }
    if (std::string(sky.name) == "night" || std::string(sky.name) == "storm") {
        near = ScaleRgb(near, 0.55f), far = ScaleRgb(far, 0.6f);
    }
    for (int y = (int)top; y < H; y++) {
        for (int x = 0; x < W; x++) {
            const float n = FractalNoise(x / 60.0f, y / 14.0f, seed + 9, 3);
            c.Plot(x, y, ScaleRgb(MixRgb(far, near, (y - top) / (H - top)), 0.92f + 0.16f * n));
        }
    }
    if (kind == "road") {
        FillPolygon(c, {{W * 0.46f, top}, {W * 0.54f, top}, {W * 0.8f, (float)H}, {W * 0.2f, (float)H}},
                    MixRgb(HexRgb(0xB89A6A), far, 0.3f), true, 200);
    }
}

// Figures stand with their feet at (x, feet), `size` pixels tall, facing right (or left when mirrored).
void DrawHeroFigure(Canvas &c, float x, float feet, float size, bool left)
{
    const float u = size / 32, d = left ? -1.0f : 1.0f;
    auto p = [&](float px, float py) { return Point{x + d * (px - 16) * u, feet - (32 - py) * u}; };
    FillPolygon(c, {p(12, 13), p(15, 13), p(13, 28), p(5, 29)}, HexRgb(0xB8283C), true);
    FillPolygon(c, {p(12, 22), p(15, 22), p(14, 32), p(11, 32)}, HexRgb(0x3B3E5C), true);
    FillPolygon(c, {p(16, 22), p(19, 22), p(21, 32), p(18, 32)}, HexRgb(0x3B3E5C), true);
    FillPolygon(c, {p(11, 13), p(20, 13), p(21, 24), p(10, 24)}, HexRgb(0x3568D4), true);
    FillPolygon(c, {p(11, 19), p(21, 19), p(21, 21), p(11, 21)}, HexRgb(0x7A4A26), true);
    const Point head = p(16.5f, 8.5f);
    FillEllipse(c, head.x, head.y, 4.6f * u, 4.8f * u, HexRgb(0xF2C49B), true);
    FillPolygon(c, {p(11, 5), p(16, 2), p(21, 4), p(20, 7), p(14, 7), p(13, 12), p(11, 11)}, HexRgb(0xD9A441), true);
    const Point hand = p(22, 20), tip = p(30, 4);
    DrawLine(c, p(17, 15).x, p(17, 15).y, hand.x, hand.y, 3 * u, HexRgb(0x24449A), true);
    DrawLine(c, hand.x, hand.y, tip.x, tip.y, 2 * u, HexRgb(0xE0E8F4), true);
}

void DrawCaptiveFigure(Canvas &c, float x, float feet, float size, bool left)
{
    const float u = size / 32, d = left ? -1.0f : 1.0f;
    auto p = [&](float px, float py) { return Point{x + d * (px - 16) * u, feet - (32 - py) * u}; };
    FillPolygon(c, {p(12, 6), p(20, 6), p(22, 24), p(10, 26)}, HexRgb(0xC8B8E8), true);  // long hair behind
    FillPolygon(c, {p(13, 12), p(19, 12), p(25, 32), p(7, 32)}, HexRgb(0xF4F0FA), true); // gown
    FillPolygon(c, {p(13, 12), p(19, 12), p(20, 18), p(12, 18)}, HexRgb(0xD8C8F0), true);
    const Point head = p(16, 8);
    FillEllipse(c, head.x, head.y, 4.2f * u, 4.6f * u, HexRgb(0xF6D2B4), true);
    FillPolygon(c, {p(11, 6), p(16, 2.5f), p(21, 6), p(20, 9), p(12, 9)}, HexRgb(0xDCCCF4), true);
    FillEllipse(c, p(16, 3).x, p(16, 3).y, 2 * u, 1 * u, HexRgb(0xF2C641), true); // circlet
    DrawLine(c, p(18, 14).x, p(18, 14).y, p(22, 9).x, p(22, 9).y, 1.6f * u, HexRgb(0xF6D2B4), true);
}

void DrawLordFigure(Canvas &c, float x, float feet, float size, bool left)
{
    const float u = size / 32, d = left ? -1.0f : 1.0f;
    auto p = [&](float px, float py) { return Point{x + d * (px - 16) * u, feet - (32 - py) * u}; };
    FillPolygon(c, {p(10, 10), p(22, 10), p(30, 32), p(2, 32)}, HexRgb(0x5A1028), true);
    FillPolygon(c, {p(12, 10), p(20, 10), p(21, 32), p(11, 32)}, HexRgb(0x34384C), true);
    FillEllipse(c, p(16, 7).x, p(16, 7).y, 4 * u, 4.5f * u, HexRgb(0x34384C), true);
    FillPolygon(c, {p(12, 4), p(13, 0), p(15, 3), p(16, -1), p(17, 3), p(19, 0), p(20, 4)}, HexRgb(0xE6B84A), true);
    FillEllipse(c, p(18, 7).x, p(18, 7).y, 1 * u, 0.6f * u, HexRgb(0xFF5A3C), true);
}

void DrawFigures(Canvas &c, const Settings &s, float feet)
{
    std::stringstream in(s.Text("figures"));
    for (std::string item; std::getline(in, item, ',');) {
        const size_t at = item.find('@');
        if (at == std::string::npos) {
            continue;
        }
        const std::string who = item.substr(0, at);
        const float x = std::strtof(item.c_str() + at + 1, nullptr) * W;
        const float size = s.Number("figure-size", 110);
        const bool left = who.back() == '<';
        const std::string name = left ? who.substr(0, who.size() - 1) : who;
        if (name == "hero") {
            DrawHeroFigure(c, x, feet, size, left);
        } else if (name == "captive") {
            DrawCaptiveFigure(c, x, feet, size, left);
        } else if (name == "lord") {
            DrawLordFigure(c, x, feet, size * 1.3f, left);
        }
    }
}

// Interiors: back wall of stone, a window onto the sky, pillars, torches, bars, a throne, hanging banners.
void DrawInterior(Canvas &c, const Settings &s, const SkyPalette &sky, uint32_t seed)
{
    const Rgb wall = HexRgb(static_cast<uint32_t>(std::stoul(s.Text("wall", "5A5470"), nullptr, 16)));
    const float floorTop = 330;
    for (int y = 0; y < (int)floorTop; y++) {
        for (int x = 0; x < W; x++) {
            const int row = y / 40, bx = (x + (row % 2) * 40) % 80, by = y % 40;
            const float n = FractalNoise(x / 30.0f, y / 30.0f, seed + 3, 3);
            Rgb stone = ScaleRgb(wall, 0.85f + 0.3f * n);
            if (by < 2 || bx < 2) {
                stone = ScaleRgb(wall, 0.6f);
            }
            c.Plot(x, y, stone);
        }
    }
    if (s.Has("window")) { // an arched window showing the sky
        const float wx = s.Number("window", 0.5f) * W, top = 70, bottom = 250, half = 60;
        Canvas view(W, H);
        DrawSky(view, sky, bottom + 30, s, seed + 1);
        DrawMountains(view, sky, bottom + 20, 2, seed + 2);
        for (int y = (int)(top - half); y < (int)bottom; y++) {
            for (int x = (int)(wx - half); x < (int)(wx + half); x++) {
                const bool inArch = y >= top || std::hypot(x - wx, y - top) < half;
                if (inArch) {
                    c.Plot(x, y, view.Get(x, y));
                }
            }
        }
        FillRect(c, (int)wx - 3, (int)(top - half), (int)wx + 3, (int)bottom, ScaleRgb(wall, 0.5f));
        FillRect(c, (int)(wx - half), 150, (int)(wx + half), 156, ScaleRgb(wall, 0.5f));
        FillRect(c, (int)(wx - half - 10), (int)bottom, (int)(wx + half + 10), (int)bottom + 12, ScaleRgb(wall, 1.2f));
        Glow(c, wx, bottom + 60, 160, HexRgb(sky.light), 0.18f);
    }
    if (s.Has("banners")) {
        for (float bx : {0.2f, 0.8f}) {
            const float x = bx * W;
            FillPolygon(c, {{x - 30, 20}, {x + 30, 20}, {x + 30, 190}, {x, 170}, {x - 30, 190}}, HexRgb(0x9C1F36),
                        true);
            FillPolygon(c, {{x - 12, 70}, {x + 12, 70}, {x, 100}}, HexRgb(0xE6B84A), true);
        }
    }
    for (int i = 0; i < s.Number("torches", 0); i++) {
        const float x = (i + 0.5f) / s.Number("torches", 1) * W, y = 170;
        Glow(c, x, y, 110, HexRgb(0xFFB050), 0.45f);
        FillPolygon(c, {{x - 8, y}, {x + 8, y}, {x + 4, y + 20}, {x - 4, y + 20}}, HexRgb(0x4E4A5A), true);
        FillPolygon(c, {{x - 7, y}, {x, y - 26}, {x + 7, y}}, HexRgb(0xFF8A3A), true);
        FillPolygon(c, {{x - 3, y}, {x, y - 14}, {x + 3, y}}, HexRgb(0xFFE08A), true);
    }
    // floor
    const Rgb floorNear = ScaleRgb(wall, 0.55f), floorFar = ScaleRgb(wall, 0.8f);
    for (int y = (int)floorTop; y < H; y++) {
        for (int x = 0; x < W; x++) {
            c.Plot(x, y, MixRgb(floorFar, floorNear, (y - floorTop) / (H - floorTop)));
        }
    }
    FillRect(c, 0, (int)floorTop, W, (int)floorTop + 4, ScaleRgb(wall, 0.45f));
    if (s.Has("pillars")) {
        for (float px : {0.07f, 0.93f}) {
            const float x = px * W;
            FillRect(c, (int)x - 30, 0, (int)x + 30, (int)floorTop + 20, ScaleRgb(wall, 1.15f));
            FillRect(c, (int)x - 30, 0, (int)x - 18, (int)floorTop + 20, ScaleRgb(wall, 1.35f));
            FillRect(c, (int)x + 20, 0, (int)x + 30, (int)floorTop + 20, ScaleRgb(wall, 0.8f));
            FillRect(c, (int)x - 38, (int)floorTop + 10, (int)x + 38, (int)floorTop + 28, ScaleRgb(wall, 1.0f));
        }
    }
    if (s.Has("throne")) {
        const float x = s.Number("throne", 0.5f) * W;
        FillPolygon(c, {{x - 50, 330}, {x - 40, 120}, {x, 90}, {x + 40, 120}, {x + 50, 330}}, HexRgb(0x7A1830), true);
        FillPolygon(c, {{x - 36, 330}, {x - 30, 140}, {x + 30, 140}, {x + 36, 330}}, HexRgb(0xB8283C), true);
        FillRect(c, (int)x - 60, 300, (int)x + 60, 336, HexRgb(0xC89A3A));
    }
    if (s.Has("bars")) {
        for (int x = 30; x < W; x += 46) {
            FillRect(c, x, 0, x + 9, (int)floorTop + 10, HexRgb(0x3A3E50));
            FillRect(c, x + 1, 0, x + 3, (int)floorTop + 10, HexRgb(0x7A8096));
        }
        FillRect(c, 0, 60, W, 72, HexRgb(0x3A3E50));
    }
}

// Title lettering: large pixel letters with a gold fall of colour, a dark edge and a drop shadow.
void DrawTitle(Canvas &c, const std::string &text, int y, int scale)
{
    const int x = (W - TextWidth(text, scale)) / 2;
    Canvas letters(W, H);
    DrawText(letters, x, y, text, scale, Rgb{255, 255, 255});
    for (int py = 0; py < H; py++) {
        for (int px = 0; px < W; px++) {
            if (letters.Cover(px, py)) {
                const float t = float(py - y) / (7 * scale);
                letters.At(px, py) = MixRgb(HexRgb(0xFFF4B0), HexRgb(0xD8801E), t);
                if ((px - x) % scale == 0 || (py - y) % scale == 0) {
                    letters.At(px, py) = ScaleRgb(letters.At(px, py), 1.08f);
                }
            }
        }
    }
    Canvas shadow = letters;
    for (Rgb &p : shadow.pixels) {
        p = HexRgb(0x1A1030);
    }
    Outline(letters, HexRgb(0x5A2A10));
    Outline(letters, HexRgb(0x2A1408));
    Stamp(c, shadow, 6, 6);
    Stamp(c, letters, 0, 0);
}

// Smooths the text window's area (two passes of a box blur), fading out over a margin, so that the window's text
// stays easy to read.
void CalmWindowArea(Canvas &c)
{
    const int margin = 24, radius = 8;
    const int x0 = WINDOW_X0 - margin, x1 = WINDOW_X1 + margin, y0 = WINDOW_Y0 - margin,
              y1 = std::min(H, WINDOW_Y1 + margin);
    Canvas blurred = c;
    for (int pass = 0; pass < 4; pass++) {
        const Canvas source = blurred;
        const bool across = pass % 2 == 0;
        for (int y = y0; y < y1; y++) {
            for (int x = x0; x < x1; x++) {
                int sum[3] = {0, 0, 0};
                for (int k = -radius; k <= radius; k++) {
                    const Rgb p = across ? source.Get(std::clamp(x + k, 0, W - 1), y)
                                         : source.Get(x, std::clamp(y + k, 0, H - 1));
                    sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
                }
                const int n = 2 * radius + 1;
                blurred.At(x, y) = Rgb{uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)};
            }
        }
    }
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            const int inside = std::min(std::min(x - x0, x1 - x), std::min(y - y0, (WINDOW_Y1 + margin) - y));
            c.At(x, y) = MixRgb(c.Get(x, y), blurred.Get(x, y), std::clamp(inside / float(margin), 0.0f, 1.0f));
        }
    }
}

// A soft vignette that frames the scene.
void Finish(Canvas &c)
{
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            const float dx = (x - W / 2.0f) / W, dy = (y - H / 2.0f) / H;
            c.At(x, y) = ScaleRgb(c.Get(x, y), 1 - 0.5f * (dx * dx + dy * dy));
        }
    }
}

} // namespace

std::string PaintPicture(const PictureRecipe &recipe, Canvas &c)
{
    const Settings s{recipe.settings};
    const uint32_t seed = static_cast<uint32_t>(s.Number("seed", static_cast<float>(recipe.id)));
    const SkyPalette &sky = FindSky(s.Text("sky", "day"));
    const float horizon = s.Number("horizon", 300);
    if (s.Has("interior")) {
        DrawInterior(c, s, sky, seed);
    } else {
        DrawSky(c, sky, horizon, s, seed);
        DrawMountains(c, sky, horizon, static_cast<int>(s.Number("mountains", 0)), seed);
        const std::vector<float> castle = s.Numbers("castle");
        const Rgb silhouette = MixRgb(HexRgb(sky.top), HexRgb(0x101018), 0.5f);
        if (castle.size() >= 2) {
            DrawCastle(c, castle[0] * W, horizon + 6, castle[1], silhouette, HexRgb(0xFFD870), seed);
        }
        const std::vector<float> tower = s.Numbers("tower");
        if (tower.size() >= 2) {
            DrawTower(c, tower[0] * W, horizon + 10, tower[1], silhouette, HexRgb(0xFFD870));
        }
        DrawHills(c, sky, horizon, static_cast<int>(s.Number("hills", 0)), seed);
        if (s.Has("forest")) {
            DrawForest(c, horizon + 12, MixRgb(HexRgb(sky.ground), HexRgb(0x102018), 0.5f), s.Number("forest", 0.5f),
                       seed);
        }
        if (s.Has("lake")) {
            DrawWater(c, horizon + 20, s.Number("lake", 360), seed);
            DrawGround(c, s.Text("ground", "grass"), sky, s.Number("lake", 360), seed);
        } else {
            DrawGround(c, s.Text("ground", "grass"), sky, horizon + 30, seed);
        }
    }
    DrawFigures(c, s, s.Number("feet", 345));
    if (s.Has("rain")) {
        Random random(seed + 3);
        for (int i = 0; i < 500; i++) {
            const float x = random.Range(0, W + 100), y = random.Range(0, H);
            DrawLine(c, x, y, x - 8, y + 22, 1, HexRgb(0xC8D4E8), true, 90);
        }
    }
    if (s.Has("mist")) {
        for (int y = 0; y < H; y++) {
            for (int x = 0; x < W; x++) {
                const float n = FractalNoise(x / 120.0f, y / 25.0f, seed + 13, 3);
                const float band = std::exp(-std::pow((y - s.Number("mist", 320)) / 60.0f, 2.0f));
                c.Blend(x, y, HexRgb(0xE8ECF0), static_cast<int>(170 * band * n));
            }
        }
    }
    if (s.Has("title")) {
        DrawTitle(c, s.Text("title"), 70, 11);
        const std::string subtitle = "THE CAPTIVE SORANELLA";
        Canvas line(W, H);
        DrawText(line, (W - TextWidth(subtitle, 2)) / 2, 180, subtitle, 2, HexRgb(0xE8ECFF));
        Outline(line, HexRgb(0x1A1838));
        Stamp(c, line, 0, 0);
    }
    Finish(c);
    if (!s.Has("title")) {
        CalmWindowArea(c);
    }
    return "";
}

void PaintThumbnail(const Canvas &picture, int stage, Canvas &cell)
{
    const int fx = picture.width / cell.width, fy = picture.height / cell.height;
    for (int y = 0; y < cell.height; y++) {
        for (int x = 0; x < cell.width; x++) {
            int sum[3] = {0, 0, 0};
            for (int sy = 0; sy < fy; sy++) {
                for (int sx = 0; sx < fx; sx++) {
                    const Rgb p = picture.Get(x * fx + sx, y * fy + sy);
                    sum[0] += p.r, sum[1] += p.g, sum[2] += p.b;
                }
            }
            const int n = fx * fy;
            cell.Plot(x, y, Rgb{uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)});
        }
    }
    Bevel(cell, 0, 0, cell.width, cell.height, 2, HexRgb(0xE6B84A), HexRgb(0x5A3A14));
    FillRect(cell, 4, 4, 20, 20, HexRgb(0x23306E));
    DrawText(cell, 8, 7, std::to_string(stage + 1), 1, HexRgb(0xFFFFFF), false);
}

void PaintLockedThumbnail(Canvas &cell)
{
    for (int y = 0; y < cell.height; y++) {
        for (int x = 0; x < cell.width; x++) {
            const float n = FractalNoise(x / 12.0f, y / 12.0f, 201, 3);
            cell.Plot(x, y, MixRgb(HexRgb(0x26243A), HexRgb(0x3E3A58), n));
        }
    }
    const float cx = cell.width / 2.0f, cy = cell.height / 2.0f + 8;
    FillEllipse(cell, cx, cy - 18, 14, 14, HexRgb(0x9CA4B8), true);
    FillEllipse(cell, cx, cy - 18, 8, 8, HexRgb(0x32304A), true);
    FillRect(cell, (int)cx - 22, (int)cy - 16, (int)cx + 22, (int)cy + 20, HexRgb(0xD8A83A));
    FillRect(cell, (int)cx - 22, (int)cy - 16, (int)cx + 22, (int)cy - 12, HexRgb(0xF4D47A));
    FillEllipse(cell, cx, cy, 4, 4, HexRgb(0x4A3414), true);
    FillRect(cell, (int)cx - 2, (int)cy, (int)cx + 2, (int)cy + 10, HexRgb(0x4A3414));
    Bevel(cell, 0, 0, cell.width, cell.height, 2, HexRgb(0x6A6480), HexRgb(0x16142A));
}
