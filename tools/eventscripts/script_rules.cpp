// Reading the script files and the rules a script must keep. The event player trusts every script: that "END" lies
// within the table, that no page holds more lines than the window, and that turning pages never takes the picture
// outside the event's own; so whatever would break it is refused here, before the game is built, together with the
// fixed counts of each script and what makes a text line readable. Each refusal names the script and the entry.
#include "eventscripts.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>

const char *const MARKER_NAMES[ENTRY_KINDS] = {nullptr, "C", "CG", "CGR", "BK", "END"};

// Per script: entries before "END", text lines, then "C", "CG", "CGR", "BK" (indexed by EntryKind).
struct ScriptCounts {
    int entries, kinds[MARK_END];
};
static const ScriptCounts EXPECTED[SCRIPTS] = {
    {111, {80, 18, 5, 3, 5}},  {66, {48, 4, 9, 5, 0}},   {76, {54, 11, 8, 3, 0}},  {84, {52, 10, 13, 6, 3}},
    {216, {144, 18, 27, 11, 16}}, {111, {76, 5, 11, 7, 12}}, {3, {1, 0, 0, 0, 2}},
};
// The first picture of each event above the title picture, and one past the last event's.
static const int PICTURE_BASE[SCRIPTS] = {1, 5, 11, 17, 25, 42, 47};

constexpr size_t LINE_BYTES = 56;     // 28 full-width characters fill the text window's width
constexpr int PAGE_LINES = 5;         // the text window's inside holds five lines
constexpr int FULL_WIDTH_LEAST = 4;   // full-width characters a text line holds at least
constexpr size_t INTERJECTION = 6;    // characters up to which a line may repeat another
constexpr int PAGE_SCAN = 7;          // entries the player looks at for a page's marker
constexpr int LAST_PAGE = 999;

static std::string Where(int script, int entry)
{
    return "script " + std::to_string(script) + " entry " + std::to_string(entry) + ": ";
}

// Converts between two character sets with the C library's converter; false when the text has no form in `to`.
static bool Convert(const char *to, const char *from, const std::string &in, std::string &out)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == (iconv_t)-1) {
        return false;
    }
    std::string buffer(in.size() * 4 + 4, '\0');
    char *source = const_cast<char *>(in.data()), *target = buffer.data();
    size_t sourceLeft = in.size(), targetLeft = buffer.size();
    const bool converted = iconv(converter, &source, &sourceLeft, &target, &targetLeft) != (size_t)-1;
    iconv_close(converter);
    out.assign(buffer.data(), buffer.size() - targetLeft);
    return converted;
}

void ReadScriptFile(const std::string &path, int number, Script &script, std::vector<std::string> &faults)
{
    script.file = path.substr(path.find_last_of('/') + 1);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        faults.push_back(Where(number, 0) + "cannot read " + path);
        return;
    }
    std::string line;
    for (int fileLine = 1; std::getline(in, line); fileLine++) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        Entry entry;
        entry.fileLine = fileLine;
        const std::string at = Where(number, (int)script.entries.size()) + "(" + script.file + " line " +
                               std::to_string(fileLine) + ") ";
        if (line[0] == '@') {
            while (entry.kind < ENTRY_KINDS && (entry.kind == TEXT || line.substr(1) != MARKER_NAMES[entry.kind])) {
                entry.kind = EntryKind(entry.kind + 1);
            }
            if (entry.kind == ENTRY_KINDS) {
                faults.push_back(at + "\"" + line + "\" is no marker: @C, @CG, @CGR, @BK or @END");
                continue;
            }
        } else {
            std::string codePoints;
            entry.text = line;
            if (!Convert("UTF-32LE", "UTF-8", line, codePoints)) {
                faults.push_back(at + "the line is not UTF-8");
                continue;
            }
            if (!Convert("CP932", "UTF-8", line, entry.shiftJis)) {
                faults.push_back(at + "\"" + line + "\" holds a character with no Shift-JIS code");
                continue;
            }
        }
        script.entries.push_back(entry);
    }
}

