// Writes a "Log.txt" with every kind of line the engine writes, ending with the allocation dump, for
// log_file_check.py to read back on the build machine.
#include <gtest/gtest.h>

#include <string>

#include "core/core.h"
#include "font/font.h"
#include "test_log.h"

TEST(LogFile, WriteEveryKindOfLineThenTheAllocationDump)
{
    SetEngineCharSet(CHARSET_SHIFTJIS);
    StartTestLog();
    AddLog("plain line\n");
    AddLog("continued ");
    AddLog("without a line end\n");
    AddLog("level 0\n");
    LogIndentIncrease();
    AddLog("level 1\n");
    LogIndentIncrease();
    LogFormatLine("level %d", 2);
    LogIndentDecrease();
    AddLog("back to 1\n");
    LogIndentDecrease();
    AddLog((std::string(299, 'a') + "\n").c_str());
    std::string long5000;
    while (long5000.size() < 4999) {
        long5000 += "0123456789";
    }
    long5000.resize(4999);
    AddLog((long5000 + "\n").c_str());
    AddLog("表示テスト ソース\n"); // "表" and "ソ" carry the trail byte 0x5C

    // Blocks left alive for the dump, oldest first.
    void *blocks[3] = {AllocMemory(5, "writer_first.cpp", 11), AllocMemory(1, "second.cpp", 22),
                       AllocMemory(40, NULL, 33)};
    memcpy(blocks[0], "abcde", 5);
    memcpy(blocks[1], "\x01", 1);
    memset(blocks[2], 0x5C, 40);
    DumpAllocations();
    // Freed without logging, so that the dump stays the last thing in the file.
    for (void *block : blocks) {
        FreeMemory(block);
    }
}
