// The game's content generator: every picture, piece of music and sound effect the game loads is made here from
// parameters and fixed seeds, so that two runs give the same bytes. It runs on the build machine only; the
// program's resource script (content.rc) lists what it wrote. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An 8-bit RGB picture, rows top to bottom.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Writes a picture as an 8-bit RGB PNG; false on failure.
bool WritePng(const std::string &path, const RgbImage &image);

// Writes 16-bit PCM as a RIFF WAVE file (samples interleaved by channel); false on failure.
bool WriteWav(const std::string &path, const std::vector<int16_t> &samples, int rate, int channels);

// Each writes its part of the content into the folder and checks it against the floors the game needs; the result
// is empty on success, else a line naming the resource and the check it failed.
std::string GenerateArt(const std::string &folder);
std::string GenerateAudio(const std::string &folder);

// The file names inside the output folder, by resource type and id: "PNG" 102 is png_102.png, "CG" 110 cg_110.png,
// "MUSIC" 201 music_201.wav, "SE" 300 se_300.wav.
std::string ContentFileName(const char *type, int id);
