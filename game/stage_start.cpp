// Stage start: the state of a new game, a continue or a retry. Stage play is not built yet, so a start leaves
// every value as it is; the title side's hand-over then ends on a still screen.
#include "game/game_state.h"

void StartStage(int8_t mode)
{
}
