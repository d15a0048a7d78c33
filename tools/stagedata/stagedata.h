// The stage validator, shared by its files: the stages as read from content/stages (object records, tile maps), the
// animation rows, the sprite cells the art's cell-role map gives each kind of object, the rules that refuse bad
// data, and the writer of the game's constant tables. Build machine only, single-threaded.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

constexpr int STAGES = 6;
constexpr int RECORD_LIMIT = 200;
constexpr int MAP_HEIGHT = 15;
constexpr int MAP_WIDTH = 40;
constexpr int SPRITE_CELLS = 280;
constexpr int SHEET_COLUMNS = 20;

// The fields of a record, in the game's order, with their widths in bits.
enum Field {
    TYPE,
    STATE,
    HOME_STATE,
    HP,
    ANIM,
    BASE_ANIM,
    FRAME,
    ANIM_TICK,
    APPEAR_TIME,
    UPDATE_TICK,
    PERIOD,
    SAVED_PERIOD,
    X,
    Y,
    W,
    H,
    SCORE_VALUE,
    CONTACT_DAMAGE,
    FIELD_COUNT
};
struct FieldInfo {
    const char *name;
    int bits;
};
extern const FieldInfo FIELDS[FIELD_COUNT];

using Record = std::array<int64_t, FIELD_COUNT>;
using TileMap = std::array<std::array<int, MAP_WIDTH>, MAP_HEIGHT>;

struct Stage {
    int bossIndex = -1; // as the file gives it
    std::vector<Record> records;
    TileMap background{};
    TileMap foreground{};
};

struct AnimationRow {
    std::array<int, 6> durations{};
    std::array<int, 5> cells{};
    bool Empty() const
    {
        return durations[0] == 0;
    }
};

// A block of sprite cells the art draws for some kinds of object: the behaviour types and row offsets showing it.
struct SpriteRole {
    int first = 0, columns = 1, rows = 1;
    bool drawn = false;
    std::vector<int> types, rowOffsets;
};

struct StageData {
    std::array<Stage, STAGES> stages;
    std::vector<AnimationRow> playerRows, objectRows;
    std::vector<SpriteRole> spriteRoles;
};

// Readers: each adds a line naming file, line and fault to `faults` for whatever it cannot read.
void ReadStageFile(const std::string &path, Stage &stage, std::vector<std::string> &faults);
void ReadAnimationFile(const std::string &path, StageData &data, std::vector<std::string> &faults);
void ReadSpriteRoles(const std::string &path, std::vector<SpriteRole> &roles, std::vector<std::string> &faults);

// The rules: one line per refusal, naming stage, record or map row, and field.
std::vector<std::string> CheckStages(const StageData &data);

// Writes the constant tables the game compiles (game/stage_tables.h declares them).
void WriteStageTables(std::ostream &out, const StageData &data);
