// Fonts and text: the public contract of the multi-byte character rules every text walker uses, font handles,
// the glyph cache and string drawing.
#pragma once

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

int RecreateAllFontHandles(void); // after the graphics device was made again: every font's glyph cache rebuilt
