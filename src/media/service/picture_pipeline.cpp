#include "media/service/picture_pipeline.h"

#include "media/service/memory_budget.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
#include <libavutil/hdr_dynamic_metadata.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QTransform>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace tambrel::media {

namespace {

// Diffuse (paper) white of HDR video, in nits (ITU-R BT.2408): it becomes SDR white.
constexpr double kReferenceWhiteNits = 203.0;
// The brightest highlight assumed when the file does not say: what phones master to.
constexpr double kTypicalPeakNits = 1000.0;

// The brightest light in the picture, in nits, as the file's HDR metadata states it.
double peak_nits(const AVFrame& f) {
    if (const AVFrameSideData* sd = av_frame_get_side_data(&f, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)) {
        const auto* cll = reinterpret_cast<const AVContentLightMetadata*>(sd->data);
        if (cll->MaxCLL > 0) return cll->MaxCLL;
    }
    if (const AVFrameSideData* sd =
            av_frame_get_side_data(&f, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) {
        const auto* m = reinterpret_cast<const AVMasteringDisplayMetadata*>(sd->data);
        if (m->has_luminance && av_q2d(m->max_luminance) > 0) return av_q2d(m->max_luminance);
    }
    return kTypicalPeakNits;
}

// The full-range "J" formats are deprecated in the scaler; it wants the plain format
// and the range given separately.
AVPixelFormat plain_format(AVPixelFormat f, bool& full_range) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P:
            full_range = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            full_range = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            full_range = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            full_range = true;
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            full_range = true;
            return AV_PIX_FMT_YUV411P;
        default:
            return f;
    }
}

// The colour description of a picture, as plain numbers. Decoders and demuxers copy some
// of it from the file unchecked, so a damaged file can carry numbers no enumerator names,
// and such a number read as its enum type is undefined behaviour.
struct ColourTags {
    int trc, primaries, matrix, range;
};

template <typename Enum>
int tag_value(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(int));
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

ColourTags colour_tags(const AVFrame& f) {
    return {tag_value(f.color_trc), tag_value(f.color_primaries), tag_value(f.colorspace),
            tag_value(f.color_range)};
}

int sws_matrix(int cs, int height) {
    switch (cs) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            // Unlabelled: standard definition is BT.601, high definition BT.709.
            return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

struct GraphFree {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};

}  // namespace

Orientation orientation_from_matrix(const int32_t matrix[9]) {
    int32_t m[9];
    std::memcpy(m, matrix, sizeof m);
    Orientation o;
    // A negative determinant holds a mirror image, made after the turn (the matrix's
    // first column negated): take it out, then read the turn.
    const double det = static_cast<double>(m[0]) * m[4] - static_cast<double>(m[1]) * m[3];
    if (det < 0) {
        o.mirrored = true;
        m[0] = -m[0];
        m[3] = -m[3];
    }
    const double ccw = av_display_rotation_get(m);  // counter-clockwise degrees
    if (std::isnan(ccw)) return {};
    const long clockwise = std::lround(-ccw / 90.0);
    o.quarter_turns = static_cast<int>(((clockwise % 4) + 4) % 4);
    return o;
}

bool is_hdr(const AVFrame& f) {
    const int trc = colour_tags(f).trc;
    return trc == AVCOL_TRC_SMPTE2084 || trc == AVCOL_TRC_ARIB_STD_B67;
}

// The tone-mapping graph for one input format and output size.
struct PicturePipeline::Hdr {
    std::unique_ptr<AVFilterGraph, GraphFree> graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    av::FramePtr out{av_frame_alloc()};
    // What the graph was built for.
    int width = 0, height = 0, format = -1, trc = -1, primaries = -1, matrix = -1, range = -1;
    double peak = 0;
    QSize size;

    bool matches(const AVFrame& f, QSize s) const {
        const ColourTags c = colour_tags(f);
        return f.width == width && f.height == height && f.format == format && c.trc == trc &&
               c.primaries == primaries && c.matrix == matrix && c.range == range &&
               peak_nits(f) == peak && s == size;
    }
};

PicturePipeline::PicturePipeline() = default;
PicturePipeline::~PicturePipeline() = default;

