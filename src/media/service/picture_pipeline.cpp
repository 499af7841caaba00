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

#include <zimg.h>

#include <QTransform>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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
    int trc, primaries, matrix, range, siting;
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
            tag_value(f.color_range), tag_value(f.chroma_location)};
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

// zimg reads and writes planes whose addresses and strides are multiples of 32 bytes
// (its AVX2 code), or of 64 for its AVX-512 code, which decoders' pictures allow where
// libavcodec was built for it; buffers of ours are aligned to a cache line.
constexpr int kZimgAlign = 32;
constexpr int kLine = 64;

struct AlignedFree {
    void operator()(uint8_t* p) const { std::free(p); }
};
using AlignedBytes = std::unique_ptr<uint8_t, AlignedFree>;

AlignedBytes aligned_bytes(size_t n) {
    const size_t line = kLine;
    n = std::max((n + line - 1) / line * line, line);
    return AlignedBytes(static_cast<uint8_t*>(std::aligned_alloc(kLine, n)));
}

struct ZimgGraphFree {
    void operator()(zimg_filter_graph* g) const { zimg_filter_graph_free(g); }
};

std::string zimg_error() {
    char text[256] = {};
    zimg_get_last_error(text, sizeof text);
    return text;
}

// The matrix as the scaler's path picks it (sws_matrix), for zimg. YCgCo and the
// like stay with the scaler.
std::optional<zimg_matrix_coefficients_e> zimg_matrix(int cs, int height) {
    switch (cs) {
        case AVCOL_SPC_BT709:
            return ZIMG_MATRIX_BT709;
        case AVCOL_SPC_FCC:
            return ZIMG_MATRIX_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return ZIMG_MATRIX_BT470_BG;
        case AVCOL_SPC_SMPTE240M:
            return ZIMG_MATRIX_ST240_M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            // Constant luminance needs the transfer function; as the scaler does, the
            // plain matrix (such pictures are HDR and tone-mapped in practice).
            return ZIMG_MATRIX_BT2020_NCL;
        case AVCOL_SPC_UNSPECIFIED:
        case AVCOL_SPC_RESERVED:
            return height >= 720 ? ZIMG_MATRIX_BT709 : ZIMG_MATRIX_BT470_BG;
        default:
            return std::nullopt;
    }
}

// Where the chroma samples sit. Unstated: JPEG's centre for full-range pictures (MJPEG),
// MPEG's left (co-sited with even luma columns, between rows) for the rest, as H.264,
// HEVC and MPEG-4 define it.
zimg_chroma_location_e zimg_siting(int loc, bool full_range) {
    switch (loc) {
        case AVCHROMA_LOC_LEFT:
            return ZIMG_CHROMA_LEFT;
        case AVCHROMA_LOC_CENTER:
            return ZIMG_CHROMA_CENTER;
        case AVCHROMA_LOC_TOPLEFT:
            return ZIMG_CHROMA_TOP_LEFT;
        case AVCHROMA_LOC_TOP:
            return ZIMG_CHROMA_TOP;
        case AVCHROMA_LOC_BOTTOMLEFT:
            return ZIMG_CHROMA_BOTTOM_LEFT;
        case AVCHROMA_LOC_BOTTOM:
            return ZIMG_CHROMA_BOTTOM;
        default:
            return full_range ? ZIMG_CHROMA_CENTER : ZIMG_CHROMA_LEFT;
    }
}

// RGB32 (0xffRRGGBB) from three planes of one row. Vectorised by the compiler, with
// 32-byte vectors where the processor has them.
#if defined(__x86_64__) && defined(__GNUC__)
#define TAMBREL_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TAMBREL_WIDE_VECTORS
#endif
TAMBREL_WIDE_VECTORS void pack_rgb32(const uint8_t* __restrict r, const uint8_t* __restrict g,
                                     const uint8_t* __restrict b, uint32_t* __restrict out,
                                     unsigned count) {
    for (unsigned x = 0; x < count; ++x)
        out[x] = 0xff000000u | uint32_t{r[x]} << 16 | uint32_t{g[x]} << 8 | b[x];
}

// Rows zimg has finished, packed into the target as they come, while still in cache.
// Only the picture's own columns and rows: an odd-sized one is converted a column or a
// row larger.
struct PackTarget {
    uint8_t* planes[3];
    ptrdiff_t stride;
    unsigned mask;
    uint8_t* dst;
    ptrdiff_t dst_stride;
    unsigned width, height;
};

