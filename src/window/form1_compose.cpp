// The composition run (CmdGosei), its stop (Cmdgouseistop), the paced clip steps, the
// merge pass, and clearing the composite (Command6).

#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <utility>

#include "window/form1.h"
#include "compose/blend.h"
#include "core/numbers.h"
#include "core/typed_number.h"
#include "window/worksheet/worksheet.h"

namespace tambrel {

namespace {

// Why Text6 cannot be used as the frames per step.
enum class StepCountProblem { Empty, NotANumber, OutOfRange };

char32_t locale_decimal_point() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? U'.' : point.at(0).unicode();
}

// Called only for a text that text_as_int16 refused: tells apart the three reasons,
// with the same reading of a number (blanks around it, the locale's decimal point).
StepCountProblem step_count_problem(const std::string& text, char32_t decimal_point) {
    std::string normalised = text;
    if (decimal_point == U',') std::replace(normalised.begin(), normalised.end(), ',', '.');
    const bool blank = std::all_of(normalised.begin(), normalised.end(),
                                   [](char c) { return c == ' ' || c == '\t'; });
    if (blank) return StepCountProblem::Empty;
    size_t consumed = 0;
    read_number(normalised, &consumed);
    if (consumed == 0) return StepCountProblem::NotANumber;
    for (size_t i = consumed; i < normalised.size(); ++i)
        if (normalised[i] != ' ' && normalised[i] != '\t') return StepCountProblem::NotANumber;
    return StepCountProblem::OutOfRange;
}

QString step_count_message(StepCountProblem problem, const QString& text) {
    const QString accepted = QStringLiteral(
        "-32768 から 32767 までの数を入力してください（小数は最も近い整数に丸めます）。");
    switch (problem) {
        case StepCountProblem::Empty:
            return QStringLiteral("送りコマ数が入力されていません。\n") + accepted;
        case StepCountProblem::NotANumber:
            return QStringLiteral("送りコマ数「%1」は数値ではありません。\n").arg(text) + accepted;
        case StepCountProblem::OutOfRange:
            break;
    }
    return QStringLiteral("送りコマ数「%1」は範囲外です。\n").arg(text) + accepted;
}

// The tick count in units of the 300 ms pace, taken to the nearest integer with halves
// to even, so it changes as the clock passes 150 + 300·m ms. A 32-bit tick divided by
// 300 always fits 32 bits.
int32_t pace_slot(int32_t tick_ms) {
    return to_int32(static_cast<double>(tick_ms) / 300.0).value_or(0);
}

// The first tick count after `tick` whose slot differs: slot s ends at 300·s + 150,
// which still belongs to s when s is even (halves go to even) and to s + 1 when odd.
int64_t next_slot_start(int32_t tick) {
    const int64_t slot = pace_slot(tick);
    return 300 * slot + 150 + (slot % 2 == 0 ? 1 : 0);
}

// The longest single wait of the pace: the clock is read again at least this often.
constexpr int32_t kPaceWaitSlice = 50;

// The composite lives in Picture3's persistent image. An axis switch turns persistent
// drawing off so that its scale shows on the display only; the run's own drawing still
// goes into the persistent image, so every merged frame stays in the composite that the
// clipboard and the next run take, and the switch is put back for draw_axes.
class PersistentDrawing {
  public:
    explicit PersistentDrawing(PictureSurface& surface)
        : surface_(surface), was_on_(surface.auto_redraw()) {
        surface_.set_auto_redraw(true);
    }
    ~PersistentDrawing() { surface_.set_auto_redraw(was_on_); }
    PersistentDrawing(const PersistentDrawing&) = delete;
    PersistentDrawing& operator=(const PersistentDrawing&) = delete;

  private:
    PictureSurface& surface_;
    bool was_on_;
};

QString update_command(int32_t hdc) {
    return QStringLiteral("update avfile hdc ") + QString::fromStdString(plain(hdc));
}

// RGB32 is what surfaces hold; anything drawn into them keeps it, but the merge reads
// raw pixels, so make sure rather than misread.
void ensure_rgb32(QImage& image) {
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_RGB32);
}

}  // namespace

