#pragma once
// Long work of the window on a thread of its own: one run at a time, each with an id, a
// progress the window's thread can read, a cancel flag the work looks at, and its result
// handed back on the window's thread exactly once, and only while the run is still the
// current one. A cancelled or superseded run's result may already be queued for the
// window when the next run starts; it is dropped by its id, never taken for the new run.
//
// Dialogs stay with the users: the auto-record and the full-resolution save show their
// progress differently (modality, scale, a cancel that is not offered while writing),
// and without widgets here the run's rules are tested on a QCoreApplication.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace tambrel {

using RunId = uint64_t;

struct RunProgress {
    int64_t done = 0, total = 0;
    bool operator==(const RunProgress&) const = default;
};

// What a run's work sees. Its member functions may be called from any thread.
class RunControl {
  public:
    RunControl(RunId id, int64_t total) : id_(id), progress_{0, total} {}

    RunId id() const { return id_; }
    // True once the run has been cancelled or asked to stop: the work should end soon.
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    void report_progress(int64_t done, int64_t total);
    RunProgress progress() const;

  private:
    friend class BackgroundRun;
    void cancel() { cancelled_.store(true, std::memory_order_release); }

    const RunId id_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex progress_mutex_;  // done and total are read as one pair
    RunProgress progress_;
};

class BackgroundRun : public QObject {
    Q_OBJECT
  public:
    static constexpr int kProgressIntervalMs = 100;

    explicit BackgroundRun(QObject* parent = nullptr);
    // Cancels a run under way and waits for its thread: nothing is delivered after.
    ~BackgroundRun() override;

    // Runs `work(RunControl&)` on a thread of its own and hands what it returns to
    // `deliver(result)` on this object's thread, unless the run is cancelled or
    // superseded first. A run under way is cancelled (and waited for) before the new
    // one starts. `total` is the progress's total until the work reports its own.
    // `deliver` is called with no run under way: it may start the next one.
    template <typename Work, typename Deliver>
    RunId start(Work work, Deliver deliver, int64_t total = 0);

    // Ends the run under way without a result: its work is told to stop and waited for
    // (as long as it takes to notice), and its result is dropped.
    void cancel();
    // Tells the work to stop without waiting for it: the run goes on to its end, and
    // whatever the work returns then is delivered as usual.
    void interrupt();

    // Between start and the delivery (or cancel).
    bool running() const { return running_; }
    // The id of the run under way, or of the last one.
    RunId id() const { return last_id_; }
    // The run under way's, or the last run's, as its work last reported it.
    RunProgress progress() const;

  signals:
    // Every kProgressIntervalMs while a run is under way: the work's latest report.
    void progressed(qint64 done, qint64 total);

  private:
    RunId launch(std::function<void(RunControl&)> work, std::function<void()> deliver,
                 int64_t total);
    void finished(RunId id);

    RunId last_id_ = 0;
    std::shared_ptr<RunControl> control_;  // the current or last run's
    bool running_ = false;
    std::function<void()> deliver_;  // the current run's
    std::thread thread_;
    QTimer poll_;
};

template <typename Work, typename Deliver>
RunId BackgroundRun::start(Work work, Deliver deliver, int64_t total) {
    using Result = std::invoke_result_t<Work&, RunControl&>;
    // Written by the work's thread; read on this one only after joining it.
    auto result = std::make_shared<std::optional<Result>>();
    return launch(
        [work = std::move(work), result](RunControl& control) mutable {
            result->emplace(work(control));
        },
        [deliver = std::move(deliver), result]() mutable { deliver(std::move(**result)); }, total);
}

}  // namespace tambrel
