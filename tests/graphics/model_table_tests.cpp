// The vertex-buffer, index-buffer, shader and model tables: every call on empty tables, data writes against a
// reference copy (device buffer and memory copy alike, before and after the device objects are made again), the
// used-end rules, the model-base slot checks, the shader model, the sine table, the built-in pictures, and the
// tear-down of a real physics world.
#include "graphics/screen_readback.h"
#include "graphics/stand_in_direct3d.h"

#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <functional>
#include <random>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> Tables;

const int BASE = HANDLE_TYPE_GRAPH;

TEST_F(Tables, EmptyTablesAnswerAsTheirRulesSayAndRefuseEveryHandle)
{
    struct Call {
        const char *name;
        std::function<int()> call;
    };
    const Call tableCalls[] = {
        {"DeleteAllVertexBuffers", DeleteAllVertexBuffers},
        {"DeleteAllIndexBuffers", DeleteAllIndexBuffers},
        {"DeleteAllShaders", DeleteAllShaders},
        {"ReleaseAllModelDeviceObjects", ReleaseAllModelDeviceObjects},
        {"RestoreAllModelBuffers", RestoreAllModelBuffers},
        {"RestoreModelTextures", RestoreModelTextures},
        {"ReleaseTableDeviceObjects", ReleaseTableDeviceObjects},
        {"RecreateTableDeviceObjects", RecreateTableDeviceObjects},
        {"TerminateModelSystem", TerminateModelSystem},
        {"InitModelSystem", InitModelSystem}, // started again for the tests below
    };
    for (const Call &row : tableCalls) {
        EXPECT_EQ(row.call(), 0) << row.name;
    }
    char bytes[64] = {};
    const std::function<int(int)> handleCalls[] = {
        DeleteVertexBuffer,
        DeleteIndexBuffer,
        DeleteShader,
        DeleteModel,
        DeleteModelBase,
        ReleaseModelBaseDeviceBuffers,
        ReleaseModelDeviceBuffers,
        [](int h) { return RestoreModelBaseBuffers(h, 1); },
        [&](int h) { return SetVertexBufferData(0, bytes, 1, h); },
        [&](int h) { return SetIndexBufferData(0, bytes, 1, h); },
    };
    const int tags[] = {HANDLE_TYPE_VERTEX_BUFFER, HANDLE_TYPE_INDEX_BUFFER, HANDLE_TYPE_SHADER, HANDLE_TYPE_MODEL,
                        HANDLE_TYPE_GRAPH};
    for (size_t i = 0; i < sizeof handleCalls / sizeof handleCalls[0]; i++) {
        for (int handle : {-1, 0, 0x7FFFFFFF}) {
            EXPECT_EQ(handleCalls[i](handle), -1) << "call " << i << " handle " << handle;
        }
        for (int tag : tags) {
            for (int slotAndCheck : {0, 1, 0x10005, 0x1FFFF}) {
                EXPECT_EQ(handleCalls[i](tag | slotAndCheck), -1) << "call " << i << " tag " << tag;
            }
        }
    }
}

// Writes of random ranges against a reference copy: a refused write changes neither the device buffer nor the copy.
template <class Record>
void SweepWrites(int tag, EngineHandle handle, int elementSize, int (*write)(int, const void *, int, EngineHandle))
{
    Record *record = (Record *)GetTableRecord(tag, handle);
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->object, nullptr) << "the device buffer was made";
    const int count = record->elementCount, bytes = count * elementSize;
    std::vector<unsigned char> reference(bytes, 0), source(bytes);
    std::mt19937 random(17);
    auto deviceBytes = [&]() {
        void *locked = nullptr;
        std::vector<unsigned char> out(bytes);
        if (SUCCEEDED(record->object->Lock(0, 0, &locked, D3DLOCK_READONLY))) {
            memcpy(out.data(), locked, bytes);
            record->object->Unlock();
        }
        return out;
    };
    for (int step = 0; step < 200; step++) {
        int first = (int)(random() % (count + 6)) - 3, n = (int)(random() % (count + 6)) - 3;
        for (unsigned char &b : source) {
            b = (unsigned char)random();
        }
        bool valid = first >= 0 && n >= 0 && first + n <= count;
        ASSERT_EQ(write(first, source.data(), n, handle), valid ? 0 : -1) << first << " + " << n;
        if (valid) {
            memcpy(reference.data() + first * elementSize, source.data(), (size_t)n * elementSize);
        }
        ASSERT_EQ(std::vector<unsigned char>(record->data, record->data + bytes), reference) << "copy, step " << step;
        ASSERT_EQ(deviceBytes(), reference) << "device buffer, step " << step;
    }
    ReleaseTableDeviceObjects();
    EXPECT_EQ(record->object, nullptr);
    RecreateTableDeviceObjects();
    ASSERT_NE(record->object, nullptr);
    EXPECT_EQ(deviceBytes(), reference) << "the rebuilt buffer holds the copy";
}

