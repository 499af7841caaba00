// tambrel-compose --as-shown against the window itself: the window, on the real media
// service, runs a composition with the same settings, and the tool's picture must be
// Picture3's image pixel for pixel. Then the picture's parts one by one: the seed's
// columns and rows outside the merge region, and the scale's ticks where the window
// draws them.

#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "window/form1.h"
#include "core/handles.h"
#include "media/service/command_service.h"
#include "reference_composite.h"
#include "support/fake_platform.h"
#include "tool_process.h"

using namespace tambrel;
using namespace tambrel::compose_cli::testing;

namespace {

constexpr int W = 316, H = 236;  // the frame area, which the scale frames

// The window as the program starts it, with the real media service behind it.
struct Window {
    HandleTable handles;
    tambrel::testing::FakePlatform platform;
    media::CommandService service{handles};
    std::unique_ptr<Form1> form;

    Window() {
        form = std::make_unique<Form1>(platform, service, handles);
        form->start();
        platform.ms_per_read = 50;  // the paced steps' busy-wait ends
    }

    // Opens the clip, steps to `start`, and runs `count` cycles with `step` frames per
    // step: the seed and count - 1 merges. Picture3's image afterwards.
    QImage composite(const QString& clip, int start, int step, int count, bool white) {
        platform.dialog_answers.push_back(clip);
        form->mnuopen_Click();
        for (int i = 0; i < start; ++i) form->Command3_Click();
        form->Text6->setText(QString::number(step));
        (white ? form->Option1 : form->Option2)->setChecked(true);
        const int first = platform.yields + 1;
        platform.on_yield = [this, first, count](int yield) {
            if (yield - first + 1 >= count) form->Cmdgouseistop_Click();
        };
        form->CmdGosei_Click();
        return form->Picture3->surface().image().copy();
    }
};

bool is_black(const QImage& image, int x, int y) { return (image.pixel(x, y) & 0xffffff) == 0; }
bool is_white(const QImage& image, int x, int y) {
    return (image.pixel(x, y) & 0xffffff) == 0xffffff;
}

}  // namespace

class AsShownTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void isWhatTheWindowsCompositeHolds_data();
    void isWhatTheWindowsCompositeHolds();
    void keepsTheSeedOutsideTheMergeRegion();
    void drawsTheTicksWhereTheWindowDrawsThem();

  private:
    QImage tool(const QString& clip, const QStringList& options);

    QTemporaryDir dir_;
    QString mjpeg_, mpeg4_, raw_, wide_, tall_;
};

void AsShownTest::initTestCase() {
    auto make = [this](const QString& name, clipgen::Codec codec, int w, int h, int frames) {
        clipgen::ClipOptions o = raw_clip(dir_.filePath(name), frames, w, h);
        o.codec = codec;
        const auto error = clipgen::write_clip(o);
        if (error) qWarning("%s", error->c_str());
        return error ? QString() : QString::fromStdString(o.path);
    };
    mjpeg_ = make("bob-mjpeg.avi", clipgen::Codec::Mjpeg, 320, 240, 60);
    mpeg4_ = make("bob-mpeg4.avi", clipgen::Codec::Mpeg4, 320, 240, 40);
    raw_ = make("bob-raw.avi", clipgen::Codec::RawBgr24, 200, 150, 30);
    // Not 4:3: fitted with their proportions kept, the rest of the area background.
    wide_ = make("bob-wide.avi", clipgen::Codec::RawBgr24, 320, 180, 20);
    tall_ = make("bob-tall.avi", clipgen::Codec::RawBgr24, 180, 320, 20);
    QVERIFY(!mjpeg_.isEmpty() && !mpeg4_.isEmpty() && !raw_.isEmpty() && !wide_.isEmpty() &&
            !tall_.isEmpty());
}

QImage AsShownTest::tool(const QString& clip, const QStringList& options) {
    const QString out = dir_.filePath("as-shown.png");
    QFile::remove(out);
    const ToolRun r = run_tool(QStringList{clip, "-o", out, "--as-shown"} + options);
    if (r.exit_code != 0) qWarning("tambrel-compose: %d %s", r.exit_code, r.err.c_str());
    return QImage(out);
}

void AsShownTest::isWhatTheWindowsCompositeHolds_data() {
    QTest::addColumn<QString>("clip");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("white");
    QTest::newRow("mjpeg, every frame") << "mjpeg" << 0 << 1 << 8 << true;
    QTest::newRow("mjpeg, black, every third from 5") << "mjpeg" << 5 << 3 << 9 << false;
    QTest::newRow("mjpeg, to the end, in parts") << "mjpeg" << 0 << 1 << 60 << true;
    QTest::newRow("mpeg4, across keyframes") << "mpeg4" << 10 << 5 << 6 << true;
    QTest::newRow("raw, enlarged") << "raw" << 2 << 2 << 5 << true;
    QTest::newRow("seed only") << "raw" << 4 << 1 << 1 << false;
    QTest::newRow("16:9, black") << "wide" << 1 << 2 << 6 << false;
    QTest::newRow("portrait") << "tall" << 0 << 3 << 5 << true;
}

