// Graphics core internals of the vertex-buffer, index-buffer, shader, model-base and model tables and of a model's
// physics world: the record layouts and the calls the tables make of one another. Included inside graphics/ only
// (tests reach it through graphics_test_hooks.h). Window thread only.
#pragma once

#include "graphics/graphics_internal.h"

class btCollisionConfiguration;
class btCollisionDispatcher;
class btBroadphaseInterface;
class btConstraintSolver;
class btDynamicsWorld;
class btOverlappingPairCallback;
class btRigidBody;
class btMotionState;
class btTypedConstraint;

#define VERTEX_BUFFER_SLOT_COUNT 16384
#define INDEX_BUFFER_SLOT_COUNT 16384
#define SHADER_SLOT_COUNT 4096
#define SINE_TABLE_SIZE 65536

// A vertex or index buffer: the device object and the copy in memory it is filled from again after device loss.
template <class DeviceBuffer> struct DeviceBufferRecord {
    HandleRecordHeader header;
    int format; // 0: the fixed vertex format (or 16-bit indices); else a declaration's vertices (32-bit indices)
    int elementSize, elementCount;
    unsigned char *data;  // elementSize x elementCount bytes
    DeviceBuffer *object; // null while the device is lost
};
typedef DeviceBufferRecord<IDirect3DVertexBuffer9> VertexBufferRecord;
typedef DeviceBufferRecord<IDirect3DIndexBuffer9> IndexBufferRecord;

struct ShaderRecord {
    HandleRecordHeader header;
    int vertexShader; // 1 vertex shader, 0 pixel shader
    int codeSize;
    unsigned char *data; // the shader's byte code, made into the device object again after device loss
    IUnknown *object;
};

// Vertex buffer, index buffer and shader handles (buffer_tables.cpp); the calls a program makes are in graphics.h.
int RecreateVertexBufferObject(VertexBufferRecord *record);
int RecreateIndexBufferObject(IndexBufferRecord *record);

// A model's physics: Bullet's own objects, deleted through their destructors (model_physics.cpp).
struct PhysicsBodyRecord {
    btRigidBody *body; // the world's objects, deleted by its tear-down
    btMotionState *motionState;
    int active;
};

struct PhysicsJointRecord {
    btTypedConstraint *constraint;
};

struct PhysicsWorld {
    btCollisionConfiguration *collisionConfiguration;
    btCollisionDispatcher *dispatcher;
    btBroadphaseInterface *broadphase;
    btConstraintSolver *solver;
    btDynamicsWorld *dynamicsWorld;
    btOverlappingPairCallback *ghostPairCallback;
    int bodyCount, jointCount;
    PhysicsBodyRecord *bodies;
    PhysicsJointRecord *joints;
};

int DestroyPhysicsWorld(PhysicsWorld *world);

// Models and model bases (model_tables.cpp, model_buffers.cpp, model_textures.cpp). A slot holding MODEL_PLACEHOLDER
// counts as live and owns nothing.
#define MODEL_PLACEHOLDER ((void *)1)
#define MODEL_BASE_SLOT_MASK 0x1FFFF
// A base's device buffers are grouped by skinning kind (0 rigid, 1 four bones a vertex, 2 eight), by the
// material's bump flag (its picture is a normal map, so its vertices carry a tangent and a binormal after the
// normal) and by vertex kind (k + 1 texture-coordinate sets). A vertex of list [skin][bump][kind] is laid out as the
// model vertex declaration of three normals = bump, bone sets = skin and kind + 1 texture sets.
#define MODEL_BUFFER_SKIN_KINDS 3
#define MODEL_BUFFER_MATERIAL_KINDS 2
#define MODEL_BUFFER_VERTEX_KINDS 9
#define MODEL_BUFFER_LIST_COUNT (MODEL_BUFFER_SKIN_KINDS * MODEL_BUFFER_MATERIAL_KINDS * MODEL_BUFFER_VERTEX_KINDS)
// A buffer takes no mesh that would bring it to this many indices or vertices (a mesh alone may pass them).
#define MODEL_BUFFER_INDEX_LIMIT 0xC0000
#define MODEL_BUFFER_VERTEX_LIMIT 0x60000
// A mesh's indices are 16-bit and count from the mesh's first vertex.
#define MODEL_MESH_VERTEX_LIMIT 65536
#define MODEL_TEXTURE_SETS 9
#define MODEL_SKIN_BONES 8

struct ModelRecord;

// A list of blocks a program attached to a base, a model or a model's material; each block is one allocation.
struct ModelAttachedItem {
    ModelAttachedItem *next;
};

// One vertex as the base keeps it in memory; a device buffer holds the parts its kind uses.
struct ModelVertex {
    float position[3], normal[3], tangent[3], binormal[3];
    uint32_t diffuse, specular;
    float uv[MODEL_TEXTURE_SETS][2];
    float weights[MODEL_SKIN_BONES];
    unsigned char bones[MODEL_SKIN_BONES];
};

// One vertex and index buffer pair of a base's device buffer lists; chained within its list.
struct ModelBufferPair {
    IDirect3DVertexBuffer9 *vertexBuffer;
    IDirect3DIndexBuffer9 *indexBuffer;
    int vertexCount, indexCount;
    int vertexSize;
    DWORD vertexFormat; // 0: drawn through a vertex declaration
    ModelBufferPair *next;
};

