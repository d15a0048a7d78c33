// Shared by the converter tests: a fixture that checks the tracked allocation count is back where it began, a
// RIFF WAVE writer with the chunk layouts the tests need, and reading a whole converter or a slice of it.
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

inline void PutChunk(Bytes &out, const char *id, const Bytes &body, bool pad = true)
{
    out.insert(out.end(), id, id + 4);
    PutLittle(out, (uint32_t)body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1) {
        out.push_back(0);
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

inline Bytes RiffWave(const std::vector<std::pair<const char *, Bytes>> &chunks)
{
    Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const auto &chunk : chunks) {
        PutChunk(out, chunk.first, chunk.second);
    }
    uint32_t riffSize = (uint32_t)out.size() - 8;
    memcpy(&out[4], &riffSize, 4);
    return out;
}

// A PCM WAVE file in one of the chunk layouts the RIFF walk must take.
struct WaveCase {
    const char *name;
    int formatBytes;
    bool bextFirst, oddChunks;
};

inline Bytes WaveFile(const WaveCase &c, int channels, int bits, int rate, const Bytes &samples)
{
    std::vector<std::pair<const char *, Bytes>> chunks;
    if (c.bextFirst) {
        chunks.push_back({"bext", Bytes(602, 'b')});
    }
    chunks.push_back({"fmt ", FormatChunk(1, channels, rate, bits, c.formatBytes)});
    if (c.oddChunks) {
        chunks.push_back({"LIST", Bytes(13, 'l')}); // odd: its pad byte follows
    }
    chunks.push_back({"data", samples});
    if (c.oddChunks) {
        chunks.push_back({"id3 ", Bytes(5, 'i')});
    }
    return RiffWave(chunks);
}

// A memory stream over bytes the caller keeps alive, closed by the destructor.
struct MemorySource {
    explicit MemorySource(const Bytes &bytes)
    {
        stream.functions = *GetMemoryStreamFunctions();
        stream.handle = (DWORD_PTR)MemStreamOpen(bytes.data(), (unsigned int)bytes.size());
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
    if (OpenSoundConverter(&source.stream, &converter) != 0) {
        return Bytes();
    }
    int result = ConvertAllToPcm(&converter, format != NULL ? format : &unused, &block, &size);
    CloseConverter(&converter);
    Bytes out;
    if (result == 0) {
        out.assign((uint8_t *)block, (uint8_t *)block + size);
    }
    FreeMemory(block);
    return out;
}

// Reads an open converter to its end in pieces of random length.
inline Bytes ReadInPieces(SoundConverter *converter, std::mt19937 &random, unsigned int limit)
{
    Bytes out;
    for (;;) {
        unsigned int want = 1 + random() % limit;
        size_t before = out.size();
        out.resize(before + want);
        int got = ReadConverter(converter, out.data() + before, want);
        out.resize(before + (got > 0 ? got : 0));
        if (got <= 0) {
            return out;
        }
    }
}
