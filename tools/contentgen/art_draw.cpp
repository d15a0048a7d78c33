// Drawing for the art painters: the canvas, filled shapes with optional smooth edges, outlines, seeded randomness,
// value noise and the project's two pixel fonts. Build machine only, single-threaded.
#include "art.h"

#include <algorithm>
#include <cmath>

Rgb MixRgb(Rgb a, Rgb b, float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    auto mix = [t](uint8_t p, uint8_t q) { return static_cast<uint8_t>(std::lround(p + (q - p) * t)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

Rgb ScaleRgb(Rgb c, float factor)
{
    auto scale = [factor](uint8_t v) { return static_cast<uint8_t>(std::clamp(std::lround(v * factor), 0L, 255L)); };
    return {scale(c.r), scale(c.g), scale(c.b)};
}

Rgb HexRgb(uint32_t hex)
{
    return {static_cast<uint8_t>(hex >> 16), static_cast<uint8_t>(hex >> 8), static_cast<uint8_t>(hex)};
}

Canvas::Canvas(int w, int h)
    : width(w), height(h), pixels(static_cast<size_t>(w) * h), cover(static_cast<size_t>(w) * h, 0)
{
}

void Canvas::Blend(int x, int y, Rgb c, int alpha)
{
    if (!Inside(x, y) || alpha <= 0) {
        return;
    }
    const size_t i = static_cast<size_t>(y) * width + x;
    if (alpha >= 255 || cover[i] == 0) {
        pixels[i] = c;
    } else {
        pixels[i] = MixRgb(pixels[i], c, alpha / 255.0f);
    }
    cover[i] = static_cast<uint8_t>(std::max<int>(cover[i], std::min(alpha, 255)));
}

void FillRect(Canvas &canvas, int x0, int y0, int x1, int y1, Rgb c)
{
    for (int y = std::max(y0, 0); y < std::min(y1, canvas.height); y++) {
        for (int x = std::max(x0, 0); x < std::min(x1, canvas.width); x++) {
            canvas.Plot(x, y, c);
        }
    }
}

void FillEllipse(Canvas &canvas, float cx, float cy, float rx, float ry, Rgb c, bool smooth, int alpha)
{
    if (rx <= 0 || ry <= 0) {
        return;
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(cx - rx)) - 1);
    const int x1 = std::min(canvas.width - 1, static_cast<int>(std::ceil(cx + rx)) + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(cy - ry)) - 1);
    const int y1 = std::min(canvas.height - 1, static_cast<int>(std::ceil(cy + ry)) + 1);
    auto inside = [&](float px, float py) {
        const float dx = (px - cx) / rx, dy = (py - cy) / ry;
        return dx * dx + dy * dy <= 1.0f;
    };
    for (int y = y0; y <= y1; y++) {
        for (int x = x0; x <= x1; x++) {
            if (!smooth) {
                if (inside(x + 0.5f, y + 0.5f)) {
                    canvas.Blend(x, y, c, alpha);
                }
                continue;
            }
            int hits = 0;
            for (int s = 0; s < 16; s++) {
                hits += inside(x + (s % 4 + 0.5f) / 4, y + (s / 4 + 0.5f) / 4);
            }
            canvas.Blend(x, y, c, alpha * hits / 16);
        }
    }
}

// Scanline fill, even-odd; `samples` sub-rows per pixel row, each adding exact horizontal span coverage.
void FillPolygon(Canvas &canvas, const std::vector<Point> &points, Rgb c, bool smooth, int alpha)
{
    if (points.size() < 3) {
        return;
    }
    float top = points[0].y, bottom = points[0].y;
    for (const Point &p : points) {
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    const int samples = smooth ? 4 : 1;
    std::vector<float> row(static_cast<size_t>(canvas.width) + 1);
    std::vector<float> crossings;
    for (int y = std::max(0, static_cast<int>(std::floor(top))); y <= std::min(canvas.height - 1, (int)bottom); y++) {
        std::fill(row.begin(), row.end(), 0.0f);
        bool any = false;
        for (int s = 0; s < samples; s++) {
            const float sy = y + (s + 0.5f) / samples;
            crossings.clear();
            for (size_t i = 0; i < points.size(); i++) {
                const Point a = points[i], b = points[(i + 1) % points.size()];
                if ((a.y <= sy && b.y > sy) || (b.y <= sy && a.y > sy)) {
                    crossings.push_back(a.x + (sy - a.y) * (b.x - a.x) / (b.y - a.y));
                }
            }
            std::sort(crossings.begin(), crossings.end());
            for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
                float xa = std::max(crossings[i], 0.0f), xb = std::min(crossings[i + 1], (float)canvas.width);
                if (!smooth) { // pixel centres inside the span
                    xa = std::ceil(xa - 0.5f);
                    xb = std::ceil(xb - 0.5f);
                }
                for (int x = static_cast<int>(std::floor(xa)); x < xb && x < canvas.width; x++) {
                    const float part = std::min(xb, x + 1.0f) - std::max(xa, (float)x);
                    if (part > 0) {
                        row[x] += part / samples;
                        any = true;
                    }
                }
            }
        }
        if (!any) {
            continue;
        }
        for (int x = 0; x < canvas.width; x++) {
            if (row[x] > 0.001f) {
                canvas.Blend(x, y, c, static_cast<int>(std::lround(alpha * std::min(row[x], 1.0f))));
            }
        }
    }
}

void DrawLine(Canvas &canvas, float x0, float y0, float x1, float y1, float width, Rgb c, bool smooth, int alpha)
{
    const float length = std::hypot(x1 - x0, y1 - y0);
    if (length <= 0) {
        FillEllipse(canvas, x0, y0, width / 2, width / 2, c, smooth, alpha);
        return;
    }
    const float nx = -(y1 - y0) / length * width / 2, ny = (x1 - x0) / length * width / 2;
    FillPolygon(canvas, {{x0 + nx, y0 + ny}, {x1 + nx, y1 + ny}, {x1 - nx, y1 - ny}, {x0 - nx, y0 - ny}}, c, smooth,
                alpha);
}

void Bevel(Canvas &canvas, int x0, int y0, int x1, int y1, int thickness, Rgb light, Rgb dark)
{
    FillRect(canvas, x0, y0, x1, y0 + thickness, light);
    FillRect(canvas, x0, y1 - thickness, x1, y1, dark);
    FillRect(canvas, x0, y0, x0 + thickness, y1 - thickness, light);
    FillRect(canvas, x1 - thickness, y0 + thickness, x1, y1, dark);
}

void VerticalGradient(Canvas &canvas, int x0, int y0, int x1, int y1, Rgb top, Rgb bottom)
{
    for (int y = std::max(y0, 0); y < std::min(y1, canvas.height); y++) {
        const Rgb c = MixRgb(top, bottom, y1 - y0 > 1 ? float(y - y0) / float(y1 - y0 - 1) : 0.0f);
        for (int x = std::max(x0, 0); x < std::min(x1, canvas.width); x++) {
            canvas.Plot(x, y, c);
        }
    }
}

void Outline(Canvas &canvas, Rgb c)
{
    const std::vector<uint8_t> mask = canvas.cover;
    auto covered = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < canvas.width && y < canvas.height && mask[(size_t)y * canvas.width + x];
    };
    for (int y = 0; y < canvas.height; y++) {
        for (int x = 0; x < canvas.width; x++) {
            if (!covered(x, y) && (covered(x - 1, y) || covered(x + 1, y) || covered(x, y - 1) || covered(x, y + 1))) {
                canvas.Plot(x, y, c);
            }
        }
    }
}

