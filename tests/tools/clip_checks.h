#pragma once
// Pixel checks shared by the clip tests.

#include <QImage>
#include <QPointF>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace tambrel::testing {

// The bob's pale-yellow pixels (bright, with clearly less blue than red) within `radius`
// of `around` (everywhere when radius is 0): their count and centre. The band, the string
// and the textured background are neutral grey and do not count.
struct YellowPixels {
    long count = 0;
    QPointF centre;
};
inline YellowPixels yellow_pixels(const QImage& image, QPointF around = {}, double radius = 0) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    double sx = 0, sy = 0;
    YellowPixels found;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if (radius > 0 && std::hypot(x + 0.5 - around.x(), y + 0.5 - around.y()) > radius)
                continue;
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            if (r > 150 && g > 150 && b < r - 30) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++found.count;
            }
        }
    }
    if (found.count > 0) found.centre = QPointF(sx / found.count, sy / found.count);
    return found;
}

// Centre of the bob's pixels anywhere in the picture.
inline std::optional<QPointF> bob_centroid(const QImage& image) {
    const YellowPixels found = yellow_pixels(image);
    if (found.count == 0) return std::nullopt;
    return found.centre;
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
