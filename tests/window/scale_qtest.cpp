// The scale on Picture3, read back pixel by pixel: frame, ticks by their drawn length,
// numbers compared with the same text printed alone, and where a toggle draws.

#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QtTest>
#include <map>

#include "scale/axes_geometry.h"
#include "support/form_fixture.h"

using namespace tambrel;
using tambrel::testing::FormFixture;

namespace {

constexpr int W = 316, H = 236;

bool black(const QImage& img, int x, int y) { return (img.pixel(x, y) & 0xffffff) == 0; }

// Black pixels from (x, y) on, going down (or right).
int run_down(const QImage& img, int x, int y) {
    int n = 0;
    while (y + n < img.height() && black(img, x, y + n)) ++n;
    return n;
}
int run_right(const QImage& img, int x, int y) {
    int n = 0;
    while (x + n < img.width() && black(img, x + n, y)) ++n;
    return n;
}

// Where a number's text may reach: from just before its text position to well past the
// widest two-digit text, and no further than the picture.
QRect number_box(const AxesNumber& n, const QFont& font, QSize picture) {
    const int height = QFontMetrics(font).height();
    return QRect(n.x - 2, n.y - 3, 36, height + 6).intersected(QRect(QPoint(0, 0), picture));
}

// A white picture with `texts` printed one over the other at the number's place.
QImage printed_alone(const PictureSurface& like, const AxesNumber& n, const QStringList& texts) {
    PictureSurface ref(like.width(), like.height());
    ref.font = like.font;
    for (const QString& t : texts) {
        ref.current_x = float(n.x);
        ref.current_y = float(n.y);
        ref.print(t);
    }
    return ref.image().copy();
}

bool has_ink(const QImage& img, const QRect& box) {
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (qGray(img.pixel(x, y)) < 128) return true;
    return false;
}

// Every pixel outside `boxes` is the same in both images.
int differences_outside(const QImage& a, const QImage& b, const std::vector<QRect>& boxes) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            bool inside = false;
            for (const QRect& r : boxes) inside = inside || r.contains(x, y);
            if (!inside && a.pixel(x, y) != b.pixel(x, y)) ++n;
        }
    return n;
}

QString text_of(int v) { return QString::number(v); }

}  // namespace

class ScaleTest : public QObject {
    Q_OBJECT
  private slots:
    void firstScaleIsPersistentWithEveryTick();
    void numbersStandWhereTheGeometryPutsThem_data();
    void numbersStandWhereTheGeometryPutsThem();
    void toggleDrawsOnTheDisplayOverTheComposite_data();
    void toggleDrawsOnTheDisplayOverTheComposite();
    void drawingTheScaleAgainChangesNoPixel();
};

void ScaleTest::firstScaleIsPersistentWithEveryTick() {
    FormFixture<> f;
    QCOMPARE(f.form->xaxis_mode, int16_t(-1));
    QCOMPARE(f.form->yaxis_mode, int16_t(-1));
    const PictureSurface& s = f.form->Picture3->surface();
    QVERIFY(s.auto_redraw());
    QVERIFY(!s.has_display_layer());
    const QImage& img = s.image();
    QCOMPARE(img.size(), QSize(366, 286));

    // Frame around the image area, its inside untouched.
    for (int x = 0; x <= W; x += 5)
        QVERIFY2(black(img, x, 0) && black(img, x, H), qPrintable(QString::number(x)));
    for (int y = 0; y <= H; y += 5) QVERIFY(black(img, 0, y) && black(img, W, y));
    QVERIFY(!black(img, 2, 2));
    QVERIFY(!black(img, W - 2, H - 2));

    // x ticks hang from the bottom edge (row H, which the frame also covers).
    std::map<int, int> x_lengths;  // tick length -> columns
    std::vector<int> long_x;
    for (int x = 0; x <= W + 1; ++x) {
        const int len = run_down(img, x, H);
        if (len > 1) ++x_lengths[len];
        if (len == kXLongTick) long_x.push_back(x);
        if (len > 1) QCOMPARE((W - x) % 4, 0);
    }
    QCOMPARE(x_lengths, (std::map<int, int>{{14, 79 - 16}, {18, 16 - 8}, {22, 8}}));
    QCOMPARE(long_x, (std::vector<int>{36, 76, 116, 156, 196, 236, 276, 316}));

    // y ticks stand out from the right edge (column W).
    std::map<int, int> y_lengths;
    std::vector<int> long_y;
    for (int y = 0; y <= H + 1; ++y) {
        const int len = run_right(img, W, y);
        if (len > 1) ++y_lengths[len];
        if (len == kYLongTick) long_y.push_back(y);
    }
    QCOMPARE(y_lengths, (std::map<int, int>{{14, 59 - 12}, {20, 12 - 6}, {23, 6}}));
    QCOMPARE(long_y, (std::vector<int>{36, 76, 116, 156, 196, 236}));
}

void ScaleTest::numbersStandWhereTheGeometryPutsThem_data() {
    QTest::addColumn<bool>("x_true");
    QTest::addColumn<bool>("y_true");
    QTest::newRow("both True") << true << true;
    QTest::newRow("both False") << false << false;
    QTest::newRow("x False") << false << true;
    QTest::newRow("y False") << true << false;
}

