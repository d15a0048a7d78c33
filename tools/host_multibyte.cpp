// The lead-byte rule of the engine's character sets for the build-machine tools, which do not link the engine:
// ids 2-4 take every byte from 0x80 up as a lead byte, every other id the Shift-JIS ranges.
#include "font/font.h"

int IsMultiByteLeadByte(const void *byte, CharSetId charSet)
{
    unsigned char value = *(const unsigned char *)byte;
    if (charSet >= CHARSET_HANGEUL && charSet <= CHARSET_GB2312) {
        return value >= 0x80;
    }
    return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
}
