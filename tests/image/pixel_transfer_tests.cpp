// Pixel transfer and conversion: the kernel against a slow reference over every pair of formats, its clipping,
// options and dithering, the transfers into software images and the in-place operations.
#include "image_test_support.h"

#include <algorithm>

namespace {

using PixelTransferTest = ImageTest;

// A 1-byte format is packed when its masks are set and lie within the byte, else its pixels index the palette.
bool IsPalette(const PixelFormat &f)
{
    uint32_t masks = f.redMask | f.greenMask | f.blueMask | f.alphaMask;
    return f.bytesPerPixel == 1 && (masks == 0 || masks > 0xFF);
}

int NearestIndexReference(const PixelFormat &f, int r, int g, int b)
{
    long best = -1;
    int index = 0;
    for (int i = 0; i < 256; i++) {
        long d = (long)(f.palette[i].red - r) * (f.palette[i].red - r) +
                 (long)(f.palette[i].green - g) * (f.palette[i].green - g) +
                 (long)(f.palette[i].blue - b) * (f.palette[i].blue - b);
        if (best < 0 || d < best) best = d, index = i;
    }
    return index;
}

// The kernel's rules over a whole call, straight from their description: which pixels a call reaches, whether it
// copies raw values (same layout or palette indices, no option that changes a pixel) or converts them, and how one
// pixel converts under every option. Result: -1 when nothing is reached, the highest index written into a palette.
struct KernelRules {
    const PixelBuffer &to, &from;
    const PixelBuffer *alpha;
    PixelKernelOptions o;
    uint32_t carry[3] = {0, 0, 0};

    bool AlphaRead() const
    {
        return alpha && to.format->alphaWidth && (!from.format->alphaWidth || IsPalette(*from.format));
    }
    bool Raw() const
    {
        const PixelFormat &f = *from.format, &t = *to.format;
        bool palettes = IsPalette(f) && IsPalette(t), skip = o.transparentSkip && !o.mirror;
        bool same = f.bitsPerPixel == t.bitsPerPixel && f.redMask == t.redMask && f.greenMask == t.greenMask &&
                    f.blueMask == t.blueMask && f.alphaMask == t.alphaMask;
        bool remap = o.paletteRemap && palettes && !o.mirror && memcmp(f.palette, t.palette, sizeof(f.palette));
        bool keying = o.transparentToAlpha && t.alphaWidth && !o.redToAlpha;
        return !AlphaRead() && !keying && !o.clearColor && !o.redToAlpha && !remap &&
               ((palettes && !o.mirror && !skip) || same);
    }
    uint32_t Narrow(int c, uint32_t v, int from, int to, int x, int y)
    {
        static const int matrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
        uint32_t out = ScaleFieldReference(v, from, to);
        int dropped = from - to;
        if (!o.ditherMode || dropped <= 0 || to == 0) return out;
        uint32_t rest = v % (1u << dropped);
        bool raise = rest > (uint32_t)matrix[(x & 3) + 4 * (y & 3)] * (1u << dropped) / 16;
        if (o.ditherMode == 2 && (raise = (carry[c] += rest) >= (1u << dropped)))
            carry[c] -= 1u << dropped;
        return raise && out < (1u << to) - 1 ? out + 1 : out;
    }
    uint32_t Convert(uint32_t value, uint32_t alphaValue, int x, int y)
    {
        const PixelFormat &f = *from.format, &t = *to.format;
        const uint32_t masks[4] = {f.redMask, f.greenMask, f.blueMask, f.alphaMask};
        const int shifts[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
        uint32_t field[4];
        int width[4] = {f.redWidth, f.greenWidth, f.blueWidth, f.alphaWidth};
        for (int c = 0; c < 4; c++) field[c] = (value & masks[c]) >> shifts[c];
        if (IsPalette(f)) {
            const PaletteEntry &e = f.palette[value];
            field[0] = e.red, field[1] = e.green, field[2] = e.blue, width[0] = width[1] = width[2] = 8;
            width[3] = 0;
        }
        if (AlphaRead()) {
            const PixelFormat &a = *alpha->format;
            field[3] = a.alphaWidth   ? (alphaValue & a.alphaMask) >> a.alphaShift
                       : IsPalette(a) ? a.palette[alphaValue].blue
                                      : (alphaValue & a.blueMask) >> a.blueShift;
            width[3] = a.alphaWidth ? a.alphaWidth : IsPalette(a) ? 8 : a.blueWidth;
        }
        bool keyed = o.transparentToAlpha && t.alphaWidth && !o.redToAlpha;
        for (int c = 0; c < 3; c++) {
            uint32_t key = (o.transparentColor >> (16 - 8 * c)) & 0xFF;
            keyed = keyed && field[c] == (width[c] <= 8 ? key >> (8 - width[c]) : key << (width[c] - 8));
        }
        const int toWidths[4] = {t.redWidth, t.greenWidth, t.blueWidth, t.alphaWidth};
        const int toShifts[4] = {t.redShift, t.greenShift, t.blueShift, t.alphaShift};
        const uint32_t toMasks[4] = {t.redMask, t.greenMask, t.blueMask, t.alphaMask};
        uint32_t alphaOut = o.redToAlpha ? ScaleFieldReference(field[0], width[0], toWidths[3])
                            : keyed      ? 0
                            : width[3]   ? ScaleFieldReference(field[3], width[3], toWidths[3])
                                         : (1u << toWidths[3]) - 1;
        if (o.clearColor) field[0] = field[1] = field[2] = 0;
        if (IsPalette(t)) {
            return (uint32_t)NearestIndexReference(t, (int)ScaleFieldReference(field[0], width[0], 8),
                                                   (int)ScaleFieldReference(field[1], width[1], 8),
                                                   (int)ScaleFieldReference(field[2], width[2], 8));
        }
        uint32_t out = toWidths[3] ? (alphaOut << toShifts[3]) & toMasks[3] : 0;
        for (int c = 0; c < 3; c++)
            out |= (Narrow(c, field[c], width[c], toWidths[c], x, y) << toShifts[c]) & toMasks[c];
        return out;
    }
    static uint32_t At(const PixelBuffer &b, int x, int y)
    {
        return ReadRawPixel((const unsigned char *)b.pixels + y * b.pitch + x * b.format->bytesPerPixel,
                            b.format->bytesPerPixel);
    }
    int Run(int dx, int dy, const RECT &r)
    {
        int w = r.right - r.left, h = r.bottom - r.top, highest = -1, raw = Raw();
        int limitW = AlphaRead() ? std::min(from.width, alpha->width) : from.width;
        int limitH = AlphaRead() ? std::min(from.height, alpha->height) : from.height;
        uint32_t skipValue =
            (uint32_t)((o.transparentColor & 0xFFFFFFFFull) % (1ull << (8 * from.format->bytesPerPixel)));
        for (int j = 0; j < h; j++) {
            for (int i = 0; i < w; i++) {
                int sx = r.left + i, sy = r.top + j, x = o.mirror ? dx + w - 1 - i : dx + i, y = dy + j;
                if (sx < 0 || sy < 0 || sx >= limitW || sy >= limitH || x < 0 || y < 0 || x >= to.width ||
                    y >= to.height)
                    continue;
                highest = std::max(highest, 0);
                uint32_t value = At(from, sx, sy);
                if (o.transparentSkip && !o.mirror && value == skipValue) continue;
                uint32_t out = raw ? value : Convert(value, AlphaRead() ? At(*alpha, sx, sy) : 0, x, y);
                WriteRawPixel((unsigned char *)to.pixels + y * to.pitch + x * to.format->bytesPerPixel,
                              to.format->bytesPerPixel, out);
                highest = std::max(highest, (int)out);
            }
        }
        return highest < 0 || !IsPalette(*to.format) ? std::min(highest, 0) : highest;
    }
};

// One pixel converted by the rules with no option.
uint32_t ConvertReference(const PixelFormat &from, uint32_t value, const PixelFormat &to)
{
    PixelBuffer source = {NULL, 0, &from, 0, 0}, destination = {NULL, 0, &to, 0, 0};
    KernelRules rules = {destination, source, NULL, {}};
    return rules.Convert(value, 0, 0, 0);
}

uint32_t ChannelBits(const PixelFormat &f)
{
    return IsPalette(f) ? 0xFF : f.redMask | f.greenMask | f.blueMask | f.alphaMask;
}

// A random pixel of the format: any value on its channel bits, or any palette index.
uint32_t RandomPixel(const PixelFormat &f, std::mt19937 &random)
{
    return (uint32_t)random() & ChannelBits(f);
}

bool HoldsEveryBitOf(const PixelFormat &a, const PixelFormat &b) // b loses nothing of a
{
    if (IsPalette(a) || IsPalette(b)) return IsPalette(a) && IsPalette(b);
    return b.redWidth >= a.redWidth && b.greenWidth >= a.greenWidth && b.blueWidth >= a.blueWidth &&
           b.alphaWidth >= a.alphaWidth;
}

TEST_F(PixelTransferTest, EveryPairOfFormatsConvertsByTheRulesAndRoundTrips)
{
    std::vector<NamedFormat> formats = PackedFormats();
    formats.push_back({"gray8", GrayPaletteFormat()});
    formats.push_back({"R3G3B2", MasksFormat(8, 0xE0, 0x1C, 0x3, 0)}); // one byte, packed
    std::mt19937 random(1);
    const int width = 9, height = 5;
    for (const auto &a : formats) {
        for (const auto &b : formats) {
            SCOPED_TRACE(::testing::Message() << a.name << " -> " << b.name);
            BaseImage source = MakeImage(a.format, width, height);
            BaseImage middle = MakeImage(b.format, width, height);
            BaseImage back = MakeImage(a.format, width, height);
            for (int y = 0; y < height; y++)
                for (int x = 0; x < width; x++) SetPixelAt(source, x, y, RandomPixel(a.format, random));
            ASSERT_EQ(BlitBaseImage(0, 0, width, height, 0, 0, &source, &middle), 0);
            ASSERT_EQ(BlitBaseImage(0, 0, width, height, 0, 0, &middle, &back), 0);
            if (&a == &b) { // stretching by two reads and writes the format's own pixels (packed or indices)
                BaseImage wide = MakeImage(a.format, 2 * width, 2 * height);
                ASSERT_EQ(StretchBaseImageRect(0, 0, width, height, &source, 0, 0, 2 * width, 2 * height, &wide, 0),
                          0);
                for (int y = 0; y < 2 * height; y++)
                    for (int x = 0; x < 2 * width; x++)
                        ASSERT_EQ(PixelAt(wide, x, y) & ChannelBits(a.format), PixelAt(source, x / 2, y / 2));
                FreeBaseImageData(&wide);
            }
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < width; x++) {
                    uint32_t v = PixelAt(source, x, y);
                    uint32_t there = ConvertReference(a.format, v, b.format);
                    ASSERT_EQ(PixelAt(middle, x, y) & ChannelBits(b.format), there) << x << "," << y;
                    uint32_t again = ConvertReference(b.format, there, a.format);
                    ASSERT_EQ(PixelAt(back, x, y) & ChannelBits(a.format), again) << x << "," << y;
                    if (HoldsEveryBitOf(a.format, b.format)) {
                        ASSERT_EQ(again, v) << "a format that holds every bit gives the pixel back";
                    }
                }
            }
            FreeBaseImageData(&source);
            FreeBaseImageData(&middle);
            FreeBaseImageData(&back);
        }
    }
}

