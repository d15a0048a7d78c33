// Font handles: the table of at most 40 fonts, each a GDI font with its metrics and a glyph cache (a texture on
// the Direct3D device, a byte image on the software screen); creation with its retries and height correction,
// deletion, re-creation with the same handle values after a device rebuild, and the small queries and setters.
// Window thread only.
#include "font/font_internal.h"

#include "graphics/graphics.h"

#define DEFAULT_FONT_FACE "ＭＳ ゴシック"
#define GDI_DEFAULT_CHARSET 1
#define GDI_SHIFTJIS_CHARSET 128
#define TEXTURE_CACHE_START_SIZE 512
#define TEXTURE_CACHE_MIN_ENTRIES 10
#define MEMORY_CACHE_PIXELS 0x50000
#define MEMORY_CACHE_MIN_ENTRIES 20
#define FONT_CACHE_BYTE_LIMIT 0x7FFFFFFFLL // a cache must be addressable with an int pitch and offset

static FontRecord *s_Fonts[FONT_HANDLE_LIMIT];
static int s_CheckCounter;

FontRecord *GetFontRecord(EngineHandle font)
{
    return (FontRecord *)ValidateEngineHandle(font, HANDLE_TYPE_FONT, (void *const *)s_Fonts, FONT_HANDLE_LIMIT);
}

int IsLiveFontHandle(EngineHandle value)
{
    return GetFontRecord(value) != NULL;
}

int ClearFontTable(void)
{
    MemFill(s_Fonts, 0, sizeof(s_Fonts));
    s_CheckCounter = 0;
    return 0;
}

int DeleteAllFontHandles(void)
{
    for (int slot = 0; slot < FONT_HANDLE_LIMIT; slot++) {
        if (s_Fonts[slot] != NULL) {
            DeleteFontHandle(MakeEngineHandle(HANDLE_TYPE_FONT, s_Fonts[slot]->checkNumber, slot));
        }
    }
    return 0;
}

int DeleteFontHandle(EngineHandle font)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    if (record->gdiFont != NULL) {
        DeleteObject(record->gdiFont);
    }
    FreeMemory(record->memoryCache);
    ReleaseGlyphTexture(record);
    FreeMemory(record->staging.pixels);
    if (record->lostFlag != NULL) {
        *record->lostFlag = 1;
    }
    FreeMemory(record);
    s_Fonts[font & HANDLE_INDEX_MASK] = NULL;
    return 0;
}

// Frees whatever a failed creation has made so far and clears its slot; always -1.
static int UndoFontCreation(int slot)
{
    s_Fonts[slot]->checkNumber = 0;
    DeleteFontHandle(HANDLE_TYPE_FONT | slot);
    return -1;
}

static int TakeFontSlot(int slot)
{
    if (slot >= 0) {
        return slot < FONT_HANDLE_LIMIT && s_Fonts[slot] == NULL ? slot : -1;
    }
    for (int free = 0; free < FONT_HANDLE_LIMIT; free++) {
        if (s_Fonts[free] == NULL) {
            return free;
        }
    }
    LogFormatLine("作成できるフォントハンドル数 %d の限界を超えました", FONT_HANDLE_LIMIT);
    return -1;
}

static int GdiCharSetOf(CharSetId charSet)
{
    static const int table[] = {GDI_DEFAULT_CHARSET, GDI_SHIFTJIS_CHARSET, 129, 136, 134};
    return charSet >= 0 && charSet <= CHARSET_GB2312 ? table[charSet] : GDI_DEFAULT_CHARSET;
}

static HFONT MakeGdiFont(const char *face, int height, int thickness, int italic, int charSet)
{
    return CreateFontA(height, 0, 0, 0, thickness * 100, italic, FALSE, FALSE, charSet, 0, 0, NONANTIALIASED_QUALITY, 1,
                       face);
}

