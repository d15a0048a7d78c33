// Image loader benchmarks: the engine's load of a 2048x2048 JPEG and PNG from memory against a bare decode of the
// same bytes by the library alone. Both pictures are encoded here at run time from a generated picture, so the
// program needs no data files. Single-threaded.
#include "bench/bench.h"

#include "image/image.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <jpeglib.h>
#include <png.h>

#define BENCH_IMAGE_SIDE 2048
#define BENCH_ROUNDS 7

typedef std::vector<unsigned char> Bytes;

// A photograph-like picture: smooth colour ramps with grain, R, G, B rows back to back.
static Bytes MakePicture(void)
{
    Bytes rgb((size_t)BENCH_IMAGE_SIDE * BENCH_IMAGE_SIDE * 3);
    unsigned int seed = 20261207u;
    for (size_t y = 0; y < BENCH_IMAGE_SIDE; y++) {
        for (size_t x = 0; x < BENCH_IMAGE_SIDE; x++) {
            seed = seed * 1103515245u + 12345u;
            int grain = (int)((seed >> 16) & 31) - 16;
            unsigned char *p = &rgb[(y * BENCH_IMAGE_SIDE + x) * 3];
            int values[3] = {(int)(x / 8), (int)(y / 8), (int)((x + y) / 16)};
            for (int c = 0; c < 3; c++) {
                int v = values[c] + grain;
                p[c] = (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return rgb;
}

static Bytes EncodeJpeg(const Bytes &rgb)
{
    jpeg_compress_struct compress;
    jpeg_error_mgr error;
    compress.err = jpeg_std_error(&error);
    jpeg_create_compress(&compress);
    unsigned char *output = NULL;
    unsigned long size = 0;
    jpeg_mem_dest(&compress, &output, &size);
    compress.image_width = BENCH_IMAGE_SIDE;
    compress.image_height = BENCH_IMAGE_SIDE;
    compress.input_components = 3;
    compress.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compress);
    jpeg_set_quality(&compress, 90, TRUE);
    jpeg_start_compress(&compress, TRUE);
    while (compress.next_scanline < compress.image_height) {
        JSAMPROW row = (JSAMPROW)&rgb[(size_t)compress.next_scanline * BENCH_IMAGE_SIDE * 3];
        jpeg_write_scanlines(&compress, &row, 1);
    }
    jpeg_finish_compress(&compress);
    Bytes bytes(output, output + size);
    jpeg_destroy_compress(&compress);
    free(output);
    return bytes;
}

// The reference: the library's own memory source and its default R, G, B output into a new block, as the engine's
// load makes one.
static void BareJpegDecode(const Bytes &jpeg)
{
    jpeg_decompress_struct decompress;
    jpeg_error_mgr error;
    decompress.err = jpeg_std_error(&error);
    jpeg_create_decompress(&decompress);
    jpeg_mem_src(&decompress, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&decompress, TRUE);
    jpeg_start_decompress(&decompress);
    size_t stride = (size_t)decompress.output_width * decompress.output_components;
    unsigned char *pixels = (unsigned char *)malloc(stride * decompress.output_height);
    while (decompress.output_scanline < decompress.output_height) {
        JSAMPROW row = pixels + (size_t)decompress.output_scanline * stride;
        jpeg_read_scanlines(&decompress, &row, 1);
    }
    jpeg_finish_decompress(&decompress);
    jpeg_destroy_decompress(&decompress);
    free(pixels);
}

struct PngMemoryInput {
    const Bytes *bytes;
    size_t position;
};

static void ReadPngBytes(png_structp png, png_bytep destination, png_size_t length)
{
    PngMemoryInput *input = (PngMemoryInput *)png_get_io_ptr(png);
    if (input->bytes->size() - input->position < length) {
        png_error(png, "Read Error");
    }
    memcpy(destination, input->bytes->data() + input->position, length);
    input->position += length;
}

// The reference: libpng reading R, G, B rows straight into a new block.
static void BarePngDecode(const Bytes &encoded)
{
    PngMemoryInput input = {&encoded, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &input, ReadPngBytes);
    png_read_info(png, info);
    size_t stride = png_get_rowbytes(png, info);
    unsigned char *pixels = (unsigned char *)malloc(stride * png_get_image_height(png, info));
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); y++) {
        png_read_row(png, pixels + y * stride, NULL);
    }
    png_read_end(png, NULL);
    png_destroy_read_struct(&png, &info, NULL);
    free(pixels);
}

static double TimeEngineLoad(const Bytes &encoded)
{
    return BenchBest(BENCH_ROUNDS, [&] {
        BaseImage image;
        if (LoadBaseImageNoAlpha(NULL, encoded.data(), (int)encoded.size(), 1, &image, 0) != 0) {
            printf("the engine refused the benchmark picture\n");
            return;
        }
        FreeBaseImageData(&image);
    });
}

void RunJpegBenchmarks(const char *scratchFolder)
{
    (void)scratchFolder;
    Bytes picture = MakePicture();

    Bytes jpeg = EncodeJpeg(picture);
    double bareJpeg = BenchBest(BENCH_ROUNDS, [&] { BareJpegDecode(jpeg); });
    BenchReport("LoadBaseImage 2048x2048 JPEG from memory", TimeEngineLoad(jpeg), "bare libjpeg decode", bareJpeg);

    Bytes png = EncodeRgbPng(picture.data(), BENCH_IMAGE_SIDE, BENCH_IMAGE_SIDE);
    double barePng = BenchBest(BENCH_ROUNDS, [&] { BarePngDecode(png); });
    BenchReport("LoadBaseImage 2048x2048 PNG from memory", TimeEngineLoad(png), "bare libpng decode", barePng);
}