void AsShownTest::isWhatTheWindowsCompositeHolds() {
    QFETCH(QString, clip);
    QFETCH(int, start);
    QFETCH(int, step);
    QFETCH(int, count);
    QFETCH(bool, white);
    const QString path = clip == "mjpeg"   ? mjpeg_
                         : clip == "mpeg4" ? mpeg4_
                         : clip == "wide"  ? wide_
                         : clip == "tall"  ? tall_
                                           : raw_;

    Window window;
    const QImage expected = window.composite(path, start, step, count, white);
    const QImage actual =
        tool(path, {"--start", QString::number(start), "--step", QString::number(step), "--count",
                    QString::number(count), "--priority", white ? "white" : "black"});
    QCOMPARE(actual.size(), QSize(366, 286));
    QCOMPARE(QString::fromStdString(difference(actual, expected)), QString());
}

void AsShownTest::keepsTheSeedOutsideTheMergeRegion() {
    // The bob sweeps the whole width and bounces to the floor, so merging reaches the
    // right and bottom edges of the frame area.
    const QStringList run{"--start", "3", "--count", "40"};
    const QImage seed = tool(mjpeg_, {"--start", "3", "--count", "1"});
    const QImage merged = tool(mjpeg_, run);
    QVERIFY(!seed.isNull() && !merged.isNull());
    bool column_312_merged = false, row_232_merged = false;
    for (int y = 0; y < H; ++y) {
        for (int x = 313; x < W; ++x) QCOMPARE(merged.pixel(x, y), seed.pixel(x, y));
        column_312_merged |= merged.pixel(312, y) != seed.pixel(312, y);
    }
    for (int x = 0; x < W; ++x) {
        for (int y = 233; y < H; ++y) QCOMPARE(merged.pixel(x, y), seed.pixel(x, y));
        row_232_merged |= merged.pixel(x, 232) != seed.pixel(x, 232);
    }
    QVERIFY(column_312_merged);
    QVERIFY(row_232_merged);
}

void AsShownTest::drawsTheTicksWhereTheWindowDrawsThem() {
    const QImage p = tool(raw_, {"--count", "3"});
    QVERIFY(!p.isNull());
    // The frame: 2 pixels wide around (0, 0) - (316, 236).
    for (int x = 0; x <= W; ++x)
        QVERIFY(is_black(p, x, 0) && is_black(p, x, H - 1) && is_black(p, x, H));
    for (int y = 0; y <= H; ++y)
        QVERIFY(is_black(p, 0, y) && is_black(p, W - 1, y) && is_black(p, W, y));

    // x ticks hang from the bottom edge every 4 pixels, counted from the right edge:
    // 14 long, every 20th 18, every 40th 22.
    for (int x = W; x > 0; x -= 4) {
        const int length = (W - x) % 40 == 0 ? 22 : (W - x) % 20 == 0 ? 18 : 14;
        for (int y = H + 1; y < H + length; ++y)
            QVERIFY2(is_black(p, x, y), qPrintable(QString("x tick %1").arg(x)));
        QVERIFY2(is_white(p, x, H + length), qPrintable(QString("x tick %1 too long").arg(x)));
        if (x > 2) QVERIFY(is_white(p, x - 2, H + 5));
    }
    // y ticks stand out of the right edge: 14, every 20th 20, every 40th 23.
    for (int y = H; y > 0; y -= 4) {
        const int length = (H - y) % 40 == 0 ? 23 : (H - y) % 20 == 0 ? 20 : 14;
        for (int x = W + 1; x < W + length; ++x)
            QVERIFY2(is_black(p, x, y), qPrintable(QString("y tick %1").arg(y)));
        QVERIFY2(is_white(p, W + length, y), qPrintable(QString("y tick %1 too long").arg(y)));
        if (y > 2) QVERIFY(is_white(p, W + 5, y - 2));
    }
    // A number below every long x tick (1 at x = 36 ... 8 at 316) and beside every
    // long y tick (1 at y = 36 ... 6 at 236): ink near its text position, none between.
    auto ink = [&p](QRect box) {
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (qGray(p.pixel(x, y)) < 128) return true;
        return false;
    };
    for (int x = W; x > 0; x -= 40) QVERIFY(ink(QRect(x - 2, H + 30, 10, 12)));
    for (int y = H; y > 0; y -= 40) QVERIFY(ink(QRect(W + 30, y - 5, 10, 12)));
    QVERIFY(!ink(QRect(W - 20, H + 30, 8, 12)));
    QVERIFY(!ink(QRect(W + 30, H - 25, 10, 10)));
}

QTEST_MAIN(AsShownTest)
#include "as_shown_qtest.moc"
