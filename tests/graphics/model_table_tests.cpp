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
#include <map>
#include <string>
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

// A black picture the size of each graph, put over it.
void BlackenGraph(EngineHandle graph)
{
    int width, height;
    QueryGraphSize(graph, &width, &height);
    BaseImage black = {};
    NewXRGB8BaseImage(width, height, &black);
    memset(black.pixels, 0, (size_t)black.pitch * height);
    UploadImageToGraph(&black, nullptr, 0, 0, graph);
    FreeBaseImageData(&black);
}

// The graph drawn at the screen's top-left corner, read back.
ScreenPixels DrawnGraph(EngineHandle graph, int transparent = 0)
{
    ClearDrawScreen(-2, nullptr);
    DrawGraphAt(0, 0, graph, transparent);
    return ReadScreen();
}

TEST_F(Tables, SineTableSettingAndModelTexturesAreMadeAtModelSystemStart)
{
    EXPECT_TRUE(g_SineTable[0] == 0.0f && g_SineTable[16384] == 1.0f && g_SineTable[49152] == -1.0f);
    for (int i = 0; i < SINE_TABLE_SIZE; i++) {
        ASSERT_NEAR(g_SineTable[i], std::sin(i * 2.0 * 3.14159265358979323846 / SINE_TABLE_SIZE), 2e-6) << i;
    }
    EXPECT_EQ(g_ModelAngleLimit, 1.5620697f);
    EXPECT_EQ(GetShaderModelVersion(), 300) << "Wine's device has shader model 3";
    // Made at the start, made again by the restore into the same handles after blackening, and made anew at a restart
    // with keying on and white (in both pictures) as the transparent colour: drawn with transparency, no pixel is
    // keyed out.
    SetTransparentColorEnabled(1);
    for (int pass = 0; pass < 3; pass++) {
        if (pass == 2) {
            SetGraphTransparentColor(255, 255, 255);
            EXPECT_TRUE(TerminateModelSystem() == 0 && InitModelSystem() == 0);
        }
        EngineHandle graphs[3];
        GetModelSystemTextures(graphs);
        for (int i = 0; i < 3; i++) {
            ScreenPixels screen = DrawnGraph(graphs[i], 1);
            for (int y = 0; y < 8; y++) {
                for (int x = 0; x < (i == 0 ? 8 : 256); x++) {
                    uint32_t grey = ModelPictureGrey(i, x);
                    ASSERT_EQ(screen.At(x, y), grey << 16 | grey << 8 | grey) << pass << " graph " << i << " " << x;
                }
            }
            BlackenGraph(graphs[i]);
        }
        EXPECT_EQ(RestoreModelTextures(), 0);
        EXPECT_EQ(GetTransparentColorEnabled(), 1) << "the keying setting is put back";
    }
    SetGraphTransparentColor(0, 0, 0);
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

// Library objects whose destructors count themselves: motion states, rigid bodies, constraints, dynamics worlds.
int s_Deleted[4];
template <class Base, int Kind> struct Counted : Base {
    using Base::Base;
    ~Counted() override
    {
        s_Deleted[Kind]++;
    }
};

void MakeWorld(PhysicsWorld *world)
{
    world->collisionConfiguration = new btDefaultCollisionConfiguration();
    world->dispatcher = new btCollisionDispatcher(world->collisionConfiguration);
    world->broadphase = new btDbvtBroadphase();
    world->solver = new btSequentialImpulseConstraintSolver();
    world->dynamicsWorld = new Counted<btDiscreteDynamicsWorld, 3>(world->dispatcher, world->broadphase, world->solver,
                                                                   world->collisionConfiguration);
}

TEST(PhysicsWorld, TearDownDeletesEveryObjectThroughItsDestructor)
{
    PhysicsWorld world = {};
    EXPECT_EQ(DestroyPhysicsWorld(&world), -1) << "no dynamics world";
    EXPECT_EQ(DestroyPhysicsWorld(nullptr), -1);
    MakeWorld(&world);
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

// A 24-bit top-down TGA file of 0xRRGGBB pixels.
std::vector<unsigned char> TgaFile(int width, int height, const std::vector<uint32_t> &pixels)
{
    std::vector<unsigned char> file(18, 0);
    file[2] = 2, file[12] = (unsigned char)width, file[14] = (unsigned char)height, file[16] = 24, file[17] = 0x20;
    for (uint32_t pixel : pixels) {
        file.insert(file.end(), {(unsigned char)pixel, (unsigned char)(pixel >> 8), (unsigned char)(pixel >> 16)});
    }
    return file;
}

uint32_t PixelOf(const unsigned char *level, int width, int x, int y)
{
    return ((const uint32_t *)level)[y * width + x];
}

// Straight from the rules: the normal from the grey slopes to the right and downwards, wrapping; each mip level
// the 2 x 2 (or 2 x 1) mean of the one before, per channel, rounded down.
uint32_t ReferenceNormal(const std::vector<uint32_t> &pixels, int width, int height, int x, int y, double bump)
{
    auto grey = [&](int px, int py) {
        uint32_t p = pixels[(py % height) * width + px % width];
        return ((p >> 16 & 255) + (p >> 8 & 255) + (p & 255)) / 3.0;
    };
    double h = std::max(bump, 0.000001);
    double n[3] = {(grey(x, y) - grey(x + 1, y)) / 255 * h, (grey(x, y) - grey(x, y + 1)) / 255 * h, 1};
    double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return 0xFF000000u | (uint32_t)((n[0] / length + 1) * 127.5) << 16 | (uint32_t)((n[1] / length + 1) * 127.5) << 8 |
           (uint32_t)((n[2] / length + 1) * 127.5);
}

bool ChannelsNear(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs((int)(a >> shift & 255) - (int)(b >> shift & 255)) > tolerance) {
            return false;
        }
    }
    return true;
}

