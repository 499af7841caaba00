#pragma once
// The window of recorded points: the table (k, t, x, y and the velocities) and beside
// it a plot of x(t) and y(t). It shows what it is given and reports the user's
// requests; the worksheet owns the points.

#include <QWidget>
#include <optional>
#include <vector>

#include "measure/point_fit.h"
#include "measure/point_table.h"

class QChart;
class QChartView;
class QComboBox;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QValueAxis;

namespace tambrel {

class PointTableWindow : public QWidget {
    Q_OBJECT
public:
    explicit PointTableWindow(QWidget* parent);

    // `text` is what the table shows (and what copies); `rows` the numbers behind it,
    // the first rows of `text` (a fit's rows follow them).
    void show_table(const TextTable& text, const std::vector<PointRow>& rows, const QString& unit);
    // The fitted curves over the plot's time range, dashed beside their points.
    void show_fit(const std::vector<FitCurve>& curves);
    // The row of point k chosen (and in view), as a click on it would; none: no row.
    // Tells nobody.
    void select_row(std::optional<int> k);
    PointFit fit() const;

    QTableWidget* table;
    QChartView* chart_view;
    QLineSeries* x_series;
    QLineSeries* y_series;
    QValueAxis* time_axis;
    QValueAxis* position_axis;
    QPushButton* undo_button;
    QPushButton* clear_button;
    QPushButton* copy_button;
    QPushButton* save_button;
    QComboBox* fit_choice;  // 当てはめ: なし, 直線, 放物線, 正弦
    QLineSeries* x_fit_series;
    QLineSeries* y_fit_series;

signals:
    void undoRequested();
    void clearRequested();
    void copyRequested();
    void saveRequested();
    void fitChosen();
    // The row of point k was chosen in the table (-1: none).
    void rowSelected(int k);

private:
    int point_rows_ = 0;
    std::optional<int> selected_;
};

}  // namespace tambrel
