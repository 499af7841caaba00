#include "window/worksheet/auto_record.h"

#include <QFile>
#include <QProgressDialog>
#include <QWidget>
#include <algorithm>
#include <memory>

namespace tambrel {

AutoRecorder::AutoRecorder(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("AutoRecorder"));
    connect(&run_, &BackgroundRun::progressed, this, &AutoRecorder::show_progress);
}

AutoRecorder::~AutoRecorder() { cancel(); }

void AutoRecorder::show_progress(int64_t done, int64_t total) {
    if (!dialog_) return;
    dialog_->setMaximum(1000);
    dialog_->setValue(int(std::min<int64_t>(done * 1000 / std::max<int64_t>(total, 1), 999)));
}

void AutoRecorder::close_dialog() {
    if (!dialog_) return;
    dialog_->hide();
    dialog_->deleteLater();
    dialog_ = nullptr;
}

bool AutoRecorder::start(const QString& path, std::vector<int64_t> frames) {
    if (running()) return false;
    frames_ = std::move(frames);

    // Window-modal: the main window waits for the positions (a composition run in it
    // goes on), and the dialog's button cancels.
    dialog_ = new QProgressDialog(QStringLiteral("動いている物体を探しています…"),
                                  QStringLiteral("中止"), 0, 1000, window_);
    dialog_->setObjectName(QStringLiteral("AutoRecordProgress"));
    dialog_->setWindowTitle(QStringLiteral("自動で位置を記録"));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setMinimumDuration(500);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setValue(0);
    connect(dialog_, &QProgressDialog::canceled, this, &AutoRecorder::cancel);

    run_.start(
        [file = QFile::encodeName(path).toStdString(), frames = frames_](RunControl& run) {
            auto opened = tracking::ClipTracker::open(file);
            if (auto* failure = std::get_if<tracking::TrackFailure>(&opened))
                return Outcome(*failure);
            tracking::TrackCallbacks callbacks;
            callbacks.progress = [&run](int64_t done, int64_t total) {
                run.report_progress(done, total);
                return !run.cancelled();
            };
            return Outcome(std::get<std::unique_ptr<tracking::ClipTracker>>(opened)->track(
                frames, false, callbacks));
        },
        [this](Outcome outcome) { finish(outcome); }, int64_t(frames_.size()));
    return true;
}

void AutoRecorder::cancel() {
    if (!running()) return;
    run_.cancel();
    close_dialog();
}

void AutoRecorder::finish(const Outcome& outcome) {
    close_dialog();
    if (const auto* failure = std::get_if<tracking::TrackFailure>(&outcome)) {
        using Kind = tracking::TrackFailure::Kind;
        switch (failure->kind) {
            case Kind::Open:
                emit failed(QStringLiteral("クリップをもう一度開くことができません。"));
                break;
            case Kind::Plan:
                emit failed(QStringLiteral("合成したフレームがクリップにありません。"));
                break;
            case Kind::Decode:
                emit failed(QStringLiteral("背景を作るフレームを復号できません。"));
                break;
            case Kind::Memory:
                emit failed(QStringLiteral("メモリーが足りません。"));
                break;
            case Kind::Cancelled:
                break;
        }
        return;
    }
    emit done(std::get<tracking::TrackResult>(outcome), frames_);
}

}  // namespace tambrel
