// The platform's own MP3 decode as the conversion tests and the benchmark use it for reference: its file source,
// its sample grabber and its null renderer in its filter graph, run without a clock. Also the readers of the
// fixtures the build machine wrote (MP3 bytes and lame's decode as WAVE). Called on a thread where COM is started.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

struct DecodedPcm {
    WAVEFORMATEX format;
    Bytes pcm;
};

// The PCM the platform's graph delivers for the MP3 file at path; false when the graph cannot be built or run.
bool DecodeWithPlatformChain(const std::string &path, DecodedPcm *out);

// The fixtures: sweeps encoded by lame ("NAME.mp3", in the fixture step's folder) and lame's decode of each
// ("NAME.decoded.wav").
struct Mp3Tone {
    const char *name;
    int channels, rate;
};
extern const Mp3Tone kMp3Tones[4];
const int kMp3FrameSamples = 1152;
std::string FixturePath(const char *name, const char *suffix);

// Signal-to-difference ratio in dB of 16-bit interleaved PCM a against b at the best lag in whole sample frames, up
// to maxLag either way: the lag is found over a window after the start, the ratio taken over the whole overlap.
struct Alignment {
    int lag;
    double decibels;
};
Alignment AlignPcm(const Bytes &a, const Bytes &b, int channels, int maxLag);

Bytes ReadWholeFile(const std::string &path);
// The format and data chunks of a PCM WAVE file; false when they are missing.
bool ReadWaveFile(const std::string &path, DecodedPcm *out);
