// The synthesiser of the content generator: the instruments' oscillators and envelopes, the drum kit, echoes and
// the final scaling to 16-bit. Every note is drawn into a buffer that wraps round at its end, so a note ringing
// past the end of a loop sounds at its start and the loop joins itself. Build machine, single-threaded.
#include "audio.h"

#include <algorithm>
#include <cmath>
#include <map>

StereoSound MakeSilence(int rate, size_t frames)
{
    StereoSound sound;
    sound.rate = rate;
    sound.left.assign(frames, 0.0f);
    sound.right.assign(frames, 0.0f);
    return sound;
}

bool FindTimbre(const std::string &name, Timbre &timbre)
{
    static const std::map<std::string, Timbre> names = {
        {"square", Timbre::Square}, {"pulse", Timbre::Pulse}, {"saw", Timbre::Saw},     {"triangle", Timbre::Triangle},
        {"sine", Timbre::Sine},     {"bell", Timbre::Bell},   {"organ", Timbre::Organ}, {"strings", Timbre::Strings},
        {"brass", Timbre::Brass},   {"pluck", Timbre::Pluck}, {"noise", Timbre::Noise}};
    auto found = names.find(name);
    if (found == names.end()) {
        return false;
    }
    timbre = found->second;
    return true;
}

bool FindDrum(const std::string &name, Drum &drum)
{
    static const std::map<std::string, Drum> names = {
        {"kick", Drum::Kick}, {"snare", Drum::Snare}, {"hat", Drum::Hat},    {"openhat", Drum::OpenHat},
        {"rim", Drum::Rim},   {"tom", Drum::Tom},     {"crash", Drum::Crash}};
    auto found = names.find(name);
    if (found == names.end()) {
        return false;
    }
    drum = found->second;
    return true;
}

double NoiseSource::Next()
{
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / 8388608.0 - 1.0;
}

