#include "window/worksheet/worksheet.h"

#include "core/picture_fit.h"

#include <QAction>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

#include "window/form1.h"
#include "core/numbers.h"
#include "export/picture_file.h"
#include "export/table_text.h"
#include "window/worksheet/auto_record.h"
#include "scale/axes_geometry.h"
#include "window/worksheet/calibration_dialog.h"
#include "window/worksheet/full_save.h"
#include "scale/full_scale.h"
#include "window/worksheet/marker_overlay.h"
#include "window/worksheet/point_table_window.h"
#include "window/command_tap.h"
#include "window/module1.h"
#include "media/service/command_parser.h"

namespace tambrel {

namespace {

// A whole reply as one number ("29.97", "533.333"); nullopt for anything else.
std::optional<double> reply_number(const QString& reply) {
    const std::string text = reply.trimmed().toStdString();
    if (text.empty()) return std::nullopt;
    size_t consumed = 0;
    const double value = read_number(text, &consumed);
    if (consumed != text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

const QString kPictureFilter = picture_filter();
const QString kCsvFilter = QStringLiteral("CSV ファイル (*.csv)|*.csv");

}  // namespace

Worksheet::Worksheet(Form1& form, Module1& module1, Platform& platform, CommandTap& tap)
    : QObject(&form), form_(form), module1_(module1), platform_(platform) {
    setObjectName(QStringLiteral("Worksheet"));
    build_menus();
    build_status_bar();
    overlay_ = new MarkerOverlay(form_.Picture3->client());
    table_window_ = new PointTableWindow(&form_);
    full_save_ = new FullResolutionSave(form_, platform_, this);
    connect(table_window_, &PointTableWindow::undoRequested, this, &Worksheet::undo_point);
    connect(table_window_, &PointTableWindow::clearRequested, this, &Worksheet::clear_points);
    connect(table_window_, &PointTableWindow::copyRequested, this, &Worksheet::copy_table);
    connect(table_window_, &PointTableWindow::saveRequested, this, &Worksheet::save_table);
    connect(table_window_, &PointTableWindow::fitChosen, this, [this] {
        if (!platform_.ending()) refresh();
    });
    connect(table_window_, &PointTableWindow::rowSelected, this, [this](int k) {
        if (!platform_.ending()) highlight(k >= 0 ? std::optional<int>(k) : std::nullopt);
    });

    recorder_ = new AutoRecorder(&form_);
    connect(recorder_, &AutoRecorder::done, this, &Worksheet::auto_recorded);
    connect(recorder_, &AutoRecorder::failed, this, [this](const QString& why) {
        if (!platform_.ending())
            platform_.message_box_stop(&form_,
                                       QStringLiteral("自動で位置を記録できませんでした。\n") + why,
                                       form_.windowTitle());
    });

    // Not modal to the application: the dialog waits for its answer without a nested
    // event loop, and a composition run goes on behind it.
    calibration_dialog_ = new CalibrationDialog(&form_);
    calibration_dialog_->setWindowModality(Qt::WindowModal);
    calibration_dialog_->setFont(form_.font());
    connect(calibration_dialog_, &QDialog::accepted, this, [this] {
        if (pending_a_ && pending_b_ &&
            calibration_.set_reference(*pending_a_, *pending_b_, calibration_dialog_->length(),
                                       calibration_dialog_->unit(), shown_scale())) {
            last_length_ = calibration_dialog_->length();
            last_unit_ = calibration_dialog_->unit();
        }
        end_calibration_mode();
    });
    connect(calibration_dialog_, &QDialog::rejected, this, [this] { end_calibration_mode(); });

    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), &form_);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, [this] { end_calibration_mode(); });

    tap.listener = [this](std::string_view command, int32_t rc, std::string_view reply) {
        on_command(command, rc, reply);
    };

