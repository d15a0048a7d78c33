// Vertex-buffer, index-buffer and shader handle tables: validation, deletion of one and of all, the data writes into
// a buffer (device object and memory copy alike), and the release of every device object on device loss with its
// rebuild from the memory copies afterwards. Nothing in the engine creates a record yet; the tables are what the
// rebuild and the end of graphics walk. Window thread only.
#include "graphics/model_tables.h"

struct HandleTable {
    void **slots;
    int slotCount;
    int tag;
    int count;
    int usedEnd; // one past the highest slot in use
};

static void *s_VertexBufferSlots[VERTEX_BUFFER_SLOT_COUNT];
static void *s_IndexBufferSlots[INDEX_BUFFER_SLOT_COUNT];
static void *s_ShaderSlots[SHADER_SLOT_COUNT];
static HandleTable s_VertexBuffers = {s_VertexBufferSlots, VERTEX_BUFFER_SLOT_COUNT, HANDLE_TYPE_VERTEX_BUFFER, 0, 0};
static HandleTable s_IndexBuffers = {s_IndexBufferSlots, INDEX_BUFFER_SLOT_COUNT, HANDLE_TYPE_INDEX_BUFFER, 0, 0};
static HandleTable s_Shaders = {s_ShaderSlots, SHADER_SLOT_COUNT, HANDLE_TYPE_SHADER, 0, 0};

template <class Record> static Record *CheckTableHandle(const HandleTable *table, EngineHandle handle)
{
    return (Record *)ValidateEngineHandle(handle, table->tag, table->slots, table->slotCount);
}

template <class Object> static void ReleaseDeviceObject(Object **object)
{
    if (*object != NULL) {
        (*object)->Release();
        *object = NULL;
    }
}

// The slot is cleared before the used end is looked for again, so that it never counts itself.
static void ClearTableSlot(HandleTable *table, int slot)
{
    table->slots[slot] = NULL;
    table->count--;
    if (slot + 1 != table->usedEnd) {
        return;
    }
    while (table->usedEnd > 0 && table->slots[table->usedEnd - 1] == NULL) {
        table->usedEnd--;
    }
}

template <class Record> static int DeleteTableRecord(HandleTable *table, EngineHandle handle)
{
    Record *record = CheckTableHandle<Record>(table, handle);
    if (record == NULL) {
        return -1;
    }
    ReleaseDeviceObject(&record->object);
    FreeMemory(record->data);
    FreeMemory(record);
    ClearTableSlot(table, handle & HANDLE_INDEX_MASK);
    return 0;
}

template <class Record> static int DeleteAllTableRecords(HandleTable *table)
{
    if (!IsGraphicsInitialised()) {
        return 0;
    }
    for (int slot = 0; slot < table->usedEnd; slot++) {
        const Record *record = (const Record *)table->slots[slot];
        if (record != NULL) {
            DeleteTableRecord<Record>(table, MakeEngineHandle(table->tag, record->header.checkNumber, slot));
        }
    }
    return 0;
}

int DeleteVertexBuffer(EngineHandle handle)
{
    return DeleteTableRecord<VertexBufferRecord>(&s_VertexBuffers, handle);
}

int DeleteIndexBuffer(EngineHandle handle)
{
    return DeleteTableRecord<IndexBufferRecord>(&s_IndexBuffers, handle);
}

int DeleteShader(EngineHandle handle)
{
    return DeleteTableRecord<ShaderRecord>(&s_Shaders, handle);
}

int DeleteAllVertexBuffers(void)
{
    return DeleteAllTableRecords<VertexBufferRecord>(&s_VertexBuffers);
}

int DeleteAllIndexBuffers(void)
{
    return DeleteAllTableRecords<IndexBufferRecord>(&s_IndexBuffers);
}

int DeleteAllShaders(void)
{
    return DeleteAllTableRecords<ShaderRecord>(&s_Shaders);
}

// ---------------------------------------------------------------------------------------------------------------
// Data writes.

// Writes `count` elements at `first` into the device object, when there is one.
template <class Record>
static int FillDeviceBuffer(Record *record, int first, const void *data, int count, const char *lockFailure)
{
    if (record->object == NULL || count == 0) {
        return 0;
    }
    UINT size = (UINT)count * (UINT)record->elementSize;
    void *locked = NULL;
    if (FAILED(record->object->Lock((UINT)first * (UINT)record->elementSize, size, &locked, 0))) {
        AddLog(lockFailure);
        return -1;
    }
    MemCopy(locked, data, size);
    record->object->Unlock();
    return 0;
}

