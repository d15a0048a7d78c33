// The pixel kernel's conversion loops for packed pairs, chosen once per call: every pixel is a handful of table
// look-ups with no per-pixel decisions beyond the colour key. Internal to image/.
#pragma once

#include <stdint.h>

// How a pixel is looked up: table[b] by its byte b, table[c] by its field c (red, green, blue, and alpha), by its
// whole value, or not at all.
enum ConversionLookUp {
    LOOK_UP_BY_BYTE = 0,
    LOOK_UP_THREE_FIELDS = 1,
    LOOK_UP_FOUR_FIELDS = 2,
    LOOK_UP_WHOLE_PIXEL = 3,  // 2-byte sources: wholePixel[value], key included
    LOOK_UP_KEPT_BITS = 4,    // no look-up: (value & keptBits) | fixedBits
    LOOK_UP_MOVED_FIELDS = 5, // no look-up: each field shifted to its place and cut to its width, | fixedBits
};

#define WHOLE_PIXEL_TABLE_SIZE 65536

// Per-call tables that map a source pixel to its destination value: the destination value is the OR of four
// look-ups (by source byte, or by source field), bits every pixel gets (a full alpha without an alpha source)
// included; a keyed pixel then keeps only keyClear's bits.
struct ConversionTables {
    uint32_t table[4][256];
    uint32_t fieldMask[4]; // field look-ups: table[c][(value & fieldMask[c]) >> fieldShift[c]]
    int fieldShift[4];
    int lookUp;                 // LOOK_UP_*
    const uint32_t *wholePixel; // WHOLE_PIXEL_TABLE_SIZE entries
    uint32_t keptBits;          // source bits that stay where they are
    uint32_t movedMask[4];      // moved fields: ((value >> movedRight[c]) << movedLeft[c]) & movedMask[c]
    int movedRight[4], movedLeft[4];
    uint32_t fixedBits;         // bits every pixel gets (also folded into table[0])
    uint32_t keyMask, keyValue; // keyed when (value & keyMask) == keyValue
    uint32_t keyClear;          // what a keyed pixel keeps (its alpha is cleared)
    uint32_t skipValue;         // raw source value that is not written
};

// The rectangle as rows: first pixels, pitches, width and height; destinationStep is the destination's bytes per
// pixel, negative for mirrored rows (the first destination pixel is then the row's right end).
struct ConversionRows {
    unsigned char *destination;
    const unsigned char *source;
    int destinationPitch, sourcePitch, destinationStep;
    int width, height;
};

// Fills `whole` with the conversion of every 2-byte value by the field look-ups of `tables`, key included; the
// loop chosen for LOOK_UP_WHOLE_PIXEL then takes one look-up a pixel.
void FillWholePixelTable(const ConversionTables *tables, int keyed, uint32_t *whole);

typedef void (*ConversionLoop)(const ConversionTables *tables, const ConversionRows *rows);

// The loop for 1- to 4-byte pixels on both sides, with or without the key and the skipped value; null otherwise.
ConversionLoop ChooseConversionLoop(int sourceBytes, int destinationBytes, int lookUp, int keyed, int skip);
