// The game's music "MUSIC" 201-209 and sound effects "SE" 300-307: drawn from the tunes and effects written in
// content/audio, written as 16-bit PCM WAVE, measured, and refused (failing the build) when a measurement misses
// what the game needs. The figures go to audio_report.txt beside the files. Build machine, single-threaded.
#include "audio.h"
#include "content.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

static const char MUSIC_TEXT[] = "content/audio/music.txt";
static const char EFFECTS_TEXT[] = "content/audio/effects.txt";
static const int MUSIC_RATE = 22050;  // half the primary rate: nine stereo loops of 10-30 s then fit in 16 MB
static const int EFFECT_RATE = 44100; // the primary buffer's own format
static const double MUSIC_BYTES_LIMIT = 16.0 * 1024 * 1024;
// A 2-second excerpt of each track must match itself better than any other track by this much.
static const double MUSIC_MATCH_MARGIN = 0.2;
static const double EFFECT_CORRELATION_LIMIT = 0.5;

std::string ReadStatements(const std::string &path, std::vector<Statement> &statements)
{
    std::ifstream file(path);
    if (!file) {
        return path + ": cannot read";
    }
    std::string text;
    for (int line = 1; std::getline(file, text); line++) {
        std::istringstream words(text.substr(0, text.find('#')));
        Statement statement{line, {}};
        for (std::string word; words >> word;) {
            statement.words.push_back(word);
        }
        if (!statement.words.empty()) {
            statements.push_back(statement);
        }
    }
    return "";
}

std::string ReadNumber(const std::string &path, const Statement &statement, size_t index, double low, double high,
                       double &value)
{
    const std::string where = path + ":" + std::to_string(statement.line) + ": ";
    if (index >= statement.words.size()) {
        return where + "\"" + statement.words[0] + "\" needs more values";
    }
    const std::string &word = statement.words[index];
    char *end = nullptr;
    value = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || *end != '\0' || !(value >= low && value <= high)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        return where + "\"" + word + "\" is not a number from " + range;
    }
    return "";
}

static std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

static std::string Failure(const char *type, int id, const std::string &check)
{
    return std::string(type) + " " + std::to_string(id) + ": " + check;
}

// A matrix's title and its columns' ids (tracks or effects).
template <class Item>
static void WriteMatrixHeading(std::ostream &report, const char *title, const std::vector<Item> &items)
{
    report << "\n" << title << "\n     ";
    for (const Item &item : items) {
        report << "  " << item.id;
    }
    report << "\n";
}

