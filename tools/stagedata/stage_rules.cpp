// The rules the stage data must keep. The object code finds owners and children by position alone and trusts every
// range it reads, so whatever would break it is refused here, before the game is built: counts, composition and
// bosses of each stage, the owner-and-children layout, the starting values of every record, the sprite cells each
// kind can show (checked against the art's cell-role map), and the tile maps. Each refusal names the stage, the
// record or map row, and the field.
#include "stagedata.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <tuple>

static const int EXPECTED_COUNT[STAGES] = {147, 145, 152, 172, 158, 64};
static const int BOSS_INDEX[STAGES] = {144, 141, 148, 170, 155, 59};
static const int BOSS_TYPE[STAGES] = {9, 10, 11, 12, 14, 15};
static const int BOSS_TIME[STAGES] = {120, 120, 125, 135, 120, 125};
static const bool TIMES_ASCEND[STAGES] = {true, true, true, false, true, false};
constexpr int LAST_TIME = 135;
constexpr int GONE = 127;

struct TypeCount {
    int type, count;
};
static const std::vector<TypeCount> COMPOSITION[STAGES] = {
    {{0, 136}, {1, 8}, {8, 2}, {9, 1}},
    {{2, 93}, {0, 20}, {3, 11}, {8, 10}, {1, 8}, {7, 1}, {10, 1}, {19, 1}},
    {{5, 61}, {0, 38}, {8, 20}, {4, 18}, {2, 10}, {1, 3}, {11, 1}, {17, 1}},
    {{6, 74}, {2, 40}, {0, 30}, {5, 16}, {3, 10}, {12, 1}, {13, 1}},
    {{18, 97}, {0, 42}, {4, 10}, {6, 8}, {14, 1}},
    {{0, 19},
     {5, 16},
     {8, 9},
     {9, 3},
     {11, 3},
     {17, 3},
     {12, 2},
     {13, 2},
     {14, 2},
     {7, 1},
     {10, 1},
     {15, 1},
     {16, 1},
     {19, 1}},
};

// The last stage replays the earlier boss kinds with few hit points before its own boss, and ends in a blank record.
struct MidBoss {
    int index, type;
};
static const MidBoss MID_BOSSES[] = {{24, 9},  {27, 9},  {30, 9},  {33, 10}, {37, 11}, {41, 11},
                                     {45, 11}, {49, 12}, {51, 12}, {53, 14}, {56, 14}};
constexpr int MID_BOSS_STAGE = 5, MID_BOSS_HP = 5, BLANK_RECORD = 63;

// The rows given for the first record of each stage and each boss with its records: stage, index, then type,
// state, homeState, hp, baseAnim, appearTime, period, x, y, w, h, scoreValue, contactDamage.
static const Field GIVEN_FIELDS[] = {TYPE, STATE, HOME_STATE, HP, BASE_ANIM,   APPEAR_TIME,   PERIOD,
                                     X,    Y,     W,          H,  SCORE_VALUE, CONTACT_DAMAGE};
