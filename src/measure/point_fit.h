#pragma once
// The curve fitted to the recorded points that the user picks in the table window:
// a straight line (the velocity), a parabola (the acceleration, and g where the motion
// is mostly up and down) or a sine (the period and amplitude, for a pendulum). What it
// gives: the status bar's line, the rows under the table (each quantity with its
// standard error, so they copy and save with the table) and the curves for the plot.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "measure/calibration.h"
#include "measure/point_table.h"

namespace tambrel {

enum class PointFit { None, Line, Parabola, Sine };

struct FitCurve {
    bool x = true;  // the curve of x(t); else of y(t)
    std::function<double(double)> at;
};

struct PointFitResult {
    // "直線: vx = 0.300 ± 0.001 m/s、vy = -0.002 ± 0.001 m/s"; or why there is no fit.
    QString summary;
    // A heading row ("当てはめ: 直線", "値", "標準誤差"), then one row per quantity
    // ("速度 vx [m/s]", value, standard error); empty without a fit.
    std::vector<QStringList> rows;
    std::vector<FitCurve> curves;
};

// Fits the rows that have a place and a time, against time, in the calibration's
// unit. g (in m/s²) is given under a calibration in a length unit where the vertical
// acceleration is the larger.
PointFitResult fit_points(const std::vector<PointRow>& rows, PointFit fit,
                          const Calibration& calibration);

}  // namespace tambrel
