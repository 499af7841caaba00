// The worksheet on clips of known motion, through the real media service: the window
// composes, the length is calibrated by a drag of known length, and each merged frame's
// body is clicked where make-clip rendered its centre (mapped through the window's fit
// of the clip). The table must give back the velocity and the g the clips were made
// with, and the save at the clip's own size must be tambrel-compose's picture.

#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <cmath>

#include "cli/reference_composite.h"
#include "cli/tool_process.h"
#include "clipgen.h"
#include "core/picture_fit.h"
#include "window/worksheet/full_save.h"
#include "scale/full_scale.h"
#include "media/service/command_service.h"
#include "worksheet_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

// A phone clip: H.264 in MP4 at a variable rate (frames 30, 33, 36 ms apart), a body
// gliding at 8 px right and 3 px down per nominal frame over tiles.
clipgen::ClipOptions gliding_clip(const QString& path) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::H264;
    o.width = 640;
    o.height = 480;
    o.frames = 40;
    o.vfr = true;
    o.motion = clipgen::Motion::Linear;
    o.velocity = QPointF(8, 3);
    o.textured_background = true;
    return o;
}

// An AVI at a steady 30 fps: a body falling from rest at 9.81 m/s², 200 px to the metre.
clipgen::ClipOptions falling_clip(const QString& path) {
    clipgen::ClipOptions o;
    o.path = path.toStdString();
    o.codec = clipgen::Codec::Mjpeg;
    o.width = 640;
    o.height = 480;
    o.frames = 24;
    o.motion = clipgen::Motion::Fall;
    o.fall_g = 9.81;
    o.pixels_per_metre = 200;
    return o;
}

struct Window : WorksheetFixture<media::CommandService> {
    clipgen::ClipOptions clip;
    int beeps_after_open = 0;

    bool open(const clipgen::ClipOptions& options) {
        clip = options;
        platform.dialog_answers.push_back(QString::fromStdString(options.path));
        form->mnuopen->trigger();
        const bool timed = QTest::qWaitFor([this] { return ws().timing().known(); }, 10000);
        // The open's own "close avfile" beeps when nothing was open.
        beeps_after_open = platform.beeps;
        return timed;
    }

    // Where the window shows a point of the clip's upright picture, in Picture3 pixels.
    QPointF shown(QPointF upright) const {
        const QSize area(form->Picture1->outer_width() - 4, form->Picture1->outer_height() - 4);
        const QSize size = clipgen::display_size(clip);
        const QRect fit = picture_fit(size, area);
        return {fit.x() + upright.x() * fit.width() / size.width(),
                fit.y() + upright.y() * fit.height() / size.height()};
    }

    // The frames the run merged, seed first, as the record has them.
    std::vector<int64_t> frames() {
        std::vector<int64_t> out;
        if (const auto plan = ws().record().plan()) {
            out.push_back(plan->seed);
            for (const auto& m : plan->merges) out.push_back(m.frame);
        }
        return out;
    }

    // 位置を記録, then a click on the body of every merged frame in order.
    bool record_bodies() {
        ws().mnurecord->trigger();
        for (const int64_t n : frames()) click(shown(clipgen::bob_position(clip, int(n))));
        return ws().points().size() == int(frames().size());
    }

    FullResolutionSave::Outcome save(QAction* item, const QString& path) {
        QSignalSpy done(ws().full_save(), &FullResolutionSave::finished);
        platform.save_answers.push_back(path);
        item->trigger();
        if (!done.wait(120000)) return FullResolutionSave::Outcome::Failed;
        return done.takeFirst().at(0).value<FullResolutionSave::Outcome>();
    }
};

// Least squares y = c0 + c1 t + c2 t²: {c0, c1, c2}.
std::array<double, 3> quadratic_fit(const std::vector<double>& t, const std::vector<double>& y) {
    double m[3][4] = {};
    for (size_t i = 0; i < t.size(); ++i) {
        const double p[3] = {1, t[i], t[i] * t[i]};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) m[r][c] += p[r] * p[c];
            m[r][3] += p[r] * y[i];
        }
    }
    for (int col = 0; col < 3; ++col)
        for (int r = 0; r < 3; ++r) {
            if (r == col) continue;
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 4; ++c) m[r][c] -= f * m[col][c];
        }
    return {m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]};
}

}  // namespace

class WorksheetClipsTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void aBodyAtConstantVelocityReadsItsVelocity();
    void aFallingBodyGivesBackG();
    void theFullResolutionSaveIsTambrelComposesPicture();

  private:
    QTemporaryDir dir_;
    QString gliding_, falling_;
};

void WorksheetClipsTest::initTestCase() {
    QVERIFY(dir_.isValid());
    if (!clipgen::codec_available(clipgen::Codec::H264)) QSKIP("no H.264 encoder");
    gliding_ = dir_.filePath(QStringLiteral("gliding.mp4"));
    falling_ = dir_.filePath(QStringLiteral("falling.avi"));
    for (const auto& o : {gliding_clip(gliding_), falling_clip(falling_)}) {
        const auto error = clipgen::write_clip(o);
        QVERIFY2(!error, error ? error->c_str() : "");
    }
}

void WorksheetClipsTest::aBodyAtConstantVelocityReadsItsVelocity() {
    Window w;
    QVERIFY(w.open(gliding_clip(gliding_)));
    w.run(4, 8);
    QCOMPARE(w.frames(), (std::vector<int64_t>{0, 4, 8, 12, 16, 20, 24, 28}));
    // 400 clip pixels across called 1 m.
    QVERIFY(w.calibrate(w.shown({100, 60}), w.shown({500, 60}), 1.0));
    QVERIFY(w.record_bodies());

    const auto table = w.copied_table();
    QCOMPARE(int(table.size()), 9);
    QCOMPARE(table[0][4], QStringLiteral("速度 vx [m/s]"));
    // 8 and 3 px per 1/30 s at 400 px/m, whatever the frames' uneven times.
    const double vx = 8 * 30 / 400.0, vy = 3 * 30 / 400.0;
    double worst = 0;
    for (int k = 1; k <= 6; ++k) {
        const QStringList& row = table[size_t(k + 1)];
        QVERIFY2(std::abs(row[4].toDouble() / vx - 1) < 0.01, qPrintable(row.join(' ')));
        QVERIFY2(std::abs(row[5].toDouble() / vy - 1) < 0.01, qPrintable(row.join(' ')));
        worst = std::max(
            {worst, std::abs(row[4].toDouble() / vx - 1), std::abs(row[5].toDouble() / vy - 1)});
    }
    qInfo("velocities within %.3f %% of (%.3f, %.3f) m/s", 100 * worst, vx, vy);
    // The times are the clip's own: frame 4 is 30 + 33 + 36 + 30 ms in.
    QCOMPARE(table[2][1], QStringLiteral("0.1290"));
    QCOMPARE(w.platform.beeps, w.beeps_after_open);
}

void WorksheetClipsTest::aFallingBodyGivesBackG() {
    Window w;
    QVERIFY(w.open(falling_clip(falling_)));
    w.run(2, 10);
    QCOMPARE(w.frames(), (std::vector<int64_t>{0, 2, 4, 6, 8, 10, 12, 14, 16, 18}));
    // 400 clip pixels down called 2 m: a reference along y, stretched 480/236 where x
    // is stretched 640/316.
    QVERIFY(w.calibrate(w.shown({60, 50}), w.shown({60, 450}), 2.0));
    QVERIFY(w.record_bodies());

    const auto table = w.copied_table();
    QCOMPARE(int(table.size()), 11);
    std::vector<double> t, y;
    for (size_t k = 1; k < table.size(); ++k) {
        t.push_back(table[k][1].toDouble());
        y.push_back(table[k][3].toDouble());
    }
    // The scale's y grows downwards: the fall is y = y0 + g t² / 2.
    const double g = 2 * quadratic_fit(t, y)[2];
    qInfo("g from %d points: %.4f m/s²", int(t.size()), g);
    QVERIFY2(std::abs(g / 9.81 - 1) < 0.02, qPrintable(QString::number(g)));
    QCOMPARE(w.platform.beeps, w.beeps_after_open);
}

