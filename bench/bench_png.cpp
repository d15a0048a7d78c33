// PNG encoding of pictures generated at run time, for the benchmarks that load pictures from memory (the programs
// carry no data files). Single-threaded.
#include "bench/bench.h"

#include <png.h>

static void AppendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    std::vector<unsigned char> *bytes = (std::vector<unsigned char> *)png_get_io_ptr(png);
    bytes->insert(bytes->end(), data, data + length);
}

static void FlushPngBytes(png_structp png)
{
}

std::vector<unsigned char> EncodeRgbPng(const unsigned char *rgb, int width, int height)
{
    std::vector<unsigned char> bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &bytes, AppendPngBytes, FlushPngBytes);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        png_write_row(png, (png_const_bytep)(rgb + (size_t)y * width * 3));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}
