// Recording stand-in device and surface: the method bodies. Each records itself and answers from the state the
// earlier calls left; objects the device would create are not made (the creating methods fail unless a test
// chooses otherwise, and hand out null).
#include "recording_device.h"

template <class T> static uintptr_t Word(T value)
{
    return (uintptr_t)value;
}

static uintptr_t Word(float value)
{
    DWORD bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

static size_t VerticesOf(D3DPRIMITIVETYPE type, UINT primitives)
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

template <class T> static HRESULT NoObject(HRESULT result, T **out)
{
    if (out != NULL) {
        *out = NULL;
    }
    return result;
}

template <class T> static HRESULT HandOut(HRESULT result, T *object, T **out)
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

RecordingDevice::RecordingDevice()
    : caps(), textures(), viewport(), scissor(), material(), fvf(0), vertexShader(NULL), pixelShader(NULL),
      renderTargets(), depthStencil(NULL), vertexConstants(), pixelConstants(), references(1)
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
// IUnknown

HRESULT RecordingDevice::QueryInterface(REFIID riid, void **object)
{
    Record(__func__, {});
    if (object == NULL) {
        return E_POINTER;
    }
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DDevice9)) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

ULONG RecordingDevice::AddRef()
{
    return ++references;
}

ULONG RecordingDevice::Release()
{
    return references > 0 ? --references : 0; // the test owns the object
}

// ---------------------------------------------------------------------------------------------------------------
// Device, swap chain and presentation

HRESULT RecordingDevice::TestCooperativeLevel()
{
    return Record(__func__, {});
}

UINT RecordingDevice::GetAvailableTextureMem()
{
    Record(__func__, {});
    return 256u << 20;
}

HRESULT RecordingDevice::EvictManagedResources()
{
    return Record(__func__, {});
}

HRESULT RecordingDevice::GetDirect3D(IDirect3D9 **direct3D)
{
    return NoObject(Record(__func__, {Word(direct3D)}), direct3D);
}

HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS9 *out)
{
    HRESULT result = Record(__func__, {Word(out)});
    if (out != NULL) {
        *out = caps;
    }
    return result;
}

HRESULT RecordingDevice::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE *mode)
{
    HRESULT result = Record(__func__, {swapChain, Word(mode)});
    if (mode != NULL) {
        *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    }
    return result;
}

HRESULT RecordingDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS *parameters)
{
    HRESULT result = Record(__func__, {Word(parameters)});
    if (parameters != NULL) {
        *parameters = {0, D3DDEVTYPE_HAL, NULL, D3DCREATE_SOFTWARE_VERTEXPROCESSING};
    }
    return result;
}

HRESULT RecordingDevice::SetCursorProperties(UINT x, UINT y, IDirect3DSurface9 *bitmap)
{
    return Record(__func__, {x, y, Word(bitmap)});
}

void RecordingDevice::SetCursorPosition(int x, int y, DWORD flags)
{
    Record(__func__, {Word(x), Word(y), flags});
}

WINBOOL RecordingDevice::ShowCursor(WINBOOL show)
{
    Record(__func__, {Word(show)});
    return FALSE;
}

HRESULT RecordingDevice::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS *parameters, IDirect3DSwapChain9 **swapChain)
{
    return NoObject(Record(__func__, {Word(parameters), Word(swapChain)}), swapChain);
}

HRESULT RecordingDevice::GetSwapChain(UINT index, IDirect3DSwapChain9 **swapChain)
{
    return NoObject(Record(__func__, {index, Word(swapChain)}), swapChain);
}

UINT RecordingDevice::GetNumberOfSwapChains()
{
    Record(__func__, {});
    return 1;
}

HRESULT RecordingDevice::Reset(D3DPRESENT_PARAMETERS *parameters)
{
    return Record(__func__, {Word(parameters)}, parameters, parameters != NULL ? sizeof *parameters : 0);
}

HRESULT RecordingDevice::Present(const RECT *source, const RECT *destination, HWND window, const RGNDATA *dirty)
{
    return Record(__func__, {Word(source), Word(destination), Word(window), Word(dirty)});
}

