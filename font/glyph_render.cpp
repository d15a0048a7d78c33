// Glyph cells: where each cell of a font's cache lies, and drawing a fetched GDI glyph (1-bit or 17-level) into
// its cell, with the edge of edged fonts, on the texture path (16-bit staging image, then uploaded into the cache
// graph) and the memory path (1-bit or byte cells). Every write is clipped to the cell, so a glyph larger than
// the cell (italic overhang, a substituted face) never reaches a neighbouring cell or past the cache. Window
// thread only.
#include "font/font_internal.h"

#include "graphics/graphics.h"

#define GRAY_LEVEL_MAX 16
#define GRAY_OPAQUE_BITS 0x0FFF // A4R4G4B4 white: the alpha nibble carries the level

// The pixel rectangle a glyph may be written to: from the cell origin to the end of the cell.
struct CellArea {
    int left, top, right, bottom; // right and bottom exclusive
};

void GetGlyphCellOrigin(const FontRecord *font, int cell, int *x, int *y)
{
    if (font->textureCache) {
        // Texture cells are inset by one pixel, so that filtering never takes a neighbour's pixels.
        *x = cell / font->cellsPerColumn * font->cellSize + 1;
        *y = cell % font->cellsPerColumn * font->cellSize + 1;
    } else {
        *x = 0;
        *y = cell * font->cellSize;
    }
}

static CellArea GetCellArea(const FontRecord *font, int cell)
{
    CellArea area;
    GetGlyphCellOrigin(font, cell, &area.left, &area.top);
    int inset = font->textureCache ? 1 : 0;
    area.right = area.left - inset + font->cellSize;
    area.bottom = area.top - inset + font->cellSize;
    return area;
}

int GetGlyphCellRoom(const FontRecord *font, int cell, int *width, int *height)
{
    CellArea area = GetCellArea(font, cell);
    *width = area.right - area.left;
    *height = area.bottom - area.top;
    return 0;
}

static int GlyphLevel(const GlyphBitmap *glyph, int x, int y)
{
    const unsigned char *row = glyph->bits + (ptrdiff_t)y * glyph->pitch;
    if (glyph->gray) {
        return row[x] > GRAY_LEVEL_MAX ? GRAY_LEVEL_MAX : row[x];
    }
    return row[x >> 3] >> (7 - (x & 7)) & 1;
}

// Calls visit(dx, dy) for every offset of the edge neighbourhood of size e: the four direct neighbours for 1,
// discs given by their row half-widths for 2 to 4, the whole square above.
template <typename Visit> static void ForEachEdgeOffset(int e, Visit visit)
{
    static const signed char halfWidths2[] = {1, 2, 2, 2, 1};
    static const signed char halfWidths3[] = {0, 2, 2, 3, 2, 2, 0};
    static const signed char halfWidths4[] = {2, 3, 4, 4, 4, 4, 4, 3, 2};
    static const signed char *const discs[] = {NULL, NULL, halfWidths2, halfWidths3, halfWidths4};
    if (e == 1) {
        visit(-1, 0), visit(1, 0), visit(0, -1), visit(0, 1);
        return;
    }
    for (int dy = -e; dy <= e; dy++) {
        int half = e <= 4 ? discs[e][dy + e] : e;
        for (int dx = -half; dx <= half; dx++) {
            visit(dx, dy);
        }
    }
}

