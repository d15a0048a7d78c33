// The vertex-buffer, index-buffer, shader and model tables: every call on empty tables, data writes against a
// reference copy (device buffer and memory copy alike, before and after the device objects are made again), the
// used-end rules, the model-base slot checks, the shader model, the sine table, the built-in pictures, and the
// tear-down of a real physics world.
#include "graphics/screen_readback.h"
#include "graphics/stand_in_direct3d.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> Tables;

TEST_F(Tables, EmptyTablesAnswerAsTheirRulesSayAndRefuseEveryHandle)
{
    int (*const tableCalls[])() = {
        DeleteAllVertexBuffers, DeleteAllIndexBuffers, DeleteAllShaders,          ReleaseAllModelDeviceObjects,
        RestoreAllModelBuffers, RestoreModelTextures,  ReleaseTableDeviceObjects, RecreateTableDeviceObjects,
        TerminateModelSystem,   InitModelSystem}; // started again for the tests below
    for (const auto &call : tableCalls) {
        EXPECT_EQ(call(), 0) << "call " << &call - tableCalls;
    }
    char bytes[64] = {};
    const std::function<int(int)> handleCalls[] = {DeleteVertexBuffer,
                                                   DeleteIndexBuffer,
                                                   DeleteShader,
                                                   DeleteModel,
                                                   DeleteModelBase,
                                                   ReleaseModelBaseDeviceBuffers,
                                                   ReleaseModelDeviceBuffers,
                                                   [](int h) { return RestoreModelBaseBuffers(h, 1); },
                                                   [&](int h) { return SetVertexBufferData(0, bytes, 1, h); },
                                                   [&](int h) { return SetIndexBufferData(0, bytes, 1, h); }};
    const int tags[] = {0,
                        HANDLE_TYPE_VERTEX_BUFFER,
                        HANDLE_TYPE_INDEX_BUFFER,
                        HANDLE_TYPE_SHADER,
                        HANDLE_TYPE_MODEL,
                        HANDLE_TYPE_GRAPH};
    for (const auto &call : handleCalls) {
        for (int tag : tags) {
            for (int slotAndCheck : {-1, 0, 1, 0x10005, 0x1FFFF, 0x7FFFFFFF}) {
                EXPECT_EQ(call(tag | slotAndCheck), -1) << "call " << &call - handleCalls << " handle " << slotAndCheck;
            }
        }
    }
}

// The device buffer's bytes, and the memory copy's.
template <class Record> std::vector<unsigned char> DeviceBytes(Record *record, int elementSize)
{
    void *locked = nullptr;
    std::vector<unsigned char> out((size_t)record->elementCount * elementSize);
    if (SUCCEEDED(record->object->Lock(0, 0, &locked, D3DLOCK_READONLY))) {
        memcpy(out.data(), locked, out.size());
        record->object->Unlock();
    }
    return out;
}
template <class Record> std::vector<unsigned char> CopyBytes(Record *record, int elementSize)
{
    return std::vector<unsigned char>(record->data, record->data + record->elementCount * elementSize);
}

// Writes of random ranges against a reference copy: a refused write changes neither the device buffer nor the copy.
template <class Record>
void SweepWrites(Record *record, EngineHandle handle, int elementSize,
                 int (*write)(int, const void *, int, EngineHandle))
{
    ASSERT_NE(record->object, nullptr) << "the device buffer was made";
    const int count = record->elementCount, bytes = count * elementSize;
    std::vector<unsigned char> source(bytes), reference(bytes, 0);
    std::mt19937 random(17);
    for (int step = 0; step < 200; step++) {
        int first = (int)(random() % (count + 6)) - 3, n = (int)(random() % (count + 6)) - 3;
        std::generate(source.begin(), source.end(), [&] { return (unsigned char)random(); });
        bool valid = first >= 0 && n >= 0 && first + n <= count;
        ASSERT_EQ(write(first, source.data(), n, handle), valid ? 0 : -1) << first << " + " << n;
        if (valid) {
            memcpy(reference.data() + first * elementSize, source.data(), (size_t)n * elementSize);
        }
        ASSERT_EQ(CopyBytes(record, elementSize), reference) << "copy, step " << step;
        ASSERT_EQ(DeviceBytes(record, elementSize), reference) << "device buffer, step " << step;
    }
}

// vs_1_1: dcl_position v0; mov oPos, v0
const DWORD s_VertexShaderCode[] = {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000,
                                    0x00000001, 0xC00F0000, 0x90E40000, 0x0000FFFF};

