// The BMP variants the loader does not decode itself (1, 2 and 16 bits, bit fields, other compressions) are drawn by
// GDI into a 24-bit top-down DIB section and copied out of it. Windows only. Runs on the loading thread.
#include "image/loader_internal.h"

#include <string.h>

static int CopyDibSectionRows(HBITMAP section, int width, int rows, BaseImage *image)
{
    DIBSECTION description;
    if (GetObjectA(section, sizeof(description), &description) == 0 || description.dsBm.bmBits == NULL) {
        return -1;
    }
    size_t rowSize = ((size_t)description.dsBm.bmWidthBytes + 3) & ~(size_t)3;
    image->pixels = (unsigned char *)ENGINE_ALLOC(rowSize * (size_t)rows);
    if (image->pixels == NULL) {
        return AddLog("２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました\n");
    }
    memcpy(image->pixels, description.dsBm.bmBits, rowSize * (size_t)rows);
    image->pitch = (int)rowSize;
    image->width = width;
    image->height = rows;
    SetRGB24PixelFormat(&image->format);
    return 0;
}

int DecodeBmpThroughDib(const unsigned char *header, const unsigned char *data, int width, int height, BaseImage *image)
{
    int rows = height < 0 ? -height : height;
    BITMAPINFO target;
    memset(&target, 0, sizeof(target));
    target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    target.bmiHeader.biWidth = width;
    target.bmiHeader.biHeight = -rows;
    target.bmiHeader.biPlanes = 1;
    target.bmiHeader.biBitCount = 24;
    target.bmiHeader.biCompression = BI_RGB;

    HDC dc = CreateCompatibleDC(NULL);
    void *bits = NULL;
    HBITMAP section = dc != NULL ? CreateDIBSection(dc, &target, DIB_RGB_COLORS, &bits, NULL, 0) : NULL;
    if (section == NULL) {
        if (dc != NULL) {
            DeleteDC(dc);
        }
        return AddLog("ＤＩＢの作成に失敗しました3\n");
    }
    HGDIOBJ previous = SelectObject(dc, section);
    // A variant GDI cannot draw (bit counts and compressions it does not know) draws no line: the load fails
    // rather than handing out the empty section as the picture.
    int drawn = SetDIBitsToDevice(dc, 0, 0, (DWORD)width, (DWORD)rows, 0, 0, 0, (UINT)rows, data,
                                  (const BITMAPINFO *)header, DIB_RGB_COLORS);
    GdiFlush();
    SelectObject(dc, previous);
    int result = drawn > 0 ? CopyDibSectionRows(section, width, rows, image) : -1;
    DeleteObject(section);
    DeleteDC(dc);
    return result;
}
