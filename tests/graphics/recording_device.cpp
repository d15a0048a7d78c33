// Recording stand-in device and surface: the method bodies. Each records itself and answers from the state the
// earlier calls left; objects the device would create are not made (the creating methods fail unless a test
// chooses otherwise, and hand out null).
#include "recording_device.h"

#include <cstddef>

namespace
{

template <class T> uintptr_t Word(T value)
{
    return (uintptr_t)value;
}

uintptr_t Word(float value)
{
    DWORD bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <class... T> std::vector<uintptr_t> Words(T... values)
{
    return {Word(values)...};
}

// The size of the copy kept of `count` things a pointer argument names.
template <class T> size_t Bytes(const T *copied, size_t count)
{
    return copied != NULL ? count * sizeof *copied : 0;
}

size_t Bytes(std::nullptr_t, size_t)
{
    return 0;
}

template <class T> void Zero(T *out, size_t count)
{
    if (out != NULL) {
        memset(out, 0, count * sizeof *out);
    }
}

size_t VerticesOf(D3DPRIMITIVETYPE type, UINT primitives)
{
    switch (type) {
    case D3DPT_LINELIST:
        return primitives * 2;
    case D3DPT_LINESTRIP:
        return primitives + 1;
    case D3DPT_TRIANGLELIST:
        return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        return primitives + 2;
    default:
        return primitives;
    }
}

template <class T> HRESULT NoObject(HRESULT result, T **out)
{
    if (out != NULL) {
        *out = NULL;
    }
    return result;
}

template <class T> HRESULT HandOut(HRESULT result, T *object, T **out)
{
    if (out == NULL) {
        return D3DERR_INVALIDCALL;
    }
    *out = object;
    if (object != NULL) {
        object->AddRef();
    }
    return result;
}

// The float constants the device holds; other constant kinds are recorded only.
void StoreConstants(float (*registers)[4], UINT size, UINT first, const float *data, UINT count)
{
    for (UINT i = 0; data != NULL && i < count && first + i < size; i++) {
        memcpy(registers[first + i], data + 4 * i, sizeof registers[0]);
    }
}

void LoadConstants(const float (*registers)[4], UINT size, UINT first, float *data, UINT count)
{
    for (UINT i = 0; data != NULL && i < count; i++) {
        for (int k = 0; k < 4; k++) {
            data[4 * i + k] = first + i < size ? registers[first + i][k] : 0.0f;
        }
    }
}

// The shapes of the method bodies. RECORD keeps the call (and `count` things `copied` points at) and returns the
// chosen result; RECORD_VALUE returns a fixed value instead; ANSWER also writes `value` through `out`; ZERO clears
// `count` things at `out`; KEEP also runs `store` when the call succeeds and `condition` holds.
#define RECORD(name, parameters, arguments, copied, count)                                                             \
    HRESULT STDMETHODCALLTYPE name parameters override                                                                 \
    {                                                                                                                  \
        return Record(#name, Words arguments, copied, Bytes(copied, count));                                           \
    }
#define RECORD_VALUE(type, name, parameters, arguments, value)                                                         \
    type STDMETHODCALLTYPE name parameters override                                                                    \
    {                                                                                                                  \
        Record(#name, Words arguments);                                                                                \
        return value;                                                                                                  \
    }
#define ANSWER(name, parameters, arguments, out, value)                                                                \
    HRESULT STDMETHODCALLTYPE name parameters override                                                                 \
    {                                                                                                                  \
        HRESULT result = Record(#name, Words arguments);                                                               \
        if (out != NULL) {                                                                                             \
            *out = value;                                                                                              \
        }                                                                                                              \
        return result;                                                                                                 \
    }
#define ZERO(name, parameters, arguments, out, count)                                                                  \
    HRESULT STDMETHODCALLTYPE name parameters override                                                                 \
    {                                                                                                                  \
        HRESULT result = Record(#name, Words arguments);                                                               \
        Zero(out, count);                                                                                              \
        return result;                                                                                                 \
    }
#define KEEP(name, parameters, arguments, copied, condition, store)                                                    \
    HRESULT STDMETHODCALLTYPE name parameters override                                                                 \
    {                                                                                                                  \
        HRESULT result = Record(#name, Words arguments, copied, Bytes(copied, 1));                                     \
        if (SUCCEEDED(result) && (condition)) {                                                                        \
            store;                                                                                                     \
        }                                                                                                              \
        return result;                                                                                                 \
    }

template <class Key> DWORD StateOf(const std::map<DWORD, DWORD> &states, Key key)
{
    auto found = states.find((DWORD)key);
    return found != states.end() ? found->second : 0;
}

class RecordingDirect3DDevice final : public IDirect3DDevice9, public RecordingDevice
{
  public:
    // IUnknown; the test owns the object, so the count only ever reports.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        Record(__func__, {});
        if (object == NULL) {
            return E_POINTER;
        }
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DDevice9)) {
            *object = static_cast<IDirect3DDevice9 *>(this);
            AddRef();
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return ++m_References;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return m_References > 0 ? --m_References : 0;
    }

    // Device, swap chain and presentation
    RECORD(TestCooperativeLevel, (), (), nullptr, 0)
    RECORD_VALUE(UINT, GetAvailableTextureMem, (), (), 256u << 20)
    RECORD(EvictManagedResources, (), (), nullptr, 0)
    ANSWER(GetDirect3D, (IDirect3D9 * *direct3D), (direct3D), direct3D, NULL)
    ANSWER(GetDeviceCaps, (D3DCAPS9 * out), (out), out, caps)
    ANSWER(GetDisplayMode, (UINT chain, D3DDISPLAYMODE *mode), (chain, mode), mode,
           (D3DDISPLAYMODE{640, 480, 60, D3DFMT_X8R8G8B8}))
    ANSWER(GetCreationParameters, (D3DDEVICE_CREATION_PARAMETERS * out), (out), out,
           (D3DDEVICE_CREATION_PARAMETERS{0, D3DDEVTYPE_HAL, NULL, D3DCREATE_SOFTWARE_VERTEXPROCESSING}))
    RECORD(SetCursorProperties, (UINT x, UINT y, IDirect3DSurface9 *bitmap), (x, y, bitmap), nullptr, 0)
    RECORD_VALUE(void, SetCursorPosition, (int x, int y, DWORD flags), (x, y, flags), void())
    RECORD_VALUE(WINBOOL, ShowCursor, (WINBOOL show), (show), FALSE)
    ANSWER(CreateAdditionalSwapChain, (D3DPRESENT_PARAMETERS * parameters, IDirect3DSwapChain9 **chain),
           (parameters, chain), chain, NULL)
    ANSWER(GetSwapChain, (UINT index, IDirect3DSwapChain9 **chain), (index, chain), chain, NULL)
    RECORD_VALUE(UINT, GetNumberOfSwapChains, (), (), 1)
    RECORD(Reset, (D3DPRESENT_PARAMETERS * parameters), (parameters), parameters, 1)
    RECORD(Present, (const RECT *source, const RECT *destination, HWND window, const RGNDATA *dirty),
           (source, destination, window, dirty), nullptr, 0)
    HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT chain, UINT index, D3DBACKBUFFER_TYPE type,
                                            IDirect3DSurface9 **surface) override
    {
        return HandOut(Record(__func__, Words(chain, index, type, surface)), renderTargets[0], surface);
    }
    ANSWER(GetRasterStatus, (UINT chain, D3DRASTER_STATUS *status), (chain, status), status,
           (D3DRASTER_STATUS{TRUE, 0}))
    RECORD(SetDialogBoxMode, (WINBOOL enable), (enable), nullptr, 0)
    RECORD_VALUE(void, SetGammaRamp, (UINT chain, DWORD flags, const D3DGAMMARAMP *ramp), (chain, flags, ramp), void())
    void STDMETHODCALLTYPE GetGammaRamp(UINT chain, D3DGAMMARAMP *ramp) override
    {
        Record(__func__, Words(chain, ramp));
        Zero(ramp, 1);
    }

    // Resources
    ANSWER(CreateTexture,
           (UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
            IDirect3DTexture9 **texture, HANDLE *shared),
           (width, height, levels, usage, format, pool, texture, shared), texture, NULL)
    ANSWER(CreateVolumeTexture,
           (UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
            IDirect3DVolumeTexture9 **texture, HANDLE *shared),
           (width, height, depth, levels, usage, format, pool, texture, shared), texture, NULL)
    ANSWER(CreateCubeTexture,
           (UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DCubeTexture9 **texture,
            HANDLE *shared),
           (edge, levels, usage, format, pool, texture, shared), texture, NULL)
    ANSWER(CreateVertexBuffer,
           (UINT length, DWORD usage, DWORD format, D3DPOOL pool, IDirect3DVertexBuffer9 **buffer, HANDLE *shared),
           (length, usage, format, pool, buffer, shared), buffer, NULL)
    ANSWER(CreateIndexBuffer,
           (UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9 **buffer, HANDLE *shared),
           (length, usage, format, pool, buffer, shared), buffer, NULL)
    ANSWER(CreateRenderTarget,
           (UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD quality, WINBOOL lockable,
            IDirect3DSurface9 **surface, HANDLE *shared),
           (width, height, format, multiSample, quality, lockable, surface, shared), surface, NULL)
    ANSWER(CreateDepthStencilSurface,
           (UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD quality, WINBOOL discard,
            IDirect3DSurface9 **surface, HANDLE *shared),
           (width, height, format, multiSample, quality, discard, surface, shared), surface, NULL)
    RECORD(UpdateSurface,
           (IDirect3DSurface9 * source, const RECT *sourceRect, IDirect3DSurface9 *destination, const POINT *point),
           (source, sourceRect, destination, point), nullptr, 0)
    RECORD(UpdateTexture, (IDirect3DBaseTexture9 * source, IDirect3DBaseTexture9 *destination), (source, destination),
           nullptr, 0)
    RECORD(GetRenderTargetData, (IDirect3DSurface9 * target, IDirect3DSurface9 *destination), (target, destination),
           nullptr, 0)
    RECORD(GetFrontBufferData, (UINT chain, IDirect3DSurface9 *destination), (chain, destination), nullptr, 0)
    RECORD(StretchRect,
           (IDirect3DSurface9 * source, const RECT *sourceRect, IDirect3DSurface9 *destination,
            const RECT *destinationRect, D3DTEXTUREFILTERTYPE filter),
           (source, sourceRect, destination, destinationRect, filter), nullptr, 0)
    RECORD(ColorFill, (IDirect3DSurface9 * surface, const RECT *rect, D3DCOLOR color), (surface, rect, color), rect, 1)
    ANSWER(CreateOffscreenPlainSurface,
           (UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, IDirect3DSurface9 **surface, HANDLE *shared),
           (width, height, format, pool, surface, shared), surface, NULL)
    KEEP(SetRenderTarget, (DWORD index, IDirect3DSurface9 *surface), (index, surface), nullptr, index < 4,
         renderTargets[index] = surface)
    HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD index, IDirect3DSurface9 **surface) override
    {
        return HandOut(Record(__func__, Words(index, surface)), index < 4 ? renderTargets[index] : NULL, surface);
    }
    KEEP(SetDepthStencilSurface, (IDirect3DSurface9 * surface), (surface), nullptr, true, depthStencil = surface)
    HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface9 **surface) override
    {
        return HandOut(Record(__func__, Words(surface)), depthStencil, surface);
    }

    // Scene, transforms, viewport, material and lights
    RECORD(BeginScene, (), (), nullptr, 0)
    RECORD(EndScene, (), (), nullptr, 0)
    RECORD(Clear, (DWORD count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil),
           (count, rects, flags, color, z, stencil), rects, count)
    KEEP(SetTransform, (D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix), (state), matrix, matrix != NULL,
         transforms[state] = *matrix)
    ANSWER(GetTransform, (D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix), (state, matrix), matrix,
           transforms.count(state) ? transforms[state] : D3DMATRIX{})
    RECORD(MultiplyTransform, (D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix), (state), matrix, 1)
    KEEP(SetViewport, (const D3DVIEWPORT9 *value), (value), value, value != NULL, viewport = *value)
    ANSWER(GetViewport, (D3DVIEWPORT9 * value), (value), value, viewport)
    KEEP(SetMaterial, (const D3DMATERIAL9 *value), (value), value, value != NULL, material = *value)
    ANSWER(GetMaterial, (D3DMATERIAL9 * value), (value), value, material)
    RECORD(SetLight, (DWORD index, const D3DLIGHT9 *light), (index, light), light, 1)
    ZERO(GetLight, (DWORD index, D3DLIGHT9 *light), (index, light), light, 1)
    RECORD(LightEnable, (DWORD index, WINBOOL enable), (index, enable), nullptr, 0)
    ANSWER(GetLightEnable, (DWORD index, WINBOOL *enable), (index, enable), enable, FALSE)
    RECORD(SetClipPlane, (DWORD index, const float *plane), (index, plane), plane, 4)
    ZERO(GetClipPlane, (DWORD index, float *plane), (index, plane), plane, 4)

    // Render, sampler and texture-stage states
    KEEP(SetRenderState, (D3DRENDERSTATETYPE state, DWORD value), (state, value), nullptr, true,
         renderStates[state] = value)
    ANSWER(GetRenderState, (D3DRENDERSTATETYPE state, DWORD *value), (state, value), value,
           StateOf(renderStates, state))
    ANSWER(CreateStateBlock, (D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9 **block), (type, block), block, NULL)
    RECORD(BeginStateBlock, (), (), nullptr, 0)
    ANSWER(EndStateBlock, (IDirect3DStateBlock9 * *block), (block), block, NULL)
    RECORD(SetClipStatus, (const D3DCLIPSTATUS9 *status), (status), status, 1)
    ZERO(GetClipStatus, (D3DCLIPSTATUS9 * status), (status), status, 1)
    // Stand-in textures are not reference-counted here.
    ANSWER(GetTexture, (DWORD stage, IDirect3DBaseTexture9 **texture), (stage, texture), texture,
           stage < 16 ? textures[stage] : NULL)
    KEEP(SetTexture, (DWORD stage, IDirect3DBaseTexture9 *texture), (stage, texture), nullptr, stage < 16,
         textures[stage] = texture)
    ANSWER(GetTextureStageState, (DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD *value), (stage, type, value),
           value, stage < 8 ? StateOf(stageStates[stage], type) : 0)
    KEEP(SetTextureStageState, (DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value), (stage, type, value), nullptr,
         stage < 8, stageStates[stage][type] = value)
    ANSWER(GetSamplerState, (DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD *value), (sampler, type, value), value,
           sampler < 16 ? StateOf(samplerStates[sampler], type) : 0)
    KEEP(SetSamplerState, (DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value), (sampler, type, value), nullptr,
         sampler < 16, samplerStates[sampler][type] = value)
    ANSWER(ValidateDevice, (DWORD * passes), (passes), passes, 1)
    RECORD(SetPaletteEntries, (UINT palette, const PALETTEENTRY *entries), (palette, entries), entries, 256)
    ZERO(GetPaletteEntries, (UINT palette, PALETTEENTRY *entries), (palette, entries), entries, 256)
    RECORD(SetCurrentTexturePalette, (UINT palette), (palette), nullptr, 0)
    ANSWER(GetCurrentTexturePalette, (UINT * palette), (palette), palette, 0)
    KEEP(SetScissorRect, (const RECT *rect), (rect), rect, rect != NULL, scissor = *rect)
    ANSWER(GetScissorRect, (RECT * rect), (rect), rect, scissor)
    RECORD(SetSoftwareVertexProcessing, (WINBOOL software), (software), nullptr, 0)
    RECORD_VALUE(WINBOOL, GetSoftwareVertexProcessing, (), (), FALSE)
    RECORD(SetNPatchMode, (float segments), (segments), nullptr, 0)
    RECORD_VALUE(float, GetNPatchMode, (), (), 0.0f)

    // Drawing
    RECORD(DrawPrimitive, (D3DPRIMITIVETYPE type, UINT start, UINT count), (type, start, count), nullptr, 0)
    RECORD(DrawIndexedPrimitive,
           (D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT vertices, UINT startIndex, UINT count),
           (type, baseVertex, minIndex, vertices, startIndex, count), nullptr, 0)
    RECORD(DrawPrimitiveUP, (D3DPRIMITIVETYPE type, UINT count, const void *data, UINT stride),
           (type, count, data, stride), (const unsigned char *)data, VerticesOf(type, count) * stride)
    RECORD(DrawIndexedPrimitiveUP,
           (D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices, UINT count, const void *indices, D3DFORMAT indexFormat,
            const void *data, UINT stride),
           (type, minIndex, vertices, count, indices, indexFormat, data, stride), (const unsigned char *)indices,
           VerticesOf(type, count) * (indexFormat == D3DFMT_INDEX32 ? 4 : 2))
    RECORD(ProcessVertices,
           (UINT sourceStart, UINT destinationIndex, UINT count, IDirect3DVertexBuffer9 *destination,
            IDirect3DVertexDeclaration9 *declaration, DWORD flags),
           (sourceStart, destinationIndex, count, destination, declaration, flags), nullptr, 0)
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                                      IDirect3DVertexDeclaration9 **declaration) override
    {
        size_t count = 0;
        while (elements != NULL && elements[count].Stream != 0xFF) {
            count++;
        }
        return NoObject(Record(__func__, Words(elements, declaration), elements, Bytes(elements, count + 1)),
                        declaration);
    }
    RECORD(SetVertexDeclaration, (IDirect3DVertexDeclaration9 * declaration), (declaration), nullptr, 0)
    ANSWER(GetVertexDeclaration, (IDirect3DVertexDeclaration9 * *declaration), (declaration), declaration, NULL)
    KEEP(SetFVF, (DWORD value), (value), nullptr, true, fvf = value)
    ANSWER(GetFVF, (DWORD * value), (value), value, fvf)

    // Shaders, constants and streams
    ANSWER(CreateVertexShader, (const DWORD *code, IDirect3DVertexShader9 **shader), (code, shader), shader, NULL)
    KEEP(SetVertexShader, (IDirect3DVertexShader9 * shader), (shader), nullptr, true, vertexShader = shader)
    ANSWER(GetVertexShader, (IDirect3DVertexShader9 * *shader), (shader), shader, vertexShader)
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT first, const float *data, UINT count) override
    {
        StoreConstants(vertexConstants, 256, first, data, count);
        return Record(__func__, Words(first, data, count), data, Bytes(data, 4 * count));
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantF(UINT first, float *data, UINT count) override
    {
        LoadConstants(vertexConstants, 256, first, data, count);
        return Record(__func__, Words(first, data, count));
    }
    RECORD(SetVertexShaderConstantI, (UINT first, const int *data, UINT count), (first, data, count), data, 4 * count)
    ZERO(GetVertexShaderConstantI, (UINT first, int *data, UINT count), (first, data, count), data, 4 * count)
    RECORD(SetVertexShaderConstantB, (UINT first, const WINBOOL *data, UINT count), (first, data, count), data, count)
    ZERO(GetVertexShaderConstantB, (UINT first, WINBOOL *data, UINT count), (first, data, count), data, count)
    RECORD(SetStreamSource, (UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset, UINT stride),
           (stream, buffer, offset, stride), nullptr, 0)
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT stream, IDirect3DVertexBuffer9 **buffer, UINT *offset,
                                              UINT *stride) override
    {
        Zero(offset, 1);
        Zero(stride, 1);
        return NoObject(Record(__func__, Words(stream, buffer, offset, stride)), buffer);
    }
    RECORD(SetStreamSourceFreq, (UINT stream, UINT divider), (stream, divider), nullptr, 0)
    ANSWER(GetStreamSourceFreq, (UINT stream, UINT *divider), (stream, divider), divider, 1)
    RECORD(SetIndices, (IDirect3DIndexBuffer9 * buffer), (buffer), nullptr, 0)
    ANSWER(GetIndices, (IDirect3DIndexBuffer9 * *buffer), (buffer), buffer, NULL)
    ANSWER(CreatePixelShader, (const DWORD *code, IDirect3DPixelShader9 **shader), (code, shader), shader, NULL)
    KEEP(SetPixelShader, (IDirect3DPixelShader9 * shader), (shader), nullptr, true, pixelShader = shader)
    ANSWER(GetPixelShader, (IDirect3DPixelShader9 * *shader), (shader), shader, pixelShader)
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT first, const float *data, UINT count) override
    {
        StoreConstants(pixelConstants, 224, first, data, count);
        return Record(__func__, Words(first, data, count), data, Bytes(data, 4 * count));
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantF(UINT first, float *data, UINT count) override
    {
        LoadConstants(pixelConstants, 224, first, data, count);
        return Record(__func__, Words(first, data, count));
    }
    RECORD(SetPixelShaderConstantI, (UINT first, const int *data, UINT count), (first, data, count), data, 4 * count)
    ZERO(GetPixelShaderConstantI, (UINT first, int *data, UINT count), (first, data, count), data, 4 * count)
    RECORD(SetPixelShaderConstantB, (UINT first, const WINBOOL *data, UINT count), (first, data, count), data, count)
    ZERO(GetPixelShaderConstantB, (UINT first, WINBOOL *data, UINT count), (first, data, count), data, count)
    RECORD(DrawRectPatch, (UINT handle, const float *segments, const D3DRECTPATCH_INFO *info), (handle, segments, info),
           nullptr, 0)
    RECORD(DrawTriPatch, (UINT handle, const float *segments, const D3DTRIPATCH_INFO *info), (handle, segments, info),
           nullptr, 0)
    RECORD(DeletePatch, (UINT handle), (handle), nullptr, 0)
    ANSWER(CreateQuery, (D3DQUERYTYPE type, IDirect3DQuery9 **query), (type, query), query, NULL)

  private:
    ULONG m_References = 1;
};

