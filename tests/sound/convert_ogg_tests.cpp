// The Ogg Vorbis converter against libvorbisfile's own ov_read loop over the same file in the same program: whole,
// in pieces and after seeks, and its stated size.
#include "convert_ogg_encode.h"
#include "convert_test_support.h"

namespace
{

struct MemoryFile {
    const Bytes *bytes;
    size_t position;
};

size_t ReadMemory(void *buffer, size_t size, size_t count, void *source)
{
    MemoryFile *file = (MemoryFile *)source;
    size_t rest = file->bytes->size() - file->position, wanted = size * count;
    size_t got = wanted < rest ? wanted : rest;
    memcpy(buffer, file->bytes->data() + file->position, got);
    file->position += got;
    return size == 0 ? 0 : got / size;
}

int SeekMemory(void *source, ogg_int64_t offset, int origin)
{
    MemoryFile *file = (MemoryFile *)source;
    long long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (long long)file->position : file->bytes->size();
    if (base + offset < 0 || base + offset > (long long)file->bytes->size()) {
        return -1;
    }
    file->position = (size_t)(base + offset);
    return 0;
}

long TellMemory(void *source)
{
    return (long)((MemoryFile *)source)->position;
}

// libvorbisfile's own loop: the reference decode.
Bytes ReferenceDecode(const Bytes &file, long long *frames)
{
    MemoryFile source = {&file, 0};
    OggVorbis_File vorbis;
    const ov_callbacks callbacks = {ReadMemory, SeekMemory, NULL, TellMemory};
    Bytes out;
    if (ov_open_callbacks(&source, &vorbis, NULL, 0, callbacks) != 0) {
        return out;
    }
    *frames = ov_pcm_total(&vorbis, -1);
    char buffer[4096];
    int section;
    long got;
    while ((got = ov_read(&vorbis, buffer, sizeof(buffer), 0, 2, 1, &section)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    ov_clear(&vorbis);
    return out;
}

TEST_F(ConvertTest, OggVorbisEqualsVorbisfileOwnLoop)
{
    std::mt19937 random(5);
    for (int channels : {1, 2}) {
        for (int rate : {22050, 44100}) {
            SCOPED_TRACE("channels " + std::to_string(channels) + " rate " + std::to_string(rate));
            Bytes file = EncodeToneOggVorbis(channels, rate, 2.5, channels * rate);
            long long frames = 0;
            Bytes reference = ReferenceDecode(file, &frames);
            ASSERT_FALSE(reference.empty());
            WAVEFORMATEX format;
            EXPECT_EQ(ConvertWhole(file, &format), reference);
            EXPECT_EQ((int)format.nSamplesPerSec, rate);
            EXPECT_EQ(format.nBlockAlign, channels * 2);

            MemorySource source(file);
            SoundConverter converter;
            ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
            EXPECT_EQ(GetConverterPcmSize(&converter), (unsigned)(frames * channels * 2));
            EXPECT_EQ(ReadInPieces(&converter, random, 9000), reference);
            int align = channels * 2;
            for (int seek = 0; seek < 8; seek++) {
                int frame = random() % (int)(reference.size() / align);
                SeekConverter(&converter, frame);
                Bytes slice(std::min<size_t>(align * (1 + random() % 5000), reference.size() - frame * align));
                ASSERT_EQ(ReadConverter(&converter, slice.data(), (unsigned)slice.size()), (int)slice.size());
                EXPECT_TRUE(std::equal(slice.begin(), slice.end(), reference.begin() + frame * align)) << frame;
            }
            CloseConverter(&converter);
        }
    }
}

} // namespace
