#include "window/worksheet/auto_record.h"

#include <QFile>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

namespace tambrel {

AutoRecorder::AutoRecorder(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("AutoRecorder"));
    poll_ = new QTimer(this);
    poll_->setInterval(100);
    connect(poll_, &QTimer::timeout, this, [this] {
        if (!dialog_) return;
        const int64_t total = std::max<int64_t>(total_.load(), 1);
        dialog_->setMaximum(1000);
        dialog_->setValue(int(std::min<int64_t>(done_.load() * 1000 / total, 999)));
    });
}

AutoRecorder::~AutoRecorder() {
    cancelled_ = true;
    stop_thread();
}

void AutoRecorder::stop_thread() {
    if (worker_.joinable()) worker_.join();
    poll_->stop();
    if (dialog_) {
        dialog_->hide();
        dialog_->deleteLater();
        dialog_ = nullptr;
    }
}

bool AutoRecorder::start(const QString& path, std::vector<int64_t> frames) {
    if (running()) return false;
    frames_ = std::move(frames);
    ++run_;
    cancelled_ = false;
    done_ = 0;
    total_ = int64_t(frames_.size());

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
    connect(dialog_, &QProgressDialog::canceled, this, [this] {
        if (!running()) return;
        cancel();
    });
    poll_->start();

    const std::string file = QFile::encodeName(path).toStdString();
    worker_ = std::thread([this, file, frames = frames_, run = run_] {
        using Result = std::variant<tracking::TrackResult, tracking::TrackFailure>;
        auto out = std::make_shared<Result>();
        auto opened = tracking::ClipTracker::open(file);
        if (auto* failure = std::get_if<tracking::TrackFailure>(&opened)) {
            *out = *failure;
        } else {
            tracking::TrackCallbacks callbacks;
            callbacks.progress = [this](int64_t done, int64_t total) {
                done_ = done;
                total_ = total;
                return !cancelled_.load();
            };
            *out = std::get<std::unique_ptr<tracking::ClipTracker>>(opened)->track(frames, false,
                                                                                   callbacks);
        }
        // Queued: runs on this object's thread, and is dropped with the object.
        QMetaObject::invokeMethod(
            this, [this, run, out] { finish(run, out); }, Qt::QueuedConnection);
    });
    return true;
}

void AutoRecorder::cancel() {
    if (!running()) return;
    cancelled_ = true;
    stop_thread();
}

void AutoRecorder::finish(
    int run, std::shared_ptr<std::variant<tracking::TrackResult, tracking::TrackFailure>> out) {
    // A cancelled run has been joined already; its result is dropped.
    if (run != run_ || !running() || cancelled_) return;
    stop_thread();
    if (const auto* failure = std::get_if<tracking::TrackFailure>(out.get())) {
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
    emit done(std::get<tracking::TrackResult>(*out), frames_);
}

}  // namespace tambrel