UINT BytesPerPixel(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
        return 2;
    default:
        return 4;
    }
}

void ClearDevicePath(void)
{
    g_StateCache = DeviceStateCache();
    g_VertexBatch = VertexBatch();
    g_D3D = Direct3DGlobals();
    g_DrawState = DrawState();
    g_DrawState.brightness = 0xFFFFFF;
    g_DrawState.alphaTestFunc = -1;
    g_DrawState.blendGraph = -1;
    MakeIdentityMatrix(&g_DrawState.world);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// The test's side

RecordingDevice::RecordingDevice()
    : caps(), textures(), viewport(), scissor(), material(), fvf(0), vertexShader(NULL), pixelShader(NULL),
      renderTargets(), depthStencil(NULL), vertexConstants(), pixelConstants()
{
    caps.DeviceType = D3DDEVTYPE_HAL;
    caps.MaxTextureWidth = caps.MaxTextureHeight = 16384;
    caps.MaxTextureBlendStages = caps.MaxSimultaneousTextures = 8;
    caps.MaxAnisotropy = 16;
    caps.PrimitiveMiscCaps = D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_TSSARGTEMP;
    caps.VertexShaderVersion = D3DVS_VERSION(3, 0);
    caps.PixelShaderVersion = D3DPS_VERSION(3, 0);
    static const char *creators[] = {"CreateAdditionalSwapChain",
                                     "GetSwapChain",
                                     "CreateTexture",
                                     "CreateVolumeTexture",
                                     "CreateCubeTexture",
                                     "CreateVertexBuffer",
                                     "CreateIndexBuffer",
                                     "CreateRenderTarget",
                                     "CreateDepthStencilSurface",
                                     "CreateOffscreenPlainSurface",
                                     "CreateStateBlock",
                                     "EndStateBlock",
                                     "CreateVertexDeclaration",
                                     "CreateVertexShader",
                                     "CreatePixelShader",
                                     "CreateQuery",
                                     "GetDirect3D"};
    for (const char *method : creators) {
        m_Results[method] = D3DERR_NOTAVAILABLE;
    }
}

void RecordingDevice::ClearCalls()
{
    calls.clear();
}

void RecordingDevice::SetResult(const char *method, HRESULT result)
{
    m_Results[method] = result;
}

size_t RecordingDevice::Count(const char *method) const
{
    return Calls(method).size();
}

std::vector<DeviceCall> RecordingDevice::Calls(const char *method) const
{
    std::vector<DeviceCall> found;
    for (const DeviceCall &call : calls) {
        if (call.method == method) {
            found.push_back(call);
        }
    }
    return found;
}

std::vector<DeviceCall> RecordingDevice::StateCalls(const char *method, DWORD state, int stage) const
{
    std::vector<DeviceCall> found;
    size_t stateArgument = stage < 0 ? 0 : 1;
    for (const DeviceCall &call : Calls(method)) {
        if (call.args.size() > stateArgument && call.args[stateArgument] == state &&
            (stage < 0 || call.args[0] == (uintptr_t)stage)) {
            found.push_back(call);
        }
    }
    return found;
}

int RecordingDevice::IndexOf(const char *method, size_t from) const
{
    for (size_t i = from; i < calls.size(); i++) {
        if (calls[i].method == method) {
            return (int)i;
        }
    }
    return -1;
}

HRESULT RecordingDevice::Record(const char *method, std::vector<uintptr_t> args, const void *data, size_t size)
{
    DeviceCall call;
    call.method = method;
    call.args = std::move(args);
    if (data != NULL) {
        call.data.assign((const unsigned char *)data, (const unsigned char *)data + size);
    }
    calls.push_back(std::move(call));
    auto chosen = m_Results.find(method);
    return chosen != m_Results.end() ? chosen->second : D3D_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Stand-in surface

#define SURFACE_ANSWER(type, name, parameters, value)                                                                  \
    type StandInSurface::name parameters                                                                               \
    {                                                                                                                  \
        return value;                                                                                                  \
    }

StandInSurface::StandInSurface(UINT width_, UINT height_, D3DFORMAT format_)
    : width(width_), height(height_), format(format_), pixels((size_t)width_ * height_ * BytesPerPixel(format_)),
      references(1)
{
}

HRESULT StandInSurface::QueryInterface(REFIID riid, void **object)
{
    if (object == NULL) {
        return E_POINTER;
    }
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DSurface9)) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

SURFACE_ANSWER(ULONG, AddRef, (), ++references)
SURFACE_ANSWER(ULONG, Release, (), references > 0 ? --references : 0) // the test owns the object
SURFACE_ANSWER(HRESULT, GetDevice, (IDirect3DDevice9 * *device), NoObject(D3DERR_NOTAVAILABLE, device))
SURFACE_ANSWER(HRESULT, SetPrivateData, (REFGUID, const void *, DWORD, DWORD), D3D_OK)
SURFACE_ANSWER(HRESULT, GetPrivateData, (REFGUID, void *, DWORD *), D3DERR_NOTFOUND)
SURFACE_ANSWER(HRESULT, FreePrivateData, (REFGUID), D3D_OK)
SURFACE_ANSWER(DWORD, SetPriority, (DWORD), 0)
SURFACE_ANSWER(DWORD, GetPriority, (), 0)
SURFACE_ANSWER(void, PreLoad, (), void())
SURFACE_ANSWER(D3DRESOURCETYPE, GetType, (), D3DRTYPE_SURFACE)
SURFACE_ANSWER(HRESULT, GetContainer, (REFIID, void **container), NoObject(E_NOINTERFACE, container))
SURFACE_ANSWER(HRESULT, UnlockRect, (), D3D_OK)
SURFACE_ANSWER(HRESULT, GetDC, (HDC * dc), NoObject(D3DERR_INVALIDCALL, dc))
SURFACE_ANSWER(HRESULT, ReleaseDC, (HDC), D3DERR_INVALIDCALL)

HRESULT StandInSurface::GetDesc(D3DSURFACE_DESC *description)
{
    if (description == NULL) {
        return D3DERR_INVALIDCALL;
    }
    *description = D3DSURFACE_DESC();
    description->Format = format;
    description->Type = D3DRTYPE_SURFACE;
    description->Usage = D3DUSAGE_RENDERTARGET;
    description->Pool = D3DPOOL_DEFAULT;
    description->Width = width;
    description->Height = height;
    return D3D_OK;
}

HRESULT StandInSurface::LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD)
{
    if (locked == NULL) {
        return D3DERR_INVALIDCALL;
    }
    UINT pitch = width * BytesPerPixel(format);
    size_t offset = rect != NULL ? (size_t)rect->top * pitch + (size_t)rect->left * BytesPerPixel(format) : 0;
    locked->Pitch = (INT)pitch;
    locked->pBits = pixels.data() + offset;
    return D3D_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Scope

RecordingDeviceScope::RecordingDeviceScope() : device(*new RecordingDirect3DDevice())
{
    ClearDevicePath();
    g_StateCache.device = static_cast<RecordingDirect3DDevice *>(&device);
    g_StateCache.alphaTestOverrideFunc = -1;
}

RecordingDeviceScope::~RecordingDeviceScope()
{
    g_StateCache.device = NULL;
    ClearDevicePath();
    delete static_cast<RecordingDirect3DDevice *>(&device);
}
