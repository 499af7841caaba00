#pragma once
// Points recorded on the composite, one per merged frame (k = 0 the seed, 1, 2, …),
// and the table made from them: time, position in the calibrated unit with the scale's
// origin and directions, and the velocity from the neighbouring points.
//
// A point keeps where it was clicked (Picture3 pixels) and its clip time, so a new
// calibration, an axis switch or a stated capture rate changes the table at once.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "measure/calibration.h"
#include "measure/clip_timing.h"

namespace tambrel {

struct RecordedPoint {
    float x = 0, y = 0;             // Picture3 pixels
    std::optional<double> clip_ms;  // the merged frame's time in the clip
    // False: the object was looked for in this frame by itself and not found; the row
    // stays in the table, with no place.
    bool found = true;
};

// How positions are read: the scale's switches and Picture1's outer size (the place of
// 0 when a switch is False), as the pointer read-out takes them.
struct PointAxes {
    bool xaxis_true = true, yaxis_true = true;
    float picture_width = 320, picture_height = 240;
};

struct PointRow {
    int k = 0;
    std::optional<double> t;       // scene seconds from frame 0
    double x = 0, y = 0;           // meaningless where not found
    std::optional<double> vx, vy;  // per scene second
    bool found = true;
};

// One text table: a header row and rows of cells.
struct TextTable {
    QStringList header;
    std::vector<QStringList> rows;
};

class PointTable {
public:
    void add(RecordedPoint point) { points_.push_back(point); }
    // Removes the last point; false when there was none.
    bool remove_last();
    void clear() { points_.clear(); }
    // Point k moved to (x, y), found there (a marker dragged to correct it); false when
    // there is no point k.
    bool move(int k, float x, float y);
    bool empty() const { return points_.empty(); }
    int size() const { return static_cast<int>(points_.size()); }
    // The k of the next point.
    int next_k() const { return size(); }
    const std::vector<RecordedPoint>& points() const { return points_; }

    // Rows under the given calibration, axes and timing. Velocities are central
    // differences (x[k+1] − x[k−1]) / (t[k+1] − t[k−1]); the first and last points, and
    // points whose neighbours have no time or were not found, have none.
    std::vector<PointRow> rows(const Calibration& calibration, const PointAxes& axes,
                               const ClipTiming& timing) const;

private:
    std::vector<RecordedPoint> points_;
};

// The rows as text: header "k", "時刻 t [s]", "位置 x [m]", …, "速度 vy [m/s]" in the
// calibration's unit; numbers with '.' and as many decimals as a shown pixel is worth
// (times to 0.1 ms); empty cells for what is not known, and "未検出" (not found) for
// the place of a point that was looked for and not found.
TextTable point_table_text(const std::vector<PointRow>& rows, const Calibration& calibration);

}  // namespace tambrel
