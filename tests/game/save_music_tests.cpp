// "Save.Dat" and "Option.Dat" on disk (the exact bytes, the reading rules with refused records, short and long
// files, read-only files, every failing step of the safe write) and the music switch.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdio.h>

static std::vector<uint8_t> ReadBytes(const char *name)
{
    std::ifstream file(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Writes the values' little-endian bytes, cut to `size` bytes (-1: all of them).
static std::vector<uint8_t> WriteRecord(const char *name, std::vector<int64_t> values, int size = -1)
{
    std::vector<uint8_t> bytes;
    for (int64_t value : values) {
        for (int i = 0; i < 4; i++) {
            bytes.push_back((uint8_t)(value >> (8 * i)));
        }
    }
    bytes.resize(size < 0 ? bytes.size() : (size_t)size);
    FILE *file = fopen(name, "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return bytes;
}

TEST(SaveFiles, WrittenBytesAndReadBack)
{
    ResetGameAndEngine();
    g_Game.HighScore = 123456;
    g_Game.SaveData.ClearFlags[0] = g_Game.SaveData.ClearFlags[3] = 1;
    ASSERT_EQ(WriteSaveFile(), 0);
    EXPECT_EQ(ReadBytes("Save.Dat"),
              (std::vector<uint8_t>{0x40, 0xE2, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0,
                                    0,    0,    0,    0,    0,    0,    0,    0,    1, 0, 0, 0}));
    ResetGameAndEngine();
    ReadSaveFile();
    EXPECT_EQ(g_Game.HighScore + g_Game.FurthestStageCleared + g_Game.SaveData.ClearFlags[3], 123456 - 1 + 1);
}

// Each file read over the same earlier state (high score 100, no stage, EASY's flag 7): whole values are taken, a
// partly present one keeps its earlier value, an out-of-range stage or high score refuses the whole record.
TEST(SaveFiles, ReadingRules)
{
    struct Row {
        std::vector<int64_t> values;
        int size, highScore, stage, flag0, flag3;
    } rows[] = {
        {{1234567, 2, 1, 0, 0, 1}, -1, 1234567, 2, 1, 1},
        {{50, 255, 0, 0, 0, 0}, -1, 100, -1, 0, 0},
        {{500, 0x105, 0, 0, 0, 0}, -1, 500, 5, 0, 0},
        {{500, 6, 1, 1, 1, 1}, -1, 100, -1, 7, 0},
        {{500, 127, 1, 1, 1, 1}, -1, 100, -1, 7, 0},
        {{500, -2, 1, 1, 1, 1}, -1, 100, -1, 7, 0},
        {{10000000, 3, 1, 1, 1, 1}, -1, 100, -1, 7, 0},
        {{9999999, 3, 1, 1, 1, 1}, -1, 9999999, 3, 1, 1},
        {{-5, 3, 1, 0, 0, 0}, -1, 100, 3, 1, 0},
        {{500, 2, 1, 1}, 10, 500, 2, 7, 0},
        {{500}, 3, 100, -1, 7, 0},
        {{500, 4, 0, 0, 0, 1, 99, 99}, -1, 500, 4, 0, 1},
    };
    for (const Row &row : rows) {
        WriteRecord("Save.Dat", row.values, row.size);
        ResetGameAndEngine();
        g_Game.HighScore = 100;
        g_Game.SaveData.ClearFlags[0] = 7;
        ReadSaveFile();
        EXPECT_EQ(std::vector<int>({g_Game.HighScore, g_Game.FurthestStageCleared, g_Game.SaveData.ClearFlags[0],
                                    g_Game.SaveData.ClearFlags[3]}),
                  std::vector<int>({row.highScore, row.stage, row.flag0, row.flag3}))
            << row.values[0] << " " << row.values.size() << " " << row.size;
    }
}

// A read-only file, also held open by another reader that shares it for reading only (the read-only attribute
// alone does not stop an administrator, as the tests may run).
TEST(SaveFiles, ReadOnlyFilesAreRead)
{
    WriteRecord("Save.Dat", {4321, 5, 0, 0, 0, 0});
    SetFileAttributesA("Save.Dat", FILE_ATTRIBUTE_READONLY);
    HANDLE reader = CreateFileA("Save.Dat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ResetGameAndEngine();
    ReadSaveFile();
    EXPECT_EQ(g_Game.HighScore, 4321);
    CloseHandle(reader);
    SetFileAttributesA("Save.Dat", FILE_ATTRIBUTE_NORMAL);
}

// Each step of the safe write failing in turn, for both files: the old file stays byte for byte and no temporary
// is left; without the fault the write goes through.
TEST(SaveFiles, FailedWritesKeepTheOldFile)
{
    struct Target {
        const char *name;
        int (*write)(void);
    } targets[] = {{"Save.Dat", WriteSaveFile}, {"Option.Dat", WriteOptionFile}};
    for (const Target &target : targets) {
        for (const char *step : {"create", "write", "commit", "close", "replace", ""}) {
            std::vector<uint8_t> old = WriteRecord(target.name, {77, 1, 1, 0, 0, 0});
            ResetGameAndEngine();
            ASSERT_EQ(StartTestBuild((std::string(*step ? "--fail-save " : "") + step).c_str()), -1);
            g_Game.HighScore = g_Game.OptionData[0] = 999;
            EXPECT_EQ(target.write(), *step ? -1 : 0) << target.name << " " << step;
            EXPECT_EQ(ReadBytes(target.name) == old, *step != 0) << target.name << " " << step;
            EXPECT_EQ(GetFileAttributesA((std::string(target.name) + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
}

// The same track again loads nothing; a new one frees the old handle (0 before the first), loads and loops it.
TEST(Music, SwitchLoadsOnlyOnChange)
{
    ResetGameAndEngine();
    for (int8_t track : {0, 0, 0, 2, 5, 5, 2}) {
        SwitchMusic(track);
    }
    std::vector<long long> loaded, freed;
    for (const EngineCall &call : CallsNamed("LoadSoundFromResource")) {
        loaded.push_back(call.args[0]);
    }
    for (const EngineCall &call : CallsNamed("DeleteSoundHandle")) {
        freed.push_back(call.args[0] & 0xFFFF);
    }
    EXPECT_EQ(loaded, (std::vector<long long>{201, 203, 206, 203}));
    EXPECT_EQ(freed, (std::vector<long long>{0, 201, 203, 206}));
    EXPECT_EQ(CallsNamed("PlaySoundHandle").back(), (EngineCall{"PlaySoundHandle", {0x10000000 + 203, 3, 1}, ""}));
}
