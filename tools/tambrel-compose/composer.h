#pragma once
// The composition run of tambrel-compose: frames come from the media service through
// its own commands ("seek", "update ... hdc"), are merged with the window's merge
// kernel, and, as the window shows them, get the scale painted by the window's code.
//
// A long run is split into consecutive parts composed side by side, each on a media
// service of its own, and the parts' composites are merged in order. That gives the
// same picture as one pass: under white priority every pixel ends with the last of the
// brightest frames' colours, under black priority with the first of the darkest, and
// merging two parts' results keeps exactly that.

#include <QImage>
#include <QSize>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "arguments.h"

namespace tambrel::compose_cli {

// The window's pictures at start-up, which --as-shown reproduces.
struct WindowLayout {
    QSize frame_area;    // Picture1's inner area: frames are fitted into it
    QSize composite;     // Picture3's inner area: what the clipboard receives
    QSize merge_region;  // the top-left block of the frame area a merge pass covers
};
WindowLayout window_layout();

// Frames a run merges, the seed included: start, start + step, ... while below
// `length`, and at most `count` of them. 0 when `start` is past the clip's end.
int64_t frames_in_run(int64_t length, int64_t start, int64_t step, std::optional<int64_t> count);

struct ComposeFailure {
    enum class Kind {
        Clip,          // the clip cannot be opened, or a frame cannot be decoded
        StartPastEnd,  // --start names no frame of the clip
        Memory,        // no room for the pictures
    };
    Kind kind;
    std::string message;  // one line, without the program's name
};

// Called on the calling thread with the frames merged so far and the run's total.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

struct RunLimits {
    // Parts composed side by side; 0: one per processor. Fewer are used for short runs
    // and where the clip has no keyframe between the parts' starts.
    int max_parts = 0;
};

struct Composite {
    QImage image;
    int parts = 1;  // how many parts were composed side by side
};

// Opens options.clip in media services of its own and composes. With as_shown the
// painting needs a QGuiApplication (the scale's numbers use fonts).
std::variant<Composite, ComposeFailure> compose(const ComposeOptions& options,
                                                const ProgressFn& progress = {},
                                                RunLimits limits = {});

}  // namespace tambrel::compose_cli
