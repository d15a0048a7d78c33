// Text on the device against the graphics core's own rectangle draw: a 40-character string whose glyphs are in the
// cache, drawn 300 times a frame through DrawStringToFontHandle, against the same 40 cache rectangles placed at the
// same points through DrawGraphPart with the brightness set once per string, as the text path does. Every frame
// ends with a present. Starts the engine in a 640x480 window. Single-threaded (the window thread).
#include "bench/bench.h"

#include "font/font_internal.h"
#include "graphics/graphics.h"

#include <stdio.h>

#define STRINGS_PER_FRAME 300
#define FRAMES_PER_ROUND 5
#define ROUNDS 7

static const char s_Text[] = "ＮＯＷＬＯＡＤＩＮＧ・・・・ＳＴＡＲＴ漢字かなカナ亜唖娃阿哀愛挨姶逢葵茜穐悪握渥";

struct PlacedRect {
    int x, y, srcX, srcY, width, height;
};

static PlacedRect s_Rects[64];
static int s_RectCount;

static void StringPlace(int index, int *x, int *y)
{
    *x = (index * 37) % 40;
    *y = (index * 16) % 464;
}

// The glyph rectangles of the cached string as the text path places them (pen + origin x, y offset).
static void PlaceRects(const FontRecord *font)
{
    double pen = 0.0;
    for (const unsigned char *c = (const unsigned char *)s_Text; *c != 0;) {
        const int lead = IsMultiByteLeadByte(c, font->charSet);
        const unsigned short code = (unsigned short)(c[0] | (lead ? c[1] << 8 : 0));
        c += lead ? 2 : 1;
        const GlyphCacheEntry *entry = font->codes[code].entry;
        int cellX, cellY;
        GetGlyphCellOrigin(font, entry->cell, &cellX, &cellY);
        if (entry->boxWidth > 0 && code != 0x20) {
            s_Rects[s_RectCount++] = {
                (int)pen + entry->originX, entry->offsetY - font->extraHeight / 2, cellX, cellY, entry->boxWidth,
                entry->boxHeight};
        }
        pen += entry->advance + font->spacing;
    }
}

static void DrawTextFrame(EngineHandle font)
{
    const unsigned int white = MakeScreenColor(255, 255, 255);
    for (int i = 0; i < STRINGS_PER_FRAME; i++) {
        int x, y;
        StringPlace(i, &x, &y);
        DrawStringToFontHandle(x, y, s_Text, white, font, 0, 0);
    }
    FlipScreen();
}

static void DrawRectFrame(EngineHandle graph)
{
    for (int i = 0; i < STRINGS_PER_FRAME; i++) {
        int x, y;
        StringPlace(i, &x, &y);
        SetDrawBrightColor(0xFFFFFF);
        for (int r = 0; r < s_RectCount; r++) {
            const PlacedRect *rect = &s_Rects[r];
            DrawGraphPart(x + rect->x, y + rect->y, rect->srcX, rect->srcY, rect->width, rect->height, graph, 1, 0);
        }
    }
    FlipScreen();
}

int main(void)
{
    SetMainWindowTitle("QvFontBench");
    ChangeWindowMode(1);
    if (InitEngine() != 0 || !IsDeviceMode()) {
        printf("font_draw_bench: the engine did not start on the device\n");
        return 1;
    }
    SetDrawTarget(-2);
    const EngineHandle font = CreateFontToHandle(NULL, 16, -1, 0, -1, -1, 0, -1, -1);
    const FontRecord *record = GetFontRecord(font);
    if (record == NULL || !record->textureCache) {
        printf("font_draw_bench: no texture-cache font\n");
        EndEngine();
        return 1;
    }
    DrawTextFrame(font);
    PlaceRects(record);
    DrawRectFrame(record->cacheGraph);
    const double rects = BenchBest(ROUNDS, [record] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawRectFrame(record->cacheGraph);
        }
    });
    const double text = BenchBest(ROUNDS, [font] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawTextFrame(font);
        }
    });
    char name[96];
    SprintfWrap(name, sizeof(name), "DrawStringToFontHandle, %d strings of 40 cached characters", STRINGS_PER_FRAME);
    BenchReport(name, text / FRAMES_PER_ROUND, "DrawGraphPart of the same cache rectangles", rects / FRAMES_PER_ROUND);
    DeleteFontHandle(font);
    EndEngine();
    return 0;
}
