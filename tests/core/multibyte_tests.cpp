// Multi-byte character rules: lead bytes for every character set id and the classification of each position.
#include <gtest/gtest.h>

#include "font/font.h"

// The lead-byte rule written straight from its definition.
static int ReferenceLeadByte(unsigned char byte, CharSetId charSet)
{
    bool highBitSet = byte >= 0x80;
    bool shiftJisLead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return (charSet == 2 || charSet == 3 || charSet == 4) ? highBitSet : shiftJisLead;
}

TEST(MultiByte, LeadBytesFollowTheRuleOfEveryCharacterSetId)
{
    const struct {
        unsigned char byte;
        CharSetId charSet;
        int lead;
    } worked[] = {
        {0x81, 1, 1}, {0x9F, 1, 1}, {0xE0, 1, 1}, {0xFC, 1, 1},  {0x80, 1, 0}, {0xA0, 1, 0},
        {0xDF, 1, 0}, {0xFD, 1, 0}, {0x7F, 1, 0}, {0x80, 2, 1},  {0xA0, 3, 1}, {0xFF, 4, 1},
        {0x7F, 4, 0}, {0xA0, 5, 0}, {0x81, 5, 1}, {0xA0, -1, 0}, {0xFC, 0, 1}, {0x5C, 1, 0},
    };
    for (const auto &c : worked) {
        EXPECT_EQ(IsMultiByteLeadByte(&c.byte, c.charSet), c.lead) << std::hex << (int)c.byte << " id " << c.charSet;
    }
    for (CharSetId charSet = -2; charSet <= 6; charSet++) {
        for (int value = 0; value < 256; value++) {
            unsigned char byte = (unsigned char)value;
            ASSERT_EQ(IsMultiByteLeadByte(&byte, charSet), ReferenceLeadByte(byte, charSet))
                << std::hex << value << " id " << charSet;
        }
    }
}

TEST(MultiByte, PositionsAreClassifiedByTheCharactersBeforeThem)
{
    const struct {
        const char *text;
        CharSetId charSet;
        int expected[6]; // positions 0..5
    } cases[] = {
        {"", 1, {-1, -1, -1, -1, -1, -1}},
        {"A\x82\xA0", 1, {0, 1, 2, -1, -1, -1}},
        {"\x95\x5C\\", 1, {1, 2, 0, -1, -1, -1}}, // the trail byte 0x5C is not a backslash
        {"\x81", 1, {1, -1, -1, -1, -1, -1}},     // a lead byte cut off by the terminator ends the walk
        {"ab\x81", 1, {0, 0, 1, -1, -1, -1}},
        {"\xA1\xA2", 1, {0, 0, -1, -1, -1, -1}}, // half-width katakana are single bytes
        {"\xA1\xA2", 2, {1, 2, -1, -1, -1, -1}}, // but lead bytes in Hangeul
        {"\x81\x81\x81\x81x", 1, {1, 2, 1, 2, 0, -1}},
        {"x\x81\x81\x81\x81", 1, {0, 1, 2, 1, 2, -1}},
    };
    for (const auto &c : cases) {
        for (int position = 0; position < 6; position++) {
            EXPECT_EQ(IsDoubleByteCharAt(c.text, position, c.charSet), c.expected[position])
                << "text " << c.text << " position " << position << " id " << c.charSet;
        }
    }
}

TEST(MultiByte, EngineCharacterSetIsKept)
{
    CharSetId saved = GetEngineCharSet();
    EXPECT_EQ(SetEngineCharSet(CHARSET_BIG5), 0);
    EXPECT_EQ(GetEngineCharSet(), CHARSET_BIG5);
    SetEngineCharSet(saved);
}
