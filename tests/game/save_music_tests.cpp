// "Save.Dat" and "Option.Dat" on disk (the exact bytes, the reading rules with refused records, short and long
// files, read-only files, every failing step of the safe write) and the music switch.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <stdio.h>

static std::vector<uint8_t> ReadBytes(const char *name)
{
    std::vector<uint8_t> bytes;
    FILE *file = fopen(name, "rb");
    for (int c; file != nullptr && (c = fgetc(file)) != EOF;) {
        bytes.push_back((uint8_t)c);
    }
    if (file != nullptr) {
        fclose(file);
    }
    return bytes;
}

static void WriteBytes(const char *name, const std::vector<uint8_t> &bytes)
{
    FILE *file = fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// Little-endian bytes of values, cut to `size` bytes (-1: all of them).
static std::vector<uint8_t> Record(std::vector<int64_t> values, int size = -1)
{
    std::vector<uint8_t> bytes;
    for (int64_t value : values) {
        for (int i = 0; i < 4; i++) {
            bytes.push_back((uint8_t)(value >> (8 * i)));
        }
    }
    bytes.resize(size < 0 ? bytes.size() : (size_t)size);
    return bytes;
}

TEST(SaveFiles, WrittenBytesAndReadBack)
{
    ResetGameAndEngine();
    g_Game.HighScore = 123456;
    const int32_t flags[4] = {1, 0, 0, 1};
    memcpy(g_Game.SaveData.ClearFlags, flags, sizeof(flags));
    ASSERT_EQ(WriteSaveFile(), 0);
    EXPECT_EQ(ReadBytes("Save.Dat"),
              (std::vector<uint8_t>{0x40, 0xE2, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0,
                                    0,    0,    0,    0,    0,    0,    0,    0,    1, 0, 0, 0}));
    ResetGameAndEngine();
    ReadSaveFile();
    EXPECT_EQ(g_Game.HighScore, 123456);
    EXPECT_EQ(g_Game.FurthestStageCleared, -1);
    EXPECT_EQ(memcmp(g_Game.SaveData.ClearFlags, flags, sizeof(flags)), 0);
    remove("Save.Dat");
}

// Each file read over the same earlier state (high score 100, no stage, EASY's flag 7): whole values are taken, a
// partly present one keeps its earlier value, an out-of-range stage or high score refuses the whole record.
TEST(SaveFiles, ReadingRules)
{
    struct Row {
        const char *what;
        std::vector<uint8_t> file;
        int highScore, stage, flag0, flag3;
    } rows[] = {
        {"whole", Record({1234567, 2, 1, 0, 0, 1}), 1234567, 2, 1, 1},
        {"stage 255", Record({50, 255, 0, 0, 0, 0}), 100, -1, 0, 0},
        {"stage 0x105", Record({500, 0x105, 0, 0, 0, 0}), 500, 5, 0, 0},
        {"stage 6", Record({500, 6, 1, 1, 1, 1}), 100, -1, 7, 0},
        {"stage 127", Record({500, 127, 1, 1, 1, 1}), 100, -1, 7, 0},
        {"stage -2", Record({500, -2, 1, 1, 1, 1}), 100, -1, 7, 0},
        {"score too high", Record({10000000, 3, 1, 1, 1, 1}), 100, -1, 7, 0},
        {"highest score", Record({9999999, 3, 1, 1, 1, 1}), 9999999, 3, 1, 1},
        {"negative score", Record({-5, 3, 1, 0, 0, 0}), 100, 3, 1, 0},
        {"short", Record({500, 2, 1, 1}, 10), 500, 2, 7, 0},
        {"short score", Record({500}, 3), 100, -1, 7, 0},
        {"long", Record({500, 4, 0, 0, 0, 1, 99, 99}), 500, 4, 0, 1},
        {"empty", {}, 100, -1, 7, 0},
    };
    for (const Row &row : rows) {
        WriteBytes("Save.Dat", row.file);
        ResetGameAndEngine();
        g_Game.HighScore = 100;
        g_Game.SaveData.ClearFlags[0] = 7;
        ReadSaveFile();
        EXPECT_EQ(g_Game.HighScore, row.highScore) << row.what;
        EXPECT_EQ(g_Game.FurthestStageCleared, row.stage) << row.what;
        EXPECT_EQ(g_Game.SaveData.ClearFlags[0], row.flag0) << row.what;
        EXPECT_EQ(g_Game.SaveData.ClearFlags[3], row.flag3) << row.what;
    }
    remove("Save.Dat");
}

// Read-only files, also held open by another reader that shares them for reading only (the read-only attribute
// alone does not stop an administrator, as the tests may run).
TEST(SaveFiles, ReadOnlyFilesAreRead)
{
    WriteBytes("Save.Dat", Record({4321, 1, 0, 1, 0, 0}));
    WriteBytes("Option.Dat", Record({1, 9}));
    SetFileAttributesA("Save.Dat", FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA("Option.Dat", FILE_ATTRIBUTE_READONLY);
    HANDLE readers[2];
    const char *names[2] = {"Save.Dat", "Option.Dat"};
    for (int i = 0; i < 2; i++) {
        readers[i] = CreateFileA(names[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(readers[i], INVALID_HANDLE_VALUE);
    }
    ResetGameAndEngine();
    ReadSaveFile();
    ReadOptionFile();
    EXPECT_EQ(g_Game.HighScore, 4321);
    EXPECT_EQ(g_Game.OptionData[1], 9);
    for (HANDLE reader : readers) {
        CloseHandle(reader);
    }
    SetFileAttributesA("Save.Dat", FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA("Option.Dat", FILE_ATTRIBUTE_NORMAL);
    remove("Save.Dat");
    remove("Option.Dat");
}

// Each step of the safe write failing in turn, for both files: the old file stays byte for byte, no temporary is
// left, and the next write without the fault goes through.
TEST(SaveFiles, FailedWritesKeepTheOldFile)
{
    const char *steps[] = {"create", "write", "commit", "close", "replace"};
    struct Target {
        const char *name;
        int (*write)(void);
    } targets[] = {{"Save.Dat", WriteSaveFile}, {"Option.Dat", WriteOptionFile}};
    const std::vector<uint8_t> old = Record({77, 1, 1, 0, 0, 0});
    for (const Target &target : targets) {
        for (const char *step : steps) {
            WriteBytes(target.name, old);
            ResetGameAndEngine();
            ASSERT_EQ(StartTestBuild((std::string("--fail-save ") + step).c_str()), -1);
            g_Game.HighScore = 999;
            g_Game.OptionData[0] = 1;
            EXPECT_EQ(target.write(), -1) << target.name << " " << step;
            EXPECT_EQ(ReadBytes(target.name), old) << target.name << " " << step;
            EXPECT_EQ(GetFileAttributesA((std::string(target.name) + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
        }
        ASSERT_EQ(StartTestBuild(""), -1);
        EXPECT_EQ(target.write(), 0);
        EXPECT_NE(ReadBytes(target.name), old);
        remove(target.name);
    }
}

// The same track again loads nothing; a new one frees the old handle (0 before the first), loads, sets the volume
// and loops it.
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
        freed.push_back(call.args[0]);
    }
    EXPECT_EQ(loaded, (std::vector<long long>{201, 203, 206, 203}));
    EXPECT_EQ(freed, (std::vector<long long>{0, 0x10000000 + 201, 0x10000000 + 203, 0x10000000 + 206}));
    EXPECT_EQ(CallsNamed("PlaySoundHandle").back(), (EngineCall{"PlaySoundHandle", {0x10000000 + 203, 3, 1}, ""}));
    EXPECT_EQ(CallsNamed("SetSoundVolume255").size(), 4u);
    EXPECT_EQ(g_Game.CurrentTrack, 2);
}
