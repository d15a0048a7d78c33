// Device-creation decisions against a stand-in Direct3D object with chosen answers (formats, display modes, caps,
// refused devices), the brightest-colour rule against a reference, and the start, end and screen-mode edge cases
// that need no device.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"
#include "graphics/stand_in_direct3d.h"

#include <cmath>
#include <random>

namespace
{

struct CreationCase {
    const char *name;
    StandInDirect3DSettings answers;
    int deviceMode;
    std::vector<DWORD> behaviours; // of every device creation asked
    int slot, slotTakesFrom;       // a graph format slot that takes another's format, or -1
    std::vector<std::string> logLines;
};

const DWORD MIXED = D3DCREATE_MIXED_VERTEXPROCESSING, SOFTWARE = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
const D3DFORMAT F16 = D3DFMT_A16B16G16R16F, F32 = D3DFMT_A32B32G32R32F;

// One row a case.
// clang-format off
const CreationCase s_CreationCases[] = {
    {"no DXT5", {{D3DFMT_DXT5}, {}, {}, 0, 0, 0}, 1, {MIXED}, GRAPH_FORMAT_DXT5, GRAPH_FORMAT_ALPHA_32,
     {"ＤＸＴ４テクスチャフォーマットは", "ＤＸＴ５テクスチャフォーマットは使えません"}},
    {"no 16-bit texture", {{D3DFMT_R5G6B5, D3DFMT_X1R5G5B5}, {}, {}, 0, 0, 0}, 0, {MIXED}, -1, -1,
     {"使用できる 16bit カラーフォーマットが見つかりませんでした", "Direct3DDevice9 の解放 2"}},
    {"first device refused", {{}, {}, {}, 1, 0, 0}, 1, {MIXED, SOFTWARE}, -1, -1,
     {"IDirect3DDevice9Ex オブジェクトを取得します.... ソフトウエア頂点演算を使用します"}},
    {"both devices refused", {{}, {}, {}, 2, 0, 0}, 0, {MIXED, SOFTWARE}, -1, -1,
     {"Direct3DDevice9Ex の作成に失敗しました", "Direct3D9 DLL の解放 4"}},
    {"shader model 1", {{}, {}, {}, 0, D3DVS_VERSION(1, 1), 0}, 1, {SOFTWARE}, -1, -1, {"ソフトウエア頂点演算を使用します"}},
    {"no 32-bit texture, no float targets", {{D3DFMT_X8R8G8B8, F16, F32}, {}, {}, 0, 0, 0}, 1, {MIXED}, GRAPH_FORMAT_32,
     GRAPH_FORMAT_16, {"32bit カラーフォーマットは R_D3DFMT_R5G6B5 です",
                       "使用できる描画用ABGR浮動小数点16ビット型カラーフォーマットがありませんでした",
                       "使用できる描画用ABGR浮動小数点32ビット型カラーフォーマットがありませんでした"}},
    {"no Z format", {{}, {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D32}, {}, 0, 0, 0}, 0, {MIXED}, -1, -1,
     {"使用できる Zバッファフォーマットが見つかりませんでした", "Direct3DDevice9 の解放 2"}},
};
// clang-format on

} // namespace

TEST(DeviceCreation, ChoicesFollowTheObjectsAnswers)
{
    SetMainWindowTitle("QvDeviceCreation");
    ChangeWindowMode(1);
    for (const CreationCase &row : s_CreationCases) {
        SCOPED_TRACE(row.name);
        InstallStandInDirect3D(row.answers);
        ASSERT_EQ(InitEngine(), 0) << "a refused device still starts on the software screen";
        EXPECT_EQ(IsDeviceMode(), row.deviceMode);
        EXPECT_EQ(g_D3D.device != nullptr, row.deviceMode == 1);
        EXPECT_EQ(g_D3D.backBuffer != nullptr && g_D3D.swapChain != nullptr, row.deviceMode == 1);
        EXPECT_EQ(GetSoftwareScreen()->tag == MEMIMG_LIVE_TAG, row.deviceMode == 0);
        EXPECT_EQ(GetStandInRecord().exObjects, 1);
        EXPECT_EQ(GetStandInRecord().deviceBehaviours, row.behaviours);
        if (row.slot >= 0) {
            EXPECT_EQ(g_D3D.graphFormats[row.slot], g_D3D.graphFormats[row.slotTakesFrom]);
        }
        EndEngine();
        EXPECT_EQ(FirstMissingInOrder(ReadLogText(), row.logLines), "");
    }
    RemoveStandInDirect3D();
}

