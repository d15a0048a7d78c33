// Sound handles and buffer slots on the emulated path (the in-memory slots the emulation option selects), with the
// engine started on the harness's sink: slot operations against their rules, the handle table (a given handle's
// tag and slot checked, the used end), loading a WAV image into buffers, formats refused before any buffer, and
// play with its top flag and buffer turn, stop, volume and the queries.
#include <gtest/gtest.h>

#include "sound_test_engine.h"
#include "graphics/log_reading.h"
#include "sound/convert_test_support.h"

#include <math.h>

namespace
{

// A PCM RIFF WAVE image whose "fmt " chunk is the given format's first 16 bytes, holding `frames` frames of seeded
// noise.
Bytes MakeWave(const WAVEFORMATEX &format, int frames, Bytes *pcm = nullptr)
{
    std::mt19937 random(frames);
    Bytes data((size_t)frames * format.nBlockAlign);
    for (uint8_t &byte : data) {
        byte = (uint8_t)random();
    }
    if (pcm != nullptr) {
        *pcm = data;
    }
    return RiffWave({{"fmt ", Bytes((const uint8_t *)&format, (const uint8_t *)&format + 16)}, {"data", data}});
}

const WAVEFORMATEX kStereo16 = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

// Volume in hundredths of a dB to the emulated factor, straight from the rule.
int VolumeFactorRule(int volume)
{
    if (volume <= -10000) {
        return 0;
    }
    return volume >= 0 ? 256 : (int)(pow(10.0, volume / 1000.0) / 0.9999999999 * 256);
}

class EmulatedSound : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(StartSoundTestEngine("QvSoundHandles"), 0);
        g_Sound.emulateBuffers = 1;
    }
    void TearDown() override
    {
        EXPECT_EQ(DeleteAllSoundHandles(0), 0);
        EXPECT_EQ(GetSoundHandleCount(nullptr), 0);
        g_Sound.emulateBuffers = 0;
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    // An emulated slot of `frames` 16-bit stereo frames.
    void MakeSlot(SoundBufferSlot *slot, unsigned int frames)
    {
        DSBUFFERDESC description = {sizeof(DSBUFFERDESC), 0, frames * 4, 0, (WAVEFORMATEX *)&kStereo16, GUID_NULL};
        ASSERT_EQ(CreateBufferSlot(slot, &description), 0);
    }
};

} // namespace

TEST_F(EmulatedSound, SlotVolumePanAndFrequencyFollowTheirRules)
{
    SoundBufferSlot slot = {};
    MakeSlot(&slot, 100);
    EXPECT_EQ(slot.volumeFactor, 255) << "as created";
    std::mt19937 random(7);
    for (int i = 0; i < 2005; i++) { // the bounds and a hand-worked value, then random values
        const int fixed[] = {-10000, 10000, 0, -397, 397}, value = i < 5 ? fixed[i] : (int)(random() % 24001) - 12000;
        ASSERT_EQ(SetBufferSlotVolume(&slot, value), 0);
        ASSERT_EQ(slot.volumeFactor, VolumeFactorRule(value)) << value;
        ASSERT_EQ(SetBufferSlotPan(&slot, value), 0);
        int magnitude = 256 - VolumeFactorRule(-abs(value));
        ASSERT_EQ(slot.pan, value < 0 ? -magnitude : magnitude) << value;
    }
    const int frequencies[][2] = {{0, -1}, {22050, 22050}, {100, 100}};
    for (const auto &row : frequencies) {
        SetBufferSlotFrequency(&slot, row[0]);
        EXPECT_EQ(slot.frequency, row[1]);
    }
    ReleaseBufferSlot(&slot);
}

