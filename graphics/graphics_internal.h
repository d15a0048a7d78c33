// Graphics core internals shared by the files of this folder only: the Direct3D device globals, the device state
// cache, the vertex batch and the draw settings block, with the calls the files make of one another. Nothing
// outside graphics/ includes it (tests reach it through graphics_test_hooks.h). Window thread only.
#pragma once

#include "graphics/graphics.h"
#include "image/image.h"

#include <d3d9.h>
#include <ddraw.h>

// The GDI call of that name is never used here: the engine's draw settings block takes the name.
#undef DrawState

// ---------------------------------------------------------------------------------------------------------------
// Device globals: the objects behind the device path. Null or 0 while the software screen draws.

enum GraphFormatSlot {
    GRAPH_FORMAT_16 = 0,
    GRAPH_FORMAT_32,
    GRAPH_FORMAT_ALPHA_16,
    GRAPH_FORMAT_ALPHA_32,
    GRAPH_FORMAT_ALPHA_TEST_16,
    GRAPH_FORMAT_ALPHA_TEST_32,
    GRAPH_FORMAT_DXT1,
    GRAPH_FORMAT_DXT2,
    GRAPH_FORMAT_DXT3,
    GRAPH_FORMAT_DXT4,
    GRAPH_FORMAT_DXT5,
    GRAPH_FORMAT_TARGET_16,
    GRAPH_FORMAT_TARGET_32,
    GRAPH_FORMAT_TARGET_ALPHA_32,
    GRAPH_FORMAT_TARGET_FLOAT_16,
    GRAPH_FORMAT_TARGET_FLOAT_32,
    GRAPH_FORMAT_COUNT
};

#define VERTEX_DECLARATION_COUNT 55

struct Direct3DGlobals {
    HMODULE d3d9Library;
    IDirectDraw7 *directDraw;
    IDirect3D9 *direct3D;
    IDirect3D9Ex *direct3DEx; // null when the system has no 9Ex
    IDirect3DDevice9 *device;
    IDirect3DDevice9Ex *deviceEx; // the same object as device when made through 9Ex
    IDirect3DSwapChain9 *swapChain;
    IDirect3DSurface9 *backBuffer;
    IDirect3DSurface9 *zBuffer;
    IDirect3DSurface9 *subBackBuffer;
    IDirect3DVolumeTexture9 *brightnessVolume;
    IDirect3DVertexDeclaration9 *declarations[VERTEX_DECLARATION_COUNT];
    IDirect3DVertexShader9 *standardVertexShader; // the standard shaders out of the built-in packs
    IDirect3DPixelShader9 *standardPixelShader;
    int sceneOpen;
    int sceneCounters[3];
    D3DFORMAT backBufferFormat;
    D3DFORMAT zFormat;
    int zBufferWidth, zBufferHeight;
    D3DCAPS9 caps;
    int tempRegisterArgument;   // D3DPMISCCAPS_TSSARGTEMP
    int blendOperations;        // D3DPMISCCAPS_BLENDOP
    int nonPowerOfTwoAllowed;   // D3DPTEXTURECAPS_NONPOW2CONDITIONAL
    int powerOfTwoOnly;         // D3DPTEXTURECAPS_POW2
    int maxTextureWidth, maxTextureHeight, maxTextureSquare;
    int shaderCapable, vertexShaderUsable, pixelShaderUsable;
    D3DFORMAT graphFormats[GRAPH_FORMAT_COUNT]; // 0 = not available
    D3DFORMAT screenTargetFormat;               // the render-target and alpha-test formats of the screen depth
    D3DFORMAT screenAlphaTestFormat;
    int backBufferLockFaster;
    int deviceMode; // 1 once the device, Z buffer and shaders are made; 0 while the software screen draws
};

extern Direct3DGlobals g_D3D;

