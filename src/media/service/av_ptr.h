#pragma once
// Owning pointers for libav objects, one deleter each, shared by the media service, the
// clip generator and the tests that decode clips themselves.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace tambrel::av {

struct InputClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct BsfFree {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

}  // namespace tambrel::av
