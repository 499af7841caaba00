#pragma once
// Pointer read-out arithmetic over the composite: the pointer's place on the scale
// (40 pixels to the unit, oriented by the two axis switches) and, during a drag, how
// far it has moved since the press. Single precision throughout, as the read-out
// boxes show it; only the distance is worked out in double.

namespace tambrel {

struct ReadoutInput {
    float x = 0, y = 0;  // pointer, in Picture3 pixels
    bool xaxis_true = true, yaxis_true = true;
    // Picture1's outer size as it is (the image area plus the 4-pixel border).
    float picture_width = 0, picture_height = 0;
    bool drag_on = false;
    float drag_x0 = 0, drag_y0 = 0;
};

struct Readout {
    float x, y, dx, dy, ds;
};

Readout pointer_readout(const ReadoutInput& in);

}  // namespace tambrel
