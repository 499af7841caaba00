#include "scale/readout.h"

#include <gtest/gtest.h>

#include "core/numbers.h"

namespace tambrel {
namespace {

ReadoutInput standard(bool x_true, bool y_true) {
    ReadoutInput in;
    in.xaxis_true = x_true;
    in.yaxis_true = y_true;
    in.picture_width = 320;
    in.picture_height = 240;
    return in;
}

TEST(PointerReadout, PositionFollowsTheSwitches) {
    struct Case {
        bool x_true, y_true;
        float x, y, rx, ry;
    };
    const Case cases[] = {
        {true, true, 36, 36, 1, 1},      {true, true, 316, 236, 8, 6},
        {false, false, 316, 236, 0, 0},  {false, false, 36, 36, 7, 5},
        {false, true, 356, 0, -1, 0.1f}, {true, false, -4, 276, 0, -1},
    };
    for (const Case& c : cases) {
        ReadoutInput in = standard(c.x_true, c.y_true);
        in.x = c.x;
        in.y = c.y;
        const Readout r = pointer_readout(in);
        EXPECT_EQ(r.x, c.rx) << c.x;
        EXPECT_EQ(r.y, c.ry) << c.y;
    }
}

TEST(PointerReadout, ZeroPointOfAFalseSwitchFollowsPicture1Size) {
    ReadoutInput in = standard(false, false);
    in.picture_width = 400;
    in.picture_height = 300.5f;  // taken as it is, not rounded
    in.x = 36;
    in.y = 16;
    const Readout r = pointer_readout(in);
    EXPECT_EQ(r.x, 9.0f);
    EXPECT_EQ(r.y, (300.5f - 4.0f - 16.0f) / 40.0f);
}

TEST(PointerReadout, DragDeltasAndDistance) {
    for (bool flipped : {false, true}) {
        ReadoutInput in = standard(!flipped, !flipped);
        in.drag_on = true;
        in.drag_x0 = 100;
        in.drag_y0 = 60;
        in.x = 130;
        in.y = 100;
        const Readout r = pointer_readout(in);
        EXPECT_EQ(r.dx, flipped ? -0.75f : 0.75f);
        EXPECT_EQ(r.dy, flipped ? -1.0f : 1.0f);
        EXPECT_EQ(r.ds, 1.25f);

        // The same place with no drag on: the deltas are 0 whatever the start point.
        in.drag_on = false;
        const Readout idle = pointer_readout(in);
        EXPECT_EQ(idle.dx, 0.0f);
        EXPECT_EQ(idle.dy, 0.0f);
        EXPECT_EQ(idle.ds, 0.0f);
        EXPECT_EQ(idle.x, r.x);
        EXPECT_EQ(idle.y, r.y);
    }
}

TEST(PointerReadout, ShownInSinglePrecision) {
    ReadoutInput in = standard(true, true);
    in.x = 37;
    in.y = 75;
    in.drag_on = true;
    in.drag_x0 = 36;
    in.drag_y0 = 74;
    const Readout r = pointer_readout(in);
    EXPECT_EQ(format_single(r.x), "1.025");
    EXPECT_EQ(format_single(r.y, ","), "1,975");
    EXPECT_EQ(format_single(r.dx), "0.025");
    // One pixel diagonally: 0.025 * sqrt 2 to 7 significant digits.
    EXPECT_EQ(format_single(r.ds), "0.03535534");

    // Fractional pointer positions (high-resolution pointers) keep their fraction.
    in.x = 0.5f;
    EXPECT_EQ(format_single(pointer_readout(in).x), "0.1125");
}

}  // namespace
}  // namespace tambrel
