#pragma once
// The moving object found through a run's frames of a clip: each frame read at the
// clip's own size through a ClipReader of the tracker's own, the background of the run
// made as difference priority makes it (compose/background: the per-pixel median of up
// to 15 frames spread over the run), every frame's regions found against it
// (find_regions), and the object chosen over the whole run (choose_path).
// tambrel-compose --track and the window's 自動で位置を記録 both use it.

#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "compose/run_failure.h"
#include "measure/tracking/detection.h"

namespace tambrel::media {
class ClipReader;
}

namespace tambrel::tracking {

struct TrackedFrame {
    int64_t frame = 0;
    std::optional<double> time_ms;  // the frame's time in the clip, from frame 0
    std::optional<Region> object;   // in the clip's pixels; nullopt: not found
    bool decoded = true;            // false: the frame could not be decoded (so not found)
};

struct TrackResult {
    QSize size;               // the frames' size as a player shows them (upright, square pixels)
    double frame_rate = 0;    // nominal frames per second; 0 unknown
    double capture_rate = 0;  // what the scene was filmed at (the frame rate if the file
                              // states nothing)
    std::vector<TrackedFrame> frames;  // in the order asked, k = 0, 1, ...
    int background_frames = 0;         // frames the background was made of

    // Scene seconds of a frame (a slow-motion clip's time stretched back): its own time,
    // else its number at the nominal rate; nullopt when neither is known.
    std::optional<double> scene_seconds(const TrackedFrame& f) const;
};

using TrackFailure = compose::RunFailure;

struct TrackCallbacks {
    // After each frame read: frames done and the run's total (background included).
    // False cancels.
    std::function<bool(int64_t done, int64_t total)> progress;
    // A frame that cannot be decoded, left out (background: of the background only).
    std::function<void(int64_t frame, bool background, const std::string& reason)> skipped;
};

// One clip, open in a reader of its own. One thread at a time.
class ClipTracker {
  public:
    static std::variant<std::unique_ptr<ClipTracker>, TrackFailure> open(const std::string& path);
    ~ClipTracker();
    ClipTracker(const ClipTracker&) = delete;
    ClipTracker& operator=(const ClipTracker&) = delete;

    int64_t length() const;
    QSize size() const;

    // Finds the object in each of `frames` (frame numbers, k = their index). A frame
    // that cannot be decoded is not found (and reported, in the run's order, once the
    // frames are done), or with `strict` ends the run. After the background, the frames
    // are read in consecutive parts side by side, each part on the clip opened again;
    // the callbacks run on the calling thread.
    std::variant<TrackResult, TrackFailure> track(std::span<const int64_t> frames, bool strict,
                                                  const TrackCallbacks& callbacks = {});

  private:
    explicit ClipTracker(std::unique_ptr<media::ClipReader> reader);
    std::unique_ptr<media::ClipReader> reader_;
};

}  // namespace tambrel::tracking
