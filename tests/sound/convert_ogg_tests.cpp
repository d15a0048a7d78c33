// The Ogg Vorbis converter against libvorbisfile's own ov_read loop over the same file in the same program: whole,
// in pieces and after seeks, with its stated size.
#include "convert_test_support.h"
#include "convert_vorbis.h"

namespace
{

TEST_F(ConvertTest, OggVorbisEqualsVorbisfileOwnLoop)
{
    std::mt19937 random(5);
    for (int layout = 0; layout < 4; layout++) {
        int channels = 1 + (layout & 1), rate = layout & 2 ? 44100 : 22050;
        SCOPED_TRACE("channels " + std::to_string(channels) + " rate " + std::to_string(rate));
        Bytes file = EncodeToneOggVorbis(channels, rate, 2.5, channels * rate), reference;
        long long frames = 0;
        reference.resize(DecodeWithVorbisfile(file, reference, &frames));
        ASSERT_FALSE(reference.empty());
        ExpectConverterReads(file, reference, random);
        MemorySource source(file);
        SoundConverter converter;
        ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
        EXPECT_TRUE(converter.format.nSamplesPerSec == (DWORD)rate && converter.format.nBlockAlign == channels * 2);
        EXPECT_EQ(GetConverterPcmSize(&converter), (unsigned)(frames * channels * 2));
        CloseConverter(&converter);
    }
}

} // namespace
