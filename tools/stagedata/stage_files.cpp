// Readers of the stage validator's inputs: a stage file (its boss line, one line of named fields per object
// record, and the two tile maps as numbered rows of cell numbers), the animation file (the player's and the
// objects' rows) and the sprite half of the art's cell-role map (through the content generator's own reader).
// They check the shape of what they read (every field once, every value within its field's width, every row
// complete); what the values mean is the rules' job.
#include "stagedata.h"

#include "art.h"

#include <fstream>
#include <sstream>

const FieldInfo FIELDS[FIELD_COUNT] = {
    {"type", 8},  {"state", 8},     {"homeState", 8},   {"hp", 16},         {"anim", 16},       {"baseAnim", 16},
    {"frame", 8}, {"animTick", 32}, {"appearTime", 32}, {"updateTick", 32}, {"period", 32},     {"savedPeriod", 32},
    {"x", 32},    {"y", 32},        {"w", 32},          {"h", 32},          {"scoreValue", 32}, {"contactDamage", 8},
};

static bool FitsBits(int64_t value, int bits)
{
    const int64_t limit = int64_t(1) << (bits - 1);
    return value >= -limit && value < limit;
}

// Reads words [from, to) as numbers of at most `bits` signed bits into `values`; false if any is not one.
static bool ParseNumbers(const std::vector<std::string> &words, size_t from, size_t to, int bits,
                         std::vector<int> &values)
{
    for (size_t i = from; i < to; i++) {
        int value = 0;
        if (!ParseInt(words[i], value) || !FitsBits(value, bits)) {
            return false;
        }
        values.push_back(value);
    }
    return true;
}

// One line of a text file with its place, for the readers' fault lines.
struct Line {
    std::vector<std::string> words;
    std::string where;
};

static bool ReadLines(const std::string &path, std::vector<Line> &lines, std::vector<std::string> &faults)
{
    std::ifstream file(path);
    if (!file) {
        faults.push_back(path + ": cannot read");
        return false;
    }
    std::string text;
    for (int number = 1; std::getline(file, text); number++) {
        Line line{Words(text), path + " line " + std::to_string(number) + ": "};
        if (!line.words.empty()) {
            lines.push_back(line);
        }
    }
    return true;
}

static void ReadRecord(const Line &line, Stage &stage, std::vector<std::string> &faults)
{
    int index = -1;
    if (!ParseInt(line.words[0], index) || index != static_cast<int>(stage.records.size()) || index >= RECORD_LIMIT) {
        faults.push_back(line.where + "expected record " + std::to_string(stage.records.size()) + " (at most " +
                         std::to_string(RECORD_LIMIT) + " records)");
        return;
    }
    Record record{};
    std::array<bool, FIELD_COUNT> seen{};
    for (size_t i = 1; i < line.words.size(); i++) {
        const std::string &word = line.words[i];
        const size_t equals = word.find('=');
        int field = 0;
        while (field < FIELD_COUNT && word.compare(0, equals, FIELDS[field].name) != 0) {
            field++;
        }
        if (equals == std::string::npos || field == FIELD_COUNT || seen[field]) {
            faults.push_back(line.where + "\"" + word + "\" is no field of a record, or a field given twice");
            return;
        }
        int value = 0;
        if (!ParseInt(word.substr(equals + 1), value) || !FitsBits(value, FIELDS[field].bits)) {
            faults.push_back(line.where + "field " + FIELDS[field].name + " needs a number that fits " +
                             std::to_string(FIELDS[field].bits) + " signed bits");
            return;
        }
        record[field] = value;
        seen[field] = true;
    }
    for (int field = 0; field < FIELD_COUNT; field++) {
        if (!seen[field]) {
            faults.push_back(line.where + "field " + FIELDS[field].name + " is missing");
            return;
        }
    }
    stage.records.push_back(record);
}

static void ReadMapRow(const Line &line, TileMap &map, int &rowsRead, std::vector<std::string> &faults)
{
    std::vector<int> values;
    if (!ParseNumbers(line.words, 0, line.words.size(), 16, values) || values.size() != MAP_WIDTH + 1 ||
        values[0] != rowsRead || rowsRead >= MAP_HEIGHT) {
        faults.push_back(line.where + "expected map row " + std::to_string(rowsRead) + " and " +
                         std::to_string(MAP_WIDTH) + " cell numbers of 16 bits (" + std::to_string(MAP_HEIGHT) +
                         " rows)");
        return;
    }
    for (int column = 0; column < MAP_WIDTH; column++) {
        map[rowsRead][column] = values[column + 1];
    }
    rowsRead++;
}

