// "Save.Dat" (high score, furthest stage cleared, four clear flags) and "Option.Dat" (screen mode and a value kept
// as read), little-endian 32-bit values in the current folder. Reading opens read-only and takes only whole
// values; a save record whose stage or high score is out of range is refused whole. Writing never loses the old
// file: the values go to a temporary beside it, which is checked, committed and closed before it replaces the
// file. Window thread.
#include "game/game_state.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#define SAVE_FILE_NAME "Save.Dat"
#define OPTION_FILE_NAME "Option.Dat"

// Reads up to `count` values of the file into `values`: only whole values are taken, so a partly present value
// keeps what it held; bytes after the last value are ignored. Answers the number taken, -1 without a file.
static int ReadValues(const char *name, int32_t *values, int count)
{
    FILE *file;
    if (fopen_s(&file, name, "rb") != 0) {
        return -1;
    }
    int32_t buffer[6];
    size_t taken = fread(buffer, sizeof(int32_t), (size_t)count, file);
    fclose(file);
    memcpy(values, buffer, taken * sizeof(int32_t));
    return (int)taken;
}

// Writes `count` values to a temporary beside the file, then puts it in the file's place; on any failure the
// temporary goes and the old file stays as it was.
static int WriteValuesSafely(const char *name, const int32_t *values, int count)
{
    char temporary[MAX_PATH];
    snprintf(temporary, sizeof(temporary), "%s.tmp", name);
    FILE *file;
    if (IsSaveStepFailing(SAVE_STEP_CREATE) || fopen_s(&file, temporary, "wb") != 0) {
        return -1;
    }
    int writeCount = IsSaveStepFailing(SAVE_STEP_WRITE) ? count - 1 : count;
    int written = (int)fwrite(values, sizeof(int32_t), (size_t)writeCount, file) == count && fflush(file) == 0 &&
                  !IsSaveStepFailing(SAVE_STEP_COMMIT) && _commit(_fileno(file)) == 0;
    if (fclose(file) != 0 || IsSaveStepFailing(SAVE_STEP_CLOSE)) {
        written = 0;
    }
    if (written && !IsSaveStepFailing(SAVE_STEP_REPLACE) &&
        MoveFileExA(temporary, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    remove(temporary);
    return -1;
}

void ReadSaveFile(void)
{
    SaveRecord record = g_Game.SaveData;
    int taken = ReadValues(SAVE_FILE_NAME, (int32_t *)&record, 6);
    if (taken < 0) {
        return;
    }
    // Out-of-range values would index past the event tables or break the seven digits: take none of them.
    int stage = (int8_t)(record.FurthestStage & 0xFF);
    if ((taken >= 1 && record.HighScore > SCORE_LIMIT) || (taken >= 2 && (stage < -1 || stage > 5))) {
        return;
    }
    g_Game.SaveData = record;
    if (record.HighScore > g_Game.HighScore) {
        g_Game.HighScore = record.HighScore;
    }
    g_Game.FurthestStageCleared = (int8_t)stage;
}

int WriteSaveFile(void)
{
    g_Game.SaveData.HighScore = g_Game.HighScore;
    g_Game.SaveData.FurthestStage = g_Game.FurthestStageCleared;
    return WriteValuesSafely(SAVE_FILE_NAME, (const int32_t *)&g_Game.SaveData, 6);
}

void ReadOptionFile(void)
{
    ReadValues(OPTION_FILE_NAME, g_Game.OptionData, 2);
    if (g_Game.OptionData[0] == 1) {
        ChangeWindowMode(0);
    }
}

int WriteOptionFile(void)
{
    return WriteValuesSafely(OPTION_FILE_NAME, g_Game.OptionData, 2);
}
