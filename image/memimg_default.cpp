// The default software image: a plain colour image in the screen's colour depth. Kept apart from the rest of the
// software-image code because it asks the graphics core for the screen depth. Window thread.
#include "graphics/graphics.h"
#include "image/image.h"

#include <string.h>

int CreateMemImgDefault(MEMIMG *image, int width, int height, int kind)
{
    memset(image, 0, sizeof(*image));
    if (kind == -1) {
        kind = GetScreenColorBits() == 16 ? MEMIMG_KIND_RGB16 : MEMIMG_KIND_RGB32;
    }
    return CreateMemImg(image, width, height, -1, 0, kind, 0, 0, 0, NULL);
}
