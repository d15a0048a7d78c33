// Typed characters out of the character ring and the start-up reset.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "../core/test_log.h"
#include "font/font.h"
#include "input/input.h"

class TextChars : public TestWithLog
{
};

// The ring as the rule describes it: at most 1,024 bytes queued; a lead byte that is not a navigation code forms
// a character with the next byte and is held back while it is the last one.
struct RingModel {
    std::deque<unsigned char> bytes;
    CharSetId charSet;

    int Push(unsigned char byte)
    {
        if (bytes.size() == 1024) {
            return -1;
        }
        bytes.push_back(byte);
        return 0;
    }
    int Get(unsigned char *out, int take)
    {
        out[0] = out[1] = 0;
        if (bytes.empty()) {
            return 0;
        }
        unsigned char first = bytes[0];
        bool navigation = std::string("\x10\x1d\x1c\x1e\x1f\x1a\x19\x17\x15").find((char)first) != std::string::npos;
        bool lead = charSet == CHARSET_SHIFTJIS ? (first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC)
                                                : first >= 0x80;
        int size = !navigation && lead ? 2 : 1;
        if ((int)bytes.size() < size) {
            return 0;
        }
        out[0] = first;
        out[1] = size == 2 ? bytes[1] : 0;
        for (int i = 0; take && i < size; i++) {
            bytes.pop_front();
        }
        return size;
    }
};

TEST_F(TextChars, RingAgreesWithTheRuleOverRandomTraffic)
{
    const unsigned char pool[] = {'a', 'Z', '0', ' ', 0x10, 0x1D, 0x1A, 0x19, 0x82, 0xA0, 0xE0, 0xFC, 0x9F, 0x7F, 0xB0};
    std::mt19937 random(14);
    for (CharSetId charSet : {CHARSET_SHIFTJIS, CHARSET_GB2312}) {
        SetEngineCharSet(charSet);
        InitCharCodeBuffer();
        RingModel model = {{}, charSet};
        int wraps = 0, refusals = 0, heldLeads = 0;
        for (int step = 0; step < 400; step++) {
            int count = (int)(random() % 400);
            for (int i = 0; step % 2 == 0 && i < count; i++) {
                // Every other burst ends on two Delete codes and a lead byte, which the reads then meet alone.
                const unsigned char ending[] = {0x10, 0x10, 0x82};
                unsigned char byte =
                    step % 4 == 0 && i >= count - 3 ? ending[i - (count - 3)] : pool[random() % sizeof pool];
                int expected = model.Push(byte);
                ASSERT_EQ(PushInputChar(byte), expected) << "step " << step;
                refusals += expected == -1;
            }
            for (int i = 0; step % 2 == 1 && i < count; i++) {
                int previousRead = GetInputCharRing()->readIndex;
                unsigned char want[2];
                char got[2];
                int take = (int)(random() % 4 != 0);
                int expected = model.Get(want, take);
                ASSERT_EQ(GetInputChar(got, take), expected) << "step " << step;
                heldLeads += expected == 0 && !model.bytes.empty();
                ASSERT_EQ((unsigned char)got[0], want[0]);
                ASSERT_EQ((unsigned char)got[1], want[1]);
                wraps += GetInputCharRing()->readIndex < previousRead;
            }
        }
        EXPECT_GT(wraps, 0);
        EXPECT_GT(refusals, 0);
        EXPECT_GT(heldLeads, 0);
    }
}

TEST_F(TextChars, StartUpResetEmptiesTheRingAndLogs)
{
    PushInputChar('x');
    EXPECT_EQ(InitCharCodeBuffer(), 0);
    char out[2];
    EXPECT_EQ(GetInputChar(out, 1), 0);
    EXPECT_NE(ReadTestLog().find("文字コードバッファの初期化を行います... 完了しました"), std::string::npos);
}
