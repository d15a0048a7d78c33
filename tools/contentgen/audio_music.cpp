// The game's tunes: reads content/audio/music.txt (tempo, metre, key, chords, and one rhythm pattern a bar for
// each part and drum) and arranges each into a loop: bass and pads follow the chords, arpeggios walk their tones,
// and the lead's melody is built from three two-bar motifs in the order A B A C, drawn with the track's seed and
// fitted to the chord under each note. Build machine, single-threaded.
#include "audio.h"

#include <cmath>
#include <map>

// The modes' scales in semitones above the tonic.
static const std::map<std::string, std::vector<int>> MODES = {
    {"major", {0, 2, 4, 5, 7, 9, 11}},      {"minor", {0, 2, 3, 5, 7, 8, 10}},    {"dorian", {0, 2, 3, 5, 7, 9, 10}},
    {"mixolydian", {0, 2, 4, 5, 7, 9, 10}}, {"harmonic", {0, 2, 3, 5, 7, 8, 11}}, {"phrygian", {0, 1, 3, 5, 7, 8, 10}}};

enum class PartKind { Lead, Bass, Pad, Arp, Drum };

struct Part {
    PartKind kind;
    Timbre timbre = Timbre::Sine;
    Drum drum = Drum::Kick;
    double note = 0; // the tonic (or for drums, nothing) in the part's register, as a MIDI note
    double level = 0;
    double pan = 0;
    std::vector<std::string> patterns; // one a bar, taken in turn
};

struct Tune {
    MusicTrack track;
    int meter = 0; // beats a bar, four steps a beat
    int bars = 0;
    std::vector<int> chords; // scale degrees from 1, one a bar, taken in turn
    std::vector<int> scale;
    unsigned seed = 1;
    double swing = 0, drumTune = 1, echoBeats = 0, echoFeedback = 0;
    std::vector<Part> parts;
};

// A note or hit in a part's patterns: the character that starts it, its step from the loop's start, its length.
struct PatternEvent {
    char symbol;
    int step;
    int length;
};

static std::vector<PatternEvent> ReadEvents(const Part &part, int bars, int stepsPerBar)
{
    std::vector<PatternEvent> events;
    for (int bar = 0; bar < bars; bar++) {
        const std::string &pattern = part.patterns[bar % part.patterns.size()];
        for (int step = 0; step < stepsPerBar; step++) {
            const char symbol = pattern[step];
            if (symbol == '-' && !events.empty() &&
                events.back().step + events.back().length == bar * stepsPerBar + step) {
                events.back().length++;
            } else if (symbol != '.' && symbol != '-') {
                events.push_back({symbol, bar * stepsPerBar + step, 1});
            }
        }
    }
    return events;
}

// The MIDI note of scale position `position` (0 = the tonic at `tonic`, 7 = an octave up).
static double ScaleNote(const Tune &tune, double tonic, int position)
{
    const int octave = position >= 0 ? position / 7 : -((6 - position) / 7);
    return tonic + 12 * octave + tune.scale[position - 7 * octave];
}

static int ChordRoot(const Tune &tune, int step)
{
    const int bar = step / (4 * tune.meter);
    return tune.chords[bar % tune.chords.size()] - 1;
}

// A chord tone kept within the part's octave or just above it, so that chords move by small steps.
static double ChordNote(const Tune &tune, const Part &part, int position)
{
    const double note = ScaleNote(tune, part.note, position);
    return note > part.note + 9 ? note - 12 : note;
}