    // After the window's own handlers of the same events.
    const auto live = [this] { return !platform_.ending(); };
    connect(form_.Picture3, &PictureBox::mouseDown, this,
            [this, live](Qt::MouseButtons b, Qt::KeyboardModifiers, float x, float y) {
                if (live() && (b & Qt::LeftButton)) on_press(x, y);
            });
    connect(form_.Picture3, &PictureBox::mouseMove, this,
            [this, live](Qt::MouseButtons b, Qt::KeyboardModifiers, float x, float y) {
                if (live()) on_move(b, x, y);
            });
    connect(form_.Picture3, &PictureBox::mouseUp, this,
            [this, live](Qt::MouseButtons b, Qt::KeyboardModifiers, float x, float y) {
                if (live() && (b & Qt::LeftButton)) on_release(x, y);
            });
    // The composite emptied without a media command: the clear button, and an open
    // whose dialog was cancelled (the composite is cleared before the dialog).
    const auto emptied_check = [this, live] {
        if (live() && form_.gosei_fresh == 1) composite_emptied();
    };
    connect(form_.Command6, &QPushButton::clicked, this, emptied_check);
    connect(form_.mnuopen, &QAction::triggered, this, emptied_check);
    connect(form_.Cmd_xchange, &QPushButton::clicked, this, [this, live] {
        if (live()) refresh();
    });
    connect(form_.Cmd_ychange, &QPushButton::clicked, this, [this, live] {
        if (live()) refresh();
    });
    refresh();
}

Worksheet::~Worksheet() = default;

void Worksheet::build_menus() {
    QMenu* file = form_.mnufile;
    const auto action = [this](const QString& name, const QString& text, auto slot) {
        auto* a = new QAction(text, &form_);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, slot] {
            if (!platform_.ending()) (this->*slot)();
        });
        return a;
    };
    mnusave = action(QStringLiteral("mnusave"), QStringLiteral("合成画像を保存(&S)…"),
                     &Worksheet::save_composite);
    mnusave->setShortcut(QKeySequence::Save);
    mnucopy = action(QStringLiteral("mnucopy"), QStringLiteral("合成画像をコピー"),
                     &Worksheet::copy_composite);
    // A text box with the focus keeps Ctrl+C for its own text.
    mnucopy->setShortcut(QKeySequence::Copy);
    mnusavefull = new QAction(QStringLiteral("元の解像度で保存…"), &form_);
    mnusavefull->setObjectName(QStringLiteral("mnusavefull"));
    mnusavefull->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    mnusavescaled = new QAction(QStringLiteral("元の解像度で保存（目盛付き）…"), &form_);
    mnusavescaled->setObjectName(QStringLiteral("mnusavescaled"));
    for (QAction* a : {mnusavefull, mnusavescaled})
        connect(a, &QAction::triggered, this, [this, scaled = a == mnusavescaled] {
            if (!platform_.ending()) save_full_resolution(scaled);
        });
    file->insertSeparator(form_.mnuend);
    file->insertAction(form_.mnuend, mnusave);
    file->insertAction(form_.mnuend, mnusavefull);
    file->insertAction(form_.mnuend, mnusavescaled);
    file->insertAction(form_.mnuend, mnucopy);
    file->insertSeparator(form_.mnuend);

    mnumeasure = form_.menuBar()->addMenu(QStringLiteral("測定(&M)"));
    mnumeasure->setObjectName(QStringLiteral("mnumeasure"));
    mnucalibrate = action(QStringLiteral("mnucalibrate"), QStringLiteral("長さの基準(&L)…"),
                          &Worksheet::start_calibration);
    mnuuncalibrate = action(QStringLiteral("mnuuncalibrate"), QStringLiteral("目盛に戻す"),
                            &Worksheet::uncalibrate);
    mnucapture = action(QStringLiteral("mnucapture"), QStringLiteral("撮影速度(&R)…"),
                        &Worksheet::ask_capture_rate);
    mnurecord = new QAction(QStringLiteral("位置を記録(&P)"), &form_);
    mnurecord->setObjectName(QStringLiteral("mnurecord"));
    mnurecord->setCheckable(true);
    connect(mnurecord, &QAction::toggled, this, [this](bool on) {
        if (!platform_.ending()) set_recording(on);
    });
    mnuautorecord = action(QStringLiteral("mnuautorecord"), QStringLiteral("自動で位置を記録(&A)"),
                           &Worksheet::auto_record);
    mnutable =
        action(QStringLiteral("mnutable"), QStringLiteral("記録表(&T)"), &Worksheet::show_table);
    mnuundo = action(QStringLiteral("mnuundo"), QStringLiteral("最後の点を取り消す"),
                     &Worksheet::undo_point);
    mnuundo->setShortcut(QKeySequence::Undo);
    mnuclearpoints = action(QStringLiteral("mnuclearpoints"), QStringLiteral("記録をすべて消去"),
                            &Worksheet::clear_points);
    mnumeasure->addAction(mnucalibrate);
    mnumeasure->addAction(mnuuncalibrate);
    mnumeasure->addSeparator();
    mnumeasure->addAction(mnucapture);
    mnumeasure->addSeparator();
    mnumeasure->addAction(mnurecord);
    mnumeasure->addAction(mnuautorecord);
    mnumeasure->addAction(mnutable);
    mnumeasure->addAction(mnuundo);
    mnumeasure->addAction(mnuclearpoints);
}