// The loops: length, beat, tune, join, then one against another. Returns the first failed check.
static std::string CheckMusic(const std::vector<MusicTrack> &tracks, const std::vector<std::vector<int16_t>> &pcm,
                              std::ostream &report)
{
    double bytes = 0;
    report << "Music (" << MUSIC_RATE << " Hz, 16-bit stereo)\n"
           << "id  role        key  mode        tempo  seconds  onsets/s  fewest pitch classes/4 s  join step  "
              "p99 step  join dB  cut at s\n";
    std::string failure;
    for (size_t t = 0; t < tracks.size(); t++) {
        const MusicTrack &track = tracks[t];
        const LoopFigures figures = MeasureLoop(pcm[t], MUSIC_RATE);
        bytes += 44 + 2.0 * pcm[t].size();
        char line[256];
        static const char *const noteNames[] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
        std::snprintf(line, sizeof line, "%d %-11s %4s  %-10s %6.1f %8.2f %9.2f %25d %10.0f %9.0f %8.2f %9.3f\n",
                      track.id, track.role.c_str(), noteNames[track.tonic % 12], track.mode.c_str(), track.tempo,
                      figures.seconds, figures.onsetsPerSecond, figures.fewestPitchClasses, figures.joinStep,
                      figures.stepPercentile99, figures.joinDecibels, static_cast<double>(track.cutFrame) / MUSIC_RATE);
        report << line;
        std::string check;
        if (figures.seconds < 10 || figures.seconds > 30) {
            check = "length " + Fixed(figures.seconds, 2) + " s is outside 10-30 s";
        } else if (figures.onsetsPerSecond < 2) {
            check = "only " + Fixed(figures.onsetsPerSecond, 2) + " note onsets a second (at least 2)";
        } else if (figures.fewestPitchClasses < 3) {
            check = "a 4-second window holds only " + std::to_string(figures.fewestPitchClasses) +
                    " pitch classes (at least 3)";
        } else if (figures.joinStep > figures.stepPercentile99) {
            check = "the loop's join steps by " + Fixed(figures.joinStep, 0) + ", above the 99th percentile " +
                    Fixed(figures.stepPercentile99, 0) + " of its steps";
        } else if (std::fabs(figures.joinDecibels) > 3) {
            check = "the last and first 50 ms differ by " + Fixed(figures.joinDecibels, 2) + " dB (at most 3)";
        }
        for (size_t other = 0; other < t && check.empty(); other++) {
            if (tracks[other].tempo == track.tempo || tracks[other].tonic % 12 == track.tonic % 12) {
                check = "shares its key or tempo with MUSIC " + std::to_string(tracks[other].id);
            }
        }
        if (failure.empty() && !check.empty()) {
            failure = Failure("MUSIC", track.id, check);
        }
    }
    report << "total " << Fixed(bytes / 1048576.0, 2) << " MB of WAVE files\n";
    if (failure.empty() && bytes > MUSIC_BYTES_LIMIT) {
        failure = "MUSIC 201-209: " + Fixed(bytes / 1048576.0, 2) + " MB together (at most 16)";
    }

    // Each track's 2-second excerpt from 1 s in, against every track, at an eighth of the rate (what a recording
    // of the playing track must be told apart by; the low band alone is the harder test).
    const int step = 8;
    std::vector<std::vector<double>> monos;
    for (const std::vector<int16_t> &samples : pcm) {
        monos.push_back(MonoDownmix(samples, step));
    }
    const size_t excerptStart = MUSIC_RATE / step, excerptLength = 2 * MUSIC_RATE / step;
    std::vector<std::vector<double>> excerpts;
    for (const std::vector<double> &mono : monos) {
        excerpts.emplace_back(mono.begin() + excerptStart, mono.begin() + excerptStart + excerptLength);
    }
    const std::vector<std::vector<double>> matches = MatchExcerpts(excerpts, monos);
    WriteMatrixHeading(report, "Best match of each track's 2-second excerpt (rows) within each loop (columns)", tracks);
    for (size_t row = 0; row < tracks.size(); row++) {
        report << tracks[row].id << " ";
        double own = 0, nextBest = -1;
        int nextId = 0;
        for (size_t column = 0; column < tracks.size(); column++) {
            const double match = matches[row][column];
            report << " " << Fixed(match, 2);
            if (column == row) {
                own = match;
            } else if (match > nextBest) {
                nextBest = match;
                nextId = tracks[column].id;
            }
        }
        report << "\n";
        if (failure.empty() && own - nextBest < MUSIC_MATCH_MARGIN) {
            failure = Failure("MUSIC", tracks[row].id,
                              "its excerpt matches MUSIC " + std::to_string(nextId) + " at " + Fixed(nextBest, 2) +
                                  ", within " + Fixed(MUSIC_MATCH_MARGIN, 1) + " of its own " + Fixed(own, 2));
        }
    }
    return failure;
}

