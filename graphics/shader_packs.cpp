// The built-in shader packs and the standard shaders: the archive image in the data section (made at build time by
// tools/host/qvshaders.cpp, which documents what the shaders compute) is unpacked once per graphics start, its two
// packs are taken out and indexed, and every device creation makes the standard vertex and pixel shader from them.
// A pack whose header does not add up to its size is refused, so no code pointer can lie outside its buffer. Only
// the two standard shader objects are ever made, so they are the only created-shader storage (device globals,
// released with the device). Window thread only.
#include "graphics/graphics_test_hooks.h"

extern const unsigned char g_ShaderPackImage[];
extern const unsigned int g_ShaderPackImageSize;

#define VERTEX_SHADER_RECORDS 16384
#define PIXEL_SHADER_RECORDS 6912
#define STANDARD_PACK_RECORD_SLOTS 6
#define MIX_SHADER_RECORDS 64
#define MIX_PACK_RECORD_SLOTS 4
#define STANDARD_PACK_SLOTS ((VERTEX_SHADER_RECORDS + PIXEL_SHADER_RECORDS) * STANDARD_PACK_RECORD_SLOTS)
#define MIX_PACK_SLOTS (MIX_SHADER_RECORDS * MIX_PACK_RECORD_SLOTS)
#define PIXEL_SHADER_FIRST_SLOT (VERTEX_SHADER_RECORDS * STANDARD_PACK_RECORD_SLOTS)
#define STANDARD_VERTEX_SHADER_ENTRY 32774 // record 5,462, slot 2
#define STANDARD_PIXEL_SHADER_ENTRY 2454   // record 409, slot 0
#define SHADER_END_TOKEN 0x0000FFFFu

static ArchiveRecord s_Archive;
static unsigned char *s_Image;
static unsigned char *s_StandardPack;
static unsigned char *s_MixPack;
// The code tables: the vertex entries first, then the pixel entries, as the pack's records lie.
static const unsigned char *s_StandardCode[STANDARD_PACK_SLOTS];
static const unsigned char *s_MixCode[MIX_PACK_SLOTS];
static unsigned short s_MixSizes[MIX_PACK_SLOTS];
static const unsigned char *s_PackImage = g_ShaderPackImage;
static unsigned int s_PackImageSize = g_ShaderPackImageSize;
static int s_ImageUnpacks;

// ---------------------------------------------------------------------------------------------------------------
// Unpacking and indexing

// A packed buffer unpacked into a new engine block; null when it is damaged or there is no memory.
static unsigned char *UnpackBuffer(const unsigned char *packed, unsigned int packedLength, unsigned int *size)
{
    unsigned int length = DecodeArchiveData(packed, packedLength, NULL, 0);
    if (length == ARCHIVE_DECODE_FAILED || length == 0) {
        return NULL;
    }
    unsigned char *buffer = (unsigned char *)ENGINE_ALLOC(length);
    if (buffer != NULL && DecodeArchiveData(packed, packedLength, buffer, length) != length) {
        FreeMemory(buffer);
        buffer = NULL;
    }
    *size = length;
    return buffer;
}

static unsigned short ReadCount(const unsigned char *pack, int slot)
{
    return (unsigned short)(pack[slot * 2] | pack[slot * 2 + 1] << 8);
}

// Walks a pack's header of u16 byte counts, storing where each slot's code starts (null for an empty slot) and,
// when asked, its size. Every advance is checked against the pack's size and the blocks must fill it exactly;
// otherwise the tables are cleared and -1 returned.
static int IndexPack(const unsigned char *pack, unsigned int size, int slots, const unsigned char **code,
                     unsigned short *sizes)
{
    unsigned int offset = (unsigned int)slots * 2;
    int slot = 0;
    for (; size >= offset && slot < slots; slot++) {
        unsigned short count = ReadCount(pack, slot);
        if (count > size - offset) {
            break;
        }
        code[slot] = count != 0 ? pack + offset : NULL;
        if (sizes != NULL) {
            sizes[slot] = count;
        }
        offset += count;
    }
    if (slot == slots && offset == size) {
        return 0;
    }
    MemFill(code, 0, sizeof(*code) * (size_t)slots);
    if (sizes != NULL) {
        MemFill(sizes, 0, sizeof(*sizes) * (size_t)slots);
    }
    return -1;
}

// One pack out of the open archive, unpacked and indexed; null (nothing kept) when absent, damaged or inconsistent.
static unsigned char *LoadPack(const char *name, int slots, const unsigned char **code, unsigned short *sizes)
{
    unsigned int offset, storedSize, size;
    if (GetArchiveFileImage(&s_Archive, name, &offset, &storedSize) != 0 || offset > s_Archive.imageSize) {
        return NULL;
    }
    // The entry holds the pack as a packed buffer of its own, which must end within the image.
    unsigned char *pack = UnpackBuffer(s_Image + offset, s_Archive.imageSize - offset, &size);
    if (pack != NULL && IndexPack(pack, size, slots, code, sizes) != 0) {
        FreeMemory(pack);
        pack = NULL;
    }
    return pack;
}

