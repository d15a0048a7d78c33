// stub
#include "game/game_state.h"
int IsObjectActive(int index)
{
    const ObjectRecord &r = ObjectTable[index];
    return g_Game.StageWindowStart <= r.appearTime && r.appearTime <= g_Game.StageTime && r.state != GONE_STATE;
}
void UpdateObjects(void) {}
int GameRand(void)
{
    g_Game.RandomState = g_Game.RandomState * 214013u + 2531011u;
    return (int)((g_Game.RandomState >> 16) & 0x7FFF);
}
