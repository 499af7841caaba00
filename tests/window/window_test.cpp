// The window as it stands after start-up, command availability and the three exits.

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "window/icon.h"
#include "app/translations.h"
#include "support/form_fixture.h"

using namespace tambrel;
using namespace tambrel::testing;

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void controlsStandWhereTheWindowDefinesThem() {
        FormFixture<> f;
        Form1& w = *f.form;
        QCOMPARE(w.client_area()->size(), QSize(964, 453));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tambrel "));
        QCOMPARE(w.Command1->geometry(), QRect(144, 48, 65, 33));
        QCOMPARE(w.HScroll1->geometry(), QRect(48, 96, 129, 17));
        QCOMPARE(w.CmdGosei->geometry(), QRect(48, 256, 129, 33));
        QCOMPARE(w.Option1->geometry(), QRect(24, 24, 73, 20));
        QCOMPARE(w.Text5->geometry(), QRect(792, 392, 49, 25));
        QCOMPARE(w.Picture1->pos(), QPoint(224, 40));
        QCOMPARE(w.Picture3->pos(), QPoint(568, 40));
        QCOMPARE(w.Picture2->pos(), QPoint(216, 472));
        // The frame picture lies wholly below the client area at the start-up size.
        QVERIFY(w.Picture2->y() > w.client_area()->height());
        QCOMPARE(w.Label4->text(), QStringLiteral("x座標"));
        QCOMPARE(w.Label5->text(), QStringLiteral("ｙ座標"));
        QCOMPARE(w.Cmd_ychange->text(), QStringLiteral("ｙ軸変更"));
        QCOMPARE(w.Label6->text(), QStringLiteral("Δｘ"));
        QCOMPARE(w.Frame1->title(), QStringLiteral("合成方法の選択"));
        QCOMPARE(w.Text6->text(), QStringLiteral("1"));
        QVERIFY(w.Text1->text().isEmpty() && w.Label1->text().isEmpty());
        QCOMPARE(w.mnufile->title(), QStringLiteral("ﾌｧｲﾙ（&F）"));
        // The menu's own items first and last; saving and copying stand between them.
        QStringList items;
        for (const QAction* a : w.mnufile->actions())
            if (!a->isSeparator()) items << a->text();
        QCOMPARE(items.mid(0, 2),
                 QStringList({QStringLiteral("開く(&O)"), QStringLiteral("閉じる(&C)")}));
        QCOMPARE(items.last(), QStringLiteral("終了(&X)"));
        // The status bar lies under the client area, which keeps its size.
        QVERIFY(w.statusBar()->isVisible());
        QCOMPARE(w.statusBar()->y(), w.client_area()->geometry().bottom() + 1);
        // Text boxes stay on top of the labels that run under them.
        const QWidget* at = w.client_area()->childAt(w.Text1->geometry().center());
        QCOMPARE(at ? at->objectName() : QString(), QStringLiteral("Text1"));
    }

    void fontsRenderInAJapaneseGothic() {
        FormFixture<> f;
        Form1& w = *f.form;
        QCOMPARE(w.Label2->font().pointSizeF(), 11.25);
        QCOMPARE(w.Text6->font().pointSizeF(), 11.25);
        QCOMPARE(w.Label3->font().pointSizeF(), 10.5);
        // The design face is mapped to an installed Japanese proportional Gothic.
        QCOMPARE(QFontInfo(w.Label3->font()).family(), QStringLiteral("IPAPGothic"));
        QVERIFY(QFontMetrics(w.Label3->font()).inFont(QChar(0x5408)));  // 合
    }

    void picturesTakeTheirStartUpSizes() {
        FormFixture<> f;
        Form1& w = *f.form;
        QCOMPARE(QSize(w.Picture1->outer_width(), w.Picture1->outer_height()), QSize(320, 240));
        QCOMPARE(QSize(w.Picture2->outer_width(), w.Picture2->outer_height()), QSize(320, 240));
        QCOMPARE(QSize(w.Picture3->outer_width(), w.Picture3->outer_height()), QSize(370, 290));
        QCOMPARE(QSize(w.Picture1->inner_width(), w.Picture1->inner_height()), QSize(316, 236));
        QCOMPARE(QSize(w.Picture2->inner_width(), w.Picture2->inner_height()), QSize(316, 236));
        QCOMPARE(QSize(w.Picture3->inner_width(), w.Picture3->inner_height()), QSize(366, 286));
        QCOMPARE(w.Picture3->surface().point(200, 200), kWhite);
    }

    void onlyTheAlwaysAvailableCommandsAreOnAfterStartUp() {
        FormFixture<> f;
        Form1& w = *f.form;
        for (QWidget* off :
             {static_cast<QWidget*>(w.Command1), static_cast<QWidget*>(w.Command2),
              static_cast<QWidget*>(w.Command3), static_cast<QWidget*>(w.Command4),
              static_cast<QWidget*>(w.Command6), static_cast<QWidget*>(w.HScroll1),
              static_cast<QWidget*>(w.CmdGosei), static_cast<QWidget*>(w.Cmd_Reserve),
              static_cast<QWidget*>(w.Cmdgouseistop)})
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
        for (QWidget* on : {static_cast<QWidget*>(w.Cmd_End), static_cast<QWidget*>(w.Cmd_xchange),
                            static_cast<QWidget*>(w.Cmd_ychange), static_cast<QWidget*>(w.Text6),
                            static_cast<QWidget*>(w.Option1), static_cast<QWidget*>(w.Option2)})
            QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
        QVERIFY(w.Option1->isChecked() && !w.Option2->isChecked());
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(w.Timer1->interval(), 100);
        QVERIFY(w.ProgressBar1->isHidden());
        QCOMPARE(w.HScroll1->minimum(), 0);
        QCOMPARE(w.HScroll1->maximum(), 32767);
        QCOMPARE(w.gosei_fresh, int16_t(1));
        QCOMPARE(w.gosei_running, int16_t(0));
        QCOMPARE(f.platform.beeps, 0);
    }

    void cmdEnabledSwitchesTheGroupAndAlwaysEnablesStart() {
        FormFixture<> f;
        Form1& w = *f.form;
        w.Cmd_Reserve->setEnabled(true);
        w.cmd_enabled(0, 0);
        QVERIFY(w.CmdGosei->isEnabled());
        QVERIFY(!w.Command1->isEnabled() && !w.HScroll1->isEnabled());
        QVERIFY(w.Cmd_Reserve->isEnabled());  // not part of the group
        w.cmd_enabled(-1, 0);
        QVERIFY(w.Command1->isEnabled() && !w.Command2->isEnabled() && !w.Command6->isEnabled());
        w.cmd_enabled(-1, -1);
        for (QWidget* on : {static_cast<QWidget*>(w.Command1), static_cast<QWidget*>(w.Command2),
                            static_cast<QWidget*>(w.Command3), static_cast<QWidget*>(w.Command4),
                            static_cast<QWidget*>(w.Command6), static_cast<QWidget*>(w.HScroll1),
                            static_cast<QWidget*>(w.CmdGosei)})
            QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
        QVERIFY(!w.Cmdgouseistop->isEnabled());
    }

    void menuExitClosesTheClipWithOneBeepWhenNoneIsOpen() {
        FormFixture<> f;
        f.service.script["close avfile"] = {1, ""};
        f.form->mnuend->trigger();
        QCOMPARE(f.service.commands, std::vector<std::string>{"close avfile"});
        QCOMPARE(f.platform.beeps, 1);
        QVERIFY(f.platform.ended);
        QCOMPARE(f.platform.clipboard_clears, 0);
    }

    void closeBoxBehavesLikeTheMenuExit() {
        FormFixture<> f;
        f.service.script["close avfile"] = {1, ""};
        f.platform.clipboard = QImage(4, 4, QImage::Format_RGB32);
        f.form->close();
        QCOMPARE(f.service.count("close avfile"), 1);
        QCOMPARE(f.platform.beeps, 1);
        QVERIFY(f.platform.ended);
        QVERIFY(f.platform.clipboard.has_value());
    }

    void endButtonEmptiesTheClipboardWithoutClosingTheClip() {
        FormFixture<> f;
        f.platform.clipboard = QImage(4, 4, QImage::Format_RGB32);
        QTest::mouseClick(f.form->Cmd_End, Qt::LeftButton);
        QVERIFY(f.service.commands.empty());
        QCOMPARE(f.platform.beeps, 0);
        QVERIFY(!f.platform.clipboard.has_value());
        QVERIFY(f.platform.ended);
    }

    void noHandlerRunsAfterAnExit() {
        FormFixture<> f;
        f.form->mnuend->trigger();
        const size_t sent = f.service.commands.size();
        f.form->Timer1->setInterval(1);
        QMetaObject::invokeMethod(f.form->Timer1, "timeout");
        f.form->mnuopen->trigger();
        QCOMPARE(f.service.commands.size(), sent);
        QVERIFY(f.platform.dialog_filters.isEmpty());
    }

    void iconIsASixteenColourPendulum() {
        const QImage icon = pendulum_icon();
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(icon.colorCount() <= 16);
        QCOMPARE(QColor(icon.pixel(0, 31)), QColor(0, 255, 0));
        QCOMPARE(QColor(icon.pixel(15, 27)), QColor(255, 0, 0));  // centre bob
        QCOMPARE(QColor(icon.pixel(15, 8)), QColor(0, 0, 0));    // its string
        // The window carries the whole set, each size drawn for itself.
        FormFixture<> f;
        QList<QSize> sizes;
        for (const int side : kPendulumIconSizes) sizes.append(QSize(side, side));
        QCOMPARE(f.form->windowIcon().availableSizes(), sizes);
        const QImage shown = f.form->windowIcon().pixmap(QSize(32, 32)).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32),
                 icon.convertToFormat(QImage::Format_RGB32));
    }

    void qtsOwnDialogsSpeakTheDesktopsLanguage() {
        // A translator takes itself out of the application when it goes.
        const std::unique_ptr<QTranslator> english(
            install_qt_translations(*qApp, QLocale(QLocale::English, QLocale::UnitedStates)));
        const std::unique_ptr<QTranslator> japanese(
            install_qt_translations(*qApp, QLocale(QLocale::Japanese, QLocale::Japan)));
        QVERIFY2(japanese, "Qt's Japanese translations are not installed");

        // The window's own file dialog, as the open item shows it.
        QStringList shown;
        QTimer::singleShot(0, qApp, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            for (const char* label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
                if (auto* l = dialog->findChild<QLabel*>(label)) shown << l->text();
            if (auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox"))
                for (QAbstractButton* b : box->buttons()) shown << b->text();
            dialog->reject();
        });
        QtPlatform platform;
        QVERIFY(!platform.open_file_dialog(nullptr, QStringLiteral("AVIファイル (*.avi)|*.avi"), 0));
        QCOMPARE(shown.size(), 5);
        const auto japanese_text = [](const QString& text) {
            return std::any_of(text.begin(), text.end(), [](QChar c) {
                return c.unicode() >= 0x3040 && c.unicode() <= 0x9fff;
            });
        };
        for (const QString& text : shown)
            QVERIFY2(japanese_text(text), qPrintable(shown.join('|')));
        // The dialog's type column.
        const QFileIconProvider types;
        const QString folder = types.type(QFileInfo(QDir::tempPath()));
        QVERIFY2(japanese_text(folder), qPrintable(folder));

        // The window's own captions stay as they are.
        FormFixture<> f;
        QCOMPARE(f.form->CmdGosei->text(), QStringLiteral("合成開始"));
        QCOMPARE(f.form->mnuopen->text(), QStringLiteral("開く(&O)"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