// Start-up and end.
int CreateGraphicsDevice(void);
int CreateDirectDrawObject(void);
int CreateDirect3DObject(void);
int CreateDirect3DDevice(void);
int CreateZBuffer(void);
int CreateVertexDeclarations(void);
// The elements of model vertex declaration (threeNormals x 3 + boneSets) x 9 + texCoords, in stream 0 from offset
// 0, followed by room for the end mark; `size` is the bytes of one vertex.
#define MAX_VERTEX_ELEMENTS 24
struct VertexElementList {
    D3DVERTEXELEMENT9 elements[MAX_VERTEX_ELEMENTS];
    int count;
    int size;
};
void BuildModelVertexElements(int threeNormals, int boneSets, int texCoords, VertexElementList *list);
int CreateBrightnessVolumeTexture(void);
int SetupDeviceDefaults(void);
int CreateSoftwareScreens(void); // the three software screens, any earlier ones released
int ForceUseDirect3D(int flag);   // the use-Direct3D setting, whatever the engine's state
int ReleaseDirect3DSystem(void);
int ReleaseVertexDeclarations(void);
int ReleaseShaders(void);
int SetupShaders(void);
void ReleaseDevice(const char *logLine); // the device alone, logging the line
// Z buffer, sub back buffer, back buffer, swap chain, brightness volume, device (logging the line), Direct3D object.
void ReleaseDeviceChain(const char *deviceLogLine);
const PixelFormat *GetD3DFormatPixelFormat(D3DFORMAT format);
const PixelFormat *GetGraphFormatPixelFormat(int index);
int AdjustMultiSampleSettings(D3DFORMAT colorFormat, D3DMULTISAMPLE_TYPE *type, DWORD *quality);
MEMIMG *GetSoftwareScreen(void); // the screen image of the software path (invalid while the device draws)
// A full-screen 320x240 request runs at 640x480: turns the size into the emulated one and returns 1, else 0.
int TakeLowResolutionSize(int *width, int *height);
// The brightest colour of the same hue and saturation: the largest channel becomes 255.
void FullBrightnessColor(int red, int green, int blue, int *outRed, int *outGreen, int *outBlue);
// Texel (x, y, z) of a 128-cube brightness volume: FullBrightnessColor(2x, 2y, 2z), alpha 255.
void FillBrightnessVolume(const D3DLOCKED_BOX *box);
// Format choices of device creation, each logging its lines: the back buffer of a full screen by colour bits (0 for
// an unsupported depth), the Z format matching the back buffer, the sixteen graph slots and the screen-depth pair
// (-1 when a required slot has no candidate).
D3DFORMAT ChooseBackBufferFormat(IDirect3D9 *direct3D, int colorBits);
D3DFORMAT ChooseZFormat(IDirect3D9 *direct3D, D3DFORMAT backBufferFormat);
int ChooseGraphFormats(IDirect3D9 *direct3D, D3DFORMAT backBufferFormat, int colorBits);
const char *GetD3DFormatName(D3DFORMAT format); // "D3DFMT_..." or null
int GetWaitVerticalBlank(void);
// Device pass-throughs of the buffer tables and the vertical-blank waits: null without a device or on failure.
IDirectDraw7 *GetDirectDraw(void);
IDirect3DVertexBuffer9 *CreateDeviceVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
IDirect3DIndexBuffer9 *CreateDeviceIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);

// ---------------------------------------------------------------------------------------------------------------
// Device state cache: copies of every state sent, so that an unchanged value costs a compare.

struct TextureStageCopy {
    IDirect3DBaseTexture9 *texture;
    int texCoordIndex;
    int resultArgument;
    unsigned short alphaArg1, alphaArg2, alphaOp, colorArg1, colorArg2, colorOp;
};

struct SamplerCopy {
    int magFilter, minFilter, mipFilter, maxAnisotropy, addressU, addressV, addressW;
};

struct ShaderLightSlot {
    int enabled;
    int type; // D3DLIGHTTYPE
    float position[3], direction[3];
};

// The user constant ranges, in the order they are sent.
enum UserConstantRangeIndex {
    USER_VERTEX_FLOAT = 0,
    USER_VERTEX_INT,
    USER_VERTEX_BOOL,
    USER_PIXEL_FLOAT,
    USER_PIXEL_INT,
    USER_PIXEL_BOOL,
    USER_CONSTANT_RANGE_COUNT
};

struct UserConstantRange {
    int first, count;
};

