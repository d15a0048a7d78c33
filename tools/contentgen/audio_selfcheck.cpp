// The audio checks' own checks, run before anything is measured: the correlations by transform against sums
// written out from their definitions on small random sounds, and the loop measurements on sounds whose figures are
// known by construction (a drum loop has no tune, noise has no pitch). Build machine, single-threaded.
#include "audio.h"

#include <algorithm>
#include <cmath>
#include <functional>

static std::vector<double> RandomSound(size_t length, NoiseSource &noise)
{
    std::vector<double> sound(length);
    for (double &value : sound) {
        value = noise.Next();
    }
    return sound;
}

static std::string CheckCorrelations()
{
    NoiseSource noise(7);
    const struct {
        size_t first, second;
    } sizes[] = {{37, 60}, {60, 37}, {1, 9}, {64, 64}};
    for (const auto &size : sizes) {
        const std::vector<double> a = RandomSound(size.first, noise), b = RandomSound(size.second, noise);
        const std::vector<double> fast = CrossCorrelate(a, b);
        double peak = 0, energyA = 0, energyB = 0;
        for (double value : a) {
            energyA += value * value;
        }
        for (double value : b) {
            energyB += value * value;
        }
        for (long lag = 1 - static_cast<long>(a.size()); lag < static_cast<long>(b.size()); lag++) {
            double sum = 0;
            for (long i = 0; i < static_cast<long>(a.size()); i++) {
                if (i + lag >= 0 && i + lag < static_cast<long>(b.size())) {
                    sum += a[i] * b[i + lag];
                }
            }
            peak = std::max(peak, std::fabs(sum));
            if (fast.size() != a.size() + b.size() - 1 || std::fabs(fast[lag + a.size() - 1] - sum) > 1e-9) {
                return "audio checks: the cross-correlation at lag " + std::to_string(lag) + " is wrong";
            }
        }
        if (std::fabs(PeakCorrelation(a, b) - peak / std::sqrt(energyA * energyB)) > 1e-9) {
            return "audio checks: the peak correlation is wrong";
        }
    }

    // Excerpts against looped tracks: every stretch, including those across the join, normalised by its own energy.
    std::vector<std::vector<double>> excerpts, tracks;
    for (size_t length : {20, 50, 5}) {
        excerpts.push_back(RandomSound(length, noise));
    }
    for (size_t length : {50, 73}) {
        tracks.push_back(RandomSound(length, noise));
    }
    const std::vector<std::vector<double>> matches = MatchExcerpts(excerpts, tracks);
    for (size_t row = 0; row < excerpts.size(); row++) {
        for (size_t column = 0; column < tracks.size(); column++) {
            const std::vector<double> &excerpt = excerpts[row], &track = tracks[column];
            double best = 0;
            for (size_t lag = 0; lag < track.size(); lag++) {
                double sum = 0, excerptEnergy = 0, stretchEnergy = 0;
                for (size_t i = 0; i < excerpt.size(); i++) {
                    const double value = track[(lag + i) % track.size()];
                    sum += excerpt[i] * value;
                    excerptEnergy += excerpt[i] * excerpt[i];
                    stretchEnergy += value * value;
                }
                best = std::max(best, sum / std::sqrt(excerptEnergy * stretchEnergy));
            }
            if (std::fabs(matches[row][column] - best) > 1e-9) {
                return "audio checks: the excerpt match " + std::to_string(row) + "/" + std::to_string(column) +
                       " is wrong";
            }
        }
    }
    return "";
}

// Twelve seconds of a known sound, measured: its onsets a second and its fewest pitch classes in 4 seconds.
static std::string CheckKnownLoops()
{
    const int rate = 22050;
    const struct {
        const char *name;
        std::function<void(StereoSound &, NoiseSource &)> draw;
        double onsetsPerSecond;
        int lowestClasses, highestClasses;
    } cases[] = {
        {"kick and snare at 4 a second",
         [](StereoSound &sound, NoiseSource &noise) {
             for (int hit = 0; hit < 48; hit++) {
                 AddDrum(sound, hit % 2 ? Drum::Snare : Drum::Kick, hit * 0.25, 0.8, 0, 1, noise);
             }
         },
         4, 0, 2},
        {"hats at 8 a second",
         [](StereoSound &sound, NoiseSource &noise) {
             for (int hit = 0; hit < 96; hit++) {
                 AddDrum(sound, Drum::Hat, hit * 0.125, 0.8, 0, 1, noise);
             }
         },
         8, 0, 0},
        {"C E G# at 2 a second",
         [](StereoSound &sound, NoiseSource &noise) {
             for (int note = 0; note < 24; note++) {
                 AddNote(sound, Timbre::Square, MidiFrequency(60 + note % 3 * 4), note * 0.5, 0.45, 0.5, 0, noise);
             }
         },
         2, 3, 3},
        {"one held A",
         [](StereoSound &sound, NoiseSource &noise) { AddNote(sound, Timbre::Sine, 440, 0, 11.5, 0.5, 0, noise); }, 0,
         1, 1},
    };
    for (const auto &known : cases) {
        StereoSound sound = MakeSilence(rate, 12 * rate);
        NoiseSource noise(3);
        known.draw(sound, noise);
        Normalise(sound, 0.8);
        const LoopFigures figures = MeasureLoop(ToPcm(sound), rate);
        if (std::fabs(figures.onsetsPerSecond - known.onsetsPerSecond) > 0.1 ||
            figures.fewestPitchClasses < known.lowestClasses || figures.fewestPitchClasses > known.highestClasses) {
            return std::string("audio checks: ") + known.name + " measures " + std::to_string(figures.onsetsPerSecond) +
                   " onsets a second and " + std::to_string(figures.fewestPitchClasses) + " pitch classes";
        }
    }
    return "";
}

std::string CheckMeasurements()
{
    const std::string failure = CheckCorrelations();
    return failure.empty() ? CheckKnownLoops() : failure;
}
