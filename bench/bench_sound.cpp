// Sound benchmarks: a 30-second stereo Ogg Vorbis file (44,100 Hz, made here with libvorbisenc) decoded to PCM
// through the sound converter, against libvorbisfile's own ov_read loop over the same bytes in memory. Both read
// in the same 4,096-byte steps; the converter adds its stream callbacks and the copy out of its output buffer.
#include "bench/bench.h"

#include "sound/sound_internal.h"
#include "tests/sound/convert_vorbis.h"

#include <stdio.h>
#include <string.h>

static const int kRounds = 5;

static size_t DecodeWithConverter(const std::vector<uint8_t> &file, std::vector<uint8_t> &pcm)
{
    StreamRef stream;
    OpenMemoryStreamRef(file.data(), (unsigned int)file.size(), &stream);
    SoundConverter converter;
    size_t total = 0;
    if (OpenSoundConverter(&stream, &converter) == 0) {
        int got;
        while (total + 4096 <= pcm.size() && (got = ReadConverter(&converter, &pcm[total], 4096)) > 0) {
            total += (size_t)got;
        }
        CloseConverter(&converter);
    }
    MemStreamClose(stream.handle);
    return total;
}

void RunSoundBenchmarks(const char *scratchFolder)
{
    (void)scratchFolder;
    std::vector<uint8_t> file = EncodeToneOggVorbis(2, 44100, 30.0, 1);
    std::vector<uint8_t> reference(44100 * 4 * 31), converted(reference.size());
    long long frames = 0;
    size_t referenceBytes = 0, convertedBytes = 0;
    double vorbisfileSeconds =
        BenchBest(kRounds, [&]() { referenceBytes = DecodeWithVorbisfile(file, reference, &frames); });
    double converterSeconds = BenchBest(kRounds, [&]() { convertedBytes = DecodeWithConverter(file, converted); });
    if (referenceBytes == 0 || convertedBytes != referenceBytes ||
        memcmp(reference.data(), converted.data(), referenceBytes) != 0) {
        printf("Ogg Vorbis decode: the converter's PCM differs from vorbisfile's\n");
        return;
    }
    BenchReport("Ogg Vorbis 30 s stereo through the converter", converterSeconds, "vorbisfile's ov_read loop",
                vorbisfileSeconds);
}
