// Model and model-base tables: the model system's start (with the engine's sine table and the model textures) and
// end, the handle look-ups, deletion of a model and of its base with everything they own, and the walks of the
// device-loss release and rebuild. Nothing in the engine creates a model yet: records come from the test-support
// calls at the end, made as a loader would make them. Window thread only.
#include "graphics/graphics_test_hooks.h"

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

static void FillSineTable(void)
{
    const float pi = 3.14159265358979f;
    for (int i = 0; i < SINE_TABLE_SIZE; i++) {
        float angle = (float)i * pi;
        angle += angle;
        g_SineTable[i] = sinf(angle * (1.0f / SINE_TABLE_SIZE));
    }
}

// The model textures are made here, once, after the tables are set up: nothing else would make them before the
// first rebuild after device loss re-creates them into their handles.
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
    MakeModelSystemTextures();
    return 0;
}

static void FreeSlotArray(ModelSlotArray *array)
{
    FreeMemory(array->slots);
    MemFill(array, 0, sizeof(*array));
}

int TerminateModelSystem(void)
{
    if (!s_ModelSystemStarted) {
        return 0;
    }
    for (int slot = 0; slot < s_Models.usedEnd; slot++) {
        if (s_Models.slots[slot] != NULL) {
            DeleteModel(GetModelHandleOfSlot(slot));
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
    ReleaseModelSystemTextures();
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

int GetModelBaseUsedEnd(void)
{
    return s_ModelBases.usedEnd;
}

int GetModelUsedEnd(void)
{
    return s_Models.usedEnd;
}

ModelBaseRecord *GetModelBase(EngineHandle handle)
{
    if (handle < 0 || (handle & HANDLE_TYPE_BITS) != HANDLE_TYPE_GRAPH) {
        return NULL;
    }
    return (ModelBaseRecord *)SlotOf(&s_ModelBases, handle & MODEL_BASE_SLOT_MASK);
}

EngineHandle GetModelHandleOfSlot(int slot)
{
    const ModelRecord *model = (const ModelRecord *)s_Models.slots[slot];
    int checkNumber = model == MODEL_PLACEHOLDER ? 0 : model->checkNumber;
    return MakeEngineHandle(HANDLE_TYPE_MODEL, checkNumber, slot);
}

ModelRecord *GetModelOfSlot(int slot)
{
    void *record = SlotOf(&s_Models, slot);
    return record != MODEL_PLACEHOLDER ? (ModelRecord *)record : NULL;
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

ModelRecord *GetModel(EngineHandle handle)
{
    void *slot = GetModelSlot(handle);
    return slot != MODEL_PLACEHOLDER ? (ModelRecord *)slot : NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// Device buffer walks.

int ReleaseModelDeviceBuffers(EngineHandle handle)
{
    ModelRecord *model = GetModel(handle);
    if (model == NULL) {
        return -1;
    }
    ReleaseModelInstanceBuffers(model);
    return 0;
}

int ReleaseModelBaseDeviceBuffers(EngineHandle handle)
{
    ModelBaseRecord *base = GetModelBase(handle);
    if (base == NULL || base == MODEL_PLACEHOLDER) {
        return -1;
    }
    ReleaseModelBaseBuffers(base);
    return 0;
}

// Models are released through their bases; a base releases the instance buffers of every model made from it.
int ReleaseAllModelDeviceObjects(void)
{
    for (int slot = 0; slot < s_ModelBases.usedEnd; slot++) {
        ModelBaseRecord *base = (ModelBaseRecord *)s_ModelBases.slots[slot];
        if (base != NULL && base != MODEL_PLACEHOLDER) {
            ReleaseModelBaseBuffers(base);
        }
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

// The built-in pictures and the grey ramp come back first (with keying off, as they were made); then every
// material's texture and every model's own textures, with the setting as the program left it.
int RestoreModelTextures(void)
{
    MakeModelSystemTextures();
    for (int slot = 0; slot < s_ModelBases.usedEnd; slot++) {
        ModelBaseRecord *base = (ModelBaseRecord *)s_ModelBases.slots[slot];
        for (int i = 0; base != NULL && base != MODEL_PLACEHOLDER && i < base->materialCount; i++) {
            RebuildModelTexture(&base->materials[i].texture);
        }
    }
    for (int slot = 0; slot < s_Models.usedEnd; slot++) {
        ModelRecord *model = GetModelOfSlot(slot);
        for (int i = 0; model != NULL && i < model->instanceTextureCount; i++) {
            if (model->instanceTextures[i].inUse) {
                RebuildModelTexture(&model->instanceTextures[i].texture);
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Deletion.

static void FreeAttachedList(ModelAttachedItem **list)
{
    while (*list != NULL) {
        ModelAttachedItem *item = *list;
        *list = item->next;
        FreeMemory(item);
    }
}

static void FreeModelBase(ModelBaseRecord *base)
{
    ReleaseModelBaseBuffers(base);
    FreeMemory(base->vertices);
    FreeMemory(base->indices);
    for (int i = 0; i < base->frameCount; i++) {
        FreeMemory(base->frames[i].workBuffer);
        base->frames[i].workBuffer = NULL;
    }
    for (int i = 0; i < base->meshCount; i++) {
        FreeMemory(base->meshes[i].workBuffer);
        base->meshes[i].workBuffer = NULL;
    }
    for (int i = 0; i < base->materialCount; i++) {
        FreeModelTextureSource(&base->materials[i].texture);
        FreeMemory(base->materials[i].parameters);
    }
    FreeMemory(base->materials);
    FreeMemory(base->frames);
    FreeMemory(base->meshes);
    FreeMemory(base->bones);
    FreeAttachedList(&base->attached);
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
    if (!model->base->hasPhysics || model->physics == NULL) {
        return;
    }
    TeardownModelPhysics(model);
    FreeMemory(model->physics->bodies);
    FreeMemory(model->physics->joints);
    FreeMemory(model->physics);
    model->physics = NULL;
}

static void FreeModelRecord(ModelRecord *model)
{
    ModelBaseRecord *base = model->base;
    for (int i = 0; model->frameStates != NULL && i < base->frameCount; i++) {
        FreeMemory(model->frameStates[i]);
    }
    FreeMemory(model->frameStates);
    ReleaseModelInstanceBuffers(model);
    for (void *buffer : model->workBuffers) {
        FreeMemory(buffer);
    }
    for (int i = 0; model->materials != NULL && i < base->materialCount; i++) {
        FreeMemory(model->materials[i].buffers[0]);
        FreeMemory(model->materials[i].buffers[1]);
        FreeAttachedList(&model->materials[i].attached);
    }
    FreeMemory(model->materials);
    FreeAttachedList(&model->attached);
    FreePhysics(model);
    for (int i = 0; i < model->instanceTextureCount; i++) {
        if (model->instanceTextures[i].inUse) {
            FreeModelTextureSource(&model->instanceTextures[i].texture);
        }
    }
    FreeMemory(model->instanceTextures);
    UnlinkModel(model);
    DeleteModelBase(model->baseHandle);
    FreeMemory(model);
}

int DeleteModel(EngineHandle handle)
{
    void *slot = GetModelSlot(handle);
    if (slot == NULL) {
        return -1;
    }
    if (slot != MODEL_PLACEHOLDER) {
        FreeModelRecord((ModelRecord *)slot);
    }
    ClearSlot(&s_Models, handle & HANDLE_INDEX_MASK);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Test support: records made as a loader would make them.

static int AddSlot(ModelSlotArray *array, void *record)
{
    int slot = 0;
    while (slot < array->usedEnd && array->slots[slot] != NULL) {
        slot++;
    }
    if (slot == array->capacity) {
        int capacity = array->capacity == 0 ? 16 : array->capacity * 2;
        void **slots = (void **)ENGINE_ALLOC_ZEROED(sizeof(void *) * capacity);
        if (slots == NULL) {
            return -1;
        }
        if (array->slots != NULL) {
            MemCopy(slots, array->slots, sizeof(void *) * array->capacity);
        }
        FreeMemory(array->slots);
        array->slots = slots;
        array->capacity = capacity;
    }
    array->slots[slot] = record;
    array->count++;
    if (slot >= array->usedEnd) {
        array->usedEnd = slot + 1;
    }
    return slot;
}

static ModelAttachedItem *MakeAttachedList(int length)
{
    ModelAttachedItem *list = NULL;
    for (int i = 0; i < length; i++) {
        ModelAttachedItem *item = (ModelAttachedItem *)ENGINE_ALLOC_ZEROED(sizeof(ModelAttachedItem) + 16);
        item->next = list;
        list = item;
    }
    return list;
}

static unsigned char *CopyBlock(const void *bytes, int size)
{
    if (bytes == NULL) {
        return NULL;
    }
    unsigned char *copy = (unsigned char *)ENGINE_ALLOC(size);
    MemCopy(copy, bytes, size);
    return copy;
}

static void CopyTextureSource(ModelTextureSource *to, const TestModelMaterial *from)
{
    to->color.bytes = CopyBlock(from->colorFile, from->colorFileSize);
    to->color.size = from->colorFileSize;
    to->alpha.bytes = CopyBlock(from->alphaFile, from->alphaFileSize);
    to->alpha.size = from->alphaFileSize;
    to->bump = from->bump;
    to->bumpHeight = from->bumpHeight;
    to->mip = from->mip;
    to->graph = -1;
    RebuildModelTexture(to);
}

// A small generator of its own, so that a base's contents follow from its seed alone.
static uint32_t NextTestValue(uint32_t *state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

static void FillTestVertices(ModelBaseRecord *base, uint32_t seed)
{
    for (int i = 0; i < base->vertexCount; i++) {
        ModelVertex *vertex = &base->vertices[i];
        float *floats[] = {vertex->position, vertex->normal,    vertex->tangent,
                           vertex->binormal, &vertex->uv[0][0], vertex->weights};
        const int counts[] = {3, 3, 3, 3, MODEL_TEXTURE_SETS * 2, MODEL_SKIN_BONES};
        for (int part = 0; part < 6; part++) {
            for (int k = 0; k < counts[part]; k++) {
                floats[part][k] = (float)(NextTestValue(&seed) & 0xFFFF) / 256.0f - 128.0f;
            }
        }
        vertex->diffuse = NextTestValue(&seed) | NextTestValue(&seed) << 24;
        vertex->specular = NextTestValue(&seed) | NextTestValue(&seed) << 24;
        for (int k = 0; k < MODEL_SKIN_BONES; k++) {
            vertex->bones[k] = (unsigned char)NextTestValue(&seed);
        }
    }
}

static int IsValidTestMesh(const TestModelMesh *mesh, int materialCount)
{
    return mesh->material >= 0 && mesh->material < materialCount && mesh->skinKind >= 0 &&
           mesh->skinKind < MODEL_BUFFER_SKIN_KINDS && mesh->vertexKind >= 0 &&
           mesh->vertexKind < MODEL_BUFFER_VERTEX_KINDS && mesh->vertexCount >= 1 &&
           mesh->vertexCount <= MODEL_MESH_VERTEX_LIMIT && mesh->indexCount >= 1;
}

static void FillTestMeshes(ModelBaseRecord *base, const TestModelMesh *meshes, uint32_t seed)
{
    int vertex = 0, index = 0;
    for (int i = 0; i < base->meshCount; i++) {
        ModelMesh *mesh = &base->meshes[i];
        mesh->material = meshes[i].material;
        mesh->skinKind = meshes[i].skinKind;
        mesh->vertexKind = meshes[i].vertexKind;
        mesh->perModelVertices = meshes[i].perModelVertices;
        mesh->firstVertex = vertex;
        mesh->vertexCount = meshes[i].vertexCount;
        mesh->firstIndex = index;
        mesh->indexCount = meshes[i].indexCount;
        mesh->workBuffer = (float *)ENGINE_ALLOC_ZEROED(sizeof(float) * 4 * mesh->vertexCount);
        mesh->instanceBuffer = -1;
        for (int k = 0; k < mesh->indexCount; k++) {
            base->indices[index + k] = (unsigned short)(NextTestValue(&seed) % (uint32_t)mesh->vertexCount);
        }
        vertex += mesh->vertexCount;
        index += mesh->indexCount;
    }
}

EngineHandle AddTestModelBase(const TestModelMesh *meshes, int meshCount, const TestModelMaterial *materials,
                              int materialCount, int frameCount, int hasPhysics, uint32_t seed)
{
    int64_t vertexCount = 0, indexCount = 0;
    for (int i = 0; i < meshCount; i++) {
        if (!IsValidTestMesh(&meshes[i], materialCount)) {
            return -1;
        }
        vertexCount += meshes[i].vertexCount;
        indexCount += meshes[i].indexCount;
    }
    if (!s_ModelSystemStarted || vertexCount > 0x1000000 || indexCount > 0x1000000) {
        return -1;
    }
    ModelBaseRecord *base = (ModelBaseRecord *)ENGINE_ALLOC_ZEROED(sizeof(ModelBaseRecord));
    base->referenceCount = 1;
    base->hasPhysics = hasPhysics;
    base->frameCount = frameCount;
    base->frames = (ModelFrame *)ENGINE_ALLOC_ZEROED(sizeof(ModelFrame) * (frameCount + 1));
    for (int i = 0; i < frameCount; i++) {
        base->frames[i].parent = i - 1;
        base->frames[i].workBuffer = (float *)ENGINE_ALLOC_ZEROED(sizeof(float) * 16);
    }
    base->boneCount = frameCount;
    base->bones = (ModelBone *)ENGINE_ALLOC_ZEROED(sizeof(ModelBone) * (frameCount + 1));
    base->materialCount = materialCount;
    base->materials = (ModelMaterial *)ENGINE_ALLOC_ZEROED(sizeof(ModelMaterial) * (materialCount + 1));
    for (int i = 0; i < materialCount; i++) {
        base->materials[i].parameters = (float *)ENGINE_ALLOC_ZEROED(sizeof(float) * 17);
        CopyTextureSource(&base->materials[i].texture, &materials[i]);
    }
    base->vertexCount = (int)vertexCount;
    base->indexCount = (int)indexCount;
    base->vertices = (ModelVertex *)ENGINE_ALLOC_ZEROED(sizeof(ModelVertex) * (size_t)(vertexCount + 1));
    base->indices = (unsigned short *)ENGINE_ALLOC_ZEROED(sizeof(unsigned short) * (size_t)(indexCount + 1));
    FillTestVertices(base, seed);
    base->meshCount = meshCount;
    base->meshes = (ModelMesh *)ENGINE_ALLOC_ZEROED(sizeof(ModelMesh) * (meshCount + 1));
    FillTestMeshes(base, meshes, seed);
    base->attached = MakeAttachedList(2);
    return HANDLE_TYPE_GRAPH | AddSlot(&s_ModelBases, base);
}

static void LinkModel(ModelRecord *model)
{
    ModelBaseRecord *base = model->base;
    model->previous = base->lastModel;
    if (base->lastModel != NULL) {
        base->lastModel->next = model;
    } else {
        base->firstModel = model;
    }
    base->lastModel = model;
    base->modelCount++;
}

EngineHandle AddTestModel(EngineHandle baseHandle, const TestModelMaterial *instanceTexture, PhysicsWorld *physics)
{
    static int s_CheckCounter;
    ModelBaseRecord *base = GetModelBase(baseHandle);
    if (base == NULL || base == MODEL_PLACEHOLDER) {
        return -1;
    }
    ModelRecord *model = (ModelRecord *)ENGINE_ALLOC_ZEROED(sizeof(ModelRecord));
    model->base = base;
    model->baseHandle = baseHandle;
    model->checkNumber = s_CheckCounter;
    s_CheckCounter = (s_CheckCounter + 1) % HANDLE_CHECK_LIMIT;
    model->frameStates = (void **)ENGINE_ALLOC_ZEROED(sizeof(void *) * (base->frameCount + 1));
    for (int i = 0; i < base->frameCount; i++) {
        model->frameStates[i] = ENGINE_ALLOC_ZEROED(64);
    }
    for (void *&buffer : model->workBuffers) {
        buffer = ENGINE_ALLOC_ZEROED(32);
    }
    model->materials =
        (ModelMaterialState *)ENGINE_ALLOC_ZEROED(sizeof(ModelMaterialState) * (base->materialCount + 1));
    for (int i = 0; i < base->materialCount; i++) {
        model->materials[i].buffers[0] = ENGINE_ALLOC_ZEROED(16);
        model->materials[i].buffers[1] = ENGINE_ALLOC_ZEROED(16);
        model->materials[i].attached = MakeAttachedList(1);
    }
    model->attached = MakeAttachedList(3);
    // Two records, the second in use, so that the rebuild and the freeing pass over one that is not.
    model->instanceTextureCount = instanceTexture != NULL ? 2 : 0;
    model->instanceTextures = (ModelInstanceTexture *)ENGINE_ALLOC_ZEROED(sizeof(ModelInstanceTexture) * 2);
    if (instanceTexture != NULL) {
        model->instanceTextures[1].inUse = 1;
        CopyTextureSource(&model->instanceTextures[1].texture, instanceTexture);
    }
    model->physics = physics;
    base->referenceCount++;
    LinkModel(model);
    int slot = AddSlot(&s_Models, model);
    if (base->buffersPresent) {
        CreateModelInstanceBuffers(MakeEngineHandle(HANDLE_TYPE_MODEL, model->checkNumber, slot));
    }
    return MakeEngineHandle(HANDLE_TYPE_MODEL, model->checkNumber, slot);
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