// Every pair of formats (and a palette of repeated entries, where the nearest-entry search breaks ties by the lowest
// index) under every option that selects or passes over a loop, whole and clipped, against the rules above. Rows:
// Mirror, Key to alpha, Skip, Alpha image, Remap, single Channel, ordered Dither, Error carry; L: 2-byte sources
// also on a picture large enough to be converted by whole value.
TEST_F(PixelTransferTest, KernelFollowsTheRulesForEveryPairAndOption)
{
    std::mt19937 random(2026);
    PixelFormat repeating = GrayPaletteFormat(), x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    for (int i = 0; i < 256; i++) repeating.palette[i] = {(uint8_t)random(), (uint8_t)random(), (uint8_t)random(), 0};
    for (int i = 129; i < 256; i += 3) repeating.palette[i] = repeating.palette[i - 128];
    std::vector<NamedFormat> formats = PackedFormats();
    formats.push_back({"gray8", GrayPaletteFormat()});
    formats.push_back({"palette8", repeating});
    formats.push_back({"R3G3B2", MasksFormat(8, 0xE0, 0x1C, 0x3, 0)});
    formats.push_back({"channel8", MasksFormat(8, 0xFF, 0xFF, 0xFF, 0xFF)});
    const PixelFormat alphaFormats[2] = {GrayPaletteFormat(), MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u)};
    // Option sets, a letter each: L also a large picture, M mirror, S skip the key value, K key to alpha, A alpha
    // image, R palette remap, C clear colour with red to alpha, D ordered dither, E error-carry dither.
    const char *table[] = {"L", "M", "S", "MSL", "K", "KSL", "KM", "A", "AK", "R", "C", "D", "ME"};
    auto pick = [&](int low, int high) { return low + (int)(random() % (unsigned)(high - low + 1)); };
    for (const auto &a : formats) {
        for (const auto &b : formats) {
            for (const char *e : table) {
                auto has = [&](char c) { return strchr(e, c) != NULL; };
                int sb = a.format.bytesPerPixel, db = b.format.bytesPerPixel;
                for (int shape = 0; shape < (has('L') && sb == 2 && !IsPalette(b.format) ? 3 : 2); shape++) {
                    SCOPED_TRACE(::testing::Message() << a.name << " -> " << b.name << ", " << e << ", " << shape);
                    bool clipped = shape == 1, large = shape == 2;
                    int sw = large ? 257 : pick(5, 9) | 1, sh = large ? 256 : pick(2, 4);
                    int dw = clipped ? pick(3, 9) : sw, dh = clipped ? pick(1, 4) : sh;
                    std::vector<unsigned char> in(sw * sh * sb), out(dw * dh * db), alphaBytes(sw * sh * 4);
                    for (auto &v : out) v = (unsigned char)random();
                    for (auto &v : alphaBytes) v = (unsigned char)random();
                    uint32_t keyPixel = (uint32_t)random();
                    for (int i = 0; i < sw * sh; i++)
                        WriteRawPixel(&in[i * sb], sb, random() % 3 ? (uint32_t)random() : keyPixel);
                    const PixelFormat &af = alphaFormats[random() % 2];
                    PixelBuffer from = {in.data(), sw * sb, &a.format, sw, sh};
                    PixelBuffer alpha = {alphaBytes.data(), sw * af.bytesPerPixel, &af, sw - clipped, sh};
                    PixelKernelOptions o = {};
                    o.mirror = has('M'), o.transparentToAlpha = has('K'), o.transparentSkip = has('S');
                    o.paletteRemap = has('R'), o.clearColor = o.redToAlpha = has('C');
                    o.ditherMode = has('D') + 2 * has('E');
                    // Skipping compares raw values; a colour key taken to 8 bits and back lands on the key's fields.
                    uint32_t keyColour = ConvertReference(a.format, keyPixel & ChannelBits(a.format), x8);
                    o.transparentColor = has('S') && !has('K') ? keyPixel : keyColour;
                    RECT rect = {0, 0, sw, sh};
                    int dx = 0, dy = 0;
                    if (clipped)
                        rect = {pick(-2, 3), pick(-1, 2), pick(2, sw + 2), pick(1, sh + 1)}, dx = pick(-2, 3),
                        dy = pick(-1, 2);
                    std::vector<unsigned char> expected = out;
                    PixelBuffer to = {out.data(), dw * db, &b.format, dw, dh}, reference = to;
                    reference.pixels = expected.data();
                    KernelRules rules = {reference, from, has('A') ? &alpha : NULL, o};
                    ASSERT_EQ(PixelKernel(&to, &from, rules.alpha, dx, dy, &rect, &o), rules.Run(dx, dy, rect));
                    ASSERT_EQ(out, expected);
                }
            }
        }
    }
}

