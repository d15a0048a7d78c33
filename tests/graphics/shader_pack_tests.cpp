// The built-in shader packs on the 32-bit device: start-up makes the standard shaders, the declarations and the
// brightness volume, and a second set-up unpacks nothing; the standard shaders draw the colour of their rule
// (checked against a model over random constants); synthetic packs index slot by slot and inconsistent ones are
// refused, drawing going on without shaders; a device below shader model 2.0 never unpacks.
#include "tests/graphics/log_reading.h"
#include "tests/graphics/screen_readback.h"
#include "tests/graphics/stand_in_direct3d.h"
#include "tools/qva_writer.h"

#include <math.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> ShaderPacks;

const int kStandardSlots = 23296 * 6, kPixelFirstSlot = 16384 * 6, kMixSlots = 64 * 4;
const char *const kNotInUse = "プログラマブルシェーダーを使用しません";

// A pack of the given slot counts with random code, spoilt by the damage chosen.
enum Damage { NONE, CUT_LAST_BYTE, COUNT_PAST_END, TRAILING_BYTE, HEADER_CUT, LEFT_OUT };
std::vector<uint8_t> MakePack(const std::vector<uint16_t> &counts, std::mt19937 random, Damage damage = NONE)
{
    std::vector<uint8_t> pack;
    for (uint16_t count : counts) {
        pack.insert(pack.end(), {(uint8_t)count, (uint8_t)(count >> 8)});
    }
    for (size_t i = std::accumulate(counts.begin(), counts.end(), (size_t)0); i > 0; i--) {
        pack.push_back((uint8_t)random());
    }
    if (damage == CUT_LAST_BYTE || damage == TRAILING_BYTE) {
        pack.resize(pack.size() + (damage == CUT_LAST_BYTE ? -1 : 1));
    } else if (damage == COUNT_PAST_END) {
        pack[counts.size() * 2 - 2] = 0xFF; // the last slot claims more than the buffer holds
    } else if (damage != NONE) {
        pack.resize(damage == HEADER_CUT ? counts.size() : 0);
    }
    return pack;
}

// The packed archive image of two packs (an empty one leaves its name out).
std::vector<uint8_t> MakeImage(const std::vector<uint8_t> &standard, const std::vector<uint8_t> &mix)
{
    std::vector<QvaWriterEntry> entries;
    std::vector<uint8_t> archive, image;
    std::string error;
    for (auto [name, pack] : {std::pair{"QvShaderPack.bin", &standard}, {"QvRgbaMixShaderPack.bin", &mix}}) {
        entries.push_back({name, false, {}});
        if (pack->empty() || !PackArchiveData(pack->data(), pack->size(), &entries.back().data, &error)) {
            entries.pop_back();
        }
    }
    EXPECT_TRUE(WriteQvaArchive(entries, QvaWriterOptions(), &archive, &error) &&
                PackArchiveData(archive.data(), archive.size(), &image, &error))
        << error;
    return image;
}

// Every slot's lookup against the rule: null for a zero count, else the bytes at the running offset of the pack.
void ExpectIndexed(const std::vector<uint8_t> &pack, int slots)
{
    size_t offset = (size_t)slots * 2;
    for (int slot = 0; slot < slots; slot++) {
        int count = pack[slot * 2] | pack[slot * 2 + 1] << 8, size = -1;
        const unsigned char *code = slots == kMixSlots       ? GetMixShaderCode(slot, &size)
                                    : slot < kPixelFirstSlot ? GetStandardShaderCode(0, slot, &size)
                                                             : GetStandardShaderCode(1, slot - kPixelFirstSlot, &size);
        ASSERT_EQ(code == NULL, count == 0) << "slot " << slot;
        ASSERT_EQ(size, count) << "slot " << slot;
        ASSERT_TRUE(count == 0 || memcmp(code, pack.data() + offset, count) == 0) << "slot " << slot;
        offset += count;
    }
}

} // namespace