struct DeviceStateCache {
    IDirect3DDevice9 *device; // null: no device (software screen, or graphics not started)
    int force;
    int blendDirty, textureDirty;
    // render states
    int zEnable, zWrite, zFunc, depthBias, fillMode, shadeMode, cullMode, lighting;
    int fogEnable, fogMode, fogColor;
    float fogStart, fogEnd, fogDensity;
    int specularEnable, diffuseMaterialSource, specularMaterialSource;
    int alphaTestEnable, alphaRef, alphaFunc, alphaBlendEnable, textureFactor, srcBlend, destBlend, blendOp;
    // deferred blend inputs
    int blendMode, alphaChannel, transparentColor;
    int alphaTestOverrideFunc, alphaTestOverrideRef;
    IDirect3DBaseTexture9 *texture;
    IDirect3DBaseTexture9 *blendGraphTexture;
    int blendGraphBorder, blendGraphRange;
    int modulateColor, modulateAlpha, colorReplacement; // the choices of the last draw-state application
    // samplers and stages
    SamplerCopy samplers[8];
    int samplersInUse;
    int filterMode, maxAnisotropy;
    TextureStageCopy stages[8];
    int textureTransformEnable[8];
    Matrix4 textureTransform[8];
    D3DVIEWPORT9 viewport;
    RECT scissor;
    IDirect3DSurface9 *renderTarget;
    int targetWidth, targetHeight;
    DWORD fvf;
    IDirect3DVertexShader9 *vertexShader;
    IDirect3DPixelShader9 *pixelShader;
    D3DMATERIAL9 material;
    // shader-constant shadows
    float vertexConstants[256][4];
    float pixelConstants[32][4];
    float textureFactorConstant[4];
    int userConstantSetOnDevice;
    int vertexShaderIndex, pixelShaderIndex;
    int shadersAvailable;
    // The first four lights as the built-in shaders see them (the lights work fills them): read for the shader
    // selection and, moved into view space, for the light registers the view matrix refreshes.
    ShaderLightSlot shaderLights[4];
    // The lights, material and global ambient colour as last sent (the lights work keeps them).
    D3DLIGHT9 lights[256];
    int lightEnabled[256];
    int highestEnabledLight; // -1: none
    float globalAmbient[4];  // red, green, blue, alpha
    // The user's own shader constants (the shader calls fill them), sent while the user set is on the device.
    UserConstantRange userConstantRanges[USER_CONSTANT_RANGE_COUNT];
    float userVertexFloat[256][4];
    int userVertexInt[16][4];
    BOOL userVertexBool[16];
    float userPixelFloat[224][4];
    int userPixelInt[16][4];
    BOOL userPixelBool[16];
};

extern DeviceStateCache g_StateCache;

int SetDeviceFilterMode(int mode);
int SetDeviceMaxAnisotropy(int level);
int SetDeviceBlendMode(int blendMode, int transparentColor, int alphaChannel);
int SetDeviceAlphaTest(int function, int reference);
int SetDeviceZEnable(int flag);
int SetDeviceZWrite(int value);
int SetDeviceZFunc(int function);
int SetDeviceDepthBias(int floatBits);
int SetDeviceFillMode(int mode);
int SetDeviceShadeMode(int mode);
int SetDeviceTexture(IDirect3DBaseTexture9 *texture);
int SetDeviceBlendGraph(IDirect3DBaseTexture9 *texture, int border, int range);
int SetVertexShaderConstants(int first, int count, const float *data);
int SetPixelShaderConstants(int first, int count, const float *data);
int SetDeviceWorldMatrix(const Matrix4 *matrix);
int SetDeviceViewMatrix(const Matrix4 *matrix);
int SetDeviceProjectionMatrix(const Matrix4 *matrix);
// Each of the first four lights has seven vertex float registers from LIGHT_VERTEX_REGISTER_FIRST on; this sends its
// position and direction, moved into view space, to the first two of them.
enum { LIGHT_VERTEX_REGISTER_FIRST = 14, LIGHT_VERTEX_REGISTER_STRIDE = 7 };
int SendShaderLightPlacement(int slot, const Matrix4 *view);
int SetDeviceLighting(int flag);
int SetDeviceDiffuseMaterialSource(int flag);
int SetDeviceSpecularMaterialSource(int flag);
int SetDeviceSpecularEnable(int flag);
int SetDeviceCullMode(int mode);
int SetDeviceTextureAddress(int sampler, int mode);
int SetDeviceTextureAddressU(int sampler, int mode);
int SetDeviceTextureAddressV(int sampler, int mode);
int SetDeviceTextureAddressW(int sampler, int mode);
int SetDeviceTextureTransform(int stage, int enable, const Matrix4 *matrix);
int SetDeviceFogEnable(int flag);
int SetDeviceFogMode(int mode);
int SetDeviceFogColor(int color);
int SetDeviceFogStartEnd(float start, float end);
int SetDeviceFogDensity(float density);
int SetDeviceViewport(const D3DVIEWPORT9 *viewport);
int SetDeviceViewportRect(int x1, int y1, int x2, int y2);
int SetDeviceScissorRect(const RECT *rect);
int SetDeviceFVF(DWORD fvf);
int SwitchShaderConstantSet(int userSet);
int UpdateShaderSelection(void);
int ReissueDeviceStates(void);
int ResetTexCoordIndexes(void);

// ---------------------------------------------------------------------------------------------------------------
// Draw state application: the draw settings turned into device states before each device draw.

