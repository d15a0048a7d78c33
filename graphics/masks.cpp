// The mask screen and mask handles. While the mask is in use, drawing goes to a screen-sized copy (a software
// image, or on the device a render-target texture, see d3d_masks.cpp); each bracketed draw first copies the real
// target's rectangle into the copy and afterwards writes the copy back only where the mask buffer lets it through
// (byte 0, or non-zero with the reverse flag). The mask table holds per-mask data behind checked handles.
// Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

#define MASK_HANDLE_TAG 0x28000000
#define MASK_SLOT_COUNT 512

struct MaskRecord {
    HandleRecordHeader header;
    void *data; // owned
};

struct MaskScreen {
    unsigned char *buffer; // one byte a screen pixel; 0 lets drawing through
    int pitch, width, height;
    int created, use, reverse, nesting;
    MEMIMG copy; // what drawing reaches while the mask is in use
};

static MaskRecord *s_Masks[MASK_SLOT_COUNT];
static int s_MaskCheckNumber;
static MaskScreen s_Screen;

// The image the draw target really is: a drawable graph's view, else the screen.
static MEMIMG *RealSoftwareTarget(void)
{
    GraphRecord *graph = GetDrawableGraph(g_DrawState.drawTarget);
    return graph != NULL ? &graph->view : GetSoftwareScreen();
}

static int CreateMaskBuffer(void)
{
    GetScreenSize(&s_Screen.width, &s_Screen.height);
    s_Screen.pitch = (s_Screen.width + 3) & ~3;
    s_Screen.buffer = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)s_Screen.pitch * s_Screen.height);
    return s_Screen.buffer != NULL ? 0 : -1;
}

int CreateMaskScreen(int flag)
{
    if (flag == 0) {
        return 0;
    }
    if (s_Screen.buffer == NULL && CreateMaskBuffer() != 0) {
        return -1;
    }
    if (IsDeviceMode()) {
        if (CreateMaskDeviceObjects(s_Screen.width, s_Screen.height) != 0) {
            return -1;
        }
    } else if (!IsValidMemImg(&s_Screen.copy) && CreateMemImgDefault(&s_Screen.copy, s_Screen.width, s_Screen.height,
                                                                     GetSoftwareScreen()->block->kind) != 0) {
        FatalErrorExit("マスク用 MEMIMG の作成に失敗しました");
        return -1;
    }
    s_Screen.created = 1;
    return 0;
}

// Drawing in use goes back to the real target (the copy goes now); the use flag stays for a restore.
int ReleaseMaskScreen(void)
{
    if (g_DrawState.maskInUse) {
        g_DrawState.maskInUse = 0;
        if (IsDeviceMode()) {
            SetDrawTarget(g_DrawState.drawTarget);
        } else {
            g_DrawState.softwareTarget = RealSoftwareTarget();
            SyncSoftwareDrawSettings();
        }
    }
    ReleaseMaskSurfaces();
    FreeMemory(s_Screen.buffer);
    s_Screen.buffer = NULL;
    if (IsValidMemImg(&s_Screen.copy)) {
        ReleaseMemImg(&s_Screen.copy);
    }
    memset(&s_Screen.copy, 0, sizeof(s_Screen.copy));
    return 0;
}

int IsMaskScreenInUse(void)
{
    return s_Screen.use;
}

unsigned char *GetMaskBuffer(int *pitch)
{
    *pitch = s_Screen.pitch;
    return s_Screen.buffer;
}

int SetMaskScreenInUse(int flag)
{
    if (s_Screen.buffer == NULL) {
        return -1;
    }
    s_Screen.use = flag;
    g_DrawState.maskInUse = flag && s_Screen.created;
    if (IsDeviceMode()) {
        // Leaving the mask selects the draw target again, surfaces and area, as it was.
        return g_DrawState.maskInUse ? SelectMaskDeviceTarget() : SetDrawTarget(g_DrawState.drawTarget);
    }
    g_DrawState.softwareTarget = g_DrawState.maskInUse ? &s_Screen.copy : RealSoftwareTarget();
    SyncSoftwareDrawSettings();
    return 0;
}

// The rectangle inside the draw area and the screen (the buffer and the copy are screen-sized, a graph target
// need not be); 0 when nothing is left.
static int ClipToMaskArea(RECT *rect)
{
    RECT screen = {0, 0, s_Screen.width, s_Screen.height};
    ClipRect(rect, &g_DrawState.drawArea);
    ClipRect(rect, &screen);
    return rect->right > rect->left && rect->bottom > rect->top;
}

static int BytesPerPixel(const MEMIMG *image)
{
    return image->block->format->bytesPerPixel;
}

