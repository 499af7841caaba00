#include "scale/readout.h"

#include <cmath>

namespace tambrel {

Readout pointer_readout(const ReadoutInput& in) {
    Readout r{};
    // With a switch False the scale's 0 is at the image's right (bottom) edge.
    r.x = in.xaxis_true ? (in.x + 4.0f) / 40.0f : (in.picture_width - 4.0f - in.x) / 40.0f;
    r.y = in.yaxis_true ? (in.y + 4.0f) / 40.0f : (in.picture_height - 4.0f - in.y) / 40.0f;
    r.dx = 0.0f;
    r.dy = 0.0f;
    if (in.drag_on) {
        r.dx = in.xaxis_true ? (in.x - in.drag_x0) / 40.0f : (in.drag_x0 - in.x) / 40.0f;
        r.dy = in.yaxis_true ? (in.y - in.drag_y0) / 40.0f : (in.drag_y0 - in.y) / 40.0f;
    }
    const double dx = r.dx, dy = r.dy;
    r.ds = static_cast<float>(std::sqrt(dy * dy + dx * dx));
    return r;
}

}  // namespace tambrel
