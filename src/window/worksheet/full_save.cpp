#include "window/worksheet/full_save.h"

#include <QProgressDialog>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <optional>
#include <variant>
#include <vector>

#include "core/platform.h"
#include "export/picture_file.h"

namespace tambrel {

namespace {

const QString kTitle = QStringLiteral("元の解像度で保存");

// The clip's size, written by the composing thread once the clip is open, for the
// progress label.
struct ClipSize {
    std::atomic<int> width{0}, height{0};
};

QString failure_text(const compose::CompositionFailure& failure) {
    using Kind = compose::CompositionFailure::Kind;
    QString what;
    switch (failure.kind) {
        case Kind::Open:
            what = QStringLiteral("動画を開けなかったため、元の解像度で保存できませんでした。");
            break;
        case Kind::Plan:
            what = QStringLiteral(
                "合成したコマが動画の中に見つからないため、元の解像度で保存できませんでした。");
            break;
        case Kind::Decode:
            what = QStringLiteral("コマを読み込めなかったため、元の解像度で保存できませんでした。");
            break;
        case Kind::Memory:
            what = QStringLiteral("メモリーが足りないため、元の解像度で保存できませんでした。");
            break;
        case Kind::Cancelled:
            break;
    }
    // The engine's own words name the frame or file; kept as the detail.
    return what + QLatin1Char('\n') + QString::fromStdString(failure.message);
}

}  // namespace

compose::CompositionPlan full_resolution_plan(const CompositionPlan& recorded) {
    compose::CompositionPlan plan;
    plan.seed = recorded.seed;
    plan.merges.reserve(recorded.merges.size());
    for (const CompositionPlan::Merge& m : recorded.merges)
        plan.merges.push_back({m.frame, m.priority});
    plan.size = compose::OutputSize::Clip;
    // A frame the window merged that will not decode now is left out and reported, not
    // a reason to lose the whole picture.
    plan.strict = false;
    return plan;
}

// The save under way, on the window's thread.
struct FullResolutionSave::Job {
    Request request;
    std::shared_ptr<ClipSize> clip_size = std::make_shared<ClipSize>();
    bool cancel_asked = false;  // the dialog's cancel, until the picture is composed
    bool writing = false;
    std::vector<compose::SkippedFrame> skipped;
};

// What the composing thread hands back.
struct FullResolutionSave::Composed {
    std::variant<compose::Composite, compose::CompositionFailure> outcome;
    std::vector<compose::SkippedFrame> skipped;
};

FullResolutionSave::FullResolutionSave(QWidget& window, Platform& platform, QObject* parent)
    : QObject(parent), window_(window), platform_(platform) {
    setObjectName(QStringLiteral("FullResolutionSave"));
    connect(&run_, &BackgroundRun::progressed, this, &FullResolutionSave::show_progress);
}

FullResolutionSave::~FullResolutionSave() {
    run_.cancel();
    if (dialog_) delete dialog_.data();
}

QProgressDialog* FullResolutionSave::progress_dialog() const { return dialog_.data(); }

void FullResolutionSave::save(const QString& clip, const std::optional<CompositionPlan>& plan,
                              std::optional<MatchingScale> scale) {
    if (busy()) {
        if (dialog_) {
            dialog_->show();
            dialog_->raise();
        }
        return;
    }
    if (!plan || clip.isEmpty()) {
        platform_.message_box_info(&window_,
                                   QStringLiteral("元の解像度で保存できる合成画像がありません。"
                                                  "動画を開いて合成してから選んでください。"),
                                   window_.windowTitle());
        return;
    }
    // The plan is the record's as it was when chosen: a run may go on behind the dialog.
    const auto chosen =
        platform_.save_file_dialog(&window_, picture_filter(),
                                   scale ? QStringLiteral("合成画像_元の解像度_目盛付き.png")
                                         : QStringLiteral("合成画像_元の解像度.png"));
    if (!chosen || chosen->isEmpty()) return;
    start({clip, *plan, picture_path(*chosen), std::move(scale)});
}

bool FullResolutionSave::start(Request request) {
    if (busy()) return false;
    job_ = std::make_unique<Job>();
    job_->request = std::move(request);
    const int64_t total = 1 + static_cast<int64_t>(job_->request.plan.merges.size());

    // Not modal: the window goes on working while the clip is composed again.
    auto* dialog = new QProgressDialog(&window_);
    dialog->setObjectName(QStringLiteral("FullResolutionProgress"));
    dialog->setWindowTitle(kTitle);
    dialog->setFont(window_.font());
    dialog->setLabelText(QStringLiteral("元の解像度で合成しています…"));
    dialog->setCancelButtonText(QStringLiteral("キャンセル"));
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(360);
    // Quick saves finish without a dialog flashing up.
    dialog->setMinimumDuration(400);
    dialog->setRange(0, static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (!job_) return;
        job_->cancel_asked = true;
        run_.interrupt();
    });
    dialog_ = dialog;
    dialog->setValue(0);  // starts the minimum duration