enum ApplyDrawFlags {
    APPLY_USE_TRANSPARENCY = 0x1,
    APPLY_WHOLE_PIXELS = 0x2,
    APPLY_GOURAUD = 0x8,
    APPLY_MODULATE_COLOR = 0x20,
    APPLY_MODULATE_ALPHA = 0x40,
    APPLY_FOG = 0x80,
    APPLY_SKIP_BLEND = 0x100,
    APPLY_3D = 0x200,
    APPLY_SPECULAR = 0x400,
    APPLY_Z_3D = 0x800,
    APPLY_ADDRESS_FROM_STATE = 0x1000,
    APPLY_KEEP_SHADERS = 0x2000,
};

// What a drawer tells the application of the picture it draws (null for untextured draws).
struct DrawImageInfo {
    int alphaChannel;
    int transparentColor;
};

// One texture stage of a stage record; -1 and 0xFFFF mean "leave as it is".
struct StageEntry {
    int texCoordIndex;
    int resultArgument;
    unsigned short alphaArg1, alphaArg2, alphaOp, colorArg1, colorArg2, colorOp;
};

struct StageRecord {
    unsigned int count;
    StageEntry entries[8];
};

#define STAGE_RECORD_COUNT 96

const StageRecord *GetStageRecord(int index); // 0..95; the untextured record for -1

void ApplyDrawStates(const DrawImageInfo *image, IDirect3DBaseTexture9 *texture, int flags);
int ApplyBlendStageStates(int handles, const void *customRecord, int texturesOnly);
int ApplyDefaultDeviceStates(void);
int SetDeviceRenderTarget(IDirect3DSurface9 *surface);

// A whole blend set-up as the mask code hands it over: the render values, then the stages, each with its texture
// (or, when the caller says so, a graph handle to resolve; an invalid one gives no texture). A blend factor or
// operation of -1 is left as it is.
struct CustomStageRecord {
    int alphaTestEnable, alphaRef, alphaFunc, alphaBlendEnable, textureFactor, srcBlend, destBlend, blendOp;
    unsigned int count;
    struct {
        IDirect3DBaseTexture9 *texture;
        int graph;
        StageEntry stage;
    } entries[8];
};

int InstallCustomStageRecord(const CustomStageRecord *record, int texturesOnly);
int ApplyStageRecord(const CustomStageRecord *record, int texturesOnly, int handles);

// ---------------------------------------------------------------------------------------------------------------
// Vertex batch: every device drawer appends here; one DrawPrimitiveUP per run of equal states.

enum VertexKind { VERTEX_PLAIN = 0, VERTEX_TEXTURED = 1, VERTEX_BLEND = 2 };

struct Vertex2D {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
};

struct TexturedVertex2D {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};

struct BlendVertex2D {
    float x, y, z, rhw;
    D3DCOLOR diffuse, specular;
    float u0, v0, u1, v1;
};

struct Vertex3D {
    float x, y, z;
    D3DCOLOR diffuse;
};

struct TexturedVertex3D {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};

struct VertexBatch {
    int dimension; // 0 screen space, 1 3D
    int kind;      // VertexKind
    int primitive; // D3DPRIMITIVETYPE
    int count;
    unsigned char *write;
    int suppress; // the blend graph's border is 255: flushes draw nothing
};

extern VertexBatch g_VertexBatch;

int FlushVertexBatch(void);
int PrefillVertexBatchBuffers(void); // z 0, rhw 1 and the white specular colour in the screen-space buffers
// Makes room for `vertices` vertices of (dimension, kind, primitive), drawing the pending batch first when it is of
// another sort or would reach the capacity; returns the write pointer for the new vertices.
void *ReserveBatchVertices(int dimension, int kind, int primitive, int vertices);
void CommitBatchVertices(int vertices);
int GetBatchCapacity(int dimension, int kind);
int DrawGridMesh(int columns, const TexturedVertex2D *vertices, int rows);

// ---------------------------------------------------------------------------------------------------------------
// Draw settings and transforms.

// Draw targets that are screens rather than graphs.
#define SCREEN_BACK -2
#define SCREEN_EXTRA_1 -3
#define SCREEN_FRONT -4
#define SCREEN_EXTRA_2 -5

struct ZSettings {
    int enable, write, function, depthBias;
};