HRESULT RecordingDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9 **surface)
{
    return HandOut(Record(__func__, {swapChain, index, Word(type), Word(surface)}), renderTargets[0], surface);
}

HRESULT RecordingDevice::GetRasterStatus(UINT swapChain, D3DRASTER_STATUS *status)
{
    HRESULT result = Record(__func__, {swapChain, Word(status)});
    if (status != NULL) {
        *status = {TRUE, 0};
    }
    return result;
}

HRESULT RecordingDevice::SetDialogBoxMode(WINBOOL enable)
{
    return Record(__func__, {Word(enable)});
}

void RecordingDevice::SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP *ramp)
{
    Record(__func__, {swapChain, flags, Word(ramp)});
}

void RecordingDevice::GetGammaRamp(UINT swapChain, D3DGAMMARAMP *ramp)
{
    Record(__func__, {swapChain, Word(ramp)});
    if (ramp != NULL) {
        memset(ramp, 0, sizeof *ramp);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Resources

HRESULT RecordingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, IDirect3DTexture9 **texture, HANDLE *shared)
{
    return NoObject(Record(__func__, {width, height, levels, usage, Word(format), Word(pool), Word(shared)}), texture);
}

HRESULT RecordingDevice::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                             D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9 **texture,
                                             HANDLE *shared)
{
    return NoObject(Record(__func__, {width, height, depth, levels, usage, Word(format), Word(pool), Word(shared)}),
                    texture);
}

HRESULT RecordingDevice::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           IDirect3DCubeTexture9 **texture, HANDLE *shared)
{
    return NoObject(Record(__func__, {edge, levels, usage, Word(format), Word(pool), Word(shared)}), texture);
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvfValue, D3DPOOL pool,
                                            IDirect3DVertexBuffer9 **buffer, HANDLE *shared)
{
    return NoObject(Record(__func__, {length, usage, fvfValue, Word(pool), Word(shared)}), buffer);
}

HRESULT RecordingDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           IDirect3DIndexBuffer9 **buffer, HANDLE *shared)
{
    return NoObject(Record(__func__, {length, usage, Word(format), Word(pool), Word(shared)}), buffer);
}

HRESULT RecordingDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                            DWORD quality, WINBOOL lockable, IDirect3DSurface9 **surface,
                                            HANDLE *shared)
{
    return NoObject(
        Record(__func__, {width, height, Word(format), Word(multiSample), quality, Word(lockable), Word(shared)}),
        surface);
}

HRESULT RecordingDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                                   D3DMULTISAMPLE_TYPE multiSample, DWORD quality, WINBOOL discard,
                                                   IDirect3DSurface9 **surface, HANDLE *shared)
{
    return NoObject(
        Record(__func__, {width, height, Word(format), Word(multiSample), quality, Word(discard), Word(shared)}),
        surface);
}

HRESULT RecordingDevice::UpdateSurface(IDirect3DSurface9 *source, const RECT *sourceRect,
                                       IDirect3DSurface9 *destination, const POINT *point)
{
    return Record(__func__, {Word(source), Word(sourceRect), Word(destination), Word(point)});
}

HRESULT RecordingDevice::UpdateTexture(IDirect3DBaseTexture9 *source, IDirect3DBaseTexture9 *destination)
{
    return Record(__func__, {Word(source), Word(destination)});
}

HRESULT RecordingDevice::GetRenderTargetData(IDirect3DSurface9 *target, IDirect3DSurface9 *destination)
{
    return Record(__func__, {Word(target), Word(destination)});
}

HRESULT RecordingDevice::GetFrontBufferData(UINT swapChain, IDirect3DSurface9 *destination)
{
    return Record(__func__, {swapChain, Word(destination)});
}

HRESULT RecordingDevice::StretchRect(IDirect3DSurface9 *source, const RECT *sourceRect, IDirect3DSurface9 *destination,
                                     const RECT *destinationRect, D3DTEXTUREFILTERTYPE filter)
{
    return Record(__func__, {Word(source), Word(sourceRect), Word(destination), Word(destinationRect), Word(filter)});
}

