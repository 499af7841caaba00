#include "measure/point_fit.h"

#include <algorithm>
#include <cmath>

#include "measure/tracking/fits.h"

namespace tambrel {

namespace {

using tracking::Estimate;

struct Quantity {
    QString name, unit;
    Estimate estimate;
    int fallback;  // decimals where the error is not known
};

QString number(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    // "-0.000" reads as a sign where there is none.
    if (text.startsWith(QLatin1Char('-')) && std::all_of(text.begin() + 1, text.end(), [](QChar c) {
            return c == QLatin1Char('0') || c == QLatin1Char('.');
        }))
        text.remove(0, 1);
    return text;
}

QString summary_of(const Quantity& q, const QString& symbol) {
    const int decimals = tracking::decimals_for_error(q.estimate.error, q.fallback);
    QString text = symbol + QStringLiteral(" = ") + number(q.estimate.value, decimals);
    if (std::isfinite(q.estimate.error))
        text += QStringLiteral(" ± ") + number(q.estimate.error, decimals);
    return text + QLatin1Char(' ') + q.unit;
}

QStringList row_of(const Quantity& q) {
    const int decimals = tracking::decimals_for_error(q.estimate.error, q.fallback);
    return {QStringLiteral("%1 [%2]").arg(q.name, q.unit), number(q.estimate.value, decimals),
            std::isfinite(q.estimate.error) ? number(q.estimate.error, decimals) : QString()};
}

double metres_per(LengthUnit unit) {
    switch (unit) {
        case LengthUnit::Centimetre:
            return 0.01;
        case LengthUnit::Millimetre:
            return 0.001;
        case LengthUnit::Metre:
            break;
    }
    return 1;
}

}  // namespace

PointFitResult fit_points(const std::vector<PointRow>& rows, PointFit fit,
                          const Calibration& calibration) {
    PointFitResult result;
    if (fit == PointFit::None) return result;
    std::vector<double> t, x, y;
    for (const PointRow& r : rows) {
        if (!r.found || !r.t) continue;
        t.push_back(*r.t);
        x.push_back(r.x);
        y.push_back(r.y);
    }
    const QString unit = calibration.unit_text();
    const int position =
        decimals_for(std::min(calibration.per_pixel_x(), calibration.per_pixel_y()));
    const auto too_few = [&](const QString& name, int needed) {
        result.summary = QStringLiteral("%1には時刻の異なる %2 点以上が要ります（いま %3 点）")
                             .arg(name)
                             .arg(needed)
                             .arg(t.size());
        return result;
    };
    const QStringList heading_tail{QStringLiteral("値"), QStringLiteral("標準誤差")};

    switch (fit) {
        case PointFit::None:
            break;
        case PointFit::Line: {
            const auto fx = tracking::fit_line(t, x), fy = tracking::fit_line(t, y);
            if (!fx || !fy) return too_few(QStringLiteral("直線"), 3);
            const Quantity vx{QStringLiteral("速度 vx"), unit + QStringLiteral("/s"), fx->velocity,
                              position};
            const Quantity vy{QStringLiteral("速度 vy"), unit + QStringLiteral("/s"), fy->velocity,
                              position};
            result.summary = QStringLiteral("直線: %1、%2")
                                 .arg(summary_of(vx, QStringLiteral("vx")),
                                      summary_of(vy, QStringLiteral("vy")));
            result.rows = {QStringList{QStringLiteral("当てはめ: 直線")} + heading_tail, row_of(vx),
                           row_of(vy)};
            result.curves = {{true, [f = *fx](double s) { return f.at(s); }},
                             {false, [f = *fy](double s) { return f.at(s); }}};
            break;
        }
        case PointFit::Parabola: {
            const auto fx = tracking::fit_parabola(t, x), fy = tracking::fit_parabola(t, y);
            if (!fx || !fy) return too_few(QStringLiteral("放物線"), 4);
            const QString per_s2 = unit + QStringLiteral("/s²");
            const Quantity ax{QStringLiteral("加速度 ax"), per_s2, fx->acceleration, position};
            const Quantity ay{QStringLiteral("加速度 ay"), per_s2, fy->acceleration, position};
            result.summary = QStringLiteral("放物線: %1、%2")
                                 .arg(summary_of(ax, QStringLiteral("ax")),
                                      summary_of(ay, QStringLiteral("ay")));
            result.rows = {QStringList{QStringLiteral("当てはめ: 放物線")} + heading_tail,
                           row_of(ax), row_of(ay)};
            // Up and down, in a length unit: its size is g (whichever way y is numbered).
            if (calibration.calibrated() &&
                std::abs(fy->acceleration.value) >= std::abs(fx->acceleration.value)) {
                const double factor = metres_per(calibration.unit());
                const Quantity g{
                    QStringLiteral("重力加速度 g"),
                    QStringLiteral("m/s²"),
                    {std::abs(fy->acceleration.value) * factor, fy->acceleration.error * factor},
                    position};
                result.summary += QStringLiteral("（%1）").arg(summary_of(g, QStringLiteral("g")));
                result.rows.push_back(row_of(g));
            }
            result.curves = {{true, [f = *fx](double s) { return f.at(s); }},
                             {false, [f = *fy](double s) { return f.at(s); }}};
            break;
        }
        case PointFit::Sine: {
            const bool across = tracking::first_moves_most(x, y);
            const auto f = tracking::fit_sine(t, across ? x : y);
            if (!f) return too_few(QStringLiteral("正弦"), 5);
            const QString axis = across ? QStringLiteral("x") : QStringLiteral("y");
            const Quantity period{QStringLiteral("周期 T"), QStringLiteral("s"), f->period, 4};
            const Quantity amplitude{QStringLiteral("振幅 A"), unit, f->amplitude, position};
            const Quantity centre{QStringLiteral("中心 %1₀").arg(axis), unit, f->centre, position};
            result.summary = QStringLiteral("正弦（%1）: %2、%3")
                                 .arg(axis, summary_of(period, QStringLiteral("T")),
                                      summary_of(amplitude, QStringLiteral("A")));
            result.rows = {
                QStringList{QStringLiteral("当てはめ: 正弦（%1）").arg(axis)} + heading_tail,
                row_of(period), row_of(amplitude), row_of(centre)};
            result.curves = {{across, [f = *f](double s) { return f.at(s); }}};
            break;
        }
    }
    return result;
}

}  // namespace tambrel