static const int GIVEN_RECORDS[][15] = {
    {0, 0, 0, 13, 13, 1, 0, 1, 1, 640, 320, 32, 32, 100, 2},
    {0, 144, 9, 13, 13, 42, 72, 120, 1, 640, 256, 96, 96, 1000, 5},
    {0, 145, 0, 13, 13, 1, 0, 122, 1, 640, 320, 32, 32, 100, 2},
    {0, 146, 0, 3, 3, 1, 0, 122, 1, -32, 320, 32, 32, 100, 2},
    {1, 0, 2, 12, 12, 1, 16, 1, 1, 640, 320, 32, 32, 200, 3},
    {1, 141, 10, 13, 13, 42, 80, 120, 1, 640, 64, 96, 96, 2000, 10},
    {1, 142, 7, 127, 13, 1, 56, 120, 0, 640, 288, 32, 32, 100, 5},
    {1, 143, 8, 127, 13, 1, 64, 120, 0, 640, 288, 32, 32, 2000, 5},
    {1, 144, 19, 127, 13, 1, 144, 120, 0, 640, 288, 32, 32, 300, 5},
    {2, 0, 4, 3, 3, 1, 32, 1, 0, -32, 128, 32, 32, 300, 3},
    {2, 148, 11, 13, 13, 42, 88, 125, 0, 640, 64, 96, 96, 3000, 5},
    {2, 149, 0, 13, 13, 1, 0, 125, 1, 640, 320, 32, 32, 100, 1},
    {2, 150, 0, 3, 3, 1, 0, 125, 1, -32, 320, 32, 32, 100, 1},
    {2, 151, 17, 127, 5, 1, 128, 125, 0, 640, 288, 64, 64, 100, 5},
    {3, 0, 3, 13, 13, 2, 24, 0, 0, 640, 288, 32, 32, 300, 3},
    {3, 170, 12, 0, 0, 42, 96, 135, 0, 640, 0, 96, 96, 4000, 5},
    {3, 171, 13, 127, 0, 1, 96, 135, 0, 640, 0, 96, 96, 0, 5},
    {4, 0, 0, 13, 13, 3, 0, 0, 5, 640, 320, 32, 32, 100, 1},
    {4, 155, 14, 13, 13, 42, 104, 120, 1, 640, 448, 96, 96, 5000, 5},
    {4, 156, 0, 13, 13, 1, 0, 120, 1, 640, 320, 32, 32, 100, 1},
    {4, 157, 0, 3, 3, 1, 0, 120, 1, -32, 320, 32, 32, 100, 1},
    {5, 0, 5, 13, 13, 1, 40, 1, 0, 640, 128, 32, 32, 400, 3},
    {5, 59, 15, 0, 0, 42, 112, 125, 1, 272, 64, 96, 128, 10000, 5},
    {5, 60, 0, 13, 13, 1, 0, 125, 1, 640, 320, 32, 32, 100, 1},
    {5, 61, 0, 3, 3, 1, 0, 125, 1, -32, 320, 32, 32, 100, 1},
    {5, 62, 16, 127, 13, 1, 120, 125, 0, 640, 288, 96, 96, 100, 7},
};

// The map rows given: columns `from` onward hold `values` (a single value fills columns 0-19) in rows
// firstRow..lastRow of the stage's background or foreground.
struct GivenMapRows {
    bool foreground;
    int stage, firstRow, lastRow, from;
    std::vector<int> values;
};
static const GivenMapRows GIVEN_MAP_ROWS[] = {
    {false, 0, 0, 8, 0, {61}},
    {false, 0, 9, 10, 0, {63}},
    {false, 0, 11, 11, 0, {64}},
    {false, 0, 12, 12, 0, {65}},
    {false, 0, 13, 14, 0, {63}},
    {false, 1, 9, 9, 0, {85, 66, 66, 66, 66, 85, 85, 66, 66, 66, 85, 66, 66, 66, 85, 85, 85, 66, 66, 66}},
    {true, 0, 5, 5, 8, {77, 78, 79}},
    {true, 0, 6, 6, 8, {97, 98, 99}},
    {true, 0, 7, 7, 8, {117, 118, 119}},
    {true, 0, 8, 8, 8, {137, 138, 139}},
    {true, 0, 9, 9, 8, {157, 158, 159}},
    {true, 0, 10, 10, 0, {74, 0, 74, 0, 0, 0, 0, 0, 177, 178, 179, 0, 0, 0, 0, 0, 93, 0, 93, 0}},
    {true, 3, 10, 10, 0, {92}},
};

// The box every record of a type has.
static void TypeBox(int type, int &w, int &h)
{
    const bool large = (type >= 9 && type <= 14) || type == 16 || type == 18;
    w = type == 17 ? 64 : type == 15 || large ? 96 : 32;
    h = type == 17 ? 64 : type == 15 ? 128 : large ? 96 : 32;
}

