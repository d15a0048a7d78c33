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