// The GDI font with the record's face (or the default face and its fallbacks); null and the log line on failure.
static HFONT MakeFontWithRetries(const FontRecord *record, const char *face, int height)
{
    int charSet = GdiCharSetOf(record->charSet);
    HFONT font;
    if (face != NULL && face[0] != '\0') {
        const int charSets[] = {charSet, GDI_DEFAULT_CHARSET, GDI_SHIFTJIS_CHARSET};
        for (int tried : charSets) {
            if ((font = MakeGdiFont(face, height, record->thickness, record->italic, tried)) != NULL) {
                return font;
            }
        }
        AddLog("指定のフォントの作成に失敗しました\n");
        return NULL;
    }
    if ((font = MakeGdiFont(DEFAULT_FONT_FACE, height, record->thickness, record->italic, charSet)) != NULL ||
        (font = MakeGdiFont(DEFAULT_FONT_FACE, height, record->thickness, 0, GDI_DEFAULT_CHARSET)) != NULL ||
        (font = MakeGdiFont(NULL, height, record->thickness, 0, GDI_DEFAULT_CHARSET)) != NULL) {
        return font;
    }
    AddLog("フォントの作成に失敗しました\n");
    return NULL;
}

static int ReadFontMetrics(HFONT font, TEXTMETRICA *metrics)
{
    HDC dc = CreateCompatibleDC(NULL);
    if (dc == NULL) {
        AddLog("ＤＣの取得に失敗しました\n");
        return -1;
    }
    HGDIOBJ old = SelectObject(dc, font);
    GetTextMetricsA(dc, metrics);
    SelectObject(dc, old);
    DeleteDC(dc);
    return 0;
}

// The height that makes the character height (cell height less the leading) the requested size, or the size
// itself when the leading leaves nothing to correct or the face's leading is not below its height.
static int CorrectedFontHeight(int size, const TEXTMETRICA *metrics)
{
    long long leading = (long long)metrics->tmInternalLeading + metrics->tmExternalLeading;
    if (leading <= 0 || leading >= metrics->tmHeight) {
        return size;
    }
    float height = (float)(size / (1.0 - (double)leading / metrics->tmHeight));
    if (!(height > 0.0f && height < 2147483520.0f)) {
        return size;
    }
    return (int)height;
}

// Steps 8-10 of creation: the GDI font, corrected once for its leading, and its metrics. -1 after logging.
static int MakeCorrectedFont(FontRecord *record, const char *face, TEXTMETRICA *metrics)
{
    HFONT font = MakeFontWithRetries(record, face, record->size);
    if (font == NULL) {
        return -1;
    }
    if (ReadFontMetrics(font, metrics) != 0) {
        DeleteObject(font);
        return -1;
    }
    int height = CorrectedFontHeight(record->size, metrics);
    if (height != record->size) {
        HFONT corrected = MakeFontWithRetries(record, face, height);
        TEXTMETRICA correctedMetrics;
        if (corrected == NULL || ReadFontMetrics(corrected, &correctedMetrics) != 0) {
            DeleteObject(font);
            if (corrected != NULL) {
                DeleteObject(corrected);
            }
            return -1;
        }
        DeleteObject(font);
        font = corrected;
        record->extraHeight = correctedMetrics.tmHeight - metrics->tmHeight;
        *metrics = correctedMetrics;
    }
    record->gdiFont = font;
    return 0;
}

static void SetCellSize(FontRecord *record, const TEXTMETRICA *metrics)
{
    int edge = record->typeFlags & FONT_TYPE_EDGE ? record->edgeSize * 2 : 0;
    long long cell = ((long long)metrics->tmMaxCharWidth + 2 + edge + 7) / 8 * 8;
    long long line = (long long)metrics->tmHeight + edge;
    line += line & 1;
    record->lineHeight = (int)line;
    record->cellSize = (int)(cell < line ? line : cell);
}

