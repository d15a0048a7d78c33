// The archive compression's decoder against a slow byte-by-byte reference written from the token rules, over
// hand-made and random token streams (valid and damaged); the packer's compressor read back exactly; keys and
// scrambling.
#include "file_test_support.h"

#include "tools/qva_writer.h"

namespace
{

// Slow reference: decodes token by token, one byte at a time; false for anything that does not fit.
bool ReferenceDecode(const std::vector<uint8_t> &packed, std::vector<uint8_t> *out)
{
    if (packed.size() < 9) {
        return false;
    }
    uint32_t unpacked = ReadArchiveU32(&packed[0]);
    uint32_t packedSize = ReadArchiveU32(&packed[4]);
    if (packedSize < 9 || packedSize > packed.size() || unpacked == 0xFFFFFFFFu) {
        return false;
    }
    uint8_t escape = packed[8];
    out->clear();
    size_t p = 9;
    while (p < packedSize) {
        uint8_t b = packed[p++];
        if (b != escape) {
            out->push_back(b);
        } else {
            if (p >= packedSize) {
                return false;
            }
            uint8_t c = packed[p++];
            if (c == escape) {
                out->push_back(escape);
            } else {
                unsigned k = c > escape ? c - 1u : c;
                if ((k & 3) == 3) {
                    return false;
                }
                unsigned length = k >> 3;
                if (k & 4) {
                    if (p >= packedSize) {
                        return false;
                    }
                    length = ((unsigned)packed[p++] << 5) | (k >> 3);
                }
                length += 4;
                unsigned distance = 0;
                for (unsigned i = 0; i <= (k & 3); i++) {
                    if (p >= packedSize) {
                        return false;
                    }
                    distance |= (unsigned)packed[p++] << (8 * i);
                }
                distance += 1;
                if (distance > out->size()) {
                    return false;
                }
                for (unsigned i = 0; i < length; i++) {
                    out->push_back((*out)[out->size() - distance]);
                }
            }
        }
        if (out->size() > unpacked) {
            return false;
        }
    }
    return out->size() == unpacked;
}

std::vector<uint8_t> Packed(uint32_t unpacked, uint8_t escape, std::vector<uint8_t> tokens)
{
    std::vector<uint8_t> out(9);
    WriteArchiveU32(&out[0], unpacked);
    WriteArchiveU32(&out[4], (uint32_t)(9 + tokens.size()));
    out[8] = escape;
    out.insert(out.end(), tokens.begin(), tokens.end());
    return out;
}

uint32_t Decode(const std::vector<uint8_t> &packed, std::vector<uint8_t> *out, uint32_t room)
{
    out->assign(room + 1, 0xCC);
    return DecodeArchiveData(packed.data(), (uint32_t)packed.size(), out->data(), room);
}

class ArchiveCodecTest : public FileTest
{
};

TEST_F(ArchiveCodecTest, HandMadeTokenStreams)
{
    const uint32_t F = ARCHIVE_DECODE_FAILED;
    const struct {
        const char *what;
        std::vector<uint8_t> packed;
        uint32_t room;
        uint32_t result;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"empty", Packed(0, 0x10, {}), 0, 0, {}},
        {"escape twice is one escape byte", Packed(2, 0x10, {0x10, 0x10, 'x'}), 2, 2, {0x10, 'x'}},
        {"code above the escape: length 6, one-byte distance",
         Packed(8, 0x10, {'a', 'b', 0x10, 0x11, 1}),
         8,
         8,
         {'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b'}},
        {"one literal then length 7 distance 1", Packed(8, 0x00, {'A', 0x00, 0x19, 0}), 8, 8,
         std::vector<uint8_t>(8, 'A')},
        {"code below the escape is taken as is", Packed(5, 0x80, {'q', 0x80, 0x00, 0x00}), 5, 5,
         std::vector<uint8_t>(5, 'q')},
        {"long length byte",
         Packed(4 + 4 + (3 << 5), 0x7F, {'a', 'b', 'c', 'd', 0x7F, 0x04, 3, 3}),
         200,
         4 + 4 + (3 << 5),
         {}},
        {"two-byte distance", Packed(6, 0xFF, {'1', '2', 0xFF, 0x01, 1, 0}), 6, 6, {'1', '2', '1', '2', '1', '2'}},
        {"no tokens but a size", Packed(5, 0x10, {}), 5, F, {}},
        {"reference before the start", Packed(6, 0x10, {'a', 0x10, 0x11, 1}), 6, F, {}},
        {"reference past the unpacked size", Packed(4, 0x10, {'a', 'b', 0x10, 0x11, 1}), 100, F, {}},
        {"destination too small", Packed(8, 0x10, {'a', 'b', 0x10, 0x11, 1}), 7, F, {}},
        {"distance kind 3", Packed(8, 0x10, {'a', 0x10, 0x03, 0, 0, 0, 0}), 8, F, {}},
        {"escape at the very end", Packed(1, 0x10, {'a', 0x10}), 1, F, {}},
        {"distance cut off", Packed(8, 0x10, {'a', 0x10, 0x02, 0}), 8, F, {}},
        {"length byte cut off", Packed(8, 0x10, {'a', 0x10, 0x04}), 8, F, {}},
        {"more literals than the size", Packed(1, 0x10, {'a', 'b'}), 8, F, {}},
        {"unpacked size of 4 GB - 1", Packed(0xFFFFFFFFu, 0x10, {}), 8, F, {}},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> out;
        EXPECT_EQ(Decode(c.packed, &out, c.room), c.result) << c.what;
        std::vector<uint8_t> reference;
        bool roomy = c.room >= ReadArchiveU32(&c.packed[0]);
        if (roomy) {
            EXPECT_EQ(ReferenceDecode(c.packed, &reference), c.result != F) << c.what;
        }
        if (c.result != F) {
            EXPECT_TRUE(std::equal(reference.begin(), reference.end(), out.begin())) << c.what;
            EXPECT_EQ(out[c.result], 0xCC) << c.what << ": wrote past the unpacked size";
        }
        if (!c.expected.empty()) {
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), out.begin())) << c.what;
        }
    }
}

