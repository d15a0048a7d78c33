// Software renderer: the public contract of the blits of one software image onto another and of the shape
// drawers (triangles, pixels, boxes, lines, circles) on software images.
#pragma once

#include <windows.h> // RECT is the platform's own type: a forward declaration of it cannot stand beside this header

struct MEMIMG;

// The draw settings the software drawers obey, kept in step by the graphics core's setters: blend mode (the
// drawers know 0..11) and parameter (0..255), brightness 0x00RRGGBB (0xFFFFFF: no modulation), the draw area
// (right and bottom exclusive, always inside the target), the target and blend images, the blend graph's border
// and range, and the flag raised while the settings are being reset.
struct MemImgDrawSettings {
    int blendMode;
    int blendParameter;
    unsigned int brightness;
    RECT drawArea;
    MEMIMG *target;
    MEMIMG *blendImage;
    int blendBorder, blendRange;
    int resetting;
};

extern MemImgDrawSettings g_MemImgDrawSettings;

// A triangle corner: position and source texel, all in pixels.
struct MemImgTriangleVertex {
    int x, y, u, v;
};

// One line of MemImgDrawLines: the end point (x2, y2) not drawn, colour as a screen colour value.
struct MemImgLine {
    int x1, y1, x2, y2, color, blendParameter;
};

void MemImgDrawImage(MEMIMG *destination, MEMIMG *source, int x, int y, int transparent, MEMIMG *blendImage);
// rect: right and bottom exclusive; left > right mirrors left to right, top > bottom upside down.
void MemImgDrawStretchedImage(MEMIMG *destination, MEMIMG *source, const RECT *rect, int transparent,
                              MEMIMG *blendImage);
void MemImgDrawRotatedImage(MEMIMG *destination, MEMIMG *source, int centerX, int centerY, float scale, float angle,
                            int transparent, int turn, MEMIMG *blendImage);

// Draws the whole source onto the quadrilateral of four points {x, y}: its top-left, top-right, bottom-left and
// bottom-right corners in that order.
void MemImgDrawQuadImage(MEMIMG *destination, MEMIMG *source, const int (*points)[2], int transparent,
                         MEMIMG *blendImage);
void MemImgDrawTriangle(MEMIMG *destination, MEMIMG *source, const MemImgTriangleVertex *vertices, int transparent,
                        MEMIMG *blendImage, unsigned int color);
void MemImgDrawPixel(MEMIMG *destination, int x, int y, unsigned int color);
void MemImgFillBox(MEMIMG *destination, const RECT *rect, unsigned int color);
void MemImgDrawLine(MEMIMG *destination, int x1, int y1, int x2, int y2, unsigned int color);
void MemImgDrawLines(MEMIMG *destination, const MemImgLine *lines, int count);
void MemImgDrawCircle(MEMIMG *destination, int centerX, int centerY, int radius, unsigned int color, int fill);
