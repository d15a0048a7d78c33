// The program's entry: start-up (engine, option file, colours, font, sprite sheets, sound effects, the new-game
// state, the save file), the paced frame loop (input phase, game frame, flip, pacing) and the shut-down. The
// input phase turns the pad bit set and joystick 1 into the game's input bytes by the button modes. Window thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"
#include "input/input.h"
#include "sound/sound.h"

#include <string.h>

GameGlobals g_Game;
GameHandles g_Handles;
ObjectRecord ObjectTable[STAGE_RECORD_LIMIT];

#define JOYSTICK_LOW 16383
#define JOYSTICK_HIGH 49151
#define CLOCK_MASK 0x7FFFFFFF

static const int EFFECT_VOLUMES[SOUND_EFFECT_COUNT] = {255, 102, 102, 255, 255, 102, 102, 102};

// One button's latch by its mode: 0 level, any other value edge; button 1 alone is switched off (latch cleared,
// held set) by a value other than 0 and 1, so that a press still down must be released before it counts again.
static void LatchButton(int button, int down, uint8_t *held)
{
    int mode = g_Game.ButtonMode[button];
    if (button == 0 && mode != 0 && mode != 1) {
        g_Game.ButtonLatch[0] = 0;
        *held = 1;
    } else if (mode == 0) {
        if (down) {
            g_Game.ButtonLatch[button] = 1;
        }
    } else if (!down) {
        *held = 0;
    } else if (!*held) {
        *held = 1;
        g_Game.ButtonLatch[button] = 1;
    }
}

// Buttons 1-4 from bits 0-3; button 2 is neither latched nor forgotten while the game is paused.
static void LatchButtons(unsigned int buttons, uint8_t held[4])
{
    for (int button = 0; button < 4; button++) {
        if (button == 1 && g_Game.PauseFlag != 0) {
            continue;
        }
        LatchButton(button, (buttons >> button) & 1, &held[button]);
    }
}

// The pad bit set: directions in the order left, right, up, down, so that right and down win.
void ApplyPadBits(unsigned int bits)
{
    if (bits & 0x02) {
        g_Game.InputHorizontal = 1;
    }
    if (bits & 0x04) {
        g_Game.InputHorizontal = 2;
    }
    if (bits & 0x08) {
        g_Game.InputVertical = 1;
    }
    if (bits & 0x01) {
        g_Game.InputVertical = 2;
    }
    LatchButtons(bits >> 4, g_Game.ButtonHeld);
}

// Joystick 1 only adds to what the pad read set; positions 16383..49151 are no direction.
void ApplyJoystickState(const JOYINFOEX *info)
{
    if (info->dwYpos < JOYSTICK_LOW) {
        g_Game.InputVertical = 1;
    } else if (info->dwYpos > JOYSTICK_HIGH) {
        g_Game.InputVertical = 2;
    }
    if (info->dwXpos < JOYSTICK_LOW) {
        g_Game.InputHorizontal = 1;
    } else if (info->dwXpos > JOYSTICK_HIGH) {
        g_Game.InputHorizontal = 2;
    }
    LatchButtons(info->dwButtons & 0x0F, g_Game.JoystickHeld);
}

int PollJoystick(void)
{
    JOYINFOEX info = {};
    info.dwSize = sizeof(info);
    info.dwFlags = JOY_RETURNX | JOY_RETURNY | JOY_RETURNBUTTONS;
    if (joyGetPosEx(JOYSTICKID1, &info) != JOYERR_NOERROR) {
        return -1;
    }
    ApplyJoystickState(&info);
    return 0;
}

void ForgetFrameInput(void)
{
    g_Game.InputHorizontal = 0;
    g_Game.InputVertical = 0;
    memset(g_Game.ButtonLatch, 0, sizeof(g_Game.ButtonLatch));
}