// Destination buffer with guard bytes all round, for the clipping tests.
struct GuardedBuffer {
    std::vector<uint32_t> memory;
    int width, height;
    GuardedBuffer(int w, int h) : memory((size_t)(w + 4) * (h + 4), 0xDEADBEEF), width(w), height(h) {}
    uint32_t *First() { return &memory[2 * (width + 4) + 2]; }
    uint32_t At(int x, int y) { return First()[y * (width + 4) + x]; }
    bool GuardsIntact()
    {
        for (int y = -2; y < height + 2; y++)
            for (int x = -2; x < width + 2; x++)
                if ((x < 0 || y < 0 || x >= width || y >= height) && At(x, y) != 0xDEADBEEF) return false;
        return true;
    }
};

TEST_F(PixelTransferTest, KernelClipsTheRectangleToBothPictures)
{
    PixelFormat f = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    const int sw = 6, sh = 5, dw = 7, dh = 4;
    std::vector<uint32_t> sourcePixels(sw * sh);
    for (int i = 0; i < sw * sh; i++) sourcePixels[i] = 0x01000000u * (i + 1) | (uint32_t)i;
    const struct {
        RECT rect;
        int dx, dy, mirror;
    } table[] = {
        {{0, 0, 6, 5}, 0, 0, 0},     {{-3, -2, 4, 3}, 0, 0, 0},   {{2, 1, 10, 9}, 1, 1, 0},
        {{0, 0, 6, 5}, -2, -3, 0},   {{0, 0, 6, 5}, 4, 2, 0},     {{-2, 0, 8, 5}, -1, 0, 1},
        {{1, 0, 5, 2}, 5, 0, 1},     {{0, 0, 6, 5}, -4, 1, 1},    {{0, 0, 6, 5}, 100, 0, 0},
        {{-100, -100, -50, -50}, 0, 0, 0}, {{0, 0, 0x7FFFFFFF, 0x7FFFFFFF}, -0x7FFFFFFF, 0, 0},
    };
    for (const auto &e : table) {
        SCOPED_TRACE(::testing::Message() << "rect " << e.rect.left << "," << e.rect.top << "," << e.rect.right << ","
                                          << e.rect.bottom << " at " << e.dx << "," << e.dy << " mirror " << e.mirror);
        GuardedBuffer dest(dw, dh);
        PixelBuffer to = {dest.First(), (dw + 4) * 4, &f, dw, dh};
        PixelBuffer from = {sourcePixels.data(), sw * 4, &f, sw, sh};
        PixelKernelOptions options = {};
        options.mirror = e.mirror;
        PixelKernel(&to, &from, NULL, e.dx, e.dy, &e.rect, &options);
        EXPECT_TRUE(dest.GuardsIntact());
        // Reference: every source pixel of the rectangle that lies in the source goes where the unclipped copy
        // would put it, when that is inside the destination.
        std::vector<uint32_t> expected((size_t)dw * dh, 0xDEADBEEF);
        for (int64_t sy = e.rect.top; sy < e.rect.bottom && sy < e.rect.top + 64; sy++) {
            for (int64_t sx = e.rect.left; sx < e.rect.right && sx < e.rect.left + 64; sx++) {
                int64_t x = e.mirror ? e.dx + (e.rect.right - 1 - sx) : e.dx + (sx - e.rect.left);
                int64_t y = e.dy + (sy - e.rect.top);
                if (sx < 0 || sy < 0 || sx >= sw || sy >= sh || x < 0 || y < 0 || x >= dw || y >= dh) continue;
                expected[y * dw + x] = sourcePixels[sy * sw + sx];
            }
        }
        for (int y = 0; y < dh; y++)
            for (int x = 0; x < dw; x++) ASSERT_EQ(dest.At(x, y), expected[y * dw + x]) << x << "," << y;
    }
}

