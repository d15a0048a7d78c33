// Stream sounds on emulated buffers whose play cursor only the test moves, with no refill thread: after every move
// the ring between the play and write cursors must hold exactly what is due to be heard next, worked out straight
// from the entries, their repeat counts and the play type.
#include <gtest/gtest.h>

#include "graphics/log_reading.h"
#include "sound/stream_test_support.h"
#include "sound/sound_test_hooks.h"
#include "core/core_test_hooks.h"

namespace
{

const unsigned kRate = 8000; // 8 kHz 8-bit mono: a byte a frame, 8 bytes a millisecond, a ring of 8000 bytes

class StreamEngine : public ::testing::Environment
{
    void SetUp() override
    {
        SetProcessorCountForTest(1);    // no refill thread: only the test's passes write
        SetEngineStartOptions(1, 0, 1); // sound alone
        SetMainWindowTitle("QvStreamLogic");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        SetSoundBufferEmulation(1);
    }
    void TearDown() override
    {
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
};
::testing::Environment *const s_Engine = ::testing::AddGlobalTestEnvironment(new StreamEngine);

struct EntrySpec {
    unsigned bytes;
    int loopCount, loopStartFrame;
};

// A stream sound of random entries, and what it should sound like: the prefix, then the repeating part for ever
// (silence when it is empty).
struct Stream {
    EngineHandle handle = -1;
    Bytes prefix, repeat;
    uint64_t played = 0;

