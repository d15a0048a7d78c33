// String drawing: one line of Shift-JIS text at a point with a font handle or the default font. One renderer walks
// the string and measures it or draws each glyph from the font's cache: on the device as tinted rectangles of the
// cache graph through the graphics core's drawing calls, on the software screen by writing pixels into a software
// image, straight into the draw target when the blend settings allow, else into a work image that is then blitted
// so that the blend applies to the text as a whole. Window thread only.
#include "font/font_internal.h"
#include "graphics/graphics.h"
#include "softrender/softrender.h"

#include <stdarg.h>
#include <string.h>

#define STATIC_LIST_BYTES 256 // strings up to this length draw without an allocation
#define FORMAT_BUFFER_SIZE 2048

static GlyphCharRecord s_Characters[STATIC_LIST_BYTES];
static char s_FormatBuffer[FORMAT_BUFFER_SIZE];

static int IsEmptyRect(const RECT *rect)
{
    return rect->right <= rect->left || rect->bottom <= rect->top;
}

// ---------------------------------------------------------------------------------------------------------------
// Colours and spaces.

// A screen colour's channels multiplied by the draw brightness: a screen colour value on the memory path, a
// brightness word on the texture path.
static unsigned int PrepareColor(unsigned int color, int forTexture)
{
    const unsigned int brightness = g_MemImgDrawSettings.brightness;
    int red, green, blue;
    SplitScreenColor(color, &red, &green, &blue);
    red = red * (int)(brightness >> 16 & 0xFF) / 255;
    green = green * (int)(brightness >> 8 & 0xFF) / 255;
    blue = blue * (int)(brightness & 0xFF) / 255;
    if (forTexture) {
        return 0xFF000000u | (unsigned int)red << 16 | (unsigned int)green << 8 | (unsigned int)blue;
    }
    const unsigned int screen = MakeScreenColor(red, green, blue);
    return GetScreenColorBits() == 32 ? screen & 0xFFFFFFu : screen & 0xFFFFu;
}

static int IsSpaceCharacter(unsigned short code)
{
    return code == 0x20 || code == (0x81 | 0x40 << 8);
}

// ---------------------------------------------------------------------------------------------------------------
// Texture path.

// The blend graph is switched off and the brightness taken over while a string's glyphs are drawn.
struct TextureDrawSaved {
    int blendGraph, blendBorder, blendRange;
    unsigned int brightness;
};

static void BeginTextureDraw(TextureDrawSaved *saved)
{
    GetBlendGraphSettings(&saved->blendGraph, &saved->blendBorder, &saved->blendRange);
    saved->brightness = g_MemImgDrawSettings.brightness;
    SelectBlendGraph(-1, 0, 0);
}

static void EndTextureDraw(const TextureDrawSaved *saved)
{
    SelectBlendGraph(saved->blendGraph, saved->blendBorder, saved->blendRange);
    SetDrawBrightColor(saved->brightness);
}

// The whole graph as a quad turned a quarter clockwise, placed so that the cell at (cellX, cellY) lands with its
// pixel (i, j) at (right - j, top + i), drawn inside the turned box only.
static void DrawTurnedCell(EngineHandle graph, int graphWidth, int graphHeight, int cellX, int cellY,
                           const GlyphCacheEntry *entry, int right, int top)
{
    const RECT saved = g_MemImgDrawSettings.drawArea;
    RECT box = {right - entry->boxHeight + 1, top, right + 1, top + entry->boxWidth};
    if (!IntersectRect(&box, &box, &saved)) {
        return;
    }
    SetDrawClipArea(box.left, box.top, box.right, box.bottom);
    // The graph's top edge lands on the right, its left edge at the top; corners moved half a pixel as in every
    // image draw.
    const float topEdgeX = (float)(right + 1 + cellY) - 0.5f, bottomEdgeX = topEdgeX - (float)graphHeight;
    const float y1 = (float)(top - cellX) - 0.5f, y2 = y1 + (float)graphWidth;
    DrawGraphQuadF(topEdgeX, y1, topEdgeX, y2, bottomEdgeX, y2, bottomEdgeX, y1, graph, TRUE);
    SetDrawClipArea(saved.left, saved.top, saved.right, saved.bottom);
}

