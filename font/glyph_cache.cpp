// Glyph cache: each font's ring of cache entries and its code table, the cache texture (made again after the
// device lost it), splitting a string into characters, and fetching the missing glyphs through GDI's
// GetGlyphOutlineA in one batch with one DC. Window thread only.
#include "font/font_internal.h"

#include "graphics/graphics.h"
#include "softrender/softrender.h"

#include <string.h>

#define STATIC_SPLIT_BYTES 256
#define GLYPH_SPACE 0x20
#define GLYPH_WIDE_SPACE (0x81 | 0x40 << 8)

static GlyphCharRecord s_SplitRecords[STATIC_SPLIT_BYTES];
static GlyphCharRecord s_NewRecords[GLYPH_ENTRY_LIMIT];

int ResetGlyphCache(EngineHandle font)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    MemFill(record->codes, 0, sizeof(record->codes));
    MemFill(record->entries, 0, sizeof(record->entries));
    for (int i = 0; i < record->entryCount; i++) {
        record->entries[i].cell = i;
    }
    record->entries[record->entryCount].cell = -1;
    record->ringPosition = 0;
    return 0;
}

int ReleaseGlyphTexture(FontRecord *font)
{
    if (font->cacheGraph >= 0) {
        // The edge graph is a view of the cache graph: it goes first. A set rebuild flag says the cache graph is
        // gone already, and its handle may name another graph by now.
        ReleaseGraphHandle(font->edgeGraph, 0);
        if (!font->rebuildTexture) {
            ReleaseGraphHandle(font->cacheGraph, 0);
        }
        font->cacheGraph = -1;
        font->edgeGraph = -1;
    }
    return 0;
}

// The cache graph (glyphs left, edges right) made in the format of the staging image; -1 when it cannot be.
static int MakeCacheGraphs(FontRecord *font)
{
    int antialias = (font->typeFlags & FONT_TYPE_ANTIALIAS) != 0;
    int edged = (font->typeFlags & FONT_TYPE_EDGE) != 0;
    int savedAlpha = GetEmptyGraphAlphaFlag(), savedBits = GetGraphColorBits(), savedFlagA = GetGraphCreateFlagA();
    SetEmptyGraphAlphaFlag(antialias);
    SetGraphCreateFlagA(!antialias);
    SetGraphColorBits(16);
    font->cacheGraph = MakeEmptyGraph(edged ? font->cacheWidth * 2 : font->cacheWidth, font->cacheHeight);
    font->edgeGraph = -1;
    if (font->cacheGraph >= 0 && edged) {
        font->edgeGraph = DeriveSubGraph(font->cacheWidth, 0, font->cacheWidth, font->cacheHeight, font->cacheGraph);
        if (font->edgeGraph < 0) {
            ReleaseGraphHandle(font->cacheGraph, 0);
            font->cacheGraph = -1;
        }
    }
    SetEmptyGraphAlphaFlag(savedAlpha);
    SetGraphColorBits(savedBits);
    SetGraphCreateFlagA(savedFlagA);
    return font->cacheGraph >= 0 ? 0 : -1;
}

int RebuildGlyphTexture(EngineHandle font)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    if (!record->rebuildTexture) {
        return 0;
    }
    ReleaseGlyphTexture(record); // a graph still live would be leaked; releasing it sets the flag again
    record->rebuildTexture = 0;
    if (MakeCacheGraphs(record) != 0) {
        return -1;
    }
    // Deleting the graph (device loss, releasing all graphs) sets the flag, and the next draw builds it again.
    SetGraphLostFlagPtr(record->cacheGraph, &record->rebuildTexture);
    FillGraphWithColor(record->cacheGraph, 255, 255, 255, 0);
    return ResetGlyphCache(font);
}

// ---------------------------------------------------------------------------------------------------------------
// Splitting.

