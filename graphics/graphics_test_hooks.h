// Graphics core: what the test programs reach into besides the public contract (graphics.h). Programs never
// include it. The internals (device globals, state cache, batch, draw settings) and the switches that put
// stand-in Direct3D objects behind the device path. Called on the thread that runs the test.
#pragma once

#include "graphics/graphics_internal.h"
#include "graphics/model_tables.h"

// Replaces the d3d9.dll entries that make the Direct3D object (null puts the DLL's own back). With create9Ex null
// and the plain switch on, only Direct3DCreate9 is tried.
typedef IDirect3D9 *(WINAPI *Direct3DCreate9Function)(UINT version);
typedef HRESULT(WINAPI *Direct3DCreate9ExFunction)(UINT version, IDirect3D9Ex **out);
int SetDirect3DCreateHooks(Direct3DCreate9Function create9, Direct3DCreate9ExFunction create9Ex);
// 1: the Direct3D object is made with Direct3DCreate9 even where Direct3DCreate9Ex exists.
int SetForcePlainDirect3D9(int flag);
// 1: screen read-back goes through a render-target copy (GetRenderTargetData) even where the lock is faster.
int SetForceScreenLockCopy(int flag);

// What the screen flip has done since the program started: presents that reached the window, paced vertical-blank
// waits, and the GDI call and destination of the last software-screen present.
enum ScreenFlipGdiCall { SCREEN_FLIP_GDI_NONE = 0, SCREEN_FLIP_GDI_SET_BITS, SCREEN_FLIP_GDI_STRETCH };
struct ScreenFlipRecord {
    int presents;
    int pacedWaits;
    int gdiCall;
    RECT gdiDestination;
};
const ScreenFlipRecord *GetScreenFlipRecord(void);
void ForgetLastPresentedRects(void); // as before the first present

// 1: a device rebuild makes no device and goes on with the software screen.
int SetRebuildsEndInSoftware(int flag);
int GetRebuildCount(void);            // device rebuilds since the program started
ULONG GetLastDeviceReferences(void); // what the last device release returned (0: nothing outlived it)

// Buffer and shader table records made as a creating call would make them (zeroed memory copy, device object made
// when a device exists); the record of a live handle of one of the three tags (else null); a table's used end and
// live count.
EngineHandle AddTestVertexBuffer(int elementSize, int elementCount);
EngineHandle AddTestIndexBuffer(int elementSize, int elementCount);
EngineHandle AddTestShader(int vertexShader, const void *code, int codeSize);
void *GetTableRecord(int typeTag, EngineHandle handle);
int GetTableUsedEnd(int typeTag, int *count);
// The model-base slot array replaced by `usedEnd` empty slots with the placeholder in `placeholderSlot` (-1: none);
// a used end of 0 leaves no array.
int SetTestModelBaseSlots(int usedEnd, int placeholderSlot);
// The model system's textures: the two built-in pictures' graphs and the grey ramp's (-1 before its start).
void GetModelSystemTextures(EngineHandle graphs[3]);
// A model base made as a loader would make it: meshes over consecutive runs of vertices and indices filled from
// the seed (indices inside each mesh), one frame work block and bone a frame, each material with its image files
// copied and its graph made, and attached blocks. -1 for a mesh outside the kinds or the 16-bit index range, or
// before the model system's start. The base's device buffers are left to RestoreModelBaseBuffers.
struct TestModelMesh {
    int material, skinKind, vertexKind, vertexCount, indexCount, perModelVertices;
};
struct TestModelMaterial {
    const void *colorFile, *alphaFile; // image files in memory, null: absent
    int colorFileSize, alphaFileSize;
    int bump;
    float bumpHeight;
    int mip;
};
EngineHandle AddTestModelBase(const TestModelMesh *meshes, int meshCount, const TestModelMaterial *materials,
                              int materialCount, int frameCount, int hasPhysics, uint32_t seed);
// A model of the base (one more reference to it) with its per-frame, per-material and work blocks and attached
// lists, two per-instance texture records of which the second is in use when `instanceTexture` is given, the
// physics world (an engine block, or null) and its own vertex buffers when the base's buffers are present.
EngineHandle AddTestModel(EngineHandle base, const TestModelMaterial *instanceTexture, PhysicsWorld *physics);
// The model buffers' creation or lock step with this number (1: the next) fails; 0: none.
int SetModelBufferFailureStep(int step);

// Pictures the graph restore pass has loaded (decodes started, failed ones too) since the program started.
int GetGraphRestoreLoadCount(void);

// The shader packs (shader_packs.cpp). LoadShaderPacks unpacks the pack image once (1 when the standard pack is
// loaded); SetShaderPackImage gives it another image to unpack (null puts the built-in one back) and the unpack
// counter says how often an image was unpacked since the program started. The code lookups answer the tables:
// the standard pack's vertex (pixel 0) or pixel entries, and the mix pack's 64 x 4 entries; null for empty slots.
int LoadShaderPacks(void);
void SetShaderPackImage(const unsigned char *image, unsigned int size);
int GetShaderPackImageUnpacks(void);
const unsigned char *GetStandardShaderCode(int pixel, int entry, int *size);
const unsigned char *GetMixShaderCode(int entry, int *size);
