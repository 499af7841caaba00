#include "window/background_run.h"

namespace tambrel {

void RunControl::report_progress(int64_t done, int64_t total) {
    const std::lock_guard lock(progress_mutex_);
    progress_ = {done, total};
}

RunProgress RunControl::progress() const {
    const std::lock_guard lock(progress_mutex_);
    return progress_;
}

BackgroundRun::BackgroundRun(QObject* parent) : QObject(parent) {
    poll_.setInterval(kProgressIntervalMs);
    connect(&poll_, &QTimer::timeout, this, [this] {
        const RunProgress now = progress();
        emit progressed(now.done, now.total);
    });
}

BackgroundRun::~BackgroundRun() { cancel(); }

RunProgress BackgroundRun::progress() const {
    return control_ ? control_->progress() : RunProgress{};
}

RunId BackgroundRun::launch(std::function<void(RunControl&)> work, std::function<void()> deliver,
                            int64_t total) {
    cancel();
    control_ = std::make_shared<RunControl>(++last_id_, total);
    deliver_ = std::move(deliver);
    running_ = true;
    const RunId id = last_id_;
    // The thread's last act is the post; every way this object ends joins the thread
    // first, and a post still queued then goes with the object.
    thread_ = std::thread([this, id, control = control_, work = std::move(work)] {
        work(*control);
        QMetaObject::invokeMethod(
            this, [this, id] { finished(id); }, Qt::QueuedConnection);
    });
    poll_.start();
    return id;
}

void BackgroundRun::finished(RunId id) {
    // Posts of cancelled and superseded runs arrive here too: only the current run's counts.
    if (!running_ || id != last_id_) return;
    thread_.join();  // it has nothing left to do but end
    running_ = false;
    poll_.stop();
    // Taken out first: the delivery may start the next run, or end this object's owner.
    const std::function<void()> deliver = std::move(deliver_);
    deliver_ = nullptr;
    deliver();
}

void BackgroundRun::cancel() {
    if (!running_) return;
    control_->cancel();
    thread_.join();
    running_ = false;
    poll_.stop();
    deliver_ = nullptr;
}

void BackgroundRun::interrupt() {
    if (running_) control_->cancel();
}

}  // namespace tambrel