void ShadeSprite(Canvas &canvas)
{
    const std::vector<uint8_t> mask = canvas.cover;
    auto covered = [&](int x, int y) { return canvas.Inside(x, y) && mask[(size_t)y * canvas.width + x]; };
    for (int y = 0; y < canvas.height; y++) {
        const float band = 1.08f - 0.16f * (4 * y / canvas.height) / 3.0f;
        for (int x = 0; x < canvas.width; x++) {
            if (!covered(x, y)) {
                continue;
            }
            const float rim = !covered(x, y - 1) ? 1.2f : !covered(x, y + 1) ? 0.78f : 1.0f;
            canvas.At(x, y) = ScaleRgb(canvas.Get(x, y), band * rim);
        }
    }
}

void ShiftCanvas(Canvas &canvas, int dy)
{
    Canvas moved(canvas.width, canvas.height);
    for (int y = 0; y < canvas.height; y++) {
        for (int x = 0; x < canvas.width && moved.Inside(x, y + dy); x++) {
            if (canvas.Cover(x, y)) {
                moved.Blend(x, y + dy, canvas.Get(x, y), canvas.Cover(x, y));
            }
        }
    }
    canvas = moved;
}

void Stamp(Canvas &target, const Canvas &source, int x, int y)
{
    for (int sy = 0; sy < source.height; sy++) {
        for (int sx = 0; sx < source.width; sx++) {
            if (source.Cover(sx, sy)) {
                target.Blend(x + sx, y + sy, source.Get(sx, sy), source.Cover(sx, sy));
            }
        }
    }
}