MediaError PicturePipeline::convert_sdr(const AVFrame& f, uint8_t* dst, int dst_stride,
                                        QSize size) {
    const ColourTags colour = colour_tags(f);
    bool full_range = colour.range == AVCOL_RANGE_JPEG;
    const AVPixelFormat src = plain_format(static_cast<AVPixelFormat>(f.format), full_range);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(src);
    if (!desc) return MediaError::DecodeFailed;
    // Big reductions alias with bicubic taps; area averaging keeps them clean.
    const bool big_downscale = size.width() * 2 < f.width || size.height() * 2 < f.height;
    const int flags =
        (big_downscale ? SWS_AREA : SWS_BICUBIC) | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;
    SwsContext* ctx =
        sws_getCachedContext(sws_.release(), f.width, f.height, src, size.width(), size.height(),
                             AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
    sws_.reset(ctx);
    if (!ctx) {
        qWarning("media: no scaler for this picture format");
        return MediaError::DecodeFailed;
    }
    const bool yuv =
        !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
    if (yuv) {
        const int* coefficients = sws_getCoefficients(sws_matrix(colour.matrix, f.height));
        if (sws_setColorspaceDetails(ctx, coefficients, full_range ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                     1 << 16) < 0) {
            qWarning("media: scaler refused the colour matrix");
            return MediaError::DecodeFailed;
        }
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    const int rows = sws_scale(ctx, f.data, f.linesize, 0, f.height, planes, strides);
    if (rows != size.height()) {
        if (rows < 0) qWarning("media: scaling failed");
        return MediaError::DecodeFailed;
    }
    return MediaError::None;
}

MediaError PicturePipeline::convert_hdr(const AVFrame& f, QImage& out) {
    const QSize size = out.size();
    if (!hdr_ || !hdr_->matches(f, size)) {
        auto h = std::make_unique<Hdr>();
        h->graph.reset(avfilter_graph_alloc());
        if (!h->graph || !h->out) return MediaError::DecodeFailed;
        // The conversions the graph inserts itself (to the sink's format) keep the
        // accuracy of the ordinary path.
        av_opt_set(h->graph.get(), "scale_sws_opts", "flags=bicubic+accurate_rnd+full_chroma_int",
                   0);
        h->graph->nb_threads = 1;
        char args[256];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=1/1:pixel_aspect=1/1", f.width,
                      f.height, f.format);
        if (avfilter_graph_create_filter(&h->source, avfilter_get_by_name("buffer"), "in", args,
                                         nullptr, h->graph.get()) < 0 ||
            avfilter_graph_create_filter(&h->sink, avfilter_get_by_name("buffersink"), "out",
                                         nullptr, nullptr, h->graph.get()) < 0) {
            qWarning("media: no HDR conversion (libavfilter's buffer filters are missing)");
            return MediaError::DecodeFailed;
        }
        const AVPixelFormat sink_formats[] = {AV_PIX_FMT_RGB32, AV_PIX_FMT_NONE};
        if (av_opt_set_int_list(h->sink, "pix_fmts", sink_formats, AV_PIX_FMT_NONE,
                                AV_OPT_SEARCH_CHILDREN) < 0)
            return MediaError::DecodeFailed;

        const ColourTags colour = colour_tags(f);
        const bool pq = colour.trc == AVCOL_TRC_SMPTE2084;
        const char* primaries = colour.primaries == AVCOL_PRI_BT709 ? "709" : "2020";
        const char* matrix = colour.matrix == AVCOL_SPC_BT709       ? "709"
                             : colour.matrix == AVCOL_SPC_BT2020_CL ? "2020_cl"
                                                                    : "2020_ncl";
        const char* range = colour.range == AVCOL_RANGE_JPEG ? "full" : "limited";
        const double peak = std::max(peak_nits(f) / kReferenceWhiteNits, 1.0);
        // Scaled to the target size first, so the float stages work on few pixels; in
        // linear light with reference white at 1.0; everything up to 80 % of it kept,
        // brighter light compressed smoothly up to the picture's peak (Möbius); then
        // BT.709 SDR. The primaries assumed are stated on the way out of the first stage
        // too: each stage takes its input's from the frame, and a picture whose own are
        // unspecified would find no path to BT.709.
        char chain[768];
        std::snprintf(chain, sizeof chain,
                      "zscale=w=%d:h=%d:filter=bicubic:tin=%s:pin=%s:min=%s:rin=%s:t=linear:p=%s:"
                      "npl=%g,format=gbrpf32le,zscale=p=709,tonemap=tonemap=mobius:param=0.8:"
                      "desat=0:peak=%g,zscale=t=709:m=709:r=full,format=gbrp",
                      size.width(), size.height(), pq ? "smpte2084" : "arib-std-b67", primaries,
                      matrix, range, primaries, kReferenceWhiteNits, peak);
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        int r = AVERROR(ENOMEM);
        if (outputs && inputs) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = h->source;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = h->sink;
            r = avfilter_graph_parse_ptr(h->graph.get(), chain, &inputs, &outputs, nullptr);
            if (r >= 0) r = avfilter_graph_config(h->graph.get(), nullptr);
        }
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (r < 0) {
            qWarning("media: the HDR conversion could not be set up");
            return MediaError::DecodeFailed;
        }
        h->width = f.width;
        h->height = f.height;
        h->format = f.format;
        h->trc = colour.trc;
        h->primaries = colour.primaries;
        h->matrix = colour.matrix;
        h->range = colour.range;
        h->peak = peak_nits(f);
        h->size = size;
        hdr_ = std::move(h);
    }
    // The graph takes a reference of its own; the decoded picture stays ours.
    AVFrame* in = av_frame_clone(&f);
    if (!in) return MediaError::DecodeFailed;
    int r = av_buffersrc_add_frame_flags(hdr_->source, in, 0);
    av_frame_free(&in);
    if (r >= 0) r = av_buffersink_get_frame(hdr_->sink, hdr_->out.get());
    if (r < 0) {
        hdr_.reset();  // a graph that failed once is built afresh next time
        return MediaError::DecodeFailed;
    }
    const AVFrame& o = *hdr_->out;
    if (o.width != size.width() || o.height != size.height() || o.format != AV_PIX_FMT_RGB32) {
        av_frame_unref(hdr_->out.get());
        return MediaError::DecodeFailed;
    }
    for (int y = 0; y < o.height; ++y)
        std::memcpy(out.scanLine(y), o.data[0] + static_cast<ptrdiff_t>(y) * o.linesize[0],
                    static_cast<size_t>(o.width) * 4);
    av_frame_unref(hdr_->out.get());
    return MediaError::None;
}