void ScaleTest::numbersStandWhereTheGeometryPutsThem() {
    QFETCH(bool, x_true);
    QFETCH(bool, y_true);
    FormFixture<> f;
    PictureSurface& s = f.form->Picture3->surface();
    s.clear();
    f.form->xaxis_mode = x_true ? -1 : 0;
    f.form->yaxis_mode = y_true ? -1 : 0;
    f.form->draw_axes();

    const AxesDrawing d = axes_geometry(W, H, x_true, y_true);
    int numbers = 0;
    for (const auto& step : d.steps) {
        const auto* n = std::get_if<AxesNumber>(&step);
        if (!n) continue;
        ++numbers;
        const QRect box = number_box(*n, s.font, s.image().size());
        const QImage alone = printed_alone(s, *n, {text_of(n->value)});
        QVERIFY2(has_ink(alone, box), "the font prints nothing");
        QVERIFY2(has_ink(s.image(), box),
                 qPrintable(QString("nothing printed at %1,%2").arg(n->x).arg(n->y)));
        QCOMPARE(s.image().copy(box), alone.copy(box));
    }
    QCOMPARE(numbers, 8 + 6);
}

void ScaleTest::toggleDrawsOnTheDisplayOverTheComposite_data() {
    QTest::addColumn<bool>("x_axis");
    QTest::newRow("Cmd_xchange") << true;
    QTest::newRow("Cmd_ychange") << false;
}

void ScaleTest::toggleDrawsOnTheDisplayOverTheComposite() {
    QFETCH(bool, x_axis);
    FormFixture<> f;
    PictureSurface& s = f.form->Picture3->surface();

    // A composite in the persistent image with the scale drawn into it, as a run leaves it.
    s.clear();
    {
        QPainter p(&s.target());
        QLinearGradient g(0, 0, W, H);
        g.setColorAt(0, Qt::darkCyan);
        g.setColorAt(1, Qt::yellow);
        p.fillRect(QRect(0, 0, W, H), g);
    }
    s.target_changed();
    f.form->draw_axes();
    const QImage composite = s.image().copy();

    QPushButton* button = x_axis ? f.form->Cmd_xchange : f.form->Cmd_ychange;
    int16_t& toggled = x_axis ? f.form->xaxis_mode : f.form->yaxis_mode;
    const int16_t& other = x_axis ? f.form->yaxis_mode : f.form->xaxis_mode;

    // Numbers of the persistent scale and of the toggled axis after the click.
    const auto persistent = axes_geometry(W, H, true, true);
    const auto flipped = axes_geometry(W, H, !x_axis, x_axis);
    std::vector<QRect> boxes;
    for (const auto& step : persistent.steps)
        if (const auto* n = std::get_if<AxesNumber>(&step))
            boxes.push_back(number_box(*n, s.font, composite.size()));

    auto check_numbers = [&](bool after_one_toggle) {
        for (size_t i = 0; i < persistent.steps.size(); ++i) {
            const auto* old_n = std::get_if<AxesNumber>(&persistent.steps[i]);
            if (!old_n) continue;
            const auto& new_n = std::get<AxesNumber>(flipped.steps[i]);
            QCOMPARE(new_n.x, old_n->x);
            QCOMPARE(new_n.y, old_n->y);
            const bool on_toggled_axis = (old_n->y > H) == x_axis;
            // The persistent number shows under the one drawn on the display.
            const int shown = after_one_toggle && on_toggled_axis ? new_n.value : old_n->value;
            const QImage expected =
                printed_alone(s, *old_n, {text_of(old_n->value), text_of(shown)});
            const QRect box = number_box(*old_n, s.font, composite.size());
            QVERIFY2(s.displayed().copy(box) == expected.copy(box),
                     qPrintable(QString("number at %1,%2").arg(old_n->x).arg(old_n->y)));
        }
    };

    button->click();
    QCOMPARE(toggled, int16_t(0));
    QCOMPARE(other, int16_t(-1));
    QVERIFY(!s.auto_redraw());
    QVERIFY(s.has_display_layer());
    QCOMPARE(s.image(), composite);  // the persistent image is untouched
    QCOMPARE(differences_outside(s.displayed(), composite, boxes), 0);
    check_numbers(true);

    // The second toggle drops the display-only numbers and draws 8 / 6 again.
    button->click();
    QCOMPARE(toggled, int16_t(-1));
    QVERIFY(!s.auto_redraw());
    QCOMPARE(s.image(), composite);
    QCOMPARE(differences_outside(s.displayed(), composite, boxes), 0);
    check_numbers(false);
}

void ScaleTest::drawingTheScaleAgainChangesNoPixel() {
    // Every composition cycle prints the scale again on the same places: the numbers
    // must not grow bolder with each cycle, in the persistent image or on the display.
    FormFixture<> f;
    PictureSurface& s = f.form->Picture3->surface();
    const QImage first = s.image().copy();
    for (int cycle = 0; cycle < 3; ++cycle) f.form->draw_axes();
    QCOMPARE(s.image(), first);

    f.form->Cmd_xchange->click();
    const QImage toggled = s.displayed().copy();
    f.form->draw_axes();
    QCOMPARE(s.displayed(), toggled);
    // Printed without blending: only the background and the ink colour, nothing between.
    QSet<QRgb> colours;
    for (int y = H + 1; y < toggled.height(); ++y)
        for (int x = 0; x < toggled.width(); ++x) colours.insert(toggled.pixel(x, y) & 0xffffff);
    QCOMPARE(colours, (QSet<QRgb>{0x000000, 0xffffff}));
}

QTEST_MAIN(ScaleTest)
#include "scale_qtest.moc"