HRESULT RecordingDevice::ColorFill(IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR color)
{
    return Record(__func__, {Word(surface), Word(rect), color}, rect, rect != NULL ? sizeof *rect : 0);
}

HRESULT RecordingDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                     IDirect3DSurface9 **surface, HANDLE *shared)
{
    return NoObject(Record(__func__, {width, height, Word(format), Word(pool), Word(shared)}), surface);
}

HRESULT RecordingDevice::SetRenderTarget(DWORD index, IDirect3DSurface9 *surface)
{
    HRESULT result = Record(__func__, {index, Word(surface)});
    if (SUCCEEDED(result) && index < 4) {
        renderTargets[index] = surface;
    }
    return result;
}

HRESULT RecordingDevice::GetRenderTarget(DWORD index, IDirect3DSurface9 **surface)
{
    return HandOut(Record(__func__, {index, Word(surface)}), index < 4 ? renderTargets[index] : NULL, surface);
}

HRESULT RecordingDevice::SetDepthStencilSurface(IDirect3DSurface9 *surface)
{
    HRESULT result = Record(__func__, {Word(surface)});
    if (SUCCEEDED(result)) {
        depthStencil = surface;
    }
    return result;
}

HRESULT RecordingDevice::GetDepthStencilSurface(IDirect3DSurface9 **surface)
{
    return HandOut(Record(__func__, {Word(surface)}), depthStencil, surface);
}

// ---------------------------------------------------------------------------------------------------------------
// Scene, transforms, viewport, material and lights

HRESULT RecordingDevice::BeginScene()
{
    return Record(__func__, {});
}

HRESULT RecordingDevice::EndScene()
{
    return Record(__func__, {});
}

HRESULT RecordingDevice::Clear(DWORD count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil)
{
    return Record(__func__, {count, Word(rects), flags, color, Word(z), stencil}, rects,
                  rects != NULL ? count * sizeof *rects : 0);
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix)
{
    HRESULT result = Record(__func__, {Word(state)}, matrix, matrix != NULL ? sizeof *matrix : 0);
    if (SUCCEEDED(result) && matrix != NULL) {
        transforms[state] = *matrix;
    }
    return result;
}

HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix)
{
    HRESULT result = Record(__func__, {Word(state), Word(matrix)});
    if (matrix != NULL) {
        *matrix = transforms.count(state) ? transforms[state] : D3DMATRIX{};
    }
    return result;
}

HRESULT RecordingDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix)
{
    return Record(__func__, {Word(state)}, matrix, matrix != NULL ? sizeof *matrix : 0);
}

HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT9 *value)
{
    HRESULT result = Record(__func__, {Word(value)}, value, value != NULL ? sizeof *value : 0);
    if (SUCCEEDED(result) && value != NULL) {
        viewport = *value;
    }
    return result;
}

HRESULT RecordingDevice::GetViewport(D3DVIEWPORT9 *value)
{
    HRESULT result = Record(__func__, {Word(value)});
    if (value != NULL) {
        *value = viewport;
    }
    return result;
}

HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL9 *value)
{
    HRESULT result = Record(__func__, {Word(value)}, value, value != NULL ? sizeof *value : 0);
    if (SUCCEEDED(result) && value != NULL) {
        material = *value;
    }
    return result;
}

HRESULT RecordingDevice::GetMaterial(D3DMATERIAL9 *value)
{
    HRESULT result = Record(__func__, {Word(value)});
    if (value != NULL) {
        *value = material;
    }
    return result;
}

HRESULT RecordingDevice::SetLight(DWORD index, const D3DLIGHT9 *light)
{
    return Record(__func__, {index, Word(light)}, light, light != NULL ? sizeof *light : 0);
}

HRESULT RecordingDevice::GetLight(DWORD index, D3DLIGHT9 *light)
{
    HRESULT result = Record(__func__, {index, Word(light)});
    if (light != NULL) {
        memset(light, 0, sizeof *light);
    }
    return result;
}

HRESULT RecordingDevice::LightEnable(DWORD index, WINBOOL enable)
{
    return Record(__func__, {index, Word(enable)});
}