// The rest of the frame time on the 31-bit millisecond clock, safe across its wrap: a frame that overran the
// target, or a clock that seems to have gone back, gives 0, never a sleep longer than the target.
int PacingSleepTime(int frameStart, int now, int frameTarget)
{
    int64_t elapsed = (int64_t)(((uint32_t)now - (uint32_t)frameStart) & CLOCK_MASK);
    int64_t remaining = (int64_t)frameTarget - elapsed;
    return remaining > 0 && remaining <= frameTarget ? (int)remaining : 0;
}

// The sheets are drawn hundreds of cells a frame: each is kept whole in one texture, so that a frame's cells go to
// the device in a few batches rather than one draw per change of texture piece.
static void LoadStartupResources(void)
{
    SetTextureNeverSplit(1);
    LoadDivGraphFromResource(MAKEINTRESOURCEA(102), "PNG", SPRITE_CELL_COUNT, 20, 14, 32, 32, g_Handles.SpriteCells);
    LoadDivGraphFromResource(MAKEINTRESOURCEA(103), "PNG", TILE_CELL_COUNT, 20, 9, 32, 32, g_Handles.TileCells);
    LoadDivGraphFromResource(MAKEINTRESOURCEA(104), "PNG", THUMBNAIL_CELL_COUNT, 5, 2, 128, 96,
                             g_Handles.ThumbnailCells);
    for (int i = 0; i < SOUND_EFFECT_COUNT; i++) {
        g_Handles.SoundEffects[i] = LoadSoundFromResource(MAKEINTRESOURCEA(300 + i), "SE", 1);
    }
    for (int i = 0; i < SOUND_EFFECT_COUNT; i++) {
        SetSoundVolume255(EFFECT_VOLUMES[i], g_Handles.SoundEffects[i]);
    }
}

// One pass: Escape, input phase, frame, flip, pacing. Answers -1 to go on, else the run's exit code.
static int RunFrame(void)
{
    if (IsKeyDown(1) != 0) {
        return 0;
    }
    int frameStart = GetNowMilliCount();
    unsigned int bits;
    if (TakeTestPadBits(&bits)) {
        ApplyPadBits(bits);
    } else {
        ApplyPadBits(GetPadInput(0x1001));
        PollJoystick();
    }
    GameFrame();
    FlipScreen();
    int ended = EndTestFrame();
    ForgetFrameInput();
    int wait = IsPacingOff() ? 0 : PacingSleepTime(frameStart, GetNowMilliCount(), g_Game.FrameTarget);
    if (wait > 0) {
        Sleep((DWORD)wait);
    }
    if (ended >= 0) {
        return ended;
    }
    if (g_Game.QuitFlag == 1 || ProcessWindowMessages() != 0) {
        return 0;
    }
    return -1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    int early = StartTestBuild(commandLine);
    if (early >= 0) {
        return early;
    }
    SetMainWindowTitle("VELLOMIR -囚われたソラネラ- Ver1.00");
    ChangeWindowMode(1);
    if (InitEngine() != 0) {
        return -1;
    }
    SetWindowResizable(1, 1);
    SetAllowMultipleInstances(0);
    ReadOptionFile();
    g_Handles.ColorBlack = MakeScreenColor(0, 0, 0);
    g_Handles.ColorWhite = MakeScreenColor(255, 255, 255);
    SetDefaultFontType(0);
    SetDefaultFontSize(16);
    DrawStringDefault(0, 0, "ＮＯＷ ＬＯＡＤＩＮＧ・・・・", g_Handles.ColorWhite, 0);
    LoadStartupResources();
    StartStage(0);
    ReadSaveFile();
    SetDrawTarget(-2);
    ApplyTestStart();

    int exitCode = 0;
    if (ProcessWindowMessages() == 0) {
        do {
            exitCode = RunFrame();
        } while (exitCode < 0);
    }
    ReleaseAllGraphHandles(0);
    DeleteAllSoundHandles(0);
    EndEngine();
    return exitCode;
}