struct DrawState {
    int blendMode;      // 0..15
    int blendParameter; // 0..255
    unsigned int brightness; // 0x00RRGGBB
    int blendGraph;          // graph handle or -1
    int blendBorder, blendRange;
    float blendGraphWidth, blendGraphHeight, blendGraphInverseWidth, blendGraphInverseHeight;
    RECT drawArea; // right and bottom exclusive
    float drawAreaX1, drawAreaY1, drawAreaX2, drawAreaY2;
    RECT requestedArea;
    int emptyArea;
    int drawTarget; // -2 back, -4 front, -3 and -5 further screens, or a graph handle
    int drawScreenWidth, drawScreenHeight;
    MEMIMG *softwareTarget;
    MEMIMG *blendImage;
    int filterMode, maxAnisotropy;
    float screenZ; // the z of 2D vertices
    ZSettings z2D, z3D;
    int fillMode, cullMode;
    int fogEnable, fogMode;
    unsigned int fogColor;
    float fogStart, fogEnd, fogDensity;
    int addressU[8], addressV[8], addressW[8];
    int textureTransformEnable, textureTransformPending;
    Matrix4 textureTransform;
    int lightingOff, specular, materialDiffuse, materialSpecular;
    int alphaTestFunc, alphaTestRef; // function -1: no override
    int colorReplacement, vertexAlphaInMode0;
    int suspended; // nothing in the program sets it
    int resetting; // while ResetDrawSettings runs
    int maskInUse;
    unsigned int drawColorWord; // MakeDrawColorWord, refreshed by the blend and brightness setters
    // transforms and camera
    Matrix4 world, view, projection, viewportAdjust, areaViewport, areaViewportInverse, combined, full;
    int worldSet, viewSet, projectionSet, combinedValid;
    float cameraRight[4], cameraUp[4], cameraForward[4];
    int projectionKind; // 0 perspective, 1 orthographic, 2 as last set
    float nearZ, farZ, fieldOfView, orthoSize, aspectFactor;
    Matrix4 storedProjection;
    float cameraCenterX, cameraCenterY, viewportScale;
    Vector3 cameraEye, cameraTarget, cameraUpVector;
};

extern DrawState g_DrawState;

unsigned int MakeDrawColorWord(void);
int RefreshDrawColorWord(void);
int ResetDrawSettings(void);
// The draw target selected without waiting for the window's activation (the device rebuild runs inside it).
int SelectDrawTarget(int target);
int ResetTargetTransforms(int width, int height); // the camera and matrices of a newly selected target
int UpdateCombinedMatrices(void);
int UpdateProjectionMatrix(void);
int ApplyDeviceProjection(void); // projection x viewport-adjust x inverse area viewport, to the device
int SendTextureTransformIfPending(void);
// The area viewport matrix of the draw area and its inverse (kept on both paths, so that the projection the device
// receives always matches the area); an empty area keeps the previous inverse.
int SetDrawAreaTransforms(const RECT *area);
// projection x viewport-adjust x inverse area viewport: what the device is given as its projection.
int ComposeDeviceProjection(Matrix4 *out);
// Copies the settings the software drawers obey into g_MemImgDrawSettings; every setter ends with it.
void SyncSoftwareDrawSettings(void);
// A colour in a packed pixel format: each channel cut to its width and shifted into place, plus the alpha mask.
unsigned int MakeColorForFormat(const PixelFormat *format, int red, int green, int blue);

// ---------------------------------------------------------------------------------------------------------------
// Texture splitting: how a graph side is cut into textures the device accepts.

struct TexturePieceLimits {
    int maxSize;                  // largest texture side (taken down to a power of two, at least 8)
    int forcedMaxSize;            // nonzero when the engine settings force the maximum
    int powerOfTwoOnly;           // the device demands power-of-two sides
    int nonPowerOfTwoConditional; // ... but allows other sides under conditions
    int neverSplit;               // the engine setting that keeps every side in one piece where it fits
    int screenWidth;
};

// Number of pieces for `size`; with `pieces` given, their sizes in order (the array holds the count that a call
// with null returns). 0 for a size below 1.
int SplitTextureSizesWith(const TexturePieceLimits *limits, int size, int *pieces, int keepWhole, int powerOfTwo);
int SplitTextureSizes(int size, int *pieces, int keepWhole, int powerOfTwo); // with the device's limits

// ---------------------------------------------------------------------------------------------------------------
// Screen flip and scene.

void BeginSceneIfNeeded(void);
int PresentScreenToWindow(const RECT *rect);
int EnsureSubBackBuffer(void);
int CreateSubBackBuffer(void);
void CALLBACK FrontScreenTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
void WaitVerticalBlankPaced(void);
void MeasureVerticalBlankPeriod(void);

#define FRONT_SCREEN_TIMER_ID 32767
#define FRONT_SCREEN_TIMER_PERIOD 32

// ---------------------------------------------------------------------------------------------------------------
// Graph handles: the table of records, the shared images behind them and the creation settings.

#define GRAPH_SLOT_COUNT 32768
#define GRAPH_RECORD_FIRST_PIECE_DRAWS 4 // room a new record has before its draw information is built
// Format indexes of software-path images (device-path images take GraphFormatSlot).
#define GRAPH_SOFT_FORMAT_16 18
#define GRAPH_SOFT_FORMAT_ALPHA_16 19
#define GRAPH_SOFT_FORMAT_32 20
#define GRAPH_SOFT_FORMAT_ALPHA_32 21

