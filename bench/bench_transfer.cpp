// Pixel transfer benchmarks: the common format pairs of the pixel kernel on a 1024x1024 picture, each against a
// memcpy of the destination bytes timed in the same run, and a palette destination. Single-threaded.
#include "bench/bench.h"

#include "image/image.h"

#include <stdio.h>
#include <string.h>

#include <vector>

namespace
{

const int SIDE = 1024;
const int ROUNDS = 7;

struct BenchFormat {
    const char *name;
    int bits;
    uint32_t red, green, blue, alpha;
};

const BenchFormat R5G6B5 = {"R5G6B5", 16, 0xF800, 0x7E0, 0x1F, 0};
const BenchFormat A1R5G5B5 = {"A1R5G5B5", 16, 0x7C00, 0x3E0, 0x1F, 0x8000};
const BenchFormat R8G8B8 = {"R8G8B8", 24, 0xFF0000, 0xFF00, 0xFF, 0};
const BenchFormat X8R8G8B8 = {"X8R8G8B8", 32, 0xFF0000, 0xFF00, 0xFF, 0};
const BenchFormat A8R8G8B8 = {"A8R8G8B8", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
const BenchFormat A8B8G8R8 = {"A8B8G8R8", 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u};
const BenchFormat R5G6B5A8 = {"R5G6B5A8", 32, 0xF800, 0x7E0, 0x1F, 0xFF0000}; // 16-bit software image with alpha

struct Picture {
    PixelFormat format;
    std::vector<unsigned char> pixels;
    int pitch;
    PixelBuffer Buffer()
    {
        return {pixels.data(), pitch, &format, SIDE, SIDE};
    }
};

Picture MakePicture(const PixelFormat &format, unsigned seed)
{
    Picture p;
    p.format = format;
    p.pitch = (format.bytesPerPixel * SIDE + 3) / 4 * 4;
    p.pixels.resize((size_t)p.pitch * SIDE);
    for (size_t i = 0; i < p.pixels.size(); i++) {
        seed = seed * 1103515245u + 12345u;
        p.pixels[i] = (unsigned char)(seed >> 16);
    }
    return p;
}

Picture MakePicture(const BenchFormat &f, unsigned seed)
{
    PixelFormat format;
    memset(&format, 0, sizeof(format));
    CreatePixelFormatFromMasks(&format, f.bits, f.red, f.green, f.blue, f.alpha);
    return MakePicture(format, seed);
}

// Times the kernel from `from` into `to` with the options, against a memcpy of the destination's bytes.
void ReportPair(const char *name, Picture &from, Picture &to, const PixelKernelOptions &options)
{
    PixelBuffer destination = to.Buffer(), source = from.Buffer();
    RECT rect = {0, 0, SIDE, SIDE};
    double kernel = BenchBest(ROUNDS, [&] { PixelKernel(&destination, &source, NULL, 0, 0, &rect, &options); });
    std::vector<unsigned char> copy(to.pixels.size());
    double reference = BenchBest(ROUNDS, [&] { memcpy(copy.data(), to.pixels.data(), copy.size()); });
    BenchReport(name, kernel, "memcpy of destination bytes", reference);
}

void ReportPair(const BenchFormat &from, const BenchFormat &to, const char *variant, const PixelKernelOptions &options)
{
    Picture source = MakePicture(from, 1), destination = MakePicture(to, 2);
    char name[64];
    snprintf(name, sizeof(name), "transfer %s -> %s%s", from.name, to.name, variant);
    ReportPair(name, source, destination, options);
}

// A picture into a 256-colour palette: every pixel is a nearest-entry search. Noise is the worst case (hardly a
// colour repeats); the ramp repeats its colours the way a drawn picture does.
void ReportPaletteDestination()
{
    PixelFormat palette;
    memset(&palette, 0, sizeof(palette));
    SetPalette8PixelFormat(&palette);
    for (int i = 0; i < 256; i++) {
        palette.palette[i] = {(uint8_t)(i * 37), (uint8_t)(i * 101), (uint8_t)(i * 53), 0};
    }
    Picture destination = MakePicture(palette, 4);
    PixelKernelOptions options = {};
    Picture noise16 = MakePicture(R5G6B5, 3);
    ReportPair("transfer R5G6B5 noise -> 256-colour palette", noise16, destination, options);
    Picture noise32 = MakePicture(X8R8G8B8, 5);
    ReportPair("transfer X8R8G8B8 noise -> 256-colour palette", noise32, destination, options);
    Picture ramp = MakePicture(X8R8G8B8, 6);
    for (int y = 0; y < SIDE; y++) {
        uint32_t *row = (uint32_t *)(ramp.pixels.data() + (size_t)y * ramp.pitch);
        for (int x = 0; x < SIDE; x++) {
            row[x] = (uint32_t)(x / 4) << 16 | (uint32_t)(y / 4) << 8 | (uint32_t)((x + y) / 8);
        }
    }
    ReportPair("transfer X8R8G8B8 ramp -> 256-colour palette", ramp, destination, options);
}

} // namespace

void RunTransferBenchmarks(const char *scratchFolder)
{
    (void)scratchFolder;
    const PixelKernelOptions plain = {};
    PixelKernelOptions keyed = {};
    keyed.transparentToAlpha = 1;
    keyed.transparentColor = 0xFF00FF;
    PixelKernelOptions skipped = {};
    skipped.transparentSkip = 1;
    skipped.transparentColor = 0x123456;
    const struct {
        const BenchFormat &from, &to;
        const char *variant;
        const PixelKernelOptions &options;
    } pairs[] = {
        {R8G8B8, R5G6B5, "", plain},         {R8G8B8, X8R8G8B8, "", plain},
        {X8R8G8B8, R5G6B5, "", plain},       {A8R8G8B8, A1R5G5B5, "", plain},
        {A8R8G8B8, R5G6B5A8, "", plain},     {X8R8G8B8, A8R8G8B8, "", plain},
        {A8B8G8R8, A8R8G8B8, "", plain},     {X8R8G8B8, A8R8G8B8, " keyed", keyed},
        {R8G8B8, A8R8G8B8, " keyed", keyed}, {X8R8G8B8, R5G6B5, " skip", skipped},
        {R5G6B5, R8G8B8, "", plain},         {R5G6B5, X8R8G8B8, "", plain},
        {X8R8G8B8, R8G8B8, "", plain},       {A1R5G5B5, A8R8G8B8, "", plain},
    };
    for (const auto &p : pairs) {
        ReportPair(p.from, p.to, p.variant, p.options);
    }
    ReportPaletteDestination();
}