TEST_F(EmulatedSound, SlotLockPositionAndStateFollowTheBuffer)
{
    SoundBufferSlot slot = {}, copy = {};
    MakeSlot(&slot, 100); // 400 bytes
    std::mt19937 random(11);
    for (int i = 0; i < 2000; i++) {
        unsigned int offset = random() % 500, bytes = random() % 500;
        void *region1 = nullptr, *region2 = nullptr;
        DWORD size1 = 0, size2 = 0;
        int result = LockBufferSlot(&slot, offset, bytes, &region1, &size1, &region2, &size2);
        ASSERT_EQ(result, offset < 400 && bytes <= 400 ? 0 : -1) << offset << " " << bytes;
        if (result == 0) {
            unsigned int first = std::min(bytes, 400 - offset);
            ASSERT_EQ(region1, slot.memory + offset);
            ASSERT_EQ(size1, first);
            ASSERT_EQ(size2, bytes - first);
            ASSERT_EQ(region2, bytes > first ? slot.memory : nullptr);
        }
    }
    DWORD play = 0, write = 0;
    SetBufferSlotPosition(&slot, 1003);
    GetBufferSlotPosition(&slot, &play, &write);
    EXPECT_EQ(play, 1000u) << "whole frames";
    ASSERT_EQ(DuplicateBufferSlot(&copy, &slot), 0);
    EXPECT_EQ(copy.frames, 100u);
    EXPECT_EQ(copy.volumeFactor, 255);
    EXPECT_EQ(DuplicateBufferSlot(&copy, &slot), -1) << "the slot must be empty";
    ReleaseBufferSlot(&copy);
    ReleaseBufferSlot(&slot);
    EXPECT_EQ(PlayBufferSlot(&slot, 0) + SetBufferSlotVolume(&slot, 0), -2) << "a released slot";
}

TEST_F(EmulatedSound, AGivenHandleIsCheckedAndTheUsedEndFalls)
{
    EngineHandle first = AddSoundData(-1);
    ASSERT_NE(first, -1);
    const EngineHandle refused[] = {-5, 0x10008000, 0x1000FFFF, 0x08000001, 0x10000000 | 0x7FF0000 | 0x9000};
    for (EngineHandle handle : refused) {
        EXPECT_EQ(AddSoundData(handle), -1) << std::hex << handle;
    }
    EXPECT_EQ(GetSoundHandleCount(nullptr), 1);
    EngineHandle named = MakeEngineHandle(HANDLE_TYPE_SOUND, 77, 1234);
    EXPECT_EQ(AddSoundData(named), named) << "an empty slot named by the handle is taken";
    EngineHandle other = AddSoundData(named);
    EXPECT_NE(other, named) << "a taken slot gives a new one";
    int usedEnd = 0;
    EXPECT_EQ(GetSoundHandleCount(&usedEnd), 3);
    EXPECT_EQ(usedEnd, 1236);
    EXPECT_EQ(DeleteSoundHandle(other, 0), 0);
    EXPECT_EQ(DeleteSoundHandle(other, 0), -1) << "a stale handle";
    EXPECT_EQ(DeleteSoundHandle(named, 0), 0);
    GetSoundHandleCount(&usedEnd);
    EXPECT_EQ(usedEnd, 1) << "past every empty slot";
}

TEST_F(EmulatedSound, LoadFillsTheFirstBufferAndRefusesUnplayableFormats)
{
    Bytes pcm;
    Bytes wave = MakeWave(kStereo16, 11025, &pcm);
    EngineHandle handle = LoadSoundFromMemory(wave.data(), (unsigned int)wave.size(), 3, -1);
    ASSERT_NE(handle, -1);
    SoundRecord *record = GetSoundRecord(handle);
    EXPECT_EQ(record->bufferCount, 3);
    EXPECT_EQ(memcmp(record->slots[0].memory, pcm.data(), pcm.size()), 0);
    EXPECT_EQ(record->duplicated[0] * 100 + record->duplicated[1] * 10 + record->duplicated[2], 11u);
    EXPECT_EQ(GetSoundTotalSample(handle), 11025);
    EXPECT_EQ(GetSoundTotalTime(handle), 250);
    EXPECT_EQ(LoadSoundFromMemory(wave.data(), (unsigned int)wave.size(), 11, -1), -1);
    EngineHandle silent = LoadSoundFromMemory(wave.data(), (unsigned int)wave.size(), 0, -1);
    ASSERT_NE(silent, -1);
    EXPECT_EQ(PlaySoundHandle(silent, 1, 1), -1) << "no buffer to play";
    EXPECT_EQ(GetSoundPlayPosition(silent), 0);

    // Tag, channels, rate, bytes per second, block align, bits; the last two rows are the bounds, accepted.
    const WAVEFORMATEX shapes[] = {{1, 2, 0x7FFFFFFF, 176400, 4, 16, 0}, {1, 2, 99, 396, 4, 16, 0},
                                   {1, 2, 200001, 800004, 4, 16, 0},     {1, 0, 44100, 176400, 4, 16, 0},
                                   {1, 2, 44100, 176400, 0, 16, 0},      {1, 2, 44100, 0, 4, 16, 0},
                                   {1, 1, 100, 200, 2, 16, 0},           {1, 1, 200000, 400000, 2, 16, 0}};
    for (size_t i = 0; i < sizeof(shapes) / sizeof(shapes[0]); i++) {
        bool accepted = i >= 6;
        Bytes odd = MakeWave(shapes[i], 64);
        int allocations = GetAllocationCount();
        EngineHandle result = LoadSoundFromMemory(odd.data(), (unsigned int)odd.size(), 1, -1);
        EXPECT_EQ(result != -1, accepted) << "row " << i;
        EXPECT_EQ(GetAllocationCount(), allocations + (accepted ? 4 : 0))
            << "record, PCM, its count, buffer; row " << i;
    }
    EXPECT_NE(ReadLogText().find("音声ファイルのＰＣＭへの変換に失敗しました"), std::string::npos);
    // The buffer maker refuses them too, a stream buffer included (whose failure would end the program).
    EngineHandle bare = AddSoundData(-1);
    for (size_t i = 0; i < 6; i++) {
        WAVEFORMATEX format = shapes[i];
        EXPECT_EQ(CreateSoundBuffers(&format, 400, SOUND_NORMAL, 1, bare, -1), -1) << "row " << i;
        EXPECT_EQ(CreateSoundBuffers(&format, 400, SOUND_STREAM, 1, bare, -1), -1) << "row " << i;
        EXPECT_EQ(GetSoundRecord(bare)->slots[0].valid, 0u) << "row " << i;
    }
}

