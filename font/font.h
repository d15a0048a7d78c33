// Fonts and text: the public contract of the multi-byte character rules every text walker uses, font handles,
// the glyph cache and string drawing.
#pragma once

typedef int EngineHandle; // as core.h declares it: the host tools include this header without core.h

// The character set of all engine text: 0 system default, 1 Shift-JIS, 2 Hangeul, 3 Big5, 4 GB2312.
typedef int CharSetId;

enum {
    CHARSET_DEFAULT = 0,
    CHARSET_SHIFTJIS = 1,
    CHARSET_HANGEUL = 2,
    CHARSET_BIG5 = 3,
    CHARSET_GB2312 = 4,
};

int IsMultiByteLeadByte(const void *byte, CharSetId charSet);
// The character set of a code page's double-byte text: 932 Shift-JIS, 936 GB2312, 949 Hangeul, 950 Big5;
// CHARSET_DEFAULT for any other page.
CharSetId GetCodePageCharSet(unsigned int codePage);
int IsDoubleByteCharAt(const char *text, int position, CharSetId charSet);
CharSetId GetEngineCharSet(void);
int SetEngineCharSet(CharSetId charSet);

// ---------------------------------------------------------------------------------------------------------------
// Font system and the default font.

int InitFontSystem(void);      // graphics start: default settings, then the default font
int ReinitFontSystem(void);    // every font made again, the default font with the settings it had
int TerminateFontSystem(void); // graphics end: the default font is deleted
// The default font's face (empty: the default face), size and thickness; -1 while there is no default font.
int QueryDefaultFontState(char *face, int faceSize, int *size, int *thickness);
// Size -1 means 16, thickness -1 means 6. The face is not read: no call changes the default face.
int SetDefaultFontSizeThickness(const char *face, int size, int thickness);

// ---------------------------------------------------------------------------------------------------------------
// Font handles.

// A font handle owns a GDI font, its metrics and a glyph cache (a texture on the device, a byte image on the
// software screen). At most 40 live at once. Type flags: bit 0 edge, bit 1 anti-aliased.
EngineHandle CreateFontToHandle(const char *face, int size, int thickness, int typeFlags, CharSetId charSet,
                                int edgeSize, int italic, int slot, int checkNumber); // -1 for every default
int DeleteFontHandle(EngineHandle font);
int RecreateAllFontHandles(void); // after the graphics device was made again: same handle values, empty caches
int IsLiveFontHandle(EngineHandle value);
int QueryFontHandleState(char *face, int *size, int *thickness, EngineHandle font);
int GetFontSizeToHandle(EngineHandle font);
int SetFontSpacingToHandle(int spacing, EngineHandle font);
int SetFontLostFlagPointer(EngineHandle font, int *flag); // writes 0 through it; deleting the font writes 1

// The default font the game draws all its text with; each call makes it again when a setting changed.
int SetDefaultFontSize(int size);      // -1 means 16
int SetDefaultFontType(int typeFlags); // -1 means 0
EngineHandle GetStandardFontHandle(void);

// ---------------------------------------------------------------------------------------------------------------
// String drawing: one line of Shift-JIS text at a point, in screen colour values (MakeScreenColor).

int DrawStringToFontHandle(int x, int y, const char *text, unsigned int color, EngineHandle font,
                           unsigned int edgeColor, int vertical);
int DrawStringDefault(int x, int y, const char *text, unsigned int color, unsigned int edgeColor);
int DrawFormatStringDefault(int x, int y, unsigned int color, const char *format, ...);
