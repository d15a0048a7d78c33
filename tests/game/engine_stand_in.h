// A recording stand-in of the engine calls the game makes: each call is noted with its name, its number
// arguments and its text, and answers what the test set up. Test thread only.
#pragma once

#include "game/game_state.h"

#include <deque>
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
    int initResult = 0;
    int pumpPasses = 0;            // ProcessWindowMessages answers 0 this often, then -1
    std::deque<unsigned int> pads; // GetPadInput's answers, then 0
    int nextGraph = 0x08000000;
    int liveGraphs = 0;
};

extern StandInEngine g_StandIn;

// A fresh stand-in and the game's start values.
void ResetGameAndEngine(void);
// The calls of one name, in order.
std::vector<EngineCall> CallsNamed(const char *name);

// gtest prints calls this way when a comparison fails.
void PrintTo(const EngineCall &call, std::ostream *out);