HRESULT RecordingDevice::GetLightEnable(DWORD index, WINBOOL *enable)
{
    HRESULT result = Record(__func__, {index, Word(enable)});
    if (enable != NULL) {
        *enable = FALSE;
    }
    return result;
}

HRESULT RecordingDevice::SetClipPlane(DWORD index, const float *plane)
{
    return Record(__func__, {index, Word(plane)}, plane, plane != NULL ? 4 * sizeof *plane : 0);
}

HRESULT RecordingDevice::GetClipPlane(DWORD index, float *plane)
{
    HRESULT result = Record(__func__, {index, Word(plane)});
    if (plane != NULL) {
        memset(plane, 0, 4 * sizeof *plane);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Render, sampler and texture-stage states

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    HRESULT result = Record(__func__, {Word(state), value});
    if (SUCCEEDED(result)) {
        renderStates[state] = value;
    }
    return result;
}

HRESULT RecordingDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD *value)
{
    HRESULT result = Record(__func__, {Word(state), Word(value)});
    if (value != NULL) {
        *value = renderStates.count(state) ? renderStates[state] : 0;
    }
    return result;
}

HRESULT RecordingDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9 **block)
{
    return NoObject(Record(__func__, {Word(type), Word(block)}), block);
}

HRESULT RecordingDevice::BeginStateBlock()
{
    return Record(__func__, {});
}

HRESULT RecordingDevice::EndStateBlock(IDirect3DStateBlock9 **block)
{
    return NoObject(Record(__func__, {Word(block)}), block);
}

HRESULT RecordingDevice::SetClipStatus(const D3DCLIPSTATUS9 *status)
{
    return Record(__func__, {Word(status)}, status, status != NULL ? sizeof *status : 0);
}

HRESULT RecordingDevice::GetClipStatus(D3DCLIPSTATUS9 *status)
{
    HRESULT result = Record(__func__, {Word(status)});
    if (status != NULL) {
        memset(status, 0, sizeof *status);
    }
    return result;
}

HRESULT RecordingDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9 **texture)
{
    HRESULT result = Record(__func__, {stage, Word(texture)});
    if (texture != NULL) {
        *texture = stage < 16 ? textures[stage] : NULL; // stand-in textures are not reference-counted here
    }
    return result;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture)
{
    HRESULT result = Record(__func__, {stage, Word(texture)});
    if (SUCCEEDED(result) && stage < 16) {
        textures[stage] = texture;
    }
    return result;
}

HRESULT RecordingDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD *value)
{
    HRESULT result = Record(__func__, {stage, Word(type), Word(value)});
    if (value != NULL) {
        *value = stage < 8 && stageStates[stage].count(type) ? stageStates[stage][type] : 0;
    }
    return result;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    HRESULT result = Record(__func__, {stage, Word(type), value});
    if (SUCCEEDED(result) && stage < 8) {
        stageStates[stage][type] = value;
    }
    return result;
}

HRESULT RecordingDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD *value)
{
    HRESULT result = Record(__func__, {sampler, Word(type), Word(value)});
    if (value != NULL) {
        *value = sampler < 16 && samplerStates[sampler].count(type) ? samplerStates[sampler][type] : 0;
    }
    return result;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    HRESULT result = Record(__func__, {sampler, Word(type), value});
    if (SUCCEEDED(result) && sampler < 16) {
        samplerStates[sampler][type] = value;
    }
    return result;
}

HRESULT RecordingDevice::ValidateDevice(DWORD *passes)
{
    HRESULT result = Record(__func__, {Word(passes)});
    if (passes != NULL) {
        *passes = 1;
    }
    return result;
}

HRESULT RecordingDevice::SetPaletteEntries(UINT palette, const PALETTEENTRY *entries)
{
    return Record(__func__, {palette, Word(entries)}, entries, entries != NULL ? 256 * sizeof *entries : 0);
}

HRESULT RecordingDevice::GetPaletteEntries(UINT palette, PALETTEENTRY *entries)
{
    HRESULT result = Record(__func__, {palette, Word(entries)});
    if (entries != NULL) {
        memset(entries, 0, 256 * sizeof *entries);
    }
    return result;
}

