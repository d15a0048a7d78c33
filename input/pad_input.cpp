// Pad and keyboard upkeep of the message pump: the key state refresh and the pad vibration timing come with the
// input work. Window thread only.
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
