// The audio measurements of the content generator, each written plainly from its rule: note onsets, pitch classes
// in 4-second windows, the loop join, and normalised cross-correlation (by transform, which the generator checks
// against the written-out sum before it trusts it). Build machine, single-threaded.
#include "audio.h"

#include <algorithm>
#include <cmath>
#include <set>

std::vector<double> MonoDownmix(const std::vector<int16_t> &samples, int step)
{
    const size_t frames = samples.size() / 2;
    std::vector<double> mono(frames / step);
    for (size_t j = 0; j < mono.size(); j++) {
        double sum = 0;
        for (size_t i = j * step; i < (j + 1) * step; i++) {
            sum += samples[2 * i] + samples[2 * i + 1];
        }
        mono[j] = sum / (2.0 * step * 32768.0);
    }
    return mono;
}

// RMS of both channels over `count` frames from `first`, wrapping round the loop.
static double RmsOfFrames(const std::vector<int16_t> &samples, long first, size_t count)
{
    const long frames = static_cast<long>(samples.size() / 2);
    double sum = 0;
    for (size_t i = 0; i < count; i++) {
        const long frame = ((first + static_cast<long>(i)) % frames + frames) % frames;
        sum +=
            double(samples[2 * frame]) * samples[2 * frame] + double(samples[2 * frame + 1]) * samples[2 * frame + 1];
    }
    return std::sqrt(sum / (2.0 * count));
}

// The largest step from the frame before `frame` to it, of the two channels, wrapping round.
static double JoinStepAt(const std::vector<int16_t> &samples, size_t frame)
{
    const size_t frames = samples.size() / 2, before = (frame + frames - 1) % frames;
    return std::max(std::abs(samples[2 * frame] - samples[2 * before]),
                    std::abs(samples[2 * frame + 1] - samples[2 * before + 1]));
}

// The 99th percentile of the steps between neighbouring frames inside the loop, the smaller of the channels'.
static double StepPercentile99(const std::vector<int16_t> &samples)
{
    const size_t frames = samples.size() / 2;
    double smallest = 1e9;
    for (int channel = 0; channel < 2; channel++) {
        std::vector<int> steps;
        for (size_t i = 0; i + 1 < frames; i++) {
            steps.push_back(std::abs(samples[2 * (i + 1) + channel] - samples[2 * i + channel]));
        }
        const size_t at = static_cast<size_t>(0.99 * (steps.size() - 1));
        std::nth_element(steps.begin(), steps.begin() + at, steps.end());
        smallest = std::min(smallest, static_cast<double>(steps[at]));
    }
    return smallest;
}

static double EdgeDecibels(const std::vector<int16_t> &samples, long start, int rate)
{
    const size_t edge = rate / 20;
    return 20 * std::log10(std::max(RmsOfFrames(samples, start, edge), 1e-3) /
                           std::max(RmsOfFrames(samples, start - static_cast<long>(edge), edge), 1e-3));
}

size_t ChooseLoopStart(const std::vector<int16_t> &samples, int rate)
{
    const long frames = static_cast<long>(samples.size() / 2);
    const double limit = 0.5 * StepPercentile99(samples);
    long best = 0;
    double bestDecibels = 1e9;
    for (long distance = 0; distance <= rate; distance += 16) {
        for (long start : {distance, -distance}) {
            const long frame = (start + frames) % frames;
            const double decibels = std::fabs(EdgeDecibels(samples, frame, rate));
            if (JoinStepAt(samples, frame) <= limit && decibels <= 1.0) {
                return frame;
            }
            if (decibels < bestDecibels) {
                best = frame;
                bestDecibels = decibels;
            }
        }
    }
    return best;
}

// Onsets: the energy of the sample-to-sample differences (which stresses attacks) in 10 ms frames; a frame more
// than twice the mean of the 80 ms before it, above a floor of 2% of the mean, at least 50 ms after the last onset.
static int CountOnsets(const std::vector<double> &mono, int rate)
{
    const size_t hop = rate / 100, count = mono.size() / hop;
    std::vector<double> energy(count);
    double mean = 0;
    for (size_t k = 0; k < count; k++) {
        for (size_t i = k * hop; i < (k + 1) * hop; i++) {
            const double step = mono[i] - mono[(i + mono.size() - 1) % mono.size()];
            energy[k] += step * step;
        }
        mean += energy[k] / count;
    }
    int onsets = 0;
    long last = -1000;
    for (size_t k = 0; k < count; k++) {
        double before = 0;
        for (size_t back = 1; back <= 8; back++) {
            before += energy[(k + count - back) % count] / 8;
        }
        if (energy[k] > 2 * before && energy[k] > 0.02 * mean && static_cast<long>(k) - last >= 5) {
            onsets++;
            last = static_cast<long>(k);
        }
    }
    return onsets;
}