// Texture cache sides and entry count for a cell size: 512 x 512, doubled (width first) until at least 10 cells
// fit, at most 2024 entries. 0 when the cache would be too large to address.
int ComputeTextureCacheLayout(int cell, int *width, int *height, int *count)
{
    long long w = TEXTURE_CACHE_START_SIZE, h = TEXTURE_CACHE_START_SIZE;
    long long n = (w / cell) * (h / cell);
    while (n < TEXTURE_CACHE_MIN_ENTRIES) {
        if (w <= h) {
            w *= 2;
        } else {
            h *= 2;
        }
        if (w * 2 * h * 2 > FONT_CACHE_BYTE_LIMIT) {
            return 0;
        }
        n = (w / cell) * (h / cell);
    }
    *width = (int)w;
    *height = (int)h;
    *count = (int)(n < GLYPH_ENTRY_LIMIT ? n : GLYPH_ENTRY_LIMIT);
    return 1;
}

static int SetupTextureCache(FontRecord *record, int slot)
{
    if (!ComputeTextureCacheLayout(record->cellSize, &record->cacheWidth, &record->cacheHeight, &record->entryCount)) {
        return -1;
    }
    record->cellsPerColumn = record->cacheHeight / record->cellSize;
    record->rebuildTexture = 1;
    return RebuildGlyphTexture(MakeEngineHandle(HANDLE_TYPE_FONT, record->checkNumber, slot));
}

static int SetupStagingImage(FontRecord *record)
{
    int antialias = (record->typeFlags & FONT_TYPE_ANTIALIAS) != 0;
    BaseImage *staging = &record->staging;
    staging->format = *GetGraphFormatIndex(antialias, !antialias, 0, 0);
    staging->width = record->typeFlags & FONT_TYPE_EDGE ? record->cacheWidth * 2 : record->cacheWidth;
    staging->height = record->cacheHeight;
    staging->pitch = staging->width * staging->format.bytesPerPixel;
    staging->mipCount = 0;
    staging->pixels = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)staging->pitch * staging->height);
    if (staging->pixels == NULL) {
        AddLog("文字キャッシュ基本イメージ用のメモリの確保に失敗しました\n");
        return -1;
    }
    return 0;
}

static int SetupMemoryCache(FontRecord *record)
{
    long long cell = record->cellSize;
    long long count = MEMORY_CACHE_PIXELS / (cell * cell);
    count = count < MEMORY_CACHE_MIN_ENTRIES ? MEMORY_CACHE_MIN_ENTRIES : count;
    count = count > GLYPH_ENTRY_LIMIT ? GLYPH_ENTRY_LIMIT : count;
    record->memoryBits = record->typeFlags == 0 ? 1 : 8;
    long long pitch = (cell * record->memoryBits + 7) / 8;
    long long bytes = count * cell * pitch;
    record->entryCount = (int)count;
    record->cacheWidth = (int)cell;
    record->cellsPerColumn = (int)count;
    record->memoryPitch = (int)pitch;
    record->memoryCache = bytes <= FONT_CACHE_BYTE_LIMIT ? (unsigned char *)ENGINE_ALLOC((size_t)bytes) : NULL;
    if (record->memoryCache == NULL) {
        AddLog("フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle");
        return -1;
    }
    record->cacheHeight = (int)(count * cell);
    return 0;
}

static int SetupGlyphCache(FontRecord *record, int slot)
{
    if (record->textureCache) {
        if (SetupTextureCache(record, slot) == 0) {
            return SetupStagingImage(record);
        }
        AddLog("テクスチャ文字キャッシュの作成に失敗しました\n");
        record->textureCache = 0;
    }
    return SetupMemoryCache(record);
}