HRESULT RecordingDevice::SetCurrentTexturePalette(UINT palette)
{
    return Record(__func__, {palette});
}

HRESULT RecordingDevice::GetCurrentTexturePalette(UINT *palette)
{
    HRESULT result = Record(__func__, {Word(palette)});
    if (palette != NULL) {
        *palette = 0;
    }
    return result;
}

HRESULT RecordingDevice::SetScissorRect(const RECT *rect)
{
    HRESULT result = Record(__func__, {Word(rect)}, rect, rect != NULL ? sizeof *rect : 0);
    if (SUCCEEDED(result) && rect != NULL) {
        scissor = *rect;
    }
    return result;
}

HRESULT RecordingDevice::GetScissorRect(RECT *rect)
{
    HRESULT result = Record(__func__, {Word(rect)});
    if (rect != NULL) {
        *rect = scissor;
    }
    return result;
}

HRESULT RecordingDevice::SetSoftwareVertexProcessing(WINBOOL software)
{
    return Record(__func__, {Word(software)});
}

WINBOOL RecordingDevice::GetSoftwareVertexProcessing()
{
    Record(__func__, {});
    return FALSE;
}

HRESULT RecordingDevice::SetNPatchMode(float segments)
{
    return Record(__func__, {Word(segments)});
}

float RecordingDevice::GetNPatchMode()
{
    Record(__func__, {});
    return 0.0f;
}

// ---------------------------------------------------------------------------------------------------------------
// Drawing

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count)
{
    return Record(__func__, {Word(type), start, count});
}

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT vertices,
                                              UINT startIndex, UINT count)
{
    return Record(__func__, {Word(type), Word(baseVertex), minIndex, vertices, startIndex, count});
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void *data, UINT stride)
{
    return Record(__func__, {Word(type), count, Word(data), stride}, data,
                  data != NULL ? VerticesOf(type, count) * stride : 0);
}

HRESULT RecordingDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices, UINT count,
                                                const void *indices, D3DFORMAT indexFormat, const void *data,
                                                UINT stride)
{
    size_t indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    return Record(__func__,
                  {Word(type), minIndex, vertices, count, Word(indices), Word(indexFormat), Word(data), stride},
                  indices, indices != NULL ? VerticesOf(type, count) * indexSize : 0);
}

HRESULT RecordingDevice::ProcessVertices(UINT sourceStart, UINT destinationIndex, UINT count,
                                         IDirect3DVertexBuffer9 *destination, IDirect3DVertexDeclaration9 *declaration,
                                         DWORD flags)
{
    return Record(__func__, {sourceStart, destinationIndex, count, Word(destination), Word(declaration), flags});
}

HRESULT RecordingDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                                 IDirect3DVertexDeclaration9 **declaration)
{
    size_t count = 0;
    while (elements != NULL && elements[count].Stream != 0xFF) {
        count++;
    }
    return NoObject(Record(__func__, {Word(elements), Word(declaration)}, elements, (count + 1) * sizeof *elements),
                    declaration);
}

HRESULT RecordingDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration)
{
    return Record(__func__, {Word(declaration)});
}

HRESULT RecordingDevice::GetVertexDeclaration(IDirect3DVertexDeclaration9 **declaration)
{
    return NoObject(Record(__func__, {Word(declaration)}), declaration);
}

HRESULT RecordingDevice::SetFVF(DWORD value)
{
    HRESULT result = Record(__func__, {value});
    if (SUCCEEDED(result)) {
        fvf = value;
    }
    return result;
}

