// stub
#include "game/game_state.h"
void StageIntroFrame(void) {}
void StageClearFrame(void) {}
void MissFrame(void) {}
