// Shared helpers of the image tests: a fixture that checks every test gives back all the memory it took, the
// formats the tests walk over, and small image builders.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "core/core_test_hooks.h"

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetAllocationFailureCountdown(-1);
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        SetAllocationFailureCountdown(-1);
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "the test left engine blocks behind";
    }
    int allocationsAtStart = 0;
};

struct NamedFormat {
    const char *name;
    PixelFormat format;
};

inline PixelFormat MasksFormat(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a)
{
    PixelFormat f;
    memset(&f, 0, sizeof(f));
    CreatePixelFormatFromMasks(&f, bits, r, g, b, a);
    return f;
}

inline PixelFormat GrayPaletteFormat()
{
    PixelFormat f;
    memset(&f, 0, sizeof(f));
    SetGrayPalette8PixelFormat(&f);
    return f;
}

// Every packed layout the engine meets: the loaders' outputs and the software-image block formats.
inline std::vector<NamedFormat> PackedFormats()
{
    return {
        {"R5G6B5", MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0)},
        {"X1R5G5B5", MasksFormat(16, 0x7C00, 0x3E0, 0x1F, 0)},
        {"A1R5G5B5", MasksFormat(16, 0x7C00, 0x3E0, 0x1F, 0x8000)},
        {"A4R4G4B4", MasksFormat(16, 0xF00, 0xF0, 0xF, 0xF000)},
        {"R8G8B8", MasksFormat(24, 0xFF0000, 0xFF00, 0xFF, 0)},
        {"X8R8G8B8", MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0)},
        {"A8R8G8B8", MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u)},
        {"A8B8G8R8", MasksFormat(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u)},
        {"R5G6B5A8", MasksFormat(32, 0xF800, 0x7E0, 0x1F, 0xFF0000)},
    };
}

inline uint32_t ReadRawPixel(const unsigned char *p, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v |= (uint32_t)p[i] << (8 * i);
    return v;
}

inline void WriteRawPixel(unsigned char *p, int bytes, uint32_t v)
{
    for (int i = 0; i < bytes; i++) p[i] = (unsigned char)(v >> (8 * i));
}

// An image of the given format with tracked pixels; the caller frees it with FreeBaseImageData.
inline BaseImage MakeImage(const PixelFormat &format, int width, int height)
{
    BaseImage image;
    memset(&image, 0, sizeof(image));
    image.format = format;
    image.width = width;
    image.height = height;
    image.pitch = (format.bytesPerPixel * width + 3) / 4 * 4;
    image.pixels = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)image.pitch * height);
    return image;
}

inline uint32_t PixelAt(const BaseImage &image, int x, int y)
{
    return ReadRawPixel(image.pixels + y * image.pitch + x * image.format.bytesPerPixel, image.format.bytesPerPixel);
}

inline void SetPixelAt(BaseImage &image, int x, int y, uint32_t v)
{
    WriteRawPixel(image.pixels + y * image.pitch + x * image.format.bytesPerPixel, image.format.bytesPerPixel, v);
}

// Ideal scaling of a field between widths, the reference for both narrowing and widening.
inline uint32_t ScaleFieldReference(uint32_t value, int from, int to)
{
    if (from == 0 || to == 0) return 0;
    if (to <= from) return value >> (from - to);
    return (uint32_t)((uint64_t)value * ((1ull << to) - 1) / ((1ull << from) - 1));
}