// First of the type's eight animation rows: one group per type in type order, types 12 and 13 sharing theirs.
static int BaseRow(int type)
{
    return type <= 12 ? 8 * type : 8 * (type - 1);
}

// The types of the records an owner drives, at i + 1, i + 2, ...
static std::vector<int> ChildTypes(int type)
{
    switch (type) {
    case 9:
    case 14:
        return {0, 0};
    case 11:
        return {0, 0, 17};
    case 15:
        return {0, 0, 16};
    case 10:
        return {7, 8, 19};
    case 12:
        return {13};
    default:
        return {};
    }
}

static bool IsMovingState(int64_t state)
{
    return (state >= 0 && state <= 5) || (state >= 11 && state <= 14);
}

// The row offset the action handler of a moving state sets.
static int RowOffset(int64_t state)
{
    static const int OFFSETS[] = {0, 1, 2, 3, 4, 5, -1, -1, -1, -1, -1, 0, 2, 3, 4};
    return OFFSETS[state];
}

class StageChecker
{
  public:
    StageChecker(const StageData &data, int stageIndex, std::vector<std::string> &faults)
        : data(data), s(stageIndex), stage(data.stages[stageIndex]), records(stage.records), faults(faults),
          owner(records.size(), -1)
    {
    }

    void Check()
    {
        CheckCountAndBoss();
        CheckOwners();
        for (int i = 0; i < static_cast<int>(records.size()); i++) {
            if (s == MID_BOSS_STAGE && i == BLANK_RECORD) {
                CheckBlankRecord(i);
            } else if (records[i][TYPE] < 0 || records[i][TYPE] > 19) {
                Refuse(i, TYPE, "must be 0..19");
            } else {
                CheckStartValues(i);
                CheckShownCells(i);
            }
            CheckTimes(i);
        }
        CheckGivenRecords();
        CheckMap(false, stage.background);
        CheckMap(true, stage.foreground);
    }

  private:
    const StageData &data;
    const int s;
    const Stage &stage;
    const std::vector<Record> &records;
    std::vector<std::string> &faults;
    std::vector<int> owner; // index of the record that owns each record, -1 for none
    std::set<std::tuple<int64_t, int64_t, int64_t>> cellsChecked; // (type, w, h) already looked at

    std::string Where() const
    {
        return "stage " + std::to_string(s);
    }
    void Refuse(int record, Field field, const std::string &text)
    {
        faults.push_back(Where() + " record " + std::to_string(record) + " field " + FIELDS[field].name + ": " + text);
    }
    bool Has(int index) const
    {
        return index >= 0 && index < static_cast<int>(records.size());
    }

    void CheckCountAndBoss()
    {
        if (static_cast<int>(records.size()) != EXPECTED_COUNT[s]) {
            faults.push_back(Where() + " field records: " + std::to_string(records.size()) + " records, expected " +
                             std::to_string(EXPECTED_COUNT[s]));
        }
        if (stage.bossIndex != BOSS_INDEX[s]) {
            faults.push_back(Where() + " field boss: the boss record is " + std::to_string(BOSS_INDEX[s]));
        }
        const int boss = BOSS_INDEX[s];
        if (Has(boss) && records[boss][TYPE] != BOSS_TYPE[s]) {
            Refuse(boss, TYPE, "the boss must be of type " + std::to_string(BOSS_TYPE[s]));
        }
        if (Has(boss) && records[boss][APPEAR_TIME] != BOSS_TIME[s]) {
            Refuse(boss, APPEAR_TIME, "the boss appears at " + std::to_string(BOSS_TIME[s]));
        }
        for (const TypeCount &expected : COMPOSITION[s]) {
            int count = 0;
            for (const Record &record : records) {
                count += record[TYPE] == expected.type;
            }
            if (count != expected.count) {
                faults.push_back(Where() + " field type: " + std::to_string(count) + " records of type " +
                                 std::to_string(expected.type) + ", expected " + std::to_string(expected.count));
            }
        }
        if (s != MID_BOSS_STAGE) {
            return;
        }
        for (const MidBoss &mid : MID_BOSSES) {
            if (Has(mid.index) && records[mid.index][TYPE] != mid.type) {
                Refuse(mid.index, TYPE, "a mid-stage boss of type " + std::to_string(mid.type) + " stands here");
            }
            if (Has(mid.index) && records[mid.index][HP] != MID_BOSS_HP) {
                Refuse(mid.index, HP, "a mid-stage boss has " + std::to_string(MID_BOSS_HP) + " hit points");
            }
        }
    }

