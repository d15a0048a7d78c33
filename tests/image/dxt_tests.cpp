// DXT1-5 block decoding against worked vectors and a texel-by-texel reference decoder.
#include "image_test_support.h"

namespace {

using DxtTest = ImageTest;

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

std::ostream &operator<<(std::ostream &out, const Rgba &c)
{
    return out << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

BaseImage MakeBlockImage(int code, int width, int height, const std::vector<uint8_t> &data, int mips = 0)
{
    BaseImage image;
    memset(&image, 0, sizeof(image));
    CreatePixelFormatFromMasks(&image.format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    image.format.bitsPerPixel = code == 1 ? 4 : 8;
    image.format.formatCode = (uint32_t)code;
    image.width = width;
    image.height = height;
    image.mipCount = mips;
    image.pixels = (unsigned char *)ENGINE_ALLOC(data.size() ? data.size() : 1);
    if (!data.empty()) memcpy(image.pixels, data.data(), data.size());
    return image;
}

Rgba TexelOf(const BaseImage &image, int x, int y)
{
    const unsigned char *p = image.pixels + y * image.pitch + x * 4;
    return {p[2], p[1], p[0], p[3]};
}

// A colour part: c0, c1 and one index for every texel.
std::vector<uint8_t> ColorPart(uint16_t c0, uint16_t c1, int index)
{
    uint32_t indices = 0;
    for (int i = 0; i < 16; i++) indices |= (uint32_t)index << (2 * i);
    return {(uint8_t)c0, (uint8_t)(c0 >> 8), (uint8_t)c1, (uint8_t)(c1 >> 8), (uint8_t)indices,
            (uint8_t)(indices >> 8), (uint8_t)(indices >> 16), (uint8_t)(indices >> 24)};
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> InterpolatedAlphaPart(int a0, int a1, int index)
{
    std::vector<uint8_t> part = {(uint8_t)a0, (uint8_t)a1};
    uint64_t bits = 0;
    for (int i = 0; i < 16; i++) bits |= (uint64_t)index << (3 * i);
    for (int i = 0; i < 6; i++) part.push_back((uint8_t)(bits >> (8 * i)));
    return part;
}

TEST_F(DxtTest, WorkedVectorsDecodeToTheirTexels)
{
    const std::vector<uint8_t> explicitAlpha8(8, 0x88);
    const struct {
        const char *what;
        int code;
        std::vector<uint8_t> block;
        Rgba expected;
    } table[] = {
        {"DXT1 white/black index 2", 1, ColorPart(0xFFFF, 0x0000, 2), {170, 170, 170, 255}},
        {"DXT1 white/black index 3", 1, ColorPart(0xFFFF, 0x0000, 3), {85, 85, 85, 255}},
        {"DXT1 equal colours index 3 is transparent", 1, ColorPart(0xF800, 0xF800, 3), {255, 0, 0, 0}},
        {"DXT1 three-colour average", 1, ColorPart(0x0000, 0xFFFF, 2), {127, 127, 127, 255}},
        {"DXT3 alpha nibbles 8", 3, Concat(explicitAlpha8, ColorPart(0xFFFF, 0, 0)), {255, 255, 255, 136}},
        {"DXT5 alpha 0/255 index 6", 5, Concat(InterpolatedAlphaPart(0, 255, 6), ColorPart(0xFFFF, 0, 0)),
         {255, 255, 255, 0}},
        {"DXT5 alpha 0/255 index 7", 5, Concat(InterpolatedAlphaPart(0, 255, 7), ColorPart(0xFFFF, 0, 0)),
         {255, 255, 255, 255}},
        {"DXT5 alpha 0/255 index 2", 5, Concat(InterpolatedAlphaPart(0, 255, 2), ColorPart(0xFFFF, 0, 0)),
         {255, 255, 255, 51}},
        {"DXT5 alpha 200/100 index 4", 5, Concat(InterpolatedAlphaPart(200, 100, 4), ColorPart(0xFFFF, 0, 0)),
         {255, 255, 255, (4 * 200 + 3 * 100) / 7}},
        {"DXT2-5 never use three colours", 3, Concat(explicitAlpha8, ColorPart(0x0000, 0xFFFF, 3)),
         {170, 170, 170, 136}},
        // 0x4208 expands to (65, 64, 65); with alpha 128 the green 64 becomes 127.
        {"DXT4 unpremultiplies", 4, Concat(InterpolatedAlphaPart(128, 128, 0), ColorPart(0x4208, 0, 0)),
         {129, 127, 129, 128}},
        // Alpha 0 leaves the colour 0; a colour above its alpha saturates.
        {"DXT4 alpha 0", 4, Concat(InterpolatedAlphaPart(0, 0, 0), ColorPart(0xFFFF, 0, 0)), {0, 0, 0, 0}},
        {"DXT2 colour above alpha", 2, Concat(std::vector<uint8_t>(8, 0x11), ColorPart(0xFFFF, 0, 0)),
         {255, 255, 255, 17}},
    };
    for (const auto &e : table) {
        BaseImage image = MakeBlockImage(e.code, 4, 4, e.block, 5);
        ASSERT_EQ(ConvertBaseImageToNormal(&image), 0) << e.what;
        EXPECT_EQ(image.format.formatCode, 0u) << e.what;
        EXPECT_EQ(image.format.alphaMask, 0xFF000000u) << e.what;
        EXPECT_EQ(image.pitch, 16) << e.what;
        EXPECT_EQ(image.mipCount, 1) << "only the first level was decoded: " << e.what;
        for (int i = 0; i < 16; i++) {
            ASSERT_EQ(TexelOf(image, i & 3, i >> 2), e.expected) << e.what << " texel " << i;
        }
        FreeBaseImageData(&image);
    }
}

// Reference decoder written texel by texel from the format rules.
Rgba Expand565(int c)
{
    return {(c >> 11) * 255 / 31, ((c >> 5) & 63) * 255 / 63, (c & 31) * 255 / 31, 255};
}

Rgba ReferenceTexel(int code, const uint8_t *block, int texel)
{
    const uint8_t *color = code == 1 ? block : block + 8;
    int c0 = color[0] | color[1] << 8, c1 = color[2] | color[3] << 8;
    uint32_t indices = color[4] | color[5] << 8 | color[6] << 16 | (uint32_t)color[7] << 24;
    int index = (indices >> (2 * texel)) & 3;
    Rgba a = Expand565(c0), b = Expand565(c1);
    Rgba out;
    bool fourColors = code != 1 || c0 > c1;
    if (index == 0) out = a;
    else if (index == 1) out = b;
    else if (fourColors) {
        int wa = index == 2 ? 2 : 1, wb = 3 - wa;
        out = {(a.r * wa + b.r * wb) / 3, (a.g * wa + b.g * wb) / 3, (a.b * wa + b.b * wb) / 3, 255};
    } else {
        out = {(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2, index == 3 ? 0 : 255};
    }
    if (code == 2 || code == 3) {
        out.a = ((block[texel / 2] >> (4 * (texel % 2))) & 15) * 17;
    } else if (code == 4 || code == 5) {
        int a0 = block[0], a1 = block[1];
        uint64_t bits = 0;
        for (int i = 0; i < 6; i++) bits |= (uint64_t)block[2 + i] << (8 * i);
        int ai = (int)((bits >> (3 * texel)) & 7);
        if (ai == 0) out.a = a0;
        else if (ai == 1) out.a = a1;
        else if (a0 > a1) out.a = ((8 - ai) * a0 + (ai - 1) * a1) / 7;
        else if (ai == 6) out.a = 0;
        else if (ai == 7) out.a = 255;
        else out.a = ((6 - ai) * a0 + (ai - 1) * a1) / 5;
    }
    if (code == 2 || code == 4) {
        int *channels[3] = {&out.r, &out.g, &out.b};
        for (int *c : channels) *c = out.a == 0 ? 0 : std::min(255, *c * 255 / out.a);
    }
    return out;
}

TEST_F(DxtTest, RandomBlocksMatchReferenceInEveryFormat)
{
    std::mt19937 random(42);
    for (int code = 1; code <= 5; code++) {
        const int width = 12, height = 8, blockSize = code == 1 ? 8 : 16;
        std::vector<uint8_t> data((width / 4) * (height / 4) * blockSize);
        for (int round = 0; round < 40; round++) {
            for (auto &byte : data) byte = (uint8_t)random();
            if (round % 2) { // low alphas make the premultiplied division interesting
                for (size_t i = 0; i + 1 < data.size(); i += blockSize) data[i] &= 0x0F, data[i + 1] &= 0x0F;
            }
            BaseImage image = MakeBlockImage(code, width, height, data);
            ASSERT_EQ(ConvertBaseImageToNormal(&image), 0);
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < width; x++) {
                    const uint8_t *block = &data[((y / 4) * (width / 4) + x / 4) * blockSize];
                    ASSERT_EQ(TexelOf(image, x, y), ReferenceTexel(code, block, (y % 4) * 4 + x % 4))
                        << "DXT" << code << " at " << x << "," << y;
                }
            }
            FreeBaseImageData(&image);
        }
    }
}

TEST_F(DxtTest, PixelsOutsideWholeBlocksAndFloatFormatsAreZero)
{
    const struct {
        int code, width, height;
    } table[] = {{1, 6, 5}, {5, 7, 7}, {3, 2, 2}, {6, 3, 3}, {7, 4, 4}};
    for (const auto &e : table) {
        std::vector<uint8_t> data(64, 0xFF); // whole blocks of white
        BaseImage image = MakeBlockImage(e.code, e.width, e.height, data);
        ASSERT_EQ(ConvertBaseImageToNormal(&image), 0);
        EXPECT_EQ(image.pitch, e.width * 4);
        for (int y = 0; y < e.height; y++) {
            for (int x = 0; x < e.width; x++) {
                bool decoded = e.code <= 5 && x < e.width / 4 * 4 && y < e.height / 4 * 4;
                if (!decoded) {
                    ASSERT_EQ(TexelOf(image, x, y), (Rgba{0, 0, 0, 0})) << "code " << e.code << " " << x << "," << y;
                }
            }
        }
        FreeBaseImageData(&image);
    }
}

TEST_F(DxtTest, FailedAllocationLeavesImageUnchanged)
{
    BaseImage image = MakeBlockImage(1, 4, 4, ColorPart(0xFFFF, 0, 0), 3);
    unsigned char *before = image.pixels;
    SetAllocationFailureCountdown(0);
    EXPECT_EQ(ConvertBaseImageToNormal(&image), -1);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.format.formatCode, 1u);
    EXPECT_EQ(image.mipCount, 3);
    FreeBaseImageData(&image);

    PixelFormat plain = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    BaseImage packed = MakeImage(plain, 2, 2);
    before = packed.pixels;
    EXPECT_EQ(ConvertBaseImageToNormal(&packed), 0);
    EXPECT_EQ(packed.pixels, before) << "a packed image is left alone";
    FreeBaseImageData(&packed);
}

} // namespace