void Form1::CmdGosei_Click() {
    // The frames per step, read before anything changes: a text that is no 16-bit
    // number leaves the window exactly as it was (a run in progress included).
    const QString text = Text6->text();
    const std::string typed = typed_number_text(text);
    const char32_t decimal_point = locale_decimal_point();
    const std::optional<int16_t> steps = text_as_int16(typed, decimal_point);
    if (!steps) {
        platform_.message_box_info(
            this, step_count_message(step_count_problem(typed, decimal_point), text),
            windowTitle());
        return;
    }

    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Command3->setEnabled(false);
    Command4->setEnabled(false);
    Command6->setEnabled(false);
    Cmd_End->setEnabled(false);
    Cmd_Reserve->setEnabled(false);
    gosei_running = -1;
    const int16_t n = *steps;
    worksheet_->run_started(n);
    CmdGosei->setEnabled(false);
    Picture3->surface().set_auto_redraw(true);

    // Every other handler runs inside the yield at the end of each cycle: a stop, a
    // second run sharing gosei_running, or an exit. The window may be gone after it.
    const QPointer<Form1> alive(this);
    QString reply;
    while (gosei_running == -1) {
        ProgressBar1->setMinimum(0);
        ProgressBar1->setMaximum(Picture3->outer_width());
        ProgressBar1->setValue(ProgressBar1->minimum());
        if (gosei_fresh == 1) {
            // Seed: the clip's current frame straight into the composite, no step.
            const PersistentDrawing composite(Picture3->surface());
            Picture3->surface().clear();
            ++gosei_fresh;
            mci_send(QStringLiteral("stop avfile"), reply);
            mci_send(update_command(Picture3->hdc()), reply);
            worksheet_->seeded();
            platform_.clipboard_clear();
            platform_.clipboard_set_image(Picture3->surface().image());
        } else {
            if (!paced_advance(n)) {
                // A stop, an exit or the window closing during the pace ends the run
                // after the step under way, with nothing of the cycle merged; a
                // composite emptied meanwhile (a clip opened) is seeded at once.
                if (!alive || platform_.ending() || gosei_running != -1) return;
                continue;
            }
            mci_send(QStringLiteral("stop avfile"), reply);
            mci_send(update_command(Picture2->hdc()), reply);
            ProgressBar1->setVisible(true);
            const PersistentDrawing composite(Picture3->surface());
            // The clipboard gets the composite as the previous cycle left it.
            platform_.clipboard_clear();
            platform_.clipboard_set_image(Picture3->surface().image());
            blend_pass();
            worksheet_->merged();
            ProgressBar1->setVisible(false);
        }
        draw_axes();
        platform_.yield();
        // An exit chosen inside the yield ends the run here: no further command.
        if (!alive || platform_.ending()) return;
    }
}

void Form1::Cmdgouseistop_Click() {
    Command1->setEnabled(true);
    Command2->setEnabled(true);
    Command3->setEnabled(true);
    Command4->setEnabled(true);
    Command6->setEnabled(true);
    Cmd_End->setEnabled(true);
    Cmd_Reserve->setEnabled(true);
    CmdGosei->setEnabled(true);
    gosei_running = 0;
}

bool Form1::paced_advance(int16_t n) {
    // The window paints and takes clicks while the pace waits, so this window may be
    // gone when a wait returns; the platform outlives it.
    const QPointer<Form1> alive(this);
    Platform& platform = platform_;
    QString reply;
    for (int k = 1; k <= n; ++k) {
        const int32_t t0 = pace_slot(platform.tick_count());
        mci_send(QStringLiteral("step avfile"), reply);
        // One step per slot: wait for the slot to change, asleep, and end here once the
        // run has been stopped, the program is ending or the composite has been emptied.
        for (int32_t now = platform.tick_count(); pace_slot(now) == t0;
             now = platform.tick_count()) {
            platform.wait(static_cast<int32_t>(
                std::clamp<int64_t>(next_slot_start(now) - now, 1, kPaceWaitSlice)));
            if (!alive || platform.ending() || gosei_running != -1 || gosei_fresh == 1)
                return false;
        }
    }
    return true;
}

void Form1::blend_pass() {
    // The region is Picture1's interior less 4 each way, plus one: (w + 1) x (h + 1).
    const int w = Picture1->inner_width() - 4;
    const int h = Picture1->inner_height() - 4;
    // Nothing can change the option during a pass (no events run), so read it once.
    const Priority priority = Option1->isChecked() ? Priority::White : Priority::Black;

    // The current targets; the run makes Picture3's its persistent image.
    const QImage& frame_image = std::as_const(Picture2->surface()).target();
    QImage& composite_image = Picture3->surface().target();
    ensure_rgb32(composite_image);
    const QImage frame = frame_image.format() == QImage::Format_RGB32 ||
                                 frame_image.format() == QImage::Format_ARGB32
                             ? frame_image
                             : frame_image.convertToFormat(QImage::Format_RGB32);

    // Pixels outside either picture are neither read nor written.
    const int columns = std::clamp(w + 1, 0, std::min(frame.width(), composite_image.width()));
    const int rows = std::clamp(h + 1, 0, std::min(frame.height(), composite_image.height()));
    // Only the clip's picture is merged: beside a picture that is not 4:3, Picture2 holds
    // no frame (at most what an earlier clip left there), and the composite keeps its
    // background. A 4:3 picture covers the whole region.
    const QRect drawn = clip_destination();
    const int picture_columns = std::clamp(columns, 0, drawn.right() + 1);
    const int picture_rows = std::clamp(rows, 0, drawn.bottom() + 1);
    if (picture_columns > 0 && picture_rows > 0) {
        blend_rgb32(reinterpret_cast<uint32_t*>(composite_image.bits()),
                    composite_image.bytesPerLine() / 4,
                    reinterpret_cast<const uint32_t*>(frame.constBits()), frame.bytesPerLine() / 4,
                    picture_columns, picture_rows, priority);
        Picture3->surface().target_changed();
    }
    // The column counter ends at the number of columns merged. QProgressBar ignores a
    // value beyond its maximum, so a region wider than Picture3 shows as full.
    ProgressBar1->setValue(std::min(columns, ProgressBar1->maximum()));
}

void Form1::Command6_Click() {
    // Back to the persistent image, which an axis switch may have turned off.
    Picture3->surface().set_auto_redraw(true);
    Picture2->surface().clear();
    // Picture3 takes Picture2's background picture, and Picture2 never has one: the
    // composite goes back to the plain background.
    Picture3->surface().set_picture(nullptr);
    draw_axes();
    gosei_fresh = 1;
    CmdGosei->setEnabled(true);
}

}  // namespace tambrel
