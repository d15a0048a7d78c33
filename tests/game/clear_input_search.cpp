// Search tool for recorded play: runs the test build's game code against the engine stand-in (recording off),
// frame by frame as the program's main loop runs it, and searches pad input for one of two goals. By default it
// starts from the start-up state (title, no save file), goes through the menus (START, NORMAL) into stage 0, and
// looks for input that beats the stage's boss and goes through the clear into stage 1's intro. With --start D,S
// it opens stage S on difficulty D as the test program's --start does, and with --survive T,N it looks for input
// that keeps the player alive until the stage clock reaches T seconds and then N more frames. The search is a
// beam over short chunks of one action each: every beam entry is a copy of the game's values and the object
// table, and the entries are ranked by lives, hit points, score and the boss's hit points. The input found is
// written as an input file for the test program's --input (one hex bit set per line, "*N" repeats, "#"
// comments), its first line naming the --start it needs. A test-support tool, not a test: it runs for minutes.
// Single thread.
//   clear_input_search OUTPUT [--start D,S] [--survive T,N] [--beam W] [--chunk N] | --idle
// --idle instead plays stage 0 with no input from the menus and prints its hurts and whether it ended in a game
// over. Writes "Save.Dat" into the working folder when a clear is played (as the game does). Exit 0 on success,
// 1 when no input was found, 2 on a bad command line or an unwritable output.
#include "engine_stand_in.h"

#include "graphics/graphics.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unordered_set>
#include <vector>

#define PAD_DOWN 0x01
#define PAD_LEFT 0x02
#define PAD_RIGHT 0x04
#define PAD_UP 0x08
#define PAD_Z 0x10

#define FRAME_LIMIT 20000         // a stage and its boss take well under half of this
#define FRAMES_AFTER_HAND_OVER 10 // the next stage's intro runs on for a few frames at the end of the input

// One action of a chunk: its first frame's bits, then the bits of the rest (a turn, then an attack).
struct ChunkAction {
    unsigned int first;
    unsigned int rest;
};

static const ChunkAction ACTIONS[] = {
    {0, 0},
    {PAD_LEFT, PAD_LEFT},
    {PAD_RIGHT, PAD_RIGHT},
    {PAD_Z, PAD_Z},
    {PAD_LEFT, PAD_Z},
    {PAD_RIGHT, PAD_Z},
    {PAD_UP, 0},
    {PAD_UP | PAD_LEFT, PAD_LEFT},
    {PAD_UP | PAD_RIGHT, PAD_RIGHT},
};
#define ACTION_COUNT (int)(sizeof(ACTIONS) / sizeof(ACTIONS[0]))

// The menus from the title: START, then one step down from EASY to NORMAL and choose it. Menus latch on edges,
// so the button is released between presses.
static const unsigned int MENU_INPUT[] = {0, 0, 0, PAD_Z, 0, PAD_DOWN, 0, PAD_Z};

// Where the search starts and what it is after.
struct SearchGoal {
    std::string start;     // --start's "D,S", or empty: from the title through the menus
    int startStage = 0;    // the stage played
    int surviveTime = -1;  // the stage clock's second to survive to; -1: clear the stage instead
    int surviveFrames = 0; // frames to survive after the clock reached it
};

static SearchGoal s_Goal;
static int s_FramesPastTime; // frames played since the stage clock reached the goal's second

struct Snapshot {
    GameGlobals game;
    ObjectRecord objects[STAGE_RECORD_LIMIT];
    int framesPastTime;
};

struct BeamEntry {
    Snapshot state;
    double value;
    int parent; // entry index in the previous step
    int action;
};

static void TakeSnapshot(Snapshot *snapshot)
{
    snapshot->game = g_Game;
    memcpy(snapshot->objects, ObjectTable, sizeof(ObjectTable));
    snapshot->framesPastTime = s_FramesPastTime;
}

static void RestoreSnapshot(const Snapshot &snapshot)
{
    g_Game = snapshot.game;
    memcpy(ObjectTable, snapshot.objects, sizeof(ObjectTable));
    s_FramesPastTime = snapshot.framesPastTime;
}

