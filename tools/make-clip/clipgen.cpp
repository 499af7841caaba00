// Writes synthetic AVI clips with libavformat/libavcodec.

#include "clipgen.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <QPainter>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <unordered_map>

#include "media/service/av_ptr.h"
#include "packed_bframes.h"
#include "scene.h"

namespace tambrel::clipgen {

namespace {

struct CodecInfo {
    Codec codec;
    std::string_view name;
    const char* encoder;  // nullptr: written directly, no encoder needed
    AVPixelFormat pixel_format;
    int size_multiple;  // encoded width and height must be multiples of this
    uint32_t fourcc;    // 0: the AVI muxer's default tag for the codec
};

constexpr uint32_t tag(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr std::array<CodecInfo, 10> codec_table{{
    {Codec::RawBgr24, "raw", nullptr, AV_PIX_FMT_BGR24, 1, 0},
    {Codec::RawPal8, "pal8", nullptr, AV_PIX_FMT_PAL8, 1, 0},
    {Codec::Mjpeg, "mjpeg", "mjpeg", AV_PIX_FMT_YUVJ420P, 1, tag('M', 'J', 'P', 'G')},
    {Codec::Mpeg4, "mpeg4", "mpeg4", AV_PIX_FMT_YUV420P, 1, tag('F', 'M', 'P', '4')},
    {Codec::Mpeg4BFrames, "mpeg4-bframes", "mpeg4", AV_PIX_FMT_YUV420P, 1, tag('X', 'V', 'I', 'D')},
    {Codec::H264, "h264", "libx264", AV_PIX_FMT_YUV420P, 1, tag('H', '2', '6', '4')},
    {Codec::Ffv1, "ffv1", "ffv1", AV_PIX_FMT_BGR0, 1, tag('F', 'F', 'V', '1')},
    {Codec::HuffYuv, "huffyuv", "huffyuv", AV_PIX_FMT_RGB24, 1, tag('H', 'F', 'Y', 'U')},
    {Codec::MsVideo1, "msvideo1", "msvideo1", AV_PIX_FMT_RGB555LE, 4, tag('C', 'R', 'A', 'M')},
    {Codec::Cinepak, "cinepak", "cinepak", AV_PIX_FMT_RGB24, 4, tag('c', 'v', 'i', 'd')},
}};

const CodecInfo& info_of(Codec codec) {
    for (const auto& info : codec_table)
        if (info.codec == codec) return info;
    return codec_table[0];
}

// H.264 4:2:0 needs even sizes; 4:4:4 keeps odd sizes exact.
AVPixelFormat pixel_format_for(Codec codec, QSize size) {
    if (codec == Codec::H264 && (size.width() % 2 != 0 || size.height() % 2 != 0))
        return AV_PIX_FMT_YUV444P;
    return info_of(codec).pixel_format;
}

std::string av_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string failure(std::string_view what, int code) {
    return std::string(what) + ": " + av_error(code);
}

struct FormatFree {
    // Closing here only happens on failure (the file is then removed); success closes and
    // checks explicitly.
    void operator()(AVFormatContext* f) const {
        if (f->pb != nullptr && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using CodecContextPtr = av::CodecPtr;
using av::FramePtr;
using av::PacketPtr;
using av::SwsPtr;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatFree>;

AVRational frame_period(const ClipOptions& options) {
    AVRational period{};
    av_reduce(&period.num, &period.den, options.fps_den, options.fps_num, 1 << 30);
    return period;
}

// Opens the video encoder with the settings every clip of this codec uses.
std::optional<std::string> open_video_encoder(const ClipOptions& options, QSize size,
                                              CodecContextPtr& out) {
    const CodecInfo& info = info_of(options.codec);
    const AVCodec* encoder = avcodec_find_encoder_by_name(info.encoder);
    if (encoder == nullptr) return std::string("encoder not available: ") + info.encoder;
    CodecContextPtr ctx(avcodec_alloc_context3(encoder));
    if (!ctx) return std::string("out of memory");
    ctx->width = size.width();
    ctx->height = size.height();
    ctx->pix_fmt = pixel_format_for(options.codec, size);
    ctx->time_base = frame_period(options);
    ctx->framerate = av_inv_q(ctx->time_base);
    ctx->sample_aspect_ratio = {1, 1};
    ctx->gop_size = options.keyframe_interval;
    // MS Video 1 and Cinepak take their key frame interval from keyint_min; MS Video 1
    // counts the frames between key frames, not the distance.
    ctx->keyint_min = options.codec == Codec::MsVideo1 ? options.keyframe_interval - 1
                                                       : options.keyframe_interval;
    ctx->max_b_frames = 0;
    std::vector<std::pair<const char*, const char*>> private_settings;
    switch (options.codec) {
        case Codec::Mjpeg:
            ctx->color_range = AVCOL_RANGE_JPEG;
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = 2 * FF_QP2LAMBDA;
            break;
        case Codec::Mpeg4:
        case Codec::Mpeg4BFrames:
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = 2 * FF_QP2LAMBDA;
            ctx->codec_tag = info.fourcc;
            if (options.codec == Codec::Mpeg4BFrames) {
                ctx->max_b_frames = 2;
                // Closed groups that start exactly on the interval: a key chunk then holds
                // no B-frame that needs the previous group.
                ctx->flags |= AV_CODEC_FLAG_CLOSED_GOP;
                private_settings = {{"mpv_flags", "+strict_gop"}, {"sc_threshold", "1000000000"}};
            }
            break;
        case Codec::H264:
            ctx->max_b_frames = 2;
            // No scene-cut key frames: key frames exactly every interval.
            private_settings = {{"crf", "18"}, {"preset", "fast"}, {"x264-params", "scenecut=0"}};
            break;
        case Codec::Ffv1:
            private_settings = {{"context", "0"}};
            break;
        default:
            break;
    }
    AVDictionary* settings = nullptr;
    for (auto [key, value] : private_settings) {
        const int rc = av_dict_set(&settings, key, value, 0);
        if (rc < 0) {
            av_dict_free(&settings);
            return failure("cannot store encoder setting", rc);
        }
    }
    const int rc = avcodec_open2(ctx.get(), encoder, &settings);
    // A setting the encoder did not take would silently change the clip.
    const AVDictionaryEntry* unused = av_dict_get(settings, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    const std::string unused_key = unused != nullptr ? unused->key : "";
    av_dict_free(&settings);
    if (rc < 0) return failure(std::string("cannot open encoder ") + info.encoder, rc);
    if (!unused_key.empty())
        return std::string("encoder ") + info.encoder + " does not know the setting " + unused_key;
    out = std::move(ctx);
    return std::nullopt;
}

// Colours of the palettised clips: ramps from the field to each colour the scene draws, so
// antialiased edges keep their shades.
std::array<QRgb, 256> scene_palette() {
    std::array<QRgb, 256> palette{};
    const auto ramp = [&](int first, QColor from, QColor to) {
        for (int i = 0; i < 64; ++i) {
            const double t = i / 63.0;
            const auto mix = [t](int a, int b) {
                return static_cast<int>(std::lround(a + (b - a) * t));
            };
            palette[first + i] = qRgb(mix(from.red(), to.red()), mix(from.green(), to.green()),
                                      mix(from.blue(), to.blue()));
        }
    };
    ramp(0, field_colour, bob_colour);
    ramp(64, band_black, band_white);
    ramp(128, field_colour, string_colour);
    ramp(192, field_colour, band_white);
    return palette;
}

class PaletteMapper {
  public:
    PaletteMapper() : palette_(scene_palette()) {}
    const std::array<QRgb, 256>& palette() const { return palette_; }
    uint8_t index(QRgb colour) {
        const QRgb key = colour & 0xFFFFFF;
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
        int best = 0;
        long best_distance = -1;
        for (int i = 0; i < 256; ++i) {
            const long dr = qRed(colour) - qRed(palette_[i]);
            const long dg = qGreen(colour) - qGreen(palette_[i]);
            const long db = qBlue(colour) - qBlue(palette_[i]);
            const long distance = dr * dr + dg * dg + db * db;
            if (best_distance < 0 || distance < best_distance) {
                best_distance = distance;
                best = i;
            }
        }
        cache_.emplace(key, static_cast<uint8_t>(best));
        return static_cast<uint8_t>(best);
    }

  private:
    std::array<QRgb, 256> palette_;
    std::unordered_map<QRgb, uint8_t> cache_;
};

class ClipWriter {
  public:
    explicit ClipWriter(const ClipOptions& options)
        : options_(options),
          info_(info_of(options.codec)),
          size_(encoded_size(options.codec, options.width, options.height)) {}

    std::optional<std::string> run() {
        if (auto error = open()) return error;
        const std::vector<QPointF> path = bob_path(options_);
        QImage picture(options_.width, options_.height, QImage::Format_RGB32);
        QImage padded(size_, QImage::Format_RGB32);
        for (int frame = 0; frame < options_.frames; ++frame) {
            draw_scene(picture, options_, frame, path[frame]);
            const QImage* source = &picture;
            if (size_ != picture.size()) {
                padded.fill(field_colour);
                QPainter painter(&padded);
                painter.drawImage(0, 0, picture);
                painter.end();
                source = &padded;
            }
            if (auto error = write_video(*source, frame)) return error;
            if (audio_ctx_)
                if (auto error = write_audio(frame)) return error;
        }
        if (auto error = finish_video()) return error;
        if (audio_ctx_)
            if (auto error = drain(audio_ctx_.get(), audio_stream_)) return error;
        if (video_slots_ != options_.frames)
            return "encoder produced " + std::to_string(video_slots_) + " frames instead of " +
                   std::to_string(options_.frames);
        int rc = av_write_trailer(format_.get());
        if (rc < 0) return failure("cannot finish " + options_.path, rc);
        // Closing flushes the last bytes; a full disk shows up here.
        rc = avio_closep(&format_->pb);
        if (rc < 0) return failure("cannot write " + options_.path, rc);
        return std::nullopt;
    }

    // Closes the output file; true when this writer created it.
    bool close() {
        format_.reset();
        return created_;
    }

  private:
    std::optional<std::string> open() {
        AVFormatContext* raw_format = nullptr;
        int rc = avformat_alloc_output_context2(&raw_format, nullptr, "avi", options_.path.c_str());
        if (rc < 0) return failure("cannot set up AVI output", rc);
        format_.reset(raw_format);

        video_stream_ = avformat_new_stream(format_.get(), nullptr);
        if (video_stream_ == nullptr) return "out of memory";
        const AVRational period = frame_period(options_);
        video_stream_->time_base = period;
        video_stream_->avg_frame_rate = av_inv_q(period);
        video_stream_->r_frame_rate = av_inv_q(period);
        if (info_.encoder == nullptr) {
            AVCodecParameters* par = video_stream_->codecpar;
            par->codec_type = AVMEDIA_TYPE_VIDEO;
            par->codec_id = AV_CODEC_ID_RAWVIDEO;
            par->codec_tag = 0;
            par->format = info_.pixel_format;
            par->width = size_.width();
            par->height = size_.height();
            par->bits_per_coded_sample = info_.pixel_format == AV_PIX_FMT_PAL8 ? 8 : 24;
        } else {
            if (auto error = open_video_encoder(options_, size_, video_ctx_)) return error;
            rc = avcodec_parameters_from_context(video_stream_->codecpar, video_ctx_.get());
            if (rc < 0) return failure("cannot describe video stream", rc);
            video_stream_->codecpar->codec_tag = info_.fourcc;
            if (auto error = open_converter()) return error;
        }

        if (options_.audio)
            if (auto error = open_audio()) return error;

        rc = avio_open(&format_->pb, options_.path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) return failure("cannot create " + options_.path, rc);
        created_ = true;
        AVDictionary* muxer_settings = nullptr;
        // Uncompressed DIBs are bottom-up in AVI; frames are handed over that way.
        rc = av_dict_set(&muxer_settings, "flipped_raw_rgb", "1", 0);
        if (rc >= 0) rc = avformat_write_header(format_.get(), &muxer_settings);
        const bool taken = av_dict_count(muxer_settings) == 0;
        av_dict_free(&muxer_settings);
        if (rc < 0) return failure("cannot write AVI header", rc);
        if (!taken) return "the AVI muxer does not store bottom-up bitmaps";

        packet_.reset(av_packet_alloc());
        if (!packet_) return "out of memory";
        return std::nullopt;
    }

    std::optional<std::string> open_converter() {
        frame_.reset(av_frame_alloc());
        if (!frame_) return "out of memory";
        frame_->format = video_ctx_->pix_fmt;
        frame_->width = size_.width();
        frame_->height = size_.height();
        frame_->color_range = video_ctx_->color_range;
        const int rc = av_frame_get_buffer(frame_.get(), 0);
        if (rc < 0) return failure("cannot allocate video frame", rc);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(video_ctx_->pix_fmt);
        if ((desc->flags & AV_PIX_FMT_FLAG_RGB) != 0) return std::nullopt;  // packed by hand
        // The deprecated yuvj formats are fed as plain yuv with full range set explicitly.
        const AVPixelFormat target =
            video_ctx_->pix_fmt == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUV420P : video_ctx_->pix_fmt;
        sws_.reset(sws_getContext(
            size_.width(), size_.height(), AV_PIX_FMT_RGB32, size_.width(), size_.height(), target,
            SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr,
            nullptr));
        if (!sws_) return "cannot set up colour conversion";
        const int full_range = video_ctx_->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        const int* matrix = sws_getCoefficients(SWS_CS_ITU601);
        if (sws_setColorspaceDetails(sws_.get(), matrix, 1, matrix, full_range, 0, 1 << 16,
                                     1 << 16) < 0)
            return "cannot set colour range";
        return std::nullopt;
    }

    std::optional<std::string> open_audio() {
        const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        if (encoder == nullptr) return "encoder not available: pcm_s16le";
        audio_ctx_.reset(avcodec_alloc_context3(encoder));
        if (!audio_ctx_) return "out of memory";
        audio_ctx_->sample_fmt = AV_SAMPLE_FMT_S16;
        audio_ctx_->sample_rate = audio_rate;
        av_channel_layout_default(&audio_ctx_->ch_layout, 1);
        audio_ctx_->time_base = {1, audio_rate};
        int rc = avcodec_open2(audio_ctx_.get(), encoder, nullptr);
        if (rc < 0) return failure("cannot open encoder pcm_s16le", rc);
        audio_stream_ = avformat_new_stream(format_.get(), nullptr);
        if (audio_stream_ == nullptr) return "out of memory";
        audio_stream_->time_base = audio_ctx_->time_base;
        rc = avcodec_parameters_from_context(audio_stream_->codecpar, audio_ctx_.get());
        if (rc < 0) return failure("cannot describe audio stream", rc);
        audio_frame_.reset(av_frame_alloc());
        if (!audio_frame_) return "out of memory";
        return std::nullopt;
    }

    std::optional<std::string> write_video(const QImage& image, int frame) {
        if (info_.encoder == nullptr) return write_raw(image, frame);
        int rc = av_frame_make_writable(frame_.get());
        if (rc < 0) return failure("cannot write video frame", rc);
        if (auto error = fill_frame(image)) return error;
        frame_->pts = frame;
        // Key frames exactly on the interval, whatever the encoder would choose itself.
        frame_->pict_type =
            frame % options_.keyframe_interval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        frame_->quality = video_ctx_->global_quality;
        rc = avcodec_send_frame(video_ctx_.get(), frame_.get());
        if (rc < 0) return failure("cannot encode frame " + std::to_string(frame), rc);
        return receive_video();
    }

    std::optional<std::string> fill_frame(const QImage& image) {
        const int width = size_.width();
        const int height = size_.height();
        switch (video_ctx_->pix_fmt) {
            case AV_PIX_FMT_RGB24:
            case AV_PIX_FMT_BGR0:
            case AV_PIX_FMT_RGB555LE:
                for (int y = 0; y < height; ++y) {
                    const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                    uint8_t* out =
                        frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0];
                    for (int x = 0; x < width; ++x) store_rgb(in[x], out, x);
                }
                break;
            default: {
                const uint8_t* source[1] = {image.constBits()};
                const int stride[1] = {static_cast<int>(image.bytesPerLine())};
                if (sws_scale(sws_.get(), source, stride, 0, height, frame_->data,
                              frame_->linesize) != height)
                    return "colour conversion failed";
                break;
            }
        }
        return std::nullopt;
    }

    void store_rgb(QRgb pixel, uint8_t* out, int x) const {
        const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
        switch (video_ctx_->pix_fmt) {
            case AV_PIX_FMT_RGB24:
                out[3 * x] = r, out[3 * x + 1] = g, out[3 * x + 2] = b;
                break;
            case AV_PIX_FMT_BGR0:
                out[4 * x] = b, out[4 * x + 1] = g, out[4 * x + 2] = r, out[4 * x + 3] = 0;
                break;
            default: {  // RGB555LE
                const int v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
                out[2 * x] = static_cast<uint8_t>(v & 0xFF);
                out[2 * x + 1] = static_cast<uint8_t>(v >> 8);
                break;
            }
        }
    }

    std::optional<std::string> write_raw(const QImage& image, int frame) {
        const bool pal8 = info_.pixel_format == AV_PIX_FMT_PAL8;
        const int width = size_.width();
        const int height = size_.height();
        const int bits = pal8 ? 8 : 24;
        const int stride = ((width * bits + 31) / 32) * 4;  // DIB rows are 4-byte aligned
        av_packet_unref(packet_.get());
        int rc = av_new_packet(packet_.get(), stride * height);
        if (rc < 0) return failure("out of memory for frame " + std::to_string(frame), rc);
        std::fill_n(packet_->data, packet_->size, uint8_t{0});
        for (int y = 0; y < height; ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            uint8_t* out = packet_->data + static_cast<ptrdiff_t>(height - 1 - y) * stride;
            for (int x = 0; x < width; ++x) {
                if (pal8) {
                    out[x] = palette_.index(in[x]);
                } else {
                    out[3 * x] = static_cast<uint8_t>(qBlue(in[x]));
                    out[3 * x + 1] = static_cast<uint8_t>(qGreen(in[x]));
                    out[3 * x + 2] = static_cast<uint8_t>(qRed(in[x]));
                }
            }
        }
        if (pal8 && frame == 0) {
            uint8_t* side =
                av_packet_new_side_data(packet_.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
            if (side == nullptr) return "out of memory for the palette";
            for (int i = 0; i < 256; ++i) {
                const uint32_t entry = 0xFF000000u | palette_.palette()[i];
                std::memcpy(side + 4 * i, &entry, 4);  // native-endian ARGB, as libav keeps it
            }
        }
        packet_->flags |= AV_PKT_FLAG_KEY;
        packet_->pts = packet_->dts = frame;
        packet_->duration = 1;
        ++video_slots_;
        return write_packet(frame_period(options_), video_stream_, "video frame");
    }

    std::optional<std::string> receive_video() {
        for (;;) {
            const int rc = avcodec_receive_packet(video_ctx_.get(), packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return std::nullopt;
            if (rc < 0) return failure("video encoder failed", rc);
            if (options_.codec == Codec::Mpeg4BFrames) {
                const bool key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
                // DivX-style user data: the "p" tells decoders the B-frames are packed.
                const std::vector<uint8_t> data = mpeg4_insert_user_data(
                    std::span<const uint8_t>(packet_->data, packet_->size), "DivX999b000p");
                av_packet_unref(packet_.get());
                if (auto error = write_chunks(packer().push(data, key))) return error;
                continue;
            }
            ++video_slots_;
            if (auto error = write_packet(video_ctx_->time_base, video_stream_, "video packet"))
                return error;
        }
    }

    BFramePacker& packer() {
        if (!packer_) {
            const AVRational tb = video_ctx_->time_base;
            packer_ = std::make_unique<BFramePacker>(tb.den, tb.num);
        }
        return *packer_;
    }

    std::optional<std::string> write_chunks(const std::vector<PackedChunk>& chunks) {
        for (const PackedChunk& chunk : chunks) {
            const int rc = av_new_packet(packet_.get(), static_cast<int>(chunk.data.size()));
            if (rc < 0) return failure("out of memory", rc);
            std::memcpy(packet_->data, chunk.data.data(), chunk.data.size());
            if (chunk.key) packet_->flags |= AV_PKT_FLAG_KEY;
            packet_->pts = packet_->dts = video_slots_++;
            packet_->duration = 1;
            if (auto error = write_packet(video_ctx_->time_base, video_stream_, "video chunk"))
                return error;
        }
        return std::nullopt;
    }

    std::optional<std::string> finish_video() {
        if (!video_ctx_) return std::nullopt;
        const int rc = avcodec_send_frame(video_ctx_.get(), nullptr);
        if (rc < 0) return failure("cannot drain video encoder", rc);
        if (auto error = receive_video()) return error;
        if (packer_)
            if (auto error = write_chunks(packer_->finish())) return error;
        return std::nullopt;
    }

    std::optional<std::string> write_audio(int frame) {
        // Samples covering [frame, frame + 1) in video time; the sum stays exact.
        const auto sample_at = [this](int64_t f) {
            return av_rescale(f, static_cast<int64_t>(audio_rate) * options_.fps_den,
                              options_.fps_num);
        };
        const int64_t first = sample_at(frame);
        const int count = static_cast<int>(sample_at(frame + 1) - first);
        if (count <= 0) return std::nullopt;
        av_frame_unref(audio_frame_.get());
        audio_frame_->format = AV_SAMPLE_FMT_S16;
        audio_frame_->sample_rate = audio_rate;
        audio_frame_->nb_samples = count;
        int rc = av_channel_layout_copy(&audio_frame_->ch_layout, &audio_ctx_->ch_layout);
        if (rc < 0) return failure("cannot set audio layout", rc);
        rc = av_frame_get_buffer(audio_frame_.get(), 0);
        if (rc < 0) return failure("cannot allocate audio frame", rc);
        auto* samples = reinterpret_cast<int16_t*>(audio_frame_->data[0]);
        for (int i = 0; i < count; ++i) {
            const double t = static_cast<double>(first + i) / audio_rate;
            samples[i] =
                static_cast<int16_t>(std::lround(6000 * std::sin(2 * std::numbers::pi * 440 * t)));
        }
        audio_frame_->pts = first;
        rc = avcodec_send_frame(audio_ctx_.get(), audio_frame_.get());
        if (rc < 0) return failure("cannot encode audio", rc);
        return receive(audio_ctx_.get(), audio_stream_);
    }

    std::optional<std::string> drain(AVCodecContext* ctx, AVStream* stream) {
        const int rc = avcodec_send_frame(ctx, nullptr);
        if (rc < 0) return failure("cannot drain encoder", rc);
        return receive(ctx, stream);
    }

    std::optional<std::string> receive(AVCodecContext* ctx, AVStream* stream) {
        for (;;) {
            const int rc = avcodec_receive_packet(ctx, packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return std::nullopt;
            if (rc < 0) return failure("encoder failed", rc);
            if (auto error = write_packet(ctx->time_base, stream, "packet")) return error;
        }
    }

    std::optional<std::string> write_packet(AVRational from, AVStream* stream,
                                            std::string_view what) {
        av_packet_rescale_ts(packet_.get(), from, stream->time_base);
        packet_->stream_index = stream->index;
        const int rc = av_interleaved_write_frame(format_.get(), packet_.get());
        if (rc < 0) return failure(std::string("cannot write ") + std::string(what), rc);
        return std::nullopt;
    }

    static constexpr int audio_rate = 8000;

    const ClipOptions& options_;
    const CodecInfo& info_;
    QSize size_;
    FormatPtr format_;
    AVStream* video_stream_ = nullptr;
    AVStream* audio_stream_ = nullptr;
    CodecContextPtr video_ctx_;
    CodecContextPtr audio_ctx_;
    FramePtr frame_;
    FramePtr audio_frame_;
    PacketPtr packet_;
    SwsPtr sws_;
    PaletteMapper palette_;
    std::unique_ptr<BFramePacker> packer_;
    int video_slots_ = 0;
    bool created_ = false;
};

}  // namespace

std::string_view codec_name(Codec codec) { return info_of(codec).name; }

std::optional<Codec> codec_from_name(std::string_view name) {
    for (const auto& info : codec_table)
        if (info.name == name) return info.codec;
    return std::nullopt;
}

QSize encoded_size(Codec codec, int width, int height) {
    const int m = info_of(codec).size_multiple;
    return {(width + m - 1) / m * m, (height + m - 1) / m * m};
}

std::optional<std::string> validate(const ClipOptions& o) {
    if (o.path.empty()) return "no output file given";
    if (o.width < 48 || o.height < 48 || o.width > 4096 || o.height > 4096)
        return "size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
               " is outside 48x48 .. 4096x4096";
    if (o.fps_num <= 0 || o.fps_den <= 0) return "frame rate must be positive";
    if (static_cast<double>(o.fps_num) / o.fps_den > 1000.0) return "frame rate above 1000";
    if (o.frames < 1 || o.frames > max_frame_number + 1)
        return "frame count must be 1 .. " + std::to_string(max_frame_number + 1);
    if (o.keyframe_interval < 1) return "key frame interval must be at least 1";
    if (o.motion == Motion::Pendulum) {
        if (!(o.pendulum_length_m > 0) || !std::isfinite(o.pendulum_length_m))
            return "pendulum length must be positive";
        if (!(std::abs(o.amplitude_deg) < 180)) return "amplitude must be under 180 degrees";
        if (!(o.pixels_per_metre > 0) || !std::isfinite(o.pixels_per_metre))
            return "scale must be positive";
    }
    return std::nullopt;
}

bool codec_available(Codec codec) {
    static const std::array<bool, codec_table.size()> available = [] {
        std::array<bool, codec_table.size()> result{};
        for (size_t i = 0; i < codec_table.size(); ++i) {
            if (codec_table[i].encoder == nullptr) {
                result[i] = true;
                continue;
            }
            // Finding the encoder is not enough (a wrapper may fail to start): open one.
            ClipOptions probe;
            probe.codec = codec_table[i].codec;
            CodecContextPtr ctx;
            const auto error = open_video_encoder(probe, QSize(64, 48), ctx);
            if (error) av_log(nullptr, AV_LOG_VERBOSE, "make-clip: %s\n", error->c_str());
            result[i] = !error.has_value();
        }
        return result;
    }();
    for (size_t i = 0; i < codec_table.size(); ++i)
        if (codec_table[i].codec == codec) return available[i];
    return false;
}

std::optional<std::string> write_clip(const ClipOptions& options) {
    if (auto error = validate(options)) return error;
    ClipWriter writer(options);
    std::optional<std::string> error = writer.run();
    if (writer.close() && error) {
        // A half-written clip would look valid to a quick glance; do not leave it behind.
        std::error_code ignored;
        std::filesystem::remove(options.path, ignored);
    }
    return error;
}

}  // namespace tambrel::clipgen
