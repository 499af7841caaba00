// Opening, closing and the transport against a scripted media service: the commands
// sent, the beeps, and what the window shows afterwards.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "support/form_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

// A service that behaves like a real one for the open/close life of one alias.
struct ClipService : FakeMediaService {
    using FakeMediaService::FakeMediaService;
    bool open = false;
    std::string length = "150";
    std::string position = "0";
    ClipService(const HandleTable* h) : FakeMediaService(h) {
        error_texts = {{2, "The specified alias is not open."}, {3, "The file cannot be played."}};
        handler = [this](const std::string& c, int32_t& rc, std::string& answer) {
            if (c.rfind("open ", 0) == 0) {
                if (c.find("bad.avi") != std::string::npos) return rc = 3, true;
                open = true;
                return true;
            }
            if (!open) return rc = 2, true;
            if (c == "close avfile") open = false;
            if (c == "status avfile length") answer = length;
            if (c == "status avfile position") answer = position;
            return true;
        };
    }
};

struct Fixture : FormFixture<ClipService> {
    QTemporaryDir dir;
    QString make(const QString& name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        return path;
    }
    void open(const QString& path) {
        platform.dialog_answers.push_back(path);
        form->mnuopen->trigger();
    }
};

QString picture1_handle(const Form1& w) { return QString::number(w.Picture1->hwnd()); }

}  // namespace

