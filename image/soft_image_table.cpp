// Soft-image table: base images held under engine handles for pixel work on the CPU. Only the delete paths serve:
// nothing in the program creates a soft image (tests add theirs through the test hooks), and engine end deletes
// whatever is left. Window thread only.
#include "image/image_test_hooks.h"

#include <string.h>

struct SoftImageRecord {
    HandleRecordHeader header;
    BaseImage image;
};

static SoftImageRecord *s_SoftImages[SOFT_IMAGE_SLOT_COUNT];
static int s_SoftImageCount;
static int s_SoftImageUsedEnd; // one past the highest slot in use
static int s_SoftImageCheckCounter;

EngineHandle AddSoftImage(BaseImage *image)
{
    int slot = 0;
    while (slot < SOFT_IMAGE_SLOT_COUNT && s_SoftImages[slot] != NULL) {
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
    record->header.checkNumber = s_SoftImageCheckCounter;
    record->header.handle = MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, s_SoftImageCheckCounter, slot);
    s_SoftImageCheckCounter = (s_SoftImageCheckCounter + 1) % HANDLE_CHECK_LIMIT;
    s_SoftImages[slot] = record;
    s_SoftImageCount++;
    if (slot >= s_SoftImageUsedEnd) {
        s_SoftImageUsedEnd = slot + 1;
    }
    return record->header.handle;
}

int DeleteSoftImage(EngineHandle handle)
{
    SoftImageRecord *record = (SoftImageRecord *)ValidateEngineHandle(
        handle, HANDLE_TYPE_SOFT_IMAGE, (void *const *)s_SoftImages, SOFT_IMAGE_SLOT_COUNT);
    if (record == NULL) {
        return -1;
    }
    int slot = handle & HANDLE_INDEX_MASK;
    FreeBaseImageData(&record->image);
    s_SoftImageCount--;
    s_SoftImages[slot] = NULL;
    if (slot == s_SoftImageUsedEnd - 1) {
        while (s_SoftImageUsedEnd > 0 && s_SoftImages[s_SoftImageUsedEnd - 1] == NULL) {
            s_SoftImageUsedEnd--;
        }
    }
    if (s_SoftImageCount == 0) {
        s_SoftImageUsedEnd = 0;
    }
    FreeMemory(record);
    return 0;
}

int DeleteAllSoftImages(void)
{
    for (int slot = 0; slot < s_SoftImageUsedEnd; slot++) {
        if (s_SoftImages[slot] != NULL) {
            DeleteSoftImage(s_SoftImages[slot]->header.handle);
        }
    }
    return 0;
}

int ResetSoftImages(void)
{
    return DeleteAllSoftImages();
}
