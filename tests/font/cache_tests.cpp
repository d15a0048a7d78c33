// Glyph cache contents on the device (texture staging pixels, glyph and edge halves) and on the software screen
// (memory cells), compared with a reference built straight from the rules over the bitmaps the harness's own GDI
// gives for a font made with the same arguments; glyphs larger than their cell stay inside it; a failing fetch
// leaves an empty entry; splitting a string caches each new character once.
#include "font/font_internal.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <algorithm>
#include <random>
#include <string.h>

namespace
{

const char *const s_Characters[] = {"あ", "漢", "Ｗ", "g", "A", "ぃ", "＠", "字", "ゞ", "j", "■", "〓", "ＮＯ"};

struct Glyph {
    GLYPHMETRICS metrics;
    int ascent;
    std::vector<int> levels;
    int Level(int x, int y) const
    {
        int w = metrics.gmBlackBoxX, h = metrics.gmBlackBoxY;
        return x >= 0 && y >= 0 && x < w && y < h ? levels[(size_t)y * w + x] : 0;
    }
};

unsigned short CodeOf(const char *character)
{
    const unsigned char *b = (const unsigned char *)character;
    return (unsigned short)(b[0] | (b[0] >= 0x80 ? b[1] << 8 : 0));
}

// The glyph through a copy of the font's own GDI font, rows read at GDI's DWORD alignment.
Glyph FetchReference(const FontRecord *font, unsigned short code)
{
    LOGFONTA description;
    GetObjectA(font->gdiFont, sizeof description, &description);
    HFONT copy = CreateFontIndirectA(&description);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, copy);
    TEXTMETRICA text;
    GetTextMetricsA(dc, &text);
    int gray = (font->typeFlags & FONT_TYPE_ANTIALIAS) != 0;
    UINT format = gray ? GGO_GRAY4_BITMAP : GGO_BITMAP;
    unsigned int gdiCode = code >> 8 ? (code & 0xFF) << 8 | code >> 8 : code;
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    Glyph glyph = {};
    glyph.ascent = text.tmAscent;
    DWORD size = GetGlyphOutlineA(dc, gdiCode, format, &glyph.metrics, 0, NULL, &identity);
    std::vector<unsigned char> raw(size + 1);
    GetGlyphOutlineA(dc, gdiCode, format, &glyph.metrics, size, raw.data(), &identity);
    int w = glyph.metrics.gmBlackBoxX, h = size ? glyph.metrics.gmBlackBoxY : 0;
    int pitch = gray ? (w + 3) & ~3 : (w + 31) / 32 * 4;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const unsigned char *row = &raw[(size_t)y * pitch];
            glyph.levels.push_back(gray ? row[x] : row[x / 8] >> (7 - x % 8) & 1);
        }
    }
    glyph.metrics.gmBlackBoxY = h;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(copy);
    return glyph;
}

bool InNeighbourhood(int e, int dx, int dy)
{
    static const int rows[5][9] = {{}, {}, {3, 5, 5, 5, 3}, {1, 5, 5, 7, 5, 5, 1}, {5, 7, 9, 9, 9, 9, 9, 7, 5}};
    if (e == 1) {
        return abs(dx) + abs(dy) == 1;
    }
    if (abs(dy) > e) {
        return false;
    }
    return e > 4 ? abs(dx) <= e : 2 * abs(dx) + 1 <= rows[e][dy + e];
}

// The rules per pixel of a cell, (x, y) from the cell origin: memory byte or bit, or the two staging texels.
struct Expected {
    int memory;
    uint16_t left, right;
};

