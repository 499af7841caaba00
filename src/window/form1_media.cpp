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

#include "window/form1.h"
#include "core/numbers.h"
#include "core/picture_fit.h"

namespace tambrel {

namespace {

// Phones and cameras write their extensions in capitals as often as not; the dialog
// matches them without regard to case.
const QString kOpenFilter = QStringLiteral(
    "AVIファイル (*.avi)|*.avi|"
    "動画ファイル (*.mp4 *.mov *.m4v *.3gp *.mkv *.webm *.mts *.m2ts *.ts *.mpg *.mpeg *.wmv "
    "*.avi)|*.mp4;*.mov;*.m4v;*.3gp;*.mkv;*.webm;*.mts;*.m2ts;*.ts;*.mpg;*.mpeg;*.wmv;*.avi|"
    "すべてのファイル (*)|*");
constexpr int kVideoFilesEntry = 1;  // selected when the dialog opens

// Added under the service's own reason when it refuses a file.
const QString kWhatOpens = QStringLiteral(
    "開くことができるのは MP4、MOV、MKV、WebM、MTS/TS、MPG、WMV、AVI の動画ファイルです。");

// A refused open names the file, the service's reason and what can be opened.
QString open_failure_text(const QString& path, const QString& reason) {
    return QStringLiteral("次のファイルを開けません。\n%1\n\n%2\n%3")
        .arg(QDir::toNativeSeparators(path), reason, kWhatOpens);
}

// "put avfile destination at 0 0 " and the size in leading-blank form, as the command
// has always been sent; the fit keeps the left and top edges at 0.
QString destination_command(QRect rect) {
    return QStringLiteral("put avfile destination at ") + QString::fromStdString(plain(rect.x())) +
           QLatin1Char(' ') + QString::fromStdString(plain(rect.y())) + QLatin1Char(' ') +
           QString::fromStdString(leading_blank(rect.width())) +
           QString::fromStdString(leading_blank(rect.height()));}

}  // namespace

QRect Form1::clip_destination() const {
    const QSize area(Picture1->inner_width(), Picture1->inner_height());
    return clip_source_ ? picture_fit(*clip_source_, area) : QRect(QPoint(0, 0), area);
}

void Form1::mnuopen_Click() { open_clip(std::nullopt); }

void Form1::open_clip(const std::optional<QString>& given) {
    QString reply;
    Picture3->surface().set_auto_redraw(true);
    Picture3->surface().clear();
    draw_axes();
    gosei_fresh = 1;

    // From here on any failure, the cancelled dialog included, beeps once and leaves
    // the handler with the earlier steps done.
    const auto fail = [this] { platform_.beep(); };
    const std::optional<QString> chosen =
        given ? given : platform_.open_file_dialog(this, kOpenFilter, kVideoFilesEntry);
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
    // The picture's shape decides its fit; a service that cannot tell gets the whole area.
    clip_source_.reset();
    if (mci_send(QStringLiteral("where avfile source"), reply) == 0)
        clip_source_ = source_size_from_reply(reply.toStdString());
    mci_send(destination_command(clip_destination()), reply);
    mci_send(QStringLiteral("status avfile length"), reply);
    // A length beyond the 32-bit range cannot be used: the clip stays open and fitted,
    // everything after this point is left as it was.
    const std::optional<ScrollMap> map = ScrollMap::for_length(read_number(reply.toStdString()));
    if (!map) return fail();
    scroll_map_ = *map;
    HScroll1->setMaximum(scroll_map_.bar_maximum());
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
    mci_send(destination_command(clip_destination()), reply);
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
    const int32_t target = scroll_map_.frame_at(HScroll1->sliderPosition());
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
    // still shows the reply as received, the exact frame also where the bar is spread.
    const int bar = scroll_map_.bar_at(read_number(reply.toStdString()), HScroll1->minimum(),
                                       HScroll1->maximum());
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
