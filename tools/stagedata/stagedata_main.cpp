// qvstages STAGE_FOLDER CELL_ROLES OUTPUT.cpp: reads the six stage files and the animation file of STAGE_FOLDER and
// the art's cell-role map, checks them against every rule, and writes the game's constant tables as OUTPUT.cpp.
// A refusal prints one line per fault and ends with status 1 without writing anything, which fails the build.
#include "stagedata.h"

#include "generated_source.h"

#include <cstdio>

template <typename Value> static void WriteRow(std::ostream &out, const Value *values, size_t count)
{
    out << "{";
    for (size_t i = 0; i < count; i++) {
        out << (i ? ", " : "") << values[i];
    }
    out << "}";
}

static void WriteAnimationRows(std::ostream &out, const char *name, const char *count,
                               const std::vector<AnimationRow> &rows)
{
    out << "const AnimRow " << name << "[" << count << "] = {\n";
    for (const AnimationRow &row : rows) {
        out << "    {";
        WriteRow(out, row.durations.data(), row.durations.size());
        out << ", ";
        WriteRow(out, row.cells.data(), row.cells.size());
        out << "},\n";
    }
    out << "};\n";
}

static void WriteMaps(std::ostream &out, const char *name, const StageData &data, TileMap Stage::*map)
{
    out << "const int16_t " << name << "[STAGE_COUNT][MAP_ROWS][MAP_COLUMNS] = {\n";
    for (const Stage &stage : data.stages) {
        out << "  {\n";
        for (const auto &row : stage.*map) {
            out << "    ";
            WriteRow(out, row.data(), row.size());
            out << ",\n";
        }
        out << "  },\n";
    }
    out << "};\n";
}

void WriteStageTables(std::ostream &out, const StageData &data)
{
    out << "// Made by qvstages from content/stages: the stages' constant tables.\n"
           "#include \"game/stage_tables.h\"\n\n"
           "const ObjectRecord StageObjectTemplates[STAGE_COUNT][STAGE_RECORD_LIMIT] = {\n";
    for (const Stage &stage : data.stages) {
        out << "  {\n";
        for (const Record &record : stage.records) {
            out << "    ";
            WriteRow(out, record.data(), record.size());
            out << ",\n";
        }
        out << "  },\n";
    }
    out << "};\n";
    std::array<size_t, STAGES> counts;
    std::array<int, STAGES> bosses;
    for (int s = 0; s < STAGES; s++) {
        counts[s] = data.stages[s].records.size();
        bosses[s] = data.stages[s].bossIndex;
    }
    out << "const int32_t StageObjectCount[STAGE_COUNT] = ";
    WriteRow(out, counts.data(), counts.size());
    out << ";\nconst int32_t BossRecordIndex[STAGE_COUNT] = ";
    WriteRow(out, bosses.data(), bosses.size());
    out << ";\n";
    WriteMaps(out, "BackgroundMap", data, &Stage::background);
    WriteMaps(out, "ForegroundMap", data, &Stage::foreground);
    WriteAnimationRows(out, "PlayerAnimations", "PLAYER_ANIMATION_COUNT", data.playerRows);
    WriteAnimationRows(out, "ObjectAnimations", "OBJECT_ANIMATION_COUNT", data.objectRows);
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: qvstages STAGE_FOLDER CELL_ROLES OUTPUT.cpp\n");
        return 2;
    }
    const std::string folder = argv[1];
    StageData data;
    std::vector<std::string> faults;
    for (int s = 0; s < STAGES; s++) {
        ReadStageFile(folder + "/stage" + std::to_string(s) + ".txt", data.stages[s], faults);
    }
    ReadAnimationFile(folder + "/animations.txt", data, faults);
    ReadSpriteRoles(argv[2], data.spriteRoles, faults);
    if (faults.empty()) {
        faults = CheckStages(data);
    }
    return FinishGeneratedSource("qvstages", faults, argv[3], [&](std::ostream &out) { WriteStageTables(out, data); });
}
