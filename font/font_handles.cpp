// Font handles: the table of fonts made by the program. Until the font work fills it the table is empty, so a
// rebuild after device loss has no glyph cache to make again. Window thread only.
#include "font/font.h"

int RecreateAllFontHandles(void)
{
    return 0;
}
