// The built-in shader packs on the 32-bit device: start-up makes the standard shaders, the declarations and the
// brightness volume; the standard shaders draw the colour their rule gives (checked against a model over random
// constants); the image is unpacked once; synthetic packs index slot by slot and inconsistent ones are refused with
// drawing going on without shaders; a device below shader model 2.0 never unpacks.
#include "tests/graphics/log_reading.h"
#include "tests/graphics/screen_readback.h"
#include "tests/graphics/stand_in_direct3d.h"
#include "tools/qva_writer.h"

#include <math.h>
#include <random>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> ShaderPacks;

const int kStandardSlots = 23296 * 6, kPixelFirstSlot = 16384 * 6, kMixSlots = 64 * 4;
const char *const kInUse = "プログラマブルシェーダーを使用します";
const char *const kNotInUse = "プログラマブルシェーダーを使用しません";

std::vector<uint8_t> Packed(const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> packed;
    std::string error;
    EXPECT_TRUE(PackArchiveData(data.data(), data.size(), &packed, &error)) << error;
    return packed;
}

// A pack from its slot counts: the u16 header, then every block's bytes (random, or a token stream when given).
std::vector<uint8_t> MakePack(const std::vector<uint16_t> &counts, std::mt19937 &random)
{
    std::vector<uint8_t> pack;
    for (uint16_t count : counts) {
        pack.push_back((uint8_t)count);
        pack.push_back((uint8_t)(count >> 8));
    }
    for (uint16_t count : counts) {
        for (int i = 0; i < count; i++) {
            pack.push_back((uint8_t)random());
        }
    }
    return pack;
}

// The packed archive image holding the packs given (an empty vector leaves that name out).
std::vector<uint8_t> MakeImage(const std::vector<uint8_t> &standard, const std::vector<uint8_t> &mix)
{
    std::vector<QvaWriterEntry> entries;
    if (!standard.empty()) {
        entries.push_back({"QvShaderPack.bin", false, Packed(standard)});
    }
    if (!mix.empty()) {
        entries.push_back({"QvRgbaMixShaderPack.bin", false, Packed(mix)});
    }
    std::vector<uint8_t> archive;
    std::string error;
    EXPECT_TRUE(WriteQvaArchive(entries, QvaWriterOptions(), &archive, &error)) << error;
    return Packed(archive);
}

int LoadPackImage(const std::vector<uint8_t> &image)
{
    ReleaseShaderPacks();
    SetShaderPackImage(image.data(), (unsigned int)image.size());
    int loaded = LoadShaderPacks();
    SetShaderPackImage(NULL, 0);
    return loaded;
}

// Every slot's lookup against the rule: null for a zero count, else the bytes at the running offset of the pack.
void ExpectIndexed(const std::vector<uint8_t> &pack, int slots, bool standard)
{
    size_t offset = (size_t)slots * 2;
    for (int slot = 0; slot < slots; slot++) {
        int count = pack[slot * 2] | pack[slot * 2 + 1] << 8, size = -1;
        const unsigned char *code = !standard                ? GetMixShaderCode(slot, &size)
                                    : slot < kPixelFirstSlot ? GetStandardShaderCode(0, slot, &size)
                                                             : GetStandardShaderCode(1, slot - kPixelFirstSlot, &size);
        ASSERT_EQ(code == NULL, count == 0) << "slot " << slot;
        ASSERT_EQ(size, count) << "slot " << slot;
        if (count != 0) {
            ASSERT_EQ(memcmp(code, pack.data() + offset, count), 0) << "slot " << slot;
        }
        offset += count;
    }
}

std::vector<uint16_t> RandomCounts(std::mt19937 &random, int slots, int filled)
{
    std::vector<uint16_t> counts(slots, 0);
    for (int i = 0; i < filled; i++) {
        counts[random() % slots] = (uint16_t)(1 + random() % 300);
    }
    return counts;
}

} // namespace

TEST_F(ShaderPacks, StartUsesTheShadersWithDeclarationsAndBrightnessVolume)
{
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {kInUse}), "");
    EXPECT_EQ(g_StateCache.shadersAvailable, 1);
    EXPECT_NE(g_D3D.standardVertexShader, nullptr);
    EXPECT_NE(g_D3D.standardPixelShader, nullptr);
    EXPECT_NE(g_D3D.brightnessVolume, nullptr);
    for (int i = 0; i < VERTEX_DECLARATION_COUNT; i++) {
        EXPECT_NE(g_D3D.declarations[i], nullptr) << "declaration " << i;
    }
    EXPECT_EQ(GetShaderPackImageUnpacks(), 1);
}

