// Model, vertex-buffer, index-buffer and shader tables: their start and end. They start only with a Direct3D
// device, which is not made yet; the graphics work fills them in. Window thread only.
#include "graphics/graphics.h"

int InitModelSystem(void)
{
    return 0;
}

int TerminateModelSystem(void)
{
    return 0;
}
