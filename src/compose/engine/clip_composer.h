#pragma once
// The composition engine without a window: frames come from the clip through a
// ClipReader, are merged with the window's merge kernel and, as the window shows them,
// get the scale painted by the window's code. It
// follows an explicit plan: the seed frame, then each merged frame with its priority.
// The window records such a plan during a run and rebuilds that composite at the clip's
// own size; tambrel-compose builds one from its options.
//
// A long plan is split into consecutive parts composed side by side, each on a reader
// of its own, and the parts' composites are merged in order. That gives the
// same picture as one pass: under white priority every pixel ends with the last of the
// brightest frames' colours, under black priority with the first of the darkest, under
// difference priority with the first of those farthest from the background, and
// merging two parts' results keeps exactly that, provided every frame of a later part
// is merged with one priority (plans that change priority are split only where that
// holds).

#include <QImage>
#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "compose/background.h"
#include "compose/blend.h"
#include "compose/run_failure.h"

namespace tambrel::media {
class ClipReader;
}

namespace tambrel::compose {

// The window's pictures at start-up, which an as-shown composite reproduces.
struct WindowLayout {
    QSize frame_area;    // Picture1's inner area: frames are fitted into it
    QSize composite;     // Picture3's inner area: what the clipboard receives
    QSize merge_region;  // the top-left block of the frame area a merge pass covers
};
WindowLayout window_layout();

struct Merge {
    int64_t frame = 0;
    Priority priority = Priority::White;
    bool operator==(const Merge&) const = default;
};

// What difference priority measures against.
// The per-pixel median of up to kMostBackgroundFrames frames spread over the plan's
// first frame to its last (background_frames; fewer where the range is shorter or the
// pictures are large): the empty scene wherever the moving object stays at a place in
// fewer than half of them.
struct MedianBackground {};
// One frame that shows the empty scene.
struct FrameBackground {
    int64_t frame = 0;
};
// A picture of the empty scene at the clip's own size (ClipComposer::size()); an
// as-shown run fits it into the frame area as the frames are.
struct PictureBackground {
    QImage image;
};
using Background = std::variant<MedianBackground, FrameBackground, PictureBackground>;

enum class OutputSize {
    Clip,     // the clip's own size, the whole frame merged, no scale
    AsShown,  // what the window's composite holds after such a run: 366 x 286, frames
              // fitted into the 316 x 236 frame area, only its top-left 313 x 233 merged,
              // the scale drawn over it
};

struct CompositionPlan {
    int64_t seed = 0;           // drawn straight into the composite, as the window's first cycle
    std::vector<Merge> merges;  // then each merged into it in this order
    OutputSize size = OutputSize::Clip;
    Background background;  // counts only where a merge has difference priority
    // A frame that cannot be decoded is left out and reported (the next one that can
    // seeds the composite when it is the seed); strict: it ends the run instead.
    bool strict = false;
};

struct Progress {
    int64_t done = 0;  // frames of the plan merged or skipped so far
    int64_t total = 0;
    int64_t skipped = 0;
};

struct SkippedFrame {
    int64_t frame = 0;
    bool background = false;  // a frame for the median background, not one of the plan's
    std::string reason;       // the media service's error text
};

// Both are called on the calling thread: after every frame of the first part and about
// ten times a second while later parts run, and once at the end. Frames left out are
// told in the plan's order: a later part's once the parts before it have finished.
struct Callbacks {
    // False cancels the run.
    std::function<bool(const Progress&)> progress;
    std::function<void(const SkippedFrame&)> skipped;
};

struct RunLimits {
    // Parts composed side by side; 0: one per processor. Fewer are used for short runs
    // and where the clip has no keyframe between the parts' starts.
    int max_parts = 0;
};

struct Composite {
    QImage image;
    int parts = 1;                 // how many parts were composed side by side
    int64_t merged = 0;            // frames in the picture, the seed included
    std::vector<int64_t> skipped;  // the plan's frames left out, in order
};

using CompositionFailure = RunFailure;

// One clip, open in a reader of its own, composed as often as asked. The parts of a run
// open it again in readers of their own. Not thread-safe: one thread at a time; with
// AsShown the painting needs a QGuiApplication (the scale's numbers use fonts).
class ClipComposer {
  public:
    static std::variant<std::unique_ptr<ClipComposer>, CompositionFailure> open(
        const std::string& path);
    ~ClipComposer();
    ClipComposer(const ClipComposer&) = delete;
    ClipComposer& operator=(const ClipComposer&) = delete;

    int64_t length() const { return length_; }
    QSize size() const { return size_; }  // the frames' size as a player shows them

    std::variant<Composite, CompositionFailure> compose(const CompositionPlan& plan,
                                                        const Callbacks& callbacks = {},
                                                        RunLimits limits = {});

  private:
    explicit ClipComposer(std::unique_ptr<media::ClipReader> reader);

    std::unique_ptr<media::ClipReader> reader_;
    int64_t length_ = 0;
    QSize size_;
};

}  // namespace tambrel::compose