// Where the glyph box's first pixel goes: across, its top-left at (x + pen + origin x, y + y offset); downwards,
// turned a quarter clockwise, its top-left at (x + line height - y offset, y + pen + origin x), its rows leftwards.
static POINT GlyphAnchor(const FontRecord *font, const GlyphCacheEntry *entry, int x, int y, int pen, int vertical)
{
    if (vertical) {
        return {x + font->lineHeight - entry->offsetY, y + pen + entry->originX};
    }
    return {x + pen + entry->originX, y + entry->offsetY};
}

static void DrawGlyphFromTexture(const FontRecord *font, const GlyphCacheEntry *entry, POINT at, int vertical,
                                 const TextColors *colors)
{
    int cellX, cellY;
    GetGlyphCellOrigin(font, entry->cell, &cellX, &cellY);
    const int edged = font->typeFlags & FONT_TYPE_EDGE;
    const EngineHandle graphs[2] = {font->edgeGraph, font->cacheGraph};
    const unsigned int brightness[2] = {colors->edge, colors->text};
    const int widths[2] = {font->cacheWidth, font->cacheWidth * (edged ? 2 : 1)};
    for (int pass = edged ? 0 : 1; pass < 2; pass++) {
        SetDrawBrightColor(brightness[pass]);
        if (vertical) {
            DrawTurnedCell(graphs[pass], widths[pass], font->cacheHeight, cellX, cellY, entry, at.x, at.y);
        } else {
            DrawGraphPart(at.x, at.y, cellX, cellY, entry->boxWidth, entry->boxHeight, graphs[pass], TRUE, FALSE);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The renderer.

static void DrawGlyph(const FontRecord *font, const GlyphCacheEntry *entry, int x, int y, int pen, MEMIMG *target,
                      const RECT *clip, int vertical, const TextColors *colors)
{
    const POINT at = GlyphAnchor(font, entry, x, y, pen, vertical);
    if (target == NULL) {
        DrawGlyphFromTexture(font, entry, at, vertical, colors);
    } else {
        WriteGlyphToMemImg(font, entry, target, clip, at.x, at.y, vertical, colors);
    }
}

// The cache entry of a character, filled now when the batch fill could not keep it; null when it cannot be made.
static const GlyphCacheEntry *FindGlyph(FontRecord *font, EngineHandle handle, const GlyphCharRecord *character)
{
    const GlyphCodeSlot *slot = &font->codes[character->code];
    if (slot->cached && slot->entry != NULL) {
        return slot->entry;
    }
    return FillGlyphCache(handle, 1, character);
}

// Walks the split string, adding each advance to the pen; -1 when a glyph cannot be cached. The record is looked up
// again for every character: a draw may wait for the window, and a device rebuild meanwhile makes the font anew.
static int WalkCharacters(EngineHandle handle, const GlyphCharRecord *characters, int count, int draw, int x, int y,
                          MEMIMG *target, const RECT *clip, int vertical, const TextColors *colors, double *pen)
{
    for (int n = 0; n < count; n++) {
        FontRecord *font = GetFontRecord(handle);
        const GlyphCacheEntry *entry = font != NULL ? FindGlyph(font, handle, &characters[n]) : NULL;
        if (entry == NULL) {
            return AddLog("テキストキャッシュの作成に失敗しました\n");
        }
        if (draw && !IsSpaceCharacter(characters[n].code) && entry->boxWidth > 0 && entry->boxHeight > 0) {
            DrawGlyph(font, entry, x, y, (int)*pen, target, clip, vertical, colors);
        }
        *pen += entry->advance + font->spacing;
    }
    return 0;
}

int RenderStringWithFont(int draw, int x, int y, const char *text, unsigned int color, MEMIMG *target, const RECT *clip,
                         EngineHandle font, unsigned int edgeColor, int byteLimit, int vertical, SIZE *size)
{
    FontRecord *record = GetFontRecord(font);
    if (g_MemImgDrawSettings.resetting || record == NULL) {
        return -1;
    }
    const int lift = record->extraHeight / 2;
    (vertical ? x : y) -= lift;
    const int forTexture = target == NULL;
    const TextColors colors = {PrepareColor(color, forTexture), PrepareColor(edgeColor, forTexture)};
    if (text == NULL || text[0] == '\0') {
        return 0;
    }
    const int length = (int)strlen(text), bytes = byteLimit != -1 && byteLimit < length ? byteLimit : length;
    GlyphCharRecord *list = s_Characters;
    if (bytes > STATIC_LIST_BYTES) {
        list = (GlyphCharRecord *)ENGINE_ALLOC((size_t)bytes * sizeof(GlyphCharRecord));
        if (list == NULL) {
            return -1;
        }
    }
    GlyphCharRecord *split = list;
    int count = 0, result = CacheStringGlyphs(bytes, text, font, &split, &count);
    double pen = 0.0;
    if (result == 0) {
        TextureDrawSaved saved;
        const int textureDraw = draw && forTexture;
        if (textureDraw) {
            BeginTextureDraw(&saved);
        }
        result = WalkCharacters(font, split, count, draw, x, y, target, clip, vertical, &colors, &pen);
        if (textureDraw) {
            EndTextureDraw(&saved);
        }
    }
    if (list != s_Characters) {
        FreeMemory(list);
    }
    record = GetFontRecord(font);
    if (result != 0 || record == NULL) {
        return -1;
    }
    if (size != NULL) {
        size->cx = vertical ? record->lineHeight : (int)pen;
        size->cy = vertical ? (int)pen : record->lineHeight;
    }
    return (int)pen;
}

// ---------------------------------------------------------------------------------------------------------------
// The two paths.

static int DrawStringTextureCache(int x, int y, const char *text, unsigned int color, unsigned int edgeColor,
                                  int vertical, EngineHandle font)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL || !record->textureCache) {
        return 0;
    }
    RebuildGlyphTexture(font);
    const RECT area = g_MemImgDrawSettings.drawArea;
    RenderStringWithFont(1, x, y, text, color, NULL, &area, font, edgeColor, -1, vertical, NULL);
    return 0;
}

// The blend applies to the whole text at once: the work image keeps the glyphs over a background value that none
// of them is written in, and is blitted with that value as its transparent colour.
static int DrawStringThroughWorkImage(int x, int y, const char *text, unsigned int color, unsigned int edgeColor,
                                      int vertical, EngineHandle font, const SIZE *size)
{
    const FontRecord *record = GetFontRecord(font);
    const int antialiased = record->typeFlags & FONT_TYPE_ANTIALIAS;
    MEMIMG *work = GetSoftwareWorkImage(antialiased);
    if (work == NULL || !IsValidMemImg(work)) {
        return 0;
    }
    RECT textRect = {0, 0, size->cx, size->cy}, screen = {0, 0, work->width, work->height};
    if (!IntersectRect(&textRect, &textRect, &screen)) {
        return 0;
    }
    unsigned int background = 0;
    if (!antialiased) {
        const TextColors prepared = {PrepareColor(color, 0), PrepareColor(edgeColor, 0)};
        background = work->block->transparentValue;
        while (background == prepared.text || background == prepared.edge) {
            background++;
        }
        work->block->transparentValue = background;
    }
    FillMemImgRect(work, &textRect, background);
    // The work image starts at the line's top (or left) edge, where the renderer's lift puts the text: rows the
    // lift moves above the start point stay in the picture, as in the direct case.
    const int lift = record->extraHeight / 2, liftX = vertical ? lift : 0, liftY = vertical ? 0 : lift;
    RenderStringWithFont(1, liftX, liftY, text, color, work, &textRect, font, edgeColor, -1, vertical, NULL);
    x -= liftX;
    y -= liftY;
    const RECT saved = g_MemImgDrawSettings.drawArea;
    const unsigned int brightness = g_MemImgDrawSettings.brightness;
    RECT area = {x, y, x + textRect.right, y + textRect.bottom};
    if (IntersectRect(&area, &area, &saved)) {
        SetDrawClipArea(area.left, area.top, area.right, area.bottom);
        SetDrawBrightColor(0xFFFFFF); // the colours already carry the brightness
        MemImgDrawImage(g_MemImgDrawSettings.target, work, x, y, TRUE, g_MemImgDrawSettings.blendImage);
        SetDrawClipArea(saved.left, saved.top, saved.right, saved.bottom);
        SetDrawBrightColor(brightness);
    }
    return 0;
}

static int DrawStringMemoryCache(int x, int y, const char *text, unsigned int color, unsigned int edgeColor,
                                 int vertical, EngineHandle font)
{
    SIZE size = {0, 0};
    if (RenderStringWithFont(0, x, y, text, color, NULL, NULL, font, edgeColor, -1, vertical, &size) < 0) {
        return 0;
    }
    const FontRecord *record = GetFontRecord(font);
    const int mode = g_MemImgDrawSettings.blendMode, parameter = g_MemImgDrawSettings.blendParameter;
    const int direct = !(record->typeFlags & FONT_TYPE_ANTIALIAS) && (mode == 0 || (mode == 1 && parameter == 255));
    if (!direct) {
        return DrawStringThroughWorkImage(x, y, text, color, edgeColor, vertical, font, &size);
    }
    MEMIMG *target = g_MemImgDrawSettings.target;
    if (target != NULL && IsValidMemImg(target)) {
        const RECT area = g_MemImgDrawSettings.drawArea;
        RenderStringWithFont(1, x, y, text, color, target, &area, font, edgeColor, -1, vertical, NULL);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Public calls.

// The rectangle the text may touch, for the mask and the blend-mode-3 passes; 0 when it starts past the area.
static int MakeTextBounds(int x, int y, const FontRecord *font, int vertical, RECT *bounds)
{
    const RECT area = g_MemImgDrawSettings.drawArea;
    const int half = font->extraHeight / 2;
    if (vertical) {
        SetRect(bounds, x + half, y, x + half + font->size + 3, area.bottom);
    } else {
        SetRect(bounds, x, y - half, area.right, y - half + font->size + 3);
    }
    return bounds->left < area.right;
}

int DrawStringToFontHandle(int x, int y, const char *text, unsigned int color, EngineHandle font,
                           unsigned int edgeColor, int vertical)
{
    if (text == NULL || text[0] == '\0' || g_MemImgDrawSettings.resetting ||
        IsEmptyRect(&g_MemImgDrawSettings.drawArea)) {
        return 0;
    }
    if (GetFontRecord(font) == NULL) {
        return AddLog("フォントハンドル値が異常です\n");
    }
    WaitWhileInactive();
    const FontRecord *record = GetFontRecord(font); // again: the wait pumps messages
    if (record == NULL) {
        return -1;
    }
    const int texture = record->textureCache, masked = IsMaskScreenInUse();
    const int modeThree = g_MemImgDrawSettings.blendMode == 3 && texture;
    RECT bounds = {0, 0, 0, 0};
    if (modeThree || masked || GetDrawTarget() == -4) {
        if (!MakeTextBounds(x, y, record, vertical, &bounds)) {
            return 0;
        }
    }
    const int threePasses = modeThree && IsBlendModeThreePassNeeded();
    if (masked) {
        MaskDrawBegin(&bounds);
    }
    if (threePasses) {
        BeginBlendModeThreePass(bounds.left, bounds.top, bounds.right, bounds.bottom);
    }
    int result = texture ? DrawStringTextureCache(x, y, text, color, edgeColor, vertical, font)
                         : DrawStringMemoryCache(x, y, text, color, edgeColor, vertical, font);
    if (threePasses) {
        EndBlendModeThreePass(bounds.left, bounds.top, bounds.right, bounds.bottom);
    }
    if (masked) {
        MaskDrawEnd(&bounds);
    }
    return result;
}

int DrawStringDefault(int x, int y, const char *text, unsigned int color, unsigned int edgeColor)
{
    RefreshDefaultFont();
    return DrawStringToFontHandle(x, y, text, color, GetStandardFontHandle(), edgeColor, 0);
}

int DrawFormatStringDefault(int x, int y, unsigned int color, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    VSprintfWrap(s_FormatBuffer, sizeof(s_FormatBuffer), format, args);
    va_end(args);
    RefreshDefaultFont();
    return DrawStringToFontHandle(x, y, s_FormatBuffer, color, GetStandardFontHandle(), 0, 0);
}