TEST_F(ArchiveCodecTest, HeaderOnlyQueriesAndShortBuffers)
{
    std::vector<uint8_t> packed = Packed(1234, 0x10, {'a'});
    EXPECT_EQ(DecodeArchiveData(packed.data(), (uint32_t)packed.size(), NULL, 0), 1234u);
    EXPECT_EQ(DecodeArchiveData(packed.data(), 8, NULL, 0), ARCHIVE_DECODE_FAILED) << "header cut";
    EXPECT_EQ(DecodeArchiveData(packed.data(), (uint32_t)packed.size() - 1, NULL, 0), ARCHIVE_DECODE_FAILED)
        << "packed size beyond the buffer";
    WriteArchiveU32(&packed[4], 8);
    EXPECT_EQ(DecodeArchiveData(packed.data(), (uint32_t)packed.size(), NULL, 0), ARCHIVE_DECODE_FAILED)
        << "packed size below the header";
    EXPECT_EQ(DecodeArchiveData(NULL, 100, NULL, 0), ARCHIVE_DECODE_FAILED);
}

// Random token streams: mostly valid references, with damage mixed in; the decoder must agree with the
// reference on success, on failure and on every byte.
TEST_F(ArchiveCodecTest, RandomTokenStreamsAgreeWithTheReference)
{
    uint32_t state = 99;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    int successes = 0;
    for (int round = 0; round < 3000; round++) {
        uint8_t escape = (uint8_t)next();
        std::vector<uint8_t> tokens;
        uint32_t written = 0;
        int count = 1 + next() % 40;
        for (int t = 0; t < count; t++) {
            uint32_t choice = next() % 10;
            if (choice < 4 || written == 0) {
                uint8_t b = (uint8_t)next();
                tokens.push_back(b);
                if (b == escape) {
                    tokens.push_back(escape);
                }
                written++;
            } else {
                uint32_t length = next() % 9 == 0 ? 36 + next() % 8000 : 4 + next() % 32;
                uint32_t distance = 1 + next() % (written + (next() % 16 == 0 ? 3 : 0));
                uint32_t field = distance - 1, bytes = field < 256 ? 1 : field < 65536 ? 2 : 3;
                uint32_t k = (((length - 4) & 31) << 3) | (length - 4 >= 32 ? 4 : 0) | (bytes - 1);
                tokens.push_back(escape);
                tokens.push_back((uint8_t)(k >= escape ? k + 1 : k));
                if (length - 4 >= 32) {
                    tokens.push_back((uint8_t)((length - 4) >> 5));
                }
                for (uint32_t i = 0; i < bytes; i++) {
                    tokens.push_back((uint8_t)(field >> (8 * i)));
                }
                written += length;
            }
        }
        uint32_t size = written;
        if (next() % 8 == 0) {
            size += next() % 5 - 2; // lie about the size
        }
        if (next() % 8 == 0 && !tokens.empty()) {
            tokens.resize(next() % tokens.size()); // cut the stream
        }
        std::vector<uint8_t> packed = Packed(size, escape, tokens);
        std::vector<uint8_t> reference;
        bool valid = ReferenceDecode(packed, &reference);
        std::vector<uint8_t> out;
        uint32_t result = Decode(packed, &out, size + 3);
        ASSERT_EQ(result != ARCHIVE_DECODE_FAILED, valid) << "round " << round;
        if (valid) {
            successes++;
            ASSERT_EQ(result, size);
            ASSERT_TRUE(std::equal(reference.begin(), reference.end(), out.begin())) << "round " << round;
            ASSERT_EQ(out[size], 0xCC);
        }
    }
    EXPECT_GT(successes, 1000) << "the generator should mostly make valid streams";
}

