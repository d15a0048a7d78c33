// Pad and keyboard upkeep of the message pump and single keys: the key state refresh, the key query and the pad
// vibration timing come with the input work. Window thread only.
#include "input/input.h"

int UpdateKeyboardState(void)
{
    return 0;
}

int ApplyJoypadVibration(void)
{
    return 0;
}

int UpdateJoypadVibrationTime(void)
{
    return 0;
}

int IsKeyDown(int keyCode)
{
    return 0;
}
