// stub
#include "game/game_state.h"
void UpdatePlayer(void) {}
void AnimateObjects(void) {}
void AnimatePlayer(void) {}
