// Checking harness of the blit tests and the blit fuzz target (see blit_check.h). Test threads only.
#include "blit_check.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

TestImage::~TestImage()
{
    ReleaseMemImg(&view);
    ReleaseMemImg(&image);
    free(memory);
}

static void StoreRaw(unsigned char *p, int bytes, uint32_t value)
{
    memcpy(p, &value, bytes); // little-endian, as every build target
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
    uint32_t mask = bytes == 4 ? 0xFFFFFFFF : (1u << (8 * bytes)) - 1;
    uint32_t key = rng() % 8 == 0 ? mask + 1 : rng() & mask; // a key no pixel can hold keys nothing
    out.memory = (unsigned char *)malloc((size_t)width * height * bytes);
    CreateMemImg(&out.image, width, height, width * bytes, key, kind, form == FORM_PALETTE, form == FORM_ALPHA, 1,
                 out.memory);
    for (int i = 0; i < width * height; i++) {
        uint32_t value = rng(), pick = rng() % 3, alpha = pick == 0 ? 0 : pick == 1 ? 255 : value >> 24;
        if (form != FORM_ALPHA)
            value = pick == 0 ? key : value;
        else
            value = kind == 0 ? (value & 0xFF00FFFF) | alpha << 16 : (value & 0xFFFFFF) | alpha << 24;
        StoreRaw(out.memory + (size_t)i * bytes, bytes, value);
    }
    for (int i = 0; form == FORM_PALETTE && i < 256; i++)
        StoreRaw((unsigned char *)out.image.block->palette + i * (kind == 0 ? 2 : 4), kind == 0 ? 2 : 4, rng());
    out.image.block->paletteEntriesUsed = 1 + rng() % 256;
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

void MakeDestination(TestImage &out, std::mt19937 &rng, int kind, int width, int height, int alphaFlag, int paletteFlag)
{
    int bytes = BytesPerPixel(kind, paletteFlag, alphaFlag);
    int marginX = 1 + rng() % 3, marginY = 1 + rng() % 3;
    int blockWidth = width + 2 * marginX, blockHeight = height + 2 * marginY;
    int pitch = blockWidth * bytes + 4 * (int)(rng() % 3);
    out.memory = (unsigned char *)malloc((size_t)pitch * blockHeight);
    memset(out.memory, 0xA5, (size_t)pitch * blockHeight);
    CreateMemImg(&out.image, blockWidth, blockHeight, pitch, 0, kind, paletteFlag, alphaFlag, 1, out.memory);
    DeriveMemImg(&out.view, &out.image, marginX, marginY, width, height);
    FillView(out.view, [&rng](int, int) { return (uint32_t)rng(); });
    RebuildMemImgDerivedData(&out.image, blockWidth, blockHeight);
}

int Between(std::mt19937 &rng, int low, int high)
{
    return low + (int)(rng() % (uint32_t)(high - low + 1));
}

void RandomSettings(std::mt19937 &rng, int mode, int parameter, bool white, const MEMIMG &view)
{
    uint32_t colour = white ? 0xFFFFFF : rng() % 0xFFFFFF;
    MemImgDrawSettings &s = g_MemImgDrawSettings;
    s.blendMode = mode;
    s.blendParameter = parameter;
    s.brightness = (rng() % 4 == 0 ? rng() & 0xFF000000 : 0) | colour; // byte 3 does not count
    RECT &area = s.drawArea;
    if (rng() % 10 == 0) { // an area reaching past the destination
        area = RECT{-Between(rng, 0, 3), -Between(rng, 0, 3), view.width + Between(rng, 0, 3),
                    view.height + Between(rng, 0, 3)};
    } else {
        int left = Between(rng, 0, view.width / 3), top = Between(rng, 0, view.height / 3);
        area = RECT{left, top, Between(rng, left + 1, view.width), Between(rng, top + 1, view.height)};
    }
    for (uint8_t &weight : g_BlendTables.fadeRamp) {
        uint32_t pick = rng() % 4;
        weight = (uint8_t)(pick == 0 ? 0 : pick == 1 ? 255 : rng());
    }
}

static std::vector<unsigned char> BlockBytes(const MEMIMG *image)
{
    if (image == nullptr || !IsValidMemImg(image))
        return {};
    const MemImgBlock *b = image->block;
    return std::vector<unsigned char>(b->pixels, b->pixels + (size_t)b->pitch * b->height);
}

static std::string Describe(const MEMIMG *image)
{
    if (image == nullptr || !IsValidMemImg(image))
        return image ? "dead" : "null";
    const MemImgBlock *b = image->block;
    char text[160];
    snprintf(text, sizeof(text), "%dx%d kind %d palette %d alpha %d key 0x%X table %d view %d", image->width,
             image->height, b->kind, b->paletteFlag, b->alphaFlag, b->transparentValue, b->runTableValid,
             image->pixels != b->pixels);
    return text;
}

static std::string Describe(const MEMIMG &destination, const BlitCall &call)
{
    const MemImgDrawSettings &s = g_MemImgDrawSettings;
    const RECT &a = s.drawArea, &r = call.rect;
    char text[400];
    snprintf(text, sizeof(text),
             "draw kind %d of %s onto %s, blend image %s, transparent %d, mode %d p %d brightness 0x%X area (%d,%d)-"
             "(%d,%d), at (%d,%d) rect (%d,%d)-(%d,%d) scale %.9g angle %.9g",
             call.kind, Describe(call.source).c_str(), Describe(&destination).c_str(),
             Describe(call.blendImage).c_str(), call.transparent, s.blendMode, s.blendParameter, s.brightness,
             (int)a.left, (int)a.top, (int)a.right, (int)a.bottom, call.x, call.y, (int)r.left, (int)r.top,
             (int)r.right, (int)r.bottom, (double)call.scale, (double)call.angle);
    return text;
}

static void RunEngine(MEMIMG *destination, const BlitCall &call)
{
    int corners[4][2] = {};
    for (int i = 0; i < 4; i++)
        corners[i][0] = call.vertices[i].x, corners[i][1] = call.vertices[i].y;
    if (call.kind == BLIT_TRIANGLE)
        MemImgDrawTriangle(destination, call.source, call.vertices, call.transparent, call.blendImage, call.color);
    else if (call.kind == BLIT_QUAD)
        MemImgDrawQuadImage(destination, call.source, corners, call.transparent, call.blendImage);
    else if (call.kind == BLIT_POINT)
        MemImgDrawImage(destination, call.source, call.x, call.y, call.transparent, call.blendImage);
    else if (call.kind == BLIT_STRETCHED)
        MemImgDrawStretchedImage(destination, call.source, &call.rect, call.transparent, call.blendImage);
    else
        MemImgDrawRotatedImage(destination, call.source, call.x, call.y, call.scale, call.angle, call.transparent, 0,
                               call.blendImage);
}

// The first byte of the destination's block that differs from `want`, named, or empty.
static std::string FirstDifference(const MEMIMG &view, const std::vector<unsigned char> &want, const ModelImage &before,
                                   const ModelImage &expected)
{
    const MemImgBlock *b = view.block;
    ptrdiff_t start = view.pixels - b->pixels;
    ModelImage actual = CaptureImage(&view);
    for (size_t i = 0; i < want.size(); i++) {
        ptrdiff_t offset = (ptrdiff_t)i - start;
        int x = (int)(offset % b->pitch / b->format->bytesPerPixel), y = (int)(offset / b->pitch);
        if (b->pixels[i] == want[i])
            continue;
        if (offset < 0 || x >= view.width || y >= view.height)
            return "byte " + std::to_string(i) + " of the block outside the view changed";
        char text[120];
        snprintf(text, sizeof(text), "pixel (%d,%d) was 0x%X, engine 0x%X, model 0x%X", x, y, before.At(x, y),
                 actual.At(x, y), expected.At(x, y));
        return text;
    }
    return "";
}

std::string CheckBlit(TestImage &destination, const BlitCall &call, bool *changed)
{
    const MEMIMG &view = destination.view;
    int bytes = view.block->format->bytesPerPixel;
    std::vector<unsigned char> source = BlockBytes(call.source), blend = BlockBytes(call.blendImage);
    std::vector<unsigned char> want = BlockBytes(&view);
    ModelImage before = CaptureImage(&view), expected = before, blendCopy = CaptureImage(call.blendImage);
    ModelBlit(expected, call, CaptureImage(call.source), call.blendImage ? &blendCopy : nullptr);
    for (int i = 0; i < view.width * view.height; i++) {
        size_t at = view.pixels - view.block->pixels + i / view.width * view.block->pitch + i % view.width * bytes;
        StoreRaw(&want[at], bytes, expected.pixels[i]);
    }
    RunEngine(&destination.view, call);
    std::string difference = FirstDifference(view, want, before, expected);
    bool drawn = CaptureImage(&view).pixels != before.pixels;
    if (difference.empty() && (BlockBytes(call.source) != source || BlockBytes(call.blendImage) != blend))
        difference = "the source or the blend image changed";
    if (difference.empty() && drawn && view.block->runTableValid)
        difference = "the destination changed but its run table still counts as current";
    if (changed)
        *changed = drawn;
    return difference.empty() ? difference : Describe(view, call) + ": " + difference;
}
