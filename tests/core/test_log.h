// Shared by the core test programs: a log in the test's own folder, read back as bytes.
#pragma once

#include <string>
#include <vector>

// Points the log at the current folder and empties it.
void StartTestLog(void);
// The whole log file as written.
std::string ReadTestLog(void);
// The log's lines without their "<ms>:" stamps, split at CR LF; a line without a stamp is kept as it is.
std::vector<std::string> ReadTestLogLines(void);