// The pitch class of the strongest semitone from A2 to A6 in a Hann-windowed frame, or -1 when it is no clear
// peak (drums, noise, silence): not 20 dB above the median of them all, or not three times each semitone a whole
// tone away (which a tone's own window leaks little into, and noise fills alike).
static int StrongestPitchClass(const std::vector<double> &mono, size_t first, size_t length, int rate)
{
    std::vector<double> frame(length);
    for (size_t i = 0; i < length; i++) {
        frame[i] = mono[(first + i) % mono.size()] * (0.5 - 0.5 * std::cos(2 * M_PI * i / length));
    }
    const int lowest = 45, highest = 93;
    std::vector<double> powers;
    for (int note = lowest; note <= highest; note++) {
        // Goertzel's recursion for the power at the note's frequency.
        const double coefficient = 2 * std::cos(2 * M_PI * MidiFrequency(note) / rate);
        double s1 = 0, s2 = 0;
        for (double value : frame) {
            const double s = value + coefficient * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        powers.push_back(s1 * s1 + s2 * s2 - coefficient * s1 * s2);
    }
    const int best = static_cast<int>(std::max_element(powers.begin(), powers.end()) - powers.begin());
    const double bestPower = powers[best];
    for (int side : {best - 2, best + 2}) {
        if (side >= 0 && side < static_cast<int>(powers.size()) && bestPower < 3 * powers[side]) {
            return -1;
        }
    }
    std::nth_element(powers.begin(), powers.begin() + powers.size() / 2, powers.end());
    return bestPower > 100 * powers[powers.size() / 2] ? (lowest + best) % 12 : -1;
}

LoopFigures MeasureLoop(const std::vector<int16_t> &samples, int rate)
{
    LoopFigures figures;
    const size_t frames = samples.size() / 2;
    const std::vector<double> mono = MonoDownmix(samples, 1);
    figures.seconds = static_cast<double>(frames) / rate;
    figures.onsetsPerSecond = CountOnsets(mono, rate) / figures.seconds;

    // Pitch frames of about 186 ms every half frame; a 4-second window, starting on each whole second and
    // wrapping round, takes the frames that start inside it and end within it.
    const size_t length = static_cast<size_t>(0.186 * rate), hop = length / 2;
    std::vector<int> classes;
    for (size_t first = 0; first < frames; first += hop) {
        classes.push_back(StrongestPitchClass(mono, first, length, rate));
    }
    figures.fewestPitchClasses = 12;
    for (size_t window = 0; window < frames; window += rate) {
        std::set<int> seen;
        for (size_t offset = 0; offset + length <= static_cast<size_t>(4 * rate); offset += hop) {
            const int pitchClass = classes[((window + offset) % frames) / hop];
            if (pitchClass >= 0) {
                seen.insert(pitchClass);
            }
        }
        figures.fewestPitchClasses = std::min(figures.fewestPitchClasses, static_cast<int>(seen.size()));
    }

    figures.joinStep = JoinStepAt(samples, 0);
    figures.stepPercentile99 = StepPercentile99(samples);
    figures.joinDecibels = EdgeDecibels(samples, 0, rate);
    return figures;
}

// A spectrum as separate real and imaginary parts (plain arrays of doubles compile to far faster loops than
// std::complex here).
struct Spectrum {
    std::vector<double> re, im;
};

// The discrete Fourier transform in place, radix 2; the inverse divides by the size.
static void Transform(Spectrum &data, bool inverse)
{
    const size_t n = data.re.size();
    for (size_t i = 1, j = 0; i < n; i++) { // bit-reversed order
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data.re[i], data.re[j]);
            std::swap(data.im[i], data.im[j]);
        }
    }
    std::vector<double> cosines(n / 2), sines(n / 2);
    for (size_t k = 0; k < n / 2; k++) {
        cosines[k] = std::cos(2 * M_PI * k / n);
        sines[k] = (inverse ? 1 : -1) * std::sin(2 * M_PI * k / n);
    }
    double *re = data.re.data(), *im = data.im.data();
    for (size_t half = 1; half < n; half <<= 1) {
        const size_t stride = n / (2 * half);
        for (size_t i = 0; i < n; i += 2 * half) {
            for (size_t k = 0; k < half; k++) {
                const double wr = cosines[k * stride], wi = sines[k * stride];
                const size_t low = i + k, high = i + k + half;
                const double oddRe = re[high] * wr - im[high] * wi, oddIm = re[high] * wi + im[high] * wr;
                re[high] = re[low] - oddRe;
                im[high] = im[low] - oddIm;
                re[low] += oddRe;
                im[low] += oddIm;
            }
        }
    }
    if (inverse) {
        for (size_t i = 0; i < n; i++) {
            re[i] /= static_cast<double>(n);
            im[i] /= static_cast<double>(n);
        }
    }
}