// A negative count or a missing data pointer is refused as well: either would copy from nowhere.
template <class Record>
static int SetBufferData(HandleTable *table, int first, const void *data, int count, EngineHandle handle,
                         const char *lockFailure)
{
    Record *record = CheckTableHandle<Record>(table, handle);
    if (record == NULL || first < 0 || count < 0 || (data == NULL && count > 0) ||
        (int64_t)first + count > record->elementCount) {
        return -1;
    }
    if (FillDeviceBuffer(record, first, data, count, lockFailure) != 0) {
        return -1;
    }
    MemCopy(record->data + (size_t)first * record->elementSize, data, (size_t)count * record->elementSize);
    return 0;
}

int SetVertexBufferData(int first, const void *data, int count, EngineHandle handle)
{
    return SetBufferData<VertexBufferRecord>(&s_VertexBuffers, first, data, count, handle,
                                             "頂点バッファのロックに失敗しました\n");
}

int SetIndexBufferData(int first, const void *data, int count, EngineHandle handle)
{
    return SetBufferData<IndexBufferRecord>(&s_IndexBuffers, first, data, count, handle,
                                            "インデックスバッファのロックに失敗しました\n");
}

// ---------------------------------------------------------------------------------------------------------------
// Device loss and rebuild. A record that still has its device object keeps it.

#define FIXED_VERTEX_FORMAT (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2)

int RecreateVertexBufferObject(VertexBufferRecord *record)
{
    if (record->object != NULL) {
        return 0;
    }
    record->object =
        CreateDeviceVertexBuffer((UINT)record->elementSize * (UINT)record->elementCount, D3DUSAGE_WRITEONLY,
                                 record->format == 0 ? FIXED_VERTEX_FORMAT : 0, D3DPOOL_DEFAULT);
    if (record->object == NULL) {
        AddLog("頂点バッファの作成に失敗しました\n");
        return -1;
    }
    return FillDeviceBuffer(record, 0, record->data, record->elementCount, "頂点バッファのロックに失敗しました\n");
}

int RecreateIndexBufferObject(IndexBufferRecord *record)
{
    if (record->object != NULL) {
        return 0;
    }
    record->object = CreateDeviceIndexBuffer((UINT)record->elementSize * (UINT)record->elementCount, D3DUSAGE_WRITEONLY,
                                             record->format == 0 ? D3DFMT_INDEX16 : D3DFMT_INDEX32, D3DPOOL_DEFAULT);
    if (record->object == NULL) {
        AddLog("インデックスバッファの作成に失敗しました\n");
        return -1;
    }
    return FillDeviceBuffer(record, 0, record->data, record->elementCount,
                            "インデックスバッファのロックに失敗しました\n");
}

static void RecreateShaderObject(ShaderRecord *record)
{
    IDirect3DDevice9 *device = g_StateCache.device;
    if (record->object != NULL || device == NULL) {
        return;
    }
    const DWORD *code = (const DWORD *)record->data;
    if (record->vertexShader) {
        device->CreateVertexShader(code, (IDirect3DVertexShader9 **)&record->object);
    } else {
        device->CreatePixelShader(code, (IDirect3DPixelShader9 **)&record->object);
    }
}

template <class Record> static void ReleaseTableObjects(HandleTable *table)
{
    for (int slot = 0; slot < table->usedEnd; slot++) {
        Record *record = (Record *)table->slots[slot];
        if (record != NULL) {
            ReleaseDeviceObject(&record->object);
        }
    }
}

template <class Record> static void RecreateTableObjects(HandleTable *table, void (*recreate)(Record *record))
{
    for (int slot = 0; slot < table->usedEnd; slot++) {
        Record *record = (Record *)table->slots[slot];
        if (record != NULL) {
            recreate(record);
        }
    }
}

static void RecreateVertexBufferSlot(VertexBufferRecord *record)
{
    RecreateVertexBufferObject(record);
}

static void RecreateIndexBufferSlot(IndexBufferRecord *record)
{
    RecreateIndexBufferObject(record);
}