int pack_rows(void* user, unsigned i, unsigned left, unsigned right) {
    const auto* t = static_cast<const PackTarget*>(user);
    right = std::min(right, t->width);
    if (i >= t->height || left >= right) return 0;
    const ptrdiff_t at = static_cast<ptrdiff_t>(i & t->mask) * t->stride + left;
    pack_rgb32(
        t->planes[0] + at, t->planes[1] + at, t->planes[2] + at,
        reinterpret_cast<uint32_t*>(t->dst + static_cast<ptrdiff_t>(i) * t->dst_stride) + left,
        right - left);
    return 0;
}

// Whether the luma plane's buffer holds `rows` rows of `bytes` bytes from data[0]:
// decoders pad their pictures, so an odd-sized one has the extra column and row.
bool luma_holds(const AVFrame& f, int rows, int bytes) {
    if (f.linesize[0] < bytes) return false;
    const uint8_t* first = f.data[0];
    const uint8_t* end = first + static_cast<ptrdiff_t>(rows - 1) * f.linesize[0] + bytes;
    for (const AVBufferRef* b : f.buf)
        if (b && first >= b->data && first < b->data + b->size) return end <= b->data + b->size;
    return false;
}

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

// A zimg graph from one kind of YUV picture to RGB at the same size, with the rows it
// writes before they are packed.
struct PicturePipeline::Unscaled {
    struct Kind {
        int width = 0, height = 0, format = -1, matrix = -1, full_range = -1, siting = -1;
        bool wide = false;  // every plane aligned for 64-byte vectors
        bool operator==(const Kind&) const = default;
    };
    Kind kind;
    std::unique_ptr<zimg_filter_graph, ZimgGraphFree> graph;  // null: the scaler converts
    AlignedBytes tmp;
    AlignedBytes rows;  // three planes of `lines` rows each
    ptrdiff_t stride = 0;
    unsigned mask = 0;
    unsigned lines = 0;

    static std::unique_ptr<Unscaled> build(const Kind& kind, const AVPixFmtDescriptor& desc);
};

std::unique_ptr<PicturePipeline::Unscaled> PicturePipeline::Unscaled::build(
    const Kind& kind, const AVPixFmtDescriptor& desc) {
    auto u = std::make_unique<Unscaled>();
    u->kind = kind;
    const int depth = desc.comp[0].depth;
    zimg_image_format src, dst;
    zimg_image_format_default(&src, ZIMG_API_VERSION);
    zimg_image_format_default(&dst, ZIMG_API_VERSION);
    src.width = dst.width = static_cast<unsigned>(kind.width);
    src.height = dst.height = static_cast<unsigned>(kind.height);
    src.pixel_type = depth > 8 ? ZIMG_PIXEL_WORD : ZIMG_PIXEL_BYTE;
    src.depth = static_cast<unsigned>(depth);
    src.subsample_w = desc.log2_chroma_w;
    src.subsample_h = desc.log2_chroma_h;
    src.color_family = ZIMG_COLOR_YUV;
    src.matrix_coefficients = static_cast<zimg_matrix_coefficients_e>(kind.matrix);
    src.pixel_range = kind.full_range ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
    src.chroma_location = static_cast<zimg_chroma_location_e>(kind.siting);
    dst.pixel_type = ZIMG_PIXEL_BYTE;
    dst.depth = 8;
    dst.color_family = ZIMG_COLOR_RGB;
    dst.matrix_coefficients = ZIMG_MATRIX_RGB;
    dst.pixel_range = ZIMG_RANGE_FULL;
    zimg_graph_builder_params params;
    zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
    // Chroma brought to every pixel by bicubic interpolation (Catmull-Rom: it passes
    // through the samples), rounded to the nearest level without dither.
    params.resample_filter_uv = ZIMG_RESIZE_BICUBIC;
    params.filter_param_a_uv = 0.0;
    params.filter_param_b_uv = 0.5;
    params.dither_type = ZIMG_DITHER_NONE;
    params.cpu_type = kind.wide ? ZIMG_CPU_AUTO_64B : ZIMG_CPU_AUTO;
    u->graph.reset(zimg_filter_graph_build(&src, &dst, &params));
    if (!u->graph) {
        qWarning("media: zimg cannot convert this picture (%s); the scaler does",
                 zimg_error().c_str());
        return u;
    }
    size_t tmp_size = 0;
    unsigned buffering = 0;
    if (zimg_filter_graph_get_tmp_size(u->graph.get(), &tmp_size) != ZIMG_ERROR_SUCCESS ||
        zimg_filter_graph_get_output_buffering(u->graph.get(), &buffering) != ZIMG_ERROR_SUCCESS) {
        u->graph.reset();
        return u;
    }
    u->mask = zimg_select_buffer_mask(buffering);
    u->lines = u->mask == ZIMG_BUFFER_MAX ? static_cast<unsigned>(kind.height) : u->mask + 1;
    u->stride = static_cast<ptrdiff_t>((kind.width + kLine - 1) / kLine) * kLine;
    u->tmp = aligned_bytes(tmp_size);
    u->rows = aligned_bytes(static_cast<size_t>(u->stride) * u->lines * 3);
    if (!u->tmp || !u->rows) u->graph.reset();
    return u;
}

