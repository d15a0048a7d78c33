// Soft-image table: base images held under engine handles for pixel work on the CPU. Only the delete paths exist:
// nothing creates a soft image, and engine end deletes whatever is left. Window thread only.
#include "image/soft_image_table_internal.h"

#include <string.h>

struct SoftImageRecord {
    HandleRecordHeader header;
    BaseImage image;
};

static SoftImageRecord *g_SoftImages[SOFT_IMAGE_SLOT_COUNT];
static int g_SoftImageCount;
static int g_SoftImageUsedEnd; // one past the highest slot in use
static int g_SoftImageCheckCounter;

EngineHandle AddSoftImage(BaseImage *image)
{
    int slot = 0;
    while (slot < SOFT_IMAGE_SLOT_COUNT && g_SoftImages[slot] != NULL) {
        slot++;
    }
    if (slot == SOFT_IMAGE_SLOT_COUNT) {
        return AddLog("ソフトイメージハンドルの数が限界に達しました\n");
    }
    SoftImageRecord *record = (SoftImageRecord *)ENGINE_ALLOC_ZEROED(sizeof(SoftImageRecord));
    if (record == NULL) {
        return -1;
    }
    record->image = *image;
    memset(image, 0, sizeof(*image));
    record->header.checkNumber = g_SoftImageCheckCounter;
    record->header.handle = MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, g_SoftImageCheckCounter, slot);
    g_SoftImageCheckCounter = (g_SoftImageCheckCounter + 1) % HANDLE_CHECK_LIMIT;
    g_SoftImages[slot] = record;
    g_SoftImageCount++;
    if (slot >= g_SoftImageUsedEnd) {
        g_SoftImageUsedEnd = slot + 1;
    }
    return record->header.handle;
}

int DeleteSoftImage(EngineHandle handle)
{
    SoftImageRecord *record = (SoftImageRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_SOFT_IMAGE,
                                                                       (void *const *)g_SoftImages,
                                                                       SOFT_IMAGE_SLOT_COUNT);
    if (record == NULL) {
        return -1;
    }
    int slot = handle & HANDLE_INDEX_MASK;
    FreeBaseImageData(&record->image);
    g_SoftImageCount--;
    g_SoftImages[slot] = NULL;
    if (slot == g_SoftImageUsedEnd - 1) {
        while (g_SoftImageUsedEnd > 0 && g_SoftImages[g_SoftImageUsedEnd - 1] == NULL) {
            g_SoftImageUsedEnd--;
        }
    }
    if (g_SoftImageCount == 0) {
        g_SoftImageUsedEnd = 0;
    }
    FreeMemory(record);
    return 0;
}

int DeleteAllSoftImages(void)
{
    for (int slot = 0; slot < g_SoftImageUsedEnd; slot++) {
        if (g_SoftImages[slot] != NULL) {
            DeleteSoftImage(g_SoftImages[slot]->header.handle);
        }
    }
    return 0;
}

int ResetSoftImages(void)
{
    return DeleteAllSoftImages();
}