void ExpectMipChain(const BaseImage &image, int mip, const char *what)
{
    int levels = 1;
    while ((image.width >> (levels - 1)) > 1 || (image.height >> (levels - 1)) > 1) {
        levels++;
    }
    ASSERT_EQ(image.mipCount, mip ? levels : 0) << what;
    const unsigned char *level = image.pixels;
    for (int i = 1, w = image.width, h = image.height; i < image.mipCount; i++) {
        const unsigned char *next = level + (size_t)w * h * 4;
        int sx = w > 1 ? 2 : 1, sy = h > 1 ? 2 : 1;
        for (int y = 0; y < h / sy; y++) {
            for (int x = 0; x < w / sx; x++) {
                uint32_t expected = 0;
                for (int shift = 0; shift < 32; shift += 8) {
                    uint32_t sum = 0;
                    for (int k = 0; k < sx * sy; k++) {
                        sum += PixelOf(level, w, x * sx + k % sx, y * sy + k / sx) >> shift & 255;
                    }
                    expected |= sum / (sx * sy) << shift;
                }
                ASSERT_EQ(PixelOf(next, w / sx, x, y), expected) << what << " level " << i << " " << x << "," << y;
            }
        }
        level = next, w /= sx, h /= sy;
    }
}

int PowerOfTwoAtLeast(int size)
{
    return size <= 1 ? 1 : 2 * PowerOfTwoAtLeast((size + 1) / 2);
}

