// The test program's side of the game (compiled into QvGameTest only): its command line, pad bits from an input
// file, the pacing switch, the per-frame state hash and value dump, the effects and music noted for the dump, the
// hold at a chosen frame for a screenshot, the frame limit, the software screen, a save written after a chosen
// frame (as game over and stage clear write it) and one failing step of every safe write. Window thread.
//   --dir DIR  --multi  --input FILE  --no-pacing  --hash FILE  --dump FILE  --frames N  --stop-at N  --software
//   --save-at N  --fail-save create|write|commit|close|replace  --start D,S  --bot D  --bot-give-up S  --record FILE
//   and the whole-run options of test_runs.cpp
//   --frame-costs FILE  --bare (test_frame_costs.cpp)
//   --soak SECONDS  --reinit-every SECONDS  --mode-switch-every SECONDS (test_soak.cpp)
// --bot D lets the bot play (difficulty D from the menus) instead of the input file; --record FILE writes the pad
// bits of every frame the test program supplied, as an input file that replays the run.
// Exit codes besides the game's own: 2 an option that cannot be used, 3 an input file that cannot be read or has a
// malformed line (also written to FILE.err), 4 no "release" file within 120 s of a hold.
#include "game/game_state.h"

#include "graphics/graphics.h"
#include "graphics/graphics_test_hooks.h"

#include <direct.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#define HOLD_TIMEOUT_MILLISECONDS 120000
#define EXIT_BAD_INPUT 3
#define EXIT_HOLD_TIMEOUT 4
#define EXIT_BAD_OPTION 2

struct PadRun {
    unsigned int bits;
    long count;
};

struct TestBuildState {
    bool inputFromFile = false;
    bool bot = false;
    int botDifficulty = 1;
    int botGiveUpStage = -1;
    FILE *recordFile = nullptr;
    unsigned int recordBits = 0; // the run of equal bits not yet written
    long recordCount = 0;
    std::vector<PadRun> padRuns;
    size_t padRunIndex = 0;
    long padRunUsed = 0;
    bool pacingOff = false;
    bool pictureSkipped = false; // this frame's stage picture was left undrawn
    FILE *hashFile = nullptr;
    FILE *dumpFile = nullptr;
    long lastFrame = 0; // 0: no limit
    long stopFrame = 0; // 0: no hold
    long saveFrame = 0; // 0: no save written by the test program
    int failingStep = -1;
    int startDifficulty = -1; // -1: the game opens on its title
    int startStage = 0;
    long frame = 0;
    std::string effects; // resource ids played this frame, comma-separated
    std::string music;   // the resource id loaded this frame
};

static TestBuildState s_Test;

static const char *const SAVE_STEP_NAMES[] = {"create", "write", "commit", "close", "replace"};

// The command-line tail split at blanks; double quotes keep blanks inside a word.
static std::vector<std::string> SplitCommandLine(const char *text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char *p = text != nullptr ? text : ""; *p != '\0'; p++) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += *p;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

int ReadTestNumber(const char *text, long low, long high, long *value)
{
    char *end;
    errno = 0;
    long number = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || number < low || number > high) {
        return 0;
    }
    *value = number;
    return 1;
}

// A count of frames: a positive number.
static bool ParseCount(const std::string &text, long *value)
{
    return ReadTestNumber(text.c_str(), 1, LONG_MAX, value) != 0;
}

// One line of the input file: a hexadecimal bit set, optionally "*N"; "#" starts a comment. Answers false for a
// malformed line; a blank one gives a run of 0 frames.
static bool ParsePadLine(std::string line, PadRun *run)
{
    line = line.substr(0, line.find('#'));
    size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        *run = {0, 0};
        return true;
    }
    line = line.substr(first, line.find_last_not_of(" \t\r\n") + 1 - first);
    std::string bits = line.substr(0, line.find('*'));
    run->count = 1;
    if (bits.size() < line.size() && !ParseCount(line.substr(bits.size() + 1), &run->count)) {
        return false;
    }
    while (!bits.empty() && (bits.back() == ' ' || bits.back() == '\t')) {
        bits.pop_back();
    }
    if (bits.size() > 2 && bits[0] == '0' && (bits[1] == 'x' || bits[1] == 'X')) {
        bits = bits.substr(2);
    }
    if (bits.empty() || bits.size() > 8 || bits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    run->bits = (unsigned int)strtoul(bits.c_str(), nullptr, 16);
    return true;
}