// The lead's melody: scale positions, one for each event. Each motif is a list of choices drawn once: on a beat a
// chord tone (root, third, fifth or octave), between beats a step from the note before; so a motif played again
// over other chords keeps its shape and still fits.
static std::vector<int> ComposeMelody(const Tune &tune, const std::vector<PatternEvent> &events, unsigned partSeed)
{
    NoiseSource random(tune.seed * 7919 + partSeed);
    std::vector<std::vector<int>> motifs(3, std::vector<int>(64));
    for (std::vector<int> &motif : motifs) {
        for (int &choice : motif) {
            choice = static_cast<int>((random.Next() + 1) * 8); // 0-15
        }
    }
    static const int chordTones[] = {0, 2, 4, 7, 0, 2, 4, 4};
    static const int steps[] = {-1, 1, -1, 1, -2, 2, 1, -1};
    static const char plan[] = {0, 1, 0, 2};
    const int stepsPerGroup = 8 * tune.meter; // two bars
    std::vector<int> melody;
    int position = 2, group = -1, indexInGroup = 0;
    for (size_t e = 0; e < events.size(); e++) {
        const PatternEvent &event = events[e];
        if (event.step / stepsPerGroup != group) {
            group = event.step / stepsPerGroup;
            indexInGroup = 0;
        }
        const int motif = plan[group % 4];
        const int choice = motifs[motif][indexInGroup++ % 64];
        const int root = ChordRoot(tune, event.step);
        const bool lastOfGroup = e + 1 == events.size() || events[e + 1].step / stepsPerGroup != group;
        int target;
        if (event.step % 4 == 0 || (motif == 2 && lastOfGroup)) {
            // A chord tone in the octave nearest the note before; the closing motif ends on the chord's root.
            const int tone = root + (motif == 2 && lastOfGroup ? 0 : chordTones[choice % 8]);
            target = tone + 7 * static_cast<int>(std::lround((position - tone) / 7.0));
            if (target == position && !(motif == 2 && lastOfGroup)) {
                // A tune that keeps striking one note stops moving: take the chord's next tone instead.
                target += choice % 2 ? 2 : -2;
            }
        } else {
            target = position + steps[choice % 8];
        }
        if (target < -3 || target > 9) {
            target = 2 * position - target;
        }
        position = std::max(-3, std::min(9, target));
        melody.push_back(position);
    }
    return melody;
}

static double StepTime(const Tune &tune, int step)
{
    const double stepSeconds = 15.0 / tune.track.tempo;
    // Swing delays the second half of every beat.
    return (step + (step % 4 >= 2 ? tune.swing : 0.0)) * stepSeconds;
}

static void ArrangePart(const Tune &tune, const Part &part, unsigned partSeed, StereoSound &sound)
{
    const int stepsPerBar = 4 * tune.meter;
    const double stepSeconds = 15.0 / tune.track.tempo;
    const std::vector<PatternEvent> events = ReadEvents(part, tune.bars, stepsPerBar);
    NoiseSource noise(tune.seed * 104729 + partSeed);
    const std::vector<int> melody =
        part.kind == PartKind::Lead ? ComposeMelody(tune, events, partSeed) : std::vector<int>();
    static const int arpTones[] = {0, 2, 4, 7, 4, 2};
    int arpIndex = 0;
    for (size_t e = 0; e < events.size(); e++) {
        const PatternEvent &event = events[e];
        const double start = StepTime(tune, event.step), gate = event.length * stepSeconds;
        // A little life: the downbeat leads, off-beat notes are softer, each note varies by a few per cent.
        const double accent = (event.step % stepsPerBar == 0 ? 1.1
                               : event.step % 4 == 0         ? 1.0
                                                             : 0.85) *
                              (1.0 + 0.06 * noise.Next());
        const double level = part.level * accent;
        const int root = ChordRoot(tune, event.step);
        switch (part.kind) {
        case PartKind::Drum:
            AddDrum(sound, part.drum, start, level * (event.symbol == 'X' ? 1.3 : 1.0), part.pan, tune.drumTune, noise);
            break;
        case PartKind::Lead:
            AddNote(sound, part.timbre, MidiFrequency(ScaleNote(tune, part.note, melody[e])), start, 0.9 * gate, level,
                    part.pan, noise);
            break;
        case PartKind::Bass:
            AddNote(sound, part.timbre, MidiFrequency(ScaleNote(tune, part.note, root + (event.symbol - '1'))), start,
                    0.8 * gate, level, part.pan, noise);
            break;
        case PartKind::Pad:
            for (int tone = 0; tone < 3; tone++) {
                // The three tones spread a little across the field.
                AddNote(sound, part.timbre, MidiFrequency(ChordNote(tune, part, root + 2 * tone)), start, 0.95 * gate,
                        level / 2, part.pan + 0.3 * (tone - 1), noise);
            }
            break;
        case PartKind::Arp:
            if (event.step % stepsPerBar == 0) {
                arpIndex = 0;
            }
            AddNote(sound, part.timbre, MidiFrequency(ChordNote(tune, part, root + arpTones[arpIndex++ % 6])), start,
                    0.7 * gate, level, part.pan, noise);
            break;
        }
    }
}

