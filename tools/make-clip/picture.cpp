// The geometry between the picture a player shows and the picture a file stores.

#include "picture.h"

extern "C" {
#include <libavutil/display.h>
}

#include "formats.h"

namespace tambrel::clipgen {

namespace {

int rounded_ratio(int64_t value, int64_t num, int64_t den) {
    return static_cast<int>((2 * value * num + den) / (2 * den));
}

// The picture turned a quarter turn counter-clockwise `quarters` times, pixel for pixel.
QImage turned_counter_clockwise(const QImage& image, int quarters) {
    quarters = ((quarters % 4) + 4) % 4;
    if (quarters == 0) return image;
    const QImage in = image.convertToFormat(QImage::Format_RGB32);
    const int w = in.width(), h = in.height();
    QImage out(quarters == 2 ? w : h, quarters == 2 ? h : w, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(in.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            // Where (x, y) lands when the picture turns counter-clockwise (y grows downwards).
            int ox = x, oy = y;
            switch (quarters) {
                case 1:
                    ox = y, oy = w - 1 - x;
                    break;
                case 2:
                    ox = w - 1 - x, oy = h - 1 - y;
                    break;
                default:
                    ox = h - 1 - y, oy = x;
                    break;
            }
            reinterpret_cast<QRgb*>(out.scanLine(oy))[ox] = line[x];
        }
    }
    return out;
}

}  // namespace

QSize coded_size(const ClipOptions& options) { return {options.width, options.height}; }

QSize display_size(const ClipOptions& options) {
    const Ratio sar = effective_sar(options);
    int w = options.width, h = options.height;
    if (sar.num > sar.den)
        w = rounded_ratio(w, sar.num, sar.den);
    else if (sar.num < sar.den)
        h = rounded_ratio(h, sar.den, sar.num);
    if (options.rotation == 90 || options.rotation == 270) std::swap(w, h);
    return {w, h};
}

bool needs_reshaping(const ClipOptions& options) {
    return options.rotation != 0 || options.hflip || display_size(options) != coded_size(options);
}

QImage stored_from_upright(const QImage& upright, const ClipOptions& options) {
    if (!needs_reshaping(options)) return upright;
    // A player turns the stored picture clockwise, then mirrors it; undo in reverse order.
    QImage turned = options.hflip ? upright.mirrored(true, false) : upright;
    turned = turned_counter_clockwise(turned, options.rotation / 90);
    const QSize coded = coded_size(options);
    if (turned.size() == coded) return turned;
    return turned.scaled(coded, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

std::array<int32_t, 9> display_matrix(const ClipOptions& options) {
    std::array<int32_t, 9> matrix{};
    // av_display_rotation_set takes the clockwise turn (an iPhone's portrait matrix is
    // set(90)); av_display_rotation_get reads it back as minus that, counter-clockwise. The
    // flip negates the first column: the picture is mirrored after it is turned.
    av_display_rotation_set(matrix.data(), options.rotation);
    av_display_matrix_flip(matrix.data(), options.hflip ? 1 : 0, 0);
    return matrix;
}

QImage render_stored_frame(const ClipOptions& options, int frame) {
    const QImage upright = render_frame(options, frame);
    if (upright.isNull()) return upright;
    return stored_from_upright(upright, options);
}

}  // namespace tambrel::clipgen