static int SplitString(const char *text, int limit, CharSetId charSet, GlyphCharRecord *records)
{
    int count = 0;
    for (int position = 0; position < limit; count++) {
        const unsigned char *bytes = (const unsigned char *)text + position;
        int lead = IsMultiByteLeadByte(bytes, charSet) && bytes[1] != '\0';
        records[count].code = (unsigned short)(bytes[0] | (lead ? bytes[1] << 8 : 0));
        records[count].zero = 0;
        position += lead ? 2 : 1;
    }
    return count;
}

// The characters not cached yet, each once, at most as many as the cache has entries.
static int CollectNewCharacters(FontRecord *font, const GlyphCharRecord *records, int count)
{
    int fresh = 0;
    for (int i = 0; i < count && fresh < font->entryCount; i++) {
        GlyphCodeSlot *slot = &font->codes[records[i].code];
        if (!slot->cached) {
            slot->cached = 1; // so that repeats are skipped
            s_NewRecords[fresh++] = records[i];
        }
    }
    for (int i = 0; i < fresh; i++) {
        font->codes[s_NewRecords[i].code].cached = 0;
    }
    return fresh;
}

int CacheStringGlyphs(int byteLimit, const char *text, EngineHandle font, GlyphCharRecord **characters, int *count)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL || text == NULL) {
        return -1;
    }
    int limit = (int)strlen(text);
    if (byteLimit != -1 && byteLimit < limit) {
        limit = byteLimit;
    }
    GlyphCharRecord *records = characters != NULL ? *characters : NULL;
    GlyphCharRecord *allocated = NULL;
    if (records == NULL) {
        if (limit > STATIC_SPLIT_BYTES) {
            records = allocated = (GlyphCharRecord *)ENGINE_ALLOC((size_t)limit * sizeof(GlyphCharRecord));
            if (allocated == NULL) {
                return -1;
            }
        } else {
            records = s_SplitRecords;
        }
    }
    int split = SplitString(text, limit, record->charSet, records);
    int fresh = CollectNewCharacters(record, records, split);
    if (fresh > 0) {
        FillGlyphCache(font, fresh, s_NewRecords);
    }
    FreeMemory(allocated);
    if (count != NULL) {
        *count = split;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Filling.

GlyphOutlineFunction g_GlyphOutline = GetGlyphOutlineA;

static const MAT2 s_Identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

static void EvictEntry(GlyphCacheEntry *entry)
{
    if (entry->inUse) {
        entry->codeSlot->cached = 0;
        entry->codeSlot->entry = NULL;
        entry->inUse = 0;
    }
}

static void ClearEntryMetrics(GlyphCacheEntry *entry)
{
    entry->originX = entry->offsetY = entry->advance = 0;
    entry->boxWidth = entry->boxHeight = 0;
}

// Clips the box (glyph plus twice the edge) to the room its cell leaves from the cell origin.
static void SetEntryBox(const FontRecord *font, GlyphCacheEntry *entry, int width, int height)
{
    int roomWidth, roomHeight;
    GetGlyphCellRoom(font, entry->cell, &roomWidth, &roomHeight);
    entry->boxWidth = (short)(width < roomWidth ? width : roomWidth);
    entry->boxHeight = (short)(height < roomHeight ? height : roomHeight);
}

// Asks GDI for the glyph, draws it into the entry's cell and uploads the cell; -1 when GDI fails.
static int RenderGlyph(FontRecord *font, HDC dc, const TEXTMETRICA *metrics, unsigned int gdiCode, int format,
                       GlyphCacheEntry *entry)
{
    int e = font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0;
    GLYPHMETRICS glyph;
    DWORD size = g_GlyphOutline(dc, gdiCode, format, &glyph, 0, NULL, &s_Identity);
    if (size == GDI_ERROR) {
        return -1;
    }
    entry->originX = (short)glyph.gmptGlyphOrigin.x;
    entry->offsetY = (short)(metrics->tmAscent - glyph.gmptGlyphOrigin.y);
    entry->advance = (short)(glyph.gmCellIncX + 2 * e);
    if (size == 0 || glyph.gmBlackBoxY == 0) {
        return 0; // nothing to draw (a control character, one the face lacks): a 0 x 0 box
    }
    int pitch = (int)(size / glyph.gmBlackBoxY) & ~3;
    unsigned char *buffer = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)size + 2 * (size_t)pitch);
    if (buffer == NULL) {
        FatalErrorExit("アンチエイリアス文字取得用バッファの確保に失敗しました");
    }
    if (g_GlyphOutline(dc, gdiCode, format, &glyph, size, buffer + pitch, &s_Identity) == GDI_ERROR) {
        FreeMemory(buffer);
        return -1;
    }
    GlyphBitmap bitmap = {buffer + pitch, pitch, (int)glyph.gmBlackBoxX, (int)glyph.gmBlackBoxY,
                          format == GGO_GRAY4_BITMAP};
    SetEntryBox(font, entry, bitmap.width + 2 * e, bitmap.height + 2 * e);
    DrawGlyphIntoCell(font, entry->cell, &bitmap);
    if (font->textureCache) {
        UploadGlyphCell(font, entry->cell, entry->boxWidth, entry->boxHeight);
    }
    FreeMemory(buffer);
    return 0;
}

