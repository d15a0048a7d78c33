// What every software blit does before its first pixel: the shared refusals, the draw area kept inside the
// destination, the choice of the leaf from the draw settings, the lookup rows, and the per-leaf call counters the
// tests read. Window thread only.
#include "softrender/blit_rules.h"
#include "softrender/softrender_test_hooks.h"

#include <stdio.h>

bool BlitImagesAcceptable(const MEMIMG *destination, const MEMIMG *source, const MEMIMG *blendImage)
{
    if (destination == NULL || source == NULL || !IsValidMemImg(destination) || !IsValidMemImg(source)) {
        return false;
    }
    const MemImgBlock *target = destination->block;
    if (source->block->kind != target->kind || target->paletteFlag || target->alphaFlag) {
        return false;
    }
    // A blend image is read at source coordinates: it must cover the source.
    return blendImage == NULL || (IsValidMemImg(blendImage) && blendImage->block->format->bytesPerPixel == 1 &&
                                  blendImage->width >= source->width && blendImage->height >= source->height);
}

RECT BlitDrawArea(const MEMIMG *destination)
{
    RECT area = g_MemImgDrawSettings.drawArea;
    RECT whole = {0, 0, destination->width, destination->height};
    ClipRect(&area, &whole);
    return area;
}

static int ClampParameter(int p)
{
    return p < 0 ? 0 : p > 255 ? 255 : p;
}

// A colour key that no pixel of the source's form can hold keys nothing.
static bool KeyCanMatch(const MemImgBlock *source)
{
    if (source->paletteFlag) {
        return source->transparentValue <= 0xFF;
    }
    return source->kind != MEMIMG_KIND_RGB16 || source->transparentValue <= 0xFFFF;
}

static int ChooseForm(const BlitChoice *c, int p)
{
    if (c->blend || c->bright || c->source == BLIT_ALPHA) {
        return BLIT_GENERAL;
    }
    if (c->mode == 1) {
        return p == 128 ? BLIT_HALVE : c->depth == 16 ? BLIT_MIX64 : BLIT_GENERAL;
    }
    if (p == 255 && (c->mode == 2 || (c->mode == 3 && c->depth == 16))) {
        return BLIT_FULL;
    }
    return BLIT_GENERAL;
}

int ChooseBlitLoop(const MemImgBlock *source, int transparent, bool blendImage, bool specialForms, BlitChoice *choice)
{
    const MemImgDrawSettings &settings = g_MemImgDrawSettings;
    unsigned mode = (unsigned)settings.blendMode;
    int p = ClampParameter(settings.blendParameter);
    if (mode > 11 || (mode >= 5 && mode <= 9) || source->kind > MEMIMG_KIND_RGB32) {
        return -1;
    }
    if (mode == 1 && p == 255) {
        mode = 0;
    }
    if ((mode == 1 || mode == 2 || (mode == 3 && !source->paletteFlag)) && p == 0) {
        return -1;
    }
    choice->depth = source->kind == MEMIMG_KIND_RGB32 ? 32 : 16;
    choice->source = source->paletteFlag ? BLIT_PALETTE : source->alphaFlag ? BLIT_ALPHA : BLIT_DIRECT;
    choice->mode = (int)mode;
    choice->blend = blendImage;
    choice->bright = (settings.brightness & 0xFFFFFF) != 0xFFFFFF;
    choice->keyed = transparent != 0 && (choice->source == BLIT_ALPHA || KeyCanMatch(source));
    choice->form = specialForms ? ChooseForm(choice, p) : BLIT_GENERAL;
    return 0;
}

void TakeBlitLookups(BlitLookups *lookups, const MemImgBlock *source, const void *palette)
{
    const MemImgDrawSettings &settings = g_MemImgDrawSettings;
    int p = ClampParameter(settings.blendParameter);
    uint32_t brightness = settings.brightness;
    lookups->diffRow = &g_BlendTables.difference[p][255];
    lookups->productRow = g_BlendTables.product[p];
    lookups->brightRowR = g_BlendTables.product[(brightness >> 16) & 0xFF];
    lookups->brightRowG = g_BlendTables.product[(brightness >> 8) & 0xFF];
    lookups->brightRowB = g_BlendTables.product[brightness & 0xFF];
    lookups->mixLayer = &g_BlendTables.mix[p / 4][0][0];
    lookups->fade = g_BlendTables.fadeRamp;
    lookups->palette = palette;
    lookups->parameter = (uint32_t)p;
    lookups->transparentValue = source->transparentValue;
}

const void *CopyBlitPalette(uint32_t scratch[256], const MemImgBlock *source)
{
    if (!source->paletteFlag) {
        return source->palette;
    }
    memcpy(scratch, source->palette,
           source->kind == MEMIMG_KIND_RGB16 ? 256 * sizeof(uint16_t) : 256 * sizeof(uint32_t));
    return scratch;
}

// ---------------------------------------------------------------------------------------------------------------
// Leaf counters.

#define BLIT_LEAF_CAPACITY 2048

static BlitLeafCount s_Leaves[BLIT_LEAF_CAPACITY];
static char s_LeafNames[BLIT_LEAF_CAPACITY][48];
static int s_LeafCount;
static unsigned s_OverflowCalls; // leaves past the capacity count here

BlitLeafRegistration::BlitLeafRegistration(const char *kind, int depth, int source, int mode, bool blend, bool bright,
                                           bool keyed, int form)
{
    static const char *const sourceNames[] = {"palette", "direct", "alpha"};
    static const char *const formNames[] = {"", " halve", " mix64", " full", ""};
    char name[sizeof s_LeafNames[0]];
    snprintf(name, sizeof name, "%s %d %s m%d%s%s%s%s", kind, depth, sourceNames[source], mode, blend ? " blend" : "",
             bright ? " bright" : "", keyed ? " key" : "", formNames[form]);
    Register(name);
}

BlitLeafRegistration::BlitLeafRegistration(const char *kind, int depth, int mode, char variant)
{
    char name[sizeof s_LeafNames[0]];
    snprintf(name, sizeof name, variant ? "%s %d m%d %c" : "%s %d m%d", kind, depth, mode, variant);
    Register(name);
}

void BlitLeafRegistration::Register(const char *name)
{
    if (s_LeafCount == BLIT_LEAF_CAPACITY) {
        calls = &s_OverflowCalls;
        return;
    }
    snprintf(s_LeafNames[s_LeafCount], sizeof s_LeafNames[0], "%s", name);
    s_Leaves[s_LeafCount].name = s_LeafNames[s_LeafCount];
    calls = &s_Leaves[s_LeafCount].calls;
    s_LeafCount++;
}

int GetBlitLeafCounts(const BlitLeafCount **leaves)
{
    *leaves = s_Leaves;
    return s_LeafCount;
}

void ResetBlitLeafCounts(void)
{
    for (int i = 0; i < s_LeafCount; i++) {
        s_Leaves[i].calls = 0;
    }
}
