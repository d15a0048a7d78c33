// A recording stand-in of the engine calls the game makes: each call is noted as one line, "Name(numbers,text)"
// with numbers of 0x10000 and above in hex, and answers what the test set up. Test thread only.
#pragma once

#include "game/game_state.h"

#include <initializer_list>
#include <string>
#include <vector>

struct StandInEngine {
    std::vector<std::string> calls;
    int initResult = 0; // InitEngine's answer; ProcessWindowMessages always answers -1
    int liveGraphs = 0;
    int nextGraph = 0x08000000;
    bool recording = true; // off: calls are answered but not noted (a search tool's long runs)
};
extern StandInEngine g_StandIn;

void ResetGameAndEngine(void); // a fresh stand-in and the game's start values
std::string CallLine(const char *name, std::vector<long long> args, const char *text = "");
std::vector<std::string> CallsNamed(const char *name);

// A file's bytes; and a file written from little-endian 32-bit values, cut to `size` bytes (-1: all of them).
std::vector<uint8_t> ReadBytes(const char *name);
std::vector<uint8_t> WriteRecord(const char *name, std::vector<int64_t> values, int size = -1);
