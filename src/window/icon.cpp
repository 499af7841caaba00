#include "window/icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

namespace tambrel {

namespace {
// The classic 16-colour palette; the icon uses black, bright red and bright green.
constexpr QRgb kVga16[16] = {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                             0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                             0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
constexpr QRgb kBlack = kVga16[0], kRed = kVga16[9], kGreen = kVga16[10];

// The drawing in units of a 32-unit square (one unit is one pixel of the 32 × 32 icon).
// The strings hang from the middle of a bar at the top; the three bobs are one pendulum
// at three moments of its swing (the strings are equally long, 26 units).
constexpr double kMiddle = 16, kPivotY = 1.5, kSwing = 10, kSideBobY = 25.5, kLowBobY = 27.5;
constexpr double kBobRadius = 3.5, kMountWidth = 5, kMountHeight = 1;
constexpr int kCrispUpTo = 32;  // sizes drawn in whole pixels and 16 colours

// Where everything lies at one size, in device pixels. The middle string is put on the
// pixel grid so that it stays sharp; crisp sizes put every point on a pixel centre and
// give the bobs an odd diameter, so each bob is centred on its string.
struct Layout {
    QPointF pivot;
    std::array<QPointF, 3> bobs;
    double bob_radius;
    QRectF mount;
    double string_width;  // 0: one pixel, whatever the painter's scale
};

Layout layout_for(double side, bool crisp) {
    const double unit = side / 32;
    Layout l{};
    if (crisp) {
        const auto centre = [](double v) { return std::floor(v) + 0.5; };
        const double x = std::floor(kMiddle * unit - 0.5) + 0.5;
        const double swing = std::round(kSwing * unit);
        l.pivot = {x, centre(kPivotY * unit)};
        l.bobs = {QPointF(x - swing, centre(kSideBobY * unit)), QPointF(x, centre(kLowBobY * unit)),
                  QPointF(x + swing, centre(kSideBobY * unit))};
        l.bob_radius = std::floor(kBobRadius * unit) + 0.5;
        const double mount_width = 2 * std::round(kMountWidth / 2 * unit - 0.5) + 1;
        l.mount = QRectF(x - mount_width / 2, 0, mount_width, std::max(1.0, std::round(unit)));
        l.string_width = 0;
        return l;
    }
    l.string_width = std::max(1.0, std::round(side / 64));
    const double x = std::floor(kMiddle * unit - l.string_width / 2) + l.string_width / 2;
    l.pivot = {x, kMountHeight * unit};
    l.bobs = {QPointF(x - kSwing * unit, kSideBobY * unit), QPointF(x, kLowBobY * unit),
              QPointF(x + kSwing * unit, kSideBobY * unit)};
    l.bob_radius = kBobRadius * unit;
    l.mount = QRectF(x - kMountWidth / 2 * unit, 0, kMountWidth * unit, kMountHeight * unit);
    return l;
}
}  // namespace

void paint_pendulum(QPainter& painter, double side, bool crisp) {
    const Layout l = layout_for(side, crisp);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, !crisp);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kGreen));
    const QRectF field(0, 0, side, side);
    if (crisp)
        painter.drawRect(field);
    else
        painter.drawRoundedRect(field, side / 12.8, side / 12.8);

    // Unsmoothed one-pixel lines keep both end pixels only with square caps.
    painter.setPen(
        QPen(QColor(kBlack), l.string_width, Qt::SolidLine, crisp ? Qt::SquareCap : Qt::FlatCap));
    for (const QPointF& bob : l.bobs) painter.drawLine(l.pivot, bob);

    // A path, not drawEllipse: unsmoothed, only the path gives a round, centred disc.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kRed));
    QPainterPath discs;
    for (const QPointF& bob : l.bobs) discs.addEllipse(bob, l.bob_radius, l.bob_radius);
    painter.drawPath(discs);
    painter.setBrush(QColor(kBlack));
    painter.drawRect(l.mount);
    painter.restore();
}

QImage pendulum_icon(int side) {
    const bool crisp = side <= kCrispUpTo;
    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter painter(&img);
        paint_pendulum(painter, side, crisp);
    }
    if (!crisp) return img;
    // Crisp drawing uses only palette colours, so the conversion changes no pixel.
    return img.convertToFormat(QImage::Format_Indexed8,
                               QList<QRgb>(std::begin(kVga16), std::end(kVga16)),
                               Qt::ThresholdDither | Qt::AvoidDither);
}

QIcon pendulum_icon_set() {
    QIcon icon;
    for (const int side : kPendulumIconSizes)
        icon.addPixmap(QPixmap::fromImage(pendulum_icon(side)));
    return icon;
}

}  // namespace tambrel
