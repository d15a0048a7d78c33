// Recording stand-in for the Direct3D 9 device: every method is implemented, every call is kept in order with its
// arguments (and a copy of the data a pointer argument names), and the device state the calls leave behind can be
// read back. A test chooses the result of any method and the caps the device reports. A stand-in surface of a
// chosen size goes with it. Pure test code: no window, no real device. Used on the thread that runs the test.
#pragma once

#include "graphics/graphics_test_hooks.h"

#include <map>
#include <string.h>
#include <string>
#include <vector>

// One device call. Scalar arguments in order: integers and enums as they are, pointers as addresses, floats as
// their bits. `data` copies what a pointer argument points at: the matrix, viewport, rectangle, material, light,
// shader constants, the vertices of DrawPrimitiveUP and the indices of DrawIndexedPrimitiveUP (its vertices stay
// where the caller keeps them: the argument holds their address).
struct DeviceCall {
    std::string method;
    std::vector<uintptr_t> args;
    std::vector<unsigned char> data;

    template <class T> T DataAs(size_t offset = 0) const
    {
        T value{};
        if (offset + sizeof value <= data.size()) {
            memcpy(&value, data.data() + offset, sizeof value);
        }
        return value;
    }
};

class RecordingDevice : public IDirect3DDevice9
{
  public:
    RecordingDevice();

    // The test's side.
    std::vector<DeviceCall> calls;
    D3DCAPS9 caps;
    void ClearCalls();
    void SetResult(const char *method, HRESULT result); // every later call of the method returns it
    size_t Count(const char *method) const;
    std::vector<DeviceCall> Calls(const char *method) const;
    // The calls of one state method that set `state` (SetRenderState, SetSamplerState/SetTextureStageState with
    // the stage as well).
    std::vector<DeviceCall> StateCalls(const char *method, DWORD state, int stage = -1) const;
    int IndexOf(const char *method, size_t from = 0) const; // -1 when absent