int LoadShaderPacks(void)
{
    if (s_StandardPack != NULL) {
        return 1;
    }
    ReleaseShaderPacks();
    unsigned int imageSize;
    s_Image = UnpackBuffer(s_PackImage, s_PackImageSize, &imageSize);
    if (s_Image == NULL) {
        return 0;
    }
    s_ImageUnpacks++;
    if (OpenArchiveFromMemory(&s_Archive, s_Image, imageSize, NULL) == 0) {
        s_StandardPack = LoadPack("QvShaderPack.bin", STANDARD_PACK_SLOTS, s_StandardCode, NULL);
        s_MixPack = LoadPack("QvRgbaMixShaderPack.bin", MIX_PACK_SLOTS, s_MixCode, s_MixSizes);
    }
    if (s_StandardPack == NULL) {
        ReleaseShaderPacks(); // a later device creation tries again from a clean start
        return 0;
    }
    return 1;
}

int ReleaseShaderPacks(void)
{
    CloseArchive(&s_Archive);
    FreeMemory(s_Image);
    FreeMemory(s_StandardPack);
    FreeMemory(s_MixPack);
    s_Image = s_StandardPack = s_MixPack = NULL;
    MemFill(s_StandardCode, 0, sizeof(s_StandardCode));
    MemFill(s_MixCode, 0, sizeof(s_MixCode));
    MemFill(s_MixSizes, 0, sizeof(s_MixSizes));
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The standard shaders

static unsigned int ReadToken(const unsigned char *code, unsigned int index)
{
    const unsigned char *bytes = code + index * 4;
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (unsigned int)bytes[3] << 24;
}

// A standard entry's code, when it is a token stream of the given kind (0xFFFE vertex, 0xFFFF pixel) that ends
// inside its block: the device reads up to the end token, so a block without one is never handed over.
static const DWORD *StandardShaderCode(int slot, unsigned int kind)
{
    const unsigned char *code = s_StandardCode[slot];
    unsigned int size = code != NULL ? ReadCount(s_StandardPack, slot) : 0;
    if (code == NULL || size < 8 || size % 4 != 0 || ReadToken(code, 0) >> 16 != kind ||
        ReadToken(code, size / 4 - 1) != SHADER_END_TOKEN) {
        return NULL;
    }
    return (const DWORD *)code;
}

static int CreateStandardShaders(void)
{
    const DWORD *vertexCode = StandardShaderCode(STANDARD_VERTEX_SHADER_ENTRY, 0xFFFE);
    const DWORD *pixelCode = StandardShaderCode(PIXEL_SHADER_FIRST_SLOT + STANDARD_PIXEL_SHADER_ENTRY, 0xFFFF);
    IDirect3DDevice9 *device = g_D3D.device;
    if (device == NULL || vertexCode == NULL || pixelCode == NULL ||
        FAILED(device->CreateVertexShader(vertexCode, &g_D3D.standardVertexShader)) ||
        FAILED(device->CreatePixelShader(pixelCode, &g_D3D.standardPixelShader))) {
        ReleaseShaders();
        return -1;
    }
    return 0;
}

int SetupShaders(void)
{
    static const float vertexRegister0[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    static const float pixelRegister0[4] = {0.0f, 0.5f, 1.0f, 2.0f};
    ReleaseShaders();
    g_StateCache.shadersAvailable = 0;
    if (g_D3D.vertexShaderUsable && g_D3D.pixelShaderUsable) {
        g_StateCache.shadersAvailable = 1;
        if (LoadShaderPacks() == 0) {
            AddLog("シェーダーコードを展開するメモリ領域の確保に失敗しました\n");
            g_StateCache.shadersAvailable = 0;
        }
    }
    if (g_StateCache.shadersAvailable && CreateStandardShaders() != 0) {
        g_StateCache.shadersAvailable = 0;
    }
    AddLog(g_StateCache.shadersAvailable ? "プログラマブルシェーダーを使用します\n"
                                         : "プログラマブルシェーダーを使用しません\n");
    // The shadows take the registers in any case; the device gets them only while shaders are in use.
    SetVertexShaderConstants(0, 1, vertexRegister0);
    SetPixelShaderConstants(0, 1, pixelRegister0);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Test hooks

void SetShaderPackImage(const unsigned char *image, unsigned int size)
{
    s_PackImage = image != NULL ? image : g_ShaderPackImage;
    s_PackImageSize = image != NULL ? size : g_ShaderPackImageSize;
}

int GetShaderPackImageUnpacks(void)
{
    return s_ImageUnpacks;
}

const unsigned char *GetStandardShaderCode(int pixel, int entry, int *size)
{
    int slot = pixel ? PIXEL_SHADER_FIRST_SLOT + entry : entry;
    *size = s_StandardCode[slot] != NULL ? ReadCount(s_StandardPack, slot) : 0;
    return s_StandardCode[slot];
}

const unsigned char *GetMixShaderCode(int entry, int *size)
{
    *size = s_MixSizes[entry];
    return s_MixCode[entry];
}
