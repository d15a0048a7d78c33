// The PCM WAVE and Ogg Vorbis converters: every layout reads as its reference with its format, whole, in pieces and
// after seeks. The PCM WAVE reference is the file's own samples in every chunk layout the RIFF walk must take; the
// Ogg Vorbis one is libvorbisfile's own ov_read loop over the same file in the same program, with the stated size.
// The RIFF WAVE image round-trips; frames convert to milliseconds as the rule says.
#include "convert_test_support.h"
#include "convert_vorbis.h"

namespace
{

TEST_F(ConvertTest, EveryLayoutReadsAsItsReference)
{
    struct Layout {
        std::string name;
        Bytes file, reference;
        int channels, bits, rate;
    };
    std::vector<Layout> rows;
    std::mt19937 random(7);
    const struct {
        const char *name;
        int formatBytes;
        bool bextFirst, oddChunks;
    } waves[] = {{"18-byte fmt", 18, false, false},
                 {"16-byte fmt", 16, false, false},
                 {"bext before fmt", 18, true, false},
                 {"odd chunks with pad bytes", 17, false, true}};
    for (int layout = 0; layout < 4 * 4 + 4; layout++) {
        // Each WAVE layout at 8 and 16 bits in one and two channels, then Ogg Vorbis in both at two rates.
        const bool ogg = layout >= 16;
        const int channels = 1 + (layout >> 1 & 1), bits = ogg ? 16 : 8 << (layout & 1);
        const int rate = ogg ? (layout & 1 ? 44100 : 22050) : 100 + random() % 48000;
        Layout row = {(ogg ? "Ogg Vorbis" : waves[layout / 4].name) + (" bits " + std::to_string(bits)) +
                          " channels " + std::to_string(channels) + " rate " + std::to_string(rate),
                      {}, Bytes(channels * bits / 8 * (1 + random() % 30000)), channels, bits, rate};
        if (ogg) {
            row.file = EncodeToneOggVorbis(channels, rate, 2.5, channels * rate);
            long long frames = 0;
            row.reference.resize(DecodeWithVorbisfile(row.file, row.reference, &frames));
            EXPECT_EQ(row.reference.size(), (size_t)(frames * channels * 2)) << "the stated size";
        } else {
            for (auto &b : row.reference) {
                b = (uint8_t)random();
            }
            const auto &w = waves[layout / 4];
            row.file = WaveFile(w.formatBytes, w.bextFirst, w.oddChunks, channels, bits, rate, row.reference);
        }
        rows.push_back(row);
    }
    for (const Layout &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.reference.empty());
        MemorySource source(row.file);
        SoundConverter converter;
        ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
        EXPECT_EQ(GetConverterPcmSize(&converter), row.reference.size());
        CloseConverter(&converter);
        WAVEFORMATEX format;
        ConvertWhole(row.file, &format);
        EXPECT_TRUE(format.nChannels == row.channels && format.wBitsPerSample == row.bits &&
                    (int)format.nSamplesPerSec == row.rate && format.nBlockAlign == row.channels * row.bits / 8);
        ExpectConverterReads(row.file, row.reference, random);
    }
}

TEST_F(ConvertTest, WaveImageRoundTripsAndMillisecondsFollowTheRule)
{
    std::mt19937 random(3);
    Bytes samples(4 * 1234, 0x5A);
    WAVEFORMATEX format = {1, 2, 44100, 176400, 4, 16, 0}, back;
    void *image = NULL;
    unsigned int size = 0;
    ASSERT_EQ(BuildWaveImage(&image, &size, &format, 18, samples.data(), (unsigned)samples.size()), 0);
    Bytes file((uint8_t *)image, (uint8_t *)image + size);
    FreeMemory(image);
    EXPECT_EQ(ConvertWhole(file, &back), samples);
    EXPECT_EQ(memcmp(&back, &format, sizeof(format)), 0);
    for (int trial = 0; trial < 2000; trial++) {
        int frames = (int)(random() & 0x7FFFFFFF), rate = 1 + (int)(random() % 200000);
        long long expected = (long long)frames * 1000 / rate;
        if (expected <= 0x7FFFFFFF) {
            ASSERT_EQ(SamplesToMilliseconds(frames, rate), expected) << frames << " " << rate;
        }
    }
}

} // namespace
