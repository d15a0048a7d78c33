// The game's state and the calls between its files. Everything the game remembers from frame to frame lives in
// two plain structs: `g_Game`, the game's own values (what a frame hash, a state dump, a replay and a bot read),
// and `g_Handles`, the engine handles and colour values start-up and the title side hold, which differ from run
// to run and so stay out of the hash. Fields carry the names the game's design gives its globals. Window thread
// only: the game runs wholly inside the main loop.
#pragma once

#include "core/core.h"
#include "game/event_scripts.h"
#include "game/stage_tables.h"

#include <mmsystem.h>
#include <stddef.h>
#include <stdint.h>

#define SPRITE_CELL_COUNT 280
#define TILE_CELL_COUNT 180
#define THUMBNAIL_CELL_COUNT 10
#define SOUND_EFFECT_COUNT 8
#define SCORE_LIMIT 9999999

#define GONE_STATE 127       // an object record that takes no part
#define NO_CELL (-1)         // an animation cell that draws nothing
#define GROUND_Y 320         // the player's feet line
#define BOSS_GAUGE_CELLS 42  // the most cells a health gauge shows

// Sound effects by index (resource id - 300).
enum SoundEffectIndex {
    EFFECT_HIT = 0,
    EFFECT_JUMP = 1,
    EFFECT_ATTACK = 2,
    EFFECT_BLAST = 3,
    EFFECT_SHOT = 4,
    EFFECT_DROP = 5,
    EFFECT_CURSOR = 6,
    EFFECT_EXTRA_LIFE = 7
};

// Music tracks by index (resource id - 201).
enum MusicTrack {
    TRACK_TITLE = 0,
    TRACK_STAGE = 1,
    TRACK_BOSS = 2,
    TRACK_EVENT = 3,
    TRACK_MISS = 4,
    TRACK_LAST_BOSS = 5,
    TRACK_CLEAR = 6,
    TRACK_GALLERY = 8
};

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
    // The event player's page: its first entry in ActiveScript and the entries it takes (999: the last page).
    int32_t PageStart = 0;
    int32_t PageLength = 0;
    // Score and records.
    int32_t HighScore = 0;
    int32_t Score = 0;
    int32_t ExtraLifeThreshold = 0;
    SaveRecord SaveData = {0, -1, {0, 0, 0, 0}};
    int32_t OptionData[2] = {0, 0};
    // Stage clock, scroll and the sequences framing a stage.
    int32_t StageTime = 0;
    int32_t StageWindowStart = 0;
    int32_t StageTickFrames = 0;
    int32_t ScrollX = 0;
    int32_t ScrollWait = 0;
    int32_t SequenceTimer = 0;
    int32_t IntroX = 0;
    int32_t IntroY = 0;
    uint32_t RandomState = 1; // the game's own random sequence, seeded as the C runtime's
    // The player.
    int32_t PlayerX = 0;
    int32_t PlayerY = 0;
    int32_t PlayerAnimTick = 0;
    int32_t InvulnerableTimer = 0;
    int16_t BossHealthDisplay = 0;
    int8_t PlayerHP = 0;
    uint8_t PlayerFacing = 0; // 0 right, 1 left
    int8_t PlayerAnimRow = 0;
    int8_t PlayerAnimFrame = 0;
    uint8_t JumpRising = 0;
    int8_t JumpCounter = 0;
    uint8_t PlayerAttacking = 0;
    uint8_t PlayerHurt = 0;
    uint8_t StrikeMode = 0; // 0 or 2
    uint8_t InvulnerableFlag = 0;
    int8_t Lives = 0;
    int8_t BossPhase = 0; // 0 none, 1 a boss is up, 2 the last stage's boss is up
    int8_t ClearState = 0;
    int8_t IntroState = 0;
    uint8_t ContinuedFlag = 0;
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
    // The event player and the gallery.
    uint8_t PageBlack = 0;        // the page is drawn on black
    uint8_t TextWindowHidden = 0;
    int8_t PictureIndex = 0;      // with text: offset from the event's first picture; else the number above 110
    int8_t GalleryEntryStage = 0; // StageIndex as the gallery found it, put back when its events end
    uint8_t Reserved = 0;
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
// The objects of the stage in play: the first StageObjectCount[StageIndex] records are in use (the record has
// padding, so a hash of it goes field by field).
extern ObjectRecord ObjectTable[STAGE_RECORD_LIMIT];

