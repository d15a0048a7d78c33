// Graphics core: the Direct3D 9 device or software screen, graph handles, drawing calls and the screen flip.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Screen size.

int GetScreenSize(int *width, int *height); // either pointer may be null; an unset size gives 640 x 480

// ---------------------------------------------------------------------------------------------------------------
// Graph creation settings and graphs rebuilt from base images.

struct BaseImage;
struct PixelFormat;

int GetScreenColorBits(void);
int SetGraphColorBits(int bits); // colour depth of new graphs; 0 (the default) takes the screen's
int GetGraphColorBits(void);
int SetGraphCreateFlagA(int flag); // 1 (the default): graphs without alpha get an alpha bit for keying
int GetGraphCreateFlagA(void);
int SetTransparentColorEnabled(int enable);
int GetTransparentColorEnabled(void);
int SetEmptyGraphAlphaFlag(int flag); // empty graphs get an alpha channel
int GetEmptyGraphAlphaFlag(void);
int SetGraphTransparentColor(int red, int green, int blue); // kept unchanged on an 8-bit screen
// The pixel format of a plain graph with these properties (font glyph pages use it).
const PixelFormat *GetGraphFormatIndex(int alpha, int oneBitAlpha, int bits32, int renderTarget);
int RebuildGraphFromBaseImage(BaseImage *image, EngineHandle graph);
// Graphs made from a size or a picture, and pictures uploaded into them; handles or -1, else 0 or -1. Keying
// follows the transparent-colour setting. A fill reaches software graphs and drawable graphs only.
EngineHandle MakeEmptyGraph(int width, int height);
EngineHandle MakeGraphForImage(BaseImage *image, BaseImage *alphaImage); // no pixels yet
EngineHandle CreateGraphFromImage(BaseImage *image, BaseImage *alphaImage);
int RecreateGraphFromImage(BaseImage *image, BaseImage *alphaImage, EngineHandle graph);
int UploadImageToGraph(BaseImage *image, BaseImage *alphaImage, int srcX, int srcY, EngineHandle graph);
int UploadImageToGraphAt(BaseImage *image, BaseImage *alphaImage, const RECT *srcRect, int destX, int destY,
                         EngineHandle graph);
int FillGraphWithColor(EngineHandle graph, int red, int green, int blue, int alpha);
// Re-creates `graph` as a 256 x 8 grey ramp (every row 0x000000, 0x010101, ... 0xFFFFFF) without a transparent
// colour; returns the handle, or -1 when the picture cannot be made or the graph not re-created from it.
int RecreateGrayRampGraph(EngineHandle graph);
// Graphs from image files held in memory or in the executable's resources; each keeps the file's bytes as its
// restore source (the cells of a sheet share one). Handles or -1, else 0 or -1. A sheet is cut row by row into
// xNum x yNum cells of xSize x ySize (right to left with `reverse`), at most allNum, into handles[0..].
EngineHandle CreateGraphFromMemImage(const void *memory, int size, const void *alphaMemory, int alphaSize,
                                     int transparent, int reverse);
int RecreateGraphFromMemImage(const void *memory, int size, EngineHandle graph, const void *alphaMemory,
                              int alphaSize, int ignored, int reverse);
int CreateDivGraphFromMemImage(const void *memory, int size, int allNum, int xNum, int yNum, int xSize, int ySize,
                               EngineHandle *handles, int transparent, int reverse, const void *alphaMemory,
                               int alphaSize);
EngineHandle LoadGraphFromResource(const char *name, const char *type);
int LoadDivGraphFromResource(const char *name, const char *type, int allNum, int xNum, int yNum, int xSize,
                             int ySize, EngineHandle *handles);
// Derived graphs share their source's image; screen copies take a rectangle of a screen or graph into a graph.
EngineHandle DeriveSubGraph(int x, int y, int width, int height, EngineHandle source);
int CreateDivGraphFromGraphImage(BaseImage *image, BaseImage *alphaImage, int allNum, int xNum, int yNum, int xSize,
                                 int ySize, EngineHandle *handles, int transparent, int reverse);
