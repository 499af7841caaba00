#include "measure/clip_timing.h"

#include <cmath>

namespace tambrel {

namespace {
bool usable(double rate) { return std::isfinite(rate) && rate > 0; }
}  // namespace

double ClipTiming::capture_rate() const {
    if (stated_capture_rate && usable(*stated_capture_rate)) return *stated_capture_rate;
    if (usable(file_capture_rate)) return file_capture_rate;
    return frame_rate;
}

double ClipTiming::slow_factor() const {
    const double capture = capture_rate();
    if (!usable(frame_rate) || !usable(capture)) return 1.0;
    return frame_rate / capture;
}

}  // namespace tambrel