// The rule the standard shaders are written to: light 0's lit colour clamped, times the vertex colour, times the
// texture factor (held {b, g, r, a} in its register). Drawn on a triangle that covers the screen under any turn of
// the view about z, with identity projection.
TEST_F(ShaderPacks, StandardShadersDrawTheColourOfTheirRule)
{
    struct Vertex {
        float x, y, z, normal[3];
        DWORD colour;
    };
    IDirect3DDevice9 *device = g_D3D.device;
    std::mt19937 random(1306);
    auto unit = [&random]() { return (float)(random() % 1001) / 1000.0f; };
    for (int row = 0; row < 24; row++) {
        SCOPED_TRACE(row);
        float c[21][4] = {{0, 1, 0, 0}}, factor[4], turn = unit() * 6.2832f, cosine = cosf(turn), sine = sinf(turn);
        for (float *values : {c[1], c[11], c[16], c[18], factor}) {
            std::generate(values, values + 4, unit);
        }
        c[2][0] = c[3][1] = c[4][2] = c[5][3] = 1; // the world, then the view's transpose as the engine writes it
        c[6][0] = c[7][1] = cosine, c[6][1] = -sine, c[7][0] = sine, c[8][2] = c[9][3] = 1;
        float normal[3] = {unit() * 2 - 1, unit() * 2 - 1, unit() * 2 + 0.1f}, light[3] = {unit() * 2 - 1, unit() - 1};
        float length = sqrtf(light[0] * light[0] + light[1] * light[1] + 1);
        c[15][0] = light[0] / length, c[15][1] = light[1] / length, c[15][2] = -1 / length;
        DWORD colour = random();
        BOOL enabled = row % 4 != 3;
        // The model: the normal turned into view space, the colour from the rule.
        float n[3] = {cosine * normal[0] - sine * normal[1], sine * normal[0] + cosine * normal[1], normal[2]};
        float lambert = std::max(0.0f, -(n[0] * c[15][0] + n[1] * c[15][1] + n[2] * c[15][2]) /
                                           sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]));
        uint32_t expected = 0;
        for (int k = 0; k < 3; k++) {
            float lit = c[1][k] + (enabled ? c[18][k] + lambert * c[16][k] * c[11][k] : 0);
            float value = std::min(lit, 1.0f) * (colour >> (16 - 8 * k) & 0xFF) / 255.0f * factor[2 - k];
            expected = expected << 8 | (uint32_t)lroundf(value * 255.0f);
        }
        ASSERT_EQ(SetVertexShaderConstants(0, 21, c[0]), 0);
        ASSERT_EQ(SetPixelShaderConstants(5, 1, factor), 0);
        device->SetVertexShaderConstantB(4, &enabled, 1);
        const float *v = normal;
        Vertex vertices[3] = {{-10, -10, 0.5f, {v[0], v[1], v[2]}, colour},
                              {-10, 30, 0.5f, {v[0], v[1], v[2]}, colour},
                              {30, -10, 0.5f, {v[0], v[1], v[2]}, colour}};
        BeginSceneIfNeeded();
        device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE);
        device->SetVertexShader(g_D3D.standardVertexShader);
        device->SetPixelShader(g_D3D.standardPixelShader);
        for (D3DRENDERSTATETYPE state :
             {D3DRS_ZENABLE, D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE, D3DRS_FOGENABLE}) {
            device->SetRenderState(state, FALSE);
        }
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(Vertex)), D3D_OK);
        device->SetVertexShader(NULL);
        device->SetPixelShader(NULL);
        ScreenPixels read = ReadLockedRect(-1, 316, 236, 324, 244);
        EXPECT_EQ(CountDifferences(read, {8, 8, Pixels(64, expected)}, 2), 0)
            << std::hex << "read " << (read.rgb.empty() ? 0 : read.rgb[0]) << " expected " << expected;
    }
    ReissueDeviceStates();
}