    // Owners find their children by position alone: every child must be there, of its type, inside the stage.
    void CheckOwners()
    {
        for (int i = 0; i < static_cast<int>(records.size()); i++) {
            const std::vector<int> children = ChildTypes(static_cast<int>(records[i][TYPE]));
            for (int k = 1; k <= static_cast<int>(children.size()); k++) {
                const int child = i + k, type = children[k - 1];
                if (!Has(child)) {
                    Refuse(i, TYPE, "owns record " + std::to_string(child) + ", which lies outside the stage");
                } else if (records[child][TYPE] != type || owner[child] >= 0) {
                    Refuse(child, TYPE,
                           "record " + std::to_string(i) + " owns this record: it must be of type " +
                               std::to_string(type));
                } else {
                    owner[child] = i;
                }
            }
            if (records[i][TYPE] == 10 && Has(i + 2) && records[i + 2][SCORE_VALUE] != 2000) {
                Refuse(i + 2, SCORE_VALUE, "the type 8 shot of a type 10 owner flies only with 2000");
            }
            if (records[i][TYPE] == 13 && (i == 0 || records[i - 1][TYPE] != 12)) {
                Refuse(i, TYPE, "a type 13 record must lie right behind a type 12 record");
            }
        }
    }

    void CheckStartValues(int i)
    {
        const Record &r = records[i];
        const int type = static_cast<int>(r[TYPE]);
        if (r[STATE] != GONE && !IsMovingState(r[STATE])) {
            Refuse(i, STATE, "must start in 0-5, 11-14 or 127 (only combat enters the hurt and knocked states)");
        }
        if (!IsMovingState(r[HOME_STATE])) {
            Refuse(i, HOME_STATE, "must be 0-5 or 11-14");
        } else if ((type == 1 || type == 2) && r[HOME_STATE] != 2 && r[HOME_STATE] != 12) {
            Refuse(i, HOME_STATE, "type " + std::to_string(type) + " reads it as its course: 2 or 12");
        } else if (type >= 3 && type <= 5 && r[HOME_STATE] != 3 && r[HOME_STATE] != 13) {
            Refuse(i, HOME_STATE, "type " + std::to_string(type) + " reads it as its course: 3 or 13");
        }
        for (Field field : {STATE, HOME_STATE}) {
            const int row = BaseRow(type) + (IsMovingState(r[field]) ? RowOffset(r[field]) : 0);
            if (IsMovingState(r[field]) && data.objectRows[row].Empty()) {
                Refuse(i, field,
                       std::to_string(r[field]) + " shows animation row " + std::to_string(row) +
                           ", an empty row (it would show cell 0, the player)");
            }
        }
        if (r[HP] < 1) {
            Refuse(i, HP, "must be at least 1");
        }
        if (r[BASE_ANIM] != BaseRow(type)) {
            Refuse(i, BASE_ANIM, "type " + std::to_string(type) + " has base row " + std::to_string(BaseRow(type)));
        }
        if (r[ANIM] != r[BASE_ANIM]) {
            Refuse(i, ANIM, "must equal baseAnim");
        }
        if (r[PERIOD] != r[SAVED_PERIOD]) {
            Refuse(i, PERIOD, "must equal savedPeriod");
        }
        for (Field field : {FRAME, ANIM_TICK, UPDATE_TICK}) {
            if (r[field] != 0) {
                Refuse(i, field, "must be 0");
            }
        }
        if (r[CONTACT_DAMAGE] < 0) {
            Refuse(i, CONTACT_DAMAGE, "must be 0 or more");
        }
        if (r[STATE] == GONE && owner[i] < 0) {
            Refuse(i, STATE, "only a record that an owner relaunches may start gone (127)");
        }
        int w = 0, h = 0;
        TypeBox(type, w, h);
        if (r[W] != w || r[H] != h) {
            Refuse(i, r[W] != w ? W : H,
                   "type " + std::to_string(type) + " is " + std::to_string(w) + "x" + std::to_string(h));
        }
    }