    run_.start(
        [clip = job_->request.clip.toStdString(), plan = full_resolution_plan(job_->request.plan),
         clip_size = job_->clip_size](RunControl& run) {
            Composed out;
            if (run.cancelled()) {
                out.outcome =
                    compose::CompositionFailure{compose::CompositionFailure::Kind::Cancelled, {}};
                return out;
            }
            auto opened = compose::ClipComposer::open(clip);
            if (auto* failure = std::get_if<compose::CompositionFailure>(&opened)) {
                out.outcome = std::move(*failure);
                return out;
            }
            compose::ClipComposer& composer = *std::get<0>(opened);
            clip_size->width = composer.size().width();
            clip_size->height = composer.size().height();
            compose::Callbacks callbacks;
            // The engine calls both on this thread.
            callbacks.progress = [&run](const compose::Progress& p) {
                run.report_progress(p.done, p.total);
                return !run.cancelled();
            };
            callbacks.skipped = [&out](const compose::SkippedFrame& s) {
                out.skipped.push_back(s);
            };
            auto result = composer.compose(plan, callbacks);
            if (auto* failure = std::get_if<compose::CompositionFailure>(&result))
                out.outcome = std::move(*failure);
            else
                out.outcome = std::get<compose::Composite>(std::move(result));
            return out;
        },
        [this](Composed result) { composed(std::move(result)); }, total);
    return true;
}

void FullResolutionSave::show_progress(int64_t done, int64_t total) {
    if (!job_ || !dialog_) return;
    const Job& job = *job_;
    // The writing has its own label, and a cancelled save counts no further.
    if (job.cancel_asked || job.writing) return;
    total = std::max<int64_t>(total, 1);
    done = std::clamp<int64_t>(done, 0, total);
    QString label = QStringLiteral("元の解像度で合成しています…");
    if (const int width = job.clip_size->width; width > 0)
        label = QStringLiteral("元の解像度（%1 × %2）で合成しています…\n%3 / %4 コマ")
                    .arg(width)
                    .arg(job.clip_size->height.load())
                    .arg(done)
                    .arg(total);
    dialog_->setLabelText(label);
    dialog_->setMaximum(static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
    dialog_->setValue(static_cast<int>(std::min<int64_t>(done, INT32_MAX)));
}

void FullResolutionSave::composed(Composed result) {
    Job& job = *job_;
    // A cancel counts until the picture is composed, also when the engine was faster.
    if (job.cancel_asked || (dialog_ && dialog_->wasCanceled()) || platform_.ending())
        return end(Outcome::Cancelled);
    if (const auto* failure = std::get_if<compose::CompositionFailure>(&result.outcome)) {
        if (failure->kind == compose::CompositionFailure::Kind::Cancelled)
            return end(Outcome::Cancelled);
        end(Outcome::Failed, failure_text(*failure));
        return;
    }
    job.skipped = std::move(result.skipped);
    QImage picture;
    {
        compose::Composite composite = std::get<compose::Composite>(std::move(result.outcome));
        picture = job.request.scale ? with_matching_scale(composite.image, *job.request.scale)
                                    : composite.image;
    }  // the composite at the clip's size goes before the file is written
    if (picture.isNull())
        return end(Outcome::Failed,
                   QStringLiteral("メモリーが足りないため、元の解像度で保存できませんでした。"));

    // Writing replaces the file in one step; it is not cancelled half-way.
    job.writing = true;
    if (dialog_) {
        dialog_->setLabelText(QStringLiteral("「%1」に書き込んでいます…").arg(job.request.path));
        dialog_->setCancelButton(nullptr);
    }
    run_.start([picture = std::move(picture),
                path = job.request.path](RunControl&) { return write_picture(picture, path); },
               [this](std::optional<QString> write_error) { written(write_error); });
}

void FullResolutionSave::written(const std::optional<QString>& write_error) {
    const Job& job = *job_;
    if (write_error) return end(Outcome::Failed, *write_error);
    if (!job.skipped.empty()) {
        QStringList frames;
        for (const compose::SkippedFrame& s : job.skipped)
            if (!s.background) frames << QString::number(s.frame);
        if (!frames.isEmpty())
            return end(Outcome::Saved,
                       QStringLiteral("読み込めなかった %1 コマ（%2）を除いて保存しました。")
                           .arg(frames.size())
                           .arg(frames.mid(0, 10).join(QStringLiteral("、")) +
                                (frames.size() > 10 ? QStringLiteral("…") : QString())),
                       false);
    }
    end(Outcome::Saved);
}

// The message is taken by value: callers pass text held by the job, which goes below.
void FullResolutionSave::end(Outcome outcome, QString message, bool stop_icon) {
    if (dialog_) {
        dialog_->hide();
        dialog_->deleteLater();
    }
    dialog_.clear();
    job_.reset();
    if (!message.isEmpty() && !platform_.ending()) {
        if (stop_icon)
            platform_.message_box_stop(&window_, message, window_.windowTitle());
        else
            platform_.message_box_info(&window_, message, window_.windowTitle());
    }
    emit finished(outcome);
}

}  // namespace tambrel
