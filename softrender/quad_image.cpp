// The drawer of a whole image onto a quadrilateral, which the rotated blit hands its mirrored pictures to. It draws
// through the textured triangle drawer, which comes with the software shapes; until then it draws nothing.
// Window thread only.
#include "softrender/softrender.h"

void MemImgDrawQuadImage(MEMIMG *destination, MEMIMG *source, const int (*points)[2], int transparent,
                         MEMIMG *blendImage)
{
}
