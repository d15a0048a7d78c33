// Reading the engine's "Log.txt" in a test's folder.
#pragma once

#include <string>
#include <vector>

std::string ReadLogText(void);
// The first of `lines` (substrings, in order) that the log does not hold after the previous ones; empty when all do.
std::string FirstMissingInOrder(const std::string &log, const std::vector<std::string> &lines);