static bool IsMarker(const Entry &entry)
{
    return entry.kind != TEXT;
}

// Characters of a text line: full-width ones (two bytes in Shift-JIS), all of them, and whether one is a kana or
// a kanji, which a line made only of digits, Latin letters and punctuation lacks.
struct LineMakeup {
    int fullWidth = 0;
    size_t characters = 0;
    bool kanaOrKanji = false;
};
static LineMakeup Makeup(const Entry &entry)
{
    LineMakeup makeup;
    for (size_t i = 0; i < entry.shiftJis.size(); i++) {
        const unsigned char lead = entry.shiftJis[i];
        if ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) {
            makeup.fullWidth++;
            i++;
        }
    }
    std::string codePoints;
    Convert("UTF-32LE", "UTF-8", entry.text, codePoints);
    makeup.characters = codePoints.size() / 4;
    for (size_t i = 0; i + 3 < codePoints.size(); i += 4) {
        const uint32_t c = (unsigned char)codePoints[i] | (unsigned char)codePoints[i + 1] << 8 |
                           (unsigned char)codePoints[i + 2] << 16 | (uint32_t)(unsigned char)codePoints[i + 3] << 24;
        makeup.kanaOrKanji |= (c >= 0x3041 && c <= 0x30FF) || c == 0x3005 || (c >= 0x4E00 && c <= 0x9FFF) ||
                              (c >= 0xFF66 && c <= 0xFF9F);
    }
    return makeup;
}

// The entries a page takes from `start`, worked out as the player's page drawer does: its text lines plus the
// marker that ends it, or LAST_PAGE when the page is the script's last.
static int PageLength(const std::vector<Entry> &entries, int start)
{
    int length = 0, lines = 0;
    for (int i = start; i < (int)entries.size(); i++) {
        if (entries[i].kind == MARK_END) {
            return LAST_PAGE;
        }
        if (IsMarker(entries[i])) {
            return i + 1 < (int)entries.size() && entries[i + 1].kind == MARK_END ? LAST_PAGE : length + 1;
        }
        length++;
        if (++lines == PAGE_SCAN) {
            return length;
        }
    }
    return LAST_PAGE;
}

// Pages through a script as the player does, one turn per press, and records the picture offset each page loads
// and whether a page shows it. `held`: button 3 is held from the first frame, whose turn comes while the page
// length is still 0 and so applies the first page's own closing marker.
struct Walk {
    int faultEntry = -1, faultIndex = 0;
    std::vector<bool> shown;
};
static Walk WalkPages(const std::vector<Entry> &entries, int pictures, bool held)
{
    Walk walk;
    walk.shown.assign(pictures, false);
    const bool leadingBlack = entries[0].kind == MARK_BK;
    int start = leadingBlack ? 1 : 0, index = 0, length = 0;
    if (!held) {
        walk.shown[0] = !leadingBlack;
        length = PageLength(entries, start);
    }
    while (length != LAST_PAGE) {
        start += length;
        bool black = false;
        for (int i = start; i < start + PAGE_SCAN && i < (int)entries.size(); i++) {
            if (IsMarker(entries[i])) {
                index += entries[i].kind == MARK_CG ? 1 : entries[i].kind == MARK_CGR ? -1 : 0;
                black = entries[i].kind == MARK_BK;
                if (index < 0 || index >= pictures) {
                    walk.faultEntry = i;
                    walk.faultIndex = index;
                    return walk;
                }
                break;
            }
        }
        if (!black) {
            walk.shown[index] = true;
        }
        length = PageLength(entries, start);
    }
    return walk;
}