TEST_F(EmulatedSound, PlayTakesBuffersInTurnWithTheTopFlag)
{
    Bytes wave = MakeWave(kStereo16, 44100);
    EngineHandle one = LoadSoundFromMemory(wave.data(), (unsigned int)wave.size(), 1, -1);
    EngineHandle two = LoadSoundFromMemory(wave.data(), (unsigned int)wave.size(), 2, -1);
    SoundRecord *single = GetSoundRecord(one), *pair = GetSoundRecord(two);
    ASSERT_TRUE(single != nullptr && pair != nullptr);

    EXPECT_EQ(CheckSoundPlaying(one), 0);
    EXPECT_EQ(PlaySoundHandle(one, 1, 1), 0);
    EXPECT_EQ(CheckSoundPlaying(one), 1);
    single->slots[0].playFrame = 100;
    EXPECT_EQ(PlaySoundHandle(one, 1, 0), 0);
    EXPECT_EQ(single->slots[0].playFrame, 100u) << "still playing, top 0: nothing changes";
    single->slots[0].playFrame = 4410;
    EXPECT_EQ(GetSoundPlayPosition(one), 100);
    EXPECT_EQ(PlaySoundHandle(one, 3, 1), 0);
    EXPECT_EQ(single->slots[0].playFrame, 0u) << "top 1 restarts";
    EXPECT_EQ(single->slots[0].looping, 1u) << "type 3 loops";
    EXPECT_EQ(StopSoundHandle(one), 0);
    EXPECT_EQ(CheckSoundPlaying(one), 0);

    EXPECT_EQ(PlaySoundHandle(two, 1, 1), 0);
    EXPECT_EQ(pair->currentBuffer, 1);
    pair->slots[1].playFrame = 500;
    EXPECT_EQ(PlaySoundHandle(two, 1, 0), 0);
    EXPECT_EQ(pair->currentBuffer, 0);
    EXPECT_EQ(pair->slots[0].playFrame, 500u) << "the other buffer goes on from the first one's position";
    EXPECT_EQ(pair->slots[0].playing + pair->slots[1].playing, 2u);
    EXPECT_EQ(pair->slots[0].looping, 0u);

    const int volumes[][2] = {{255, 0}, {300, 0}, {102, -397}, {1, -2406}, {0, -10000}, {-5, -10000}};
    for (const auto &row : volumes) {
        EXPECT_EQ(SetSoundVolume255(row[0], two), 0);
        EXPECT_EQ(pair->volume, row[1]) << row[0];
        EXPECT_EQ(pair->slots[1].volumeFactor, VolumeFactorRule(row[1])) << row[0];
    }
    EXPECT_EQ(DeleteSoundHandle(one, 0), 0);
    EXPECT_EQ(PlaySoundHandle(one, 1, 1), -1) << "deleted";
}