// Random rectangles, points, sizes, formats and options: the kernel touches only destination pixels that the
// unclipped copy would put inside the destination from inside the source (and the alpha image, when it is read).
// The buffers are exactly as large as their pictures, so the sanitizer build sees any access outside them.
TEST_F(PixelTransferTest, RandomRectanglesNeverLeaveTheirPictures)
{
    std::vector<NamedFormat> formats = PackedFormats();
    formats.push_back({"gray8", GrayPaletteFormat()});
    PixelFormat gray = GrayPaletteFormat();
    std::mt19937 random(77);
    auto pick = [&](int low, int high) { return low + (int)(random() % (unsigned)(high - low + 1)); };
    for (int round = 0; round < 5000; round++) {
        const PixelFormat &from = formats[random() % formats.size()].format;
        const PixelFormat &to = formats[random() % formats.size()].format;
        int sw = pick(1, 7), sh = pick(1, 5), dw = pick(1, 7), dh = pick(1, 5), aw = pick(1, 7), ah = pick(1, 5);
        int sp = sw * from.bytesPerPixel, dp = dw * to.bytesPerPixel;
        std::vector<unsigned char> in((size_t)sp * sh), out((size_t)dp * dh, 0xA5), alphaBytes((size_t)aw * ah);
        for (auto &b : in) b = (unsigned char)random();
        for (auto &b : alphaBytes) b = (unsigned char)random();
        PixelBuffer source = {in.data(), sp, &from, sw, sh};
        PixelBuffer destination = {out.data(), dp, &to, dw, dh};
        PixelBuffer alphaImage = {alphaBytes.data(), aw, &gray, aw, ah};
        bool withAlphaImage = random() % 2;
        RECT rect = {pick(-3, 6), pick(-3, 4), 0, 0};
        rect.right = rect.left + pick(-1, 10);
        rect.bottom = rect.top + pick(-1, 8);
        int dx = pick(-4, 6), dy = pick(-3, 4);
        PixelKernelOptions options = {};
        options.mirror = random() % 2;
        options.transparentToAlpha = random() % 2;
        options.transparentColor = (uint32_t)random() & 0xFFFFFF;
        options.ditherMode = (int)(random() % 3);
        options.clearColor = options.redToAlpha = random() % 4 == 0;
        options.transparentSkip = random() % 2;
        options.paletteRemap = random() % 2;
        PixelKernel(&destination, &source, withAlphaImage ? &alphaImage : NULL, dx, dy, &rect, &options);

        bool alphaRead = withAlphaImage && to.alphaWidth != 0 && (from.alphaWidth == 0 || IsPalette(from));
        int limitW = alphaRead ? std::min(sw, aw) : sw, limitH = alphaRead ? std::min(sh, ah) : sh;
        for (int y = 0; y < dh; y++) {
            for (int x = 0; x < dw; x++) {
                int sy = rect.top + (y - dy);
                int sx = options.mirror ? rect.right - 1 - (x - dx) : rect.left + (x - dx);
                bool reachable = x - dx >= 0 && x - dx < rect.right - rect.left && y - dy >= 0 &&
                                 y - dy < rect.bottom - rect.top && sx >= 0 && sy >= 0 && sx < limitW && sy < limitH;
                if (!reachable) {
                    for (int b = 0; b < to.bytesPerPixel; b++) {
                        ASSERT_EQ(out[(size_t)y * dp + (size_t)x * to.bytesPerPixel + b], 0xA5)
                            << "round " << round << " pixel " << x << "," << y << " was written";
                    }
                }
            }
        }
    }
}

TEST_F(PixelTransferTest, PaletteSearchSeesWidenedColours)
{
    PixelFormat gray = GrayPaletteFormat();
    const struct {
        const char *what;
        PixelFormat from;
        uint32_t value;
        int expected;
    } table[] = {
        {"16-bit white", MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0), 0xFFFF, 255},
        {"16-bit mid grey: (131, 129, 131)", MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0), 0x8410, 130},
        {"15-bit white", MasksFormat(16, 0x7C00, 0x3E0, 0x1F, 0), 0x7FFF, 255},
        {"32-bit grey", MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0), 0xC8C8C8, 200},
        {"24-bit grey", MasksFormat(24, 0xFF0000, 0xFF00, 0xFF, 0), 0x0A0A0A, 10},
    };
    for (const auto &e : table) {
        BaseImage source = MakeImage(e.from, 1, 1);
        BaseImage dest = MakeImage(gray, 1, 1);
        SetPixelAt(source, 0, 0, e.value);
        BlitBaseImage(0, 0, 1, 1, 0, 0, &source, &dest);
        EXPECT_EQ((int)PixelAt(dest, 0, 0), e.expected) << e.what;
        FreeBaseImageData(&source);
        FreeBaseImageData(&dest);
    }
}

// Runs the kernel over one row of ARGB8 pixels into `to` with the given options.
std::vector<uint32_t> RunRow(const PixelFormat &from, const std::vector<uint32_t> &row, const PixelFormat &to,
                             const PixelKernelOptions &options, const PixelBuffer *alphaImage = NULL,
                             uint32_t fill = 0x77777777)
{
    int n = (int)row.size();
    std::vector<uint32_t> out(n, fill);
    PixelBuffer destination = {out.data(), n * 4, &to, n, 1};
    std::vector<unsigned char> packed(n * 4);
    for (int i = 0; i < n; i++) WriteRawPixel(&packed[i * from.bytesPerPixel], from.bytesPerPixel, row[i]);
    PixelBuffer source = {packed.data(), n * 4, &from, n, 1};
    RECT rect = {0, 0, n, 1};
    std::vector<unsigned char> outBytes(n * 4);
    for (int i = 0; i < n; i++) WriteRawPixel(&outBytes[i * to.bytesPerPixel], to.bytesPerPixel, fill);
    destination.pixels = outBytes.data();
    PixelKernel(&destination, &source, alphaImage, 0, 0, &rect, &options);
    for (int i = 0; i < n; i++) out[i] = ReadRawPixel(&outBytes[i * to.bytesPerPixel], to.bytesPerPixel);
    return out;
}

