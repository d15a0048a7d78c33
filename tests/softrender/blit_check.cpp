// Checking harness of the blit tests (see blit_check.h). Test threads only.
#include "blit_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "softrender/softrender.h"

TestImage::~TestImage()
{
    ReleaseMemImg(&image);
    free(memory);
}

Destination::~Destination()
{
    ReleaseMemImg(&view);
}

static uint32_t RandomKey(std::mt19937 &rng, int kind, int form)
{
    uint32_t value = rng();
    bool impossible = rng() % 8 == 0; // a key no pixel can hold keys nothing
    if (form == FORM_PALETTE)
        return impossible ? 0x1FF : value & 0xFF;
    if (kind == 0)
        return impossible ? 0x10000 | value : value & 0xFFFF;
    return value;
}

static void StoreRaw(unsigned char *p, int bytes, uint32_t value)
{
    for (int i = 0; i < bytes; i++)
        p[i] = (unsigned char)(value >> (8 * i));
}

static uint32_t RandomSourcePixel(std::mt19937 &rng, int kind, int form, uint32_t key)
{
    uint32_t value = rng(), pick = rng() % 3;
    if (form == FORM_ALPHA) {
        uint32_t alpha = pick == 0 ? 0 : pick == 1 ? 255 : value >> 24;
        return kind == 0 ? (value & 0xFF00FFFF) | alpha << 16 : (value & 0xFFFFFF) | alpha << 24;
    }
    if (pick == 0)
        value = key;
    return form == FORM_PALETTE ? value & 0xFF : kind == 0 ? value & 0xFFFF : value;
}

void FillView(MEMIMG &image, const std::function<uint32_t(int x, int y)> &pixel)
{
    const MemImgBlock *b = image.block;
    int bytes = b->format->bytesPerPixel;
    for (int y = 0; y < image.height; y++) {
        for (int x = 0; x < image.width; x++)
            StoreRaw(image.pixels + y * b->pitch + x * bytes, bytes, pixel(x, y));
    }
}

static int BytesPerPixel(int kind, int paletteFlag, int alphaFlag)
{
    return paletteFlag || kind == 2 ? 1 : kind == 1 || alphaFlag ? 4 : 2;
}

void MakeSource(TestImage &out, std::mt19937 &rng, int kind, int form, int width, int height, bool current)
{
    int bytes = BytesPerPixel(kind, form == FORM_PALETTE, form == FORM_ALPHA);
    uint32_t key = RandomKey(rng, kind, form);
    out.memory = (unsigned char *)malloc((size_t)width * height * bytes);
    CreateMemImg(&out.image, width, height, width * bytes, key, kind, form == FORM_PALETTE, form == FORM_ALPHA, 1,
                 out.memory);
    for (int i = 0; i < width * height; i++) {
        StoreRaw(out.memory + (size_t)i * bytes, bytes, RandomSourcePixel(rng, kind, form, key));
    }
    MemImgBlock *block = out.image.block;
    for (int i = 0; form == FORM_PALETTE && i < 256; i++) {
        StoreRaw((unsigned char *)block->palette + i * (kind == 0 ? 2 : 4), kind == 0 ? 2 : 4, rng());
    }
    block->paletteEntriesUsed = 1 + rng() % 256;
    if (current)
        RebuildMemImgDerivedData(&out.image, width, height);
}

void MakeBlendImage(TestImage &out, std::mt19937 &rng, int width, int height, int bytesPerPixel)
{
    out.memory = (unsigned char *)malloc((size_t)width * height * bytesPerPixel);
    CreateMemImg(&out.image, width, height, width * bytesPerPixel, 0, bytesPerPixel == 1 ? 2 : 3, 0, 0, 0, out.memory);
    for (int i = 0; i < width * height * bytesPerPixel; i++)
        out.memory[i] = (unsigned char)rng();
}

void MakeDestination(Destination &out, std::mt19937 &rng, int kind, int width, int height, int alphaFlag,
                     int paletteFlag)
{
    int bytes = BytesPerPixel(kind, paletteFlag, alphaFlag);
    int marginX = 1 + rng() % 3, marginY = 1 + rng() % 3;
    int blockWidth = width + 2 * marginX, blockHeight = height + 2 * marginY;
    int pitch = blockWidth * bytes + 4 * (int)(rng() % 3);
    out.block.memory = (unsigned char *)malloc((size_t)pitch * blockHeight);
    memset(out.block.memory, 0xA5, (size_t)pitch * blockHeight);
    CreateMemImg(&out.block.image, blockWidth, blockHeight, pitch, 0, kind, paletteFlag, alphaFlag, 1,
                 out.block.memory);
    for (int y = 0; y < height; y++) {
        for (int i = 0; i < width * bytes; i++) {
            out.block.memory[(size_t)(marginY + y) * pitch + marginX * bytes + i] = (unsigned char)rng();
        }
    }
    RebuildMemImgDerivedData(&out.block.image, blockWidth, blockHeight);
    DeriveMemImg(&out.view, &out.block.image, marginX, marginY, width, height);
}

static std::vector<unsigned char> BlockBytes(const MEMIMG *image)
{
    if (image == nullptr || !IsValidMemImg(image))
        return {};
    const MemImgBlock *b = image->block;
    return std::vector<unsigned char>(b->pixels, b->pixels + (size_t)b->pitch * b->height);
}

