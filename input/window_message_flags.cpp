// The window procedure's private input messages (0x46F and 0x470) raise or clear one flag each. Nothing in the
// engine reads either flag, so none is kept: the calls only answer. Window thread only.
#include "input/input.h"

int RaiseWindowMessageFlagA(void)
{
    return 0;
}

int ClearWindowMessageFlagA(void)
{
    return 0;
}

int RaiseWindowMessageFlagB(void)
{
    return 0;
}

int ClearWindowMessageFlagB(void)
{
    return 0;
}