    Stream(std::mt19937 &random, const std::vector<EntrySpec> &entries, int playType, EngineHandle share = -1)
    {
        std::vector<Bytes> waves;
        std::vector<int> loops;
        for (const EntrySpec &entry : entries) {
            Bytes pcm = RandomPcm8(random, entry.bytes);
            waves.push_back(MakeWave(kRate, 8, 1, pcm));
            loops.push_back(entry.loopCount);
            for (int play = 0; play <= entry.loopCount % 255; play++) {
                prefix.insert(prefix.end(), pcm.begin(), pcm.end());
            }
            if (entry.loopCount == 255 && repeat.empty()) {
                repeat.assign(pcm.begin() + entry.loopStartFrame, pcm.end());
            }
        }
        if (playType == 3) {
            repeat.swap(prefix);
        }
        handle = MakeStreamSound(waves, loops, share);
        for (size_t i = 0; handle != -1 && i < entries.size(); i++) {
            GetSoundRecord(handle)->entries[i].loopStartFrame = entries[i].loopStartFrame; // no engine call sets it
        }
    }
    uint8_t At(uint64_t i) const
    {
        return i < prefix.size() ? prefix[i] : repeat.empty() ? 0x7F : repeat[(i - prefix.size()) % repeat.size()];
    }
    unsigned Lead() const
    {
        unsigned size = 0;
        GetStreamBufferForTest(handle, &size);
        return (GetSoundRecord(handle)->writeCursor + size - (unsigned)(played % size)) % size;
    }
    ::testing::AssertionResult RingHoldsWhatFollows() const
    {
        unsigned size = 0, lead = Lead();
        const uint8_t *ring = GetStreamBufferForTest(handle, &size);
        for (unsigned i = 0; i < lead; i++) {
            if (ring[(played + i) % size] != At(played + i)) {
                return ::testing::AssertionFailure() << "byte " << played + i << ", cursor at " << played;
            }
        }
        return lead > 0 ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "nothing ahead";
    }
    void Step(unsigned bytes)
    {
        played += bytes;
        SetStreamPlayCursorForTest(handle, (unsigned)(played % kRate));
        ProcessAllStreamSounds(); // twice: a pass with nothing to do must write nothing
        ProcessAllStreamSounds();
    }
};

TEST(StreamPlay, RingHoldsExactlyTheEntriesInTheirOrder)
{
    const struct {
        const char *name;
        std::vector<EntrySpec> entries;
        int playType;
        unsigned largestStep; // 0: up to the whole lead, so that a pass must make up a short lead
    } rows[] = {
        {"one entry once, then silence", {{18500, 0, 0}}, 1, 1000},
        {"one entry looped by play type 3", {{9100, 0, 0}}, 3, 1000},
        {"a short entry looped", {{3628, 0, 0}}, 3, 240},
        {"entries repeated, then looped", {{5300, 1, 0}, {7700, 0, 0}}, 3, 0},
        {"three entries once", {{4100, 2, 0}, {6000, 0, 0}, {3999, 1, 0}}, 1, 1000},
        {"loop count 255 from its loop start", {{6100, 0, 0}, {9000, 255, 2345}}, 1, 0},
    };
    std::mt19937 random(16103);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Stream stream(random, row.entries, row.playType);
        ASSERT_EQ(PlayStreamSound(stream.handle, row.playType, 0), 0);
        uint64_t end = stream.prefix.size() + (stream.repeat.empty() ? 0 : 30000);
        while (stream.played < end) {
            ASSERT_TRUE(stream.RingHoldsWhatFollows());
            ASSERT_EQ(CheckStreamPlaying(stream.handle), 1) << "at " << stream.played;
            unsigned lead = stream.Lead();
            stream.Step(1 + random() % (row.largestStep != 0 ? row.largestStep : lead > 1 ? lead - 1 : 1));
        }
        if (stream.repeat.empty()) {
            EXPECT_EQ(CheckStreamPlaying(stream.handle), 0) << "the pass after the end stops the stream";
            EXPECT_EQ(GetStreamSoundCurrentTime(stream.handle), 0) << "and puts it back at its start";
            ASSERT_EQ(PlayStreamSound(stream.handle, row.playType, 0), 0);
            stream.played = 0;
            EXPECT_TRUE(stream.RingHoldsWhatFollows());
        }
        EXPECT_EQ(DeleteSoundHandle(stream.handle, 0), 0);
    }
}

TEST(StreamPlay, StopAndPlayResumeOrRestart)
{
    std::mt19937 random(7);
    Stream stream(random, {{20000, 0, 0}}, 1);
    ASSERT_EQ(PlayStreamSound(stream.handle, 1, 0), 0);
    EXPECT_EQ(PlayStreamSound(stream.handle, 1, 0), -1) << "top 0 while playing";
    for (int step = 0; step < 12; step++) {
        stream.Step(1000); // once round the ring and half again: a restart would not hold these bytes here
    }
    EXPECT_EQ(StopStreamSound(stream.handle), 0);
    EXPECT_EQ(CheckStreamPlaying(stream.handle), 0);
    EXPECT_EQ(GetStreamSoundCurrentTime(stream.handle), 12000 / 8);
    ASSERT_EQ(PlayStreamSound(stream.handle, 1, 0), 0) << "top 0 resumes where it stopped";
    stream.Step(900);
    EXPECT_TRUE(stream.RingHoldsWhatFollows());
    EXPECT_EQ(GetStreamSoundCurrentTime(stream.handle), 12900 / 8);
    ASSERT_EQ(PlayStreamSound(stream.handle, 1, 1), 0) << "top 1 restarts";
    stream.played = 0;
    EXPECT_TRUE(stream.RingHoldsWhatFollows());
    EXPECT_EQ(GetStreamSoundCurrentTime(stream.handle), 0);
    EXPECT_EQ(DeleteSoundHandle(stream.handle, 0), 0);
}

TEST(StreamEntries, RefusalsAreLogged)
{
    std::mt19937 random(11);
    Bytes wave = MakeWave(kRate, 8, 1, RandomPcm8(random, 3000)), wide = MakeWave(kRate, 16, 1, wave);
    const struct {
        std::vector<Bytes> entries;
        bool playing;
        const Bytes &added;
        const char *log;
    } rows[] = {
        {{wave, wave, wave}, false, wave, "ストリーム風サウンドの制御データ領域がいっぱいです"},
        {{wave}, false, wide, "フォーマットの違う音声データは同時に使うことは出来ません"},
        {{wave}, true, wave, "既に再生中のストリームサウンドデータにデータを追加しようとしました"},
    };
    for (const auto &row : rows) {
        EngineHandle handle = MakeStreamSound(row.entries, std::vector<int>(row.entries.size(), 0));
        ASSERT_EQ(row.playing ? PlayStreamSound(handle, 1, 0) : 0, 0);
        EXPECT_EQ(SetupStreamFromMemory(row.added.data(), (unsigned)row.added.size(), 0, handle, 2, -1), -1);
        EXPECT_NE(ReadLogText().find(row.log), std::string::npos) << row.log;
        EXPECT_EQ(GetSoundRecord(handle)->entryCount, (int)row.entries.size());
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
    }
}

TEST(StreamSharing, SharerUsesTheSourceBufferAndHoldsItsDelete)
{
    std::mt19937 random(5);
    int allocations = GetAllocationCount();
    Stream source(random, {{12000, 0, 0}}, 1);
    Stream sharer(random, {{12000, 0, 0}}, 1, source.handle);
    unsigned size = 0;
    EXPECT_EQ(GetStreamBufferForTest(sharer.handle, &size), GetStreamBufferForTest(source.handle, &size));
    EXPECT_FALSE(GetSoundRecord(sharer.handle)->slots[0].valid) << "no buffer of its own";
    ASSERT_EQ(PlayStreamSound(source.handle, 1, 0), 0);
    ASSERT_EQ(PlayStreamSound(sharer.handle, 1, 0), 0) << "a play takes the buffer over";
    EXPECT_EQ(CheckStreamPlaying(source.handle), 0);
    EXPECT_EQ(CheckStreamPlaying(sharer.handle), 1);
    EXPECT_TRUE(sharer.RingHoldsWhatFollows());
    EXPECT_EQ(DeleteSoundHandle(source.handle, 0), 0);
    EXPECT_NE(GetSoundRecord(source.handle), nullptr) << "kept while its sharer lives";
    EXPECT_EQ(CheckStreamPlaying(sharer.handle), 1);
    EXPECT_EQ(DeleteSoundHandle(sharer.handle, 0), 0);
    EXPECT_EQ(GetSoundRecord(source.handle), nullptr) << "the last sharer's delete removes it";
    EXPECT_EQ(GetAllocationCount(), allocations);
}

TEST(StreamLoad, LongSoundsBecomeStreamSounds)
{
    std::mt19937 random(3);
    for (unsigned seconds : {180u, 181u}) {
        Bytes wave = MakeWave(kRate, 8, 1, RandomPcm8(random, seconds * kRate));
        EngineHandle handle = LoadSoundFromMemory(wave.data(), (unsigned)wave.size(), 1, -1);
        EXPECT_EQ(GetSoundRecord(handle)->kind, seconds > 180 ? SOUND_STREAM : SOUND_NORMAL) << seconds;
        EXPECT_EQ(GetSoundTotalSample(handle), (int)(seconds * kRate)) << seconds;
        EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
    }
}

} // namespace
