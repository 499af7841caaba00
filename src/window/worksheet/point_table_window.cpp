#include "window/worksheet/point_table_window.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "core/fonts.h"

namespace tambrel {

namespace {

// Axis bounds with a little room around the points, and some range when they all lie
// on one value.
std::pair<double, double> padded(double low, double high) {
    if (!(high > low)) {
        const double room = std::max(std::abs(low) * 0.1, 1e-3);
        return {low - room, high + room};
    }
    const double room = (high - low) * 0.05;
    // Times and lengths from 0 on keep 0 as their lowest tick, not "-0.00".
    return {low >= 0 ? std::max(0.0, low - room) : low - room, high + room};
}

}  // namespace

PointTableWindow::PointTableWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("PointTableWindow"));
    setWindowTitle(QStringLiteral("位置の記録"));
    setFont(default_ui_font());

    table = new QTableWidget(this);
    table->setObjectName(QStringLiteral("table"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* chart = new QChart;
    chart->setFont(default_ui_font());
    chart->legend()->setFont(default_ui_font());
    chart->setMargins(QMargins(4, 4, 4, 4));
    x_series = new QLineSeries;
    x_series->setName(QStringLiteral("x"));
    x_series->setPointsVisible(true);
    y_series = new QLineSeries;
    y_series->setName(QStringLiteral("y"));
    y_series->setPointsVisible(true);
    // The fit's curves: dashed, in darker colours than the points' lines they follow.
    x_fit_series = new QLineSeries;
    y_fit_series = new QLineSeries;
    x_fit_series->setName(QStringLiteral("x 当てはめ"));
    y_fit_series->setName(QStringLiteral("y 当てはめ"));
    chart->addSeries(x_series);
    chart->addSeries(y_series);
    chart->addSeries(x_fit_series);
    chart->addSeries(y_fit_series);
    for (auto [fit, colour] : {std::pair{x_fit_series, QColor(190, 30, 30)},
                               std::pair{y_fit_series, QColor(20, 110, 40)}}) {
        fit->setPen(QPen(colour, 2, Qt::DashLine));
        fit->setVisible(false);
    }
    time_axis = new QValueAxis;
    position_axis = new QValueAxis;
    for (QValueAxis* axis : {time_axis, position_axis}) {
        axis->setTitleFont(default_ui_font());
        axis->setLabelsFont(default_ui_font());
    }
    chart->addAxis(time_axis, Qt::AlignBottom);
    chart->addAxis(position_axis, Qt::AlignLeft);
    for (QLineSeries* s : {x_series, y_series, x_fit_series, y_fit_series}) {
        s->attachAxis(time_axis);
        s->attachAxis(position_axis);
    }
    chart_view = new QChartView(chart, this);
    chart_view->setObjectName(QStringLiteral("plot"));
    chart_view->setRenderHint(QPainter::Antialiasing);
    chart_view->setMinimumSize(320, 260);

    undo_button = new QPushButton(QStringLiteral("最後の点を取り消す"), this);
    clear_button = new QPushButton(QStringLiteral("すべて消去"), this);
    copy_button = new QPushButton(QStringLiteral("表をコピー"), this);
    save_button = new QPushButton(QStringLiteral("CSVで保存…"), this);
    connect(undo_button, &QPushButton::clicked, this, &PointTableWindow::undoRequested);
    connect(clear_button, &QPushButton::clicked, this, &PointTableWindow::clearRequested);
    connect(copy_button, &QPushButton::clicked, this, &PointTableWindow::copyRequested);
    connect(save_button, &QPushButton::clicked, this, &PointTableWindow::saveRequested);
    // In this window Ctrl+C copies the table and Ctrl+Z takes back the last point.
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this,
            &PointTableWindow::undoRequested);
    connect(new QShortcut(QKeySequence::Copy, this), &QShortcut::activated, this,
            &PointTableWindow::copyRequested);

    fit_choice = new QComboBox(this);
    fit_choice->setObjectName(QStringLiteral("fit"));
    fit_choice->addItem(QStringLiteral("なし"), int(PointFit::None));
    fit_choice->addItem(QStringLiteral("直線（速度）"), int(PointFit::Line));
    fit_choice->addItem(QStringLiteral("放物線（加速度）"), int(PointFit::Parabola));
    fit_choice->addItem(QStringLiteral("正弦（周期）"), int(PointFit::Sine));
    connect(fit_choice, &QComboBox::currentIndexChanged, this, &PointTableWindow::fitChosen);
    auto* fit_label = new QLabel(QStringLiteral("当てはめ(&F):"), this);
    fit_label->setBuddy(fit_choice);

    // A click on a point's row rings its marker on the composite.
    connect(table, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = table->currentRow();
        const bool point = row >= 0 && row < point_rows_ && !table->selectedItems().isEmpty();
        selected_ = point ? std::optional<int>(row) : std::nullopt;
        emit rowSelected(point ? row : -1);
    });

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {undo_button, clear_button, copy_button, save_button})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(fit_label);
    buttons->addWidget(fit_choice);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(table);
    splitter->addWidget(chart_view);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(1000, 400);
}