MediaError PicturePipeline::draw(const AVFrame& f, Orientation orientation, QImage& target,
                                 const QRect& dest) {
    const QRect visible = dest.intersected(target.rect());
    if (visible.isEmpty() || dest.isEmpty()) return MediaError::None;
    const bool rgb32 =
        target.format() == QImage::Format_RGB32 || target.format() == QImage::Format_ARGB32;
    const bool hdr = is_hdr(f);

    if (orientation.identity() && !hdr && visible == dest && rgb32) {
        uint8_t* dst =
            target.bits() + static_cast<ptrdiff_t>(dest.y()) * target.bytesPerLine() + dest.x() * 4;
        return convert_sdr(f, dst, static_cast<int>(target.bytesPerLine()), dest.size());
    }

    // The picture as coded, at the size it takes before it is turned, and its turned copy
    // (and for HDR the graph's float planes): scratch pictures the budget must allow.
    const QSize coded = orientation.quarter_turns % 2 ? dest.size().transposed() : dest.size();
    const size_t scratch =
        static_cast<size_t>(dest.width()) * dest.height() * (hdr ? 4 * 5 : 4 * 2);
    const BudgetShare share = BudgetShare::take(MemoryBudget::process(), scratch);
    if (!share) return MediaError::NoMemory;
    QImage picture(coded, QImage::Format_RGB32);
    if (picture.isNull()) return MediaError::DecodeFailed;
    const MediaError e =
        hdr ? convert_hdr(f, picture)
            : convert_sdr(f, picture.bits(), static_cast<int>(picture.bytesPerLine()), coded);
    if (e != MediaError::None) return e;
    if (orientation.quarter_turns)
        picture = picture.transformed(QTransform().rotate(90.0 * orientation.quarter_turns));
    if (orientation.mirrored) picture = picture.mirrored(true, false);
    if (picture.size() != dest.size()) return MediaError::DecodeFailed;

    const QImage part =
        picture.copy(visible.translated(-dest.topLeft())).convertToFormat(target.format());
    const int bpp = part.depth() / 8;
    if (part.isNull() || part.depth() % 8 != 0) return MediaError::DecodeFailed;
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(target.scanLine(visible.y() + y) + visible.x() * bpp, part.constScanLine(y),
                    static_cast<size_t>(part.width()) * bpp);
    return MediaError::None;
}

}  // namespace tambrel::media
