// The per-pixel rules of the software image blits, shared by the draw at a point, the run-table walk, the stretched
// and the rotated draw: the lookup rows taken once per call, the source forms, the 32-bit and 16-bit rule of every
// blend mode with its weights, the handling of colour keys and source alpha, and the choice of one row loop per
// call from the settings. Each combination of settings is its own template leaf, so no pixel loop tests the draw
// state. Internal to softrender/; window thread only, like every drawing call.
#pragma once

#include "image/image.h"
#include "softrender/packed_arithmetic.h"
#include "softrender/softrender.h"

#include <stdint.h>
#include <string.h>

enum BlitSourceForm {
    BLIT_PALETTE, // one index byte a pixel into the block's palette
    BLIT_DIRECT,  // the pixel is the colour
    BLIT_ALPHA,   // colour plus an alpha byte (byte 3 of a 32-bit pixel, byte 2 of a 16-bit one's four)
};

// The fast forms of the draw at a point, used only without blend image, brightness and source alpha, and the
// textured triangle's own order of the 16-bit rules.
enum BlitForm {
    BLIT_GENERAL,
    BLIT_HALVE, // mode 1 at p = 128: both pixels halved and added
    BLIT_MIX64, // 16-bit mode 1 at other p: the 64-level mix table
    BLIT_FULL,  // modes 2 and 3 at p = 255: the unscaled source, 32-bit add without its carry-back bits, 16-bit pairs
    BLIT_TEXTURED, // 16-bit: brightness before every weight in modes 2 and 3, mode 11's green product unrefined
};

// What one call reads besides the pixels: table rows picked from the blend parameter and the brightness, the fade
// ramp, the source palette and its colour key.
struct BlitLookups {
    const int32_t *diffRow;     // diffRow[d] = trunc(p x d / 255), d in -255..255
    const uint32_t *productRow; // productRow[c] = floor(p x c / 255)
    const uint32_t *brightRowR, *brightRowG, *brightRowB;
    const uint8_t *mixLayer; // layer p / 4 of the 64-level mix table
    const uint8_t *fade;     // weight of a blend-image byte
    const void *palette;
    uint32_t parameter;
    uint32_t transparentValue;
};

// The settings one call draws with, after the refusals: they name its leaf.
struct BlitChoice {
    int depth; // 16 or 32
    int source;
    int mode; // 0-4, 10, 11 (mode 1 at p = 255 is mode 0)
    bool blend, bright, keyed;
    int form;
};

// The refusals every blit shares: images not live, source and destination of different kinds, a palettised or
// alpha destination, a blend image that is not one byte a pixel or smaller than the source.
bool BlitImagesAcceptable(const MEMIMG *destination, const MEMIMG *source, const MEMIMG *blendImage);
// The draw area, kept inside the destination.
RECT BlitDrawArea(const MEMIMG *destination);
// Reads the draw settings into a choice; -1 when they draw nothing (mode 5-9 or beyond 11, mode 1 or 2 at p = 0,
// mode 3 at p = 0 with a direct-colour source, a source kind other than 16 or 32 bits). specialForms: the caller
// has the fast forms of the draw at a point.
int ChooseBlitLoop(const MemImgBlock *source, int transparent, bool blendImage, bool specialForms, BlitChoice *choice);
void TakeBlitLookups(BlitLookups *lookups, const MemImgBlock *source, const void *palette);
// For a palettised source, copies its whole palette (256 entries of the kind's colour form) into a draw's own
// scratch and returns the scratch; otherwise returns the block's palette unchanged.
const void *CopyBlitPalette(uint32_t scratch[256], const MemImgBlock *source);

// A 64-bit coordinate held to the int range.
static inline int ClampToInt(int64_t value)
{
    return value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : (int)value;
}

// ---------------------------------------------------------------------------------------------------------------
// Loop counting for the tests: every leaf registers itself once and counts the calls that chose it.

