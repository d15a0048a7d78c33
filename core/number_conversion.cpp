// The number conversions and the rectangle clipping that the software renderers rely on before they touch
// pixels: truncating float-to-int conversions with a fixed answer outside the int range, one-step sine and
// cosine, and clipping one rectangle to another. Needs nothing of the platform, so the host tests build it too.
// Stateless; any thread.
#include "core/core.h"

#include <limits.h>

void SinCos(float angle, float *sinOut, float *cosOut)
{
    long double sine, cosine;
    __asm__("fsincos" : "=t"(cosine), "=u"(sine) : "0"((long double)angle));
    *sinOut = (float)sine;
    *cosOut = (float)cosine;
}

// C conversions truncate toward zero whatever the rounding mode, which is the chop the engine asks for; they are
// defined only inside the int range, so a NaN or a value beyond it gives INT_MIN, the processor's own answer.
int FloatToInt(float value)
{
    if (!(value >= -2147483648.0f && value < 2147483648.0f)) {
        return INT_MIN;
    }
    return (int)value;
}

int DoubleToInt(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return INT_MIN;
    }
    return (int)value;
}

// Above the upper bound becomes the upper bound, else below the lower bound becomes the lower bound.
static LONG ClampToRange(LONG value, LONG lower, LONG upper)
{
    if (value > upper) {
        return upper;
    }
    return value < lower ? lower : value;
}

int ClipRect(RECT *rect, const RECT *clip)
{
    // A reversed rectangle becomes empty.
    if (rect->right < rect->left) {
        rect->right = rect->left;
    }
    if (rect->bottom < rect->top) {
        rect->bottom = rect->top;
    }
    rect->bottom = ClampToRange(rect->bottom, clip->top, clip->bottom);
    rect->top = ClampToRange(rect->top, clip->top, clip->bottom);
    rect->right = ClampToRange(rect->right, clip->left, clip->right);
    rect->left = ClampToRange(rect->left, clip->left, clip->right);
    return 0;
}