static StereoSound DrawTune(const Tune &tune, int rate)
{
    const double seconds = tune.bars * tune.meter * 60.0 / tune.track.tempo;
    StereoSound sound = MakeSilence(rate, static_cast<size_t>(std::llround(seconds * rate)));
    for (size_t p = 0; p < tune.parts.size(); p++) {
        const Part &part = tune.parts[p];
        if (part.kind == PartKind::Lead && tune.echoBeats > 0) {
            StereoSound lead = MakeSilence(rate, sound.left.size());
            ArrangePart(tune, part, static_cast<unsigned>(p), lead);
            MixWithEcho(sound, lead, tune.echoBeats * 60.0 / tune.track.tempo, tune.echoFeedback);
        } else {
            ArrangePart(tune, part, static_cast<unsigned>(p), sound);
        }
    }
    return sound;
}

// Reads one part's statement: "lead|bass|pad|arp TIMBRE NOTE LEVEL PAN PATTERN..." or "drum NAME LEVEL PAN
// PATTERN...".
static std::string ReadPart(const std::string &path, const Statement &statement, const Tune &tune, Part &part)
{
    static const std::map<std::string, PartKind> kinds = {{"lead", PartKind::Lead},
                                                          {"bass", PartKind::Bass},
                                                          {"pad", PartKind::Pad},
                                                          {"arp", PartKind::Arp},
                                                          {"drum", PartKind::Drum}};
    const std::string where = path + ":" + std::to_string(statement.line) + ": ";
    part.kind = kinds.at(statement.words[0]);
    const bool drum = part.kind == PartKind::Drum;
    if (statement.words.size() < (drum ? 5u : 6u)) {
        return where + "\"" + statement.words[0] + "\" needs more values";
    }
    if (drum ? !FindDrum(statement.words[1], part.drum) : !FindTimbre(statement.words[1], part.timbre)) {
        return where + "unknown " + (drum ? "drum" : "timbre") + " \"" + statement.words[1] + "\"";
    }
    size_t index = 2;
    std::string failure;
    if (!drum) {
        failure = ReadNumber(path, statement, index++, 24, 100, part.note);
    }
    if (failure.empty()) {
        failure = ReadNumber(path, statement, index++, 0, 2, part.level);
    }
    if (failure.empty()) {
        failure = ReadNumber(path, statement, index++, -1, 1, part.pan);
    }
    if (!failure.empty()) {
        return failure;
    }
    if (tune.meter == 0) {
        return where + "\"meter\" must come before the parts";
    }
    const std::string symbols = part.kind == PartKind::Bass ? "12345678-." : drum ? "xX." : "x-.";
    for (; index < statement.words.size(); index++) {
        const std::string &pattern = statement.words[index];
        if (pattern.size() != static_cast<size_t>(4 * tune.meter) ||
            pattern.find_first_not_of(symbols) != std::string::npos) {
            return where + "pattern \"" + pattern + "\" is not " + std::to_string(4 * tune.meter) + " of \"" + symbols +
                   "\"";
        }
        part.patterns.push_back(pattern);
    }
    return "";
}

static std::string FinishTune(const std::string &path, Tune &tune, int expectedId)
{
    const std::string where = path + ": track " + std::to_string(tune.track.id) + ": ";
    if (tune.track.id != expectedId) {
        return path + ": track " + std::to_string(tune.track.id) + " where " + std::to_string(expectedId) +
               " should come";
    }
    if (tune.track.tempo == 0 || tune.bars == 0 || tune.scale.empty() || tune.chords.empty() || tune.parts.empty()) {
        return where + "needs tempo, meter, key, bars, chords and parts";
    }
    for (int chord : tune.chords) {
        if (chord < 1 || chord > 7) {
            return where + "chord degree " + std::to_string(chord) + " is outside 1-7";
        }
    }
    return "";
}