// Calls draw(x, y, level) for every box pixel with its level, in cache coordinates clipped to the area, and
// edge(x, y, level) for every pixel of the neighbourhood of each covered pixel when the font is edged.
template <typename Draw, typename Edge>
static void WalkGlyph(const FontRecord *font, const CellArea &area, const GlyphBitmap *glyph, Draw draw, Edge edge)
{
    int e = font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0;
    int readable = glyph->gray ? glyph->pitch : glyph->pitch * 8;
    int width = glyph->width < readable ? glyph->width : readable;
    for (int y = 0; y < glyph->height && area.top + e + y < area.bottom; y++) {
        for (int x = 0; x < width && area.left + e + x < area.right; x++) {
            int level = GlyphLevel(glyph, x, y);
            draw(area.left + e + x, area.top + e + y, level);
        }
    }
    if (e == 0) {
        return;
    }
    for (int y = 0; y < glyph->height; y++) {
        for (int x = 0; x < width; x++) {
            int level = GlyphLevel(glyph, x, y);
            if (level == 0) {
                continue;
            }
            ForEachEdgeOffset(e, [&](int dx, int dy) {
                int px = area.left + e + x + dx, py = area.top + e + y + dy;
                if (px >= area.left && px < area.right && py >= area.top && py < area.bottom) {
                    edge(px, py, level);
                }
            });
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Texture path: 16-bit staging pixels, white, with the coverage in the alpha bits.

static uint16_t *StagingPixel(const FontRecord *font, int x, int y)
{
    return (uint16_t *)(font->staging.pixels + (ptrdiff_t)y * font->staging.pitch) + x;
}

static uint16_t GrayToTexel(int level)
{
    return level == 0 ? GRAY_OPAQUE_BITS : (uint16_t)(((level << 12) - 1) | GRAY_OPAQUE_BITS);
}

static void DrawTextureGlyph(FontRecord *font, const CellArea &area, const GlyphBitmap *glyph)
{
    const PixelFormat &format = font->staging.format;
    uint16_t alpha = (uint16_t)format.alphaMask;
    uint16_t white = (uint16_t)(format.redMask | format.greenMask | format.blueMask);
    int shift = font->cacheWidth; // edges sit in the right half at the same relative places
    if (!glyph->gray) {
        int edged = (font->typeFlags & FONT_TYPE_EDGE) != 0;
        WalkGlyph(
            font, area, glyph,
            [&](int x, int y, int level) {
                if (level != 0 || !edged) {
                    *StagingPixel(font, x, y) = level != 0 ? (uint16_t)(white | alpha) : white;
                }
            },
            [&](int x, int y, int) {
                uint16_t *pixel = StagingPixel(font, x + shift, y);
                if (!(*pixel & alpha)) {
                    *pixel = (uint16_t)(white | alpha);
                }
            });
        return;
    }
    if (!(font->typeFlags & FONT_TYPE_EDGE)) {
        WalkGlyph(
            font, area, glyph, [&](int x, int y, int level) { *StagingPixel(font, x, y) = GrayToTexel(level); },
            [](int, int, int) {});
        return;
    }
    // Edged grey: raw levels first (the edge as the union of the neighbours' coverage), then texels.
    WalkGlyph(
        font, area, glyph, [&](int x, int y, int level) { *StagingPixel(font, x, y) = (uint16_t)level; },
        [&](int x, int y, int level) {
            uint16_t *pixel = StagingPixel(font, x + shift, y);
            *pixel = (uint16_t)((256 - (GRAY_LEVEL_MAX - *pixel) * (GRAY_LEVEL_MAX - level)) >> 4);
        });
    int e = font->edgeSize;
    int right = area.left + glyph->width + 2 * e, bottom = area.top + glyph->height + 2 * e;
    right = right < area.right ? right : area.right;
    bottom = bottom < area.bottom ? bottom : area.bottom;
    for (int y = area.top; y < bottom; y++) {
        for (int x = area.left; x < right; x++) {
            *StagingPixel(font, x, y) = GrayToTexel(*StagingPixel(font, x, y));
            *StagingPixel(font, x + shift, y) = GrayToTexel(*StagingPixel(font, x + shift, y));
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Memory path: 1 bit per pixel for plain fonts, else one byte (type 1: 0, 1 glyph, 2 edge; type 2: level 0..15;
// type 3: glyph level low nibble, edge level high nibble).

static unsigned char *MemoryPixel(const FontRecord *font, int x, int y)
{
    return font->memoryCache + (ptrdiff_t)y * font->memoryPitch + (font->memoryBits == 1 ? x >> 3 : x);
}

static void DrawMemoryGlyph(FontRecord *font, const CellArea &area, const GlyphBitmap *glyph)
{
    switch (font->typeFlags) {
    case 0:
        WalkGlyph(
            font, area, glyph,
            [&](int x, int y, int level) { *MemoryPixel(font, x, y) |= (unsigned char)(level << (7 - (x & 7))); },
            [](int, int, int) {});
        break;
    case FONT_TYPE_EDGE:
        WalkGlyph(
            font, area, glyph,
            [&](int x, int y, int level) {
                if (level != 0) {
                    *MemoryPixel(font, x, y) = 1;
                }
            },
            [&](int x, int y, int) {
                if (*MemoryPixel(font, x, y) != 1) {
                    *MemoryPixel(font, x, y) = 2;
                }
            });
        break;
    case FONT_TYPE_ANTIALIAS:
        WalkGlyph(
            font, area, glyph,
            [&](int x, int y, int level) { *MemoryPixel(font, x, y) = (unsigned char)(level > 0 ? level - 1 : 0); },
            [](int, int, int) {});
        break;
    default:
        WalkGlyph(
            font, area, glyph,
            [&](int x, int y, int level) {
                if (level > 0) {
                    unsigned char *pixel = MemoryPixel(font, x, y);
                    *pixel = (unsigned char)((*pixel & 0xF0) | (level - 1));
                }
            },
            [&](int x, int y, int level) {
                unsigned char *pixel = MemoryPixel(font, x, y);
                if ((*pixel >> 4) < level - 1) {
                    *pixel = (unsigned char)((*pixel & 0x0F) | (level - 1) << 4);
                }
            });
        break;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Cells.

void ClearGlyphCell(FontRecord *font, int cell)
{
    CellArea area = GetCellArea(font, cell);
    if (!font->textureCache) {
        MemFill(MemoryPixel(font, 0, area.top), 0, (size_t)font->cellSize * font->memoryPitch);
        return;
    }
    int left = area.right - font->cellSize, top = area.bottom - font->cellSize;
    int halves = font->typeFlags & FONT_TYPE_EDGE ? 2 : 1;
    for (int half = 0; half < halves; half++) {
        for (int y = top; y < area.bottom; y++) {
            MemFill(StagingPixel(font, left + half * font->cacheWidth, y), 0, (size_t)font->cellSize * 2);
        }
    }
}

void DrawGlyphIntoCell(FontRecord *font, int cell, const GlyphBitmap *glyph)
{
    CellArea area = GetCellArea(font, cell);
    if (font->textureCache) {
        DrawTextureGlyph(font, area, glyph);
    } else {
        DrawMemoryGlyph(font, area, glyph);
    }
}

int UploadGlyphCell(FontRecord *font, int cell, int boxWidth, int boxHeight)
{
    CellArea area = GetCellArea(font, cell);
    if (!(font->typeFlags & FONT_TYPE_EDGE)) {
        RECT whole = {area.right - font->cellSize, area.bottom - font->cellSize, area.right, area.bottom};
        return UploadImageToGraphAt(&font->staging, NULL, &whole, whole.left, whole.top, font->cacheGraph);
    }
    RECT box = {area.left, area.top, area.left + boxWidth, area.top + boxHeight};
    RECT edge = {box.left + font->cacheWidth, box.top, box.right + font->cacheWidth, box.bottom};
    if (UploadImageToGraphAt(&font->staging, NULL, &box, box.left, box.top, font->cacheGraph) != 0) {
        return -1;
    }
    return UploadImageToGraphAt(&font->staging, NULL, &edge, edge.left, edge.top, font->cacheGraph);
}
