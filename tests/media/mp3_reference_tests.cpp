// The reference the MP3 conversion is held to: on this machine the platform's own chain (file source, sample
// grabber, null renderer, no clock) decodes each fixture to 16-bit PCM of the tone's layout that agrees with
// lame's decode at 60 dB within a two-frame lag and length. COM is started here; the engine is not.
#include "mp3_reference_chain.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <stdlib.h>

TEST(Mp3Reference, PlatformChainAgreesWithLame)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    for (const Mp3Tone &tone : kMp3Tones) {
        SCOPED_TRACE(tone.name);
        DecodedPcm platform, lame;
        ASSERT_TRUE(DecodeWithPlatformChain(FixturePath(tone.name, ".mp3"), &platform));
        ASSERT_TRUE(ReadWaveFile(FixturePath(tone.name, ".decoded.wav"), &lame));
        EXPECT_EQ(memcmp(&platform.format, &lame.format, sizeof(PCMWAVEFORMAT)), 0);
        EXPECT_EQ(platform.format.nChannels, tone.channels);
        EXPECT_EQ(platform.format.nSamplesPerSec, (DWORD)tone.rate);
        Alignment aligned = AlignPcm(platform.pcm, lame.pcm, tone.channels, 2 * kMp3FrameSamples);
        EXPECT_GE(aligned.decibels, 60.0) << "at lag " << aligned.lag;
        EXPECT_LE(llabs((long long)platform.pcm.size() - (long long)lame.pcm.size()),
                  2LL * kMp3FrameSamples * platform.format.nBlockAlign);
        printf("%s: lag %d, %.1f dB, %u bytes against lame's %u\n", tone.name, aligned.lag, aligned.decibels,
               (unsigned)platform.pcm.size(), (unsigned)lame.pcm.size());
    }
    CoUninitialize();
}
