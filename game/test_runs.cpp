// The test program's whole-run options (compiled into QvGameTest only): stage pictures drawn on every Nth frame
// only, or only from a given frame on (a check that looks at one late frame need not draw thousands), the engine
// running on while its window is inactive, the run ended on a stage's clear or on the title's return, the run's
// report (clears with lives lost, the events played, the records each stage showed) and back-buffer shots written
// as PPM files. What it watches it reads from the game's values at the end of each frame. Window thread.
//   --draw-every N  --draw-from N  --background  --end-after-clear  --end-at-title  --report FILE  --shot-at N[,N...]
#include "game/game_state.h"

#include "graphics/graphics.h"
#include "image/image.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <set>
#include <string>
#include <vector>

// A stage as the report follows it: entered when play reaches it from another stage or from the title side.
struct StageVisit {
    int stage;
    std::set<int> recordsSeen; // records that overlapped the visible screen while they took part
};

// A story event of the stage side as the report follows it, from its start to the frame after its end.
struct EventVisit {
    int stage = -1;         // -1: no event in play
    int script = -1;        // the script in play, found among the event scripts
    long shown = 0;         // the first frame that drew a page
    int presses = 0;        // page frames whose button 1 or 3 latched
    std::set<int> tracks;   // music resource ids heard while it played
};

struct RunChecks {
    long drawEvery = 1;
    long drawFrom = 0;
    bool endAfterClear = false;
    bool endAtTitle = false;
    std::string reportName;
    std::set<long> shotFrames;
    // What the report gathers.
    long frame = 0;
    std::vector<std::string> clears;
    std::vector<std::string> events;
    EventVisit event;
    int lastEventState = 0;
    std::vector<StageVisit> visits;
    int currentStage = -1; // the stage in play, -1 on the title side
    long enteredFrame = 0;
    int livesLost = 0;
    bool clearedSinceEntered = false;
    bool stagePlaySeen = false; // since the start or the last game over
    int lastLives = 0;
    int lastClearState = 0;
};

static RunChecks s_Runs;

// Frame numbers separated by commas.
static bool ParseShotFrames(const char *text)
{
    std::string list = text;
    for (size_t start = 0;;) {
        size_t comma = list.find(',', start);
        long frame;
        if (!ReadTestNumber(list.substr(start, comma - start).c_str(), 1, LONG_MAX, &frame)) {
            return false;
        }
        s_Runs.shotFrames.insert(frame);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

void WriteRunReport(void)
{
    FILE *file;
    if (s_Runs.reportName.empty() || fopen_s(&file, s_Runs.reportName.c_str(), "wb") != 0) {
        return;
    }
    fprintf(file, "frames=%ld\n", s_Runs.frame);
    for (const std::vector<std::string> *lines : {&s_Runs.clears, &s_Runs.events}) {
        for (const std::string &line : *lines) {
            fprintf(file, "%s\n", line.c_str());
        }
    }
    for (const StageVisit &visit : s_Runs.visits) {
        fprintf(file, "entered stage=%d records=", visit.stage);
        const char *separator = "";
        for (int record : visit.recordsSeen) {
            fprintf(file, "%s%d", separator, record);
            separator = ",";
        }
        fputc('\n', file);
    }
    fclose(file);
}

void ResetRunChecks(void)
{
    s_Runs = RunChecks();
}

int TakeRunOption(const char *option, const char *value)
{
    const std::string name = option;
    if (name == "--background") {
        SetRunInBackground(1);
        return 1;
    } else if (name == "--end-after-clear" || name == "--end-at-title") {
        (name == "--end-after-clear" ? s_Runs.endAfterClear : s_Runs.endAtTitle) = true;
        return 1;
    } else if (name != "--draw-every" && name != "--draw-from" && name != "--report" && name != "--shot-at") {
        return 0;
    } else if (value == nullptr) {
        return -1;
    } else if (name == "--draw-every" || name == "--draw-from") {
        long *setting = name == "--draw-every" ? &s_Runs.drawEvery : &s_Runs.drawFrom;
        return ReadTestNumber(value, 1, LONG_MAX, setting) ? 2 : -1;
    } else if (name == "--shot-at") {
        return ParseShotFrames(value) ? 2 : -1;
    } else { // --report
        static bool registered = false;
        if (!registered) {
            atexit(WriteRunReport);
            registered = true;
        }
        s_Runs.reportName = value;
        return 2;
    }
}

int IsRunFrameDrawn(long frame)
{
    return (frame >= s_Runs.drawFrom && frame % s_Runs.drawEvery == 0) || s_Runs.shotFrames.count(frame) != 0;
}

// The back buffer as it stands, as "shot_N.ppm" (binary, RGB).
static void WriteShot(long frame)
{
    BaseImage view;
    if (LockDrawScreen(0, 0, 640, 480, &view, -1, 1) != 0) {
        fprintf(stderr, "QvGameTest: cannot read the screen back at frame %ld\n", frame);
        return;
    }
    std::string pixels;
    pixels.reserve(640 * 480 * 3);
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            int red = 0, green = 0, blue = 0;
            GetBaseImagePixelComponents(&view, x, y, &red, &green, &blue, nullptr);
            pixels += (char)red;
            pixels += (char)green;
            pixels += (char)blue;
        }
    }
    UnlockDrawScreen();
    FILE *file;
    std::string name = "shot_" + std::to_string(frame) + ".ppm";
    if (fopen_s(&file, name.c_str(), "wb") == 0) {
        fprintf(file, "P6\n640 480\n255\n");
        fwrite(pixels.data(), 1, pixels.size(), file);
        fclose(file);
    }
}

