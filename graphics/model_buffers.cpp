// A model base's device buffers: its meshes grouped into the 3 x 2 x 9 lists of vertex and index buffer pairs,
// each pair made on the device and filled from the base's memory copies, their release on device loss, and each
// model's own dynamic vertex buffers over the pairs whose meshes it changes by itself. Window thread only.
#include "graphics/graphics_test_hooks.h"

// Test switch: the creation or lock step with this number (1 first, counted from when it is set) fails.
static int s_FailingBufferStep;

static int InjectedBufferFailure(void)
{
    return s_FailingBufferStep > 0 && --s_FailingBufferStep == 0;
}

int SetModelBufferFailureStep(int step)
{
    s_FailingBufferStep = step;
    return 0;
}

// A vertex of the kinds is laid out as the model vertex declaration it is drawn with: the element list says where
// each part of the vertex goes.
static void GetModelVertexElements(int bumpKind, int skinKind, int vertexKind, VertexElementList *list)
{
    BuildModelVertexElements(bumpKind, skinKind, vertexKind + 1, list);
}

int GetModelVertexSize(int bumpKind, int skinKind, int vertexKind)
{
    VertexElementList list;
    GetModelVertexElements(bumpKind, skinKind, vertexKind, &list);
    return list.size;
}

// Rigid vertices with one normal and up to eight sets fit a fixed vertex format, whose order is the declaration's;
// the others are drawn through the vertex declarations.
DWORD GetModelVertexFormat(int bumpKind, int skinKind, int vertexKind)
{
    int sets = vertexKind + 1;
    if (bumpKind != 0 || skinKind != 0 || sets > 8) {
        return 0;
    }
    DWORD format = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | (DWORD)sets << D3DFVF_TEXCOUNT_SHIFT;
    for (int set = 0; set < sets; set++) {
        format |= D3DFVF_TEXCOORDSIZE4(set);
    }
    return format;
}

static int GetMeshBumpKind(const ModelBaseRecord *base, const ModelMesh *mesh)
{
    return base->materials[mesh->material].texture.bump != 0;
}

