// The story events' scripts: seven constant tables of Shift-JIS text lines and page markers that the event player
// pages through. They are made at build time from the UTF-8 files in content/events by the script validator
// (tools/eventscripts), which refuses a script whose counts, line lengths, pages or picture walks would break what
// the player trusts; the generated event_scripts.cpp defines them. Read-only; the game reads them on the window
// thread.
#pragma once

#define EVENT_SCRIPT_COUNT 7
#define EVENT_SCRIPT_LENGTH 255

// The five markers: each one shared constant, recognised in a script by its address.
extern const char EventMarkerC[], EventMarkerCG[], EventMarkerCGR[], EventMarkerBK[], EventMarkerEND[];

// Script e (0-5) is the event of stage e, 6 the continue notice; Shift-JIS text lines and markers, "END"
// within the 255 entries, null after it.
extern const char *const EventScript[EVENT_SCRIPT_COUNT][EVENT_SCRIPT_LENGTH];
