// What the software blits show to the tests only: every row loop counts the calls that chose it, so that a sweep
// over the settings can name the loops it never reached. Window thread only, like the blits.
#pragma once

struct BlitLeafCount {
    const char *name; // draw kind, depth, source form, mode and the loop's choices, e.g. "point 32 alpha m0 key"
    unsigned calls;
};

// The table of every loop the program holds, in no particular order; its length is the result.
int GetBlitLeafCounts(const BlitLeafCount **leaves);
void ResetBlitLeafCounts(void);