    // Every cell a record can show, over its block, must be inside the sheet and drawn by the art for its kind and
    // row. A bomb's knocked row shows its blast at 96x96.
    void CheckShownCells(int i)
    {
        const Record &r = records[i];
        if (!cellsChecked.insert({r[TYPE], r[W], r[H]}).second) {
            return;
        }
        const int type = static_cast<int>(r[TYPE]);
        for (int offset = 0; offset < 8; offset++) {
            const AnimationRow &row = data.objectRows[BaseRow(type) + offset];
            const bool blast = type == 8 && offset == 7;
            const int64_t columns = blast ? 3 : r[W] / 32, rows = blast ? 3 : r[H] / 32;
            for (int frame = 0; frame < 5 && row.durations[frame] != 0; frame++) {
                const int first = row.cells[frame];
                const std::string shown =
                    "row " + std::to_string(BaseRow(type) + offset) + " frame " + std::to_string(frame) + " shows ";
                if (first < 0 || first % SHEET_COLUMNS + columns > SHEET_COLUMNS ||
                    first + SHEET_COLUMNS * (rows - 1) + columns > SPRITE_CELLS) {
                    Refuse(i, BASE_ANIM,
                           shown + std::to_string(columns) + "x" + std::to_string(rows) + " cells from sprite cell " +
                               std::to_string(first) + ", which leave the 280 cells");
                    return;
                }
                for (int64_t y = 0; y < rows; y++) {
                    for (int64_t x = 0; x < columns; x++) {
                        const int cell = static_cast<int>(first + SHEET_COLUMNS * y + x);
                        if (!IsDrawnFor(cell, type, offset)) {
                            Refuse(i, BASE_ANIM,
                                   shown + "sprite cell " + std::to_string(cell) + ", which is not drawn for type " +
                                       std::to_string(type) + " row offset " + std::to_string(offset));
                            return;
                        }
                    }
                }
            }
        }
    }

    bool IsDrawnFor(int cell, int type, int offset) const
    {
        for (const SpriteRole &role : data.spriteRoles) {
            const int dx = cell % SHEET_COLUMNS - role.first % SHEET_COLUMNS;
            const int dy = cell / SHEET_COLUMNS - role.first / SHEET_COLUMNS;
            if (dx >= 0 && dx < role.columns && dy >= 0 && dy < role.rows) {
                auto has = [](const std::vector<int> &list, int value) {
                    return std::find(list.begin(), list.end(), value) != list.end();
                };
                return role.drawn && has(role.types, type) && has(role.rowOffsets, offset);
            }
        }
        return false;
    }

