#pragma once
// ﾌｧｲﾙ › 元の解像度で保存…: the composite the window built, rebuilt at the clip's own size
// by the composition engine from the frames and priorities the run record kept, and
// written as a picture file, with a progress dialog whose cancel stops the engine.
//
// The engine runs on a thread of its own, with a media service of its own, so the window
// keeps painting and taking events the ordinary way (a composition run can go on behind
// it). Pumping events from the engine's progress callback instead would run every other
// handler nested inside the engine's call, the exits included, and a 4K frame can take
// longer to decode than a window may stay still. Writing the file runs on a thread too;
// finishing the picture (the scale, with fonts) runs on the window's thread between.

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

#include "compose/engine/clip_composer.h"
#include "compose/run_record.h"
#include "scale/full_scale.h"
#include "window/background_run.h"

class QProgressDialog;
class QWidget;

namespace tambrel {

class Platform;

// The engine's plan for a recorded run: at the clip's own size, the whole frame merged.
compose::CompositionPlan full_resolution_plan(const CompositionPlan& recorded);

class FullResolutionSave : public QObject {
    Q_OBJECT
  public:
    // Dialogs and messages go to `window`.
    FullResolutionSave(QWidget& window, Platform& platform, QObject* parent);
    // A save still running is cancelled and its thread waited for (at most one frame).
    ~FullResolutionSave() override;

    struct Request {
        QString clip;                        // the clip the record's frames are of
        CompositionPlan plan;                // as recorded
        QString path;                        // where the picture goes, its extension a format's
        std::optional<MatchingScale> scale;  // drawn over the composite before it is written
    };

    enum class Outcome { Saved, Cancelled, Failed };
    Q_ENUM(Outcome)

    // The menu item: asks where to save `plan` (the run record's, of `clip`) and starts;
    // explains when there is nothing to save, and brings a running save forward.
    void save(const QString& clip, const std::optional<CompositionPlan>& plan,
              std::optional<MatchingScale> scale);
    // Starts a save; false (nothing started) while another one runs.
    bool start(Request request);
    bool busy() const { return job_ != nullptr; }
    // The running save's dialog (for tests and to bring it forward); null when idle.
    QProgressDialog* progress_dialog() const;

  signals:
    // The save has ended and the window has said whatever there was to say.
    void finished(Outcome outcome);

  private:
    struct Job;
    struct Composed;
    void composed(Composed result);
    void written(const std::optional<QString>& write_error);
    void show_progress(int64_t done, int64_t total);
    // Closes the dialog, says `message` (a stop icon, or an information one), and tells.
    void end(Outcome outcome, QString message = {}, bool stop_icon = true);

    QWidget& window_;
    Platform& platform_;
    std::unique_ptr<Job> job_;  // the save under way
    QPointer<QProgressDialog> dialog_;
    // Composes, then writes: one run after the other.
    BackgroundRun run_;
};

}  // namespace tambrel