// Every record that takes part and overlaps 0..639 x 0..479 is noted for the stage's visit.
static void NoteRecordsOnScreen(StageVisit *visit)
{
    for (int i = 0; i < StageObjectCount[g_Game.StageIndex]; i++) {
        const ObjectRecord &r = ObjectTable[i];
        if (IsObjectActive(i) && r.x < 640 && r.x + r.w > 0 && r.y < 480 && r.y + r.h > 0) {
            visit->recordsSeen.insert(i);
        }
    }
}

static StageVisit *VisitOf(int stage)
{
    for (StageVisit &visit : s_Runs.visits) {
        if (visit.stage == stage) {
            return &visit;
        }
    }
    s_Runs.visits.push_back({stage, {}});
    return &s_Runs.visits.back();
}

// Follows the stage side after a frame: stages entered, lives lost, clears, the title's return. Answers whether an
// end rule ends the run here.
static bool FollowStages(void)
{
    const GameGlobals &g = g_Game;
    bool clearEnded = s_Runs.lastClearState > 0 && g.ClearState == 0 && g.EventState == 10;
    s_Runs.lastClearState = g.ClearState;
    if (g.MainState > 0) {
        if (s_Runs.currentStage >= 0 && !s_Runs.clearedSinceEntered) {
            s_Runs.stagePlaySeen = false; // a game over's return to the title ends no run
        }
        s_Runs.currentStage = -1;
        return s_Runs.endAtTitle && s_Runs.stagePlaySeen && g.MainState == 30;
    }
    if (g.StageIndex != s_Runs.currentStage) {
        s_Runs.currentStage = g.StageIndex;
        s_Runs.enteredFrame = s_Runs.frame;
        s_Runs.livesLost = 0;
        s_Runs.clearedSinceEntered = false;
    } else if (g.Lives < s_Runs.lastLives) {
        s_Runs.livesLost += s_Runs.lastLives - g.Lives;
    }
    s_Runs.lastLives = g.Lives;
    s_Runs.stagePlaySeen = true;
    if (g.MissState == 0 && g.EventState == 0) {
        NoteRecordsOnScreen(VisitOf(g.StageIndex));
    }
    if (clearEnded) {
        char line[160];
        snprintf(line, sizeof(line), "clear stage=%d difficulty=%d lives_lost=%d frames=%ld score=%d", g.StageIndex,
                 g.DifficultyIndex, s_Runs.livesLost, s_Runs.frame - s_Runs.enteredFrame + 1, (int)g.Score);
        s_Runs.clears.push_back(line);
        s_Runs.clearedSinceEntered = true;
    }
    return clearEnded && s_Runs.endAfterClear;
}

// The event script whose entries ActiveScript holds, up to its "END"; -1 for none.
static int ScriptInPlay(void)
{
    for (int script = 0; script < EVENT_SCRIPT_COUNT; script++) {
        int i = 0;
        while (i < EVENT_SCRIPT_LENGTH && ActiveScript[i] == EventScript[script][i] &&
               ActiveScript[i] != EventMarkerEND) {
            i++;
        }
        if (i < EVENT_SCRIPT_LENGTH && ActiveScript[i] == EventScript[script][i]) {
            return script;
        }
    }
    return -1;
}

// Follows a stage's event after a frame: the script, its first drawn page, the presses that turned or ended its
// pages, its music, and where play went on ("then": the stage, or -1 for the title side).
static void FollowEvents(void)
{
    const GameGlobals &g = g_Game;
    EventVisit &event = s_Runs.event;
    bool pageFrame = s_Runs.lastEventState == 20;
    s_Runs.lastEventState = g.EventState;
    if (event.stage < 0) {
        if (g.MainState > 0 || g.InGallery == 1 || g.EventState < 13) {
            return;
        }
        event.stage = g.StageIndex;
    }
    if (g.MainState <= 0 && g.EventState != 0) {
        event.tracks.insert(201 + g.CurrentTrack);
        if (g.EventState == 20 && !pageFrame) {
            event.script = ScriptInPlay();
        }
        if (pageFrame && (g.ButtonLatch[0] == 1 || g.ButtonLatch[2] == 1)) {
            event.presses += 1;
        }
        if (pageFrame && g.EventState == 20 && event.shown == 0) {
            event.shown = s_Runs.frame;
        }
        return;
    }
    std::string tracks;
    for (int track : event.tracks) {
        tracks += (tracks.empty() ? "" : ",") + std::to_string(track);
    }
    char line[160];
    snprintf(line, sizeof(line), "event stage=%d script=%d shown=%ld presses=%d tracks=%s then=%d", event.stage,
             event.script, event.shown, event.presses, tracks.c_str(), g.MainState <= 0 ? g.StageIndex : -1);
    s_Runs.events.push_back(line);
    event = EventVisit();
}

int EndRunFrame(long frame)
{
    s_Runs.frame = frame;
    if (s_Runs.shotFrames.count(frame) != 0) {
        WriteShot(frame);
    }
    FollowEvents();
    return FollowStages() ? 0 : -1;
}
