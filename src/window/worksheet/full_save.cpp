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

// What the window's thread and the save's thread share. The worker writes the results;
// the window reads them only after joining it.
struct FullResolutionSave::Job {
    Request request;
    std::atomic<bool> cancelled{false};
    std::atomic<int64_t> done{0}, total{0};
    std::atomic<int> width{0}, height{0};  // the clip's, once open

    std::variant<std::monostate, compose::Composite, compose::CompositionFailure> composed;
    std::vector<compose::SkippedFrame> skipped;
    QImage picture;
    std::optional<QString> write_error;
};

FullResolutionSave::FullResolutionSave(QWidget& window, Platform& platform, QObject* parent)
    : QObject(parent), window_(window), platform_(platform) {
    setObjectName(QStringLiteral("FullResolutionSave"));
    poll_.setInterval(100);
    connect(&poll_, &QTimer::timeout, this, &FullResolutionSave::show_progress);
}

FullResolutionSave::~FullResolutionSave() {
    if (job_) job_->cancelled = true;
    if (thread_.joinable()) thread_.join();
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
    job_ = std::make_shared<Job>();
    job_->total = 1 + static_cast<int64_t>(request.plan.merges.size());
    job_->request = std::move(request);

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
    dialog->setRange(0, static_cast<int>(std::min<int64_t>(job_->total, INT32_MAX)));
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (job_) job_->cancelled = true;
    });
    dialog_ = dialog;
    dialog->setValue(0);  // starts the minimum duration
    poll_.start();

    run_in_thread(
        [](Job& job) {
            if (job.cancelled) return;
            auto opened = compose::ClipComposer::open(job.request.clip.toStdString());
            if (auto* failure = std::get_if<compose::CompositionFailure>(&opened)) {
                job.composed = std::move(*failure);
                return;
            }
            compose::ClipComposer& composer = *std::get<0>(opened);
            job.width = composer.size().width();
            job.height = composer.size().height();
            compose::Callbacks callbacks;
            // The engine calls both on this thread.
            callbacks.progress = [&job](const compose::Progress& p) {
                job.done = p.done;
                job.total = p.total;
                return !job.cancelled;
            };
            callbacks.skipped = [&job](const compose::SkippedFrame& s) {
                job.skipped.push_back(s);
            };
            auto result = composer.compose(full_resolution_plan(job.request.plan), callbacks);
            if (auto* failure = std::get_if<compose::CompositionFailure>(&result))
                job.composed = std::move(*failure);
            else
                job.composed = std::get<compose::Composite>(std::move(result));
        },
        &FullResolutionSave::composed);
    return true;
}

void FullResolutionSave::run_in_thread(std::function<void(Job&)> work,
                                       void (FullResolutionSave::*then)()) {
    if (thread_.joinable()) thread_.join();
    // The destructor joins before this object goes, so the call posted at the end
    // always finds it.
    thread_ = std::thread([this, job = job_, work = std::move(work), then] {
        work(*job);
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                if (thread_.joinable()) thread_.join();
                (this->*then)();
            },
            Qt::QueuedConnection);
    });
}

void FullResolutionSave::show_progress() {
    if (!job_ || !dialog_) return;
    const Job& job = *job_;
    if (job.cancelled) return;
    const int64_t total = std::max<int64_t>(job.total, 1);
    const int64_t done = std::clamp<int64_t>(job.done, 0, total);
    QString label = QStringLiteral("元の解像度で合成しています…");
    if (job.width > 0)
        label = QStringLiteral("元の解像度（%1 × %2）で合成しています…\n%3 / %4 コマ")
                    .arg(job.width)
                    .arg(job.height)
                    .arg(done)
                    .arg(total);
    dialog_->setLabelText(label);
    dialog_->setMaximum(static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
    dialog_->setValue(static_cast<int>(std::min<int64_t>(done, INT32_MAX)));
}

void FullResolutionSave::composed() {
    Job& job = *job_;
    // A cancel counts until the picture is composed, also when the engine was faster.
    if (job.cancelled || (dialog_ && dialog_->wasCanceled()) || platform_.ending())
        return end(Outcome::Cancelled);
    if (const auto* failure = std::get_if<compose::CompositionFailure>(&job.composed)) {
        if (failure->kind == compose::CompositionFailure::Kind::Cancelled)
            return end(Outcome::Cancelled);
        const QString text = failure_text(*failure);
        end(Outcome::Failed, text);
        return;
    }
    compose::Composite& composite = std::get<compose::Composite>(job.composed);
    job.picture = job.request.scale ? with_matching_scale(composite.image, *job.request.scale)
                                    : composite.image;
    composite.image = {};
    if (job.picture.isNull())
        return end(Outcome::Failed,
                   QStringLiteral("メモリーが足りないため、元の解像度で保存できませんでした。"));

    // Writing replaces the file in one step; it is not cancelled half-way.
    if (dialog_) {
        dialog_->setLabelText(QStringLiteral("「%1」に書き込んでいます…").arg(job.request.path));
        dialog_->setCancelButton(nullptr);
    }
    run_in_thread([](Job& job) { job.write_error = write_picture(job.picture, job.request.path); },
                  &FullResolutionSave::written);
}

void FullResolutionSave::written() {
    Job& job = *job_;
    if (job.write_error) return end(Outcome::Failed, *job.write_error);
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
    poll_.stop();
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