uint32_t Random::Next()
{
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<uint32_t>((state * 0x2545F4914F6CDD1Dull) >> 32);
}

float Random::Unit()
{
    return (Next() >> 8) / 16777216.0f;
}

int Random::Int(int lo, int hi)
{
    return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1));
}

static float LatticeValue(int x, int y, uint32_t seed)
{
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / 16777215.0f;
}

float ValueNoise(float x, float y, uint32_t seed, int period)
{
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const float fx = x - xi, fy = y - yi;
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto at = [&](int px, int py) {
        if (period > 0) {
            px = ((px % period) + period) % period;
            py = ((py % period) + period) % period;
        }
        return LatticeValue(px, py, seed);
    };
    const float top = at(xi, yi) + (at(xi + 1, yi) - at(xi, yi)) * sx;
    const float bottom = at(xi, yi + 1) + (at(xi + 1, yi + 1) - at(xi, yi + 1)) * sx;
    return top + (bottom - top) * sy;
}

float FractalNoise(float x, float y, uint32_t seed, int octaves, int period)
{
    float sum = 0, weight = 0, amplitude = 1;
    for (int i = 0; i < octaves; i++) {
        sum += ValueNoise(x, y, seed + i * 101, period) * amplitude;
        weight += amplitude;
        amplitude *= 0.5f;
        x *= 2;
        y *= 2;
        period *= 2;
    }
    return sum / weight;
}

