// The stages' constant tables: the object templates of every stage, the two tile maps and the animation rows of
// the player and the stage objects. They are made at build time from the text files in content/stages by the stage
// validator (tools/stagedata), which refuses data that would break the invariants the object code trusts; the
// generated stage_tables.cpp defines them. Read-only, so any thread may read them; the game reads them on the
// window thread.
#pragma once

#include <stdint.h>

#define STAGE_COUNT 6
#define STAGE_RECORD_LIMIT 200
#define MAP_ROWS 15
#define MAP_COLUMNS 40
#define PLAYER_ANIMATION_COUNT 8
#define OBJECT_ANIMATION_COUNT 152

// One stage object, fields in the order the object code and the stage files name them.
struct ObjectRecord {
    int8_t type;          // behaviour 0..19
    int8_t state;         // action state 0..19, or 127 (gone)
    int8_t homeState;     // state after a hurt animation; the course of types 1-5
    int16_t hp;           // hit points
    int16_t anim;         // current animation row
    int16_t baseAnim;     // first of the kind's eight rows
    int8_t frame;         // frame within the row
    int32_t animTick;     // frames the current frame has been shown
    int32_t appearTime;   // stage-clock second from which the record takes part
    int32_t updateTick;   // frames waited since the last update
    int32_t period;       // frames to wait between updates
    int32_t savedPeriod;  // the template's pace
    int32_t x, y, w, h;   // box, screen pixels
    int32_t scoreValue;   // score for destroying it, before the difficulty's scaling
    int8_t contactDamage; // damage on touching the player, before the difficulty's multiplier
};

// One animation: durations of frames 0-5 (the first 0 ends the row) and the sprite cells of frames 0-4
// (-1 draws nothing).
struct AnimRow {
    int32_t durations[6];
    int32_t cells[5];
};

extern const ObjectRecord StageObjectTemplates[STAGE_COUNT][STAGE_RECORD_LIMIT];
extern const int32_t StageObjectCount[STAGE_COUNT];
extern const int32_t BossRecordIndex[STAGE_COUNT];
extern const int16_t BackgroundMap[STAGE_COUNT][MAP_ROWS][MAP_COLUMNS];
extern const int16_t ForegroundMap[STAGE_COUNT][MAP_ROWS][MAP_COLUMNS];
extern const AnimRow PlayerAnimations[PLAYER_ANIMATION_COUNT];
extern const AnimRow ObjectAnimations[OBJECT_ANIMATION_COUNT];