struct ModelFrame {
    int parent;
    float *workBuffer; // the frame's matrices while a pose is worked out
};

struct ModelBone {
    int frame;
};

struct ModelMesh {
    int material;
    int skinKind, vertexKind;
    int firstVertex, vertexCount; // in the base's vertices
    int firstIndex, indexCount;   // in the base's indices
    int perModelVertices;         // each model changes this mesh's vertices by itself
    float *workBuffer;            // skinned positions while a pose is worked out
    // Where the device buffers hold the mesh; cleared when they are released.
    ModelBufferPair *buffer;
    int bufferVertex, bufferIndex;
    int instanceBuffer; // index of its pair's buffer in each model's own vertex buffers; -1: none
};

// What a texture is built from again after device loss: image files in memory (either may be absent) and the
// building parameters, with the graph made from them.
struct ModelImageFile {
    unsigned char *bytes; // null: absent
    int size;
};

struct ModelTextureSource {
    ModelImageFile color, alpha;
    int bump;
    float bumpHeight;
    int mip;
    EngineHandle graph; // -1: none
};

struct ModelMaterial {
    ModelTextureSource texture;
    float *parameters; // colours and effect settings
};

struct ModelBaseRecord {
    int referenceCount;
    int buffersPresent;
    ModelBufferPair *bufferLists[MODEL_BUFFER_SKIN_KINDS][MODEL_BUFFER_MATERIAL_KINDS][MODEL_BUFFER_VERTEX_KINDS];
    int bufferCount;
    int frameCount, materialCount, meshCount, boneCount, vertexCount, indexCount;
    ModelFrame *frames;
    ModelMaterial *materials;
    ModelMesh *meshes;
    ModelBone *bones;
    ModelVertex *vertices;
    unsigned short *indices;
    ModelAttachedItem *attached;
    int hasPhysics;
    ModelRecord *firstModel, *lastModel;
    int modelCount;
};

// A model's own state of one of its base's materials.
struct ModelMaterialState {
    void *buffers[2];
    ModelAttachedItem *attached;
};

// A texture a model uses instead of its base's for one material.
struct ModelInstanceTexture {
    int inUse;
    int material;
    ModelTextureSource texture;
};

// A model's own dynamic vertex buffer over one buffer pair of its base.
struct ModelInstanceBuffer {
    const ModelBufferPair *basePair;
    IDirect3DVertexBuffer9 *vertexBuffer;
};

struct ModelRecord {
    ModelBaseRecord *base;
    int checkNumber;
    EngineHandle baseHandle;
    ModelRecord *previous, *next; // in the base's list of models
    void **frameStates;           // one block a frame of the base
    void *workBuffers[3];
    ModelMaterialState *materials; // one a material of the base
    ModelAttachedItem *attached;
    int instanceTextureCount;
    ModelInstanceTexture *instanceTextures;
    int instanceBufferCount; // 0: none made
    ModelInstanceBuffer *instanceBuffers;
    PhysicsWorld *physics; // when the base has physics
};

ModelBaseRecord *GetModelBase(EngineHandle handle); // the record, the placeholder, or null
ModelRecord *GetModel(EngineHandle handle);         // the record, or null (also for the placeholder)
int GetModelBaseUsedEnd(void);
int GetModelUsedEnd(void);
EngineHandle GetModelHandleOfSlot(int slot); // of a live slot
ModelRecord *GetModelOfSlot(int slot);       // the record in a slot, null when empty or the placeholder
int TeardownModelPhysics(ModelRecord *model);

// Device buffers (model_buffers.cpp).
int CreateModelInstanceBuffers(EngineHandle handle);
void ReleaseModelInstanceBuffers(ModelRecord *model);
void ReleaseModelBaseBuffers(ModelBaseRecord *base);
int RestoreModelBaseBuffers(EngineHandle handle, int restore);
// The bytes a vertex of a base takes in a buffer of its kinds, and the kinds' fixed vertex format (0: none fits).
int GetModelVertexSize(int bumpKind, int skinKind, int vertexKind);
DWORD GetModelVertexFormat(int bumpKind, int skinKind, int vertexKind);

// Textures (model_textures.cpp). The images come out as A8R8G8B8; the alpha image stays empty without an alpha
// file. With the mip flag an image holds every level down to 1 x 1.
int BuildModelMaterialImage(BaseImage *colorImage, BaseImage *alphaImage, const ModelImageFile *colorSource,
                            const ModelImageFile *alphaSource, int bump, float bumpHeight, int mip);
int RebuildModelTexture(ModelTextureSource *source);     // builds the images and (re)makes the graph from them
void FreeModelTextureSource(ModelTextureSource *source); // the files and the graph
int MakeModelSystemTextures(void);                       // the built-in pictures and the grey ramp, made once
void ReleaseModelSystemTextures(void);

// The engine's sine table (entry i = sin(i x 2 pi / 65536)) and the 89.5-degree setting, made at model-system start.
extern float g_SineTable[SINE_TABLE_SIZE];
extern float g_ModelAngleLimit;

// The two built-in model pictures: run-length true-colour TGA files (0: 8 x 8, 1: 256 x 8) and their sizes.
const unsigned char *GetBuiltinModelPicture(int index, int *size);
