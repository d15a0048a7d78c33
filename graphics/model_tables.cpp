// Model and model-base tables: the model system's start (with the engine's sine table) and end, deletion of a model
// and of its base, the release of their device buffers on device loss and their rebuild, and the model textures made
// again afterwards. Nothing in the engine creates a model yet, so the tables stay empty; the paths are what the end
// and the rebuild walk. Window thread only.
#include "graphics/model_tables.h"

#include <math.h>

float g_SineTable[SINE_TABLE_SIZE];
float g_ModelAngleLimit;

// A growable array of record pointers (null until used) with its live count and used end.
struct ModelSlotArray {
    void **slots;
    int capacity;
    int count;
    int usedEnd;
};

static int s_ModelSystemStarted;
static ModelSlotArray s_ModelBases, s_Models;
static ModelSlotArray s_ModelWorkArrays[2]; // the model system's two further arrays, freed at its end
// The built-in pictures' graphs (8 x 8, 256 x 8) and the grey ramp's; -1 until the model work makes them.
static EngineHandle s_ModelTextureGraphs[3] = {-1, -1, -1};

static void FillSineTable(void)
{
    const float pi = 3.14159265358979f;
    for (int i = 0; i < SINE_TABLE_SIZE; i++) {
        float angle = (float)i * pi;
        angle += angle;
        g_SineTable[i] = sinf(angle * (1.0f / SINE_TABLE_SIZE));
    }
}

int InitModelSystem(void)
{
    if (s_ModelSystemStarted || !IsDeviceMode()) {
        return 0;
    }
    FillSineTable();
    g_ModelAngleLimit = 1.5620697f;
    MemFill(&s_ModelBases, 0, sizeof(s_ModelBases));
    MemFill(&s_Models, 0, sizeof(s_Models));
    MemFill(s_ModelWorkArrays, 0, sizeof(s_ModelWorkArrays));
    s_ModelSystemStarted = 1;
    return 0;
}

static void FreeSlotArray(ModelSlotArray *array)
{
    FreeMemory(array->slots);
    MemFill(array, 0, sizeof(*array));
}

static EngineHandle ModelHandleOfSlot(int slot)
{
    const ModelRecord *model = (const ModelRecord *)s_Models.slots[slot];
    int checkNumber = model == MODEL_PLACEHOLDER ? 0 : model->checkNumber;
    return MakeEngineHandle(HANDLE_TYPE_MODEL, checkNumber, slot);
}