TEST_F(PixelTransferTest, KernelOptions)
{
    PixelFormat argb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    PixelFormat xrgb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat r565 = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    PixelFormat a1 = MasksFormat(16, 0x7C00, 0x3E0, 0x1F, 0x8000);
    PixelFormat channel8 = MasksFormat(8, 0xFF, 0xFF, 0xFF, 0xFF);
    PixelFormat channel16 = MasksFormat(16, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
    const std::vector<uint32_t> row = {0xFF112233, 0x80FF00FF, 0x00000000, 0x7F445566};
    auto options = [](int mirror, int key, uint32_t color, int clear, int red, int skip) {
        PixelKernelOptions o = {};
        o.mirror = mirror;
        o.transparentToAlpha = key;
        o.transparentColor = color;
        o.clearColor = clear;
        o.redToAlpha = red;
        o.transparentSkip = skip;
        return o;
    };
    const struct {
        const char *what;
        PixelFormat from, to;
        PixelKernelOptions options;
        std::vector<uint32_t> expected;
    } table[] = {
        {"plain copy", argb, argb, options(0, 0, 0, 0, 0, 0), row},
        {"mirror", argb, argb, options(1, 0, 0, 0, 0, 0), {0x7F445566, 0x00000000, 0x80FF00FF, 0xFF112233}},
        {"skip the transparent colour", argb, argb, options(0, 0, 0x80FF00FF, 0, 0, 1),
         {0xFF112233, 0x77777777, 0x00000000, 0x7F445566}},
        {"mirror switches skipping off", argb, argb, options(1, 0, 0x80FF00FF, 0, 0, 1),
         {0x7F445566, 0x00000000, 0x80FF00FF, 0xFF112233}},
        {"key to alpha from a format without alpha", xrgb, argb, options(0, 1, 0xFF00FF, 0, 0, 0),
         {0xFF112233, 0x00FF00FF, 0xFF000000, 0xFF445566}},
        {"key to alpha keeps other alphas", argb, argb, options(0, 1, 0x445566, 0, 0, 0),
         {0xFF112233, 0x80FF00FF, 0x00000000, 0x00445566}},
        {"key to alpha in 16 bits", xrgb, a1, options(0, 1, 0x112233, 0, 0, 0), {0x0886, 0xFC1F, 0x8000, 0xA14C}},
        {"no alpha bits: key ignored", xrgb, r565, options(0, 1, 0x112233, 0, 0, 0), {0x1106, 0xF81F, 0x0000, 0x42AC}},
        {"red level into an 8-bit channel", argb, channel8, options(0, 0, 0, 1, 1, 0), {0x11, 0xFF, 0x00, 0x44}},
        {"red level into a 16-bit channel", argb, channel16, options(0, 0, 0, 1, 1, 0), {0x1111, 0xFFFF, 0, 0x4444}},
        {"narrowing drops low bits", argb, r565, options(0, 0, 0, 0, 0, 0), {0x1106, 0xF81F, 0x0000, 0x42AC}},
    };
    for (const auto &e : table) {
        std::vector<uint32_t> out = RunRow(e.from, row, e.to, e.options);
        uint32_t keep = e.to.bytesPerPixel == 4 ? 0xFFFFFFFFu : (1u << (8 * e.to.bytesPerPixel)) - 1;
        for (size_t i = 0; i < out.size(); i++) {
            EXPECT_EQ(out[i] & keep, e.expected[i] & keep) << e.what << " pixel " << i << std::hex << " got " << out[i];
        }
    }

    // An alpha image gives the alpha of a source that has none: its alpha field, else its grey level.
    PixelFormat gray = GrayPaletteFormat();
    const unsigned char alphaBytes[4] = {0, 64, 128, 255};
    PixelBuffer alphaImage = {(void *)alphaBytes, 4, &gray, 4, 1};
    std::vector<uint32_t> withAlpha = RunRow(xrgb, row, argb, options(0, 0, 0, 0, 0, 0), &alphaImage);
    EXPECT_EQ(withAlpha, (std::vector<uint32_t>{0x00112233, 0x40FF00FF, 0x80000000, 0xFF445566}));
}

// An alpha image is the alpha source only for a destination with alpha bits and a source without alpha: otherwise
// it must neither turn a plain copy into a conversion nor cut the rectangle to its own size.
TEST_F(PixelTransferTest, AlphaImageCountsOnlyWhereItGivesTheAlpha)
{
    PixelFormat gray = GrayPaletteFormat();
    PixelFormat xrgb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat argb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    const unsigned char alphaBytes[2] = {0x40, 0x80}; // two pixels wide: narrower than the four-pixel source
    PixelBuffer alphaImage = {(void *)alphaBytes, 2, &gray, 2, 1};
    const struct {
        const char *what;
        PixelFormat from, to;
        std::vector<uint32_t> row, expected;
        int result;
    } table[] = {
        {"palette to palette: a plain index copy", gray, gray, {0, 10, 200, 7}, {0, 10, 200, 7}, 200},
        {"no alpha on either side: a plain row copy keeps every bit", xrgb, xrgb,
         {0xAB112233, 0x00445566, 0x12000000, 0xFFFFFFFF}, {0xAB112233, 0x00445566, 0x12000000, 0xFFFFFFFF}, 0},
        {"source alpha wins over the alpha image", argb, argb, {0xAB112233, 0x00445566, 0x12000000, 0xFFFFFFFF},
         {0xAB112233, 0x00445566, 0x12000000, 0xFFFFFFFF}, 0},
        {"the alpha image gives the alpha: the copy is cut to its size", xrgb, argb,
         {0xAB112233, 0x00445566, 0x12000000, 0xFFFFFFFF}, {0x40112233, 0x80445566, 0x77777777, 0x77777777}, 0},
    };
    for (const auto &e : table) {
        int n = (int)e.row.size();
        std::vector<unsigned char> in((size_t)n * 4), out((size_t)n * 4);
        for (int i = 0; i < n; i++) {
            WriteRawPixel(&in[i * e.from.bytesPerPixel], e.from.bytesPerPixel, e.row[i]);
            WriteRawPixel(&out[i * e.to.bytesPerPixel], e.to.bytesPerPixel, 0x77777777);
        }
        PixelBuffer source = {in.data(), n * 4, &e.from, n, 1};
        PixelBuffer destination = {out.data(), n * 4, &e.to, n, 1};
        RECT rect = {0, 0, n, 1};
        PixelKernelOptions options = {};
        EXPECT_EQ(PixelKernel(&destination, &source, &alphaImage, 0, 0, &rect, &options), e.result) << e.what;
        uint32_t keep = e.to.bytesPerPixel == 4 ? 0xFFFFFFFFu : (1u << (8 * e.to.bytesPerPixel)) - 1;
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(ReadRawPixel(&out[i * e.to.bytesPerPixel], e.to.bytesPerPixel), e.expected[i] & keep)
                << e.what << " pixel " << i;
        }
    }
}