// One pass of the main loop without the window: the input phase, the game's frame, the test program's end of
// frame, then the input bytes cleared.
static void PlayFrame(unsigned int bits)
{
    ApplyPadBits(bits);
    GameFrame();
    FlipScreen();
    EndTestFrame();
    ForgetFrameInput();
    s_FramesPastTime = g_Game.StageTime >= s_Goal.surviveTime ? s_FramesPastTime + 1 : 0;
}

// The state WinMain leaves before its first frame, without a save file; then either the menus or the test
// program's --start, up to stage play. Answers false for a --start the test program refuses.
static bool StartPlay(std::vector<unsigned int> *played)
{
    ResetGameAndEngine();
    g_StandIn.recording = false;
    g_Handles.ColorBlack = MakeScreenColor(0, 0, 0);
    g_Handles.ColorWhite = MakeScreenColor(255, 255, 255);
    StartStage(0);
    if (!s_Goal.start.empty()) {
        if (StartTestBuild(("--start " + s_Goal.start).c_str()) >= 0) {
            return false;
        }
        ApplyTestStart();
    } else {
        for (unsigned int bits : MENU_INPUT) {
            PlayFrame(bits);
            played->push_back(bits);
        }
    }
    while (g_Game.MainState != 0 && played->size() < 100) {
        PlayFrame(0);
        played->push_back(0);
    }
    s_Goal.startStage = g_Game.StageIndex;
    return true;
}

static bool IsGoalReached(void)
{
    if (s_Goal.surviveTime >= 0) {
        return s_FramesPastTime > s_Goal.surviveFrames && g_Game.MainState == 0;
    }
    return g_Game.StageIndex == s_Goal.startStage + 1 && g_Game.IntroState > 0;
}

static int BossHP(const ObjectRecord *objects)
{
    const ObjectRecord &boss = objects[BossRecordIndex[s_Goal.startStage]];
    return boss.state != GONE_STATE ? boss.hp : 0;
}

// The rank of a state: lives first, then hit points, then the boss's hit points and the score; a clear under way
// or done beats everything.
static double ValueOfState(void)
{
    if (g_Game.ClearState > 0 || g_Game.EventState > 0 || g_Game.StageIndex != s_Goal.startStage) {
        return 1e9;
    }
    double value = g_Game.Lives * 100000.0 + g_Game.PlayerHP * 1000.0 + g_Game.Score / 10.0;
    if (g_Game.BossPhase > 0) {
        value -= BossHP(ObjectTable) * 2000.0;
    }
    if (g_Game.MissState > 0 || g_Game.PlayerHP <= 0) {
        value -= 50000.0;
    }
    return value;
}

static uint64_t HashState(void)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    auto add = [&hash](const void *data, size_t size) {
        for (size_t i = 0; i < size; i++) {
            hash = (hash ^ ((const unsigned char *)data)[i]) * 0x100000001B3ull;
        }
    };
    add(&g_Game, sizeof(g_Game));
    for (int i = 0; i < StageObjectCount[g_Game.StageIndex]; i++) {
        const ObjectRecord &r = ObjectTable[i];
        int32_t fields[] = {r.state, r.hp, r.anim, r.frame, r.animTick, r.updateTick, r.period, r.x, r.y, r.w, r.h};
        add(fields, sizeof(fields));
    }
    return hash;
}

static void PlayChunk(const ChunkAction &action, int frames, std::vector<unsigned int> *played)
{
    for (int f = 0; f < frames && !IsGoalReached(); f++) {
        unsigned int bits = g_Game.ClearState > 0 || g_Game.EventState > 0 ? 0 : f == 0 ? action.first : action.rest;
        PlayFrame(bits);
        if (played != nullptr) {
            played->push_back(bits);
        }
    }
}