static std::string Hex(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

static std::string DescribeImage(const MEMIMG *image)
{
    if (image == nullptr)
        return "null";
    if (!IsValidMemImg(image))
        return "dead";
    const MemImgBlock *b = image->block;
    char text[160];
    snprintf(text, sizeof(text), "%dx%d kind %d%s%s key 0x%X%s%s", image->width, image->height, b->kind,
             b->paletteFlag ? " palette" : "", b->alphaFlag ? " alpha" : "", b->transparentValue,
             b->runTableValid ? " table" : "", image->pixels != b->pixels ? " view" : "");
    return text;
}

std::string DescribeBlit(const Destination &destination, const BlitCall &call)
{
    static const char *const kNames[] = {"point", "stretched", "rotated"};
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    char text[400];
    snprintf(text, sizeof(text),
             "%s draw of %s onto %s, blend image %s, transparent %d, mode %d p %d brightness 0x%X area "
             "(%ld,%ld)-(%ld,%ld), at (%d,%d) rect (%ld,%ld)-(%ld,%ld) scale %.9g angle %.9g",
             kNames[call.kind], DescribeImage(call.source).c_str(), DescribeImage(&destination.view).c_str(),
             DescribeImage(call.blendImage).c_str(), call.transparent, s.blendMode, s.blendParameter, s.brightness,
             (long)s.drawArea.left, (long)s.drawArea.top, (long)s.drawArea.right, (long)s.drawArea.bottom, call.x,
             call.y, (long)call.rect.left, (long)call.rect.top, (long)call.rect.right, (long)call.rect.bottom,
             (double)call.scale, (double)call.angle);
    return text;
}

static void RunEngine(MEMIMG *destination, const BlitCall &call)
{
    switch (call.kind) {
    case BLIT_POINT:
        MemImgDrawImage(destination, call.source, call.x, call.y, call.transparent, call.blendImage);
        break;
    case BLIT_STRETCHED:
        MemImgDrawStretchedImage(destination, call.source, &call.rect, call.transparent, call.blendImage);
        break;
    case BLIT_ROTATED:
        MemImgDrawRotatedImage(destination, call.source, call.x, call.y, call.scale, call.angle, call.transparent, 0,
                               call.blendImage);
        break;
    }
}

static void RunModel(ModelImage &destination, const BlitCall &call)
{
    ModelImage source = CaptureImage(call.source), blend = CaptureImage(call.blendImage);
    const ModelImage *blendImage = call.blendImage ? &blend : nullptr;
    ModelSettings settings = CaptureSettings();
    switch (call.kind) {
    case BLIT_POINT:
        ModelDrawImage(destination, source, call.x, call.y, call.transparent, blendImage, settings);
        break;
    case BLIT_STRETCHED:
        ModelDrawStretchedImage(destination, source, call.rect, call.transparent, blendImage, settings);
        break;
    case BLIT_ROTATED:
        ModelDrawRotatedImage(destination, source, call.x, call.y, call.scale, call.angle, call.transparent, blendImage,
                              settings);
        break;
    }
}

// The first byte of the block outside the view that differs from `before`, or -1.
static long OutsideViewChange(const MEMIMG &view, const std::vector<unsigned char> &before)
{
    const MemImgBlock *b = view.block;
    ptrdiff_t offset = view.pixels - b->pixels;
    int bytes = b->format->bytesPerPixel;
    long viewTop = (long)(offset / b->pitch), viewLeft = (long)(offset % b->pitch);
    for (size_t i = 0; i < before.size(); i++) {
        long row = (long)(i / b->pitch), column = (long)(i % b->pitch);
        bool inView = row >= viewTop && row < viewTop + view.height && column >= viewLeft &&
                      column < viewLeft + (long)view.width * bytes;
        if (!inView && b->pixels[i] != before[i])
            return (long)i;
    }
    return -1;
}

// What the engine's draw left that differs from the model's, or empty.
static std::string FindDifference(const MEMIMG &view, const ModelImage &before, const ModelImage &expected,
                                  const std::vector<unsigned char> &block)
{
    ModelImage actual = CaptureImage(&view);
    long outside = OutsideViewChange(view, block);
    if (outside >= 0)
        return "byte " + std::to_string(outside) + " of the block outside the view changed";
    for (int y = 0; y < actual.height; y++) {
        for (int x = 0; x < actual.width; x++) {
            if (actual.At(x, y) != expected.At(x, y)) {
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") was " + Hex(before.At(x, y)) +
                       ", engine " + Hex(actual.At(x, y)) + ", model " + Hex(expected.At(x, y));
            }
        }
    }
    if (actual.pixels != before.pixels && view.block->runTableValid) {
        return "the destination changed but its run table still counts as current";
    }
    return "";
}

std::string CheckBlit(Destination &destination, const BlitCall &call, bool *changed)
{
    std::vector<unsigned char> block = BlockBytes(&destination.view), source = BlockBytes(call.source),
                               blend = BlockBytes(call.blendImage);
    ModelImage before = CaptureImage(&destination.view), expected = before;
    RunModel(expected, call);
    RunEngine(&destination.view, call);
    std::string difference = FindDifference(destination.view, before, expected, block);
    if (difference.empty() && (BlockBytes(call.source) != source || BlockBytes(call.blendImage) != blend)) {
        difference = "the source or the blend image changed";
    }
    if (changed)
        *changed = CaptureImage(&destination.view).pixels != before.pixels;
    return difference.empty() ? difference : DescribeBlit(destination, call) + ": " + difference;
}