int CopyScreenRectToGraph(int source, int x1, int y1, int x2, int y2, int destX, int destY, EngineHandle graph,
                          int ignored);
int CopyDrawScreenToGraph(int x1, int y1, int x2, int y2, EngineHandle graph, int ignored);
int SetScreenSizeSetting(int width, int height); // the stored size itself; 0 = unset

// ---------------------------------------------------------------------------------------------------------------
// Drawing calls: graphs and shapes in the current draw settings, on the device or into the software target.
// Results: 0 drawn (or nothing to draw by rule), -1 for an invalid handle, a blend graph smaller than the graph, or
// a failed device drawer. Colours are MakeScreenColor values; boxes are right and bottom exclusive. Quad corners
// run top-left, top-right, bottom-right, bottom-left.

int DrawGraphAt(int x, int y, EngineHandle graph, int transparent);
int DrawGraphStretched(int x1, int y1, int x2, int y2, EngineHandle graph, int transparent);
int DrawGraphStretchedF(float x1, float y1, float x2, float y2, EngineHandle graph, int transparent);
int DrawGraphMirrored(int x, int y, EngineHandle graph, int transparent);
int DrawGraphRotated(int x, int y, double scale, double angle, EngineHandle graph, int transparent, int turn);
int DrawGraphRotatedF(float x, float y, double scale, double angle, EngineHandle graph, int transparent, int turn);
int DrawGraphQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                   EngineHandle graph, int transparent);
int DrawGraphPart(int x, int y, int srcX, int srcY, int width, int height, EngineHandle graph, int transparent,
                  int turn);
// The (srcX, srcY, width, height) part of the graph stretched to the float rectangle (text drawing uses it).
int DrawGraphRectStretched(float x1, float y1, float x2, float y2, int srcX, int srcY, int width, int height,
                           EngineHandle graph, int transparent);
int DrawFilledBox(int x1, int y1, int x2, int y2, unsigned int color);
int DrawBoxOutline(int x1, int y1, int x2, int y2, unsigned int color);
int DrawBoxShape(int x1, int y1, int x2, int y2, unsigned int color, int fill);
int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill);
int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill);
int DrawPoint(int x, int y, unsigned int color);
// Clears the target (a screen or a graph) to the background colour, inside `rect` when it is given.
int ClearDrawScreen(int target, const RECT *rect);

// ---------------------------------------------------------------------------------------------------------------
// Graph handles (32768 at most). A release sets the lost flag registered for the graph; the flag of the releases
// is not read.

int ReleaseGraphHandle(EngineHandle graph, int flag);
int ReleaseAllGraphHandles(int flag);                   // every live graph; nothing before graphics start
int SetGraphLostFlagPtr(EngineHandle graph, int *flag); // writes 0 through the pointer (null: none)

// ---------------------------------------------------------------------------------------------------------------
// Graphics start-up and end.

int InitGraphics(void);
int TerminateGraphics(void);
int IsGraphicsInitialised(void); // 1 between InitGraphics and TerminateGraphics
int SetUseDirect3D(int flag);
int GetUseDirect3D(void);
int IsDeviceMode(void); // 1 when the Direct3D device draws, 0 on the software screen
int GetScreenRefreshRate(void);
int SetScreenModeSettings(int colorBits, int refreshRate);
int GetLowResolutionEmulation(void);
int SetLowResolutionEmulation(int flag);

// ---------------------------------------------------------------------------------------------------------------
// Display modes and screen mode change.

struct DisplayModeRecord {
    int width, height, bits, refresh;
};