// The beam: each step tries every action on every entry and keeps the best distinct states; only the current
// entries hold snapshots, the steps before keep who came from whom. Answers the stage's input (after the menus
// or the start), or nothing when every line of play was lost or the frame limit passed.
static std::vector<unsigned int> SearchStage(const Snapshot &start, int beamWidth, int chunk)
{
    std::vector<BeamEntry> beam(1);
    beam[0] = {start, 0.0, -1, 0};
    std::vector<std::vector<std::pair<int, int>>> history; // per step: (parent, action) of each entry
    for (int frame = 0; frame < FRAME_LIMIT; frame += chunk) {
        std::vector<BeamEntry> next;
        std::unordered_set<uint64_t> seen;
        int finished = -1;
        for (int e = 0; e < (int)beam.size() && finished < 0; e++) {
            for (int a = 0; a < ACTION_COUNT && finished < 0; a++) {
                RestoreSnapshot(beam[e].state);
                PlayChunk(ACTIONS[a], chunk, nullptr);
                if (!seen.insert(HashState()).second || g_Game.Lives <= 0 || g_Game.MainState > 0) {
                    continue;
                }
                next.push_back({Snapshot(), ValueOfState(), e, a});
                TakeSnapshot(&next.back().state);
                finished = IsGoalReached() ? (int)next.size() - 1 : -1;
            }
        }
        if (next.empty()) {
            fprintf(stderr, "every line of play was lost by frame %d\n", frame);
            return {};
        }
        std::vector<int> order(next.size());
        for (size_t i = 0; i < order.size(); i++) {
            order[i] = (int)i;
        }
        if (finished >= 0) {
            order = {finished};
        }
        std::stable_sort(order.begin(), order.end(), [&next](int a, int b) { return next[a].value > next[b].value; });
        order.resize(std::min((int)order.size(), beamWidth));
        beam.clear();
        history.emplace_back();
        for (int i : order) {
            history.back().push_back({next[i].parent, next[i].action});
            beam.push_back(std::move(next[i]));
        }
        const GameGlobals &best = beam[0].state.game;
        if (frame % (chunk * 100) == 0 || finished >= 0) {
            fprintf(stderr, "frame %d: time %d lives %d hp %d score %d boss hp %d clear %d\n", frame,
                    (int)best.StageTime, best.Lives, best.PlayerHP, (int)best.Score, BossHP(beam[0].state.objects),
                    best.ClearState);
        }
        if (finished >= 0) {
            // The actions of the line that got through, from the last step back to the first; replayed from the
            // start so that the input written is the one played, frame by frame.
            std::vector<int> actions;
            for (int s = (int)history.size() - 1, e = 0; s >= 0; e = history[s][e].first, s--) {
                actions.push_back(history[s][e].second);
            }
            std::reverse(actions.begin(), actions.end());
            RestoreSnapshot(start);
            std::vector<unsigned int> played;
            for (int a : actions) {
                PlayChunk(ACTIONS[a], chunk, &played);
            }
            return played;
        }
    }
    fprintf(stderr, "the goal was not reached within %d frames\n", FRAME_LIMIT);
    return {};
}

// One mark in the input file: a comment line before the frame at `frame`.
struct InputMark {
    size_t frame;
    std::string text;
};

static bool WriteInputFile(const char *name, const std::vector<unsigned int> &played, const std::string &header,
                           const std::vector<InputMark> &marks)
{
    FILE *file;
    if (fopen_s(&file, name, "wb") != 0) {
        return false;
    }
    fprintf(file, "%s Written by clear_input_search; %u frames in all.\n", header.c_str(), (unsigned)played.size());
    auto markAt = [&marks](size_t frame) {
        return std::find_if(marks.begin(), marks.end(), [frame](const InputMark &m) { return m.frame == frame; });
    };
    for (size_t i = 0; i < played.size();) {
        if (markAt(i) != marks.end()) {
            fprintf(file, "# %s\n", markAt(i)->text.c_str());
        }
        size_t run = 1;
        while (i + run < played.size() && played[i + run] == played[i] && markAt(i + run) == marks.end()) {
            run++;
        }
        fprintf(file, run > 1 ? "%x*%u\n" : "%x\n", played[i], (unsigned)run);
        i += run;
    }
    return fclose(file) == 0;
}

// Stage 0 with no input from the menus on, until a game over or the frame limit: its hurts and its end.
static int PlayIdle(void)
{
    std::vector<unsigned int> played;
    StartPlay(&played);
    int hurts = 0, frames = 0;
    for (; frames < FRAME_LIMIT && g_Game.MainState == 0; frames++) {
        uint8_t wasHurt = g_Game.PlayerHurt;
        PlayFrame(0);
        hurts += g_Game.PlayerHurt == 1 && wasHurt == 0;
    }
    printf("no input on NORMAL: %d hurts, %s after %d frames\n", hurts,
           g_Game.MainState > 0 ? "game over" : "still playing", frames);
    return 0;
}

