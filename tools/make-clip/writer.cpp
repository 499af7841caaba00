// Writes synthetic clips with libavformat/libavcodec: the pictures of the scene, turned and
// squeezed into the stored picture, converted (HDR through zscale), encoded and muxed.

#include "writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <QPainter>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>
#include <unordered_map>

#include "formats.h"
#include "hdr_filter.h"
#include "mp4_tags.h"
#include "packed_bframes.h"
#include "picture.h"
#include "scene.h"

namespace tambrel::clipgen {

namespace {

constexpr std::string_view capture_fps_key = "com.android.capture.fps";

std::string av_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string failure(std::string_view what, int code) {
    return std::string(what) + ": " + av_error(code);
}

constexpr uint32_t tag(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
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

struct DictionaryFree {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

AVRational frame_period(const ClipOptions& options) {
    AVRational period{};
    av_reduce(&period.num, &period.den, options.fps_den, options.fps_num, 1 << 30);
    return period;
}

// Encoder time base: one frame period, or milliseconds for a variable rate.
AVRational encoder_time_base(const ClipOptions& options) {
    return options.vfr ? AVRational{1, 1000} : frame_period(options);
}

AVRational sar_of(const ClipOptions& options) {
    const Ratio sar = effective_sar(options);
    return {sar.num, sar.den};
}

// SVT-AV1 reports its whole configuration on stderr unless told otherwise through its own
// environment variable; a user's setting wins.
void quieten_svt_av1() {
    static std::once_flag once;
    std::call_once(once, [] { setenv("SVT_LOG", "1", 0); });
}

std::string x265_params(const ClipOptions& options) {
    std::string params = "log-level=error:info=0:scenecut=0:open-gop=0:bframes=2:keyint=" +
                         std::to_string(options.keyframe_interval) +
                         ":min-keyint=" + std::to_string(options.keyframe_interval);
    if (options.transfer == Transfer::Pq)
        // HDR10 as phones write it: mastering display (BT.2020 primaries, D65, 1000 and
        // 0.0001 cd/m^2) and a content light level matching the picture (SDR white, 203).
        params +=
            ":hdr10=1:max-cll=203,40:master-display=G(8500,39850)B(6550,2300)R(35400,14600)"
            "WP(15635,16450)L(10000000,1)";
    return params;
}

}  // namespace

std::optional<std::string> open_video_encoder(const ClipOptions& options, QSize size,
                                              bool global_header, CodecContextPtr& out) {
    const CodecInfo& info = info_of(options.codec);
    const bool avi = container_of(options) == Container::Avi;
    if (options.codec == Codec::Av1) quieten_svt_av1();
    const AVCodec* encoder = avcodec_find_encoder_by_name(info.encoder);
    if (encoder == nullptr) return std::string("encoder not available: ") + info.encoder;
    CodecContextPtr ctx(avcodec_alloc_context3(encoder));
    if (!ctx) return std::string("out of memory");
    ctx->width = size.width();
    ctx->height = size.height();
    ctx->pix_fmt = encoder_pixel_format(options, size);
    ctx->time_base = encoder_time_base(options);
    ctx->framerate = av_inv_q(frame_period(options));
    ctx->sample_aspect_ratio =
        avi && options.codec != Codec::Dv ? AVRational{1, 1} : sar_of(options);
    ctx->gop_size = options.keyframe_interval;
    // MS Video 1 and Cinepak take their key frame interval from keyint_min; MS Video 1
    // counts the frames between key frames, not the distance.
    ctx->keyint_min = options.codec == Codec::MsVideo1 ? options.keyframe_interval - 1
                                                       : options.keyframe_interval;
    ctx->max_b_frames = 0;
    const ColourTags tags = colour_tags(options);
    if (tags.matrix != AVCOL_SPC_UNSPECIFIED) {
        ctx->color_primaries = tags.primaries;
        ctx->color_trc = tags.transfer;
        ctx->colorspace = tags.matrix;
        ctx->color_range = AVCOL_RANGE_MPEG;
    }
    if (global_header) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    std::vector<std::pair<const char*, std::string>> private_settings;
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
            if (avi) ctx->codec_tag = info.fourcc;
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
        case Codec::Hevc:
        case Codec::Hevc10:
            // Key frames forced on the interval are IDR frames, as phones write them.
            private_settings = {{"preset", "ultrafast"},
                                {"crf", "16"},
                                {"forced-idr", "1"},
                                {"x265-params", x265_params(options)}};
            break;
        case Codec::Vp8:
            ctx->bit_rate = 8'000'000;  // a ceiling for the constant quality below
            private_settings = {{"deadline", "realtime"},
                                {"cpu-used", "8"},
                                {"crf", "4"},
                                {"lag-in-frames", "0"},
                                {"auto-alt-ref", "0"}};
            break;
        case Codec::Vp9:
            ctx->bit_rate = 0;  // constant quality
            private_settings = {
                {"deadline", "realtime"}, {"cpu-used", "8"}, {"crf", "20"}, {"lag-in-frames", "0"}};
            break;
        case Codec::Av1:
            private_settings = {{"preset", "12"}, {"crf", "24"}};
            break;
        case Codec::Mpeg2:
            ctx->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_CLOSED_GOP;
            ctx->global_quality = 2 * FF_QP2LAMBDA;
            ctx->max_b_frames = 2;
            // Main profile at main level's buffer and peak rate; without them the encoder
            // warns that it picked a buffer itself.
            ctx->rc_buffer_size = 1835008;
            ctx->rc_max_rate = 15'000'000;
            private_settings = {{"mpv_flags", "+strict_gop"}, {"sc_threshold", "1000000000"}};
            break;
        case Codec::ProRes:
            // Apple's vendor code, as cameras and editors write it.
            private_settings = {{"vendor", "apl0"}};
            break;
        case Codec::Wmv2:
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = 2 * FF_QP2LAMBDA;
            break;
        default:
            break;
    }
    AVDictionary* settings = nullptr;
    for (const auto& [key, value] : private_settings) {
        const int rc = av_dict_set(&settings, key, value.c_str(), 0);
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

void discard_encoder_output(AVCodecContext* ctx, bool fed) {
    if (ctx == nullptr) return;
    if (!fed) {
        FramePtr blank(av_frame_alloc());
        if (!blank) return;
        blank->format = ctx->pix_fmt;
        blank->width = ctx->width;
        blank->height = ctx->height;
        blank->pts = 0;
        if (av_frame_get_buffer(blank.get(), 0) < 0) return;
        ptrdiff_t linesizes[4];
        for (int i = 0; i < 4; ++i) linesizes[i] = blank->linesize[i];
        if (av_image_fill_black(blank->data, linesizes, ctx->pix_fmt, ctx->color_range, ctx->width,
                                ctx->height) < 0)
            return;
        if (avcodec_send_frame(ctx, blank.get()) < 0) return;
    }
    if (avcodec_send_frame(ctx, nullptr) < 0) return;
    PacketPtr packet(av_packet_alloc());
    if (!packet) return;
    while (avcodec_receive_packet(ctx, packet.get()) >= 0) av_packet_unref(packet.get());
}

namespace {

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

// The audio of the containers other than AVI: which encoder each one takes.
const char* audio_encoder_for(Container container) {
    switch (container) {
        case Container::WebM:
            return "libopus";
        case Container::MpegPs:
            return "mp2";
        case Container::Asf:
            return "wmav2";
        default:
            return "aac";
    }
}

class ClipWriter {
  public:
    explicit ClipWriter(const ClipOptions& options)
        : options_(options),
          info_(info_of(options.codec)),
          container_(container_of(options)),
          box_(info_of(container_)),
          avi_(container_ == Container::Avi),
          size_(encoded_size(options.codec, options.width, options.height)) {}

    std::optional<std::string> run() {
        if (auto error = open()) return error;
        const std::vector<ScenePlaces> path = scene_path(options_);
        QImage upright(display_size(options_), QImage::Format_RGB32);
        QImage padded(size_, QImage::Format_RGB32);
        for (int frame = 0; frame < options_.frames; ++frame) {
            draw_scene(upright, options_, frame, path[frame]);
            QImage stored = stored_from_upright(upright, options_);
            const QImage* source = &stored;
            if (size_ != stored.size()) {
                padded.fill(field_colour);
                QPainter painter(&padded);
                painter.drawImage(0, 0, stored);
                painter.end();
                source = &padded;
            }
            if (auto error = write_video(*source, frame)) return error;
            if (audio_ctx_)
                if (auto error = write_audio(frame)) return error;
        }
        if (auto error = finish_video()) return error;
        if (audio_ctx_)
            if (auto error = finish_audio()) return error;
        if (video_slots_ != options_.frames)
            return "encoder produced " + std::to_string(video_slots_) + " frames instead of " +
                   std::to_string(options_.frames);
        int rc = av_write_trailer(format_.get());
        if (rc < 0) return failure("cannot finish " + options_.path, rc);
        // Closing flushes the last bytes; a full disk shows up here.
        rc = avio_closep(&format_->pb);
        if (rc < 0) return failure("cannot write " + options_.path, rc);
        if (options_.capture_fps > 0)
            return store_mdta_float(options_.path, capture_fps_key,
                                    static_cast<float>(options_.capture_fps));
        return std::nullopt;
    }

    // Closes the output file; true when this writer created it.
    bool close() {
        if (!video_drained_) discard_encoder_output(video_ctx_.get(), video_fed_);
        format_.reset();
        return created_;
    }

  private:
    std::optional<std::string> open() {
        AVFormatContext* raw_format = nullptr;
        int rc =
            avformat_alloc_output_context2(&raw_format, nullptr, box_.muxer, options_.path.c_str());
        if (rc < 0) return failure("cannot set up " + std::string(box_.label) + " output", rc);
        format_.reset(raw_format);

        video_stream_ = avformat_new_stream(format_.get(), nullptr);
        if (video_stream_ == nullptr) return "out of memory";
        const AVRational period = frame_period(options_);
        video_stream_->time_base = encoder_time_base(options_);
        if (!options_.vfr) {
            video_stream_->avg_frame_rate = av_inv_q(period);
            video_stream_->r_frame_rate = av_inv_q(period);
        }
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
            // AVI keeps its codec headers in band, as it always has.
            const bool global_header = !avi_ && (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
            if (auto error = open_video_encoder(options_, size_, global_header, video_ctx_))
                return error;
            rc = avcodec_parameters_from_context(video_stream_->codecpar, video_ctx_.get());
            if (rc < 0) return failure("cannot describe video stream", rc);
            video_stream_->codecpar->codec_tag = stream_tag();
            if (!avi_)
                if (auto error = copy_coded_side_data()) return error;
            if (!avi_ && effective_sar(options_) != Ratio{1, 1})
                video_stream_->sample_aspect_ratio = sar_of(options_);
            if (auto error = open_converter()) return error;
        }
        if (auto error = add_side_data()) return error;
        if (options_.capture_fps > 0) {
            rc =
                av_dict_set(&format_->metadata, capture_fps_key.data(), mdta_placeholder.data(), 0);
            if (rc < 0) return failure("cannot store the capture rate", rc);
        }

        if (options_.audio)
            if (auto error = avi_ ? open_pcm_audio() : open_audio()) return error;

        rc = avio_open(&format_->pb, options_.path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) return failure("cannot create " + options_.path, rc);
        created_ = true;
        if (auto error = write_header()) return error;

        packet_.reset(av_packet_alloc());
        if (!packet_) return "out of memory";
        return std::nullopt;
    }

    uint32_t stream_tag() const {
        if (avi_) return info_.fourcc;
        // Apple's players want the parameter sets in the sample description (hvc1); iPhones
        // and Android both write it that way.
        if (box_.mov_family && (options_.codec == Codec::Hevc || options_.codec == Codec::Hevc10))
            return tag('h', 'v', 'c', '1');
        return 0;
    }

    // What the encoder says about its stream (buffer size and rates for MPEG-2), for muxers
    // that state it in their headers.
    std::optional<std::string> copy_coded_side_data() {
        for (int i = 0; i < video_ctx_->nb_coded_side_data; ++i) {
            const AVPacketSideData& data = video_ctx_->coded_side_data[i];
            uint8_t* copy = av_stream_new_side_data(video_stream_, data.type, data.size);
            if (copy == nullptr) return "out of memory for stream side data";
            std::memcpy(copy, data.data, data.size);
        }
        return std::nullopt;
    }

    std::optional<std::string> add_side_data() {
        if (!box_.mov_family || (options_.rotation == 0 && !options_.hflip)) return std::nullopt;
        const std::array<int32_t, 9> matrix = display_matrix(options_);
        uint8_t* side =
            av_stream_new_side_data(video_stream_, AV_PKT_DATA_DISPLAYMATRIX, sizeof matrix);
        if (side == nullptr) return "out of memory for the display matrix";
        std::memcpy(side, matrix.data(), sizeof matrix);
        return std::nullopt;
    }

    std::optional<std::string> write_header() {
        std::vector<std::pair<const char*, const char*>> settings;
        // Uncompressed DIBs are bottom-up in AVI; frames are handed over that way.
        if (avi_) settings.emplace_back("flipped_raw_rgb", "1");
        if (container_ == Container::M2ts) settings.emplace_back("mpegts_m2ts_mode", "1");
        if (options_.capture_fps > 0) settings.emplace_back("movflags", "+use_metadata_tags");
        AVDictionary* raw = nullptr;
        int rc = 0;
        for (auto [key, value] : settings)
            if (rc >= 0) rc = av_dict_set(&raw, key, value, 0);
        std::unique_ptr<AVDictionary, DictionaryFree> muxer_settings(raw);
        if (rc < 0) return failure("cannot store muxer setting", rc);
        raw = muxer_settings.release();
        rc = avformat_write_header(format_.get(), &raw);
        muxer_settings.reset(raw);
        if (rc < 0) return failure("cannot write " + std::string(box_.label) + " header", rc);
        if (av_dict_count(muxer_settings.get()) != 0)
            return "the " + std::string(box_.label) + " muxer does not take the setting " +
                   av_dict_get(muxer_settings.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)->key;
        return std::nullopt;
    }

    std::optional<std::string> open_converter() {
        frame_.reset(av_frame_alloc());
        if (!frame_) return "out of memory";
        if (options_.transfer != Transfer::Sdr)
            return HdrFilter::open(size_.width(), size_.height(), options_.transfer, hdr_);
        frame_->format = video_ctx_->pix_fmt;
        frame_->width = size_.width();
        frame_->height = size_.height();
        frame_->color_range = video_ctx_->color_range;
        frame_->color_primaries = video_ctx_->color_primaries;
        frame_->color_trc = video_ctx_->color_trc;
        frame_->colorspace = video_ctx_->colorspace;
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
        const int* matrix = sws_getCoefficients(
            video_ctx_->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
        if (sws_setColorspaceDetails(sws_.get(), matrix, 1, matrix, full_range, 0, 1 << 16,
                                     1 << 16) < 0)
            return "cannot set colour range";
        return std::nullopt;
    }

    // AVI: PCM in one chunk per video frame, as before.
    std::optional<std::string> open_pcm_audio() {
        const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        if (encoder == nullptr) return "encoder not available: pcm_s16le";
        audio_ctx_.reset(avcodec_alloc_context3(encoder));
        if (!audio_ctx_) return "out of memory";
        audio_ctx_->sample_fmt = AV_SAMPLE_FMT_S16;
        audio_ctx_->sample_rate = avi_audio_rate;
        av_channel_layout_default(&audio_ctx_->ch_layout, 1);
        audio_ctx_->time_base = {1, avi_audio_rate};
        int rc = avcodec_open2(audio_ctx_.get(), encoder, nullptr);
        if (rc < 0) return failure("cannot open encoder pcm_s16le", rc);
        return add_audio_stream();
    }

    // The other containers: the compressed audio phones and cameras write, 48 kHz mono.
    std::optional<std::string> open_audio() {
        const char* name = audio_encoder_for(container_);
        const AVCodec* encoder = avcodec_find_encoder_by_name(name);
        if (encoder == nullptr) return std::string("encoder not available: ") + name;
        audio_ctx_.reset(avcodec_alloc_context3(encoder));
        if (!audio_ctx_) return "out of memory";
        audio_ctx_->sample_fmt =
            encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        audio_ctx_->sample_rate = audio_rate;
        av_channel_layout_default(&audio_ctx_->ch_layout, 1);
        audio_ctx_->time_base = {1, audio_rate};
        audio_ctx_->bit_rate = 64000;
        if ((format_->oformat->flags & AVFMT_GLOBALHEADER) != 0)
            audio_ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int rc = avcodec_open2(audio_ctx_.get(), encoder, nullptr);
        if (rc < 0) return failure(std::string("cannot open encoder ") + name, rc);
        return add_audio_stream();
    }

    std::optional<std::string> add_audio_stream() {
        audio_stream_ = avformat_new_stream(format_.get(), nullptr);
        if (audio_stream_ == nullptr) return "out of memory";
        audio_stream_->time_base = audio_ctx_->time_base;
        const int rc = avcodec_parameters_from_context(audio_stream_->codecpar, audio_ctx_.get());
        if (rc < 0) return failure("cannot describe audio stream", rc);
        audio_frame_.reset(av_frame_alloc());
        if (!audio_frame_) return "out of memory";
        return std::nullopt;
    }

    int64_t frame_pts(int frame) const {
        return options_.vfr ? frame_time_us(options_, frame) / 1000 : frame;
    }

    std::optional<std::string> write_video(const QImage& image, int frame) {
        if (info_.encoder == nullptr) return write_raw(image, frame);
        AVFrame* picture = frame_.get();
        if (hdr_) {
            if (auto error = hdr_->convert(image, frame_.get())) return error;
        } else {
            int rc = av_frame_make_writable(frame_.get());
            if (rc < 0) return failure("cannot write video frame", rc);
            if (auto error = fill_frame(image)) return error;
        }
        picture->pts = frame_pts(frame);
        // Key frames exactly on the interval, whatever the encoder would choose itself.
        picture->pict_type =
            frame % options_.keyframe_interval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        picture->quality = video_ctx_->global_quality;
        const int rc = avcodec_send_frame(video_ctx_.get(), picture);
        if (rc < 0) return failure("cannot encode frame " + std::to_string(frame), rc);
        video_fed_ = true;
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
            if (options_.vfr) {
                // Durations of variable-rate frames, so that the last one has its own too.
                const int64_t next = frame_time_us(options_, frame_from_pts(packet_->pts) + 1);
                packet_->duration = next / 1000 - packet_->pts;
            }
            if (auto error = write_packet(video_ctx_->time_base, video_stream_, "video packet"))
                return error;
        }
    }

    // The frame a variable-rate packet shows, from its presentation time in ms.
    int frame_from_pts(int64_t pts) const {
        const auto d = vfr_durations_ms(options_);
        const int64_t cycle = d[0] + d[1] + d[2];
        int frame = static_cast<int>(pts / cycle) * 3;
        int64_t rest = pts % cycle;
        for (int k = 0; k < 3 && rest >= d[k]; ++k) rest -= d[k], ++frame;
        return frame;
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
        video_drained_ = true;
        const int rc = avcodec_send_frame(video_ctx_.get(), nullptr);
        if (rc < 0) return failure("cannot drain video encoder", rc);
        if (auto error = receive_video()) return error;
        if (packer_)
            if (auto error = write_chunks(packer_->finish())) return error;
        return std::nullopt;
    }

    std::optional<std::string> write_audio(int frame) {
        if (avi_) return write_pcm_audio(frame);
        // Whole encoder frames of the tone up to the start of the next video frame.
        const int64_t until = av_rescale(frame_time_us(options_, frame + 1), audio_rate, 1'000'000);
        while (audio_samples_ < until)
            if (auto error = send_audio_frame()) return error;
        return std::nullopt;
    }

    std::optional<std::string> finish_audio() {
        if (!avi_)
            while (audio_samples_ == 0)  // a clip shorter than one audio frame still gets one
                if (auto error = send_audio_frame()) return error;
        const int rc = avcodec_send_frame(audio_ctx_.get(), nullptr);
        if (rc < 0) return failure("cannot drain encoder", rc);
        return receive(audio_ctx_.get(), audio_stream_);
    }

    // The tone as the encoder takes it: one mono channel, interleaved or planar alike.
    std::optional<std::string> fill_tone(int64_t first, int count) {
        av_frame_unref(audio_frame_.get());
        audio_frame_->format = audio_ctx_->sample_fmt;
        audio_frame_->sample_rate = audio_ctx_->sample_rate;
        audio_frame_->nb_samples = count;
        int rc = av_channel_layout_copy(&audio_frame_->ch_layout, &audio_ctx_->ch_layout);
        if (rc < 0) return failure("cannot set audio layout", rc);
        rc = av_frame_get_buffer(audio_frame_.get(), 0);
        if (rc < 0) return failure("cannot allocate audio frame", rc);
        const AVSampleFormat packed = av_get_packed_sample_fmt(audio_ctx_->sample_fmt);
        for (int i = 0; i < count; ++i) {
            const double t = static_cast<double>(first + i) / audio_ctx_->sample_rate;
            const double value = 6000 * std::sin(2 * std::numbers::pi * 440 * t);  // of 32768
            if (packed == AV_SAMPLE_FMT_FLT)
                reinterpret_cast<float*>(audio_frame_->data[0])[i] =
                    static_cast<float>(value / 32768);
            else if (packed == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t*>(audio_frame_->data[0])[i] =
                    static_cast<int16_t>(std::lround(value));
            else
                return std::string("unexpected audio sample format ") +
                       av_get_sample_fmt_name(audio_ctx_->sample_fmt);
        }
        audio_frame_->pts = first;
        return std::nullopt;
    }

    std::optional<std::string> send_audio_frame() {
        const int count = audio_ctx_->frame_size > 0 ? audio_ctx_->frame_size : 1024;
        if (auto error = fill_tone(audio_samples_, count)) return error;
        audio_samples_ += count;
        const int rc = avcodec_send_frame(audio_ctx_.get(), audio_frame_.get());
        if (rc < 0) return failure("cannot encode audio", rc);
        return receive(audio_ctx_.get(), audio_stream_);
    }

    std::optional<std::string> write_pcm_audio(int frame) {
        // Samples covering [frame, frame + 1) in video time; the sum stays exact.
        const auto sample_at = [this](int64_t f) {
            return av_rescale(f, static_cast<int64_t>(avi_audio_rate) * options_.fps_den,
                              options_.fps_num);
        };
        const int64_t first = sample_at(frame);
        const int count = static_cast<int>(sample_at(frame + 1) - first);
        if (count <= 0) return std::nullopt;
        if (auto error = fill_tone(first, count)) return error;
        const int rc = avcodec_send_frame(audio_ctx_.get(), audio_frame_.get());
        if (rc < 0) return failure("cannot encode audio", rc);
        return receive(audio_ctx_.get(), audio_stream_);
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

    static constexpr int avi_audio_rate = 8000;
    static constexpr int audio_rate = 48000;

    const ClipOptions& options_;
    const CodecInfo& info_;
    const Container container_;
    const ContainerInfo& box_;
    const bool avi_;
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
    std::unique_ptr<HdrFilter> hdr_;
    PaletteMapper palette_;
    std::unique_ptr<BFramePacker> packer_;
    int video_slots_ = 0;
    int64_t audio_samples_ = 0;
    bool video_fed_ = false;
    bool video_drained_ = false;
    bool created_ = false;
};

}  // namespace

std::optional<std::string> write_clip_file(const ClipOptions& options, bool& created) {
    ClipWriter writer(options);
    std::optional<std::string> error = writer.run();
    created = writer.close();
    return error;
}

}  // namespace tambrel::clipgen