int GetDisplayModeCount(void);
DisplayModeRecord GetDisplayModeAt(int index); // all four -1 outside 0..count-1
int HasDisplayMode(int width, int height, int bits);
int ReleaseDisplayModeList(void);
int ChangeDisplayModeForFullScreen(void);
int RestoreDesktopDisplayMode(void); // when the display settings were changed for full screen
int RecordDesktopDisplayMode(void);  // before any change of the display for full screen
int EnsureDesktopDisplayMode(void);  // after the desktop was given back: sets its own mode again where it is not
int ChangeScreenMode(int width, int height, int bits, int force, int refresh);
int SetLowResScaledFlag(int flag);
int GetLowResScaledFlag(void);
int IsFullScreen(void);
int ApplyDialogBoxMode(int flag);
int EndSceneAndDialogMode(int flag);
int ReturnZero(void);
void *ClearParamBlock380(void *block); // zeroes 380 bytes at block and returns it

// ---------------------------------------------------------------------------------------------------------------
// Draw settings, screen flip, device loss and restore, model tables.

int SetDrawTarget(int target);
int GetDrawTarget(void);
int QueryScreenState(int *width, int *height, int *colorBits);
int ReleaseGraphicsDevice(void);
int CopyScreenAndFlip(void);
void EndSceneIfNeeded(void);
// The device made again with everything on it (a lost device is never reset), keeping the display mode.
int ReinitGraphicsKeepMode(void);
int IsGraphicsDeviceLost(void);   // device drawing is skipped until a rebuild
int TestGraphicsDeviceLost(void); // asks the device; 1 when it is lost (the flag above is then set)
typedef int (*GraphRestoreCallback)(void);
int InstallGraphRestoreCallback(GraphRestoreCallback callback);
int HasGraphRestoreCallback(void);

// ---------------------------------------------------------------------------------------------------------------
// Vertex buffers, index buffers and shaders (device objects with a copy of their data in memory), models and the
// model bases they are made from. Invalid handles give -1. A data write puts `count` elements from `first` into the
// device buffer and the memory copy alike (the copy is what a new device gets).

int DeleteVertexBuffer(EngineHandle handle);
int DeleteAllVertexBuffers(void);
int SetVertexBufferData(int first, const void *data, int count, EngineHandle handle);
int DeleteIndexBuffer(EngineHandle handle);
int DeleteAllIndexBuffers(void);
int SetIndexBufferData(int first, const void *data, int count, EngineHandle handle);
int DeleteShader(EngineHandle handle);
int DeleteAllShaders(void);
int GetShaderModelVersion(void); // 300, 200, or 0 without Direct3D or with shaders off on the device
int InitModelSystem(void);
int TerminateModelSystem(void);
int DeleteModel(EngineHandle handle);
int DeleteModelBase(EngineHandle handle); // drops one reference; the base goes with the last
int ReleaseModelBaseDeviceBuffers(EngineHandle handle);
int ReleaseModelDeviceBuffers(EngineHandle handle);
int ReleaseAllModelDeviceObjects(void);
int RestoreAllModelBuffers(void);
int RestoreModelTextures(void);

// ---------------------------------------------------------------------------------------------------------------
// Draw settings: blend, brightness, blend graph, draw area, filtering, fog; screen colours; graph and screen sizes.

int SetDrawBlend(int mode, int parameter); // the parameter is clamped to 0..255
int SetDrawBrightness(int red, int green, int blue);
int SetDrawBrightColor(unsigned int color); // 0xRRGGBB
unsigned int MakeScreenColor(int red, int green, int blue);
int SplitScreenColor(unsigned int color, int *red, int *green, int *blue);
float *MakeColorValue(float *out, float a, float b, float c, float d);
int IsGraphHandle(int value);
int QueryGraphSize(int graph, int *width, int *height); // -2 and -4 give the screen size
int SetDrawFilterMode(int mode);                        // 0 nearest, 1 linear, 2 anisotropic
int GetDrawFilterMode(void);
int SelectBlendGraph(int graph, int border, int range); // graph -1: none
int SetDrawClipArea(int x1, int y1, int x2, int y2);
int SetFogMode(int mode); // D3DFOGMODE
int SetFogColor(int red, int green, int blue);
int SetFogStartEnd(float start, float end);
// Engine settings of the texture cutting: a forced largest texture side (0: the device's) and never splitting a
// side that fits one texture.
int SetForcedMaxTextureSize(int size);
int SetTextureNeverSplit(int flag);

