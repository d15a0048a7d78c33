// stub
#include "game/game_state.h"
void ScrollBackground(void) {}
void DrawSpriteCell(int, int, int, int) {}
void DrawSpriteBlock(int, int, int, int, int) {}
void DrawSpriteBlockMirrored(int, int, int, int, int) {}
void DrawBossHealthBar(void) {}
