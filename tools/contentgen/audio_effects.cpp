// The game's sound effects: reads content/audio/effects.txt, where each effect "SE" 300-307 is a few layers of
// swept waves and filtered noise, and draws them. Build machine, single-threaded.
#include "audio.h"

#include <algorithm>

// "layer WAVE FROM TO SECONDS DECAY LEVEL [steps SEMITONES... STEP_SECONDS]"
static std::string ReadLayer(const std::string &path, const Statement &statement, SweepLayer &layer)
{
    const std::string where = path + ":" + std::to_string(statement.line) + ": ";
    if (statement.words.size() < 7) {
        return where + "\"layer\" takes a wave, two frequencies, a length, a decay and a level";
    }
    if (!FindTimbre(statement.words[1], layer.wave)) {
        return where + "unknown wave \"" + statement.words[1] + "\"";
    }
    double *fields[] = {&layer.from, &layer.to, &layer.seconds, &layer.decay, &layer.level};
    const double lows[] = {20, 20, 0.01, 0.001, 0}, highs[] = {20000, 20000, 1, 5, 2};
    for (size_t i = 0; i < 5; i++) {
        const std::string failure = ReadNumber(path, statement, i + 2, lows[i], highs[i], *fields[i]);
        if (!failure.empty()) {
            return failure;
        }
    }
    if (statement.words.size() == 7) {
        return "";
    }
    if (statement.words[7] != "steps" || statement.words.size() < 10) {
        return where + "after the level comes \"steps\", semitones and the seconds a step";
    }
    for (size_t i = 8; i < statement.words.size(); i++) {
        double value = 0;
        const bool last = i + 1 == statement.words.size();
        const std::string failure = ReadNumber(path, statement, i, last ? 0.005 : -48, last ? 1 : 48, value);
        if (!failure.empty()) {
            return failure;
        }
        if (last) {
            layer.stepSeconds = value;
        } else {
            layer.steps.push_back(value);
        }
    }
    return "";
}

std::string MakeEffects(const std::string &path, int rate, std::vector<SoundEffect> &effects)
{
    std::vector<Statement> statements;
    std::string failure = ReadStatements(path, statements);
    std::vector<std::vector<SweepLayer>> layers;
    for (size_t s = 0; s < statements.size() && failure.empty(); s++) {
        const Statement &statement = statements[s];
        const std::string where = path + ":" + std::to_string(statement.line) + ": ";
        double id = 0;
        if (statement.words[0] == "effect") {
            const int expected = 300 + static_cast<int>(effects.size());
            if (statement.words.size() != 3 || !(failure = ReadNumber(path, statement, 1, 300, 307, id)).empty() ||
                id != expected) {
                failure =
                    failure.empty() ? where + "expected \"effect " + std::to_string(expected) + " NAME\"" : failure;
                break;
            }
            effects.push_back({expected, statement.words[2], {}});
            layers.emplace_back();
        } else if (statement.words[0] == "layer" && !effects.empty()) {
            failure = ReadLayer(path, statement, layers.back().emplace_back());
        } else {
            failure = where + "expected \"effect\" or \"layer\"";
        }
    }
    if (failure.empty() && effects.size() != 8) {
        failure = path + ": " + std::to_string(effects.size()) + " effects where 8 (300-307) should be";
    }
    for (size_t e = 0; e < effects.size() && failure.empty(); e++) {
        double seconds = 0;
        for (const SweepLayer &layer : layers[e]) {
            seconds = std::max(seconds, layer.seconds);
        }
        if (seconds == 0) {
            return path + ": effect " + std::to_string(effects[e].id) + " has no layer";
        }
        effects[e].sound = MakeSilence(rate, static_cast<size_t>(seconds * rate));
        NoiseSource noise(static_cast<uint32_t>(effects[e].id));
        for (const SweepLayer &layer : layers[e]) {
            AddSweep(effects[e].sound, layer, noise);
        }
    }
    return failure;
}
