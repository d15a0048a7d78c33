// Texture splitting: how one side of a graph is cut into texture sides the device accepts, from the device's
// limits and the two engine settings of the cutting (a forced largest side, never splitting). Graph creation asks
// once per side; the pieces of the two sides form its grid. Window thread only.
#include "graphics/graphics_internal.h"

#define SMALLEST_PIECE 8

static int s_ForcedMaxSize;
static int s_NeverSplit;

int SetForcedMaxTextureSize(int size)
{
    s_ForcedMaxSize = size > 0 ? size : 0;
    return 0;
}

int SetTextureNeverSplit(int flag)
{
    s_NeverSplit = flag != 0;
    return 0;
}

// The largest power of two not above `size`, at least the smallest piece.
static int FloorPowerOfTwo(int size)
{
    int power = SMALLEST_PIECE;
    while (power <= size / 2) {
        power *= 2;
    }
    return power;
}

static int WritePiece(int *pieces, int index, int size)
{
    if (pieces != NULL) {
        pieces[index] = size;
    }
    return index + 1;
}

// Cuts `size` into pieces of `piece` (a power of two not above the size), halving the piece as the rest shrinks;
// a rest of more than three quarters of the piece is taken by doubling the last piece instead. A last piece equal
// to the one before joins it as one piece of twice the size when the device takes that. The merge is decided
// before the last piece is written, so the array never holds more than the count returned.
static int SplitIntoPieces(int maxSize, int size, int piece, int *pieces)
{
    int count = 0;
    int previous = 0;
    int rest = size;
    for (;;) {
        int current = piece;
        rest -= piece;
        int last = rest < 1;
        if (!last && rest > piece * 3 / 4 && piece < maxSize) {
            current = piece * 2;
            last = 1;
        }
        if (last && current == previous && current * 2 <= maxSize) {
            WritePiece(pieces, count - 1, current * 2);
            return count;
        }
        count = WritePiece(pieces, count, current);
        if (last) {
            return count;
        }
        previous = current;
        while (rest < piece && piece > SMALLEST_PIECE) {
            piece /= 2;
        }
    }
}

int SplitTextureSizesWith(const TexturePieceLimits *limits, int size, int *pieces, int keepWhole, int powerOfTwo)
{
    if (size < 1) {
        return 0;
    }
    int maxSize = FloorPowerOfTwo(limits->maxSize); // a forced maximum may be any number
    int anySizeAccepted = !limits->powerOfTwoOnly || limits->nonPowerOfTwoConditional;
    if (!powerOfTwo && anySizeAccepted && size <= maxSize) {
        return WritePiece(pieces, 0, size);
    }
    if (size <= SMALLEST_PIECE) {
        return WritePiece(pieces, 0, SMALLEST_PIECE);
    }
    int piece = maxSize;
    while (piece > SMALLEST_PIECE && piece > size) {
        piece /= 2;
    }
    int whole = keepWhole || limits->neverSplit || (limits->forcedMaxSize == 0 && size < limits->screenWidth);
    if (whole && piece * 2 <= maxSize) {
        return WritePiece(pieces, 0, piece >= size ? piece : piece * 2);
    }
    return SplitIntoPieces(maxSize, size, piece, pieces);
}

int SplitTextureSizes(int size, int *pieces, int keepWhole, int powerOfTwo)
{
    int deviceMax = g_D3D.maxTextureWidth < g_D3D.maxTextureHeight ? g_D3D.maxTextureWidth : g_D3D.maxTextureHeight;
    int screenWidth;
    GetScreenSize(&screenWidth, NULL);
    TexturePieceLimits limits;
    limits.maxSize = s_ForcedMaxSize != 0 ? s_ForcedMaxSize : deviceMax;
    limits.forcedMaxSize = s_ForcedMaxSize;
    limits.powerOfTwoOnly = g_D3D.powerOfTwoOnly;
    limits.nonPowerOfTwoConditional = g_D3D.nonPowerOfTwoAllowed;
    limits.neverSplit = s_NeverSplit;
    limits.screenWidth = screenWidth;
    return SplitTextureSizesWith(&limits, size, pieces, keepWhole, powerOfTwo);
}
