// The game's state and the calls between its files. Everything the game remembers from frame to frame lives in
// two plain structs: `g_Game`, the game's own values (what a frame hash, a state dump, a replay and a bot read),
// and `g_Handles`, the engine handles and colour values start-up and the title side hold, which differ from run
// to run and so stay out of the hash. Fields carry the names the game's design gives its globals. Window thread
// only: the game runs wholly inside the main loop.
#pragma once

#include "core/core.h"

#include <mmsystem.h>
#include <stddef.h>
#include <stdint.h>

#define SPRITE_CELL_COUNT 280
#define TILE_CELL_COUNT 180
#define THUMBNAIL_CELL_COUNT 10
#define SOUND_EFFECT_COUNT 8
#define SCORE_LIMIT 9999999

// Sound effects by index (resource id - 300).
enum SoundEffectIndex { EFFECT_CURSOR = 6 };

// "Save.Dat" as it lies on disk and in memory: six little-endian 32-bit values.
struct SaveRecord {
    int32_t HighScore;
    int32_t FurthestStage; // only its low byte is read back
    int32_t ClearFlags[4]; // by DifficultyIndex
};

// The game's own values, zero unless a start value is given. 32-bit fields first, then the bytes, so that the
// struct has no padding inside it and its bytes can be hashed as they lie.
struct GameGlobals {
    // Pacing and the title side.
    int32_t FrameTarget = 0;
    int32_t MenuCursor = 0;
    int32_t MenuColumn = 0;
    int32_t GalleryTextOff = 0;
    // Score and records.
    int32_t HighScore = 0;
    int32_t Score = 0;
    int32_t ExtraLifeThreshold = 0;
    SaveRecord SaveData = {0, -1, {0, 0, 0, 0}};
    int32_t OptionData[2] = {0, 0};
    // Input bytes of the frame and the latch memory.
    uint8_t InputHorizontal = 0; // 0 none, 1 left, 2 right
    uint8_t InputVertical = 0;   // 0 none, 1 up, 2 down
    uint8_t ButtonLatch[4] = {0, 0, 0, 0};
    int8_t ButtonMode[4] = {0, 1, 0, 1}; // 0 level, 1 edge, 2 (button 1 only) off until released
    uint8_t ButtonHeld[4] = {0, 0, 0, 0};
    uint8_t JoystickHeld[4] = {0, 0, 0, 0};
    uint8_t QuitFlag = 0;
    int8_t PauseFlag = 0;
    // Title side and play hand-over.
    int8_t MainState = 10;
    int8_t MissState = 0;
    int8_t EventState = 0;
    uint8_t InGallery = 0;
    int8_t AttackPower = 2; // NORMAL's three bytes until a difficulty is chosen
    int8_t DamageMultiplier = 1;
    int8_t DifficultyIndex = 1;
    int8_t FurthestStageCleared = -1;
    int8_t StageIndex = 0;
    int8_t CurrentTrack = 99; // no track yet
    uint8_t Reserved[2] = {0, 0};
};
static_assert(offsetof(GameGlobals, Reserved) + sizeof(GameGlobals::Reserved) == sizeof(GameGlobals),
              "the game's values leave no padding to hash");

struct GameHandles {
    unsigned int ColorBlack = 0;
    unsigned int ColorWhite = 0;
    EngineHandle SpriteCells[SPRITE_CELL_COUNT] = {};
    EngineHandle TileCells[TILE_CELL_COUNT] = {};
    EngineHandle ThumbnailCells[THUMBNAIL_CELL_COUNT] = {};
    EngineHandle SoundEffects[SOUND_EFFECT_COUNT] = {};
    EngineHandle MusicHandle = 0;
    EngineHandle PictureHandle = -1; // the one full-screen picture held, -1 for none
};

extern GameGlobals g_Game;
extern GameHandles g_Handles;

// Entry and main loop (main_loop.cpp): the input phase, the joystick poll and the pacing rule.
void ApplyPadBits(unsigned int bits);
void ApplyJoystickState(const JOYINFOEX *info);
int PollJoystick(void);
int PacingSleepTime(int frameStart, int now, int frameTarget);

// Frame step (frame_step.cpp).
void GameFrame(void);

// Save and option files (save_files.cpp). The writes answer 0, or -1 when the old file was kept.
void ReadSaveFile(void);
int WriteSaveFile(void);
void ReadOptionFile(void);
int WriteOptionFile(void);

// Music and sound effects (music.cpp).
void SwitchMusic(int8_t track);
void PlayEffect(int index);

// Title, difficulty and option menus (title_menus.cpp).
void TitleFrame(void);
void DrawTitleScreen(void);
void DrawFramedWindow(int x, int y, int width, int height);

// Gallery (gallery.cpp) and stage start (stage_start.cpp).
void GalleryEntryFrame(void);
void DrawGallery(void);
void StartStage(int8_t mode);

// The test build's hooks (test_build.cpp, compiled into the test program only); the program proper gets the
// inline forms, which do nothing.
enum SaveWriteStep { SAVE_STEP_CREATE, SAVE_STEP_WRITE, SAVE_STEP_COMMIT, SAVE_STEP_CLOSE, SAVE_STEP_REPLACE };
#ifdef QV_GAME_TEST
int StartTestBuild(const char *commandLine); // -1 to go on, else the exit code to return before InitEngine
int TakeTestPadBits(unsigned int *bits);     // 1 when the frame's bits come from the input file
int IsPacingOff(void);
int EndTestFrame(void); // after the flip; -1 to go on, else the run ends with this exit code
void NoteEffectPlayed(int resourceId);
void NoteMusicLoaded(int resourceId);
int IsSaveStepFailing(int step);
#else
static inline int StartTestBuild(const char *)
{
    return -1;
}
static inline int TakeTestPadBits(unsigned int *)
{
    return 0;
}
static inline int IsPacingOff(void)
{
    return 0;
}
static inline int EndTestFrame(void)
{
    return -1;
}
static inline void NoteEffectPlayed(int)
{
}
static inline void NoteMusicLoaded(int)
{
}
static inline int IsSaveStepFailing(int)
{
    return 0;
}
#endif