static std::string CheckEffects(const std::vector<SoundEffect> &effects, const std::vector<std::vector<int16_t>> &pcm,
                                std::ostream &report)
{
    report << "\nSound effects (" << EFFECT_RATE << " Hz, 16-bit stereo)\n"
           << "id  name            seconds  peak dBFS in first 10 ms\n";
    std::string failure;
    std::vector<std::vector<double>> monos;
    for (size_t e = 0; e < effects.size(); e++) {
        const std::vector<int16_t> &samples = pcm[e];
        const double seconds = samples.size() / 2.0 / EFFECT_RATE;
        int peak = 0;
        for (size_t i = 0; i < samples.size() && i < 2 * EFFECT_RATE / 100; i++) {
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        }
        const double peakDecibels = 20 * std::log10(std::max(peak, 1) / 32768.0);
        char line[128];
        std::snprintf(line, sizeof line, "%d %-15s %8.3f %8.2f\n", effects[e].id, effects[e].name.c_str(), seconds,
                      peakDecibels);
        report << line;
        if (failure.empty() && (seconds < 0.05 || seconds > 1)) {
            failure = Failure("SE", effects[e].id, "length " + Fixed(seconds, 3) + " s is outside 0.05-1 s");
        }
        if (failure.empty() && peakDecibels < -12) {
            failure = Failure("SE", effects[e].id,
                              "peaks at " + Fixed(peakDecibels, 2) + " dBFS in its first 10 ms (at least -12)");
        }
        monos.push_back(MonoDownmix(samples, 1));
    }
    std::vector<std::vector<double>> correlations(effects.size(), std::vector<double>(effects.size()));
    WriteMatrixHeading(report, "Peak normalised cross-correlation between effects", effects);
    for (size_t row = 0; row < effects.size(); row++) {
        report << effects[row].id << " ";
        for (size_t column = 0; column < effects.size(); column++) {
            // The matrix is symmetric, and a sound matches itself fully.
            const double correlation = column == row  ? 1.0
                                       : column > row ? PeakCorrelation(monos[row], monos[column])
                                                      : correlations[column][row];
            correlations[row][column] = correlation;
            report << " " << Fixed(correlation, 2);
            if (failure.empty() && column > row && correlation > EFFECT_CORRELATION_LIMIT) {
                failure = Failure("SE", effects[row].id,
                                  "correlates with SE " + std::to_string(effects[column].id) + " at " +
                                      Fixed(correlation, 2) + " (at most 0.5)");
            }
        }
        report << "\n";
    }
    return failure;
}

std::string GenerateAudio(const std::string &folder)
{
    std::string failure = CheckMeasurements();
    std::vector<MusicTrack> tracks;
    std::vector<SoundEffect> effects;
    if (failure.empty()) {
        failure = MakeMusic(MUSIC_TEXT, MUSIC_RATE, tracks);
    }
    if (failure.empty()) {
        failure = MakeEffects(EFFECTS_TEXT, EFFECT_RATE, effects);
    }
    if (!failure.empty()) {
        return failure;
    }
    std::vector<std::vector<int16_t>> musicPcm, effectPcm;
    for (MusicTrack &track : tracks) {
        Normalise(track.sound, 0.89);
        std::vector<int16_t> samples = ToPcm(track.sound);
        track.cutFrame = ChooseLoopStart(samples, MUSIC_RATE);
        std::rotate(samples.begin(), samples.begin() + 2 * track.cutFrame, samples.end());
        if (!WriteWav(folder + "/" + ContentFileName("MUSIC", track.id), samples, MUSIC_RATE, 2)) {
            return Failure("MUSIC", track.id, "cannot write");
        }
        musicPcm.push_back(std::move(samples));
    }
    for (SoundEffect &effect : effects) {
        Normalise(effect.sound, 0.8);
        effectPcm.push_back(ToPcm(effect.sound));
        if (!WriteWav(folder + "/" + ContentFileName("SE", effect.id), effectPcm.back(), EFFECT_RATE, 2)) {
            return Failure("SE", effect.id, "cannot write");
        }
    }
    std::ofstream report(folder + "/audio_report.txt");
    failure = CheckMusic(tracks, musicPcm, report);
    const std::string effectFailure = CheckEffects(effects, effectPcm, report);
    if (failure.empty()) {
        failure = effectFailure;
    }
    report << (failure.empty() ? "\nall checks passed\n" : "\nFAILED: " + failure + "\n");
    return failure;
}