// What a graph's image is made as; 13 bytes, filled by the graph set-up.
struct GraphFormatDesc {
    uint8_t deviceTexture; // 1 device textures, 0 a software image
    uint8_t alpha;
    uint8_t renderTarget; // drawable; on the software path 1 for every graph but a blend image
    uint8_t softwareImage;
    uint8_t staging; // a system-memory staging texture beside each texture (every graph of a 9Ex device)
    uint8_t kind;    // PixelFormatCode: 0 plain, 1-5 DXT1-DXT5, 6 and 7 float
    uint8_t mipLevels;
    uint8_t oneBitAlpha; // a graph without alpha gets one alpha bit (16-bit) or eight (32-bit) for keying
    uint8_t colorBits;   // 16 or 32
    uint8_t blendImage;
    uint8_t palette8; // software path: 8-bit palette image without alpha
    uint8_t multiSampleType;
    uint8_t multiSampleQuality;
};
static_assert(sizeof(GraphFormatDesc) == 13, "the descriptor is 13 bytes");

// One Direct3D texture of a picture: a picture beyond the device's texture rules is cut into several.
struct TexturePiece {
    IDirect3DTexture9 *texture;
    IDirect3DTexture9 *staging;
    IDirect3DSurface9 *surface; // level 0 of the texture
    IDirect3DSurface9 *multiSampleSurface;
    IDirect3DSurface9 *depthSurface;
    int x, y;                  // in the picture
    int usedWidth, usedHeight; // the part of the texture the picture covers
    int textureWidth, textureHeight;
};

struct GraphPieceVertex {
    float x, y, u, v;
};

// One ready-made textured quad of a graph over one piece: corners top-left, top-right, bottom-left, bottom-right.
struct GraphPieceDraw {
    int gx, gy; // in the graph
    int sx, sy; // in the piece's texture
    int width, height;
    GraphPieceVertex vertices[4];
    uint8_t aboveDiagonal[4]; // the corner lies on or above the graph's diagonal from (0, height) to (width, 0)
    TexturePiece *piece;
};

// The picture shared by the graph that made it and every graph derived from it; freed with its last graph.
struct SharedGraphImage {
    int referenceCount;
    int formatIndex; // GraphFormatSlot on the device path, GRAPH_SOFT_FORMAT_* on the software path
    GraphFormatDesc format;
    uint32_t transparentColor; // 0x00RRGGBB
    int width, height;
    uint32_t depthBufferWanted; // render targets only
    // Device path: pieceCount pieces, held in the same allocation after this head.
    int mipLevels;
    int pieceCount;
    TexturePiece *pieces;
    MEMIMG image; // software path
};

// Where a graph's pixels can be found again after device loss; one allocation (head, then the copied path, file
// bytes or base images with their pixels), shared by reference count. Exactly one kind of source is filled.
struct GraphRestoreSource {
    char *path;
    BaseImage *image;
    BaseImage *alphaImage;
    void *memImage;
    uint32_t memImageSize;
    void *alphaMemImage;
    uint32_t alphaMemImageSize;
    uint32_t reverse; // mirrored left-right after loading
    int referenceCount;
};

struct GraphAuxBlock {
    void *data; // owned: freed with the record
    uint32_t word;
};

// A graph handle's record. Its length varies with its draw information (first made with room for
// GRAPH_RECORD_FIRST_PIECE_DRAWS): reach it through its slot again after anything that may resize it.
struct GraphRecord {
    HandleRecordHeader header; // check number, own handle
    int *lostFlag;             // set to 1 when the handle is released
    EngineHandle movie;        // a movie drawing into this graph, or -1
    GraphRestoreSource *restoreSource;
    int sourceX, sourceY; // this graph's top-left in the picture it was loaded from
    SharedGraphImage *image;
    int x, y; // inside the shared image
    int width, height;
    GraphAuxBlock aux[2];
    MEMIMG view; // software path: this graph's rectangle of the shared image
    int pieceDrawCount;
    GraphPieceDraw pieceDraws[]; // device path: one per visible piece
};

// What graph creation reads; the draw-settings reset puts them back to their defaults.
struct GraphCreateSettings {
    int colorBits; // 0: the screen's depth
    int oneBitAlpha;
    int transparentColorDisabled;
    int emptyGraphAlpha;
    uint32_t transparentColor; // 0x00RRGGBB
    int transparentFromTopLeft;
    int transparentEdgeFix;
    int drawable, drawableAlpha, drawableFloat, drawableMultiSampleType, drawableMultiSampleQuality;
    int staging, blendImage;
    int defaultMipLevels; // -1 full chain, 0 one level, n n levels
    int keepRestoreSourcesOff;
};