struct BlitLeafRegistration {
    BlitLeafRegistration(const char *kind, int depth, int source, int mode, bool blend, bool bright, bool keyed,
                         int form);
    // A shape loop: its kind, depth and mode, and a variant letter (0 for none).
    BlitLeafRegistration(const char *kind, int depth, int mode, char variant);
    unsigned *calls;

  private:
    void Register(const char *name);
};

template <class Kind, class Leaf> struct BlitLeafCounter {
    static BlitLeafRegistration registration;
};

template <class Kind, class Leaf>
BlitLeafRegistration BlitLeafCounter<Kind, Leaf>::registration(Kind::name, Leaf::depth, Leaf::source, Leaf::mode,
                                                               Leaf::blend, Leaf::bright, Leaf::keyed, Leaf::form);

template <class Kind, class Leaf> static inline void CountBlitLeaf(void)
{
    ++*BlitLeafCounter<Kind, Leaf>::registration.calls;
}

// ---------------------------------------------------------------------------------------------------------------
// Pixels in memory: rows need not be aligned to the pixel size.

static inline uint32_t LoadBlit32(const uint8_t *p)
{
    uint32_t value;
    memcpy(&value, p, 4);
    return value;
}

static inline uint32_t LoadBlit16(const uint8_t *p)
{
    uint16_t value;
    memcpy(&value, p, 2);
    return value;
}

static inline void StoreBlit32(uint8_t *p, uint32_t value)
{
    memcpy(p, &value, 4);
}

static inline void StoreBlit16(uint8_t *p, uint32_t value)
{
    uint16_t narrow = (uint16_t)value;
    memcpy(p, &narrow, 2);
}

// ---------------------------------------------------------------------------------------------------------------
// 32-bit rules: channels blue, green, red in bytes 0-2; byte 3 is kept unless a rule stores the whole word.

template <bool Bright> static inline uint32_t BrightWord32(const BlitLookups &lookups, uint32_t s)
{
    if (!Bright) {
        return s;
    }
    return lookups.brightRowB[s & 0xFF] | lookups.brightRowG[(s >> 8) & 0xFF] << 8 |
           lookups.brightRowR[(s >> 16) & 0xFF] << 16;
}

// d + floor((t - d) x weight / 256^Count) per channel, weight being the product of Count 8-bit weights. The exact
// sum d x (256^Count - weight) + t x weight is never negative and stays below 2^32, so unsigned wrapping is exact.
template <int Count> static inline uint32_t MixWord32(uint32_t d, uint32_t t, uint32_t weight)
{
    if (Count == 1) {
        // Red and blue side by side in 16-bit lanes, then green. Each lane's exact value d x 256 + (t - d) x weight
        // lies in 0..65280, so the word computed modulo 2^32, lane borrows and all, holds exactly those lanes.
        uint32_t dRedBlue = d & 0xFF00FF, dGreen = d & 0xFF00;
        uint32_t redBlue = ((dRedBlue << 8) + ((t & 0xFF00FF) - dRedBlue) * weight) >> 8;
        uint32_t green = ((dGreen << 8) + ((t & 0xFF00) - dGreen) * weight) >> 8;
        return (d & 0xFF000000) | (redBlue & 0xFF00FF) | (green & 0xFF00);
    }
    const int shift = 8 * Count;
    uint32_t out = d & 0xFF000000;
    for (int channel = 0; channel < 24; channel += 8) {
        uint32_t dc = (d >> channel) & 0xFF, tc = (t >> channel) & 0xFF;
        out |= (((dc << shift) + (tc - dc) * weight) >> shift & 0xFF) << channel;
    }
    return out;
}

// Each colour byte of d replaced by floor(a x b / 256^Count) with a the brightened source byte and b given per
// channel by the mode (the destination byte for mode 4 and 11's product, the parameter for modes 2 and 3).
template <int Count, bool Bright>
static inline uint32_t ScaleWord32(const BlitLookups &lookups, uint32_t s, uint32_t byWord, uint32_t weight)
{
    uint32_t t = BrightWord32<Bright>(lookups, s), out = 0;
    for (int channel = 0; channel < 24; channel += 8) {
        uint32_t product = ((t >> channel) & 0xFF) * ((byWord >> channel) & 0xFF) * weight;
        out |= (Count == 3 ? product >> 24 : (product >> (8 * Count)) & 0xFF) << channel;
    }
    return out;
}

