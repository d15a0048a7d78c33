// The pixel kernel's conversion loops: one instance per pair of pixel sizes, look-up kind, key and skip, so that
// the choice is made once per call and the inner loop only loads, looks up, ORs and stores. The tables come from
// the kernel, which builds them from the same rules as its per-pixel path. Pure functions; any thread.
#include "image/pixel_kernel_loops.h"

#include <stddef.h>

namespace
{

template <int Bytes> inline uint32_t LoadPixel(const unsigned char *p)
{
    uint32_t value = p[0];
    if (Bytes > 1)
        value |= (uint32_t)p[1] << 8;
    if (Bytes > 2)
        value |= (uint32_t)p[2] << 16;
    if (Bytes > 3)
        value |= (uint32_t)p[3] << 24;
    return value;
}

template <int Bytes> inline void StorePixel(unsigned char *p, uint32_t value)
{
    p[0] = (unsigned char)value;
    if (Bytes > 1)
        p[1] = (unsigned char)(value >> 8);
    if (Bytes > 2)
        p[2] = (unsigned char)(value >> 16);
    if (Bytes > 3)
        p[3] = (unsigned char)(value >> 24);
}

template <int SourceBytes, int Kind> inline uint32_t LookUp(const ConversionTables *t, uint32_t value)
{
    const uint32_t(*table)[256] = t->table;
    if (Kind == LOOK_UP_BY_BYTE) {
        uint32_t out = table[0][value & 0xFF];
        if (SourceBytes > 1)
            out |= table[1][(value >> 8) & 0xFF];
        if (SourceBytes > 2)
            out |= table[2][(value >> 16) & 0xFF];
        if (SourceBytes > 3)
            out |= table[3][value >> 24];
        return out;
    }
    uint32_t out = table[0][(value & t->fieldMask[0]) >> t->fieldShift[0]] |
                   table[1][(value & t->fieldMask[1]) >> t->fieldShift[1]] |
                   table[2][(value & t->fieldMask[2]) >> t->fieldShift[2]];
    if (Kind == LOOK_UP_FOUR_FIELDS)
        out |= table[3][(value & t->fieldMask[3]) >> t->fieldShift[3]];
    return out;
}

template <int SourceBytes, int DestinationBytes, int Kind, bool Keyed, bool Skip>
void ConvertRowsWith(const ConversionTables *t, const ConversionRows *r)
{
    // Locals, so that the stores into the destination need not be assumed to change them.
    const uint32_t keyMask = t->keyMask, keyValue = t->keyValue, keyClear = t->keyClear, skipValue = t->skipValue;
    const int step = r->destinationStep, width = r->width;
    for (int y = 0; y < r->height; y++) {
        const unsigned char *in = r->source + (ptrdiff_t)y * r->sourcePitch;
        const unsigned char *end = in + (ptrdiff_t)width * SourceBytes;
        unsigned char *out = r->destination + (ptrdiff_t)y * r->destinationPitch;
        for (; in != end; in += SourceBytes, out += step) {
            uint32_t value = LoadPixel<SourceBytes>(in);
            if (Skip && value == skipValue) {
                continue;
            }
            uint32_t converted = LookUp<SourceBytes, Kind>(t, value);
            if (Keyed) {
                converted &= (value & keyMask) == keyValue ? keyClear : 0xFFFFFFFFu;
            }
            StorePixel<DestinationBytes>(out, converted);
        }
    }
}

// Instances indexed by [look-up kind][keyed][skip].
template <int S, int D, int Kind>
constexpr ConversionLoop Loops[2][2] = {
    {ConvertRowsWith<S, D, Kind, false, false>, ConvertRowsWith<S, D, Kind, false, true>},
    {ConvertRowsWith<S, D, Kind, true, false>, ConvertRowsWith<S, D, Kind, true, true>},
};

template <int S, int D> ConversionLoop LoopFor(int lookUp, int keyed, int skip)
{
    switch (lookUp) {
    case LOOK_UP_BY_BYTE:
        return Loops<S, D, LOOK_UP_BY_BYTE>[keyed][skip];
    case LOOK_UP_THREE_FIELDS:
        return Loops<S, D, LOOK_UP_THREE_FIELDS>[keyed][skip];
    default:
        return Loops<S, D, LOOK_UP_FOUR_FIELDS>[keyed][skip];
    }
}

template <int S> ConversionLoop LoopForDestination(int destinationBytes, int lookUp, int keyed, int skip)
{
    switch (destinationBytes) {
    case 1:
        return LoopFor<S, 1>(lookUp, keyed, skip);
    case 2:
        return LoopFor<S, 2>(lookUp, keyed, skip);
    case 3:
        return LoopFor<S, 3>(lookUp, keyed, skip);
    case 4:
        return LoopFor<S, 4>(lookUp, keyed, skip);
    default:
        return NULL;
    }
}

} // namespace

ConversionLoop ChooseConversionLoop(int sourceBytes, int destinationBytes, int lookUp, int keyed, int skip)
{
    int b = lookUp, k = keyed != 0, s = skip != 0;
    switch (sourceBytes) {
    case 1:
        return LoopForDestination<1>(destinationBytes, b, k, s);
    case 2:
        return LoopForDestination<2>(destinationBytes, b, k, s);
    case 3:
        return LoopForDestination<3>(destinationBytes, b, k, s);
    case 4:
        return LoopForDestination<4>(destinationBytes, b, k, s);
    default:
        return NULL;
    }
}
