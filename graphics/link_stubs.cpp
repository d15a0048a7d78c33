// Link stand-ins for calls whose work is still being merged; removed once it is in.
#include "graphics/graphics_internal.h"

void CALLBACK FrontScreenTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    KillTimer(window, id);
}
void BeginSceneIfNeeded(void)
{
}
void MeasureVerticalBlankPeriod(void)
{
}
int GetWaitVerticalBlank(void)
{
    return 0;
}