double MidiFrequency(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// The rounding of a naive oscillator's jumps (polynomial band-limited step), which keeps square and saw waves from
// folding their upper harmonics back into the audible band at 22,050 samples a second.
static double StepCorrection(double phase, double increment)
{
    if (phase < increment) {
        const double t = phase / increment;
        return t + t - t * t - 1.0;
    }
    if (phase > 1.0 - increment) {
        const double t = (phase - 1.0) / increment;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

static double Saw(double phase, double increment)
{
    return 2.0 * phase - 1.0 - StepCorrection(phase, increment);
}

static double Pulse(double phase, double increment, double duty)
{
    double shifted = phase + 1.0 - duty;
    shifted -= std::floor(shifted);
    return Saw(phase, increment) - Saw(shifted, increment) - (2.0 * duty - 1.0);
}

// One sample of a timbre that keeps no state beyond its phase (0 to 1); `t` is the time since the note began.
static double Oscillate(Timbre timbre, double phase, double increment, double t, NoiseSource &noise)
{
    switch (timbre) {
    case Timbre::Square:
        return Pulse(phase, increment, 0.5);
    case Timbre::Pulse:
        return Pulse(phase, increment, 0.25);
    case Timbre::Saw:
    case Timbre::Brass:
    case Timbre::Strings:
        return Saw(phase, increment);
    case Timbre::Triangle:
        return 1.0 - 4.0 * std::fabs(phase - 0.5);
    case Timbre::Sine:
        return std::sin(2 * M_PI * phase);
    case Timbre::Bell:
        return std::sin(2 * M_PI * phase + 2.5 * std::exp(-t / 0.25) * std::sin(2 * M_PI * phase * 3.5));
    case Timbre::Organ:
        return 0.6 * std::sin(2 * M_PI * phase) + 0.3 * std::sin(4 * M_PI * phase) + 0.2 * std::sin(6 * M_PI * phase) +
               0.1 * std::sin(8 * M_PI * phase);
    case Timbre::Pluck: // its string is a noise burst (AddNote keeps the string itself)
    case Timbre::Noise:
        return noise.Next();
    }
    return 0;
}

// Envelope and tone of each timbre: attack, decay (to the sustain level) and release in seconds; the low-pass
// cutoff as a multiple of the note's frequency (0: none); vibrato depth as a fraction of the frequency.
struct TimbreShape {
    double attack, decay, sustain, release, cutoff, vibrato;
};

static TimbreShape ShapeOf(Timbre timbre)
{
    switch (timbre) {
    case Timbre::Square:
        return {0.004, 0.12, 0.55, 0.06, 10, 0.004};
    case Timbre::Pulse:
        return {0.003, 0.08, 0.45, 0.05, 12, 0.003};
    case Timbre::Saw:
        return {0.004, 0.15, 0.6, 0.08, 6, 0.005};
    case Timbre::Triangle:
        return {0.01, 0.2, 0.7, 0.12, 0, 0.004};
    case Timbre::Sine:
        return {0.01, 0.3, 0.6, 0.2, 0, 0.003};
    case Timbre::Bell:
        return {0.002, 0.6, 0.0, 0.3, 0, 0.0};
    case Timbre::Organ:
        return {0.008, 0.05, 0.9, 0.06, 0, 0.0};
    case Timbre::Strings:
        return {0.09, 0.3, 0.8, 0.25, 5, 0.003};
    case Timbre::Brass:
        return {0.02, 0.2, 0.7, 0.08, 2, 0.004};
    case Timbre::Pluck:
        return {0.001, 0.0, 1.0, 0.05, 0, 0.0};
    case Timbre::Noise:
        return {0.002, 0.05, 0.3, 0.05, 0, 0.0};
    }
    return {0.01, 0.1, 0.5, 0.1, 0, 0};
}

static double Envelope(const TimbreShape &shape, double t, double gate)
{
    auto held = [&](double time) {
        if (time < shape.attack) {
            return time / shape.attack;
        }
        if (shape.decay <= 0) {
            return 1.0;
        }
        return shape.sustain + (1.0 - shape.sustain) * std::exp(-(time - shape.attack) / shape.decay);
    };
    if (t < gate) {
        return held(t);
    }
    return held(gate) * std::exp(-(t - gate) / (shape.release / 4.0));
}

// Adds sample `index` of a sound `count` samples long starting at `first`; the last 10 ms fade out, so that
// cutting a decaying tail never clicks.
struct PanGains {
    double left, right;
    explicit PanGains(double pan) // equal power
        : left(std::cos((pan + 1.0) * M_PI / 4.0)), right(std::sin((pan + 1.0) * M_PI / 4.0))
    {
    }
};

static void AddSample(StereoSound &sound, size_t first, size_t index, size_t count, double value, PanGains gains)
{
    value *= std::min(1.0, (count - index) / (0.01 * sound.rate));
    const size_t at = (first + index) % sound.left.size();
    sound.left[at] += static_cast<float>(value * gains.left);
    sound.right[at] += static_cast<float>(value * gains.right);
}

void AddNote(StereoSound &sound, Timbre timbre, double frequency, double start, double gate, double level, double pan,
             NoiseSource &noise)
{
    const TimbreShape shape = ShapeOf(timbre);
    const PanGains gains(pan);
    const double rate = sound.rate;
    const size_t first = static_cast<size_t>(std::llround(start * rate));
    const size_t count = static_cast<size_t>((gate + shape.release) * rate);
    const double cutoff = shape.cutoff > 0 ? std::min(shape.cutoff * frequency, 0.45 * rate) : 0;
    // Karplus-Strong string: a noise burst circulating in a delay line of one period, averaged on each pass.
    std::vector<double> string;
    if (timbre == Timbre::Pluck) {
        string.resize(std::max<size_t>(2, static_cast<size_t>(rate / frequency)));
        for (double &value : string) {
            value = noise.Next();
        }
    }
    double phase = 0, phases[3] = {0, 0.31, 0.67}, filtered = 0;
    for (size_t i = 0; i < count; i++) {
        const double t = i / rate;
        const double vibrato = t > 0.15 ? 1.0 + shape.vibrato * std::sin(2 * M_PI * 5.5 * t) : 1.0;
        const double increment = frequency * vibrato / rate;
        const double envelope = Envelope(shape, t, gate);
        double value = 0;
        if (timbre == Timbre::Strings) {
            for (int voice = 0; voice < 3; voice++) {
                const double detune = 1.0 + 0.006 * (voice - 1);
                value += Saw(phases[voice], increment * detune) / 3.0;
                phases[voice] += increment * detune;
                phases[voice] -= std::floor(phases[voice]);
            }
        } else if (timbre == Timbre::Pluck) {
            const size_t at = i % string.size();
            value = string[at];
            string[at] = 0.996 * 0.5 * (string[at] + string[(i + 1) % string.size()]);
        } else {
            value = Oscillate(timbre, phase, increment, t, noise);
        }
        if (cutoff > 0) {
            // The brass opens its filter with the envelope; the others keep theirs.
            const double hertz = timbre == Timbre::Brass ? cutoff * (0.4 + 2.5 * envelope) : cutoff;
            filtered += (1.0 - std::exp(-2 * M_PI * std::min(hertz, 0.45 * rate) / rate)) * (value - filtered);
            value = filtered;
        }
        AddSample(sound, first, i, count, level * envelope * value, gains);
        phase += increment;
        phase -= std::floor(phase);
    }
}

void AddDrum(StereoSound &sound, Drum drum, double start, double level, double pan, double tune, NoiseSource &noise)
{
    const double rate = sound.rate;
    const size_t first = static_cast<size_t>(std::llround(start * rate));
    const PanGains gains(pan);
    static const double lengths[] = {0.4, 0.25, 0.06, 0.3, 0.06, 0.35, 1.2};
    const size_t count = static_cast<size_t>(lengths[static_cast<int>(drum)] * rate);
    double phase = 0, low = 0, band = 0;
    for (size_t i = 0; i < count; i++) {
        const double t = i / rate;
        const double white = noise.Next();
        low += 0.35 * (white - low);
        const double high = white - low; // what the one-pole low-pass leaves out
        band += 0.5 * (high - band);
        double value = 0, frequency = 0;
        switch (drum) {
        case Drum::Kick:
            frequency = tune * (48 + 120 * std::exp(-t / 0.03));
            value = std::sin(2 * M_PI * phase) * std::exp(-t / 0.16) + (t < 0.003 ? 0.5 * white : 0);
            break;
        case Drum::Snare:
            frequency = tune * 185;
            value = 0.6 * band * std::exp(-t / 0.07) + 0.5 * std::sin(2 * M_PI * phase) * std::exp(-t / 0.04);
            break;
        case Drum::Hat:
            value = high * std::exp(-t / 0.015);
            break;
        case Drum::OpenHat:
            value = high * std::exp(-t / 0.09);
            break;
        case Drum::Rim:
            frequency = tune * 820;
            value = std::sin(2 * M_PI * phase) * std::exp(-t / 0.012) + 0.3 * band * std::exp(-t / 0.004);
            break;
        case Drum::Tom:
            frequency = tune * (95 + 60 * std::exp(-t / 0.05));
            value = std::sin(2 * M_PI * phase) * std::exp(-t / 0.15);
            break;
        case Drum::Crash:
            value = 0.7 * high * std::exp(-t / 0.4);
            break;
        }
        AddSample(sound, first, i, count, level * value, gains);
        phase += frequency / rate;
        phase -= std::floor(phase);
    }
}

void MixWithEcho(StereoSound &sound, const StereoSound &part, double delay, double feedback)
{
    const size_t frames = sound.left.size();
    const size_t shift = static_cast<size_t>(std::llround(delay * sound.rate));
    double gain = 1.0;
    // Four echoes, each crossing to the other side, so the part's echo widens it.
    for (int echo = 0; echo <= (shift > 0 ? 4 : 0); echo++, gain *= feedback) {
        const bool swap = echo % 2 == 1;
        for (size_t i = 0; i < frames; i++) {
            const size_t at = (i + echo * shift) % frames;
            sound.left[at] += static_cast<float>(gain * (swap ? part.right[i] : part.left[i]));
            sound.right[at] += static_cast<float>(gain * (swap ? part.left[i] : part.right[i]));
        }
    }
}

void Normalise(StereoSound &sound, double peak)
{
    double largest = 1e-9;
    for (size_t i = 0; i < sound.left.size(); i++) {
        largest = std::max(
            {largest, static_cast<double>(std::fabs(sound.left[i])), static_cast<double>(std::fabs(sound.right[i]))});
    }
    const double scale = peak / largest;
    for (size_t i = 0; i < sound.left.size(); i++) {
        sound.left[i] = static_cast<float>(sound.left[i] * scale);
        sound.right[i] = static_cast<float>(sound.right[i] * scale);
    }
}

std::vector<int16_t> ToPcm(const StereoSound &sound)
{
    std::vector<int16_t> samples;
    samples.reserve(sound.left.size() * 2);
    for (size_t i = 0; i < sound.left.size(); i++) {
        for (float value : {sound.left[i], sound.right[i]}) {
            samples.push_back(static_cast<int16_t>(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0))));
        }
    }
    return samples;
}

void AddSweep(StereoSound &sound, const SweepLayer &layer, NoiseSource &noise)
{
    const double rate = sound.rate;
    const PanGains gains(0);
    const size_t count = static_cast<size_t>(layer.seconds * rate);
    double phase = 0, filtered = 0;
    for (size_t i = 0; i < count; i++) {
        const double t = i / rate;
        const size_t stepIndex =
            layer.steps.empty() ? 0 : std::min(layer.steps.size() - 1, size_t(t / layer.stepSeconds));
        const double stepStart = layer.steps.empty() ? 0 : stepIndex * layer.stepSeconds;
        const double frequency = layer.from * std::pow(layer.to / layer.from, t / layer.seconds) *
                                 (layer.steps.empty() ? 1.0 : std::pow(2.0, layer.steps[stepIndex] / 12.0));
        // Each step strikes anew: a 1 ms rise, then the decay.
        const double since = t - stepStart;
        const double envelope = std::min(1.0, since / 0.001) * std::exp(-since / layer.decay);
        double value = Oscillate(layer.wave, phase, frequency / rate, t, noise);
        if (layer.wave == Timbre::Noise) {
            // Noise takes the swept frequency as its low-pass cutoff.
            filtered += (1.0 - std::exp(-2 * M_PI * std::min(frequency, 0.45 * rate) / rate)) * (value - filtered);
            value = filtered;
        }
        AddSample(sound, 0, i, count, layer.level * envelope * value, gains);
        phase += frequency / rate;
        phase -= std::floor(phase);
    }
}