void ReadStageFile(const std::string &path, Stage &stage, std::vector<std::string> &faults)
{
    std::vector<Line> lines;
    if (!ReadLines(path, lines, faults)) {
        return;
    }
    std::string section;
    int backgroundRows = 0, foregroundRows = 0;
    for (const Line &line : lines) {
        const std::string &first = line.words[0];
        int boss = 0;
        if (first == "records" || first == "background" || first == "foreground") {
            section = first;
        } else if (first == "boss" && line.words.size() == 2 && ParseInt(line.words[1], boss)) {
            stage.bossIndex = static_cast<int>(boss);
        } else if (section == "records") {
            ReadRecord(line, stage, faults);
        } else if (section == "background") {
            ReadMapRow(line, stage.background, backgroundRows, faults);
        } else if (section == "foreground") {
            ReadMapRow(line, stage.foreground, foregroundRows, faults);
        } else {
            faults.push_back(line.where + "expected \"boss N\" or a section: records, background, foreground");
        }
    }
    if (backgroundRows != MAP_HEIGHT || foregroundRows != MAP_HEIGHT) {
        faults.push_back(path + ": each map needs " + std::to_string(MAP_HEIGHT) + " rows");
    }
}

// An animation row: "N durations D... cells C..." (up to six durations and five cells, the rest 0) or "N empty".
static void ReadAnimationRow(const Line &line, std::vector<AnimationRow> &rows, std::vector<std::string> &faults)
{
    const std::vector<std::string> &words = line.words;
    AnimationRow row;
    int index = -1;
    size_t cellsAt = 0;
    while (cellsAt < words.size() && words[cellsAt] != "cells") {
        cellsAt++;
    }
    std::vector<int> durations, cells;
    const bool empty = words.size() == 2 && words[1] == "empty";
    const bool listed = words.size() >= 2 && words[1] == "durations" && cellsAt < words.size() &&
                        ParseNumbers(words, 2, cellsAt, 32, durations) && durations.size() <= row.durations.size() &&
                        ParseNumbers(words, cellsAt + 1, words.size(), 32, cells) && cells.size() <= row.cells.size();
    if (!ParseInt(words[0], index) || index != static_cast<int>(rows.size()) || !(empty || listed)) {
        faults.push_back(line.where + "expected \"" + std::to_string(rows.size()) +
                         " durations D... cells C...\" (at most 6 and 5) or \"" + std::to_string(rows.size()) +
                         " empty\"");
        return;
    }
    for (size_t i = 0; i < durations.size(); i++) {
        row.durations[i] = durations[i];
    }
    for (size_t i = 0; i < cells.size(); i++) {
        row.cells[i] = cells[i];
    }
    rows.push_back(row);
}

void ReadAnimationFile(const std::string &path, StageData &data, std::vector<std::string> &faults)
{
    std::vector<Line> lines;
    if (!ReadLines(path, lines, faults)) {
        return;
    }
    std::vector<AnimationRow> *rows = nullptr;
    for (const Line &line : lines) {
        if (line.words[0] == "player" || line.words[0] == "objects") {
            rows = line.words[0] == "player" ? &data.playerRows : &data.objectRows;
        } else if (rows) {
            ReadAnimationRow(line, *rows, faults);
        } else {
            faults.push_back(line.where + "expected a section: player or objects");
        }
    }
}

// A list of numbers and ranges such as "0-5" or "0,3" or "12,13,18".
static bool ParseList(const std::string &text, std::vector<int> &values)
{
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        const size_t dash = item.find('-', 1);
        int low = 0, high = 0;
        if (!ParseInt(item.substr(0, dash), low) ||
            !ParseInt(dash == std::string::npos ? item : item.substr(dash + 1), high) || high < low) {
            return false;
        }
        for (int value = low; value <= high; value++) {
            values.push_back(value);
        }
    }
    return !values.empty();
}

// The sprite sheet's blocks, as the content generator reads the role map, with the kinds and rows that show each.
void ReadSpriteRoles(const std::string &path, std::vector<SpriteRole> &roles, std::vector<std::string> &faults)
{
    std::vector<CellRole> cellRoles;
    const std::string failure = ReadCellRoles(path, cellRoles);
    if (!failure.empty()) {
        faults.push_back(failure);
        return;
    }
    for (const CellRole &cellRole : cellRoles) {
        if (cellRole.sheet != 102) {
            continue;
        }
        SpriteRole role{cellRole.first, cellRole.columns, cellRole.rows, cellRole.role != "unused", {}, {}};
        const auto types = cellRole.attributes.find("type"), rows = cellRole.attributes.find("rows");
        if ((types != cellRole.attributes.end() && !ParseList(types->second, role.types)) ||
            (rows != cellRole.attributes.end() && !ParseList(rows->second, role.rowOffsets))) {
            faults.push_back(path + " line " + std::to_string(cellRole.line) +
                             ": type= and rows= take lists such as 0-5 or 0,3");
            continue;
        }
        roles.push_back(role);
    }
}
