#pragma once
// The moving object found through a run's frames of a clip: each frame read at the
// clip's own size from a media service of the tracker's own, the background of the run
// made as difference priority makes it (the per-pixel median of up to 15 frames spread
// over the run; see background_frames), every frame's regions found against it
// (find_regions), and the
// object chosen over the whole run (choose_path). tambrel-compose --track and the
// window's 自動で位置を記録 both use it.

#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "measure/tracking/detection.h"

namespace tambrel::tracking {

namespace detail {
class FrameReader;
}

inline constexpr int kMostBackgroundFrames = 15;

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

struct TrackFailure {
    enum class Kind {
        Open,       // the clip cannot be opened
        Plan,       // a frame asked for is not in the clip
        Decode,     // under strict a frame cannot be decoded; or none for the background
        Memory,     // no room for the pictures
        Cancelled,  // the progress callback said so
    };
    Kind kind = Kind::Open;
    std::string message;  // one line
};

struct TrackCallbacks {
    // After each frame read: frames done and the run's total (background included).
    // False cancels.
    std::function<bool(int64_t done, int64_t total)> progress;
    // A frame that cannot be decoded, left out (background: of the background only).
    std::function<void(int64_t frame, bool background, const std::string& reason)> skipped;
};

// One clip, open in a media service of its own. One thread at a time.
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
    ClipTracker(std::string path, std::unique_ptr<detail::FrameReader> reader);
    std::string path_;
    std::unique_ptr<detail::FrameReader> reader_;
};

// The frames the background is made of: every frame from first to last where they are
// no more than `most`, else `most` of them spread over the range at steps of the
// golden ratio (i · 0.618… of the range, wrapped round), in order. Evenly spaced frames
// can fall in step with a periodic motion: the sample pendulum's half period is 21.4
// frames, and 15 frames evenly over its 300 are 21.4 apart, so every one of them shows
// the bob at one end of its swing or the other, and a median of them keeps the bob
// there. Golden-ratio steps never fall in step with a period.
std::vector<int64_t> background_frames(int64_t first, int64_t last, int64_t most);

}  // namespace tambrel::tracking
