// The worksheet in the window, with a fake platform and a fake clip of phone-like
// variable frame rate: what a run records and the status bar shows, recording points by
// clicks with the table, copy and CSV, calibrating by a drag and the dialog, the stated
// capture rate, and the composite saved and copied as shown.

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "core/numbers.h"
#include "window/worksheet/calibration_dialog.h"
#include "window/worksheet/marker_overlay.h"
#include "window/worksheet/point_table_window.h"
#include "window/worksheet/worksheet.h"
#include "worksheet_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

// Presentation time of frame n: durations cycle through 30, 33 and 36 ms.
double frame_ms(int n) {
    double t = 0;
    for (int i = 1; i <= n; ++i) t += 30 + 3 * ((i - 1) % 3);
    return t;
}

// A 640 × 480 phone clip at a nominal 30 fps behind the fake service; a dot moves 10
// shown pixels right per frame.
struct ClipFixture : WorksheetFixture<> {
    QTemporaryDir dir;
    QString clip;
    std::vector<int> timed;  // the position at each "status avfile time"

    ClipFixture() {
        clip = dir.filePath(QStringLiteral("phone.avi"));
        QFile file(clip);
        file.open(QIODevice::WriteOnly);
        service.frame = [](int n) {
            QImage image(316, 236, QImage::Format_RGB32);
            image.fill(QColor(20, 20, 30));
            QPainter(&image).fillRect(QRectF(18 + 10 * n, 100, 5, 5), Qt::white);
            return image;
        };
        service.handler = [this](const std::string& c, int32_t&, std::string& answer) {
            if (c == "status avfile position") {
                answer = std::to_string(service.position);
            } else if (c == "status avfile time") {
                timed.push_back(service.position);
                answer = QString::number(frame_ms(service.position), 'f', 3).toStdString();
            } else if (c == "status avfile frame rate" || c == "status avfile capture rate") {
                answer = "30";
            } else if (c == "where avfile source") {
                answer = "0 0 640 480";
            } else if (c == "status avfile length") {
                answer = "300";
            } else {
                return false;
            }
            return true;
        };
    }

    void open() {
        platform.dialog_answers.push_back(clip);
        form->mnuopen->trigger();
        QTRY_VERIFY(ws().timing().known());
    }
};

}  // namespace

class WorksheetTest : public QObject {
    Q_OBJECT
  private slots:
    void aRunRecordsItsFramesAndTheStatusBarShowsTimeAndInterval();
    void withoutAClipARunAsksNothingMore();
    void clicksRecordPointsIntoTheTableThatCopiesAndSaves();
    void aDraggedReferenceTurnsTheReadOutIntoMetres();
    void theCompositeIsSavedAndCopiedAsShown();
};

void WorksheetTest::aRunRecordsItsFramesAndTheStatusBarShowsTimeAndInterval() {
    ClipFixture f;
    f.open();
    for (int i = 0; i < 5; ++i) f.form->Command3_Click();
    f.form->Timer1_Timer();
    QTRY_COMPARE(f.ws().time_label->text(), QStringLiteral("t = 0.162 s"));
    QVERIFY(!f.ws().interval_label->isVisibleTo(f.form.get()));

    // Seed at frame 5, then every second frame, merged with black priority.
    f.form->Option2->setChecked(true);
    f.timed.clear();
    f.run(2, 4);
    // Each frame the run took was timed once, for the record; the status bar shows the
    // last one's time from that answer, without asking again.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(f.timed, (std::vector<int>{5, 7, 9, 11}));
    QCOMPARE(f.ws().time_label->text(), QStringLiteral("t = 0.360 s"));
    const auto plan = f.ws().record().plan();
    QVERIFY(plan);
    QCOMPARE(plan->seed, 5);
    QCOMPARE(int(plan->merges.size()), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(plan->merges[size_t(i)].frame, 7 + 2 * i);
        QVERIFY(plan->merges[size_t(i)].priority == Priority::Black);
    }
    // The clip's own times, not 2/30 s: (t(11) − t(5)) / 3 = 66 ms.
    QCOMPARE(f.ws().interval_label->text(), QStringLiteral("合成間隔 Δt = 0.066 s"));
    QVERIFY(f.ws().interval_label->isVisibleTo(f.form.get()));
    QCOMPARE(f.platform.beeps, 0);

    // A slow-motion clip filmed at 240 fps: scene time is an eighth of the clip's.
    f.form->worksheet()->mnucapture->trigger();
    auto* dialog = f.form->findChild<QInputDialog*>(QStringLiteral("CaptureRateDialog"));
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->doubleValue(), 30.0);
    dialog->setDoubleValue(240);
    dialog->accept();
    QCOMPARE(f.ws().interval_label->text(), QStringLiteral("合成間隔 Δt = 0.00825 s"));

    // Clearing the composite empties the record.
    f.form->Command6->click();
    QVERIFY(f.ws().record().empty());
    QVERIFY(!f.ws().interval_label->isVisibleTo(f.form.get()));
}

void WorksheetTest::withoutAClipARunAsksNothingMore() {
    ClipFixture f;
    f.run(1, 3);
    // Only the run's own commands, each beeping once at most: nothing asked besides.
    for (const std::string& c : f.service.commands) QVERIFY2(c.rfind("status", 0) != 0, c.c_str());
    QCOMPARE(int(f.ws().record().cycles().size()), 3);
    QVERIFY(!f.ws().record().plan());
    // No clip to rebuild it from: nothing to save at full resolution.
    QVERIFY(!f.ws().mnusavefull->isEnabled());
    QVERIFY(!f.ws().time_label->isVisibleTo(f.form.get()));
}