TEST_F(Tables, DataWritesReachBufferAndCopyAndSurviveARebuild)
{
    EngineHandle vertices = AddTestVertexBuffer(48, 20), indices = AddTestIndexBuffer(2, 30);
    SweepWrites<VertexBufferRecord>(HANDLE_TYPE_VERTEX_BUFFER, vertices, 48, SetVertexBufferData);
    SweepWrites<IndexBufferRecord>(HANDLE_TYPE_INDEX_BUFFER, indices, 2, SetIndexBufferData);
    EXPECT_EQ(DeleteAllVertexBuffers(), 0);
    EXPECT_EQ(DeleteAllIndexBuffers(), 0);
    EXPECT_EQ(SetVertexBufferData(0, "", 0, vertices), -1);
}

// vs_1_1: dcl_position v0; mov oPos, v0
const DWORD s_VertexShaderCode[] = {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000,
                                    0x00000001, 0xC00F0000, 0x90E40000, 0x0000FFFF};

TEST_F(Tables, UsedEndFollowsTheHighestLiveSlotInEveryTable)
{
    struct Family {
        int tag;
        std::function<EngineHandle()> add;
        int (*remove)(EngineHandle);
    } families[] = {
        {HANDLE_TYPE_VERTEX_BUFFER, [] { return AddTestVertexBuffer(4, 4); }, DeleteVertexBuffer},
        {HANDLE_TYPE_INDEX_BUFFER, [] { return AddTestIndexBuffer(2, 4); }, DeleteIndexBuffer},
        {HANDLE_TYPE_SHADER, [] { return AddTestShader(1, s_VertexShaderCode, sizeof s_VertexShaderCode); },
         DeleteShader},
    };
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
}

TEST_F(Tables, ShaderObjectsAreReleasedAndMadeAgainFromTheirCode)
{
    EngineHandle shader = AddTestShader(1, s_VertexShaderCode, sizeof s_VertexShaderCode);
    ShaderRecord *record = (ShaderRecord *)GetTableRecord(HANDLE_TYPE_SHADER, shader);
    ASSERT_NE(record->object, nullptr);
    ReleaseTableDeviceObjects();
    EXPECT_EQ(record->object, nullptr);
    RecreateTableDeviceObjects();
    EXPECT_NE(record->object, nullptr);
    EXPECT_EQ(DeleteAllShaders(), 0);
}

TEST_F(Tables, ModelBaseSlotsAreCheckedAgainstTheUsedEndBeforeTheArrayIsRead)
{
    const struct {
        int usedEnd, placeholder, slot, deleted, restored;
    } rows[] = {
        {0, -1, 0, -1, -1},      // no array at all
        {2, 1, 5, -1, -1},       // past the used end
        {2, 1, 0x1FFFF, -1, -1}, // the highest slot a handle can name
        {2, 1, 0, -1, -1},       // an empty slot
        {2, 1, 1, 0, -1},        // the placeholder is cleared, then the slot is empty
    };
    for (const auto &row : rows) {
        SetTestModelBaseSlots(row.usedEnd, row.placeholder);
        EXPECT_EQ(DeleteModelBase(BASE | row.slot), row.deleted) << row.usedEnd << " " << row.slot;
        EXPECT_EQ(RestoreModelBaseBuffers(BASE | row.slot, 1), row.restored) << row.usedEnd << " " << row.slot;
    }
    SetTestModelBaseSlots(0, -1);
}

TEST_F(Tables, SineTableAndSettingAreMadeAtModelSystemStart)
{
    EXPECT_EQ(g_SineTable[0], 0.0f);
    EXPECT_EQ(g_SineTable[16384], 1.0f);
    EXPECT_EQ(g_SineTable[49152], -1.0f);
    for (int i = 0; i < SINE_TABLE_SIZE; i++) {
        ASSERT_NEAR(g_SineTable[i], std::sin(i * 2.0 * 3.14159265358979323846 / SINE_TABLE_SIZE), 2e-6) << i;
    }
    EXPECT_EQ(g_ModelAngleLimit, 1.5620697f);
    EXPECT_EQ(GetShaderModelVersion(), 300) << "Wine's device has shader model 3";
}