// What text drawing reads and brackets beyond the software renderer's copy of the settings (g_MemImgDrawSettings):
// the selected blend graph, the software screen's two screen-sized work images (null while the device draws), the
// masked-drawing bracket and the two passes of blend mode 3 on a device without blend operations.
int GetBlendGraphSettings(int *graph, int *border, int *range);
struct MEMIMG;
MEMIMG *GetSoftwareWorkImage(int alpha);
int MaskDrawBegin(const RECT *rect); // around a draw while the mask is in use
int MaskDrawEnd(const RECT *rect);
int IsBlendModeThreePassNeeded(void); // blend mode 3 set while the device lacks blend operations
int BeginBlendModeThreePass(int x1, int y1, int x2, int y2);
int EndBlendModeThreePass(int x1, int y1, int x2, int y2);

// ---------------------------------------------------------------------------------------------------------------
// Transforms and camera matrices (row vectors).

int SetWorldMatrix(const Matrix4 *matrix);
int SetViewMatrix(const Matrix4 *matrix);
int SetProjectionMatrix(const Matrix4 *matrix);
int SetViewportMatrix(const Matrix4 *matrix);
int SetCameraScreenCenter(float x, float y);
// Camera values for the projection (refused with -1 when the projection would be degenerate): near and far, a
// perspective field of view in radians, or a projection matrix of the caller's kept as it is.
int SetCameraNearFar(float nearZ, float farZ);
int SetCameraPerspective(float fieldOfView);
int SetCameraProjectionMatrix(const Matrix4 *matrix);

// ---------------------------------------------------------------------------------------------------------------
// Lights: handles of Direct3D lights, pushed to the device before 3D draws (directional, spot, then point lights
// take the device indices in that order). Graphics start makes one directional light, the default light.

int CreateDirectionalLight(float x, float y, float z); // -1 for a zero-length direction
int DeleteLight(int handle);
int SetAmbientColor(unsigned int argb); // the global ambient colour

// ---------------------------------------------------------------------------------------------------------------
// Draw-screen lock: a BaseImage view (not owning its pixels) of a rectangle of a screen or render-target graph.
// At most one lock is open; target -1 is the current draw target.

int LockDrawScreen(int x1, int y1, int x2, int y2, BaseImage *image, int target, int readOnly);
int UnlockDrawScreen(void);

// ---------------------------------------------------------------------------------------------------------------
// Screen flip and the device shape drawers.

int FlipScreen(void);
int SetWaitVerticalBlank(int flag); // 1 (the default): presents on the software screen wait for the vertical blank
int GetWaitVerticalBlank(void);
// The millisecond count (GetNowMilliCount) of the last present that reached the window; -1 before the first.
int GetLastPresentMilliCount(void);
// After the window moved: with the front screen as target the mask use is switched off and back on, and the draw
// area applied again.
int FollowWindowMove(void);
// Masked drawing: while the mask screen is in use, drawing reaches the target only where the mask lets it through.
// CreateMaskScreen(0) does nothing.
int CreateMaskScreen(int flag);
int ReleaseMaskScreen(void);
int IsMaskScreenInUse(void);
int SetMaskScreenInUse(int flag); // -1 without a mask screen
int DeleteMask(EngineHandle handle);
// Untextured shapes on the Direct3D device in the current draw settings; colours are screen colour values.
// Boxes are right and bottom exclusive. Each returns 0, or -1 without a device.
int G_D3D_DrawBox(int x1, int y1, int x2, int y2, int color);
int G_D3D_DrawBoxOutline(int x1, int y1, int x2, int y2, int color);
int G_D3D_DrawCircle(int x, int y, int radius, int color, int fill);
int G_D3D_DrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, int color, int fill);
int G_D3D_DrawPixel(int x, int y, int color);