// Counts and the place of "END"; true when the script's shape is sound enough to page through.
static bool CheckShape(int number, const Script &script, std::vector<std::string> &faults)
{
    const std::vector<Entry> &entries = script.entries;
    int end = 0;
    while (end < (int)entries.size() && entries[end].kind != MARK_END) {
        end++;
    }
    if (end >= SCRIPT_LENGTH) {
        faults.push_back(Where(number, std::min(end, SCRIPT_LENGTH - 1)) + "no END within 255 entries");
        return false;
    }
    if (end == (int)entries.size()) {
        faults.push_back(Where(number, end) + "the script has no END");
        return false;
    }
    bool sound = true;
    if (end + 1 < (int)entries.size()) {
        faults.push_back(Where(number, end + 1) + "an entry after END");
        sound = false;
    }
    const ScriptCounts &expected = EXPECTED[number];
    if (end != expected.entries) {
        faults.push_back(Where(number, end) + std::to_string(end) + " entries before END, expected " +
                         std::to_string(expected.entries));
        sound = false;
    }
    for (int kind = TEXT; kind < MARK_END; kind++) {
        int count = 0;
        for (int i = 0; i < end; i++) {
            count += entries[i].kind == kind;
        }
        if (count != expected.kinds[kind]) {
            faults.push_back(Where(number, end) + std::to_string(count) + " " +
                             (kind == TEXT ? std::string("text lines") : std::string(MARKER_NAMES[kind])) +
                             ", expected " + std::to_string(expected.kinds[kind]));
            sound = false;
        }
    }
    int lines = 0;
    for (int i = 0; i <= end; i++) {
        lines = IsMarker(entries[i]) ? 0 : lines + 1;
        if (lines > PAGE_LINES) {
            faults.push_back(Where(number, i) + "a sixth text line without a marker between");
            sound = false;
        }
    }
    if (number == CONTINUE_SCRIPT && sound &&
        (entries[0].kind != MARK_BK || entries[2].kind != MARK_BK)) {
        faults.push_back(Where(number, 0) + "the continue notice is BK, one text line, BK, END");
        sound = false;
    }
    return sound;
}

static void CheckWalks(int number, const Script &script, std::vector<std::string> &faults)
{
    const int pictures = PICTURE_BASE[number + 1] - PICTURE_BASE[number];
    for (bool held : {false, true}) {
        const Walk walk = WalkPages(script.entries, pictures, held);
        const std::string name = held ? "the walk with button 3 held" : "the single-press walk";
        if (walk.faultEntry >= 0) {
            faults.push_back(Where(number, walk.faultEntry) + name + " takes PictureIndex to " +
                             std::to_string(walk.faultIndex) + ", outside the event's pictures 0-" +
                             std::to_string(pictures - 1));
            continue;
        }
        for (int p = 0; p < pictures && !held; p++) {
            if (!walk.shown[p]) {
                faults.push_back(Where(number, (int)script.entries.size() - 1) + name + " never shows picture " +
                                 std::to_string(p) + " of 0-" + std::to_string(pictures - 1));
            }
        }
    }
}

std::vector<std::string> CheckScripts(const std::vector<Script> &scripts)
{
    std::vector<std::string> faults;
    std::map<std::string, std::string> seen; // a line's text -> where it first stands
    for (int number = 0; number < SCRIPTS; number++) {
        const std::vector<Entry> &entries = scripts[number].entries;
        for (int i = 0; i < (int)entries.size(); i++) {
            if (IsMarker(entries[i])) {
                continue;
            }
            const LineMakeup makeup = Makeup(entries[i]);
            const std::string at = Where(number, i);
            if (entries[i].shiftJis.size() > LINE_BYTES) {
                faults.push_back(at + std::to_string(entries[i].shiftJis.size()) +
                                 " bytes in Shift-JIS, at most 56");
            }
            if (makeup.fullWidth < FULL_WIDTH_LEAST) {
                faults.push_back(at + "fewer than four full-width characters");
            }
            if (!makeup.kanaOrKanji) {
                faults.push_back(at + "only digits, Latin letters and punctuation");
            }
            const auto [first, fresh] = seen.emplace(entries[i].text, at.substr(0, at.size() - 2));
            if (!fresh && makeup.characters > INTERJECTION) {
                faults.push_back(at + "the same line as " + first->second);
            }
        }
        // The continue notice is one black page, played in place of any event: no pictures to walk.
        if (CheckShape(number, scripts[number], faults) && number != CONTINUE_SCRIPT) {
            CheckWalks(number, scripts[number], faults);
        }
    }
    return faults;
}
