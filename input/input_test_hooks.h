// Input: what the test programs reach into besides the public contract (input.h). Programs never include it.
// Nothing in the engine creates a text-entry field; the tests make one here. Window thread only.
#pragma once

#include "input/input.h"

// A new field of the key-input table with room for maxLength bytes, made the active one: its handle, or -1 when
// the table is full, the length is below 1 or the text buffer cannot be had.
EngineHandle CreateKeyInputForTest(int maxLength, int cancelAllowed, int singleByteOnly, int numbersOnly);
// The field's record, or null for a handle that is not valid.
const KeyInputRecord *GetKeyInputRecordForTest(EngineHandle handle);
// Replaces the key query behind the Shift tests of the editing (null puts IsKeyDown back).
typedef int (*KeyDownQuery)(int keyCode);
void SetKeyDownQueryForTest(KeyDownQuery query);
// The IME reset: the step (1..4) the next key-input pass starts at; 0 leaves it idle.
void SetImeResetStepForTest(int step);

// The key-input table's words besides the records, as the tests may read and set them.
struct KeyInputTableWords {
    EngineHandle activeHandle; // -1 = none
    EngineHandle secondHandle; // meant for drawing fields, which nothing does yet
    int blinkStartTime;
    int blinkPeriod; // ms
    int cursorVisible;
    unsigned int colors[15]; // screen colours fields are drawn in
    void *sharedBuffer;      // owned; freed with the last field
    // The composition is cut to the room left in the active field while limitToField is set, and to
    // compositionLimit bytes when that is not 0. Nothing in the engine sets them.
    int limitToField;
    int compositionLimit;
};
KeyInputTableWords *GetKeyInputTableWordsForTest(void);
