// The two flags the window procedure's private input messages (0x46F and 0x470) raise and clear. Nothing reads
// them. Window thread only.
#include "input/input.h"

static int s_WindowMessageFlagA;
static int s_WindowMessageFlagB;

int RaiseWindowMessageFlagA(void)
{
    s_WindowMessageFlagA = 1;
    return 0;
}

int ClearWindowMessageFlagA(void)
{
    s_WindowMessageFlagA = 0;
    return 0;
}

int RaiseWindowMessageFlagB(void)
{
    s_WindowMessageFlagB = 1;
    return 0;
}

int ClearWindowMessageFlagB(void)
{
    s_WindowMessageFlagB = 0;
    return 0;
}
