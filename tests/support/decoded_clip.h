#pragma once
// A clip decoded with FFmpeg's own libraries, independently of the media service, for tests
// that check what a file holds or what the service shows:
//   - frame n is the n-th picture the decoder delivers in presentation order with every
//     frame passed through (what `ffmpeg -fps_mode passthrough` and `ffprobe -count_frames`
//     count): each coded frame once, edit lists honoured (libavformat marks the packets
//     outside them and libavcodec drops their pictures);
//   - its time is its best-effort timestamp less frame 0's, in microseconds; a frame the
//     stream leaves unstamped (MPEG program streams stamp only some) gets the previous
//     frame's plus that frame's duration;
//   - its picture comes as 8-bit RGB (QImage::Format_RGB32) converted with the frame's own
//     matrix and range (BT.601 when untagged), stored or upright: stretched to square
//     pixels (widened for a sample aspect ratio above 1, heightened below 1, rounded to the
//     nearest pixel) and then turned and mirrored by the display matrix, pixel for pixel.
// Header only; link FFmpeg (PkgConfig::FFMPEG) and Qt6::Gui.

#include <cstdint>  // before libavutil: its C++ check wants UINT64_C defined

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QImage>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "media/service/av_ptr.h"

namespace tambrel::testing {

// What the container and the stream state (after avformat_find_stream_info).
struct ClipFacts {
    std::string error;          // empty when the file opened (and, decoding, decoded to its end)
    std::string format_name;    // libavformat's demuxer name, e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    std::string codec_name;     // e.g. "hevc", "mpeg2video", "dvvideo"
    int width = 0, height = 0;  // the stored picture
    // av_guess_sample_aspect_ratio: the container's when it states one, else the stream's
    // (from the first decoded frame when decoding). 0/1 when unknown.
    AVRational sar{0, 1};
    AVRational time_base{0, 1};       // of the video stream
    AVRational avg_frame_rate{0, 1};  // as libavformat works it out
    std::optional<std::array<int32_t, 9>> display_matrix;
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    std::map<std::string, std::string> format_metadata;
    int video_streams = 0, audio_streams = 0;
    std::string audio_codec;  // of the first audio stream
    int decoded_frames = 0;   // decode_each_frame: the passthrough count (so far, on error)
};

// One decoded frame, handed to a visitor.
struct DecodedFrame {
    int index = 0;                   // n, in presentation order from 0
    int64_t pts = 0;                 // best-effort timestamp, in ClipFacts::time_base
    int64_t time_us = 0;             // pts less frame 0's, in microseconds
    const AVFrame* frame = nullptr;  // valid during the call only
};

namespace decoded_clip_detail {

inline std::string av_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

inline void read_stream_facts(const AVFormatContext& format, const AVStream& stream,
                              ClipFacts& facts) {
    const AVCodecParameters& par = *stream.codecpar;
    facts.format_name = format.iformat->name;
    facts.codec_name = avcodec_get_name(par.codec_id);
    facts.width = par.width;
    facts.height = par.height;
    facts.sar = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(&format),
                                             const_cast<AVStream*>(&stream), nullptr);
    facts.time_base = stream.time_base;
    facts.avg_frame_rate = stream.avg_frame_rate;
    size_t size = 0;
    const uint8_t* side = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (side != nullptr && size >= 9 * sizeof(int32_t)) {
        std::array<int32_t, 9> matrix{};
        std::memcpy(matrix.data(), side, sizeof matrix);
        facts.display_matrix = matrix;
    }
    facts.pixel_format = static_cast<AVPixelFormat>(par.format);
    facts.primaries = par.color_primaries;
    facts.transfer = par.color_trc;
    facts.matrix = par.color_space;
    facts.range = par.color_range;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(format.metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        facts.format_metadata[entry->key] = entry->value;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& s = *format.streams[i]->codecpar;
        if (s.codec_type == AVMEDIA_TYPE_VIDEO) ++facts.video_streams;
        if (s.codec_type == AVMEDIA_TYPE_AUDIO && facts.audio_streams++ == 0)
            facts.audio_codec = avcodec_get_name(s.codec_id);
    }
}

}  // namespace decoded_clip_detail

