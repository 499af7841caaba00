// The colours a picture gets at its own size, against the exact ones: smooth pictures of
// known colour whose chroma is a known function of position, coded 4:4:4, 4:2:2 and
// 4:2:0 as the codecs site it, converted by the picture pipeline and by the scaler's
// accurate path that did the work before, and both compared with double-precision
// BT.601/709 arithmetic on the picture's true colours.

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "media/service/av_ptr.h"
#include "media/service/picture_pipeline.h"

namespace {

using tambrel::media::MediaError;
using tambrel::media::Orientation;
using tambrel::media::PicturePipeline;

// Luma and both chroma components as smooth functions of the luma grid, in code values
// of 8-bit limited range (full range stretches them): a scene of soft colour gradients
// with periods of a few dozen pixels, every colour the matrix can reach well inside.
double luma(double x, double y) { return 126 + 100 * std::sin(x / 7.0 + y / 19.0); }
double cb(double x, double y) { return 128 + 95 * std::sin(x / 11.0 + 0.3) * std::cos(y / 13.0); }
double cr(double x, double y) {
    return 128 + 95 * std::cos(x / 9.0 + 1.0) * std::sin(y / 8.0 + 0.5);
}

struct Case {
    const char* name;
    AVPixelFormat format;
    AVColorSpace matrix;
    AVColorRange range;
    AVChromaLocation siting;  // where the coded chroma samples lie
    int width, height;
};

// Kr and Kb of the matrix.
std::array<double, 2> weights(AVColorSpace m) {
    return m == AVCOL_SPC_BT709 ? std::array{0.2126, 0.0722} : std::array{0.299, 0.114};
}

// The luma position of chroma sample k along an axis subsampled by 2^shift.
double chroma_position(int k, int shift, double offset) {
    return shift == 0 ? k : (k << shift) + offset;
}

struct Picture {
    tambrel::av::FramePtr frame{av_frame_alloc()};
    std::vector<double> exact;  // R, G, B per pixel, 0..255
};

Picture make_picture(const Case& c) {
    Picture p;
    AVFrame& f = *p.frame;
    f.format = c.format;
    f.width = c.width;
    f.height = c.height;
    f.colorspace = c.matrix;
    f.color_range = c.range;
    f.chroma_location = c.siting;
    f.color_trc = AVCOL_TRC_BT709;
    if (av_frame_get_buffer(&f, 64) < 0) return p;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.format);
    const bool full = c.range == AVCOL_RANGE_JPEG;
    // Full range: the same picture with the limited range's codes stretched.
    const auto code_y = [&](double v) { return full ? (v - 16) * 255 / 219 : v; };
    const auto code_c = [&](double v) { return full ? (v - 128) * 255 / 224 + 128 : v; };
    const auto byte = [](double v) {
        return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    };
    // Horizontal offset of the chroma samples: co-sited with the even columns (MPEG's
    // left) or between them (JPEG's centre); vertically always between the rows here.
    const double offset_x = c.siting == AVCHROMA_LOC_LEFT ? 0.0 : 0.5;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            f.data[0][y * f.linesize[0] + x] = byte(code_y(luma(x, y)));
    const int cw = AV_CEIL_RSHIFT(c.width, d->log2_chroma_w);
    const int ch = AV_CEIL_RSHIFT(c.height, d->log2_chroma_h);
    for (int k = 0; k < ch; ++k)
        for (int j = 0; j < cw; ++j) {
            const double x = chroma_position(j, d->log2_chroma_w, offset_x);
            const double y = chroma_position(k, d->log2_chroma_h, 0.5);
            f.data[1][k * f.linesize[1] + j] = byte(code_c(cb(x, y)));
            f.data[2][k * f.linesize[2] + j] = byte(code_c(cr(x, y)));
        }
    // The true colour of every pixel: its coded luma, and the chroma the function has
    // at its place (coded exactly where the picture has a sample for it).
    const auto [kr, kb] = weights(c.matrix);
    const double kg = 1 - kr - kb;
    p.exact.resize(static_cast<size_t>(c.width) * c.height * 3);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const double yc = f.data[0][y * f.linesize[0] + x];
            double u = code_c(cb(x, y)), v = code_c(cr(x, y));
            if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0) {
                u = f.data[1][y * f.linesize[1] + x];
                v = f.data[2][y * f.linesize[2] + x];
            }
            const double l = full ? yc / 255 : (yc - 16) / 219;
            const double pb = full ? (u - 128) / 255 : (u - 128) / 224;
            const double pr = full ? (v - 128) / 255 : (v - 128) / 224;
            const double r = l + 2 * (1 - kr) * pr;
            const double b = l + 2 * (1 - kb) * pb;
            const double g = (l - kr * r - kb * b) / kg;
            double* out = &p.exact[(static_cast<size_t>(y) * c.width + x) * 3];
            out[0] = std::clamp(r * 255, 0.0, 255.0);
            out[1] = std::clamp(g * 255, 0.0, 255.0);
            out[2] = std::clamp(b * 255, 0.0, 255.0);
        }
    return p;
}