HRESULT RecordingDevice::GetFVF(DWORD *value)
{
    HRESULT result = Record(__func__, {Word(value)});
    if (value != NULL) {
        *value = fvf;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Shaders, constants and streams

HRESULT RecordingDevice::CreateVertexShader(const DWORD *code, IDirect3DVertexShader9 **shader)
{
    return NoObject(Record(__func__, {Word(code), Word(shader)}), shader);
}

HRESULT RecordingDevice::SetVertexShader(IDirect3DVertexShader9 *shader)
{
    HRESULT result = Record(__func__, {Word(shader)});
    if (SUCCEEDED(result)) {
        vertexShader = shader;
    }
    return result;
}

HRESULT RecordingDevice::GetVertexShader(IDirect3DVertexShader9 **shader)
{
    HRESULT result = Record(__func__, {Word(shader)});
    if (shader != NULL) {
        *shader = vertexShader;
    }
    return result;
}

// The float constants the device holds; other constant kinds are recorded only.
static void StoreConstants(float (*registers)[4], UINT size, UINT first, const float *data, UINT count)
{
    for (UINT i = 0; data != NULL && i < count && first + i < size; i++) {
        memcpy(registers[first + i], data + 4 * i, sizeof registers[0]);
    }
}

static void LoadConstants(const float (*registers)[4], UINT size, UINT first, float *data, UINT count)
{
    for (UINT i = 0; data != NULL && i < count; i++) {
        for (int k = 0; k < 4; k++) {
            data[4 * i + k] = first + i < size ? registers[first + i][k] : 0.0f;
        }
    }
}

HRESULT RecordingDevice::SetVertexShaderConstantF(UINT first, const float *data, UINT count)
{
    HRESULT result = Record(__func__, {first, Word(data), count}, data, data != NULL ? count * 16 : 0);
    StoreConstants(vertexConstants, 256, first, data, count);
    return result;
}

HRESULT RecordingDevice::GetVertexShaderConstantF(UINT first, float *data, UINT count)
{
    LoadConstants(vertexConstants, 256, first, data, count);
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::SetVertexShaderConstantI(UINT first, const int *data, UINT count)
{
    return Record(__func__, {first, Word(data), count}, data, data != NULL ? count * 16 : 0);
}

HRESULT RecordingDevice::GetVertexShaderConstantI(UINT first, int *data, UINT count)
{
    if (data != NULL) {
        memset(data, 0, count * 16);
    }
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::SetVertexShaderConstantB(UINT first, const WINBOOL *data, UINT count)
{
    return Record(__func__, {first, Word(data), count}, data, data != NULL ? count * sizeof *data : 0);
}

HRESULT RecordingDevice::GetVertexShaderConstantB(UINT first, WINBOOL *data, UINT count)
{
    if (data != NULL) {
        memset(data, 0, count * sizeof *data);
    }
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset, UINT stride)
{
    return Record(__func__, {stream, Word(buffer), offset, stride});
}

HRESULT RecordingDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer9 **buffer, UINT *offset, UINT *stride)
{
    if (offset != NULL) {
        *offset = 0;
    }
    if (stride != NULL) {
        *stride = 0;
    }
    return NoObject(Record(__func__, {stream, Word(buffer), Word(offset), Word(stride)}), buffer);
}

HRESULT RecordingDevice::SetStreamSourceFreq(UINT stream, UINT divider)
{
    return Record(__func__, {stream, divider});
}

HRESULT RecordingDevice::GetStreamSourceFreq(UINT stream, UINT *divider)
{
    if (divider != NULL) {
        *divider = 1;
    }
    return Record(__func__, {stream, Word(divider)});
}

HRESULT RecordingDevice::SetIndices(IDirect3DIndexBuffer9 *buffer)
{
    return Record(__func__, {Word(buffer)});
}

HRESULT RecordingDevice::GetIndices(IDirect3DIndexBuffer9 **buffer)
{
    return NoObject(Record(__func__, {Word(buffer)}), buffer);
}

HRESULT RecordingDevice::CreatePixelShader(const DWORD *code, IDirect3DPixelShader9 **shader)
{
    return NoObject(Record(__func__, {Word(code), Word(shader)}), shader);
}

HRESULT RecordingDevice::SetPixelShader(IDirect3DPixelShader9 *shader)
{
    HRESULT result = Record(__func__, {Word(shader)});
    if (SUCCEEDED(result)) {
        pixelShader = shader;
    }
    return result;
}

HRESULT RecordingDevice::GetPixelShader(IDirect3DPixelShader9 **shader)
{
    HRESULT result = Record(__func__, {Word(shader)});
    if (shader != NULL) {
        *shader = pixelShader;
    }
    return result;
}

HRESULT RecordingDevice::SetPixelShaderConstantF(UINT first, const float *data, UINT count)
{
    HRESULT result = Record(__func__, {first, Word(data), count}, data, data != NULL ? count * 16 : 0);
    StoreConstants(pixelConstants, 224, first, data, count);
    return result;
}

HRESULT RecordingDevice::GetPixelShaderConstantF(UINT first, float *data, UINT count)
{
    LoadConstants(pixelConstants, 224, first, data, count);
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::SetPixelShaderConstantI(UINT first, const int *data, UINT count)
{
    return Record(__func__, {first, Word(data), count}, data, data != NULL ? count * 16 : 0);
}

HRESULT RecordingDevice::GetPixelShaderConstantI(UINT first, int *data, UINT count)
{
    if (data != NULL) {
        memset(data, 0, count * 16);
    }
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::SetPixelShaderConstantB(UINT first, const WINBOOL *data, UINT count)
{
    return Record(__func__, {first, Word(data), count}, data, data != NULL ? count * sizeof *data : 0);
}

HRESULT RecordingDevice::GetPixelShaderConstantB(UINT first, WINBOOL *data, UINT count)
{
    if (data != NULL) {
        memset(data, 0, count * sizeof *data);
    }
    return Record(__func__, {first, Word(data), count});
}

HRESULT RecordingDevice::DrawRectPatch(UINT handle, const float *segments, const D3DRECTPATCH_INFO *info)
{
    return Record(__func__, {handle, Word(segments), Word(info)});
}

HRESULT RecordingDevice::DrawTriPatch(UINT handle, const float *segments, const D3DTRIPATCH_INFO *info)
{
    return Record(__func__, {handle, Word(segments), Word(info)});
}

HRESULT RecordingDevice::DeletePatch(UINT handle)
{
    return Record(__func__, {handle});
}

HRESULT RecordingDevice::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9 **query)
{
    return NoObject(Record(__func__, {Word(type), Word(query)}), query);
}

// ---------------------------------------------------------------------------------------------------------------
// Stand-in surface

static UINT BytesPerPixel(D3DFORMAT format)
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

ULONG StandInSurface::AddRef()
{
    return ++references;
}

ULONG StandInSurface::Release()
{
    return references > 0 ? --references : 0; // the test owns the object
}

HRESULT StandInSurface::GetDevice(IDirect3DDevice9 **device)
{
    return NoObject(D3DERR_NOTAVAILABLE, device);
}

HRESULT StandInSurface::SetPrivateData(REFGUID, const void *, DWORD, DWORD)
{
    return D3D_OK;
}

HRESULT StandInSurface::GetPrivateData(REFGUID, void *, DWORD *)
{
    return D3DERR_NOTFOUND;
}

HRESULT StandInSurface::FreePrivateData(REFGUID)
{
    return D3D_OK;
}

DWORD StandInSurface::SetPriority(DWORD)
{
    return 0;
}

DWORD StandInSurface::GetPriority()
{
    return 0;
}

void StandInSurface::PreLoad()
{
}

D3DRESOURCETYPE StandInSurface::GetType()
{
    return D3DRTYPE_SURFACE;
}

HRESULT StandInSurface::GetContainer(REFIID, void **container)
{
    return NoObject(E_NOINTERFACE, container);
}

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

HRESULT StandInSurface::UnlockRect()
{
    return D3D_OK;
}

HRESULT StandInSurface::GetDC(HDC *dc)
{
    return NoObject(D3DERR_INVALIDCALL, dc);
}

HRESULT StandInSurface::ReleaseDC(HDC)
{
    return D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------------------------------------------
// Scope

static void ClearDevicePath(void)
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

RecordingDeviceScope::RecordingDeviceScope()
{
    ClearDevicePath();
    g_StateCache.device = &device;
    g_StateCache.alphaTestOverrideFunc = -1;
}

RecordingDeviceScope::~RecordingDeviceScope()
{
    g_StateCache.device = NULL;
    ClearDevicePath();
}