void WorksheetClipsTest::theFullResolutionSaveIsTambrelComposesPicture() {
    Window w;
    QVERIFY(w.open(gliding_clip(gliding_)));
    QVERIFY(!w.ws().mnusavefull->isEnabled());
    for (int i = 0; i < 3; ++i) w.form->Command3_Click();
    w.form->Option1->setChecked(true);
    w.run(3, 6);  // frames 3, 6, … 18
    QVERIFY(w.ws().mnusavefull->isEnabled());
    QVERIFY(!w.ws().mnusavescaled->isEnabled());  // only with a calibration

    const QString full = dir_.filePath(QStringLiteral("full"));
    QCOMPARE(w.save(w.ws().mnusavefull, full), FullResolutionSave::Outcome::Saved);
    const QImage saved(full + QStringLiteral(".png"));
    QCOMPARE(saved.size(), QSize(640, 480));
    const QString tool_out = dir_.filePath(QStringLiteral("tool.png"));
    const auto run =
        compose_cli::testing::run_tool({gliding_, "-o", tool_out, "--start", "3", "--step", "3",
                                        "--count", "6", "--priority", "white"});
    QCOMPARE(run.exit_code, 0);
    QCOMPARE(QString::fromStdString(compose_cli::testing::difference(saved, QImage(tool_out))),
             QString());

    // With the scale: the window's composite grown by 640/316 across and 480/236 down,
    // the picture inside its frame untouched, the long ticks where the window's fall.
    QVERIFY(w.calibrate(w.shown({100, 60}), w.shown({500, 60}), 1.0));
    const QString scaled_path = dir_.filePath(QStringLiteral("scaled.png"));
    QCOMPARE(w.save(w.ws().mnusavescaled, scaled_path), FullResolutionSave::Outcome::Saved);
    const QImage scaled = QImage(scaled_path).convertToFormat(QImage::Format_RGB32);
    const double kx = 640 / 316.0, ky = 480 / 236.0;
    QCOMPARE(scaled.size(),
             QSize(int(std::lround(366 * kx)), int(std::lround((286 + kCaptionRows) * ky))));
    const QImage inside = scaled.copy(4, 4, 640 - 8, 480 - 8);
    QCOMPARE(QString::fromStdString(
                 compose_cli::testing::difference(inside, saved.copy(4, 4, 640 - 8, 480 - 8))),
             QString());
    const auto black = [&scaled](double x, double y) {
        return qGray(scaled.pixel(int(x), int(y))) < 64;
    };
    // Below the frame only the long ticks (22 shown pixels) reach 20 pixels down.
    for (int x = 316; x > 0; x -= 40) {
        QVERIFY2(black((x + 0.5) * kx, (236 + 20.5) * ky), qPrintable(QString::number(x)));
        QVERIFY(!black((x - 1.5) * kx, (236 + 20.5) * ky));
    }
    for (int y = 236; y > 0; y -= 40) QVERIFY(black((316 + 21.5) * kx, (y + 0.5) * ky));
    bool caption = false;
    for (int y = int(289 * ky); y < scaled.height() && !caption; ++y)
        for (int x = 0; x < scaled.width() / 2 && !caption; ++x) caption = black(x, y);
    QVERIFY(caption);

    // A cancel before the picture is composed leaves nothing behind and says nothing.
    const QString cancelled = dir_.filePath(QStringLiteral("cancelled.png"));
    QSignalSpy done(w.ws().full_save(), &FullResolutionSave::finished);
    w.platform.save_answers.push_back(cancelled);
    w.ws().mnusavefull->trigger();
    QVERIFY(w.ws().full_save()->busy());
    QProgressDialog* progress = w.ws().full_save()->progress_dialog();
    QVERIFY(progress);
    progress->findChild<QPushButton*>()->click();
    QVERIFY(done.wait(120000));
    QCOMPARE(done.takeFirst().at(0).value<FullResolutionSave::Outcome>(),
             FullResolutionSave::Outcome::Cancelled);
    QVERIFY(!QFileInfo::exists(cancelled));
    QVERIFY(w.platform.messages.empty());

    // A place that cannot be written is explained.
    QCOMPARE(w.save(w.ws().mnusavefull, dir_.filePath(QStringLiteral("no/such/place.png"))),
             FullResolutionSave::Outcome::Failed);
    QCOMPARE(int(w.platform.messages.size()), 1);
    QVERIFY(w.platform.messages[0].stop_icon);
    QCOMPARE(w.platform.beeps, w.beeps_after_open);
}

QTEST_MAIN(WorksheetClipsTest)
#include "worksheet_clips_qtest.moc"