Expected ExpectPixel(const FontRecord *font, const Glyph &g, int x, int y)
{
    int e = font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0;
    int gx = x - e, gy = y - e, level = g.Level(gx, gy), edge = 0, fold = 0;
    for (int qy = gy - e; qy <= gy + e; qy++) { // the sources in raster order
        for (int qx = gx - e; e > 0 && qx <= gx + e; qx++) {
            int source = g.Level(qx, qy);
            if (source > 0 && InNeighbourhood(e, gx - qx, gy - qy)) {
                edge = source > edge ? source : edge;
                fold = (256 - (16 - fold) * (16 - source)) >> 4;
            }
        }
    }
    auto texel = [](int l) { return (uint16_t)(l == 0 ? 0x0FFF : ((l << 12) - 1) | 0x0FFF); };
    int inBox = gx >= 0 && gy >= 0 && gx < (int)g.metrics.gmBlackBoxX && gy < (int)g.metrics.gmBlackBoxY;
    int inEdgeBox = x < (int)g.metrics.gmBlackBoxX + 2 * e && y < (int)g.metrics.gmBlackBoxY + 2 * e;
    switch (font->typeFlags) {
    case 0:
        return {level, (uint16_t)(inBox ? 0x7FFF | level << 15 : 0), 0};
    case 1:
        return {level ? 1 : edge ? 2 : 0, (uint16_t)(level ? 0xFFFF : 0), (uint16_t)(edge ? 0xFFFF : 0)};
    case 2:
        return {level ? level - 1 : 0, (uint16_t)(inBox ? texel(level) : 0), 0};
    default:
        return {(level ? level - 1 : 0) | (edge ? edge - 1 : 0) << 4, (uint16_t)(inEdgeBox ? texel(level) : 0),
                (uint16_t)(inEdgeBox ? texel(fold) : 0)};
    }
}

// The cell's own square (from its first pixel, before the texture inset) in cache pixels.
RECT CellSquare(const FontRecord *font, int cell)
{
    int column = font->textureCache ? cell / font->cellsPerColumn : 0;
    int row = font->textureCache ? cell % font->cellsPerColumn : cell;
    int s = font->cellSize;
    return {column * s, row * s, column * s + s, row * s + s};
}

// Mismatches between the cell holding `code` and the rules, with the entry's metrics.
int CountCellMismatches(const FontRecord *font, unsigned short code)
{
    const GlyphCacheEntry *entry = font->codes[code].entry;
    if (!font->codes[code].cached || entry == NULL) {
        return -1;
    }
    Glyph g = FetchReference(font, code);
    int e = font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0, inset = font->textureCache;
    RECT square = CellSquare(font, entry->cell);
    int room = font->cellSize - inset, mismatches = 0;
    int boxWidth = g.metrics.gmBlackBoxY ? (int)g.metrics.gmBlackBoxX + 2 * e : 0;
    int boxHeight = g.metrics.gmBlackBoxY ? (int)g.metrics.gmBlackBoxY + 2 * e : 0;
    mismatches += entry->advance != g.metrics.gmCellIncX + 2 * e || entry->originX != g.metrics.gmptGlyphOrigin.x;
    mismatches += entry->offsetY != g.ascent - g.metrics.gmptGlyphOrigin.y;
    mismatches += entry->boxWidth != (boxWidth < room ? boxWidth : room);
    mismatches += entry->boxHeight != (boxHeight < room ? boxHeight : room);
    for (int y = 0; y < room; y++) {
        for (int x = 0; x < room; x++) {
            Expected want = ExpectPixel(font, g, x, y);
            int cx = square.left + inset + x, cy = square.top + inset + y;
            if (!font->textureCache) {
                const unsigned char *row = font->memoryCache + (size_t)cy * font->memoryPitch;
                mismatches += (font->memoryBits == 1 ? row[cx / 8] >> (7 - cx % 8) & 1 : row[cx]) != want.memory;
                continue;
            }
            const uint16_t *row = (const uint16_t *)(font->staging.pixels + (size_t)cy * font->staging.pitch);
            mismatches += row[cx] != want.left;
            mismatches += e > 0 && row[cx + font->cacheWidth] != want.right;
        }
    }
    return mismatches;
}

template <typename Suite> struct GlyphCache : EmptyDumpAtEnd<Suite> {
};
TYPED_TEST_SUITE(GlyphCache, DeviceAndSoftware);

