// Opening, closing and the transport against a scripted media service: the commands
// sent, the beeps, and what the window shows afterwards.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "media/service/path_codec.h"
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

    void anUnopenableFileIsNamedAndTheReadOutFallsSilent() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = "12";
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        const int beeps = f.platform.beeps;
        const QString bad = f.make("bad.avi");
        f.open(bad);
        QCOMPARE(f.platform.beeps, beeps + 1);  // the refused open only
        QCOMPARE(f.platform.messages.size(), size_t(1));
        const QString message = f.platform.messages[0].text;
        QVERIFY2(message.contains(bad) && message.contains("The file cannot be played."),
                 qPrintable(message));
        QVERIFY(f.platform.messages[0].stop_icon);
        QVERIFY(!f.service.open);
        QCOMPARE(f.service.count("put avfile destination at 0 0  316 236"), 1);

        // The first clip is gone: nothing names it, and the read-out asks nothing.
        QVERIFY(w.Label1->text().isEmpty());
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    なし"));
        const size_t sent = f.service.commands.size();
        for (int tick = 0; tick < 18; ++tick) QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(f.service.commands.size(), sent);
        QCOMPARE(f.platform.beeps, beeps + 1);

        // A seek switches the read-out on again whatever is open; with no clip its first
        // tick switches it off without asking.
        QTest::mouseClick(w.Command1, Qt::LeftButton);  // beeps twice, enables the bar
        w.HScroll1->setSliderDown(true);
        w.HScroll1->setSliderPosition(5);
        w.HScroll1->setSliderDown(false);
        QVERIFY(w.Timer1->isActive());
        const int after_seek = f.platform.beeps;
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(f.platform.beeps, after_seek);
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(f.service.count("status avfile position"), 1);  // the tick before the failure
    }

    void anyPathTheFileSystemTakesOpens() {
        // Several hundred Japanese characters, blanks, '%' and quotes: far beyond 255
        // bytes once every byte of a character is escaped.
        Fixture f;
        QString relative;
        for (const QString& part :
             {QStringLiteral("振り子実験データ"), QStringLiteral("令和六年度 第三学年"),
              QStringLiteral("物理基礎 100% \"周期\" と '振幅'"),
              QStringLiteral("長い名前の振り子の周期測定").repeated(6),
              QStringLiteral("振り子の等時性を確かめる").repeated(6)}) {
            relative += part + QLatin1Char('/');
            QVERIFY(QDir(f.dir.path()).mkpath(relative));
        }
        const QString path =
            f.make(relative + QStringLiteral("振り子の周期測定の動画").repeated(7) + ".avi");
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(path.size() > 250 && QFile::encodeName(path).size() > 600);
        f.open(path);

        QVERIFY(f.service.open);
        QCOMPARE(f.form->Label1->text(), path);
        QVERIFY(f.platform.messages.empty());
        const std::string open = f.service.commands[1];
        const std::string tail = " alias avfile style child parent ";
        QCOMPARE(open.rfind("open ", 0), size_t(0));
        const std::string word = open.substr(5, open.find(tail) - 5);
        QCOMPARE(word.find(' '), std::string::npos);
        QCOMPARE(media::decode_command_path(word), QFile::encodeName(path).toStdString());
        // The characters travel as they are: three bytes each, not nine.
        QVERIFY(word.size() < size_t(QFile::encodeName(path).size()) + 40);
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
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    なし"));
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

    void holdingTheThumbWhileTheTickMovesItSendsNoSeek() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        f.service.commands.clear();
        // The user holds the thumb while the clip plays; each tick moves the bar, which
        // Qt reports as a thumb move while it is held.
        QSignalSpy moved(w.HScroll1, &QScrollBar::sliderMoved);
        w.HScroll1->setSliderDown(true);
        for (const char* position : {"57", "58", "59"}) {
            f.service.position = position;
            QMetaObject::invokeMethod(w.Timer1, "timeout");
        }
        QCOMPARE(moved.count(), 3);
        QCOMPARE(w.HScroll1->value(), 59);
        w.HScroll1->setSliderDown(false);
        QCOMPARE(f.service.commands, std::vector<std::string>(3, "status avfile position"));
        // Moving the held thumb is still a seek.
        w.HScroll1->setSliderDown(true);
        w.HScroll1->setSliderPosition(80);
        w.HScroll1->setSliderDown(false);
        QCOMPARE(f.service.commands.back(), std::string("seek avfile to  80"));
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
