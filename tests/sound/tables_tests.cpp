// The soft-sound, MIDI and capture services whose tables stay empty in the program: every handle call answers -1,
// the delete-alls and the current-music stop 0, closing a capture that is off -1; a capture opened by the test gets
// its 46-byte header, built here straight from the RIFF WAVE layout, in front of the frames written.
#include <gtest/gtest.h>

#include "sound_test_engine.h"

#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace
{

std::vector<unsigned char> ExpectedCaptureHeader(unsigned int frames)
{
    std::vector<unsigned char> header;
    auto put = [&](unsigned int value, int bytes) {
        for (int i = 0; i < bytes; i++) {
            header.push_back((unsigned char)(value >> (8 * i)));
        }
    };
    auto tag = [&](const char *text) { header.insert(header.end(), text, text + 4); };
    tag("RIFF"), put(4 * frames + 38, 4), tag("WAVE"), tag("fmt "), put(18, 4), put(1, 2), put(2, 2);
    put(44100, 4), put(176400, 4), put(4, 2), put(16, 2), put(0, 2), tag("data"), put(4 * frames, 4);
    return header;
}

} // namespace

TEST(SoundTables, EmptyTablesAnswerAndACaptureGetsItsHeader)
{
    ASSERT_EQ(StartSoundTestEngine("QvSoundTables"), 0);
    ASSERT_NE(g_Sound.directSound, nullptr);
    for (int slot : {0, 1, 255, 8191, 8192}) {
        EXPECT_EQ(DeleteSoftSoundHandle(MakeEngineHandle(HANDLE_TYPE_SOFT_SOUND, 0, slot), 0), -1) << slot;
        EXPECT_EQ(DeleteSoftSoundHandle(MakeEngineHandle(HANDLE_TYPE_SOFT_SOUND, 0, slot), 1), -1) << slot;
        EngineHandle midi = MakeEngineHandle(HANDLE_TYPE_MIDI_MUSIC, 0, slot);
        EXPECT_EQ(CheckMusicPlaying(midi), -1) << slot;
        EXPECT_EQ(StopMusicMem(midi), -1) << slot;
        EXPECT_EQ(DeleteMusicMem(midi), -1) << slot;
    }
    EXPECT_EQ(DeleteAllSoftSounds(), 0);
    EXPECT_EQ(DeleteAllSoftSoundPlayers(), 0);
    EXPECT_EQ(DeleteAllMusicMem(), 0);
    EXPECT_EQ(RefillAllSoftSoundPlayers(), 0);
    EXPECT_EQ(RefreshMidiPlayState(), 0);
    EXPECT_EQ(PlayMidiByMci(), 0);
    EXPECT_EQ(StopCurrentMusic(), 0);
    EXPECT_EQ(CloseCaptureFile(), -1) << "capture is off";

    std::mt19937 random(5);
    std::vector<unsigned char> frames(4 * 1000);
    for (unsigned char &byte : frames) {
        byte = (unsigned char)random();
    }
    for (unsigned int count : {0u, 1u, 1000u}) {
        ASSERT_EQ(OpenCaptureFile("capture.wav"), 0);
        EXPECT_EQ(OpenCaptureFile("capture.wav"), -1) << "one capture at a time";
        EXPECT_EQ(AppendCaptureFrames(frames.data(), count), 0);
        EXPECT_EQ(AppendCaptureFrames(frames.data(), 0xFFFFFFFFu / 4), -1) << "past what the header can count";
        EXPECT_EQ(CloseCaptureFile(), 0);
        EXPECT_EQ(CloseCaptureFile(), -1);
        std::ifstream file("capture.wav", std::ios::binary);
        std::vector<unsigned char> written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<unsigned char> expected = ExpectedCaptureHeader(count);
        expected.insert(expected.end(), frames.begin(), frames.begin() + 4 * count);
        EXPECT_EQ(written, expected) << count << " frames";
    }
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(GetAllocationCount(), 0);
}
