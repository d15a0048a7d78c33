// The PCM WAVE converter: every layout the RIFF walk must take gives exactly the file's samples (whole, in pieces,
// after seeks); the RIFF WAVE image round-trips; frames convert to milliseconds as the rule says.
#include "convert_test_support.h"

namespace
{

TEST_F(ConvertTest, PcmWaveLayoutsGiveTheFileSamples)
{
    const WaveCase cases[] = {
        {"18-byte fmt", 18, false, false},
        {"16-byte fmt", 16, false, false},
        {"bext before fmt", 18, true, false},
        {"odd chunks with pad bytes", 17, false, true},
    };
    std::mt19937 random(7);
    for (const auto &c : cases) {
        for (int bits : {8, 16}) {
            for (int channels : {1, 2}) {
                SCOPED_TRACE(std::string(c.name) + " bits " + std::to_string(bits) + " channels " +
                             std::to_string(channels));
                int rate = 100 + random() % 48000, align = channels * bits / 8;
                Bytes samples(align * (1 + random() % 30000));
                for (auto &b : samples) {
                    b = (uint8_t)random();
                }
                Bytes file = WaveFile(c, channels, bits, rate, samples);
                WAVEFORMATEX format;
                EXPECT_EQ(ConvertWhole(file, &format), samples);
                EXPECT_EQ(format.nChannels, channels);
                EXPECT_EQ(format.wBitsPerSample, bits);
                EXPECT_EQ((int)format.nSamplesPerSec, rate);

                MemorySource source(file);
                SoundConverter converter;
                ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
                EXPECT_EQ(GetConverterPcmSize(&converter), samples.size());
                EXPECT_EQ(ReadInPieces(&converter, random, 5000), samples);
                int frames = (int)samples.size() / align;
                for (int seek = 0; seek < 6; seek++) {
                    int frame = random() % frames;
                    SeekConverter(&converter, frame);
                    Bytes slice(std::min<size_t>(align * (1 + random() % 3000), samples.size() - frame * align));
                    ASSERT_EQ(ReadConverter(&converter, slice.data(), (unsigned)slice.size()), (int)slice.size());
                    EXPECT_TRUE(std::equal(slice.begin(), slice.end(), samples.begin() + frame * align)) << frame;
                }
                CloseConverter(&converter);
            }
        }
    }
}

TEST_F(ConvertTest, WaveImageRoundTripsAndMillisecondsFollowTheRule)
{
    std::mt19937 random(3);
    Bytes samples(4 * 1234);
    for (auto &b : samples) {
        b = (uint8_t)random();
    }
    WAVEFORMATEX format = {1, 2, 44100, 176400, 4, 16, 0};
    void *image = NULL;
    unsigned int size = 0;
    ASSERT_EQ(BuildWaveImage(&image, &size, &format, 18, samples.data(), (unsigned)samples.size()), 0);
    Bytes file((uint8_t *)image, (uint8_t *)image + size);
    FreeMemory(image);
    EXPECT_EQ(file.size(), samples.size() + 18 + 28);
    WAVEFORMATEX back;
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