static void StoreFontSettings(FontRecord *record, int size, int thickness, int typeFlags, CharSetId charSet,
                              int edgeSize, int italic)
{
    if (typeFlags == -1) {
        typeFlags = 0;
    }
    if (edgeSize > 1) {
        typeFlags |= FONT_TYPE_EDGE;
    }
    if (GetScreenColorBits() == 8) {
        typeFlags &= ~FONT_TYPE_ANTIALIAS;
    }
    record->typeFlags = typeFlags;
    record->size = size == -1 ? 16 : size;
    record->thickness = thickness == -1 ? 6 : thickness;
    record->edgeSize = edgeSize == -1 ? 1 : edgeSize;
    record->italic = italic;
    record->charSet = charSet == -1 ? GetEngineCharSet() : charSet;
    record->cacheGraph = -1;
    record->edgeGraph = -1;
}

EngineHandle CreateFontToHandle(const char *face, int size, int thickness, int typeFlags, CharSetId charSet,
                                int edgeSize, int italic, int slot, int checkNumber)
{
    if (IsWindowClosed()) {
        return -1;
    }
    slot = TakeFontSlot(slot);
    if (slot < 0) {
        return -1;
    }
    FontRecord *record = (FontRecord *)ENGINE_ALLOC_ZEROED(sizeof(FontRecord));
    if (record == NULL) {
        AddLog("フォント管理用メモリ領域の確保に失敗しました\n");
        return -1;
    }
    s_Fonts[slot] = record;
    StoreFontSettings(record, size, thickness, typeFlags, charSet, edgeSize, italic);
    if (checkNumber == -1) {
        checkNumber = s_CheckCounter;
        s_CheckCounter = (s_CheckCounter + 1) % HANDLE_CHECK_LIMIT;
    }
    record->checkNumber = (unsigned int)checkNumber & (HANDLE_CHECK_MASK >> HANDLE_CHECK_SHIFT);
    record->textureCache = IsDeviceMode();
    if (face != NULL) {
        StrCopyN(record->face, face, FONT_FACE_SIZE - 1);
    }
    TEXTMETRICA metrics;
    if (MakeCorrectedFont(record, face, &metrics) != 0) {
        return UndoFontCreation(slot);
    }
    SetCellSize(record, &metrics);
    if (SetupGlyphCache(record, slot) != 0) {
        return UndoFontCreation(slot);
    }
    EngineHandle handle = MakeEngineHandle(HANDLE_TYPE_FONT, record->checkNumber, slot);
    ResetGlyphCache(handle);
    return handle;
}

int RecreateAllFontHandles(void)
{
    for (int slot = 0; slot < FONT_HANDLE_LIMIT; slot++) {
        const FontRecord *record = s_Fonts[slot];
        if (record == NULL) {
            continue;
        }
        char face[FONT_FACE_SIZE];
        StrCopy(face, record->face);
        int checkNumber = (int)record->checkNumber, spacing = record->spacing;
        int size = record->size, thickness = record->thickness, typeFlags = record->typeFlags;
        int charSet = record->charSet, edgeSize = record->edgeSize, italic = record->italic;
        DeleteFontHandle(MakeEngineHandle(HANDLE_TYPE_FONT, checkNumber, slot));
        EngineHandle font =
            CreateFontToHandle(face, size, thickness, typeFlags, charSet, edgeSize, italic, slot, checkNumber);
        SetFontSpacingToHandle(spacing, font);
    }
    return 0;
}

int QueryFontHandleState(char *face, int *size, int *thickness, EngineHandle font)
{
    const FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    if (face != NULL) {
        StrCopy(face, record->face);
    }
    if (size != NULL) {
        *size = record->size;
    }
    if (thickness != NULL) {
        *thickness = record->thickness;
    }
    return 0;
}

int GetFontSizeToHandle(EngineHandle font)
{
    const FontRecord *record = GetFontRecord(font);
    return record != NULL ? record->size : -1;
}

int SetFontSpacingToHandle(int spacing, EngineHandle font)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    record->spacing = spacing;
    return 0;
}

int SetFontLostFlagPointer(EngineHandle font, int *flag)
{
    FontRecord *record = GetFontRecord(font);
    if (record == NULL) {
        return -1;
    }
    record->lostFlag = flag;
    if (flag != NULL) {
        *flag = 0;
    }
    return 0;
}
