// Multi-byte character rules: the engine-wide character set id and the two tests every text walker uses to
// tell a lead byte from a trail byte, so that a trail byte equal to "\" or a letter is never taken for a
// character of its own. Stateless apart from the id, which window creation sets before other threads start.
#include "font/font.h"

static CharSetId s_EngineCharSet = CHARSET_DEFAULT;

int IsMultiByteLeadByte(const void *byte, CharSetId charSet)
{
    unsigned char value = *(const unsigned char *)byte;
    if (charSet == CHARSET_HANGEUL || charSet == CHARSET_BIG5 || charSet == CHARSET_GB2312) {
        return value >= 0x80;
    }
    // Shift-JIS, which also serves the system default and unknown ids.
    return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
}

CharSetId GetCodePageCharSet(unsigned int codePage)
{
    static const struct {
        unsigned int codePage;
        CharSetId charSet;
    } table[] = {{932, CHARSET_SHIFTJIS}, {936, CHARSET_GB2312}, {949, CHARSET_HANGEUL}, {950, CHARSET_BIG5}};
    for (const auto &entry : table) {
        if (entry.codePage == codePage) {
            return entry.charSet;
        }
    }
    return CHARSET_DEFAULT;
}

int IsDoubleByteCharAt(const char *text, int position, CharSetId charSet)
{
    // The walk always starts at the beginning: a trail byte can only be told by the characters before it.
    int p = 0;
    while (text[p] != '\0') {
        if (IsMultiByteLeadByte(text + p, charSet)) {
            if (p == position) {
                return 1;
            }
            if (text[p + 1] == '\0') {
                return -1; // a lead byte cut off by the terminator ends the walk
            }
            if (p + 1 == position) {
                return 2;
            }
            p += 2;
        } else {
            if (p == position) {
                return 0;
            }
            p += 1;
        }
    }
    return -1;
}

CharSetId GetEngineCharSet(void)
{
    return s_EngineCharSet;
}

int SetEngineCharSet(CharSetId charSet)
{
    s_EngineCharSet = charSet;
    return 0;
}