TEST_F(ShaderPacks, SecondSetupMakesTheShadersAgainWithoutUnpacking)
{
    int unpacks = GetShaderPackImageUnpacks();
    ReleaseShaders();
    EXPECT_EQ(g_D3D.standardVertexShader, nullptr);
    EXPECT_EQ(SetupShaders(), 0);
    EXPECT_EQ(GetShaderPackImageUnpacks(), unpacks);
    EXPECT_EQ(g_StateCache.shadersAvailable, 1);
    EXPECT_NE(g_D3D.standardVertexShader, nullptr);
    EXPECT_NE(g_D3D.standardPixelShader, nullptr);
}

namespace
{

struct Vertex {
    float x, y, z, nx, ny, nz;
    DWORD color;
};

float Random01(std::mt19937 &random)
{
    return (float)(random() % 1001) / 1000.0f;
}

void RandomColour(std::mt19937 &random, float out[4])
{
    for (int i = 0; i < 4; i++) {
        out[i] = Random01(random);
    }
}

// The standard shaders' rule, straight: the lit colour of light 0 clamped, times the vertex colour, times the
// texture factor (held {b, g, r, a} in its register).
uint32_t ExpectedColour(const float registers[21][4], bool enabled, const float normal[3], const float vertex[4],
                        const float factorBgra[4])
{
    float length = sqrtf(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    float lambert = 0.0f;
    for (int i = 0; i < 3; i++) {
        lambert -= normal[i] / length * registers[15][i];
    }
    lambert = lambert > 0.0f ? lambert : 0.0f;
    uint32_t rgb = 0;
    for (int c = 0; c < 3; c++) {
        float lit = registers[1][c] + (enabled ? registers[18][c] + lambert * registers[16][c] * registers[11][c] : 0);
        lit = lit < 0.0f ? 0.0f : lit > 1.0f ? 1.0f : lit;
        float value = lit * vertex[c] * factorBgra[2 - c];
        rgb = rgb << 8 | (uint32_t)lroundf(value * 255.0f);
    }
    return rgb;
}

// A triangle around the origin, large enough to cover the screen under any turn about the view's z axis.
void DrawWithStandardShaders(IDirect3DVertexDeclaration9 *declaration, const float normal[3], DWORD colour)
{
    const float corners[3][2] = {{-10, -10}, {-10, 30}, {30, -10}};
    Vertex vertices[3];
    for (int i = 0; i < 3; i++) {
        vertices[i] = {corners[i][0], corners[i][1], 0.5f, normal[0], normal[1], normal[2], colour};
    }
    IDirect3DDevice9 *device = g_D3D.device;
    BeginSceneIfNeeded();
    device->SetVertexDeclaration(declaration);
    device->SetVertexShader(g_D3D.standardVertexShader);
    device->SetPixelShader(g_D3D.standardPixelShader);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(Vertex)), D3D_OK);
    device->SetVertexShader(NULL);
    device->SetPixelShader(NULL);
}

} // namespace