TEST_F(PixelTransferTest, PaletteRemapAndPlainIndexCopy)
{
    PixelFormat gray = GrayPaletteFormat();
    PixelFormat reversed = GrayPaletteFormat();
    for (int i = 0; i < 256; i++) reversed.palette[i] = {(uint8_t)(255 - i), (uint8_t)(255 - i), (uint8_t)(255 - i), 0};
    BaseImage source = MakeImage(gray, 4, 1), dest = MakeImage(reversed, 4, 1);
    const uint32_t indices[4] = {0, 10, 200, 255};
    for (int i = 0; i < 4; i++) SetPixelAt(source, i, 0, indices[i]);
    BlitBaseImage(0, 0, 4, 1, 0, 0, &source, &dest);
    for (int i = 0; i < 4; i++) EXPECT_EQ(PixelAt(dest, i, 0), 255 - indices[i]) << "remapped onto the new palette";
    // Remapping comes before every other case: a transparent-skip request does not turn it into a raw index copy.
    {
        PixelBuffer to = {dest.pixels, dest.pitch, &dest.format, 4, 1};
        PixelBuffer from = {source.pixels, source.pitch, &source.format, 4, 1};
        RECT whole = {0, 0, 4, 1};
        PixelKernelOptions remapSkip = {};
        remapSkip.paletteRemap = 1;
        remapSkip.transparentSkip = 1;
        remapSkip.transparentColor = 10;
        memset(dest.pixels, 0, 4);
        EXPECT_EQ(PixelKernel(&to, &from, NULL, 0, 0, &whole, &remapSkip), 255) << "the highest index written";
        for (int i = 0; i < 4; i++) EXPECT_EQ(PixelAt(dest, i, 0), 255 - indices[i]) << "remapped with skip asked";
    }

    PixelBuffer to = {dest.pixels, dest.pitch, &dest.format, 4, 1};
    PixelBuffer from = {source.pixels, source.pitch, &source.format, 4, 1};
    RECT rect = {0, 0, 3, 1};
    PixelKernelOptions plain = {};
    EXPECT_EQ(PixelKernel(&to, &from, NULL, 0, 0, &rect, &plain), 200) << "a plain index copy returns the highest index";
    EXPECT_EQ(PixelAt(dest, 2, 0), 200u);
    RECT empty = {2, 0, 2, 1};
    EXPECT_EQ(PixelKernel(&to, &from, NULL, 0, 0, &empty, &plain), -1);
    FreeBaseImageData(&source);
    FreeBaseImageData(&dest);
}

// Ordered and error-carry dithering from their descriptions, per channel of an R5G6B5 destination.
std::vector<uint32_t> DitherReference(const std::vector<uint32_t> &row, int y, int mode)
{
    PixelFormat xrgb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0), r565 = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    PixelBuffer source = {NULL, 0, &xrgb, 0, 0}, destination = {NULL, 0, &r565, 0, 0};
    PixelKernelOptions options = {};
    options.ditherMode = mode;
    KernelRules rules = {destination, source, NULL, options};
    std::vector<uint32_t> out;
    for (size_t x = 0; x < row.size(); x++) out.push_back(rules.Convert(row[x], 0, (int)x, y));
    return out;
}

TEST_F(PixelTransferTest, DitheringMatchesReference)
{
    PixelFormat xrgb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat r565 = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    std::mt19937 random(8);
    for (int mode = 1; mode <= 2; mode++) {
        for (int y = 0; y < 4; y++) {
            std::vector<uint32_t> row(37);
            for (auto &p : row) p = random() & 0xFFFFFF;
            row[0] = 0xFFFFFF; // saturated channels are not raised past their maximum
            std::vector<uint32_t> out(row.size());
            PixelBuffer to = {out.data(), (int)row.size() * 2, &r565, (int)row.size(), 1};
            PixelBuffer from = {row.data(), (int)row.size() * 4, &xrgb, (int)row.size(), 1};
            RECT rect = {0, 0, (int)row.size(), 1};
            PixelKernelOptions options = {};
            options.ditherMode = mode;
            std::vector<uint16_t> packed(row.size() * 2);
            to.pixels = packed.data();
            // Destination row y: the ordered matrix row depends on it.
            to.height = y + 1;
            to.pixels = packed.data() - (ptrdiff_t)y * row.size();
            PixelKernel(&to, &from, NULL, 0, y, &rect, &options);
            std::vector<uint32_t> expected = DitherReference(row, y, mode);
            for (size_t x = 0; x < row.size(); x++)
                ASSERT_EQ(packed[x], expected[x]) << "mode " << mode << " row " << y << " x " << x;
        }
    }
}

TEST_F(PixelTransferTest, TransferIntoSoftwareImages)
{
    // A 16-colour picture into a palette software image: entries used = highest index + 1, palette converted.
    PixelFormat gray = GrayPaletteFormat();
    gray.palette[5] = {0x10, 0x20, 0xF8, 0};
    BaseImage picture = MakeImage(gray, 4, 4);
    for (int i = 0; i < 16; i++) SetPixelAt(picture, i % 4, i / 4, (uint32_t)(i * 7) % 16);
    for (int kind = 0; kind < 2; kind++) {
        MEMIMG image = {};
        ASSERT_EQ(CreateMemImg(&image, 4, 4, -1, 0, kind, 1, 0, 1, NULL), 0);
        ASSERT_EQ(TransferMemImg(&picture, NULL, &image, 0, 0, 4, 4, 0, 0, 0), 0);
        EXPECT_EQ(image.block->paletteEntriesUsed, 16);
        if (kind == 0) {
            EXPECT_EQ(((uint16_t *)image.block->palette)[5], (0xF8 >> 3) << 11 | (0x20 >> 2) << 5 | 0x10 >> 3);
            EXPECT_EQ(memcmp(image.block->palette, image.block->paletteCopy, 512), 0);
        } else {
            EXPECT_EQ(((uint32_t *)image.block->palette)[5], 0xF82010u);
            EXPECT_EQ(memcmp(image.block->palette, image.block->paletteCopy, 1024), 0);
        }
        EXPECT_EQ(image.pixels[image.block->pitch + 1], (5 * 7) % 16);
        EXPECT_EQ(image.block->runTableValid, 1);
        ReleaseMemImg(&image);
    }
    FreeBaseImageData(&picture);

    // A 16-bit block keyed on its own raw transparent value gets alpha 0 exactly there.
    PixelFormat xrgb = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    BaseImage colours = MakeImage(xrgb, 3, 1);
    SetPixelAt(colours, 0, 0, 0xFF00FF);
    SetPixelAt(colours, 1, 0, 0x00FF00);
    SetPixelAt(colours, 2, 0, 0xFF00F8);
    MEMIMG keyed = {};
    ASSERT_EQ(CreateMemImg(&keyed, 3, 1, -1, 0xF81F, 0, 0, 1, 1, NULL), 0);
    TransferMemImg(&colours, NULL, &keyed, 0, 0, 3, 1, 0, 0, 1);
    const uint32_t *pixels = (const uint32_t *)keyed.pixels;
    EXPECT_EQ(pixels[0], 0xF81Fu) << "keyed: alpha 0";
    EXPECT_EQ(pixels[1], 0xFF07E0u);
    EXPECT_EQ(pixels[2], 0xFFF81Fu) << "a colour that only narrows to the key is not keyed";
    const unsigned char runs[] = {0, 0x40 | 1, RUN_TABLE_ROW_END};
    EXPECT_EQ(memcmp(keyed.block->runTable, runs, 3), 0);
    ReleaseMemImg(&keyed);

    // Packed pixels into a palette image take the nearest entries of the palette the image already has.
    MEMIMG indexed = {};
    ASSERT_EQ(CreateMemImg(&indexed, 3, 1, -1, 0, 1, 1, 0, 0, NULL), 0);
    uint32_t *palette = (uint32_t *)indexed.block->palette;
    for (int i = 0; i < 256; i++) palette[i] = 0x808080;
    palette[9] = 0xFF00FF;
    palette[4] = 0x00FF00;
    TransferMemImg(&colours, NULL, &indexed, 0, 0, 3, 1, 0, 0, 0);
    EXPECT_EQ(indexed.pixels[0], 9);
    EXPECT_EQ(indexed.pixels[1], 4);
    EXPECT_EQ(indexed.pixels[2], 9);
    EXPECT_EQ(indexed.block->paletteEntriesUsed, 10) << "the highest index written + 1";
    EXPECT_EQ(palette[9], 0xFF00FFu) << "the palette is kept";
    ReleaseMemImg(&indexed);

    // A keyed picture with alpha keeps its own alpha outside the key, in 16- and 32-bit alpha blocks alike.
    BaseImage translucent = MakeImage(MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), 3, 1);
    const uint32_t argbPixels[3] = {0x80FF00FF, 0x4000FF00, 0xFF0000FF}, alphas[3] = {0x00, 0x40, 0xFF};
    for (int i = 0; i < 3; i++) SetPixelAt(translucent, i, 0, argbPixels[i]);
    for (int kind = 0; kind < 2; kind++) {
        MEMIMG alphaBlock = {};
        ASSERT_EQ(CreateMemImg(&alphaBlock, 3, 1, -1, kind ? 0xFF00FF : 0xF81F, kind, 0, 1, 0, NULL), 0);
        TransferMemImg(&translucent, NULL, &alphaBlock, 0, 0, 3, 1, 0, 0, 1);
        for (int i = 0; i < 3; i++) EXPECT_EQ(alphaBlock.pixels[4 * i + 2 + kind], alphas[i]) << kind << " " << i;
        ReleaseMemImg(&alphaBlock);
    }
    FreeBaseImageData(&translucent);

    // Into a single-channel image: the red level.
    MEMIMG channel = {};
    ASSERT_EQ(CreateMemImg(&channel, 3, 1, -1, 0, 2, 0, 0, 0, NULL), 0);
    TransferMemImg(&colours, NULL, &channel, 0, 0, 3, 1, 0, 0, 0);
    EXPECT_EQ(channel.pixels[0], 0xFF);
    EXPECT_EQ(channel.pixels[1], 0x00);
    ReleaseMemImg(&channel);
    FreeBaseImageData(&colours);
}