// Decodes every frame of the file's best video stream in presentation order, calling
// `visit` for each (may be empty: the facts and the count only). The facts' error is set
// when the file does not open or decoding fails part-way.
inline ClipFacts decode_each_frame(const std::string& path,
                                   const std::function<void(const DecodedFrame&)>& visit) {
    using decoded_clip_detail::av_error;
    ClipFacts facts;
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        facts.error = "cannot open " + path + ": " + av_error(rc);
        return facts;
    }
    av::InputPtr format(raw);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) {
        facts.error = "no stream information: " + av_error(rc);
        return facts;
    }
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || decoder == nullptr) {
        facts.error = "no video stream to decode";
        return facts;
    }
    AVStream* stream = format->streams[index];
    decoded_clip_detail::read_stream_facts(*format, *stream, facts);
    av::CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        facts.error = "cannot set up the decoder";
        return facts;
    }
    codec->pkt_timebase = stream->time_base;
    codec->thread_count = 1;  // the machine is shared; small clips decode fast enough
    rc = avcodec_open2(codec.get(), decoder, nullptr);
    if (rc < 0) {
        facts.error = "cannot open the decoder: " + av_error(rc);
        return facts;
    }
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr frame(av_frame_alloc());
    int count = 0;
    int64_t first_pts = AV_NOPTS_VALUE;
    int64_t previous_pts = AV_NOPTS_VALUE, previous_duration = 0;
    const auto drain = [&]() -> bool {
        for (;;) {
            const int got = avcodec_receive_frame(codec.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
            if (got < 0) {
                facts.error =
                    "decoding failed after frame " + std::to_string(count) + ": " + av_error(got);
                return false;
            }
            if (count == 0) {
                facts.sar = av_guess_sample_aspect_ratio(format.get(), stream, frame.get());
                first_pts = frame->best_effort_timestamp;
            }
            DecodedFrame decoded;
            decoded.index = count++;
            facts.decoded_frames = count;
            decoded.pts = frame->best_effort_timestamp;
            if (decoded.pts == AV_NOPTS_VALUE && previous_pts != AV_NOPTS_VALUE)
                decoded.pts = previous_pts + (previous_duration > 0 ? previous_duration : 0);
            previous_pts = decoded.pts;
            previous_duration = frame->pkt_duration;
            if (decoded.pts != AV_NOPTS_VALUE && first_pts != AV_NOPTS_VALUE)
                decoded.time_us =
                    av_rescale_q(decoded.pts - first_pts, stream->time_base, {1, 1000000});
            decoded.frame = frame.get();
            if (visit) visit(decoded);
            av_frame_unref(frame.get());
        }
    };
    for (;;) {
        rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            facts.error = "reading failed: " + av_error(rc);
            return facts;
        }
        if (packet->stream_index == index) {
            rc = avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN)) {
                facts.error = "decoder refused a packet: " + av_error(rc);
                return facts;
            }
            if (!drain()) return facts;
        } else {
            av_packet_unref(packet.get());
        }
    }
    rc = avcodec_send_packet(codec.get(), nullptr);
    if (rc < 0) facts.error = "cannot drain the decoder: " + av_error(rc);
    drain();
    return facts;
}

// The facts alone, without decoding.
inline ClipFacts probe_facts(const std::string& path) {
    ClipFacts facts;
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        facts.error = "cannot open " + path + ": " + decoded_clip_detail::av_error(rc);
        return facts;
    }
    av::InputPtr format(raw);
    rc = avformat_find_stream_info(format.get(), nullptr);
    const int index =
        rc < 0 ? rc : av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        facts.error = "no video stream";
        return facts;
    }
    decoded_clip_detail::read_stream_facts(*format, *format->streams[index], facts);
    return facts;
}

