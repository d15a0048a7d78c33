// Font system: the default settings and the default font made from them, started by graphics start and ended by
// graphics end. The font handle table comes with the font work; until then the default font is its settings,
// which the default-font calls keep it equal to. Window thread only.
#include "font/font.h"

#include "core/core.h"

#define DEFAULT_FONT_SIZE 16
#define DEFAULT_FONT_THICKNESS 6
#define FONT_FACE_SIZE 256

struct DefaultFontSettings {
    char face[FONT_FACE_SIZE]; // empty: the default face
    int size, thickness, typeFlags;
    CharSetId charSet;
    int edgeSize, italic, spacing;
};

static DefaultFontSettings s_Defaults;
static int s_DefaultFontLive;

int InitFontSystem(void)
{
    MemFill(&s_Defaults, 0, sizeof(s_Defaults));
    s_Defaults.size = DEFAULT_FONT_SIZE;
    s_Defaults.thickness = DEFAULT_FONT_THICKNESS;
    s_Defaults.charSet = GetEngineCharSet();
    s_Defaults.edgeSize = 1;
    s_DefaultFontLive = 0;
    return ReinitFontSystem();
}

int ReinitFontSystem(void)
{
    AddLog("フォントの初期化を行います\n");
    LogIndentIncrease();
    s_DefaultFontLive = 1;
    LogIndentDecrease();
    AddLog("フォントの初期化は正常に終了しました\n");
    return 0;
}

int TerminateFontSystem(void)
{
    ReinitFontSystem();
    s_DefaultFontLive = 0;
    return 0;
}

int QueryDefaultFontState(char *face, int faceSize, int *size, int *thickness)
{
    if (!s_DefaultFontLive) {
        return -1;
    }
    StrCopyN(face, s_Defaults.face, faceSize - 1);
    *size = s_Defaults.size;
    *thickness = s_Defaults.thickness;
    return 0;
}

int SetDefaultFontSizeThickness(const char *face, int size, int thickness)
{
    s_Defaults.size = size == -1 ? DEFAULT_FONT_SIZE : size;
    s_Defaults.thickness = thickness == -1 ? DEFAULT_FONT_THICKNESS : thickness;
    return 0;
}
