// The output capture file: 44.1 kHz 16-bit stereo frames written after a 46-byte RIFF WAVE header that is filled
// in when the file is closed. Nothing in the program captures; engine end closes a capture left open. Window thread
// only.
#include "sound/sound_internal.h"

#define CAPTURE_HEADER_BYTES 46
#define CAPTURE_FRAME_BYTES 4
// The RIFF size (4 x frames + 38) must stay within 32 bits.
#define CAPTURE_FRAME_LIMIT ((0xFFFFFFFFu - (CAPTURE_HEADER_BYTES - 8)) / CAPTURE_FRAME_BYTES)

struct CaptureState {
    int on;
    HANDLE file;
    unsigned int frames;
};

static CaptureState s_Capture;

static unsigned char *PutU32(unsigned char *out, unsigned int value)
{
    for (int i = 0; i < 4; i++) {
        out[i] = (unsigned char)(value >> (8 * i));
    }
    return out + 4;
}

static unsigned char *PutU16(unsigned char *out, unsigned int value)
{
    out[0] = (unsigned char)value;
    out[1] = (unsigned char)(value >> 8);
    return out + 2;
}

static unsigned char *PutTag(unsigned char *out, const char *tag)
{
    MemCopy(out, tag, 4);
    return out + 4;
}

static void BuildCaptureHeader(unsigned char header[CAPTURE_HEADER_BYTES], unsigned int frames)
{
    unsigned char *out = PutTag(header, "RIFF");
    out = PutU32(out, CAPTURE_FRAME_BYTES * frames + CAPTURE_HEADER_BYTES - 8);
    out = PutTag(PutTag(out, "WAVE"), "fmt ");
    out = PutU32(out, 18);
    out = PutU16(PutU16(out, WAVE_FORMAT_PCM), 2);
    out = PutU32(PutU32(out, 44100), 44100 * CAPTURE_FRAME_BYTES);
    out = PutU16(PutU16(PutU16(out, CAPTURE_FRAME_BYTES), 16), 0);
    PutU32(PutTag(out, "data"), CAPTURE_FRAME_BYTES * frames);
}

static int WriteWhole(const void *data, DWORD bytes)
{
    DWORD written = 0;
    return WriteFile(s_Capture.file, data, bytes, &written, NULL) && written == bytes ? 0 : -1;
}

int OpenCaptureFile(const char *path)
{
    if (s_Capture.on) {
        return -1;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    s_Capture.file = file;
    s_Capture.frames = 0;
    unsigned char header[CAPTURE_HEADER_BYTES];
    MemFill(header, 0, sizeof(header));
    if (WriteWhole(header, sizeof(header)) != 0) {
        CloseHandle(file);
        s_Capture.file = NULL;
        return -1;
    }
    s_Capture.on = 1;
    return 0;
}

int AppendCaptureFrames(const void *frames, unsigned int count)
{
    if (!s_Capture.on || count > CAPTURE_FRAME_LIMIT - s_Capture.frames ||
        WriteWhole(frames, count * CAPTURE_FRAME_BYTES) != 0) {
        return -1;
    }
    s_Capture.frames += count;
    return 0;
}

int CloseCaptureFile(void)
{
    if (!s_Capture.on) {
        return -1;
    }
    unsigned char header[CAPTURE_HEADER_BYTES];
    BuildCaptureHeader(header, s_Capture.frames);
    SetFilePointer(s_Capture.file, 0, NULL, FILE_BEGIN);
    WriteWhole(header, sizeof(header));
    CloseHandle(s_Capture.file);
    s_Capture.file = NULL;
    s_Capture.on = 0;
    return 0;
}
