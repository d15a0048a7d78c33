// Reading and writing one raw pixel value of 1 to 4 bytes, little-endian, at any alignment; wider pixels read as 0
// and are not written. Internal to image/.
#pragma once

#include <stdint.h>

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