int TerminateModelSystem(void)
{
    if (!s_ModelSystemStarted) {
        return 0;
    }
    for (int slot = 0; slot < s_Models.usedEnd; slot++) {
        if (s_Models.slots[slot] != NULL) {
            DeleteModel(ModelHandleOfSlot(slot));
        }
    }
    for (int slot = 0; slot < s_ModelBases.usedEnd; slot++) {
        if (s_ModelBases.slots[slot] != NULL) {
            DeleteModelBase(HANDLE_TYPE_GRAPH | slot);
        }
    }
    FreeSlotArray(&s_ModelBases);
    FreeSlotArray(&s_Models);
    FreeSlotArray(&s_ModelWorkArrays[0]);
    FreeSlotArray(&s_ModelWorkArrays[1]);
    s_ModelSystemStarted = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Lookup. Every slot is checked against the used end before the array (null until used) is read.

static void *SlotOf(const ModelSlotArray *array, int slot)
{
    return slot >= 0 && slot < array->usedEnd && array->slots != NULL ? array->slots[slot] : NULL;
}

static void ClearSlot(ModelSlotArray *array, int slot)
{
    array->slots[slot] = NULL;
    array->count--;
}

static ModelBaseRecord *GetModelBase(EngineHandle handle)
{
    if (handle < 0 || (handle & HANDLE_TYPE_BITS) != HANDLE_TYPE_GRAPH) {
        return NULL;
    }
    return (ModelBaseRecord *)SlotOf(&s_ModelBases, handle & MODEL_BASE_SLOT_MASK);
}

// A model handle's slot holds a record with its check number, or the placeholder (whose check number is 0).
static void *GetModelSlot(EngineHandle handle)
{
    if (handle < 0 || (handle & HANDLE_TYPE_BITS) != HANDLE_TYPE_MODEL) {
        return NULL;
    }
    void *slot = SlotOf(&s_Models, handle & HANDLE_INDEX_MASK);
    int checkNumber = (handle & HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT;
    if (slot == NULL || (slot == MODEL_PLACEHOLDER ? 0 : ((ModelRecord *)slot)->checkNumber) != checkNumber) {
        return NULL;
    }
    return slot;
}

// ---------------------------------------------------------------------------------------------------------------
// Device buffers.

template <class Object> static void ReleaseComObject(Object **object)
{
    if (*object != NULL) {
        (*object)->Release();
        *object = NULL;
    }
}

static void ReleaseBufferList(ModelBufferPair **list)
{
    while (*list != NULL) {
        ModelBufferPair *pair = *list;
        *list = pair->next;
        ReleaseComObject(&pair->vertexBuffer);
        ReleaseComObject(&pair->indexBuffer);
        FreeMemory(pair);
    }
}

static void ReleaseInstanceBuffers(ModelRecord *model)
{
    for (int i = 0; i < model->instanceBufferCount; i++) {
        ReleaseComObject(&model->instanceBuffers[i].vertexBuffer);
    }
}

int ReleaseModelDeviceBuffers(EngineHandle handle)
{
    void *slot = GetModelSlot(handle);
    if (slot == NULL || slot == MODEL_PLACEHOLDER) {
        return -1;
    }
    ReleaseInstanceBuffers((ModelRecord *)slot);
    return 0;
}

static void ReleaseBaseBuffers(ModelBaseRecord *base)
{
    if (base->buffersPresent) {
        ModelBufferPair **lists = &base->bufferLists[0][0][0];
        for (int i = 0; i < MODEL_BUFFER_SKIN_KINDS * MODEL_BUFFER_MATERIAL_KINDS * MODEL_BUFFER_VERTEX_KINDS; i++) {
            ReleaseBufferList(&lists[i]);
        }
        base->buffersPresent = 0;
    }
    for (ModelRecord *model = base->firstModel; model != NULL; model = model->next) {
        ReleaseInstanceBuffers(model);
    }
}

int ReleaseModelBaseDeviceBuffers(EngineHandle handle)
{
    ModelBaseRecord *base = GetModelBase(handle);
    if (base == NULL || base == MODEL_PLACEHOLDER) {
        return -1;
    }
    ReleaseBaseBuffers(base);
    return 0;
}

// Models are released through their bases; a base releases the instance buffers of every model made from it.
int ReleaseAllModelDeviceObjects(void)
{
    for (int slot = 0; slot < s_ModelBases.usedEnd; slot++) {
        ModelBaseRecord *base = (ModelBaseRecord *)s_ModelBases.slots[slot];
        if (base != NULL && base != MODEL_PLACEHOLDER) {
            ReleaseBaseBuffers(base);
        }
    }
    return 0;
}

// Bases carry no meshes yet, so a base whose buffers are gone has nothing to put into its lists: it is marked
// present again with every list empty.
int RestoreModelBaseBuffers(EngineHandle handle, int restore)
{
    if (!IsDeviceMode() || g_StateCache.device == NULL) {
        return 0;
    }
    ModelBaseRecord *base = GetModelBase(handle);
    if (base == NULL) {
        return -1;
    }
    if (base != MODEL_PLACEHOLDER) {
        base->buffersPresent = 1;
    }
    return 0;
}

int RestoreAllModelBuffers(void)
{
    for (int slot = 0; slot < s_ModelBases.usedEnd; slot++) {
        if (s_ModelBases.slots[slot] != NULL) {
            RestoreModelBaseBuffers(HANDLE_TYPE_GRAPH | slot, 1);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Deletion.

static void FreeModelBase(ModelBaseRecord *base)
{
    ReleaseBaseBuffers(base);
    FreeMemory(base->vertexData);
    for (int i = 0; i < base->materialCount; i++) {
        FreeMemory(base->materials[i].sourceData);
        if (base->materials[i].textureGraph >= 0) {
            ReleaseGraphHandle(base->materials[i].textureGraph, 0);
        }
    }
    FreeMemory(base->materials);
    FreeMemory(base);
}

int DeleteModelBase(EngineHandle handle)
{
    ModelBaseRecord *base = GetModelBase(handle);
    if (base == NULL) {
        return -1;
    }
    int slot = handle & MODEL_BASE_SLOT_MASK;
    if (base != MODEL_PLACEHOLDER) {
        if (--base->referenceCount > 0) {
            return 0;
        }
        FreeModelBase(base);
    }
    ClearSlot(&s_ModelBases, slot);
    return 0;
}

static void UnlinkModel(ModelRecord *model)
{
    ModelBaseRecord *base = model->base;
    if (model->previous != NULL) {
        model->previous->next = model->next;
    } else {
        base->firstModel = model->next;
    }
    if (model->next != NULL) {
        model->next->previous = model->previous;
    } else {
        base->lastModel = model->previous;
    }
    base->modelCount--;
}

static void FreePhysics(ModelRecord *model)
{
    if (model->physics == NULL) {
        return;
    }
    TeardownModelPhysics(model);
    FreeMemory(model->physics->bodies);
    FreeMemory(model->physics->joints);
    FreeMemory(model->physics);
    model->physics = NULL;
}

int DeleteModel(EngineHandle handle)
{
    void *slot = GetModelSlot(handle);
    if (slot == NULL) {
        return -1;
    }
    if (slot != MODEL_PLACEHOLDER) {
        ModelRecord *model = (ModelRecord *)slot;
        ReleaseInstanceBuffers(model);
        FreeMemory(model->instanceBuffers);
        FreePhysics(model);
        UnlinkModel(model);
        DeleteModelBase(model->baseHandle);
        FreeMemory(model);
    }
    ClearSlot(&s_Models, handle & HANDLE_INDEX_MASK);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Model textures after device loss. Graphs never made fail quietly; no material exists to rebuild.

int RestoreModelTextures(void)
{
    int keyed = GetTransparentColorEnabled();
    SetTransparentColorEnabled(0);
    for (int i = 0; i < 2; i++) {
        int size;
        const unsigned char *picture = GetBuiltinModelPicture(i, &size);
        if (IsGraphHandle(s_ModelTextureGraphs[i])) {
            RecreateGraphFromMemImage(picture, size, s_ModelTextureGraphs[i], NULL, 0, 0, 0);
        }
    }
    if (IsGraphHandle(s_ModelTextureGraphs[2])) {
        RecreateGrayRampGraph(s_ModelTextureGraphs[2]);
    }
    SetTransparentColorEnabled(keyed);
    return 0;
}

// Test hook: the graphs the model textures are made again into.
int SetModelTextureGraphs(EngineHandle white, EngineHandle toonRamp, EngineHandle grayRamp)
{
    s_ModelTextureGraphs[0] = white;
    s_ModelTextureGraphs[1] = toonRamp;
    s_ModelTextureGraphs[2] = grayRamp;
    return 0;
}

// Test hook: a model-base slot array holding `usedEnd` empty slots with the placeholder in `placeholderSlot`
// (-1: none), or no array at all for a used end of 0.
int SetTestModelBaseSlots(int usedEnd, int placeholderSlot)
{
    FreeSlotArray(&s_ModelBases);
    if (usedEnd == 0) {
        return 0;
    }
    s_ModelBases.slots = (void **)ENGINE_ALLOC_ZEROED(sizeof(void *) * usedEnd);
    s_ModelBases.capacity = usedEnd;
    s_ModelBases.usedEnd = usedEnd;
    if (placeholderSlot >= 0) {
        s_ModelBases.slots[placeholderSlot] = MODEL_PLACEHOLDER;
        s_ModelBases.count = 1;
    }
    return 0;
}