static size_t TransformSize(size_t length)
{
    size_t n = 1;
    while (n < length) {
        n <<= 1;
    }
    return n;
}

// The transform of `values` padded with zeros to n.
static Spectrum SpectrumOf(const std::vector<double> &values, size_t n)
{
    Spectrum spectrum{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    std::copy(values.begin(), values.end(), spectrum.re.begin());
    Transform(spectrum, false);
    return spectrum;
}

// Sums of a[i] * b[i + m] for every m modulo n (the real part), from the spectra of a and b.
static Spectrum CircularSums(const Spectrum &a, const Spectrum &b)
{
    const size_t n = a.re.size();
    Spectrum product{std::vector<double>(n), std::vector<double>(n)};
    for (size_t i = 0; i < n; i++) { // conj(a) * b
        product.re[i] = a.re[i] * b.re[i] + a.im[i] * b.im[i];
        product.im[i] = a.re[i] * b.im[i] - a.im[i] * b.re[i];
    }
    Transform(product, true);
    return product;
}

std::vector<double> CrossCorrelate(const std::vector<double> &a, const std::vector<double> &b)
{
    const size_t lags = a.size() + b.size() - 1, n = TransformSize(lags);
    const Spectrum sums = CircularSums(SpectrumOf(a, n), SpectrumOf(b, n));
    std::vector<double> result(lags);
    for (size_t index = 0; index < lags; index++) {
        const long lag = static_cast<long>(index) - static_cast<long>(a.size() - 1);
        result[index] = sums.re[(lag + static_cast<long>(n)) % static_cast<long>(n)];
    }
    return result;
}

static double Energy(const std::vector<double> &values)
{
    double sum = 0;
    for (double value : values) {
        sum += value * value;
    }
    return sum;
}

double PeakCorrelation(const std::vector<double> &a, const std::vector<double> &b)
{
    double peak = 0;
    for (double value : CrossCorrelate(a, b)) {
        peak = std::max(peak, std::fabs(value));
    }
    return peak / std::sqrt(std::max(Energy(a) * Energy(b), 1e-30));
}

std::vector<std::vector<double>> MatchExcerpts(const std::vector<std::vector<double>> &excerpts,
                                               const std::vector<std::vector<double>> &tracks)
{
    // One transform size for all, so each excerpt and each track is transformed once.
    size_t longest = 0, n = 0;
    for (const std::vector<double> &excerpt : excerpts) {
        longest = std::max(longest, excerpt.size());
    }
    for (const std::vector<double> &track : tracks) {
        n = std::max(n, TransformSize(track.size() + longest));
    }
    std::vector<Spectrum> excerptSpectra;
    for (const std::vector<double> &excerpt : excerpts) {
        excerptSpectra.push_back(SpectrumOf(excerpt, n));
    }
    std::vector<std::vector<double>> matches(excerpts.size(), std::vector<double>(tracks.size(), 0.0));
    for (size_t column = 0; column < tracks.size(); column++) {
        // The loop followed by its own start, so that stretches across the join count too.
        std::vector<double> looped(tracks[column]);
        looped.insert(looped.end(), looped.begin(), looped.begin() + std::min(looped.size(), longest));
        const Spectrum trackSpectrum = SpectrumOf(looped, n);
        std::vector<double> running(looped.size() + 1, 0.0); // energy of looped[0 .. i)
        for (size_t i = 0; i < looped.size(); i++) {
            running[i + 1] = running[i] + looped[i] * looped[i];
        }
        for (size_t row = 0; row < excerpts.size(); row++) {
            const size_t length = excerpts[row].size();
            const Spectrum sums = CircularSums(excerptSpectra[row], trackSpectrum);
            const double excerptEnergy = Energy(excerpts[row]);
            for (size_t lag = 0; lag < tracks[column].size() && lag + length <= looped.size(); lag++) {
                const double stretchEnergy = running[lag + length] - running[lag];
                if (stretchEnergy > 1e-9 * length) {
                    matches[row][column] =
                        std::max(matches[row][column], sums.re[lag] / std::sqrt(excerptEnergy * stretchEnergy));
                }
            }
        }
    }
    return matches;
}
