#include "scale/axes_geometry.h"

#include "core/numbers.h"

namespace tambrel {

namespace {

// Lines at edge - step * i for every i with a positive position.
template <typename MakeLine>
void ticks(std::vector<AxesStep>& steps, int32_t edge, int32_t step, MakeLine make) {
    for (int32_t i = 0; edge - step * i > 0; ++i) steps.emplace_back(make(edge - step * i));
}

}  // namespace

AxesDrawing axes_geometry(int16_t W, int16_t H, bool xaxis_true, bool yaxis_true) {
    AxesDrawing d;
    d.width = W;
    d.height = H;
    auto& s = d.steps;
    const int32_t w = W, h = H;

    auto x_tick = [h](int32_t length) {
        return [h, length](int32_t x) { return AxesLine{x, h, x, h + length}; };
    };
    auto y_tick = [w](int32_t length) {
        return [w, length](int32_t y) { return AxesLine{w, y, w + length, y}; };
    };

    ticks(s, w, 4, x_tick(kXShortTick));
    ticks(s, w, 40, x_tick(kXLongTick));
    for (int32_t i = 0; w - 40 * i > 0; ++i)
        s.emplace_back(AxesNumber{w - 40 * i - 2, h + 30, xaxis_true ? 8 - i : i});
    ticks(s, w, 20, x_tick(kXMiddleTick));

    ticks(s, h, 4, y_tick(kYShortTick));
    ticks(s, h, 40, y_tick(kYLongTick));
    for (int32_t i = 0; h - 40 * i > 0; ++i)
        s.emplace_back(AxesNumber{w + 30, h - 40 * i - 5, yaxis_true ? 6 - i : i});
    ticks(s, h, 20, y_tick(kYMiddleTick));
    return d;
}

std::optional<ImageArea> image_area(double outer_width, double outer_height) {
    const auto w = to_int16(outer_width - 4);
    const auto h = to_int16(outer_height - 4);
    if (!w || !h) return std::nullopt;
    return ImageArea{*w, *h};
}

}  // namespace tambrel
