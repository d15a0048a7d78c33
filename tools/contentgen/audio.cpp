// The game's music "MUSIC" 201-209 and sound effects "SE" 300-307, as 16-bit PCM WAVE.
#include "content.h"

#include <cmath>

static std::vector<int16_t> MakeTone(double frequency, double seconds, int rate)
{
    std::vector<int16_t> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); i++) {
        samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * frequency * i / rate));
    }
    return samples;
}

std::string GenerateAudio(const std::string &folder)
{
    const int rate = 22050;
    for (int id = 201; id <= 209; id++) {
        if (!WriteWav(folder + "/" + ContentFileName("MUSIC", id), MakeTone(220.0 + 20 * (id - 201), 10, rate), rate,
                      1)) {
            return "MUSIC " + std::to_string(id) + ": cannot write";
        }
    }
    for (int id = 300; id <= 307; id++) {
        if (!WriteWav(folder + "/" + ContentFileName("SE", id), MakeTone(440.0 + 60 * (id - 300), 0.2, rate), rate, 1)) {
            return "SE " + std::to_string(id) + ": cannot write";
        }
    }
    return "";
}
