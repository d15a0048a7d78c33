// The test program's soak (compiled into QvGameTest only): with --soak SECONDS the run ends at the first frame
// after that much wall time in which the game holds no picture, so that its figures compare with those taken at
// the end of a run; between frames the device is made again every --reinit-every SECONDS and the window mode goes
// to full screen and back on alternate --mode-switch-every SECONDS. Every run that stage play ends back at the
// title adds a line to "soak.txt" with the engine's live allocations and live graphs; the end adds the same
// figures. When the bot plays, each run after the first is played one difficulty higher (round the four). Window
// thread.
#include "game/game_state.h"

#include "core/core.h"
#include "graphics/graphics.h"
#include "graphics/graphics_test_hooks.h"

#include <stdio.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#define SOAK_REPORT_NAME "soak.txt"

struct SoakState {
    long seconds = 0; // 0: no soak
    long reinitSeconds = 0;
    long switchSeconds = 0;
    bool started = false; // the clocks start at the first frame
    DWORD start = 0, lastReinit = 0, lastSwitch = 0;
    int run = 0;
    int reinits = 0;
    int switches = 0;
    int previousMainState = 0;
    int botDifficulty = -1; // the difficulty of the bot's first run; -1: no bot
};

static SoakState s_Soak;
static SoakState s_SoakOptions; // taken from the command line, in force from StartSoak

static const char *const SOAK_OPTIONS[] = {"--soak", "--reinit-every", "--mode-switch-every"};

int TakeSoakOption(const char *option, const char *value)
{
    long *const fields[] = {&s_SoakOptions.seconds, &s_SoakOptions.reinitSeconds, &s_SoakOptions.switchSeconds};
    for (int i = 0; i < 3; i++) {
        if (strcmp(option, SOAK_OPTIONS[i]) == 0) {
            return value != nullptr && ReadTestNumber(value, 1, LONG_MAX, fields[i]) ? 2 : -1;
        }
    }
    return 0;
}

void StartSoak(int botDifficulty)
{
    s_Soak = s_SoakOptions;
    s_Soak.botDifficulty = botDifficulty;
    s_SoakOptions = SoakState();
}

static void ReportFigures(const char *label, int run)
{
    FILE *report;
    if (fopen_s(&report, SOAK_REPORT_NAME, "ab") != 0) {
        return;
    }
    fprintf(report, "%s run=%d allocations=%d graphs=%d reinits=%d switches=%d\n", label, run, GetAllocationCount(),
            GetGraphTableCount(), s_Soak.reinits, s_Soak.switches);
    fclose(report);
}

// Whether `period` seconds have passed since `*last`; if so the period starts again now.
static bool IsDue(long period, DWORD now, DWORD *last)
{
    if (period <= 0 || now - *last < (DWORD)period * 1000) {
        return false;
    }
    *last = now;
    return true;
}

int SoakFrame(void)
{
    if (s_Soak.seconds == 0) {
        return -1;
    }
    DWORD now = GetTickCount();
    if (!s_Soak.started) {
        s_Soak.started = true;
        s_Soak.start = s_Soak.lastReinit = s_Soak.lastSwitch = now;
        s_Soak.previousMainState = g_Game.MainState;
    }
    // Stage play gives way to the title's first state, with the last picture released, at the end of a run.
    if (s_Soak.previousMainState == 0 && g_Game.MainState == 10) {
        s_Soak.run++;
        ReportFigures("run", s_Soak.run);
        if (s_Soak.botDifficulty >= 0) {
            StartBot((s_Soak.botDifficulty + s_Soak.run) % 4, -1);
        }
    }
    s_Soak.previousMainState = g_Game.MainState;
    bool ending = now - s_Soak.start >= (DWORD)s_Soak.seconds * 1000 && g_Handles.PictureHandle == -1;
    // A change of screen mode starts the screen again, which releases every graph: the game's sheets are loaded
    // anew. The switch waits for a frame without a picture (only the title and the events hold one); the soak
    // ends in a window, as it began.
    bool switchDue = ending ? s_Soak.switches % 2 == 1
                            : g_Handles.PictureHandle == -1 && IsDue(s_Soak.switchSeconds, now, &s_Soak.lastSwitch);
    if (switchDue && ChangeWindowMode(s_Soak.switches % 2 == 1) == 0) {
        s_Soak.switches++;
        LoadSheetGraphs();
    }
    if (ending) {
        ReportFigures("end", s_Soak.run);
        return 0;
    }
    if (IsDue(s_Soak.reinitSeconds, now, &s_Soak.lastReinit)) {
        s_Soak.reinits++;
        ReinitGraphicsKeepMode();
    }
    return -1;
}