TEST_F(Tables, ModelTexturesComeBackFromTheBuiltinPicturesAndTheRamp)
{
    // Grey at x of each graph, every row alike.
    const struct {
        int width;
        std::function<uint32_t(int)> greyAt;
    } graphs[] = {{8, [](int) { return 255u; }},
                  {256, [](int x) { return 64u * (x / 64 + 1) - (x >= 192 ? 1 : 0); }},
                  {256, [](int x) { return (uint32_t)x; }}};
    EngineHandle handles[3];
    for (int i = 0; i < 3; i++) {
        handles[i] = MakeEmptyGraph(graphs[i].width, 8);
    }
    SetModelTextureGraphs(handles[0], handles[1], handles[2]);
    SetTransparentColorEnabled(1);
    EXPECT_EQ(RestoreModelTextures(), 0);
    EXPECT_EQ(GetTransparentColorEnabled(), 1) << "the keying setting is put back";
    for (int i = 0; i < 3; i++) {
        ClearDrawScreen(-2, nullptr);
        DrawGraphAt(0, 0, handles[i], 0);
        ScreenPixels screen = ReadScreen();
        for (int y = 0; y < 8; y++) {
            for (int x = 0; x < graphs[i].width; x++) {
                uint32_t grey = graphs[i].greyAt(x);
                ASSERT_EQ(screen.At(x, y), grey << 16 | grey << 8 | grey) << "graph " << i << " at " << x << ", " << y;
            }
        }
        ReleaseGraphHandle(handles[i], 0);
    }
    SetModelTextureGraphs(-1, -1, -1);
    EXPECT_EQ(RestoreModelTextures(), 0) << "graphs never made are passed over";
}

TEST(ShaderModel, VertexShaderThreeWithPixelShaderTwoIsModelTwo)
{
    StandInDirect3DSettings settings;
    settings.vertexShaderVersion = D3DVS_VERSION(3, 0);
    settings.pixelShaderVersion = D3DPS_VERSION(2, 0);
    InstallStandInDirect3D(settings);
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    EXPECT_EQ(GetShaderModelVersion(), 200);
    EndEngine();
    RemoveStandInDirect3D();
    EXPECT_EQ(GetShaderModelVersion(), 0) << "no Direct3D object to ask";
}

// Library objects whose destructors count themselves.
int s_MotionStatesDeleted, s_BodiesDeleted, s_ConstraintsDeleted;
struct CountedMotionState : btDefaultMotionState {
    ~CountedMotionState() override
    {
        s_MotionStatesDeleted++;
    }
};
struct CountedBody : btRigidBody {
    using btRigidBody::btRigidBody;
    ~CountedBody() override
    {
        s_BodiesDeleted++;
    }
};
struct CountedJoint : btPoint2PointConstraint {
    using btPoint2PointConstraint::btPoint2PointConstraint;
    ~CountedJoint() override
    {
        s_ConstraintsDeleted++;
    }
};

TEST(PhysicsWorld, TearDownDeletesEveryObjectThroughItsDestructor)
{
    PhysicsWorld world = {};
    EXPECT_EQ(DestroyPhysicsWorld(&world), -1) << "no dynamics world";
    EXPECT_EQ(DestroyPhysicsWorld(nullptr), -1);
    btDefaultCollisionConfiguration *configuration = new btDefaultCollisionConfiguration();
    world.collisionConfiguration = configuration;
    world.dispatcher = new btCollisionDispatcher(configuration);
    world.broadphase = new btDbvtBroadphase();
    world.solver = new btSequentialImpulseConstraintSolver();
    world.dynamicsWorld = new btDiscreteDynamicsWorld(world.dispatcher, world.broadphase, world.solver, configuration);
    btSphereShape shape(1.0f);
    btRigidBody *bodies[4];
    for (int i = 0; i < 4; i++) {
        btMotionState *motion = i < 3 ? new CountedMotionState() : nullptr; // the last body has none
        bodies[i] = new CountedBody(1.0f, motion, &shape, btVector3(0, 0, 0));
        bodies[i]->setWorldTransform(btTransform(btQuaternion::getIdentity(), btVector3((float)i * 3, 0, 0)));
        world.dynamicsWorld->addRigidBody(bodies[i]);
    }
    world.dynamicsWorld->addConstraint(
        new CountedJoint(*bodies[0], *bodies[1], btVector3(1, 0, 0), btVector3(-1, 0, 0)));
    world.dynamicsWorld->stepSimulation(1.0f / 60);
    EXPECT_EQ(DestroyPhysicsWorld(&world), 0);
    EXPECT_EQ(s_MotionStatesDeleted, 3);
    EXPECT_EQ(s_BodiesDeleted, 4);
    EXPECT_EQ(s_ConstraintsDeleted, 1);
    EXPECT_TRUE(world.collisionConfiguration == nullptr && world.dispatcher == nullptr && world.broadphase == nullptr &&
                world.solver == nullptr && world.dynamicsWorld == nullptr);
    EXPECT_EQ(DestroyPhysicsWorld(&world), -1) << "taken apart once";
}

} // namespace
