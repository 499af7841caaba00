#pragma once
// The window of recorded points: the table (k, t, x, y and the velocities) and beside
// it a plot of x(t) and y(t). It shows what it is given and reports the user's
// requests; the worksheet owns the points.

#include <QWidget>
#include <vector>

#include "measure/point_table.h"

class QChart;
class QChartView;
class QLineSeries;
class QPushButton;
class QTableWidget;
class QValueAxis;

namespace tambrel {

class PointTableWindow : public QWidget {
    Q_OBJECT
public:
    explicit PointTableWindow(QWidget* parent);

    // `text` is what the table shows (and what copies); `rows` the numbers behind it.
    void show_table(const TextTable& text, const std::vector<PointRow>& rows, const QString& unit);

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

signals:
    void undoRequested();
    void clearRequested();
    void copyRequested();
    void saveRequested();
};

}  // namespace tambrel
