// The common ending of the build-machine tools that check content and write a source the game compiles: report the
// refusals, or write the source whole. Build machine only, single-threaded.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Removes OUTPUT first, so that a refusal never leaves the last accepted source behind; then prints each fault as
// "TOOL: fault", or, when there are none, writes OUTPUT through `write` into OUTPUT.tmp, renamed over OUTPUT only
// once whole. Returns the tool's exit status: 0 written, 1 refused or not written (which fails the build).
int FinishGeneratedSource(const char *tool, const std::vector<std::string> &faults, const std::string &output,
                          const std::function<void(std::ostream &)> &write);