TYPED_TEST(GlyphCache, CellsFollowTheRulesForEveryTypeAndEdgeSize)
{
    const unsigned seed = GetTickCount();
    std::mt19937 random(seed);
    SCOPED_TRACE(seed);
    const int configurations[][2] = {{0, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 3}, {1, 4}, {3, 1}, {3, 2}, {3, 3}, {3, 4}};
    for (const auto &configuration : configurations) {
        int size = 12 + random() % 30, italic = random() % 2;
        EngineHandle font = CreateFontToHandle(NULL, size, -1, configuration[0], -1, configuration[1], italic, -1, -1);
        const FontRecord *record = GetFontRecord(font);
        ASSERT_NE(record, nullptr);
        std::string text;
        for (int i = 0; i < 6; i++) {
            text += s_Characters[random() % (sizeof s_Characters / sizeof *s_Characters)];
        }
        SCOPED_TRACE(text + " size " + std::to_string(size) + " italic " + std::to_string(italic));
        ASSERT_EQ(CacheStringGlyphs(-1, text.c_str(), font, NULL, NULL), 0);
        for (size_t i = 0; i < text.size(); i += (unsigned char)text[i] >= 0x80 ? 2 : 1) {
            EXPECT_EQ(CountCellMismatches(record, CodeOf(&text[i])), 0)
                << "type " << configuration[0] << " edge " << configuration[1] << " at " << i;
        }
        DeleteFontHandle(font);
    }
}

// A far larger italic face put behind a small font's cells: every write stays in the glyph's own cell, in the
// middle of the cache and in its last cell, and nothing after the cache is touched.
TYPED_TEST(GlyphCache, GlyphsLargerThanTheirCellStayInsideIt)
{
    EngineHandle font = CreateFontToHandle(NULL, 16, -1, 3, -1, 4, 0, -1, -1);
    FontRecord *record = GetFontRecord(font);
    HFONT own = record->gdiFont;
    record->gdiFont = CreateFontA(60, 0, 0, 0, 600, TRUE, 0, 0, SHIFTJIS_CHARSET, 0, 0, 3, 1, "ＭＳ ゴシック");
    const GlyphCharRecord wide = {CodeOf("■"), 0};
    ASSERT_GT((int)FetchReference(record, wide.code).metrics.gmBlackBoxX, record->cellSize);
    int texture = record->textureCache, pitch = texture ? record->staging.pitch : record->memoryPitch;
    unsigned char *&pixels = texture ? record->staging.pixels : record->memoryCache;
    size_t bytes = (size_t)pitch * (texture ? record->staging.height : record->cacheHeight);
    std::vector<unsigned char> guarded(bytes + 65536);
    unsigned char *kept = pixels;
    pixels = guarded.data();
    for (int cell : {record->entryCount - 1, record->entryCount / 2}) {
        std::fill(guarded.begin(), guarded.end(), 0xA5);
        ResetGlyphCache(font);
        record->ringPosition = cell;
        ASSERT_NE(FillGlyphCache(font, 1, &wide), nullptr);
        EXPECT_EQ(CountCellMismatches(record, wide.code), 0);
        RECT square = CellSquare(record, cell);
        int touched = 0;
        for (size_t i = 0; i < guarded.size(); i++) {
            int y = (int)(i / pitch), x = (int)(i % pitch) / 2, left = x % record->cacheWidth;
            bool inside = i < bytes && y >= square.top && y < square.bottom &&
                          (!texture || (left >= square.left && left < square.right));
            touched += !inside && guarded[i] != 0xA5;
        }
        EXPECT_EQ(touched, 0) << "cell " << cell;
    }
    pixels = kept;
    DeleteObject(record->gdiFont);
    record->gdiFont = own;
    DeleteFontHandle(font);
}

// A stand-in glyph call: the chosen code fails at its size call (1) or its bitmap call (2), or is empty (3).
int s_StandInCode, s_StandInMode, s_StandInCalls;

