// Archive keys, scrambling and the decoder of the archive compression. Pure functions over memory and lengths
// (no platform calls): the packer on the build machine uses the same code. Any thread.
#include "file/archive_format.h"

#include <string.h>

static uint8_t RotateLeft8(uint8_t value, int bits)
{
    return (uint8_t)((value << bits) | (value >> (8 - bits)));
}

// Each position of the key gets a fixed transformation of its own.
static uint8_t TransformKeyByte(int position, uint8_t value)
{
    switch (position) {
    case 0:
    case 4:
    case 6:
        return (uint8_t)~value;
    case 1:
        return RotateLeft8(value, 4);
    case 2:
        return value ^ 0x5A;
    case 3:
        return (uint8_t)~RotateLeft8(value, 4);
    case 5:
        return value ^ 0x3C;
    case 7:
        return (uint8_t)~RotateLeft8(value, 5); // rotate right by 3
    case 8:
        return RotateLeft8(value, 3);
    case 9:
        return value ^ 0xA7;
    case 10:
        return RotateLeft8(value, 4) ^ 0x96;
    default:
        return value ^ 0x1E;
    }
}

void MakeArchiveKey(const char *keyString, uint8_t key[ARCHIVE_KEY_SIZE])
{
    size_t length = keyString != NULL ? strlen(keyString) : 0;
    for (int i = 0; i < ARCHIVE_KEY_SIZE; i++) {
        uint8_t value = length > 0 ? (uint8_t)keyString[i % length] : ARCHIVE_KEY_BUILTIN_FILL;
        key[i] = TransformKeyByte(i, value);
    }
}

void MakeSecondArchiveKey(uint8_t key[ARCHIVE_KEY_SIZE])
{
    memset(key, ARCHIVE_KEY_SECOND_BYTE, ARCHIVE_KEY_SIZE);
}

void ScrambleArchiveBytes(uint32_t length, void *data, uint32_t fileOffset, const uint8_t key[ARCHIVE_KEY_SIZE])
{
    uint8_t *bytes = (uint8_t *)data;
    uint32_t k = fileOffset % ARCHIVE_KEY_SIZE;
    for (uint32_t i = 0; i < length; i++) {
        bytes[i] ^= key[k];
        if (++k == ARCHIVE_KEY_SIZE) {
            k = 0;
        }
    }
}

// A back reference whose distance is shorter than its length repeats the last `distance` bytes: copied in
// doubling block copies, each from the same start, which equals a byte-by-byte copy.
static void CopyBackReference(uint8_t *out, uint32_t distance, uint32_t length)
{
    const uint8_t *source = out - distance;
    uint32_t chunk = distance;
    while (length > chunk) {
        memcpy(out, source, chunk);
        out += chunk;
        length -= chunk;
        chunk *= 2;
    }
    memcpy(out, source, length);
}

uint32_t DecodeArchiveData(const void *packed, uint32_t packedLength, void *destination, uint32_t destinationLength)
{
    const uint8_t *in = (const uint8_t *)packed;
    if (packed == NULL || packedLength < ARCHIVE_PACK_HEADER_SIZE) {
        return ARCHIVE_DECODE_FAILED;
    }
    uint32_t unpackedSize = ReadArchiveU32(in);
    uint32_t packedSize = ReadArchiveU32(in + 4);
    if (packedSize < ARCHIVE_PACK_HEADER_SIZE || packedSize > packedLength || unpackedSize == ARCHIVE_DECODE_FAILED) {
        return ARCHIVE_DECODE_FAILED;
    }
    if (destination == NULL) {
        return unpackedSize;
    }
    if (destinationLength < unpackedSize) {
        return ARCHIVE_DECODE_FAILED;
    }
    const uint8_t escape = in[8];
    const uint8_t *p = in + ARCHIVE_PACK_HEADER_SIZE;
    const uint8_t *end = in + packedSize;
    uint8_t *out = (uint8_t *)destination;
    uint32_t written = 0;
    while (p < end) {
        uint8_t byte = *p++;
        if (byte != escape || (p < end && *p == escape)) {
            if (written >= unpackedSize) {
                return ARCHIVE_DECODE_FAILED;
            }
            out[written++] = byte;
            p += byte == escape;
            continue;
        }
        if (p >= end) {
            return ARCHIVE_DECODE_FAILED;
        }
        uint32_t code = *p++;
        uint32_t k = code > escape ? code - 1 : code;
        uint32_t distanceBytes = (k & 3) + 1;
        if (distanceBytes > 3) {
            return ARCHIVE_DECODE_FAILED;
        }
        uint32_t length = k >> 3;
        if (k & 4) {
            if (p >= end) {
                return ARCHIVE_DECODE_FAILED;
            }
            length |= (uint32_t)*p++ << 5;
        }
        length += ARCHIVE_PACK_MIN_LENGTH;
        if ((uint32_t)(end - p) < distanceBytes) {
            return ARCHIVE_DECODE_FAILED;
        }
        uint32_t distance = 0;
        for (uint32_t i = 0; i < distanceBytes; i++) {
            distance |= (uint32_t)p[i] << (8 * i);
        }
        p += distanceBytes;
        distance += 1;
        if (distance > written || length > unpackedSize - written) {
            return ARCHIVE_DECODE_FAILED;
        }
        CopyBackReference(out + written, distance, length);
        written += length;
    }
    return written == unpackedSize ? unpackedSize : ARCHIVE_DECODE_FAILED;
}
