#include "window/scroll_map.h"

#include <algorithm>
#include <cmath>

#include "core/numbers.h"

namespace tambrel {

std::optional<ScrollMap> ScrollMap::for_length(double length) {
    if (const std::optional<int16_t> fits = to_int16(length)) return ScrollMap(*fits, false, 0);
    const std::optional<int32_t> frames = to_int32(length);
    if (!frames || *frames < 0) return std::nullopt;
    return ScrollMap(kBarLimit, true, *frames);
}

int32_t ScrollMap::frame_at(int bar_value) const {
    if (!spread_) return bar_value;
    // Nearest frame; kBarLimit is odd, so no value falls halfway between two frames.
    const int64_t scaled = int64_t(bar_value) * length_;
    return static_cast<int32_t>((2 * scaled + kBarLimit) / (2 * kBarLimit));
}

int ScrollMap::bar_at(double position, int bar_minimum, int bar_maximum) const {
    int bar = 0;
    if (!spread_) {
        // Positions that are no 16-bit number put the bar at its nearer end.
        const std::optional<int16_t> as_int = to_int16(position);
        bar = as_int ? *as_int : (position < 0 ? bar_minimum : bar_maximum);
    } else if (!std::isfinite(position) || position <= 0) {
        bar = position > 0 ? bar_maximum : bar_minimum;
    } else if (position >= length_) {
        bar = bar_maximum;
    } else {
        // Nearest bar value, halves up; the bar value of frame_at(v) is v again.
        const int64_t frame = std::llround(position);
        bar = static_cast<int>((2 * frame * kBarLimit + length_) / (2 * int64_t(length_)));
    }
    return std::clamp(bar, bar_minimum, bar_maximum);
}

}  // namespace tambrel
