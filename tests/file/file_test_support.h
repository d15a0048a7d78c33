// Shared by the file subsystem's tests: a fixture that checks the tracked allocation count is back where it
// began after every test, byte helpers, deterministic test data and a look at the log's newest lines.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "file/file_test_hooks.h"

class FileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetLogDirectory(".");
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        SetFileAccessTable(NULL);
        SetArchiveKeyString(NULL);
        CloseUnusedArchives();
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "tracked blocks left behind";
    }
    int allocationsAtStart = 0;
};

// Deterministic data: kind 0 random bytes, 1 text-like with repeats, 2 long runs.
inline std::vector<uint8_t> MakeTestBytes(uint32_t seed, size_t size, int kind)
{
    std::vector<uint8_t> out(size);
    uint32_t state = seed * 2654435761u + 12345;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    static const char words[][8] = {"alpha ", "beta ", "gamma\n", "QV ", "\\path/", "zz"};
    size_t i = 0;
    while (i < size) {
        uint32_t r = next();
        if (kind == 0) {
            out[i++] = (uint8_t)r;
        } else if (kind == 1) {
            for (const char *w = words[r % 6]; *w != 0 && i < size; w++) {
                out[i++] = (uint8_t)*w;
            }
        } else {
            size_t run = 1 + (r >> 8) % 300;
            for (size_t k = 0; k < run && i < size; k++) {
                out[i++] = (uint8_t)r;
            }
        }
    }
    return out;
}

inline bool WriteBytesToFile(const std::string &path, const std::vector<uint8_t> &data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = data.empty() || WriteFile(file, data.data(), (DWORD)data.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == data.size();
}

// A file of `size` bytes holding `pieces` at their offsets and zeros elsewhere, written sparsely: files past 2 GB
// cost only the pieces' bytes on a file system with holes.
struct FilePiece {
    uint32_t offset;
    std::vector<uint8_t> bytes;
};

inline bool WriteSparseFile(const std::string &path, uint32_t size, const std::vector<FilePiece> &pieces)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    for (const FilePiece &piece : pieces) {
        LONG high = 0;
        DWORD written = 0;
        SetFilePointer(file, (LONG)piece.offset, &high, FILE_BEGIN);
        ok = ok && WriteFile(file, piece.bytes.data(), (DWORD)piece.bytes.size(), &written, NULL) &&
             written == piece.bytes.size();
    }
    LONG high = 0;
    SetFilePointer(file, (LONG)size, &high, FILE_BEGIN);
    ok = ok && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

inline std::vector<uint8_t> ReadBytesFromFile(const std::string &path)
{
    std::vector<uint8_t> data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return data;
    }
    data.resize(GetFileSize(file, NULL));
    DWORD got = 0;
    if (!data.empty()) {
        ReadFile(file, data.data(), (DWORD)data.size(), &got, NULL);
    }
    data.resize(got);
    CloseHandle(file);
    return data;
}

// What the log gained since `mark` (a byte count taken with LogSize()).
inline size_t LogSize()
{
    return ReadBytesFromFile("Log.txt").size();
}

inline std::string LogSince(size_t mark)
{
    std::vector<uint8_t> log = ReadBytesFromFile("Log.txt");
    return mark < log.size() ? std::string(log.begin() + (long)mark, log.end()) : std::string();
}
