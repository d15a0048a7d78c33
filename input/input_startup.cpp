// Input start-up and end: the DirectInput devices and their fall-backs come with the input work; until then input
// starts and ends without a device. Window thread only.
#include "input/input.h"

int InitializeInput(void)
{
    return 0;
}

int TerminateInput(void)
{
    return 0;
}

int ReacquireInputDevices(void)
{
    return 0;
}
