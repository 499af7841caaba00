// The five read-out boxes as the pointer moves, presses and drags over Picture3.

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QtTest>

#include "support/mouse.h"
#include "support/form_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

QStringList boxes(Form1& f) {
    return {f.Text1->text(), f.Text2->text(), f.Text3->text(), f.Text4->text(), f.Text5->text()};
}

}  // namespace

class ReadoutTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void movingShowsThePlaceAndZeroDeltas();
    void pressOrReleaseAloneChangesNoBox();
    void dragMeasuresAlongTheSwitches_data();
    void dragMeasuresAlongTheSwitches();
    void secondPressRestartsTheDrag();
    void beyondTheImageAFalseSwitchReadsNegative();
    void boxesShowTheirValuesFromTheFirstCharacter();
};

void ReadoutTest::movingShowsThePlaceAndZeroDeltas() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture3->client();
    QVERIFY(f.form->Text1->text().isEmpty());

    move(pic, {36, 36});
    QCOMPARE(boxes(*f.form), (QStringList{"1", "1", "0", "0", "0"}));
    move(pic, {316, 236}, Qt::LeftButton);  // a held button alone starts no drag
    QCOMPARE(boxes(*f.form), (QStringList{"8", "6", "0", "0", "0"}));
    move(pic, {37, 235});
    QCOMPARE(boxes(*f.form), (QStringList{"1.025", "5.975", "0", "0", "0"}));

    // The user's decimal separator.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    move(pic, {37, 236});
    QCOMPARE(boxes(*f.form), (QStringList{"1,025", "6", "0", "0", "0"}));
}

void ReadoutTest::pressOrReleaseAloneChangesNoBox() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture3->client();
    move(pic, {10, 10});
    const QStringList before = boxes(*f.form);

    press(pic, {100, 60}, Qt::RightButton);  // any button
    QCOMPARE(f.form->drag_on, int16_t(-1));
    QCOMPARE(f.form->drag_x0, 100.0f);
    QCOMPARE(f.form->drag_y0, 60.0f);
    QCOMPARE(boxes(*f.form), before);

    release(pic, {120, 90}, Qt::RightButton);
    QCOMPARE(f.form->drag_on, int16_t(0));
    QCOMPARE(boxes(*f.form), before);
}

void ReadoutTest::dragMeasuresAlongTheSwitches_data() {
    QTest::addColumn<bool>("flip");
    QTest::addColumn<QStringList>("during");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("both True") << false << QStringList{"3.35", "2.6", "0.75", "1", "1.25"}
                               << QStringList{"3.375", "2.6", "0", "0", "0"};
    QTest::newRow("both False") << true << QStringList{"4.65", "3.4", "-0.75", "-1", "1.25"}
                                << QStringList{"4.625", "3.4", "0", "0", "0"};
}

void ReadoutTest::dragMeasuresAlongTheSwitches() {
    QFETCH(bool, flip);
    QFETCH(QStringList, during);
    QFETCH(QStringList, after);
    FormFixture<> f;
    if (flip) {
        f.form->Cmd_xchange->click();
        f.form->Cmd_ychange->click();
    }
    QWidget* pic = f.form->Picture3->client();

    // 30 pixels right and 40 down.
    press(pic, {100, 60});
    move(pic, {115, 80}, Qt::LeftButton);
    move(pic, {130, 100}, Qt::LeftButton);
    QCOMPARE(boxes(*f.form), during);

    release(pic, {130, 100});
    move(pic, {131, 100});
    QCOMPARE(boxes(*f.form), after);
}

void ReadoutTest::secondPressRestartsTheDrag() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture3->client();
    press(pic, {100, 60});
    move(pic, {140, 60}, Qt::LeftButton);
    QCOMPARE(f.form->Text3->text(), QString("1"));
    press(pic, {140, 60}, Qt::RightButton);
    move(pic, {160, 60}, Qt::LeftButton | Qt::RightButton);
    QCOMPARE(f.form->Text3->text(), QString("0.5"));
    QCOMPARE(f.form->Text5->text(), QString("0.5"));
}

void ReadoutTest::beyondTheImageAFalseSwitchReadsNegative() {
    FormFixture<> f;
    f.form->Cmd_xchange->click();
    QWidget* pic = f.form->Picture3->client();
    move(pic, {356, 36});
    QCOMPARE(f.form->Text1->text(), QString("-1"));
    QCOMPARE(f.form->Text2->text(), QString("1"));
    move(pic, {316, 276});
    QCOMPARE(f.form->Text1->text(), QString("0"));
    QCOMPARE(f.form->Text2->text(), QString("7"));
    f.form->Cmd_ychange->click();
    move(pic, {36, 276});
    QCOMPARE(f.form->Text1->text(), QString("7"));
    QCOMPARE(f.form->Text2->text(), QString("-1"));
}

void ReadoutTest::boxesShowTheirValuesFromTheFirstCharacter() {
    FormFixture<> f;
    QWidget* pic = f.form->Picture3->client();
    // 70 pixels right and 50 down: a distance wider than its box.
    press(pic, {100, 60});
    move(pic, {170, 110}, Qt::LeftButton);
    QCOMPARE(f.form->Text5->text(), QString("2.150581"));

    // What a box shows must match the left part of the same value in a box wide enough
    // for all of it: the leading digits stay visible, the tail is cut.
    for (QLineEdit* box :
         {f.form->Text1, f.form->Text2, f.form->Text3, f.form->Text4, f.form->Text5}) {
        QLineEdit wide;
        wide.setStyle(box->style());
        wide.setFont(box->font());
        wide.setPalette(box->palette());
        wide.resize(box->width() * 4, box->height());
        wide.setText(box->text());
        const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage whole = wide.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect left(0, 0, box->width() - 6, box->height());
        QVERIFY2(shown.copy(left) == whole.copy(left), qPrintable(box->objectName()));
    }
}

QTEST_MAIN(ReadoutTest)
#include "readout_qtest.moc"
