#include "media/service/frame_digest.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace tambrel::media {

namespace {
void mix(uint64_t& h, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ULL;  // FNV-1a
    }
}
}  // namespace

uint64_t frame_digest(const AVFrame& f) {
    uint64_t h = 0xcbf29ce484222325ULL;
    const auto format = static_cast<AVPixelFormat>(f.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return h;
    const int planes = av_pix_fmt_count_planes(format);
    for (int p = 0; p < planes && f.data[p]; ++p) {
        const int row_bytes = av_image_get_linesize(format, f.width, p);
        const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int rows = chroma ? AV_CEIL_RSHIFT(f.height, desc->log2_chroma_h) : f.height;
        for (int y = 0; y < rows && row_bytes > 0; ++y)
            mix(h, f.data[p] + static_cast<ptrdiff_t>(y) * f.linesize[p],
                static_cast<size_t>(row_bytes));
    }
    if ((desc->flags & AV_PIX_FMT_FLAG_PAL) && f.data[1]) mix(h, f.data[1], 256 * 4);
    return h;
}

}  // namespace tambrel::media
