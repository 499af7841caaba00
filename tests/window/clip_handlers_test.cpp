// Opening, closing and the transport against a scripted media service: the commands
// sent, the beeps, and what the window shows afterwards.

#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <set>

#include "window/clip_sources.h"
#include "media/service/path_codec.h"
#include "support/form_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

namespace {

// A service that behaves like a real one for the open/close life of one alias: the
// fake's own drawing, destination and steps, plus length, position, seeks and the
// picture's size.
struct ClipService : FakeMediaService {
    bool open = false;
    std::string length = "150";
    std::string source = "0 0 320 240";
    ClipService(const HandleTable* h) : FakeMediaService(h) {
        error_texts = {{2, "The specified alias is not open."}, {3, "The file cannot be played."}};
        handler = [this](const std::string& c, int32_t& rc, std::string& answer) {
            if (c.rfind("open ", 0) == 0) {
                if (c.find("bad.avi") != std::string::npos) return rc = 3, true;
                open = true;
                return true;
            }
            if (!open) return rc = 2, true;
            if (c == "close avfile") {
                open = false;
            } else if (c == "where avfile source") {
                answer = source;
            } else if (c == "status avfile length") {
                answer = length;
            } else if (c == "status avfile position") {
                answer = std::to_string(position);
            } else if (c.rfind("seek avfile to ", 0) == 0) {
                // Seeking to the length lands on the last frame.
                position = int(std::min(std::stoll(c.substr(15)), std::stoll(length) - 1));
            } else {
                return false;
            }
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
    // The commands sent, less the worksheet's questions about the open clip's times,
    // which it asks once the event loop runs.
    std::vector<std::string> acting() const {
        std::vector<std::string> out;
        for (const std::string& c : service.commands)
            if (c != "status avfile frame rate" && c != "status avfile capture rate" &&
                c != "status avfile time")
                out.push_back(c);
        return out;
    }
    // What the menu sends for a clip at `path`.
    std::vector<std::string> opening(const QString& path, const std::string& destination) const {
        return {"close avfile",
                ("open " + Module1::short_path(path) + " alias avfile style child parent " +
                 QString::number(form->Picture1->hwnd()))
                    .toStdString(),
                "where avfile source", "put avfile destination at 0 0 " + destination,
                "status avfile length"};
    }
    // A composition run with `steps` frames per step, stopped inside its `cycles`-th yield
    // (the seed is the first cycle).
    void compose(const QString& steps, int cycles) {
        platform.ms_per_read = 50;  // the paced steps end
        const int base = platform.yields;
        platform.on_yield = [this, base, cycles](int yield) {
            if (yield - base >= cycles) form->Cmdgouseistop->click();
        };
        form->Text6->setText(steps);
        form->CmdGosei->click();
        platform.on_yield = {};
    }
    void drag_thumb_to(int value) {
        form->HScroll1->setSliderDown(true);
        form->HScroll1->setSliderPosition(value);
        form->HScroll1->setSliderDown(false);
    }
    void tick() { QMetaObject::invokeMethod(form->Timer1, "timeout"); }
};

// The names a file dialog lists in its current folder (entries it shows enabled).
std::set<QString> listed(const QFileDialog& dialog) {
    std::set<QString> names;
    const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    if (!view || !view->model()) return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row) {
        const QModelIndex item = view->model()->index(row, 0, root);
        if (item.flags() & Qt::ItemIsEnabled) names.insert(item.data().toString());
    }
    return names;
}

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
        QCOMPARE(f.service.commands, f.opening(path, " 316 236"));
        QCOMPARE(w.HScroll1->maximum(), 150);
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.Label1->text(), path);
        QVERIFY(w.Command1->isEnabled());
        QVERIFY(!w.Command2->isEnabled() && !w.HScroll1->isEnabled() && !w.Command6->isEnabled());
        QVERIFY(!w.CmdGosei->isEnabled() && !w.Cmd_Reserve->isEnabled());
        QCOMPARE(w.gosei_fresh, int16_t(1));
    }

    // The window's filter in Qt's own dialog: AVI as it always was, the video files chosen
    // at first, everything on request; phones' capital extensions are listed.
    void theDialogListsVideoFilesOfAnyCaseFirst() {
        Fixture f;
        f.form->mnuopen->trigger();  // cancelled; the fake keeps what the dialog was given
        QCOMPARE(f.platform.dialog_filters.size(), 1);
        const QStringList names = {"swing.MOV", "phone.Mp4", "old.avi",   "OLD2.AVI",
                                   "cam.MTS",   "x.webm",    "notes.txt", "clip.avi.txt"};
        for (const QString& name : names) f.make(name);

        QFileDialog dialog;
        set_up_open_dialog(dialog, f.platform.dialog_filters[0], f.platform.dialog_selected[0]);
        const QStringList entries = {
            QStringLiteral("AVIファイル (*.avi)"),
            QStringLiteral("動画ファイル (*.mp4 *.mov *.m4v *.3gp *.mkv *.webm *.mts *.m2ts *.ts "
                           "*.mpg *.mpeg *.wmv *.avi)"),
            QStringLiteral("すべてのファイル (*)")};
        QCOMPARE(dialog.nameFilters(), entries);
        QCOMPARE(dialog.selectedNameFilter(), entries[1]);
        dialog.setDirectory(f.dir.path());
        const std::set<QString> videos = {"swing.MOV", "phone.Mp4", "old.avi",
                                          "OLD2.AVI",  "cam.MTS",   "x.webm"};
        QTRY_COMPARE(listed(dialog), videos);
        dialog.selectNameFilter(entries[0]);
        QTRY_COMPARE(listed(dialog), (std::set<QString>{"old.avi", "OLD2.AVI"}));
        dialog.selectNameFilter(entries[2]);
        QTRY_COMPARE(listed(dialog), std::set<QString>(names.begin(), names.end()));
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
        f.service.position = 12;
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        const int beeps = f.platform.beeps;
        const QString bad = f.make("bad.avi");
        f.open(bad);
        QCOMPARE(f.platform.beeps, beeps + 1);  // the refused open only
        QCOMPARE(f.platform.messages.size(), size_t(1));
        const QString message = f.platform.messages[0].text;
        QVERIFY2(message.contains(bad) && message.contains("The file cannot be played.") &&
                     message.endsWith(QStringLiteral("開くことができるのは MP4、MOV、MKV、"
                                                     "WebM、MTS/TS、MPG、WMV、AVI の動画ファイルです。")),
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

    // A picture that is not 4:3 keeps its proportions in Picture1, in the frames the run
    // draws and in the composite; 4:3 still fills the whole area. A stale picture beside
    // the clip's in Picture2 is not merged.
    void aPictureKeepsItsProportionsEverywhere_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QRect>("fit");
        QTest::newRow("16:9") << "0 0 640 360" << QRect(0, 0, 316, 178);
        QTest::newRow("portrait 9:16") << "0 0 360 640" << QRect(0, 0, 133, 236);
        QTest::newRow("4:3") << "0 0 640 480" << QRect(0, 0, 316, 236);
        QTest::newRow("1:1") << "0 0 480 480" << QRect(0, 0, 236, 236);
        QTest::newRow("no size known") << "" << QRect(0, 0, 316, 236);
    }
    void aPictureKeepsItsProportionsEverywhere() {
        QFETCH(QString, source);
        QFETCH(QRect, fit);
        Fixture f;
        Form1& w = *f.form;
        f.service.source = source.toStdString();
        f.service.frame = [](int) {
            QImage frame(64, 64, QImage::Format_RGB32);
            frame.fill(QColor(60, 60, 60));
            return frame;
        };
        const QString path = f.make("clip.mp4");
        f.open(path);
        const std::string destination =
            QStringLiteral(" %1 %2").arg(fit.width()).arg(fit.height()).toStdString();
        QCOMPARE(f.service.commands, f.opening(path, destination));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QCOMPARE(f.service.commands[5], "put avfile destination at 0 0 " + destination);

        w.Picture2->surface().target().fill(Qt::black);  // what an earlier clip left
        w.Option2->setChecked(true);                     // black priority keeps it, if merged
        f.compose(QStringLiteral("1"), 2);               // the seed and one merge
        const QImage composite = w.Picture3->surface().image();
        const QColor inside = composite.pixelColor(fit.width() / 2, fit.height() * 2 / 3);
        QCOMPARE(inside, QColor(60, 60, 60));
        // Beside and below the picture, within the merged region.
        const QColor right = composite.pixelColor(std::min(fit.right() + 3, 312), fit.height() / 2);
        const QColor below = composite.pixelColor(fit.width() / 2, std::min(fit.bottom() + 3, 232));
        QCOMPARE(right, fit.width() < 310 ? QColor(Qt::white) : QColor(60, 60, 60));
        QCOMPARE(below, fit.height() < 230 ? QColor(Qt::white) : QColor(60, 60, 60));
        // The bar's spread does not depend on the shape.
        QCOMPARE(w.HScroll1->maximum(), 150);
    }

    // 40 000 frames (under three minutes of 240 fps slow motion): the bar spans the clip,
    // the read-out names the exact frame, seeks reach every part, a run composes there.
    void aClipLongerThanTheBarIsUsable() {
        Fixture f;
        Form1& w = *f.form;
        f.service.length = "40000";
        f.service.frame = [](int n) {
            // A dark column at a place of the frame's own, so a composite shows which
            // frames went in.
            QImage frame(316, 236, QImage::Format_RGB32);
            frame.fill(Qt::white);
            QPainter(&frame).fillRect(n % 300, 0, 1, 236, Qt::black);
            return frame;
        };
        const QString path = f.make("slowmotion.mp4");
        f.open(path);
        QCOMPARE(f.platform.beeps, 1);  // the refused close only
        QCOMPARE(w.HScroll1->maximum(), 32767);
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.Label1->text(), path);
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(w.HScroll1->isEnabled() && w.Command3->isEnabled());

        // Read-out: the bar in proportion, the label the frame itself.
        f.service.position = 39999;
        f.tick();
        QCOMPARE(w.HScroll1->value(), 32766);
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    39999"));
        f.service.position = 32768;
        f.tick();
        QCOMPARE(w.HScroll1->value(), 26843);  // 32768 · 32767 / 40000 = 26 842.7

        // Seeks: the thumb's value in proportion; its right end is the length (the last
        // frame), its left end frame 0.
        f.service.commands.clear();
        for (int value : {16384, 32767, 1, 0}) f.drag_thumb_to(value);
        const std::vector<std::string> seeks = {"seek avfile to  20001", "seek avfile to  40000",
                                                "seek avfile to  1", "seek avfile to  0"};
        QCOMPARE(f.service.commands, seeks);

        // A run beyond frame 32 767: seed, then two steps of 3 frames, black priority.
        f.drag_thumb_to(30000);  // frame 36 622
        QCOMPARE(f.service.position, 36622);
        w.Option2->setChecked(true);
        f.compose(QStringLiteral("3"), 3);
        const QImage composite = w.Picture3->surface().image();
        for (int n : {36622, 36625, 36628})
            QVERIFY2(composite.pixelColor(n % 300, 100) == QColor(Qt::black),
                     qPrintable(QStringLiteral("frame %1 is missing").arg(n)));
        QCOMPARE(composite.pixelColor(36623 % 300, 100), QColor(Qt::white));
        f.tick();
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    36628"));
        QCOMPARE(w.HScroll1->value(), 30005);
    }

    void aLengthBeyondThirtyTwoBitsLeavesTheWindowAsItWas() {
        Fixture f;
        Form1& w = *f.form;
        f.service.length = "3000000000";
        f.open(f.make("long.avi"));
        QCOMPARE(f.platform.beeps, 2);  // the refused close, then the overflow
        QVERIFY(f.service.open);
        QCOMPARE(w.HScroll1->maximum(), 32767);
        QVERIFY(!w.Timer1->isActive());
        QVERIFY(w.Label1->text().isEmpty());
        QVERIFY(!w.Command1->isEnabled());
    }

    // A file dropped anywhere on the window, and the file the command line names, take
    // the menu's steps with the path given: the same commands, no dialog.
    void aDroppedFileAndTheCommandLineOpenAsTheMenuDoes() {
        Fixture f;
        Form1& w = *f.form;
        const QString dropped = f.make(QStringLiteral("振り子 IMG_0001.MOV"));
        const auto drop_on = [](QWidget* target, const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            data.setText(urls.isEmpty() ? QString() : urls.front().toString());
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &drop);
            QCoreApplication::processEvents();
            return enter.isAccepted();
        };
        // Several files at once are not taken; the text box keeps its text.
        const QString other = f.make("other.mp4");
        QVERIFY(!drop_on(w.Text6, {QUrl::fromLocalFile(dropped), QUrl::fromLocalFile(other)}));
        QVERIFY(f.service.commands.empty());
        // One file on the text box opens it instead of going into the box as text.
        QVERIFY(drop_on(w.Text6, {QUrl::fromLocalFile(dropped)}));
        QCOMPARE(f.acting(), f.opening(dropped, " 316 236"));
        QCOMPARE(w.Label1->text(), dropped);
        QCOMPARE(w.Text6->text(), QStringLiteral("1"));
        QVERIFY(w.Timer1->isActive() && w.Command1->isEnabled());
        QCOMPARE(f.platform.beeps, 1);  // the refused close
        // On the window: the second clip closes the first.
        f.service.commands.clear();
        QVERIFY(drop_on(&w, {QUrl::fromLocalFile(other)}));
        QCOMPARE(f.acting(), f.opening(other, " 316 236"));
        QVERIFY(f.platform.dialog_filters.isEmpty());

        // The command line: the first argument that is no option, as a file: URL too,
        // relative to the current folder.
        QCOMPARE(clip_path_from_arguments({"tambrel"}), std::nullopt);
        QCOMPARE(clip_path_from_arguments({"tambrel", QUrl::fromLocalFile(dropped).toString()}),
                 dropped);
        QCOMPARE(clip_path_from_arguments({"tambrel", "--", "-swing.mp4", "b.mp4"}),
                 QDir::current().absoluteFilePath("-swing.mp4"));
        const QString named = *clip_path_from_arguments({"tambrel", "--x", dropped});
        f.service.commands.clear();
        w.open_clip(named);
        QCOMPARE(f.acting(), f.opening(dropped, " 316 236"));
        QCOMPARE(w.Label1->text(), dropped);
        QVERIFY(f.platform.dialog_filters.isEmpty());
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
        for (QWidget* on :
             {static_cast<QWidget*>(w.Command2), static_cast<QWidget*>(w.Command3),
              static_cast<QWidget*>(w.Command4), static_cast<QWidget*>(w.Command6),
              static_cast<QWidget*>(w.HScroll1), static_cast<QWidget*>(w.CmdGosei),
              static_cast<QWidget*>(w.Cmd_Reserve), static_cast<QWidget*>(w.Cmdgouseistop)})
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
        for (const int position : {57, 58, 59}) {
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
        f.service.position = 57;
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 57);
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    57"));
        QCOMPARE(w.Label2->text(), QStringLiteral("フレーム\n    57"));
    }

    void tickBeyondTheBarPutsItAtItsEndAndKeepsGoing() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = 200;  // past the bar's maximum of 150
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 150);
        f.service.position = 99999;  // past 16 bits
        QMetaObject::invokeMethod(w.Timer1, "timeout");
        QCOMPARE(w.HScroll1->value(), 150);
        QCOMPARE(w.label2_caption(), QStringLiteral("フレーム\n\r    99999"));
        QVERIFY(w.Timer1->isActive());
    }

    void refusedTickBeepsAndShowsTheErrorText() {
        Fixture f;
        Form1& w = *f.form;
        f.open(f.make("one.avi"));
        f.service.position = 12;
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