class ClipHandlersTest : public QObject {
    Q_OBJECT
private slots:
    void openingWithNoClipOpenBeepsOnceForTheRefusedClose() {
        Fixture f;
        const QString path = f.make("clip.avi");
        f.open(path);
        Form1& w = *f.form;
        QCOMPARE(f.platform.beeps, 1);
        QCOMPARE(f.platform.dialog_filters, QStringList{"AVIファイル (*.avi)|*.avi"});
        const std::vector<std::string> expected = {
            "close avfile",
            ("open " + Module1::short_path(path) + " alias avfile style child parent " +
             picture1_handle(w))
                .toStdString(),
            "put avfile destination at 0 0  316 236", "status avfile length"};
        QCOMPARE(f.service.commands, expected);
        QCOMPARE(w.HScroll1->maximum(), 150);
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.Label1->text(), path);
        QVERIFY(w.Command1->isEnabled());
        QVERIFY(!w.Command2->isEnabled() && !w.HScroll1->isEnabled() && !w.Command6->isEnabled());
        QVERIFY(!w.CmdGosei->isEnabled() && !w.Cmd_Reserve->isEnabled());
        QCOMPARE(w.gosei_fresh, int16_t(1));
    }

    void aSecondClipClosesTheFirstWithoutABeep() {
        Fixture f;
        f.open(f.make("one.avi"));
        f.open(f.make("two.avi"));
        QCOMPARE(f.platform.beeps, 1);
        QCOMPARE(f.service.count("close avfile"), 2);
        QVERIFY(f.form->Label1->text().endsWith("two.avi"));
    }

    void cancellingBeepsAndOnlyResetsTheComposite() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        w.gosei_fresh = 2;
        w.Picture3->surface().pset(10, 10, kBlack);
        const int beeps = f.platform.beeps;
        const size_t sent = f.service.commands.size();
        f.platform.dialog_answers.push_back(std::nullopt);
        w.mnuopen->trigger();
        QCOMPARE(f.platform.beeps, beeps + 1);
        QCOMPARE(f.service.commands.size(), sent);
        QVERIFY(w.Timer1->isActive());
        QVERIFY(w.Label1->text().endsWith("one.avi"));
        QCOMPARE(w.HScroll1->maximum(), 150);
        QVERIFY(w.Command1->isEnabled());
        QCOMPARE(w.gosei_fresh, int16_t(1));
        QCOMPARE(w.Picture3->surface().point(10, 10), kWhite);
    }

    void anUnopenableFileShowsTheServiceTextAndLeavesNoClip() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        const int beeps = f.platform.beeps;
        f.open(f.make("bad.avi"));
        QCOMPARE(f.platform.beeps, beeps + 1);  // the refused open only
        QCOMPARE(f.platform.messages.size(), size_t(1));
        QCOMPARE(f.platform.messages[0].text, QStringLiteral("The file cannot be played."));
        QVERIFY(f.platform.messages[0].stop_icon);
        QVERIFY(!f.service.open);
        QVERIFY(w.Label1->text().endsWith("one.avi"));  // left as it was
        QCOMPARE(f.service.count("put avfile destination at 0 0  316 236"), 1);
    }

    void aPathWithBlanksAndJapaneseOpensThroughItsShortForm() {
        Fixture f;
        const QString path = f.make(QStringLiteral("振り子 実験 1.avi"));
        f.open(path);
        QCOMPARE(f.form->Label1->text(), path);
        const std::string open = f.service.commands[1];
        QVERIFY(open.find(' ', 5) == open.find(" alias avfile"));
        QVERIFY(f.service.open);
    }

    void aLengthBeyondSixteenBitsLeavesTheWindowAsItWas() {
        Fixture f;
        Form1& w = *f.form;
        f.service.length = "40000";
        f.open(f.make("long.avi"));
        QCOMPARE(f.platform.beeps, 2);  // the refused close, then the overflow
        QVERIFY(f.service.open);
        QCOMPARE(w.HScroll1->maximum(), 32767);
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.Label1->text().isEmpty());
        QVERIFY(!w.Command1->isEnabled());
    }

    void closingTwiceBeepsTheSecondTime() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        const int beeps = f.platform.beeps;
        w.mnuclose->trigger();
        QCOMPARE(f.platform.beeps, beeps);
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.Label1->text().isEmpty());
        QVERIFY(w.Command1->isEnabled());
        w.mnuclose->trigger();
        QCOMPARE(f.platform.beeps, beeps + 1);
    }

    void playAfterCloseBeepsTwiceAndStillEnablesTheTransport() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        w.mnuclose->trigger();
        const int beeps = f.platform.beeps;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QCOMPARE(f.platform.beeps, beeps + 2);
        for (QWidget* on : {static_cast<QWidget*>(w.Command2), static_cast<QWidget*>(w.Command3),
                            static_cast<QWidget*>(w.Command4), static_cast<QWidget*>(w.Command6),
                            static_cast<QWidget*>(w.HScroll1), static_cast<QWidget*>(w.CmdGosei),
                            static_cast<QWidget*>(w.Cmd_Reserve),
                            static_cast<QWidget*>(w.Cmdgouseistop)})
            QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
        QVERIFY(!w.Timer1->isActive());
    }

    void transportButtonsSendTheirCommands() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        f.service.commands.clear();
        w.CmdGosei->setEnabled(false);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QVERIFY(!w.CmdGosei->isEnabled());  // pause enables nothing
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QVERIFY(w.CmdGosei->isEnabled());
        w.CmdGosei->setEnabled(false);
        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QVERIFY(w.CmdGosei->isEnabled());
        QTest::mouseClick(w.Cmd_Reserve, Qt::LeftButton);
        const std::vector<std::string> expected = {"pause avfile", "step avfile",
                                                   "step avfile reverse", "seek avfile to  0"};
        QCOMPARE(f.service.commands, expected);
    }

    void onlyDraggingTheThumbSeeks() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        f.service.commands.clear();
        // Arrow and track clicks move the bar without a command.
        w.HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        w.HScroll1->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(w.HScroll1->value(), 2);
        QVERIFY(f.service.commands.empty());
        // Dragging the thumb seeks to where it is.
        w.CmdGosei->setEnabled(false);
        w.HScroll1->setSliderDown(true);
        w.HScroll1->setSliderPosition(42);
        w.HScroll1->setSliderDown(false);
        QCOMPARE(f.service.commands, std::vector<std::string>{"seek avfile to  42"});
        QVERIFY(w.Timer1->isActive());
        QVERIFY(w.CmdGosei->isEnabled());
        // Dragged to the left end it sends the same text as the rewind.
        f.service.commands.clear();
        w.HScroll1->setSliderDown(true);
        w.HScroll1->setSliderPosition(0);
        w.HScroll1->setSliderDown(false);
        QCOMPARE(f.service.commands, std::vector<std::string>{"seek avfile to  0"});
    }

    void tickShowsThePositionReplyAsReceived() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = "57";
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 57);
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    57"));
        QCOMPARE(w.Label2->text(), QStringLiteral("フレーム\n    57"));
    }

    void tickBeyondTheBarPutsItAtItsEndAndKeepsGoing() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = "200";  // past the bar's maximum of 150
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 150);
        f.service.position = "99999";  // past 16 bits
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 150);
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    99999"));
        QVERIFY(w.Timer1->isActive());
    }

    void refusedTickBeepsAndShowsTheErrorText() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = "12";
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        f.service.open = false;
        const int beeps = f.platform.beeps;
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(f.platform.beeps, beeps + 1);
        QCOMPARE(w.HScroll1->value(), 0);
        QCOMPARE(w.label2_caption(),
                 QStringLiteral("フレーム\n\r    The specified alias is not open."));
    }
};

QTEST_MAIN(ClipHandlersTest)
#include "clip_handlers_test.moc"
