// 測定 › 自動で位置を記録 in the window, on the real media service: a body gliding over
// tiles with a smaller body circling below it, out of the picture at the right before
// the run ends. The run's frames fill the table by themselves: every place within half
// a shown pixel of where the clip drew the bob, the frames without it "未検出"; the
// line fit picked in the table window gives its velocity in the status bar and under
// the table; a row clicked rings its marker, and a marker dragged moves its row.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "clipgen.h"
#include "window/worksheet/auto_record.h"
#include "window/worksheet/marker_overlay.h"
#include "window/worksheet/point_table_window.h"
#include "window/worksheet/worksheet.h"
#include "media/service/command_service.h"
#include "worksheet_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

constexpr int kStep = 3, kCycles = 20;  // frames 0, 3, … 57

using Window = WorksheetFixture<media::CommandService>;

}  // namespace

class AutoRecordTest : public QObject {
    Q_OBJECT
  private slots:
    void fillsTheTableFromTheRunAndFitsFollowsAndDrags();
    void aRunStartedRightAfterACancelGetsItsOwnResult();
};

// A body gliding over tiles beside a smaller one.
clipgen::ClipOptions glide_clip(const QTemporaryDir& dir) {
    clipgen::ClipOptions o;
    o.path = dir.filePath(QStringLiteral("glide.avi")).toStdString();
    o.codec = clipgen::Codec::Ffv1;
    o.motion = clipgen::Motion::Linear;
    o.frame_number_band = false;
    o.width = 320;
    o.height = 240;
    o.frames = 60;
    o.velocity = {6, 0};
    o.textured_background = true;
    o.second_object = true;
    return o;
}