TEST_F(PixelTransferTest, MirrorTurnAndHalveInPlace)
{
    const struct {
        int bytes;
    } sizes[] = {{1}, {2}, {3}, {4}};
    for (const auto &s : sizes) {
        PixelFormat f = s.bytes == 1 ? GrayPaletteFormat() : MasksFormat(8 * s.bytes, 0xFF, 0, 0, 0);
        BaseImage row = MakeImage(f, 5, 1);
        for (int i = 0; i < 5; i++) SetPixelAt(row, i, 0, (uint32_t)(i + 1) * 0x01010101u);
        ASSERT_EQ(TransformBaseImageInPlace(&row), 0);
        for (int i = 0; i < 5; i++) EXPECT_EQ(PixelAt(row, i, 0) & 0xFF, (uint32_t)(5 - i)) << s.bytes << " bytes";
        FreeBaseImageData(&row);

        BaseImage square = MakeImage(f, 3, 3);
        for (int i = 0; i < 9; i++) SetPixelAt(square, i % 3, i / 3, (uint32_t)('a' + i));
        ASSERT_EQ(RotateBaseImage180(&square), 0);
        std::string turned;
        for (int i = 0; i < 9; i++) turned += (char)(PixelAt(square, i % 3, i / 3) & 0xFF);
        EXPECT_EQ(turned, "ihgfedcba") << s.bytes << " bytes";
        FreeBaseImageData(&square);
    }
    BaseImage empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_EQ(TransformBaseImageInPlace(&empty), -1);
    empty.format.formatCode = PIXEL_FORMAT_DXT1;
    EXPECT_EQ(RotateBaseImage180(&empty), -1);

    // Halving: 2x2 blocks, pairs along a one-pixel side, a 1x1 copy, odd sizes refused.
    PixelFormat x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat r565 = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    const uint32_t reds[4] = {0x000000, 0x010000, 0x020000, 0x040000};
    uint32_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds, 8, 0, 0, 0, 2, 2), 0);
    EXPECT_EQ(out[0], 0x010000u) << "(0 + 1 + 2 + 4) >> 2";
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds, 16, 1, 0, 0, 4, 1), 0);
    EXPECT_EQ(out[1], 0x000000u) << "(0 + 1) >> 1";
    EXPECT_EQ(out[2], 0x030000u) << "(2 + 4) >> 1";
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds, 4, 0, 0, 0, 1, 2), 0);
    EXPECT_EQ(out[0], 0x000000u) << "column of 0 and 1";
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds + 3, 4, 3, 0, 0, 1, 1), 0);
    EXPECT_EQ(out[3], 0x040000u);
    const uint16_t words[4] = {0xFFFF, 0x0000, 0xF800, 0x001F};
    uint16_t half = 0;
    EXPECT_EQ(HalveImageRect(&r565, &half, 2, words, 4, 0, 0, 0, 2, 2), 0);
    EXPECT_EQ(half, (uint16_t)((62 >> 2) << 11 | (63 >> 2) << 5 | (62 >> 2))) << "per channel in 16 bits";
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds, 12, 0, 0, 0, 3, 2), -1);
    EXPECT_EQ(HalveImageRect(&x8, out, 16, reds, 8, 0, 0, 0, 2, 3), -1);
}