// Glyph rows as strings: '#' set. 5x7 for the large font, 3x5 for the small one.
struct Glyph {
    char c;
    const char *rows;
};
static const Glyph LARGE_GLYPHS[] = {
    {'A', ".###.#...##...#######...##...##...#"}, {'B', "####.#...##...#####.#...##...#####."},
    {'C', ".###.#...##....#....#....#...#.###."}, {'D', "####.#...##...##...##...##...#####."},
    {'E', "######....#....####.#....#....#####"}, {'F', "######....#....####.#....#....#...."},
    {'G', ".###.#...##....#.####...##...#.####"}, {'H', "#...##...##...#######...##...##...#"},
    {'I', ".###...#....#....#....#....#...###."}, {'J', "..###...#....#....#.#..#.#..#..##.."},
    {'K', "#...##..#.#.#..##...#.#..#..#.#...#"}, {'L', "#....#....#....#....#....#....#####"},
    {'M', "#...###.###.#.##.#.##...##...##...#"}, {'N', "#...##...###..##.#.##..###...##...#"},
    {'O', ".###.#...##...##...##...##...#.###."}, {'P', "####.#...##...#####.#....#....#...."},
    {'Q', ".###.#...##...##...##.#.##..#..##.#"}, {'R', "####.#...##...#####.#.#..#..#.#...#"},
    {'S', ".#####....#.....###.....#....#####."}, {'T', "#####..#....#....#....#....#....#.."},
    {'U', "#...##...##...##...##...##...#.###."}, {'V', "#...##...##...##...##...#.#.#...#.."},
    {'W', "#...##...##...##.#.##.#.##.#.#.#.#."}, {'X', "#...##...#.#.#...#...#.#.#...##...#"},
    {'Y', "#...##...#.#.#...#....#....#....#.."}, {'Z', "#####....#...#...#...#...#....#####"},
    {'0', ".###.#...##..###.#.###..##...#.###."}, {'1', "..#...##....#....#....#....#...###."},
    {'2', ".###.#...#....#...#...#...#...#####"}, {'3', "#####...#...#.....#.....##...#.###."},
    {'4', "...#...##..#.#.#..#.#####...#....#."}, {'5', "######....####.....#....##...#.###."},
    {'6', "..##..#...#....####.#...##...#.###."}, {'7', "#####....#...#...#...#....#....#..."},
    {'8', ".###.#...##...#.###.#...##...#.###."}, {'9', ".###.#...##...#.####....#...#..##.."},
    {'-', "...............#####..............."}, {'!', "..#....#....#....#....#.........#.."},
    {'?', ".###.#...#....#...#...#.........#.."}, {'.', "................................#.."},
    {':', ".......#..............#............"}, {' ', "..................................."},
};
static const Glyph SMALL_GLYPHS[] = {
    {'0', "####.##.##.####"}, {'1', ".#.##..#..#.###"}, {'2', "###..#####..###"}, {'3', "###..#.##..####"},
    {'4', "#.##.####..#..#"}, {'5', "####..###..####"}, {'6', "####..####.####"}, {'7', "###..#.#..#..#."},
    {'8', "####.#####.####"}, {'9', "####.####..####"}, {'A', "####.#####.##.#"}, {'C', "####..#..#..###"},
    {'E', "####..##.#..###"}, {'G', "####..#.##.####"}, {'H', "#.##.#####.##.#"}, {'I', "###.#..#..#.###"},
    {'L', "#..#..#..#..###"}, {'N', "##.#.##.##.##.#"}, {'O', "####.##.##.####"}, {'P', "####.#####..#.."},
    {'R', "####.###.#.##.#"}, {'S', "####..###..####"}, {'T', "###.#..#..#..#."}, {' ', "..............."},
};

static const char *FindGlyph(char c, bool small)
{
    if (small) {
        for (const Glyph &g : SMALL_GLYPHS) {
            if (g.c == c) {
                return g.rows;
            }
        }
        return nullptr;
    }
    for (const Glyph &g : LARGE_GLYPHS) {
        if (g.c == c) {
            return g.rows;
        }
    }
    return nullptr;
}

int TextWidth(const std::string &text, int scale, bool small)
{
    const int advance = (small ? 4 : 6) * scale;
    return text.empty() ? 0 : static_cast<int>(text.size()) * advance - scale;
}

void DrawText(Canvas &canvas, int x, int y, const std::string &text, int scale, Rgb c, bool small)
{
    const int w = small ? 3 : 5, h = small ? 5 : 7;
    for (char ch : text) {
        const char *rows = FindGlyph(ch, small);
        for (int gy = 0; rows && gy < h; gy++) {
            for (int gx = 0; gx < w; gx++) {
                const size_t at = static_cast<size_t>(gy) * w + gx;
                if (at < std::char_traits<char>::length(rows) && rows[at] == '#') {
                    FillRect(canvas, x + gx * scale, y + gy * scale, x + (gx + 1) * scale, y + (gy + 1) * scale, c);
                }
            }
        }
        x += (w + 1) * scale;
    }
}

uint16_t To565(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

bool TurnsBlack565(uint8_t r, uint8_t g, uint8_t b)
{
    return To565(r, g, b) == 0;
}