extern GraphCreateSettings g_GraphCreateSettings;

int ResetGraphCreateSettings(void);
int ResetGraphTableCounts(void);
// Takes a slot and a zeroed record; never fails: a full table or a failed allocation ends the process.
EngineHandle AllocGraphHandle(void);
GraphRecord *GetGraphRecord(EngineHandle graph); // the record of a live graph handle, else null
GraphRecord *GetGraphSlotRecord(int slot); // whatever record a slot holds, its check number not compared; or null
// Reallocates a live graph's record for `drawCount` piece draws and puts it back into its slot: read the record
// again from its slot afterwards. Null (record unchanged) on failure or for a dead handle.
GraphRecord *ResizeGraphRecordDraws(EngineHandle graph, int drawCount);
int GetGraphTableUsedEnd(void); // one past the highest slot in use
int GetGraphTableCount(void);
// The graph takes one reference to the image and the rectangle (x, y, width, height) of it, giving up any image
// it held; likewise for a restore source (null: none).
int AttachSharedGraphImage(GraphRecord *graph, SharedGraphImage *image, int x, int y, int width, int height);
int ShareGraphRestoreSource(GraphRecord *graph, GraphRestoreSource *source);
int DropGraphRestoreSource(GraphRecord *graph);
int ReleaseImageTextures(SharedGraphImage *image); // the device objects of every piece, each set to null
// Graph creation: the device objects of every piece of an image (again after device re-creation), and a graph's
// ready-made quads over its pieces (device) or its software view, reallocating its record.
int CreateGraphTextures(SharedGraphImage *image);
// A live graph's first piece texture, else null (a dead handle or a graph without device textures).
IDirect3DBaseTexture9 *ResolveGraphTexture(int graph);
IDirect3DBaseTexture9 *GetWhiteTexture(void); // the 8x8 white graph's, made on first need; null when it fails
int BuildGraphTextureDrawInfo(EngineHandle graph);
// A live graph that can take drawing (made as a render target; on the software path every graph but a blend image),
// else null; and a device graph's render surface: its first piece's multisample surface, else its level-0 surface.
GraphRecord *GetDrawableGraph(int graph);
IDirect3DSurface9 *GetGraphRenderSurface(const GraphRecord *graph);
// The screen surface drawing reaches on the device: the sub back buffer once the flip made one, else the back buffer.
IDirect3DSurface9 *GetScreenSurface(void);
// Allocates a graph and sets up its image for a picture of the given size and kind (mip levels -1: the default
// setting); -1 with the handle released on any failure.
EngineHandle MakeGraphForSize(int width, int height, int mipLevels, int alpha, int palette8, int kind);
// Uploads `sourceRect` of the picture (null: all of it) to (destX, destY) of the graph, or of its whole shared
// image with `wholeImage`; keying turns the transparent colour into alpha 0 where the texture can show it.
int UploadImageToGraphCore(EngineHandle graph, BaseImage *image, BaseImage *alphaImage, const RECT *sourceRect,
                           int destX, int destY, int keying, int wholeImage);
// The format index (GraphFormatSlot) of a descriptor; GRAPH_FORMAT_COUNT for a kind above 7.
int GraphFormatToIndex(const GraphFormatDesc *desc);
const PixelFormat *GetGraphFormat(const GraphFormatDesc *desc); // null for an index of 16 or more

// ---------------------------------------------------------------------------------------------------------------
// Restore sources and derived graphs.

// Keeps what the graph's pixels can be loaded from again (one kind: a path, file bytes or base images, a DIB
// section in `bitmapFormat` counting as a base image), or shares the existing source of the graph in shareFrom's
// slot (its check number not compared); with nothing to keep and nothing to share the graph keeps none.
int SetGraphRestoreSource(EngineHandle graph, const char *path, const PixelFormat *bitmapFormat, HBITMAP bitmap,
                          HBITMAP alphaBitmap, const void *memory, int memorySize, const void *alphaMemory,
                          int alphaMemorySize, const BaseImage *image, const BaseImage *alphaImage, int reverse,
                          int shareFrom);
int SetGraphRestorePath(EngineHandle graph, const char *path, int reverse, int shareFrom);
// `graph` (allocated, empty) takes the (x, y, width, height) rectangle of `source`'s image.
int DeriveSubGraphCore(EngineHandle source, EngineHandle graph, int x, int y, int width, int height);
// How many cells a sheet cut into xNum x yNum cells, at most allNum, yields (0 when any count is below 1).
int CountDivGraphCells(int allNum, int xNum, int yNum);

