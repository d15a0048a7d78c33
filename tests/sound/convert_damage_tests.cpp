// Damaged sound files loaded with the engine started (emulated buffers): the faults the RIFF walk and the Ogg
// opener guard against, truncations and flipped bytes. Each load answers -1 with the conversion failure logged and
// the allocation count unchanged, or, where the damage leaves a playable file, a sound no longer than the bytes
// given; the damage rows name what they must give.
#include "convert_ogg_encode.h"
#include "convert_test_support.h"

#include "core/window_state.h"
#include "graphics/log_reading.h"

namespace
{

const char *const kConversionFailed = "音声ファイルのＰＣＭへの変換に失敗しました";

class DamagedSound : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetMainWindowTitle("QvSoundDamage");
        ChangeWindowMode(1);
        g_WindowSettings.runInBackground = 1;
        ASSERT_EQ(InitEngine(), 0);
        g_Sound.emulateBuffers = 1;
    }
    void TearDown() override
    {
        g_Sound.emulateBuffers = 0;
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    // The PCM bytes the load made, or 0 when it was refused as it must be.
    size_t LoadedBytes(const Bytes &file)
    {
        int allocations = GetAllocationCount();
        size_t logSize = ReadLogText().size();
        EngineHandle handle = LoadSoundFromMemory(file.data(), (unsigned int)file.size(), 1, -1);
        if (handle == -1) {
            EXPECT_EQ(GetAllocationCount(), allocations);
            EXPECT_NE(ReadLogText().find(kConversionFailed, logSize), std::string::npos);
            return 0;
        }
        size_t bytes = (size_t)GetSoundTotalSample(handle) * GetSoundRecord(handle)->format.nBlockAlign;
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
        EXPECT_EQ(GetAllocationCount(), allocations);
        return bytes;
    }
};

Bytes WithChunkSize(Bytes file, const char *id, uint32_t size)
{
    auto at = std::search(file.begin(), file.end(), id, id + 4) - file.begin();
    memcpy(&file[at + 4], &size, 4);
    return file;
}

// Sets the granule position of the last page and makes its checksum right again.
Bytes WithLastGranule(Bytes file, long long granule)
{
    size_t last = 0;
    for (size_t at = 0; at + 4 <= file.size(); at++) {
        if (memcmp(&file[at], "OggS", 4) == 0) {
            last = at;
        }
    }
    memcpy(&file[last + 6], &granule, 8);
    ogg_page page;
    page.header = &file[last];
    page.header_len = 27 + file[last + 26];
    page.body = &file[last + page.header_len];
    page.body_len = (long)(file.size() - last - page.header_len);
    ogg_page_checksum_set(&page);
    return file;
}

TEST_F(DamagedSound, FaultsGiveTheirResult)
{
    Bytes samples(4000, 0x55);
    Bytes wave = WaveFile({"", 18, true, true}, 2, 16, 22050, samples);
    Bytes ogg = EncodeToneOggVorbis(2, 22050, 1.0, 9), mono = EncodeToneOggVorbis(1, 22050, 0.5, 10);
    Bytes chained = ogg;
    chained.insert(chained.end(), mono.begin(), mono.end());
    const struct {
        const char *name;
        Bytes file;
        size_t expectedBytes; // 0: refused
    } faults[] = {
        {"chunk size with the top bit set", WithChunkSize(wave, "bext", 0xFFFFFFF7u), 0},
        {"chunk size past the end", WithChunkSize(wave, "LIST", 0x7FFFFFF0u), 0},
        {"fmt shorter than 16 bytes", WaveFile({"", 14, false, false}, 2, 16, 22050, samples), 0},
        {"fmt size past the end", WithChunkSize(wave, "fmt ", 0xFFFFFFF0u), 0},
        {"data size beyond the stream", WithChunkSize(wave, "data", 0x7FFFFFFFu), 4012}, // what follows, whole frames
        {"rate 0x7FFFFFFF", WaveFile({"", 18, false, false}, 1, 8, 0x7FFFFFFF, samples), 0},
        {"no data chunk", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}}), 0},
        {"empty data", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}, {"data", Bytes()}}), 0},
        {"Ogg length beyond 32 bits of PCM", WithLastGranule(ogg, 0x40000000LL * 2), 0},
        {"Ogg length zero or negative", WithLastGranule(ogg, -2), 0},
        {"Ogg chained section in another format", chained, ConvertWhole(ogg).size()},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        EXPECT_EQ(LoadedBytes(fault.file), fault.expectedBytes);
    }
}

TEST_F(DamagedSound, TruncatedAndFlippedFilesLoadNoMoreThanTheyHold)
{
    Bytes wave = WaveFile({"", 18, true, true}, 2, 16, 22050, Bytes(4000, 0x55));
    Bytes ogg = EncodeToneOggVorbis(2, 22050, 1.0, 9);
    size_t oggBytes = ConvertWhole(ogg).size();
    std::mt19937 random(11);
    for (int trial = 0; trial < 400; trial++) {
        bool isWave = trial % 4 < 2;
        Bytes file = isWave ? wave : ogg;
        if (trial % 2 == 0) {
            file.resize(random() % file.size());
        } else {
            // The WAVE's flips fall on its headers; the Ogg's anywhere.
            for (int flips = 0; flips < 1 + trial % 8; flips++) {
                file[random() % (isWave ? 700 : file.size())] ^= (uint8_t)(1 << random() % 8);
            }
        }
        EXPECT_LE(LoadedBytes(file), isWave ? file.size() : oggBytes) << trial;
    }
}

} // namespace
