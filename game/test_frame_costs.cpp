// The test program's frame timing (compiled into QvGameTest only). With --frame-costs FILE the main loop and the
// frame step mark the phases of every pass on the performance counter, and each frame becomes one line of
// microseconds: "frame logic draw flip whole pump". The logic is the stage's logic half (StagePlayFrame), or the
// whole GameFrame outside stage play; the drawing is DrawStagePlay (0 outside stage play); the flip is FlipScreen;
// the whole frame runs from the input phase to the end of pacing; the pump is what follows until the next pass
// begins (the message pump), 0 for the last frame. With --bare the loop's frames only clear the back screen and
// flip, so that a bare frame can be timed beside the game's. Window thread.
#include "game/game_state.h"

#include "graphics/graphics.h"

#include <stdio.h>
#include <string.h>

struct FrameCostState {
    FILE *file = nullptr;
    bool bare = false;
    bool marked[FRAME_COST_MARK_COUNT] = {};
    LONGLONG counts[FRAME_COST_MARK_COUNT] = {};
    long frame = 0;
};

static FrameCostState s_Costs;

static LONGLONG ReadCounter(void)
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

static long Microseconds(LONGLONG from, LONGLONG to)
{
    static LONGLONG frequency;
    if (frequency == 0) {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        frequency = value.QuadPart > 0 ? value.QuadPart : 1;
    }
    return to > from ? (long)((to - from) * 1000000 / frequency) : 0;
}

// The frame whose pass ended at FRAME_COST_PACED, its pump ending at `pumpEnd` (0: no pump followed).
static void WriteFrameCosts(LONGLONG pumpEnd)
{
    const LONGLONG *at = s_Costs.counts;
    if (s_Costs.file == nullptr || !s_Costs.marked[FRAME_COST_PACED]) {
        return;
    }
    LONGLONG logicEnd = s_Costs.marked[FRAME_COST_DRAW] ? at[FRAME_COST_DRAW] : at[FRAME_COST_FLIP];
    long draw = s_Costs.marked[FRAME_COST_DRAW] ? Microseconds(at[FRAME_COST_DRAW], at[FRAME_COST_FLIP]) : 0;
    fprintf(s_Costs.file, "%ld %ld %ld %ld %ld %ld\n", ++s_Costs.frame, Microseconds(at[FRAME_COST_GAME], logicEnd),
            draw, Microseconds(at[FRAME_COST_FLIP], at[FRAME_COST_FLIPPED]),
            Microseconds(at[FRAME_COST_START], at[FRAME_COST_PACED]),
            pumpEnd != 0 ? Microseconds(at[FRAME_COST_PACED], pumpEnd) : 0);
    for (bool &marked : s_Costs.marked) {
        marked = false;
    }
}

static void FinishFrameCosts(void)
{
    if (s_Costs.file != nullptr) {
        WriteFrameCosts(0);
        fclose(s_Costs.file);
        s_Costs.file = nullptr;
    }
}

void ResetFrameCosts(void)
{
    FinishFrameCosts();
    s_Costs = FrameCostState();
}

static bool StartFrameCosts(const char *fileName)
{
    FinishFrameCosts();
    if (fopen_s(&s_Costs.file, fileName, "wb") != 0) {
        s_Costs.file = nullptr;
        return false;
    }
    static bool registered = false;
    if (!registered) {
        atexit(FinishFrameCosts);
        registered = true;
    }
    fputs("# frame logic draw flip whole pump (microseconds)\n", s_Costs.file);
    return true;
}

int TakeFrameCostOption(const char *option, const char *value)
{
    if (strcmp(option, "--bare") == 0) {
        s_Costs.bare = true;
        return 1;
    } else if (strcmp(option, "--frame-costs") != 0) {
        return 0;
    }
    return value != nullptr && StartFrameCosts(value) ? 2 : -1;
}

void NoteFrameCost(FrameCostMark mark)
{
    if (s_Costs.file == nullptr) {
        return;
    }
    LONGLONG now = ReadCounter();
    if (mark == FRAME_COST_START) {
        WriteFrameCosts(now);
    }
    s_Costs.counts[mark] = now;
    s_Costs.marked[mark] = true;
}

int RunBareFrame(void)
{
    if (s_Costs.bare) {
        ClearDrawScreen(-2, nullptr);
    }
    return s_Costs.bare;
}