TEST_F(ShaderPacks, StandardShadersDrawTheColourOfTheirRule)
{
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                          {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                          {0, 24, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                          D3DDECL_END()};
    IDirect3DVertexDeclaration9 *declaration = NULL;
    ASSERT_EQ(g_D3D.device->CreateVertexDeclaration(elements, &declaration), D3D_OK);
    std::mt19937 random(1306);
    for (int row = 0; row < 24; row++) {
        float registers[21][4] = {{0, 1, 0, 0}};
        for (int r : {1, 11, 16, 18}) {
            RandomColour(random, registers[r]);
            for (int c = 0; c < 3 && r != 11 && r != 16; c++) {
                registers[r][c] *= 0.5f; // ambient parts small enough that the lit sum is not always clamped
            }
        }
        // The view turns about z: the light direction is given in view space, the normal in world space.
        float turn = Random01(random) * 6.2832f, cosine = cosf(turn), sine = sinf(turn);
        const float view[4][4] = {{cosine, -sine, 0, 0}, {sine, cosine, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
        for (int i = 0; i < 4; i++) {
            registers[2 + i][i] = 1.0f;
            memcpy(registers[6 + i], view[i], sizeof view[i]); // the view's transpose, as the engine writes it
        }
        float normal[3] = {Random01(random) * 2 - 1, Random01(random) * 2 - 1, Random01(random) * 2 + 0.1f};
        float viewNormal[3] = {cosine * normal[0] - sine * normal[1], sine * normal[0] + cosine * normal[1], normal[2]};
        float direction[3] = {Random01(random) * 2 - 1, Random01(random) * 2 - 1, -1};
        float length = sqrtf(direction[0] * direction[0] + direction[1] * direction[1] + 1);
        for (int i = 0; i < 3; i++) {
            registers[15][i] = direction[i] / length;
        }
        float vertex[4], factor[4];
        RandomColour(random, vertex);
        RandomColour(random, factor);
        DWORD colour = D3DCOLOR_ARGB(lroundf(vertex[3] * 255), lroundf(vertex[0] * 255), lroundf(vertex[1] * 255),
                                     lroundf(vertex[2] * 255));
        for (int c = 0; c < 3; c++) {
            vertex[c] = (float)(colour >> (16 - 8 * c) & 0xFF) / 255.0f;
        }
        BOOL enabled = row % 4 != 3;
        SCOPED_TRACE(row);
        ASSERT_EQ(SetVertexShaderConstants(0, 21, registers[0]), 0);
        ASSERT_EQ(SetPixelShaderConstants(5, 1, factor), 0);
        g_D3D.device->SetVertexShaderConstantB(4, &enabled, 1);
        DrawWithStandardShaders(declaration, normal, colour);
        uint32_t expected = ExpectedColour(registers, enabled, viewNormal, vertex, factor);
        ScreenPixels read = ReadLockedRect(-1, 316, 236, 324, 244);
        ASSERT_EQ(read.rgb.size(), 64u);
        EXPECT_EQ(CountDifferences(read, {8, 8, Pixels(64, expected)}, 2), 0)
            << std::hex << "read " << read.rgb[0] << " expected " << expected;
    }
    declaration->Release();
    ReissueDeviceStates();
}

TEST_F(ShaderPacks, SyntheticPacksIndexSlotBySlot)
{
    std::mt19937 random(2454);
    for (int round = 0; round < 4; round++) {
        std::vector<uint8_t> standard = MakePack(RandomCounts(random, kStandardSlots, 40), random);
        std::vector<uint8_t> mix = MakePack(RandomCounts(random, kMixSlots, round * 20), random);
        ASSERT_EQ(LoadPackImage(MakeImage(standard, mix)), 1);
        ExpectIndexed(standard, kStandardSlots, true);
        ExpectIndexed(mix, kMixSlots, false);
    }
    ReleaseShaderPacks();
    EXPECT_EQ(LoadShaderPacks(), 1) << "the built-in image comes back";
}

namespace
{

enum Damage { NONE, CUT_LAST_BYTE, COUNT_PAST_END, TRAILING_BYTE, HEADER_CUT, LEFT_OUT };

std::vector<uint8_t> Damaged(std::vector<uint8_t> pack, Damage damage, int slots)
{
    switch (damage) {
    case CUT_LAST_BYTE:
        pack.pop_back();
        break;
    case COUNT_PAST_END:
        pack[(slots - 1) * 2] = 0xFF; // the last slot claims more than the buffer holds
        break;
    case TRAILING_BYTE:
        pack.push_back(0);
        break;
    case HEADER_CUT:
        pack.resize(slots);
        break;
    case LEFT_OUT:
        pack.clear();
        break;
    default:
        break;
    }
    return pack;
}

} // namespace

TEST_F(ShaderPacks, InconsistentPacksAreRefused)
{
    struct Case {
        const char *name;
        Damage standard, mix;
        int loaded;
    };
    const Case cases[] = {
        {"standard cut short", CUT_LAST_BYTE, NONE, 0},
        {"standard count past the end", COUNT_PAST_END, NONE, 0},
        {"standard with a trailing byte", TRAILING_BYTE, NONE, 0},
        {"standard header cut", HEADER_CUT, NONE, 0},
        {"standard left out", LEFT_OUT, NONE, 0},
        {"mix count past the end", NONE, COUNT_PAST_END, 1},
        {"mix header cut", NONE, HEADER_CUT, 1},
        {"mix left out", NONE, LEFT_OUT, 1},
    };
    std::mt19937 random(409);
    std::vector<uint16_t> standardCounts(kStandardSlots, 0), mixCounts(kMixSlots, 0);
    standardCounts[0] = standardCounts[kStandardSlots - 1] = 16;
    mixCounts[0] = mixCounts[kMixSlots - 1] = 16;
    std::vector<uint8_t> standard = MakePack(standardCounts, random), mix = MakePack(mixCounts, random);
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        ReleaseShaderPacks();
        int blocks = GetAllocationCount();
        ASSERT_EQ(
            LoadPackImage(MakeImage(Damaged(standard, row.standard, kStandardSlots), Damaged(mix, row.mix, kMixSlots))),
            row.loaded);
        int size = 0;
        EXPECT_EQ(GetStandardShaderCode(1, kStandardSlots - kPixelFirstSlot - 1, &size) != NULL, row.loaded == 1);
        EXPECT_EQ(GetMixShaderCode(kMixSlots - 1, &size) != NULL, row.standard == NONE && row.mix == NONE);
        ReleaseShaderPacks();
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
    EXPECT_EQ(LoadShaderPacks(), 1);
}

// A refused pack, or a standard entry that is no well-formed shader, leaves the device drawing without shaders.
TEST_F(ShaderPacks, RefusedPacksLeaveTheFixedFunctionPipeline)
{
    std::mt19937 random(5462);
    std::vector<uint16_t> counts(kStandardSlots, 0);
    counts[32774] = counts[kPixelFirstSlot + 2454] = 16;
    std::vector<uint8_t> noEndToken = MakePack(counts, random), truncated = Damaged(noEndToken, CUT_LAST_BYTE, 0);
    struct Case {
        const char *name;
        std::vector<uint8_t> image;
        std::vector<std::string> log;
    } cases[] = {
        {"truncated",
         MakeImage(truncated, {}),
         {"シェーダーコードを展開するメモリ領域の確保に失敗しました", kNotInUse}},
        {"no end token", MakeImage(noEndToken, {}), {kNotInUse}},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        std::string before = ReadLogText();
        ReleaseShaderPacks();
        SetShaderPackImage(row.image.data(), (unsigned int)row.image.size());
        EXPECT_EQ(SetupShaders(), 0);
        SetShaderPackImage(NULL, 0);
        EXPECT_EQ(g_StateCache.shadersAvailable, 0);
        EXPECT_EQ(g_D3D.standardVertexShader, nullptr);
        EXPECT_EQ(FirstMissingInOrder(ReadLogText().substr(before.size()), row.log), "");
        ASSERT_EQ(DrawFilledBox(0, 0, 640, 480, MakeScreenColor(40, 160, 220)), 0);
        ScreenPixels read = ReadLockedRect(-1, 0, 0, 8, 8);
        EXPECT_EQ(CountDifferences(read, {8, 8, Pixels(64, 0x28A0DC)}, 0), 0);
    }
    ReleaseShaderPacks();
    EXPECT_EQ(SetupShaders(), 0);
    EXPECT_EQ(g_StateCache.shadersAvailable, 1);
}

TEST(ShaderPackCaps, DevicesBelowShaderModelTwoNeverUnpack)
{
    struct Case {
        DWORD vertex, pixel;
    } cases[] = {{D3DVS_VERSION(1, 1), D3DPS_VERSION(3, 0)}, {D3DVS_VERSION(3, 0), D3DPS_VERSION(1, 4)}};
    for (const Case &row : cases) {
        SCOPED_TRACE(row.vertex);
        StandInDirect3DSettings settings;
        settings.vertexShaderVersion = row.vertex;
        settings.pixelShaderVersion = row.pixel;
        InstallStandInDirect3D(settings);
        int unpacks = GetShaderPackImageUnpacks();
        ASSERT_EQ(StartEngineWindow(32, 1), 0);
        EXPECT_EQ(IsDeviceMode(), 1);
        EXPECT_EQ(g_StateCache.shadersAvailable, 0);
        EXPECT_EQ(g_D3D.standardVertexShader, nullptr);
        EXPECT_EQ(GetShaderPackImageUnpacks(), unpacks);
        EndEngine();
        EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {kNotInUse}), "");
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    RemoveStandInDirect3D();
}
