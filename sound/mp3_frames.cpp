// MPEG audio frame headers and the walk over an MP3 file's frames: where the audio starts after an ID3v2 tag, where
// it ends before a trailing 128-byte "TAG", and how many PCM frames its MPEG frames hold. The bytes are untrusted:
// the tag length is checked against the file and the frame sum against 32 bits of PCM. No state of its own.
#include "sound/convert_kinds.h"

#define ID3_HEADER_SIZE 10
#define ID3_FOOTER_FLAG 0x10
#define TRAILING_TAG_SIZE 128

// kbit/s by [MPEG-1][layer][index]; MPEG-2 Layer II and III share a row (ISO/IEC 11172-3, 13818-3).
static const unsigned short s_Bitrates[2][3][15] = {
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    },
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    },
};
static const unsigned int s_SampleRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};

static int IsFrameSync(const unsigned char *bytes)
{
    return bytes[0] == 0xFF && (bytes[1] & 0xF0) == 0xF0;
}

int ParseMpegFrameHeader(const unsigned char *bytes, MpegFrameHeader *header)
{
    if (!IsFrameSync(bytes)) {
        return -2;
    }
    int mpeg1 = (bytes[1] >> 3) & 1, layerBits = (bytes[1] >> 1) & 3;
    int bitrateIndex = bytes[2] >> 4, rateIndex = (bytes[2] >> 2) & 3;
    if (layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return -1; // reserved layer, free format, bad bitrate, reserved rate
    }
    header->mpeg1 = mpeg1;
    header->layer = 3 - layerBits; // 0 Layer I, 1 II, 2 III
    header->bitrate = s_Bitrates[mpeg1][header->layer][bitrateIndex];
    header->rate = s_SampleRates[mpeg1][rateIndex];
    header->padding = (bytes[2] >> 1) & 1;
    header->channels = (bytes[3] >> 6) == 3 ? 1 : 2;
    if (header->layer == 0) {
        header->samplesPerFrame = 384;
        header->frameLength = (12000 * header->bitrate / header->rate + header->padding) * 4;
    } else if (mpeg1) {
        header->samplesPerFrame = 1152;
        header->frameLength = 144000 * header->bitrate / header->rate + header->padding;
    } else {
        header->samplesPerFrame = 576;
        header->frameLength = 72000 * header->bitrate / header->rate + header->padding;
    }
    return 0;
}

// MPEG 2.5 (an 11-bit sync with version bits 00): Layer III only, at half the MPEG-2 rates, sized as MPEG-2.
// The frame-header rule above refuses it; only the gate in front of the media graph, whose decoder plays it, asks.
static int ParseMpeg25FrameHeader(const unsigned char *bytes, MpegFrameHeader *header)
{
    static const unsigned int rates[3] = {11025, 12000, 8000};
    if (bytes[0] != 0xFF || (bytes[1] & 0xF8) != 0xE0) {
        return -2;
    }
    int layerBits = (bytes[1] >> 1) & 3, bitrateIndex = bytes[2] >> 4, rateIndex = (bytes[2] >> 2) & 3;
    if (layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return -1;
    }
    header->mpeg1 = 0;
    header->layer = 2;
    header->bitrate = s_Bitrates[0][2][bitrateIndex];
    header->rate = rates[rateIndex];
    header->padding = (bytes[2] >> 1) & 1;
    header->channels = (bytes[3] >> 6) == 3 ? 1 : 2;
    header->samplesPerFrame = 576;
    header->frameLength = 72000 * header->bitrate / header->rate + header->padding;
    return 0;
}

static unsigned int SyncSafe(const unsigned char *bytes)
{
    return (bytes[0] & 0x7F) << 21 | (bytes[1] & 0x7F) << 14 | (bytes[2] & 0x7F) << 7 | (bytes[3] & 0x7F);
}

// The audio lies between the end of a leading ID3v2 tag and the start of a trailing "TAG" block.
static int FindMp3Region(const StreamRef *source, unsigned int *start, unsigned int *end)
{
    int size = MeasureStream(source);
    unsigned char bytes[ID3_HEADER_SIZE];
    if (size < 4) {
        return -1;
    }
    *start = 0;
    *end = (unsigned int)size;
    if (size >= ID3_HEADER_SIZE && ReadStreamAt(source, 0, bytes, ID3_HEADER_SIZE) == 0 && bytes[0] == 'I' &&
        bytes[1] == 'D' && bytes[2] == '3') {
        unsigned int footer = bytes[3] == 4 && (bytes[5] & ID3_FOOTER_FLAG) ? ID3_HEADER_SIZE : 0;
        *start = SyncSafe(bytes + 6) + ID3_HEADER_SIZE + footer;
    }
    if (size > TRAILING_TAG_SIZE && ReadStreamAt(source, (unsigned int)size - TRAILING_TAG_SIZE, bytes, 3) == 0 &&
        bytes[0] == 'T' && bytes[1] == 'A' && bytes[2] == 'G') {
        *end = (unsigned int)size - TRAILING_TAG_SIZE;
    }
    return *start < *end ? 0 : -1;
}

// Scans from the tag's end to the first frame sync, then hops from frame to frame (scanning again over bytes
// between frames) until the end; a sync whose header does not parse fails the walk. A frame cut by the end counts.
// With withMpeg25, MPEG 2.5 syncs count as frames too.
int WalkMp3Frames(const StreamRef *source, Mp3Layout *layout, int withMpeg25)
{
    MemFill(layout, 0, sizeof(*layout));
    unsigned int start, end;
    if (FindMp3Region(source, &start, &end) != 0) {
        return -1;
    }
    unsigned long long samples = 0;
    unsigned int position = start, found = 0;
    unsigned char bytes[4];
    while ((unsigned long long)position + 4 <= end) {
        if (ReadStreamAt(source, position, bytes, 4) != 0) {
            return -1;
        }
        MpegFrameHeader header;
        int parsed = ParseMpegFrameHeader(bytes, &header);
        if (parsed == -2 && withMpeg25) {
            parsed = ParseMpeg25FrameHeader(bytes, &header);
        }
        if (parsed == -2) {
            position++;
            continue;
        }
        if (parsed != 0) {
            return -1;
        }
        if (found++ == 0) {
            layout->firstFrame = position;
            layout->first = header;
        }
        samples += header.samplesPerFrame;
        if (samples * 4 > 0xFFFFFFFFull) { // 16-bit stereo PCM must fit 32 bits
            return -1;
        }
        position += header.frameLength;
    }
    if (found == 0) {
        return -1;
    }
    layout->dataEnd = end;
    layout->totalSamples = (unsigned int)samples;
    return 0;
}