int ReleaseTableDeviceObjects(void)
{
    ReleaseTableObjects<VertexBufferRecord>(&s_VertexBuffers);
    ReleaseTableObjects<IndexBufferRecord>(&s_IndexBuffers);
    ReleaseTableObjects<ShaderRecord>(&s_Shaders);
    return 0;
}

int RecreateTableDeviceObjects(void)
{
    RecreateTableObjects<VertexBufferRecord>(&s_VertexBuffers, RecreateVertexBufferSlot);
    RecreateTableObjects<IndexBufferRecord>(&s_IndexBuffers, RecreateIndexBufferSlot);
    RecreateTableObjects<ShaderRecord>(&s_Shaders, RecreateShaderObject);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Shader model.

// Only adapter 0 is ever chosen. Without a Direct3D object there is nothing to ask: 0.
int GetShaderModelVersion(void)
{
    if (g_D3D.direct3D == NULL || (g_D3D.device != NULL && !g_D3D.shaderCapable)) {
        return 0;
    }
    D3DCAPS9 caps;
    MemFill(&caps, 0, sizeof(caps));
    g_D3D.direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    int vertex = (int)(caps.VertexShaderVersion & 0xFFFF), pixel = (int)(caps.PixelShaderVersion & 0xFFFF);
    return vertex >= 0x300 && pixel >= 0x300 ? 300 : 200;
}

// ---------------------------------------------------------------------------------------------------------------
// Test hooks: records made as a creating call would make them.

template <class Record> static EngineHandle AddTableRecord(HandleTable *table, Record *record)
{
    static int s_CheckCounter;
    int slot = 0;
    while (slot < table->slotCount && table->slots[slot] != NULL) {
        slot++;
    }
    if (slot == table->slotCount) {
        return -1;
    }
    record->header.checkNumber = s_CheckCounter;
    record->header.handle = MakeEngineHandle(table->tag, s_CheckCounter, slot);
    s_CheckCounter = (s_CheckCounter + 1) % HANDLE_CHECK_LIMIT;
    table->slots[slot] = record;
    table->count++;
    if (slot >= table->usedEnd) {
        table->usedEnd = slot + 1;
    }
    return record->header.handle;
}

template <class Record>
static EngineHandle AddTestBuffer(HandleTable *table, int elementSize, int elementCount, int (*recreate)(Record *))
{
    Record *record = (Record *)ENGINE_ALLOC_ZEROED(sizeof(Record));
    record->elementSize = elementSize;
    record->elementCount = elementCount;
    record->data = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)elementSize * elementCount);
    recreate(record);
    return AddTableRecord(table, record);
}

EngineHandle AddTestVertexBuffer(int elementSize, int elementCount)
{
    return AddTestBuffer<VertexBufferRecord>(&s_VertexBuffers, elementSize, elementCount, RecreateVertexBufferObject);
}

EngineHandle AddTestIndexBuffer(int elementSize, int elementCount)
{
    return AddTestBuffer<IndexBufferRecord>(&s_IndexBuffers, elementSize, elementCount, RecreateIndexBufferObject);
}

EngineHandle AddTestShader(int vertexShader, const void *code, int codeSize)
{
    ShaderRecord *record = (ShaderRecord *)ENGINE_ALLOC_ZEROED(sizeof(ShaderRecord));
    record->vertexShader = vertexShader;
    record->codeSize = codeSize;
    record->data = (unsigned char *)ENGINE_ALLOC(codeSize);
    MemCopy(record->data, code, codeSize);
    RecreateShaderObject(record);
    return AddTableRecord(&s_Shaders, record);
}

static HandleTable *FindTable(int typeTag)
{
    HandleTable *tables[] = {&s_VertexBuffers, &s_IndexBuffers, &s_Shaders};
    for (HandleTable *table : tables) {
        if (table->tag == typeTag) {
            return table;
        }
    }
    return NULL;
}

void *GetTableRecord(int typeTag, EngineHandle handle)
{
    const HandleTable *table = FindTable(typeTag);
    return table != NULL ? CheckTableHandle<void>(table, handle) : NULL;
}

int GetTableUsedEnd(int typeTag, int *count)
{
    const HandleTable *table = FindTable(typeTag);
    *count = table->count;
    return table->usedEnd;
}