TEST_F(ArchiveCodecTest, CompressorOutputDecodesBackExactly)
{
    std::vector<std::vector<uint8_t>> inputs = {
        {},
        {0x42},
        std::vector<uint8_t>(20000, 0x00),
        std::vector<uint8_t>(9000, 0x7E),
        MakeTestBytes(1, 5000, 0),
        MakeTestBytes(2, 100000, 1),
        MakeTestBytes(3, 150000, 2),
    };
    // Every byte value present, so the escape byte must appear as a literal.
    std::vector<uint8_t> all;
    for (int r = 0; r < 40; r++) {
        for (int b = 0; b < 256; b++) {
            all.push_back((uint8_t)(b * 7 + r));
        }
    }
    inputs.push_back(all);
    // A block repeated far back: three-byte distances.
    std::vector<uint8_t> block = MakeTestBytes(4, 4000, 0);
    std::vector<uint8_t> distant = block;
    std::vector<uint8_t> filler = MakeTestBytes(5, 70000, 0);
    distant.insert(distant.end(), filler.begin(), filler.end());
    distant.insert(distant.end(), block.begin(), block.end());
    inputs.push_back(distant);
    // Large enough for the largest hash table: noise, then the same with one match five megabytes back (last).
    const std::vector<uint8_t> noise = MakeTestBytes(6, 5 << 20, 0);
    inputs.push_back(noise), inputs.push_back(noise);
    inputs.back().insert(inputs.back().end(), noise.begin() + 1000, noise.begin() + 9000);
    std::vector<size_t> packedSizes;
    for (size_t i = 0; i < inputs.size(); i++) {
        const std::vector<uint8_t> &input = inputs[i];
        std::vector<uint8_t> packed;
        std::string error;
        ASSERT_TRUE(PackArchiveData(input.data(), input.size(), &packed, &error)) << error;
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(packed, &out, (uint32_t)input.size()), input.size()) << "input " << i;
        EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin())) << "input " << i;
        std::vector<uint8_t> reference;
        EXPECT_TRUE(ReferenceDecode(packed, &reference)) << "input " << i;
        if (i == 2) {
            EXPECT_LT(packed.size(), 100u) << "a run should pack well";
        }
        packedSizes.push_back(packed.size());
    }
    EXPECT_LT(packedSizes.back(), packedSizes[packedSizes.size() - 2] + 16) << "the far repeat is found";
}

TEST_F(ArchiveCodecTest, KeysAndScrambling)
{
    uint8_t builtin[12], empty[12], a[12], b[12], second[12];
    MakeArchiveKey(NULL, builtin);
    MakeArchiveKey("", empty);
    EXPECT_EQ(memcmp(builtin, empty, 12), 0) << "an empty key string is no key string";
    MakeArchiveKey("ab", a);
    MakeArchiveKey("abababababab", b);
    EXPECT_EQ(memcmp(a, b, 12), 0) << "a short string repeats";
    MakeArchiveKey("abcdefghijklXYZ", a);
    MakeArchiveKey("abcdefghijkl", b);
    EXPECT_EQ(memcmp(a, b, 12), 0) << "only twelve characters count";
    MakeArchiveKey("abcdefghijkm", a);
    EXPECT_NE(memcmp(a, b, 12), 0);
    MakeSecondArchiveKey(second);
    for (int i = 0; i < 12; i++) {
        EXPECT_EQ(second[i], second[0]);
    }
    std::vector<uint8_t> data = MakeTestBytes(9, 100, 0), copy = data;
    ScrambleArchiveBytes(100, copy.data(), 5, builtin);
    for (size_t i = 0; i < 100; i++) {
        ASSERT_EQ(copy[i], data[i] ^ builtin[(5 + i) % 12]);
    }
    ScrambleArchiveBytes(60, copy.data(), 5, builtin);
    ScrambleArchiveBytes(40, copy.data() + 60, 65, builtin);
    EXPECT_EQ(copy, data) << "scrambling in pieces at their offsets undoes it";
}

} // namespace
