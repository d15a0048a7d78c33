// JPEG loader on libjpeg: a source manager of the engine's own feeds the decompressor from the engine stream in
// 64 KB pieces; errors leave the library by a long jump back to the loader, which frees what it allocated.
// Grey pictures give 8-bit grey-palette pixels, colour pictures B, G, R bytes decoded in that order by the library;
// other component counts are refused. The library's messages are not printed: the dispatcher offers every picture
// to this loader, and a refusal is an ordinary answer. Runs on the loading thread.
#include "image/loader_internal.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <jpeglib.h>
#include <jerror.h>

// The library's fast Huffman path runs only while a few kilobytes of data are buffered ahead, so the source is
// refilled in large pieces: with 4 KB pieces most of a picture took the slow path.
#define JPEG_SOURCE_BUFFER_SIZE 65536

struct JpegSourceRecord {
    jpeg_source_mgr manager;
    JOCTET *buffer;
    boolean startOfFile;
    StreamRef *stream;
    long long end; // stream position of the data's end
};

struct JpegErrorRecord {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

// The library's own output-message method writes every error and the first warning of a picture to stderr ("Not a
// JPEG file: starts with 0x89 0x50" for every PNG); this one writes nothing. Errors still end in JpegErrorExit,
// warnings are still counted (emit_message).
static void JpegQuietOutputMessage(j_common_ptr common)
{
}

static void JpegErrorExit(j_common_ptr common)
{
    (*common->err->output_message)(common);
    longjmp(((JpegErrorRecord *)common->err)->jump, 1);
}

static void JpegInitSource(j_decompress_ptr decompress)
{
    ((JpegSourceRecord *)decompress->src)->startOfFile = TRUE;
}

static boolean JpegFillInputBuffer(j_decompress_ptr decompress)
{
    JpegSourceRecord *source = (JpegSourceRecord *)decompress->src;
    StreamRef *stream = source->stream;
    long long left = source->end - stream->functions.tell(stream->handle);
    size_t wanted = left <= 0 ? 0 : left < JPEG_SOURCE_BUFFER_SIZE ? (size_t)left : JPEG_SOURCE_BUFFER_SIZE;
    size_t got = wanted == 0 ? 0 : stream->functions.read(source->buffer, 1, wanted, stream->handle);
    if (got == 0) {
        if (source->startOfFile) {
            ERREXIT(decompress, JERR_INPUT_EMPTY);
        }
        // Data ended inside the picture: the library finishes it as if the end-of-image code had come.
        WARNMS(decompress, JWRN_JPEG_EOF);
        source->buffer[0] = (JOCTET)0xFF;
        source->buffer[1] = (JOCTET)JPEG_EOI;
        got = 2;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    source->startOfFile = FALSE;
    return TRUE;
}

static void JpegSkipInputData(j_decompress_ptr decompress, long count)
{
    jpeg_source_mgr *manager = decompress->src;
    if (count <= 0) {
        return;
    }
    while (count > (long)manager->bytes_in_buffer) {
        count -= (long)manager->bytes_in_buffer;
        JpegFillInputBuffer(decompress);
    }
    manager->next_input_byte += count;
    manager->bytes_in_buffer -= (size_t)count;
}

static void JpegTermSource(j_decompress_ptr decompress)
{
}

static void JpegStreamSource(j_decompress_ptr decompress, StreamRef *stream)
{
    if (decompress->src == NULL) {
        JpegSourceRecord *record = (JpegSourceRecord *)(*decompress->mem->alloc_small)(
            (j_common_ptr)decompress, JPOOL_PERMANENT, sizeof(JpegSourceRecord));
        record->buffer = (JOCTET *)(*decompress->mem->alloc_small)((j_common_ptr)decompress, JPOOL_PERMANENT,
                                                                   JPEG_SOURCE_BUFFER_SIZE);
        decompress->src = &record->manager;
    }
    JpegSourceRecord *source = (JpegSourceRecord *)decompress->src;
    source->manager.init_source = JpegInitSource;
    source->manager.fill_input_buffer = JpegFillInputBuffer;
    source->manager.skip_input_data = JpegSkipInputData;
    source->manager.resync_to_restart = jpeg_resync_to_restart;
    source->manager.term_source = JpegTermSource;
    source->stream = stream;
    long long remaining = GetStreamRemaining(stream);
    int position = stream->functions.tell(stream->handle);
    source->end = remaining < 0 || position < 0 ? 0 : position + remaining;
    source->manager.next_input_byte = NULL;
    source->manager.bytes_in_buffer = 0;
}

// Asks the library for the byte order the image wants, B, G, R for colour pictures (the library's extended colour
// spaces), so that rows are decoded straight into the pixel block. Grey and colour output is accepted; CMYK and
// other component counts are refused before the library allocates anything for the picture.
static int ChooseJpegOutput(j_decompress_ptr decompress)
{
    if (decompress->out_color_space == JCS_RGB) {
        decompress->out_color_space = JCS_EXT_BGR;
    }
    jpeg_calc_output_dimensions(decompress);
    int components = decompress->output_components;
    if (components == 1 && decompress->out_color_space == JCS_GRAYSCALE) {
        return 0;
    }
    return components == 3 && decompress->out_color_space == JCS_EXT_BGR ? 0 : -1;
}

// Everything after the jump point; a library error leaves through JpegErrorExit. `pixels` is the caller's
// volatile slot for the block, so that the error path can free it.
static int ReadJpegImage(j_decompress_ptr decompress, StreamRef *stream, unsigned char *volatile *pixels,
                         BaseImage *image)
{
    JpegStreamSource(decompress, stream);
    jpeg_read_header(decompress, TRUE);
    if (ChooseJpegOutput(decompress) != 0) {
        return -1;
    }
    long long stride = (long long)decompress->output_components * decompress->output_width;
    long long size = CheckedBlockSize(stride, decompress->output_height, 1);
    if (size < 0) {
        return -1;
    }
    jpeg_start_decompress(decompress);
    *pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (*pixels == NULL) {
        return -1;
    }
    while (decompress->output_scanline < decompress->output_height) {
        JSAMPROW row = *pixels + (size_t)decompress->output_scanline * (size_t)stride;
        jpeg_read_scanlines(decompress, &row, 1);
    }
    jpeg_finish_decompress(decompress);
    image->width = (int)decompress->output_width;
    image->height = (int)decompress->output_height;
    image->pitch = (int)stride;
    if (decompress->output_components == 1) {
        SetGrayPalette8PixelFormat(&image->format);
    } else {
        SetRGB24PixelFormat(&image->format);
    }
    return 0;
}

int DecodeJpegImage(StreamRef *stream, BaseImage *image)
{
    jpeg_decompress_struct decompress;
    JpegErrorRecord error;
    unsigned char *volatile pixels = NULL;
    memset(&decompress, 0, sizeof(decompress));
    decompress.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegErrorExit;
    error.manager.output_message = JpegQuietOutputMessage;
    int result = -1;
    if (setjmp(error.jump) == 0) {
        jpeg_create_decompress(&decompress);
        result = ReadJpegImage(&decompress, stream, &pixels, image);
    }
    if (result == 0) {
        image->pixels = pixels;
    } else {
        FreeMemory(pixels);
        memset(image, 0, sizeof(*image));
    }
    jpeg_destroy_decompress(&decompress);
    return result;
}