template <class Object> static void ReleaseComObject(Object **object)
{
    if (*object != NULL) {
        (*object)->Release();
        *object = NULL;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Release.

void ReleaseModelInstanceBuffers(ModelRecord *model)
{
    for (int i = 0; i < model->instanceBufferCount; i++) {
        ReleaseComObject(&model->instanceBuffers[i].vertexBuffer);
    }
    // The records name pairs of the base that go with the base's buffers: they are made again with them.
    FreeMemory(model->instanceBuffers);
    model->instanceBuffers = NULL;
    model->instanceBufferCount = 0;
}

void ReleaseModelBaseBuffers(ModelBaseRecord *base)
{
    if (base->buffersPresent || base->bufferCount > 0) {
        ModelBufferPair **lists = &base->bufferLists[0][0][0];
        for (int i = 0; i < MODEL_BUFFER_LIST_COUNT; i++) {
            while (lists[i] != NULL) {
                ModelBufferPair *pair = lists[i];
                lists[i] = pair->next;
                ReleaseComObject(&pair->vertexBuffer);
                ReleaseComObject(&pair->indexBuffer);
                FreeMemory(pair);
            }
        }
        base->bufferCount = 0;
        base->buffersPresent = 0;
        for (int i = 0; i < base->meshCount; i++) {
            ModelMesh *mesh = &base->meshes[i];
            mesh->buffer = NULL;
            mesh->bufferVertex = mesh->bufferIndex = 0;
            mesh->instanceBuffer = -1;
        }
    }
    for (ModelRecord *model = base->firstModel; model != NULL; model = model->next) {
        ReleaseModelInstanceBuffers(model);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Grouping.

// The mesh goes into the last pair of its list unless that pair would then reach either limit; then it starts a
// pair of its own. Pairs are made only for a mesh, so none is ever empty.
static int PlaceMesh(ModelBaseRecord *base, ModelMesh *mesh)
{
    int bumpKind = GetMeshBumpKind(base, mesh);
    ModelBufferPair **link = &base->bufferLists[mesh->skinKind][bumpKind][mesh->vertexKind];
    ModelBufferPair *last = NULL;
    while (*link != NULL) {
        last = *link;
        link = &last->next;
    }
    if (last == NULL || last->indexCount + mesh->indexCount >= MODEL_BUFFER_INDEX_LIMIT ||
        last->vertexCount + mesh->vertexCount >= MODEL_BUFFER_VERTEX_LIMIT) {
        last = (ModelBufferPair *)ENGINE_ALLOC_ZEROED(sizeof(ModelBufferPair));
        if (last == NULL) {
            return -1;
        }
        last->vertexSize = GetModelVertexSize(bumpKind, mesh->skinKind, mesh->vertexKind);
        last->vertexFormat = GetModelVertexFormat(bumpKind, mesh->skinKind, mesh->vertexKind);
        *link = last;
        base->bufferCount++;
    }
    mesh->buffer = last;
    mesh->bufferVertex = last->vertexCount;
    mesh->bufferIndex = last->indexCount;
    last->vertexCount += mesh->vertexCount;
    last->indexCount += mesh->indexCount;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Filling.

// Each element of the list from the vertex's memory copy: the normal slots take normal, tangent and binormal, the
// colours diffuse and specular, and each texture set is (u, v, 1, 1).
static void WriteVertex(unsigned char *out, const ModelVertex *vertex, const VertexElementList *list)
{
    const float *normals[3] = {vertex->normal, vertex->tangent, vertex->binormal};
    for (int i = 0; i < list->count; i++) {
        const D3DVERTEXELEMENT9 *element = &list->elements[i];
        unsigned char *at = out + element->Offset;
        int index = element->UsageIndex;
        switch (element->Usage) {
        case D3DDECLUSAGE_POSITION:
            MemCopy(at, vertex->position, sizeof(vertex->position));
            break;
        case D3DDECLUSAGE_BLENDINDICES:
            MemCopy(at, vertex->bones + 4 * index, 4);
            break;
        case D3DDECLUSAGE_BLENDWEIGHT:
            MemCopy(at, vertex->weights + 4 * index, 4 * sizeof(float));
            break;
        case D3DDECLUSAGE_NORMAL:
            MemCopy(at, normals[index], 3 * sizeof(float));
            break;
        case D3DDECLUSAGE_COLOR:
            MemCopy(at, index == 0 ? &vertex->diffuse : &vertex->specular, 4);
            break;
        default: { // D3DDECLUSAGE_TEXCOORD
            const float coordinates[4] = {vertex->uv[index][0], vertex->uv[index][1], 1.0f, 1.0f};
            MemCopy(at, coordinates, sizeof(coordinates));
        }
        }
    }
}

static int FillPair(const ModelBaseRecord *base, const ModelBufferPair *pair)
{
    void *vertices = NULL, *indices = NULL;
    if (InjectedBufferFailure() || FAILED(pair->vertexBuffer->Lock(0, 0, &vertices, 0))) {
        return AddLog("頂点バッファのロックに失敗しました\n");
    }
    for (int i = 0; i < base->meshCount; i++) {
        const ModelMesh *mesh = &base->meshes[i];
        if (mesh->buffer != pair) {
            continue;
        }
        VertexElementList list;
        GetModelVertexElements(GetMeshBumpKind(base, mesh), mesh->skinKind, mesh->vertexKind, &list);
        unsigned char *out = (unsigned char *)vertices + (size_t)mesh->bufferVertex * pair->vertexSize;
        for (int v = 0; v < mesh->vertexCount; v++, out += pair->vertexSize) {
            WriteVertex(out, &base->vertices[mesh->firstVertex + v], &list);
        }
    }
    pair->vertexBuffer->Unlock();
    if (InjectedBufferFailure() || FAILED(pair->indexBuffer->Lock(0, 0, &indices, 0))) {
        return AddLog("インデックスバッファのロックに失敗しました\n");
    }
    for (int i = 0; i < base->meshCount; i++) {
        const ModelMesh *mesh = &base->meshes[i];
        if (mesh->buffer == pair) {
            MemCopy((unsigned short *)indices + mesh->bufferIndex, base->indices + mesh->firstIndex,
                    sizeof(unsigned short) * mesh->indexCount);
        }
    }
    pair->indexBuffer->Unlock();
    return 0;
}

static IDirect3DVertexBuffer9 *CreateModelVertexBuffer(const ModelBufferPair *pair, DWORD usage)
{
    IDirect3DVertexBuffer9 *buffer = InjectedBufferFailure()
                                         ? NULL
                                         : CreateDeviceVertexBuffer((UINT)pair->vertexCount * (UINT)pair->vertexSize,
                                                                    usage, pair->vertexFormat, D3DPOOL_DEFAULT);
    if (buffer == NULL) {
        AddLog("頂点バッファの作成に失敗しました\n");
    }
    return buffer;
}

static int CreatePairObjects(const ModelBaseRecord *base, ModelBufferPair *pair)
{
    pair->vertexBuffer = CreateModelVertexBuffer(pair, D3DUSAGE_WRITEONLY);
    if (pair->vertexBuffer == NULL) {
        return -1;
    }
    pair->indexBuffer = InjectedBufferFailure()
                            ? NULL
                            : CreateDeviceIndexBuffer((UINT)pair->indexCount * sizeof(unsigned short),
                                                      D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT);
    if (pair->indexBuffer == NULL) {
        return AddLog("インデックスバッファの作成に失敗しました\n");
    }
    return FillPair(base, pair);
}

static int BuildBaseBuffers(ModelBaseRecord *base)
{
    for (int i = 0; i < base->meshCount; i++) {
        ModelMesh *mesh = &base->meshes[i];
        if ((mesh->skinKind == 0 || g_StateCache.shadersAvailable) && PlaceMesh(base, mesh) != 0) {
            return -1;
        }
    }
    ModelBufferPair **lists = &base->bufferLists[0][0][0];
    for (int i = 0; i < MODEL_BUFFER_LIST_COUNT; i++) {
        for (ModelBufferPair *pair = lists[i]; pair != NULL; pair = pair->next) {
            if (CreatePairObjects(base, pair) != 0) {
                return -1;
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// A model's own vertex buffers: one for each pair of the base that holds a mesh the model changes by itself, of
// the pair's format and size; the mesh records which of the model's buffers is its own.

static int FindInstanceBuffer(const ModelRecord *model, const ModelBufferPair *pair)
{
    int i = 0;
    while (i < model->instanceBufferCount && model->instanceBuffers[i].basePair != pair) {
        i++;
    }
    return i;
}

static int MakeModelInstanceBuffers(ModelRecord *model)
{
    ModelBaseRecord *base = model->base;
    if (!base->buffersPresent) {
        return -1;
    }
    ReleaseModelInstanceBuffers(model);
    model->instanceBuffers =
        (ModelInstanceBuffer *)ENGINE_ALLOC_ZEROED(sizeof(ModelInstanceBuffer) * (base->meshCount + 1));
    if (model->instanceBuffers == NULL) {
        return -1;
    }
    for (int i = 0; i < base->meshCount; i++) {
        ModelMesh *mesh = &base->meshes[i];
        if (!mesh->perModelVertices || mesh->buffer == NULL) {
            continue;
        }
        int slot = FindInstanceBuffer(model, mesh->buffer);
        if (slot == model->instanceBufferCount) {
            ModelInstanceBuffer *own = &model->instanceBuffers[slot];
            own->basePair = mesh->buffer;
            own->vertexBuffer = CreateModelVertexBuffer(mesh->buffer, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY);
            model->instanceBufferCount++;
            if (own->vertexBuffer == NULL) {
                ReleaseModelInstanceBuffers(model);
                return -1;
            }
        }
        mesh->instanceBuffer = slot;
    }
    return 0;
}

int CreateModelInstanceBuffers(EngineHandle handle)
{
    ModelRecord *model = GetModel(handle);
    return model != NULL ? MakeModelInstanceBuffers(model) : -1;
}

// With the restore flag the models made from the base get their own buffers again as well.
int RestoreModelBaseBuffers(EngineHandle handle, int restore)
{
    if (!IsDeviceMode() || g_StateCache.device == NULL) {
        return 0;
    }
    ModelBaseRecord *base = GetModelBase(handle);
    if (base == NULL) {
        return -1;
    }
    if (base == MODEL_PLACEHOLDER || base->buffersPresent) {
        return 0;
    }
    if (BuildBaseBuffers(base) != 0) {
        ReleaseModelBaseBuffers(base);
        return -1;
    }
    base->buffersPresent = 1;
    for (ModelRecord *model = base->firstModel; restore && model != NULL; model = model->next) {
        MakeModelInstanceBuffers(model);
    }
    return 0;
}