// Reads the whole input file; a malformed line is reported on stderr and in FILE.err.
static bool ReadInputFile(const std::string &name)
{
    FILE *file;
    if (fopen_s(&file, name.c_str(), "rb") != 0) {
        fprintf(stderr, "%s: cannot open the input file\n", name.c_str());
        return false;
    }
    char text[1024];
    int lineNumber = 0;
    bool good = true;
    while (good && fgets(text, sizeof(text), file) != nullptr) {
        lineNumber++;
        PadRun run;
        good = ParsePadLine(text, &run);
        if (good && run.count > 0) {
            s_Test.padRuns.push_back(run);
        }
    }
    fclose(file);
    if (!good) {
        char message[1200];
        snprintf(message, sizeof(message), "%s:%d: malformed input line: %s", name.c_str(), lineNumber, text);
        if (message[strlen(message) - 1] != '\n') {
            strcat_s(message, sizeof(message), "\n");
        }
        fputs(message, stderr);
        FILE *report;
        if (fopen_s(&report, (name + ".err").c_str(), "wb") == 0) {
            fputs(message, report);
            fclose(report);
        }
    }
    return good;
}

static FILE *OpenAppending(const std::string &name)
{
    FILE *file;
    return fopen_s(&file, name.c_str(), "ab") == 0 ? file : nullptr;
}

// The run of equal bits noted last, as one input-file line.
static void FlushRecord(void)
{
    if (s_Test.recordFile == nullptr || s_Test.recordCount == 0) {
        return;
    }
    if (s_Test.recordCount == 1) {
        fprintf(s_Test.recordFile, "%x\n", s_Test.recordBits);
    } else {
        fprintf(s_Test.recordFile, "%x*%ld\n", s_Test.recordBits, s_Test.recordCount);
    }
    fflush(s_Test.recordFile);
    s_Test.recordCount = 0;
}

static void RecordBits(unsigned int bits)
{
    if (s_Test.recordCount > 0 && bits != s_Test.recordBits) {
        FlushRecord();
    }
    s_Test.recordBits = bits;
    s_Test.recordCount++;
}

static bool ParseIndex(const std::string &text, int low, int high, int *value)
{
    long number;
    if (!ReadTestNumber(text.c_str(), low, high, &number)) {
        return false;
    }
    *value = (int)number;
    return true;
}

