// The audio half of the content generator, shared by its files: the synthesiser (instruments and drums drawn into
// a buffer that wraps round at its end, so a loop joins itself), the readers of the tunes and effects written as
// text under content/audio, and the measurements that check what was made. Build machine, single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Float samples in [-1, 1] by channel. Everything drawn into it past its end wraps round to its start.
struct StereoSound {
    int rate = 0;
    std::vector<float> left;
    std::vector<float> right;
};

StereoSound MakeSilence(int rate, size_t frames);

enum class Timbre { Square, Pulse, Saw, Triangle, Sine, Bell, Organ, Strings, Brass, Pluck, Noise };
enum class Drum { Kick, Snare, Hat, OpenHat, Rim, Tom, Crash };

// Name lookups for the text files; false for an unknown name.
bool FindTimbre(const std::string &name, Timbre &timbre);
bool FindDrum(const std::string &name, Drum &drum);

// The fixed-seed noise source of every random choice and noise sample.
struct NoiseSource {
    uint32_t state;
    explicit NoiseSource(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u)
    {
    }
    double Next(); // uniform in [-1, 1)
};

// Draws one note: `gate` seconds held, then the timbre's release; pan -1 (left) to 1 (right).
void AddNote(StereoSound &sound, Timbre timbre, double frequency, double start, double gate, double level, double pan,
             NoiseSource &noise);
// Draws one drum hit; `tune` scales its pitches.
void AddDrum(StereoSound &sound, Drum drum, double start, double level, double pan, double tune, NoiseSource &noise);
// One layer of a sound effect: a wave swept exponentially from one frequency to another, struck at its start and
// decaying; given steps (semitones), the frequency moves through them, striking anew every `stepSeconds`.
struct SweepLayer {
    Timbre wave = Timbre::Sine;
    double from = 0, to = 0, seconds = 0, decay = 0, level = 0;
    std::vector<double> steps;
    double stepSeconds = 0;
};
void AddSweep(StereoSound &sound, const SweepLayer &layer, NoiseSource &noise);
// Adds `part` to `sound` with echoes `delay` seconds apart, each `feedback` times the one before (wrapping round).
void MixWithEcho(StereoSound &sound, const StereoSound &part, double delay, double feedback);
// Scales so that the largest sample has magnitude `peak`.
void Normalise(StereoSound &sound, double peak);
// Interleaved 16-bit samples, rounded.
std::vector<int16_t> ToPcm(const StereoSound &sound);

double MidiFrequency(double note);

// Statements of the text files: one a line, words split on blanks, "#" to the line's end a comment.
struct Statement {
    int line;
    std::vector<std::string> words;
};
// Reads the statements of a file; the result is empty on success, else the failure line.
std::string ReadStatements(const std::string &path, std::vector<Statement> &statements);
// Reads words[index] as a number within [low, high]; an empty result on success, else "PATH:LINE: ..." saying why.
std::string ReadNumber(const std::string &path, const Statement &statement, size_t index, double low, double high,
                       double &value);

struct MusicTrack {
    int id = 0;
    std::string role;
    double tempo = 0; // beats a minute
    int tonic = 0;    // the key's tonic as a MIDI note number
    std::string mode;
    StereoSound sound;
    size_t cutFrame = 0; // where the drawn loop was cut to make the file's start
};
// Reads content/audio/music.txt and draws each tune; the result is empty on success, else the failure line.
std::string MakeMusic(const std::string &path, int rate, std::vector<MusicTrack> &tracks);

struct SoundEffect {
    int id = 0;
    std::string name;
    StereoSound sound;
};
// Reads content/audio/effects.txt and draws each effect.
std::string MakeEffects(const std::string &path, int rate, std::vector<SoundEffect> &effects);

// Measurements on interleaved 16-bit samples, written plainly from their rules.
struct LoopFigures {
    double seconds = 0;
    double onsetsPerSecond = 0;
    int fewestPitchClasses = 0;  // over 4-second windows from each whole second, wrapping round the loop
    double joinStep = 0;         // |first - last| sample, the larger of the two channels'
    double stepPercentile99 = 0; // of the steps |next - this| inside the loop, the smaller of the channels'
    double joinDecibels = 0;     // RMS of the first 50 ms over that of the last 50 ms
};
// Measures a stereo loop (interleaved samples).
LoopFigures MeasureLoop(const std::vector<int16_t> &samples, int rate);
// The frame, within a second either side of the start, at which the drawn loop is best cut: the one nearest the
// start whose join steps by at most half the 99th percentile step and whose edges' RMS levels are within 1 dB, or
// failing that the one with the closest levels.
size_t ChooseLoopStart(const std::vector<int16_t> &samples, int rate);

// The sum of a[i] * b[i + lag] for every lag from -(a.size() - 1) to b.size() - 1, at index lag + a.size() - 1.
std::vector<double> CrossCorrelate(const std::vector<double> &a, const std::vector<double> &b);
// The largest magnitude of two sounds' cross-correlation over every lag, over the square root of the product of
// their energies.
double PeakCorrelation(const std::vector<double> &a, const std::vector<double> &b);
// For each excerpt (row) and looped track (column), the largest correlation of the excerpt with any stretch of the
// track of its length, over the square root of the product of their energies.
std::vector<std::vector<double>> MatchExcerpts(const std::vector<std::vector<double>> &excerpts,
                                               const std::vector<std::vector<double>> &tracks);
// Checks the measurements above against sums written out from their definitions and on sounds of known figures;
// the result is empty on success, else the failure line.
std::string CheckMeasurements();
// The stereo channels' mean as doubles in [-1, 1], each run of `step` frames averaged into one.
std::vector<double> MonoDownmix(const std::vector<int16_t> &samples, int step);
