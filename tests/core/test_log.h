// Shared by the core test programs: a log in the test's own folder, read back as bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Points the log at the current folder and empties it.
void StartTestLog(void);
// The whole log file as written.
std::string ReadTestLog(void);
// The log's lines without their "<ms>:" stamps, split at CR LF; a line without a stamp is kept as it is.
std::vector<std::string> ReadTestLogLines(void);

// A test that writes to its own log in Shift-JIS and leaves no injected allocation failure or log option behind.
class TestWithLog : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
};