// Starts from no options at every call, closing what an earlier call opened.
int StartTestBuild(const char *commandLine)
{
    FlushRecord();
    for (FILE *file : {s_Test.hashFile, s_Test.dumpFile, s_Test.recordFile}) {
        if (file != nullptr) {
            fclose(file);
        }
    }
    s_Test = TestBuildState();
    ResetRunChecks();
    ResetFrameCosts();
    std::vector<std::string> words = SplitCommandLine(commandLine);
    // The working folder first, wherever it stands, so that every other name on the line is the run's own.
    for (size_t i = 0; i + 1 < words.size(); i++) {
        if (words[i] == "--dir" && _chdir(words[i + 1].c_str()) != 0) {
            fprintf(stderr, "QvGameTest: cannot change to %s\n", words[i + 1].c_str());
            return EXIT_BAD_OPTION;
        }
    }
    for (size_t i = 0; i < words.size(); i++) {
        const std::string &option = words[i];
        bool hasValue = i + 1 < words.size();
        const std::string value = hasValue ? words[i + 1] : "";
        bool good = true;
        int taken = 0;
        for (int (*take)(const char *, const char *) : {TakeRunOption, TakeSoakOption, TakeFrameCostOption}) {
            taken = taken != 0 ? taken : take(option.c_str(), hasValue ? value.c_str() : nullptr);
        }
        if (taken > 0) {
            i += taken - 1;
            continue;
        } else if (taken < 0) {
            good = false;
        } else if (option == "--multi") {
            SetAllowMultipleInstances(1);
            continue;
        } else if (option == "--no-pacing") {
            s_Test.pacingOff = true;
            continue;
        } else if (option == "--software") {
            SetUseDirect3D(0);
            continue;
        } else if (!hasValue) {
            good = false;
        } else if (option == "--dir") {
            // taken before the others
        } else if (option == "--input") {
            s_Test.inputFromFile = true;
            if (!ReadInputFile(value)) {
                return EXIT_BAD_INPUT;
            }
        } else if (option == "--bot") {
            s_Test.bot = good = ParseIndex(value, 0, 3, &s_Test.botDifficulty);
        } else if (option == "--bot-give-up") {
            good = ParseIndex(value, 0, STAGE_COUNT - 1, &s_Test.botGiveUpStage);
        } else if (option == "--record") {
            good = (s_Test.recordFile = OpenAppending(value)) != nullptr;
        } else if (option == "--hash") {
            good = (s_Test.hashFile = OpenAppending(value)) != nullptr;
        } else if (option == "--dump") {
            good = (s_Test.dumpFile = OpenAppending(value)) != nullptr;
        } else if (option == "--frames") {
            good = ParseCount(value, &s_Test.lastFrame);
        } else if (option == "--stop-at") {
            good = ParseCount(value, &s_Test.stopFrame);
        } else if (option == "--save-at") {
            good = ParseCount(value, &s_Test.saveFrame);
        } else if (option == "--start") {
            char *end;
            s_Test.startDifficulty = (int)strtol(value.c_str(), &end, 10);
            good = *end == ',';
            if (good) {
                s_Test.startStage = (int)strtol(end + 1, &end, 10);
            }
            good = good && *end == '\0' && s_Test.startDifficulty >= 0 && s_Test.startDifficulty <= 3 &&
                   s_Test.startStage >= 0 && s_Test.startStage < STAGE_COUNT;
        } else if (option == "--fail-save") {
            good = false;
            for (int step = SAVE_STEP_CREATE; step <= SAVE_STEP_REPLACE; step++) {
                if (value == SAVE_STEP_NAMES[step]) {
                    s_Test.failingStep = step;
                    good = true;
                }
            }
        } else {
            good = false;
        }
        if (!good) {
            fprintf(stderr, "QvGameTest: cannot use option %s %s\n", option.c_str(), value.c_str());
            return EXIT_BAD_OPTION;
        }
        i++;
    }
    if (s_Test.bot) {
        StartBot(s_Test.botDifficulty, s_Test.botGiveUpStage);
    }
    StartSoak(s_Test.bot ? s_Test.botDifficulty : -1);
    if (s_Test.recordFile != nullptr) {
        static bool registered = false;
        if (!registered) {
            atexit(FlushRecord);
            registered = true;
        }
        fputs("# pad bits recorded by the test program\n", s_Test.recordFile);
    }
    return -1;
}

int TakeTestPadBits(unsigned int *bits)
{
    if (!s_Test.inputFromFile && !s_Test.bot) {
        return 0;
    }
    *bits = 0;
    if (s_Test.bot) {
        *bits = ChooseBotPadBits();
    } else if (s_Test.padRunIndex < s_Test.padRuns.size()) {
        const PadRun &run = s_Test.padRuns[s_Test.padRunIndex];
        *bits = run.bits;
        if (++s_Test.padRunUsed == run.count) {
            s_Test.padRunIndex++;
            s_Test.padRunUsed = 0;
        }
    }
    RecordBits(*bits);
    return 1;
}

int IsPacingOff(void)
{
    return s_Test.pacingOff;
}

static void AppendNote(std::string *notes, int resourceId)
{
    if (!notes->empty()) {
        *notes += ',';
    }
    *notes += std::to_string(resourceId);
}

