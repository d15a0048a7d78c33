// The frame step: the one call the main loop makes per frame for the whole game. Only the title side is built;
// once it hands over to play (MainState 0) the frame does nothing, and the last picture stays. Window thread.
#include "game/game_state.h"

void GameFrame(void)
{
    if (g_Game.MainState > 0) {
        TitleFrame();
    }
}