void WorksheetTest::clicksRecordPointsIntoTheTableThatCopiesAndSaves() {
    ClipFixture f;
    f.open();
    f.run(3, 4);  // frames 0, 3, 6, 9
    f.ws().mnurecord->trigger();
    QVERIFY(f.ws().table_window()->isVisible());
    QCOMPARE(f.composite()->cursor().shape(), Qt::CrossCursor);
    for (int k = 0; k < 4; ++k) f.click(QPointF(20 + 30 * k, 102));
    f.click(QPointF(340, 100));  // on the scale's margin: no point
    QCOMPARE(f.ws().points().size(), 4);
    QCOMPARE(int(f.form->findChild<MarkerOverlay*>()->markers().size()), 4);
    // Ctrl+Z takes back the last point.
    f.ws().mnuundo->trigger();
    QCOMPARE(f.ws().points().size(), 3);

    QTableWidget* table = f.ws().table_window()->table;
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("位置 x [目盛]"));
    // k = 1 is frame 3 at 99 ms; it moved 60 pixels (1.5 ticks) in t(6) − t(0) = 0.198 s.
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("0.0990"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("1.350"));
    QCOMPARE(table->item(1, 4)->text(), QString::number(1.5 / 0.198, 'f', 3));

    f.ws().copy_table();
    QVERIFY(f.platform.clipboard_text);
    const QStringList lines = f.platform.clipboard_text->split(QLatin1Char('\n'));
    QCOMPARE(lines[0], QStringLiteral("k\t時刻 t [s]\t位置 x [目盛]\t位置 y [目盛]\t速度 vx "
                                      "[目盛/s]\t速度 vy [目盛/s]"));
    QCOMPARE(lines[2].split(QLatin1Char('\t')).mid(0, 3),
             QStringList({QStringLiteral("1"), QStringLiteral("0.0990"), QStringLiteral("1.350")}));

    const QString csv = f.dir.filePath(QStringLiteral("points"));
    f.platform.save_answers.push_back(csv);
    f.ws().table_window()->save_button->click();
    QFile saved(csv + QStringLiteral(".csv"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QVERIFY(
        bytes.startsWith("\xEF\xBB\xBF"
                         "k,時刻 t [s],"));
    QCOMPARE(bytes.count("\r\n"), 4);

    // A new composite starts a new table.
    f.form->Command6->click();
    QCOMPARE(f.ws().points().size(), 0);
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(f.platform.beeps, 0);
}

void WorksheetTest::aDraggedReferenceTurnsTheReadOutIntoMetres() {
    ClipFixture f;
    f.open();
    // Esc leaves the mode without a reference.
    f.ws().mnucalibrate->trigger();
    QTest::keyClick(f.form.get(), Qt::Key_Escape);
    f.drag(QPointF(20, 100), QPointF(316, 100));
    QVERIFY(!f.ws().calibration_dialog()->isVisible());

    // 296 shown pixels across are 599.5 clip pixels: called 1 m.
    f.ws().mnucalibrate->trigger();
    f.drag(QPointF(20, 100), QPointF(316, 100));
    CalibrationDialog* dialog = f.ws().calibration_dialog();
    QVERIFY(dialog->isVisible());
    dialog->length_box->setValue(1.0);
    dialog->accept();
    QVERIFY(f.ws().calibration().calibrated());
    QVERIFY(f.ws().tick_label->text().startsWith(QStringLiteral("1 目盛 = 0.135 m")));

    move(f.composite(), QPointF(116, 76));
    const double per_pixel = 1.0 / 296;
    // To the 0.1 mm a shown pixel (3.4 mm) is worth.
    QCOMPARE(f.form->Text1->text(), QString::number(120 * per_pixel, 'f', 4));
    // Down, the clip is stretched by 480/236 rather than 640/316.
    const double down = per_pixel * (480.0 / 236) / (640.0 / 316);
    QCOMPARE(f.form->Text2->text(), QString::number(80 * down, 'f', 4));

    f.ws().mnuuncalibrate->trigger();
    move(f.composite(), QPointF(116, 76));
    QCOMPARE(f.form->Text1->text(), QStringLiteral("3"));
    QVERIFY(!f.ws().tick_label->isVisibleTo(f.form.get()));
}

void WorksheetTest::theCompositeIsSavedAndCopiedAsShown() {
    ClipFixture f;
    f.open();
    f.run(2, 3);
    f.form->Cmd_xchange->click();  // the switched numbers lie on the display only
    const QImage shown = f.form->Picture3->surface().displayed().copy();
    QVERIFY(shown != f.form->Picture3->surface().image());

    f.platform.save_answers.push_back(f.dir.filePath(QStringLiteral("composite")));
    f.ws().mnusave->trigger();
    const QImage saved(f.dir.filePath(QStringLiteral("composite.png")));
    QCOMPARE(saved.size(), QSize(366, 286));
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB32),
             shown.convertToFormat(QImage::Format_RGB32));

    f.ws().mnucopy->trigger();
    QVERIFY(f.platform.clipboard);
    QCOMPARE(*f.platform.clipboard, shown);

    // A place that cannot be written is explained, and nothing else happens.
    f.platform.save_answers.push_back(f.dir.filePath(QStringLiteral("no/such/place.jpg")));
    f.ws().mnusave->trigger();
    QCOMPARE(int(f.platform.messages.size()), 1);
    QVERIFY(f.platform.messages[0].stop_icon);
}

QTEST_MAIN(WorksheetTest)
#include "worksheet_qtest.moc"