// ---------------------------------------------------------------------------------------------------------------
// Device image drawers: a graph's piece quads into the vertex batch. Each returns 0, or -1 without a device or with
// the device lost. Quad corners here run top-left, top-right, bottom-left, bottom-right.

int G_D3D_DrawImage(int x, int y, float fx, float fy, const GraphRecord *graph, int transparent, int wholePixels);
int G_D3D_DrawImageStretched(int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                             const GraphRecord *graph, int transparent, int filter);
int G_D3D_DrawImageRotated(float x, float y, double scale, double angle, const GraphRecord *graph, int transparent,
                           int turn);
int G_D3D_DrawImageQuad(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, const GraphRecord *graph,
                        int transparent);
int G_D3D_DrawImageQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                         const GraphRecord *graph, int transparent);
int G_D3D_DrawImageQuadPiece(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                             const GraphPieceDraw *piece);

// ---------------------------------------------------------------------------------------------------------------
// Software-screen draw paths: the drawing calls' arguments handed to the software renderer with the current
// software target and blend image. Quad corners run top-left, top-right, bottom-left, bottom-right. Each returns 0.

int SoftDrawGraphAt(int transparent, int x, int y, const GraphRecord *graph);
int SoftDrawGraphStretched(int x1, int y1, int x2, int y2, const GraphRecord *graph, int transparent);
int SoftDrawGraphRotated(float x, float y, double scale, double angle, int transparent, int turn,
                         const GraphRecord *graph);
int SoftDrawGraphQuad(const GraphRecord *graph, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                      int transparent);
int SoftDrawGraphQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                       const GraphRecord *graph, int transparent);
int SoftFillBox(int x1, int y1, int x2, int y2, unsigned int color);
int SoftDrawBoxOutline(int x1, int y1, int x2, int y2, unsigned int color);
int SoftDrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill);

// ---------------------------------------------------------------------------------------------------------------
// Later graphics work, named here so start-up and end can call it: lights and material, masks.

int DeleteMaskScreen(void);
int DeleteAllMasks(void);
int DeleteAllLights(void); // every light but the default one, then the default light
int DeleteAllLightsExceptDefault(void);
int CreateDefaultLight(void); // at the draw-settings reset, once: the default light and the material defaults
int GetDefaultLightHandle(void);
int CreateLightOfType(int type); // D3DLIGHTTYPE, the new light's other values at their defaults
int PushChangedLights(void); // the changed lights to the device before a 3D draw
int PushMaterial(void);      // the material when it changed (or under the force flag)
int ForceLightRepush(void);  // after the device is made again: the next push sends every light
int SetDeviceLight(int index, int enable, const D3DLIGHT9 *light);
int SetMaterialState(const D3DMATERIAL9 *material);
int CloseMaskPass(void);
int ReleaseMaskSurfaces(void);
int RestoreMaskScreen(void); // after the device is made again: the mask screen and its use as they were
unsigned char *GetMaskBuffer(int *pitch); // one byte a screen pixel, 0 lets drawing through; null without one
EngineHandle CreateMaskHandle(void *data); // takes the data (an engine block) over; -1 when the table is full
// The mask screen on the device (d3d_masks.cpp): its textures, drawing sent to it, the target's rectangle copied
// in, and the write-back through the mask.
int CreateMaskDeviceObjects(int screenWidth, int screenHeight);
int SelectMaskDeviceTarget(void);
int CopyTargetToMaskScreen(const RECT *rect);
int WriteBackMaskScreen(const RECT *rect, const unsigned char *mask, int pitch, int reverse);
int ReleaseDeviceObjects(void);
int ReleaseShaderPacks(void); // the in-memory shader-pack archive and its buffers

// ---------------------------------------------------------------------------------------------------------------
// Device loss and restore: the release of every device object, the device made again, its state pushed back and
// every graph, buffer and model refilled from what the engine kept in memory.

int ReinitGraphics(void);
int PushCachedDeviceState(void); // every cached state sent again under the force flag (a new device)
int RecreateDeviceResources(void); // the device objects of every graph, buffer and shader, made again empty
int RunGraphRestore(void);         // the restore callback (or RestoreAllGraphs), then the models and the fonts
int RestoreAllGraphs(void);        // the default restore callback: every graph reloaded from its restore source
// The buffer and shader tables' device objects: released on loss (records and memory copies stay), and made again
// afterwards, each buffer refilled from its memory copy.
int ReleaseTableDeviceObjects(void);
int RecreateTableDeviceObjects(void);