TEST_F(Tables, DataWritesReachBufferAndCopyAndEveryDeviceObjectSurvivesARebuild)
{
    EngineHandle vertices = AddTestVertexBuffer(48, 20), indices = AddTestIndexBuffer(2, 30);
    auto *vertexRecord = (VertexBufferRecord *)GetTableRecord(HANDLE_TYPE_VERTEX_BUFFER, vertices);
    auto *indexRecord = (IndexBufferRecord *)GetTableRecord(HANDLE_TYPE_INDEX_BUFFER, indices);
    auto *shaderRecord = (ShaderRecord *)GetTableRecord(
        HANDLE_TYPE_SHADER, AddTestShader(1, s_VertexShaderCode, sizeof s_VertexShaderCode));
    SweepWrites(vertexRecord, vertices, 48, SetVertexBufferData);
    SweepWrites(indexRecord, indices, 2, SetIndexBufferData);
    ASSERT_NE(shaderRecord->object, nullptr);
    ReleaseTableDeviceObjects();
    EXPECT_TRUE(!vertexRecord->object && !indexRecord->object && !shaderRecord->object);
    RecreateTableDeviceObjects();
    ASSERT_TRUE(vertexRecord->object && indexRecord->object && shaderRecord->object);
    EXPECT_TRUE(DeviceBytes(vertexRecord, 48) == CopyBytes(vertexRecord, 48) &&
                DeviceBytes(indexRecord, 2) == CopyBytes(indexRecord, 2))
        << "the rebuilt buffers hold the copies";
    EXPECT_TRUE(DeleteAllVertexBuffers() == 0 && DeleteAllIndexBuffers() == 0 && DeleteAllShaders() == 0);
    EXPECT_EQ(SetVertexBufferData(0, "", 0, vertices), -1);
}

TEST_F(Tables, UsedEndFollowsTheHighestLiveSlotAndBoundsEveryModelBaseLookUp)
{
    struct Family {
        int tag;
        std::function<EngineHandle()> add;
        int (*remove)(EngineHandle);
    } families[] = {{HANDLE_TYPE_VERTEX_BUFFER, [] { return AddTestVertexBuffer(4, 4); }, DeleteVertexBuffer},
                    {HANDLE_TYPE_INDEX_BUFFER, [] { return AddTestIndexBuffer(2, 4); }, DeleteIndexBuffer},
                    {HANDLE_TYPE_SHADER, [] { return AddTestShader(1, s_VertexShaderCode, sizeof s_VertexShaderCode); },
                     DeleteShader}};
    // Deleting slots 1, 2, 0 of three in turn: the used end and live count after each.
    const struct {
        int slot, usedEnd, count;
    } steps[] = {{1, 3, 2}, {2, 1, 1}, {0, 0, 0}};
    for (const Family &family : families) {
        EngineHandle handles[3] = {family.add(), family.add(), family.add()};
        int count;
        ASSERT_EQ(GetTableUsedEnd(family.tag, &count), 3);
        for (const auto &step : steps) {
            EXPECT_EQ(family.remove(handles[step.slot]), 0);
            EXPECT_EQ(family.remove(handles[step.slot]), -1) << "a deleted handle is dead";
            EXPECT_EQ(GetTableUsedEnd(family.tag, &count), step.usedEnd) << "tag " << family.tag;
            EXPECT_EQ(count, step.count);
        }
    }
    // Model-base slots are checked against the used end before the array is read. No array; past the used end; the
    // highest slot a handle names; an empty slot; the placeholder, cleared once.
    const struct {
        int usedEnd, placeholder, slot, deleted;
    } rows[] = {{0, -1, 0, -1}, {2, 1, 5, -1}, {2, 1, 0x1FFFF, -1}, {2, 1, 0, -1}, {2, 1, 1, 0}};
    for (const auto &row : rows) {
        SetTestModelBaseSlots(row.usedEnd, row.placeholder);
        EXPECT_EQ(DeleteModelBase(HANDLE_TYPE_GRAPH | row.slot), row.deleted) << row.usedEnd << " " << row.slot;
        EXPECT_EQ(RestoreModelBaseBuffers(HANDLE_TYPE_GRAPH | row.slot, 1), -1) << row.usedEnd << " " << row.slot;
    }
    SetTestModelBaseSlots(0, -1);
}

// The grey of each model picture at x, every row alike: the white one, the toon steps, the grey ramp.
uint32_t ModelPictureGrey(int graph, int x)
{
    return graph == 0 ? 255u : graph == 1 ? 64u * (x / 64 + 1) - (x >= 192 ? 1 : 0) : (uint32_t)x;
}

