// The SDR render turned into HLG or PQ by zscale (zimg), so that an HDR-to-SDR conversion
// with FFmpeg's filters gives the render back.

#include "hdr_filter.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
}

#include <cstring>

#include "media/service/av_ptr.h"

namespace tambrel::clipgen {

namespace {

std::string av_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

std::optional<std::string> HdrFilter::open(int width, int height, Transfer transfer,
                                           std::unique_ptr<HdrFilter>& out) {
    std::unique_ptr<HdrFilter> filter(new HdrFilter);
    filter->width_ = width;
    filter->height_ = height;
    filter->graph_.reset(avfilter_graph_alloc());
    if (filter->graph_ == nullptr) return "out of memory";
    // One thread: the clips are small and the machine is shared.
    filter->graph_->nb_threads = 1;
    const std::string source_args =
        "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
        ":pix_fmt=" + std::to_string(AV_PIX_FMT_RGB32) + ":time_base=1/1:pixel_aspect=1/1";
    int rc = avfilter_graph_create_filter(&filter->source_, avfilter_get_by_name("buffer"), "in",
                                          source_args.c_str(), nullptr, filter->graph_.get());
    if (rc < 0) return "cannot set up the HDR filter source: " + av_error(rc);
    rc = avfilter_graph_create_filter(&filter->sink_, avfilter_get_by_name("buffersink"), "out",
                                      nullptr, nullptr, filter->graph_.get());
    if (rc < 0) return "cannot set up the HDR filter sink: " + av_error(rc);

    // SDR white at 203 cd/m^2, HDR's reference (diffuse) white (ITU-R BT.2408), as phones
    // grade it: zscale's nominal peak luminance (npl) names the level of linear 1.0.
    const char* curve = transfer == Transfer::Hlg ? "arib-std-b67" : "smpte2084";
    const std::string chain = std::string("zscale=rangein=full:primariesin=709:transferin=709:") +
                              "primaries=2020:transfer=" + curve +
                              ":matrix=2020_ncl:range=limited:npl=203,format=yuv420p10le";
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (outputs == nullptr || inputs == nullptr) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return "out of memory";
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = filter->source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = filter->sink_;
    rc = avfilter_graph_parse_ptr(filter->graph_.get(), chain.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (rc < 0) return "cannot build the HDR filter (zscale): " + av_error(rc);
    rc = avfilter_graph_config(filter->graph_.get(), nullptr);
    if (rc < 0) return "cannot configure the HDR filter (zscale): " + av_error(rc);
    out = std::move(filter);
    return std::nullopt;
}

std::optional<std::string> HdrFilter::convert(const QImage& picture, AVFrame* out) {
    av::FramePtr in(av_frame_alloc());
    if (!in) return "out of memory";
    in->format = AV_PIX_FMT_RGB32;
    in->width = width_;
    in->height = height_;
    in->color_range = AVCOL_RANGE_JPEG;
    in->color_primaries = AVCOL_PRI_BT709;
    in->color_trc = AVCOL_TRC_BT709;
    in->colorspace = AVCOL_SPC_RGB;
    in->pts = 0;
    int rc = av_frame_get_buffer(in.get(), 0);
    if (rc < 0) return "cannot allocate a frame for the HDR filter: " + av_error(rc);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < height_; ++y)
        std::memcpy(in->data[0] + static_cast<ptrdiff_t>(y) * in->linesize[0], rgb.constScanLine(y),
                    static_cast<size_t>(width_) * 4);
    rc = av_buffersrc_add_frame(source_, in.get());
    if (rc < 0) return "HDR filter refused a picture: " + av_error(rc);
    av_frame_unref(out);
    rc = av_buffersink_get_frame(sink_, out);
    if (rc < 0) return "HDR filter gave no picture: " + av_error(rc);
    return std::nullopt;
}

}  // namespace tambrel::clipgen
