#include "avi_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <memory>

#include "media/service/av_ptr.h"

namespace tambrel::testing {

namespace {

std::string av_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

using av::BsfFree;
using av::CodecFree;
using av::FrameFree;
using av::InputClose;
using av::PacketFree;
using av::SwsFree;

std::unique_ptr<AVCodecContext, CodecFree> open_decoder(const AVStream* stream,
                                                        std::string& error) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        error = "no decoder";
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
    int rc = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (rc >= 0) rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0) {
        error = "cannot open decoder: " + av_error(rc);
        return nullptr;
    }
    return ctx;
}

class Reader {
  public:
    ProbedClip run(const std::string& path, bool unpack) {
        AVFormatContext* raw = nullptr;
        int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        if (rc < 0) return fail("cannot open: " + av_error(rc));
        input_.reset(raw);
        rc = avformat_find_stream_info(input_.get(), nullptr);
        if (rc < 0) return fail("no stream info: " + av_error(rc));
        const int video = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video < 0) return fail("no video stream");
        const AVStream* vs = input_->streams[video];
        const uint32_t tag = vs->codecpar->codec_tag;
        for (int i = 0; i < 4; ++i) clip_.fourcc += static_cast<char>((tag >> (8 * i)) & 0xFF);
        clip_.width = vs->codecpar->width;
        clip_.height = vs->codecpar->height;
        clip_.rate_num = vs->time_base.den;
        clip_.rate_den = vs->time_base.num;
        clip_.header_frames = vs->nb_frames;
        video_ = open_decoder(vs, clip_.error);
        if (!video_) return clip_;

        if (unpack && vs->codecpar->codec_id == AV_CODEC_ID_MPEG4) {
            AVBSFContext* b = nullptr;
            rc = av_bsf_alloc(av_bsf_get_by_name("mpeg4_unpack_bframes"), &b);
            if (rc < 0) return fail("no mpeg4_unpack_bframes");
            bsf_.reset(b);
            rc = avcodec_parameters_copy(bsf_->par_in, vs->codecpar);
            if (rc < 0) return fail("cannot set up bsf: " + av_error(rc));
            bsf_->time_base_in = vs->time_base;
            rc = av_bsf_init(bsf_.get());
            if (rc < 0) return fail("cannot start bsf: " + av_error(rc));
        }

        const int audio = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (audio >= 0) {
            const AVStream* as = input_->streams[audio];
            clip_.has_audio = true;
            clip_.audio_codec = avcodec_get_name(as->codecpar->codec_id);
            clip_.audio_rate = as->codecpar->sample_rate;
            clip_.audio_channels = as->codecpar->ch_layout.nb_channels;
            audio_ = open_decoder(as, clip_.error);
            if (!audio_) return clip_;
        }

        frame_.reset(av_frame_alloc());
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        while ((rc = av_read_frame(input_.get(), packet.get())) >= 0) {
            if (packet->stream_index == video) {
                clip_.packet_slots.push_back(packet->dts);
                clip_.packet_sizes.push_back(packet->size);
                if (clip_.first_packets.size() < 4)
                    clip_.first_packets.emplace_back(packet->data, packet->data + packet->size);
                if (packet->flags & AV_PKT_FLAG_KEY) clip_.key_slots.push_back(packet->dts);
                if (!feed_video(packet.get())) return clip_;
            } else if (packet->stream_index == audio) {
                if (!decode(audio_.get(), packet.get(), false)) return clip_;
            }
            av_packet_unref(packet.get());
        }
        if (rc != AVERROR_EOF) return fail("read error: " + av_error(rc));
        if (!feed_video(nullptr)) return clip_;
        if (audio_ && !decode(audio_.get(), nullptr, false)) return clip_;
        return clip_;
    }

  private:
    ProbedClip fail(std::string text) {
        clip_.error = std::move(text);
        return clip_;
    }

    bool feed_video(AVPacket* packet) {
        if (!bsf_) return decode(video_.get(), packet, true);
        int rc = av_bsf_send_packet(bsf_.get(), packet);
        if (rc < 0) return (clip_.error = "bsf: " + av_error(rc)), false;
        std::unique_ptr<AVPacket, PacketFree> out(av_packet_alloc());
        while ((rc = av_bsf_receive_packet(bsf_.get(), out.get())) >= 0) {
            if (!decode(video_.get(), out.get(), true)) return false;
            av_packet_unref(out.get());
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            return (clip_.error = "bsf: " + av_error(rc)), false;
        return packet != nullptr || decode(video_.get(), nullptr, true);
    }

    bool decode(AVCodecContext* ctx, AVPacket* packet, bool is_video) {
        int rc = avcodec_send_packet(ctx, packet);
        if (rc < 0) return (clip_.error = "decode: " + av_error(rc)), false;
        while ((rc = avcodec_receive_frame(ctx, frame_.get())) >= 0) {
            if (is_video) {
                clip_.frames.push_back(to_image(frame_.get()));
                if (clip_.frames.back().isNull()) return false;
            } else
                clip_.audio_samples += frame_->nb_samples;
            av_frame_unref(frame_.get());
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            return (clip_.error = "decode: " + av_error(rc)), false;
        return true;
    }

    QImage to_image(const AVFrame* f) {
        QImage image(f->width, f->height, QImage::Format_RGB32);
        const auto format = static_cast<AVPixelFormat>(f->format);
        sws_.reset(sws_getCachedContext(
            sws_.release(), f->width, f->height, format, f->width, f->height, AV_PIX_FMT_RGB32,
            SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr,
            nullptr));
        if (!sws_) {
            clip_.error = "no conversion from " + std::string(av_get_pix_fmt_name(format));
            return {};
        }
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        if ((desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && (desc->flags & AV_PIX_FMT_FLAG_PAL) == 0) {
            const bool full = f->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                              format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
            const int* matrix = sws_getCoefficients(SWS_CS_ITU601);
            if (sws_setColorspaceDetails(sws_.get(), matrix, full ? 1 : 0, matrix, 1, 0, 1 << 16,
                                         1 << 16) < 0) {
                clip_.error = "cannot set colour range";
                return {};
            }
        }
        uint8_t* dst[1] = {image.bits()};
        const int stride[1] = {static_cast<int>(image.bytesPerLine())};
        if (sws_scale(sws_.get(), f->data, f->linesize, 0, f->height, dst, stride) != f->height) {
            clip_.error = "conversion failed";
            return {};
        }
        return image;
    }

    ProbedClip clip_;
    std::unique_ptr<AVFormatContext, InputClose> input_;
    std::unique_ptr<AVCodecContext, CodecFree> video_, audio_;
    std::unique_ptr<AVBSFContext, BsfFree> bsf_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<SwsContext, SwsFree> sws_;
};

}  // namespace

ProbedClip probe_clip(const std::string& path, bool unpack_bframes) {
    return Reader().run(path, unpack_bframes);
}

}  // namespace tambrel::testing
