// Engine start and end for the input tests, with stand-ins for the COM creation and the winmm joystick calls.
#pragma once

#include <gtest/gtest.h>

#include "core/core_test_hooks.h"
#include "input/input_internal.h"

// Starts the engine in a window without sound or graphics, the DirectInput versions named refused.
void StartInputEngine(bool refuseDirectInput7, bool refuseDirectInput8);
// Ends the engine and takes every stand-in away.
void EndInputEngine(void);