    // The state the calls left.
    std::map<DWORD, DWORD> renderStates;
    std::map<DWORD, DWORD> samplerStates[16];
    std::map<DWORD, DWORD> stageStates[8];
    IDirect3DBaseTexture9 *textures[16];
    std::map<DWORD, D3DMATRIX> transforms;
    D3DVIEWPORT9 viewport;
    RECT scissor;
    D3DMATERIAL9 material;
    DWORD fvf;
    IDirect3DVertexShader9 *vertexShader;
    IDirect3DPixelShader9 *pixelShader;
    IDirect3DSurface9 *renderTargets[4];
    IDirect3DSurface9 *depthStencil;
    float vertexConstants[256][4];
    float pixelConstants[224][4];
    ULONG references;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDirect3DDevice9
    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override;
    UINT STDMETHODCALLTYPE GetAvailableTextureMem() override;
    HRESULT STDMETHODCALLTYPE EvictManagedResources() override;
    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9 **direct3D) override;
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9 *out) override;
    HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT swapChain, D3DDISPLAYMODE *mode) override;
    HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS *parameters) override;
    HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT x, UINT y, IDirect3DSurface9 *bitmap) override;
    void STDMETHODCALLTYPE SetCursorPosition(int x, int y, DWORD flags) override;
    WINBOOL STDMETHODCALLTYPE ShowCursor(WINBOOL show) override;
    HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS *parameters,
                                                        IDirect3DSwapChain9 **swapChain) override;
    HRESULT STDMETHODCALLTYPE GetSwapChain(UINT index, IDirect3DSwapChain9 **swapChain) override;
    UINT STDMETHODCALLTYPE GetNumberOfSwapChains() override;
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS *parameters) override;
    HRESULT STDMETHODCALLTYPE Present(const RECT *source, const RECT *destination, HWND window,
                                      const RGNDATA *dirty) override;
    HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                                            IDirect3DSurface9 **surface) override;
    HRESULT STDMETHODCALLTYPE GetRasterStatus(UINT swapChain, D3DRASTER_STATUS *status) override;
    HRESULT STDMETHODCALLTYPE SetDialogBoxMode(WINBOOL enable) override;
    void STDMETHODCALLTYPE SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP *ramp) override;
    void STDMETHODCALLTYPE GetGammaRamp(UINT swapChain, D3DGAMMARAMP *ramp) override;
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9 **texture, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                                  D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9 **texture,
                                                  HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DCubeTexture9 **texture, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9 **buffer, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9 **buffer, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                                 D3DMULTISAMPLE_TYPE multiSample, DWORD quality, WINBOOL lockable,
                                                 IDirect3DSurface9 **surface, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                                        D3DMULTISAMPLE_TYPE multiSample, DWORD quality, WINBOOL discard,
                                                        IDirect3DSurface9 **surface, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE UpdateSurface(IDirect3DSurface9 *source, const RECT *sourceRect,
                                            IDirect3DSurface9 *destination, const POINT *point) override;
    HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture9 *source, IDirect3DBaseTexture9 *destination) override;
    HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9 *target, IDirect3DSurface9 *destination) override;
    HRESULT STDMETHODCALLTYPE GetFrontBufferData(UINT swapChain, IDirect3DSurface9 *destination) override;
    HRESULT STDMETHODCALLTYPE StretchRect(IDirect3DSurface9 *source, const RECT *sourceRect,
                                          IDirect3DSurface9 *destination, const RECT *destinationRect,
                                          D3DTEXTUREFILTERTYPE filter) override;
    HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9 *surface, const RECT *rect, D3DCOLOR color) override;
    HRESULT STDMETHODCALLTYPE CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                          IDirect3DSurface9 **surface, HANDLE *shared) override;
    HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD index, IDirect3DSurface9 *surface) override;
    HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD index, IDirect3DSurface9 **surface) override;
    HRESULT STDMETHODCALLTYPE SetDepthStencilSurface(IDirect3DSurface9 *surface) override;
    HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface9 **surface) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE EndScene() override;
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT *rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override;
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override;
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix) override;
    HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override;
    HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9 *value) override;
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9 *value) override;
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9 *value) override;
    HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9 *value) override;
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9 *light) override;
    HRESULT STDMETHODCALLTYPE GetLight(DWORD index, D3DLIGHT9 *light) override;
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, WINBOOL enable) override;
    HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD index, WINBOOL *enable) override;
    HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD index, const float *plane) override;
    HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD index, float *plane) override;
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD *value) override;
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9 **block) override;
    HRESULT STDMETHODCALLTYPE BeginStateBlock() override;
    HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DStateBlock9 **block) override;
    HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS9 *status) override;
    HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS9 *status) override;
    HRESULT STDMETHODCALLTYPE GetTexture(DWORD stage, IDirect3DBaseTexture9 **texture) override;
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture) override;
    HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD *value) override;
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD *value) override;
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD *passes) override;
    HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT palette, const PALETTEENTRY *entries) override;
    HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT palette, PALETTEENTRY *entries) override;
    HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT palette) override;
    HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT *palette) override;
    HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT *rect) override;
    HRESULT STDMETHODCALLTYPE GetScissorRect(RECT *rect) override;
    HRESULT STDMETHODCALLTYPE SetSoftwareVertexProcessing(WINBOOL software) override;
    WINBOOL STDMETHODCALLTYPE GetSoftwareVertexProcessing() override;
    HRESULT STDMETHODCALLTYPE SetNPatchMode(float segments) override;
    float STDMETHODCALLTYPE GetNPatchMode() override;
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override;
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT vertices,
                                                   UINT startIndex, UINT count) override;
    HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void *data,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices, UINT count,
                                                     const void *indices, D3DFORMAT indexFormat, const void *data,
                                                     UINT stride) override;
    HRESULT STDMETHODCALLTYPE ProcessVertices(UINT sourceStart, UINT destinationIndex, UINT count,
                                              IDirect3DVertexBuffer9 *destination,
                                              IDirect3DVertexDeclaration9 *declaration, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                                      IDirect3DVertexDeclaration9 **declaration) override;
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration) override;
    HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9 **declaration) override;
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD *value) override;
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD *code, IDirect3DVertexShader9 **shader) override;
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9 *shader) override;
    HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9 **shader) override;
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT first, const float *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantF(UINT first, float *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT first, const int *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantI(UINT first, int *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT first, const WINBOOL *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantB(UINT first, WINBOOL *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT stream, IDirect3DVertexBuffer9 **buffer, UINT *offset,
                                              UINT *stride) override;
    HRESULT STDMETHODCALLTYPE SetStreamSourceFreq(UINT stream, UINT divider) override;
    HRESULT STDMETHODCALLTYPE GetStreamSourceFreq(UINT stream, UINT *divider) override;
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9 *buffer) override;
    HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9 **buffer) override;
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD *code, IDirect3DPixelShader9 **shader) override;
    HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9 *shader) override;
    HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9 **shader) override;
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT first, const float *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantF(UINT first, float *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT first, const int *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantI(UINT first, int *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT first, const WINBOOL *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantB(UINT first, WINBOOL *data, UINT count) override;
    HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT handle, const float *segments, const D3DRECTPATCH_INFO *info) override;
    HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT handle, const float *segments, const D3DTRIPATCH_INFO *info) override;
    HRESULT STDMETHODCALLTYPE DeletePatch(UINT handle) override;
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9 **query) override;

  private:
    std::map<std::string, HRESULT> m_Results;
    HRESULT Record(const char *method, std::vector<uintptr_t> args, const void *data = NULL, size_t size = 0);
};

// A surface of a chosen size and format; GetDesc reports them, LockRect hands out memory of its own.
class StandInSurface : public IDirect3DSurface9
{
  public:
    StandInSurface(UINT width, UINT height, D3DFORMAT format = D3DFMT_X8R8G8B8);

    UINT width, height;
    D3DFORMAT format;
    std::vector<unsigned char> pixels;
    ULONG references;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9 **device) override;
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, const void *data, DWORD size, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, void *data, DWORD *size) override;
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID guid) override;
    DWORD STDMETHODCALLTYPE SetPriority(DWORD priority) override;
    DWORD STDMETHODCALLTYPE GetPriority() override;
    void STDMETHODCALLTYPE PreLoad() override;
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override;
    HRESULT STDMETHODCALLTYPE GetContainer(REFIID riid, void **container) override;
    HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC *description) override;
    HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnlockRect() override;
    HRESULT STDMETHODCALLTYPE GetDC(HDC *dc) override;
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC dc) override;
};

// Puts a fresh recording device behind the device path for the life of the object: the state cache, the vertex
// batch, the device globals and the draw settings are cleared first (the draw settings to their neutral values:
// white brightness, no alpha-test override, identity world) and the device is taken away at the end.
struct RecordingDeviceScope {
    RecordingDevice device;
    RecordingDeviceScope();
    ~RecordingDeviceScope();
};
