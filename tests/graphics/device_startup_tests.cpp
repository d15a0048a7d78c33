// The real Direct3D device under Wine: start-up in a window (9Ex, plain 9 when forced, or the software screen), the
// log lines of its creation, the shader-path objects, a screen-mode restart, and an end leaving nothing allocated.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "font/font.h"
#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"

namespace
{

class DeviceStartup : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetMainWindowTitle("QvDeviceStartup");
        ChangeWindowMode(1);
        SetScreenModeSettings(0, 0); // a window device left the desktop's depth behind
    }
    void TearDown() override
    {
        EndEngine();
        SetForcePlainDirect3D9(0);
        SetUseDirect3D(1);
        g_WindowSettings.backgroundSet = 0;
    }
    // Ends the engine and returns its log, whose last block must show no live allocation.
    std::string EndAndReadLog(void)
    {
        EndEngine();
        std::string log = ReadLogText();
        EXPECT_NE(log.find("Total size:0(0.000kb)  Alloc num:0"), std::string::npos);
        return log;
    }
};

} // namespace

// 9Ex by default, plain 9 when forced: both log each step of the device's making in order.
TEST_F(DeviceStartup, WindowStartsADeviceAndLogsEachStepInOrder)
{
    for (int plain : {0, 1}) {
        SCOPED_TRACE(plain);
        SetForcePlainDirect3D9(plain);
        ASSERT_EQ(InitEngine(), 0);
        ASSERT_EQ(IsDeviceMode(), 1);
        EXPECT_EQ(g_D3D.direct3DEx == nullptr, plain == 1);
        EXPECT_EQ(g_D3D.deviceEx == nullptr, plain == 1);
        EXPECT_EQ(g_StateCache.device, g_D3D.device);
        EXPECT_EQ(g_D3D.zBufferWidth * 10000 + g_D3D.zBufferHeight, 1024 * 10000 + 512);
        EXPECT_EQ(GetScreenColorBits(), 32) << "a window takes the 32-bit desktop's depth";
        EXPECT_EQ(InitGraphics(), 0) << "a second start changes nothing";
        const char *object =
            plain ? "IDirect3D9 オブジェクトを取得します.... 成功" : "IDirect3D9Ex オブジェクトを取得します.... 成功";
        const char *device = plain ? "IDirect3DDevice9 オブジェクトを取得します.... ハードウエア頂点演算を使用します"
                                   : "IDirect3DDevice9Ex オブジェクトを取得します.... ハードウエア頂点演算を使用します";
        std::string missing = FirstMissingInOrder(
            EndAndReadLog(),
            {"DirectDraw オブジェクトの取得を行います....  成功", "初期化に成功しました", object, device, "成功",
             "Driver:", "画面のフォーマットは D3DFMT_X8R8G8B8 です", "Ｚバッファのフォーマットは D3DFMT_D16 です",
             "16bit カラーフォーマットは R_D3DFMT_R5G6B5 です",
             "アルファ付き 32bit カラーフォーマットは R_D3DFMT_A8R8G8B8 です",
             "ＤＸＴ５テクスチャフォーマットは R_D3DFMT_DXT5 です",
             "描画用 32bit カラーフォーマットは R_D3DFMT_X8R8G8B8 です", "最大テクスチャサイズ　幅:",
             "頂点シェーダーバージョンコード：", "バックバッファロック転送の時間:", "バックバッファロックを使",
             "Ｚバッファを作成します.... 成功", "Direct3DDevice9 の解放 3", "Direct3D9 DLL の解放 4"});
        EXPECT_EQ(missing, "");
        EXPECT_EQ(g_D3D.device, nullptr);
        EXPECT_EQ(g_D3D.directDraw, nullptr);
    }
}

TEST_F(DeviceStartup, RefusedDirect3DGivesA16BitSoftwareScreenInTheBackgroundColour)
{
    g_WindowSettings.backgroundSet = 1;
    g_WindowSettings.backgroundRed = 200, g_WindowSettings.backgroundGreen = 100, g_WindowSettings.backgroundBlue = 40;
    ASSERT_EQ(SetUseDirect3D(0), 0);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(SetUseDirect3D(1), -1) << "fixed once the engine runs";
    EXPECT_EQ(IsDeviceMode(), 0);
    EXPECT_EQ(g_D3D.device, nullptr);
    MEMIMG *screen = GetSoftwareScreen();
    ASSERT_TRUE(IsValidMemImg(screen));
    ASSERT_TRUE(screen->block->kind == MEMIMG_KIND_RGB16 && screen->width == 640 && screen->height == 480);
    const uint16_t expected = (200 >> 3) << 11 | (100 >> 2) << 5 | 40 >> 3; // R5G6B5
    int wrong = 0;
    for (int y = 0; y < 480; y++) {
        const uint16_t *row = (const uint16_t *)(screen->pixels + y * screen->block->pitch);
        for (int x = 0; x < 640; x++) {
            wrong += row[x] != expected;
        }
    }
    EXPECT_EQ(wrong, 0);
    EndAndReadLog();
}

