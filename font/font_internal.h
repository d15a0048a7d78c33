// Internal to font/: the font table and its records, the glyph cache entries and the string splitter shared by
// font handles, the glyph cache and string drawing. Window thread only.
#pragma once

#include "font/font.h"
#include "image/image.h"

#define FONT_HANDLE_LIMIT 40
#define FONT_FACE_SIZE 256
#define GLYPH_ENTRY_SLOTS 2025 // the entry after the last used one has cell number -1
#define GLYPH_ENTRY_LIMIT 2024
#define GLYPH_CODE_SLOTS 65536
#define FONT_TYPE_EDGE 1
#define FONT_TYPE_ANTIALIAS 2

struct GlyphCodeSlot;

struct GlyphCacheEntry {
    unsigned char inUse, spare;
    short originX;
    short offsetY; // tmAscent minus the glyph origin's y: rows from the top of the line to the glyph's top
    short advance;
    short spare2;
    int cell; // fixed from the emptying on
    short boxWidth, boxHeight;
    GlyphCodeSlot *codeSlot; // the code-table slot that points here
};

struct GlyphCodeSlot {
    unsigned int cached;
    GlyphCacheEntry *entry;
};

// One character of a split string: the code (first byte | second byte << 8) and a zero byte.
#pragma pack(push, 1)
struct GlyphCharRecord {
    unsigned short code;
    unsigned char zero;
};
#pragma pack(pop)

struct FontRecord {
    unsigned int checkNumber;
    int *lostFlag; // set to 1 when the record is deleted
    GlyphCacheEntry entries[GLYPH_ENTRY_SLOTS];
    GlyphCodeSlot codes[GLYPH_CODE_SLOTS];
    int ringPosition;
    int entryCount;
    unsigned char *memoryCache; // memory path: the cells, one column
    int memoryPitch;
    int memoryBits;            // 1 or 8
    char face[FONT_FACE_SIZE]; // empty: the default face
    int thickness;
    int size;
    int lineHeight;
    int extraHeight;
    int italic;
    int spacing;
    int cellSize;
    HFONT gdiFont;
    int typeFlags;
    CharSetId charSet;
    int edgeSize;
    int cacheWidth, cacheHeight;
    int cellsPerColumn;
    EngineHandle cacheGraph; // -1 when none
    EngineHandle edgeGraph;
    int rebuildTexture; // 1 while the cache texture still has to be made
    BaseImage staging;  // glyphs drawn here before upload
    int textureCache;   // 1 texture path, 0 memory path
};

FontRecord *GetFontRecord(EngineHandle font); // null unless live
int ClearFontTable(void);                     // every slot free, the check counter back to 0
int DeleteAllFontHandles(void);
// The GDI height that makes a font's character height (its height less the leading) the size; the size itself
// when there is no leading, or when the leading is not below the height.
int CorrectedFontHeight(int size, const TEXTMETRICA *metrics);
// Texture cache sides and entry count for a cell size; 0 when such a cache would be too large to address.
int ComputeTextureCacheLayout(int cell, int *width, int *height, int *count);

// The glyph cache.
int ResetGlyphCache(EngineHandle font);
int RebuildGlyphTexture(EngineHandle font);
int ReleaseGlyphTexture(FontRecord *font); // the cache and edge graphs, when made
// Splits the string (up to byteLimit bytes, -1: all) and caches the characters not cached yet. With `characters`
// given and *characters not null, the split is written to the caller's list, which has room for one record per
// byte; `count` receives the number of characters.
int CacheStringGlyphs(int byteLimit, const char *text, EngineHandle font, GlyphCharRecord **characters, int *count);
// The GDI glyph call the fill makes (GetGlyphOutlineA); tests put a stand-in here.
typedef DWORD(WINAPI *GlyphOutlineFunction)(HDC dc, UINT character, UINT format, LPGLYPHMETRICS metrics, DWORD size,
                                            LPVOID buffer, const MAT2 *matrix);
extern GlyphOutlineFunction g_GlyphOutline;
// Null when no character could be filled (a handle not live, every fetch failed).
GlyphCacheEntry *FillGlyphCache(EngineHandle font, int count, const GlyphCharRecord *characters);
void GetGlyphCellOrigin(const FontRecord *font, int cell, int *x, int *y);

// Glyph cells (glyph_render.cpp). A fetched glyph: rows of `pitch` bytes, 1 bit per pixel (most significant bit
// first) or one GDI grey level 0..16 per byte.
struct GlyphBitmap {
    const unsigned char *bits;
    int pitch, width, height;
    int gray;
};
int GetGlyphCellRoom(const FontRecord *font, int cell, int *width, int *height); // from the cell origin to its end
void ClearGlyphCell(FontRecord *font, int cell);
void DrawGlyphIntoCell(FontRecord *font, int cell, const GlyphBitmap *glyph); // clipped to the cell
int UploadGlyphCell(FontRecord *font, int cell, int boxWidth, int boxHeight);

// String drawing's one renderer: measures (draw flag 0) or draws; the pen's final value, or -1.
int RenderStringWithFont(int draw, int x, int y, const char *text, unsigned int color, MEMIMG *target, const RECT *clip,
                         EngineHandle font, unsigned int edgeColor, int byteLimit, int vertical, SIZE *size);
int RefreshDefaultFont(void);

// String drawing's colours: the text and edge colours given to a call, multiplied by the draw brightness; screen
// colour values on the memory path, brightness words (0xFF000000 | red << 16 | green << 8 | blue) on the texture
// path.
struct TextColors {
    unsigned int text, edge;
};

// The memory path's pixel writer: the glyph's box, its pixel (i, j) put at (x + i, y + j) across, or turned a
// quarter clockwise at (x - j, y + i) downwards, inside `clip` and the target.
void WriteGlyphToMemImg(const FontRecord *font, const GlyphCacheEntry *entry, MEMIMG *target, const RECT *clip, int x,
                        int y, int vertical, const TextColors *colors);
