// Ogg Vorbis files made in the program itself with the cross-built libvorbisenc, for the converter tests and the
// decoding benchmark: interleaved 16-bit samples in, the whole file's bytes out.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <math.h>

#include <random>
#include <vector>

#include <vorbis/vorbisenc.h>

inline std::vector<uint8_t> EncodeOggVorbis(const std::vector<int16_t> &samples, int channels, int rate, float quality,
                                            int serial = 1)
{
    std::vector<uint8_t> file;
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
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
    ogg_stream_init(&stream, serial);
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

// Two tones (440 Hz, 660 Hz in the second channel) with seeded noise, encoded at a low quality; the seed is the
// stream's serial number too, so that files of different seeds chain.
inline std::vector<uint8_t> EncodeToneOggVorbis(int channels, int rate, double seconds, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<int16_t> samples((size_t)(seconds * rate) * channels);
    for (size_t i = 0; i < samples.size(); i++) {
        double t = (double)(i / channels) / rate;
        samples[i] = (int16_t)(12000 * sin(6.283185307179586 * (440 + 220 * (i % channels)) * t) +
                               (int)(random() % 2001) - 1000);
    }
    return EncodeOggVorbis(samples, channels, rate, 0.3f, (int)seed);
}
