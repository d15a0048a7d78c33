// Saturating add and subtract of whole pixels, every channel at once through guard bits: the forms the software
// blits and shapes share. Internal to softrender/; pure functions, any thread.
#pragma once

#include <stdint.h>

// 32-bit pixels {blue, green, red, fourth byte}: blue adds exactly; green and red add their upper seven bits with
// the channel below's carry in their lowest bit and saturate at 255; the lowest green and red bits come back as the
// OR of both operands'. Byte 3 of the result is 1 when red overflowed.
static inline uint32_t PackedAdd32(uint32_t destination, uint32_t addend)
{
    uint32_t sum = (destination & 0x00FEFEFF) + (addend & 0x00FEFEFF);
    uint32_t carry = sum & 0x01010100;
    return sum | (carry - (carry >> 8)) | ((destination | addend) & 0x00010100);
}

// A channel that borrows becomes 0; byte 3 of the result is always 0.
static inline uint32_t PackedSubtract32(uint32_t destination, uint32_t subtrahend)
{
    uint32_t difference = (destination | 0x01010100) - (subtrahend & 0x00FEFEFF);
    uint32_t guard = difference & 0x01010100;
    return difference & (guard - (guard >> 8));
}

// RGB565 pixels: the sums of blue, of the upper five green bits and of the upper four red bits carry into bits 5,
// 11 and 16, and each carry becomes an all-ones field; the two masked low bits come back as the inputs' OR.
static inline uint32_t PackedAdd16(uint32_t destination, uint32_t addend)
{
    uint32_t sum = (destination & 0xF7DEF7DF) + (addend & 0xF7DEF7DF);
    uint32_t carry = sum & 0x08210820;
    return ((carry - (carry >> 5)) | ((destination | addend) & 0x0820) | sum) & 0xFFFF;
}

static inline uint32_t PackedSubtract16(uint32_t destination, uint32_t subtrahend)
{
    uint32_t difference = (destination | 0x08210820) - (subtrahend & 0xF7DEF7DF);
    uint32_t guard = difference & 0x08210820;
    return ((guard - (guard >> 5)) & difference) & 0xFFFF;
}
