#pragma once
// The picture of the empty scene that difference priority and the tracker measure
// against: the per-pixel median of up to kMostBackgroundFrames frames of the run. It
// holds wherever the moving object stays at a place in fewer than half of them.

#include <QImage>
#include <QSize>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "compose/run_failure.h"
#include "media/service/media_errors.h"

namespace tambrel::compose {

inline constexpr int kMostBackgroundFrames = 15;
// What the background's pictures may hold at once: fewer frames for large pictures.
inline constexpr int64_t kBackgroundBudget = 256LL * 1024 * 1024;

// How many frames of `size` a background is made of at most.
int64_t background_frame_limit(QSize size);

// The frames the background is made of: every frame from first to last where they are
// no more than `most`, else `most` of them spread over the range at steps of the
// golden ratio (i · 0.618… of the range, wrapped round), in order. Evenly spaced frames
// can fall in step with a periodic motion: the sample pendulum's half period is 21.4
// frames, and 15 frames evenly over its 300 are 21.4 apart, so every one of them shows
// the bob at one end of its swing or the other, and a median of them keeps the bob
// there. Golden-ratio steps never fall in step with a period.
std::vector<int64_t> background_frames(int64_t first, int64_t last, int64_t most);

struct BackgroundSource {
    // Draws frame n into a picture of the background's size (RGB32, filled with what
    // lies outside the frame, if anything does).
    std::function<media::MediaError(int64_t frame, QImage& into)> draw;
    // A frame that cannot be decoded is left out (and told here) unless strict.
    bool strict = false;
    std::function<void(int64_t frame, const std::string& reason)> skipped;
    // After each frame read or left out; false cancels.
    std::function<bool()> progress;
};

struct MedianPicture {
    QImage image;
    int frames = 0;  // how many frames it was made of
};

// The per-pixel median of `frames` (each drawn by `source` over a copy of `blank`, or
// over a fresh picture when `blank` is null) at `size`. Fails when none can be decoded,
// when one cannot under strict, without memory, or when cancelled.
std::variant<MedianPicture, RunFailure> median_background(std::span<const int64_t> frames,
                                                          QSize size, const QImage& blank,
                                                          const BackgroundSource& source);

}  // namespace tambrel::compose
