// The event player: the story event that follows a cleared stage and the gallery's replays. Its pages are not
// built yet, so every event ends on its first frame, and the end goes where a finished event's end goes: on to
// the next stage after a stage's clear, else back to the title. Window thread.
#include "game/game_state.h"

// The end of an event: outside the gallery and before the last stage the run goes on with the next stage; after
// the last stage's event and in the gallery the title side takes over.
static void EndEvent(void)
{
    if (g_Game.InGallery != 1 && g_Game.StageIndex < STAGE_COUNT - 1) {
        StartNextStage();
        return;
    }
    g_Game.EventState = 30;
    g_Game.MainState = 10;
    ReleasePicture();
}

void EventFrame(void)
{
    if (g_Game.EventState == 10) {
        EndEvent();
    }
}