std::string MakeMusic(const std::string &path, int rate, std::vector<MusicTrack> &tracks)
{
    std::vector<Statement> statements;
    std::string failure = ReadStatements(path, statements);
    std::vector<Tune> tunes;
    for (const Statement &statement : statements) {
        if (!failure.empty()) {
            break;
        }
        const std::string &word = statement.words[0];
        const std::string where = path + ":" + std::to_string(statement.line) + ": ";
        double value = 0;
        if (word == "track") {
            if (!tunes.empty()) {
                failure = FinishTune(path, tunes.back(), 200 + static_cast<int>(tunes.size()));
            }
            tunes.emplace_back();
            if (failure.empty() && statement.words.size() != 3) {
                failure = where + "\"track\" takes an id and a role";
            }
            if (failure.empty() && (failure = ReadNumber(path, statement, 1, 201, 209, value)).empty()) {
                tunes.back().track.id = static_cast<int>(value);
                tunes.back().track.role = statement.words[2];
            }
            continue;
        }
        if (tunes.empty()) {
            failure = where + "\"" + word + "\" before the first \"track\"";
            continue;
        }
        Tune &tune = tunes.back();
        if (word == "tempo") {
            failure = ReadNumber(path, statement, 1, 40, 240, tune.track.tempo);
        } else if (word == "meter" && (failure = ReadNumber(path, statement, 1, 2, 7, value)).empty()) {
            tune.meter = static_cast<int>(value);
        } else if (word == "bars" && (failure = ReadNumber(path, statement, 1, 1, 64, value)).empty()) {
            tune.bars = static_cast<int>(value);
        } else if (word == "seed" && (failure = ReadNumber(path, statement, 1, 0, 1e9, value)).empty()) {
            tune.seed = static_cast<unsigned>(value);
        } else if (word == "swing") {
            failure = ReadNumber(path, statement, 1, 0, 0.9, tune.swing);
        } else if (word == "drumtune") {
            failure = ReadNumber(path, statement, 1, 0.25, 4, tune.drumTune);
        } else if (word == "echo" && (failure = ReadNumber(path, statement, 1, 0, 4, tune.echoBeats)).empty()) {
            failure = ReadNumber(path, statement, 2, 0, 0.9, tune.echoFeedback);
        } else if (word == "key") {
            if ((failure = ReadNumber(path, statement, 1, 24, 100, value)).empty()) {
                tune.track.tonic = static_cast<int>(value);
                auto mode = statement.words.size() == 3 ? MODES.find(statement.words[2]) : MODES.end();
                if (mode == MODES.end()) {
                    failure = where + "\"key\" takes a tonic and a mode (major, minor, dorian, ...)";
                } else {
                    tune.track.mode = mode->first;
                    tune.scale = mode->second;
                }
            }
        } else if (word == "chords") {
            for (size_t i = 1; i < statement.words.size() && failure.empty(); i++) {
                failure = ReadNumber(path, statement, i, 1, 7, value);
                tune.chords.push_back(static_cast<int>(value));
            }
        } else if (word == "lead" || word == "bass" || word == "pad" || word == "arp" || word == "drum") {
            tune.parts.emplace_back();
            failure = ReadPart(path, statement, tune, tune.parts.back());
        } else if (failure.empty()) {
            failure = where + "unknown word \"" + word + "\"";
        }
    }
    if (failure.empty() && tunes.size() != 9) {
        failure = path + ": " + std::to_string(tunes.size()) + " tracks where 9 (201-209) should be";
    }
    if (failure.empty()) {
        failure = FinishTune(path, tunes.back(), 209);
    }
    for (size_t t = 0; t < tunes.size() && failure.empty(); t++) {
        tracks.push_back(tunes[t].track);
        tracks.back().sound = DrawTune(tunes[t], rate);
    }
    return failure;
}
