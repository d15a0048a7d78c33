// Ogg Vorbis made and decoded by the Vorbis libraries' own calls, for the converter tests and the decoding benchmark:
// a tone file encoded with libvorbisenc, and libvorbisfile's own ov_read loop over a file in memory as the reference
// decode.
#pragma once

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <vector>

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

// Two tones (440 Hz, 660 Hz in the second channel) with seeded noise at a low quality; the seed is the stream's
// serial number too, so that files of different seeds chain.
inline std::vector<uint8_t> EncodeToneOggVorbis(int channels, int rate, double seconds, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<int16_t> samples((size_t)(seconds * rate) * channels);
    for (size_t i = 0; i < samples.size(); i++) {
        double t = (double)(i / channels) / rate;
        samples[i] = (int16_t)(12000 * sin(6.283185307179586 * (440 + 220 * (i % channels)) * t) +
                               (int)(random() % 2001) - 1000);
    }
    std::vector<uint8_t> file;
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, 0.3f) != 0) {
        vorbis_info_clear(&info);
        return file;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, (int)seed);
    ogg_page page;
    ogg_packet packet;
    auto emit = [&](bool flushAll) {
        while (flushAll ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
            file.insert(file.end(), page.header, page.header + page.header_len);
            file.insert(file.end(), page.body, page.body + page.body_len);
        }
    };
    ogg_packet header, commentPacket, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentPacket, &codebooks);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &commentPacket);
    ogg_stream_packetin(&stream, &codebooks);
    emit(true);
    const size_t frames = samples.size() / channels, chunk = 4096;
    for (size_t start = 0;; start += chunk) {
        size_t count = start >= frames ? 0 : (frames - start < chunk ? frames - start : chunk);
        if (count > 0) {
            float **buffer = vorbis_analysis_buffer(&dsp, (int)count);
            for (size_t i = 0; i < count; i++) {
                for (int c = 0; c < channels; c++) {
                    buffer[c][i] = samples[(start + i) * channels + c] / 32768.0f;
                }
            }
        }
        vorbis_analysis_wrote(&dsp, (int)count); // 0 marks the end
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, NULL);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                emit(false);
            }
        }
        if (count == 0) {
            break;
        }
    }
    emit(true);
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return file;
}

struct VorbisMemoryFile {
    const std::vector<uint8_t> *bytes;
    size_t position;
};

inline size_t ReadVorbisMemory(void *buffer, size_t size, size_t count, void *source)
{
    VorbisMemoryFile *file = (VorbisMemoryFile *)source;
    size_t rest = file->bytes->size() - file->position, wanted = size * count, got = wanted < rest ? wanted : rest;
    memcpy(buffer, file->bytes->data() + file->position, got);
    file->position += got;
    return size == 0 ? 0 : got / size;
}

inline int SeekVorbisMemory(void *source, ogg_int64_t offset, int origin)
{
    VorbisMemoryFile *file = (VorbisMemoryFile *)source;
    long long base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (long long)file->position : file->bytes->size();
    if (base + offset < 0 || base + offset > (long long)file->bytes->size()) {
        return -1;
    }
    file->position = (size_t)(base + offset);
    return 0;
}

inline long TellVorbisMemory(void *source)
{
    return (long)((VorbisMemoryFile *)source)->position;
}

// libvorbisfile's own loop (16-bit little-endian signed, 4,096 bytes a read) into `pcm`; the bytes decoded, and the
// stream's stated frames through `frames`.
inline size_t DecodeWithVorbisfile(const std::vector<uint8_t> &file, std::vector<uint8_t> &pcm, long long *frames)
{
    VorbisMemoryFile source = {&file, 0};
    OggVorbis_File vorbis;
    const ov_callbacks callbacks = {ReadVorbisMemory, SeekVorbisMemory, NULL, TellVorbisMemory};
    size_t total = 0;
    if (ov_open_callbacks(&source, &vorbis, NULL, 0, callbacks) != 0) {
        return 0;
    }
    *frames = ov_pcm_total(&vorbis, -1);
    int section;
    long got = 1;
    while (got > 0) {
        if (pcm.size() < total + 4096) {
            pcm.resize(total + 4096 + pcm.size());
        }
        got = ov_read(&vorbis, (char *)&pcm[total], 4096, 0, 2, 1, &section);
        total += got > 0 ? (size_t)got : 0;
    }
    ov_clear(&vorbis);
    return total;
}
