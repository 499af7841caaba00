#pragma once
// Pixel checks shared by the clip tests.

#include <QImage>
#include <QPointF>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace tambrel::testing {

// Centre of the bob's pale-yellow pixels (bright, with clearly less blue than red); the
// band and the string are neutral grey and do not count.
inline std::optional<QPointF> bob_centroid(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    double sx = 0, sy = 0;
    long n = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            if (r > 150 && g > 150 && b < r - 30) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
        }
    }
    if (n == 0) return std::nullopt;
    return QPointF(sx / n, sy / n);
}

// Mean absolute difference per channel over the area both images share.
inline double mean_abs_difference(const QImage& a, const QImage& b) {
    const QImage pa = a.convertToFormat(QImage::Format_RGB32);
    const QImage pb = b.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(pa.width(), pb.width()), h = std::min(pa.height(), pb.height());
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(pa.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(pb.constScanLine(y));
        for (int x = 0; x < w; ++x)
            sum += std::abs(qRed(la[x]) - qRed(lb[x])) + std::abs(qGreen(la[x]) - qGreen(lb[x])) +
                   std::abs(qBlue(la[x]) - qBlue(lb[x]));
    }
    return sum / (3.0 * w * h);
}

}  // namespace tambrel::testing
