// The settings graph creation reads (colour depth, transparent colour and the flags beside them) and the choice
// of one of the sixteen graph pixel formats from a format descriptor. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

static GraphCreateSettings DefaultGraphCreateSettings(void)
{
    GraphCreateSettings settings;
    memset(&settings, 0, sizeof(settings));
    settings.oneBitAlpha = 1;
    return settings;
}

GraphCreateSettings g_GraphCreateSettings = DefaultGraphCreateSettings();

int ResetGraphCreateSettings(void)
{
    g_GraphCreateSettings = DefaultGraphCreateSettings();
    return 0;
}

int SetGraphColorBits(int bits)
{
    g_GraphCreateSettings.colorBits = bits;
    return 0;
}

int GetGraphColorBits(void)
{
    return g_GraphCreateSettings.colorBits;
}

int SetGraphCreateFlagA(int flag)
{
    g_GraphCreateSettings.oneBitAlpha = flag;
    return 0;
}

int GetGraphCreateFlagA(void)
{
    return g_GraphCreateSettings.oneBitAlpha;
}

int SetTransparentColorEnabled(int enable)
{
    g_GraphCreateSettings.transparentColorDisabled = !enable;
    return 0;
}

int GetTransparentColorEnabled(void)
{
    return !g_GraphCreateSettings.transparentColorDisabled;
}

int SetEmptyGraphAlphaFlag(int flag)
{
    g_GraphCreateSettings.emptyGraphAlpha = flag;
    return 0;
}

int GetEmptyGraphAlphaFlag(void)
{
    return g_GraphCreateSettings.emptyGraphAlpha;
}

int SetGraphTransparentColor(int red, int green, int blue)
{
    if (GetScreenColorBits() == 8) {
        return 0;
    }
    g_GraphCreateSettings.transparentColor =
        (uint32_t)(red & 0xFF) << 16 | (uint32_t)(green & 0xFF) << 8 | (uint32_t)(blue & 0xFF);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Format choice.

int GraphFormatToIndex(const GraphFormatDesc *desc)
{
    static const int kindIndexes[] = {GRAPH_FORMAT_DXT1,           GRAPH_FORMAT_DXT2, GRAPH_FORMAT_DXT3,
                                      GRAPH_FORMAT_DXT4,           GRAPH_FORMAT_DXT5, GRAPH_FORMAT_TARGET_FLOAT_16,
                                      GRAPH_FORMAT_TARGET_FLOAT_32};
    if (desc->kind > PIXEL_FORMAT_FLOAT32X4) {
        return GRAPH_FORMAT_COUNT; // no such kind: no format
    }
    if (desc->kind != PIXEL_FORMAT_PACKED) {
        return kindIndexes[desc->kind - 1];
    }
    int wide = desc->colorBits != 16;
    if (desc->renderTarget) {
        return desc->alpha == 1 || desc->oneBitAlpha == 1 ? GRAPH_FORMAT_TARGET_ALPHA_32
                                                          : GRAPH_FORMAT_TARGET_16 + wide;
    }
    if (desc->alpha) {
        return GRAPH_FORMAT_ALPHA_16 + wide;
    }
    return (desc->oneBitAlpha ? GRAPH_FORMAT_ALPHA_TEST_16 : GRAPH_FORMAT_16) + wide;
}

const PixelFormat *GetGraphFormat(const GraphFormatDesc *desc)
{
    return GetGraphFormatPixelFormat(GraphFormatToIndex(desc));
}

const PixelFormat *GetGraphFormatIndex(int alpha, int oneBitAlpha, int bits32, int renderTarget)
{
    GraphFormatDesc desc;
    memset(&desc, 0, sizeof(desc));
    desc.alpha = (uint8_t)alpha;
    desc.oneBitAlpha = (uint8_t)oneBitAlpha;
    desc.renderTarget = (uint8_t)renderTarget;
    desc.colorBits = bits32 ? 32 : 16;
    return GetGraphFormat(&desc);
}