void NoteEffectPlayed(int resourceId)
{
    AppendNote(&s_Test.effects, resourceId);
}

void NoteMusicLoaded(int resourceId)
{
    AppendNote(&s_Test.music, resourceId);
}

int IsSaveStepFailing(int step)
{
    return step == s_Test.failingStep;
}

void ApplyTestStart(void)
{
    if (s_Test.startDifficulty < 0) {
        return;
    }
    ChooseDifficulty(s_Test.startDifficulty);
    g_Game.StageIndex = (int8_t)s_Test.startStage;
    StartStage(1);
    g_Game.MainState = 100;
}

static void HashBytes(uint64_t *hash, const void *data, size_t size)
{
    const unsigned char *bytes = (const unsigned char *)data;
    for (size_t i = 0; i < size; i++) {
        *hash = (*hash ^ bytes[i]) * 0x100000001B3ull;
    }
}

// 64-bit FNV-1a over the game's own values as they lie in memory, then the stage's records in use field by field
// (a record's padding is no state).
static uint64_t HashGameState(void)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    HashBytes(&hash, &g_Game, sizeof(g_Game));
    for (int i = 0; i < StageObjectCount[g_Game.StageIndex]; i++) {
        const ObjectRecord &r = ObjectTable[i];
        int32_t fields[] = {r.type,       r.state,      r.homeState,   r.hp,     r.anim,        r.baseAnim,
                            r.frame,      r.animTick,   r.appearTime,  r.updateTick, r.period, r.savedPeriod,
                            r.x,          r.y,          r.w,           r.h,      r.scoreValue,  r.contactDamage};
        HashBytes(&hash, fields, sizeof(fields));
    }
    return hash;
}

static void WriteDumpLine(FILE *file)
{
    const GameGlobals &g = g_Game;
    fprintf(file,
            "frame=%ld MainState=%d MenuCursor=%d FrameTarget=%d ButtonMode=%d,%d,%d,%d QuitFlag=%d "
            "DifficultyIndex=%d AttackPower=%d DamageMultiplier=%d HighScore=%d FurthestStageCleared=%d "
            "ClearFlags=%d,%d,%d,%d OptionData=%d,%d CurrentTrack=%d PictureHandle=%d effects=%s music=%s "
            "graphs=%d",
            s_Test.frame, g.MainState, (int)g.MenuCursor, (int)g.FrameTarget, g.ButtonMode[0], g.ButtonMode[1],
            g.ButtonMode[2], g.ButtonMode[3], g.QuitFlag, g.DifficultyIndex, g.AttackPower, g.DamageMultiplier,
            (int)g.HighScore, g.FurthestStageCleared, (int)g.SaveData.ClearFlags[0], (int)g.SaveData.ClearFlags[1],
            (int)g.SaveData.ClearFlags[2], (int)g.SaveData.ClearFlags[3], (int)g.OptionData[0], (int)g.OptionData[1],
            g.CurrentTrack, g_Handles.PictureHandle != -1, s_Test.effects.c_str(), s_Test.music.c_str(),
            GetGraphTableCount());
    fprintf(file,
            "  StageIndex=%d StageTime=%d StageWindowStart=%d StageTickFrames=%d ScrollX=%d ScrollWait=%d Score=%d "
            "ExtraLifeThreshold=%d Lives=%d ContinuedFlag=%d PlayerX=%d PlayerY=%d PlayerHP=%d PlayerFacing=%d "
            "PlayerAnimRow=%d PlayerAnimFrame=%d PlayerAnimTick=%d PlayerAttacking=%d PlayerHurt=%d JumpRising=%d "
            "JumpCounter=%d StrikeMode=%d InvulnerableFlag=%d InvulnerableTimer=%d BossPhase=%d "
            "BossHealthDisplay=%d ClearState=%d IntroState=%d IntroX=%d IntroY=%d SequenceTimer=%d PauseFlag=%d "
            "MissState=%d EventState=%d InGallery=%d PictureIndex=%d PageStart=%d PageLength=%d PageBlack=%d "
            "TextWindowHidden=%d MenuColumn=%d GalleryTextOff=%d objects=",
            g.StageIndex, (int)g.StageTime, (int)g.StageWindowStart, (int)g.StageTickFrames, (int)g.ScrollX,
            (int)g.ScrollWait, (int)g.Score, (int)g.ExtraLifeThreshold, g.Lives, g.ContinuedFlag, (int)g.PlayerX,
            (int)g.PlayerY, g.PlayerHP, g.PlayerFacing, g.PlayerAnimRow, g.PlayerAnimFrame, (int)g.PlayerAnimTick,
            g.PlayerAttacking, g.PlayerHurt, g.JumpRising, g.JumpCounter, g.StrikeMode, g.InvulnerableFlag,
            (int)g.InvulnerableTimer, g.BossPhase, g.BossHealthDisplay, g.ClearState, g.IntroState, (int)g.IntroX,
            (int)g.IntroY, (int)g.SequenceTimer, g.PauseFlag, g.MissState, g.EventState, g.InGallery, g.PictureIndex,
            (int)g.PageStart, (int)g.PageLength, g.PageBlack, g.TextWindowHidden, (int)g.MenuColumn,
            (int)g.GalleryTextOff);
    // The records that take part: index:type:state:anim:frame:x:y:w:h:hp, separated by ";".
    const char *separator = "";
    for (int i = 0; g.MainState <= 0 && i < StageObjectCount[g.StageIndex]; i++) {
        if (IsObjectActive(i)) {
            const ObjectRecord &r = ObjectTable[i];
            fprintf(file, "%s%d:%d:%d:%d:%d:%d:%d:%d:%d:%d", separator, i, r.type, r.state, r.anim, r.frame,
                    (int)r.x, (int)r.y, (int)r.w, (int)r.h, r.hp);
            separator = ";";
        }
    }
    fputc('\n', file);
    fflush(file);
}

