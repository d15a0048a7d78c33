// qvevents SCRIPT_FOLDER OUTPUT.cpp: reads the seven scripts script0.txt .. script6.txt of SCRIPT_FOLDER (UTF-8;
// "#" starts a comment line, "@C", "@CG", "@CGR", "@BK" and "@END" are the markers, every other line is a text
// line), checks them against every rule, and writes the game's Shift-JIS script tables as OUTPUT.cpp. A refusal
// prints one line per fault and ends with status 1 without writing anything, which fails the build.
#include "eventscripts.h"

#include "generated_source.h"

#include <cstdio>

// A Shift-JIS line as a C++ literal: every byte that is not plain printable ASCII as a three-digit octal escape,
// which cannot swallow the character after it, so the bytes reach the game whatever the compiler's character set.
static std::string Literal(const std::string &bytes)
{
    std::string literal = "\"";
    for (unsigned char byte : bytes) {
        if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\' || byte == '?') {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            literal += escape;
        } else {
            literal += char(byte);
        }
    }
    return literal + "\"";
}

void WriteScriptTables(std::ostream &out, const std::vector<Script> &scripts)
{
    static const char *const MARKER_CONSTANTS[ENTRY_KINDS] = {nullptr,         "EventMarkerC",  "EventMarkerCG",
                                                              "EventMarkerCGR", "EventMarkerBK", "EventMarkerEND"};
    out << "// Made by qvevents from content/events: the event scripts' Shift-JIS tables.\n"
           "#include \"game/event_scripts.h\"\n\n";
    for (int kind = MARK_C; kind < ENTRY_KINDS; kind++) {
        out << "const char " << MARKER_CONSTANTS[kind] << "[] = \"" << MARKER_NAMES[kind] << "\";\n";
    }
    out << "\nconst char *const EventScript[EVENT_SCRIPT_COUNT][EVENT_SCRIPT_LENGTH] = {\n";
    for (const Script &script : scripts) {
        out << "  { // " << script.file << "\n";
        for (const Entry &entry : script.entries) {
            if (entry.kind == TEXT) {
                out << "    " << Literal(entry.shiftJis) << ", // " << script.file << " line " << entry.fileLine
                    << "\n";
            } else {
                out << "    " << MARKER_CONSTANTS[entry.kind] << ",\n";
            }
        }
        out << "  },\n";
    }
    out << "};\n";
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qvevents SCRIPT_FOLDER OUTPUT.cpp\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::vector<Script> scripts(SCRIPTS);
    std::vector<std::string> faults;
    for (int s = 0; s < SCRIPTS; s++) {
        ReadScriptFile(folder + "/script" + std::to_string(s) + ".txt", s, scripts[s], faults);
    }
    if (faults.empty()) {
        faults = CheckScripts(scripts);
    }
    return FinishGeneratedSource("qvevents", faults, argv[2],
                                 [&](std::ostream &out) { WriteScriptTables(out, scripts); });
}