// Entry and main loop (main_loop.cpp): the input phase, the joystick poll and the pacing rule.
void ApplyPadBits(unsigned int bits);
void ForgetFrameInput(void); // the input bytes of a frame, cleared once the frame is over
void ApplyJoystickState(const JOYINFOEX *info);
int PollJoystick(void);
int PacingSleepTime(int frameStart, int now, int frameTarget);
void LoadSheetGraphs(void); // the sprite, tile and thumbnail sheets into g_Handles

// Frame step (frame_step.cpp). DrawStagePlay draws the stage picture with its heads-up display as the globals
// stand (the drawing half of a stage-play frame).
void GameFrame(void);
void StagePlayFrame(void); // the logic half: what a bot rehearses without drawing
void DrawStagePlay(void);
// Seven digit cells of the tile sheet, 16 pixels apart from x, most significant first (leading zeros shown); the
// value lies within 0..9,999,999.
void DrawSevenDigits(int x, int y, int value);

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
void ReleasePicture(void);          // the full-screen picture held, if any
void ChooseDifficulty(int index); // the difficulty menu's three bytes for EASY (0) .. LUNATIC (3)

// Gallery (gallery.cpp): title states 32 and 35.
void GalleryEntryFrame(void);
void GalleryFrame(void);
void DrawGallery(void);

// Event player (event_player.cpp). Event e's pictures are "CG" 110 + EventPictureBase[e] up to the next event's
// first; ActiveScript is the script being played, up to and including its "END".
extern const int8_t EventPictureBase[STAGE_COUNT + 1];
extern const char *ActiveScript[EVENT_SCRIPT_LENGTH];
void EventFrame(void);
void DrawEventTextPage(void);

// Stage start (stage_start.cpp): a new game (0), a continue (1) or a retry (2); and the way on from a cleared
// stage's event to the next stage.
void StartStage(int8_t mode);
void StartNextStage(void);

// Stage clear, stage intro and miss (stage_sequences.cpp).
void StageIntroFrame(void);
void StageClearFrame(void);
void MissFrame(void);

// Object records and behaviours (objects.cpp). GameRand is the game's random generator: the C runtime's formula
// on RandomState, so that nothing outside the game can shift its sequence.
int IsObjectActive(int index); // takes part this frame: inside the stage window and not gone
void UpdateObjects(void);
int GameRand(void);

// Player character and animation (player.cpp). IsStageHeld: the stage stands still (paused, intro or clear).
int IsStageHeld(void);
void UpdatePlayer(void);
void AnimateObjects(void);
void AnimatePlayer(void);

// Combat and scoring (combat.cpp), with the two sets of states a hit leaves: hurt (6, 7, 15, 16) and knocked away
// (8, 9, 10, 17, 18, 19).
int IsHurtState(int state);
int IsKnockedState(int state);
void CheckPlayerAttack(void);
void StrikeObjectRight(int index);
void StrikeObjectLeft(int index);
void CheckPlayerContact(void);
int IsPointOutsideObject(int index, int x, int y);
void HurtPlayer(int index);
void CheckKnockedObjects(void);
int IsObjectClearOf(int a, int b);
void HitByKnockedRight(int target, int flyer);
void HitByKnockedLeft(int target, int flyer);

