// Glyph cache contents and string drawing against a reference made here from the harness's own GDI glyphs
// (GetGlyphOutlineA on a copy of the engine font's GDI font): the cache's cells on the device (texture staging
// pixels, glyph and edge halves) and on the software screen (memory cells), glyphs larger than their cell kept
// inside it, and strings read back from the device and the software screens (32 and 16 bits) with edges grown by
// the neighbourhood rules and every pixel shaded by its path's level rules; a failing fetch leaves an empty entry
// and fails the string.
#include "font/font_internal.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>

namespace
{

// A glyph through a copy of the font's own GDI font, rows read at GDI's DWORD alignment: levels 0..16 when
// anti-aliased, else 0 or 1.
struct Glyph {
    GLYPHMETRICS metrics;
    TEXTMETRICA text;
    std::vector<int> levels;
    int Level(int x, int y) const
    {
        int w = metrics.gmBlackBoxX, h = metrics.gmBlackBoxY;
        return x >= 0 && y >= 0 && x < w && y < h ? levels[(size_t)y * w + x] : 0;
    }
};

// The engine's code of a character: its first byte low, a lead byte's trail byte high.
unsigned short CodeOf(const char *character)
{
    const unsigned char *b = (const unsigned char *)character;
    return (unsigned short)(b[0] | (b[0] >= 0x80 ? b[1] << 8 : 0));
}

Glyph FetchReference(const FontRecord *font, unsigned short code)
{
    LOGFONTA description;
    GetObjectA(font->gdiFont, sizeof description, &description);
    HFONT copy = CreateFontIndirectA(&description);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, copy);
    Glyph glyph = {};
    GetTextMetricsA(dc, &glyph.text);
    int gray = (font->typeFlags & FONT_TYPE_ANTIALIAS) != 0;
    UINT format = gray ? GGO_GRAY4_BITMAP : GGO_BITMAP;
    unsigned int gdiCode = code >> 8 ? (code & 0xFF) << 8 | code >> 8 : code;
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    DWORD size = GetGlyphOutlineA(dc, gdiCode, format, &glyph.metrics, 0, NULL, &identity);
    size = size == GDI_ERROR ? 0 : size;
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

int EdgeOf(const FontRecord *font)
{
    return font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0;
}

// Edge sizes 2 to 4 are discs given by their row lengths; 1 is the four neighbours; above 4 the whole square.
bool InNeighbourhood(int e, int dx, int dy)
{
    static const int rows[3][9] = {{3, 5, 5, 5, 3}, {1, 5, 5, 7, 5, 5, 1}, {5, 7, 9, 9, 9, 9, 9, 7, 5}};
    if (e == 1) {
        return abs(dx) + abs(dy) == 1;
    }
    return abs(dx) <= e && abs(dy) <= e && (e > 4 || abs(dx) <= rows[e - 2][dy + e] / 2);
}

// The edge grown at glyph pixel (gx, gy) from the levels (times `scale`) around it, sources in raster order: the
// highest level and the coverage union.
void GrowEdge(const Glyph &g, int e, int gx, int gy, int scale, int *highest, int *coverage)
{
    *highest = *coverage = 0;
    for (int qy = gy - e; qy <= gy + e; qy++) {
        for (int qx = gx - e; e > 0 && qx <= gx + e; qx++) {
            const int source = g.Level(qx, qy) * scale;
            if (source > 0 && InNeighbourhood(e, gx - qx, gy - qy)) {
                *highest = std::max(*highest, source);
                *coverage = (256 - (16 - *coverage) * (16 - source)) >> 4;
            }
        }
    }
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

const char *const s_Characters[] = {"あ", "漢", "Ｗ", "g", "A", "ぃ", "＠", "字", "ゞ", "j", "■", "〓", "ＮＯ"};

// The rules per pixel of a cell, (x, y) from the cell origin: memory byte or bit, or the two staging texels.
struct Expected {
    int memory;
    uint16_t left, right;
};

Expected ExpectPixel(const FontRecord *font, const Glyph &g, int x, int y)
{
    const int e = EdgeOf(font), gx = x - e, gy = y - e, level = g.Level(gx, gy);
    int edge, fold;
    GrowEdge(g, e, gx, gy, 1, &edge, &fold);
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
    int e = EdgeOf(font), inset = font->textureCache;
    RECT square = CellSquare(font, entry->cell);
    int room = font->cellSize - inset, mismatches = 0;
    int boxWidth = g.metrics.gmBlackBoxY ? (int)g.metrics.gmBlackBoxX + 2 * e : 0;
    int boxHeight = g.metrics.gmBlackBoxY ? (int)g.metrics.gmBlackBoxY + 2 * e : 0;
    mismatches += entry->advance != g.metrics.gmCellIncX + 2 * e || entry->originX != g.metrics.gmptGlyphOrigin.x;
    mismatches += entry->offsetY != g.text.tmAscent - g.metrics.gmptGlyphOrigin.y;
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
struct Case {
    const char *text;
    int size, type, edge, vertical, spacing; // type -1: the default font through DrawStringDefault
    int blendMode, blendParameter;
    uint32_t brightness, background, textColor, edgeColor; // 0xRRGGBB
    int x, y;                                              // x -1: right-aligned at the screen's edge
};

const char kManyKanji[] = "亜唖娃阿哀愛挨姶逢葵茜穐悪握渥旭葦芦鯵梓圧斡扱宛姐虻飴絢綾鮎";

const Case kCases[] = {
    {"ＮＯＷ ＬＯＡＤＩＮＧ・・・・", 16, -1, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, 10, 20},
    {"ＳＴＡＲＴ　ひらがなカタカナ漢字", 16, 0, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, 7, 50},
    {"ＳＴＡＲＴ 漢字", 26, 1, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0xFF0000, 5, 80},
    {"縁取り", 26, 1, 2, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0x0000FF, 300, 80},
    {"縁取り", 26, 1, 3, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0x00FF00, 5, 130},
    {"縁取り", 26, 1, 4, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0xFF0000, 300, 130},
    {"あいう漢字ＡＢ", 24, 2, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, 5, 190},
    {"あいう漢字ＡＢ", 24, 3, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFF00, 0x0000FF, 5, 240},
    {"ＳＴＡＲＴ漢", 16, 0, 1, 1, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, 600, 10},
    {"縦書き", 26, 1, 2, 1, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0xFF0000, 550, 200},
    {"Ａ Ｂ　Ｃ", 16, 0, 1, 0, 5, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, 5, 300},
    {"半分混ぜる", 24, 0, 1, 0, 0, 1, 128, 0xFFFFFF, 0x808080, 0xFFFFFF, 0, 5, 330},
    {"半分混ぜる", 24, 2, 1, 0, 0, 1, 128, 0xFFFFFF, 0x808080, 0xFFFFFF, 0, 300, 330},
    {"暗い文字", 24, 0, 1, 0, 0, 1, 128, 0x000000, 0x808080, 0xFFFFFF, 0x0000FF, 5, 380},
    {kManyKanji, 128, 0, 1, 0, 0, 0, 255, 0xFFFFFF, 0, 0xFFFFFF, 0, -1, 340},
};

struct Canvas {
    int device;
    std::vector<double> rgb; // 3 channels a pixel, 640 x 480
    void Blend(int x, int y, uint32_t color, double alpha)
    {
        for (int c = 0; c < 3 && x >= 0 && x < 640 && y >= 0 && y < 480; c++) {
            double &v = rgb[((size_t)y * 640 + x) * 3 + c];
            v += ((color >> (16 - 8 * c) & 0xFF) - v) * alpha;
        }
    }
};

uint32_t Scale(uint32_t color, uint32_t brightness)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        out |= ((color >> shift & 0xFF) * (brightness >> shift & 0xFF) / 255) << shift;
    }
    return out;
}

// What the memory path writes for glyph level g and edge level e (types 2 and 3): colour and alpha 0..255.
uint32_t ShadeMemory(int type, int g, int e, uint32_t text, uint32_t edge, int *alpha)
{
    *alpha = type == 2 ? g * 16 : g == 0 ? e * 16 : g == 15 ? 255 : (15 - g) * e + g * 16;
    if (type == 2 || g == 15 || g == 0) {
        return type == 3 && g == 0 ? edge : text;
    }
    uint32_t mixed = 0;
    for (int s = 0, t = (g << 12) / *alpha; s < 24; s += 8) {
        const int ec = edge >> s & 0xFF, tc = text >> s & 0xFF;
        mixed |= (uint32_t)(ec + (tc - ec) * t / 256) << s;
    }
    return mixed;
}

// One glyph's box (levels 0..16, edge margin included) with its pixel (i, j) at (ax + i, ay + j), or at
// (ax - j, ay + i) when vertical; the edge grown by the path's rule (memory: the highest level - 1 around;
// device: the coverage union), then shaded.
void DrawReferenceGlyph(Canvas *canvas, const Case &k, const Glyph &glyph, int e, int ax, int ay)
{
    const int scale = k.type >= 2 ? 1 : 16, w = glyph.metrics.gmBlackBoxX + 2 * e, h = glyph.metrics.gmBlackBoxY + 2 * e;
    const double p = k.blendMode ? k.blendParameter / 255.0 : 1.0;
    const uint32_t text = Scale(k.textColor, k.brightness), edgeColor = Scale(k.edgeColor, k.brightness);
    for (int q = 0; q < w * h; q++) {
        const int i = q % w, j = q / w, L = glyph.Level(i - e, j - e) * scale, g = L > 0 ? L - 1 : 0;
        const int x = k.vertical ? ax - j : ax + i, y = k.vertical ? ay + i : ay + j;
        int highest, coverage, alpha;
        GrowEdge(glyph, e, i - e, j - e, scale, &highest, &coverage);
        const int edge = canvas->device ? coverage : highest > 0 ? highest - 1 : 0;
        if (k.type < 2) {
            canvas->Blend(x, y, L ? text : edgeColor, L || edge ? p : 0.0);
        } else if (canvas->device) {
            canvas->Blend(x, y, edgeColor, edge > 0 ? (edge - 1) * 17 / 255.0 * p : 0.0);
            canvas->Blend(x, y, text, g * 17 / 255.0 * p);
        } else if (L > 1 || edge > 0) {
            const uint32_t color = ShadeMemory(k.type, g, k.type == 3 ? edge : 0, text, edgeColor, &alpha);
            canvas->Blend(x, y, color, alpha / 255.0 * p);
        }
    }
}

// The case drawn by the rules: each character's glyph placed at pen + origin x across and tmAscent - origin y down
// from the start moved up (or left) by half the extra height. Returns the pen's final value; `inside` says whether
// every drawn pixel lies in the measured box.
double DrawReference(Canvas *canvas, const Case &k, const FontRecord *record, int x, bool *inside)
{
    const int e = EdgeOf(record), lift = record->extraHeight / 2, sx = k.vertical ? x - lift : x;
    const int sy = k.vertical ? k.y : k.y - lift;
    double pen = 0.0;
    int right = 0;
    *inside = true;
    for (const char *c = k.text; *c != 0; c += (unsigned char)*c >= 0x80 ? 2 : 1) {
        const unsigned short code = CodeOf(c);
        const Glyph glyph = FetchReference(record, code);
        const GLYPHMETRICS &gm = glyph.metrics;
        const int lineHeight = (glyph.text.tmHeight + 2 * e + 1) & ~1;
        if (code != 0x20 && code != 0x4081 && gm.gmBlackBoxY != 0) {
            const int across = (int)pen + gm.gmptGlyphOrigin.x, down = glyph.text.tmAscent - gm.gmptGlyphOrigin.y;
            const int ax = k.vertical ? sx + lineHeight - down : sx + across, ay = k.vertical ? sy + across : sy + down;
            DrawReferenceGlyph(canvas, k, glyph, e, ax, ay);
            *inside &= across >= 0 && down >= 0 && down + (int)gm.gmBlackBoxY + 2 * e <= lineHeight;
            right = std::max(right, across + (int)gm.gmBlackBoxX + 2 * e);
        }
        pen += gm.gmCellIncX + 2 * e + k.spacing;
    }
    *inside &= right <= (int)pen;
    return pen;
}

uint16_t NextSerial(void)
{
    void *probe = ENGINE_ALLOC(1);
    uint16_t serial = ((AllocHeader *)probe - 1)->serial;
    FreeMemory(probe);
    return serial;
}

template <typename Suite> class StringDrawTest : public Suite
{
};
typedef ::testing::Types<EmptyDumpAtEnd<EngineScreenSuite<32, 1>>, EmptyDumpAtEnd<EngineScreenSuite<32, 0>>,
                         EmptyDumpAtEnd<EngineScreenSuite<16, 0>>>
    Screens;
TYPED_TEST_SUITE(StringDrawTest, Screens);

TYPED_TEST(StringDrawTest, EveryCaseEqualsTheGlyphReference)
{
    for (const Case &k : kCases) {
        SCOPED_TRACE(testing::Message() << "case " << &k - kCases);
        const EngineHandle font = k.type < 0 ? (SetDefaultFontSize(16), GetStandardFontHandle())
                                             : CreateFontToHandle(NULL, k.size, -1, k.type, -1, k.edge, 0, -1, -1);
        const FontRecord *record = GetFontRecord(font);
        ASSERT_NE(record, nullptr);
        SetFontSpacingToHandle(k.spacing, font);
        if (k.text == kManyKanji) {
            EXPECT_LT(record->entryCount, 30) << "more distinct characters than the cache holds";
        }
        const int bits = GetScreenColorBits();
        Canvas canvas = {IsDeviceMode(), std::vector<double>(640 * 480 * 3)};
        bool inside;
        const int x = k.x >= 0 ? k.x : 0, width = (int)DrawReference(&canvas, k, record, x, &inside);
        const int startX = k.x >= 0 ? k.x : 630 - width;
        std::fill(canvas.rgb.begin(), canvas.rgb.end(), 0.0);
        for (int p = 0; p < 640 * 480; p++) {
            canvas.Blend(p % 640, p / 640, k.background, 1.0);
        }
        DrawReference(&canvas, k, record, startX, &inside);
        EXPECT_TRUE(inside) << "every glyph pixel lies in the measured box";
        SIZE size;
        EXPECT_EQ(RenderStringWithFont(0, 0, 0, k.text, 0, NULL, NULL, font, 0, -1, k.vertical, &size), width);
        EXPECT_EQ(k.vertical ? size.cy : size.cx, width);
        auto split = [&](uint32_t c) { return MakeScreenColor(c >> 16, c >> 8 & 0xFF, c & 0xFF); };
        SetDrawBlend(0, 255);
        SetDrawBrightColor(0xFFFFFF);
        DrawFilledBox(0, 0, 640, 480, split(k.background));
        if (MEMIMG *work = GetSoftwareWorkImage(0)) {
            work->block->transparentValue = 0; // black, which a text darkened by the brightness can take
        }
        SetDrawBlend(k.blendMode, k.blendParameter);
        SetDrawBrightColor(k.brightness);
        if (k.type < 0) {
            EXPECT_EQ(DrawStringDefault(startX, k.y, k.text, split(k.textColor), split(k.edgeColor)), 0);
        } else {
            EXPECT_EQ(
                DrawStringToFontHandle(startX, k.y, k.text, split(k.textColor), font, split(k.edgeColor), k.vertical),
                0);
            DeleteFontHandle(font);
        }
        SetDrawBlend(0, 255);
        SetDrawBrightColor(0xFFFFFF);
        const ScreenPixels screen = ReadScreen();
        ASSERT_EQ(screen.width, 640);
        const int exact = k.type < 2 && k.blendMode == 0, tolerance = bits == 16 ? (exact ? 0 : 10) : (exact ? 0 : 2);
        int wrong = 0;
        for (int p = 0; p < 640 * 480 * 3; p++) {
            const int shift = 16 - 8 * (p % 3), want = (int)lround(canvas.rgb[p]);
            const int widths[3] = {5, 6, 5}, width16 = widths[p % 3];
            const int expected = bits == 16 ? (want >> (8 - width16)) * 255 / ((1 << width16) - 1) : want;
            const int got = (int)(screen.rgb[p / 3] >> shift & 0xFF);
            if (abs(got - expected) > tolerance && wrong++ < 6) {
                printf("case %d at %d,%d channel %d: got %d want %d\n", (int)(&k - kCases), p / 3 % 640, p / 3 / 640,
                       p % 3, got, expected);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// After a forced device rebuild an edged font keeps its handle and draws the same pixels from its cache made again.
TYPED_TEST(StringDrawTest, ARebuildDrawsTheSameText)
{
    if (!IsDeviceMode()) {
        GTEST_SKIP() << "the device is rebuilt";
    }
    const EngineHandle font = CreateFontToHandle(NULL, 26, -1, 1, -1, 2, 0, -1, -1);
    auto draw = [&] {
        ClearDrawScreen(-2, nullptr);
        EXPECT_EQ(DrawStringToFontHandle(10, 10, "再構築ＡＢＣ", MakeScreenColor(255, 255, 255), font,
                                         MakeScreenColor(255, 0, 0), 0),
                  0);
        return ReadScreen();
    };
    const ScreenPixels before = draw();
    EXPECT_GT(std::count(before.rgb.begin(), before.rgb.end(), 0xFF0000u), 0) << "the edge was drawn";
    ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
    ASSERT_NE(GetFontRecord(font), nullptr);
    EXPECT_TRUE(draw().rgb == before.rgb);
    DeleteFontHandle(font);
}

// A string of 256 bytes whose glyphs are cached draws without one allocation; the cache fills only once.
TYPED_TEST(StringDrawTest, CachedLongStringDrawsWithoutAllocating)
{
    std::string text;
    while (text.size() < 256) {
        text += "文字";
    }
    EXPECT_EQ(DrawStringDefault(0, 0, text.c_str(), MakeScreenColor(255, 255, 255), 0), 0);
    const uint16_t before = NextSerial();
    EXPECT_EQ(DrawStringDefault(0, 0, text.c_str(), MakeScreenColor(255, 255, 255), 0), 0);
    EXPECT_EQ((uint16_t)(NextSerial() - before), 1);
}

// An 8-bit target takes the prepared colour's low byte where the reference has glyph and edge pixels.
TYPED_TEST(StringDrawTest, EightBitTargetTakesTheLowByte)
{
    if (IsDeviceMode()) {
        GTEST_SKIP() << "memory-cache fonts only";
    }
    const Case k = {"縁取り漢字", 26, 1, 2, 0, 0, 0, 255, 0xFFFFFF, 0, 0x000033, 0x000077, 0, 0};
    const EngineHandle font = CreateFontToHandle(NULL, k.size, -1, k.type, -1, k.edge, 0, -1, -1);
    MEMIMG image = {};
    ASSERT_EQ(CreateMemImg(&image, 640, 40, -1, 0, MEMIMG_KIND_RGB32, 1, 0, 0, NULL), 0);
    RECT clip = {0, 0, 640, 40};
    FillMemImgRect(&image, &clip, 0);
    Canvas canvas = {0, std::vector<double>(640 * 480 * 3)};
    bool inside;
    DrawReference(&canvas, k, GetFontRecord(font), 0, &inside);
    EXPECT_GT(RenderStringWithFont(1, 0, 0, k.text, MakeScreenColor(0, 0, 0x33), &image, &clip, font,
                                   MakeScreenColor(0, 0, 0x77), -1, 0, NULL),
              0);
    int wrong = 0;
    for (int p = 0; p < 640 * 40; p++) {
        const int blue = (int)canvas.rgb[p * 3 + 2], expected = blue ? MakeScreenColor(0, 0, blue) & 0xFF : 0;
        wrong += image.pixels[(p / 640) * image.block->pitch + p % 640] != expected;
    }
    EXPECT_EQ(wrong, 0);
    ReleaseMemImg(&image);
    DeleteFontHandle(font);
}

// A character whose glyph cannot be fetched fails the string with the log line, never taking another glyph's cell.
TYPED_TEST(StringDrawTest, AGlyphThatCannotBeFetchedFailsTheString)
{
    const EngineHandle font = CreateFontToHandle(NULL, 20, -1, 0, -1, -1, 0, -1, -1);
    g_GlyphOutline = StandInGlyphOutline;
    s_StandInCode = 'B';
    s_StandInMode = 1;
    EXPECT_EQ(RenderStringWithFont(0, 0, 0, "AB", 0, NULL, NULL, font, 0, -1, 0, NULL), -1);
    g_GlyphOutline = GetGlyphOutlineA;
    EXPECT_NE(ReadLogText().find("テキストキャッシュの作成に失敗しました"), std::string::npos);
    DeleteFontHandle(font);
}

} // namespace
