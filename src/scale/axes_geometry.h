#pragma once
// The measuring scale over the composite as data: which lines and which numbers go at
// which points of Picture3, in the order they are drawn. One scale unit is 40 pixels;
// ticks are counted from the image's right edge (x) and bottom edge (y) towards the
// origin, so where ticks of different lengths coincide the longest one shows.

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace tambrel {

// A one-pixel line in the foreground colour, from (x1, y1) to (x2, y2).
struct AxesLine {
    int32_t x1, y1, x2, y2;
    bool operator==(const AxesLine&) const = default;
};

// A number printed with the top-left corner of its text at (x, y).
struct AxesNumber {
    int32_t x, y;
    int32_t value;
    bool operator==(const AxesNumber&) const = default;
};

using AxesStep = std::variant<AxesLine, AxesNumber>;

struct AxesDrawing {
    // The frame: a black rectangle outline from (0, 0) to (width, height), 2 pixels wide.
    int16_t width = 0, height = 0;
    // Ticks and numbers after the frame, in drawing order.
    std::vector<AxesStep> steps;
};

// Tick lengths in pixels.
inline constexpr int kXShortTick = 14, kXLongTick = 22, kXMiddleTick = 18;
inline constexpr int kYShortTick = 14, kYLongTick = 23, kYMiddleTick = 20;

// The scale for an image of W x H pixels. xaxis_true: x numbers grow to the right (8 at
// the right edge); otherwise from 0 at the right edge leftwards. yaxis_true: y numbers
// grow downwards (6 at the bottom edge); otherwise from 0 at the bottom edge upwards.
// Coordinates are computed in 32 bits, so no picture size wraps them.
AxesDrawing axes_geometry(int16_t W, int16_t H, bool xaxis_true, bool yaxis_true);

// The image area the scale frames: a picture's outer size minus its 2-pixel border on
// each side, rounded half to even. nullopt when either side does not fit 16 bits.
struct ImageArea {
    int16_t width, height;
    bool operator==(const ImageArea&) const = default;
};
std::optional<ImageArea> image_area(double outer_width, double outer_height);

}  // namespace tambrel