    void CheckTimes(int i)
    {
        const int64_t time = records[i][APPEAR_TIME];
        if (time < 0 || time > LAST_TIME) {
            Refuse(i, APPEAR_TIME, "must lie within 0.." + std::to_string(LAST_TIME));
        }
        if (TIMES_ASCEND[s] && i > 0 && time < records[i - 1][APPEAR_TIME]) {
            Refuse(i, APPEAR_TIME, "earlier than record " + std::to_string(i - 1) + "'s; times ascend in this stage");
        }
        const int boss = BOSS_INDEX[s];
        if ((time >= BOSS_TIME[s]) != (i == boss || (owner[i] >= 0 && owner[i] == boss))) {
            Refuse(i, APPEAR_TIME,
                   "the records due at or after the boss's time (" + std::to_string(BOSS_TIME[s]) +
                       ") are exactly the boss and what it owns");
        }
        if (owner[i] < 0) {
            return;
        }
        const int64_t ownerTime = records[owner[i]][APPEAR_TIME];
        if (time < ownerTime) {
            Refuse(i, APPEAR_TIME, "due before its owner, record " + std::to_string(owner[i]));
        } else if (records[i][STATE] == GONE && time != ownerTime) {
            Refuse(i, APPEAR_TIME,
                   "starts gone, so it is due with its owner, record " + std::to_string(owner[i]) + " (" +
                       std::to_string(ownerTime) + ")");
        }
    }

    void CheckBlankRecord(int i)
    {
        for (int field = 0; field < FIELD_COUNT; field++) {
            if (records[i][field] != 0) {
                Refuse(i, static_cast<Field>(field), "this stage's last record is all zero");
            }
        }
    }

    void CheckGivenRecords()
    {
        for (const int *given : GIVEN_RECORDS) {
            if (given[0] != s || !Has(given[1])) {
                continue;
            }
            for (int k = 0; k < static_cast<int>(std::size(GIVEN_FIELDS)); k++) {
                if (records[given[1]][GIVEN_FIELDS[k]] != given[k + 2]) {
                    Refuse(given[1], GIVEN_FIELDS[k], "the given row holds " + std::to_string(given[k + 2]));
                }
            }
        }
    }

    void CheckMap(bool foreground, const TileMap &map)
    {
        const std::string name = Where() + (foreground ? " foreground" : " background");
        auto refuse = [&](int row, int column, const std::string &text) {
            faults.push_back(name + " row " + std::to_string(row) + " field column " + std::to_string(column) + ": " +
                             text);
        };
        for (int row = 0; row < MAP_HEIGHT; row++) {
            for (int column = 0; column < MAP_WIDTH; column++) {
                const int v = map[row][column];
                const bool allowed =
                    foreground ? v == 0 || (v >= 70 && v <= 79) || (v >= 87 && v <= 99) || (v >= 110 && v <= 179)
                               : (v >= 60 && v <= 69) || (v >= 80 && v <= 86);
                if (!allowed) {
                    refuse(row, column,
                           std::to_string(v) +
                               (foreground ? " is not 0, 70-79, 87-99 or 110-179" : " is not 60-69 or 80-86"));
                }
                if (column >= 20 && v != map[row][column - 20]) {
                    refuse(row, column, "columns 20-39 repeat columns 0-19");
                }
            }
        }
        for (const GivenMapRows &given : GIVEN_MAP_ROWS) {
            if (given.foreground != foreground || given.stage != s) {
                continue;
            }
            for (int row = given.firstRow; row <= given.lastRow; row++) {
                const int width = given.values.size() == 1 ? 20 : static_cast<int>(given.values.size());
                for (int k = 0; k < width; k++) {
                    const int expected = given.values[given.values.size() == 1 ? 0 : k];
                    if (map[row][given.from + k] != expected) {
                        refuse(row, given.from + k, "the given row holds " + std::to_string(expected));
                    }
                }
            }
        }
    }
};

std::vector<std::string> CheckStages(const StageData &data)
{
    std::vector<std::string> faults;
    if (data.playerRows.size() != 8 || data.objectRows.size() != 152) {
        faults.push_back("animations: 8 player rows and 152 object rows, found " +
                         std::to_string(data.playerRows.size()) + " and " + std::to_string(data.objectRows.size()));
        return faults;
    }
    for (int s = 0; s < STAGES; s++) {
        StageChecker(data, s, faults).Check();
    }
    return faults;
}
