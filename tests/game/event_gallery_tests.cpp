// The event player and the gallery against the recording stand-in: both page walks of every script against a
// reference written from the paging rule, the keys of an event and the gallery's cursor table. The continue
// notice and the gallery's chained events are checked end to end, under Wine.
#include "engine_stand_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string.h>

static const long long WHITE = 0xFFFFFFFF, BLACK = 0xFF000000;
static const unsigned int Z = 0x10, X = 0x20, C = 0x40, A = 0x80, DOWN = 0x01, LEFT = 0x02, RIGHT = 0x04, UP = 0x08;

static void SetUpEvent(int mainState, int eventState, int stage, int furthest)
{
    ResetGameAndEngine();
    g_Handles.ColorWhite = (unsigned int)WHITE;
    g_Handles.ColorBlack = (unsigned int)BLACK;
    g_Game.MainState = (int8_t)mainState;
    g_Game.EventState = (int8_t)eventState;
    g_Game.StageIndex = (int8_t)stage;
    g_Game.FurthestStageCleared = (int8_t)furthest;
}

// One frame as the main loop runs it: input phase, frame step, latches forgotten.
static void Frame(unsigned int bits)
{
    g_StandIn.calls.clear();
    ApplyPadBits(bits);
    GameFrame();
    EXPECT_LE(g_StandIn.liveGraphs, 1);
    g_Game.InputHorizontal = 0;
    g_Game.InputVertical = 0;
    memset(g_Game.ButtonLatch, 0, sizeof(g_Game.ButtonLatch));
}

static int LastPictureLoaded(int previous)
{
    for (const std::string &call : CallsNamed("LoadGraphFromResource")) {
        previous = atoi(call.c_str() + strlen("LoadGraphFromResource("));
    }
    return previous;
}

// What a text frame shows: the window's lines and the background, -1 for black, else the "CG" number.
struct Shown {
    std::vector<std::string> lines;
    int background;
    bool operator==(const Shown &other) const { return lines == other.lines && background == other.background; }
};

// The background is -1 for the black box, the picture when it is drawn opaque at (0, 0), else -2.
static Shown ShownOnScreen(int picture)
{
    const std::vector<std::string> &calls = g_StandIn.calls;
    auto drawn = [&calls](const std::string &line) { return std::find(calls.begin(), calls.end(), line) != calls.end(); };
    Shown shown{{}, -2};
    if (drawn(CallLine("DrawBoxShape", {0, 0, 640, 480, BLACK, 1}))) {
        shown.background = -1;
    } else if (drawn(CallLine("DrawGraphAt", {0, 0, g_Handles.PictureHandle, 0}))) {
        shown.background = picture;
    }
    for (const std::string &call : CallsNamed("DrawStringDefault")) {
        std::string prefix = CallLine("DrawStringDefault", {90, 362 + 20 * (long long)shown.lines.size(), WHITE, 0});
        prefix.back() = ',';
        EXPECT_EQ(call.compare(0, prefix.size(), prefix), 0) << call;
        shown.lines.push_back(call.substr(prefix.size(), call.size() - prefix.size() - 1));
    }
    return shown;
}

// The pages from the rule: a page is its text lines up to a marker, "END" or the seventh line; it is drawn over
// what its closing marker names, the first page excepted (black after a leading "BK", else the first picture)
// unless the walk begins with button 3 held.
static std::vector<Shown> ReferencePages(int event, bool fastStart)
{
    const char *const *script = EventScript[event];
    std::vector<Shown> pages;
    int first = 110 + EventPictureBase[event], picture = first;
    bool black = script[0] == EventMarkerBK;
    for (int i = black ? 1 : 0;;) {
        Shown page{{}, 0};
        while (page.lines.size() < 7 && strlen(script[i]) > 3) {
            page.lines.push_back(script[i++]);
        }
        const char *closing = page.lines.size() == 7 && strlen(script[i]) > 3 ? "" : script[i];
        if (!pages.empty() || fastStart) {
            picture += !strcmp(closing, "CG") - !strcmp(closing, "CGR");
            black = !strcmp(closing, "BK");
        }
        page.background = black ? -1 : picture;
        pages.push_back(page);
        if (!strcmp(closing, "END") || (*closing && !strcmp(script[i + 1], "END"))) {
            return pages;
        }
        i += *closing ? 1 : 0;
    }
}

// Presses of Z on alternate frames, or C held, from the start of each event; each press frame shows the next page,
// and the press after the last page ends the event. The music is the event track throughout.
TEST(EventPlayer, PageWalksFollowThePagingRule)
{
    for (int event = 0; event < STAGE_COUNT; event++) {
        for (bool held : {false, true}) {
            SCOPED_TRACE(testing::Message() << "event " << event << (held ? " C held" : " Z presses"));
            SetUpEvent(0, 10, event, event);
            g_Game.InGallery = 1;
            std::vector<Shown> seen;
            int picture = 0;
            for (int frame = 0; frame < 2000 && g_Game.EventState != 30; frame++) {
                bool paging = g_Game.EventState == 20;
                Frame(held ? C : frame % 2 == 0 ? 0u : Z);
                picture = LastPictureLoaded(picture);
                if (paging && g_Game.EventState == 20 && (held || frame % 2 == 1 || seen.empty())) {
                    seen.push_back(ShownOnScreen(picture));
                }
                EXPECT_TRUE(g_Game.EventState < 20 || g_Game.CurrentTrack == TRACK_EVENT);
            }
            std::vector<Shown> expected = ReferencePages(event, held);
            if (!held) {
                expected.insert(expected.begin(), expected.front()); // the starting press turns nothing
            }
            EXPECT_EQ(seen.size(), expected.size());
            EXPECT_TRUE(seen == expected);
            Frame(0);
            EXPECT_EQ(g_Game.MainState, 10);
            EXPECT_EQ(g_StandIn.liveGraphs, 0);
        }
    }
}