// Start-up uses the built-in packs; synthetic packs index slot by slot; a damaged standard pack is refused (its log
// line, no shaders, the fixed-function pipeline draws on), a damaged mix pack only leaves the mix table empty; the
// built-in image comes back, and set-up again after the shaders are released unpacks nothing.
TEST_F(ShaderPacks, StartUsesTheShadersAndPacksIndexSlotBySlotAndInconsistentOnesAreRefused)
{
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"プログラマブルシェーダーを使用します"}), "");
    EXPECT_EQ(GetShaderPackImageUnpacks(), 1);
    EXPECT_NE(g_D3D.brightnessVolume, nullptr);
    EXPECT_EQ(std::count(g_D3D.declarations, g_D3D.declarations + VERTEX_DECLARATION_COUNT, nullptr), 0);
    const Damage cases[][2] = {{NONE, NONE},       {CUT_LAST_BYTE, NONE}, {COUNT_PAST_END, NONE}, {TRAILING_BYTE, NONE},
                               {HEADER_CUT, NONE}, {LEFT_OUT, NONE},      {NONE, COUNT_PAST_END}, {NONE, TRAILING_BYTE},
                               {NONE, HEADER_CUT}, {NONE, LEFT_OUT}};
    std::mt19937 random(2454);
    for (const auto &damage : cases) {
        SCOPED_TRACE(testing::Message() << "damage " << damage[0] << " " << damage[1]);
        std::vector<uint16_t> standardCounts(kStandardSlots, 0), mixCounts(kMixSlots, 0);
        for (int i = 0; i < 40; i++) {
            standardCounts[random() % kStandardSlots] = (uint16_t)(1 + random() % 300);
            mixCounts[random() % kMixSlots] = (uint16_t)(random() % 300);
        }
        // The damage reaches the last slot; the standard entries hold random bytes, which are no shader.
        standardCounts[kStandardSlots - 1] = mixCounts[kMixSlots - 1] = 16;
        standardCounts[32774] = standardCounts[kPixelFirstSlot + 2454] = 16;
        std::vector<uint8_t> standard = MakePack(standardCounts, random), mix = MakePack(mixCounts, random);
        ReleaseShaderPacks();
        int blocks = GetAllocationCount();
        std::vector<uint8_t> image =
            MakeImage(MakePack(standardCounts, random, damage[0]), MakePack(mixCounts, random, damage[1]));
        std::string before = ReadLogText();
        SetShaderPackImage(image.data(), (unsigned int)image.size());
        EXPECT_EQ(SetupShaders(), 0);
        SetShaderPackImage(NULL, 0);
        bool loaded = damage[0] == NONE;
        std::string log = ReadLogText().substr(before.size());
        EXPECT_EQ(log.find("シェーダーコードを展開するメモリ領域の確保に失敗しました") == std::string::npos, loaded);
        EXPECT_NE(log.find(kNotInUse), std::string::npos);
        EXPECT_EQ(g_StateCache.shadersAvailable, 0);
        ExpectIndexed(loaded ? standard : std::vector<uint8_t>(kStandardSlots * 2), kStandardSlots);
        ExpectIndexed(loaded && damage[1] == NONE ? mix : std::vector<uint8_t>(kMixSlots * 2), kMixSlots);
        ASSERT_EQ(DrawFilledBox(0, 0, 640, 480, MakeScreenColor(40, 160, 220)), 0);
        EXPECT_EQ(CountDifferences(ReadLockedRect(-1, 0, 0, 8, 8), {8, 8, Pixels(64, 0x28A0DC)}, 0), 0);
        ReleaseShaderPacks();
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
    int unpacks = GetShaderPackImageUnpacks();
    for (int setup = 0; setup < 2; setup++) {
        EXPECT_EQ(SetupShaders(), 0);
        EXPECT_EQ(g_StateCache.shadersAvailable, 1) << "the built-in image comes back";
        EXPECT_TRUE(g_D3D.standardVertexShader != nullptr && g_D3D.standardPixelShader != nullptr);
        ReleaseShaders();
        EXPECT_EQ(g_D3D.standardVertexShader, nullptr);
    }
    EXPECT_EQ(GetShaderPackImageUnpacks(), unpacks + 1);
    EXPECT_EQ(SetupShaders(), 0);
}

TEST(ShaderPackCaps, DevicesBelowShaderModelTwoNeverUnpack)
{
    const DWORD cases[][2] = {{D3DVS_VERSION(1, 1), D3DPS_VERSION(3, 0)}, {D3DVS_VERSION(3, 0), D3DPS_VERSION(1, 4)}};
    for (const auto &versions : cases) {
        SCOPED_TRACE(versions[0]);
        StandInDirect3DSettings settings;
        settings.vertexShaderVersion = versions[0], settings.pixelShaderVersion = versions[1];
        InstallStandInDirect3D(settings);
        int unpacks = GetShaderPackImageUnpacks();
        ASSERT_EQ(StartEngineWindow(32, 1), 0);
        EXPECT_EQ(IsDeviceMode(), 1);
        EXPECT_EQ(g_StateCache.shadersAvailable, 0);
        EXPECT_EQ(GetShaderPackImageUnpacks(), unpacks);
        EndEngine();
        EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {kNotInUse}), "");
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    RemoveStandInDirect3D();
}
