// Reading and writing one raw pixel value of 1 to 4 bytes, little-endian, at any alignment (wider pixels read as 0
// and are not written), and the one rule that tells palette pixels from packed ones. Internal to image/.
#pragma once

#include "image/image.h"

#include <stdint.h>

// A 1-byte format is packed pixels when its channel masks are set and lie within the byte (R3G3B2, a single 8-bit
// channel); otherwise its pixels index the palette and its channel fields describe the palette's entries. The pixel
// calls, the conversions and the transfers all decide by this.
static inline int IsPaletteFormat(const PixelFormat *format)
{
    uint32_t masks = format->redMask | format->greenMask | format->blueMask | format->alphaMask;
    return format->bytesPerPixel == 1 && (masks == 0 || masks > 0xFF);
}

static inline uint32_t ReadPixelValue(const unsigned char *p, int bytesPerPixel)
{
    uint32_t value = 0;
    if (bytesPerPixel > 4) {
        return 0;
    }
    for (int i = 0; i < bytesPerPixel; i++) {
        value |= (uint32_t)p[i] << (8 * i);
    }
    return value;
}

static inline void WritePixelValue(unsigned char *p, int bytesPerPixel, uint32_t value)
{
    if (bytesPerPixel > 4) {
        return;
    }
    for (int i = 0; i < bytesPerPixel; i++) {
        p[i] = (unsigned char)(value >> (8 * i));
    }
}