TEST_F(PixelTransferTest, BlitClipsAndStretchScales)
{
    PixelFormat x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    BaseImage source = MakeImage(x8, 4, 4), dest = MakeImage(x8, 8, 8);
    for (int i = 0; i < 16; i++) SetPixelAt(source, i % 4, i / 4, (uint32_t)(i + 1));
    EXPECT_EQ(BlitBaseImage(0, 0, 4, 4, -3, 0, &source, &dest), 0);
    EXPECT_EQ(PixelAt(dest, 0, 0), 4u) << "starts at source x + 3";
    EXPECT_EQ(PixelAt(dest, 1, 0), 0u) << "width cut by 3";
    EXPECT_EQ(BlitBaseImage(-1, -1, 4, 4, 5, 5, &source, &dest), 0);
    EXPECT_EQ(PixelAt(dest, 6, 6), 1u) << "negative source start moves the destination";
    EXPECT_EQ(PixelAt(dest, 7, 7), 6u);
    EXPECT_EQ(PixelAt(dest, 5, 5), 0u);
    EXPECT_EQ(BlitBaseImage(0, 0, 4, 4, 8, 0, &source, &dest), 0) << "nothing left is not a failure";

    ASSERT_EQ(StretchBaseImageRect(0, 0, 4, 4, &source, 0, 0, 8, 8, &dest, 0), 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            ASSERT_EQ(PixelAt(dest, x, y) & 0xFFFFFF, (uint32_t)(y / 2 * 4 + x / 2 + 1)) << x << "," << y;
    const int bad[][8] = {{0, 0, 0, 4, 0, 0, 8, 8}, {0, 0, 5, 4, 0, 0, 8, 8}, {-1, 0, 4, 4, 0, 0, 8, 8},
                          {0, 0, 4, 4, 0, 0, 9, 8}, {0, 0, 4, 4, 3, 3, 3, 8}, {4, 0, 4, 4, 0, 0, 8, 8}};
    for (const auto &b : bad) {
        EXPECT_EQ(StretchBaseImageRect(b[0], b[1], b[2], b[3], &source, b[4], b[5], b[6], b[7], &dest, 0), -1);
    }

    // Bilinear: a 2x1 ramp 0 -> 200 stretched to 4x1; the last pixel's right neighbour repeats the edge.
    BaseImage ramp = MakeImage(x8, 2, 1), wide = MakeImage(x8, 4, 1);
    SetPixelAt(ramp, 0, 0, 0);
    SetPixelAt(ramp, 1, 0, 200);
    ASSERT_EQ(StretchBaseImageRect(0, 0, 2, 1, &ramp, 0, 0, 4, 1, &wide, 1), 0);
    const uint32_t blue[4] = {0, (uint32_t)((200ull * 32768 * 65535 >> 16) >> 16), 199, 199};
    for (int x = 0; x < 4; x++) EXPECT_EQ(PixelAt(wide, x, 0) & 0xFF, blue[x]) << x;
    FreeBaseImageData(&ramp);
    FreeBaseImageData(&wide);
    FreeBaseImageData(&source);
    FreeBaseImageData(&dest);
}

// A copy inside one software image moves a row span over itself: the result is that of a copy through a buffer.
TEST_F(PixelTransferTest, CopyWithinOneSoftwareImage)
{
    const struct {
        const char *what;
        RECT rect;
        int dx;
        uint32_t expected[8];
    } table[] = {
        {"one pixel right", {0, 0, 7, 1}, 1, {1, 1, 2, 3, 4, 5, 6, 7}},
        {"three pixels left", {3, 0, 8, 1}, 0, {4, 5, 6, 7, 8, 6, 7, 8}},
        {"onto itself", {0, 0, 8, 1}, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto &e : table) {
        MEMIMG image = {};
        ASSERT_EQ(CreateMemImg(&image, 8, 1, -1, 0, 1, 0, 0, 0, NULL), 0);
        uint32_t *row = (uint32_t *)image.pixels;
        for (int i = 0; i < 8; i++) row[i] = (uint32_t)(i + 1);
        EXPECT_EQ(MemImgRectOperation(&image, &image, &e.rect, e.dx, 0), 0) << e.what;
        for (int i = 0; i < 8; i++) EXPECT_EQ(row[i], e.expected[i]) << e.what << " pixel " << i;
        ReleaseMemImg(&image);
    }
}

TEST_F(PixelTransferTest, FillMemImgRectClips)
{
    MEMIMG image = {};
    ASSERT_EQ(CreateMemImg(&image, 5, 4, -1, 0, 0, 0, 0, 0, NULL), 0);
    const struct {
        RECT rect;
        int filled;
    } table[] = {{{1, 1, 3, 3}, 4}, {{-5, -5, 2, 1}, 2}, {{3, 2, 50, 50}, 4}, {{6, 0, 9, 4}, 0}, {{2, 2, 2, 4}, 0}};
    for (const auto &e : table) {
        memset(image.pixels, 0, (size_t)image.block->pitch * 4);
        FillMemImgRect(&image, &e.rect, 0xABCD);
        int filled = 0;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 5; x++) filled += ((uint16_t *)(image.pixels + y * image.block->pitch))[x] == 0xABCD;
        EXPECT_EQ(filled, e.filled) << e.rect.left << "," << e.rect.top << "," << e.rect.right << "," << e.rect.bottom;
    }
    FillMemImgRect(&image, NULL, 0x1111);
    EXPECT_EQ(((uint16_t *)(image.pixels + 3 * image.block->pitch))[4], 0x1111);
    ReleaseMemImg(&image);
}

TEST_F(PixelTransferTest, DibFromEightAndTwentyFourBitImages)
{
    PixelFormat gray = GrayPaletteFormat(), rgb24 = MasksFormat(24, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    const struct {
        const char *what;
        PixelFormat format;
        int width, copyFlag, force24;
        int bitCount, result;
        bool ownPixels;
    } table[] = {
        {"8-bit, rows match", gray, 8, 0, 0, 8, 0, true},      {"8-bit, copy asked", gray, 8, 1, 0, 8, 1, false},
        {"8-bit forced to 24", gray, 8, 0, 1, 24, 1, false},   {"24-bit, rows match", rgb24, 4, 2, 0, 24, 2, true},
        {"32-bit converted", x8, 3, 0, 0, 24, 1, false},
    };
    for (const auto &e : table) {
        BaseImage image = MakeImage(e.format, e.width, 2);
        for (int x = 0; x < e.width; x++) SetPixelAt(image, x, 1, (uint32_t)(x * 0x30) & ChannelBits(e.format));
        DibHeaderBlock header;
        unsigned char *pixels = NULL;
        EXPECT_EQ(BaseImageToDib(&image, &header, &pixels, e.copyFlag, e.force24), e.result) << e.what;
        EXPECT_EQ(header.size, 40u);
        EXPECT_EQ(header.width, e.width);
        EXPECT_EQ(header.height, -2) << "top-down rows";
        EXPECT_EQ(header.bitCount, e.bitCount) << e.what;
        EXPECT_EQ(pixels == image.pixels, e.ownPixels) << e.what;
        int row = (e.width * (e.bitCount / 8) + 3) / 4 * 4;
        for (int x = 0; x < e.width; x++) {
            unsigned char expected = (unsigned char)(x * 0x30);
            ASSERT_EQ(pixels[row + x * (e.bitCount / 8)], expected) << e.what << " x " << x;
        }
        if (e.bitCount == 8) {
            EXPECT_EQ(header.colors[77].green, 77);
        }
        if (!e.ownPixels) FreeMemory(pixels);
        FreeBaseImageData(&image);
    }
}

} // namespace
