// Opening and closing a clip, the transport buttons, seeking by the scroll bar's thumb
// and the position read-out. Every command goes through mci_send; only the open
// handler looks at a result.

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>

#include "app/form1.h"
#include "core/numbers.h"

#include <algorithm>

namespace tambrel {

namespace {

const QString kOpenFilter = QStringLiteral("AVIファイル (*.avi)|*.avi");

// A refused open names the file and the service's reason.
QString open_failure_text(const QString& path, const QString& reason) {
    return QStringLiteral("次のファイルを開けません。\n%1\n\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString destination_command(const PictureBox& picture) {
    return QStringLiteral("put avfile destination at 0 0 ") +
           QString::fromStdString(leading_blank(picture.inner_width())) +
           QString::fromStdString(leading_blank(picture.inner_height()));
}

}  // namespace

void Form1::mnuopen_Click() {
    QString reply;
    Picture3->surface().set_auto_redraw(true);
    Picture3->surface().clear();
    draw_axes();
    gosei_fresh = 1;

    // From here on any failure, the cancelled dialog included, beeps once and leaves
    // the handler with the earlier steps done.
    const auto fail = [this] { platform_.beep(); };
    const std::optional<QString> chosen = platform_.open_file_dialog(this, kOpenFilter);
    if (!chosen) return fail();
    const QString path = *chosen;
    const QString short_form = short_path(path);
    mci_send(QStringLiteral("close avfile"), reply);
    clip_open_ = false;
    const int32_t parent = Picture1->hwnd();
    const int32_t rc = mci_send(QStringLiteral("open ") + short_form +
                                    QStringLiteral(" alias avfile style child parent ") +
                                    QString::fromStdString(plain(parent)),
                                reply);
    if (rc != 0) {
        // The earlier clip is closed: nothing is left to read out or to name.
        show_no_clip();
        Label1->setText(QString());
        platform_.message_box_stop(this, open_failure_text(path, reply),
                                   QCoreApplication::applicationName());
        return;
    }
    clip_open_ = true;
    mci_send(destination_command(*Picture1), reply);
    mci_send(QStringLiteral("status avfile length"), reply);
    const std::optional<int16_t> length = reply_as_int16(reply.toStdString());
    // A length beyond 16 bits does not fit the bar: the clip stays open and fitted,
    // everything after this point is left as it was.
    if (!length) return fail();
    HScroll1->setMaximum(*length);
    Timer1->start();
    Label1->setText(path);
    cmd_enabled(-1, 0);
    CmdGosei->setEnabled(false);
    Cmd_Reserve->setEnabled(false);
}

void Form1::mnuclose_Click() {
    QString reply;
    show_no_clip();
    Label1->setText(QString());
    mci_send(QStringLiteral("close avfile"), reply);
    clip_open_ = false;
    Picture3->surface().set_auto_redraw(true);
    Picture3->surface().clear();
}

void Form1::Command1_Click() {
    QString reply;
    mci_send(destination_command(*Picture1), reply);
    mci_send(QStringLiteral("play avfile window"), reply);
    cmd_enabled(-1, -1);
    Cmd_Reserve->setEnabled(true);
    Cmdgouseistop->setEnabled(true);
}

void Form1::Command2_Click() {
    QString reply;
    mci_send(QStringLiteral("pause avfile"), reply);
}

void Form1::Command3_Click() {
    QString reply;
    mci_send(QStringLiteral("step avfile"), reply);
    CmdGosei->setEnabled(true);
}

void Form1::Command4_Click() {
    QString reply;
    mci_send(QStringLiteral("step avfile reverse"), reply);
    CmdGosei->setEnabled(true);
}

void Form1::Cmd_Reserve_Click() {
    QString reply;
    mci_send(QStringLiteral("seek avfile to ") + QString::fromStdString(leading_blank(0)), reply);
}

void Form1::HScroll1_Scroll() {
    if (tick_sets_bar_) return;  // the read-out moved the held thumb, not the user
    QString reply;
    Timer1->stop();
    // While the thumb is dragged the bar's value trails the thumb; the thumb is where
    // the user wants to be.
    const int target = HScroll1->sliderPosition();
    mci_send(QStringLiteral("seek avfile to ") + QString::fromStdString(leading_blank(target)),
             reply);
    Timer1->start();
    CmdGosei->setEnabled(true);
}

void Form1::Timer1_Timer() {
    // With no clip open every query would be refused, with a beep at every tick.
    if (!clip_open_) return show_no_clip();
    QString reply;
    mci_send(QStringLiteral("status avfile position"), reply);
    // A position that does not fit the bar puts it at its nearest end; the label
    // still shows the reply as received.
    const double position = read_number(reply.toStdString());
    const std::optional<int16_t> as_int = to_int16(position);
    int bar = as_int ? *as_int : (position < 0 ? HScroll1->minimum() : HScroll1->maximum());
    bar = std::clamp(bar, HScroll1->minimum(), HScroll1->maximum());
    if (HScroll1->value() != bar) {
        const QScopedValueRollback<bool> quiet(tick_sets_bar_, true);
        HScroll1->setValue(bar);
    }
    set_label2_caption(QStringLiteral("フレーム") + QChar(10) + QChar(13) + QStringLiteral("    ") +
                       reply);
}

void Form1::show_no_clip() {
    Timer1->stop();
    set_label2_caption(QStringLiteral("フレーム") + QChar(10) + QChar(13) +
                       QStringLiteral("    なし"));
}

}  // namespace tambrel