// Event 0 from its start under a sequence of pads: the page shown (counted from the first), whether the window is
// hidden and where the run is afterwards.
TEST(EventPlayer, Keys)
{
    struct Row {
        std::vector<unsigned int> pads;
        int page, hidden, eventState, nextStage;
    } rows[] = {
        {{Z, Z, Z, Z, Z}, 0, 0, 20, 0},    {{Z, Z, Z, 0, Z}, 1, 0, 20, 0},    {{0, 0, 0, 0, Z, 0, Z}, 2, 0, 20, 0},
        {{0, 0, C, C, C, C}, 3, 0, 20, 0}, {{0, 0, 0, X, Z, 0, C}, 0, 1, 20, 0}, {{0, 0, 0, X, 0, X, Z}, 1, 0, 20, 0},
        {{0, 0, 0, A}, 0, 0, 30, 0},       {{0, 0, 0, X, A, 0}, 0, 1, 0, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        SetUpEvent(0, 10, 0, 5);
        std::vector<int> starts;
        for (unsigned int pad : row.pads) {
            Frame(pad);
            if (g_Game.EventState == 20 && (starts.empty() || starts.back() != g_Game.PageStart)) {
                starts.push_back(g_Game.PageStart);
            }
        }
        EXPECT_EQ((int)starts.size() - 1, row.page);
        EXPECT_EQ(g_Game.TextWindowHidden, row.hidden);
        EXPECT_EQ(g_Game.EventState, row.eventState);
        EXPECT_EQ(g_Game.StageIndex, row.nextStage);
        EXPECT_EQ(g_Game.MainState, 0);
    }
}

// One gallery frame from a cursor, text choice and pads: the cursor, choice, cursor sounds and where it leads.
// Button 1 starts only an unlocked thumbnail, and nothing else touches StageIndex (4 here).
TEST(Gallery, CursorTable)
{
    struct Row {
        int furthest, cursor, column, textOff;
        unsigned int pads;
        int nextCursor, nextColumn, nextTextOff, sounds, mainState, stage;
    } rows[] = {
        {5, 0, 0, 0, RIGHT, 0, 1, 1, 1, 35, 4},     {5, 0, 1, 1, RIGHT, 0, 1, 1, 0, 35, 4},
        {5, 0, 1, 1, LEFT, 0, 0, 0, 1, 35, 4},      {5, 0, 0, 0, LEFT, 0, 0, 0, 0, 35, 4},
        {5, 1, 1, 0, RIGHT, 1, 2, 0, 1, 35, 4},     {5, 1, 2, 0, RIGHT, 1, 2, 0, 0, 35, 4},
        {5, 2, 0, 1, LEFT, 2, 0, 1, 0, 35, 4},      {5, 1, 2, 1, UP, 0, 1, 1, 1, 35, 4},
        {5, 2, 2, 0, UP, 1, 2, 0, 1, 35, 4},        {5, 0, 1, 1, DOWN, 1, 1, 1, 1, 35, 4},
        {5, 2, 1, 0, DOWN, 2, 1, 0, 0, 35, 4},      {5, 0, 0, 0, UP, 0, 0, 0, 0, 35, 4},
        {5, 1, 0, 0, RIGHT | UP, 0, 0, 0, 2, 35, 4}, {-1, 1, 0, 0, Z, 1, 0, 0, 0, 35, 4},
        {2, 1, 2, 0, Z, 1, 2, 0, 0, 100, 2},        {2, 2, 0, 1, Z, 2, 0, 1, 0, 35, 4},
        {5, 0, 1, 1, Z, 0, 1, 1, 0, 35, 4},         {5, 1, 1, 0, X, 1, 1, 0, 0, 10, 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        SetUpEvent(35, 0, 4, row.furthest);
        g_Game.MenuCursor = row.cursor;
        g_Game.MenuColumn = row.column;
        g_Game.GalleryTextOff = row.textOff;
        Frame(row.pads);
        EXPECT_EQ(g_Game.MenuCursor, row.nextCursor);
        EXPECT_EQ(g_Game.MenuColumn, row.nextColumn);
        EXPECT_EQ(g_Game.GalleryTextOff, row.nextTextOff);
        EXPECT_EQ(CallsNamed("PlaySoundHandle").size(), (size_t)row.sounds);
        EXPECT_EQ(g_Game.MainState, row.mainState);
        EXPECT_EQ(g_Game.StageIndex, row.stage);
        EXPECT_EQ(g_Game.EventState, row.mainState == 100 ? 10 : 0);
    }
}
