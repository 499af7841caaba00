#include "measure/calibration.h"

#include <algorithm>
#include <cmath>

namespace tambrel {

QString unit_symbol(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Centimetre:
            return QStringLiteral("cm");
        case LengthUnit::Millimetre:
            return QStringLiteral("mm");
        case LengthUnit::Metre:
            break;
    }
    return QStringLiteral("m");
}

bool Calibration::set_reference(QPointF a, QPointF b, double length, LengthUnit unit,
                                ShownScale stretch) {
    const auto usable = [](double v) { return std::isfinite(v) && v > 0; };
    if (!usable(length) || !usable(stretch.x) || !usable(stretch.y)) return false;
    const double shown = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (!(shown >= 1.0)) return false;
    const double clip = std::hypot((b.x() - a.x()) * stretch.x, (b.y() - a.y()) * stretch.y);
    const double per_clip_pixel = length / clip;
    per_pixel_ = PerPixel{per_clip_pixel * stretch.x, per_clip_pixel * stretch.y};
    unit_ = unit;
    return true;
}

QString Calibration::unit_text() const {
    return calibrated() ? unit_symbol(unit_) : QStringLiteral("目盛");
}

double Calibration::per_pixel_x() const { return per_pixel_ ? per_pixel_->x : 1.0 / kTickPixels; }

double Calibration::per_pixel_y() const { return per_pixel_ ? per_pixel_->y : 1.0 / kTickPixels; }

Readout Calibration::apply(const Readout& in_ticks) const {
    if (!per_pixel_) return in_ticks;
    const double scale = std::pow(10.0, decimals_for(std::min(per_pixel_->x, per_pixel_->y)));
    const auto rounded = [scale](double v) {
        return static_cast<float>(std::round(v * scale) / scale);
    };
    const double ax = tick_x(), ay = tick_y();
    const double dx = in_ticks.dx * ax, dy = in_ticks.dy * ay;
    Readout r;
    r.x = rounded(in_ticks.x * ax);
    r.y = rounded(in_ticks.y * ay);
    r.dx = rounded(dx);
    r.dy = rounded(dy);
    r.ds = rounded(std::sqrt(dy * dy + dx * dx));
    return r;
}

int decimals_for(double step) {
    if (!(step > 0) || !std::isfinite(step)) return 3;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step))) + 1, 0, 9);
}

QString Calibration::tick_text() const {
    if (!per_pixel_) return {};
    // Three significant digits of a tick are what one reads off a ruler.
    const auto shown = [](double v) {
        const int decimals = std::clamp(2 - static_cast<int>(std::floor(std::log10(v))), 0, 9);
        return QString::number(v, 'f', decimals);
    };
    const QString unit = unit_symbol(unit_);
    const QString across = shown(tick_x()), down = shown(tick_y());
    QString text = QStringLiteral("1 目盛 = %1 %2").arg(across, unit);
    if (down != across) text += QStringLiteral("（縦 %1 %2）").arg(down, unit);
    return text;
}

}  // namespace tambrel