// Spaces advance without pixels: GDI is asked for the metrics only.
static int MeasureSpace(FontRecord *font, HDC dc, unsigned int gdiCode, GlyphCacheEntry *entry)
{
    int e = font->typeFlags & FONT_TYPE_EDGE ? font->edgeSize : 0;
    GLYPHMETRICS glyph;
    if (g_GlyphOutline(dc, gdiCode, GGO_METRICS, &glyph, 0, NULL, &s_Identity) == GDI_ERROR) {
        return -1;
    }
    entry->advance = (short)(glyph.gmCellIncX + 2 * e);
    SetEntryBox(font, entry, 2 * e, 2 * e);
    return 0;
}

static int FillEntry(FontRecord *font, HDC dc, const TEXTMETRICA *metrics, unsigned short code, GlyphCacheEntry *entry)
{
    unsigned int first = code & 0xFF, second = code >> 8;
    unsigned int gdiCode = second != 0 ? first << 8 | second : first;
    int format = font->typeFlags & FONT_TYPE_ANTIALIAS ? GGO_GRAY4_BITMAP : GGO_BITMAP;
    ClearGlyphCell(font, entry->cell);
    if (code == GLYPH_SPACE || code == GLYPH_WIDE_SPACE) {
        return MeasureSpace(font, dc, gdiCode, entry);
    }
    return RenderGlyph(font, dc, metrics, gdiCode, format, entry);
}

GlyphCacheEntry *FillGlyphCache(EngineHandle font, int count, const GlyphCharRecord *characters)
{
    FontRecord *record = GetFontRecord(font);
    if (g_MemImgDrawSettings.resetting || record == NULL) {
        return NULL;
    }
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ previous = dc != NULL ? SelectObject(dc, record->gdiFont) : NULL;
    if (previous == NULL || previous == HGDI_ERROR) {
        FatalErrorExit("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
    }
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    GlyphCacheEntry *last = NULL;
    for (int i = 0; i < count; i++) {
        GlyphCacheEntry *entry = &record->entries[record->ringPosition];
        EvictEntry(entry);
        ClearEntryMetrics(entry);
        if (FillEntry(record, dc, &metrics, characters[i].code, entry) != 0) {
            ClearEntryMetrics(entry); // nothing of a half-made glyph or of the one evicted
            AddLog("GetGlyphOutline 関数が失敗しました\n");
            continue; // the entry stays empty and takes the next character
        }
        GlyphCodeSlot *slot = &record->codes[characters[i].code];
        entry->inUse = 1;
        entry->codeSlot = slot;
        slot->cached = 1;
        slot->entry = entry;
        record->ringPosition = (record->ringPosition + 1) % record->entryCount;
        last = entry;
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    return last;
}