DWORD WINAPI StandInGlyphOutline(HDC dc, UINT code, UINT format, LPGLYPHMETRICS metrics, DWORD size, LPVOID buffer,
                                 const MAT2 *matrix)
{
    DWORD result = GetGlyphOutlineA(dc, code, format, metrics, size, buffer, matrix);
    if ((int)code != s_StandInCode) {
        return result;
    }
    s_StandInCalls++;
    if (s_StandInMode == 3) {
        metrics->gmBlackBoxY = 0;
        return 0;
    }
    return s_StandInMode == (buffer != NULL ? 2 : 1) ? GDI_ERROR : result;
}

// The failed character leaves its entry empty (not the glyph it evicted) and uncached, the ring where it was and
// the next character in that entry; a fill of only failures gives null. An empty glyph is asked for once and gets
// a 0 x 0 box with its advance.
TYPED_TEST(GlyphCache, AFailedFetchLeavesAnEmptyEntryAndAnEmptyGlyphNoBox)
{
    EngineHandle font = CreateFontToHandle(NULL, 20, -1, 0, -1, -1, 0, -1, -1);
    FontRecord *record = GetFontRecord(font);
    const GlyphCharRecord a = {'A', 0}, failing[] = {{'B', 0}, {'C', 0}};
    g_GlyphOutline = StandInGlyphOutline;
    s_StandInCode = 'B';
    for (int mode : {1, 2}) {
        s_StandInMode = mode;
        ResetGlyphCache(font);
        GlyphCacheEntry *filled = FillGlyphCache(font, 1, &a);
        ASSERT_EQ(filled, &record->entries[0]);
        record->ringPosition = 0;
        EXPECT_EQ(FillGlyphCache(font, 1, failing), nullptr) << mode;
        EXPECT_EQ(filled->advance + filled->boxWidth + filled->boxHeight + filled->inUse, 0) << mode;
        EXPECT_EQ(record->codes['A'].cached + record->codes['B'].cached + record->ringPosition, 0) << mode;
        EXPECT_EQ(FillGlyphCache(font, 2, failing), filled) << "C takes the entry B failed to fill";
        EXPECT_EQ(record->codes['C'].entry, filled);
    }
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"GetGlyphOutline 関数が失敗しました"}), "");
    s_StandInMode = 3;
    s_StandInCalls = 0;
    GlyphCacheEntry *empty = FillGlyphCache(font, 1, failing);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(s_StandInCalls, 1);
    EXPECT_EQ(empty->boxWidth + empty->boxHeight, 0);
    EXPECT_GT(empty->advance, 0);
    g_GlyphOutline = GetGlyphOutlineA;
    DeleteFontHandle(font);
}

// Splitting: double-byte characters by the lead byte, the byte limit, each new character cached once, and no more
// new characters in one batch than the cache has entries.
TYPED_TEST(GlyphCache, SplittingCachesEachNewCharacterOnceUpToTheEntryCount)
{
    EngineHandle font = CreateFontToHandle(NULL, 20, -1, 0, -1, -1, 0, -1, -1);
    FontRecord *record = GetFontRecord(font);
    GlyphCharRecord list[16], *given = list;
    int count = 0;
    ASSERT_EQ(CacheStringGlyphs(7, "aあaい b", font, &given, &count), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(list[1].code, CodeOf("あ"));
    EXPECT_EQ(list[4].code, ' ');
    EXPECT_EQ(record->ringPosition, 4) << "a, あ, い and the space";
    EXPECT_EQ(record->codes[' '].entry->boxWidth, 0);
    std::string many;
    for (int i = 0; i < record->entryCount + 20; i++) {
        many += (char)(0x88 + i / 94), many += (char)(0x9F + i % 94);
    }
    ASSERT_EQ(CacheStringGlyphs(-1, many.c_str(), font, NULL, &count), 0);
    EXPECT_EQ(count, record->entryCount + 20);
    EXPECT_EQ(record->ringPosition, 4) << "the batch stopped at the entry count and wrapped the ring";
    DeleteFontHandle(font);
}

} // namespace
