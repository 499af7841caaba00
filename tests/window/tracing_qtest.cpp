// Tracing segments on Picture2: start mark, exclusive-or rubber band, black segment,
// read back from the picture's persistent image.

#include <QtTest>

#include "support/mouse.h"
#include "support/form_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

constexpr Color kYellow = rgb(255, 255, 0);  // the blue pen exclusive-or white

Color at(const Form1& f, int x, int y) { return f.Picture2->surface().point(x, y).value(); }

int count(const Form1& f, Color c) {
    const PictureSurface& s = f.Picture2->surface();
    int n = 0;
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x) n += s.point(x, y) == c;
    return n;
}

}  // namespace

class TracingTest : public QObject {
    Q_OBJECT
  private slots:
    void clickMoveClickTracesASegment();
    void movingWithNothingPendingDrawsNothing();
    void secondClickElsewhereLeavesTheLastBand();
    void pendingSegmentSurvivesClearing();
};

void TracingTest::clickMoveClickTracesASegment() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture2->client();

    press(pic, {50, 60});
    QCOMPARE(f.form->seg_pending, int16_t(-1));
    // A circle of radius 2 around the point, the point itself left white.
    for (auto [x, y] : {std::pair{48, 60}, {52, 60}, {50, 58}, {50, 62}})
        QCOMPARE(at(*f.form, x, y), kBlack);
    QCOMPARE(at(*f.form, 50, 60), kWhite);
    release(pic, {50, 60});

    move(pic, {150, 100});
    QCOMPARE(f.form->Picture2->surface().draw_mode, DrawMode::Xor);
    // The band starts at the marked point; the zero-length band "removed" first left
    // no dot there.
    QCOMPARE(at(*f.form, 50, 60), kYellow);
    QCOMPARE(at(*f.form, 75, 70), kYellow);
    QCOMPARE(at(*f.form, 100, 80), kYellow);
    QCOMPARE(at(*f.form, 125, 90), kYellow);
    const int band = count(*f.form, kYellow);
    QVERIFY2(band >= 90 && band <= 101, qPrintable(QString::number(band)));

    // The band follows the pointer: the old one is gone, not smeared.
    move(pic, {150, 160});
    QCOMPARE(at(*f.form, 100, 80), kWhite);
    QCOMPARE(at(*f.form, 100, 110), kYellow);
    QCOMPARE(at(*f.form, 75, 85), kYellow);
    QVERIFY(count(*f.form, kYellow) >= 90);
    QCOMPARE(f.form->band_x, 150.0f);
    QCOMPARE(f.form->band_y, 160.0f);

    press(pic, {150, 160});
    QCOMPARE(f.form->seg_pending, int16_t(0));
    QCOMPARE(f.form->Picture2->surface().draw_mode, DrawMode::Copy);
    QCOMPARE(at(*f.form, 100, 110), kBlack);
    QCOMPARE(at(*f.form, 75, 85), kBlack);
    QCOMPARE(count(*f.form, kYellow), 0);  // the segment covers the last band exactly

    // The next segment starts in copy mode with its own mark.
    press(pic, {200, 30});
    QCOMPARE(at(*f.form, 202, 30), kBlack);
    QCOMPARE(f.form->seg_x0, 200.0f);
    QCOMPARE(f.form->seg_pending, int16_t(-1));
}

void TracingTest::movingWithNothingPendingDrawsNothing() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture2->client();
    const QImage before = f.form->Picture2->surface().image().copy();
    move(pic, {40, 40});
    move(pic, {80, 90}, Qt::LeftButton);
    QCOMPARE(f.form->Picture2->surface().image(), before);

    // Nor does a movement onto the band's own end.
    press(pic, {40, 40});
    const QImage marked = f.form->Picture2->surface().image().copy();
    move(pic, {40, 40});
    QCOMPARE(f.form->Picture2->surface().image(), marked);
}

void TracingTest::secondClickElsewhereLeavesTheLastBand() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture2->client();
    press(pic, {50, 60});
    move(pic, {150, 100});
    press(pic, {150, 160});  // no movement reported in between
    QCOMPARE(f.form->seg_pending, int16_t(0));
    QCOMPARE(at(*f.form, 100, 80), kYellow);
    QCOMPARE(at(*f.form, 125, 90), kYellow);
    QCOMPARE(at(*f.form, 100, 110), kBlack);
}

void TracingTest::pendingSegmentSurvivesClearing() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture2->client();
    PictureSurface& s = f.form->Picture2->surface();
    press(pic, {50, 60});
    move(pic, {150, 100});

    s.clear();  // what clearing the composite does to Picture2
    QCOMPARE(count(*f.form, kWhite), s.width() * s.height());
    QCOMPARE(f.form->seg_pending, int16_t(-1));

    // Removing the old band now draws it, and it stays beside the new one.
    move(pic, {150, 160});
    QCOMPARE(at(*f.form, 100, 80), kYellow);
    QCOMPARE(at(*f.form, 100, 110), kYellow);
    move(pic, {250, 60});
    QCOMPARE(at(*f.form, 100, 80), kYellow);
    QCOMPARE(at(*f.form, 100, 110), kWhite);

    // The next click completes the segment from the stored first point.
    s.clear();
    press(pic, {250, 60});
    QCOMPARE(f.form->seg_pending, int16_t(0));
    for (int x = 51; x < 250; x += 7) QCOMPARE(at(*f.form, x, 60), kBlack);
    QCOMPARE(at(*f.form, 50, 61), kWhite);
}

QTEST_MAIN(TracingTest)
#include "tracing_qtest.moc"