void Worksheet::build_status_bar() {
    QStatusBar* bar = form_.statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    const auto label = [bar](const QString& name) {
        auto* l = new QLabel(bar);
        l->setObjectName(name);
        l->setContentsMargins(6, 0, 6, 0);
        bar->addPermanentWidget(l);
        return l;
    };
    time_label = label(QStringLiteral("time"));
    interval_label = label(QStringLiteral("interval"));
    tick_label = label(QStringLiteral("tick"));
    fit_label = label(QStringLiteral("fit"));
}

// --- what the media commands tell ---------------------------------------------------

void Worksheet::on_command(std::string_view command, int32_t rc, std::string_view reply) {
    // The service reads commands with the same parser: what it refused to parse it did
    // not carry out either.
    const media::ParseResult parsed = media::parse_command(command);
    if (!parsed.command || media::alias_of(*parsed.command) != "avfile") return;
    const media::Command& sent = *parsed.command;
    if (const auto* open = std::get_if<media::OpenCommand>(&sent)) {
        if (rc != 0) return;
        clip_open_ = true;
        clip_path_ = QString::fromStdString(open->path);
        timing_ = {};
        time_refused_ = false;
        source_size_.reset();
        destination_size_.reset();
        last_position_.clear();
        timed_position_.reset();
        current_ms_.reset();
        // Asked once the open handler is done, through mci_send like any command.
        QTimer::singleShot(0, this, [this] { ask_clip_info(); });
    } else if (std::holds_alternative<media::CloseCommand>(sent)) {
        // Both ways to close (the menu, and opening the next clip) clear the composite,
        // also when there was no clip to close.
        clip_open_ = false;
        current_ms_.reset();
        composite_emptied();
    } else if (const auto* put = std::get_if<media::DestinationCommand>(&sent)) {
        if (rc != 0 || !put->rect) return;
        const media::DestinationRect& r = *put->rect;
        destination_size_ = QSizeF(r.width, r.height);
        destination_rect_ = QRectF(r.x, r.y, r.width, r.height);
    } else if (std::holds_alternative<media::WhereCommand>(sent)) {
        // The open handler asks for the picture's size; its answer serves here too.
        if (rc != 0) return;
        if (const auto size = source_size_from_reply(reply)) source_size_ = QSizeF(*size);
    } else if (const auto* status = std::get_if<media::StatusCommand>(&sent)) {
        const QString answer = QString::fromUtf8(reply.data(), qsizetype(reply.size()));
        if (status->item == media::StatusItem::Position && rc == 0) {
            last_position_ = answer;
            if (last_position_ != timed_position_ && !time_pending_) {
                time_pending_ = true;
                QTimer::singleShot(0, this, [this] { ask_time(); });
            }
        } else if (status->item == media::StatusItem::Time && clip_open_) {
            // Whoever asked (the run's record does, for every frame it takes), the
            // answer is the time of the position last seen.
            current_ms_ = rc == 0 ? reply_number(answer) : std::nullopt;
            // A service that cannot tell times is asked no more for this clip: each
            // refusal beeps.
            if (!current_ms_) time_refused_ = true;
            timed_position_ = last_position_;
        }
    }
}

