// Program entry.
#include "core/core.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return ValidateEngineHandle(MakeEngineHandle(HANDLE_TYPE_GRAPH, 1, 0), HANDLE_TYPE_GRAPH, NULL, 0) ? 1 : 0;
}
