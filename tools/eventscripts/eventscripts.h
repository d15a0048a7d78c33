// The script validator, shared by its files: the seven event scripts as read from content/events (each entry a
// marker or a text line, kept both as written and in Shift-JIS), the rules that refuse a bad script, and the
// writer of the game's constant tables. Build machine only, single-threaded.
#pragma once

#include <ostream>
#include <string>
#include <vector>

constexpr int SCRIPTS = 7;
constexpr int SCRIPT_LENGTH = 255;
constexpr int CONTINUE_SCRIPT = 6;

enum EntryKind { TEXT, MARK_C, MARK_CG, MARK_CGR, MARK_BK, MARK_END, ENTRY_KINDS };
extern const char *const MARKER_NAMES[ENTRY_KINDS]; // null for TEXT

struct Entry {
    EntryKind kind = TEXT;
    std::string text;     // a text line as written (UTF-8)
    std::string shiftJis; // the same line in Shift-JIS
    int fileLine = 0;     // where it stands in its file
};

struct Script {
    std::string file;
    std::vector<Entry> entries; // up to and including "END", and whatever a faulty file has after it
};

// Reads one script file; adds a line naming script, entry and file line to `faults` for whatever it cannot read.
void ReadScriptFile(const std::string &path, int number, Script &script, std::vector<std::string> &faults);

// The rules: one line per refusal, naming script and entry.
std::vector<std::string> CheckScripts(const std::vector<Script> &scripts);

// Writes the constant tables the game compiles (game/event_scripts.h declares them).
void WriteScriptTables(std::ostream &out, const std::vector<Script> &scripts);
