// String drawing read back from the device and the software screens (32 and 16 bits) and compared with a reference
// made here: the harness's own GDI glyphs (GetGlyphOutlineA on a font made from the engine font's LOGFONT) placed
// by the drawing rules, edges grown by the neighbourhood rules and every pixel shaded by its path's level rules.
#include "font/font_internal.h"
#include "tests/graphics/log_reading.h"
#include "tests/graphics/screen_readback.h"

#include <math.h>

#include <algorithm>
#include <string>

namespace
{

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

// Edge sizes 2 to 4 are discs given by their row lengths; 1 is the four neighbours; above 4 the whole square.
bool InNeighbourhood(int e, int dx, int dy)
{
    static const int rows[3][9] = {{3, 5, 5, 5, 3}, {1, 5, 5, 7, 5, 5, 1}, {5, 7, 9, 9, 9, 9, 9, 7, 5}};
    if (e == 1) {
        return abs(dx) + abs(dy) == 1;
    }
    return abs(dx) <= e && abs(dy) <= e && (e > 4 || abs(dx) <= rows[e - 2][dy + e] / 2);
}

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
// (ax - j, ay + i) when vertical; the edge levels grown by the path's rule, then shaded.
void DrawReferenceGlyph(Canvas *canvas, const Case &k, const std::vector<int> &glyph, int w, int h, int e, int ax,
                        int ay)
{
    std::vector<int> edge(glyph.size()); // memory: the highest L - 1 around; device: the coverage union
    for (int j = 0; j < h && e > 0; j++) {
        for (int i = 0, L; i < w; i++) {
            for (int q = 0; q < w * h && (L = glyph[j * w + i]) > 0; q++) {
                if (InNeighbourhood(e, q % w - i, q / w - j)) {
                    edge[q] = canvas->device ? (256 - (16 - edge[q]) * (16 - L)) >> 4 : std::max(edge[q], L - 1);
                }
            }
        }
    }
    const double p = k.blendMode ? k.blendParameter / 255.0 : 1.0;
    const uint32_t text = Scale(k.textColor, k.brightness), edgeColor = Scale(k.edgeColor, k.brightness);
    for (int q = 0; q < w * h; q++) {
        const int i = q % w, j = q / w, L = glyph[q], g = L > 0 ? L - 1 : 0, x = k.vertical ? ax - j : ax + i;
        const int y = k.vertical ? ay + i : ay + j;
        int alpha;
        if (k.type < 2) {
            canvas->Blend(x, y, L ? text : edgeColor, L || edge[q] ? p : 0.0);
        } else if (canvas->device) {
            canvas->Blend(x, y, edgeColor, edge[q] > 0 ? (edge[q] - 1) * 17 / 255.0 * p : 0.0);
            canvas->Blend(x, y, text, g * 17 / 255.0 * p);
        } else if (L > 1 || edge[q] > 0) {
            const uint32_t color = ShadeMemory(k.type, g, k.type == 3 ? edge[q] : 0, text, edgeColor, &alpha);
            canvas->Blend(x, y, color, alpha / 255.0 * p);
        }
    }
}

// The case drawn by the rules: each character's GDI glyph from a font with the engine font's LOGFONT, placed at
// pen + origin x across and tmAscent - origin y down from the start moved up (or left) by half the extra height.
// Returns the pen's final value; `inside` says whether every drawn pixel lies in the measured box.
double DrawReference(Canvas *canvas, const Case &k, const FontRecord *record, int x, bool *inside)
{
    LOGFONTA logFont;
    GetObjectA(record->gdiFont, sizeof(logFont), &logFont);
    HFONT font = CreateFontIndirectA(&logFont);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    const int e = k.type > 0 && k.type & 1 ? k.edge : 0, gray = k.type >= 2, lift = record->extraHeight / 2;
    const int lineHeight = (metrics.tmHeight + 2 * e + 1) & ~1, sx = k.vertical ? x - lift : x;
    const int sy = k.vertical ? k.y : k.y - lift;
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    double pen = 0.0;
    int right = 0;
    *inside = true;
    for (const unsigned char *c = (const unsigned char *)k.text; *c != 0;) {
        const bool lead = (*c >= 0x81 && *c <= 0x9F) || (*c >= 0xE0 && *c <= 0xFC);
        const UINT code = lead ? (UINT)(c[0] << 8 | c[1]) : c[0];
        c += lead ? 2 : 1;
        GLYPHMETRICS gm;
        const UINT format = gray ? GGO_GRAY4_BITMAP : GGO_BITMAP;
        DWORD size = GetGlyphOutlineA(dc, code, format, &gm, 0, NULL, &identity);
        std::vector<unsigned char> bits(size + 4);
        const bool space = code == 0x20 || code == 0x8140;
        if (!space && size != 0 && size != GDI_ERROR) {
            GetGlyphOutlineA(dc, code, format, &gm, size, bits.data(), &identity);
            const int bw = gm.gmBlackBoxX, bh = gm.gmBlackBoxY, w = bw + 2 * e, h = bh + 2 * e;
            const int pitch = gray ? (bw + 3) & ~3 : (bw + 31) / 32 * 4;
            std::vector<int> glyph((size_t)w * h);
            for (int j = 0; j < bh; j++) {
                for (int i = 0; i < bw; i++) {
                    const unsigned char *row = &bits[(size_t)j * pitch];
                    glyph[(j + e) * w + i + e] = gray ? row[i] : (row[i >> 3] >> (7 - (i & 7)) & 1) * 16;
                }
            }
            const int across = (int)pen + gm.gmptGlyphOrigin.x, down = metrics.tmAscent - gm.gmptGlyphOrigin.y;
            const int ax = k.vertical ? sx + lineHeight - down : sx + across, ay = k.vertical ? sy + across : sy + down;
            DrawReferenceGlyph(canvas, k, glyph, w, h, e, ax, ay);
            *inside &= across >= 0 && down >= 0 && down + h <= lineHeight;
            right = std::max(right, across + w);
        }
        pen += gm.gmCellIncX + 2 * e + k.spacing;
    }
    *inside &= right <= (int)pen;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
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

DWORD WINAPI FailingForB(HDC dc, UINT code, UINT format, LPGLYPHMETRICS metrics, DWORD size, LPVOID buffer,
                         const MAT2 *matrix)
{
    return code == 'B' ? GDI_ERROR : GetGlyphOutlineA(dc, code, format, metrics, size, buffer, matrix);
}

// A character whose glyph cannot be fetched fails the string with the log line, never taking another glyph's cell.
TYPED_TEST(StringDrawTest, AGlyphThatCannotBeFetchedFailsTheString)
{
    const EngineHandle font = CreateFontToHandle(NULL, 20, -1, 0, -1, -1, 0, -1, -1);
    g_GlyphOutline = FailingForB;
    EXPECT_EQ(RenderStringWithFont(0, 0, 0, "AB", 0, NULL, NULL, font, 0, -1, 0, NULL), -1);
    g_GlyphOutline = GetGlyphOutlineA;
    EXPECT_NE(ReadLogText().find("テキストキャッシュの作成に失敗しました"), std::string::npos);
    DeleteFontHandle(font);
}

} // namespace
