// Software-screen draw paths: the drawing calls' arguments turned into the software renderer's (rectangles, corner
// points, line records) and handed to it with the current software target and blend image. The adapters keep no
// state. Also the two passes that give blend mode 3 on a device without blend operations: the target is inverted
// around a draw in mode 5, so that the draw subtracts. Window thread only.
#include "graphics/graphics_internal.h"
#include "softrender/softrender.h"

// The renderer takes images as writable; a graph's view is only read from here.
static MEMIMG *GraphImage(const GraphRecord *graph)
{
    return const_cast<MEMIMG *>(&graph->view);
}

int SoftDrawGraphAt(int transparent, int x, int y, const GraphRecord *graph)
{
    MemImgDrawImage(g_DrawState.softwareTarget, GraphImage(graph), x, y, transparent, g_DrawState.blendImage);
    return 0;
}

int SoftDrawGraphStretched(int x1, int y1, int x2, int y2, const GraphRecord *graph, int transparent)
{
    RECT rect = {x1, y1, x2, y2}; // a reversed rectangle mirrors
    MemImgDrawStretchedImage(g_DrawState.softwareTarget, GraphImage(graph), &rect, transparent, g_DrawState.blendImage);
    return 0;
}

int SoftDrawGraphRotated(float x, float y, double scale, double angle, int transparent, int turn,
                         const GraphRecord *graph)
{
    MemImgDrawRotatedImage(g_DrawState.softwareTarget, GraphImage(graph), (int)x, (int)y, (float)scale, (float)angle,
                           transparent, turn, g_DrawState.blendImage);
    return 0;
}

// Two textured triangles over the corners, the graph's size as the far texture coordinates.
int SoftDrawGraphQuad(const GraphRecord *graph, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                      int transparent)
{
    const int points[4][2] = {{x1, y1}, {x2, y2}, {x3, y3}, {x4, y4}};
    MemImgDrawQuadImage(g_DrawState.softwareTarget, GraphImage(graph), points, transparent, g_DrawState.blendImage);
    return 0;
}

int SoftDrawGraphQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                       const GraphRecord *graph, int transparent)
{
    return SoftDrawGraphQuad(graph, (int)x1, (int)y1, (int)x2, (int)y2, (int)x3, (int)y3, (int)x4, (int)y4,
                             transparent);
}

int SoftFillBox(int x1, int y1, int x2, int y2, unsigned int color)
{
    RECT rect = {x1, y1, x2, y2};
    MemImgFillBox(g_DrawState.softwareTarget, &rect, color);
    return 0;
}

static MemImgLine MakeLine(int x1, int y1, int x2, int y2, unsigned int color)
{
    return {x1, y1, x2, y2, (int)color, g_DrawState.blendParameter};
}

// Four lines along the inside of the box, each ending where the next begins (a line's end point is not drawn).
// The edges are put in order first and an empty box draws nothing, as on the device: reversed edges would
// otherwise shift the outline by a pixel and an empty box would still draw its corner.
int SoftDrawBoxOutline(int x1, int y1, int x2, int y2, unsigned int color)
{
    int left = x1 < x2 ? x1 : x2, right = x1 < x2 ? x2 : x1, top = y1 < y2 ? y1 : y2, bottom = y1 < y2 ? y2 : y1;
    if (left == right || top == bottom) {
        return 0;
    }
    const MemImgLine lines[4] = {
        MakeLine(left, top, right - 1, top, color), MakeLine(right - 1, top, right - 1, bottom - 1, color),
        MakeLine(right - 1, bottom - 1, left, bottom - 1, color), MakeLine(left, bottom - 1, left, top, color)};
    MemImgDrawLines(g_DrawState.softwareTarget, lines, 4);
    return 0;
}

int SoftDrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill)
{
    if (fill) {
        const MemImgTriangleVertex corners[3] = {{x1, y1, 0, 0}, {x2, y2, 0, 0}, {x3, y3, 0, 0}};
        MemImgDrawTriangle(g_DrawState.softwareTarget, NULL, corners, 0, g_DrawState.blendImage, color);
        return 0;
    }
    const MemImgLine lines[3] = {MakeLine(x1, y1, x2, y2, color), MakeLine(x2, y2, x3, y3, color),
                                 MakeLine(x3, y3, x1, y1, color)};
    MemImgDrawLines(g_DrawState.softwareTarget, lines, 3);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Blend mode 3 without device blend operations: mode 3 draws ZERO / INVDESTCOLOR, so a white box in it inverts the
// target. Inverted, drawn in mode 5 (target + source x alpha) and inverted again, the target becomes
// target - source x alpha.

static void InvertDeviceRect(int x1, int y1, int x2, int y2)
{
    unsigned int brightness = g_DrawState.brightness;
    SetDrawBrightness(255, 255, 255);
    SetDrawBlend(3, 255);
    G_D3D_DrawBox(x1, y1, x2, y2, (int)MakeScreenColor(255, 255, 255));
    SetDrawBrightColor(brightness);
}

int IsBlendModeThreePassNeeded(void)
{
    return IsDeviceMode() && g_DrawState.blendMode == 3 && !g_D3D.blendOperations;
}

int BeginBlendModeThreePass(int x1, int y1, int x2, int y2)
{
    int parameter = g_DrawState.blendParameter;
    InvertDeviceRect(x1, y1, x2, y2);
    SetDrawBlend(5, parameter);
    return 0;
}

int EndBlendModeThreePass(int x1, int y1, int x2, int y2)
{
    int parameter = g_DrawState.blendParameter;
    InvertDeviceRect(x1, y1, x2, y2);
    SetDrawBlend(3, parameter);
    return 0;
}