TEST_F(Tables, MaterialImagesFollowTheBumpWideningAndMipRules)
{
    std::mt19937 random(5);
    const int realMaxWidth = g_D3D.maxTextureWidth, realMaxHeight = g_D3D.maxTextureHeight;
    for (int round = 0; round < 60; round++) {
        // Two rounds in three have sides that are powers of two already, so that their pixels can be compared.
        auto side = [&] { return round % 3 ? 1 << random() % 5 : 1 + (int)(random() % 24); };
        int width = side(), height = side(), bump = round % 2, mip = round / 2 % 2, sources = 1 + round / 4 % 3;
        g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = round % 5 == 0 ? 16 : realMaxWidth;
        float bumpHeight = round % 7 == 0 ? -1.0f : (float)(random() % 400) / 10.0f;
        std::vector<uint32_t> colors(width * height, 0xFFFFFF), alphas(width * height);
        for (int i = 0; i < width * height; i++) {
            colors[i] = sources & 1 ? random() & 0xFFFFFF : colors[i]; // without a colour file: white
            alphas[i] = (random() & 0xFF) * 0x010101u;
        }
        std::vector<unsigned char> colorFile = TgaFile(width, height, colors),
                                   alphaFile = TgaFile(width, height, alphas);
        ModelImageFile color = {colorFile.data(), (int)colorFile.size()},
                       alpha = {alphaFile.data(), (int)alphaFile.size()};
        BaseImage outColor, outAlpha;
        int blocks = GetAllocationCount();
        ASSERT_EQ(BuildModelMaterialImage(&outColor, &outAlpha, sources & 1 ? &color : nullptr,
                                          sources & 2 ? &alpha : nullptr, bump, bumpHeight, mip),
                  0);
        bool widened = PowerOfTwoAtLeast(width) != width || PowerOfTwoAtLeast(height) != height;
        auto widen = [&](int side) {
            return widened ? std::min(PowerOfTwoAtLeast(side), g_D3D.maxTextureWidth / 2) : side;
        };
        int expectedWidth = widen(width), expectedHeight = widen(height);
        std::string what = "round " + std::to_string(round);
        ASSERT_TRUE(outColor.width == expectedWidth && outColor.height == expectedHeight) << what;
        ASSERT_EQ(outAlpha.pixels != nullptr, (sources & 2) != 0) << what;
        ASSERT_TRUE(!outAlpha.pixels || (outAlpha.width == expectedWidth && outAlpha.height == expectedHeight));
        for (int i = 0; !widened && i < width * height; i++) {
            int x = i % width, y = i / width;
            uint32_t expected =
                bump ? ReferenceNormal(colors, width, height, x, y, bumpHeight) : 0xFF000000u | colors[i];
            ASSERT_TRUE(ChannelsNear(PixelOf(outColor.pixels, width, x, y), expected, bump)) << what << " " << i;
            ASSERT_TRUE(!outAlpha.pixels || PixelOf(outAlpha.pixels, width, x, y) == (0xFF000000u | alphas[i]));
        }
        ExpectMipChain(outColor, mip, what.c_str());
        if (sources & 2) {
            ExpectMipChain(outAlpha, mip, what.c_str());
        }
        FreeBaseImageData(&outColor);
        FreeBaseImageData(&outAlpha);
        ASSERT_EQ(GetAllocationCount(), blocks) << what;
    }
    g_D3D.maxTextureWidth = realMaxWidth, g_D3D.maxTextureHeight = realMaxHeight;
    // Exact normal maps of two pixels: a flat picture gives (0, 0, 1) scaled to (127, 127, 255), and so does a
    // white-to-black step with a height below the floor.
    const struct {
        uint32_t left, right;
        float bumpHeight;
        uint32_t expected[2];
    } exact[] = {{0x808080, 0x808080, 3.0f, {0xFF7F7FFF, 0xFF7F7FFF}},
                 {0xFFFFFF, 0x000000, -40.0f, {0xFF7F7FFF, 0xFF7F7FFF}}};
    for (const auto &row : exact) {
        std::vector<unsigned char> file = TgaFile(2, 1, {row.left, row.right});
        ModelImageFile color = {file.data(), (int)file.size()};
        BaseImage outColor, outAlpha;
        ASSERT_EQ(BuildModelMaterialImage(&outColor, &outAlpha, &color, nullptr, 1, row.bumpHeight, 0), 0);
        EXPECT_TRUE(PixelOf(outColor.pixels, 2, 0, 0) == row.expected[0] &&
                    PixelOf(outColor.pixels, 2, 1, 0) == row.expected[1])
            << row.bumpHeight << std::hex << " " << PixelOf(outColor.pixels, 2, 0, 0) << " "
            << PixelOf(outColor.pixels, 2, 1, 0);
        FreeBaseImageData(&outColor);
    }
    // No source, or a file no loader takes: -1, and nothing is left behind.
    unsigned char junk[40] = {1, 2, 3};
    ModelImageFile bad = {junk, sizeof junk};
    BaseImage outColor, outAlpha;
    int blocks = GetAllocationCount();
    EXPECT_EQ(BuildModelMaterialImage(&outColor, &outAlpha, nullptr, nullptr, 0, 1.0f, 0), -1);
    EXPECT_EQ(BuildModelMaterialImage(&outColor, &outAlpha, &bad, nullptr, 1, 1.0f, 1), -1);
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// The model vertex declarations' base element lists (offset, type, usage, usage index), row [three normals][bone
// sets], with the base size: texture set i follows at base size + 16 i as four floats.
struct DeclarationElement {
    int offset, type, usage, index;
};
struct DeclarationRow {
    std::vector<DeclarationElement> elements;
    int size;
};
const int F3 = D3DDECLTYPE_FLOAT3, F4 = D3DDECLTYPE_FLOAT4, C = D3DDECLTYPE_D3DCOLOR, U4 = D3DDECLTYPE_UBYTE4;
const int POS = D3DDECLUSAGE_POSITION, IND = D3DDECLUSAGE_BLENDINDICES, WGT = D3DDECLUSAGE_BLENDWEIGHT,
          NRM = D3DDECLUSAGE_NORMAL, COL = D3DDECLUSAGE_COLOR;
// clang-format off
const DeclarationRow s_DeclarationRows[2][3] = {
    {{{{0, F3, POS, 0}, {12, F3, NRM, 0}, {24, C, COL, 0}, {28, C, COL, 1}}, 32},
     {{{0, F3, POS, 0}, {12, U4, IND, 0}, {16, F4, WGT, 0}, {32, F3, NRM, 0}, {44, C, COL, 0}, {48, C, COL, 1}}, 52},
     {{{0, F3, POS, 0}, {12, U4, IND, 0}, {16, U4, IND, 1}, {20, F4, WGT, 0}, {36, F4, WGT, 1}, {52, F3, NRM, 0},
       {64, C, COL, 0}, {68, C, COL, 1}}, 72}},
    {{{{0, F3, POS, 0}, {12, F3, NRM, 0}, {24, F3, NRM, 1}, {36, F3, NRM, 2}, {48, C, COL, 0}, {52, C, COL, 1}}, 56},
     {{{0, F3, POS, 0}, {12, U4, IND, 0}, {16, F4, WGT, 0}, {32, F3, NRM, 0}, {44, F3, NRM, 1}, {56, F3, NRM, 2},
       {68, C, COL, 0}, {72, C, COL, 1}}, 76},
     {{{0, F3, POS, 0}, {12, U4, IND, 0}, {16, U4, IND, 1}, {20, F4, WGT, 0}, {36, F4, WGT, 1}, {52, F3, NRM, 0},
       {64, F3, NRM, 1}, {76, F3, NRM, 2}, {88, C, COL, 0}, {92, C, COL, 1}}, 96}}};
// clang-format on

// The bytes of one vertex of a list as its declaration row reads them: position, the bone numbers and weights of
// each set, normal, tangent and binormal, diffuse and specular, and each texture set as (u, v, 1, 1).
std::vector<unsigned char> ReferenceVertex(const ModelVertex &v, int bump, int skinKind, int vertexKind)
{
    const DeclarationRow &row = s_DeclarationRows[bump][skinKind];
    std::vector<unsigned char> out(row.size + 16 * (vertexKind + 1));
    const float *normals[3] = {v.normal, v.tangent, v.binormal};
    for (const DeclarationElement &e : row.elements) {
        const void *source = e.usage == POS   ? (const void *)v.position
                             : e.usage == IND ? (const void *)(v.bones + 4 * e.index)
                             : e.usage == WGT ? (const void *)(v.weights + 4 * e.index)
                             : e.usage == NRM ? (const void *)normals[e.index]
                             : e.index == 0   ? (const void *)&v.diffuse
                                              : (const void *)&v.specular;
        memcpy(&out[e.offset], source, e.type == F3 ? 12 : e.type == F4 ? 16 : 4);
    }
    for (int set = 0; set <= vertexKind; set++) {
        const float uv[4] = {v.uv[set][0], v.uv[set][1], 1.0f, 1.0f};
        memcpy(&out[row.size + 16 * set], uv, 16);
    }
    return out;
}

// One list's buffers as the rule builds them: vertex and index totals, and the meshes in each.
struct ReferenceBuffer {
    int vertices = 0, indices = 0;
    std::vector<int> meshes;
};
typedef std::map<int, std::vector<ReferenceBuffer>> ReferenceLists; // key: skin * 18 + bump * 9 + kind

ReferenceLists GroupMeshes(const std::vector<TestModelMesh> &meshes, const int *bump, bool shaders)
{
    ReferenceLists lists;
    for (int i = 0; i < (int)meshes.size(); i++) {
        const TestModelMesh &m = meshes[i];
        if (m.skinKind != 0 && !shaders) {
            continue;
        }
        std::vector<ReferenceBuffer> &list = lists[m.skinKind * 18 + bump[m.material] * 9 + m.vertexKind];
        if (list.empty() || list.back().vertices + m.vertexCount >= 0x60000 ||
            list.back().indices + m.indexCount >= 0xC0000) {
            list.emplace_back(); // a mesh that takes a buffer to a limit starts the next one
        }
        list.back().meshes.push_back(i);
        list.back().vertices += m.vertexCount, list.back().indices += m.indexCount;
    }
    return lists;
}

// The lists' buffers group and split the meshes as the rule does, and hold each mesh's vertices and indices where
// the mesh says.
void ExpectBuffers(EngineHandle handle, const std::vector<TestModelMesh> &meshes, const int *bump, bool shaders)
{
    ModelBaseRecord *base = GetModelBase(handle);
    ReferenceLists expected = GroupMeshes(meshes, bump, shaders);
    int buffers = 0;
    for (int list = 0; list < MODEL_BUFFER_LIST_COUNT; list++) {
        ModelBufferPair *pair = (&base->bufferLists[0][0][0])[list];
        int skinKind = list / 18, bumpKind = list / 9 % 2, vertexKind = list % 9;
        for (const ReferenceBuffer &reference : expected[list]) {
            ASSERT_NE(pair, nullptr) << "list " << list;
            EXPECT_TRUE(pair->vertexCount == reference.vertices && pair->indexCount == reference.indices) << list;
            unsigned char *vertices, *indices;
            ASSERT_TRUE(SUCCEEDED(pair->vertexBuffer->Lock(0, 0, (void **)&vertices, D3DLOCK_READONLY)) &&
                        SUCCEEDED(pair->indexBuffer->Lock(0, 0, (void **)&indices, D3DLOCK_READONLY)));
            int vertex = 0, index = 0;
            for (int m : reference.meshes) {
                const ModelMesh &mesh = base->meshes[m];
                EXPECT_TRUE(mesh.buffer == pair && mesh.bufferVertex == vertex && mesh.bufferIndex == index) << m;
                for (int v = 0; v < mesh.vertexCount; v++) {
                    std::vector<unsigned char> bytes =
                        ReferenceVertex(base->vertices[mesh.firstVertex + v], bumpKind, skinKind, vertexKind);
                    ASSERT_EQ((int)bytes.size(), pair->vertexSize);
                    ASSERT_EQ(memcmp(vertices + (size_t)(vertex + v) * bytes.size(), bytes.data(), bytes.size()), 0)
                        << "mesh " << m << " vertex " << v;
                }
                EXPECT_EQ(memcmp(indices + 2 * index, base->indices + mesh.firstIndex, 2 * mesh.indexCount), 0) << m;
                vertex += mesh.vertexCount, index += mesh.indexCount;
            }
            pair->vertexBuffer->Unlock();
            pair->indexBuffer->Unlock();
            pair = pair->next, buffers++;
        }
        EXPECT_EQ(pair, nullptr) << "no more buffers in list " << list;
    }
    EXPECT_EQ(base->bufferCount, buffers);
}

std::vector<TestModelMesh> RandomMeshes(std::mt19937 &random, int count)
{
    std::vector<TestModelMesh> meshes;
    for (int i = 0; i < count; i++) {
        meshes.push_back({(int)(random() % 2), (int)(random() % 3), (int)(random() % 3) * 4, 1 + (int)(random() % 40),
                          3 + (int)(random() % 60), (int)(random() % 2)});
    }
    return meshes;
}

const TestModelMaterial s_PlainMaterials[2] = {{}, {nullptr, nullptr, 0, 0, 1, 1.0f, 0}};
const int s_Bump[2] = {0, 1};

TEST_F(Tables, BaseBuffersGroupSplitAndFillAsTheRulesSay)
{
    std::mt19937 random(9);
    std::vector<TestModelMesh> meshes = RandomMeshes(random, 40);
    for (int kind = 0; kind < MODEL_BUFFER_LIST_COUNT; kind++) { // a mesh of every bump, skin and vertex kind
        meshes.push_back({kind / 27, kind / 9 % 3, kind % 9, 2, 3, 0});
    }
    EngineHandle small = AddTestModelBase(meshes.data(), (int)meshes.size(), s_PlainMaterials, 2, 3, 0, 1);
    ASSERT_NE(small, -1);
    const int realShaders = g_StateCache.shadersAvailable;
    for (int shaders : {0, 1}) {
        g_StateCache.shadersAvailable = shaders;
        ASSERT_EQ(RestoreModelBaseBuffers(small, 0), 0);
        ExpectBuffers(small, meshes, s_Bump, shaders);
        ASSERT_EQ(ReleaseModelBaseDeviceBuffers(small), 0);
    }
    g_StateCache.shadersAvailable = realShaders;
    // Every creation and lock step failing in turn: -1, and nothing is left of the buffers.
    int blocks = GetAllocationCount(), steps = 0;
    for (int step = 1;; step++) {
        SetModelBufferFailureStep(step);
        int result = RestoreModelBaseBuffers(small, 0);
        SetModelBufferFailureStep(0);
        if (result == 0) {
            break;
        }
        ModelBaseRecord *base = GetModelBase(small);
        ASSERT_TRUE(base->bufferCount == 0 && !base->buffersPresent && GetAllocationCount() == blocks) << step;
        for (int list = 0; list < MODEL_BUFFER_LIST_COUNT; list++) {
            ASSERT_EQ((&base->bufferLists[0][0][0])[list], nullptr) << step;
        }
        steps++;
    }
    EXPECT_EQ(steps, 4 * GetModelBase(small)->bufferCount) << "two creations and two locks a buffer";
    // The splits: five 65536-vertex meshes and one of 65535 stay one below the vertex limit, and one more vertex
    // reaches it; 300000-index meshes pass the index limit with the third; indices one below the limit stay in one
    // buffer, and a mesh that brings them to the limit exactly starts the next; a mesh alone at the index limit has a
    // buffer of its own, and so has the next one.
    std::vector<TestModelMesh> big;
    for (int vertices : {65536, 65536, 65536, 65536, 65536, 65535, 1}) {
        big.push_back({0, 0, 0, vertices, 3, 0});
    }
    for (int i = 0; i < 3; i++) {
        big.push_back({1, 2, 8, 4, 300000, 0});
    }
    for (int indices : {0xBFFFE, 1, 0xBFFFF, 1}) {
        big.push_back({0, 1, 3, 3, indices, 0});
    }
    big.push_back({1, 1, 5, 3, 0xC0000, 0});
    big.push_back({1, 1, 5, 3, 3, 0});
    EngineHandle large = AddTestModelBase(big.data(), (int)big.size(), s_PlainMaterials, 2, 0, 0, 2);
    ASSERT_EQ(RestoreModelBaseBuffers(large, 0), 0);
    ExpectBuffers(large, big, s_Bump, true);
    EXPECT_EQ(GetModelBase(large)->bufferCount, 9);
    EXPECT_TRUE(DeleteModelBase(small) == 0 && DeleteModelBase(large) == 0);
}

TEST_F(Tables, ModelsGetTheirOwnBuffersAndEverythingGoesBackAfterDeviceLoss)
{
    std::mt19937 random(3);
    std::vector<TestModelMesh> meshes = RandomMeshes(random, 30);
    EngineHandle base = AddTestModelBase(meshes.data(), (int)meshes.size(), s_PlainMaterials, 2, 2, 0, 4);
    ASSERT_EQ(RestoreModelBaseBuffers(base, 0), 0);
    EngineHandle models[2] = {AddTestModel(base, nullptr, nullptr), AddTestModel(base, nullptr, nullptr)};
    for (int pass = 0; pass < 2; pass++) {
        ModelBaseRecord *record = GetModelBase(base);
        std::vector<const ModelBufferPair *> pairs; // the pairs holding a mesh each model changes, in mesh order
        for (int m = 0; m < record->meshCount; m++) {
            const ModelMesh &mesh = record->meshes[m];
            int own = (int)(std::find(pairs.begin(), pairs.end(), mesh.buffer) - pairs.begin());
            if (mesh.perModelVertices && own == (int)pairs.size()) {
                pairs.push_back(mesh.buffer);
            }
            ASSERT_EQ(mesh.instanceBuffer, mesh.perModelVertices ? own : -1) << "mesh " << m;
        }
        for (EngineHandle handle : models) {
            ModelRecord *model = GetModel(handle);
            ASSERT_EQ(model->instanceBufferCount, (int)pairs.size());
            for (int i = 0; i < model->instanceBufferCount; i++) {
                D3DVERTEXBUFFER_DESC desc;
                model->instanceBuffers[i].vertexBuffer->GetDesc(&desc);
                EXPECT_TRUE(desc.Size == (UINT)(pairs[i]->vertexCount * pairs[i]->vertexSize) &&
                            desc.FVF == pairs[i]->vertexFormat && (desc.Usage & D3DUSAGE_DYNAMIC))
                    << "pass " << pass << " buffer " << i;
            }
        }
        ReleaseAllModelDeviceObjects();
        EXPECT_TRUE(!GetModelBase(base)->buffersPresent && GetModel(models[0])->instanceBufferCount == 0);
        RestoreAllModelBuffers();
    }
    EXPECT_TRUE(ReleaseModelDeviceBuffers(models[1]) == 0 && GetModel(models[1])->instanceBufferCount == 0);
    EXPECT_TRUE(CreateModelInstanceBuffers(models[1]) == 0 && GetModel(models[1])->instanceBufferCount > 0);
    TerminateModelSystem(); // deletes the models and then the base
    InitModelSystem();
    EXPECT_EQ(GetModel(models[0]), nullptr);
}

TEST_F(Tables, DeletionFreesEveryRecordAndTexturesComeBackFromTheirFiles)
{
    std::mt19937 random(11);
    std::vector<uint32_t> pixels[2];
    std::vector<unsigned char> files[2];
    for (int i = 0; i < 2; i++) {
        for (int k = 0; k < 64; k++) {
            pixels[i].push_back(random() & 0xFFFFFF);
        }
        files[i] = TgaFile(8, 8, pixels[i]);
    }
    TestModelMaterial materials[2] = {
        {files[0].data(), nullptr, (int)files[0].size(), 0, 0, 1.0f, 0},
        {files[0].data(), files[1].data(), (int)files[0].size(), (int)files[1].size(), 1, 2.0f, 1}};
    TestModelMaterial own = {files[1].data(), nullptr, (int)files[1].size(), 0, 0, 1.0f, 0};
    std::vector<TestModelMesh> meshes = RandomMeshes(random, 12);
    // The tables' slot arrays come with their first records and stay: made before the count is taken.
    EngineHandle first = AddTestModelBase(meshes.data(), 1, s_PlainMaterials, 2, 0, 0, 0);
    ASSERT_TRUE(DeleteModel(AddTestModel(first, nullptr, nullptr)) == 0 && DeleteModelBase(first) == 0);
    int blocks = GetAllocationCount();
    EngineHandle base = AddTestModelBase(meshes.data(), (int)meshes.size(), materials, 2, 4, 1, 6);
    ASSERT_EQ(RestoreModelBaseBuffers(base, 0), 0);
    auto *physics = (PhysicsWorld *)ENGINE_ALLOC_ZEROED(sizeof(PhysicsWorld));
    MakeWorld(physics);
    physics->bodyCount = 2;
    physics->bodies = (PhysicsBodyRecord *)ENGINE_ALLOC_ZEROED(sizeof(PhysicsBodyRecord) * 2);
    EngineHandle models[2] = {AddTestModel(base, &own, nullptr), AddTestModel(base, nullptr, physics)};
    EngineHandle graphs[3] = {GetModelBase(base)->materials[0].texture.graph,
                              GetModel(models[0])->instanceTextures[1].texture.graph,
                              GetModelBase(base)->materials[1].texture.graph};
    // Blackened, then made again from the files: the material's picture and the model's own.
    BlackenGraph(graphs[0]);
    BlackenGraph(graphs[1]);
    EXPECT_EQ(RestoreModelTextures(), 0);
    for (int i = 0; i < 2; i++) {
        ScreenPixels screen = DrawnGraph(graphs[i]);
        for (int k = 0; k < 64; k++) {
            ASSERT_EQ(screen.At(k % 8, k / 8), pixels[i][k]) << "graph " << i << " pixel " << k;
        }
    }
    // The base goes with its last reference; every block and graph goes with it.
    EXPECT_EQ(DeleteModelBase(base), 0);
    EXPECT_NE(GetModelBase(base), nullptr) << "two models still hold it";
    const int worlds = s_Deleted[3];
    EXPECT_TRUE(DeleteModel(models[1]) == 0 && DeleteModel(models[1]) == -1);
    EXPECT_EQ(s_Deleted[3], worlds + 1) << "its physics world torn down (the record itself is freed)";
    EXPECT_EQ(DeleteModel(models[0]), 0);
    EXPECT_EQ(GetModelBase(base), nullptr);
    for (EngineHandle graph : graphs) {
        EXPECT_FALSE(IsGraphHandle(graph));
    }
    EXPECT_EQ(GetAllocationCount(), blocks);
}

} // namespace
