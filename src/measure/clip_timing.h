#pragma once
// Time in the clip and in the scene. The media service reports each frame's time from
// frame 0 in milliseconds of the clip; a slow-motion clip plays slower than the scene
// was filmed, so the scene's time is the clip's time × frame rate / capture rate. The
// capture rate is the file's own where it states one, or the user's.

#include <optional>

namespace tambrel {

struct ClipTiming {
    double frame_rate = 0;         // nominal frames per second of the file; 0 unknown
    double file_capture_rate = 0;  // what the file states (its frame rate when nothing)
    std::optional<double> stated_capture_rate;  // what the user stated

    bool known() const { return frame_rate > 0; }
    // The rate the scene was filmed at: the user's, the file's, or the frame rate.
    double capture_rate() const;
    // Scene seconds per clip second (1 for a clip played at the rate it was filmed).
    double slow_factor() const;
    // Scene seconds of a clip time in milliseconds.
    double scene_seconds(double clip_ms) const { return clip_ms / 1000.0 * slow_factor(); }
};

}  // namespace tambrel