PicturePipeline::PicturePipeline() = default;
PicturePipeline::~PicturePipeline() = default;

std::optional<MediaError> PicturePipeline::convert_unscaled(const AVFrame& f, uint8_t* dst,
                                                            int dst_stride) {
    const ColourTags colour = colour_tags(f);
    bool full_range = colour.range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = plain_format(static_cast<AVPixelFormat>(f.format), full_range);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return std::nullopt;
    // Planar YUV without alpha, one component a plane, native-endian words.
    const int depth = desc->comp[0].depth;
    if (desc->nb_components != 3 || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE |
                        AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_ALPHA)) ||
        depth > 16 || desc->log2_chroma_w > 2 || desc->log2_chroma_h > 2)
        return std::nullopt;
    bool wide = true;
    for (int i = 0; i < 3; ++i) {
        const AVComponentDescriptor& c = desc->comp[i];
        if (c.plane != i || c.depth != depth || c.shift != 0 || c.offset != 0 ||
            c.step != (depth > 8 ? 2 : 1))
            return std::nullopt;
        if (reinterpret_cast<uintptr_t>(f.data[i]) % kZimgAlign != 0 || f.linesize[i] <= 0 ||
            f.linesize[i] % kZimgAlign != 0)
            return std::nullopt;
        wide = wide && reinterpret_cast<uintptr_t>(f.data[i]) % kLine == 0 &&
               f.linesize[i] % kLine == 0;
    }
    // zimg takes whole chroma samples only.
    const int width = FFALIGN(f.width, 1 << desc->log2_chroma_w);
    const int height = FFALIGN(f.height, 1 << desc->log2_chroma_h);
    if ((width != f.width || height != f.height) &&
        !luma_holds(f, height, width * (depth > 8 ? 2 : 1)))
        return std::nullopt;
    const auto matrix = zimg_matrix(colour.matrix, f.height);
    if (!matrix) return std::nullopt;
    const Unscaled::Kind kind{width,
                              height,
                              format,
                              *matrix,
                              full_range ? 1 : 0,
                              zimg_siting(colour.siting, full_range),
                              wide};
    if (!unscaled_ || unscaled_->kind != kind) unscaled_ = Unscaled::build(kind, *desc);
    Unscaled& u = *unscaled_;
    if (!u.graph) return std::nullopt;

    zimg_image_buffer_const in{};
    in.version = ZIMG_API_VERSION;
    for (int i = 0; i < 3; ++i) {
        in.plane[i].data = f.data[i];
        in.plane[i].stride = f.linesize[i];
        in.plane[i].mask = ZIMG_BUFFER_MAX;
    }
    zimg_image_buffer out{};
    out.version = ZIMG_API_VERSION;
    PackTarget target{{},
                      u.stride,
                      u.mask,
                      dst,
                      dst_stride,
                      static_cast<unsigned>(f.width),
                      static_cast<unsigned>(f.height)};
    for (int i = 0; i < 3; ++i) {
        target.planes[i] = u.rows.get() + static_cast<ptrdiff_t>(i) * u.stride * u.lines;
        out.plane[i].data = target.planes[i];
        out.plane[i].stride = u.stride;
        out.plane[i].mask = u.mask;
    }
    if (zimg_filter_graph_process(u.graph.get(), &in, &out, u.tmp.get(), nullptr, nullptr,
                                  pack_rows, &target) != ZIMG_ERROR_SUCCESS) {
        qWarning("media: colour conversion failed (%s)", zimg_error().c_str());
        return MediaError::DecodeFailed;
    }
    return MediaError::None;
}

MediaError PicturePipeline::convert_sdr(const AVFrame& f, uint8_t* dst, int dst_stride,
                                        QSize size) {
    if (size == QSize(f.width, f.height))
        if (const auto done = convert_unscaled(f, dst, dst_stride)) return *done;
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
