// The gallery of cleared stages' events. Until the event player exists its entry shows an empty gallery screen
// for one frame and goes straight back to the title. Window thread.
#include "game/game_state.h"

#include "graphics/graphics.h"

void GalleryEntryFrame(void)
{
    g_Game.MainState = 10;
    DrawGallery();
}

void DrawGallery(void)
{
    DrawBoxShape(0, 0, 640, 480, 0, 1);
}
