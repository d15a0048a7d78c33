// Shared by the stream test programs: PCM WAVE images made in memory, and stream sounds made from them.
#pragma once

#include "sound/convert_test_support.h"

inline Bytes MakeWave(unsigned rate, unsigned bits, unsigned channels, const Bytes &pcm)
{
    return RiffWave({{"fmt ", FormatChunk(1, channels, rate, bits, 16)}, {"data", pcm}});
}

// 8-bit samples that never equal the silence byte, so that silence in a buffer can only come from the stream.
inline Bytes RandomPcm8(std::mt19937 &random, size_t bytes)
{
    Bytes pcm(bytes);
    for (uint8_t &sample : pcm) {
        sample = (uint8_t)(random() % 255);
        sample += sample >= 0x7F;
    }
    return pcm;
}

// A stream sound with one entry per wave (copied, converted while playing), or -1.
inline EngineHandle MakeStreamSound(const std::vector<Bytes> &waves, const std::vector<int> &loopCounts,
                                    EngineHandle share = -1)
{
    EngineHandle handle = AddSoundData(-1);
    for (size_t i = 0; i < waves.size() && handle != -1; i++) {
        if (SetupStreamFromMemory(waves[i].data(), (unsigned)waves[i].size(), (unsigned char)loopCounts[i], handle,
                                  STREAM_COPY_SOURCE, share) != 0) {
            DeleteSoundHandle(handle, 0);
            handle = -1;
        }
    }
    return handle;
}