void PointTableWindow::show_table(const TextTable& text, const std::vector<PointRow>& rows,
                                  const QString& unit) {
    // Rebuilt without telling: the chosen row stays chosen.
    const QSignalBlocker quiet(table);
    table->clear();
    table->setColumnCount(int(text.header.size()));
    table->setHorizontalHeaderLabels(text.header);
    table->setRowCount(int(text.rows.size()));
    point_rows_ = int(rows.size());
    if (selected_ && *selected_ >= point_rows_) selected_.reset();
    table->clearSpans();
    for (int r = 0; r < int(text.rows.size()); ++r) {
        // The fit's rows (a name, its value, its standard error) show the name across
        // the first three columns, so k and t stay narrow; they copy as three cells.
        const bool fit_row = r >= point_rows_;
        if (fit_row && !text.rows[size_t(r)].isEmpty()) table->setSpan(r, 0, 1, 3);
        for (int c = 0; c < int(text.rows[size_t(r)].size()); ++c) {
            auto* item = new QTableWidgetItem(text.rows[size_t(r)][c]);
            if (!fit_row) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                // A point looked for and not found reads grey.
                if (!rows[size_t(r)].found) item->setForeground(Qt::gray);
            } else {
                item->setTextAlignment((c == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                       Qt::AlignVCenter);
                item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
                if (text.rows[size_t(r)].value(1) == QStringLiteral("値")) {
                    QFont bold = item->font();
                    bold.setBold(true);
                    item->setFont(bold);
                }
            }
            table->setItem(r, fit_row && c > 0 ? c + 2 : c, item);
        }
    }
    if (selected_) {
        table->selectRow(*selected_);
        table->scrollToItem(table->item(*selected_, 0));
    } else if (point_rows_ > 0) {
        table->scrollToItem(table->item(point_rows_ - 1, 0));
    }
    // The whole row in view: the table takes the width its columns need.
    table->resizeColumnsToContents();
    const int wanted = table->horizontalHeader()->length() +
                       table->verticalScrollBar()->sizeHint().width() + 2 * table->frameWidth() + 2;
    table->setMinimumWidth(wanted);

    // Against time where every point has one, else against k; points not found are
    // left out.
    const bool timed = !rows.empty() &&
                       std::all_of(rows.begin(), rows.end(), [](const PointRow& r) { return r.t; });
    QList<QPointF> xs, ys;
    double t_low = 0, t_high = 0, v_low = 0, v_high = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].found) continue;
        const double t = timed ? *rows[i].t : rows[i].k;
        xs.append(QPointF(t, rows[i].x));
        ys.append(QPointF(t, rows[i].y));
        if (xs.size() == 1) {
            t_low = t_high = t;
            v_low = std::min(rows[i].x, rows[i].y);
            v_high = std::max(rows[i].x, rows[i].y);
        }
        t_low = std::min(t_low, t);
        t_high = std::max(t_high, t);
        v_low = std::min({v_low, rows[i].x, rows[i].y});
        v_high = std::max({v_high, rows[i].x, rows[i].y});
    }
    x_series->replace(xs);
    y_series->replace(ys);
    const auto [t0, t1] = padded(t_low, t_high);
    const auto [v0, v1] = padded(v_low, v_high);
    time_axis->setRange(t0, t1);
    position_axis->setRange(v0, v1);
    // Ticks at round numbers, as one draws a graph by hand.
    time_axis->applyNiceNumbers();
    position_axis->applyNiceNumbers();
    time_axis->setTitleText(timed ? QStringLiteral("時刻 t [s]") : QStringLiteral("k"));
    position_axis->setTitleText(QStringLiteral("位置 [%1]").arg(unit));
    undo_button->setEnabled(!rows.empty());
    clear_button->setEnabled(!rows.empty());
    copy_button->setEnabled(!rows.empty());
    save_button->setEnabled(!rows.empty());
}

void PointTableWindow::show_fit(const std::vector<FitCurve>& curves) {
    x_fit_series->clear();
    y_fit_series->clear();
    x_fit_series->setVisible(false);
    y_fit_series->setVisible(false);
    if (x_series->count() == 0) return;
    // Over the points' own times, finely enough for a sine to look round.
    double low = x_series->at(0).x(), high = low;
    for (const QPointF& p : x_series->points()) {
        low = std::min(low, p.x());
        high = std::max(high, p.x());
    }
    constexpr int kSteps = 200;
    for (const FitCurve& curve : curves) {
        QList<QPointF> points;
        for (int i = 0; i <= kSteps; ++i) {
            const double t = low + (high - low) * i / kSteps;
            points.append(QPointF(t, curve.at(t)));
        }
        QLineSeries* series = curve.x ? x_fit_series : y_fit_series;
        series->replace(points);
        series->setVisible(true);
    }
}

void PointTableWindow::select_row(std::optional<int> k) {
    const QSignalBlocker quiet(table);
    selected_ = k && *k >= 0 && *k < point_rows_ ? k : std::nullopt;
    if (selected_) {
        table->selectRow(*selected_);
        table->scrollToItem(table->item(*selected_, 0));
    } else {
        table->clearSelection();
    }
}

PointFit PointTableWindow::fit() const { return PointFit(fit_choice->currentData().toInt()); }

}  // namespace tambrel
