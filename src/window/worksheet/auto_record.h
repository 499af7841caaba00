#pragma once
// 測定 › 自動で位置を記録: the moving object found in the frames a run merged, at the
// clip's own size, on a thread of its own with a progress dialog that can cancel it,
// so the window stays live (a composition run goes on behind it). The worksheet turns
// the result into recorded points.

#include <QObject>
#include <QString>
#include <cstdint>
#include <variant>
#include <vector>

#include "measure/tracking/clip_tracker.h"
#include "window/background_run.h"

class QProgressDialog;
class QWidget;

namespace tambrel {

class AutoRecorder : public QObject {
    Q_OBJECT
  public:
    explicit AutoRecorder(QWidget* window);
    // Cancels a run and waits for its thread (at most the frame it is reading).
    ~AutoRecorder() override;

    bool running() const { return run_.running(); }
    // Finds the object in `frames` of the clip at `path` (k = their index). One run at
    // a time: false while one is going.
    bool start(const QString& path, std::vector<int64_t> frames);
    // Ends a run without a result: neither signal follows.
    void cancel();

    // The progress dialog (shown once a run takes longer than a moment).
    QProgressDialog* dialog() const { return dialog_; }

  signals:
    // On this object's thread, after the run's thread has ended. `frames` as started.
    void done(const tracking::TrackResult& result, const std::vector<int64_t>& frames);
    // Why there are no positions, in the window's words.
    void failed(const QString& message);

  private:
    using Outcome = std::variant<tracking::TrackResult, tracking::TrackFailure>;
    void finish(const Outcome& outcome);
    void show_progress(int64_t done, int64_t total);
    void close_dialog();

    QWidget* window_;
    QProgressDialog* dialog_ = nullptr;
    std::vector<int64_t> frames_;  // as started, for the result
    BackgroundRun run_;
};

}  // namespace tambrel
