#pragma once
// Reads a whole AVI clip with libavformat/libavcodec for checking generated clips.

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

namespace tambrel::testing {

struct ProbedClip {
    std::string error;  // empty when the clip was read completely
    std::string fourcc;
    int width = 0, height = 0;
    int rate_num = 0, rate_den = 0;     // stream time base inverted: frames per second
    int64_t header_frames = 0;          // frame count the AVI header claims
    std::vector<int64_t> packet_slots;  // dts of each video chunk, in frames
    std::vector<int64_t> key_slots;     // dts of the chunks flagged as key frames
    std::vector<std::vector<uint8_t>> first_packets;  // bytes of the first few video chunks
    std::vector<int> packet_sizes;                    // size of each video chunk
    std::vector<QImage> frames;                       // decoded pictures in display order, RGB32

    bool has_audio = false;
    std::string audio_codec;
    int audio_rate = 0, audio_channels = 0;
    int64_t audio_samples = 0;
};

// unpack_bframes: pass MPEG-4 video through mpeg4_unpack_bframes, as a careful reader does;
// otherwise the decoder handles packed B-frames itself.
ProbedClip probe_clip(const std::string& path, bool unpack_bframes = false);

}  // namespace tambrel::testing
