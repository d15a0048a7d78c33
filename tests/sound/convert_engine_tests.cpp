// The converter with sound started (ACM bound, emulated buffers). The ACM kinds on fixtures made at test time: IMA
// and MS ADPCM equal one whole-data conversion the test makes through the platform's codecs itself, IMA ADPCM in
// 4,096-byte blocks from the test's own encoder too; MP3 with an ID3v2 tag and a trailing "TAG" has the frame walk's
// length within one frame and the tone's pitch; a seek and a read equal that slice of a straight decode, backwards
// (stream B taking over, and the restart) and forwards. Damaged WAVE and Ogg data loads as -1 with the conversion
// failure logged and the allocation count unchanged, or as no more sound than the bytes hold.
#include "convert_test_support.h"
#include "convert_vorbis.h"

#include "sound_test_engine.h"
#include "media/mp3_reference_chain.h"
#include "graphics/log_reading.h"

#include <fstream>
#include <iterator>

namespace
{

class StartedSound : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(StartSoundTestEngine("QvSoundConvert"), 0);
        g_Sound.emulateBuffers = 1;
    }
    void TearDown() override
    {
        g_Sound.emulateBuffers = 0;
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
    }
};

Bytes ReadFixture(const char *name)
{
    std::ifstream file(std::string("fixtures/") + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// One conversion of the whole data chunk of a compressed WAVE file, made here through the platform's codec.
Bytes WholeDataConversion(const Bytes &file)
{
    auto chunk = [&](const char *id) {
        size_t at = 12;
        uint32_t size = 0;
        while (at + 8 <= file.size()) {
            memcpy(&size, &file[at + 4], 4);
            if (memcmp(&file[at], id, 4) == 0) {
                return std::make_pair(at + 8, (size_t)size);
            }
            at += 8 + size + (size & 1);
        }
        return std::make_pair((size_t)0, (size_t)0);
    };
    auto format = chunk("fmt "), data = chunk("data");
    WAVEFORMATEX *source = (WAVEFORMATEX *)&file[format.first];
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 0, 0, 0, 0, 0, 0};
    HACMSTREAM stream;
    DWORD size = 0;
    if (g_Sound.acm.formatSuggest(NULL, source, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
        g_Sound.acm.streamOpen(&stream, NULL, source, &pcm, NULL, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
        return Bytes();
    }
    g_Sound.acm.streamSize(stream, (DWORD)data.second, &size, ACM_STREAMSIZEF_SOURCE);
    Bytes out(size);
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof(header);
    header.pbSrc = (LPBYTE)&file[data.first];
    header.cbSrcLength = (DWORD)data.second;
    header.pbDst = out.data();
    header.cbDstLength = size;
    g_Sound.acm.streamPrepareHeader(stream, &header, 0);
    g_Sound.acm.streamConvert(stream, &header, 0);
    g_Sound.acm.streamUnprepareHeader(stream, &header, 0);
    g_Sound.acm.streamClose(stream, 0);
    out.resize(header.cbDstLengthUsed);
    return out;
}

// IMA ADPCM mono in blocks of `blockAlign` bytes, straight from the format's rule.
Bytes EncodeImaAdpcm(const std::vector<int16_t> &samples, int rate, int blockAlign)
{
    static const int steps[89] = {
        7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
        31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
        130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
        544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
        2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
        9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static const int indexSteps[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    const int perBlock = (blockAlign - 4) * 2 + 1;
    Bytes data;
    int index = 0;
    for (size_t start = 0; start + perBlock <= samples.size(); start += perBlock) {
        int predictor = samples[start];
        PutLittle(data, (uint16_t)predictor, 2);
        data.push_back((uint8_t)index);
        data.push_back(0);
        for (int i = 1; i < perBlock; i++) {
            int diff = samples[start + i] - predictor, code = diff < 0 ? 8 : 0, step = steps[index];
            diff = abs(diff);
            int change = step >> 3;
            for (int bit = 4; bit >= 1; bit >>= 1, step >>= 1) {
                if (diff >= step) {
                    code |= bit;
                    diff -= step;
                    change += step;
                }
            }
            predictor = std::max(-32768, std::min(32767, predictor + (code & 8 ? -change : change)));
            index = std::max(0, std::min(88, index + indexSteps[code & 7]));
            if (i % 2 == 1) {
                data.push_back((uint8_t)code);
            } else {
                data.back() |= (uint8_t)(code << 4);
            }
        }
    }
    Bytes format = FormatChunk(0x11, 1, rate, 4, 20);
    uint32_t average = (uint32_t)((long long)rate * blockAlign / perBlock);
    memcpy(&format[8], &average, 4);
    uint16_t align = (uint16_t)blockAlign, extra = 2, perBlockWord = (uint16_t)perBlock;
    memcpy(&format[12], &align, 2);
    memcpy(&format[16], &extra, 2);
    memcpy(&format[18], &perBlockWord, 2);
    return RiffWave({{"fmt ", format}, {"data", data}});
}

// Zero crossings of channel 0 over the middle half: the tone's frequency.
double ToneFrequency(const Bytes &pcm, int channels, int rate)
{
    const int16_t *samples = (const int16_t *)pcm.data();
    size_t frames = pcm.size() / 2 / channels, first = frames / 4, last = frames * 3 / 4, crossings = 0;
    for (size_t i = first + 1; i < last; i++) {
        crossings += (samples[(i - 1) * channels] < 0) != (samples[i * channels] < 0);
    }
    return crossings / 2.0 * rate / (last - first - 1);
}

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

// The PCM bytes a load made, or 0 when it was refused as a refusal must be: logged, nothing left allocated.
size_t LoadedBytes(const Bytes &file)
{
    int allocations = GetAllocationCount();
    size_t logSize = ReadLogText().size();
    EngineHandle handle = LoadSoundFromMemory(file.data(), (unsigned int)file.size(), 1, -1);
    size_t bytes = 0;
    if (handle == -1) {
        EXPECT_NE(ReadLogText().find("音声ファイルのＰＣＭへの変換に失敗しました", logSize), std::string::npos);
    } else {
        bytes = (size_t)GetSoundTotalSample(handle) * GetSoundRecord(handle)->format.nBlockAlign;
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
    }
    EXPECT_EQ(GetAllocationCount(), allocations);
    return bytes;
}

TEST_F(StartedSound, AdpcmEqualsOneWholeDataConversion)
{
    std::mt19937 random(17);
    std::vector<int16_t> tone(8185 * 6 + 100);
    for (size_t i = 0; i < tone.size(); i++) {
        tone[i] = (int16_t)(9000 * sin(6.283185307179586 * 440 * i / 22050) + (int)(random() % 3001) - 1500);
    }
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {{"IMA ADPCM", ReadFixture("ima.wav")},
                 {"MS ADPCM", ReadFixture("ms.wav")},
                 {"IMA ADPCM in 4,096-byte blocks", EncodeImaAdpcm(tone, 22050, 4096)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes reference = WholeDataConversion(c.file);
        ASSERT_FALSE(reference.empty());
        EXPECT_TRUE(ConvertWhole(c.file) == reference);
    }
}

TEST_F(StartedSound, Mp3LengthFromTheFrameWalkAndPitch)
{
    const struct {
        const char *name;
        int rate, channels, samplesPerFrame, toneFrames;
    } cases[] = {{"mpeg1.mp3", 44100, 2, 1152, 88200}, {"mpeg2.mp3", 22050, 1, 576, 44100}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = ReadFixture(c.name);
        ASSERT_TRUE(file.size() > 128 && memcmp(file.data(), "ID3", 3) == 0 &&
                    memcmp(&file[file.size() - 128], "TAG", 3) == 0);
        MemorySource source(file);
        SoundConverter converter;
        ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
        EXPECT_EQ(converter.kind, CONVERTER_ACM);
        // The encoder adds its delay of 1,105 frames and a leading information frame, and pads the last frame.
        int frames = (int)GetConverterPcmSize(&converter) / converter.format.nBlockAlign;
        int expected = c.toneFrames + 1105 + c.samplesPerFrame;
        EXPECT_GE(frames, expected);
        EXPECT_LT(frames, expected + c.samplesPerFrame);
        CloseConverter(&converter);
        WAVEFORMATEX format;
        Bytes pcm = ConvertWhole(file, &format);
        EXPECT_EQ((int)format.nSamplesPerSec, c.rate);
        EXPECT_EQ(format.nChannels, c.channels);
        EXPECT_NEAR(ToneFrequency(pcm, c.channels, c.rate), 440.0, 4.0);
    }
}

// Layer III at each rate of each MPEG version loads and plays as lame decodes it: MPEG-1 and MPEG-2 through the ACM
// kind, behind lame by the codec's delay, MPEG 2.5 (which that kind refuses) through the media graph, in step.
TEST_F(StartedSound, Mp3LoadsAtEachLayer3RateOfEachVersion)
{
    const int cases[][2] = {{32000, -529}, {44100, -529}, {48000, -529}, {16000, -529}, {22050, -529},
                            {24000, -529}, {8000, 0},     {11025, 0},     {12000, 0}}; // rate, lag
    for (const auto &c : cases) {
        std::string name = "layer3_" + std::to_string(c[0]);
        SCOPED_TRACE(name);
        Bytes file = ReadFixture((name + ".mp3").c_str());
        DecodedPcm lame;
        ASSERT_TRUE(ReadWaveFile("fixtures/" + name + ".decoded.wav", &lame));
        EngineHandle handle = LoadSoundFromMemory(file.data(), (unsigned int)file.size(), 1, -1);
        ASSERT_NE(handle, -1);
        const SoundRecord *record = GetSoundRecord(handle);
        EXPECT_EQ(record->format.nSamplesPerSec * 10 + record->format.nChannels, c[0] * 10u + 1);
        const unsigned char *loaded = record->slots[0].memory;
        Alignment aligned = AlignPcm(Bytes(loaded, loaded + GetSoundTotalSample(handle) * 2), lame.pcm, 1, 2400);
        EXPECT_EQ(aligned.lag, c[1]);
        EXPECT_GE(aligned.decibels, 60.0);
        EXPECT_EQ(PlaySoundHandle(handle, 1, 1), 0);
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
    }
}

TEST_F(StartedSound, SeeksEqualSlicesOfAStraightDecode)
{
    std::mt19937 random(23);
    for (const char *name : {"ima.wav", "ms.wav", "mpeg1.mp3"}) {
        SCOPED_TRACE(name);
        Bytes file = ReadFixture(name);
        MemorySource source(file);
        SoundConverter converter;
        ASSERT_EQ(OpenSoundConverter(&source.stream, &converter), 0);
        Bytes straight = ReadInPieces(&converter, random);
        const int align = converter.format.nBlockAlign, frames = (int)straight.size() / align;
        ASSERT_GT(frames, 20000);
        // Stream B decodes ahead towards a target two thirds in while A plays on to nine tenths.
        converter.seekTarget = frames * 2 / 3 * align;
        SeekConverter(&converter, 0);
        Bytes ahead(frames * 9 / 10 * align);
        ReadConverter(&converter, ahead.data(), (unsigned)ahead.size());
        const struct {
            const char *step;
            int frame;
            bool swap, restart; // which way back it must take
        } steps[] = {
            {"back to where B stands: B takes over", -1, true, false},
            {"forwards", frames * 2 / 3 + 4000, false, false},
            {"back behind B, A restarts", 1000, false, true},
        };
        for (const auto &step : steps) {
            SCOPED_TRACE(step.step);
            unsigned int outputB = converter.acm.outputB;
            int frame = step.frame < 0 ? (int)outputB / align : step.frame;
            HACMSTREAM streamB = converter.acm.streamB;
            EXPECT_EQ((unsigned)frame * align < outputB, step.restart);
            ExpectSliceAfterSeek(&converter, straight, frame);
            EXPECT_EQ(converter.acm.streamA == streamB, step.swap);
        }
        CloseConverter(&converter);
    }
}

TEST_F(StartedSound, DamagedFilesAreRefusedOrLoadNoMoreThanTheyHold)
{
    Bytes samples(4000, 0x55), wave = WaveFile(18, true, true, 2, 16, 22050, samples);
    Bytes ogg = EncodeToneOggVorbis(2, 22050, 1.0, 9), mono = EncodeToneOggVorbis(1, 22050, 0.5, 10), chained = ogg;
    chained.insert(chained.end(), mono.begin(), mono.end());
    size_t oggBytes = ConvertWhole(ogg).size();
    const struct {
        const char *name;
        Bytes file;
        size_t expectedBytes; // 0: refused
    } faults[] = {
        {"chunk size with the top bit set", WithChunkSize(wave, "bext", 0xFFFFFFF7u), 0},
        {"chunk size past the end", WithChunkSize(wave, "LIST", 0x7FFFFFF0u), 0},
        {"fmt shorter than 16 bytes", WaveFile(14, false, false, 2, 16, 22050, samples), 0},
        {"fmt size past the end", WithChunkSize(wave, "fmt ", 0xFFFFFFF0u), 0},
        {"data size beyond the stream", WithChunkSize(wave, "data", 0x7FFFFFFFu), 4012}, // what follows, whole frames
        {"rate 0x7FFFFFFF", WaveFile(18, false, false, 1, 8, 0x7FFFFFFF, samples), 0},
        {"no data chunk", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}}), 0},
        {"empty data", RiffWave({{"fmt ", FormatChunk(1, 2, 22050, 16, 16)}, {"data", Bytes()}}), 0},
        {"Ogg length beyond 32 bits of PCM", WithLastGranule(ogg, 0x40000000LL * 2), 0},
        {"Ogg length zero or negative", WithLastGranule(ogg, -2), 0},
        {"Ogg chained section in another format", chained, oggBytes},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        EXPECT_EQ(LoadedBytes(fault.file), fault.expectedBytes);
    }
    // Truncations and flipped bytes (the WAVE's on its headers, the Ogg's anywhere).
    std::mt19937 random(11);
    for (int trial = 0; trial < 400; trial++) {
        bool isWave = trial % 4 < 2;
        Bytes file = isWave ? wave : ogg;
        if (trial % 2 == 0) {
            file.resize(random() % file.size());
        }
        for (int flips = trial % 2 * (1 + trial % 8); flips > 0; flips--) {
            file[random() % (isWave ? 700 : file.size())] ^= (uint8_t)(1 << random() % 8);
        }
        EXPECT_LE(LoadedBytes(file), isWave ? file.size() : oggBytes) << trial;
    }
}

} // namespace