static bool FileExists(const char *name)
{
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

// Keeps the frame on screen (pumping, running no frame) until the harness has taken its screenshot and says so
// with the file "release". Answers -1 to go on, else the run's exit code.
static int HoldFrame(void)
{
    FILE *held;
    if (fopen_s(&held, "held", "wb") == 0) {
        fprintf(held, "%ld\n", s_Test.frame);
        fclose(held);
    }
    DWORD start = GetTickCount();
    while (!FileExists("release")) {
        if (GetTickCount() - start > HOLD_TIMEOUT_MILLISECONDS) {
            return EXIT_HOLD_TIMEOUT;
        }
        if (ProcessWindowMessages() != 0) {
            return 0;
        }
        Sleep(20);
    }
    DeleteFileA("held");
    DeleteFileA("release");
    return -1;
}

int EndTestFrame(void)
{
    s_Test.frame++;
    if (s_Test.hashFile != nullptr) {
        fprintf(s_Test.hashFile, "%ld %016llx\n", s_Test.frame, (unsigned long long)HashGameState());
        fflush(s_Test.hashFile);
    }
    if (s_Test.dumpFile != nullptr) {
        WriteDumpLine(s_Test.dumpFile);
    }
    s_Test.effects.clear();
    s_Test.music.clear();
    s_Test.pictureSkipped = false;
    if (s_Test.frame == s_Test.saveFrame) {
        WriteSaveFile();
    }
    int ended = EndRunFrame(s_Test.frame);
    if (ended < 0 && s_Test.frame == s_Test.stopFrame) {
        ended = HoldFrame();
    }
    if (ended < 0 && s_Test.frame == s_Test.lastFrame) {
        ended = 0;
    }
    return ended < 0 ? SoakFrame() : ended;
}

// A held frame's stage picture is always drawn; a frame whose stage picture was left out is not flipped either.
int IsStagePictureDue(void)
{
    long frame = s_Test.frame + 1;
    s_Test.pictureSkipped = frame != s_Test.stopFrame && !IsRunFrameDrawn(frame);
    return !s_Test.pictureSkipped;
}

int IsFlipDue(void)
{
    return !s_Test.pictureSkipped;
}