static bool CopyMatchesTarget(const MEMIMG *target)
{
    return target != NULL && IsValidMemImg(target) && BytesPerPixel(target) == BytesPerPixel(&s_Screen.copy);
}

int MaskDrawBegin(const RECT *rect)
{
    if (++s_Screen.nesting != 1 || !g_DrawState.maskInUse) {
        return 0;
    }
    RECT area = *rect;
    if (!ClipToMaskArea(&area)) {
        return 0;
    }
    if (IsDeviceMode()) {
        return CopyTargetToMaskScreen(&area);
    }
    const MEMIMG *target = RealSoftwareTarget();
    if (!CopyMatchesTarget(target)) {
        return 0;
    }
    const int bytes = BytesPerPixel(target), rowBytes = (area.right - area.left) * bytes;
    for (int y = area.top; y < area.bottom; y++) {
        memcpy(s_Screen.copy.pixels + y * s_Screen.copy.block->pitch + area.left * bytes,
               target->pixels + y * target->block->pitch + area.left * bytes, rowBytes);
    }
    InvalidateMemImgDerivedData(&s_Screen.copy);
    return 0;
}

int MaskDrawEnd(const RECT *rect)
{
    if (s_Screen.nesting == 0 || --s_Screen.nesting != 0 || !g_DrawState.maskInUse) {
        return 0;
    }
    RECT area = *rect;
    if (!ClipToMaskArea(&area)) {
        return 0;
    }
    if (IsDeviceMode()) {
        return WriteBackMaskScreen(&area, s_Screen.buffer, s_Screen.pitch, s_Screen.reverse);
    }
    MEMIMG *target = RealSoftwareTarget();
    if (!CopyMatchesTarget(target)) {
        return 0;
    }
    const int bytes = BytesPerPixel(target);
    for (int y = area.top; y < area.bottom; y++) {
        const unsigned char *mask = s_Screen.buffer + y * s_Screen.pitch;
        const unsigned char *from = s_Screen.copy.pixels + y * s_Screen.copy.block->pitch;
        unsigned char *to = target->pixels + y * target->block->pitch;
        for (int x = area.left; x < area.right; x++) {
            if ((mask[x] == 0) != (s_Screen.reverse != 0)) {
                memcpy(to + x * bytes, from + x * bytes, bytes);
            }
        }
    }
    InvalidateMemImgDerivedData(target);
    return 0;
}

int RestoreMaskScreen(void)
{
    CreateMaskScreen(s_Screen.created);
    if (s_Screen.use) {
        SetMaskScreenInUse(1);
    }
    return 0;
}

// Graphics end: the mask switched off, everything released.
int DeleteMaskScreen(void)
{
    if (g_DrawState.maskInUse) {
        SetMaskScreenInUse(0);
    }
    ReleaseMaskScreen();
    s_Screen.created = 0;
    s_Screen.use = 0;
    s_Screen.nesting = 0;
    g_DrawState.maskInUse = 0;
    return 0;
}

// Nothing is pending between draws: every bracket writes back at its own end.
int CloseMaskPass(void)
{
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Mask handles.

EngineHandle CreateMaskHandle(void *data)
{
    for (int slot = 0; slot < MASK_SLOT_COUNT; slot++) {
        if (s_Masks[slot] != NULL) {
            continue;
        }
        MaskRecord *record = (MaskRecord *)ENGINE_ALLOC(sizeof(MaskRecord));
        if (record == NULL) {
            return -1;
        }
        s_MaskCheckNumber = (s_MaskCheckNumber + 1) % HANDLE_CHECK_LIMIT;
        record->header.checkNumber = s_MaskCheckNumber;
        record->header.handle = MakeEngineHandle(MASK_HANDLE_TAG, s_MaskCheckNumber, slot);
        record->data = data;
        s_Masks[slot] = record;
        return record->header.handle;
    }
    return -1;
}

int DeleteMask(EngineHandle handle)
{
    MaskRecord *record =
        (MaskRecord *)ValidateEngineHandle(handle, MASK_HANDLE_TAG, (void *const *)s_Masks, MASK_SLOT_COUNT);
    if (record == NULL) {
        return -1;
    }
    s_Masks[handle & HANDLE_INDEX_MASK] = NULL;
    FreeMemory(record->data);
    FreeMemory(record);
    return 0;
}

int DeleteAllMasks(void)
{
    for (int slot = 0; slot < MASK_SLOT_COUNT; slot++) {
        if (s_Masks[slot] != NULL) {
            DeleteMask(s_Masks[slot]->header.handle);
        }
    }
    return 0;
}
