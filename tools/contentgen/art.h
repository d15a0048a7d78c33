// The art half of the content generator, shared by its files: a drawing canvas with coverage, the shapes, noise and
// pixel fonts the painters use, the cell-role map read from content/art/cell_roles.txt, the picture list read from
// content/art/pictures.txt, and the painters and checks. Build machine only, single-threaded.
#pragma once

#include "content.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

Rgb MixRgb(Rgb a, Rgb b, float t); // t 0 gives a, 1 gives b
Rgb ScaleRgb(Rgb c, float factor);
Rgb HexRgb(uint32_t hex); // 0xRRGGBB

// A picture being painted: colours plus a coverage byte per pixel (0 transparent, 255 covered). Sprites are painted
// crisp and keyed later; full-screen pictures cover every pixel.
struct Canvas {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    std::vector<uint8_t> cover;

    Canvas(int w, int h);
    bool Inside(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    Rgb &At(int x, int y)
    {
        return pixels[static_cast<size_t>(y) * width + x];
    }
    Rgb Get(int x, int y) const
    {
        return pixels[static_cast<size_t>(y) * width + x];
    }
    uint8_t Cover(int x, int y) const
    {
        return Inside(x, y) ? cover[static_cast<size_t>(y) * width + x] : 0;
    }
    void Blend(int x, int y, Rgb c, int alpha); // alpha 0..255; coverage grows to at least alpha
    void Plot(int x, int y, Rgb c)
    {
        Blend(x, y, c, 255);
    }
};

struct Point {
    float x, y;
};

// Shapes. `smooth` gives edge coverage from 4x4 samples (pictures); without it a pixel is in when its centre is
// (sprites, which must stay crisp).
void FillRect(Canvas &canvas, int x0, int y0, int x1, int y1, Rgb c); // right and bottom exclusive
void FillEllipse(Canvas &canvas, float cx, float cy, float rx, float ry, Rgb c, bool smooth = false, int alpha = 255);
void FillPolygon(Canvas &canvas, const std::vector<Point> &points, Rgb c, bool smooth = false, int alpha = 255);
void DrawLine(Canvas &canvas, float x0, float y0, float x1, float y1, float width, Rgb c, bool smooth = false,
              int alpha = 255);
// A raised frame `thickness` pixels wide inside the rectangle: light above and left, dark below and right.
void Bevel(Canvas &canvas, int x0, int y0, int x1, int y1, int thickness, Rgb light, Rgb dark);
void VerticalGradient(Canvas &canvas, int x0, int y0, int x1, int y1, Rgb top, Rgb bottom);
// A one-pixel outline on every uncovered pixel that touches a covered one (4-neighbourhood).
void Outline(Canvas &canvas, Rgb c);
// Pixel-art shading of a painted sprite: a lit rim where the pixel above is empty, a shaded rim where the pixel
// below is, and four bands of light from top to bottom.
void ShadeSprite(Canvas &canvas);
// Moves the picture down by `dy` pixels (up when negative); what leaves the canvas is lost.
void ShiftCanvas(Canvas &canvas, int dy);
// Copies `source` onto `target` at (x, y) where the source is covered.
void Stamp(Canvas &target, const Canvas &source, int x, int y);

// Deterministic randomness: one generator per picture or cell, seeded from the data files.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
    }
    uint32_t Next();
    float Unit(); // 0 <= value < 1
    float Range(float lo, float hi)
    {
        return lo + (hi - lo) * Unit();
    }
    int Int(int lo, int hi); // lo..hi inclusive
};

// Smooth value noise in 0..1; `period` (cells) makes it repeat across x and y, 0 for none.
float ValueNoise(float x, float y, uint32_t seed, int period = 0);
float FractalNoise(float x, float y, uint32_t seed, int octaves, int period = 0);

// Pixel fonts of the project's own: 5x7 letters and digits, and 3x5 digits and letters for small labels.
int TextWidth(const std::string &text, int scale, bool small = false);
void DrawText(Canvas &canvas, int x, int y, const std::string &text, int scale, Rgb c, bool small = false);

// The cell-role map: one entry per line of content/art/cell_roles.txt, covering a block of cells.
struct CellRole {
    int sheet = 0;                                 // 102, 103 or 104
    int first = 0;                                 // top-left cell of the block
    int columns = 1, rows = 1;                     // block size in cells
    bool keyed = true;                             // drawn with transparency by the game
    std::string role;                              // player, weapon, object, boss, background, foreground, digit, ...
    std::string subject;                           // what the painter draws
    std::map<std::string, std::string> attributes; // box=WxH, period=N, picture=ID, type=..., ...
    int line = 0;
};

struct SheetLayout {
    int id, width, height, cellWidth, cellHeight, perRow, count;
};
const SheetLayout &SheetOf(int id); // 102, 103, 104

// Reads the role map; fills `roles` and returns "" or a line naming the fault.
std::string ReadCellRoles(const std::string &path, std::vector<CellRole> &roles);

// One full-screen picture of content/art/pictures.txt.
struct PictureRecipe {
    int id = 0;
    std::map<std::string, std::string> settings;
    int line = 0;
};
std::string ReadPictureRecipes(const std::string &path, std::vector<PictureRecipe> &recipes);

// Painters. Each paints a whole block (columns x rows cells) for its role; "" or a line naming the fault.
std::string PaintSprite(const CellRole &role, Canvas &block);
std::string PaintTile(const CellRole &role, Canvas &block);
std::string PaintPicture(const PictureRecipe &recipe, Canvas &picture);
// A thumbnail: the picture shrunk to the cell with a frame; the locked cell.
void PaintThumbnail(const Canvas &picture, int stage, Canvas &cell);
void PaintLockedThumbnail(Canvas &cell);

// Reduces a colour to the 16-bit screen format and back (5-6-5 bits).
uint16_t To565(uint8_t r, uint8_t g, uint8_t b);
// A keyed sheet's pixel turns transparent exactly when it is pure black; a visible one must not become black at 16
// bits.
bool TurnsBlack565(uint8_t r, uint8_t g, uint8_t b);

// The checks of the finished output: one line per failure, naming resource, cell and check.
struct SheetImage {
    int id;
    RgbImage image;
};
std::vector<std::string> CheckSheets(const std::vector<SheetImage> &sheets, const std::vector<CellRole> &roles);
std::vector<std::string> CheckPictures(const std::vector<RgbImage> &pictures, int firstId, int firstEventId);