// Stage drawing and scrolling (stage_drawing.cpp). A sprite cell outside the sheet (NO_CELL among them) draws
// nothing.
void ScrollBackground(void);
void DrawSpriteCell(int x, int y, int cell, int mirrored);
void DrawSpriteBlock(int rows, int first, int y, int x, int columns);
void DrawSpriteBlockMirrored(int rows, int first, int y, int x, int columns);
void DrawBossHealthBar(void);
void FollowBossHealth(void); // the gauge's value as the bar shows it, kept on a frame left undrawn too

// The test build's hooks (test_build.cpp, compiled into the test program only); the program proper gets the
// inline forms, which do nothing.
enum SaveWriteStep { SAVE_STEP_CREATE, SAVE_STEP_WRITE, SAVE_STEP_COMMIT, SAVE_STEP_CLOSE, SAVE_STEP_REPLACE };
// The marks of a main-loop pass that --frame-costs times: pass start, game frame, stage drawing, flip, flipped,
// paced.
enum FrameCostMark {
    FRAME_COST_START,
    FRAME_COST_GAME,
    FRAME_COST_DRAW,
    FRAME_COST_FLIP,
    FRAME_COST_FLIPPED,
    FRAME_COST_PACED,
    FRAME_COST_MARK_COUNT
};
#ifdef QV_GAME_TEST
int StartTestBuild(const char *commandLine); // -1 to go on, else the exit code to return before InitEngine
int TakeTestPadBits(unsigned int *bits);     // 1 when the frame's bits come from the input file
int IsPacingOff(void);
int EndTestFrame(void); // after the flip; -1 to go on, else the run ends with this exit code
void NoteEffectPlayed(int resourceId);
void NoteMusicLoaded(int resourceId);
int IsSaveStepFailing(int step);
void ApplyTestStart(void); // --start D,S: that difficulty and stage, opened as CONTINUE opens a stage
// The bot (test_bot.cpp): it plays `difficulty` from the menus (CONTINUE after a game over) and, on stage
// `giveUpStage` (-1: none), waits for one game over first. It answers the frame's pad bits from the game's values;
// while it rehearses a move the game plays no sound.
void StartBot(int difficulty, int giveUpStage);
unsigned int ChooseBotPadBits(void);
int IsBotRehearsing(void);
// The option files each take their own options through a taker that answers the words it took from the command
// line (0 none, -1 an option it cannot use; `value` is null at the line's end). ReadTestNumber reads a whole
// decimal number from `low` to `high` that is all of `text`.
int ReadTestNumber(const char *text, long low, long high, long *value);
// Whole runs (test_runs.cpp): EndRunFrame, after a frame's flip, answers -1 to go on
// or the exit code of an end rule; WriteRunReport writes the report as the run's exit does. A stage picture (and
// the flip) may be left out on a frame (IsStagePictureDue).
void ResetRunChecks(void);
void WriteRunReport(void);
int TakeRunOption(const char *option, const char *value);
int IsRunFrameDrawn(long frame);
int EndRunFrame(long frame);
int IsStagePictureDue(void);
int IsFlipDue(void);
// Frame timing (test_frame_costs.cpp): --frame-costs FILE and --bare.
void ResetFrameCosts(void);
int TakeFrameCostOption(const char *option, const char *value);
void NoteFrameCost(FrameCostMark mark);
int RunBareFrame(void); // 1 when --bare cleared the back screen in place of the game frame
// The soak (test_soak.cpp): its options, put in force by StartSoak once the line is read (the bot's difficulty,
// -1 for no bot); SoakFrame runs between frames: -1 to go on, 0 when the soak's time is up.
int TakeSoakOption(const char *option, const char *value);
void StartSoak(int botDifficulty);
int SoakFrame(void);
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
static inline void ApplyTestStart(void)
{
}
static inline int IsBotRehearsing(void)
{
    return 0;
}
static inline int IsStagePictureDue(void)
{
    return 1;
}
static inline int IsFlipDue(void)
{
    return 1;
}
static inline void NoteFrameCost(FrameCostMark)
{
}
static inline int RunBareFrame(void)
{
    return 0;
}
#endif