TEST_F(Tables, SineTableSettingAndModelTexturesAreMadeAtModelSystemStart)
{
    EXPECT_TRUE(g_SineTable[0] == 0.0f && g_SineTable[16384] == 1.0f && g_SineTable[49152] == -1.0f);
    for (int i = 0; i < SINE_TABLE_SIZE; i++) {
        ASSERT_NEAR(g_SineTable[i], std::sin(i * 2.0 * 3.14159265358979323846 / SINE_TABLE_SIZE), 2e-6) << i;
    }
    EXPECT_EQ(g_ModelAngleLimit, 1.5620697f);
    EXPECT_EQ(GetShaderModelVersion(), 300) << "Wine's device has shader model 3";
    // The model textures come back from the built-in pictures and the ramp.
    EngineHandle handles[3] = {MakeEmptyGraph(8, 8), MakeEmptyGraph(256, 8), MakeEmptyGraph(256, 8)};
    SetModelTextureGraphs(handles[0], handles[1], handles[2]);
    SetTransparentColorEnabled(1);
    EXPECT_EQ(RestoreModelTextures(), 0);
    EXPECT_EQ(GetTransparentColorEnabled(), 1) << "the keying setting is put back";
    ClearDrawScreen(-2, nullptr);
    for (int i = 0; i < 3; i++) {
        DrawGraphAt(0, i * 8, handles[i], 0);
        ReleaseGraphHandle(handles[i], 0);
    }
    ScreenPixels screen = ReadScreen();
    for (int y = 0; y < 24; y++) {
        for (int x = 0; x < (y < 8 ? 8 : 256); x++) {
            uint32_t grey = ModelPictureGrey(y / 8, x);
            ASSERT_EQ(screen.At(x, y), grey << 16 | grey << 8 | grey) << "graph " << y / 8 << " at " << x << ", " << y;
        }
    }
    SetModelTextureGraphs(-1, -1, -1);
    EXPECT_EQ(RestoreModelTextures(), 0) << "graphs never made are passed over";
}

TEST(ShaderModel, VertexShaderThreeWithPixelShaderTwoIsModelTwo)
{
    StandInDirect3DSettings settings;
    settings.vertexShaderVersion = D3DVS_VERSION(3, 0), settings.pixelShaderVersion = D3DPS_VERSION(2, 0);
    InstallStandInDirect3D(settings);
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    EXPECT_EQ(GetShaderModelVersion(), 200);
    EndEngine();
    RemoveStandInDirect3D();
    EXPECT_EQ(GetShaderModelVersion(), 0) << "no Direct3D object to ask";
}

// Library objects whose destructors count themselves: motion states, rigid bodies, constraints.
int s_Deleted[3];
template <class Base, int Kind> struct Counted : Base {
    using Base::Base;
    ~Counted() override
    {
        s_Deleted[Kind]++;
    }
};

TEST(PhysicsWorld, TearDownDeletesEveryObjectThroughItsDestructor)
{
    PhysicsWorld world = {};
    EXPECT_EQ(DestroyPhysicsWorld(&world), -1) << "no dynamics world";
    EXPECT_EQ(DestroyPhysicsWorld(nullptr), -1);
    world.collisionConfiguration = new btDefaultCollisionConfiguration();
    world.dispatcher = new btCollisionDispatcher(world.collisionConfiguration);
    world.broadphase = new btDbvtBroadphase();
    world.solver = new btSequentialImpulseConstraintSolver();
    world.dynamicsWorld =
        new btDiscreteDynamicsWorld(world.dispatcher, world.broadphase, world.solver, world.collisionConfiguration);
    btSphereShape shape(1.0f);
    btRigidBody *bodies[4];
    for (int i = 0; i < 4; i++) {
        btMotionState *motion = i < 3 ? new Counted<btDefaultMotionState, 0>() : nullptr; // the last body has none
        bodies[i] = new Counted<btRigidBody, 1>(1.0f, motion, &shape, btVector3(0, 0, 0));
        bodies[i]->setWorldTransform(btTransform(btQuaternion::getIdentity(), btVector3((float)i * 3, 0, 0)));
        world.dynamicsWorld->addRigidBody(bodies[i]);
    }
    world.dynamicsWorld->addConstraint(
        new Counted<btPoint2PointConstraint, 2>(*bodies[0], *bodies[1], btVector3(1, 0, 0), btVector3(-1, 0, 0)));
    world.dynamicsWorld->stepSimulation(1.0f / 60);
    EXPECT_EQ(DestroyPhysicsWorld(&world), 0);
    EXPECT_TRUE(s_Deleted[0] == 3 && s_Deleted[1] == 4 && s_Deleted[2] == 1);
    EXPECT_TRUE(world.collisionConfiguration == nullptr && world.dispatcher == nullptr && world.broadphase == nullptr &&
                world.solver == nullptr && world.dynamicsWorld == nullptr);
    EXPECT_EQ(DestroyPhysicsWorld(&world), -1) << "taken apart once";
}

} // namespace