// The conversion this replaced: the scaler's accurate path with the picture's matrix.
QImage scaler_picture(const AVFrame& f) {
    QImage out(f.width, f.height, QImage::Format_RGB32);
    AVPixelFormat format = static_cast<AVPixelFormat>(f.format);
    tambrel::av::SwsPtr sws(sws_getContext(
        f.width, f.height, format, f.width, f.height, AV_PIX_FMT_RGB32,
        SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!sws) return {};
    const int cs = f.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    if (sws_setColorspaceDetails(sws.get(), sws_getCoefficients(cs),
                                 f.color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16) < 0)
        return {};
    uint8_t* planes[4] = {out.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(out.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws.get(), f.data, f.linesize, 0, f.height, planes, strides) != f.height)
        return {};
    return out;
}

struct Error {
    double max = 0, mean = 0;
    double inner_max = 0;  // away from the edges, where chroma has no neighbour outside
};

Error error_of(const QImage& image, const Picture& p) {
    constexpr int kEdge = 4;
    Error e;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double* want = &p.exact[(static_cast<size_t>(y) * image.width() + x) * 3];
            const int got[3] = {qRed(row[x]), qGreen(row[x]), qBlue(row[x])};
            const bool inner =
                x >= kEdge && y >= kEdge && x < image.width() - kEdge && y < image.height() - kEdge;
            for (int i = 0; i < 3; ++i) {
                const double d = std::abs(got[i] - want[i]);
                e.max = std::max(e.max, d);
                if (inner) e.inner_max = std::max(e.inner_max, d);
                sum += d;
            }
        }
    }
    e.mean = sum / (3.0 * image.width() * image.height());
    return e;
}

TEST(ColourConversion, AtTheClipsOwnSizeIsAtLeastAsAccurateAsTheScalersAccuratePath) {
    const Case cases[] = {
        {"4:4:4 BT.709 limited", AV_PIX_FMT_YUV444P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG,
         AVCHROMA_LOC_LEFT, 320, 240},
        {"4:4:4 BT.601 full", AV_PIX_FMT_YUV444P, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_JPEG,
         AVCHROMA_LOC_CENTER, 320, 240},
        {"4:2:2 BT.601 full, centre (MJPEG)", AV_PIX_FMT_YUVJ422P, AVCOL_SPC_BT470BG,
         AVCOL_RANGE_JPEG, AVCHROMA_LOC_CENTER, 320, 240},
        {"4:2:0 BT.601 full, centre (MJPEG)", AV_PIX_FMT_YUVJ420P, AVCOL_SPC_BT470BG,
         AVCOL_RANGE_JPEG, AVCHROMA_LOC_CENTER, 320, 240},
        {"4:2:0 BT.709 limited, left (H.264, HEVC)", AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709,
         AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, 320, 240},
        {"4:2:0 BT.601 limited, left, odd size", AV_PIX_FMT_YUV420P, AVCOL_SPC_SMPTE170M,
         AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, 321, 241},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = make_picture(c);
        ASSERT_TRUE(p.frame->data[0]);
        PicturePipeline pipeline;
        QImage ours(c.width, c.height, QImage::Format_RGB32);
        ASSERT_EQ(pipeline.draw(*p.frame, Orientation{}, ours, ours.rect()), MediaError::None);
        const QImage before = scaler_picture(*p.frame);
        ASSERT_FALSE(before.isNull());
        const Error now = error_of(ours, p);
        const Error then = error_of(before, p);
        std::printf(
            "%-40s before: max %6.3f (inside %6.3f) mean %.4f   now: max %6.3f (inside %6.3f) "
            "mean %.4f\n",
            c.name, then.max, then.inner_max, then.mean, now.max, now.inner_max, now.mean);
        EXPECT_LE(now.mean, then.mean + 1e-9);
        EXPECT_LE(now.max, then.max + 1e-9);
        EXPECT_LE(now.inner_max, then.inner_max + 1e-9);
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.format);
        if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0) {
            // Nothing to interpolate: every channel rounded to the nearest level.
            EXPECT_LE(now.max, 0.5 + 1e-9);
        } else if (c.siting == AVCHROMA_LOC_LEFT) {
            // The scaler put MPEG's chroma a quarter of a chroma sample off its place.
            EXPECT_LT(now.mean, then.mean * 0.5);
        }
    }
}

}  // namespace
