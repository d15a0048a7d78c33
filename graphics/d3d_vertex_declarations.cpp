// Device objects of the shader path: the 55 vertex declarations (54 generated from the vertex layouts of the model
// shaders, one fixed) and the brightness volume texture, which turns an RGB colour into the brightest colour of the
// same hue and saturation. Made only while shaders are in use. Window thread only.
#include "graphics/graphics_internal.h"

#define BRIGHTNESS_VOLUME_SIDE 128
#define FIXED_DECLARATION (VERTEX_DECLARATION_COUNT - 1)

static D3DVERTEXELEMENT9 MakeElement(int offset, int type, int usage, int usageIndex)
{
    D3DVERTEXELEMENT9 element = {0, (WORD)offset, (BYTE)type, D3DDECLMETHOD_DEFAULT, (BYTE)usage, (BYTE)usageIndex};
    return element;
}

static int ElementSize(int type)
{
    switch (type) {
    case D3DDECLTYPE_FLOAT2:
        return 8;
    case D3DDECLTYPE_FLOAT3:
        return 12;
    case D3DDECLTYPE_FLOAT4:
        return 16;
    default:
        return 4; // D3DCOLOR and UBYTE4
    }
}

static void Append(VertexElementList *list, int type, int usage, int usageIndex)
{
    list->elements[list->count++] = MakeElement(list->size, type, usage, usageIndex);
    list->size += ElementSize(type);
}

// Position; `boneSets` sets of blend indices then as many blend weights; one normal, or three (normal, tangent and
// binormal slots); two colours; then `texCoords` four-float texture coordinates. The model buffers lay their
// vertices out by the same lists.
void BuildModelVertexElements(int threeNormals, int boneSets, int texCoords, VertexElementList *list)
{
    list->count = 0;
    list->size = 0;
    Append(list, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    for (int i = 0; i < boneSets; i++) {
        Append(list, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, i);
    }
    for (int i = 0; i < boneSets; i++) {
        Append(list, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, i);
    }
    for (int i = 0; i < (threeNormals ? 3 : 1); i++) {
        Append(list, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, i);
    }
    Append(list, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    Append(list, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (int i = 0; i < texCoords; i++) {
        Append(list, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_TEXCOORD, i);
    }
}

static void BuildFixedDeclaration(VertexElementList *list)
{
    list->count = 0;
    list->size = 0;
    Append(list, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    Append(list, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    Append(list, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    Append(list, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    Append(list, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0);
    Append(list, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1);
}

static void CreateDeclaration(int index, VertexElementList *list)
{
    static const D3DVERTEXELEMENT9 end = D3DDECL_END();
    list->elements[list->count] = end;
    g_StateCache.device->CreateVertexDeclaration(list->elements, &g_D3D.declarations[index]);
}

int CreateVertexDeclarations(void)
{
    ReleaseVertexDeclarations();
    if (g_StateCache.device == NULL) {
        return 0;
    }
    VertexElementList list;
    for (int index = 0; index < FIXED_DECLARATION; index++) {
        BuildModelVertexElements(index / 27, index / 9 % 3, index % 9, &list);
        CreateDeclaration(index, &list);
    }
    BuildFixedDeclaration(&list);
    CreateDeclaration(FIXED_DECLARATION, &list);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Brightness volume.

static int ClampChannel(int value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

void FullBrightnessColor(int red, int green, int blue, int *outRed, int *outGreen, int *outBlue)
{
    int in[3] = {ClampChannel(red), ClampChannel(green), ClampChannel(blue)};
    int out[3] = {255, 255, 255};
    // Channel indexes ordered by value: high, middle, low.
    int high = 0, low = 0;
    for (int i = 1; i < 3; i++) {
        high = in[i] > in[high] ? i : high;
        low = in[i] < in[low] ? i : low;
    }
    if (in[high] != in[low]) {
        int middle = 3 - high - low;
        int max = in[high], min = in[low];
        int saturation = (max - min) * 255 / max;
        out[low] = 255 - saturation;
        out[middle] = 255 - ((255 - (in[middle] - min) * 255 / (max - min)) * saturation) / 255;
    }
    *outRed = out[0];
    *outGreen = out[1];
    *outBlue = out[2];
}

void FillBrightnessVolume(const D3DLOCKED_BOX *box)
{
    for (int z = 0; z < BRIGHTNESS_VOLUME_SIDE; z++) {
        for (int y = 0; y < BRIGHTNESS_VOLUME_SIDE; y++) {
            DWORD *row = (DWORD *)((unsigned char *)box->pBits + z * box->SlicePitch + y * box->RowPitch);
            for (int x = 0; x < BRIGHTNESS_VOLUME_SIDE; x++) {
                int red = 255, green = 255, blue = 255;
                if (x >= 8 || y >= 8 || z >= 8) {
                    FullBrightnessColor(2 * x, 2 * y, 2 * z, &red, &green, &blue);
                }
                row[x] = D3DCOLOR_ARGB(255, red, green, blue);
            }
        }
    }
}

static void ReleaseBrightnessVolume(void)
{
    if (g_D3D.brightnessVolume != NULL) {
        g_D3D.brightnessVolume->Release();
        g_D3D.brightnessVolume = NULL;
    }
}

static int FailBrightnessVolume(const char *text, IDirect3DVolumeTexture9 *source)
{
    if (source != NULL) {
        source->Release();
    }
    ReleaseBrightnessVolume();
    AddLog(text);
    return -1;
}

int CreateBrightnessVolumeTexture(void)
{
    IDirect3DDevice9 *device = g_StateCache.device;
    ReleaseBrightnessVolume();
    if (device == NULL) {
        return -1;
    }
    const UINT side = BRIGHTNESS_VOLUME_SIDE;
    if (FAILED(device->CreateVolumeTexture(side, side, side, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                           &g_D3D.brightnessVolume, NULL))) {
        g_D3D.brightnessVolume = NULL;
        return FailBrightnessVolume(
            "RGBカラーを輝度を最大にしたRGB値に変換するためのボリュームテクスチャの作成に失敗しました\n", NULL);
    }
    IDirect3DVolumeTexture9 *source = NULL;
    if (FAILED(
            device->CreateVolumeTexture(side, side, side, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &source, NULL))) {
        return FailBrightnessVolume("RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャの"
                                    "作成に失敗しました\n",
                                    NULL);
    }
    D3DLOCKED_BOX box;
    if (FAILED(source->LockBox(0, &box, NULL, 0))) {
        return FailBrightnessVolume("RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャの"
                                    "ロックに失敗しました\n",
                                    source);
    }
    FillBrightnessVolume(&box);
    source->UnlockBox(0);
    device->UpdateTexture(source, g_D3D.brightnessVolume);
    source->Release();
    return 0;
}