// The 54 generated declarations against their layout rule written out slowly (position, a blend index then a weight
// set per skinning level, one or three normals, two colours, 0 to 8 float4 texture sets), then the fixed one.
TEST_F(DeviceStartup, ShaderPathObjectsAreMadeOnTheDevice)
{
    ASSERT_EQ(InitEngine(), 0);
    ASSERT_EQ(IsDeviceMode(), 1);
    ASSERT_EQ(CreateVertexDeclarations(), 0);
    struct Element {
        int type, usage, index;
    };
    const int F3 = D3DDECLTYPE_FLOAT3, F4 = D3DDECLTYPE_FLOAT4, F2 = D3DDECLTYPE_FLOAT2, C = D3DDECLTYPE_D3DCOLOR;
    auto size = [=](int type) { return type == F2 ? 8 : type == F3 ? 12 : type == F4 ? 16 : 4; };
    for (int index = 0; index < 55; index++) {
        SCOPED_TRACE(index);
        int skins = index / 9 % 3, normals = index < 27 ? 1 : 3, texcoords = index % 9;
        std::vector<Element> expected = {{F3, D3DDECLUSAGE_POSITION, 0}};
        for (int s = 0; s < 2 * skins; s++) {
            expected.push_back(s < skins ? Element{D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, s}
                                         : Element{F4, D3DDECLUSAGE_BLENDWEIGHT, s - skins});
        }
        for (int n = 0; n < (index < 54 ? normals : 1); n++) {
            expected.push_back({F3, D3DDECLUSAGE_NORMAL, n});
        }
        expected.insert(expected.end(), {{C, D3DDECLUSAGE_COLOR, 0}, {C, D3DDECLUSAGE_COLOR, 1}});
        for (int t = 0; t < (index < 54 ? texcoords : 2); t++) {
            expected.push_back({index < 54 ? F4 : F2, D3DDECLUSAGE_TEXCOORD, t});
        }
        ASSERT_NE(g_D3D.declarations[index], nullptr);
        D3DVERTEXELEMENT9 got[MAXD3DDECLLENGTH + 1];
        UINT count = MAXD3DDECLLENGTH + 1;
        ASSERT_EQ(g_D3D.declarations[index]->GetDeclaration(got, &count), D3D_OK);
        ASSERT_EQ(count, expected.size() + 1) << "the elements and the end mark";
        for (size_t i = 0, offset = 0; i < expected.size(); offset += size(expected[i++].type)) {
            const Element &want = expected[i];
            EXPECT_EQ((std::vector<int>{got[i].Stream, got[i].Offset, got[i].Type, got[i].Usage, got[i].UsageIndex}),
                      (std::vector<int>{0, (int)offset, want.type, want.usage, want.index}));
        }
    }
    EXPECT_EQ(CreateBrightnessVolumeTexture(), 0);
    EXPECT_NE(g_D3D.brightnessVolume, nullptr);
    EndAndReadLog();
    EXPECT_EQ(g_D3D.declarations[0], nullptr) << "released with the device";
    EXPECT_EQ(g_D3D.brightnessVolume, nullptr);
}

TEST_F(DeviceStartup, ForcedScreenModeChangeRestartsTheDeviceAndKeepsTheDefaultFont)
{
    ASSERT_EQ(InitEngine(), 0);
    ASSERT_EQ(SetDefaultFontSizeThickness(NULL, 26, 3), 0);
    EXPECT_EQ(ChangeScreenMode(-1, -1, -1, 0, -1), 0) << "nothing to do";
    EXPECT_EQ(ReadLogText().find("画面モード変更処理を開始します"), std::string::npos);
    ASSERT_EQ(ChangeScreenMode(-1, -1, -1, 1, -1), 0);
    EXPECT_EQ(IsDeviceMode(), 1);
    EXPECT_NE(g_D3D.device, nullptr);
    char face[64];
    int size = 0, thickness = 0;
    ASSERT_EQ(QueryDefaultFontState(face, sizeof(face), &size, &thickness), 0);
    EXPECT_TRUE(size == 26 && thickness == 3) << size << " " << thickness;
    std::string missing = FirstMissingInOrder(
        EndAndReadLog(),
        {"画面モード変更処理を開始します", "Direct3DDevice9 の解放 3", "Direct3D9 DLL の解放 4",
         "IDirect3DDevice9Ex オブジェクトを取得します.... ハードウエア", "Ｚバッファを作成します.... 成功",
         "画面モード変更処理は正常に終了しました", "Direct3DDevice9 の解放 3"});
    EXPECT_EQ(missing, "");
}
