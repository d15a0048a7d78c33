// The pixel kernel's conversion loops: one instance per pair of pixel sizes, look-up kind, key and skip, so that
// the choice is made once per call and the inner loop only loads, looks up, ORs and stores. The tables come from
// the kernel, which builds them from the same rules as its per-pixel path. Pure functions; any thread.
#include "image/pixel_kernel_loops.h"

#include <emmintrin.h>
#include <stddef.h>
#include <string.h>

namespace
{

// Little-endian pixels; whole 2- and 4-byte pixels move as one unaligned access.
template <int Bytes> inline uint32_t LoadPixel(const unsigned char *p)
{
    if (Bytes == 1)
        return p[0];
    uint16_t low;
    memcpy(&low, p, 2);
    if (Bytes == 2)
        return low;
    if (Bytes == 3)
        return low | (uint32_t)p[2] << 16;
    uint32_t value;
    memcpy(&value, p, 4);
    return value;
}

template <int Bytes> inline void StorePixel(unsigned char *p, uint32_t value)
{
    if (Bytes == 1) {
        p[0] = (unsigned char)value;
    } else if (Bytes == 4) {
        memcpy(p, &value, 4);
    } else {
        uint16_t low = (uint16_t)value;
        memcpy(p, &low, 2);
        if (Bytes == 3)
            p[2] = (unsigned char)(value >> 16);
    }
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
    if (Kind == LOOK_UP_KEPT_BITS)
        return (value & t->keptBits) | t->fixedBits;
    if (Kind == LOOK_UP_WHOLE_PIXEL)
        return t->wholePixel[value];
    if (Kind == LOOK_UP_MOVED_FIELDS) {
        uint32_t out = t->fixedBits;
        for (int c = 0; c < 4; c++)
            out |= ((value >> t->movedRight[c]) << t->movedLeft[c]) & t->movedMask[c];
        return out;
    }
    uint32_t out = table[0][(value & t->fieldMask[0]) >> t->fieldShift[0]] |
                   table[1][(value & t->fieldMask[1]) >> t->fieldShift[1]] |
                   table[2][(value & t->fieldMask[2]) >> t->fieldShift[2]];
    if (Kind == LOOK_UP_FOUR_FIELDS)
        out |= table[3][(value & t->fieldMask[3]) >> t->fieldShift[3]];
    return out;
}

// Clears the alpha of a converted row's keyed pixels. A pass of its own: folded into the conversion it costs the
// conversion its registers.
template <int SourceBytes, int DestinationBytes, bool Skip>
void ClearKeyedAlpha(const ConversionTables *t, const unsigned char *in, unsigned char *out, int width, int step)
{
    for (const unsigned char *end = in + (ptrdiff_t)width * SourceBytes; in != end; in += SourceBytes, out += step) {
        uint32_t value = LoadPixel<SourceBytes>(in);
        if (((value ^ t->keyValue) & t->keyMask) == 0 && !(Skip && value == t->skipValue)) {
            StorePixel<DestinationBytes>(out, LoadPixel<DestinationBytes>(out) & t->keyClear);
        }
    }
}

template <int SourceBytes, int DestinationBytes, int Kind, bool Keyed, bool Skip>
void ConvertRowsWith(const ConversionTables *t, const ConversionRows *r)
{
    // Locals, so that the stores into the destination need not be assumed to change them.
    const uint32_t skipValue = t->skipValue;
    const int step = r->destinationStep, width = r->width;
    for (int y = 0; y < r->height; y++) {
        const unsigned char *in = r->source + (ptrdiff_t)y * r->sourcePitch;
        const unsigned char *end = in + (ptrdiff_t)width * SourceBytes;
        unsigned char *out = r->destination + (ptrdiff_t)y * r->destinationPitch;
        for (unsigned char *o = out; in != end; in += SourceBytes, o += step) {
            uint32_t value = LoadPixel<SourceBytes>(in);
            if (Skip && value == skipValue) {
                continue;
            }
            StorePixel<DestinationBytes>(o, LookUp<SourceBytes, Kind>(t, value));
        }
        if (Keyed) {
            ClearKeyedAlpha<SourceBytes, DestinationBytes, Skip>(t, end - (ptrdiff_t)width * SourceBytes, out, width,
                                                                 step);
        }
    }
}

// Moved fields from 4-byte pixels, four at a time in SSE2 registers (which every processor the build targets has):
// each field is one shift pair and a mask for all four lanes. 2-byte results are narrowed by packing their sign-
// extended low halves, which keeps every value exact.
template <int DestinationBytes> inline void StoreMovedGroup(unsigned char *out, __m128i low, __m128i high)
{
    if (DestinationBytes == 4) {
        _mm_storeu_si128((__m128i *)out, low);
        _mm_storeu_si128((__m128i *)(out + 16), high);
    } else {
        low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
        high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
        _mm_storeu_si128((__m128i *)out, _mm_packs_epi32(low, high));
    }
}

struct MovedFieldRegisters {
    __m128i fixed, mask[4], right[4], left[4];
};

inline __m128i MoveFields(const MovedFieldRegisters &m, __m128i value)
{
    __m128i out = m.fixed;
    for (int c = 0; c < 4; c++) {
        __m128i moved = _mm_sll_epi32(_mm_srl_epi32(value, m.right[c]), m.left[c]);
        out = _mm_or_si128(out, _mm_and_si128(moved, m.mask[c]));
    }
    return out;
}

template <int DestinationBytes, bool Keyed> void MoveFieldsInRows(const ConversionTables *t, const ConversionRows *r)
{
    MovedFieldRegisters m;
    m.fixed = _mm_set1_epi32((int)t->fixedBits);
    for (int c = 0; c < 4; c++) {
        m.mask[c] = _mm_set1_epi32((int)t->movedMask[c]);
        m.right[c] = _mm_cvtsi32_si128(t->movedRight[c]);
        m.left[c] = _mm_cvtsi32_si128(t->movedLeft[c]);
    }
    for (int y = 0; y < r->height; y++) {
        const unsigned char *in = r->source + (ptrdiff_t)y * r->sourcePitch;
        unsigned char *out = r->destination + (ptrdiff_t)y * r->destinationPitch;
        int x = 0;
        for (; x + 8 <= r->width; x += 8) {
            __m128i low = MoveFields(m, _mm_loadu_si128((const __m128i *)(in + 4 * x)));
            __m128i high = MoveFields(m, _mm_loadu_si128((const __m128i *)(in + 4 * x + 16)));
            StoreMovedGroup<DestinationBytes>(out + DestinationBytes * x, low, high);
        }
        for (; x < r->width; x++) {
            StorePixel<DestinationBytes>(out + DestinationBytes * x,
                                         LookUp<4, LOOK_UP_MOVED_FIELDS>(t, LoadPixel<4>(in + 4 * x)));
        }
        if (Keyed) {
            ClearKeyedAlpha<4, DestinationBytes, false>(t, in, out, r->width, DestinationBytes);
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
    case LOOK_UP_FOUR_FIELDS:
        return Loops<S, D, LOOK_UP_FOUR_FIELDS>[keyed][skip];
    case LOOK_UP_KEPT_BITS:
        return Loops<S, D, LOOK_UP_KEPT_BITS>[keyed][skip];
    case LOOK_UP_MOVED_FIELDS: // chosen only for rows in order without a skipped value
        if (S == 4 && (D == 2 || D == 4) && !skip) {
            constexpr int Moved = D == 4 ? 4 : 2;
            return keyed ? MoveFieldsInRows<Moved, true> : MoveFieldsInRows<Moved, false>;
        }
        return NULL;
    default:
        return S == 2 ? Loops<S, D, LOOK_UP_WHOLE_PIXEL>[keyed][skip] : NULL;
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

void FillWholePixelTable(const ConversionTables *t, int keyed, uint32_t *whole)
{
    for (uint32_t value = 0; value < WHOLE_PIXEL_TABLE_SIZE; value++) {
        uint32_t converted = t->lookUp == LOOK_UP_FOUR_FIELDS ? LookUp<2, LOOK_UP_FOUR_FIELDS>(t, value)
                                                              : LookUp<2, LOOK_UP_THREE_FIELDS>(t, value);
        whole[value] = keyed && (value & t->keyMask) == t->keyValue ? converted & t->keyClear : converted;
    }
}

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
