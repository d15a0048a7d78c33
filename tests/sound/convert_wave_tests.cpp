// The PCM WAVE converter: every layout the RIFF walk must take gives exactly the file's samples (whole, in pieces,
// after seeks) with its format; the RIFF WAVE image round-trips; frames convert to milliseconds as the rule says.
#include "convert_test_support.h"

namespace
{

TEST_F(ConvertTest, PcmWaveLayoutsGiveTheFileSamples)
{
    const struct {
        const char *name;
        int formatBytes;
        bool bextFirst, oddChunks;
    } cases[] = {{"18-byte fmt", 18, false, false},
                 {"16-byte fmt", 16, false, false},
                 {"bext before fmt", 18, true, false},
                 {"odd chunks with pad bytes", 17, false, true}};
    std::mt19937 random(7);
    for (const auto &c : cases) {
        for (int layout = 0; layout < 4; layout++) {
            int bits = 8 << (layout & 1), channels = 1 + (layout >> 1), rate = 100 + random() % 48000;
            SCOPED_TRACE(std::string(c.name) + " bits " + std::to_string(bits) + " channels " +
                         std::to_string(channels));
            Bytes samples(channels * bits / 8 * (1 + random() % 30000));
            for (auto &b : samples) {
                b = (uint8_t)random();
            }
            Bytes file = WaveFile(c.formatBytes, c.bextFirst, c.oddChunks, channels, bits, rate, samples);
            WAVEFORMATEX format;
            ConvertWhole(file, &format);
            EXPECT_TRUE(format.nChannels == channels && format.wBitsPerSample == bits &&
                        (int)format.nSamplesPerSec == rate);
            ExpectConverterReads(file, samples, random);
        }
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
