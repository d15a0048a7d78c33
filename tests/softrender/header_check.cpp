// Compiled only: the software renderer's contract after the platform header and the image contract, in the order
// a renderer source includes them, with its rectangle being the platform's own.
#include <windows.h>

#include "image/image.h"
#include "softrender/softrender.h"

#include <type_traits>

static_assert(std::is_same<decltype(&MemImgFillBox), void (*)(MEMIMG *, const RECT *, unsigned int)>::value,
              "MemImgFillBox takes the platform's RECT");
