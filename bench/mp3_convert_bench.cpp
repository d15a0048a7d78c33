// MP3 to PCM through the media graph against the platform's own chain (its file source, its sample grabber, the
// null renderer, no clock) on the same 60 s stereo file in the same run, median of five each; the two PCMs must be
// equal. Starts the engine (the conversion pumps its window and reaches COM through the bound entries). The MP3
// file, made by scripts/bench.sh with sox and lame, is the first argument. Window thread only.
#include "bench/bench.h"

#include "file/file.h"
#include "media/media.h"
#include "sound/sound_test_engine.h"
#include "tests/media/mp3_reference_chain.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>

#define ROUNDS 5

template <typename Body> static double MedianSeconds(Body body)
{
    double spent[ROUNDS];
    for (double &round : spent) {
        double start = BenchSeconds();
        body();
        round = BenchSeconds() - start;
    }
    std::sort(spent, spent + ROUNDS);
    return spent[ROUNDS / 2];
}

static Bytes ConvertOnce(const Bytes &mp3)
{
    StreamRef stream;
    OpenMemoryStreamRef(mp3.data(), (unsigned int)mp3.size(), &stream);
    SoundConverter converter = {};
    converter.source = stream;
    Bytes pcm;
    if (ConvertMp3ToPcm(&converter) == 0) {
        pcm.assign(converter.memory.block, converter.memory.block + converter.memory.size);
        FreeMemory(converter.memory.block);
    }
    stream.functions.close(stream.handle);
    return pcm;
}

int main(int argc, char **argv)
{
    if (argc < 2 || StartSoundTestEngine("QvMp3Bench") != 0) {
        printf("MP3 conversion: no file given, or the engine did not start\n");
        return 1;
    }
    // The platform's source reads the file itself; ours is handed the bytes, as the sound converter holds them.
    Bytes mp3 = ReadWholeFile(argv[1]), pcm;
    DecodedPcm platform;
    bool decoded = true;
    double platformSeconds = MedianSeconds([&]() { decoded = DecodeWithPlatformChain(argv[1], &platform) && decoded; });
    double ourSeconds = MedianSeconds([&]() { pcm = ConvertOnce(mp3); });
    EndEngine();
    if (!decoded || pcm.empty() || pcm != platform.pcm) {
        printf("MP3 conversion: the PCM differs from the platform chain's\n");
        return 1;
    }
    BenchReport("MP3 60 s stereo to PCM (median of 5)", ourSeconds, "the platform's own chain", platformSeconds);
    return 0;
}
