// Shared by the converter tests: a fixture that checks the tracked allocation count is back where it began, a RIFF
// WAVE writer with the chunk layouts the RIFF walk must take, and whole, piecewise and seeking reads of a converter.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "sound/sound_internal.h"

typedef std::vector<uint8_t> Bytes;

class ConvertTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetLogDirectory(".");
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "tracked blocks left behind";
    }
    int allocationsAtStart = 0;
};

inline void PutLittle(Bytes &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; i++) {
        out.push_back((uint8_t)(value >> (8 * i)));
    }
}

inline Bytes FormatChunk(int tag, int channels, int rate, int bits, int formatBytes)
{
    Bytes body;
    int align = channels * bits / 8;
    PutLittle(body, tag, 2);
    PutLittle(body, channels, 2);
    PutLittle(body, rate, 4);
    PutLittle(body, (uint32_t)rate * align, 4);
    PutLittle(body, align, 2);
    PutLittle(body, bits, 2);
    body.resize(formatBytes, 0);
    return body;
}

// Chunks with their pad bytes after odd sizes.
inline Bytes RiffWave(const std::vector<std::pair<const char *, Bytes>> &chunks)
{
    Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const auto &chunk : chunks) {
        out.insert(out.end(), chunk.first, chunk.first + 4);
        PutLittle(out, (uint32_t)chunk.second.size(), 4);
        out.insert(out.end(), chunk.second.begin(), chunk.second.end());
        out.resize(out.size() + chunk.second.size() % 2, 0);
    }
    uint32_t riffSize = (uint32_t)out.size() - 8;
    memcpy(&out[4], &riffSize, 4);
    return out;
}

// A PCM WAVE file: a "fmt " chunk of formatBytes, optionally a "bext" before it and odd chunks around the data.
inline Bytes WaveFile(int formatBytes, bool bextFirst, bool oddChunks, int channels, int bits, int rate,
                      const Bytes &samples)
{
    std::vector<std::pair<const char *, Bytes>> chunks;
    if (bextFirst) {
        chunks.push_back({"bext", Bytes(602, 'b')});
    }
    chunks.push_back({"fmt ", FormatChunk(1, channels, rate, bits, formatBytes)});
    if (oddChunks) {
        chunks.push_back({"LIST", Bytes(13, 'l')});
    }
    chunks.push_back({"data", samples});
    if (oddChunks) {
        chunks.push_back({"id3 ", Bytes(5, 'i')});
    }
    return RiffWave(chunks);
}

// A memory stream over bytes the caller keeps alive, closed by the destructor.
struct MemorySource {
    explicit MemorySource(const Bytes &bytes)
    {
        OpenMemoryStreamRef(bytes.data(), (unsigned int)bytes.size(), &stream);
    }
    ~MemorySource()
    {
        MemStreamClose(stream.handle);
    }
    StreamRef stream;
};

// The whole PCM of a file through ConvertAllToPcm; empty when the converter refuses.
inline Bytes ConvertWhole(const Bytes &file, WAVEFORMATEX *format = NULL)
{
    MemorySource source(file);
    SoundConverter converter;
    WAVEFORMATEX unused;
    void *block = NULL;
    unsigned int size = 0;
    Bytes out;
    if (OpenSoundConverter(&source.stream, &converter) == 0) {
        if (ConvertAllToPcm(&converter, format != NULL ? format : &unused, &block, &size) == 0) {
            out.assign((uint8_t *)block, (uint8_t *)block + size);
        }
        CloseConverter(&converter);
        FreeMemory(block);
    }
    return out;
}

// Reads an open converter to its end in pieces of random length.
inline Bytes ReadInPieces(SoundConverter *converter, std::mt19937 &random)
{
    Bytes out;
    for (int got = 1; got > 0;) {
        size_t before = out.size();
        out.resize(before + 1 + random() % 9000);
        got = ReadConverter(converter, out.data() + before, (unsigned int)(out.size() - before));
        out.resize(before + (got > 0 ? got : 0));
    }
    return out;
}

// Seeks to `frame` and reads up to 3,000 frames: they must be that slice of `straight`.
inline void ExpectSliceAfterSeek(SoundConverter *converter, const Bytes &straight, int frame)
{
    size_t at = (size_t)frame * converter->format.nBlockAlign;
    Bytes slice(std::min<size_t>(converter->format.nBlockAlign * 3000, straight.size() - at));
    SeekConverter(converter, frame);
    ASSERT_EQ(ReadConverter(converter, slice.data(), (unsigned)slice.size()), (int)slice.size());
    EXPECT_TRUE(std::equal(slice.begin(), slice.end(), straight.begin() + at)) << "frame " << frame;
}

// A converter over `file` reads `expected` whole, in pieces, and in slices after random seeks.
inline void ExpectConverterReads(const Bytes &file, const Bytes &expected, std::mt19937 &random)
{
    EXPECT_EQ(ConvertWhole(file), expected);
    MemorySource source(file);
    SoundConverter converter;
    ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
    EXPECT_EQ(ReadInPieces(&converter, random), expected);
    for (int seek = 0; seek < 6; seek++) {
        ExpectSliceAfterSeek(&converter, expected, random() % (expected.size() / converter.format.nBlockAlign));
    }
    CloseConverter(&converter);
}
