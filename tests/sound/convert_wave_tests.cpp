// The PCM WAVE converter: every layout the RIFF walk must take gives exactly the file's samples (whole, in pieces,
// after seeks); damaged files and formats DirectSound cannot play are refused without a leak or a hang; the RIFF
// WAVE image round-trips; frames convert to milliseconds as the rule says.
#include "convert_test_support.h"

namespace
{

struct WaveCase {
    const char *name;
    int formatBytes;
    bool bextFirst, oddChunks;
};

Bytes WaveFile(const WaveCase &c, int channels, int bits, int rate, const Bytes &samples)
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

TEST_F(ConvertTest, DamagedWaveFilesAreRefusedOrReadWithinTheirBytes)
{
    Bytes samples(4000, 0x55);
    Bytes good = WaveFile({"", 18, true, true}, 2, 16, 22050, samples);
    auto withSize = [&](const char *id, uint32_t size) {
        Bytes file = good;
        auto at = std::search(file.begin(), file.end(), id, id + 4) - file.begin();
        memcpy(&file[at + 4], &size, 4);
        return file;
    };
    const struct {
        const char *name;
        Bytes file;
        size_t expectedBytes; // 0: refused
    } faults[] = {
        {"chunk size with the top bit set", withSize("bext", 0xFFFFFFF7u), 0},
        {"chunk size past the end", withSize("LIST", 0x7FFFFFF0u), 0},
        {"fmt shorter than 16 bytes", WaveFile({"", 14, false, false}, 2, 16, 22050, samples), 0},
        {"fmt size past the end", withSize("fmt ", 0xFFFFFFF0u), 0},
        {"data size beyond the stream", withSize("data", 0x7FFFFFFFu), 4012}, // what follows, in whole frames
        {"channels 0", WaveFile({"", 18, false, false}, 0, 16, 22050, samples), 0},
        {"rate 0", WaveFile({"", 18, false, false}, 2, 16, 0, samples), 0},
        {"rate 99", WaveFile({"", 18, false, false}, 2, 16, 99, samples), 0},
        {"rate 200,001", WaveFile({"", 18, false, false}, 2, 16, 200001, samples), 0},
        {"rate 0x7FFFFFFF", WaveFile({"", 18, false, false}, 1, 8, 0x7FFFFFFF, samples), 0},
        {"no data chunk", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}}), 0},
        {"empty data", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}, {"data", Bytes()}}), 0},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        EXPECT_EQ(ConvertWhole(fault.file).size(), fault.expectedBytes);
    }
    // Block align and bytes per second zeroed in the format chunk.
    for (int offset : {8, 12}) {
        Bytes file = good;
        auto at = std::search(file.begin(), file.end(), "fmt ", "fmt " + 4) - file.begin();
        memset(&file[at + 8 + offset], 0, offset == 8 ? 4 : 2);
        EXPECT_TRUE(ConvertWhole(file).empty()) << offset;
    }
    // Truncations and flipped bytes: refused, or read within the bytes given.
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; trial++) {
        Bytes file = good;
        if (trial % 2 == 0) {
            file.resize(random() % file.size());
        } else {
            for (int flips = 0; flips < 4; flips++) {
                file[random() % 700] ^= (uint8_t)(1 << random() % 8);
            }
        }
        EXPECT_LE(ConvertWhole(file).size(), file.size()) << trial;
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
