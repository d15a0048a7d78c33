// Typed characters and the key-input table: start-up's reset, the pump's text-entry step and the end's delete-all
// come with the input work. Window thread only.
#include "input/input.h"

int InitCharCodeBuffer(void)
{
    return 0;
}

int ProcessKeyInputChars(void)
{
    return 0;
}

int DeleteAllKeyInputHandles(void)
{
    return 0;
}
