#pragma once
// How HScroll1's 16-bit range stands for the clip's frames. A clip that fits the range
// keeps the plain mapping (the bar's value is the frame number, its maximum the
// length); a longer clip, such as a few minutes of slow motion, has the range spread
// evenly over its frames so the bar still reaches every part of it.

#include <cstdint>
#include <optional>

namespace tambrel {

class ScrollMap {
  public:
    // The bar's largest value.
    static constexpr int kBarLimit = 32767;

    // The plain mapping with the bar's maximum at `maximum` (as before any clip).
    ScrollMap() = default;

    // The mapping for a length reply read as a number. Lengths that round to a 16-bit
    // integer map plainly; lengths up to the 32-bit limit spread the range over the
    // frames; nullopt for anything beyond (the open fails as for a length it cannot use).
    static std::optional<ScrollMap> for_length(double length);

    // The bar's maximum: the length, or kBarLimit when the range is spread.
    int bar_maximum() const { return bar_maximum_; }
    bool spread() const { return spread_; }

    // The frame a bar value (between 0 and bar_maximum) stands for: the bar's maximum is
    // the length itself, which the service takes as the last frame.
    int32_t frame_at(int bar_value) const;

    // The bar value showing a position reply read as a number, kept within
    // [bar_minimum, bar_maximum]: the nearest value, or the bar's nearer end where the
    // position is outside what the bar can show.
    int bar_at(double position, int bar_minimum, int bar_maximum) const;

  private:
    ScrollMap(int bar_maximum, bool spread, int32_t length)
        : bar_maximum_(bar_maximum), spread_(spread), length_(length) {}

    int bar_maximum_ = kBarLimit;
    bool spread_ = false;
    int32_t length_ = 0;  // frames, when spread
};

}  // namespace tambrel