// The frame as 8-bit RGB, converted with its own matrix and range (BT.601 when untagged;
// HDR frames come out as their BT.2020 signal, not tone mapped). Null on failure.
inline QImage rgb_picture(const AVFrame& frame) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    av::SwsPtr sws(sws_getContext(
        frame.width, frame.height, format, frame.width, frame.height, AV_PIX_FMT_RGB32,
        SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr,
        nullptr));
    if (!sws) return {};
    int space = SWS_CS_ITU601;
    if (frame.colorspace == AVCOL_SPC_BT709) space = SWS_CS_ITU709;
    if (frame.colorspace == AVCOL_SPC_BT2020_NCL || frame.colorspace == AVCOL_SPC_BT2020_CL)
        space = SWS_CS_BT2020;
    const bool full = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                      format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr) return {};
    if ((desc->flags & AV_PIX_FMT_FLAG_RGB) == 0) {
        const int* coefficients = sws_getCoefficients(space);
        if (sws_setColorspaceDetails(sws.get(), coefficients, full ? 1 : 0, coefficients, 1, 0,
                                     1 << 16, 1 << 16) < 0)
            return {};
    }
    uint8_t* out[1] = {image.bits()};
    const int stride[1] = {static_cast<int>(image.bytesPerLine())};
    if (sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, out, stride) !=
        frame.height)
        return {};
    return image;
}

// The stored picture as a player shows it; null when the matrix is not a quarter turn with
// or without a mirror.
inline QImage upright_picture(const QImage& stored, AVRational sar,
                              const std::optional<std::array<int32_t, 9>>& display_matrix) {
    QImage square = stored.convertToFormat(QImage::Format_RGB32);
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) {
        const auto rounded = [](int64_t v, int64_t n, int64_t d) {
            return static_cast<int>((2 * v * n + d) / (2 * d));
        };
        const QSize size = sar.num > sar.den
                               ? QSize(rounded(square.width(), sar.num, sar.den), square.height())
                               : QSize(square.width(), rounded(square.height(), sar.den, sar.num));
        square = square.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                     .convertToFormat(QImage::Format_RGB32);
    }
    if (!display_matrix) return square;
    // (p, q) -> (a p + c q, b p + d q), libavutil's layout, 16.16 fixed point.
    const auto unit = [](int32_t v) -> std::optional<int> {
        const double x = v / 65536.0;
        for (int u : {-1, 0, 1})
            if (std::abs(x - u) < 1e-3) return u;
        return std::nullopt;
    };
    const auto a = unit((*display_matrix)[0]), b = unit((*display_matrix)[1]);
    const auto c = unit((*display_matrix)[3]), d = unit((*display_matrix)[4]);
    if (!a || !b || !c || !d || (*a) * (*d) - (*b) * (*c) == 0) return {};
    const int w = square.width(), h = square.height();
    const int out_w = std::abs(*a) * w + std::abs(*c) * h;
    const int out_h = std::abs(*b) * w + std::abs(*d) * h;
    const int min_x = std::min(0, *a * (w - 1)) + std::min(0, *c * (h - 1));
    const int min_y = std::min(0, *b * (w - 1)) + std::min(0, *d * (h - 1));
    QImage out(out_w, out_h, QImage::Format_RGB32);
    for (int q = 0; q < h; ++q) {
        const auto* line = reinterpret_cast<const QRgb*>(square.constScanLine(q));
        for (int p = 0; p < w; ++p) {
            const int x = *a * p + *c * q - min_x, y = *b * p + *d * q - min_y;
            reinterpret_cast<QRgb*>(out.scanLine(y))[x] = line[p];
        }
    }
    return out;
}

// A whole clip decoded: the count, each frame's timestamp and, where asked, its picture.
struct DecodedClip {
    ClipFacts facts;
    std::vector<int64_t> pts;      // frame n's best-effort timestamp, in facts.time_base
    std::vector<int64_t> time_us;  // frame n's time from frame 0, microseconds
    std::vector<QImage> stored;    // frame n's stored picture, RGB32 (null where not kept)

    int count() const { return static_cast<int>(pts.size()); }
    // Frame n as a player shows it (null where not kept).
    QImage upright(int n) const {
        return stored[n].isNull() ? QImage()
                                  : upright_picture(stored[n], facts.sar, facts.display_matrix);
    }
};

// Decodes the whole clip, keeping the pictures of the frames `keep` accepts (all when empty).
inline DecodedClip decode_clip(const std::string& path, const std::function<bool(int)>& keep = {}) {
    DecodedClip clip;
    clip.facts = decode_each_frame(path, [&](const DecodedFrame& decoded) {
        clip.pts.push_back(decoded.pts);
        clip.time_us.push_back(decoded.time_us);
        clip.stored.push_back(!keep || keep(decoded.index) ? rgb_picture(*decoded.frame)
                                                           : QImage());
    });
    return clip;
}

}  // namespace tambrel::testing
