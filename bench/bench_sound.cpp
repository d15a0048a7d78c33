// Sound benchmarks: a 30-second stereo Ogg Vorbis file (44,100 Hz, made here with libvorbisenc) decoded to PCM
// through the sound converter, against libvorbisfile's own ov_read loop over the same bytes in memory. Both read
// in the same 4,096-byte steps; the converter adds its stream callbacks and the copy out of its output buffer.
#include "bench/bench.h"

#include "sound/sound_internal.h"
#include "tests/sound/convert_ogg_encode.h"

#include <stdio.h>
#include <string.h>

static const int kRounds = 5;

struct MemoryFile {
    const std::vector<uint8_t> *bytes;
    size_t position;
};

static size_t ReadMemoryFile(void *buffer, size_t size, size_t count, void *source)
{
    MemoryFile *file = (MemoryFile *)source;
    size_t rest = file->bytes->size() - file->position, wanted = size * count;
    size_t got = wanted < rest ? wanted : rest;
    memcpy(buffer, file->bytes->data() + file->position, got);
    file->position += got;
    return size == 0 ? 0 : got / size;
}

static int SeekMemoryFile(void *source, ogg_int64_t offset, int origin)
{
    MemoryFile *file = (MemoryFile *)source;
    long long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (long long)file->position : file->bytes->size();
    if (base + offset < 0 || base + offset > (long long)file->bytes->size()) {
        return -1;
    }
    file->position = (size_t)(base + offset);
    return 0;
}

static long TellMemoryFile(void *source)
{
    return (long)((MemoryFile *)source)->position;
}

static size_t DecodeWithVorbisfile(const std::vector<uint8_t> &file, std::vector<char> &pcm)
{
    MemoryFile source = {&file, 0};
    OggVorbis_File vorbis;
    const ov_callbacks callbacks = {ReadMemoryFile, SeekMemoryFile, NULL, TellMemoryFile};
    size_t total = 0;
    if (ov_open_callbacks(&source, &vorbis, NULL, 0, callbacks) != 0) {
        return 0;
    }
    int section;
    long got;
    while (total + 4096 <= pcm.size() && (got = ov_read(&vorbis, &pcm[total], 4096, 0, 2, 1, &section)) > 0) {
        total += (size_t)got;
    }
    ov_clear(&vorbis);
    return total;
}

static size_t DecodeWithConverter(const std::vector<uint8_t> &file, std::vector<char> &pcm)
{
    StreamRef stream;
    stream.functions = *GetMemoryStreamFunctions();
    stream.handle = (DWORD_PTR)MemStreamOpen(file.data(), (unsigned int)file.size());
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
    std::vector<char> reference(44100 * 4 * 31), converted(reference.size());
    size_t referenceBytes = 0, convertedBytes = 0;
    double vorbisfileSeconds = BenchBest(kRounds, [&]() { referenceBytes = DecodeWithVorbisfile(file, reference); });
    double converterSeconds = BenchBest(kRounds, [&]() { convertedBytes = DecodeWithConverter(file, converted); });
    if (referenceBytes == 0 || convertedBytes != referenceBytes ||
        memcmp(reference.data(), converted.data(), referenceBytes) != 0) {
        printf("Ogg Vorbis decode: the converter's PCM differs from vorbisfile's\n");
        return;
    }
    BenchReport("Ogg Vorbis 30 s stereo through the converter", converterSeconds, "vorbisfile's ov_read loop",
                vorbisfileSeconds);
}