std::optional<double> Worksheet::ask_number(const char* command) {
    QString reply;
    if (module1_.mci_send(QString::fromLatin1(command), reply) != 0) return std::nullopt;
    return reply_number(reply);
}

void Worksheet::ask_clip_info() {
    if (!clip_open_ || platform_.ending()) return;
    timing_.frame_rate = ask_number("status avfile frame rate").value_or(0);
    timing_.file_capture_rate = ask_number("status avfile capture rate").value_or(0);
    ask_time();
}

void Worksheet::ask_time() {
    time_pending_ = false;
    if (!clip_open_ || time_refused_ || platform_.ending()) return;
    // Asked only when no one has since the position was seen; the answer is read as it
    // passes (on_command).
    if (timed_position_ != last_position_) {
        QString reply;
        module1_.mci_send(QStringLiteral("status avfile time"), reply);
    }
    refresh();
}

std::optional<int64_t> Worksheet::ask_position() {
    const auto n = ask_number("status avfile position");
    if (!n || *n < 0) return std::nullopt;
    return static_cast<int64_t>(std::llround(*n));
}

// --- the composition run --------------------------------------------------------------

void Worksheet::run_started(int16_t steps) {
    record_.start_run(steps);
    refresh();
}

void Worksheet::seeded() {
    // Only while a clip is open: without one every question would beep.
    std::optional<int64_t> frame;
    std::optional<double> ms;
    if (clip_open_) {
        frame = ask_position();
        if (!time_refused_) ms = ask_number("status avfile time");
    }
    record_.seed(frame, ms);
    points_.clear();
    points_changed();
}

void Worksheet::merged() {
    std::optional<int64_t> frame;
    std::optional<double> ms;
    if (clip_open_) {
        frame = ask_position();
        if (!time_refused_) ms = ask_number("status avfile time");
    }
    // The pass has just read the option; nothing can have changed it since.
    record_.merge(frame, ms, form_.Option1->isChecked() ? Priority::White : Priority::Black);
    refresh();
}

void Worksheet::composite_emptied() {
    // Positions being found for the composite that was are of no use now.
    recorder_->cancel();
    record_.clear();
    points_.clear();
    points_changed();
}

// --- calibration ------------------------------------------------------------------------

void Worksheet::start_calibration() {
    calibrating_ = true;
    band_from_.reset();
    band_to_.reset();
    escape_->setEnabled(true);
    form_.Picture3->client()->setCursor(Qt::CrossCursor);
    show_mode_hint();
}

void Worksheet::end_calibration_mode() {
    calibrating_ = false;
    band_from_.reset();
    band_to_.reset();
    pending_a_.reset();
    pending_b_.reset();
    escape_->setEnabled(false);
    overlay_->set_band(std::nullopt, std::nullopt);
    form_.Picture3->client()->setCursor(mnurecord->isChecked() ? Qt::CrossCursor
                                                               : Qt::UpArrowCursor);
    refresh();
    show_mode_hint();
}

void Worksheet::uncalibrate() {
    calibration_.clear();
    refresh();
}

