// stub
#include "game/game_state.h"
void CheckPlayerAttack(void) {}
void StrikeObjectRight(int) {}
void StrikeObjectLeft(int) {}
void CheckPlayerContact(void) {}
int IsPointOutsideObject(int, int, int) { return 1; }
void HurtPlayer(int) {}
void CheckKnockedObjects(void) {}
int IsObjectClearOf(int, int) { return 1; }
void HitByKnockedRight(int, int) {}
void HitByKnockedLeft(int, int) {}
