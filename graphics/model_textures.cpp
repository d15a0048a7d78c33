// Model textures: the picture of a material built from its image files (a normal map from a bump map, sides
// widened to powers of two, mip levels), the graphs made from it and made again after device loss, and the model
// system's own three textures (the two built-in pictures and the grey ramp) in their fixed handles. Window thread
// only.
#include "graphics/graphics_test_hooks.h"

#include <math.h>

// The built-in pictures' graphs (8 x 8, 256 x 8) and the grey ramp's; -1 until the model system's start.
static EngineHandle s_ModelTextureGraphs[3] = {-1, -1, -1};

static int IsPowerOfTwo(int value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

static int CeilPowerOfTwo(int value)
{
    int power = 1;
    while (power < value) {
        power *= 2;
    }
    return power;
}

// Any picture the loaders take, as A8R8G8B8 (a picture without alpha comes out opaque).
static int LoadArgbImage(const ModelImageFile *file, BaseImage *out)
{
    BaseImage loaded;
    MemFill(&loaded, 0, sizeof(loaded));
    if (LoadBaseImage(NULL, file->bytes, file->size, 1, 0, 0, &loaded, NULL, NULL) != 0) {
        return -1;
    }
    int result = NewARGB8BaseImage(loaded.width, loaded.height, out);
    if (result == 0) {
        result = BlitBaseImage(0, 0, loaded.width, loaded.height, 0, 0, &loaded, out);
    }
    FreeBaseImageData(&loaded);
    return result;
}

static int MakeWhiteImage(int width, int height, BaseImage *out)
{
    if (NewARGB8BaseImage(width, height, out) != 0) {
        return -1;
    }
    MemFill(out->pixels, 0xFF, (size_t)out->pitch * height);
    return 0;
}

static uint32_t *PixelAt(const BaseImage *image, int x, int y)
{
    return (uint32_t *)(image->pixels + (ptrdiff_t)y * image->pitch) + x;
}

static float GreyAt(const BaseImage *image, int x, int y)
{
    uint32_t pixel = *PixelAt(image, x, y);
    return (float)((pixel >> 16 & 0xFF) + (pixel >> 8 & 0xFF) + (pixel & 0xFF)) / 3.0f;
}

// The grey of each pixel against its right and lower neighbours (wrapping at the edges) gives the slope; the
// normal it makes, scaled to 0..255 per component, replaces the colour. Alpha is kept. The neighbours are read
// from a copy, as the picture is overwritten.
static int MakeNormalMap(BaseImage *image, float bumpHeight)
{
    BaseImage grey;
    MemFill(&grey, 0, sizeof(grey));
    if (NewARGB8BaseImage(image->width, image->height, &grey) != 0) {
        return -1;
    }
    MemCopy(grey.pixels, image->pixels, (size_t)image->pitch * image->height);
    float height = bumpHeight > 0.000001f ? bumpHeight : 0.000001f;
    for (int y = 0; y < image->height; y++) {
        for (int x = 0; x < image->width; x++) {
            float here = GreyAt(&grey, x, y);
            float normal[3] = {(here - GreyAt(&grey, (x + 1) % image->width, y)) / 255.0f * height,
                               (here - GreyAt(&grey, x, (y + 1) % image->height)) / 255.0f * height, 1.0f};
            float length = sqrtf(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
            uint32_t *pixel = PixelAt(image, x, y);
            uint32_t out = *pixel & 0xFF000000u;
            for (int c = 0; c < 3; c++) {
                out |= (uint32_t)((normal[c] / length + 1.0f) * 127.5f) << (16 - 8 * c);
            }
            *pixel = out;
        }
    }
    FreeBaseImageData(&grey);
    return 0;
}

// A side that is not a power of two makes both sides the next power of two, at most half the device's largest
// texture side, by a smoothed stretch.
static int WidenToPowerOfTwo(BaseImage *image)
{
    if (IsPowerOfTwo(image->width) && IsPowerOfTwo(image->height)) {
        return 0;
    }
    int width = CeilPowerOfTwo(image->width), height = CeilPowerOfTwo(image->height);
    if (g_D3D.maxTextureWidth > 1 && width > g_D3D.maxTextureWidth / 2) {
        width = g_D3D.maxTextureWidth / 2;
    }
    if (g_D3D.maxTextureHeight > 1 && height > g_D3D.maxTextureHeight / 2) {
        height = g_D3D.maxTextureHeight / 2;
    }
    BaseImage wide;
    MemFill(&wide, 0, sizeof(wide));
    if (NewARGB8BaseImage(width, height, &wide) != 0 ||
        StretchBaseImageRect(0, 0, image->width, image->height, image, 0, 0, width, height, &wide, 1) != 0) {
        FreeBaseImageData(&wide);
        return -1;
    }
    FreeBaseImageData(image);
    *image = wide;
    return 0;
}

// Every level down to 1 x 1, each the one before halved, stored after level 0.
static int BuildMipLevels(BaseImage *image)
{
    int levels = 1;
    while ((image->width >> (levels - 1)) > 1 || (image->height >> (levels - 1)) > 1) {
        levels++;
    }
    int64_t size = GetMipChainDataSize(&image->format, image->width, image->height, image->pitch, levels);
    unsigned char *chain = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (chain == NULL) {
        return -1;
    }
    MemCopy(chain, image->pixels, (size_t)image->pitch * image->height);
    unsigned char *level = chain;
    int width = image->width, height = image->height, pitch = image->pitch;
    for (int i = 1; i < levels; i++) {
        unsigned char *next = level + (size_t)pitch * height;
        int halfWidth = width > 1 ? width / 2 : 1, halfHeight = height > 1 ? height / 2 : 1;
        HalveImageRect(&image->format, next, halfWidth * 4, level, pitch, 0, 0, 0, width, height);
        level = next;
        width = halfWidth, height = halfHeight, pitch = halfWidth * 4;
    }
    FreeMemory(image->pixels);
    image->pixels = chain;
    image->mipCount = levels;
    return 0;
}

static int FinishImage(BaseImage *image, int mip)
{
    if (WidenToPowerOfTwo(image) != 0) {
        return -1;
    }
    return mip ? BuildMipLevels(image) : 0;
}

int BuildModelMaterialImage(BaseImage *colorImage, BaseImage *alphaImage, const ModelImageFile *colorSource,
                            const ModelImageFile *alphaSource, int bump, float bumpHeight, int mip)
{
    MemFill(colorImage, 0, sizeof(*colorImage));
    MemFill(alphaImage, 0, sizeof(*alphaImage));
    int hasColor = colorSource != NULL && colorSource->bytes != NULL;
    int hasAlpha = alphaSource != NULL && alphaSource->bytes != NULL;
    int result = hasColor || hasAlpha ? 0 : -1;
    if (result == 0 && hasAlpha) {
        result = LoadArgbImage(alphaSource, alphaImage);
    }
    if (result == 0) {
        result = hasColor ? LoadArgbImage(colorSource, colorImage)
                          : MakeWhiteImage(alphaImage->width, alphaImage->height, colorImage);
    }
    if (result == 0 && bump) {
        result = MakeNormalMap(colorImage, bumpHeight);
    }
    if (result == 0) {
        result = FinishImage(colorImage, mip);
    }
    if (result == 0 && hasAlpha) {
        result = FinishImage(alphaImage, mip);
    }
    if (result != 0) {
        FreeBaseImageData(colorImage);
        FreeBaseImageData(alphaImage);
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Graphs.

int RebuildModelTexture(ModelTextureSource *source)
{
    BaseImage color, alpha;
    if (BuildModelMaterialImage(&color, &alpha, &source->color, &source->alpha, source->bump, source->bumpHeight,
                                source->mip) != 0) {
        return -1;
    }
    BaseImage *alphaImage = alpha.pixels != NULL ? &alpha : NULL;
    int result = 0;
    if (IsGraphHandle(source->graph)) {
        result = RecreateGraphFromImage(&color, alphaImage, source->graph);
    } else {
        source->graph = CreateGraphFromImage(&color, alphaImage);
        result = source->graph != -1 ? 0 : -1;
    }
    FreeBaseImageData(&color);
    FreeBaseImageData(&alpha);
    return result;
}

void FreeModelTextureSource(ModelTextureSource *source)
{
    FreeMemory(source->color.bytes);
    FreeMemory(source->alpha.bytes);
    source->color.bytes = source->alpha.bytes = NULL;
    if (source->graph != -1) {
        ReleaseGraphHandle(source->graph, 0);
        source->graph = -1;
    }
}

// Made into their handles when those still hold graphs (after device loss), else made new; without keying.
int MakeModelSystemTextures(void)
{
    int keyed = GetTransparentColorEnabled();
    SetTransparentColorEnabled(0);
    for (int i = 0; i < 2; i++) {
        int size;
        const unsigned char *picture = GetBuiltinModelPicture(i, &size);
        if (IsGraphHandle(s_ModelTextureGraphs[i])) {
            RecreateGraphFromMemImage(picture, size, s_ModelTextureGraphs[i], NULL, 0, 0, 0);
        } else {
            s_ModelTextureGraphs[i] = CreateGraphFromMemImage(picture, size, NULL, 0, 0, 0);
        }
    }
    if (!IsGraphHandle(s_ModelTextureGraphs[2])) {
        s_ModelTextureGraphs[2] = MakeEmptyGraph(256, 8);
    }
    RecreateGrayRampGraph(s_ModelTextureGraphs[2]);
    SetTransparentColorEnabled(keyed);
    return 0;
}

void ReleaseModelSystemTextures(void)
{
    for (EngineHandle &graph : s_ModelTextureGraphs) {
        if (graph != -1) {
            ReleaseGraphHandle(graph, 0);
            graph = -1;
        }
    }
}

// Test hook: the handles of the model system's three textures.
void GetModelSystemTextures(EngineHandle graphs[3])
{
    for (int i = 0; i < 3; i++) {
        graphs[i] = s_ModelTextureGraphs[i];
    }
}