void Worksheet::finish_calibration_drag(QPointF a, QPointF b) {
    const double pixels = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (pixels < 3.0) {
        band_from_.reset();
        band_to_.reset();
        overlay_->set_band(std::nullopt, std::nullopt);
        form_.statusBar()->showMessage(QStringLiteral(
            "短すぎます。長さのわかるものの端から端までドラッグしてください（Esc で中止）"));
        return;
    }
    pending_a_ = a;
    pending_b_ = b;
    calibration_dialog_->prepare(pixels, last_length_, last_unit_);
    calibration_dialog_->open();
}

ShownScale Worksheet::shown_scale() const {
    if (!source_size_ || !destination_size_) return {};
    return {source_size_->width() / destination_size_->width(),
            source_size_->height() / destination_size_->height()};
}

// --- time ---------------------------------------------------------------------------------

void Worksheet::ask_capture_rate() {
    if (!timing_.known()) return;
    auto* dialog = new QInputDialog(&form_);
    dialog->setObjectName(QStringLiteral("CaptureRateDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("撮影速度"));
    dialog->setInputMode(QInputDialog::DoubleInput);
    dialog->setDoubleDecimals(3);
    dialog->setDoubleRange(0.001, 1000000.0);
    dialog->setDoubleValue(timing_.capture_rate());
    dialog->setLabelText(
        QStringLiteral("撮影したときのコマ数（コマ/秒）を入力してください。\n"
                       "スローモーションの動画では、再生のコマ数（この動画は %1 コマ/秒）より"
                       "大きくなります。")
            .arg(QString::number(timing_.frame_rate, 'g', 6)));
    dialog->setOkButtonText(QStringLiteral("OK"));
    dialog->setCancelButtonText(QStringLiteral("キャンセル"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QInputDialog::accepted, this, [this, dialog] {
        const double rate = dialog->doubleValue();
        const double file =
            timing_.file_capture_rate > 0 ? timing_.file_capture_rate : timing_.frame_rate;
        if (std::abs(rate - file) < 0.0005)
            timing_.stated_capture_rate.reset();
        else
            timing_.stated_capture_rate = rate;
        refresh();
    });
    dialog->open();
}

QString Worksheet::seconds_text(double seconds) const {
    const double magnitude = std::abs(seconds);
    int decimals = 3;
    // Slow motion makes intervals of a millisecond or less: keep three digits of them.
    if (magnitude > 0 && magnitude < 0.01)
        decimals = std::min(9, 2 - static_cast<int>(std::floor(std::log10(magnitude))));
    return QString::number(seconds, 'f', decimals);
}

// --- recorded points -----------------------------------------------------------------------

void Worksheet::set_recording(bool on) {
    if (mnurecord->isChecked() != on) mnurecord->setChecked(on);  // toggled comes back here
    if (!calibrating_)
        form_.Picture3->client()->setCursor(on ? Qt::CrossCursor : Qt::UpArrowCursor);
    if (on) show_table();
    show_mode_hint();
}

void Worksheet::on_press(float x, float y) {
    if (calibrating_) {
        if (calibration_dialog_->isVisible()) return;
        band_from_ = QPointF(x, y);
        band_to_ = band_from_;
        overlay_->set_band(band_from_, band_to_);
        return;
    }
    // A marker pressed is dragged to correct its point; recording, a press that does not
    // move records the next point there when released.
    if (const auto k = marker_at(x, y)) {
        drag_k_ = k;
        pressed_at_ = QPointF(x, y);
        drag_moved_ = false;
        highlight(k);
        table_window_->select_row(k);
        return;
    }
    if (!mnurecord->isChecked()) return;
    // Inside the picture only: the scale's margin holds no merged frame.
    const float width = float(form_.Picture1->outer_width() - 4);
    const float height = float(form_.Picture1->outer_height() - 4);
    if (x < 0 || y < 0 || x > width || y > height) {
        form_.statusBar()->showMessage(QStringLiteral("合成画像の枠の中をクリックしてください"),
                                       4000);
        return;
    }
    const int k = points_.next_k();
    points_.add({x, y, record_.time_of(k, timing_.frame_rate)});
    points_changed();
}

void Worksheet::on_move(Qt::MouseButtons buttons, float x, float y) {
    if (drag_k_ && (buttons & Qt::LeftButton)) {
        if (!drag_moved_ && std::hypot(x - pressed_at_.x(), y - pressed_at_.y()) < 2) return;
        drag_moved_ = true;
        points_.move(*drag_k_, x, y);
        refresh();
        return;
    }
    if (!calibrating_ || !band_from_ || !(buttons & Qt::LeftButton)) return;
    band_to_ = QPointF(x, y);
    overlay_->set_band(band_from_, band_to_);
}

void Worksheet::on_release(float x, float y) {
    if (drag_k_) {
        const int k = *drag_k_;
        drag_k_.reset();
        if (drag_moved_) {
            points_.move(k, x, y);
            points_changed();
        } else if (mnurecord->isChecked()) {
            // Not a drag after all: the click the recording waits for.
            const QPointF at = pressed_at_;
            const int next = points_.next_k();
            points_.add({float(at.x()), float(at.y()), record_.time_of(next, timing_.frame_rate)});
            points_changed();
        }
        return;
    }
    if (!calibrating_ || !band_from_) return;
    band_to_ = QPointF(x, y);
    overlay_->set_band(band_from_, band_to_);
    finish_calibration_drag(*band_from_, *band_to_);
}

void Worksheet::show_table() {
    if (!table_placed_) {
        // Beside the window rather than over the composite, where the screen has room.
        table_placed_ = true;
        const QRect frame = form_.frameGeometry();
        if (const QScreen* screen = form_.screen()) {
            const QRect room = screen->availableGeometry();
            const QSize size = table_window_->frameGeometry().size();
            const QPoint below(frame.left(), frame.bottom() + 1);
            const QPoint right(frame.right() + 1, frame.top());
            if (room.contains(QRect(below, size)))
                table_window_->move(below);
            else if (room.contains(QRect(right, size)))
                table_window_->move(right);
        }
    }
    table_window_->show();
    table_window_->raise();
}

void Worksheet::undo_point() {
    points_.remove_last();
    points_changed();
}

void Worksheet::clear_points() {
    points_.clear();
    points_changed();
}

PointAxes Worksheet::axes() const {
    return {form_.xaxis_mode != 0, form_.yaxis_mode != 0, float(form_.Picture1->outer_width()),
            float(form_.Picture1->outer_height())};
}

TextTable Worksheet::table_text() const {
    const auto rows = points_.rows(calibration_, axes(), timing_);
    TextTable text = point_table_text(rows, calibration_);
    // The fit's quantities under the points, after an empty row.
    const PointFitResult fit = current_fit(rows);
    if (!fit.rows.empty()) {
        text.rows.emplace_back();
        text.rows.insert(text.rows.end(), fit.rows.begin(), fit.rows.end());
    }
    return text;
}

PointFitResult Worksheet::current_fit(const std::vector<PointRow>& rows) const {
    return fit_points(rows, table_window_->fit(), calibration_);
}

// --- the object found by itself ------------------------------------------------------------

void Worksheet::auto_record() {
    if (recorder_->running()) return;
    const auto plan = record_.plan();
    if (!clip_open_ || clip_path_.isEmpty() || !plan) {
        platform_.message_box_info(
            &form_,
            QStringLiteral("自動で記録する合成がありません。クリップを開いて合成開始で合成して"
                           "から選んでください。"),
            form_.windowTitle());
        return;
    }
    std::vector<int64_t> frames{plan->seed};
    for (const CompositionPlan::Merge& m : plan->merges) frames.push_back(m.frame);
    show_table();
    form_.statusBar()->showMessage(QStringLiteral("動いている物体を探しています…"));
    recorder_->start(clip_path_, std::move(frames));
}

void Worksheet::auto_recorded(const tracking::TrackResult& result,
                              const std::vector<int64_t>& frames) {
    if (platform_.ending()) return;
    // The composite may have changed meanwhile: only frames it still starts with count.
    const auto plan = record_.plan();
    bool same = plan && !frames.empty() && plan->seed == frames[0] &&
                plan->merges.size() + 1 >= frames.size();
    for (size_t k = 1; same && k < frames.size(); ++k)
        same = plan->merges[k - 1].frame == frames[k];
    if (!same || result.size.isEmpty()) {
        form_.statusBar()->showMessage(
            QStringLiteral("合成画像が変わったので、自動の記録を取りやめました"), 6000);
        return;
    }
    // Clip pixels to Picture3's: the destination the window draws the frames at.
    const QSizeF area(form_.Picture1->outer_width() - 4, form_.Picture1->outer_height() - 4);
    const QRectF to = destination_rect_.value_or(QRectF(QPointF(0, 0), area));
    const double sx = to.width() / result.size.width(), sy = to.height() / result.size.height();
    points_.clear();
    int found = 0;
    for (size_t k = 0; k < result.frames.size(); ++k) {
        const tracking::TrackedFrame& f = result.frames[k];
        RecordedPoint point;
        point.clip_ms = record_.time_of(int(k), timing_.frame_rate);
        if (f.object) {
            // A Picture3 pixel's centre is at its number + 0.5, as a clip pixel's is.
            point.x = float(to.x() + f.object->x * sx - 0.5);
            point.y = float(to.y() + f.object->y * sy - 0.5);
            ++found;
        } else {
            point.found = false;
        }
        points_.add(point);
    }
    highlighted_.reset();
    table_window_->select_row(std::nullopt);
    points_changed();
    show_table();
    form_.statusBar()->showMessage(
        QStringLiteral("自動記録: %1 コマ中 %2 コマで検出")
            .arg(result.frames.size())
            .arg(found),
        8000);
}

std::optional<int> Worksheet::marker_at(float x, float y) const {
    // Within 5 pixels of a marker's centre; the nearest where markers crowd.
    std::optional<int> nearest;
    double best = 5.0;
    for (int k = 0; k < points_.size(); ++k) {
        const RecordedPoint& p = points_.points()[size_t(k)];
        if (!p.found) continue;
        const double d = std::hypot(p.x - x, p.y - y);
        if (d <= best) {
            best = d;
            nearest = k;
        }
    }
    return nearest;
}

void Worksheet::highlight(std::optional<int> k) {
    highlighted_ = k;
    std::optional<QPointF> at;
    if (k && *k >= 0 && *k < points_.size() && points_.points()[size_t(*k)].found)
        at = QPointF(points_.points()[size_t(*k)].x, points_.points()[size_t(*k)].y);
    overlay_->set_highlight(at);
}

// --- leaving the tool --------------------------------------------------------------------

void Worksheet::save_composite() {
    // As shown now, taken before the dialog: a run may go on while it is open.
    const QImage picture = form_.Picture3->surface().displayed().copy();
    const auto chosen =
        platform_.save_file_dialog(&form_, kPictureFilter, QStringLiteral("合成画像.png"));
    if (!chosen || chosen->isEmpty()) return;
    if (const auto error = write_picture(picture, picture_path(*chosen)))
        platform_.message_box_stop(&form_, *error, form_.windowTitle());
}

void Worksheet::copy_composite() {
    platform_.clipboard_clear();
    platform_.clipboard_set_image(form_.Picture3->surface().displayed());
}

void Worksheet::save_full_resolution(bool with_scale) {
    std::optional<MatchingScale> scale;
    if (with_scale && calibration_.calibrated()) {
        ShownLayout& layout = scale.emplace().layout;
        const auto area = image_area(form_.Picture1->outer_width(), form_.Picture1->outer_height());
        if (area) layout.frame_area = QSize(area->width, area->height);
        layout.composite = form_.Picture3->surface().image().size();
        layout.fit = destination_size_
                         ? QRect(QPoint(0, 0), destination_size_->toSize())
                         : picture_fit(source_size_.value_or(QSizeF()).toSize(), layout.frame_area);
        layout.xaxis_true = form_.xaxis_mode != 0;
        layout.yaxis_true = form_.yaxis_mode != 0;
        scale->caption = calibration_.tick_text();
        scale->font = form_.Picture3->surface().font;
    }
    full_save_->save(clip_path_, record_.plan(), std::move(scale));
}

void Worksheet::copy_table() {
    if (points_.empty()) return;
    const TextTable text = table_text();
    platform_.clipboard_set_text(tab_text(text.header, text.rows));
}

void Worksheet::save_table() {
    if (points_.empty()) return;
    const TextTable text = table_text();
    const auto chosen = platform_.save_file_dialog(
        table_window_->isVisible() ? static_cast<QWidget*>(table_window_) : &form_, kCsvFilter,
        QStringLiteral("位置の記録.csv"));
    if (!chosen || chosen->isEmpty()) return;
    QString path = *chosen;
    if (QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".csv");
    if (const auto error = write_file(csv_text(text.header, text.rows), path))
        platform_.message_box_stop(&form_, *error, form_.windowTitle());
}

// --- what the window shows --------------------------------------------------------------

void Worksheet::show_mode_hint() {
    QStatusBar* bar = form_.statusBar();
    if (calibrating_)
        bar->showMessage(
            QStringLiteral("長さのわかるものの端から端までドラッグしてください（Esc で中止）"));
    else if (mnurecord->isChecked())
        bar->showMessage(
            QStringLiteral("記録中: k = %1 をクリック（Ctrl+Z で取り消し）").arg(points_.next_k()));
    else
        bar->clearMessage();
}

void Worksheet::refresh() {
    const QString ticks = calibration_.tick_text();
    tick_label->setText(ticks);
    tick_label->setVisible(!ticks.isEmpty());

    const bool timed = clip_open_ && current_ms_.has_value();
    if (timed)
        time_label->setText(
            QStringLiteral("t = %1 s").arg(seconds_text(timing_.scene_seconds(*current_ms_))));
    time_label->setVisible(timed);

    std::optional<double> interval;
    if (!record_.empty()) interval = record_.interval_ms(timing_.frame_rate);
    if (interval)
        interval_label->setText(QStringLiteral("合成間隔 Δt = %1 s")
                                    .arg(seconds_text(timing_.scene_seconds(*interval))));
    interval_label->setVisible(interval.has_value());

    std::vector<QPointF> markers;
    for (const RecordedPoint& p : points_.points())
        if (p.found) markers.emplace_back(p.x, p.y);
    overlay_->set_markers(std::move(markers));
    if (highlighted_ && *highlighted_ >= points_.size()) highlighted_.reset();
    highlight(highlighted_);

    const auto rows = points_.rows(calibration_, axes(), timing_);
    table_window_->show_table(table_text(), rows, calibration_.unit_text());
    const PointFitResult fit = current_fit(rows);
    table_window_->show_fit(fit.curves);
    fit_label->setText(fit.summary);
    fit_label->setVisible(!fit.summary.isEmpty());

    mnuuncalibrate->setEnabled(calibration_.calibrated());
    const bool recorded = record_.plan().has_value() && !clip_path_.isEmpty();
    mnusavefull->setEnabled(recorded);
    mnusavescaled->setEnabled(recorded && calibration_.calibrated());
    mnucapture->setEnabled(timing_.known());
    mnuundo->setEnabled(!points_.empty());
    mnuclearpoints->setEnabled(!points_.empty());
}

void Worksheet::points_changed() {
    refresh();
    if (!calibrating_ && mnurecord->isChecked()) show_mode_hint();
}

}  // namespace tambrel