template <int Mode, bool Blend, bool Bright, bool AlphaWeight, int Form>
static inline uint32_t ApplyRule32(const BlitLookups &lookups, uint32_t d, uint32_t s, uint32_t a, uint32_t f)
{
    constexpr int count = (Blend ? 1 : 0) + (AlphaWeight ? 1 : 0); // weights besides the parameter
    const uint32_t weight = (Blend ? f : 1) * (AlphaWeight ? a : 1);
    const uint32_t p = lookups.parameter;
    if constexpr (Mode == 0) {
        if constexpr (count == 0) {
            return Bright ? (d & 0xFF000000) | BrightWord32<true>(lookups, s) : s;
        } else {
            return MixWord32<count>(d, BrightWord32<Bright>(lookups, s), weight);
        }
    } else if constexpr (Mode == 1 && Form == BLIT_HALVE) {
        return ((s >> 1) & 0x7F7F7F) + ((d >> 1) & 0x7F7F7F);
    } else if constexpr (Mode == 1 || Mode == 10) {
        return MixWord32<count + 1>(d, BrightWord32<Bright>(lookups, Mode == 10 ? ~s : s), p * weight);
    } else if constexpr (Mode == 11) {
        return MixWord32<count + 1>(d, ScaleWord32<1, Bright>(lookups, s, d, 1), p * weight);
    } else if constexpr (Mode == 4) {
        return (d & 0xFF000000) | ScaleWord32<count + 1, Bright>(lookups, s, d, weight);
    } else {
        uint32_t addend;
        if constexpr (Form == BLIT_FULL) {
            addend = s;
        } else if constexpr (count == 0) {
            uint32_t t = BrightWord32<Bright>(lookups, s);
            addend = lookups.productRow[t & 0xFF] | lookups.productRow[(t >> 8) & 0xFF] << 8 |
                     lookups.productRow[(t >> 16) & 0xFF] << 16;
        } else {
            addend = ScaleWord32<count + 1, Bright>(lookups, s, p * 0x010101, weight);
        }
        if constexpr (Mode == 3) {
            return PackedSubtract32(d, addend);
        } else if constexpr (Form == BLIT_FULL) {
            uint32_t sum = (d & 0x00FEFEFF) + (addend & 0x00FEFEFF), carry = sum & 0x01010100;
            return sum | (carry - (carry >> 8));
        } else {
            return PackedAdd32(d, addend);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// 16-bit rules: RGB565, channel values red 0-31, green 0-63, blue 0-31, each kept inside its field.

struct Channels16 {
    uint32_t red, green, blue;
};

static inline Channels16 SplitRgb565(uint32_t v)
{
    return {v >> 11 & 31, v >> 5 & 63, v & 31};
}

static inline uint32_t JoinRgb565(Channels16 c)
{
    return c.red << 11 | c.green << 5 | c.blue;
}

template <bool Bright> static inline Channels16 Brighten16(const BlitLookups &lookups, Channels16 c)
{
    if (!Bright) {
        return c;
    }
    return {lookups.brightRowR[c.red], lookups.brightRowG[c.green], lookups.brightRowB[c.blue]};
}

// d + floor((x - d) x weight / 2^shift), exact in unsigned arithmetic as in MixWord32.
static inline uint32_t Step16(uint32_t d, uint32_t x, uint32_t weight, int shift)
{
    return ((d << shift) + (x - d) * weight) >> shift;
}

// d + trunc(p x (x - d) / 255): the step when the parameter is the only weight.
static inline uint32_t DiffStep16(const BlitLookups &lookups, uint32_t d, uint32_t x)
{
    return d + lookups.diffRow[(int)x - (int)d];
}

template <int Mode, bool Blend, bool Bright, bool AlphaWeight, int Form>
static inline uint32_t ApplyRule16(const BlitLookups &lookups, uint32_t dWord, uint32_t sWord, uint32_t a, uint32_t f)
{
    constexpr int count = (Blend ? 1 : 0) + (AlphaWeight ? 1 : 0);
    const uint32_t weight = (Blend ? f : 1) * (AlphaWeight ? a : 1);
    const uint32_t p = lookups.parameter;
    const Channels16 d = SplitRgb565(dWord), s = SplitRgb565(sWord);
    if constexpr (Mode == 0) {
        if constexpr (count == 0) {
            return Bright ? JoinRgb565(Brighten16<true>(lookups, s)) : sWord;
        } else {
            Channels16 x = Brighten16<Bright>(lookups, s);
            const int shift = 8 * count;
            return JoinRgb565({Step16(d.red, x.red, weight, shift), Step16(d.green, x.green, weight, shift),
                               Step16(d.blue, x.blue, weight, shift)});
        }
    } else if constexpr (Mode == 1 && Form == BLIT_HALVE) {
        return ((sWord >> 1) & 0x7BEF) + ((dWord >> 1) & 0x7BEF);
    } else if constexpr (Mode == 1 && Form == BLIT_MIX64) {
        const uint8_t *mix = lookups.mixLayer;
        return JoinRgb565({mix[s.red * 64 + d.red], mix[s.green * 64 + d.green], mix[s.blue * 64 + d.blue]});
    } else if constexpr (Mode == 1 || Mode == 10 || Mode == 11) {
        Channels16 x = Mode == 10 ? Brighten16<Bright>(lookups, {31 - s.red, 63 - s.green, 31 - s.blue})
                                  : Brighten16<Bright>(lookups, s);
        if constexpr (Mode == 11) {
            x = {x.red * d.red >> 5, x.green * d.green >> 6, x.blue * d.blue >> 5};
        }
        if constexpr (count == 0) {
            return JoinRgb565({DiffStep16(lookups, d.red, x.red), DiffStep16(lookups, d.green, x.green),
                               DiffStep16(lookups, d.blue, x.blue)});
        } else {
            const int shift = 8 * (count + 1);
            const uint32_t k = p * weight;
            uint32_t green = Step16(d.green, x.green, k, shift);
            if constexpr (Mode == 11 && AlphaWeight && !Blend && !Bright && Form != BLIT_TEXTURED) {
                // The finer green product, in 32nds of a green step.
                green = Step16(32 * d.green, s.green * d.green >> 1, k, shift) >> 5;
            }
            return JoinRgb565({Step16(d.red, x.red, k, shift), green, Step16(d.blue, x.blue, k, shift)});
        }
    } else if constexpr (Mode == 4) {
        Channels16 x = Brighten16<Bright>(lookups, s);
        const int shift = 8 * count;
        return JoinRgb565({d.red * x.red * weight >> (5 + shift), d.green * x.green * weight >> (6 + shift),
                           d.blue * x.blue * weight >> (5 + shift)});
    } else {
        uint32_t addend;
        if constexpr (Form == BLIT_FULL) {
            addend = sWord;
        } else {
            Channels16 y;
            if constexpr (Blend || Form == BLIT_TEXTURED) {
                // Brightness, then the weights, then the parameter.
                y = Brighten16<Bright>(lookups, s);
                y = {y.red * weight >> (8 * count), y.green * weight >> (8 * count), y.blue * weight >> (8 * count)};
            } else if constexpr (AlphaWeight) {
                // The alpha weight first, then the brightness, then the parameter.
                y = Brighten16<Bright>(lookups, {s.red * a >> 8, s.green * a >> 8, s.blue * a >> 8});
            } else {
                y = Brighten16<Bright>(lookups, s);
            }
            const uint32_t *row = lookups.productRow;
            addend = JoinRgb565({row[y.red], row[y.green], row[y.blue]});
        }
        if constexpr (Mode == 3) {
            return PackedSubtract16(dWord, addend);
        } else if constexpr (Form == BLIT_FULL) {
            uint32_t sum = (dWord & 0xF7DF) + (addend & 0xF7DF), carry = sum & 0x08210820;
            return ((carry - (carry >> 5)) | sum) & 0xFFFF;
        } else {
            return PackedAdd16(dWord, addend);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// A leaf: one combination of settings, with its source fetch and its rule.

template <int Depth, int Source, int Mode, bool Blend, bool Bright, bool Keyed, int Form> struct BlitLeaf {
    static constexpr int depth = Depth, source = Source, mode = Mode, form = Form;
    static constexpr bool blend = Blend, bright = Bright, keyed = Keyed;
    static constexpr int destinationStep = Depth / 8;
    static constexpr int sourceStep = Source == BLIT_PALETTE ? 1 : Source == BLIT_ALPHA ? 4 : Depth / 8;
    // Mode 0 with nothing to weigh or modulate stores the whole source pixel.
    static constexpr bool plainCopy = Mode == 0 && !Blend && !Bright;

    static uint32_t LoadDestination(const uint8_t *p)
    {
        return Depth == 32 ? LoadBlit32(p) : LoadBlit16(p);
    }

    static void StoreDestination(uint8_t *p, uint32_t value)
    {
        if (Depth == 32) {
            StoreBlit32(p, value);
        } else {
            StoreBlit16(p, value);
        }
    }

    // The raw value the colour key is compared with.
    static uint32_t Raw(const uint8_t *p)
    {
        return Source == BLIT_PALETTE ? *p : Depth == 32 ? LoadBlit32(p) : LoadBlit16(p);
    }

    static uint32_t Color(const BlitLookups &lookups, uint32_t raw)
    {
        if (Source != BLIT_PALETTE) {
            return raw;
        }
        return Depth == 32 ? ((const uint32_t *)lookups.palette)[raw] : ((const uint16_t *)lookups.palette)[raw];
    }

    static uint32_t Alpha(const uint8_t *p)
    {
        return p[Depth == 32 ? 3 : 2];
    }

    template <bool AlphaWeight>
    static uint32_t Apply(const BlitLookups &lookups, uint32_t d, uint32_t s, uint32_t a, uint32_t f)
    {
        if constexpr (Depth == 32) {
            return ApplyRule32<Mode, Blend, Bright, AlphaWeight, Form>(lookups, d, s, a, f);
        } else {
            return ApplyRule16<Mode, Blend, Bright, AlphaWeight, Form>(lookups, d, s, a, f);
        }
    }

    // One pixel drawn without any key or alpha test: weighted by a or not.
    template <bool AlphaWeight>
    static void Draw(const BlitLookups &lookups, uint8_t *destination, const uint8_t *pixel, const uint8_t *blendByte)
    {
        uint32_t f = Blend ? lookups.fade[*blendByte] : 0;
        uint32_t a = AlphaWeight ? Alpha(pixel) : 0;
        uint32_t s = Color(lookups, Raw(pixel));
        StoreDestination(destination, Apply<AlphaWeight>(lookups, LoadDestination(destination), s, a, f));
    }
};

// The per-pixel tests of the regular loops around a leaf's rule. The draw kinds differ only in two places:
// whether a transparent alpha-0 pixel still darkens in mode 4 (it is weighed at 0 rather than skipped), and whether
// an opaque draw of an alpha source in plain mode 0 copies it without weighing its alpha.
template <class Leaf, bool AlphaZeroWeighsInMode4, bool OpaqueAlphaCopies>
static inline void DrawBlitPixel(const BlitLookups &lookups, uint8_t *destination, const uint8_t *pixel,
                                 const uint8_t *blendByte)
{
    if constexpr (Leaf::source != BLIT_ALPHA) {
        if (Leaf::keyed && Leaf::Raw(pixel) == lookups.transparentValue) {
            return;
        }
        Leaf::template Draw<false>(lookups, destination, pixel, blendByte);
    } else if constexpr (!Leaf::keyed) {
        Leaf::template Draw<!(OpaqueAlphaCopies && Leaf::plainCopy)>(lookups, destination, pixel, blendByte);
    } else {
        uint32_t a = Leaf::Alpha(pixel);
        if (a == 255) {
            Leaf::template Draw<false>(lookups, destination, pixel, blendByte);
        } else if (a != 0 || (AlphaZeroWeighsInMode4 && Leaf::mode == 4)) {
            Leaf::template Draw<true>(lookups, destination, pixel, blendByte);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Picking the leaf: a Kind has a name, a Function type, `template <class Leaf> static void Run(...)`, and says
// whether it has the fast forms, whether it draws unkeyed (the run walk is always transparent) and whether it is the
// textured triangle.

template <class Kind, int D, int S, int M, bool B, bool Br, bool K>
static typename Kind::Function PickBlitForm(int form)
{
    if constexpr (Kind::specialForms && !B && !Br && S != BLIT_ALPHA) {
        if constexpr (M == 1) {
            if (form == BLIT_HALVE) {
                return &Kind::template Run<BlitLeaf<D, S, M, B, Br, K, BLIT_HALVE>>;
            }
        }
        if constexpr (M == 2 || (M == 3 && D == 16)) {
            if (form == BLIT_FULL) {
                return &Kind::template Run<BlitLeaf<D, S, M, B, Br, K, BLIT_FULL>>;
            }
        }
    }
    // 16-bit mode 1 with the fast forms is halved or mixed at every p: it has no general loop.
    constexpr bool mixed = Kind::specialForms && !B && !Br && S != BLIT_ALPHA && M == 1 && D == 16;
    constexpr int general = Kind::textured ? BLIT_TEXTURED : BLIT_GENERAL;
    return &Kind::template Run<BlitLeaf<D, S, M, B, Br, K, mixed ? BLIT_MIX64 : general>>;
}

template <class Kind, int D, int S, int M, bool B, bool Br>
static typename Kind::Function PickBlitKeyed(const BlitChoice &c)
{
    if constexpr (Kind::alwaysKeyed) {
        return PickBlitForm<Kind, D, S, M, B, Br, true>(c.form);
    } else {
        return c.keyed ? PickBlitForm<Kind, D, S, M, B, Br, true>(c.form)
                       : PickBlitForm<Kind, D, S, M, B, Br, false>(c.form);
    }
}

template <class Kind, int D, int S, int M> static typename Kind::Function PickBlitSettings(const BlitChoice &c)
{
    if (c.blend) {
        return c.bright ? PickBlitKeyed<Kind, D, S, M, true, true>(c) : PickBlitKeyed<Kind, D, S, M, true, false>(c);
    }
    return c.bright ? PickBlitKeyed<Kind, D, S, M, false, true>(c) : PickBlitKeyed<Kind, D, S, M, false, false>(c);
}

template <class Kind, int D, int S> static typename Kind::Function PickBlitMode(const BlitChoice &c)
{
    switch (c.mode) {
    case 0:
        return PickBlitSettings<Kind, D, S, 0>(c);
    case 1:
        return PickBlitSettings<Kind, D, S, 1>(c);
    case 2:
        return PickBlitSettings<Kind, D, S, 2>(c);
    case 3:
        return PickBlitSettings<Kind, D, S, 3>(c);
    case 4:
        return PickBlitSettings<Kind, D, S, 4>(c);
    case 10:
        return PickBlitSettings<Kind, D, S, 10>(c);
    default:
        return PickBlitSettings<Kind, D, S, 11>(c);
    }
}

template <class Kind, int D> static typename Kind::Function PickBlitSource(const BlitChoice &c)
{
    switch (c.source) {
    case BLIT_PALETTE:
        return PickBlitMode<Kind, D, BLIT_PALETTE>(c);
    case BLIT_DIRECT:
        return PickBlitMode<Kind, D, BLIT_DIRECT>(c);
    default:
        return PickBlitMode<Kind, D, BLIT_ALPHA>(c);
    }
}

template <class Kind> static typename Kind::Function PickBlitLoop(const BlitChoice &c)
{
    return c.depth == 32 ? PickBlitSource<Kind, 32>(c) : PickBlitSource<Kind, 16>(c);
}
