// Font system: the default settings and the default font made from them, started by graphics start and ended by
// graphics end; the default-font calls re-create the default font whenever a setting no longer matches it.
// Window thread only.
#include "font/font_internal.h"

#include "graphics/graphics.h"

#define DEFAULT_FONT_SIZE 16
#define DEFAULT_FONT_THICKNESS 6

struct DefaultFontSettings {
    char face[FONT_FACE_SIZE]; // empty: the default face
    int size, thickness, typeFlags;
    CharSetId charSet;
    int edgeSize, italic, spacing;
};

static DefaultFontSettings s_Defaults;
static EngineHandle s_DefaultFont = -1;

static EngineHandle CreateFontFromSettings(const DefaultFontSettings *settings)
{
    int edgeSize = settings->typeFlags & FONT_TYPE_EDGE ? settings->edgeSize : -1;
    return CreateFontToHandle(settings->face, settings->size, settings->thickness, settings->typeFlags,
                              settings->charSet, edgeSize, settings->italic, -1, -1);
}

int InitFontSystem(void)
{
    ClearFontTable();
    MemFill(&s_Defaults, 0, sizeof(s_Defaults));
    s_DefaultFont = -1;
    s_Defaults.size = DEFAULT_FONT_SIZE;
    s_Defaults.thickness = DEFAULT_FONT_THICKNESS;
    s_Defaults.charSet = GetEngineCharSet();
    s_Defaults.edgeSize = 1;
    return ReinitFontSystem();
}

int ReinitFontSystem(void)
{
    AddLog("フォントの初期化を行います\n");
    LogIndentIncrease();
    DefaultFontSettings remembered = s_Defaults;
    const FontRecord *record = GetFontRecord(s_DefaultFont);
    if (record != NULL) {
        StrCopy(remembered.face, record->face);
        remembered.size = record->size;
        remembered.thickness = record->thickness;
        remembered.typeFlags = record->typeFlags;
        remembered.charSet = record->charSet;
        remembered.edgeSize = record->edgeSize;
        remembered.italic = record->italic;
    }
    DeleteAllFontHandles();
    s_DefaultFont = CreateFontFromSettings(&remembered);
    LogIndentDecrease();
    AddLog("フォントの初期化は正常に終了しました\n");
    return 0;
}

int TerminateFontSystem(void)
{
    ReinitFontSystem();
    DeleteFontHandle(s_DefaultFont);
    s_DefaultFont = -1;
    return 0;
}

static int MatchesDefaults(const FontRecord *record)
{
    // An 8-bit screen makes every font a bitmap font: the dropped bit is no difference.
    int typeFlags = GetScreenColorBits() == 8 ? s_Defaults.typeFlags & ~FONT_TYPE_ANTIALIAS : s_Defaults.typeFlags;
    return StrCompare(record->face, s_Defaults.face) == 0 && record->typeFlags == typeFlags &&
           record->size == s_Defaults.size && record->thickness == s_Defaults.thickness &&
           record->charSet == s_Defaults.charSet && record->edgeSize == s_Defaults.edgeSize &&
           record->italic == s_Defaults.italic;
}

int RefreshDefaultFont(void)
{
    const FontRecord *record = GetFontRecord(s_DefaultFont);
    if (record != NULL && MatchesDefaults(record)) {
        return 0;
    }
    DeleteFontHandle(s_DefaultFont);
    s_DefaultFont = CreateFontFromSettings(&s_Defaults);
    SetFontSpacingToHandle(s_Defaults.spacing, s_DefaultFont);
    return 0;
}

int SetDefaultFontSize(int size)
{
    s_Defaults.size = size == -1 ? DEFAULT_FONT_SIZE : size;
    return RefreshDefaultFont();
}

int SetDefaultFontType(int typeFlags)
{
    s_Defaults.typeFlags = typeFlags == -1 ? 0 : typeFlags;
    return RefreshDefaultFont();
}

int SetDefaultFontSizeThickness(const char *face, int size, int thickness)
{
    s_Defaults.size = size == -1 ? DEFAULT_FONT_SIZE : size;
    s_Defaults.thickness = thickness == -1 ? DEFAULT_FONT_THICKNESS : thickness;
    return RefreshDefaultFont();
}

EngineHandle GetStandardFontHandle(void)
{
    return s_DefaultFont;
}

int QueryDefaultFontState(char *face, int faceSize, int *size, int *thickness)
{
    char stored[FONT_FACE_SIZE];
    if (QueryFontHandleState(stored, size, thickness, s_DefaultFont) != 0) {
        return -1;
    }
    StrCopyN(face, stored, faceSize - 1);
    return 0;
}