// "T,N" into two counts of at least 0.
static bool ParsePair(const char *text, int *first, int *second)
{
    char *end;
    *first = (int)strtol(text, &end, 10);
    if (*end != ',' || end == text) {
        return false;
    }
    *second = (int)strtol(end + 1, &end, 10);
    return *end == '\0' && *first >= 0 && *second >= 0;
}

// The input file's first line (it names the --start the input needs) and its marks.
static std::string DescribeInput(size_t startFrames, size_t goalFrame, std::vector<InputMark> *marks)
{
    char text[200];
    int stage = s_Goal.startStage;
    if (s_Goal.surviveTime >= 0) {
        snprintf(text, sizeof(text),
                 "# --start %s: stage %d played from its start until the stage clock reached %d s and\n"
                 "# %d more frames, the player alive.",
                 s_Goal.start.c_str(), stage, s_Goal.surviveTime, s_Goal.surviveFrames);
        *marks = {{0, "stage " + std::to_string(stage)}};
        return text;
    }
    snprintf(text, sizeof(text),
             "# %s stage %d played to its boss's defeat, the clear and the\n"
             "# event, into stage %d's intro.",
             s_Goal.start.empty() ? "From the title: START, NORMAL, then" : ("--start " + s_Goal.start + ":").c_str(),
             stage, stage + 1);
    *marks = {{startFrames, "stage " + std::to_string(stage)},
              {goalFrame, "stage " + std::to_string(stage + 1) + "'s intro"}};
    if (s_Goal.start.empty()) {
        marks->push_back({0, "menus"});
    }
    return text;
}

int main(int argc, char **argv)
{
    const char *output = nullptr;
    int beamWidth = 24, chunk = 8;
    bool idle = false, good = true;
    for (int i = 1; i < argc && good; i++) {
        bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--idle") == 0) {
            idle = true;
        } else if (strcmp(argv[i], "--beam") == 0 && hasValue) {
            beamWidth = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--chunk") == 0 && hasValue) {
            chunk = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--start") == 0 && hasValue) {
            s_Goal.start = argv[++i];
        } else if (strcmp(argv[i], "--survive") == 0 && hasValue) {
            good = ParsePair(argv[++i], &s_Goal.surviveTime, &s_Goal.surviveFrames);
        } else if (output == nullptr && argv[i][0] != '-') {
            output = argv[i];
        } else {
            good = false;
        }
    }
    if (idle && good) {
        return PlayIdle();
    }
    std::vector<unsigned int> played;
    if (!good || output == nullptr || beamWidth < 1 || chunk < 1 || !StartPlay(&played)) {
        fprintf(stderr, "usage: clear_input_search OUTPUT [--start D,S] [--survive T,N] [--beam W] [--chunk N]"
                        " | --idle\n");
        return 2;
    }
    if (g_Game.MainState != 0 || (s_Goal.start.empty() && g_Game.DifficultyIndex != 1)) {
        fprintf(stderr, "the stage did not open\n");
        return 1;
    }
    size_t startFrames = played.size();
    Snapshot start;
    TakeSnapshot(&start);
    std::vector<unsigned int> stage = SearchStage(start, beamWidth, chunk);
    if (stage.empty() || !IsGoalReached()) {
        return 1;
    }
    played.insert(played.end(), stage.begin(), stage.end());
    size_t goalFrame = played.size();
    if (s_Goal.surviveTime < 0) {
        played.insert(played.end(), FRAMES_AFTER_HAND_OVER, 0);
    }
    std::vector<InputMark> marks;
    std::string header = DescribeInput(startFrames, goalFrame, &marks);
    if (!WriteInputFile(output, played, header, marks)) {
        fprintf(stderr, "%s: cannot write the input file\n", output);
        return 2;
    }
    printf("%s: %u frames, the goal reached at frame %u, lives %d, score %d\n", output, (unsigned)played.size(),
           (unsigned)goalFrame, g_Game.Lives, (int)g_Game.Score);
    return 0;
}