TEST(DeviceCreation, FullScreenBackBufferFormatFollowsTheDisplayModes)
{
    struct Row {
        UINT r5g6b5Modes;
        int bits;
        D3DFORMAT expected;
    } rows[] = {{3, 16, D3DFMT_R5G6B5}, {0, 16, D3DFMT_X1R5G5B5}, {0, 32, D3DFMT_X8R8G8B8}, {3, 24, D3DFMT_UNKNOWN}};
    HMODULE library = LoadLibraryA("d3d9.dll");
    auto create = (Direct3DCreate9Function)(void (*)(void))GetProcAddress(library, "Direct3DCreate9");
    IDirect3D9Ex *direct3D = MakeStandInDirect3D(create(D3D_SDK_VERSION), NULL);
    for (const Row &row : rows) {
        GetStandInSettings().modeCounts = {{D3DFMT_R5G6B5, row.r5g6b5Modes}};
        EXPECT_EQ(ChooseBackBufferFormat(direct3D, row.bits), row.expected) << row.r5g6b5Modes << " " << row.bits;
    }
    direct3D->Release();
    RemoveStandInDirect3D();
    FreeLibrary(library);
}

// The rule keeps hue and saturation and lifts the largest channel to 255: each channel is scaled by 255 / max, up to
// the truncations of the integer steps.
TEST(DeviceCreation, FullBrightnessColorScalesToTheBrightestChannel)
{
    struct Exact {
        int in[3], out[3];
    } exact[] = {{{200, 100, 0}, {255, 127, 0}}, {{0, 0, 0}, {255, 255, 255}}, {{300, 0, 0}, {255, 0, 0}}};
    for (const Exact &row : exact) {
        int r, g, b;
        FullBrightnessColor(row.in[0], row.in[1], row.in[2], &r, &g, &b);
        EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{row.out[0], row.out[1], row.out[2]}));
    }
    std::mt19937 random(1234);
    for (int i = 0; i < 20000; i++) {
        int in[3] = {(int)(random() % 256), (int)(random() % 256), (int)(random() % 256)}, out[3];
        FullBrightnessColor(in[0], in[1], in[2], &out[0], &out[1], &out[2]);
        int max = std::max(in[0], std::max(in[1], in[2]));
        for (int c = 0; c < 3; c++) {
            double reference = max == 0 ? 255.0 : in[c] * 255.0 / max;
            ASSERT_LE(std::fabs(out[c] - reference), 2.0) << in[0] << "," << in[1] << "," << in[2] << " channel " << c;
        }
    }
    std::vector<DWORD> volume(128 * 128 * 128);
    D3DLOCKED_BOX box = {128 * 4, 128 * 128 * 4, volume.data()};
    FillBrightnessVolume(&box);
    auto texel = [&](int x, int y, int z) { return volume[(z * 128 + y) * 128 + x]; };
    EXPECT_EQ(texel(10, 20, 30), D3DCOLOR_ARGB(255, 85, 170, 255));
    EXPECT_EQ(texel(3, 0, 0), 0xFFFFFFFFu) << "white while x, y and z are all below 8";
    EXPECT_EQ(texel(8, 0, 0), D3DCOLOR_ARGB(255, 255, 0, 0));
}

TEST(DeviceCreation, StartEndAndModeEdgeCases)
{
    EXPECT_EQ(TerminateGraphics(), 0) << "before any start only the font system ends";
    EXPECT_EQ(TerminateGraphics(), 0);
    EXPECT_EQ(IsGraphicsInitialised(), 0);
    int count = GetDisplayModeCount();
    for (int index : {-1, count, count + 5}) {
        DisplayModeRecord mode = GetDisplayModeAt(index);
        EXPECT_EQ((std::vector<int>{mode.width, mode.height, mode.bits, mode.refresh}), (std::vector<int>(4, -1)));
    }
    // Nothing to do leaves an emulated screen emulated.
    SetLowResolutionEmulation(1);
    EXPECT_EQ(ChangeScreenMode(-1, -1, -1, 0, -1), 0);
    EXPECT_EQ(GetLowResolutionEmulation(), 1);
    SetLowResolutionEmulation(0);
    // A full screen whose display cannot be switched ends start-up with nothing made left behind.
    CoInitialize(NULL);
    StoreWindowModeFlag(0);
    SetUseDirect3D(0);
    SetScreenModeSettings(24, 0);
    EXPECT_EQ(CreateGraphicsDevice(), -1);
    EXPECT_EQ(g_D3D.directDraw, nullptr);
    EXPECT_EQ(g_D3D.d3d9Library, nullptr);
    SetScreenModeSettings(0, 0);
    SetUseDirect3D(1);
    StoreWindowModeFlag(1);
    CoUninitialize();
}
