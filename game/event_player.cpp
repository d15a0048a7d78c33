// The event player: the story event that follows a cleared stage (or the continue notice after a continued run)
// and the gallery's replays, as full-screen "CG" pictures with paged script text in a framed window, or as the
// pictures alone. It holds at most one picture at a time. Window thread.
#include "game/game_state.h"

#include "font/font.h"
#include "graphics/graphics.h"

#define CONTINUE_NOTICE_SCRIPT 6
#define LAST_PAGE 999   // PageLength of the script's last page
#define PAGE_LINE_LIMIT 7
#define EVENT_FRAME_TARGET 80

const int8_t EventPictureBase[STAGE_COUNT + 1] = {1, 5, 11, 17, 25, 42, 47};
const char *ActiveScript[EVENT_SCRIPT_LENGTH];

// The entry at `index`, with the table's end and a missing entry read as "END", so that no walk leaves the table.
static const char *EntryAt(int index)
{
    if (index < 0 || index >= EVENT_SCRIPT_LENGTH || ActiveScript[index] == nullptr) {
        return EventMarkerEND;
    }
    return ActiveScript[index];
}

// The markers that close a page ("END" closes the script instead).
static bool IsPageMarker(const char *entry)
{
    return entry == EventMarkerC || entry == EventMarkerCG || entry == EventMarkerCGR || entry == EventMarkerBK;
}

// Releases the picture held before it loads the next one.
static void LoadEventPicture(int number)
{
    ReleasePicture();
    g_Handles.PictureHandle = LoadGraphFromResource(MAKEINTRESOURCEA((uint16_t)number), "CG");
}

// The picture of the stage's event at offset PictureIndex from its first one.
static void LoadScriptPicture(void)
{
    LoadEventPicture(110 + EventPictureBase[g_Game.StageIndex] + g_Game.PictureIndex);
}

static void StartEvent(void)
{
    GameGlobals &g = g_Game;
    SwitchMusic(TRACK_EVENT);
    g.PictureIndex = 0;
    LoadScriptPicture();
    g.EventState = g.GalleryTextOff != 0 ? 23 : 13;
    g.ButtonMode[0] = 2;
    g.TextWindowHidden = 0;
    g.FrameTarget = EVENT_FRAME_TARGET;
}

static void ChooseScript(void)
{
    GameGlobals &g = g_Game;
    g.EventState = 20;
    int script = g.ContinuedFlag == 1 && g.InGallery != 1 ? CONTINUE_NOTICE_SCRIPT : g.StageIndex;
    for (int i = 0; i < EVENT_SCRIPT_LENGTH; i++) {
        ActiveScript[i] = EventScript[script][i];
        if (ActiveScript[i] == EventMarkerEND) {
            break;
        }
    }
    bool black = ActiveScript[0] == EventMarkerBK;
    g.PageStart = black ? 1 : 0;
    g.PageBlack = black ? 1 : 0;
    g.PageLength = 0;
}

// The next page and the background its closing marker names; the picture is loaded here, once per page.
static void TurnPage(void)
{
    GameGlobals &g = g_Game;
    g.PageStart += g.PageLength;
    g.PageBlack = 0;
    for (int i = 0; i < PAGE_LINE_LIMIT; i++) {
        const char *entry = EntryAt(g.PageStart + i);
        if (entry == EventMarkerCG) {
            g.PictureIndex += 1;
        } else if (entry == EventMarkerCGR) {
            g.PictureIndex -= 1;
        } else if (entry == EventMarkerBK) {
            g.PageBlack = 1;
        }
        if (entry == EventMarkerEND || IsPageMarker(entry)) {
            break;
        }
    }
    LoadScriptPicture();
}

static void TextPageFrame(void)
{
    GameGlobals &g = g_Game;
    g.ButtonMode[0] = 1;
    if (g.ButtonLatch[1] == 1) {
        g.TextWindowHidden = !g.TextWindowHidden;
    }
    if (g.ButtonLatch[3] == 1) {
        g.EventState = 30;
        return;
    }
    if (g.TextWindowHidden == 0 && (g.ButtonLatch[0] == 1 || g.ButtonLatch[2] == 1)) {
        if (g.PageLength == LAST_PAGE) {
            // In the gallery the events of the later cleared stages follow one another.
            if (g.InGallery == 1 && g.StageIndex < g.FurthestStageCleared) {
                g.StageIndex += 1;
                g.EventState = 10;
            } else {
                g.EventState = 30;
            }
            return;
        }
        TurnPage();
    }
    if (g.PageBlack == 1) {
        DrawBoxShape(0, 0, 640, 480, g_Handles.ColorBlack, 1);
    } else {
        DrawGraphAt(0, 0, g_Handles.PictureHandle, 0);
    }
    if (g.TextWindowHidden == 0) {
        DrawEventTextPage();
    }
}

// Picture-only mode: from the chosen event's first picture through the last picture of the furthest cleared
// stage's event, one per press; the picture is loaded again in every frame.
static void PicturesOnlyFrame(void)
{
    GameGlobals &g = g_Game;
    g.ButtonMode[0] = 1;
    if (g.ButtonLatch[0] == 1 || g.ButtonLatch[2] == 1) {
        g.PictureIndex += 1;
        if (g.PictureIndex >= EventPictureBase[g.FurthestStageCleared + 1]) {
            g.EventState = 30;
            return;
        }
    }
    if (g.ButtonLatch[3] == 1) {
        g.EventState = 30;
        return;
    }
    LoadEventPicture(110 + g.PictureIndex);
    DrawGraphAt(0, 0, g_Handles.PictureHandle, 0);
}

// The end of an event: outside the gallery and before the last stage the run goes on with the next stage; after
// the last stage's event and in the gallery the title side takes over, and a gallery visit leaves StageIndex as
// it found it, so that CONTINUE still starts where the last run ended.
static void EndEvent(void)
{
    if (g_Game.InGallery != 1 && g_Game.StageIndex < STAGE_COUNT - 1) {
        StartNextStage();
        return;
    }
    if (g_Game.InGallery == 1) {
        g_Game.StageIndex = g_Game.GalleryEntryStage;
    }
    g_Game.MainState = 10;
    ReleasePicture();
}

void DrawEventTextPage(void)
{
    GameGlobals &g = g_Game;
    DrawFramedWindow(80, 352, 480, 116);
    g.PageLength = 0;
    for (int lines = 0; lines < PAGE_LINE_LIMIT; lines++) {
        const char *entry = EntryAt(g.PageStart + lines);
        if (entry == EventMarkerEND) {
            g.PageLength = LAST_PAGE;
            return;
        }
        if (IsPageMarker(entry)) {
            g.PageLength = EntryAt(g.PageStart + lines + 1) == EventMarkerEND ? LAST_PAGE : g.PageLength + 1;
            return;
        }
        DrawStringDefault(90, 362 + 20 * lines, entry, g_Handles.ColorWhite, 0);
        g.PageLength += 1;
    }
}

void EventFrame(void)
{
    switch (g_Game.EventState) {
    case 10:
        StartEvent();
        break;
    case 13:
        ChooseScript();
        break;
    case 20:
        TextPageFrame();
        break;
    case 23:
        g_Game.PictureIndex = EventPictureBase[g_Game.StageIndex];
        g_Game.EventState = 25;
        break;
    case 25:
        PicturesOnlyFrame();
        break;
    case 30:
        EndEvent();
        break;
    }
}
