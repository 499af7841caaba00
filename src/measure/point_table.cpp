#include "measure/point_table.h"

#include <algorithm>
#include <cmath>

namespace tambrel {

bool PointTable::remove_last() {
    if (points_.empty()) return false;
    points_.pop_back();
    return true;
}

bool PointTable::move(int k, float x, float y) {
    if (k < 0 || k >= size()) return false;
    RecordedPoint& p = points_[size_t(k)];
    p.x = x;
    p.y = y;
    p.found = true;
    return true;
}

std::vector<PointRow> PointTable::rows(const Calibration& calibration, const PointAxes& axes,
                                       const ClipTiming& timing) const {
    std::vector<PointRow> out;
    out.reserve(points_.size());
    for (size_t k = 0; k < points_.size(); ++k) {
        const RecordedPoint& p = points_[k];
        // The reading the pointer gives at that place, in double precision.
        const double x = p.x, y = p.y;
        const double ticks_x =
            (axes.xaxis_true ? x + 4.0 : axes.picture_width - 4.0 - x) / Calibration::kTickPixels;
        const double ticks_y =
            (axes.yaxis_true ? y + 4.0 : axes.picture_height - 4.0 - y) / Calibration::kTickPixels;
        PointRow row;
        row.k = static_cast<int>(k);
        row.x = ticks_x * calibration.tick_x();
        row.y = ticks_y * calibration.tick_y();
        row.found = p.found;
        if (p.clip_ms) row.t = timing.scene_seconds(*p.clip_ms);
        out.push_back(row);
    }
    for (size_t k = 1; k + 1 < out.size(); ++k) {
        const PointRow &before = out[k - 1], &after = out[k + 1];
        if (!before.t || !after.t || !before.found || !after.found) continue;
        const double dt = *after.t - *before.t;
        if (!(std::abs(dt) > 0)) continue;
        out[k].vx = (after.x - before.x) / dt;
        out[k].vy = (after.y - before.y) / dt;
    }
    return out;
}

TextTable point_table_text(const std::vector<PointRow>& rows, const Calibration& calibration) {
    const QString unit = calibration.unit_text();
    TextTable table;
    table.header = {QStringLiteral("k"),
                    QStringLiteral("時刻 t [s]"),
                    QStringLiteral("位置 x [%1]").arg(unit),
                    QStringLiteral("位置 y [%1]").arg(unit),
                    QStringLiteral("速度 vx [%1/s]").arg(unit),
                    QStringLiteral("速度 vy [%1/s]").arg(unit)};
    const int position_decimals =
        decimals_for(std::min(calibration.per_pixel_x(), calibration.per_pixel_y()));
    // A velocity from two points two frames apart is about as precise as a position.
    const int velocity_decimals = position_decimals;
    const auto number = [](const std::optional<double>& v, int decimals) {
        if (!v || !std::isfinite(*v)) return QString();
        QString text = QString::number(*v, 'f', decimals);
        // "-0.000" reads as a sign where there is none.
        if (text.startsWith(QLatin1Char('-')) &&
            std::all_of(text.begin() + 1, text.end(),
                        [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('.'); }))
            text.remove(0, 1);
        return text;
    };
    const QString not_found = QStringLiteral("未検出");
    for (const PointRow& row : rows)
        table.rows.push_back({QString::number(row.k), number(row.t, 4),
                              row.found ? number(row.x, position_decimals) : not_found,
                              row.found ? number(row.y, position_decimals) : not_found,
                              number(row.vx, velocity_decimals),
                              number(row.vy, velocity_decimals)});
    return table;
}

}  // namespace tambrel
