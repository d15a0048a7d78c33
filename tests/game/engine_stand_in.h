// A recording stand-in of the engine calls the game makes: each call is noted with its name, its number
// arguments and its text, and answers what the test set up. Test thread only.
#pragma once

#include "game/game_state.h"

#include <ostream>
#include <string>
#include <vector>

struct EngineCall {
    std::string name;
    std::vector<long long> args;
    std::string text;
    bool operator==(const EngineCall &other) const
    {
        return name == other.name && args == other.args && text == other.text;
    }
};

struct StandInEngine {
    std::vector<EngineCall> calls;
    int initResult = 0; // InitEngine's answer; ProcessWindowMessages always answers -1
    int liveGraphs = 0;
    int nextGraph = 0x08000000;
};
extern StandInEngine g_StandIn;

void ResetGameAndEngine(void); // a fresh stand-in and the game's start values
std::vector<EngineCall> CallsNamed(const char *name);
void PrintTo(const EngineCall &call, std::ostream *out);