void AutoRecordTest::fillsTheTableFromTheRunAndFitsFollowsAndDrags() {
    QTemporaryDir dir;
    const clipgen::ClipOptions o = glide_clip(dir);
    QCOMPARE(clipgen::write_clip(o), std::nullopt);

    Window w;
    // Nothing composed yet: told so, nothing started.
    w.ws().mnuautorecord->trigger();
    QCOMPARE(int(w.platform.messages.size()), 1);
    QVERIFY(!w.ws().auto_recorder()->running());

    w.platform.dialog_answers.push_back(QString::fromStdString(o.path));
    w.form->mnuopen_Click();
    QTRY_VERIFY(w.ws().timing().known());
    // The open's "close avfile" beeps when no clip was open; nothing after it may.
    const int beeps = w.platform.beeps;
    w.run(kStep, kCycles);
    QCOMPARE(int(w.ws().record().cycles().size()), kCycles);

    w.ws().mnuautorecord->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        !w.ws().auto_recorder()->running() && w.ws().points().size() == kCycles, 60000);

    // The clip's 320 x 240 fill the 316 x 236 frame area.
    const double sx = 316.0 / 320, sy = 236.0 / 240;
    const auto& points = w.ws().points().points();
    const TextTable text = w.ws().table_text();
    int found = 0, hidden = 0;
    for (int k = 0; k < kCycles; ++k) {
        const clipgen::ObjectPlace bob = clipgen::bob_place(o, kStep * k);
        const RecordedPoint& p = points[size_t(k)];
        if (bob.visibility == clipgen::Visibility::Whole)
            QVERIFY2(p.found, qPrintable(QString::number(k)));
        if (bob.visibility == clipgen::Visibility::Hidden) {
            ++hidden;
            QVERIFY(!p.found);
            QCOMPARE(text.rows[size_t(k)].value(2), QStringLiteral("未検出"));
        }
        if (!p.found) continue;
        ++found;
        QVERIFY2(std::abs(p.x - (bob.centre.x() * sx - 0.5)) <= 0.5 * sx &&
                     std::abs(p.y - (bob.centre.y() * sy - 0.5)) <= 0.5 * sy,
                 qPrintable(QStringLiteral("k = %1 at (%2, %3), drawn at (%4, %5)")
                                .arg(k)
                                .arg(p.x)
                                .arg(p.y)
                                .arg(bob.centre.x() * sx - 0.5)
                                .arg(bob.centre.y() * sy - 0.5)));
        QVERIFY(p.clip_ms);
        QCOMPARE(*p.clip_ms, kStep * k * 1000.0 / 30);
    }
    QVERIFY(hidden >= 2);
    QVERIFY(found >= 15);
    QCOMPARE(int(w.ws().overlay()->markers().size()), found);

    // The line fit: 6 px a frame at 30 frames a second is 4.444 ticks of 40 shown pixels
    // a second, in the status bar and under the table.
    PointTableWindow* window = w.ws().table_window();
    window->fit_choice->setCurrentIndex(window->fit_choice->findData(int(PointFit::Line)));
    const QString summary = w.ws().fit_label->text();
    QVERIFY2(summary.startsWith(QStringLiteral("直線: vx = ")), qPrintable(summary));
    const double truth = 6 * 30 * sx / 40;
    const double vx =
        summary.mid(summary.indexOf(QStringLiteral("vx = ")) + 5).section(' ', 0, 0).toDouble();
    QVERIFY2(std::abs(vx - truth) < 0.005 * truth, qPrintable(summary));
    const TextTable fitted = w.ws().table_text();
    QCOMPARE(int(fitted.rows.size()), kCycles + 1 + 3);
    QVERIFY(fitted.rows[size_t(kCycles)].isEmpty());
    QCOMPARE(fitted.rows[size_t(kCycles) + 2].value(0), QStringLiteral("速度 vx [目盛/s]"));
    QCOMPARE(fitted.rows[size_t(kCycles) + 2].value(1).toDouble(), vx);
    QVERIFY(fitted.rows[size_t(kCycles) + 2].value(2).toDouble() > 0);
    QCOMPARE(window->table->rowCount(), kCycles + 4);
    QVERIFY(window->x_fit_series->isVisible() && window->x_fit_series->count() > 100);

    // A row clicked rings its marker.
    window->table->selectRow(2);
    QCOMPARE(w.ws().overlay()->highlight(),
             std::optional<QPointF>(QPointF(points[2].x, points[2].y)));

    // A marker dragged carries its row along, and the ring with it.
    const QPointF from(points[4].x, points[4].y), to = from + QPointF(7, -5);
    const QString x_before = window->table->item(4, 2)->text();
    w.drag(from, to);
    QCOMPARE(QPointF(points[4].x, points[4].y), to);
    QCOMPARE(w.ws().overlay()->highlight(), std::optional<QPointF>(to));
    QCOMPARE(window->table->currentRow(), 4);
    QCOMPARE(window->table->item(4, 2)->text(), QString::number((to.x() + 4) / 40, 'f', 3));
    QVERIFY(window->table->item(4, 2)->text() != x_before);
    QCOMPARE(w.platform.beeps, beeps);
}

void AutoRecordTest::aRunStartedRightAfterACancelGetsItsOwnResult() {
    QTemporaryDir dir;
    const clipgen::ClipOptions o = glide_clip(dir);
    QCOMPARE(clipgen::write_clip(o), std::nullopt);
    QWidget window;
    AutoRecorder recorder(&window);
    QSignalSpy done(&recorder, &AutoRecorder::done);
    QSignalSpy failed(&recorder, &AutoRecorder::failed);
    const QString path = QString::fromStdString(o.path);

    // The cancelled run's result is still queued when the next run starts.
    QVERIFY(recorder.start(path, {0, 10, 20, 30, 40, 50}));
    recorder.cancel();
    const std::vector<int64_t> frames{0, 5, 10, 15};
    QVERIFY(recorder.start(path, frames));
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.running(), 60000);
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.at(0).at(1).value<std::vector<int64_t>>(), frames);
    QCOMPARE(done.at(0).at(0).value<tracking::TrackResult>().frames.size(), frames.size());
    QCOMPARE(failed.size(), 0);
}

QTEST_MAIN(AutoRecordTest)
#include "auto_record_qtest.moc"
