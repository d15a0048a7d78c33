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

// Vertex buffer, index buffer and shader handles (buffer_tables.cpp).
int DeleteVertexBuffer(EngineHandle handle);
int DeleteIndexBuffer(EngineHandle handle);
int DeleteShader(EngineHandle handle);
int SetVertexBufferData(int first, const void *data, int count, EngineHandle handle);
int SetIndexBufferData(int first, const void *data, int count, EngineHandle handle);
int GetShaderModelVersion(void); // 300, 200, or 0 without Direct3D or with shaders off on the device
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

// Models and model bases (model_tables.cpp). A slot holding MODEL_PLACEHOLDER counts as live and owns nothing.
#define MODEL_PLACEHOLDER ((void *)1)
#define MODEL_BASE_SLOT_MASK 0x1FFFF
#define MODEL_BUFFER_SKIN_KINDS 3
#define MODEL_BUFFER_MATERIAL_KINDS 2
#define MODEL_BUFFER_VERTEX_KINDS 9

struct ModelRecord;

// One vertex and index buffer pair of a base's device buffer lists; chained within its list.
struct ModelBufferPair {
    IDirect3DVertexBuffer9 *vertexBuffer;
    IDirect3DIndexBuffer9 *indexBuffer;
    ModelBufferPair *next;
};

struct ModelMaterial {
    EngineHandle textureGraph; // -1: none
    void *sourceData;
};

struct ModelBaseRecord {
    int referenceCount;
    int buffersPresent;
    ModelBufferPair *bufferLists[MODEL_BUFFER_SKIN_KINDS][MODEL_BUFFER_MATERIAL_KINDS][MODEL_BUFFER_VERTEX_KINDS];
    int materialCount;
    ModelMaterial *materials;
    void *vertexData;
    ModelRecord *firstModel, *lastModel;
    int modelCount;
};

// A model's own dynamic vertex buffer over one mesh of its base.
struct ModelInstanceBuffer {
    IDirect3DVertexBuffer9 *vertexBuffer;
};

struct ModelRecord {
    ModelBaseRecord *base;
    int checkNumber;
    EngineHandle baseHandle;
    ModelRecord *previous, *next; // in the base's list of models
    int instanceBufferCount;
    ModelInstanceBuffer *instanceBuffers;
    PhysicsWorld *physics; // when the base has physics
};

int DeleteModel(EngineHandle handle);
int DeleteModelBase(EngineHandle handle);
int ReleaseModelBaseDeviceBuffers(EngineHandle handle);
int ReleaseModelDeviceBuffers(EngineHandle handle);
int RestoreModelBaseBuffers(EngineHandle handle, int restore);
int TeardownModelPhysics(ModelRecord *model);

// The engine's sine table (entry i = sin(i x 2 pi / 65536)) and the 89.5-degree setting, made at model-system start.
extern float g_SineTable[SINE_TABLE_SIZE];
extern float g_ModelAngleLimit;

// The two built-in model pictures: run-length true-colour TGA files (0: 8 x 8, 1: 256 x 8) and their sizes.
const unsigned char *GetBuiltinModelPicture(int index, int *size);
