// The engine as the sound tests and probes start it: a window of their own that keeps running in the background
// (another program may hold the focus), with sound through the harness's sink.
#pragma once

#include "core/window_state.h"
#include "sound/sound_internal.h"

inline int StartSoundTestEngine(const char *title)
{
    SetMainWindowTitle(title);
    ChangeWindowMode(1);
    g_WindowSettings.runInBackground = 1;
    return InitEngine();
}
